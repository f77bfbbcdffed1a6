#include "api/JSON.h"

#include <gtest/gtest.h>

#include <limits>

using namespace Tickerly::API;

using namespace Qt::Literals::StringLiterals;

TEST(JSONComparison, KeepsBooleansApartFromNumbers)
{
    EXPECT_FALSE(JSON(1) == JSON(true));
    EXPECT_TRUE(JSON(1) != JSON(true));
    EXPECT_FALSE(JSON(1) <= JSON(true));
    EXPECT_FALSE(Number::from(true) == Number::from(1));
    EXPECT_TRUE(Number::from(true) != Number::from(1));
    EXPECT_FALSE(Number::from(false) < Number::from(1));
    EXPECT_FALSE(Number::from(true) >= Number::from(0));
    // Booleans inside containers too.
    EXPECT_FALSE(JSON::fromData("[1]") == JSON::fromData("[true]"));
}

TEST(JSONComparison, OrdersNumbersByValueAcrossKinds)
{
    EXPECT_TRUE(JSON(2) == JSON(2.0));
    EXPECT_TRUE(JSON(2) < JSON(2.5));
    EXPECT_TRUE(JSON(-1) < JSON(std::numeric_limits<quint64>::max()));
    EXPECT_FALSE(JSON(-1) == JSON(std::numeric_limits<quint64>::max()));
    EXPECT_FALSE(JSON::fromData("[-1]") == JSON::fromData("[18446744073709551615]"));
    // 2^63 as a double against the largest signed integer: exact, not rounded together.
    EXPECT_TRUE(JSON(std::numeric_limits<qint64>::max()) < JSON(9223372036854775808.0));
    EXPECT_TRUE(
        JSON(std::numeric_limits<qint64>::max()) >= JSON(std::numeric_limits<qint64>::max()));
    EXPECT_TRUE(JSON::fromData("[1,2]") == JSON::fromData("[1.0,2]"));
}

TEST(JSONComparison, ComparesStringsByCanonicalEquivalenceAndOrdersByCodeUnits)
{
    const JSON composed(u"\u00e9"_s);
    const JSON decomposed(u"e\u0301"_s);
    EXPECT_TRUE(composed == decomposed);
    EXPECT_NE(composed <= decomposed, composed >= decomposed);
    EXPECT_TRUE(JSON(u"ab"_s) < JSON(u"abc"_s));
    EXPECT_FALSE(JSON(u"abc"_s) < JSON(u"ab"_s));
}

TEST(JSONComparison, GivesBooleansNullsAndContainersOnlyEquality)
{
    EXPECT_TRUE(JSON(true) <= JSON(true));
    EXPECT_TRUE(JSON(true) >= JSON(true));
    EXPECT_FALSE(JSON(true) < JSON(true));
    EXPECT_FALSE(JSON(false) < JSON(true));
    EXPECT_TRUE(JSON() == JSON());
    EXPECT_TRUE(JSON() <= JSON());
    EXPECT_FALSE(JSON() < JSON());
    EXPECT_FALSE(JSON() > JSON());
    const JSON a = JSON::fromData(R"({"x":[1,{"y":null}]})");
    const JSON b = JSON::fromData(R"({"x":[1,{"y":null}]})");
    EXPECT_TRUE(a == b);
    EXPECT_TRUE(a >= b);
    EXPECT_FALSE(a < b);
    EXPECT_FALSE(a == JSON::fromData(R"({"x":[1,{"y":0}]})"));

    const JSON unknown = JSON::fromVariant(QVariant(QByteArray("x")));
    EXPECT_FALSE(unknown == unknown);
    EXPECT_TRUE(unknown != unknown);
}
