#include "api/JSON.h"

#include <functional>

namespace Tickerly::API {

namespace {

std::optional<Number> numberOf(const nlohmann::json& v)
{
    switch (v.type()) {
    case nlohmann::json::value_t::boolean:
        return Number::from(v.get<bool>());
    case nlohmann::json::value_t::number_integer:
        return Number::from(v.get<qint64>());
    case nlohmann::json::value_t::number_unsigned:
        return Number::from(v.get<quint64>());
    case nlohmann::json::value_t::number_float:
        return Number::from(v.get<double>());
    default:
        return std::nullopt;
    }
}

// Deep equality of two objects: numbers by value with Booleans apart, strings by their text.
bool sameObject(const nlohmann::json& a, const nlohmann::json& b)
{
    const auto x = numberOf(a);
    const auto y = numberOf(b);
    if (x || y)
        return x && y && *x == *y;
    if (a.type() != b.type())
        return false;
    switch (a.type()) {
    case nlohmann::json::value_t::string:
        return a.get_ref<const std::string&>() == b.get_ref<const std::string&>();
    case nlohmann::json::value_t::array:
        if (a.size() != b.size())
            return false;
        for (size_t i = 0; i < a.size(); ++i) {
            if (!sameObject(a[i], b[i]))
                return false;
        }
        return true;
    case nlohmann::json::value_t::object:
        if (a.size() != b.size())
            return false;
        for (auto it = a.begin(); it != a.end(); ++it) {
            const auto other = b.find(it.key());
            if (other == b.end() || !sameObject(*it, *other))
                return false;
        }
        return true;
    case nlohmann::json::value_t::null:
        return true;
    default:
        return false;
    }
}

enum class Relation { Equal, Less, LessOrEqual, Greater, GreaterOrEqual };

// The relation between two values of one type, with equality as `equal` decides it.
template <typename T, typename Equal = std::equal_to<>>
bool related(const T& x, const T& y, Relation r, Equal equal = {})
{
    switch (r) {
    case Relation::Equal:
        return equal(x, y);
    case Relation::Less:
        return x < y;
    case Relation::LessOrEqual:
        return x <= y;
    case Relation::Greater:
        return x > y;
    case Relation::GreaterOrEqual:
        return x >= y;
    }
    return false;
}

bool holds(const JSON& a, const JSON& b, Relation r)
{
    if (a.type() != b.type())
        return false;
    const bool strict = r == Relation::Less || r == Relation::Greater;
    switch (a.type()) {
    case JSON::Type::Number:
        return related(*a.number(), *b.number(), r);
    case JSON::Type::String:
        return related(*a.string(), *b.string(), r, [](const QString& x, const QString& y) {
            return x == y
                || x.normalized(QString::NormalizationForm_C)
                == y.normalized(QString::NormalizationForm_C);
        });
    case JSON::Type::Bool:
        return !strict && *a.bool_() == *b.bool_();
    case JSON::Type::Array:
    case JSON::Type::Dictionary:
        return !strict && sameObject(a.object(), b.object());
    case JSON::Type::Null:
        return !strict;
    case JSON::Type::Unknown:
        return false;
    }
    return false;
}

} // namespace

bool operator==(const JSON& a, const JSON& b) { return holds(a, b, Relation::Equal); }

bool operator<(const JSON& a, const JSON& b) { return holds(a, b, Relation::Less); }

bool operator<=(const JSON& a, const JSON& b) { return holds(a, b, Relation::LessOrEqual); }

bool operator>(const JSON& a, const JSON& b) { return holds(a, b, Relation::Greater); }

bool operator>=(const JSON& a, const JSON& b) { return holds(a, b, Relation::GreaterOrEqual); }

} // namespace Tickerly::API
