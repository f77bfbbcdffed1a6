#include "platform/foundation/network/HttpFreshness_p.h"
#include "platform/foundation/network/ReceivedBody.h"
#include "platform/foundation/network/UrlSession.h"
#include "platform/foundation/network/UrlSessionTesting.h"
#include "platform/foundation/network/tests/CompletionRecorder.h"
#include "testsupport/LoopbackServer.h"
#include "testsupport/TestSupport.h"

#include <QDateTime>
#include <QLocale>

#include <gtest/gtest.h>

#include <atomic>

using namespace Tickerly;
using namespace Tickerly::Foundation;
using namespace Tickerly::TestSupport;

using namespace Qt::Literals::StringLiterals;
using TestSupport::bodyReply;
using TestSupport::LoopbackServer;
using TestSupport::RecordedRequest;
using TestSupport::ScriptedReply;

namespace {

struct CompletionOutcome {
    std::optional<QByteArray> data;
    std::optional<UrlResponse> response;
    std::optional<Error> error;
};

QByteArray httpDate(const QDateTime& time)
{
    return QLocale::c().toString(time.toUTC(), u"ddd, dd MMM yyyy hh:mm:ss 'GMT'"_s).toLatin1();
}

ScriptedReply replyWith(
    const QByteArray& body, std::initializer_list<QPair<QByteArray, QByteArray>> headers)
{
    ScriptedReply reply = bodyReply(body);
    for (const auto& header : headers)
        reply.headers.append(header);
    return reply;
}

class UrlCacheTest : public testing::Test {
protected:
    void SetUp() override { UrlSessionTesting::clearCache(); }
    void TearDown() override
    {
        UrlSessionTesting::moveCacheClock(-moved);
        UrlSessionTesting::clearCache();
        UrlSessionTesting::setCacheCapacity(-1);
        UrlSessionTesting::closeIdleConnections();
    }

    // Runs one GET of `path` through `session` to its end.
    CompletionOutcome get(const std::shared_ptr<UrlSession>& through, const QString& path,
        UrlCachePolicy policy = UrlCachePolicy::UseProtocolDefault,
        const QString& method = u"GET"_s)
    {
        UrlRequest request(*Url::fromString(server.url(path)));
        request.cachePolicy = policy;
        request.httpMethod = method;
        return fetch(through, request);
    }
    CompletionOutcome fetch(const std::shared_ptr<UrlSession>& through, const UrlRequest& request)
    {
        CompletionRecorder recorder;
        through->dataTask(request, recorder.handler())->resume();
        EXPECT_TRUE(TestSupport::waitFor([&] { return recorder.done(); }));
        std::lock_guard lock(recorder.mutex);
        return { recorder.data, recorder.response, recorder.error };
    }

    // Lets every kept answer age `seconds`.
    void age(qint64 seconds)
    {
        moved += seconds;
        UrlSessionTesting::moveCacheClock(seconds);
    }

    LoopbackServer server;
    std::shared_ptr<UrlSession> session = UrlSession::create();
    qint64 moved = 0;
};

} // namespace

TEST(HttpFreshnessTest, ReadsCacheControlAsAPrivateCacheMustAndStaleWhenInDoubt)
{
    auto directives = HttpFreshness::parseCacheControl(u"public, max-age=300"_s);
    EXPECT_EQ(directives.maxAge, 300);
    EXPECT_FALSE(directives.noStore);
    EXPECT_FALSE(directives.noCache);
    // A comma inside a quoted value does not start a directive.
    directives = HttpFreshness::parseCacheControl(u"private=\"a, no-store\", MAX-AGE=\"60\""_s);
    EXPECT_FALSE(directives.noStore);
    EXPECT_EQ(directives.maxAge, 60);
    directives = HttpFreshness::parseCacheControl(u"no-cache=\"Set-Cookie\", no-store"_s);
    EXPECT_TRUE(directives.noCache);
    EXPECT_TRUE(directives.noStore);
    // Malformed, repeated, negative: stale at once.
    EXPECT_EQ(HttpFreshness::parseCacheControl(u"max-age=soon"_s).maxAge, 0);
    EXPECT_EQ(HttpFreshness::parseCacheControl(u"max-age=-5"_s).maxAge, 0);
    EXPECT_EQ(HttpFreshness::parseCacheControl(u"max-age=60, max-age=600"_s).maxAge, 0);
    EXPECT_EQ(HttpFreshness::parseCacheControl(u"max-age"_s).maxAge, 0);
    // Too many digits to count stays a large number, never a wrapped one.
    EXPECT_GT(*HttpFreshness::parseCacheControl(u"max-age=99999999999999999999999"_s).maxAge,
        qint64(1) << 30);
    EXPECT_FALSE(HttpFreshness::parseCacheControl(u",,, ,"_s).maxAge.has_value());
}

