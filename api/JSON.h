#pragma once

#include "api/Namespace.h"
#include "api/Number.h"
#include "platform/foundation/base/Url.h"
#include "platform/foundation/base/Error.h"
#include "platform/linkwork/JSONSerialization.h"
#include "tickerlyapimac_export.h"

#include <nlohmann/json.hpp>

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QString>
#include <QVariant>

#include <concepts>
#include <cstddef>
#include <initializer_list>
#include <memory>
#include <optional>
#include <utility>
#include <variant>

namespace Tickerly::API {

// One step of a path into a JSON value: an array index or a dictionary key.
class TICKERLYAPIMAC_EXPORT SubscriptType {
public:
    template <std::integral I>
    SubscriptType(I index)
        : m_step(std::in_range<qint64>(index) ? static_cast<qint64>(index)
                                              : std::numeric_limits<qint64>::max())
    {
    }
    SubscriptType(QString key)
        : m_step(std::move(key))
    {
    }
    SubscriptType(const char*) = delete;

    bool isIndex() const { return m_step.index() == 0; }
    qint64 index() const { return std::get<0>(m_step); }
    const QString& key() const { return std::get<1>(m_step); }

private:
    std::variant<qint64, QString> m_step;
};

// A JSON value as the server clients read replies: one object of a parsed document (a number,
// Boolean, string, null, array or dictionary), the kind of that object, and the error the value
// carries when a construction, an assignment or a path step failed.
//
// Reading never fails: every typed accessor has an optional form, empty when the kind does not
// fit, and a defaulting form giving a neutral value; a path step on the wrong kind or a missing
// member gives a Null value carrying an error of `ErrorDomain` that names the step. Accessors
// whose name is a C++ keyword carry a trailing underscore (`bool_`, `int_`, `double_`, ...).
//
// A plain value: copies share the wrapped object, which is never changed in place, so copies
// never see each other's changes. Any thread may use its own values.
class TICKERLYAPIMAC_EXPORT JSON {
public:
    enum class Type {
        Number = 0,
        String = 1,
        Bool = 2,
        Array = 3,
        Dictionary = 4,
        Null = 5,
        Unknown = 6
    };
    static std::optional<Type> typeFromRawValue(qint64 rawValue);

    static const QString ErrorDomain; // "JsonetteErrorDomain"
    static constexpr int ErrorUnsupportedType = 999;
    static constexpr int ErrorIndexOutOfBounds = 900;
    static constexpr int ErrorWrongType = 901;
    static constexpr int ErrorNotExist = 500;

    // --- Construction

    // A Null value (also the nil literal).
    JSON();
    JSON(std::nullptr_t)
        : JSON()
    {
    }
    // The value of `object`; objects JSON cannot hold (binary, discarded) give an Unknown value
    // with error 999.
    explicit JSON(nlohmann::json object);
    // The value of Qt values: maps and hashes become dictionaries, lists arrays, strings, bools,
    // integers and doubles themselves, a null or invalid variant Null; anything else, anywhere
    // inside, makes the whole value Unknown with error 999.
    static JSON fromVariant(const QVariant& object);
    // The value of `object`, or nothing when it would be Unknown.
    static std::optional<JSON> fromRawValue(nlohmann::json object);
    // The document in `data`. A document that cannot be read gives a Null value with no error of
    // its own; the reader's error goes to `error` when given.
    static JSON fromData(QByteArrayView data,
        int options = Linkwork::JSONSerialization::AllowFragments,
        std::optional<Foundation::Error>* error = nullptr);
    static JSON nullJSON() { return JSON(); }

    // Literals.
    JSON(const QString& string);
    JSON(const char*) = delete; // would otherwise become a Bool
    JSON(bool value);
    JSON(double value);
    template <std::integral I>
    requires(!std::same_as<I, bool>) JSON(I value)
        : JSON()
    {
        setNumberValue(Number::from(value));
    }
    // An Array value of the elements' objects, in order.
    JSON(const QList<JSON>& elements);
    // A Dictionary value of the pairs, in order: a later pair replaces an earlier one of its key.
    static JSON fromPairs(std::initializer_list<std::pair<QString, JSON>> pairs);

    // --- Reading

    const nlohmann::json& object() const { return *m_object; }
    void setObject(nlohmann::json object);
    const nlohmann::json& rawValue() const { return object(); }
    Type type() const { return m_type; }
    const std::optional<Foundation::Error>& error() const { return m_error; }

    // Whether an Array or Dictionary has no elements; false for every other kind.
    bool isEmpty() const;
    // The elements of an Array or entries of a Dictionary; 0 for every other kind.
    qsizetype count() const;

    std::optional<QString> string() const;
    QString stringValue() const;
    void setString(const std::optional<QString>& value);
    void setStringValue(const QString& value);

    std::optional<bool> bool_() const;
    bool boolValue() const;
    void setBool(std::optional<bool> value);
    void setBoolValue(bool value);
    explicit operator bool() const { return boolValue(); }

