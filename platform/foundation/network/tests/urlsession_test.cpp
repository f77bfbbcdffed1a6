#include "platform/foundation/base/OperationQueue.h"
#include "platform/foundation/network/UrlSession.h"
#include "platform/foundation/network/tests/CompletionRecorder.h"
#include "platform/foundation/network/UrlSessionTesting.h"
#include "testsupport/LoopbackServer.h"
#include "testsupport/TestSupport.h"

#include <QCoreApplication>
#include <QThread>

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <future>
#include <limits>
#include <mutex>
#include <thread>

using namespace Tickerly;
using namespace Tickerly::Foundation;
using namespace Tickerly::TestSupport;

using namespace Qt::Literals::StringLiterals;
using TestSupport::bodyReply;
using TestSupport::LoopbackServer;
using TestSupport::ScriptedReply;

namespace {

// Records every delegate call, and whether any ran on the main thread or overlapped another.
class RecordingDelegate : public UrlSessionDelegate {
public:
    struct Event {
        QString kind;
        qint64 task = 0;
        QByteArray data;
        std::optional<Error> error;
    };

    void didReceiveData(UrlSession&, UrlSessionDataTask& task, const QByteArray& data) override
    {
        record({ u"data"_s, task.taskIdentifier(), data, {} });
    }
    void didCompleteWithError(
        UrlSession&, UrlSessionDataTask& task, const std::optional<Error>& error) override
    {
        record({ u"complete"_s, task.taskIdentifier(), {}, error });
    }
    void didBecomeInvalidWithError(UrlSession&, const std::optional<Error>&) override
    {
        record({ u"invalid"_s, 0, {}, {} });
    }

    std::vector<Event> events() const
    {
        std::lock_guard lock(mutex);
        return m_events;
    }
    int count(const QString& kind) const
    {
        int n = 0;
        for (const auto& e : events())
            n += e.kind == kind ? 1 : 0;
        return n;
    }
    QByteArray bodyOf(qint64 task) const
    {
        QByteArray body;
        for (const auto& e : events()) {
            if (e.kind == u"data" && e.task == task)
                body += e.data;
        }
        return body;
    }
    std::optional<Error> errorOf(qint64 task) const
    {
        for (const auto& e : events()) {
            if (e.kind == u"complete" && e.task == task)
                return e.error;
        }
        return std::nullopt;
    }

    std::atomic<bool> onMainThread { false };
    std::atomic<bool> overlapped { false };

private:
    void record(Event e)
    {
        if (QThread::currentThread() == QCoreApplication::instance()->thread())
            onMainThread = true;
        if (inside.fetch_add(1) != 0)
            overlapped = true;
        QThread::usleep(200); // widen the window in which an overlap would show
        {
            std::lock_guard lock(mutex);
            m_events.push_back(std::move(e));
        }
        inside.fetch_sub(1);
    }

    mutable std::mutex mutex;
    std::vector<Event> m_events;
    std::atomic<int> inside { 0 };
};

UrlRequest requestFor(const QString& text) { return UrlRequest(*Url::fromString(text)); }

class UrlSessionTest : public testing::Test {
protected:
    void TearDown() override
    {
        UrlSessionTesting::removeLoopbackMappings();
        UrlSessionTesting::closeIdleConnections();
    }
    LoopbackServer server;
};

} // namespace

