// The application's stories window refreshed 500 times over 40 sources of the loopback world:
// resident memory and the heap in use after the first 20 refreshes and after all 500. Each
// refresh reloads the story table, which must leave nothing of the rows it replaces behind.
// The feeds' server runs in this process too; its record of requests is dropped as it goes.

#include "app/shell/Application.h"
#include "app/shell/StoriesViewController.h"
#include "app/shell/Storyboards.h"
#include "data/model/SourcesData.h"
#include "platform/appkit/Controllers.h"
#include "testsupport/LoopbackWorld.h"

#include "FeedSites.h"
#include "PeakMemory.h"

#include <QApplication>
#include <QEventLoop>
#include <QTemporaryDir>
#include <QTimer>

#include <benchmark/benchmark.h>

#include <malloc.h>

using namespace Tickerly;
using namespace Tickerly::WidgetInterface;
using namespace Tickerly::App;
using namespace Tickerly::TestSupport;

using namespace Qt::Literals::StringLiterals;

namespace {

constexpr int sourceCount = 40;

double heapInUseMiB() { return double(mallinfo2().uordblks) / (1024.0 * 1024.0); }

// Blocks the allocator maps on their own: with the threshold fixed below, every decoded story
// picture (320 x 200, 250 KiB) and nothing small.
double mappedMiB() { return double(mallinfo2().hblkhd) / (1024.0 * 1024.0); }

void BM_StoriesWindowRefreshedRepeatedly(benchmark::State& state)
{
    const int refreshes = int(state.range(0));
    // Whether two sites carry new stories at each refresh, so that the rows show other
    // stories and pictures every time, as they do over a day of real feeds.
    const bool changing = state.range(1) != 0;
    // The allocator otherwise raises the threshold after the first mapped block is freed, and
    // pictures then land in the heap among everything else.
    mallopt(M_MMAP_THRESHOLD, 128 * 1024);
    qputenv("TICKERLY_LOOPBACK_ONLY", "1");
    TestSupport::LoopbackWorld world(sourceCount + 16);
    BenchSites::addFeedSites(world, sourceCount, 9, 0);
    QTemporaryDir home;
    qputenv("XDG_DATA_HOME", home.path().toUtf8());
    BenchSites::storeSources(world, sourceCount);
    QCoreApplication::processEvents();
    registerApplicationStoryboards();
    Application application;
    application.openStoriesWindow();
    const auto& window = application.storiesWindowController();
    auto* controller
        = window ? dynamic_cast<StoriesViewController*>(window->contentViewController()) : nullptr;
    if (!controller) {
        state.SkipWithError(!window               ? "no stories window"
                : window->contentViewController() ? "another kind of list"
                                                  : "no list");
        return;
    }
    // The list's own refresh (what a pull or the menu starts, without the sound), until its
    // completion; the main thread sleeps between events.
    int renewed = 0;
    const auto refreshOnce = [&] {
        if (changing) {
            for (int k = 0; k < 2; ++k, ++renewed)
                BenchSites::renewFeedSite(world, renewed % sourceCount, 9, 21 + 20 * renewed);
        }
        QEventLoop loop;
        bool done = false;
        controller->dataSource.updateContents([&](NCUpdateResult) {
            done = true;
            loop.quit();
        });
        QTimer::singleShot(30'000, &loop, &QEventLoop::quit);
        if (!done)
            loop.exec();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        // The loopback server shares the heap and keeps every request it answered (80 a
        // refresh, about 115 KiB with their headers): what is measured is the application.
        world.server().clearRequests();
        return done;
    };

    for (auto _ : state) {
        double residentAt20 = 0;
        double heapAt20 = 0;
        double mappedAt20 = 0;
        for (int i = 1; i <= refreshes; ++i) {
            if (!refreshOnce()) {
                state.SkipWithError("a refresh did not end");
                return;
            }
            if (i == 20) {
                residentAt20 = residentMemoryMiB();
                heapAt20 = heapInUseMiB();
                mappedAt20 = mappedMiB();
            }
        }
        state.counters["resident_at_20_MiB"] = residentAt20;
        state.counters["resident_at_end_MiB"] = residentMemoryMiB();
        state.counters["heap_at_20_MiB"] = heapAt20;
        state.counters["heap_at_end_MiB"] = heapInUseMiB();
        state.counters["mapped_at_20_MiB"] = mappedAt20;
        state.counters["mapped_at_end_MiB"] = mappedMiB();
        state.counters["heap_growth_KiB_per_refresh"]
            = (heapInUseMiB() - heapAt20) * 1024.0 / std::max(1, refreshes - 20);
    }
    application.openStoriesWindow(); // closes it
    QCoreApplication::processEvents();
}
BENCHMARK(BM_StoriesWindowRefreshedRepeatedly)
    ->ArgNames({ "refreshes", "changing" })
    ->Args({ 500, 0 })
    ->Args({ 500, 1 })
    ->Args({ 60, 0 }) // short enough to run under a heap profiler
    ->Args({ 60, 1 })
    ->Iterations(1)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

} // namespace
