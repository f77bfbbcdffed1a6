// The application's first start over N stored sources that have no icon yet and whose sites have
// none either (every icon request on loopback answers 404): from opening the sources window until
// every source is marked as having no icon, the longest time the main thread went without
// turning its event loop, the whole time, and how many writes of the sources list announced the
// marks; the longest also counted from the first painted source row on, apart from the first
// paint's own cost, and as the main thread's own CPU time (on a shared, loaded machine the wall
// clock also counts the time the thread waited for a core). One case per process
// (`--benchmark_filter=sources:1000/`).

#include "app/shell/Application.h"
#include "app/shell/Storyboards.h"
#include "app/sources/SourceRowView.h"
#include "data/model/SourcesData.h"
#include "platform/foundation/base/NotificationCenter.h"
#include "platform/foundation/network/UrlSessionTesting.h"
#include "testsupport/LoopbackServer.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTemporaryDir>
#include <QTimer>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <ctime>

using namespace Tickerly;
using namespace Tickerly::Foundation;
using namespace Tickerly::Data;
using namespace Tickerly::App;
using namespace Tickerly::TestSupport;

using namespace Qt::Literals::StringLiterals;

namespace {

// A zero-interval timer fires at every turn of the event loop; the widest gap between two
// firings is the longest task the main thread ran.
class LoopTurns : public QObject {
public:
    LoopTurns()
    {
        m_timer.setInterval(0);
        connect(&m_timer, &QTimer::timeout, this, [this] {
            const double cpu = threadCpuMs();
            if (m_last.isValid()) {
                const double gap = m_last.nsecsElapsed() / 1e6;
                longestMs = std::max(longestMs, gap);
                if (m_painted) {
                    longestAfterPaintMs = std::max(longestAfterPaintMs, gap);
                    longestCpuAfterPaintMs = std::max(longestCpuAfterPaintMs, cpu - m_lastCpu);
                }
            }
            m_painted = m_painted || rowPainted;
            m_last.start();
            m_lastCpu = cpu;
        });
        m_timer.start();
    }
    double longestMs = 0;
    double longestAfterPaintMs = 0;
    double longestCpuAfterPaintMs = 0;
    bool rowPainted = false;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::Paint
            && (dynamic_cast<SourceTableViewCell*>(watched)
                || dynamic_cast<SourceRowView*>(watched)))
            rowPainted = true;
        return false;
    }

private:
    QTimer m_timer;
    QElapsedTimer m_last;
    double m_lastCpu = 0;
    bool m_painted = false;

    static double threadCpuMs()
    {
        timespec now {};
        clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
        return double(now.tv_sec) * 1e3 + double(now.tv_nsec) / 1e6;
    }
};

void BM_FirstStartWithoutIcons(benchmark::State& state)
{
    const int count = int(state.range(0));
    QTemporaryDir home;
    qputenv("XDG_DATA_HOME", home.path().toUtf8());
    TestSupport::LoopbackServer server(64);
    {
        SourcesData sources;
        for (int i = 0; i < count; ++i) {
            const QString host = u"site%1.test"_s.arg(i, 4, 10, QChar(u'0'));
            UrlSessionTesting::mapToLoopback(u"http"_s, host, 80, server.port());
            (void)sources.addSource(
                std::make_shared<Source>(u"Site %1"_s.arg(i), u"http://feeds.%1/rss"_s.arg(host)));
        }
    }
    // The additions' announcements, before any window listens.
    QCoreApplication::processEvents();
    registerApplicationStoryboards();
    Application application;

    int writes = 0;
    int marked = 0;
    QEventLoop done;
    ObserverToken token = NotificationCenter::defaultCenter().addObserver(
        SourcesData::changeNotification(), nullptr, [&](const Notification& n) {
            const QList<int> updated
                = n.userInfo.value(SourcesData::updatedSourcesKey()).value<QList<int>>();
            if (updated.isEmpty())
                return;
            ++writes;
            marked += int(updated.size());
            if (marked >= count)
                done.quit();
        });

    for (auto _ : state) {
        LoopTurns turns;
        qApp->installEventFilter(&turns);
        QElapsedTimer clock;
        clock.start();
        application.openSourcesWindow();
        QTimer::singleShot(300'000, &done, &QEventLoop::quit);
        if (marked < count)
            done.exec();
        state.counters["all_marked_ms"] = double(clock.elapsed());
        state.counters["longest_task_ms"] = turns.longestMs;
        state.counters["longest_after_paint_ms"] = turns.longestAfterPaintMs;
        state.counters["longest_cpu_after_paint_ms"] = turns.longestCpuAfterPaintMs;
        qApp->removeEventFilter(&turns);
        state.counters["list_writes"] = writes;
        if (marked < count)
            state.SkipWithError("not every source was marked");
    }
    UrlSessionTesting::removeLoopbackMappings();
}
BENCHMARK(BM_FirstStartWithoutIcons)
    ->ArgName("sources")
    ->Arg(100)
    ->Arg(1000)
    ->Iterations(1)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

} // namespace
