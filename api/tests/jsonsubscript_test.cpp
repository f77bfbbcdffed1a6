#include "api/JSON.h"

#include <gtest/gtest.h>

using namespace Tickerly::API;

using namespace Qt::Literals::StringLiterals;

namespace {

JSON parse(const char* text) { return JSON::fromData(QByteArrayView(text)); }

QString message(const JSON& value)
{
    return value.error() ? value.error()->localizedDescription() : QString();
}

} // namespace

TEST(JSONSubscript, NamesTheFailedStepInItsError)
{
    const JSON array = parse("[1,2,3]");
    const JSON dict = parse(R"({"a":{"b":1},"n":null})");

    const JSON keyOfArray = array[u"x"_s];
    EXPECT_EQ(keyOfArray.type(), JSON::Type::Null);
    EXPECT_EQ(keyOfArray.error()->code(), JSON::ErrorWrongType);
    EXPECT_EQ(message(keyOfArray), u"Dictionary[\"x\"] failure, It is not an dictionary"_s);
    EXPECT_EQ(message(dict[0]), u"Array[0] failure, It is not an array"_s);
    EXPECT_EQ(array[3].error()->code(), JSON::ErrorIndexOutOfBounds);
    EXPECT_EQ(message(array[3]), u"Array[3] is out of bounds"_s);
    EXPECT_EQ(message(array[-1]), u"Array[-1] is out of bounds"_s);
    EXPECT_EQ(dict[u"zz"_s].error()->code(), JSON::ErrorNotExist);
    EXPECT_EQ(message(dict[u"zz"_s]), u"Dictionary[\"zz\"] does not exist"_s);
    EXPECT_EQ(array[2].intValue(), 3);
    EXPECT_EQ(dict.subscript(u"a"_s, u"b"_s).intValue(), 1);
}

TEST(JSONSubscript, PassesTheFirstFailureAlongAPath)
{
    const JSON dict = parse(R"({"a":{"b":[10,20]},"n":null})");
    const JSON missing = dict[{ u"x"_s, u"y"_s, 0 }];
    EXPECT_EQ(missing.error()->code(), JSON::ErrorNotExist);
    EXPECT_EQ(message(missing), u"Dictionary[\"x\"] does not exist"_s);
    EXPECT_EQ(dict.subscript(u"a"_s, u"b"_s, 1).intValue(), 20);

    // Out of bounds makes a new error rather than passing an older one on.
    EXPECT_EQ(message(dict.subscript(u"a"_s, u"b"_s, 5)), u"Array[5] is out of bounds"_s);

    // A member that is null reads without an error; an empty path too.
    EXPECT_EQ(dict[u"n"_s].type(), JSON::Type::Null);
    EXPECT_FALSE(dict[u"n"_s].error());
    EXPECT_FALSE(dict[QList<SubscriptType> {}].error());

    // A value carrying an error of its own passes it on instead of a new one.
    const JSON unknown = JSON::fromVariant(QVariant(QByteArray("x")));
    EXPECT_EQ(unknown[u"k"_s].error()->code(), JSON::ErrorUnsupportedType);
    EXPECT_EQ(unknown[0].error()->code(), JSON::ErrorUnsupportedType);
}

TEST(JSONSubscript, ChangesNothingWhenAWriteDoesNotFit)
{
    JSON text(u"abc"_s);
    text.setSubscript(u"k"_s, JSON(1));
    EXPECT_EQ(text.string(), u"abc"_s);

    JSON array = parse("[1,2,3]");
    array.setSubscript(5, JSON(9));
    array.setSubscript(-1, JSON(9));
    EXPECT_EQ(array.rawData(), QByteArray("[1,2,3]"));
    array.setSubscript(1, JSON(u"two"_s));
    EXPECT_EQ(array.rawData(), QByteArray(R"([1,"two",3])"));

    JSON dict = parse(R"({"a":1})");
    dict.setSubscript(u"a"_s, JSON());
    EXPECT_EQ(dict.rawData(), QByteArray(R"({"a":null})"));
}

TEST(JSONSubscript, WritesAlongPathsAndCreatesOnlyTheFirstMissingMember)
{
    JSON dict = parse(R"({"a":{"b":1,"c":[0,0]}})");
    dict.setSubscript({ u"a"_s, u"b"_s }, JSON(u"w"_s));
    dict.setSubscript({ u"a"_s, u"c"_s, 1 }, JSON(true));
    EXPECT_EQ(dict.rawData(), QByteArray(R"({"a":{"b":"w","c":[0,true]}})"));

    dict.setSubscript({ u"x"_s, u"y"_s, u"z"_s }, JSON(5));
    EXPECT_EQ(dict[u"x"_s].type(), JSON::Type::Null);
    EXPECT_FALSE(dict[u"x"_s].error());
    EXPECT_EQ(dict.count(), 2);

    // Copies never see each other's writes.
    const JSON before = dict;
    dict.setSubscript({ u"a"_s, u"b"_s }, JSON(2));
    EXPECT_EQ(before.subscript(u"a"_s, u"b"_s).string(), u"w"_s);
    EXPECT_EQ(dict.subscript(u"a"_s, u"b"_s).intValue(), 2);
}