TEST(HttpFreshnessTest, ReadsTheThreeDateFormsAndRefusesEverythingElse)
{
    const qint64 expected = 784111777; // 1994-11-06 08:49:37 GMT
    EXPECT_EQ(HttpFreshness::parseHttpDate(u"Sun, 06 Nov 1994 08:49:37 GMT"_s), expected);
    EXPECT_EQ(HttpFreshness::parseHttpDate(u"Sunday, 06-Nov-94 08:49:37 GMT"_s), expected);
    EXPECT_EQ(HttpFreshness::parseHttpDate(u"Sun Nov  6 08:49:37 1994"_s), expected);
    for (const QString& bad : { u""_s, u"0"_s, u"-1"_s, u"Sun, 31 Feb 1994 08:49:37 GMT"_s,
             u"Sun, 06 Nov 1994 25:49:37 GMT"_s, u"Sun, 06 Nov 1994 08:49:37 CET"_s,
             u"Sun, 06 Nox 1994 08:49:37 GMT"_s, u"Sun, 6 Nov 1994 08:49 GMT"_s })
        EXPECT_FALSE(HttpFreshness::parseHttpDate(bad).has_value()) << bad.toStdString();
}

TEST(HttpFreshnessTest, LifetimeAndAgeFollowMaxAgeOverExpiresAndCountTheTimeOnTheWay)
{
    HttpHeaderFields fields { { u"Date"_s, u"Sun, 06 Nov 1994 08:49:37 GMT"_s },
        { u"Expires"_s, u"Sun, 06 Nov 1994 09:49:37 GMT"_s } };
    EXPECT_EQ(HttpFreshness::freshnessLifetime(fields), 3600);
    fields.setValue(u"Cache-Control"_s, u"max-age=10"_s);
    EXPECT_EQ(HttpFreshness::freshnessLifetime(fields), 10);
    // An Expires that cannot be read, or one before the Date: already expired.
    EXPECT_EQ(HttpFreshness::freshnessLifetime({ { u"Expires"_s, u"0"_s } }), 0);
    EXPECT_EQ(HttpFreshness::freshnessLifetime({ { u"Date"_s, u"Sun, 06 Nov 1994 08:49:37 GMT"_s },
                  { u"Expires"_s, u"Sat, 05 Nov 1994 08:49:37 GMT"_s } }),
        0);
    EXPECT_EQ(HttpFreshness::freshnessLifetime({}), 0);

    const qint64 date = 784111777;
    const HttpHeaderFields aged { { u"Date"_s, u"Sun, 06 Nov 1994 08:49:37 GMT"_s },
        { u"Age"_s, u"30"_s } };
    // Asked 2 s before the Date, came 5 s after it, 100 s ago: the larger of the two views of
    // its age at arrival (5; 30 + 7) and the time since.
    EXPECT_EQ(HttpFreshness::currentAge(aged, date - 2, date + 5, date + 105), 37 + 100);
    // A Date in the future or an Age that is not a number never makes it younger than 0.
    const HttpHeaderFields odd { { u"Date"_s, u"Sun, 06 Nov 2094 08:49:37 GMT"_s },
        { u"Age"_s, u"-4"_s } };
    EXPECT_EQ(HttpFreshness::currentAge(odd, date, date, date), 0);
}

