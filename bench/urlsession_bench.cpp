// A refresh of many feeds: 240 feeds of 50 KB, each under its own host name, all answered by
// one loopback server that waits 200 ms before each answer. Reports wall time and peak memory.

#include "platform/foundation/UrlSession.h"
#include "platform/foundation/UrlSessionTesting.h"
#include "testsupport/LoopbackServer.h"

#include "PeakMemory.h"

#include <QCoreApplication>

#include <benchmark/benchmark.h>

#include <condition_variable>
#include <mutex>

using namespace Qt::Literals::StringLiterals;

namespace {

constexpr int feedCount = 240;

void BM_RefreshOf240DelayedFeeds(benchmark::State& state)
{
    testsupport::LoopbackServer server(feedCount + 16);
    testsupport::ScriptedReply feed;
    feed.body = QByteArray(50 * 1024, 'f');
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
}
BENCHMARK(BM_RefreshOf240DelayedFeeds)->Iterations(5)->UseRealTime()->Unit(benchmark::kMillisecond);

} // namespace
