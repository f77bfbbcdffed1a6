#include "platform/foundation/network/UrlRequest.h"

namespace Tickerly::Foundation {

using namespace Qt::Literals::StringLiterals;

HttpHeaderFields::HttpHeaderFields(std::initializer_list<QPair<QString, QString>> fields)
{
    for (const auto& [name, value] : fields)
        setValue(name, value);
}

QString HttpHeaderFields::value(const QString& name) const
{
    for (const auto& [n, v] : m_fields) {
        if (n.compare(name, Qt::CaseInsensitive) == 0)
            return v.isNull() ? u""_s : v;
    }
    return {};
}

bool HttpHeaderFields::contains(const QString& name) const { return !value(name).isNull(); }

void HttpHeaderFields::setValue(const QString& name, const QString& value)
{
    if (value.isNull()) {
        remove(name);
        return;
    }
    for (auto& field : m_fields) {
        if (field.first.compare(name, Qt::CaseInsensitive) == 0) {
            field.second = value;
            return;
        }
    }
    m_fields.append({ name, value });
}

void HttpHeaderFields::remove(const QString& name)
{
    m_fields.removeIf([&](const QPair<QString, QString>& f) {
        return f.first.compare(name, Qt::CaseInsensitive) == 0;
    });
}

namespace UrlError {

Error make(Code code, const QString& detail)
{
    QString text;
    switch (code) {
    case Cancelled:
        text = u"cancelled"_s;
        break;
    case BadUrl:
        text = u"bad URL"_s;
        break;
    case TimedOut:
        text = u"The request timed out."_s;
        break;
    case UnsupportedUrl:
        text = u"unsupported URL"_s;
        break;
    case CannotFindHost:
        text = u"A server with the specified hostname could not be found."_s;
        break;
    case CannotConnectToHost:
        text = u"Could not connect to the server."_s;
        break;
    case NetworkConnectionLost:
        text = u"The network connection was lost."_s;
        break;
    case TooManyRedirects:
        text = u"too many HTTP redirects"_s;
        break;
    case BadServerResponse:
        text = u"bad server response"_s;
        break;
    case CannotDecodeContentData:
        text = u"cannot decode raw data"_s;
        break;
    case SecureConnectionRequired:
        text = u"A redirect from a secure to an insecure address was refused."_s;
        break;
    case DataLengthExceedsMaximum:
        text = u"resource exceeds maximum size"_s;
        break;
    case SecureConnectionFailed:
        text = u"An SSL error has occurred and a secure connection to the server cannot be made."_s;
        break;
    case ServerCertificateUntrusted:
        text = u"The certificate for this server is invalid."_s;
        break;
    case Unknown:
        text = u"unknown error"_s;
        break;
    }
    if (!detail.isEmpty())
        text += u": "_s + detail;
    return Error(domain, code, text);
}

} // namespace UrlError

} // namespace Tickerly::Foundation
