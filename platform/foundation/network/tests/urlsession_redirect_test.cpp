#include "platform/foundation/network/UrlSession.h"
#include "platform/foundation/network/tests/CompletionRecorder.h"
#include "platform/foundation/network/UrlSessionTesting.h"
#include "testsupport/LoopbackServer.h"
#include "testsupport/TestSupport.h"

#include <gtest/gtest.h>

#include <mutex>

using namespace Tickerly;
using namespace Tickerly::Foundation;
using namespace Tickerly::TestSupport;

using namespace Qt::Literals::StringLiterals;
using TestSupport::bodyReply;
using TestSupport::LoopbackServer;
using TestSupport::redirectTo;
using TestSupport::ScriptedReply;

namespace {

class UrlSessionRedirectTest : public testing::Test {
protected:
    void SetUp() override
    {
        // Made-up hosts, all answered by the one loopback server.
        UrlSessionTesting::mapToLoopback(u"http"_s, u"one.example.test"_s, 80, server.port());
        UrlSessionTesting::mapToLoopback(u"http"_s, u"two.example.test"_s, 80, server.port());
        UrlSessionTesting::mapToLoopback(u"http"_s, u"one.example.test"_s, 8080, server.port());
        UrlSessionTesting::mapToLoopback(u"https"_s, u"secure.example.test"_s, 443, server.port());
    }
    void TearDown() override
    {
        UrlSessionTesting::removeLoopbackMappings();
        UrlSessionTesting::closeIdleConnections();
    }

    struct Outcome {
        std::optional<QByteArray> data;
        std::optional<UrlResponse> response;
        std::optional<Error> error;
    };
    Outcome load(const std::shared_ptr<UrlSession>& session, UrlRequest request)
    {
        CompletionRecorder result;
        session->dataTask(request, result.handler())->resume();
        EXPECT_TRUE(TestSupport::waitFor([&] { return result.done(); }));
        std::lock_guard lock(result.mutex);
        EXPECT_EQ(result.calls, 1);
        return { result.data, result.response, result.error };
    }

    LoopbackServer server;
};

UrlRequest requestFor(const QString& text) { return UrlRequest(*Url::fromString(text)); }

} // namespace

TEST_F(UrlSessionRedirectTest, FollowsAChainAcrossHostsKeepingTheHostHeaderOfEachHop)
{
    server.reply(u"/a"_s, redirectTo(u"http://two.example.test/b"_s, 301));
    server.reply(u"/b"_s, redirectTo(u"/c?x=1"_s, 307));
    server.reply(u"/c"_s, bodyReply("end of chain"));
    const Outcome result = load(UrlSession::create(), requestFor(u"http://one.example.test/a"_s));
    ASSERT_FALSE(result.error.has_value()) << result.error->description().toStdString();
    EXPECT_EQ(result.data, QByteArray("end of chain"));
    EXPECT_EQ(result.response->statusCode, 200);
    EXPECT_EQ(result.response->url.absoluteString(), u"http://two.example.test/c?x=1"_s);
    const auto requests = server.requests();
    ASSERT_EQ(requests.size(), 3);
    EXPECT_EQ(requests[0].header("Host"), QByteArray("one.example.test"));
    EXPECT_EQ(requests[1].header("Host"), QByteArray("two.example.test"));
    EXPECT_EQ(requests[2].path, QByteArray("/c?x=1"));
}

TEST_F(UrlSessionRedirectTest, CarriesAuthorizationOnlyToTheOriginItWasGivenFor)
{
    server.reply(u"/same"_s, redirectTo(u"/landing"_s));
    server.reply(u"/port"_s, redirectTo(u"http://one.example.test:8080/landing"_s));
    server.reply(u"/host"_s, redirectTo(u"http://two.example.test/landing"_s));
    server.reply(u"/landing"_s, bodyReply("here"));
    auto session = UrlSession::create();
    for (const QString& path : { u"/same"_s, u"/port"_s, u"/host"_s }) {
        UrlRequest request = requestFor(u"http://one.example.test"_s + path);
        request.setValue(u"Bearer secret"_s, u"Authorization"_s);
        const Outcome result = load(session, request);
        EXPECT_EQ(result.data, QByteArray("here"));
    }
    const auto requests = server.requests();
    ASSERT_EQ(requests.size(), 6);
    EXPECT_EQ(requests[1].header("Authorization"), QByteArray("Bearer secret"));
    EXPECT_TRUE(requests[3].header("Authorization").isEmpty()) << "sent to another port";
    EXPECT_TRUE(requests[5].header("Authorization").isEmpty()) << "sent to another host";
}

