// The widget host with the widget plug-in over 20 stored stories: the time from loading the
// plug-in to the first painted story row, and the resident memory of a running host. The one
// source answers from loopback a second late, so what is painted first is the stored list.
//
// Beside it, the host's peak and resident memory once it shows a feed of 20 stories whose
// pictures are camera photos, against the same feed with small pictures. Run those one case per
// process (--benchmark_filter): each makes its own data home.

#include "PeakMemory.h"
#include "PictureFeed.h"

#include "data/model/Source.h"
#include "data/model/SourcesData.h"
#include "data/model/StoredStoriesData.h"
#include "data/model/tests/StoryTestSupport.h"
#include "platform/appkit/TableView.h"
#include "platform/notificationcenter/WidgetPanel.h"
#include "platform/notificationcenter/WidgetPluginLoader.h"
#include "testsupport/LoopbackServer.h"

#include <QApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>

#include <benchmark/benchmark.h>

#include <chrono>

using namespace Tickerly;
using namespace Tickerly::AppKit;
using namespace Tickerly::WidgetHost;
using namespace Tickerly::Data;
using namespace Tickerly::TestSupport;

using namespace Qt::Literals::StringLiterals;

namespace {

// Twenty stories in the shared store of a data home of our own (the host inherits it), and
// one slow source whose feed holds the same stories.
void storeTwentyStories()
{
    static QTemporaryDir home;
    static TestSupport::LoopbackServer server;
    static const bool done = [] {
        qputenv("XDG_DATA_HOME", home.path().toLocal8Bit());
        qputenv("TICKERLY_LOOPBACK_ONLY", "1");
        QList<std::shared_ptr<NewsStory>> stories;
        QByteArray feed
            = "<?xml version=\"1.0\"?><rss version=\"2.0\"><channel><title>Feed</title>";
        for (int i = 0; i < 20; ++i) {
            const QString headline
                = u"Headline number %1 of the story list, long enough to wrap onto a second line"_s
                      .arg(i);
            auto story
                = StoryTest::story(StoryTest::linkNumber(i), 1700000000 - i * 5400, headline);
            stories.append(story);
            feed += "<item><title>" + headline.toUtf8() + "</title><link>"
                + StoryTest::linkNumber(i).toUtf8() + "</link><pubDate>"
                + story->date()->toString(Qt::RFC2822Date).toUtf8() + "</pubDate></item>";
        }
        (void)StoredStoriesData().storeStories(stories);
        TestSupport::ScriptedReply reply;
        reply.body = feed + "</channel></rss>";
        reply.headers = { { "Content-Type", "application/rss+xml" } };
        reply.delayMs = 1000;
        server.reply(u"/feed"_s, reply);
        (void)SourcesData().addSource(std::make_shared<Source>(u"Feed"_s, server.url(u"/feed"_s)));
        return true;
    }();
    (void)done;
}

// Watches paint events for the first one that reaches the first story row.
class FirstRowPaint : public QObject {
public:
    explicit FirstRowPaint(QWidget* view)
        : m_view(view)
    {
        qApp->installEventFilter(this);
    }
    ~FirstRowPaint() override { qApp->removeEventFilter(this); }
    bool painted = false;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (painted || event->type() != QEvent::Paint || !watched->isWidgetType())
            return false;
        auto* table = m_view->findChild<TableView*>();
        QWidget* row = table ? table->viewAtRow(0) : nullptr;
        auto* widget = static_cast<QWidget*>(watched);
        if (row && (widget == row || row->isAncestorOf(widget)))
            painted = true;
        return false;
    }

private:
    QWidget* m_view;
};

void BM_FirstPaintedListFromStoredStories(benchmark::State& state)
{
    storeTwentyStories();
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        LoadedWidget widget = LoadedWidget::load(QStringLiteral(WIDGET_PLUGIN));
        if (!widget.ok()) {
            state.SkipWithError(qPrintable(widget.error));
            return;
        }
        WidgetPanel panel(std::move(widget.controller), widget.displayName);
        FirstRowPaint watch(panel.widgetView());
        panel.Show();
        QElapsedTimer bound;
        bound.start();
        while (!watch.painted && bound.elapsed() < 10000)
            QCoreApplication::processEvents(
                QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 5);
        const auto end = std::chrono::steady_clock::now();
        if (!watch.painted) {
            state.SkipWithError("no story row was painted");
            return;
        }
        const double seconds = std::chrono::duration<double>(end - start).count();
        state.SetIterationTime(seconds);
        // The very first also opens the library and reads the store cold.
        static const double first = seconds;
        state.counters["first_ms"] = first * 1000;
    }
}
BENCHMARK(BM_FirstPaintedListFromStoredStories)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(10);

