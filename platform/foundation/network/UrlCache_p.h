#pragma once

#include "platform/foundation/Namespace.h"
#include "platform/foundation/network/UrlRequest.h"

#include <QByteArray>
#include <QString>

#include <list>
#include <memory>
#include <mutex>
#include <optional>
#include <unordered_map>

namespace Tickerly::Foundation {

// The answers of this process kept in memory for requests made with the default cache policy,
// reused as HTTP says: while fresh without asking, and once stale by asking the server whether
// it still stands (If-None-Match, If-Modified-Since). Bounded in bytes; the least recently used
// answers go first. Thread-safe.
class UrlCache {
public:
    struct Entry {
        UrlResponse response;
        QByteArray body;
        qint64 requestTime = 0; // seconds since 1970, by the cache's clock
        qint64 responseTime = 0;
    };
    struct Lookup {
        std::shared_ptr<const Entry> entry;
        bool fresh = false; // to be used as it is; otherwise to be revalidated
    };

    static constexpr qint64 defaultCapacity = 20 * 1024 * 1024;

    static UrlCache& shared();

    // Seconds since 1970; tests move it on instead of waiting.
    static qint64 now();
    static void moveClock(qint64 seconds);

    // Whether a request may be answered from and stored in the cache at all: a GET without
    // credentials or conditions of its own, that does not forbid storing.
    static bool applies(const UrlRequest& request);
    // What the cache holds for `request` (which applies): nothing, a fresh answer, or one to
    // revalidate (only kept when it has a validator).
    Lookup lookup(const UrlRequest& request);
    // Keeps the answer to `request` when HTTP lets it be reused, replacing what was kept.
    void store(const UrlRequest& request, const UrlResponse& response, const QByteArray& body,
        qint64 requestTime, qint64 responseTime);
    // The kept answer updated by a 304's fields, kept again and returned.
    std::shared_ptr<const Entry> refresh(const UrlRequest& request,
        const std::shared_ptr<const Entry>& stale, const HttpHeaderFields& notModifiedFields,
        qint64 requestTime, qint64 responseTime);
    // Forgets the answer for `url` (after a request that changes what it names).
    void remove(const Url& url);

    // The largest body kept: a tenth of the capacity.
    qint64 largestBody() const;
    void setCapacity(qint64 bytes);
    void clear();
    qint64 size() const;

private:
    static QString keyOf(const Url& url);
    static qint64 costOf(const Entry& entry);
    void insertLocked(const QString& key, std::shared_ptr<const Entry> entry);
    void eraseLocked(const QString& key);
    void trimLocked();

    mutable std::mutex m_mutex;
    qint64 m_capacity = defaultCapacity;
    qint64 m_size = 0;
    std::list<QString> m_order; // least recently used first
    struct Slot {
        std::shared_ptr<const Entry> entry;
        std::list<QString>::iterator place;
    };
    std::unordered_map<QString, Slot> m_entries;
};

} // namespace Tickerly::Foundation