TEST_F(UrlSessionRedirectTest, ADelegateThatAddsAuthorizationBackStillCannotSendItElsewhere)
{
    class Readding : public UrlSessionDelegate {
    public:
        std::optional<UrlRequest> willPerformHttpRedirection(UrlSession&, UrlSessionDataTask& task,
            const UrlResponse&, UrlRequest newRequest) override
        {
            newRequest.setValue(
                task.currentRequest().value(u"Authorization"_s), u"Authorization"_s);
            return newRequest;
        }
    };
    server.reply(u"/host"_s, redirectTo(u"http://two.example.test/landing"_s));
    server.reply(u"/landing"_s, bodyReply("here"));
    UrlRequest request = requestFor(u"http://one.example.test/host"_s);
    request.setValue(u"Basic a2V5OmtleQ=="_s, u"Authorization"_s);
    const Outcome result = load(UrlSession::create({}, std::make_shared<Readding>()), request);
    EXPECT_EQ(result.data, QByteArray("here"));
    ASSERT_EQ(server.requests().size(), 2);
    EXPECT_TRUE(server.requests()[1].header("Authorization").isEmpty());
}

TEST_F(UrlSessionRedirectTest, ADelegateThatStopsARedirectGetsTheRedirectAsTheAnswer)
{
    class Stopping : public UrlSessionDelegate {
    public:
        std::optional<UrlRequest> willPerformHttpRedirection(
            UrlSession&, UrlSessionDataTask&, const UrlResponse&, UrlRequest) override
        {
            return std::nullopt;
        }
    };
    ScriptedReply moved = redirectTo(u"/elsewhere"_s);
    moved.body = "moved";
    server.reply(u"/a"_s, moved);
    const Outcome result = load(
        UrlSession::create({}, std::make_shared<Stopping>()), requestFor(server.url(u"/a"_s)));
    EXPECT_FALSE(result.error.has_value());
    EXPECT_EQ(result.response->statusCode, 302);
    EXPECT_EQ(result.data, QByteArray("moved"));
    EXPECT_EQ(server.requestCount(u"/elsewhere"_s), 0);
}

TEST_F(UrlSessionRedirectTest, NeverFollowsFromHttpsDownToHttpOrToOtherSchemes)
{
    server.reply(u"/secure"_s, redirectTo(u"http://one.example.test/plain"_s));
    server.reply(u"/local"_s, redirectTo(u"file:///etc/passwd"_s));
    server.reply(u"/upgrade"_s, redirectTo(u"https://secure.example.test/landing"_s));
    server.reply(u"/landing"_s, bodyReply("secure landing"));
    server.reply(u"/plain"_s, bodyReply("plain"));
    auto session = UrlSession::create();

    const Outcome down = load(session, requestFor(u"https://secure.example.test/secure"_s));
    ASSERT_TRUE(down.error.has_value());
    EXPECT_TRUE(down.error->is(UrlError::domain, UrlError::SecureConnectionRequired));
    EXPECT_FALSE(down.data.has_value());
    EXPECT_EQ(server.requestCount(u"/plain"_s), 0);

    const Outcome local = load(session, requestFor(u"http://one.example.test/local"_s));
    ASSERT_TRUE(local.error.has_value());
    EXPECT_TRUE(local.error->is(UrlError::domain, UrlError::UnsupportedUrl));

    const Outcome up = load(session, requestFor(u"http://one.example.test/upgrade"_s));
    EXPECT_FALSE(up.error.has_value());
    EXPECT_EQ(up.data, QByteArray("secure landing"));
}

TEST_F(UrlSessionRedirectTest, EndsARedirectLoop)
{
    server.reply(u"/loop"_s, redirectTo(u"/loop"_s));
    const Outcome result = load(UrlSession::create(), requestFor(server.url(u"/loop"_s)));
    ASSERT_TRUE(result.error.has_value());
    EXPECT_TRUE(result.error->is(UrlError::domain, UrlError::TooManyRedirects));
    EXPECT_EQ(server.requestCount(u"/loop"_s), 17);
}

TEST_F(UrlSessionRedirectTest, ASeeOtherTurnsAPostIntoAGetWithoutBody)
{
    server.reply(u"/form"_s, redirectTo(u"/result"_s, 303));
    server.reply(u"/result"_s, bodyReply("thanks"));
    UrlRequest request = requestFor(server.url(u"/form"_s));
    request.httpMethod = u"POST"_s;
    request.httpBody = "a=1&";
    request.setValue(u"application/x-www-form-urlencoded"_s, u"Content-Type"_s);
    const Outcome result = load(UrlSession::create(), request);
    EXPECT_EQ(result.data, QByteArray("thanks"));
    ASSERT_EQ(server.requests().size(), 2);
    EXPECT_EQ(server.requests()[1].method, QByteArray("GET"));
    EXPECT_TRUE(server.requests()[1].body.isEmpty());
}
