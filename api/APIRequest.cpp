#include "api/APIRequest.h"

#include "api/JSON.h"
#include "platform/foundation/base/Utf8.h"

#include <QDebug>

namespace Tickerly::API {

using namespace Tickerly::Foundation;
using namespace Tickerly::Linkwork;

using namespace Qt::Literals::StringLiterals;

namespace {

// What the URL-components rules let stand unescaped besides the unreserved characters.
const QString QueryKeeps = u"!$&'()*+,;=:@/?"_s;
const QString PathKeeps = u"!$&'()*+,;=:@/"_s;

QString printed(const QVariant& value)
{
    switch (value.typeId()) {
    case QMetaType::QString:
        return value.toString();
    case QMetaType::UnknownType:
    case QMetaType::Nullptr:
        return u"<null>"_s;
    case QMetaType::Bool:
        return value.toBool() ? u"1"_s : u"0"_s;
    case QMetaType::Double:
    case QMetaType::Float:
        return Number::from(value.toDouble()).stringValue();
    default:
        break;
    }
    const JSON json = JSON::fromVariant(value);
    if (json.type() == JSON::Type::Number)
        return json.stringValue();
    return json.rawString(JSONSerialization::NoWritingOptions).value_or(value.toString());
}

} // namespace

std::optional<APIRequest::Method> APIRequest::methodFromRawValue(const QString& rawValue)
{
    for (const Method m :
        { Method::GET, Method::POST, Method::PUT, Method::PATCH, Method::DELETE }) {
        if (rawValue == APIRequest::rawValue(m))
            return m;
    }
    return std::nullopt;
}

QString APIRequest::rawValue(Method method)
{
    switch (method) {
    case Method::GET:
        return u"GET"_s;
    case Method::POST:
        return u"POST"_s;
    case Method::PUT:
        return u"PUT"_s;
    case Method::PATCH:
        return u"PATCH"_s;
    case Method::DELETE:
        return u"DELETE"_s;
    }
    return u"GET"_s;
}

APIRequest::APIRequest(Method method, QString path)
    : m_path(std::move(path))
    , m_method(method)
{
}

void APIRequest::setHeaderValue(const QString& value, const QString& forKey)
{
    for (auto& [field, existing] : m_headers) {
        if (field.compare(forKey, Qt::CaseInsensitive) == 0) {
            field = forKey;
            existing = value;
            return;
        }
    }
    m_headers.append({ forKey, value });
}

void APIRequest::setBodyValue(const QVariant& value, const QString& forKey)
{
    m_body.insert(forKey, value);
}

void APIRequest::addQueryParam(const QString& value, const QString& forKey)
{
    m_queryParams.insert(forKey, value);
}

void APIRequest::addQueryParams(const QMap<QString, QString>& params)
{
    for (auto it = params.constBegin(); it != params.constEnd(); ++it)
        addQueryParam(it.value(), it.key());
}

UrlRequest APIRequest::URLRequest(const Url& baseURL)
{
    UrlRequest request;

    // The base's path is taken decoded and the whole path encoded again, as URL components do.
    const QString path = Url::percentDecoded(baseURL.path()) + m_path;
    QString text = baseURL.scheme() + u':';
    if (baseURL.hasAuthority()) {
        text += u"//"_s;
        if (!baseURL.user().isEmpty() || !baseURL.password().isEmpty()) {
            text += baseURL.user();
            if (!baseURL.password().isEmpty())
                text += u':' + baseURL.password();
            text += u'@';
        }
        const QString host = baseURL.host();
        text += host.contains(u':') ? u'[' + host + u']' : host;
        if (baseURL.port())
            text += u':' + QString::number(*baseURL.port());
    }
    text += Url::percentEncoded(path, PathKeeps);
    if (!m_queryParams.isEmpty()) {
        QString query;
        for (auto it = m_queryParams.constBegin(); it != m_queryParams.constEnd(); ++it)
            query += it.key() + u'=' + it.value() + u'&';
        query.chop(1);
        text += u'?' + Url::percentEncoded(query, QueryKeeps);
    }
    if (baseURL.hasFragment())
        text += u'#' + baseURL.fragment();
    request.url = Url::fromString(text).value_or(Url());

    request.httpMethod = rawValue(m_method);
    request.timeoutInterval = 30;
    setHeaderValue(u"en-US"_s, u"Accept-Language"_s);

    if (!m_body.isEmpty()) {
        if (m_encodeBodyAsJSON) {
            const JSON json = JSON::fromVariant(m_body);
            std::optional<Error> error = json.error();
            std::optional<QByteArray> data;
            if (!error)
                data = json.rawData(JSONSerialization::NoWritingOptions, &error);
            if (error) {
                qWarning().noquote() << u"Got error while serializing JSON body data. "_s
                        + error->localizedDescription() + u". "_s + error->userInfoDescription();
            }
            if (data)
                request.httpBody = *data;
            setHeaderValue(u"application/json"_s, u"Content-Type"_s);
        } else {
            QString form;
            for (auto it = m_body.constBegin(); it != m_body.constEnd(); ++it)
                form += it.key() + u'=' + printed(it.value()) + u'&';
            request.httpBody = utf8Encoded(form);
            setHeaderValue(u"application/x-www-form-urlencoded"_s, u"Content-Type"_s);
        }
    }

    for (const auto& [field, value] : m_headers)
        request.headerFields.setValue(field, value);
    return request;
}

} // namespace Tickerly::API
