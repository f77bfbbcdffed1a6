#pragma once

#include "tickerlylinkwork_export.h"

#include <QString>
#include <QVariantMap>

// An error as a value: a domain, a code within it and a user-info dictionary whose entry under
// `localizedDescriptionKey` is the message. Failed results of the promise library, of JSON
// reading and of network requests all carry one.
//
// A plain value: copyable, safe to use from any thread.
class TICKERLYLINKWORK_EXPORT Error {
public:
    // The user-info key of the message.
    static const QString localizedDescriptionKey;

    Error(QString domain, int code, QVariantMap userInfo = {});

    // An error whose user info holds only `message` under `localizedDescriptionKey`.
    static Error withMessage(QString domain, int code, const QString& message);

    const QString& domain() const { return m_domain; }
    int code() const { return m_code; }
    const QVariantMap& userInfo() const { return m_userInfo; }

    // The message, or a generic text naming the domain and code when there is none.
    QString localizedDescription() const;

    // The printed user info ("nil" when empty), for log lines.
    QString userInfoDescription() const;

    friend bool operator==(const Error& a, const Error& b)
    {
        return a.m_code == b.m_code && a.m_domain == b.m_domain && a.m_userInfo == b.m_userInfo;
    }

private:
    QString m_domain;
    int m_code = 0;
    QVariantMap m_userInfo;
};
