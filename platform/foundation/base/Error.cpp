#include "platform/foundation/base/Error.h"

#include <QStringList>

namespace Tickerly::Foundation {

using namespace Qt::Literals::StringLiterals;

const QString Error::localizedDescriptionKey = u"localizedDescription"_s;

Error::Error(QString domain, qint64 code, const QString& message, QVariantMap userInfo)
    : m_domain(std::move(domain))
    , m_code(code)
    , m_userInfo(std::move(userInfo))
{
    if (!message.isEmpty())
        m_userInfo.insert(localizedDescriptionKey, message);
}

Error::Error(QString domain, qint64 code, QVariantMap userInfo)
    : m_domain(std::move(domain))
    , m_code(code)
    , m_userInfo(std::move(userInfo))
{
}

Error Error::withMessage(QString domain, qint64 code, const QString& message)
{
    return Error(std::move(domain), code, QVariantMap { { localizedDescriptionKey, message } });
}

QString Error::message() const { return m_userInfo.value(localizedDescriptionKey).toString(); }

QString Error::localizedDescription() const
{
    const auto it = m_userInfo.constFind(localizedDescriptionKey);
    if (it != m_userInfo.constEnd())
        return it->toString();
    return u"The operation couldn't be completed. (%1 error %2.)"_s.arg(m_domain).arg(m_code);
}

QString Error::userInfoDescription() const
{
    if (m_userInfo.isEmpty())
        return u"nil"_s;
    QStringList entries;
    for (auto it = m_userInfo.constBegin(); it != m_userInfo.constEnd(); ++it)
        entries.append(u"%1 = %2"_s.arg(it.key(), it.value().toString()));
    return u"{"_s + entries.join(u"; "_s) + u"}"_s;
}

QString Error::description() const
{
    const QString tail = m_domain + u' ' + QString::number(m_code);
    const QString text = message();
    return text.isEmpty() ? tail : text + u" ("_s + tail + u')';
}

} // namespace Tickerly::Foundation
