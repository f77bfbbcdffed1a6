// The application's peak and resident memory once its stories window shows a feed of 20 stories
// whose pictures are all of one kind: small pictures, 6000 by 4000 camera photos, or the same
// photos progressive. Measured on the program as a person starts it: Tickerly_Mac with its
// windows on an X server, one loopback source. By hand, one kind a start:
//
//   xvfb-run -a -s "-screen 0 1600x900x24" dbus-run-session --
//       build/release/bin/app_pictures build/release/bin/Tickerly_Mac small|camera|progressive
//
// (one line). The figures are read once every picture was asked for and the program has been
// idle for a second.

#include "app/tests/e2e/Desktop.h"

#include "data/model/Shared.h"
#include "data/model/Source.h"
#include "testsupport/LoopbackServer.h"

#include <QBuffer>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QImageWriter>
#include <QProcessEnvironment>
#include <QRandomGenerator>
#include <QTemporaryDir>

#include <cstdio>
#include <memory>

using namespace Tickerly;
using namespace Tickerly::App;

using namespace Qt::Literals::StringLiterals;

namespace {

const QString sourcesTitle = u"Tickerly"_s;
const QString storiesTitle = u"Stories"_s;
constexpr int storyCount = 20;

// A 6000 by 4000 photo with grain, sequential or progressive; or a small picture of one colour.
QByteArray picture(const QString& kind)
{
    const bool photo = kind != u"small"_s;
    QImage image(photo ? 6000 : 1024, photo ? 4000 : 1024, QImage::Format_RGB32);
    QRandomGenerator noise(53);
    for (int y = 0; y < image.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < image.width(); ++x) {
            const int grain = photo ? int(noise.bounded(24)) : 0;
            line[x] = qRgb((x / 24 + grain) & 0xFF, (y / 16 + grain) & 0xFF, (x + y) / 40 & 0xFF);
        }
    }
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, photo ? "JPEG" : "PNG");
    writer.setProgressiveScanWrite(kind == u"progressive"_s);
    writer.setQuality(photo ? 60 : -1);
    writer.write(image);
    return bytes;
}

double statusMiB(qint64 pid, const QByteArray& field)
{
    QFile status(u"/proc/%1/status"_s.arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith(field + ':'))
            return line.mid(field.size() + 1).trimmed().split(' ').value(0).toDouble() / 1024.0;
    }
    return -1;
}

// The process's CPU time so far, in clock ticks.
qint64 cpuTicks(qint64 pid)
{
    QFile stat(u"/proc/%1/stat"_s.arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray text = stat.readAll();
    const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
    return fields.size() > 12 ? fields[11].toLongLong() + fields[12].toLongLong() : -1;
}

} // namespace

int main(int argc, char** argv)
{
    QTemporaryDir home;
    qputenv("XDG_DATA_HOME", QDir(home.path()).filePath(u"data"_s).toLocal8Bit());
    qputenv("XDG_CONFIG_HOME", QDir(home.path()).filePath(u"config"_s).toLocal8Bit());
    qputenv("XDG_CACHE_HOME", QDir(home.path()).filePath(u"cache"_s).toLocal8Bit());
    qputenv("QT_QPA_PLATFORM", "xcb");
    QGuiApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() < 3 || !E2E::Desktop::available()) {
        std::fprintf(stderr,
            "usage (on an X server with xdotool): %s Tickerly_Mac small|camera|progressive\n",
            argv[0]);
        return 2;
    }
    const QString executable = args[1];

    TestSupport::LoopbackServer server;
    TestSupport::ScriptedReply image = TestSupport::bodyReply(picture(args[2]));
    image.headers = { { "Content-Type", "image/jpeg" } };
    QByteArray feed = "<?xml version=\"1.0\"?><rss version=\"2.0\"><channel><title>Feed</title>";
    for (int i = 0; i < storyCount; ++i) {
        const QString path = u"/picture/%1.jpg"_s.arg(i);
        server.reply(path, image);
        feed += "<item><title>Story " + QByteArray::number(i) + "</title><link>http://news.example/"
            + QByteArray::number(i) + "</link><pubDate>"
            + QDateTime::currentDateTimeUtc()
                  .addSecs(-600 * (i + 1))
                  .toString(Qt::RFC2822Date)
                  .toUtf8()
            + "</pubDate><enclosure url=\"" + server.url(path).toUtf8()
            + "\" type=\"image/jpeg\"/></item>";
    }
    TestSupport::ScriptedReply reply = TestSupport::bodyReply(feed + "</channel></rss>");
    reply.headers = { { "Content-Type", "application/rss+xml" } };
    server.reply(u"/feed"_s, reply);
    const QList<std::shared_ptr<Source>> sources
        = { std::make_shared<Source>(u"Feed"_s, server.url(u"/feed"_s)) };
    sharedDefaults()->set(
        u"velmora.Tickerly.sources"_s, KeyedArchiver::archivedDataWithRootObjects(sources));

    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(u"LANG"_s, u"en_US.UTF-8"_s);
    env.insert(u"TICKERLY_LOOPBACK_ONLY"_s, u"1"_s);
    E2E::Desktop desktop(home.path());
    E2E::Program program(executable, env.toStringList());
    if (!desktop.waitForWindow(sourcesTitle, 60000)) {
        std::fprintf(stderr, "no sources window: %s\n", qPrintable(program.output()));
        return 1;
    }
    if (!desktop.openWith(sourcesTitle, u"ctrl+1"_s, storiesTitle)) {
        std::fprintf(stderr, "no stories window\n");
        return 1;
    }
    const bool asked = E2E::poll(
        [&] {
            for (int i = 0; i < storyCount; ++i)
                if (server.requestCount(u"/picture/%1.jpg"_s.arg(i)) == 0)
                    return false;
            return true;
        },
        120000, 200);
    for (qint64 ticks = -2; cpuTicks(program.pid()) != ticks;) {
        ticks = cpuTicks(program.pid());
        E2E::poll([] { return false; }, 1000, 250);
    }
    std::printf("%s: every picture asked for: %s, peak %.1f MiB, resident %.1f MiB\n",
        qPrintable(args[2]), asked ? "yes" : "no", statusMiB(program.pid(), "VmHWM"),
        statusMiB(program.pid(), "VmRSS"));
    std::fflush(stdout);
    desktop.typeUntil(sourcesTitle, u"ctrl+q"_s, [&] { return !program.isRunning(); });
    program.waitForExit(60000);
    return 0;
}