TEST_F(UrlSessionTest, DeliversEachTasksDataBeforeItsEndOneCallAtATimeOffTheMainThread)
{
    for (int i = 0; i < 12; ++i) {
        ScriptedReply reply;
        reply.body = QByteArray(40000 + i * 1000, char('a' + i));
        reply.chunked = i % 2 == 0;
        server.reply(u"/feed%1"_s.arg(i), reply);
    }
    auto delegate = std::make_shared<RecordingDelegate>();
    auto session = UrlSession::create({}, delegate);
    std::vector<std::shared_ptr<UrlSessionDataTask>> tasks;
    for (int i = 0; i < 12; ++i)
        tasks.push_back(session->dataTask(requestFor(server.url(u"/feed%1"_s.arg(i)))));
    for (auto& task : tasks)
        task->resume();
    session->finishTasksAndInvalidate();

    ASSERT_TRUE(TestSupport::waitFor([&] { return delegate->count(u"invalid"_s) == 1; }));
    EXPECT_FALSE(delegate->onMainThread);
    EXPECT_FALSE(delegate->overlapped);
    const auto events = delegate->events();
    EXPECT_EQ(events.back().kind, u"invalid"_s);
    std::set<qint64> ended;
    for (const auto& e : events) {
        if (e.kind == u"data") {
            EXPECT_FALSE(ended.count(e.task)) << "data after the end of task " << e.task;
        } else if (e.kind == u"complete") {
            EXPECT_TRUE(ended.insert(e.task).second) << "task " << e.task << " ended twice";
        }
    }
    EXPECT_EQ(ended.size(), 12u);
    for (int i = 0; i < 12; ++i) {
        EXPECT_EQ(delegate->bodyOf(tasks[i]->taskIdentifier()),
            QByteArray(40000 + i * 1000, char('a' + i)));
        EXPECT_FALSE(delegate->errorOf(tasks[i]->taskIdentifier()).has_value());
        EXPECT_EQ(tasks[i]->state(), UrlSessionDataTask::State::Completed);
    }
    std::set<qint64> ids;
    for (auto& task : tasks)
        ids.insert(task->taskIdentifier());
    EXPECT_EQ(ids.size(), tasks.size());
}

TEST_F(UrlSessionTest, BecomesInvalidOnceAfterTheLastTaskWhateverTheNumberOfTasks)
{
    ScriptedReply slow = bodyReply("slow");
    slow.delayMs = 150;
    server.reply(u"/slow"_s, slow);
    server.reply(u"/fast"_s, bodyReply("fast"));
    for (int n : { 0, 1, 5 }) {
        auto delegate = std::make_shared<RecordingDelegate>();
        auto session = UrlSession::create({}, delegate);
        for (int i = 0; i < n; ++i)
            session->dataTask(requestFor(server.url(i == 0 ? u"/slow"_s : u"/fast"_s)))->resume();
        session->finishTasksAndInvalidate();
        session->finishTasksAndInvalidate(); // a second call changes nothing
        ASSERT_TRUE(TestSupport::waitFor([&] { return delegate->count(u"invalid"_s) == 1; }))
            << n << " tasks";
        const auto events = delegate->events();
        EXPECT_EQ(delegate->count(u"complete"_s), n);
        EXPECT_EQ(events.back().kind, u"invalid"_s);
        // The session lets its delegate go once it is invalid.
        EXPECT_EQ(session->delegate(), nullptr);
        // A task resumed on an invalid session ends at once as cancelled.
        CompletionRecorder late;
        session->dataTask(requestFor(server.url(u"/fast"_s)), late.handler())->resume();
        ASSERT_TRUE(TestSupport::waitFor([&] { return late.callCount() == 1; }));
        ASSERT_TRUE(late.error.has_value());
        EXPECT_TRUE(late.error->is(UrlError::domain, UrlError::Cancelled));
    }
    EXPECT_EQ(server.requestCount(u"/slow"_s), 2);
}

TEST_F(UrlSessionTest, CancellingMidBodyEndsTheTaskOnceAsCancelled)
{
    ScriptedReply stalled;
    stalled.body = QByteArray(100000, 'x');
    stalled.cutAfter = 20000;
    stalled.stallMs = 5000;
    server.reply(u"/stall"_s, stalled);

    auto delegate = std::make_shared<RecordingDelegate>();
    auto session = UrlSession::create({}, delegate);
    auto task = session->dataTask(requestFor(server.url(u"/stall"_s)));
    task->resume();
    ASSERT_TRUE(TestSupport::waitFor([&] { return delegate->count(u"data"_s) > 0; }));
    task->cancel();
    task->cancel();
    ASSERT_TRUE(TestSupport::waitFor([&] { return delegate->count(u"complete"_s) == 1; }));
    const auto error = delegate->errorOf(task->taskIdentifier());
    ASSERT_TRUE(error.has_value());
    EXPECT_TRUE(error->is(UrlError::domain, UrlError::Cancelled));
    EXPECT_EQ(task->state(), UrlSessionDataTask::State::Completed);

    // With a completion handler: called once, with no data.
    CompletionRecorder outcome;
    auto other = session->dataTask(requestFor(server.url(u"/stall"_s)), outcome.handler());
    other->resume();
    ASSERT_TRUE(TestSupport::waitFor([&] { return other->countOfBytesReceived() > 0; }));
    session->invalidateAndCancel();
    ASSERT_TRUE(TestSupport::waitFor([&] { return delegate->count(u"invalid"_s) == 1; }));
    EXPECT_EQ(outcome.callCount(), 1);
    EXPECT_FALSE(outcome.data.has_value());
    ASSERT_TRUE(outcome.error.has_value());
    EXPECT_TRUE(outcome.error->is(UrlError::domain, UrlError::Cancelled));
    // A task cancelled before it ran ends too.
    CompletionRecorder never;
    session->dataTask(requestFor(server.url(u"/stall"_s)), never.handler())->cancel();
    ASSERT_TRUE(TestSupport::waitFor([&] { return never.callCount() == 1; }));
    EXPECT_TRUE(never.error->is(UrlError::domain, UrlError::Cancelled));
}

