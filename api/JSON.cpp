#include "api/JSON.h"

#include "platform/foundation/base/Utf8.h"

#include <QRegularExpression>
#include <QVariantHash>
#include <QVariantList>
#include <QVariantMap>

#include <cstdlib>

namespace Tickerly::API {

using namespace Tickerly::Foundation;
using namespace Tickerly::Linkwork;

using namespace Qt::Literals::StringLiterals;

const QString JSON::ErrorDomain = u"JsonetteErrorDomain"_s;

namespace {

const std::shared_ptr<const nlohmann::json>& sharedNull()
{
    // Never destroyed: parsing on a worker may still run while the process ends.
    static const auto& null = *new std::shared_ptr<const nlohmann::json>(
        std::make_shared<const nlohmann::json>(nullptr));
    return null;
}

// U+FFFD for a lone surrogate, where Qt's own conversion would write "?".
std::string toUtf8(const QString& text) { return utf8Encoded(text).toStdString(); }

QString fromUtf8(const nlohmann::json& string)
{
    return QString::fromStdString(string.get_ref<const std::string&>());
}

std::optional<nlohmann::json> fromVariantObject(const QVariant& v)
{
    switch (v.typeId()) {
    case QMetaType::UnknownType:
    case QMetaType::Nullptr:
        return nlohmann::json(nullptr);
    case QMetaType::Bool:
        return nlohmann::json(v.toBool());
    case QMetaType::Int:
    case QMetaType::Long:
    case QMetaType::LongLong:
    case QMetaType::Short:
    case QMetaType::SChar:
    case QMetaType::Char:
        return nlohmann::json(v.toLongLong());
    case QMetaType::UInt:
    case QMetaType::ULong:
    case QMetaType::ULongLong:
    case QMetaType::UShort:
    case QMetaType::UChar:
        return nlohmann::json(v.toULongLong());
    case QMetaType::Double:
    case QMetaType::Float:
        return nlohmann::json(v.toDouble());
    case QMetaType::QString:
        return nlohmann::json(toUtf8(v.toString()));
    case QMetaType::QStringList:
    case QMetaType::QVariantList: {
        auto array = nlohmann::json::array();
        for (const auto& element : v.toList()) {
            auto converted = fromVariantObject(element);
            if (!converted)
                return std::nullopt;
            array.push_back(std::move(*converted));
        }
        return array;
    }
    case QMetaType::QVariantMap:
    case QMetaType::QVariantHash: {
        auto dictionary = nlohmann::json::object();
        const QVariantMap map = v.toMap();
        for (auto it = map.constBegin(); it != map.constEnd(); ++it) {
            auto converted = fromVariantObject(it.value());
            if (!converted)
                return std::nullopt;
            dictionary[toUtf8(it.key())] = std::move(*converted);
        }
        return dictionary;
    }
    default:
        return std::nullopt;
    }
}

// A numeral the whole text consists of, white space around it allowed.
std::optional<double> scanDouble(const QString& text)
{
    static const auto& numeral = *new QRegularExpression(
        u"\\A\\s*([+-]?(?:[0-9]+(?:\\.[0-9]*)?|\\.[0-9]+)(?:[eE][+-]?[0-9]+)?)\\s*\\z"_s);
    const auto match = numeral.match(text);
    if (!match.hasMatch())
        return std::nullopt;
    // strtod in the C locale's terms: the numeral holds only ASCII.
    const QByteArray ascii = match.captured(1).toLatin1();
    return std::strtod(ascii.constData(), nullptr);
}

// True when, after white space, a sign and zeros, the text starts with Y, y, T, t or 1-9.
bool readBool(const QString& text)
{
    qsizetype i = 0;
    while (i < text.size() && text.at(i).isSpace())
        ++i;
    if (i < text.size() && (text.at(i) == u'+' || text.at(i) == u'-'))
        ++i;
    while (i < text.size() && text.at(i) == u'0')
        ++i;
    if (i == text.size())
        return false;
    const QChar c = text.at(i);
    return c == u'Y' || c == u'y' || c == u'T' || c == u't' || (c >= u'1' && c <= u'9');
}

QString escapedForUrl(const QString& text)
{
    const QByteArray utf8 = text.toUtf8();
    static constexpr QByteArrayView refused = "\"<>\\^`{|}";
    const auto isHex = [](char c) {
        return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
    };
    QString out;
    out.reserve(utf8.size());
    for (qsizetype i = 0; i < utf8.size(); ++i) {
        const auto c = static_cast<unsigned char>(utf8[i]);
        const bool validEscape
            = c == '%' && i + 2 < utf8.size() && isHex(utf8[i + 1]) && isHex(utf8[i + 2]);
        if (c <= 0x20 || c >= 0x7f || refused.contains(char(c)) || (c == '%' && !validEscape))
            out += u'%' + QString::number(c, 16).toUpper().rightJustified(2, u'0');
        else
            out += QLatin1Char(char(c));
    }
    return out;
}

} // namespace

std::optional<JSON::Type> JSON::typeFromRawValue(qint64 rawValue)
{
    if (rawValue < 0 || rawValue > 6)
        return std::nullopt;
    return static_cast<Type>(rawValue);
}

JSON::JSON()
    : m_object(sharedNull())
{
}

JSON::JSON(nlohmann::json object)
    : JSON()
{
    setObject(std::move(object));
}

JSON JSON::fromVariant(const QVariant& object)
{
    JSON value;
    if (auto converted = fromVariantObject(object))
        value.setObject(std::move(*converted));
    else
        value.setObject(nlohmann::json::binary({})); // unsupported: classified as Unknown
    return value;
}

std::optional<JSON> JSON::fromRawValue(nlohmann::json object)
{
    JSON value(std::move(object));
    if (value.type() == Type::Unknown)
        return std::nullopt;
    return value;
}

JSON JSON::fromData(QByteArrayView data, int options, std::optional<Error>* error)
{
    auto read = JSONSerialization::read(data, options);
    if (read.isError()) {
        if (error)
            *error = read.error();
        return JSON();
    }
    return JSON(std::move(read).value());
}

JSON::JSON(const QString& string)
    : JSON()
{
    setStringValue(string);
}

JSON::JSON(bool value)
    : JSON()
{
    setBoolValue(value);
}

JSON::JSON(double value)
    : JSON()
{
    setDoubleValue(value);
}

JSON::JSON(const QList<JSON>& elements)
    : JSON()
{
    auto array = nlohmann::json::array();
    for (const auto& element : elements)
        array.push_back(element.object());
    setObject(std::move(array));
}

JSON JSON::fromPairs(std::initializer_list<std::pair<QString, JSON>> pairs)
{
    auto dictionary = nlohmann::json::object();
    for (const auto& [key, value] : pairs)
        dictionary[toUtf8(key)] = value.object();
    return JSON(std::move(dictionary));
}

void JSON::setObject(nlohmann::json object)
{
    // Classification; an error the value carries is kept.
    switch (object.type()) {
    case nlohmann::json::value_t::boolean:
        m_type = Type::Bool;
        break;
    case nlohmann::json::value_t::number_integer:
    case nlohmann::json::value_t::number_unsigned:
    case nlohmann::json::value_t::number_float:
        m_type = Type::Number;
        break;
    case nlohmann::json::value_t::string:
        m_type = Type::String;
        break;
    case nlohmann::json::value_t::null:
        m_type = Type::Null;
        break;
    case nlohmann::json::value_t::array:
        m_type = Type::Array;
        break;
    case nlohmann::json::value_t::object:
        m_type = Type::Dictionary;
        break;
    default:
        m_type = Type::Unknown;
        m_object = sharedNull();
        m_error
            = Error::withMessage(ErrorDomain, ErrorUnsupportedType, u"It is a unsupported type"_s);
        return;
    }
    m_object = object.is_null() ? sharedNull()
                                : std::make_shared<const nlohmann::json>(std::move(object));
}

bool JSON::isEmpty() const
{
    return (m_type == Type::Array || m_type == Type::Dictionary) && m_object->empty();
}

qsizetype JSON::count() const
{
    if (m_type == Type::Array || m_type == Type::Dictionary)
        return static_cast<qsizetype>(m_object->size());
    return 0;
}

std::optional<QString> JSON::string() const
{
    if (m_type != Type::String)
        return std::nullopt;
    return fromUtf8(*m_object);
}

QString JSON::stringValue() const
{
    switch (m_type) {
    case Type::String:
        return fromUtf8(*m_object);
    case Type::Number:
        return numberValue().stringValue();
    case Type::Bool:
        return m_object->get<bool>() ? u"true"_s : u"false"_s;
    default:
        return {};
    }
}

void JSON::setString(const std::optional<QString>& value)
{
    if (value)
        setStringValue(*value);
    else
        setNull();
}

void JSON::setStringValue(const QString& value) { setObject(nlohmann::json(toUtf8(value))); }

std::optional<bool> JSON::bool_() const
{
    if (m_type != Type::Bool)
        return std::nullopt;
    return m_object->get<bool>();
}

bool JSON::boolValue() const
{
    switch (m_type) {
    case Type::Bool:
    case Type::Number:
        return numberValue().boolValue();
    case Type::String:
        return readBool(fromUtf8(*m_object));
    default:
        return false;
    }
}

void JSON::setBool(std::optional<bool> value)
{
    if (value)
        setBoolValue(*value);
    else
        setNull();
}

void JSON::setBoolValue(bool value) { setObject(nlohmann::json(value)); }

std::optional<Number> JSON::number() const
{
    switch (m_object->type()) {
    case nlohmann::json::value_t::boolean:
        return Number::from(m_object->get<bool>());
    case nlohmann::json::value_t::number_integer:
        return Number::from(m_object->get<qint64>());
    case nlohmann::json::value_t::number_unsigned:
        return Number::from(m_object->get<quint64>());
    case nlohmann::json::value_t::number_float:
        return Number::from(m_object->get<double>());
    default:
        return std::nullopt;
    }
}

Number JSON::numberValue() const
{
    if (auto n = number())
        return *n;
    if (m_type == Type::String) {
        if (const auto scanned = scanDouble(fromUtf8(*m_object)))
            return Number::from(*scanned);
    }
    return Number::from(0.0);
}

void JSON::setNumber(const std::optional<Number>& value)
{
    if (value)
        setNumberValue(*value);
    else
        setNull();
}

void JSON::setNumberValue(const Number& value)
{
    switch (value.kind()) {
    case Number::Kind::Bool:
        setObject(nlohmann::json(value.boolValue()));
        break;
    case Number::Kind::Integer:
        setObject(nlohmann::json(value.value<qint64>()));
        break;
    case Number::Kind::Unsigned:
        setObject(nlohmann::json(value.value<quint64>()));
        break;
    case Number::Kind::Double:
        setObject(nlohmann::json(value.value<double>()));
        break;
    }
}

std::optional<std::nullptr_t> JSON::null() const
{
    if (m_type != Type::Null)
        return std::nullopt;
    return nullptr;
}

std::optional<Url> JSON::URL() const
{
    if (m_type != Type::String)
        return std::nullopt;
    return Url::fromString(escapedForUrl(fromUtf8(*m_object)));
}

void JSON::setURL(const std::optional<Url>& value)
{
    if (value)
        setStringValue(value->absoluteString());
    else
        setNull();
}

std::optional<QList<JSON>> JSON::array() const
{
    if (m_type != Type::Array)
        return std::nullopt;
    QList<JSON> elements;
    elements.reserve(static_cast<qsizetype>(m_object->size()));
    for (const auto& element : *m_object)
        elements.append(JSON(element));
    return elements;
}

QList<JSON> JSON::arrayValue() const { return array().value_or(QList<JSON>()); }

std::optional<nlohmann::json::array_t> JSON::arrayObject() const
{
    if (m_type != Type::Array)
        return std::nullopt;
    return m_object->get_ref<const nlohmann::json::array_t&>();
}

void JSON::setArrayObject(const std::optional<nlohmann::json::array_t>& value)
{
    if (value)
        setObject(nlohmann::json(*value));
    else
        setNull();
}

std::optional<QMap<QString, JSON>> JSON::dictionary() const
{
    if (m_type != Type::Dictionary)
        return std::nullopt;
    QMap<QString, JSON> entries;
    for (const auto& [key, member] : m_object->items())
        entries.insert(QString::fromStdString(key), JSON(member));
    return entries;
}

QMap<QString, JSON> JSON::dictionaryValue() const
{
    return dictionary().value_or(QMap<QString, JSON>());
}

std::optional<nlohmann::json::object_t> JSON::dictionaryObject() const
{
    if (m_type != Type::Dictionary)
        return std::nullopt;
    return m_object->get_ref<const nlohmann::json::object_t&>();
}

void JSON::setDictionaryObject(const std::optional<nlohmann::json::object_t>& value)
{
    if (value)
        setObject(nlohmann::json(*value));
    else
        setNull();
}

QList<std::pair<QString, JSON>> JSON::generate() const
{
    QList<std::pair<QString, JSON>> pairs;
    if (m_type == Type::Array) {
        qsizetype i = 0;
        for (const auto& element : *m_object)
            pairs.append({ QString::number(i++), JSON(element) });
    } else if (m_type == Type::Dictionary) {
        for (const auto& [key, member] : m_object->items())
            pairs.append({ QString::fromStdString(key), JSON(member) });
    }
    return pairs;
}

std::optional<QByteArray> JSON::rawData(int options, std::optional<Error>* error) const
{
    auto written = JSONSerialization::write(*m_object, options);
    if (written.isError()) {
        if (error)
            *error = written.error();
        return std::nullopt;
    }
    return std::move(written).value();
}

std::optional<QString> JSON::rawString(int options) const
{
    switch (m_type) {
    case Type::Array:
    case Type::Dictionary: {
        const auto data = rawData(options);
        if (!data)
            return std::nullopt;
        return QString::fromUtf8(*data);
    }
    case Type::String:
        return fromUtf8(*m_object);
    case Type::Number:
        return numberValue().stringValue();
    case Type::Bool:
        return m_object->get<bool>() ? u"true"_s : u"false"_s;
    case Type::Null:
        return u"null"_s;
    case Type::Unknown:
        break;
    }
    return std::nullopt;
}

QString JSON::description() const { return rawString().value_or(u"unknown"_s); }

} // namespace Tickerly::API
