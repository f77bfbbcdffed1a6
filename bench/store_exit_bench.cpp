// Programs adding to one stored list at once, each on its main thread (keeping what waits),
// then quitting as the programs do: the wall time of the whole, each writer's exit (the writing
// of what it kept) and whether every addition was stored. Runs in a fresh data home of its own;
// prints figures, never fails a build.
//
//   store_exit_bench [programs] [additions each]      (defaults 3, 500)
//   store_exit_bench [programs] [additions each] sources [hold ms]
//       the same with sources added to the stored sources list, after another program has held
//       the store for `hold ms` (3,000 unless given); prints how many additions were given up

#include "data/model/Shared.h"
#include "data/model/SourcesData.h"
#include "platform/foundation/process/ProcessEnd.h"
#include "platform/foundation/store/UserDefaults.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QSet>
#include <QTemporaryDir>
#include <QThread>

#include <cstdio>
#include <memory>
#include <vector>

using namespace Tickerly::Foundation;
using namespace Tickerly::Data;

using namespace Qt::Literals::StringLiterals;

namespace {

const QString suite = u"exit.suite"_s;
const QString key = u"list"_s;

// Quits as the programs do, and prints how long that took and whether all was written.
int quit()
{
    QElapsedTimer exit;
    exit.start();
    const bool written = endBackgroundWork();
    std::printf("%lld %d\n", static_cast<long long>(exit.elapsed()), int(written));
    return 0;
}

// Starts `programs` writers (`command` prefix count) and waits for them: each one's exit time.
QStringList runWriters(const QString& command, int programs, int count)
{
    std::vector<std::unique_ptr<QProcess>> writers;
    for (int p = 0; p < programs; ++p) {
        auto process = std::make_unique<QProcess>();
        process->setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process->start(QCoreApplication::applicationFilePath(),
            { command, QString(QChar(u'a' + p)), QString::number(count) });
        writers.push_back(std::move(process));
    }
    QStringList exits;
    for (auto& process : writers) {
        process->waitForFinished(600000);
        exits.append(
            QString::fromUtf8(process->readAllStandardOutput()).trimmed().section(u' ', 0, 0)
            + u" ms"_s);
    }
    return exits;
}

int writer(const QString& prefix, int count)
{
    UserDefaults defaults(suite);
    for (int i = 0; i < count; ++i) {
        // About the size of a stored source.
        const QString entry = prefix + QString::number(i) + QString(300, u'.');
        (void)defaults.updateOrKeep(key, [entry](const std::optional<QVariant>& current) {
            QVariantList list = current.value_or(QVariant()).toList();
            list.append(entry);
            return std::optional<QVariant>(QVariant(list));
        });
        QCoreApplication::processEvents();
    }
    return quit();
}

int sourceWriter(const QString& prefix, int count)
{
    SourcesData data;
    for (int i = 0; i < count; ++i) {
        (void)data.addSource(std::make_shared<Source>(
            prefix + QString::number(i), u"http://"_s + prefix + QString::number(i) + u".test/"_s));
        QCoreApplication::processEvents();
    }
    return quit();
}

int holder(int ms)
{
    sharedDefaults()->update(u"bench.hold"_s, [ms](const std::optional<QVariant>&) {
        std::printf("holding\n");
        std::fflush(stdout);
        QThread::msleep(ms);
        return std::optional<QVariant>(QVariant(ms));
    });
    return 0;
}

int sources(int programs, int count, int holdMs)
{
    QTemporaryDir home;
    qputenv("XDG_DATA_HOME", QFile::encodeName(home.path()));
    QProcess hold;
    hold.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    hold.start(QCoreApplication::applicationFilePath(), { u"holder"_s, QString::number(holdMs) });
    while (!hold.canReadLine() && hold.waitForReadyRead(30000)) { }
    QElapsedTimer wall;
    wall.start();
    const QStringList exits = runWriters(u"source-writer"_s, programs, count);
    const qint64 wallMs = wall.elapsed();
    hold.waitForFinished(60000);
    const qsizetype stored = SourcesData().sources().size();
    std::printf("sources: wall %lld ms; exits %s; stored %lld of %d; given up %lld\n",
        static_cast<long long>(wallMs), exits.join(u", "_s).toUtf8().constData(),
        static_cast<long long>(stored), programs * count,
        static_cast<long long>(programs * count - stored));
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments().mid(1);
    if (args.value(0) == u"writer"_s)
        return writer(args.value(1), args.value(2).toInt());
    if (args.value(0) == u"source-writer"_s)
        return sourceWriter(args.value(1), args.value(2).toInt());
    if (args.value(0) == u"holder"_s)
        return holder(args.value(1).toInt());
    if (args.value(2) == u"sources"_s)
        return sources(
            args.value(0).toInt(), args.value(1).toInt(), args.value(3, u"3000"_s).toInt());

    const int programs = args.value(0, u"3"_s).toInt();
    const int count = args.value(1, u"500"_s).toInt();
    QTemporaryDir home;
    qputenv("XDG_DATA_HOME", QFile::encodeName(home.path()));
    QElapsedTimer wall;
    wall.start();
    const QStringList exits = runWriters(u"writer"_s, programs, count);
    const qint64 wallMs = wall.elapsed();
    QSet<QString> stored;
    for (const QVariant& v : UserDefaults(suite).array(key).value_or(QVariantList()))
        stored.insert(v.toString());
    std::printf("wall %lld ms; exits %s; stored %lld of %d\n", static_cast<long long>(wallMs),
        exits.join(u", "_s).toUtf8().constData(), static_cast<long long>(stored.size()),
        programs * count);
    return 0;
}