TEST(ReceivedBodyTest, BodiesComeOutWholeWhateverTheirPiecesAndAnnouncedLength)
{
    QByteArray source(3 * 1024 * 1024 + 17, Qt::Uninitialized);
    for (qsizetype i = 0; i < source.size(); ++i)
        source[i] = char(i * 131 % 251);
    for (const qint64 announced : { qint64(-1), qint64(0), qint64(1000), source.size() }) {
        for (const qsizetype pieceSize : { qsizetype(1), qsizetype(7), qsizetype(16 * 1024) }) {
            const qsizetype size = pieceSize < 1024 ? 70000 : source.size();
            ReceivedBody body;
            body.expect(announced);
            for (qsizetype at = 0; at < size; at += pieceSize)
                body.append(source.constData() + at, std::min(pieceSize, size - at));
            EXPECT_EQ(body.size(), size);
            const QByteArray whole = body.take();
            EXPECT_TRUE(whole == source.first(size))
                << "announced " << announced << ", pieces of " << pieceSize;
            EXPECT_TRUE(body.isEmpty());
            EXPECT_TRUE(body.take().isEmpty());
        }
    }
    // Room is made once, up front, and only before anything arrived.
    ReceivedBody announced;
    announced.expect(100000);
    announced.append(source.constData(), 50000);
    announced.expect(10);
    announced.append(source.constData() + 50000, 50000);
    const QByteArray whole = announced.take();
    EXPECT_TRUE(whole == source.first(100000));
    EXPECT_EQ(whole.capacity(), 100000);
}

TEST(TransferLimitTest, TransfersLeaveDescriptorsForTheStoreAndIconsAndStopWhereTheyStopPaying)
{
    for (const qint64 descriptors : { 256, 512, 1024, 4096 }) {
        const int limit = UrlSessionTesting::transferLimitFor(descriptors);
        EXPECT_GE(limit, 1);
        if (descriptors >= 1024) {
            // Two descriptors a transfer at worst (a dual-stack connect), 64 kept connections,
            // and a quarter of the descriptors left for the rest of the program.
            EXPECT_LE(limit * 2 + 64 + descriptors / 4, descriptors) << descriptors;
        }
    }
    EXPECT_GE(UrlSessionTesting::transferLimitFor(1024), 128);
    EXPECT_EQ(UrlSessionTesting::transferLimitFor(20000), 512);
    EXPECT_EQ(UrlSessionTesting::transferLimitFor(-1), 512);
}

TEST_F(UrlCacheTest, AFreshAnswerIsReusedWithoutAskingUntilItsLifetimeEnds)
{
    server.reply(u"/page"_s, replyWith("<html>page</html>", { { "Cache-Control", "max-age=60" } }));
    server.reply(u"/picture"_s,
        replyWith("PNG",
            { { "Date", httpDate(QDateTime::currentDateTimeUtc()) },
                { "Expires", httpDate(QDateTime::currentDateTimeUtc().addSecs(120)) } }));

    for (int round = 0; round < 3; ++round) {
        const CompletionOutcome page = get(session, u"/page"_s);
        ASSERT_TRUE(page.data.has_value());
        EXPECT_EQ(*page.data, "<html>page</html>");
        EXPECT_EQ(page.response->statusCode, 200);
        EXPECT_EQ(page.response->value(u"Cache-Control"_s), u"max-age=60"_s);
        EXPECT_EQ(*get(session, u"/picture"_s).data, "PNG");
    }
    EXPECT_EQ(server.requestCount(u"/page"_s), 1);
    EXPECT_EQ(server.requestCount(u"/picture"_s), 1);

    // Another session of the process shares what is kept.
    EXPECT_EQ(*get(UrlSession::create(), u"/page"_s).data, "<html>page</html>");
    EXPECT_EQ(server.requestCount(u"/page"_s), 1);

    age(61);
    EXPECT_EQ(*get(session, u"/page"_s).data, "<html>page</html>");
    EXPECT_EQ(server.requestCount(u"/page"_s), 2);
    EXPECT_EQ(server.requestCount(u"/picture"_s), 1);
    age(60);
    get(session, u"/picture"_s);
    EXPECT_EQ(server.requestCount(u"/picture"_s), 2);
}

