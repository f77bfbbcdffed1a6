#pragma once

#include "api/Namespace.h"
#include "platform/foundation/base/Url.h"
#include "platform/foundation/network/UrlRequest.h"
#include "tickerlyapimac_export.h"

#include <QList>
#include <QMap>
#include <QString>
#include <QVariant>
#include <QVariantMap>

#include <optional>
#include <utility>

namespace Tickerly::API {

// The description of one call to one of the product's servers: a method, a path relative to a
// base URL, header fields, a body and query parameters. Made, filled and turned into an
// UrlRequest by the API clients, one per call. A plain value; one thread at a time.
class TICKERLYAPIMAC_EXPORT APIRequest {
public:
    enum class Method { GET, POST, PUT, PATCH, DELETE };
    // Exact, case-sensitive: "GET", "POST", "PUT", "PATCH", "DELETE".
    static std::optional<Method> methodFromRawValue(const QString& rawValue);
    static QString rawValue(Method method);

    APIRequest(Method method, QString path);
    static APIRequest GET(QString path) { return APIRequest(Method::GET, std::move(path)); }
    static APIRequest POST(QString path) { return APIRequest(Method::POST, std::move(path)); }
    static APIRequest PUT(QString path) { return APIRequest(Method::PUT, std::move(path)); }
    static APIRequest PATCH(QString path) { return APIRequest(Method::PATCH, std::move(path)); }
    static APIRequest DELETE(QString path) { return APIRequest(Method::DELETE, std::move(path)); }

    const QString& path() const { return m_path; }
    Method method() const { return m_method; }
    bool encodeBodyAsJSON() const { return m_encodeBodyAsJSON; }
    void setEncodeBodyAsJSON(bool value) { m_encodeBodyAsJSON = value; }
    const QMap<QString, QString>& queryParams() const { return m_queryParams; }

    // Header names are matched regardless of letter case, as HTTP does.
    void setHeaderValue(const QString& value, const QString& forKey);
    // Body values are strings, numbers, Booleans, lists and maps of them, or null.
    void setBodyValue(const QVariant& value, const QString& forKey);
    void addQueryParam(const QString& value, const QString& forKey);
    void addQueryParams(const QMap<QString, QString>& params);

    // The request against `baseURL`: the base's path followed directly by `path`, the query
    // parameters as the whole query ("k=v" joined by "&", nothing escaped but what a query may
    // not hold; no query at all without parameters), a 30 s time-out, "Accept-Language: en-US",
    // and with a non-empty body either its JSON ("Content-Type: application/json") or
    // "k=v&" per entry ("Content-Type: application/x-www-form-urlencoded"). The header fields
    // it adds are also kept in this description's own headers.
    Foundation::UrlRequest URLRequest(const Foundation::Url& baseURL);

private:
    QString m_path;
    Method m_method;
    bool m_encodeBodyAsJSON = false;
    QList<std::pair<QString, QString>> m_headers;
    QVariantMap m_body;
    QMap<QString, QString> m_queryParams;
};

} // namespace Tickerly::API
