// A long stress run of the shared settings store: several processes make thousands of mixed
// changes while some of them are killed at random; at the end every change a process was told
// is stored must be there. Runs in a fresh data home of its own; never part of the tests.
//
//   store_stress [processes] [changes per process] [kills]      (defaults 4, 5000, 40)

#include "platform/foundation/store/UserDefaults.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>

#include <cstdio>
#include <map>
#include <memory>
#include <set>
#include <vector>

using namespace Tickerly::Foundation;

using namespace Qt::Literals::StringLiterals;

namespace {

const QString suite = u"stress.suite"_s;

// The change number `i` of process `p` makes, the same in the child and in the check.
int operationOf(int p, int i) { return int((quint32(p) * 2654435761u ^ quint32(i) * 40503u) % 4u); }

QString entryOf(int p, int i) { return u"p%1-%2"_s.arg(p).arg(i); }

QString listKeyOf(int i) { return u"list%1"_s.arg(i % 4); }

QString valueKeyOf(int p, int i) { return u"p%1.v%2"_s.arg(p).arg(i % 50); }

// Adds `entry` to the list under `key` unless it is there: a change redone after a kill
// between its commit and its acknowledgement is not added twice.
UserDefaults::Updater adding(const QString& entry)
{
    return [entry](const std::optional<QVariant>& current) -> std::optional<QVariant> {
        QVariantList list = current.value_or(QVariant()).toList();
        if (list.contains(entry))
            return std::nullopt;
        list.append(entry);
        return QVariant(list);
    };
}

// Whether a change is written, waiting for a kept one to be.
bool landed(UserDefaults& store, UserDefaults::Outcome outcome)
{
    return outcome == UserDefaults::Outcome::Done
        || (outcome == UserDefaults::Outcome::Kept
            && store.retryKeptChanges(std::chrono::minutes(2)));
}

bool change(UserDefaults& store, int p, int i)
{
    switch (operationOf(p, i)) {
    case 0: {
        return landed(store, store.updateOrKeep(listKeyOf(i), adding(entryOf(p, i))));
    }
    case 1:
        return landed(store, store.set(valueKeyOf(p, i), i));
    case 2:
        return landed(
            store, store.setValues({ { u"p%1.a"_s.arg(p), i }, { u"p%1.b"_s.arg(p), i } }));
    default:
        return store.update(u"p%1.seen"_s.arg(p), [&](const std::optional<QVariant>& current) {
            QVariantMap seen = current.value_or(QVariant()).toMap();
            seen.insert(QString::number(i), true);
            return std::optional<QVariant>(QVariant(seen));
        });
    }
}

int child(int p, int from, int count)
{
    UserDefaults store(suite);
    if (!store.isPersistent())
        return 3;
    for (int i = from; i < count; ++i) {
        if (!change(store, p, i)) {
            std::fprintf(stderr, "process %d: change %d could not be made\n", p, i);
            return 2;
        }
        std::printf("%d\n", i);
        std::fflush(stdout);
    }
    return 0;
}

struct Child {
    std::unique_ptr<QProcess> process;
    int acknowledged = -1; // the last change it said was stored
    bool finished = false;
};

void start(Child& c, int p, int count)
{
    c.process = std::make_unique<QProcess>();
    c.process->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    c.process->start(QCoreApplication::applicationFilePath(),
        { u"child"_s, QString::number(p), QString::number(c.acknowledged + 1),
            QString::number(count) });
    c.process->waitForStarted(10000);
}

void readAcknowledgements(Child& c)
{
    while (c.process->canReadLine()) {
        bool ok = false;
        const int i = c.process->readLine().trimmed().toInt(&ok);
        if (ok)
            c.acknowledged = std::max(c.acknowledged, i);
    }
}

// Every acknowledged change is in the store; what comes after the last acknowledgement may or
// may not be.
int check(int processes, const std::vector<Child>& children)
{
    UserDefaults store(suite);
    std::map<QString, std::set<QString>> lists;
    for (int k = 0; k < 4; ++k) {
        for (const QVariant& v : store.array(listKeyOf(k)).value_or(QVariantList()))
            lists[listKeyOf(k)].insert(v.toString());
    }
    int lost = 0;
    for (int p = 0; p < processes; ++p) {
        const QVariantMap seen = store.dictionary(u"p%1.seen"_s.arg(p)).value_or(QVariantMap());
        std::map<QString, int> lastValue;
        int lastPair = -1;
        for (int i = 0; i <= children[size_t(p)].acknowledged; ++i) {
            switch (operationOf(p, i)) {
            case 0:
                lost += lists[listKeyOf(i)].count(entryOf(p, i)) ? 0 : 1;
                break;
            case 1:
                lastValue[valueKeyOf(p, i)] = i;
                break;
            case 2:
                lastPair = i;
                break;
            default:
                lost += seen.contains(QString::number(i)) ? 0 : 1;
            }
        }
        for (const auto& [key, i] : lastValue)
            lost += store.integer(key) >= i ? 0 : 1;
        const qint64 a = store.integer(u"p%1.a"_s.arg(p));
        if (a < lastPair || a != store.integer(u"p%1.b"_s.arg(p)))
            ++lost;
    }
    return lost;
}

int run(int processes, int count, int kills)
{
    QTemporaryDir home;
    qputenv("XDG_DATA_HOME", home.path().toUtf8());
    std::vector<Child> children(static_cast<size_t>(processes));
    for (int p = 0; p < processes; ++p)
        start(children[size_t(p)], p, count);

    QElapsedTimer elapsed;
    elapsed.start();
    const QDeadlineTimer deadline(std::chrono::minutes(30));
    QDeadlineTimer nextKill(QRandomGenerator::global()->bounded(200, 800));
    int killed = 0;
    for (;;) {
        bool allDone = true;
        for (int p = 0; p < processes; ++p) {
            Child& c = children[size_t(p)];
            if (c.finished)
                continue;
            c.process->waitForReadyRead(5);
            readAcknowledgements(c);
            if (c.process->state() == QProcess::NotRunning) {
                readAcknowledgements(c);
                if (c.process->exitStatus() == QProcess::NormalExit && c.process->exitCode() == 0) {
                    c.finished = true;
                    continue;
                }
                if (c.process->exitStatus() == QProcess::NormalExit) {
                    std::fprintf(stderr, "process %d failed (exit %d)\n", p, c.process->exitCode());
                    return 1;
                }
                start(c, p, count); // killed: go on after its last acknowledged change
            }
            allDone = false;
        }
        if (allDone)
            break;
        if (deadline.hasExpired()) {
            std::fprintf(stderr, "did not finish in time\n");
            return 1;
        }
        if (killed < kills && nextKill.hasExpired()) {
            Child& victim = children[size_t(QRandomGenerator::global()->bounded(processes))];
            if (!victim.finished && victim.process->state() == QProcess::Running) {
                victim.process->kill();
                victim.process->waitForFinished(10000);
                ++killed;
            }
            nextKill = QDeadlineTimer(QRandomGenerator::global()->bounded(200, 800));
        }
    }
    const int lost = check(processes, children);
    std::printf("%d processes x %d changes, %d kills, %.1f s: %d acknowledged changes missing\n",
        processes, count, killed, double(elapsed.elapsed()) / 1000.0, lost);
    return lost == 0 ? 0 : 1;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments().mid(1);
    if (args.value(0) == u"child"_s)
        return child(args.value(1).toInt(), args.value(2).toInt(), args.value(3).toInt());
    const int processes = args.size() > 0 ? args.value(0).toInt() : 4;
    const int count = args.size() > 1 ? args.value(1).toInt() : 5000;
    const int kills = args.size() > 2 ? args.value(2).toInt() : 40;
    if (processes < 1 || count < 1 || kills < 0) {
        std::fprintf(stderr, "usage: store_stress [processes] [changes per process] [kills]\n");
        return 64;
    }
    return run(processes, count, kills);
}