TEST_F(UrlCacheTest, AStaleAnswerIsAskedAboutWithItsValidatorsAndA304KeepsItsBody)
{
    std::atomic<int> notModified { 0 };
    server.replyWith(u"/etag"_s, [&](const RecordedRequest& request) {
        if (request.header("If-None-Match") == "\"v1\"") {
            ++notModified;
            ScriptedReply same;
            same.status = 304;
            same.headers = { { "ETag", "\"v1\"" }, { "Cache-Control", "max-age=30" },
                { "X-Round", "second" } };
            return same;
        }
        return replyWith("first body",
            { { "ETag", "\"v1\"" }, { "Cache-Control", "no-cache" }, { "X-Round", "first" } });
    });
    server.replyWith(u"/dated"_s, [&](const RecordedRequest& request) {
        if (request.header("If-Modified-Since") == "Sun, 06 Nov 1994 08:49:37 GMT") {
            ++notModified;
            ScriptedReply same;
            same.status = 304;
            return same;
        }
        return replyWith("dated body", { { "Last-Modified", "Sun, 06 Nov 1994 08:49:37 GMT" } });
    });

    const CompletionOutcome first = get(session, u"/etag"_s);
    EXPECT_EQ(*first.data, "first body");
    // no-cache: kept, yet asked about every time; the 304's fields replace the kept ones.
    const CompletionOutcome second = get(session, u"/etag"_s);
    ASSERT_TRUE(second.data.has_value());
    EXPECT_EQ(*second.data, "first body");
    EXPECT_EQ(second.response->statusCode, 200);
    EXPECT_EQ(second.response->value(u"X-Round"_s), u"second"_s);
    EXPECT_EQ(second.response->value(u"Cache-Control"_s), u"max-age=30"_s);
    EXPECT_EQ(server.requestCount(u"/etag"_s), 2);
    // ...which made it fresh for 30 s.
    EXPECT_EQ(*get(session, u"/etag"_s).data, "first body");
    EXPECT_EQ(server.requestCount(u"/etag"_s), 2);

    // Last-Modified without any lifetime: kept, and asked about each time.
    EXPECT_EQ(*get(session, u"/dated"_s).data, "dated body");
    EXPECT_TRUE(server.requests().last().header("If-Modified-Since").isEmpty());
    EXPECT_EQ(*get(session, u"/dated"_s).data, "dated body");
    EXPECT_EQ(server.requestCount(u"/dated"_s), 2);
    EXPECT_EQ(notModified, 2);

    // A streamed task gets a confirmed answer as data, then its end.
    class Collecting : public UrlSessionDelegate {
    public:
        void didReceiveData(UrlSession&, UrlSessionDataTask&, const QByteArray& data) override
        {
            std::lock_guard lock(mutex);
            body += data;
        }
        void didCompleteWithError(
            UrlSession&, UrlSessionDataTask&, const std::optional<Error>& error) override
        {
            std::lock_guard lock(mutex);
            failed = error.has_value();
            done = true;
        }
        std::mutex mutex;
        QByteArray body;
        bool failed = false;
        bool done = false;
    };
    auto collecting = std::make_shared<Collecting>();
    auto streaming = UrlSession::create({}, collecting);
    streaming->dataTask(UrlRequest(*Url::fromString(server.url(u"/dated"_s))))->resume();
    ASSERT_TRUE(TestSupport::waitFor([&] {
        std::lock_guard lock(collecting->mutex);
        return collecting->done;
    }));
    EXPECT_EQ(collecting->body, "dated body");
    EXPECT_FALSE(collecting->failed);
    EXPECT_EQ(notModified, 3);

    // A streamed answer in many pieces is kept whole too, and handed out whole again.
    QByteArray large(600 * 1024, Qt::Uninitialized);
    for (qsizetype i = 0; i < large.size(); ++i)
        large[i] = char(i % 241);
    ScriptedReply streamedReply = replyWith(large, { { "Cache-Control", "max-age=60" } });
    streamedReply.chunked = true;
    server.reply(u"/streamed"_s, streamedReply);
    for (int round = 0; round < 2; ++round) {
        {
            std::lock_guard lock(collecting->mutex);
            collecting->body.clear();
            collecting->done = false;
        }
        streaming->dataTask(UrlRequest(*Url::fromString(server.url(u"/streamed"_s))))->resume();
        ASSERT_TRUE(TestSupport::waitFor([&] {
            std::lock_guard lock(collecting->mutex);
            return collecting->done;
        }));
        EXPECT_TRUE(collecting->body == large) << "round " << round;
    }
    EXPECT_EQ(server.requestCount(u"/streamed"_s), 1);
    EXPECT_EQ(*get(session, u"/streamed"_s).data, large);
    EXPECT_EQ(server.requestCount(u"/streamed"_s), 1);
    streaming->finishTasksAndInvalidate();
}

