#include "api/TickerlyAPIClient.h"

#include "api/tests/ClientTestSupport.h"
#include "platform/foundation/network/UrlSessionTesting.h"

using namespace Tickerly;
using namespace Tickerly::Foundation;
using namespace Tickerly::Linkwork;
using namespace Tickerly::API;
using namespace Tickerly::TestSupport;

using namespace Qt::Literals::StringLiterals;
using APITest::bodyOf;
using APITest::jsonReply;
using APITest::settled;
using TestSupport::LoopbackServer;
using TestSupport::RecordedRequest;
using TestSupport::redirectTo;

namespace {

const QByteArray HotStories = R"([
    {"canonical_url": "http://news.example.test/a", "hits": 4, "title": "kept"},
    {"canonical_url": "http://news.example.test/b"},
    {"hits": 9},
    {"canonical_url": "http://news.example.test/c", "hits": "12"},
    {"canonical_url": "http://[not-a-host", "hits": 3},
    {"canonical_url": "http://news.example.test/d", "hits": 7.0}
])";

class TickerlyAPIClientTest : public testing::Test {
protected:
    void TearDown() override
    {
        UrlSessionTesting::removeLoopbackMappings();
        UrlSessionTesting::closeIdleConnections();
    }

    // The one request the server received for `path`.
    RecordedRequest received(const QString& path)
    {
        for (const auto& request : server.requests()) {
            if (request.path == path.toUtf8())
                return request;
        }
        ADD_FAILURE() << "no request for " << path.toStdString();
        return {};
    }

    LoopbackServer server;
    TickerlyAPIClient api { *Url::fromString(server.url(u"/api/v1"_s)) };
};

StoryReference story(const QString& url, qint64 hits)
{
    return StoryReference { *Url::fromString(url), hits };
}

} // namespace

namespace Tickerly::API {

void PrintTo(const StoryReference& r, std::ostream* os)
{
    *os << "{" << r.url.absoluteString().toStdString() << ", " << r.hits << "}";
}

} // namespace Tickerly::API

TEST_F(TickerlyAPIClientTest, ReadsHotStoriesThatHaveAnAddressAndANumberOfHits)
{
    server.reply(u"/api/v1/stories/hot"_s, jsonReply(HotStories));
    const auto result = settled(api.hotStories());
    ASSERT_TRUE(result.isOk()) << result.error().description().toStdString();
    EXPECT_EQ(result.value(),
        (QList<StoryReference> { story(u"http://news.example.test/a"_s, 4),
            story(u"http://news.example.test/d"_s, 7) }));

    const RecordedRequest request = received(u"/api/v1/stories/hot"_s);
    EXPECT_EQ(request.method, QByteArray("GET"));
    EXPECT_EQ(request.header("Accept-Language"), QByteArray("en-US"));
    EXPECT_TRUE(request.body.isEmpty());
    EXPECT_TRUE(request.header("Content-Type").isEmpty());
}

TEST_F(TickerlyAPIClientTest, HandsEveryKindOfHotStoriesAnswerToTheCaller)
{
    server.reply(u"/api/v1/stories/hot"_s, redirectTo(u"/api/v1/moved/hot"_s));
    server.reply(u"/api/v1/moved/hot"_s, jsonReply(HotStories));
    const auto redirected = settled(api.hotStories());
    ASSERT_TRUE(redirected.isOk());
    EXPECT_EQ(redirected.value().size(), 2);

    server.reply(u"/api/v1/stories/hot"_s, jsonReply(R"({"stories": []})"));
    const auto object = settled(api.hotStories());
    ASSERT_TRUE(object.isOk());
    EXPECT_TRUE(object.value().isEmpty());

    server.reply(u"/api/v1/stories/hot"_s,
        jsonReply(R"({"error": "down", "error_description": "maintenance"})", 503));
    const auto failed = settled(api.hotStories());
    ASSERT_TRUE(failed.isError());
    EXPECT_TRUE(failed.error().is(NetworkClient::ErrorDomain, NetworkClient::ErrorReplyError));
    EXPECT_EQ(failed.error().userInfo().value(u"description"_s), QVariant(u"maintenance"_s));

    for (const QByteArray& body : { QByteArray(), QByteArray("[{\"hits\": 1}") }) {
        server.reply(u"/api/v1/stories/hot"_s, jsonReply(body));
        const auto unreadable = settled(api.hotStories());
        ASSERT_TRUE(unreadable.isError());
        EXPECT_EQ(unreadable.error().domain(), JSONSerialization::ErrorDomain);
    }
}

