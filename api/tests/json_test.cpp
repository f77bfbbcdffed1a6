#include "api/JSON.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

using namespace Tickerly::Foundation;
using namespace Tickerly::Linkwork;
using namespace Tickerly::API;

using namespace Qt::Literals::StringLiterals;

namespace {

JSON parse(const char* text, int options = JSONSerialization::AllowFragments)
{
    return JSON::fromData(QByteArrayView(text), options);
}

} // namespace

TEST(JSON, ReadsScalarDocumentsOnlyWhenFragmentsAreAllowed)
{
    EXPECT_EQ(parse("12").type(), JSON::Type::Number);
    EXPECT_EQ(parse("\"a\"").type(), JSON::Type::String);
    EXPECT_EQ(parse("true").type(), JSON::Type::Bool);
    EXPECT_EQ(parse("null").type(), JSON::Type::Null);

    std::optional<Error> error;
    const JSON refused = JSON::fromData("true", JSONSerialization::NoReadingOptions, &error);
    EXPECT_EQ(refused.type(), JSON::Type::Null);
    EXPECT_FALSE(refused.error()); // the reader's error goes only to the out-parameter
    ASSERT_TRUE(error);
    EXPECT_EQ(error->domain(), JSONSerialization::ErrorDomain);

    error.reset();
    const JSON broken = JSON::fromData("{\"a\":", JSONSerialization::AllowFragments, &error);
    EXPECT_EQ(broken.type(), JSON::Type::Null);
    EXPECT_TRUE(error);
    error.reset();
    EXPECT_EQ(JSON::fromData("null", 4, &error).type(), JSON::Type::Null);
    EXPECT_FALSE(error);
}

TEST(JSON, KeepsBooleansApartFromNumbers)
{
    const JSON doc = parse(R"({"t":true,"f":false,"one":1,"zero":0,"d":1.0})");
    EXPECT_EQ(doc[u"t"_s].type(), JSON::Type::Bool);
    EXPECT_EQ(doc[u"f"_s].type(), JSON::Type::Bool);
    EXPECT_EQ(doc[u"one"_s].type(), JSON::Type::Number);
    EXPECT_EQ(doc[u"d"_s].type(), JSON::Type::Number);
    EXPECT_EQ(doc[u"one"_s].bool_(), std::nullopt);
    EXPECT_TRUE(doc[u"one"_s].boolValue());
    EXPECT_FALSE(doc[u"zero"_s].boolValue());
    EXPECT_EQ(doc[u"t"_s].int_(), 1);
    EXPECT_EQ(doc[u"t"_s].stringValue(), u"true"_s);
    EXPECT_EQ(doc[u"f"_s].stringValue(), u"false"_s);

    JSON value;
    value.setInt8Value(1);
    EXPECT_EQ(value.type(), JSON::Type::Number);
    value.setBoolValue(true);
    EXPECT_EQ(value.type(), JSON::Type::Bool);
    EXPECT_EQ(JSON(true).type(), JSON::Type::Bool);
    EXPECT_EQ(JSON(1).type(), JSON::Type::Number);
}

TEST(JSON, ReadsStringsAsNumbersAndBooleansOnlyInDefaultingForms)
{
    EXPECT_EQ(JSON(u"12"_s).int_(), std::nullopt);
    EXPECT_EQ(JSON(u"12"_s).intValue(), 12);
    EXPECT_EQ(JSON(u" 12.7 \n"_s).intValue(), 12);
    EXPECT_EQ(JSON(u"-2.5e1"_s).doubleValue(), -25.0);
    EXPECT_EQ(JSON(u"12abc"_s).intValue(), 0);
    EXPECT_EQ(JSON(u"1e"_s).intValue(), 0);
    EXPECT_EQ(JSON(u""_s).doubleValue(), 0.0);

    for (const auto& yes : { u"Yes"_s, u"true"_s, u"  +007"_s, u"-1"_s, u"t"_s })
        EXPECT_TRUE(JSON(yes).boolValue()) << yes.toStdString();
    for (const auto& no : { u"no"_s, u"000"_s, u""_s, u"false"_s, u"  x1"_s })
        EXPECT_FALSE(JSON(no).boolValue()) << no.toStdString();
}

