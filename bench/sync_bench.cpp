// A full refresh (Sync) of 240 sources, each under its own host name, answered by one loopback
// server that waits 200 ms (or not at all) before each feed of about 38 KB: download, parse,
// sort and store. Cold is the first refresh into an empty store, warm a refresh over the list it
// stored. Beside it, the network floor: the same 240 downloads through one plain session, read
// by nobody. BM_SyncServedApart runs the same cold refresh with the server in a child process,
// so that its peak memory (VmHWM, one case per process) is the refresh's own.

#include "data/model/SourcesData.h"
#include "data/model/StoredStoriesData.h"
#include "data/sync/Sync.h"
#include "platform/foundation/UrlSessionTesting.h"
#include "testsupport/LoopbackServer.h"

#include "PeakMemory.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QEventLoop>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>

#include <benchmark/benchmark.h>
#include <curl/curl.h>

#include <algorithm>
#include <condition_variable>
#include <cstdio>
#include <iostream>
#include <mutex>
#include <string>
#include <vector>

using namespace Qt::Literals::StringLiterals;

namespace {

constexpr int sourceCount = 240;

QByteArray feed(int n)
{
    QByteArray doc = "<?xml version=\"1.0\"?><rss version=\"2.0\"><channel><title>Feed</title>";
    for (int i = 0; i < 20; ++i) {
        QByteArray body = "<p><img src=\"http://feed" + QByteArray::number(n) + ".example.test/" + QByteArray::number(i)
            + ".jpg\"/>Some text of the story, long enough to be cut to a hundred characters when the parser cleans "
              "it for the list &amp; more.</p>";
        while (body.size() < 1700)
            body += "<p>Further paragraphs of the story&#8217;s text, as publishers put whole articles in their feeds.</p>";
        doc += "<item><title>Story " + QByteArray::number(i) + "</title><link>http://feed" + QByteArray::number(n)
            + ".example.test/" + QByteArray::number(i) + "</link><description><![CDATA[" + body + "]]></description><pubDate>"
            + QDateTime::fromSecsSinceEpoch(1'700'000'000 - (n * 20 + i) * 60, Qt::UTC).toString(Qt::RFC2822Date).toUtf8()
            + "</pubDate></item>";
    }
    return doc + "</channel></rss>";
}

QString hostOf(int i)
{
    return u"feed%1.example.test"_s.arg(i);
}

QString linkOf(int i)
{
    return u"http://"_s + hostOf(i) + u"/"_s + hostOf(i) + u".xml"_s;
}

// The loopback server answering every source after `delayMs`.
std::unique_ptr<testsupport::LoopbackServer> serverOfSources(int delayMs, int count = sourceCount)
{
    auto server = std::make_unique<testsupport::LoopbackServer>(count + 16);
    for (int i = 0; i < count; ++i) {
        testsupport::ScriptedReply reply;
        reply.body = feed(i);
        reply.delayMs = delayMs;
        server->reply(u"/"_s + hostOf(i) + u".xml"_s, reply);
        UrlSessionTesting::mapToLoopback(u"http"_s, hostOf(i), 80, server->port());
    }
    return server;
}

// A data home of its own, holding the sources; gone with the returned folder.
std::unique_ptr<QTemporaryDir> freshHomeWithSources(int count = sourceCount)
{
    auto home = std::make_unique<QTemporaryDir>();
    qputenv("XDG_DATA_HOME", home->path().toUtf8());
    SourcesData sources;
    for (int i = 0; i < count; ++i)
        sources.addSource(std::make_shared<Source>(hostOf(i), linkOf(i)));
    return home;
}

bool refresh()
{
    // The main thread sleeps in its event loop, as the application's does: polling it, as a loop
    // of processEvents() calls does, would take a core from the readers.
    bool done = false;
    bool success = false;
    QEventLoop loop;
    QTimer::singleShot(60'000, &loop, &QEventLoop::quit);
    auto sync = Sync::create();
    sync->updateStories(std::nullopt, [&](bool ok) {
        success = ok;
        done = true;
        loop.quit();
    });
    if (!done)
        loop.exec();
    return done && success;
}

void BM_SyncOf240Sources(benchmark::State& state)
{
    const bool warm = state.range(0) == 1;
    const auto server = serverOfSources(int(state.range(1)));
    for (auto _ : state) {
        state.PauseTiming();
        const auto home = freshHomeWithSources();
        if (warm && !refresh()) {
            state.SkipWithError("the first refresh failed");
            break;
        }
        UrlSessionTesting::closeIdleConnections();
        state.ResumeTiming();
        if (!refresh()) {
            state.SkipWithError("the refresh failed");
            break;
        }
        state.PauseTiming();
        if (StoredStoriesData().storedStories().size() != sourceCount * 20)
            state.SkipWithError("stories are missing");
        state.ResumeTiming();
    }
    UrlSessionTesting::removeLoopbackMappings();
}
BENCHMARK(BM_SyncOf240Sources)->ArgNames({ "warm", "delay_ms" })->ArgsProduct({ { 0, 1 }, { 200, 0 } })->Iterations(3)->UseRealTime()->Unit(benchmark::kMillisecond);

// A cold refresh of 10 to 1,000 sources, answered at once or after 200 ms, and its floors (below): what each source
// costs, and whether a thousand still download at once.
void BM_SyncOfManySources(benchmark::State& state)
{
    const int count = int(state.range(0));
    const auto server = serverOfSources(int(state.range(1)), count);
    for (auto _ : state) {
        state.PauseTiming();
        const auto home = freshHomeWithSources(count);
        UrlSessionTesting::closeIdleConnections();
        state.ResumeTiming();
        if (!refresh()) {
            state.SkipWithError("the refresh failed");
            break;
        }
        state.PauseTiming();
        if (StoredStoriesData().storedStories().size() != std::min(count * 20, 50'000))
            state.SkipWithError("stories are missing");
        state.ResumeTiming();
    }
    UrlSessionTesting::removeLoopbackMappings();
}
BENCHMARK(BM_SyncOfManySources)->ArgNames({ "sources", "delay_ms" })->ArgsProduct({ { 10, 100, 240, 1000 }, { 0, 200 } })->Iterations(5)->UseRealTime()->Unit(benchmark::kMillisecond);

// The floor: the same downloads, nothing read or stored.
void downloads(benchmark::State& state, int delayMs, int count)
{
    const auto server = serverOfSources(delayMs, count);
    for (auto _ : state) {
        std::mutex mutex;
        std::condition_variable finished;
        int done = 0;
        auto session = UrlSession::create();
        for (int i = 0; i < count; ++i) {
            session->dataTask(UrlRequest(*Url::fromString(linkOf(i))), [&](std::optional<QByteArray>, std::optional<UrlResponse>, std::optional<Error>) {
                std::lock_guard lock(mutex);
                ++done;
                finished.notify_all();
            })->resume();
        }
        std::unique_lock lock(mutex);
        finished.wait(lock, [&] { return done == count; });
        state.PauseTiming();
        lock.unlock();
        UrlSessionTesting::closeIdleConnections();
        state.ResumeTiming();
    }
    UrlSessionTesting::removeLoopbackMappings();
}
void BM_DownloadsOf240Sources(benchmark::State& state)
{
    downloads(state, int(state.range(0)), sourceCount);
}
BENCHMARK(BM_DownloadsOf240Sources)->ArgName("delay_ms")->Arg(200)->Arg(0)->Iterations(3)->UseRealTime()->Unit(benchmark::kMillisecond);

// Through one session, as a bare client would: every download started at once.
void BM_DownloadsOfManySources(benchmark::State& state)
{
    downloads(state, int(state.range(1)), int(state.range(0)));
}
BENCHMARK(BM_DownloadsOfManySources)->ArgNames({ "sources", "delay_ms" })->ArgsProduct({ { 10, 100, 240, 1000 }, { 0, 200 } })->Iterations(5)->UseRealTime()->Unit(benchmark::kMillisecond);

// A bare client: one libcurl multi handle starting every download at once, without the
// engine's global cap, its sessions or delegate queues; the bytes are read by nobody.
void BM_BareClientOfManySources(benchmark::State& state)
{
    const int count = int(state.range(0));
    const auto server = serverOfSources(int(state.range(1)), count);
    const std::string to = "::127.0.0.1:" + std::to_string(server->port());
    curl_slist* connectTo = curl_slist_append(nullptr, to.c_str());
    const auto discard = +[](char*, size_t size, size_t n, void*) { return size * n; };
    for (auto _ : state) {
        CURLM* multi = curl_multi_init();
        std::vector<CURL*> easies;
        for (int i = 0; i < count; ++i) {
            CURL* easy = curl_easy_init();
            curl_easy_setopt(easy, CURLOPT_URL, linkOf(i).toUtf8().constData());
            curl_easy_setopt(easy, CURLOPT_CONNECT_TO, connectTo);
            curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, discard);
            curl_multi_add_handle(multi, easy);
            easies.push_back(easy);
        }
        int running = 1;
        while (running > 0) {
            curl_multi_perform(multi, &running);
            if (running > 0)
                curl_multi_poll(multi, nullptr, 0, 1000, nullptr);
        }
        state.PauseTiming();
        for (CURL* easy : easies) {
            curl_multi_remove_handle(multi, easy);
            curl_easy_cleanup(easy);
        }
        curl_multi_cleanup(multi);
        state.ResumeTiming();
    }
    curl_slist_free_all(connectTo);
}
BENCHMARK(BM_BareClientOfManySources)->ArgNames({ "sources", "delay_ms" })->ArgsProduct({ { 10, 100, 240, 1000 }, { 0, 200 } })->Iterations(5)->UseRealTime()->Unit(benchmark::kMillisecond);

// In the child: serves the feeds, tells its port on standard output, stops when its input ends.
void BM_ServeFeeds(benchmark::State& state)
{
    for (auto _ : state) {
        const auto server = serverOfSources(qEnvironmentVariableIntValue("SYNC_BENCH_SERVE_DELAY"));
        std::printf("%d\n", server->port());
        std::fflush(stdout);
        std::string line;
        while (std::getline(std::cin, line)) { }
    }
}
const bool serving = qEnvironmentVariableIsSet("SYNC_BENCH_SERVE_DELAY")
    && benchmark::RegisterBenchmark("BM_ServeFeeds", BM_ServeFeeds)->Iterations(1);

void BM_SyncServedApart(benchmark::State& state)
{
    QProcess child;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(u"SYNC_BENCH_SERVE_DELAY"_s, QString::number(state.range(0)));
    child.setProcessEnvironment(environment);
    child.setStandardErrorFile(QProcess::nullDevice());
    child.start(QCoreApplication::applicationFilePath(), { u"--benchmark_filter=BM_ServeFeeds"_s });
    int port = 0;
    while (port == 0 && child.waitForReadyRead(30'000)) {
        while (port == 0 && child.canReadLine())
            port = child.readLine().trimmed().toInt();
    }
    if (port == 0) {
        state.SkipWithError("the serving child did not start");
        return;
    }
    for (int i = 0; i < sourceCount; ++i)
        UrlSessionTesting::mapToLoopback(u"http"_s, hostOf(i), 80, port);
    for (auto _ : state) {
        for (int64_t i = 0; i < state.range(1); ++i) {
            state.PauseTiming();
            const auto home = freshHomeWithSources();
            UrlSessionTesting::closeIdleConnections();
            state.ResumeTiming();
            if (!refresh()) {
                state.SkipWithError("the refresh failed");
                break;
            }
        }
    }
    state.counters["peak_memory_MiB"] = peakMemoryMiB();
    UrlSessionTesting::removeLoopbackMappings();
    child.closeWriteChannel();
    child.waitForFinished(10'000);
}
// One refresh in a fresh process, and three one after the other (memory freed by one is given
// back to the system only once no refresh has run for a while).
BENCHMARK(BM_SyncServedApart)
    ->ArgNames({ "delay_ms", "refreshes" })
    ->ArgsProduct({ { 200, 0 }, { 1, 3 } })
    ->Iterations(1)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

} // namespace