TEST_F(TickerlyAPIClientTest, ReportsAnOpenedStoryWithTheIndexAsANumber)
{
    server.reply(u"/api/v1/stories/clicked"_s, jsonReply(R"({"status": "ok"})"));
    const auto plain
        = settled(api.storyClicked(u"en"_s, 3, u"http://news.example.test/a?x=1&y"_s, u"USER-1"_s));
    ASSERT_TRUE(plain.isOk()) << plain.error().description().toStdString();

    RecordedRequest request = received(u"/api/v1/stories/clicked"_s);
    EXPECT_EQ(request.method, QByteArray("POST"));
    EXPECT_EQ(request.header("Content-Type"), QByteArray("application/json"));
    EXPECT_EQ(request.header("Accept-Language"), QByteArray("en-US"));
    EXPECT_EQ(bodyOf(request), nlohmann::json::parse(R"({"story": {"language": "en", "index": 3,
        "url": "http://news.example.test/a?x=1&y", "user_id": "USER-1"}})"));

    const auto withCanonical = settled(api.storyClicked(u"de"_s, 0, u"u"_s, u""_s, u"USER-2"_s));
    ASSERT_TRUE(withCanonical.isOk());
    ASSERT_EQ(server.requests().size(), 2);
    EXPECT_EQ(bodyOf(server.requests().at(1)),
        nlohmann::json::parse(R"({"story": {"language": "de", "index": 0,
        "url": "u", "user_id": "USER-2", "canonical_url": ""}})"));

    // A report the server turns down is no success.
    server.reply(u"/api/v1/stories/clicked"_s, jsonReply(R"({"error": "unknown_user"})"));
    const auto refused = settled(api.storyClicked(u"en"_s, 1, u"u"_s, u"nobody"_s));
    ASSERT_TRUE(refused.isError());
    EXPECT_TRUE(refused.error().is(NetworkClient::ErrorDomain, NetworkClient::ErrorReplyError));
}

TEST_F(TickerlyAPIClientTest, ReportsAnAddedFeedWithTheSearchStringOnlyWhenGiven)
{
    server.reply(u"/api/v1/feeds/added"_s, jsonReply("[]"));
    ASSERT_TRUE(
        settled(api.feedAdded(u"en"_s, u"http://feeds.example.test/rss"_s, u"USER-1"_s)).isOk());
    ASSERT_TRUE(
        settled(api.feedAdded(u"en"_s, u"http://feeds.example.test/rss"_s, u""_s, u"USER-1"_s))
            .isOk());

    const auto requests = server.requests();
    ASSERT_EQ(requests.size(), 2);
    EXPECT_EQ(requests[0].method, QByteArray("POST"));
    EXPECT_EQ(requests[0].path, QByteArray("/api/v1/feeds/added"));
    EXPECT_EQ(requests[0].header("Content-Type"), QByteArray("application/json"));
    EXPECT_EQ(bodyOf(requests[0]), nlohmann::json::parse(R"({"feed": {"language": "en",
        "url": "http://feeds.example.test/rss", "user_id": "USER-1"}})"));
    EXPECT_EQ(bodyOf(requests[1])["feed"]["search_string"], "");
}

TEST_F(TickerlyAPIClientTest, TalksToTheProductionServerUnlessToldOtherwise)
{
    const Url base = TickerlyAPIClient::defaultBaseURL();
    EXPECT_EQ(base.scheme(), u"http"_s);
    EXPECT_EQ(base.port(), 4000);
    EXPECT_EQ(base.path(), u"/api/v1"_s);

    // The production address, answered here.
    UrlSessionTesting::mapToLoopback(u"http"_s, base.host(), 4000, server.port());
    server.reply(u"/api/v1/stories/hot"_s, jsonReply(HotStories));
    TickerlyAPIClient production;
    EXPECT_EQ(production.baseURL(), base);
    ASSERT_TRUE(settled(production.hotStories()).isOk());
    EXPECT_EQ(
        received(u"/api/v1/stories/hot"_s).header("Host"), (base.host() + u":4000"_s).toUtf8());
}