TEST(JSON, SaturatesNumericConversionsOutOfRange)
{
    const JSON big = parse("1e300");
    EXPECT_EQ(big.int_(), std::numeric_limits<qint64>::max());
    EXPECT_EQ(big.int8Value(), 127);
    EXPECT_EQ(big.uInt32Value(), std::numeric_limits<quint32>::max());
    EXPECT_EQ(big.floatValue(), std::numeric_limits<float>::max());
    EXPECT_EQ(parse("-1e300").int32Value(), std::numeric_limits<qint32>::min());
    EXPECT_EQ(parse("-1").uInt64(), 0u);
    EXPECT_EQ(parse("300").uInt8(), 255);
    EXPECT_EQ(parse("-300").int8(), -128);
    EXPECT_EQ(parse("18446744073709551615").int64(), std::numeric_limits<qint64>::max());
    EXPECT_EQ(parse("18446744073709551615").uInt64(), std::numeric_limits<quint64>::max());
    EXPECT_EQ(JSON(u"1e999"_s).intValue(), std::numeric_limits<qint64>::max());

    JSON nan;
    nan.setDoubleValue(std::nan(""));
    EXPECT_EQ(nan.intValue(), 0);
    EXPECT_EQ(nan.uInt16(), 0);
    EXPECT_FALSE(nan.boolValue());
    EXPECT_FALSE(nan.rawData()); // not writable, never thrown
}

TEST(JSON, GivesNeutralValuesForTheWrongKind)
{
    const JSON null;
    EXPECT_FALSE(null.isEmpty());
    EXPECT_EQ(null.count(), 0);
    EXPECT_EQ(null.stringValue(), u""_s);
    EXPECT_TRUE(null.null());
    EXPECT_EQ(JSON(QList<JSON> { 1 }).stringValue(), u""_s);
    EXPECT_TRUE(parse("{}").isEmpty());
    EXPECT_TRUE(parse("{\"a\":1}").arrayValue().isEmpty());
    EXPECT_EQ(parse("{\"a\":1}").count(), 1);
    EXPECT_EQ(parse("[1,2]").dictionaryValue().size(), 0);
    EXPECT_EQ(parse("[1,2]").count(), 2);
    EXPECT_EQ(JSON(u"x"_s).numberValue(), Number::from(0.0));
    EXPECT_FALSE(parse("[1]").dictionaryObject());
    EXPECT_FALSE(parse("\"a\"").arrayObject());
}

TEST(JSON, MarksUnsupportedObjectsUnknownAndKeepsErrorsThroughAssignments)
{
    JSON unknown = JSON::fromVariant(QVariant(QByteArray("raw")));
    EXPECT_EQ(unknown.type(), JSON::Type::Unknown);
    ASSERT_TRUE(unknown.error());
    EXPECT_EQ(unknown.error()->code(), JSON::ErrorUnsupportedType);
    EXPECT_EQ(unknown.error()->localizedDescription(), u"It is a unsupported type"_s);
    EXPECT_FALSE(unknown.null());
    EXPECT_EQ(unknown.description(), u"unknown"_s);
    EXPECT_FALSE(JSON::fromRawValue(nlohmann::json::binary({ 1 })));
    EXPECT_TRUE(JSON::fromRawValue(nlohmann::json(3)));
    // Unsupported inside a container makes the whole value Unknown.
    EXPECT_EQ(JSON::fromVariant(QVariantList { 1, QVariant(QByteArray("x")) }).type(),
        JSON::Type::Unknown);

    unknown.setStringValue(u"now text"_s);
    EXPECT_EQ(unknown.type(), JSON::Type::String);
    ASSERT_TRUE(unknown.error());
    EXPECT_EQ(unknown.error()->code(), JSON::ErrorUnsupportedType);
}

TEST(JSON, StoresNullForEmptyOptionalsAndForAnyNullAssignment)
{
    JSON value(u"text"_s);
    value.setString(std::nullopt);
    EXPECT_EQ(value.type(), JSON::Type::Null);
    value.setInt(5);
    EXPECT_EQ(value.type(), JSON::Type::Number);
    value.setNull();
    EXPECT_EQ(value.type(), JSON::Type::Null);
    value.setURL(Url::fromString(u"http://a.example/x?y=1"_s));
    EXPECT_EQ(value.string(), u"http://a.example/x?y=1"_s);
}

