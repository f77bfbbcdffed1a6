#pragma once

#include "platform/foundation/Namespace.h"
#include "tickerlyfoundation_export.h"

#include <QString>
#include <QVariantMap>

namespace Tickerly::Foundation {

// A failure as a value: the family of errors it belongs to (the domain), a code within that
// domain, and a user-info dictionary whose entry under `localizedDescriptionKey` is the readable
// message. URL sessions, the promise library, JSON reading and the API client all report
// failures this way; nothing here throws.
//
// A plain value: copyable, safe to use from any thread.
class TICKERLYFOUNDATION_EXPORT Error {
public:
    // The user-info key of the message.
    static const QString localizedDescriptionKey;

    Error() = default;
    Error(QString domain, qint64 code, const QString& message = {}, QVariantMap userInfo = {});
    Error(QString domain, qint64 code, QVariantMap userInfo);

    // An error whose user info holds only `message`.
    static Error withMessage(QString domain, qint64 code, const QString& message);

    const QString& domain() const { return m_domain; }
    qint64 code() const { return m_code; }
    const QVariantMap& userInfo() const { return m_userInfo; }
    // The message; empty when there is none.
    QString message() const;
    bool is(const QString& domain, qint64 code) const
    {
        return m_code == code && m_domain == domain;
    }

    // The message, or a generic text naming the domain and code when there is none.
    QString localizedDescription() const;
    // The printed user info ("nil" when empty), for log lines.
    QString userInfoDescription() const;
    // "<message> (<domain> <code>)", or without the message when there is none; for log lines.
    QString description() const;

    friend bool operator==(const Error& a, const Error& b)
    {
        return a.m_code == b.m_code && a.m_domain == b.m_domain && a.m_userInfo == b.m_userInfo;
    }
    friend bool operator!=(const Error& a, const Error& b) { return !(a == b); }

private:
    QString m_domain;
    qint64 m_code = 0;
    QVariantMap m_userInfo;
};

} // namespace Tickerly::Foundation
