// A new user's sources window: the application launched as it launches itself (the sources
// window opened by its delegate) over a fresh home, with no source, so that the welcome screen
// plays its wave. Figures: resident memory and its peak after one whole turn of the wave
// (128 frames at 24 a second) and after a second one, and the main thread's processor time per
// second of waving. The same launch over 10 stored sources, where the welcome screen stays
// hidden, for what it costs there. One case per process (`--benchmark_filter=.../0`).

#include "app/shell/AppDelegate.h"
#include "app/shell/Application.h"
#include "app/shell/LaunchUpdates.h"
#include "app/shell/Storyboards.h"
#include "data/model/SourcesData.h"

#include "MainThread.h"
#include "PeakMemory.h"

#include <QApplication>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

using namespace Tickerly::Data;
using namespace Tickerly::App;

using namespace Qt::Literals::StringLiterals;

namespace {

// One turn of the wave, with a little to spare for the first paint.
constexpr int kTurnMs = 128 * 1000 / 24 + 500;

void BM_NewUserSourcesWindow(benchmark::State& state)
{
    const int count = int(state.range(0));
    QTemporaryDir home;
    qputenv("XDG_DATA_HOME", home.filePath(u"data"_s).toUtf8());
    qputenv("XDG_CONFIG_HOME", home.filePath(u"config"_s).toUtf8());
    {
        SourcesData sources;
        for (int i = 0; i < count; ++i)
            (void)sources.addSource(std::make_shared<Source>(
                u"Site %1"_s.arg(i), u"http://site%1.test/feed.xml"_s.arg(i)));
    }
    QCoreApplication::processEvents();
    // Nothing is downloaded: the launch's name and popular-feed updates stay off.
    setLaunchUpdates({});
    registerApplicationStoryboards();
    Application application;
    AppDelegate delegate;
    application.setDelegate(&delegate);

    for (auto _ : state) {
        const double cpuBefore = threadCpuMs();
        application.finishLaunching();
        const double launchCpu = threadCpuMs() - cpuBefore;
        idle(kTurnMs);
        const double turnCpu = threadCpuMs() - cpuBefore - launchCpu;
        state.PauseTiming();
        state.counters["launch_cpu_ms"] = launchCpu;
        state.counters["cpu_ms_per_s"] = turnCpu * 1000.0 / kTurnMs;
        state.counters["one_turn_MiB"] = residentMemoryMiB();
        state.counters["one_turn_peak_MiB"] = peakMemoryMiB();
        state.ResumeTiming();
        idle(kTurnMs);
        state.PauseTiming();
        state.counters["two_turns_MiB"] = residentMemoryMiB();
        state.counters["two_turns_peak_MiB"] = peakMemoryMiB();
        state.ResumeTiming();
    }
}
BENCHMARK(BM_NewUserSourcesWindow)
    ->ArgName("sources")
    ->Arg(0)
    ->Arg(10)
    ->Iterations(1)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

} // namespace