TEST_F(UrlSessionTest, AServerThatStopsSendingTimesOutAfterTheConfiguredInterval)
{
    ScriptedReply stalled;
    stalled.body = QByteArray(50000, 'y');
    stalled.cutAfter = 1000;
    stalled.stallMs = 10000;
    server.reply(u"/stall"_s, stalled);
    ScriptedReply quiet = bodyReply("late");
    quiet.delayMs = 10000;
    server.reply(u"/silent"_s, quiet);

    UrlSessionConfiguration configuration;
    configuration.timeoutIntervalForRequest = 0.3;
    auto delegate = std::make_shared<RecordingDelegate>();
    auto session = UrlSession::create(configuration, delegate);
    auto cut = session->dataTask(requestFor(server.url(u"/stall"_s)));
    auto silent = session->dataTask(requestFor(server.url(u"/silent"_s)));
    cut->resume();
    silent->resume();
    ASSERT_TRUE(TestSupport::waitFor([&] { return delegate->count(u"complete"_s) == 2; }));
    for (const auto& task : { cut, silent }) {
        const auto error = delegate->errorOf(task->taskIdentifier());
        ASSERT_TRUE(error.has_value());
        EXPECT_TRUE(error->is(UrlError::domain, UrlError::TimedOut))
            << error->description().toStdString();
    }
    // What arrived before the silence stays delivered.
    EXPECT_EQ(delegate->bodyOf(cut->taskIdentifier()), QByteArray(1000, 'y'));
}

// An interval too long to count in milliseconds (or endless) means "no time-out", never a
// network thread that spins while it waits.
TEST_F(UrlSessionTest, AnEndlessTimeOutWaitsWithoutSpinning)
{
    ScriptedReply slow = bodyReply("late");
    slow.delayMs = 800;
    server.reply(u"/slow"_s, slow);
    auto session = UrlSession::create();
    for (const double interval : { std::numeric_limits<double>::infinity(), 1e300 }) {
        UrlRequest request = requestFor(server.url(u"/slow"_s));
        request.timeoutInterval = interval;
        auto ended = std::make_shared<std::promise<std::optional<Error>>>();
        auto outcome = ended->get_future();
        const quint64 roundsBefore = UrlSessionTesting::networkLoopRounds();
        session
            ->dataTask(request,
                [ended](std::optional<QByteArray>, std::optional<UrlResponse>,
                    std::optional<Error> error) { ended->set_value(error); })
            ->resume();
        ASSERT_EQ(outcome.wait_for(std::chrono::seconds(30)), std::future_status::ready);
        const quint64 rounds = UrlSessionTesting::networkLoopRounds() - roundsBefore;
        EXPECT_FALSE(outcome.get().has_value());
        // A start, a few socket events and a wake-up a second while the server is silent; a
        // wait worked out as zero would spin through thousands.
        EXPECT_LT(rounds, 100u) << "interval " << interval;
    }
}

