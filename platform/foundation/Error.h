#pragma once

#include <QString>
#include <QVariantMap>

// A failure as a value: which family of errors it belongs to (the domain), a code within that
// domain, a readable message, and optional details. Shared by the URL sessions, the promise
// library and the API client, which all report failures this way; nothing here throws.
//
// A plain value: copyable, safe to use from any thread.
struct Error {
    QString domain;
    qint64 code = 0;
    QString message; // the human-readable description; may be empty
    QVariantMap userInfo; // extra details a domain defines (for example a server's own fields)

    Error() = default;
    Error(QString errorDomain, qint64 errorCode, QString errorMessage = {}, QVariantMap info = {})
        : domain(std::move(errorDomain))
        , code(errorCode)
        , message(std::move(errorMessage))
        , userInfo(std::move(info))
    {
    }

    bool is(const QString& errorDomain, qint64 errorCode) const
    {
        return code == errorCode && domain == errorDomain;
    }

    // "<message> (<domain> <code>)", or without the message when there is none; for log lines.
    QString description() const
    {
        const QString tail = domain + QLatin1Char(' ') + QString::number(code);
        return message.isEmpty() ? tail : message + QLatin1String(" (") + tail + QLatin1Char(')');
    }

    friend bool operator==(const Error& a, const Error& b)
    {
        return a.domain == b.domain && a.code == b.code && a.message == b.message && a.userInfo == b.userInfo;
    }
    friend bool operator!=(const Error& a, const Error& b) { return !(a == b); }
};
