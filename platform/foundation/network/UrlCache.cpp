#include "platform/foundation/network/UrlCache_p.h"

#include "platform/foundation/network/HttpFreshness_p.h"
#include "platform/foundation/network/UrlSessionTesting.h"

#include <QDateTime>

#include <atomic>

namespace Tickerly::Foundation {

using namespace Qt::Literals::StringLiterals;

namespace {

std::atomic<qint64> clockShift { 0 };

// Fields a 304 does not change in the kept answer: they describe the kept bytes.
bool describesBody(const QString& name)
{
    for (const auto* kept :
        { u"Content-Length", u"Content-Encoding", u"Transfer-Encoding", u"Content-Range" }) {
        if (name.compare(QStringView(kept), Qt::CaseInsensitive) == 0)
            return true;
    }
    return false;
}

bool hasValidator(const HttpHeaderFields& fields)
{
    return fields.contains(u"ETag"_s) || fields.contains(u"Last-Modified"_s);
}

// Whether the answer is the same for every request we make for its address: we send the same
// fields each time except Accept-Encoding's, which never changes either.
bool variesOnlyByEncoding(const HttpHeaderFields& fields)
{
    const QString vary = fields.value(u"Vary"_s);
    for (const QString& name : vary.split(u',', Qt::SkipEmptyParts)) {
        if (name.trimmed().compare(u"Accept-Encoding"_s, Qt::CaseInsensitive) != 0)
            return false;
    }
    return true;
}

} // namespace

UrlCache& UrlCache::shared()
{
    static UrlCache* cache = new UrlCache; // used by the network thread until the very end
    return *cache;
}

qint64 UrlCache::now() { return QDateTime::currentSecsSinceEpoch() + clockShift.load(); }

void UrlCache::moveClock(qint64 seconds) { clockShift += seconds; }

bool UrlCache::applies(const UrlRequest& request)
{
    if (request.httpMethod != u"GET")
        return false;
    for (const auto* own : { u"Authorization", u"If-None-Match", u"If-Modified-Since", u"If-Match",
             u"If-Unmodified-Since", u"If-Range", u"Range" }) {
        if (request.headerFields.contains(QString::fromUtf16(own)))
            return false;
    }
    return !HttpFreshness::parseCacheControl(request.value(u"Cache-Control"_s)).noStore;
}

QString UrlCache::keyOf(const Url& url)
{
    QString key = url.absoluteString();
    if (url.hasFragment())
        key.truncate(key.indexOf(u'#'));
    return key;
}

qint64 UrlCache::costOf(const Entry& entry)
{
    qint64 cost = entry.body.size() + 256;
    for (const auto& [name, value] : entry.response.headerFields.fields())
        cost += 2 * (name.size() + value.size()) + 32;
    return cost;
}

UrlCache::Lookup UrlCache::lookup(const UrlRequest& request)
{
    std::shared_ptr<const Entry> entry;
    {
        std::lock_guard lock(m_mutex);
        auto found = m_entries.find(keyOf(request.url));
        if (found == m_entries.end())
            return {};
        m_order.splice(m_order.end(), m_order, found->second.place);
        entry = found->second.entry;
    }
    const HttpHeaderFields& fields = entry->response.headerFields;
    const HttpFreshness::Directives asked
        = HttpFreshness::parseCacheControl(request.value(u"Cache-Control"_s));
    const bool askedToRevalidate = asked.noCache || (asked.maxAge && *asked.maxAge == 0)
        || (request.value(u"Cache-Control"_s).isNull()
            && request.value(u"Pragma"_s).contains(u"no-cache"_s, Qt::CaseInsensitive));
    const bool mustRevalidate = askedToRevalidate
        || HttpFreshness::parseCacheControl(fields.value(u"Cache-Control"_s)).noCache;
    if (!mustRevalidate) {
        const qint64 lifetime = HttpFreshness::freshnessLifetime(fields);
        const qint64 age
            = HttpFreshness::currentAge(fields, entry->requestTime, entry->responseTime, now());
        // A request may ask for an answer younger than its lifetime allows.
        if (lifetime > age && (!asked.maxAge || age <= *asked.maxAge))
            return { entry, true };
    }
    if (!hasValidator(fields))
        return {};
    return { entry, false };
}

void UrlCache::store(const UrlRequest& request, const UrlResponse& response, const QByteArray& body,
    qint64 requestTime, qint64 responseTime)
{
    const HttpHeaderFields& fields = response.headerFields;
    const HttpFreshness::Directives directives
        = HttpFreshness::parseCacheControl(fields.value(u"Cache-Control"_s));
    const bool reusable = (response.statusCode == 200 || response.statusCode == 203)
        && !directives.noStore && variesOnlyByEncoding(fields)
        && (hasValidator(fields)
            || (!directives.noCache && HttpFreshness::freshnessLifetime(fields) > 0));
    const QString key = keyOf(request.url);
    std::lock_guard lock(m_mutex);
    if (!reusable) {
        // A newer whole answer that may not be kept outdates the kept one; a failure does not.
        if (response.statusCode >= 200 && response.statusCode < 300)
            eraseLocked(key);
        return;
    }
    auto entry = std::make_shared<Entry>(Entry { response, body, requestTime, responseTime });
    // A single answer never takes more than a tenth of the cache.
    if (costOf(*entry) > m_capacity / 10) {
        eraseLocked(key);
        return;
    }
    insertLocked(key, std::move(entry));
}

std::shared_ptr<const UrlCache::Entry> UrlCache::refresh(const UrlRequest& request,
    const std::shared_ptr<const Entry>& stale, const HttpHeaderFields& notModifiedFields,
    qint64 requestTime, qint64 responseTime)
{
    auto entry = std::make_shared<Entry>(*stale);
    for (const auto& [name, value] : notModifiedFields.fields()) {
        if (!describesBody(name))
            entry->response.headerFields.setValue(name, value);
    }
    entry->requestTime = requestTime;
    entry->responseTime = responseTime;
    const HttpFreshness::Directives directives
        = HttpFreshness::parseCacheControl(entry->response.headerFields.value(u"Cache-Control"_s));
    std::lock_guard lock(m_mutex);
    const QString key = keyOf(request.url);
    if (directives.noStore || !variesOnlyByEncoding(entry->response.headerFields))
        eraseLocked(key);
    else if (costOf(*entry) <= m_capacity / 10)
        insertLocked(key, entry);
    return entry;
}

void UrlCache::remove(const Url& url)
{
    std::lock_guard lock(m_mutex);
    eraseLocked(keyOf(url));
}

qint64 UrlCache::largestBody() const
{
    std::lock_guard lock(m_mutex);
    return m_capacity / 10;
}

void UrlCache::setCapacity(qint64 bytes)
{
    std::lock_guard lock(m_mutex);
    m_capacity = std::max<qint64>(bytes, 0);
    trimLocked();
}

void UrlCache::clear()
{
    std::lock_guard lock(m_mutex);
    m_entries.clear();
    m_order.clear();
    m_size = 0;
}

qint64 UrlCache::size() const
{
    std::lock_guard lock(m_mutex);
    return m_size;
}

void UrlCache::insertLocked(const QString& key, std::shared_ptr<const Entry> entry)
{
    eraseLocked(key);
    m_size += costOf(*entry);
    m_order.push_back(key);
    m_entries.emplace(key, Slot { std::move(entry), std::prev(m_order.end()) });
    trimLocked();
}

void UrlCache::eraseLocked(const QString& key)
{
    auto found = m_entries.find(key);
    if (found == m_entries.end())
        return;
    m_size -= costOf(*found->second.entry);
    m_order.erase(found->second.place);
    m_entries.erase(found);
}

void UrlCache::trimLocked()
{
    while (m_size > m_capacity && !m_order.empty())
        eraseLocked(m_order.front());
}

// ---- test hooks

void UrlSessionTesting::clearCache() { UrlCache::shared().clear(); }

void UrlSessionTesting::setCacheCapacity(qint64 bytes)
{
    UrlCache::shared().setCapacity(bytes < 0 ? UrlCache::defaultCapacity : bytes);
}

qint64 UrlSessionTesting::cacheSize() { return UrlCache::shared().size(); }

void UrlSessionTesting::moveCacheClock(qint64 seconds) { UrlCache::moveClock(seconds); }

} // namespace Tickerly::Foundation
