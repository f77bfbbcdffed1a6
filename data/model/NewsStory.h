#pragma once

#include "data/Namespace.h"
#include "data/model/Source.h"
#include "platform/foundation/serialization/KeyedArchive.h"
#include "platform/foundation/base/Url.h"

#include "tickerlydatamac_export.h"

#include <QDateTime>
#include <QImage>
#include <QString>

#include <atomic>
#include <functional>
#include <memory>
#include <optional>

namespace Tickerly::Foundation {
class UrlSession;
class UrlSessionDataTask;
} // namespace Tickerly::Foundation

namespace Tickerly::Data {

// One story of a feed: headline, a short plain-text body, the article link (its identity), the
// date of publication, its source, and optionally an image link and a loaded image.
//
// Shared through std::shared_ptr. Every field but the image, the image link and the first
// sighting is fixed once made; the first two are guarded by a lock, since the story list reads
// the image on the main thread while loadImage sets it on a session's queue, the sighting is
// atomic. The picture fields live apart, made when first set: most stories never get either, and
// a feed makes thousands of stories at once. Archived as
// "headline", "body", "imageLink", "link", "date", "source" and, for a story dated after it was
// first seen, "firstSeen"; legacy archives may hold the image as "imageData".
class TICKERLYDATAMAC_EXPORT NewsStory : public Foundation::Coding,
                                         public std::enable_shared_from_this<NewsStory> {
public:
    // The raw date text of a feed item, read with a DateParser of the story's own.
    struct AbsoluteDate {
        std::optional<QString> text;
    };

    // An absent headline or body becomes the empty text.
    NewsStory(std::optional<QString> headline, std::optional<QString> body,
        std::optional<Foundation::Url> link, std::optional<QDateTime> date,
        std::shared_ptr<Source> source);
    NewsStory(std::optional<QString> headline, std::optional<QString> body,
        std::optional<Foundation::Url> link, const AbsoluteDate& absoluteDate,
        std::shared_ptr<Source> source);
    ~NewsStory() override;
    NewsStory(const NewsStory&) = delete;
    NewsStory& operator=(const NewsStory&) = delete;

    // Decodes a story, or gives null when "source" is missing or no source (damaged stored
    // data costs that story only).
    static std::shared_ptr<NewsStory> initWithCoder(const Foundation::KeyedUnarchiver& coder);
    void encodeWithCoder(Foundation::KeyedArchiver& coder) const override;
    QString archivedClassName() const override;

    // Makes archives of stories (and their sources) readable, under this class's own name and
    // the legacy "TickerlyShared.NewsStory". Cheap; stores call it before every read.
    static void registerArchiveClasses();

    const std::optional<QString>& headline() const { return m_headline; }
    const std::optional<QString>& body() const { return m_body; }
    const std::optional<Foundation::Url>& link() const { return m_link; }
    const std::optional<QDateTime>& date() const { return m_date; }
    const std::shared_ptr<Source>& source() const { return m_source; }
    // The date the story ranks and shows by, given when it was loaded: a date later than that
    // (past a few minutes of clock skew) is not believed, and the time the story was first seen
    // stands in for it, or the time of loading when that is not known. What is stored keeps the
    // feed's own date.
    std::optional<QDateTime> dateAsLoadedAt(const QDateTime& loaded) const;
    static constexpr qint64 allowedClockSkewSeconds = 5 * 60;
    // When a refresh first found the story, kept for a story dated after that (see
    // dateAsLoadedAt); set by the refresh before it stores the story.
    std::optional<QDateTime> firstSeen() const;
    void setFirstSeen(const std::optional<QDateTime>& firstSeen);

    QImage image() const;
    void setImage(const QImage& image);
    std::optional<Foundation::Url> imageLink() const;
    void setImageLink(const std::optional<Foundation::Url>& imageLink);

    // Loads the story's image through `session` (a new default session when null): from the
    // image link when there is one, else from what the article page declares; nothing when the
    // story has neither link. When the load ends, the image is set to its result (also to none)
    // and `completion` runs once, on the session's queue. With neither link, nothing starts and
    // `completion` runs at once only when an image is already there. Returns the started task,
    // or null. A story not owned by a shared pointer loads nothing and calls nothing.
    std::shared_ptr<Foundation::UrlSessionDataTask> loadImage(
        std::shared_ptr<Foundation::UrlSession> session = nullptr,
        std::function<void()> willLoadImage = {}, std::function<void()> completion = {});

    // "(Story: <headline> at <date>)"
    QString description() const;
    std::size_t hashValue() const;

    // The longest body a stored story keeps, in characters.
    static constexpr qsizetype maxBodyLength = 100;

private:
    std::optional<QString> m_headline;
    std::optional<QString> m_body;
    std::optional<Foundation::Url> m_link;
    std::optional<QDateTime> m_date;
    std::shared_ptr<Source> m_source;
    // Milliseconds since 1970, 0 when not known.
    std::atomic<qint64> m_firstSeen { 0 };

    struct Picture;
    Picture& picture();
    std::atomic<Picture*> m_picture { nullptr };

    struct Decoded;
    explicit NewsStory(Decoded&& decoded);
};

// Same link (or both without one); nothing else is compared.
TICKERLYDATAMAC_EXPORT bool operator==(const NewsStory& a, const NewsStory& b);
// By date, seconds since 1970 with a missing date counting as 0.
TICKERLYDATAMAC_EXPORT bool operator<(const NewsStory& a, const NewsStory& b);
inline bool operator>(const NewsStory& a, const NewsStory& b) { return b < a; }
inline bool operator<=(const NewsStory& a, const NewsStory& b) { return !(b < a); }
inline bool operator>=(const NewsStory& a, const NewsStory& b) { return !(a < b); }

} // namespace Tickerly::Data
