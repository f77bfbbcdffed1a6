#include "api/JSON.h"

#include "platform/foundation/base/Utf8.h"

namespace Tickerly::API {

using namespace Tickerly::Foundation;

using namespace Qt::Literals::StringLiterals;

JSON JSON::failure(Error error)
{
    JSON value;
    value.m_error = std::move(error);
    return value;
}

JSON JSON::index(qint64 i) const
{
    if (m_type != Type::Array) {
        if (m_error)
            return failure(*m_error);
        return failure(Error::withMessage(
            ErrorDomain, ErrorWrongType, u"Array[%1] failure, It is not an array"_s.arg(i)));
    }
    if (i >= 0 && std::cmp_less(i, m_object->size()))
        return JSON((*m_object)[static_cast<size_t>(i)]);
    return failure(Error::withMessage(
        ErrorDomain, ErrorIndexOutOfBounds, u"Array[%1] is out of bounds"_s.arg(i)));
}

JSON JSON::key(const QString& k) const
{
    if (m_type == Type::Dictionary) {
        const auto it = m_object->find(utf8Encoded(k).toStdString());
        if (it != m_object->end())
            return JSON(*it);
        return failure(Error::withMessage(
            ErrorDomain, ErrorNotExist, u"Dictionary[\"%1\"] does not exist"_s.arg(k)));
    }
    if (m_error)
        return failure(*m_error);
    return failure(Error::withMessage(ErrorDomain, ErrorWrongType,
        u"Dictionary[\"%1\"] failure, It is not an dictionary"_s.arg(k)));
}

void JSON::setIndex(qint64 i, const JSON& value)
{
    if (m_type != Type::Array || i < 0 || !std::cmp_less(i, m_object->size()))
        return;
    nlohmann::json copy = *m_object;
    copy[static_cast<size_t>(i)] = value.object();
    setObject(std::move(copy));
}

void JSON::setKey(const QString& k, const JSON& value)
{
    if (m_type != Type::Dictionary)
        return;
    nlohmann::json copy = *m_object;
    copy[utf8Encoded(k).toStdString()] = value.object();
    setObject(std::move(copy));
}

JSON JSON::operator[](const SubscriptType& step) const
{
    return step.isIndex() ? index(step.index()) : key(step.key());
}

JSON JSON::operator[](const QList<SubscriptType>& path) const
{
    if (path.isEmpty())
        return JSON();
    JSON node = *this;
    for (const auto& step : path)
        node = node[step];
    return node;
}

void JSON::setSubscript(const SubscriptType& step, const JSON& value)
{
    if (step.isIndex())
        setIndex(step.index(), value);
    else
        setKey(step.key(), value);
}

void JSON::setSubscript(const QList<SubscriptType>& path, const JSON& value)
{
    if (path.isEmpty())
        return;
    // From the deepest step outwards: each level is read, written and becomes the value written
    // one level up. A level that does not take the write is written up unchanged.
    JSON last = value;
    for (qsizetype n = path.size() - 1; n >= 1; --n) {
        JSON node = (*this)[path.first(n)];
        node.setSubscript(path.at(n), last);
        last = std::move(node);
    }
    setSubscript(path.first(), last);
}

} // namespace Tickerly::API