// Starts the host with the plug-in and shows its panel; false, the run skipped, when it does not
// answer.
bool startShownHost(benchmark::State& state, QProcess& host)
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        state.SkipWithError(
            "the host's readiness is read over the session bus: run under dbus-run-session");
        return false;
    }
    const QString service = u"velmora.Tickerly.WidgetHost"_s;
    host.start(QStringLiteral(WIDGET_HOST), { u"--widget"_s, QStringLiteral(WIDGET_PLUGIN) });
    QElapsedTimer bound;
    bound.start();
    while (host.state() != QProcess::NotRunning && !bus.interface()->isServiceRegistered(service)
        && bound.elapsed() < 10000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    // Answered once its event loop runs: the panel is up, the list read and shown.
    const QDBusMessage reply = bus.call(
        QDBusMessage::createMethodCall(service, u"/"_s, service, u"Show"_s), QDBus::Block, 10000);
    if (reply.type() == QDBusMessage::ReplyMessage)
        return true;
    host.kill();
    host.waitForFinished();
    state.SkipWithError(
        qPrintable(u"the host did not start: "_s + QString::fromUtf8(host.readAllStandardError())));
    return false;
}

void BM_HostResidentMemory(benchmark::State& state)
{
    storeTwentyStories();
    for (auto _ : state) {
        QProcess host;
        if (!startShownHost(state, host))
            return;
        state.counters["resident_MiB"] = processStatusMiB(host.processId(), "VmRSS");
        host.terminate();
        host.waitForFinished();
    }
}
BENCHMARK(BM_HostResidentMemory)->Unit(benchmark::kMillisecond)->Iterations(3);

// One source whose feed of 20 stories names a picture of `kind` for each, in a data home of our
// own.
TestSupport::LoopbackServer& storePictureFeed(PictureKind kind)
{
    static QTemporaryDir home;
    static TestSupport::LoopbackServer server;
    qputenv("XDG_DATA_HOME", home.path().toLocal8Bit());
    qputenv("TICKERLY_LOOPBACK_ONLY", "1");
    servePictureFeed(server, picture(kind));
    (void)SourcesData().addSource(std::make_shared<Source>(u"Feed"_s, server.url(u"/feed"_s)));
    return server;
}

// The host shown over the picture feed: once every picture was asked for and the host has been
// idle for a second, its peak (VmHWM) and what it holds (VmRSS).
void hostWithPictures(benchmark::State& state, PictureKind kind)
{
    TestSupport::LoopbackServer& server = storePictureFeed(kind);
    for (auto _ : state) {
        QProcess host;
        if (!startShownHost(state, host))
            return;
        QElapsedTimer bound;
        bound.start();
        while (!everyPictureAsked(server) && bound.elapsed() < 30000)
            QCoreApplication::processEvents(
                QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 50);
        qint64 ticks = -2;
        while (processCpuTicks(host.processId()) != ticks && bound.elapsed() < 180000) {
            ticks = processCpuTicks(host.processId());
            QElapsedTimer idle;
            idle.start();
            while (idle.elapsed() < 1000)
                QCoreApplication::processEvents(
                    QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 50);
        }
        state.counters["asked_all"] = everyPictureAsked(server) ? 1 : 0;
        state.counters["peak_MiB"] = processStatusMiB(host.processId(), "VmHWM");
        state.counters["resident_MiB"] = processStatusMiB(host.processId(), "VmRSS");
        host.terminate();
        host.waitForFinished();
    }
}

void BM_HostWithSmallPictures(benchmark::State& state)
{
    hostWithPictures(state, PictureKind::Small);
}
BENCHMARK(BM_HostWithSmallPictures)->Unit(benchmark::kMillisecond)->Iterations(1);

void BM_HostWithCameraPhotos(benchmark::State& state)
{
    hostWithPictures(state, PictureKind::CameraPhoto);
}
BENCHMARK(BM_HostWithCameraPhotos)->Unit(benchmark::kMillisecond)->Iterations(1);

void BM_HostWithProgressivePhotos(benchmark::State& state)
{
    hostWithPictures(state, PictureKind::ProgressivePhoto);
}
BENCHMARK(BM_HostWithProgressivePhotos)->Unit(benchmark::kMillisecond)->Iterations(1);

} // namespace
