#pragma once

#include "api/Namespace.h"
#include "tickerlyapimac_export.h"

#include <QString>

#include <cmath>
#include <compare>
#include <concepts>
#include <limits>
#include <utility>

namespace Tickerly::API {

// A number as JSON values hold it: a Boolean, a signed or unsigned 64-bit integer or a double.
// Booleans are numbers of their own kind, so a Boolean true is never the integer 1.
//
// Reading a number as another type never fails: values out of the target's range saturate to
// its nearest bound and NaN reads as 0 for integer types. A plain value.
class TICKERLYAPIMAC_EXPORT Number {
public:
    enum class Kind { Bool, Integer, Unsigned, Double };

    // The integer 0.
    Number() = default;

    // A number of the kind that fits T: bool gives a Boolean, signed integers an Integer,
    // unsigned ones an Unsigned, floating-point types a Double.
    template <typename T>
    requires std::is_arithmetic_v<T>
    static Number from(T value)
    {
        Number n;
        if constexpr (std::same_as<T, bool>) {
            n.m_kind = Kind::Bool;
            n.m_int = value ? 1 : 0;
        } else if constexpr (std::is_floating_point_v<T>) {
            n.m_kind = Kind::Double;
            n.m_double = static_cast<double>(value);
        } else if constexpr (std::is_signed_v<T>) {
            n.m_kind = Kind::Integer;
            n.m_int = value;
        } else {
            n.m_kind = Kind::Unsigned;
            n.m_unsigned = value;
        }
        return n;
    }

    Kind kind() const { return m_kind; }
    bool isBool() const { return m_kind == Kind::Bool; }

    // The value read as T, saturating (see the class comment).
    template <typename T>
    requires std::is_arithmetic_v<T> T value()
    const
    {
        if constexpr (std::same_as<T, bool>)
            return boolValue();
        else if (m_kind == Kind::Double)
            return fromDouble<T>(m_double);
        else if (m_kind == Kind::Unsigned)
            return fromInteger<T>(m_unsigned);
        else
            return fromInteger<T>(m_int);
    }

    // Non-zero (and not NaN).
    bool boolValue() const;
    // Decimal text; a double in its shortest text that reads back the same; a Boolean "1"/"0".
    QString stringValue() const;

    // The numeric order of the two values across kinds, exact for every integer; unordered
    // when either is NaN.
    std::partial_ordering compare(const Number& other) const;

    // Equality and order keep Booleans apart: when exactly one side is a Boolean, only `!=` holds.
    friend TICKERLYAPIMAC_EXPORT bool operator==(const Number& a, const Number& b);
    friend TICKERLYAPIMAC_EXPORT bool operator<(const Number& a, const Number& b);
    friend TICKERLYAPIMAC_EXPORT bool operator<=(const Number& a, const Number& b);
    friend TICKERLYAPIMAC_EXPORT bool operator>(const Number& a, const Number& b);
    friend TICKERLYAPIMAC_EXPORT bool operator>=(const Number& a, const Number& b);

private:
    template <typename T, typename I> static T fromInteger(I v)
    {
        if constexpr (std::is_floating_point_v<T>) {
            return static_cast<T>(v);
        } else {
            if (std::cmp_less(v, std::numeric_limits<T>::min()))
                return std::numeric_limits<T>::min();
            if (std::cmp_greater(v, std::numeric_limits<T>::max()))
                return std::numeric_limits<T>::max();
            return static_cast<T>(v);
        }
    }

    template <typename T> static T fromDouble(double v)
    {
        if constexpr (std::is_floating_point_v<T>) {
            if (std::isfinite(v)
                && std::fabs(v) > static_cast<double>(std::numeric_limits<T>::max()))
                return v < 0 ? std::numeric_limits<T>::lowest() : std::numeric_limits<T>::max();
            return static_cast<T>(v);
        } else {
            if (std::isnan(v))
                return 0;
            // The bounds as doubles: min is exact, max rounds up to the next power of two.
            if (v <= static_cast<double>(std::numeric_limits<T>::min()))
                return std::numeric_limits<T>::min();
            if (v >= static_cast<double>(std::numeric_limits<T>::max()))
                return std::numeric_limits<T>::max();
            return static_cast<T>(v);
        }
    }

    Kind m_kind = Kind::Integer;
    qint64 m_int = 0;
    quint64 m_unsigned = 0;
    double m_double = 0;
};

inline bool operator!=(const Number& a, const Number& b) { return !(a == b); }

} // namespace Tickerly::API
