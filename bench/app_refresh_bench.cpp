// The application's stories window over 10 to 1,000 sources, each under its own host name in the
// loopback world, every answer delayed 200 ms: the time from the window's refresh starting (it
// refreshes as it opens) until the first story row of the new list is painted, and when the
// last download ended and the list was written on the way. One case per process
// (--benchmark_filter=.../sources:N/): the application is made once.

#include "app/shell/Application.h"
#include "app/shell/Storyboards.h"
#include "data/model/SourcesData.h"
#include "data/model/StoredStoriesData.h"
#include "storylist/ListCellView.h"
#include "platform/foundation/network/UrlSessionTesting.h"
#include "testsupport/LoopbackWorld.h"

#include "FeedSites.h"
#include "RefreshPhases.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTemporaryDir>
#include <QTimer>

#include <benchmark/benchmark.h>

using namespace Tickerly;
using namespace Tickerly::Foundation;
using namespace Tickerly::Data;
using namespace Tickerly::StoryList;
using namespace Tickerly::App;
using namespace Tickerly::TestSupport;

using namespace Qt::Literals::StringLiterals;

namespace {

// Notes when the window first paints anything, and when it first paints a story row.
class FirstPaints : public QObject {
public:
    QElapsedTimer clock;
    qint64 windowMs = -1;
    qint64 rowMs = -1;

    // The main thread sleeps in its event loop until a row is painted, as the application's
    // does (polling it would take a core from the refresh), for 30 s at most. True once painted.
    bool waitForRow()
    {
        if (rowMs < 0) {
            QEventLoop loop;
            waiting = &loop;
            QTimer::singleShot(30'000, &loop, &QEventLoop::quit);
            loop.exec();
            waiting = nullptr;
        }
        return rowMs >= 0;
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() != QEvent::Paint)
            return false;
        if (windowMs < 0)
            windowMs = clock.elapsed();
        if (rowMs < 0 && qobject_cast<ListCellView*>(watched)) {
            rowMs = clock.elapsed();
            if (waiting)
                waiting->quit();
        }
        return false;
    }

private:
    QEventLoop* waiting = nullptr; // left once a row is painted
};

void BM_StoriesWindowRefreshOfDelayedSources(benchmark::State& state)
{
    const int sourceCount = int(state.range(0));
    qputenv("TICKERLY_LOOPBACK_ONLY", "1");
    TestSupport::LoopbackWorld world(sourceCount + 16);
    BenchSites::addFeedSites(world, sourceCount, 3, 200);
    registerApplicationStoryboards();
    Application application;
    FirstPaints watcher;
    qApp->installEventFilter(&watcher);
    RefreshPhases::Recorder phases;

    // One data home for the run: the shared store stays open for the life of the process.
    QTemporaryDir home;
    qputenv("XDG_DATA_HOME", home.path().toUtf8());
    BenchSites::storeSources(world, sourceCount);
    // Each addition announces itself on the main queue; delivered to the open window, they would
    // start a refresh apiece beside the one timed.
    QCoreApplication::processEvents();

    for (auto _ : state) {
        state.PauseTiming();
        // Every refresh starts from an empty list, so nothing stored is painted first.
        (void)StoredStoriesData().storeStories({});
        watcher.windowMs = watcher.rowMs = -1;
        state.ResumeTiming();
        watcher.clock.start();
        phases.start();
        application.openStoriesWindow();
        const bool painted = watcher.waitForRow();
        state.PauseTiming();
        if (!painted)
            state.SkipWithError("no story row was painted");
        state.counters["window_painted_ms"] = static_cast<double>(watcher.windowMs);
        state.counters["list_painted_ms"] = static_cast<double>(watcher.rowMs);
        state.counters["downloads_ended_ms"] = phases.ms(RefreshPhases::DownloadsEnded);
        state.counters["written_ms"] = phases.ms(RefreshPhases::Written);
        application.openStoriesWindow(); // closes it
        QCoreApplication::processEvents();
        state.ResumeTiming();
    }
    qApp->removeEventFilter(&watcher);
}
BENCHMARK(BM_StoriesWindowRefreshOfDelayedSources)
    ->ArgName("sources")
    ->Arg(10)
    ->Arg(100)
    ->Arg(240)
    ->Arg(1000)
    ->Iterations(1)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

// Article pages and pictures asked for since the requests were last counted.
struct PageRequests {
    int pages = 0;
    int pictures = 0;
};
PageRequests pageRequests(TestSupport::LoopbackWorld& world)
{
    PageRequests counted;
    for (const TestSupport::RecordedRequest& request : world.server().requests()) {
        counted.pages += request.path.startsWith("/articles/") ? 1 : 0;
        counted.pictures += request.path.startsWith("/images/") ? 1 : 0;
    }
    world.server().clearRequests();
    return counted;
}

// Runs the main thread's events for `ms`, as the application would while it waits.
void runFor(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

// Two refreshes of the stories window in a row (opened, closed, opened again), the article
// pages and pictures saying they stay fresh for five minutes: the requests for them in each
// refresh, once the shown stories' pictures are in (three seconds after the first row, every
// answer taking 200 ms). Args: sources, whether the answers are kept for reuse (0: a cache that
// keeps nothing, as before there was one).
void BM_TwoRefreshesInARow(benchmark::State& state)
{
    const int sourceCount = int(state.range(0));
    qputenv("TICKERLY_LOOPBACK_ONLY", "1");
    TestSupport::LoopbackWorld world(sourceCount + 16);
    BenchSites::addFeedSites(world, sourceCount, 3, 200);
    world.setArticleCacheControl("max-age=300");
    UrlSessionTesting::setCacheCapacity(state.range(1) != 0 ? -1 : 0);
    registerApplicationStoryboards();
    Application application;
    FirstPaints watcher;
    qApp->installEventFilter(&watcher);
    QTemporaryDir home;
    qputenv("XDG_DATA_HOME", home.path().toUtf8());
    BenchSites::storeSources(world, sourceCount);
    QCoreApplication::processEvents();

    for (auto _ : state) {
        for (const char* round : { "first", "second" }) {
            world.server().clearRequests();
            watcher.rowMs = -1;
            watcher.clock.start();
            application.openStoriesWindow();
            watcher.waitForRow();
            runFor(3000);
            const PageRequests counted = pageRequests(world);
            state.counters[std::string(round) + "_pages"] = counted.pages;
            state.counters[std::string(round) + "_pictures"] = counted.pictures;
            state.counters[std::string(round) + "_list_painted_ms"]
                = static_cast<double>(watcher.rowMs);
            application.openStoriesWindow(); // closes it
            QCoreApplication::processEvents();
        }
    }
    state.counters["cache_KiB"] = double(UrlSessionTesting::cacheSize()) / 1024;
    qApp->removeEventFilter(&watcher);
    UrlSessionTesting::setCacheCapacity(-1);
}
BENCHMARK(BM_TwoRefreshesInARow)
    ->ArgNames({ "sources", "kept" })
    ->Args({ 240, 0 })
    ->Args({ 240, 1 })
    ->Iterations(1)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

} // namespace