TEST_F(UrlCacheTest, FeedsNoStoreOtherMethodsCredentialsAndVariantsGoToTheServer)
{
    const ScriptedReply fresh = replyWith("kept", { { "Cache-Control", "max-age=600" } });
    server.reply(u"/feed"_s, fresh);
    server.reply(u"/fresh"_s, fresh);
    server.reply(u"/secret"_s, fresh);
    server.reply(u"/nostore"_s, replyWith("x", { { "Cache-Control", "no-store, max-age=600" } }));
    server.reply(
        u"/cookie"_s, replyWith("x", { { "Cache-Control", "max-age=600" }, { "Vary", "Cookie" } }));
    server.reply(u"/gzip"_s,
        replyWith("x", { { "Cache-Control", "max-age=600" }, { "Vary", "accept-encoding" } }));
    server.replyWith(u"/missing"_s, [](const RecordedRequest&) {
        ScriptedReply gone = replyWith("no", { { "Cache-Control", "max-age=600" } });
        gone.status = 404;
        return gone;
    });

    // A session that ignores every cache, as the feeds' does: neither reads nor fills it.
    UrlSessionConfiguration feeds;
    feeds.requestCachePolicy = UrlCachePolicy::ReloadIgnoringLocalAndRemoteCache;
    auto feedSession = UrlSession::create(feeds);
    get(feedSession, u"/feed"_s);
    get(feedSession, u"/feed"_s);
    EXPECT_EQ(server.requestCount(u"/feed"_s), 2);
    EXPECT_EQ(server.requests().last().header("Cache-Control"), "no-cache");
    get(session, u"/feed"_s);
    EXPECT_EQ(server.requestCount(u"/feed"_s), 3);
    EXPECT_EQ(UrlSessionTesting::cacheSize() > 0, true);
    get(session, u"/feed"_s, UrlCachePolicy::ReloadIgnoringLocalCache);
    EXPECT_EQ(server.requestCount(u"/feed"_s), 4);
    get(feedSession, u"/feed"_s);
    EXPECT_EQ(server.requestCount(u"/feed"_s), 5);
    get(session, u"/feed"_s);
    EXPECT_EQ(server.requestCount(u"/feed"_s), 5);

    for (const QString& path : { u"/nostore"_s, u"/cookie"_s, u"/missing"_s }) {
        get(session, path);
        get(session, path);
        EXPECT_EQ(server.requestCount(path), 2) << path.toStdString();
    }
    get(session, u"/gzip"_s);
    get(session, u"/gzip"_s);
    EXPECT_EQ(server.requestCount(u"/gzip"_s), 1);

    // A request that carries credentials or asks for no storing is neither answered nor kept.
    UrlRequest secret(*Url::fromString(server.url(u"/secret"_s)));
    secret.setValue(u"Bearer token"_s, u"Authorization"_s);
    fetch(session, secret);
    fetch(session, secret);
    EXPECT_EQ(server.requestCount(u"/secret"_s), 2);
    UrlSessionConfiguration signedIn;
    signedIn.httpAdditionalHeaders.setValue(u"Authorization"_s, u"Bearer token"_s);
    auto signedInSession = UrlSession::create(signedIn);
    get(signedInSession, u"/secret"_s);
    EXPECT_EQ(server.requestCount(u"/secret"_s), 3);
    UrlRequest unkept(*Url::fromString(server.url(u"/fresh"_s)));
    unkept.setValue(u"no-store"_s, u"Cache-Control"_s);
    fetch(session, unkept);
    get(session, u"/fresh"_s);
    EXPECT_EQ(server.requestCount(u"/fresh"_s), 2);
    // A request asking for a confirmed answer gets one: it goes to the server.
    get(session, u"/fresh"_s);
    EXPECT_EQ(server.requestCount(u"/fresh"_s), 2);
    UrlRequest confirmed = unkept;
    confirmed.setValue(u"max-age=0"_s, u"Cache-Control"_s);
    fetch(session, confirmed);
    EXPECT_EQ(server.requestCount(u"/fresh"_s), 3);
    age(20);
    UrlRequest young = unkept;
    young.setValue(u"max-age=10"_s, u"Cache-Control"_s);
    fetch(session, young);
    EXPECT_EQ(server.requestCount(u"/fresh"_s), 4);
    get(session, u"/fresh"_s);
    EXPECT_EQ(server.requestCount(u"/fresh"_s), 4);

    // A POST to the address makes what was kept of it outdated.
    get(session, u"/fresh"_s, UrlCachePolicy::UseProtocolDefault, u"POST"_s);
    EXPECT_EQ(server.requestCount(u"/fresh"_s), 5);
    get(session, u"/fresh"_s);
    EXPECT_EQ(server.requestCount(u"/fresh"_s), 6);
}

