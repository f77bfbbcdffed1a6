#include "platform/foundation/network/HttpResponseParser_p.h"

#include <gtest/gtest.h>

using namespace Tickerly::Foundation;

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
        "Content-Type: text/html\r\n", "Set-Cookie: a=1\r\n", "set-cookie: b=2\r\n",
        "X-Long: one\r\n", "\t two\r\n", "\r\n", "X-Trailer: late\r\n" });
    EXPECT_TRUE(parser.complete);
    EXPECT_EQ(parser.statusCode, 404);
    EXPECT_EQ(parser.fields.value(u"content-type"_s), u"text/html"_s);
    EXPECT_EQ(parser.fields.value(u"Set-Cookie"_s), u"a=1, b=2"_s);
    EXPECT_EQ(parser.fields.value(u"X-Long"_s), u"one two"_s);
    EXPECT_TRUE(parser.fields.value(u"X-Trailer"_s).isNull());
}

TEST(HttpResponseParser, SkipsLinesThatAreNoFields)
{
    const auto parser = parse({ "HTTP/2 30x\r\n", ": no name\r\n", "no colon\r\n",
        "Bad Name: v\r\n", "Location:   /next  \r\n", "\r\n" });
    EXPECT_EQ(parser.statusCode, 0);
    EXPECT_FALSE(parser.complete); // no usable status: not an answer
    EXPECT_EQ(parser.fields.size(), 1);
    EXPECT_EQ(parser.fields.value(u"Location"_s), u"/next"_s);
}

// Header lines reach the one network thread every session shares: a hostile answer's 300 KiB of
// fields (as many as the network library lets through) must not hold that thread for seconds.
// Unbounded, a flood like this held the network thread for about ten seconds: what is kept of
// it stays small, whatever comes.
TEST(HttpResponseParser, AFloodOfFieldsKeepsTheFirstOnesWithinBounds)
{
    for (int kind = 0; kind < 3; ++kind) {
        HttpResponseParser parser;
        parser.feedLine("HTTP/1.1 200 OK\r\n");
        parser.feedLine("Content-Type: text/xml\r\n");
        qsizetype fed = 0;
        for (int i = 0; fed < 300 * 1024; ++i) {
            const QByteArray line = kind == 0 ? "X-" + QByteArray::number(i) + ":v\r\n"
                : kind == 1                   ? QByteArray("Set-Cookie:v\r\n")
                                              : QByteArray(" v\r\n");
            parser.feedLine(line);
            fed += line.size();
        }
        parser.feedLine("\r\n");
        EXPECT_TRUE(parser.complete);
        EXPECT_EQ(parser.statusCode, 200);
        EXPECT_TRUE(parser.fields.value(u"content-type"_s).startsWith(u"text/xml"_s));
        EXPECT_LE(parser.fields.size(), 256);
        for (const auto& field : parser.fields.fields())
            EXPECT_LE(field.second.size(), 16 * 1024 + 64);
    }
}