TEST_F(UrlSessionTest, OnlyHttpAndHttpsAreLoaded)
{
    auto session = UrlSession::create();
    for (const QString& text : { u"file:///etc/passwd"_s, u"ftp://127.0.0.1/x"_s,
             u"gopher://127.0.0.1/x"_s, u"relative/path"_s }) {
        CompletionRecorder outcome;
        session->dataTask(requestFor(text), outcome.handler())->resume();
        ASSERT_TRUE(TestSupport::waitFor([&] { return outcome.callCount() == 1; }))
            << text.toStdString();
        EXPECT_FALSE(outcome.data.has_value());
        ASSERT_TRUE(outcome.error.has_value());
        EXPECT_TRUE(outcome.error->code() == UrlError::UnsupportedUrl
            || outcome.error->code() == UrlError::BadUrl);
    }
}

TEST_F(UrlSessionTest, ABodyPastItsCapEndsWithAnErrorKeepingOnlyWhatFitsDelivered)
{
    server.reply(u"/big"_s, bodyReply(QByteArray(5000, 'b')));
    ScriptedReply bomb;
    bomb.body = QByteArray(4 * 1024 * 1024, '\0');
    bomb.gzip = true;
    server.reply(u"/bomb"_s, bomb);

    auto delegate = std::make_shared<RecordingDelegate>();
    auto session = UrlSession::create({}, delegate);
    UrlRequest big = requestFor(server.url(u"/big"_s));
    big.maximumBodySize = 1000;
    auto streamed = session->dataTask(big);
    streamed->resume();
    CompletionRecorder whole;
    session->dataTask(big, whole.handler())->resume();
    CompletionRecorder bombed;
    UrlRequest bombRequest = requestFor(server.url(u"/bomb"_s));
    bombRequest.maximumBodySize = 64 * 1024;
    session->dataTask(bombRequest, bombed.handler())->resume();

    ASSERT_TRUE(TestSupport::waitFor([&] {
        return delegate->count(u"complete"_s) == 3 && whole.callCount() == 1
            && bombed.callCount() == 1;
    }));
    EXPECT_EQ(delegate->bodyOf(streamed->taskIdentifier()), QByteArray(1000, 'b'));
    EXPECT_TRUE(delegate->errorOf(streamed->taskIdentifier())
                    ->is(UrlError::domain, UrlError::DataLengthExceedsMaximum));
    EXPECT_FALSE(whole.data.has_value());
    EXPECT_TRUE(whole.error->is(UrlError::domain, UrlError::DataLengthExceedsMaximum));
    EXPECT_FALSE(bombed.data.has_value());
    EXPECT_TRUE(bombed.error->is(UrlError::domain, UrlError::DataLengthExceedsMaximum));
}

TEST_F(UrlSessionTest, FiveHundredTasksStartedAtOnceAllCompleteAtMostSixAtATimePerHost)
{
    std::atomic<int> inFlight { 0 };
    std::atomic<int> peak { 0 };
    server.replyWith(u"/item"_s, [&](const TestSupport::RecordedRequest& request) {
        const int now = ++inFlight;
        int seen = peak;
        while (now > seen && !peak.compare_exchange_weak(seen, now)) { }
        QThread::msleep(3);
        --inFlight;
        return bodyReply(request.path);
    });
    auto session = UrlSession::create();
    std::mutex mutex;
    int done = 0;
    int right = 0;
    for (int i = 0; i < 500; ++i) {
        const QByteArray path = "/item?n=" + QByteArray::number(i);
        session
            ->dataTask(requestFor(server.url(QString::fromLatin1(path))),
                [&, path](std::optional<QByteArray> data, std::optional<UrlResponse>,
                    std::optional<Error> error) {
                    std::lock_guard lock(mutex);
                    ++done;
                    right += (!error && data == path) ? 1 : 0;
                })
            ->resume();
    }
    ASSERT_TRUE(TestSupport::waitFor(
        [&] {
            std::lock_guard lock(mutex);
            return done == 500;
        },
        60000));
    EXPECT_EQ(right, 500);
    EXPECT_LE(peak.load(), 6);
    EXPECT_GE(peak.load(), 2);
}

