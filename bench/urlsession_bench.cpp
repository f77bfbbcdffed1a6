// A refresh of many feeds: 240 feeds of 50 KB, each under its own host name, all answered by
// one loopback server that waits 200 ms before each answer. Reports wall time and peak memory.
// Beside it: the same with bodies of other sizes, sent with or without their length, and the
// bodies' growth on its own (many bodies receiving their pieces in turn, as the network thread
// does), against the growth the engine used before.

#include "platform/foundation/network/ReceivedBody.h"
#include "platform/foundation/network/UrlSession.h"
#include "platform/foundation/network/UrlSessionTesting.h"
#include "testsupport/LoopbackServer.h"

#include "PeakMemory.h"

#include <QCoreApplication>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <condition_variable>
#include <utility>
#include <vector>
#include <mutex>

using namespace Tickerly;
using namespace Tickerly::Foundation;
using namespace Tickerly::TestSupport;

using namespace Qt::Literals::StringLiterals;

namespace {

// Args: sources, KiB a body, whether the body goes without its length (chunked), transfers at
// once (0: as the process's descriptors allow). Peak memory is the process's since the case
// began: run one case per process for it to mean anything.
void BM_RefreshOfDelayedFeeds(benchmark::State& state)
{
    const int feedCount = int(state.range(0));
    UrlSessionTesting::setMaximumTransfers(int(state.range(3)));
    resetPeakMemory();
    TestSupport::LoopbackServer server(feedCount + 16);
    TestSupport::ScriptedReply feed;
    feed.body = QByteArray(state.range(1) * 1024, 'f');
    feed.chunked = state.range(2) != 0;
    feed.headers.append(qMakePair(QByteArray("Content-Type"), QByteArray("application/rss+xml")));
    feed.delayMs = 200;
    server.reply(u"/feed.xml"_s, feed);
    std::vector<UrlRequest> requests;
    for (int i = 0; i < feedCount; ++i) {
        const QString host = u"feed%1.example.test"_s.arg(i);
        UrlSessionTesting::mapToLoopback(u"http"_s, host, 80, server.port());
        requests.emplace_back(*Url::fromString(u"http://"_s + host + u"/feed.xml"_s));
    }

    for (auto _ : state) {
        std::mutex mutex;
        std::condition_variable finished;
        int done = 0;
        qint64 bytes = 0;
        QString firstError;
        auto session = UrlSession::create();
        for (const auto& request : requests) {
            session
                ->dataTask(request,
                    [&](std::optional<QByteArray> data, std::optional<UrlResponse>,
                        std::optional<Error> error) {
                        std::lock_guard lock(mutex);
                        ++done;
                        bytes += data ? data->size() : 0;
                        if (error && firstError.isEmpty())
                            firstError = error->description();
                        finished.notify_all();
                    })
                ->resume();
        }
        std::unique_lock lock(mutex);
        finished.wait(lock, [&] { return done == feedCount; });
        state.PauseTiming();
        lock.unlock();
        if (bytes != qint64(feedCount) * feed.body.size()) {
            state.SkipWithError(qPrintable(u"a feed did not arrive whole: "_s + firstError));
            break;
        }
        UrlSessionTesting::closeIdleConnections(); // every refresh starts cold
        state.ResumeTiming();
    }
    state.counters["peak_memory_MiB"] = peakMemoryMiB();
    UrlSessionTesting::removeLoopbackMappings();
    UrlSessionTesting::setMaximumTransfers(0);
}
BENCHMARK(BM_RefreshOfDelayedFeeds)
    ->ArgNames({ "sources", "KiB", "chunked", "limit" })
    ->Args({ 240, 50, 0, 0 })
    ->Args({ 240, 50, 1, 0 })
    ->Args({ 240, 1024, 0, 0 })
    ->Args({ 240, 1024, 1, 0 })
    ->ArgsProduct({ { 240, 1000 }, { 50 }, { 1 }, { 128, 256, 384, 512, 1024, 2048 } })
    ->Iterations(5)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

// The growth before: one array appended to, made room for up to 1 MiB of an announced length.
struct AppendedBody {
    QByteArray bytes;
    void expect(qint64 length) { bytes.reserve(qsizetype(std::min<qint64>(length, 1 << 20))); }
    void append(const char* data, qsizetype size) { bytes.append(data, size); }
    QByteArray take() { return std::exchange(bytes, {}); }
};

// Args: bodies at once, KiB a body, whether its length was announced. Pieces of 16 KiB, the
// network library's largest, handed to each body in turn; every body is taken whole at the end.
template <typename Body> void BM_BodyGrowth(benchmark::State& state)
{
    const int bodies = int(state.range(0));
    const qsizetype size = qsizetype(state.range(1)) * 1024;
    const bool announced = state.range(2) != 0;
    const QByteArray piece(16 * 1024, 'b');
    qint64 total = 0;
    for (auto _ : state) {
        std::vector<Body> growing(size_t(bodies), Body {});
        if (announced) {
            for (Body& body : growing)
                body.expect(size);
        }
        for (qsizetype at = 0; at < size; at += piece.size()) {
            const qsizetype n = std::min(piece.size(), size - at);
            for (Body& body : growing)
                body.append(piece.constData(), n);
        }
        for (Body& body : growing) {
            QByteArray whole = body.take();
            total += whole.size();
            benchmark::DoNotOptimize(whole.constData());
        }
    }
    state.SetBytesProcessed(total);
}
BENCHMARK(BM_BodyGrowth<AppendedBody>)
    ->Name("BM_BodyGrowth/before")
    ->ArgNames({ "bodies", "KiB", "announced" })
    ->ArgsProduct({ { 1000 }, { 50 }, { 0, 1 } })
    ->ArgsProduct({ { 240 }, { 50, 500 }, { 0, 1 } })
    ->ArgsProduct({ { 40 }, { 4096 }, { 0, 1 } })
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BodyGrowth<ReceivedBody>)
    ->Name("BM_BodyGrowth/after")
    ->ArgNames({ "bodies", "KiB", "announced" })
    ->ArgsProduct({ { 1000 }, { 50 }, { 0, 1 } })
    ->ArgsProduct({ { 240 }, { 50, 500 }, { 0, 1 } })
    ->ArgsProduct({ { 40 }, { 4096 }, { 0, 1 } })
    ->Unit(benchmark::kMillisecond);

} // namespace
