#include "api/NetworkClient.h"

#include "api/APIRequest.h"
#include "api/tests/ClientTestSupport.h"
#include "platform/foundation/network/UrlSessionTesting.h"
#include "platform/linkwork/Chain.h"

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

class NetworkClientTest : public testing::Test {
protected:
    void TearDown() override { UrlSessionTesting::closeIdleConnections(); }

    UrlRequest get(const QString& path, const LoopbackServer& at)
    {
        return APIRequest::GET(path).URLRequest(*Url::fromString(at.baseUrl()));
    }
    Result<JSON> perform(const QString& path)
    {
        return settled(client.performRequest(get(path, server)));
    }

    LoopbackServer server;
    NetworkClient client;
};

} // namespace

TEST_F(NetworkClientTest, TakesAnyJsonReplyWithoutAStringErrorWhateverItsStatus)
{
    server.reply(u"/object"_s, jsonReply(R"({"stories": [1, 2]})"));
    server.reply(u"/missing"_s, jsonReply(R"({"message": "no such page"})", 404));
    server.reply(u"/array"_s, jsonReply(R"([{"error": "inside an element"}])"));
    server.reply(u"/numeric"_s, jsonReply(R"({"error": 42})", 500));

    std::atomic<bool> chainedOnMainThread { true };
    const auto object
        = settled(client.performRequest(get(u"/object"_s, server)) >> [&](const JSON& json) {
              chainedOnMainThread = APITest::onMainThread();
              return json;
          });
    ASSERT_TRUE(object.isOk()) << object.error().description().toStdString();
    EXPECT_EQ(object.value().subscript(u"stories"_s, 1).intValue(), 2);
    EXPECT_FALSE(chainedOnMainThread) << "promises are set on the session's queue";

    for (const QString& path : { u"/missing"_s, u"/array"_s, u"/numeric"_s }) {
        const auto result = perform(path);
        EXPECT_TRUE(result.isOk())
            << path.toStdString() << ": " << result.error().description().toStdString();
    }
    EXPECT_EQ(perform(u"/array"_s).value().type(), JSON::Type::Array);
}

TEST_F(NetworkClientTest, TurnsAStringErrorMemberIntoAnErrorOfItsOwn)
{
    server.reply(u"/described"_s,
        jsonReply(R"({"error": "bad_user", "error_description": "Unknown user."})"));
    server.reply(u"/bare"_s, jsonReply(R"({"error": "busy"})", 200));
    APITest::LogCollector log;

    const auto described = perform(u"/described"_s);
    ASSERT_TRUE(described.isError());
    EXPECT_TRUE(described.error().is(NetworkClient::ErrorDomain, NetworkClient::ErrorReplyError));
    EXPECT_EQ(described.error().userInfo(),
        (QVariantMap { { u"error"_s, u"bad_user"_s }, { u"description"_s, u"Unknown user."_s } }));

    const auto bare = perform(u"/bare"_s);
    ASSERT_TRUE(bare.isError());
    EXPECT_EQ(bare.error().code(), NetworkClient::ErrorReplyError);
    EXPECT_EQ(bare.error().userInfo().value(u"description"_s), QVariant(u""_s));
    EXPECT_TRUE(log.lines().isEmpty()) << log.lines().join(u'\n').toStdString();
}

TEST_F(NetworkClientTest, RefusesEmptyBareAndBrokenReplies)
{
    server.reply(u"/empty"_s, jsonReply(""));
    server.reply(u"/fragment"_s, jsonReply("true"));
    server.reply(u"/broken"_s, jsonReply(R"({"stories": [)"));
    server.reply(u"/html"_s, jsonReply("<html>Service unavailable</html>", 503));
    APITest::LogCollector log;
    for (const QString& path : { u"/empty"_s, u"/fragment"_s, u"/broken"_s, u"/html"_s }) {
        const auto result = perform(path);
        ASSERT_TRUE(result.isError()) << path.toStdString();
        EXPECT_EQ(result.error().domain(), JSONSerialization::ErrorDomain) << path.toStdString();
    }
    EXPECT_TRUE(log.lines().isEmpty()) << log.lines().join(u'\n').toStdString();
}