TEST_F(UrlSessionTest, StatusCodesAreNoErrorsAndBodiesAreDecoded)
{
    server.reply(u"/error"_s, [] {
        ScriptedReply r;
        r.status = 500;
        r.headers = { { "X-Kind", "oops" } };
        r.body = "broken";
        return r;
    }());
    server.reply(u"/zipped"_s, [] {
        ScriptedReply r;
        r.body = QByteArray(20000, 'z');
        r.gzip = true;
        return r;
    }());
    auto session = UrlSession::create();
    CompletionRecorder error;
    CompletionRecorder zipped;
    session->dataTask(requestFor(server.url(u"/error"_s)), error.handler())->resume();
    session->dataTask(requestFor(server.url(u"/zipped"_s)), zipped.handler())->resume();
    ASSERT_TRUE(
        TestSupport::waitFor([&] { return error.callCount() == 1 && zipped.callCount() == 1; }));
    EXPECT_FALSE(error.error.has_value());
    EXPECT_EQ(error.data, QByteArray("broken"));
    ASSERT_TRUE(error.response.has_value());
    EXPECT_EQ(error.response->statusCode, 500);
    EXPECT_EQ(error.response->value(u"x-kind"_s), u"oops"_s);
    EXPECT_EQ(error.response->url.absoluteString(), server.url(u"/error"_s));
    EXPECT_EQ(zipped.data, QByteArray(20000, 'z'));
    EXPECT_FALSE(zipped.error.has_value());
}

TEST_F(UrlSessionTest, SendsSessionHeadersUnderTheRequestsOwnAndNeverAFieldThatSplitsTheRequest)
{
    server.reply(u"/h"_s, bodyReply("ok"));
    UrlSessionConfiguration configuration;
    configuration.httpAdditionalHeaders.setValue(u"User-Agent"_s, u"SessionAgent"_s);
    configuration.httpAdditionalHeaders.setValue(u"X-Session"_s, u"yes"_s);
    configuration.requestCachePolicy = UrlCachePolicy::ReloadIgnoringLocalAndRemoteCache;
    auto session = UrlSession::create(configuration);
    UrlRequest request = requestFor(server.url(u"/h"_s));
    request.setValue(u"RequestAgent"_s, u"user-agent"_s);
    request.setValue(u"a\r\nX-Injected: 1"_s, u"X-Bad"_s);
    request.httpMethod = u"POST"_s;
    request.httpBody = "a=1&";
    CompletionRecorder outcome;
    session->dataTask(request, outcome.handler())->resume();
    ASSERT_TRUE(TestSupport::waitFor([&] { return outcome.callCount() == 1; }));
    ASSERT_EQ(server.requests().size(), 1);
    const auto sent = server.requests().first();
    EXPECT_EQ(sent.method, QByteArray("POST"));
    EXPECT_EQ(sent.body, QByteArray("a=1&"));
    EXPECT_EQ(sent.header("User-Agent"), QByteArray("RequestAgent"));
    EXPECT_EQ(sent.header("X-Session"), QByteArray("yes"));
    EXPECT_EQ(sent.header("Cache-Control"), QByteArray("no-cache"));
    EXPECT_TRUE(sent.header("X-Bad").isEmpty());
    EXPECT_TRUE(sent.header("X-Injected").isEmpty());
}

TEST_F(UrlSessionTest, RefusesEveryAddressThatIsNotLoopbackInTests)
{
    ASSERT_TRUE(UrlSessionTesting::isLoopbackOnly());
    auto session = UrlSession::create();
    CompletionRecorder outcome;
    // A documentation-only address: refused before any packet leaves.
    session->dataTask(requestFor(u"http://192.0.2.1:81/feed"_s), outcome.handler())->resume();
    ASSERT_TRUE(TestSupport::waitFor([&] { return outcome.callCount() == 1; }));
    ASSERT_TRUE(outcome.error.has_value());
    EXPECT_TRUE(outcome.error->is(UrlError::domain, UrlError::CannotConnectToHost));
    EXPECT_FALSE(outcome.data.has_value());
    // A name that is not mapped to the loopback server is not even looked up.
    CompletionRecorder named;
    session->dataTask(requestFor(u"http://feeds.example.com/rss"_s), named.handler())->resume();
    ASSERT_TRUE(TestSupport::waitFor([&] { return named.callCount() == 1; }));
    EXPECT_TRUE(named.error->is(UrlError::domain, UrlError::CannotConnectToHost));
}

