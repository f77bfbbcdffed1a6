#pragma once

#include "platform/foundation/Namespace.h"
#include "platform/foundation/base/Error.h"
#include "platform/foundation/base/Url.h"
#include "tickerlyfoundation_export.h"

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QString>

#include <optional>

namespace Tickerly::Foundation {

// HTTP header fields in the order they were set. Names compare without regard to case; setting
// a name that is already there replaces its value in place. A plain value.
class TICKERLYFOUNDATION_EXPORT HttpHeaderFields {
public:
    HttpHeaderFields() = default;
    HttpHeaderFields(std::initializer_list<QPair<QString, QString>> fields);

    // The value of `name`, or a null text when the field is absent.
    QString value(const QString& name) const;
    bool contains(const QString& name) const;
    // Sets `name` to `value`, replacing an earlier value; a null `value` removes the field.
    void setValue(const QString& name, const QString& value);
    void remove(const QString& name);

    const QList<QPair<QString, QString>>& fields() const { return m_fields; }
    bool isEmpty() const { return m_fields.isEmpty(); }
    qsizetype size() const { return m_fields.size(); }

    friend bool operator==(const HttpHeaderFields& a, const HttpHeaderFields& b)
    {
        return a.m_fields == b.m_fields;
    }

private:
    QList<QPair<QString, QString>> m_fields;
};

// How a request treats cached answers. UseProtocolDefault reuses the answers this process keeps
// in memory as HTTP allows (fresh ones without asking, stale ones after the server confirms them)
// and keeps new ones; the other policies neither use nor fill that cache, and
// ReloadIgnoringLocalAndRemoteCache also asks every cache on the way to step aside
// ("Cache-Control: no-cache"). The numbers are the ones stored settings use.
enum class UrlCachePolicy {
    UseProtocolDefault = 0,
    ReloadIgnoringLocalCache = 1,
    ReloadIgnoringLocalAndRemoteCache = 4,
};

// One HTTP request: a value the caller fills and hands to a session.
struct TICKERLYFOUNDATION_EXPORT UrlRequest {
    // Caps on the decoded body a task keeps, by kind of download.
    static constexpr qint64 pageBodyLimit = 8 * 1024 * 1024; // web pages
    // Podcast and archive feeds run to tens of MB.
    static constexpr qint64 feedBodyLimit = 32 * 1024 * 1024;
    static constexpr qint64 imageBodyLimit = 10 * 1024 * 1024;
    static constexpr qint64 jsonBodyLimit = 5 * 1024 * 1024;

    UrlRequest() = default;
    // A GET for `url` with the session's time-out and cache policy.
    explicit UrlRequest(Url requestUrl)
        : url(std::move(requestUrl))
    {
    }

    Url url;
    QString httpMethod = QStringLiteral("GET");
    HttpHeaderFields headerFields; // win over the session's additional header fields
    QByteArray httpBody; // sent with every method but GET and HEAD
    // Seconds without any progress before the task fails with TimedOut; the session's
    // configured interval when absent.
    std::optional<double> timeoutInterval;
    // UseProtocolDefault defers to the session's configured policy.
    UrlCachePolicy cachePolicy = UrlCachePolicy::UseProtocolDefault;
    // Past this many decoded body bytes the task ends with DataLengthExceedsMaximum.
    qint64 maximumBodySize = pageBodyLimit;

    QString value(const QString& headerName) const { return headerFields.value(headerName); }
    void setValue(const QString& value, const QString& headerName)
    {
        headerFields.setValue(headerName, value);
    }
};

// What a server answered, as far as the headers go.
struct TICKERLYFOUNDATION_EXPORT UrlResponse {
    Url url; // the address that answered, after any redirects
    int statusCode = 0;
    HttpHeaderFields headerFields;
    qint64 expectedContentLength = -1; // -1 when the server did not say

    QString value(const QString& headerName) const { return headerFields.value(headerName); }
};

// The errors URL sessions report (domain UrlError::domain). The codes are the well-known
// numbers of URL-loading errors, so stored or logged codes read the same everywhere.
namespace UrlError {
inline const QString domain = QStringLiteral("UrlSessionErrorDomain");
enum Code : qint64 {
    Unknown = -1,
    Cancelled = -999,
    BadUrl = -1000,
    TimedOut = -1001,
    UnsupportedUrl = -1002,
    CannotFindHost = -1003,
    CannotConnectToHost = -1004,
    NetworkConnectionLost = -1005,
    TooManyRedirects = -1007,
    BadServerResponse = -1011,
    CannotDecodeContentData = -1016,
    SecureConnectionRequired = -1022,
    DataLengthExceedsMaximum = -1103,
    SecureConnectionFailed = -1200,
    ServerCertificateUntrusted = -1202,
};
// An error of this domain with the standard message for `code`, and `detail` after it.
TICKERLYFOUNDATION_EXPORT Error make(Code code, const QString& detail = {});
} // namespace UrlError

} // namespace Tickerly::Foundation