TEST_F(NetworkClientTest, CarriesAuthorizationAcrossARedirectOnlyToTheSameOrigin)
{
    LoopbackServer elsewhere;
    server.reply(u"/same"_s, redirectTo(u"/landing"_s, 301));
    server.reply(u"/port"_s, redirectTo(elsewhere.url(u"/landing"_s), 307));
    server.reply(u"/landing"_s, jsonReply(R"({"here": true})"));
    elsewhere.reply(u"/landing"_s, jsonReply(R"({"elsewhere": true})"));

    for (const QString& path : { u"/same"_s, u"/port"_s }) {
        auto request = APIRequest::GET(path);
        request.setHeaderValue(u"Bearer secret"_s, u"Authorization"_s);
        const auto result = settled(
            client.performRequest(request.URLRequest(*Url::fromString(server.baseUrl()))));
        EXPECT_TRUE(result.isOk()) << path.toStdString();
    }
    ASSERT_EQ(server.requestCount(u"/landing"_s), 1);
    EXPECT_EQ(server.requests().at(1).header("Authorization"), QByteArray("Bearer secret"));
    EXPECT_EQ(server.requests().at(1).header("Accept-Language"), QByteArray("en-US"));
    ASSERT_EQ(elsewhere.requests().size(), 1);
    EXPECT_TRUE(elsewhere.requests().at(0).header("Authorization").isEmpty())
        << "sent to another port";
    EXPECT_EQ(elsewhere.requests().at(0).header("Accept-Language"), QByteArray("en-US"));
}

TEST_F(NetworkClientTest, EndsRunningRequestsOnCancelAndRefusesLaterOnesAtOnce)
{
    auto slow = jsonReply("{}");
    slow.delayMs = 5000;
    server.reply(u"/slow"_s, slow);
    APITest::LogCollector log;

    const auto first = client.performRequest(get(u"/slow"_s, server));
    const auto second = client.performRequest(get(u"/slow"_s, server));
    client.cancelAllRequests();
    for (const auto& promise : { first, second }) {
        const auto result = settled(promise);
        ASSERT_TRUE(result.isError());
        EXPECT_TRUE(result.error().is(UrlError::domain, UrlError::Cancelled));
    }

    const int sent = server.requests().size();
    const auto later = client.performRequest(get(u"/slow"_s, server));
    ASSERT_TRUE(later.isResolved()) << "resolved before performRequest returns";
    EXPECT_TRUE(later.value()->error().is(UrlError::domain, UrlError::Cancelled));
    EXPECT_EQ(server.requests().size(), sent);

    const QStringList lines = log.lines();
    ASSERT_EQ(lines.size(), 3) << lines.join(u'\n').toStdString();
    for (const QString& line : lines)
        EXPECT_TRUE(line.startsWith(u"Request failed: "_s)) << line.toStdString();
}

TEST_F(NetworkClientTest, LetsRunningRequestsFinishWhenItGoesAway)
{
    auto slow = jsonReply(R"({"late": true})");
    slow.delayMs = 200;
    server.reply(u"/slow"_s, slow);
    auto owned = std::make_unique<NetworkClient>();
    const auto promise = owned->performRequest(get(u"/slow"_s, server));
    owned.reset();
    const auto result = settled(promise);
    ASSERT_TRUE(result.isOk()) << result.error().description().toStdString();
    EXPECT_TRUE(result.value()[u"late"_s].boolValue());
}

TEST_F(NetworkClientTest, RefusesRepliesPastFourMebibytesWhateverTheRequestAllows)
{
    QByteArray big = "[\"";
    big += QByteArray(NetworkClient::maximumResponseSize, 'x');
    big += "\"]";
    auto reply = jsonReply(big);
    reply.chunked = true;
    server.reply(u"/big"_s, reply);
    server.reply(u"/small"_s, jsonReply(R"(["fits"])"));

    UrlRequest request = get(u"/big"_s, server);
    request.maximumBodySize = 64 * 1024 * 1024;
    const auto result = settled(client.performRequest(request));
    ASSERT_TRUE(result.isError());
    EXPECT_TRUE(result.error().is(UrlError::domain, UrlError::DataLengthExceedsMaximum))
        << result.error().description().toStdString();

    request = get(u"/small"_s, server);
    request.maximumBodySize = 4;
    EXPECT_TRUE(settled(client.performRequest(request)).isError())
        << "a tighter cap of the request stays";
}

TEST_F(NetworkClientTest, ReportsTransportFailuresWithTheSessionsError)
{
    int closedPort = 0;
    {
        LoopbackServer gone;
        closedPort = gone.port();
    }
    APITest::LogCollector log;
    const auto result = settled(client.performRequest(APIRequest::GET(u"/x"_s).URLRequest(
        *Url::fromString(u"http://127.0.0.1:"_s + QString::number(closedPort)))));
    ASSERT_TRUE(result.isError());
    EXPECT_EQ(result.error().domain(), UrlError::domain);
    ASSERT_EQ(log.lines().size(), 1);
    EXPECT_EQ(log.lines().first(), u"Request failed: "_s + result.error().description());
}
