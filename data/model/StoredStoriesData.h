#pragma once

#include "data/Namespace.h"
#include "data/model/NewsStory.h"
#include "platform/foundation/store/UserDefaults.h"

#include "tickerlydatamac_export.h"

#include <QDateTime>
#include <QHash>
#include <QImage>
#include <QList>

#include <memory>
#include <optional>
#include <vector>

namespace Tickerly::Data {

// The story list of the last refresh, newest first, with the time it was stored, kept in a
// settings suite (the shared one unless another is given).
//
// A light object without cache: every call reads the suite afresh. Any thread.
class TICKERLYDATAMAC_EXPORT StoredStoriesData {
public:
    explicit StoredStoriesData(std::shared_ptr<Foundation::UserDefaults> localStore = nullptr);

    const std::shared_ptr<Foundation::UserDefaults>& localStore() const { return m_localStore; }

    // The stored list; empty when nothing usable is stored. Stories that cannot be read are
    // left out.
    QList<std::shared_ptr<NewsStory>> storedStories() const;
    // The stored stories whose state in this store is not Deleted, in stored order, at most
    // `limit` of them when given (a negative limit counts as 0).
    QList<std::shared_ptr<NewsStory>> currentStories(std::optional<int> limit = std::nullopt) const;
    // The most stories stored: a longer list keeps its first (newest) ones, fewer still when
    // their archive would pass what the store reads back (KeyedUnarchiver::maxArchiveSize); the
    // cut is logged. Thousands of times what the list shows, and small enough that rewriting
    // the whole list when a picture arrives stays quick.
    static constexpr qsizetype maxStoredStories = 50'000;
    static_assert(maxStoredStories <= Foundation::KeyedUnarchiver::maxArrayLength,
        "a stored list must read back");
    // Lowers the cap below maxStoredStories (0 puts it back), so that a test shows the cut with
    // a tenth of the stories. Tests only.
    static void setMaxStoredStoriesForTesting(qsizetype cap);

    // The first sightings of the stored stories that carry one (NewsStory::firstSeen) are also
    // kept apart, beside the list and written with it, so that they are found without decoding
    // the list. Which story a sighting is of: its link, else its headline.
    static QString sightingIdentity(const NewsStory& story);
    // The first sighting of the story archived `story`-th in a list to be stored.
    struct Sighting {
        qsizetype story;
        QString identity;
        qint64 seenMSecs;
    };
    // The most sightings kept apart: a list with more keeps none apart.
    static constexpr qsizetype maxKeptSightings = 4'096;
    // When the stored stories that carry a first sighting were first seen, by identity, read
    // without the list. Nothing when what is kept apart does not answer for the stored list (one
    // an older build stored, or one with more sightings than are kept): the list then tells.
    std::optional<QHash<QString, qint64>> firstSightings() const;

    // Each change says how the store took it (kept for later while another program holds it).

    // Replaces the stored list, within the cap, and records now as the time of loading.
    Foundation::UserDefaults::Outcome storeStories(
        const QList<std::shared_ptr<NewsStory>>& stories);
    // As storeStories, of stories archived one by one (KeyedArchiver::encodedObject), in order,
    // with the first sightings they carry (all of them: the sightings kept apart answer for the
    // whole list); they are let go once put together, and with them `backing`: the buffers they
    // view when they are views (QByteArray::fromRawData), so that those are gone before the list
    // is written.
    Foundation::UserDefaults::Outcome storeEncodedStories(QList<QByteArray> encodedStories,
        QList<QByteArray> backing, std::vector<Sighting> sightings);
    // The time recorded by the last storeStories.
    std::optional<QDateTime> lastLoaded() const;
    // Sets the image of every stored story equal to `story` and stores the list again (images
    // are not archived, so what lasts is the new time of loading; the sightings kept apart no
    // longer answer for the list, which tells them again until it is next stored). A stored list
    // that cannot be read whole is left as it is.
    Foundation::UserDefaults::Outcome updateImage(const QImage& image, const NewsStory& story);

private:
    // `given`: how many stories the caller had, before any were left out.
    Foundation::UserDefaults::Outcome storeEncodedStories(QList<QByteArray> encodedStories,
        qsizetype given, QList<QByteArray> backing, std::vector<Sighting> sightings);
    Foundation::UserDefaults::Outcome storeArchive(
        const QByteArray& archive, const std::vector<Sighting>& sightings);
    std::shared_ptr<Foundation::UserDefaults> m_localStore;
};

} // namespace Tickerly::Data