namespace {

// Answers one connection on 127.0.0.1 with exactly `reply`, whatever was asked, then closes.
class RawReplyServer {
public:
    explicit RawReplyServer(QByteArray reply)
    {
        listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address {};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t size = sizeof address;
        ::bind(listener, reinterpret_cast<sockaddr*>(&address), size);
        ::listen(listener, 4);
        ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &size);
        port = ntohs(address.sin_port);
        thread = std::thread([this, reply = std::move(reply)] {
            pollfd wait { listener, POLLIN, 0 };
            if (::poll(&wait, 1, 10000) != 1)
                return;
            const int client = ::accept(listener, nullptr, nullptr);
            QByteArray request;
            char buffer[4096];
            while (!request.contains("\r\n\r\n")) {
                pollfd readable { client, POLLIN, 0 };
                const ssize_t n
                    = ::poll(&readable, 1, 10000) == 1 ? ::read(client, buffer, sizeof buffer) : 0;
                if (n <= 0)
                    break;
                request.append(buffer, n);
            }
            for (qsizetype sent = 0; sent < reply.size();) {
                const ssize_t n = ::send(
                    client, reply.constData() + sent, size_t(reply.size() - sent), MSG_NOSIGNAL);
                if (n <= 0)
                    break;
                sent += n;
            }
            ::close(client);
        });
    }
    ~RawReplyServer()
    {
        thread.join();
        ::close(listener);
    }
    QString url() const { return u"http://127.0.0.1:%1/"_s.arg(port); }

private:
    int listener = -1;
    int port = 0;
    std::thread thread;
};

std::optional<Error> errorOfRawReply(const QByteArray& reply)
{
    RawReplyServer raw(reply);
    CompletionRecorder outcome;
    UrlSession::create()->dataTask(requestFor(raw.url()), outcome.handler())->resume();
    EXPECT_TRUE(TestSupport::waitFor([&] { return outcome.done(); }));
    std::lock_guard lock(outcome.mutex);
    EXPECT_FALSE(outcome.data.has_value()) << outcome.data->size();
    return outcome.error;
}

} // namespace

// A server that keeps sending a byte now and then is never silent long enough to time out.
TEST_F(UrlSessionTest, ATaskEndsAtItsWholeTransferDeadlineHoweverSteadilyDataArrives)
{
    ScriptedReply trickle;
    trickle.body = QByteArray(100000, 't');
    trickle.trickleMs = 20;
    server.reply(u"/trickle"_s, trickle);

    UrlSessionConfiguration configuration;
    EXPECT_GE(configuration.timeoutIntervalForResource, 60);
    EXPECT_LE(configuration.timeoutIntervalForResource, 600);
    configuration.timeoutIntervalForRequest = 5;
    configuration.timeoutIntervalForResource = 0.5;
    auto session = UrlSession::create(configuration);
    CompletionRecorder outcome;
    session->dataTask(requestFor(server.url(u"/trickle"_s)), outcome.handler())->resume();
    // Only the whole-transfer deadline can end it: the trickle lasts half an hour, and the
    // request's 5 s of silence never come.
    ASSERT_TRUE(TestSupport::waitFor([&] { return outcome.done(); }, 30000));
    std::lock_guard lock(outcome.mutex);
    ASSERT_TRUE(outcome.error.has_value());
    EXPECT_TRUE(outcome.error->is(UrlError::domain, UrlError::TimedOut))
        << outcome.error->description().toStdString();
}

TEST_F(UrlSessionTest, AnAnswerWithAnUncountableLengthOrAnOverlongHeaderLineFailsPlainly)
{
    const auto huge
        = errorOfRawReply("HTTP/1.1 200 OK\r\nContent-Length: 99999999999999999999999\r\n"
                          "Connection: close\r\n\r\nshort");
    ASSERT_TRUE(huge.has_value());
    EXPECT_TRUE(huge->is(UrlError::domain, UrlError::BadServerResponse))
        << huge->description().toStdString();

    const auto longLine = errorOfRawReply("HTTP/1.1 200 OK\r\nX-Long: "
        + QByteArray(300 * 1024, 'a') + "\r\nContent-Length: 2\r\n\r\nok");
    ASSERT_TRUE(longLine.has_value());
    EXPECT_TRUE(longLine->is(UrlError::domain, UrlError::BadServerResponse))
        << longLine->description().toStdString();
    EXPECT_FALSE(longLine->description().contains(u"memory"_s, Qt::CaseInsensitive));
}