    std::optional<Number> number() const;
    Number numberValue() const;
    void setNumber(const std::optional<Number>& value);
    void setNumberValue(const Number& value);

    // Something only for a Null value (not for Unknown).
    std::optional<std::nullptr_t> null() const;
    // Stores null, whatever is given.
    void setNull() { setObject(nullptr); }

    // A String value's text, escaped where a URL may not hold it (spaces, non-ASCII and control
    // characters, "<>\^`{|}, a '%' starting no escape) and read as a Url.
    std::optional<Foundation::Url> URL() const;
    // Stores the URL's text as a String.
    void setURL(const std::optional<Foundation::Url>& value);

    std::optional<QList<JSON>> array() const;
    QList<JSON> arrayValue() const;
    std::optional<nlohmann::json::array_t> arrayObject() const;
    void setArrayObject(const std::optional<nlohmann::json::array_t>& value);
    std::optional<nlohmann::json::array_t> arrayObjects() const { return arrayObject(); }

    std::optional<QMap<QString, JSON>> dictionary() const;
    QMap<QString, JSON> dictionaryValue() const;
    std::optional<nlohmann::json::object_t> dictionaryObject() const;
    void setDictionaryObject(const std::optional<nlohmann::json::object_t>& value);
    std::optional<nlohmann::json::object_t> dictionaryObjects() const { return dictionaryObject(); }

    // Numeric families: the optional form reads a Number or Bool value (true reads as 1), the
    // defaulting form `numberValue`; out-of-range values saturate. The setters store a number.
    std::optional<qint64> int_() const { return numeric<qint64>(); }
    qint64 intValue() const { return numericValue<qint64>(); }
    void setInt(std::optional<qint64> v) { setNumeric(v); }
    void setIntValue(qint64 v) { setNumberValue(Number::from(v)); }
    std::optional<quint64> uInt() const { return numeric<quint64>(); }
    quint64 uIntValue() const { return numericValue<quint64>(); }
    void setUInt(std::optional<quint64> v) { setNumeric(v); }
    void setUIntValue(quint64 v) { setNumberValue(Number::from(v)); }
    std::optional<qint8> int8() const { return numeric<qint8>(); }
    qint8 int8Value() const { return numericValue<qint8>(); }
    void setInt8(std::optional<qint8> v) { setNumeric(v); }
    void setInt8Value(qint8 v) { setNumberValue(Number::from(v)); }
    std::optional<quint8> uInt8() const { return numeric<quint8>(); }
    quint8 uInt8Value() const { return numericValue<quint8>(); }
    void setUInt8(std::optional<quint8> v) { setNumeric(v); }
    void setUInt8Value(quint8 v) { setNumberValue(Number::from(v)); }
    std::optional<qint16> int16() const { return numeric<qint16>(); }
    qint16 int16Value() const { return numericValue<qint16>(); }
    void setInt16(std::optional<qint16> v) { setNumeric(v); }
    void setInt16Value(qint16 v) { setNumberValue(Number::from(v)); }
    std::optional<quint16> uInt16() const { return numeric<quint16>(); }
    quint16 uInt16Value() const { return numericValue<quint16>(); }
    void setUInt16(std::optional<quint16> v) { setNumeric(v); }
    void setUInt16Value(quint16 v) { setNumberValue(Number::from(v)); }
    std::optional<qint32> int32() const { return numeric<qint32>(); }
    qint32 int32Value() const { return numericValue<qint32>(); }
    void setInt32(std::optional<qint32> v) { setNumeric(v); }
    void setInt32Value(qint32 v) { setNumberValue(Number::from(v)); }
    std::optional<quint32> uInt32() const { return numeric<quint32>(); }
    quint32 uInt32Value() const { return numericValue<quint32>(); }
    void setUInt32(std::optional<quint32> v) { setNumeric(v); }
    void setUInt32Value(quint32 v) { setNumberValue(Number::from(v)); }
    std::optional<qint64> int64() const { return numeric<qint64>(); }
    qint64 int64Value() const { return numericValue<qint64>(); }
    void setInt64(std::optional<qint64> v) { setNumeric(v); }
    void setInt64Value(qint64 v) { setNumberValue(Number::from(v)); }
    std::optional<quint64> uInt64() const { return numeric<quint64>(); }
    quint64 uInt64Value() const { return numericValue<quint64>(); }
    void setUInt64(std::optional<quint64> v) { setNumeric(v); }
    void setUInt64Value(quint64 v) { setNumberValue(Number::from(v)); }
    std::optional<double> double_() const { return numeric<double>(); }
    double doubleValue() const { return numericValue<double>(); }
    void setDouble(std::optional<double> v) { setNumeric(v); }
    void setDoubleValue(double v) { setNumberValue(Number::from(v)); }
    std::optional<float> float_() const { return numeric<float>(); }
    float floatValue() const { return numericValue<float>(); }
    void setFloat(std::optional<float> v) { setNumeric(v); }
    void setFloatValue(float v) { setNumberValue(Number::from(v)); }

