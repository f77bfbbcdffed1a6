#include "platform/foundation/HttpResponseParser_p.h"

#include <gtest/gtest.h>

using namespace Qt::Literals::StringLiterals;

namespace {

HttpResponseParser parse(std::initializer_list<const char*> lines)
{
    HttpResponseParser parser;
    for (const char* line : lines)
        parser.feedLine(QByteArrayView(line));
    return parser;
}

} // namespace

TEST(HttpResponseParser, KeepsOnlyTheFinalAnswerAfterInterimOnesAndIgnoresTrailers)
{
    const auto parser = parse({ "HTTP/1.1 100 Continue\r\n", "\r\n", "HTTP/1.1 404 Not Found\r\n",
        "Content-Type: text/html\r\n", "Set-Cookie: a=1\r\n", "set-cookie: b=2\r\n", "X-Long: one\r\n",
        "\t two\r\n", "\r\n", "X-Trailer: late\r\n" });
    EXPECT_TRUE(parser.complete);
    EXPECT_EQ(parser.statusCode, 404);
    EXPECT_EQ(parser.fields.value(u"content-type"_s), u"text/html"_s);
    EXPECT_EQ(parser.fields.value(u"Set-Cookie"_s), u"a=1, b=2"_s);
    EXPECT_EQ(parser.fields.value(u"X-Long"_s), u"one two"_s);
    EXPECT_TRUE(parser.fields.value(u"X-Trailer"_s).isNull());
}

TEST(HttpResponseParser, SkipsLinesThatAreNoFields)
{
    const auto parser = parse({ "HTTP/2 30x\r\n", ": no name\r\n", "no colon\r\n", "Bad Name: v\r\n",
        "Location:   /next  \r\n", "\r\n" });
    EXPECT_EQ(parser.statusCode, 0);
    EXPECT_FALSE(parser.complete); // no usable status: not an answer
    EXPECT_EQ(parser.fields.size(), 1);
    EXPECT_EQ(parser.fields.value(u"Location"_s), u"/next"_s);
}
