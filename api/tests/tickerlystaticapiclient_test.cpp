#include "api/TickerlyStaticAPIClient.h"

#include "api/tests/ClientTestSupport.h"
#include "platform/foundation/network/UrlSessionTesting.h"

using namespace Tickerly;
using namespace Tickerly::Foundation;
using namespace Tickerly::Linkwork;
using namespace Tickerly::API;
using namespace Tickerly::TestSupport;

using namespace Qt::Literals::StringLiterals;
using APITest::jsonReply;
using APITest::settled;
using TestSupport::LoopbackServer;
using TestSupport::redirectTo;

namespace {

class TickerlyStaticAPIClientTest : public testing::Test {
protected:
    void TearDown() override
    {
        UrlSessionTesting::removeLoopbackMappings();
        UrlSessionTesting::closeIdleConnections();
    }

    LoopbackServer server;
    TickerlyStaticAPIClient api { *Url::fromString(server.url(u"/app-static"_s)) };
};

FeedReference feed(const QString& url, qint64 hits)
{
    return FeedReference { *Url::fromString(url), hits };
}

} // namespace

namespace Tickerly::API {

void PrintTo(const FeedReference& r, std::ostream* os)
{
    *os << "{" << r.url.absoluteString().toStdString() << ", " << r.hits << "}";
}

} // namespace Tickerly::API

TEST_F(TickerlyStaticAPIClientTest, ReadsPopularFeedsThatHaveALinkAndANumberOfHits)
{
    server.reply(u"/app-static/popular.json"_s, jsonReply(R"([
        {"url": "http://feeds.example.test/one", "hits": 12},
        {"url": "http://feeds.example.test/two"},
        {"url": "http://feeds.example.test/three", "hits": "40"},
        {"url": 5, "hits": 5},
        {"url": "http://feeds.example.test/four", "hits": 1e30}
    ])"));
    const auto result = settled(api.topFeeds());
    ASSERT_TRUE(result.isOk()) << result.error().description().toStdString();
    // Out-of-range counts saturate rather than wrap.
    EXPECT_EQ(result.value(),
        (QList<FeedReference> { feed(u"http://feeds.example.test/one"_s, 12),
            feed(u"http://feeds.example.test/four"_s, std::numeric_limits<qint64>::max()) }));

    const auto requests = server.requests();
    ASSERT_EQ(requests.size(), 1);
    EXPECT_EQ(requests[0].method, QByteArray("GET"));
    EXPECT_EQ(requests[0].path, QByteArray("/app-static/popular.json"));
    EXPECT_EQ(requests[0].header("Accept-Language"), QByteArray("en-US"));
    EXPECT_TRUE(requests[0].body.isEmpty());
}

TEST_F(TickerlyStaticAPIClientTest, HandsEveryKindOfPopularFeedsAnswerToTheCaller)
{
    server.reply(u"/app-static/popular.json"_s, redirectTo(u"/app-static/v2/popular.json"_s, 301));
    server.reply(u"/app-static/v2/popular.json"_s,
        jsonReply(R"([{"url": "http://f.example.test/", "hits": 1}])"));
    const auto redirected = settled(api.topFeeds());
    ASSERT_TRUE(redirected.isOk());
    EXPECT_EQ(redirected.value(), QList<FeedReference> { feed(u"http://f.example.test/"_s, 1) });

    server.reply(u"/app-static/popular.json"_s,
        jsonReply(R"({"url": "http://f.example.test/", "hits": 1})"));
    const auto object = settled(api.topFeeds());
    ASSERT_TRUE(object.isOk());
    EXPECT_TRUE(object.value().isEmpty());

    server.reply(u"/app-static/popular.json"_s, jsonReply(R"({"error": "gone"})", 410));
    const auto failed = settled(api.topFeeds());
    ASSERT_TRUE(failed.isError());
    EXPECT_TRUE(failed.error().is(NetworkClient::ErrorDomain, NetworkClient::ErrorReplyError));

    for (const QByteArray& body : { QByteArray(), QByteArray("<html>") }) {
        server.reply(u"/app-static/popular.json"_s, jsonReply(body));
        const auto unreadable = settled(api.topFeeds());
        ASSERT_TRUE(unreadable.isError());
        EXPECT_EQ(unreadable.error().domain(), JSONSerialization::ErrorDomain);
    }
}

TEST_F(TickerlyStaticAPIClientTest, ReadsNamesOnlyFromAnObjectOfStrings)
{
    server.reply(u"/app-static/names.json"_s,
        jsonReply(
            R"({"http://feeds.example.test/one": "One", "http://feeds.example.test/two": "Zwei ü"})"));
    const auto names = settled(api.names());
    ASSERT_TRUE(names.isOk()) << names.error().description().toStdString();
    EXPECT_EQ(names.value(),
        (QMap<QString, QString> { { u"http://feeds.example.test/one"_s, u"One"_s },
            { u"http://feeds.example.test/two"_s, u"Zwei ü"_s } }));
    EXPECT_EQ(server.requests().at(0).path, QByteArray("/app-static/names.json"));

    server.reply(u"/app-static/names.json"_s, jsonReply("{}"));
    const auto empty = settled(api.names());
    ASSERT_TRUE(empty.isOk());
    EXPECT_TRUE(empty.value().isEmpty());

    // Never a partial table.
    for (const QByteArray& body : { QByteArray(R"({"a": "A", "b": 2})"), QByteArray(R"(["A"])") }) {
        server.reply(u"/app-static/names.json"_s, jsonReply(body));
        const auto refused = settled(api.names());
        ASSERT_TRUE(refused.isError()) << body.toStdString();
        EXPECT_TRUE(
            refused.error().is(Linkwork::noValueError().domain(), Linkwork::NoValueErrorCode));
    }

    server.reply(u"/app-static/names.json"_s, jsonReply(R"({"error": "nope", "a": "A"})"));
    EXPECT_TRUE(settled(api.names())
                    .error()
                    .is(NetworkClient::ErrorDomain, NetworkClient::ErrorReplyError));
}

TEST_F(TickerlyStaticAPIClientTest, ReadsTheProductionHostUnlessToldOtherwise)
{
    const Url base = TickerlyStaticAPIClient::defaultBaseURL();
    EXPECT_EQ(base.scheme(), u"http"_s);
    EXPECT_FALSE(base.port());
    EXPECT_EQ(base.path(), u"/app-static"_s);

    UrlSessionTesting::mapToLoopback(u"http"_s, base.host(), 80, server.port());
    server.reply(u"/app-static/names.json"_s, jsonReply("{}"));
    TickerlyStaticAPIClient production;
    ASSERT_TRUE(settled(production.names()).isOk());
    ASSERT_EQ(server.requests().size(), 1);
    EXPECT_EQ(server.requests().at(0).header("Host"), base.host().toUtf8());
}