    // Read-only aliases.
    std::optional<qint8> char_() const { return int8(); }
    qint8 charValue() const { return int8Value(); }
    std::optional<quint8> unsignedChar() const { return uInt8(); }
    quint8 unsignedCharValue() const { return uInt8Value(); }
    std::optional<qint16> short_() const { return int16(); }
    qint16 shortValue() const { return int16Value(); }
    std::optional<quint16> unsignedShort() const { return uInt16(); }
    quint16 unsignedShortValue() const { return uInt16Value(); }
    std::optional<qint64> long_() const { return int_(); }
    qint64 longValue() const { return intValue(); }
    std::optional<quint64> unsignedLong() const { return uInt(); }
    quint64 unsignedLongValue() const { return uIntValue(); }
    std::optional<qint64> longLong() const { return int64(); }
    qint64 longLongValue() const { return int64Value(); }
    std::optional<quint64> unsignedLongLong() const { return uInt64(); }
    quint64 unsignedLongLongValue() const { return uInt64Value(); }
    std::optional<qint64> integer() const { return int_(); }
    qint64 integerValue() const { return intValue(); }
    std::optional<qint64> unsignedInteger() const { return int_(); }
    qint64 unsignedIntegerValue() const { return intValue(); }

    // The members as (key, value) pairs: an Array's indexes in decimal from "0" in order, a
    // Dictionary's keys in its own order; nothing for every other kind.
    QList<std::pair<QString, JSON>> generate() const;

    // --- Subscripts and paths

    // The member at one step, or a Null value carrying the error of the failed step (a value
    // that already carries an error passes it on to steps that do not fit it).
    JSON operator[](const SubscriptType& step) const;
    // The member at the end of `path`; the error names the first step that failed. An empty
    // path gives a Null value without an error.
    JSON operator[](const QList<SubscriptType>& path) const;
    template <typename... Steps> JSON subscript(Steps&&... steps) const
    {
        return (*this)[QList<SubscriptType> { SubscriptType(std::forward<Steps>(steps))... }];
    }
    // Writes `value` at `step` or `path`. A write that does not fit (a wrong kind, an index out
    // of bounds) changes nothing; a path through a missing member creates that member holding
    // null and drops `value`.
    void setSubscript(const SubscriptType& step, const JSON& value);
    void setSubscript(const QList<SubscriptType>& path, const JSON& value);

    // --- Text

    // The value as a JSON document; nothing (and the writer's error in `error`) unless it is an
    // Array or Dictionary holding only finite numbers.
    std::optional<QByteArray> rawData(int options = Linkwork::JSONSerialization::NoWritingOptions,
        std::optional<Foundation::Error>* error = nullptr) const;
    // The value as text: documents as rawData (pretty printed by default), a String's text, a
    // Number's decimal text, "true"/"false", "null"; nothing for Unknown.
    std::optional<QString> rawString(
        int options = Linkwork::JSONSerialization::PrettyPrinted) const;
    // rawString, or "unknown".
    QString description() const;
    QString debugDescription() const { return description(); }

private:
    template <typename T> std::optional<T> numeric() const
    {
        const auto n = number();
        return n ? std::optional<T>(n->value<T>()) : std::nullopt;
    }
    template <typename T> T numericValue() const { return numberValue().value<T>(); }
    template <typename T> void setNumeric(std::optional<T> value)
    {
        if (value)
            setNumberValue(Number::from(*value));
        else
            setNull();
    }
    static JSON failure(Foundation::Error error);
    JSON index(qint64 i) const;
    JSON key(const QString& k) const;
    void setIndex(qint64 i, const JSON& value);
    void setKey(const QString& k, const JSON& value);

    std::shared_ptr<const nlohmann::json> m_object;
    Type m_type = Type::Null;
    std::optional<Foundation::Error> m_error;
};

// Comparison. Values of different kinds are neither equal nor ordered. Numbers compare as
// Number does; Strings are equal when canonically equivalent and ordered by UTF-16 code units;
// two Bools, Arrays, Dictionaries or Nulls are `<=` and `>=` when equal and never `<` or `>`;
// an Unknown value equals nothing, itself included.
TICKERLYAPIMAC_EXPORT bool operator==(const JSON& a, const JSON& b);
TICKERLYAPIMAC_EXPORT bool operator<(const JSON& a, const JSON& b);
TICKERLYAPIMAC_EXPORT bool operator<=(const JSON& a, const JSON& b);
TICKERLYAPIMAC_EXPORT bool operator>(const JSON& a, const JSON& b);
TICKERLYAPIMAC_EXPORT bool operator>=(const JSON& a, const JSON& b);
inline bool operator!=(const JSON& a, const JSON& b) { return !(a == b); }

} // namespace Tickerly::API
