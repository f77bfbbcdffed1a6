#include "data/model/NewsStory.h"

#include "data/model/Shared.h"
#include "data/sync/DateParser.h"
#include "data/sync/StringExtensions.h"
#include "platform/foundation/images/ImageDecoding.h"

#include <QHash>

#include <mutex>

namespace Tickerly::Data {

using namespace Tickerly::Foundation;
using namespace Qt::Literals::StringLiterals;

namespace {
const QString headlineKey = u"headline"_s;
const QString bodyKey = u"body"_s;
const QString imageLinkKey = u"imageLink"_s;
const QString linkKey = u"link"_s;
const QString dateKey = u"date"_s;
const QString sourceKey = u"source"_s;
const QString imageDataKey = u"imageData"_s;
const QString firstSeenKey = u"firstSeen"_s;
const QString className = u"TickerlyDataMac.NewsStory"_s;

std::optional<QDateTime> parsedDate(const std::optional<QString>& text)
{
    if (!text)
        return std::nullopt;
    DateParser parser;
    return parser.parseDate(*text);
}
} // namespace

struct NewsStory::Decoded {
    std::optional<QString> headline;
    std::optional<QString> body;
    std::optional<Url> link;
    std::optional<QDateTime> date;
    std::shared_ptr<Source> source;
    QByteArray legacyImage;
    std::optional<Url> imageLink;
    std::optional<QDateTime> firstSeen;
};

struct NewsStory::Picture {
    std::mutex mutex;
    QImage image;
    std::optional<Url> imageLink;
    // A legacy archive's picture, decoded when first asked for: a stored list holds hundreds.
    QByteArray legacyImage;
};

namespace {
// Legacy pictures are drawn in a row's picture column only: read no larger than that needs.
constexpr int legacyImageSide = 256;
} // namespace

NewsStory::NewsStory(std::optional<QString> headline, std::optional<QString> body,
    std::optional<Url> link, std::optional<QDateTime> date, std::shared_ptr<Source> source)
    : m_headline(std::move(headline).value_or(QString()))
    , m_body(std::move(body).value_or(QString()))
    , m_link(std::move(link))
    , m_date(std::move(date))
    , m_source(std::move(source))
{
}

NewsStory::NewsStory(std::optional<QString> headline, std::optional<QString> body,
    std::optional<Url> link, const AbsoluteDate& absoluteDate, std::shared_ptr<Source> source)
    : NewsStory(std::move(headline), std::move(body), std::move(link),
        parsedDate(absoluteDate.text), std::move(source))
{
}

NewsStory::NewsStory(Decoded&& decoded)
    : m_headline(std::move(decoded.headline))
    , m_body(std::move(decoded.body))
    , m_link(std::move(decoded.link))
    , m_date(std::move(decoded.date))
    , m_source(std::move(decoded.source))
{
    setFirstSeen(decoded.firstSeen);
    if (!decoded.legacyImage.isEmpty() || decoded.imageLink)
        m_picture.store(
            new Picture { {}, {}, std::move(decoded.imageLink), std::move(decoded.legacyImage) },
            std::memory_order_release);
}

NewsStory::~NewsStory() { delete m_picture.load(std::memory_order_acquire); }

NewsStory::Picture& NewsStory::picture()
{
    Picture* existing = m_picture.load(std::memory_order_acquire);
    if (existing)
        return *existing;
    // Two threads may set at once: one of their pictures is kept, the other thrown away unused.
    auto made = std::make_unique<Picture>();
    if (m_picture.compare_exchange_strong(
            existing, made.get(), std::memory_order_acq_rel, std::memory_order_acquire))
        return *made.release();
    return *existing;
}

std::shared_ptr<NewsStory> NewsStory::initWithCoder(const KeyedUnarchiver& coder)
{
    Decoded d;
    if (auto bytes = coder.decodeData(imageDataKey))
        d.legacyImage = std::move(*bytes);
    d.headline = coder.decodeString(headlineKey);
    d.body = coder.decodeString(bodyKey);
    d.imageLink = coder.decodeUrl(imageLinkKey);
    d.link = coder.decodeUrl(linkKey);
    d.date = coder.decodeDate(dateKey);
    d.source = coder.decodeObject<Source>(sourceKey);
    d.firstSeen = coder.decodeDate(firstSeenKey);
    if (!d.source) {
        debugprint(u"NewsStory: archive without a source"_s);
        return nullptr;
    }
    // A character is at least one code unit: a body no longer in units is not counted.
    if (d.body && d.body->size() > maxBodyLength && characterCount(*d.body) > maxBodyLength)
        d.body = stringWithSubstringToIndex(*d.body, maxBodyLength);
    return std::shared_ptr<NewsStory>(new NewsStory(std::move(d)));
}

void NewsStory::encodeWithCoder(KeyedArchiver& coder) const
{
    if (m_headline)
        coder.encodeString(*m_headline, headlineKey);
    if (m_body)
        coder.encodeString(*m_body, bodyKey);
    if (const auto imageUrl = imageLink())
        coder.encodeUrl(*imageUrl, imageLinkKey);
    if (m_link)
        coder.encodeUrl(*m_link, linkKey);
    if (m_date)
        coder.encodeDate(*m_date, dateKey);
    if (m_source)
        coder.encodeObject(*m_source, sourceKey);
    if (const auto seen = firstSeen())
        coder.encodeDate(*seen, firstSeenKey);
}

QString NewsStory::archivedClassName() const { return className; }

void NewsStory::registerArchiveClasses()
{
    Source::registerArchiveClasses();
    static std::once_flag once;
    std::call_once(once, [] {
        KeyedUnarchiver::registerClass(
            className, [](const KeyedUnarchiver& coder) -> std::shared_ptr<Coding> {
                return initWithCoder(coder);
            });
    });
    KeyedUnarchiver::setClassForClassName(className, u"TickerlyShared.NewsStory"_s);
}

QImage NewsStory::image() const
{
    Picture* p = m_picture.load(std::memory_order_acquire);
    if (!p)
        return {};
    std::lock_guard lock(p->mutex);
    if (!p->legacyImage.isEmpty()) {
        p->image = decodeImage(p->legacyImage,
            { .cover = QSize(legacyImageSide, legacyImageSide), .maxSide = maxStoredImageSide });
        p->legacyImage.clear();
    }
    return p->image;
}

void NewsStory::setImage(const QImage& image)
{
    if (image.isNull() && !m_picture.load(std::memory_order_acquire))
        return;
    Picture& p = picture();
    std::lock_guard lock(p.mutex);
    p.image = image;
    p.legacyImage.clear();
}

std::optional<Url> NewsStory::imageLink() const
{
    Picture* p = m_picture.load(std::memory_order_acquire);
    if (!p)
        return std::nullopt;
    std::lock_guard lock(p->mutex);
    return p->imageLink;
}

void NewsStory::setImageLink(const std::optional<Url>& imageLink)
{
    if (!imageLink && !m_picture.load(std::memory_order_acquire))
        return;
    Picture& p = picture();
    std::lock_guard lock(p.mutex);
    p.imageLink = imageLink;
}

QString NewsStory::description() const
{
    const QString date = m_date ? m_date->toString(Qt::ISODate) : u"nil"_s;
    return u"(Story: "_s + m_headline.value_or(u"nil"_s) + u" at "_s + date + u')';
}

std::optional<QDateTime> NewsStory::dateAsLoadedAt(const QDateTime& loaded) const
{
    if (m_date && loaded.isValid()
        && m_date->toMSecsSinceEpoch()
            > loaded.toMSecsSinceEpoch() + allowedClockSkewSeconds * 1000) {
        // Seen before the loading it is shown at; a sighting after it is none to believe.
        if (const auto seen = firstSeen(); seen && *seen <= loaded)
            return seen;
        return loaded;
    }
    return m_date;
}

std::optional<QDateTime> NewsStory::firstSeen() const
{
    const qint64 seen = m_firstSeen.load(std::memory_order_relaxed);
    if (seen == 0)
        return std::nullopt;
    return QDateTime::fromMSecsSinceEpoch(seen, Qt::UTC);
}

void NewsStory::setFirstSeen(const std::optional<QDateTime>& firstSeen)
{
    const qint64 seen = firstSeen && firstSeen->isValid() ? firstSeen->toMSecsSinceEpoch() : 0;
    m_firstSeen.store(seen, std::memory_order_relaxed);
}

std::size_t NewsStory::hashValue() const
{
    if (m_link)
        return qHash(m_link->absoluteString());
    if (m_headline)
        return qHash(*m_headline);
    return m_source ? m_source->hashValue() : 0;
}

bool operator==(const NewsStory& a, const NewsStory& b) { return a.link() == b.link(); }

bool operator<(const NewsStory& a, const NewsStory& b)
{
    const auto time
        = [](const NewsStory& s) { return s.date() ? s.date()->toMSecsSinceEpoch() : 0; };
    return time(a) < time(b);
}

} // namespace Tickerly::Data
