#include "platform/linkwork/JSONSerialization.h"

#include <QVariantList>
#include <QVariantMap>

#include <cmath>
#include <exception>

namespace Tickerly::Linkwork {

using namespace Tickerly::Foundation;

using namespace Qt::Literals::StringLiterals;

namespace {

// Whether brackets nest deeper than `limit` anywhere outside strings. Exact for valid JSON,
// a harmless over-estimate for invalid text (which the reader refuses anyway).
bool nestsDeeperThan(QByteArrayView data, int limit)
{
    int depth = 0;
    bool inString = false;
    bool escaped = false;
    for (const char c : data) {
        if (inString) {
            if (escaped)
                escaped = false;
            else if (c == '\\')
                escaped = true;
            else if (c == '"')
                inString = false;
        } else if (c == '"') {
            inString = true;
        } else if (c == '[' || c == '{') {
            if (++depth > limit)
                return true;
        } else if (c == ']' || c == '}') {
            --depth;
        }
    }
    return false;
}

bool hasNonFiniteNumber(const nlohmann::json& value)
{
    if (value.is_number_float())
        return !std::isfinite(value.get<double>());
    if (value.is_structured()) {
        for (const auto& element : value) {
            if (hasNonFiniteNumber(element))
                return true;
        }
    }
    return false;
}

} // namespace

namespace JSONSerialization {

Result<QByteArray> write(const nlohmann::json& value, int options)
{
    if (!value.is_structured()) {
        return Result<QByteArray>::Error(Error::withMessage(ErrorDomain, ErrorNotWritable,
            u"Only an array or an object can be written as a JSON document."_s));
    }
    if (hasNonFiniteNumber(value)) {
        return Result<QByteArray>::Error(Error::withMessage(ErrorDomain, ErrorNotWritable,
            u"Invalid number value (infinite or NaN) in JSON write."_s));
    }
    const std::string text = value.dump(
        (options & PrettyPrinted) ? 2 : -1, ' ', false, nlohmann::json::error_handler_t::replace);
    return Result<QByteArray>::Ok(QByteArray(text.data(), static_cast<qsizetype>(text.size())));
}

Result<nlohmann::json> read(QByteArrayView data, int options)
{
    if (nestsDeeperThan(data, MaxNestingDepth)) {
        return Result<nlohmann::json>::Error(Error::withMessage(ErrorDomain, ErrorTooDeep,
            u"The document is nested deeper than %1 levels."_s.arg(MaxNestingDepth)));
    }
    nlohmann::json value;
    try {
        value = nlohmann::json::parse(data.begin(), data.end());
    } catch (const std::exception& e) {
        return Result<nlohmann::json>::Error(
            Error::withMessage(ErrorDomain, ErrorInvalidDocument, QString::fromUtf8(e.what())));
    }
    if (!(options & AllowFragments) && !value.is_object() && !value.is_array()) {
        return Result<nlohmann::json>::Error(
            Error::withMessage(ErrorDomain, ErrorFragmentNotAllowed,
                u"The top level of the document is neither an array nor an object."_s));
    }
    return Result<nlohmann::json>::Ok(std::move(value));
}

QVariant toVariant(const nlohmann::json& value)
{
    switch (value.type()) {
    case nlohmann::json::value_t::object: {
        QVariantMap map;
        for (const auto& [key, member] : value.items())
            map.insert(QString::fromStdString(key), toVariant(member));
        return map;
    }
    case nlohmann::json::value_t::array: {
        QVariantList list;
        list.reserve(static_cast<qsizetype>(value.size()));
        for (const auto& element : value)
            list.append(toVariant(element));
        return list;
    }
    case nlohmann::json::value_t::string:
        return QString::fromStdString(value.get_ref<const std::string&>());
    case nlohmann::json::value_t::boolean:
        return value.get<bool>();
    case nlohmann::json::value_t::number_integer:
        return QVariant::fromValue(value.get<qint64>());
    case nlohmann::json::value_t::number_unsigned:
        return QVariant::fromValue(value.get<quint64>());
    case nlohmann::json::value_t::number_float:
        return value.get<double>();
    default:
        return {};
    }
}

} // namespace JSONSerialization

std::optional<QVariantMap> JSONSerializationResult::dictionaryValue() const
{
    if (m_object.typeId() != QMetaType::QVariantMap)
        return std::nullopt;
    return m_object.toMap();
}

Result<JSONSerializationResult> toJSON(int options, QByteArrayView data)
{
    const auto read = JSONSerialization::read(data, options);
    if (read.isError())
        return Result<JSONSerializationResult>::Error(read.error());
    return Result<JSONSerializationResult>::Ok(
        JSONSerializationResult(JSONSerialization::toVariant(read.value())));
}

} // namespace Tickerly::Linkwork
