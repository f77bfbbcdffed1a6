// A full refresh (Sync) of 240 sources, each under its own host name, answered by one loopback
// server that waits 200 ms (or not at all) before each feed of about 38 KB: download, parse,
// sort and store. Cold is the first refresh into an empty store, warm a refresh over the list it
// stored. Beside it, the network floor: the same 240 downloads through one plain session, read
// by nobody. BM_SyncServedApart runs the same cold refresh with the server in a child process,
// so that its peak memory (VmHWM, one case per process) is the refresh's own.

#include "data/model/SourcesData.h"
#include "data/model/StoredStoriesData.h"
#include "data/sync/Sync.h"
#include "platform/foundation/process/FreedMemory.h"
#include "platform/foundation/network/UrlSessionTesting.h"
#include "testsupport/LoopbackServer.h"
#include "testsupport/TestSupport.h"

#include "PeakMemory.h"
#include "RefreshPhases.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QElapsedTimer>
#include <QDirIterator>
#include <QFileInfo>
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

using namespace Tickerly;
using namespace Tickerly::Foundation;
using namespace Tickerly::Data;
using namespace Tickerly::TestSupport;

using namespace Qt::Literals::StringLiterals;

namespace {

constexpr int sourceCount = 240;

QByteArray feed(int n)
{
    QByteArray doc = "<?xml version=\"1.0\"?><rss version=\"2.0\"><channel><title>Feed</title>";
    for (int i = 0; i < 20; ++i) {
        QByteArray body = "<p><img src=\"http://feed" + QByteArray::number(n) + ".example.test/"
            + QByteArray::number(i)
            + ".jpg\"/>Some text of the story, long enough to be cut to a hundred characters when "
              "the parser cleans "
              "it for the list &amp; more.</p>";
        while (body.size() < 1700)
            body += "<p>Further paragraphs of the story&#8217;s text, as publishers put whole "
                    "articles in their feeds.</p>";
        doc += "<item><title>Story " + QByteArray::number(i) + "</title><link>http://feed"
            + QByteArray::number(n) + ".example.test/" + QByteArray::number(i)
            + "</link><description><![CDATA[" + body + "]]></description><pubDate>"
            + QDateTime::fromSecsSinceEpoch(1'700'000'000 - (n * 20 + i) * 60, Qt::UTC)
                  .toString(Qt::RFC2822Date)
                  .toUtf8()
            + "</pubDate></item>";
    }
    return doc + "</channel></rss>";
}

// One feed of `items` items whose descriptions are `bodyBytes` of plain text each.
QByteArray feedOfItems(int n, int items, int bodyBytes)
{
    QByteArray doc = "<?xml version=\"1.0\"?><rss version=\"2.0\"><channel><title>Feed</title>";
    const QByteArray text
        = QByteArray("Plain text of a story as short feeds carry it, repeated to its length. ")
              .repeated(bodyBytes / 72 + 1)
              .left(bodyBytes);
    for (int i = 0; i < items; ++i) {
        doc += "<item><title>Story " + QByteArray::number(i) + " of feed " + QByteArray::number(n)
            + "</title><link>http://feed" + QByteArray::number(n) + ".example.test/story/"
            + QByteArray::number(i) + "</link><description>" + text + "</description><pubDate>"
            + QDateTime::fromSecsSinceEpoch(1'700'000'000 - i * 60 - n, Qt::UTC)
                  .toString(Qt::RFC2822Date)
                  .toUtf8()
            + "</pubDate></item>";
    }
    return doc + "</channel></rss>";
}

// A feed of about 1 KB items, about `bytes` long.
QByteArray largeFeed(qsizetype bytes)
{
    const qsizetype item = feedOfItems(0, 2, 900).size() - feedOfItems(0, 1, 900).size();
    return feedOfItems(0, int(bytes / item), 900);
}

// The sets BM_RefreshMemory refreshes, each feed served under a host of its own.
enum FeedSet { Generated240, LargeAmong30, Real240, AtTheStoreCap };

QList<QByteArray> feedsOf(int set)
{
    QList<QByteArray> feeds;
    switch (set) {
    case Generated240:
        for (int i = 0; i < sourceCount; ++i)
            feeds.append(feed(i));
        break;
    case LargeAmong30:
        feeds.append(largeFeed(30 * 1024 * 1024));
        for (int i = 1; i < 30; ++i)
            feeds.append(feed(i));
        break;
    case Real240: {
        // The 240 largest documents of the outside corpus, read in place.
        QList<QFileInfo> files;
        QDirIterator it(
            TestSupport::corpusPath(), { u"*.xml"_s }, QDir::Files, QDirIterator::Subdirectories);
        while (it.hasNext())
            files.append(QFileInfo(it.next()));
        std::sort(files.begin(), files.end(), [](const QFileInfo& a, const QFileInfo& b) {
            return a.size() != b.size() ? a.size() > b.size() : a.filePath() < b.filePath();
        });
        for (qsizetype i = 0; i < files.size() && i < sourceCount; ++i)
            feeds.append(TestSupport::readFile(files[i].filePath()));
        break;
    }
    case AtTheStoreCap:
        // 240 x 210 short items: 50,400 stories, past the 50,000 the store keeps.
        for (int i = 0; i < sourceCount; ++i)
            feeds.append(feedOfItems(i, 210, 120));
        break;
    }
    return feeds;
}

QString hostOf(int i) { return u"feed%1.example.test"_s.arg(i); }

QString linkOf(int i) { return u"http://"_s + hostOf(i) + u"/"_s + hostOf(i) + u".xml"_s; }

// The loopback server answering every source after `delayMs`.
std::unique_ptr<TestSupport::LoopbackServer> serverOfSources(int delayMs, int count = sourceCount)
{
    auto server = std::make_unique<TestSupport::LoopbackServer>(count + 16);
    for (int i = 0; i < count; ++i) {
        TestSupport::ScriptedReply reply;
        reply.body = feed(i);
        reply.delayMs = delayMs;
        server->reply(u"/"_s + hostOf(i) + u".xml"_s, reply);
        UrlSessionTesting::mapToLoopback(u"http"_s, hostOf(i), 80, server->port());
    }
    return server;
}

// The loopback server answering each of `feeds` under a host of its own.
std::unique_ptr<TestSupport::LoopbackServer> serverOf(const QList<QByteArray>& feeds, int delayMs)
{
    auto server = std::make_unique<TestSupport::LoopbackServer>(int(feeds.size()) + 16);
    for (int i = 0; i < feeds.size(); ++i) {
        TestSupport::ScriptedReply reply;
        reply.body = feeds[i];
        reply.delayMs = delayMs;
        server->reply(u"/"_s + hostOf(i) + u".xml"_s, reply);
    }
    return server;
}

// A data home of its own, holding `count` sources; gone with the returned folder.
std::unique_ptr<QTemporaryDir> freshHomeWithSources(int count = sourceCount)
{
    auto home = std::make_unique<QTemporaryDir>();
    qputenv("XDG_DATA_HOME", home->path().toUtf8());
    SourcesData sources;
    for (int i = 0; i < count; ++i)
        (void)sources.addSource(std::make_shared<Source>(hostOf(i), linkOf(i)));
    return home;
}

// `reportedMs`: when the completion ran, on the clock of `phases`.
bool refresh(const RefreshPhases::Recorder* phases = nullptr, double* reportedMs = nullptr)
{
    // The main thread sleeps in its event loop, as the application's does: polling it, as a loop
    // of processEvents() calls does, would take a core from the readers.
    bool done = false;
    bool success = false;
    QEventLoop loop;
    QTimer::singleShot(60'000, &loop, &QEventLoop::quit);
    auto sync = Sync::create();
    sync->updateStories(std::nullopt, [&](bool ok) {
        if (phases && reportedMs)
            *reportedMs = phases->msNow();
        success = ok;
        done = true;
        loop.quit();
    });
    if (!done)
        loop.exec();
    return done && success;
}

// A refresh of `count` sources answered after `delayMs`, cold into an empty store or warm over
// the list a first refresh stored. Beside the time, the medians of its phases: when the last
// download ended (from the start), and from there until the feeds were all read, the stories
// sorted, put together into one archive, written, and the completion run on the main queue;
// then the read-back of the 20 stories a list shows, as the programs do next.
void syncOf(benchmark::State& state, int count, int delayMs, bool warm)
{
    using namespace RefreshPhases;
    const auto server = serverOfSources(delayMs, count);
    Recorder phases;
    std::vector<double> ended, read, sorted, together, written, reported, afterDownloads, readBack;
    qsizetype storedBytes = 0;
    int incomplete = 0;
    for (auto _ : state) {
        state.PauseTiming();
        const auto home = freshHomeWithSources(count);
        if (warm && !refresh()) {
            state.SkipWithError("the first refresh failed");
            break;
        }
        UrlSessionTesting::closeIdleConnections();
        double reportedMs = -1;
        state.ResumeTiming();
        phases.start();
        if (!refresh(&phases, &reportedMs)) {
            state.SkipWithError("the refresh failed");
            break;
        }
        state.PauseTiming();
        QElapsedTimer reading;
        reading.start();
        const qsizetype shown = StoredStoriesData().currentStories(20).size();
        readBack.push_back(double(reading.nsecsElapsed()) / 1e6);
        ended.push_back(phases.ms(DownloadsEnded));
        read.push_back(phases.ms(FeedsRead) - phases.ms(DownloadsEnded));
        sorted.push_back(phases.ms(Sorted) - phases.ms(FeedsRead));
        together.push_back(phases.ms(PutTogether) - phases.ms(Sorted));
        written.push_back(phases.ms(Written) - phases.ms(PutTogether));
        reported.push_back(reportedMs - phases.ms(Written));
        afterDownloads.push_back(phases.ms(Written) - phases.ms(DownloadsEnded));
        const qsizetype stored = StoredStoriesData().storedStories().size();
        storedBytes = StoredStoriesData()
                          .localStore()
                          ->data(u"velmora.TickerlyShared.StoredStories"_s)
                          .value_or(QByteArray())
                          .size();
        state.ResumeTiming();
        // On a loaded machine a few of a thousand downloads may fail: said, not hidden.
        if (stored != std::min(qsizetype(count) * 20, StoredStoriesData::maxStoredStories))
            ++incomplete;
        if (shown != 20) {
            state.SkipWithError("stories are missing");
            break;
        }
    }
    state.counters["incomplete_refreshes"] = incomplete;
    state.counters["downloads_ended_ms"] = median(ended);
    state.counters["then_read_ms"] = median(read);
    state.counters["then_sorted_ms"] = median(sorted);
    state.counters["then_put_together_ms"] = median(together);
    state.counters["then_written_ms"] = median(written);
    state.counters["then_reported_ms"] = median(reported);
    state.counters["written_after_downloads_ms"] = median(afterDownloads);
    state.counters["read_back_ms"] = median(readBack);
    state.counters["stored_MiB"] = double(storedBytes) / (1024.0 * 1024.0);
    UrlSessionTesting::removeLoopbackMappings();
}

void BM_SyncOf240Sources(benchmark::State& state)
{
    syncOf(state, sourceCount, int(state.range(1)), state.range(0) == 1);
}
BENCHMARK(BM_SyncOf240Sources)
    ->ArgNames({ "warm", "delay_ms" })
    ->ArgsProduct({ { 0, 1 }, { 200, 0 } })
    ->Iterations(3)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

// A cold refresh of 10 to 1,000 sources, answered at once or after 200 ms, and its floors (below):
// what each source costs, and whether a thousand still download at once.
void BM_SyncOfManySources(benchmark::State& state)
{
    syncOf(state, int(state.range(0)), int(state.range(1)), false);
}
BENCHMARK(BM_SyncOfManySources)
    ->ArgNames({ "sources", "delay_ms" })
    ->ArgsProduct({ { 10, 100, 240, 1000 }, { 0, 200 } })
    ->Iterations(5)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

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
            session
                ->dataTask(UrlRequest(*Url::fromString(linkOf(i))),
                    [&](std::optional<QByteArray>, std::optional<UrlResponse>,
                        std::optional<Error>) {
                        std::lock_guard lock(mutex);
                        ++done;
                        finished.notify_all();
                    })
                ->resume();
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
BENCHMARK(BM_DownloadsOf240Sources)
    ->ArgName("delay_ms")
    ->Arg(200)
    ->Arg(0)
    ->Iterations(3)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

// Through one session, as a bare client would: every download started at once.
void BM_DownloadsOfManySources(benchmark::State& state)
{
    downloads(state, int(state.range(1)), int(state.range(0)));
}
BENCHMARK(BM_DownloadsOfManySources)
    ->ArgNames({ "sources", "delay_ms" })
    ->ArgsProduct({ { 10, 100, 240, 1000 }, { 0, 200 } })
    ->Iterations(5)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

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
BENCHMARK(BM_BareClientOfManySources)
    ->ArgNames({ "sources", "delay_ms" })
    ->ArgsProduct({ { 10, 100, 240, 1000 }, { 0, 200 } })
    ->Iterations(5)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

// In the child: serves the feeds of a set (SYNC_BENCH_SERVE_SET, the 240 generated ones when
// unset), tells its port, how many feeds and how many bytes on standard output, stops when its
// input ends.
void BM_ServeFeeds(benchmark::State& state)
{
    for (auto _ : state) {
        const QList<QByteArray> feeds
            = feedsOf(qEnvironmentVariableIntValue("SYNC_BENCH_SERVE_SET"));
        qint64 bytes = 0;
        for (const QByteArray& feed : feeds)
            bytes += feed.size();
        const auto server = serverOf(feeds, qEnvironmentVariableIntValue("SYNC_BENCH_SERVE_DELAY"));
        std::printf("%d %lld %lld\n", server->port(), qlonglong(feeds.size()), qlonglong(bytes));
        std::fflush(stdout);
        std::string line;
        while (std::getline(std::cin, line)) { }
    }
}
const bool serving = qEnvironmentVariableIsSet("SYNC_BENCH_SERVE_DELAY")
    && benchmark::RegisterBenchmark("BM_ServeFeeds", BM_ServeFeeds)->Iterations(1);

// A child process serving a set of feeds, every host of it mapped to the child's port.
struct ServingChild {
    QProcess process;
    int feeds = 0;
    qint64 bytes = 0;

    bool start(int set, int delayMs)
    {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(u"SYNC_BENCH_SERVE_DELAY"_s, QString::number(delayMs));
        environment.insert(u"SYNC_BENCH_SERVE_SET"_s, QString::number(set));
        process.setProcessEnvironment(environment);
        process.setStandardErrorFile(QProcess::nullDevice());
        process.start(
            QCoreApplication::applicationFilePath(), { u"--benchmark_filter=BM_ServeFeeds"_s });
        int port = 0;
        while (port == 0 && process.waitForReadyRead(120'000)) {
            while (port == 0 && process.canReadLine()) {
                const QList<QByteArray> words = process.readLine().trimmed().split(' ');
                if (words.size() == 3) {
                    port = words[0].toInt();
                    feeds = words[1].toInt();
                    bytes = words[2].toLongLong();
                }
            }
        }
        for (int i = 0; port != 0 && i < feeds; ++i)
            UrlSessionTesting::mapToLoopback(u"http"_s, hostOf(i), 80, port);
        return port != 0;
    }
    ~ServingChild()
    {
        UrlSessionTesting::removeLoopbackMappings();
        process.closeWriteChannel();
        process.waitForFinished(10'000);
    }
};

void BM_SyncServedApart(benchmark::State& state)
{
    ServingChild child;
    if (!child.start(Generated240, int(state.range(0)))) {
        state.SkipWithError("the serving child did not start");
        return;
    }
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
}
// One refresh in a fresh process, and three one after the other (memory freed by one is given
// back to the system only once no refresh has run for a while).
BENCHMARK(BM_SyncServedApart)
    ->ArgNames({ "delay_ms", "refreshes" })
    ->ArgsProduct({ { 200, 0 }, { 1, 3 } })
    ->Iterations(1)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

// One refresh of a set of feeds, the server in a child process, followed by the read-back of
// the 20 stories a list shows, as the programs do after a refresh. The peak is measured from the
// memory resident just before (after a refresh of the same set when the set is refreshed over
// its own stored list), so it is what the refresh itself takes.
void BM_RefreshMemory(benchmark::State& state)
{
    const int set = int(state.range(0));
    ServingChild child;
    if (!child.start(set, 0)) {
        state.SkipWithError("the serving child did not start");
        return;
    }
    for (auto _ : state) {
        state.PauseTiming();
        const auto home = freshHomeWithSources(child.feeds);
        if (set == AtTheStoreCap && !refresh()) {
            state.SkipWithError("the first refresh failed");
            break;
        }
        UrlSessionTesting::closeIdleConnections();
        releaseFreedMemory();
        const double idle = residentMemoryMiB();
        if (!resetPeakMemory()) {
            state.SkipWithError("the peak cannot be reset");
            break;
        }
        state.ResumeTiming();
        if (!refresh()) {
            state.SkipWithError("the refresh failed");
            break;
        }
        const qsizetype shown = StoredStoriesData().currentStories(20).size();
        state.PauseTiming();
        const double peak = peakMemoryMiB();
        const double downloaded = double(child.bytes) / (1024.0 * 1024.0);
        state.counters["idle_MiB"] = idle;
        state.counters["peak_MiB"] = peak;
        state.counters["above_idle_MiB"] = peak - idle;
        state.counters["downloaded_MiB"] = downloaded;
        state.counters["above_idle_per_downloaded"] = (peak - idle) / downloaded;
        if (shown != 20)
            state.SkipWithError("stories are missing");
        state.ResumeTiming();
    }
}
BENCHMARK(BM_RefreshMemory)
    ->ArgName("set")
    ->DenseRange(Generated240, AtTheStoreCap)
    ->Iterations(1)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

} // namespace
