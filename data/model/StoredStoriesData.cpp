#include "data/model/StoredStoriesData.h"

#include "data/model/ArchivedList_p.h"
#include "data/model/Shared.h"
#include "data/model/StoryStateData.h"

#include <QLoggingCategory>

#include <algorithm>
#include <atomic>
#include <functional>
#include <limits>

namespace Tickerly::Data {

using namespace Tickerly::Foundation;
using namespace Qt::Literals::StringLiterals;

// Debug lines time a refresh's storing from outside (sync_bench); off unless asked for.
Q_LOGGING_CATEGORY(lcStoredStories, "tickerly.data.stories", QtInfoMsg)

namespace {
const QString storedStoriesKey = u"velmora.TickerlyShared.StoredStories"_s;
const QString lastLoadedKey = u"velmora.TickerlyShared.LastLoaded"_s;
// The stored stories' first sightings, with the time of loading of the list they answer for:
// a list stored by a build that keeps none leaves them behind another time.
const QString firstSightingsKey = u"velmora.TickerlyShared.FirstSightings"_s;
const QString sightingsLoadedField = u"loaded"_s;
const QString sightingsField = u"seen"_s;
std::atomic<qsizetype> storedStoriesCap { StoredStoriesData::maxStoredStories };

// The first `wanted` stories of a sound stored list that `keep` accepts, decoding no more of the
// list than that. Nothing when the list has to be read whole to give the same answer: damaged
// bytes (what comes before the damage is read) or an element of another class (no list at all).
std::optional<QList<std::shared_ptr<NewsStory>>> firstStories(const std::optional<QByteArray>& data,
    qsizetype wanted, const std::function<bool(const NewsStory&)>& keep)
{
    if (!data)
        return QList<std::shared_ptr<NewsStory>>();
    const auto array = ArchivedArray::fromData(*data);
    if (!array)
        return std::nullopt;
    static const QString storyClass
        = NewsStory(std::nullopt, std::nullopt, std::nullopt, std::optional<QDateTime>(), nullptr)
              .archivedClassName();
    for (qsizetype i = 0; i < array->size(); ++i) {
        const QString cls = array->decodingClassAt(i);
        if (!cls.isEmpty() && cls != storyClass)
            return std::nullopt;
    }
    QList<std::shared_ptr<NewsStory>> kept;
    for (qsizetype i = 0; i < array->size() && kept.size() < wanted; ++i) {
        const auto object = array->objectAt(i);
        if (!object) {
            debugprint(u"skipped a stored story that could not be read"_s);
            continue;
        }
        auto story = std::dynamic_pointer_cast<NewsStory>(object);
        if (!story)
            return std::nullopt;
        if (keep(*story))
            kept.append(std::move(story));
    }
    return kept;
}
// The sightings of the first `kept` stories of a list stored at `loaded`, as the store keeps
// them; none (the key removed) when there are more than it keeps.
QVariant sightingsValue(const std::vector<StoredStoriesData::Sighting>& sightings, qsizetype kept,
    const QDateTime& loaded)
{
    QVariantMap seen;
    for (const StoredStoriesData::Sighting& sighting : sightings) {
        if (sighting.story < 0 || sighting.story >= kept)
            continue;
        // The last of a link's stories tells, as it does when the list is read.
        seen.insert(sighting.identity, sighting.seenMSecs);
        if (seen.size() > StoredStoriesData::maxKeptSightings)
            return QVariant();
    }
    return QVariantMap { { sightingsLoadedField, loaded }, { sightingsField, seen } };
}

std::vector<StoredStoriesData::Sighting> sightingsOf(
    const QList<std::shared_ptr<NewsStory>>& stories)
{
    std::vector<StoredStoriesData::Sighting> sightings;
    for (qsizetype i = 0; i < stories.size(); ++i) {
        if (!stories[i])
            continue;
        if (const auto seen = stories[i]->firstSeen())
            sightings.push_back(
                { i, StoredStoriesData::sightingIdentity(*stories[i]), seen->toMSecsSinceEpoch() });
    }
    return sightings;
}
} // namespace

QString StoredStoriesData::sightingIdentity(const NewsStory& story)
{
    if (story.link())
        return story.link()->absoluteString();
    return story.headline().value_or(QString());
}

std::optional<QHash<QString, qint64>> StoredStoriesData::firstSightings() const
{
    const std::optional<QVariantMap> record = m_localStore->dictionary(firstSightingsKey);
    const std::optional<QDateTime> loaded = lastLoaded();
    if (!record || !loaded)
        return std::nullopt;
    const QVariant stamp = record->value(sightingsLoadedField);
    const QVariant seen = record->value(sightingsField);
    if (stamp.typeId() != QMetaType::QDateTime || seen.typeId() != QMetaType::QVariantMap
        || stamp.toDateTime().toMSecsSinceEpoch() != loaded->toMSecsSinceEpoch())
        return std::nullopt;
    const QVariantMap map = seen.toMap();
    if (map.size() > maxKeptSightings)
        return std::nullopt;
    QHash<QString, qint64> sightings;
    sightings.reserve(map.size());
    for (auto it = map.cbegin(); it != map.cend(); ++it) {
        bool ok = false;
        const qint64 ms = it.value().toLongLong(&ok);
        if (!ok)
            return std::nullopt;
        sightings.insert(it.key(), ms);
    }
    return sightings;
}

StoredStoriesData::StoredStoriesData(std::shared_ptr<UserDefaults> localStore)
    : m_localStore(localStore ? std::move(localStore) : sharedDefaults())
{
}

QList<std::shared_ptr<NewsStory>> StoredStoriesData::storedStories() const
{
    NewsStory::registerArchiveClasses();
    return archivedList<NewsStory>(m_localStore->data(storedStoriesKey), u"story"_s);
}

QList<std::shared_ptr<NewsStory>> StoredStoriesData::currentStories(std::optional<int> limit) const
{
    StoryStateData states(m_localStore);
    const qsizetype wanted = limit ? std::max(*limit, 0) : std::numeric_limits<qsizetype>::max();
    auto isCurrent = [&states](const NewsStory& story) {
        const QString link = story.link() ? story.link()->absoluteString() : QString();
        return states.stateForLink(link) != StoryState::Deleted;
    };
    NewsStory::registerArchiveClasses();
    const std::optional<QByteArray> data = m_localStore->data(storedStoriesKey);
    if (auto first = firstStories(data, wanted, isCurrent))
        return *first;
    QList<std::shared_ptr<NewsStory>> kept;
    for (auto& story : archivedList<NewsStory>(data, u"story"_s)) {
        if (kept.size() >= wanted)
            break;
        if (isCurrent(*story))
            kept.append(std::move(story));
    }
    return kept;
}

void StoredStoriesData::setMaxStoredStoriesForTesting(qsizetype cap)
{
    storedStoriesCap = cap > 0 ? std::min(cap, maxStoredStories) : maxStoredStories;
}

UserDefaults::Outcome StoredStoriesData::storeStories(
    const QList<std::shared_ptr<NewsStory>>& stories)
{
    const qsizetype cap = storedStoriesCap;
    if (stories.size() <= cap) {
        QByteArray archive = KeyedArchiver::archivedDataWithRootObjects(stories);
        if (archive.size() <= KeyedUnarchiver::maxArchiveSize) {
            return storeArchive(archive, sightingsOf(stories));
        }
    }
    // Past the cap: archived one by one, so that the newest that fit are kept.
    QList<QByteArray> encoded;
    encoded.reserve(std::min(stories.size(), cap));
    for (qsizetype i = 0; i < stories.size() && i < cap; ++i)
        encoded.append(stories[i] ? KeyedArchiver::encodedObject(*stories[i]) : QByteArray());
    return storeEncodedStories(std::move(encoded), stories.size(), {}, sightingsOf(stories));
}

UserDefaults::Outcome StoredStoriesData::storeEncodedStories(
    QList<QByteArray> encodedStories, QList<QByteArray> backing, std::vector<Sighting> sightings)
{
    return storeEncodedStories(
        std::move(encodedStories), -1, std::move(backing), std::move(sightings));
}

UserDefaults::Outcome StoredStoriesData::storeEncodedStories(QList<QByteArray> encodedStories,
    qsizetype given, QList<QByteArray> backing, std::vector<Sighting> sightings)
{
    // What is stored must read back whole: beyond the cap, the newest stories are kept.
    if (given < 0)
        given = encodedStories.size();
    qsizetype kept = std::min<qsizetype>(encodedStories.size(), storedStoriesCap);
    // Room for the archive's header and the array's head.
    const qsizetype budget = KeyedUnarchiver::maxArchiveSize - 64;
    qsizetype size = 0;
    for (qsizetype i = 0; i < kept; ++i) {
        size += std::max<qsizetype>(encodedStories[i].size(), 1);
        if (size > budget) {
            kept = i;
            break;
        }
    }
    if (kept < given) {
        qCWarning(lcStoredStories,
            "storing the newest %lld of %lld stories; the store keeps no more", qlonglong(kept),
            qlonglong(given));
        encodedStories.resize(kept);
    }
    // Put together where the store takes it from: the list is held once on its way to the file.
    QByteArray stored
        = UserDefaults::startData(KeyedArchiver::sizeOfEncodedRootArray(encodedStories));
    KeyedArchiver::appendEncodedRootArray(stored, encodedStories);
    encodedStories.clear();
    backing.clear();
    qCDebug(lcStoredStories, "stories put together");
    const QDateTime loaded = QDateTime::currentDateTimeUtc();
    const auto outcome = m_localStore->setValues(
        { { lastLoadedKey, loaded },
            { firstSightingsKey, sightingsValue(sightings, kept, loaded) } },
        { { storedStoriesKey, std::move(stored) } });
    qCDebug(lcStoredStories, "stories written");
    return outcome;
}

UserDefaults::Outcome StoredStoriesData::storeArchive(
    const QByteArray& archive, const std::vector<Sighting>& sightings)
{
    // One transaction: no reader sees the new list with the old time, or the other way round.
    const QDateTime loaded = QDateTime::currentDateTimeUtc();
    return m_localStore->setValues({ { storedStoriesKey, archive }, { lastLoadedKey, loaded },
        { firstSightingsKey,
            sightingsValue(sightings, std::numeric_limits<qsizetype>::max(), loaded) } });
}

std::optional<QDateTime> StoredStoriesData::lastLoaded() const
{
    return m_localStore->date(lastLoadedKey);
}

UserDefaults::Outcome StoredStoriesData::updateImage(const QImage& image, const NewsStory& story)
{
    // Read and written in one step of the store: a list the other process stores meanwhile is
    // never replaced by this older one. While another process holds the store the change waits
    // for it, kept in order, rather than holding up the caller (a picture arrives on the main
    // thread).
    auto readWhole = std::make_shared<bool>(false);
    const auto outcome = m_localStore->updateOrKeep(
        storedStoriesKey,
        [image, link = story.link(), readWhole](
            const std::optional<QVariant>& current) -> std::optional<QVariant> {
            NewsStory::registerArchiveClasses();
            bool damaged = false;
            const auto stories
                = archivedList<NewsStory>(archivedBytes(current), u"story"_s, &damaged);
            // What could not be read whole is left as it is, never replaced by the part that could.
            *readWhole = !damaged;
            if (damaged)
                return std::nullopt;
            for (const auto& stored : stories) {
                if (stored->link() == link)
                    stored->setImage(image);
            }
            return QVariant(KeyedArchiver::archivedDataWithRootObjects(stories));
        },
        [store = m_localStore, readWhole](bool written) {
            // The time of the last load only spaces out the next; one the store refused (it says
            // so in the log) makes the next load come sooner.
            if (written && *readWhole)
                (void)store->set(lastLoadedKey, QDateTime::currentDateTimeUtc());
        });
    if (outcome == UserDefaults::Outcome::Done && *readWhole)
        (void)m_localStore->set(lastLoadedKey, QDateTime::currentDateTimeUtc()); // as above
    return outcome;
}

} // namespace Tickerly::Data
