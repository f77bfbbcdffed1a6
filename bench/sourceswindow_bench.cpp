// The application's sources window over N stored sources, each with its icon stored: the time
// from opening the window (as the application does when it starts) until the first source row
// is painted, the same from the process's start with the benchmark's own set-up (writing the
// stored sources and icons) left out, the resident memory once it idles, and the time to open
// it again after closing it; both openings also in the main thread's processor time. One case
// per process (`--benchmark_filter=.../1000`), so that the figures are the case's own; nothing
// is downloaded (every source has its icon, so no icon search starts).

#include "app/shell/Application.h"
#include "app/shell/Storyboards.h"
#include "app/sources/SourceRowView.h"
#include "data/model/SourcesData.h"
#include "data/model/SourceIconData.h"

#include "MainThread.h"
#include "PeakMemory.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QImage>
#include <QTemporaryDir>
#include <QTimer>

#include <benchmark/benchmark.h>

#include <ctime>
#include <fstream>
#include <string>
#include <unistd.h>

using namespace Tickerly::Data;
using namespace Tickerly::App;

using namespace Qt::Literals::StringLiterals;

namespace {

// Milliseconds since the process started (to the kernel's tick, 10 ms).
double msSinceProcessStart()
{
    std::ifstream stat("/proc/self/stat");
    std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    // The command name may hold spaces: the fields are counted after its closing parenthesis.
    std::size_t at = text.rfind(')');
    for (int field = 2; field < 22 && at != std::string::npos; ++field)
        at = text.find(' ', at + 1);
    if (at == std::string::npos)
        return -1;
    const double startedTicks = std::stod(text.substr(at + 1));
    timespec now {};
    clock_gettime(CLOCK_BOOTTIME, &now);
    return (double(now.tv_sec) + double(now.tv_nsec) / 1e9) * 1000.0
        - startedTicks * 1000.0 / double(sysconf(_SC_CLK_TCK));
}

// Notes when a source row is first painted.
class RowPaints : public QObject {
public:
    QElapsedTimer clock;
    qint64 rowMs = -1;
    QEventLoop* waiting = nullptr;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::Paint && rowMs < 0
            && (dynamic_cast<SourceTableViewCell*>(watched)
                || dynamic_cast<SourceRowView*>(watched))) {
            rowMs = clock.elapsed();
            if (waiting)
                waiting->quit();
        }
        return false;
    }
};

// Opens (or closes and opens) the window; returns the milliseconds until a row is painted.
qint64 openUntilPainted(Application& application, RowPaints& watcher)
{
    watcher.rowMs = -1;
    watcher.clock.start();
    application.openSourcesWindow();
    QEventLoop loop;
    watcher.waiting = &loop;
    QTimer::singleShot(60'000, &loop, &QEventLoop::quit);
    if (watcher.rowMs < 0)
        loop.exec();
    watcher.waiting = nullptr;
    return watcher.rowMs;
}

void BM_SourcesWindow(benchmark::State& state)
{
    const int count = int(state.range(0));
    const double beforeSetUp = msSinceProcessStart();
    QTemporaryDir home;
    qputenv("XDG_DATA_HOME", home.path().toUtf8());
    {
        SourcesData sources;
        for (int i = 0; i < count; ++i) {
            const QString link = u"http://site%1.test/feed.xml"_s.arg(i);
            (void)sources.addSource(std::make_shared<Source>(u"Site %1"_s.arg(i), link));
            QImage icon(96, 96, QImage::Format_ARGB32);
            icon.fill(QColor::fromHsv(i * 7 % 360, 160, 200));
            SourceIconData::setIconForSourceLink(link, icon);
        }
    }
    // The additions' announcements, before any window listens.
    QCoreApplication::processEvents();
    QElapsedTimer sinceSetUp;
    sinceSetUp.start();
    registerApplicationStoryboards();
    Application application;
    RowPaints watcher;
    qApp->installEventFilter(&watcher);

    for (auto _ : state) {
        const double cpuBefore = threadCpuMs();
        const qint64 first = openUntilPainted(application, watcher);
        const double cpu = threadCpuMs() - cpuBefore;
        const qint64 applicationMs = sinceSetUp.elapsed();
        state.PauseTiming();
        state.counters["first_painted_cpu_ms"] = cpu;
        state.counters["from_start_ms"] = beforeSetUp + double(applicationMs);
        idle(1500);
        state.counters["first_painted_ms"] = double(first);
        state.counters["idle_MiB"] = residentMemoryMiB();
        application.openSourcesWindow(); // closes it
        idle(200);
        state.ResumeTiming();
        const double cpuBeforeAgain = threadCpuMs();
        const qint64 again = openUntilPainted(application, watcher);
        const double cpuAgain = threadCpuMs() - cpuBeforeAgain;
        state.PauseTiming();
        state.counters["reopened_ms"] = double(again);
        state.counters["reopened_cpu_ms"] = cpuAgain;
        if (first < 0 || again < 0)
            state.SkipWithError("no source row was painted");
        application.openSourcesWindow();
        QCoreApplication::processEvents();
        state.ResumeTiming();
    }
    qApp->removeEventFilter(&watcher);
}
BENCHMARK(BM_SourcesWindow)
    ->ArgName("sources")
    ->Arg(10)
    ->Arg(100)
    ->Arg(240)
    ->Arg(1000)
    ->Iterations(1)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

} // namespace
