#include "platform/linkwork/DataTask.h"

#include "platform/foundation/network/UrlSession.h"
#include "platform/linkwork/Chain.h"
#include "testsupport/LoopbackServer.h"
#include "testsupport/TestSupport.h"

#include <QCoreApplication>
#include <QThread>

#include <gtest/gtest.h>

#include <atomic>

using namespace Tickerly;
using namespace Tickerly::Foundation;
using namespace Tickerly::Linkwork;
using namespace Tickerly::TestSupport;

using namespace Qt::Literals::StringLiterals;
using TestSupport::LoopbackServer;
using TestSupport::ScriptedReply;

namespace {

UrlRequest requestFor(const QString& text) { return UrlRequest(*Url::fromString(text)); }

} // namespace

TEST(DataTask, StartsOnlyWhenResumedAndHandsOnAnyAnswerWithItsResponse)
{
    LoopbackServer server;
    ScriptedReply missing;
    missing.status = 404;
    missing.body = "not here";
    server.reply(u"/missing"_s, missing);
    auto session = UrlSession::create();

    auto [task, promise] = dataTask(*session, requestFor(server.url(u"/missing"_s)));
    ASSERT_TRUE(task);
    EXPECT_EQ(task->state(), UrlSessionDataTask::State::Suspended);
    EXPECT_FALSE(promise.isResolved());
    EXPECT_EQ(server.requestCount(u"/missing"_s), 0);

    // Chained functions run on the session's queue, never on the main thread.
    std::atomic<bool> onMainThread { true };
    auto body = promise >> [&](const DataTaskResponse& r) {
        onMainThread = QThread::currentThread() == QCoreApplication::instance()->thread();
        return r.data;
    };
    task->resume();
    ASSERT_TRUE(TestSupport::waitFor([&] { return body.isResolved(); }));
    const auto outcome = *promise.value();
    ASSERT_TRUE(outcome.isOk()) << outcome.error().description().toStdString();
    EXPECT_EQ(outcome.value().response.statusCode, 404);
    EXPECT_EQ(outcome.value().response.url.absoluteString(), server.url(u"/missing"_s));
    EXPECT_EQ(body.value()->value(), QByteArray("not here"));
    EXPECT_FALSE(onMainThread);
}

TEST(DataTask, ReportsTransportFailuresAndCancellationAsErrors)
{
    LoopbackServer server;
    ScriptedReply slow;
    slow.body = "late";
    slow.delayMs = 5000;
    server.reply(u"/slow"_s, slow);
    auto session = UrlSession::create();

    auto [cancelled, cancelledPromise] = dataTask(*session, requestFor(server.url(u"/slow"_s)));
    cancelled->resume();
    cancelled->cancel();
    auto [refused, refusedPromise] = dataTask(*session, requestFor(u"ftp://127.0.0.1/file"_s));
    refused->resume();

    ASSERT_TRUE(TestSupport::waitFor(
        [&] { return cancelledPromise.isResolved() && refusedPromise.isResolved(); }));
    ASSERT_TRUE(cancelledPromise.value()->isError());
    EXPECT_TRUE(cancelledPromise.value()->error().is(UrlError::domain, UrlError::Cancelled));
    ASSERT_TRUE(refusedPromise.value()->isError());
    EXPECT_TRUE(refusedPromise.value()->error().is(UrlError::domain, UrlError::UnsupportedUrl));
}
