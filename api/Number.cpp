#include "api/Number.h"

#include <charconv>

namespace Tickerly::API {

bool Number::boolValue() const
{
    switch (m_kind) {
    case Kind::Double:
        return m_double != 0 && !std::isnan(m_double);
    case Kind::Unsigned:
        return m_unsigned != 0;
    default:
        return m_int != 0;
    }
}

QString Number::stringValue() const
{
    switch (m_kind) {
    case Kind::Double: {
        char buffer[64];
        const auto end = std::to_chars(buffer, buffer + sizeof buffer, m_double).ptr;
        return QString::fromLatin1(buffer, end - buffer);
    }
    case Kind::Unsigned:
        return QString::number(m_unsigned);
    default:
        return QString::number(m_int);
    }
}

std::partial_ordering Number::compare(const Number& other) const
{
    const bool aDouble = m_kind == Kind::Double;
    const bool bDouble = other.m_kind == Kind::Double;
    if (!aDouble && !bDouble) {
        const bool aUnsigned = m_kind == Kind::Unsigned;
        const bool bUnsigned = other.m_kind == Kind::Unsigned;
        if (aUnsigned && bUnsigned)
            return m_unsigned <=> other.m_unsigned;
        if (aUnsigned)
            return std::cmp_less(m_unsigned, other.m_int) ? std::partial_ordering::less
                : std::cmp_equal(m_unsigned, other.m_int) ? std::partial_ordering::equivalent
                                                          : std::partial_ordering::greater;
        if (bUnsigned)
            return std::cmp_less(m_int, other.m_unsigned) ? std::partial_ordering::less
                : std::cmp_equal(m_int, other.m_unsigned) ? std::partial_ordering::equivalent
                                                          : std::partial_ordering::greater;
        return m_int <=> other.m_int;
    }
    // Every 64-bit integer and every double is exact as a long double on the platforms we build
    // for (x86-64's 64-bit significand, or a 113-bit one).
    static_assert(std::numeric_limits<long double>::digits >= 64);
    const auto widen = [](const Number& n) -> long double {
        switch (n.m_kind) {
        case Kind::Double:
            return n.m_double;
        case Kind::Unsigned:
            return static_cast<long double>(n.m_unsigned);
        default:
            return static_cast<long double>(n.m_int);
        }
    };
    return widen(*this) <=> widen(other);
}

namespace {

bool oneIsBool(const Number& a, const Number& b) { return a.isBool() != b.isBool(); }

} // namespace

bool operator==(const Number& a, const Number& b)
{
    return !oneIsBool(a, b) && a.compare(b) == std::partial_ordering::equivalent;
}

bool operator<(const Number& a, const Number& b)
{
    return !oneIsBool(a, b) && a.compare(b) == std::partial_ordering::less;
}

bool operator<=(const Number& a, const Number& b) { return !oneIsBool(a, b) && a.compare(b) <= 0; }

bool operator>(const Number& a, const Number& b)
{
    return !oneIsBool(a, b) && a.compare(b) == std::partial_ordering::greater;
}

bool operator>=(const Number& a, const Number& b) { return !oneIsBool(a, b) && a.compare(b) >= 0; }

} // namespace Tickerly::API
