// A program's peak and resident memory once it shows a feed of 20 stories whose pictures are all
// of one kind: small pictures, 6000 by 4000 camera photos, or the same photos progressive.
// Measured on the program as a person starts it, on an X server, one loopback source: the
// application with its stories window opened, or the widget host with its panel. By hand, one
// kind a start:
//
//   xvfb-run -a -s "-screen 0 1600x900x24" dbus-run-session --
//       build/release/bin/app_pictures build/release/bin/Tickerly_Mac small|camera|progressive
//
// (one line; Tickerly_Widget_Host in place of Tickerly_Mac for the panel). The figures are read
// once every picture was asked for and the program has been idle for a second.

#include "PeakMemory.h"
#include "PictureFeed.h"
#include "TemporaryHomes.h"

#include "app/tests/e2e/Desktop.h"

#include "data/model/Shared.h"
#include "data/model/Source.h"

#include <QFileInfo>
#include <QGuiApplication>
#include <QProcessEnvironment>

#include <cstdio>
#include <memory>

using namespace Tickerly;
using namespace Tickerly::Foundation;
using namespace Tickerly::Data;
using namespace Tickerly::App;

using namespace Qt::Literals::StringLiterals;

namespace {

const QString sourcesTitle = u"Tickerly"_s;
const QString storiesTitle = u"Stories"_s;

} // namespace

int main(int argc, char** argv)
{
    QTemporaryDir home;
    useTemporaryHomes(home);
    QGuiApplication app(argc, argv);
    const QStringList args = app.arguments();
    const QStringList kinds = { u"small"_s, u"camera"_s, u"progressive"_s };
    if (args.size() < 3 || !kinds.contains(args[2]) || !E2E::Desktop::available()) {
        std::fprintf(stderr,
            "usage (on an X server with xdotool): %s Tickerly_Mac|Tickerly_Widget_Host "
            "small|camera|progressive\n",
            argv[0]);
        return 2;
    }
    const QString executable = args[1];
    TestSupport::LoopbackServer server;
    servePictureFeed(server, picture(PictureKind(kinds.indexOf(args[2]))));
    const QList<std::shared_ptr<Source>> sources
        = { std::make_shared<Source>(u"Feed"_s, server.url(u"/feed"_s)) };
    (void)sharedDefaults()->set(
        u"velmora.Tickerly.sources"_s, KeyedArchiver::archivedDataWithRootObjects(sources));

    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(u"LANG"_s, u"en_US.UTF-8"_s);
    env.insert(u"TICKERLY_LOOPBACK_ONLY"_s, u"1"_s);
    E2E::Desktop desktop(home.path());
    E2E::Program program(executable, env.toStringList());
    // The panel shows its stories as it starts; the application, once its stories window opens.
    const bool host = QFileInfo(executable).fileName() == u"Tickerly_Widget_Host"_s;
    const std::optional<QString> panel
        = host ? desktop.waitForWindowOf(program.pid()) : std::nullopt;
    if (host && !panel) {
        std::fprintf(stderr, "no panel: %s\n", qPrintable(program.output()));
        return 1;
    }
    if (!host && !desktop.waitForWindow(sourcesTitle, 60000)) {
        std::fprintf(stderr, "no sources window: %s\n", qPrintable(program.output()));
        return 1;
    }
    if (!host && !desktop.openWith(sourcesTitle, u"ctrl+1"_s, storiesTitle)) {
        std::fprintf(stderr, "no stories window\n");
        return 1;
    }
    const bool asked = E2E::poll([&] { return everyPictureAsked(server); }, 120000, 200);
    for (qint64 ticks = -2; processCpuTicks(program.pid()) != ticks;) {
        ticks = processCpuTicks(program.pid());
        E2E::poll([] { return false; }, 1000, 250);
    }
    std::printf("%s: every picture asked for: %s, peak %.1f MiB, resident %.1f MiB\n",
        qPrintable(args[2]), asked ? "yes" : "no", processStatusMiB(program.pid(), "VmHWM"),
        processStatusMiB(program.pid(), "VmRSS"));
    std::fflush(stdout);
    if (host)
        desktop.key(*panel, u"ctrl+q"_s);
    else
        desktop.typeUntil(sourcesTitle, u"ctrl+q"_s, [&] { return !program.isRunning(); });
    program.waitForExit(60000);
    return 0;
}
