#include "platform/linkwork/JSONSerialization.h"

#include <gtest/gtest.h>

#include <cmath>

using namespace Tickerly::Linkwork;

using namespace Qt::Literals::StringLiterals;

TEST(JSONSerialization, RefusesBareScalarsUnlessFragmentsAreAllowed)
{
    for (const char* text : { "true", "1", "\"a\"", "null" }) {
        const auto strict
            = JSONSerialization::read(QByteArrayView(text), JSONSerialization::NoReadingOptions);
        ASSERT_TRUE(strict.isError()) << text;
        EXPECT_EQ(strict.error().code(), JSONSerialization::ErrorFragmentNotAllowed);
        EXPECT_TRUE(JSONSerialization::read(QByteArrayView(text), JSONSerialization::AllowFragments)
                        .isOk());
    }
    EXPECT_TRUE(JSONSerialization::read("[1]", JSONSerialization::NoReadingOptions).isOk());
}

TEST(JSONSerialization, RefusesBrokenTextInvalidUtf8AndDeepNesting)
{
    const QByteArray broken[]
        = { "", "{", "[1,]", "{\"a\" 1}", "\"\xff\"", "[\"\xc3\x28\"]", "nul" };
    for (const auto& text : broken) {
        const auto read = JSONSerialization::read(text, JSONSerialization::AllowFragments);
        ASSERT_TRUE(read.isError()) << text.toStdString();
        EXPECT_EQ(read.error().domain(), JSONSerialization::ErrorDomain);
        EXPECT_FALSE(read.error().localizedDescription().isEmpty());
    }
    const QByteArray deep = QByteArray(JSONSerialization::MaxNestingDepth + 1, '[')
        + QByteArray(JSONSerialization::MaxNestingDepth + 1, ']');
    EXPECT_EQ(JSONSerialization::read(deep, 0).error().code(), JSONSerialization::ErrorTooDeep);
    const QByteArray fits = QByteArray(JSONSerialization::MaxNestingDepth, '[')
        + QByteArray(JSONSerialization::MaxNestingDepth, ']');
    EXPECT_TRUE(JSONSerialization::read(fits, 0).isOk());
    // Brackets inside strings do not count.
    EXPECT_TRUE(JSONSerialization::read("[\"" + QByteArray(2000, '[') + "\\\"\"]", 0).isOk());
}

TEST(JSONSerialization, ConvertsDocumentsToQtValues)
{
    const auto result = toJSON(0,
        R"({"d":{"results":[{"Url":"http://a/"}]},"n":-1,"u":18446744073709551615,"f":1.5,"b":true,"z":null,"k":1,"k":2})");
    ASSERT_TRUE(result.isOk());
    const auto dict = result.value().dictionaryValue();
    ASSERT_TRUE(dict);
    EXPECT_EQ(
        dict->value(u"d"_s).toMap().value(u"results"_s).toList().value(0).toMap().value(u"Url"_s),
        QVariant(u"http://a/"_s));
    EXPECT_EQ(dict->value(u"n"_s), QVariant(qint64(-1)));
    EXPECT_EQ(dict->value(u"u"_s), QVariant(std::numeric_limits<quint64>::max()));
    EXPECT_EQ(dict->value(u"f"_s), QVariant(1.5));
    EXPECT_EQ(dict->value(u"b"_s).typeId(), QMetaType::Bool);
    EXPECT_TRUE(dict->contains(u"z"_s));
    EXPECT_TRUE(dict->value(u"z"_s).isNull());
    EXPECT_EQ(dict->value(u"k"_s), QVariant(qint64(2)));

    EXPECT_FALSE(toJSON(0, "[{}]").value().dictionaryValue());
    EXPECT_FALSE(toJSON(JSONSerialization::AllowFragments, "3").value().dictionaryValue());
    EXPECT_TRUE(toJSON(0, "3").isError());
}

TEST(JSONSerialization, WritesOnlyWritableDocumentsAndReplacesBrokenText)
{
    nlohmann::json doc = { { "a", { 1, 2.5, true, nullptr } }, { "s", std::string("ok\xff") } };
    const auto compact = JSONSerialization::write(doc, JSONSerialization::NoWritingOptions);
    ASSERT_TRUE(compact.isOk());
    EXPECT_EQ(compact.value(), QByteArray("{\"a\":[1,2.5,true,null],\"s\":\"ok\xef\xbf\xbd\"}"));
    EXPECT_TRUE(JSONSerialization::write(doc, JSONSerialization::PrettyPrinted)
                    .value()
                    .contains("\n  \"a\""));

    EXPECT_EQ(JSONSerialization::write(nlohmann::json(1), 0).error().code(),
        JSONSerialization::ErrorNotWritable);
    EXPECT_TRUE(JSONSerialization::write(nlohmann::json::array({ std::nan("") }), 0).isError());
    EXPECT_TRUE(JSONSerialization::write({ { "x", { { "y", HUGE_VAL } } } }, 0).isError());
}