TEST(JSON, ReadsUrlsEscapingWhatAUrlMayNotHold)
{
    EXPECT_EQ(JSON(u"http://a.example/a b/ü?q=1&r=\"x\""_s).URL()->absoluteString(),
        u"http://a.example/a%20b/%C3%BC?q=1&r=%22x%22"_s);
    EXPECT_EQ(
        JSON(u"http://a.example/%41%zz"_s).URL()->absoluteString(), u"http://a.example/%41%25zz"_s);
    EXPECT_FALSE(JSON(u"http://a#b#c"_s).URL());
    EXPECT_FALSE(JSON(u""_s).URL());
    EXPECT_FALSE(JSON(3).URL());
}

TEST(JSON, BuildsDictionariesArraysAndSequences)
{
    const JSON dict
        = JSON::fromPairs({ { u"k"_s, 1 }, { u"other"_s, true }, { u"k"_s, u"later"_s } });
    EXPECT_EQ(dict[u"k"_s].string(), u"later"_s);
    EXPECT_EQ(dict.count(), 2);

    const JSON array(QList<JSON> { u"a"_s, 2, JSON() });
    const auto pairs = array.generate();
    ASSERT_EQ(pairs.size(), 3);
    EXPECT_EQ(pairs[0].first, u"0"_s);
    EXPECT_EQ(pairs[0].second.string(), u"a"_s);
    EXPECT_EQ(pairs[2].first, u"2"_s);
    EXPECT_EQ(pairs[2].second.type(), JSON::Type::Null);
    EXPECT_TRUE(JSON(u"abc"_s).generate().isEmpty());
    EXPECT_EQ(dict.generate().size(), 2);

    EXPECT_EQ(JSON::typeFromRawValue(6), JSON::Type::Unknown);
    EXPECT_FALSE(JSON::typeFromRawValue(7));
    EXPECT_FALSE(JSON::typeFromRawValue(-1));
}

TEST(JSON, WritesTextWithoutFailingOnBrokenStrings)
{
    const JSON doc = parse(R"({"a":[1,2.5,"x"],"b":null})");
    EXPECT_EQ(doc.rawData(), QByteArray(R"({"a":[1,2.5,"x"],"b":null})"));
    EXPECT_TRUE(doc.rawString()->contains(u'\n'));
    EXPECT_EQ(doc.description(), *doc.rawString());
    EXPECT_FALSE(parse("1").rawData());
    EXPECT_EQ(parse("1").rawString(), u"1"_s);
    EXPECT_EQ(parse("0.1").rawString(), u"0.1"_s);
    EXPECT_EQ(parse("null").description(), u"null"_s);
    EXPECT_EQ(parse("false").description(), u"false"_s);

    // A lone surrogate and raw invalid bytes are written as U+FFFD, never thrown.
    JSON broken = JSON::fromPairs({ { u"s"_s, QString(QChar(0xD800)) } });
    broken.setSubscript(u"raw"_s, JSON(nlohmann::json(std::string("\xff\xfe"))));
    const auto written = broken.rawData();
    ASSERT_TRUE(written);
    EXPECT_TRUE(written->contains("\xef\xbf\xbd"));
}

TEST(JSON, KeepsLoneSurrogatesAsReplacementCharactersNotQuestionMarks)
{
    const QString lone = u"a"_s + QChar(0xD800) + u"b"_s;
    const QString replaced = u"a\uFFFDb"_s;

    JSON text(lone);
    EXPECT_EQ(text.string(), replaced);
    EXPECT_EQ(JSON::fromPairs({ { u"s"_s, JSON(lone) } }).rawData(),
        QByteArray("{\"s\":\"a\xef\xbf\xbd"
                   "b\"}"));

    // Keys too: a key with a lone surrogate is not the key with a "?" in its place.
    JSON dictionary = JSON::fromPairs({ { u"a?b"_s, JSON(1) } });
    const JSON missing = dictionary[lone];
    ASSERT_TRUE(missing.error());
    EXPECT_EQ(missing.error()->code(), JSON::ErrorNotExist);
    dictionary.setSubscript(lone, JSON(2));
    EXPECT_EQ(dictionary[u"a?b"_s].intValue(), 1);
    EXPECT_EQ(dictionary[replaced].intValue(), 2);
}
