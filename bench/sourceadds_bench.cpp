// Sources added one by one with the application's sources window open: each addition is the step
// the application takes once a typed address turns out to be a feed (on the main queue: the
// source added to the stored list, then looked up again under its link for its icon search), and
// its announcement reaches the window's list, which inserts the row and draws, before the next
// addition starts. Wall and main-thread processor time of all the additions; one case per process
// (`--benchmark_filter=.../1000`). The discovery and the icon search (both downloads) are left
// out. It builds against older trees (with MainThread.h beside it) for a side-by-side figure.

#include "app/shell/Application.h"
#include "app/shell/Storyboards.h"
#include "data/model/SourcesData.h"

#include "MainThread.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

using namespace Tickerly::Data;
using namespace Tickerly::App;

using namespace Qt::Literals::StringLiterals;

namespace {

void BM_AddSourcesOneByOne(benchmark::State& state)
{
    const int count = int(state.range(0));
    QTemporaryDir home;
    qputenv("XDG_DATA_HOME", home.path().toUtf8());
    registerApplicationStoryboards();
    Application application;
    application.openSourcesWindow();
    idle(500);

    for (auto _ : state) {
        const double cpuBefore = threadCpuMs();
        QElapsedTimer clock;
        clock.start();
        for (int i = 0; i < count; ++i) {
            const QString link = u"http://site%1.example.test/feed.xml"_s.arg(i);
            SourcesData sources;
            (void)sources.addSource(std::make_shared<Source>(u"Site %1"_s.arg(i), link));
            benchmark::DoNotOptimize(sources.sourceWithLink(link));
            // The announcement and the window's answer to it, as between two additions of a
            // person.
            QCoreApplication::processEvents();
        }
        const qint64 wallMs = clock.elapsed();
        const double cpu = threadCpuMs() - cpuBefore;
        state.PauseTiming();
        state.counters["adds_ms"] = double(wallMs);
        state.counters["adds_cpu_ms"] = cpu;
        if (SourcesData().sources().size() != count)
            state.SkipWithError("sources are missing");
        state.ResumeTiming();
    }
}
BENCHMARK(BM_AddSourcesOneByOne)
    ->ArgName("sources")
    ->Arg(1000)
    ->Arg(2000)
    ->Iterations(1)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

} // namespace