TEST_F(UrlCacheTest, TheCacheStaysWithinItsBoundLettingTheLeastRecentlyUsedGo)
{
    // Room for ten answers of 10 KB; one over a tenth of it is never kept.
    UrlSessionTesting::setCacheCapacity(10 * 11 * 1024);
    for (int i = 0; i < 12; ++i)
        server.reply(u"/item%1"_s.arg(i),
            replyWith(
                QByteArray(10 * 1024, char('a' + i)), { { "Cache-Control", "max-age=600" } }));
    server.reply(
        u"/large"_s, replyWith(QByteArray(12 * 1024, 'L'), { { "Cache-Control", "max-age=600" } }));

    for (int i = 0; i < 10; ++i)
        get(session, u"/item%1"_s.arg(i));
    get(session, u"/item0"_s); // now the most recently used
    EXPECT_EQ(server.requestCount(u"/item0"_s), 1);
    get(session, u"/item10"_s);
    get(session, u"/item11"_s);
    EXPECT_LE(UrlSessionTesting::cacheSize(), 10 * 11 * 1024);
    get(session, u"/item0"_s);
    EXPECT_EQ(server.requestCount(u"/item0"_s), 1);
    get(session, u"/item1"_s);
    EXPECT_EQ(server.requestCount(u"/item1"_s), 2);
    get(session, u"/large"_s);
    get(session, u"/large"_s);
    EXPECT_EQ(server.requestCount(u"/large"_s), 2);
    EXPECT_LE(UrlSessionTesting::cacheSize(), 10 * 11 * 1024);
}

TEST_F(UrlCacheTest, BodiesWithAndWithoutAnAnnouncedLengthArriveWhole)
{
    QByteArray large(3 * 1024 * 1024 + 5, Qt::Uninitialized);
    for (qsizetype i = 0; i < large.size(); ++i)
        large[i] = char(i % 253);
    server.reply(u"/sized"_s, bodyReply(large));
    ScriptedReply chunked = bodyReply(large);
    chunked.chunked = true;
    server.reply(u"/chunked"_s, chunked);

    for (const QString& path : { u"/sized"_s, u"/chunked"_s }) {
        const CompletionOutcome outcome = get(session, path);
        ASSERT_TRUE(outcome.data.has_value()) << path.toStdString();
        EXPECT_TRUE(*outcome.data == large) << path.toStdString();
    }
}
