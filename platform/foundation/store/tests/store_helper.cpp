// The other program in the shared-store tests: writes a suite or posts and observes
// notifications from a process of its own.
//
//   store_helper increment <suite> <key> <count>
//   store_helper append <suite> <key> <prefix> <count>
//   store_helper write-loop <suite> <key>        (until killed; prints each committed number)
//   store_helper hold <suite> <key> <value>      (prints "holding" inside a write, commits after a
//   line) store_helper set-twice <suite> <key>         (sets "first", prints "ready"; after a line
//   sets
//                                                 "second" and prints the value of "peer")
//   store_helper read-only-probe <suite> <key>   (without the power to pass file permissions:
//                                                 prints "<persistent> <read-only> <value> <set>")
//   store_helper hog <suite> <key>               (rewrites a large value back to back; prints
//                                                 "running" after the first; stops after a minute)
//   store_helper keep-at-exit <suite> <key> <value> [ms] (sets while the lock is taken elsewhere;
//                                                 prints "kept", quits after a line, waiting at
//                                                 most ms for the lock then; 20 s unless given)
//   store_helper append-keeping <suite> <key> <prefix> <count> [ms]  (on the main thread, keeping
//                                                 what waits; then quits as the programs do,
//                                                 waiting at most ms for the lock then)
//   store_helper keep-and-retry <suite> <key> <value>  (sets while the lock is taken elsewhere,
//                                                 prints "kept", then retries in its event loop,
//                                                 printing "retried" past the first retries)
//   store_helper quit-while-waiting <suite> <key> <value>  (a worker's change waits for the lock;
//                                                 prints "waiting"; on a line quits as the
//                                                 programs do, the background bound short)
//   store_helper replay <suite> <key>            (without the power to pass file permissions:
//                                                 writes what ended runs left, looks again after
//                                                 a write, prints the value of key)
//   store_helper keep-unlocked <suite> <key> <count>  (with every flock refused: sets key count
//                                                 times while the lock is taken elsewhere; prints
//                                                 "kept", quits after a line)
//   store_helper post <name> <object>            (exits 0 once its own copy came back over the
//                                                 bus, 3 once it came back without a bus)
//   store_helper observe <name>                  (prints "ready", then what arrives)

#include "platform/foundation/base/DistributedNotificationCenter.h"
#include "platform/foundation/base/OperationQueue.h"
#include "platform/foundation/process/ProcessEnd.h"
#include "platform/foundation/store/UserDefaults.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QStringList>
#include <QTimer>

#include <linux/audit.h>
#include <linux/capability.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>

#include <cstdio>
#include <map>
#include <thread>

using namespace Tickerly::Foundation;

using namespace Qt::Literals::StringLiterals;

namespace {

bool waitFor(const std::function<bool()>& condition, int ms)
{
    QDeadlineTimer deadline(ms);
    while (!condition() && !deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    return condition();
}

int increment(const QStringList& args)
{
    UserDefaults defaults(args.value(0));
    const int count = args.value(2).toInt();
    for (int i = 0; i < count; ++i) {
        const bool ok = defaults.update(args.value(1), [](const std::optional<QVariant>& current) {
            return std::optional<QVariant>(
                QVariant(current.value_or(QVariant(0)).toLongLong() + 1));
        });
        if (!ok)
            return 2;
    }
    return 0;
}

int append(const QStringList& args)
{
    UserDefaults defaults(args.value(0));
    const int count = args.value(3).toInt();
    for (int i = 0; i < count; ++i) {
        const QString entry = args.value(2) + QString::number(i);
        const bool ok = defaults.update(args.value(1), [&](const std::optional<QVariant>& current) {
            QVariantList list = current.value_or(QVariant()).toList();
            list.append(entry);
            return std::optional<QVariant>(QVariant(list));
        });
        if (!ok)
            return 2;
    }
    return 0;
}

int writeLoop(const QStringList& args)
{
    UserDefaults defaults(args.value(0));
    // Large values keep each commit busy long enough to be cut off in the middle.
    const QByteArray padding(256 * 1024, 'x');
    for (qint64 n = 1;; ++n) {
        const QVariantMap value { { u"n"_s, n }, { u"padding"_s, padding } };
        if (defaults.set(args.value(1), value) != UserDefaults::Outcome::Done)
            return 2;
        std::printf("%lld\n", static_cast<long long>(n));
        std::fflush(stdout);
    }
}

bool waitForLine()
{
    char line[16];
    return std::fgets(line, sizeof line, stdin) != nullptr;
}

int hold(const QStringList& args)
{
    UserDefaults defaults(args.value(0));
    // The value is set whole inside the held transaction, as a person's change would be.
    bool set = false;
    const bool ok = defaults.update(args.value(1), [&](const std::optional<QVariant>&) {
        std::printf("holding\n");
        std::fflush(stdout);
        waitForLine();
        set = defaults.set(args.value(1), args.value(2)) == UserDefaults::Outcome::Done;
        return std::optional<QVariant>();
    });
    return ok && set ? 0 : 2;
}

int setTwice(const QStringList& args)
{
    UserDefaults defaults(args.value(0));
    if (defaults.set(args.value(1), u"first"_s) != UserDefaults::Outcome::Done)
        return 2;
    std::printf("ready\n");
    std::fflush(stdout);
    if (!waitForLine())
        return 2;
    // Kept when its own replay of what others left holds the store past the main thread's wait.
    const auto second = defaults.set(args.value(1), u"second"_s);
    if (second != UserDefaults::Outcome::Done
        && (second != UserDefaults::Outcome::Kept
            || !defaults.retryKeptChanges(std::chrono::seconds(30))))
        return 2;
    std::printf("%s\n", defaults.string(u"peer"_s).value_or(u"(none)"_s).toUtf8().constData());
    std::fflush(stdout);
    return 0;
}

int hog(const QStringList& args)
{
    UserDefaults defaults(args.value(0));
    const QDeadlineTimer deadline(60000);
    for (int n = 0; !deadline.hasExpired(); ++n) {
        // Made inside the transaction, so the lock is free only between one commit and the next.
        const bool ok = defaults.update(args.value(1), [n](const std::optional<QVariant>&) {
            return std::optional<QVariant>(QVariant(QByteArray(256 * 1024, char('a' + n % 26))));
        });
        if (!ok)
            return 2;
        if (n == 0) {
            std::printf("running\n");
            std::fflush(stdout);
        }
    }
    return 0;
}

// Root passes every permission check; the probe must meet them as a user would.
void dropFilePowers()
{
    __user_cap_header_struct header { _LINUX_CAPABILITY_VERSION_3, 0 };
    __user_cap_data_struct data[2] {};
    if (syscall(SYS_capget, &header, data) != 0)
        return;
    const quint32 powers
        = (1u << CAP_DAC_OVERRIDE) | (1u << CAP_DAC_READ_SEARCH) | (1u << CAP_FOWNER);
    data[0].effective &= ~powers;
    syscall(SYS_capset, &header, data);
}

int readOnlyProbe(const QStringList& args)
{
    dropFilePowers();
    UserDefaults defaults(args.value(0));
    const QString before = defaults.string(args.value(1)).value_or(u"(none)"_s);
    const bool set = defaults.set(args.value(1), u"changed"_s) == UserDefaults::Outcome::Done;
    std::printf("%d %d %s %d\n", int(defaults.isPersistent()), int(defaults.isReadOnly()),
        before.toUtf8().constData(), int(set));
    std::fflush(stdout);
    return 0;
}

int replay(const QStringList& args)
{
    dropFilePowers();
    UserDefaults defaults(args.value(0));
    if (!defaults.retryKeptChanges(std::chrono::seconds(30))
        || defaults.set(u"replay.after"_s, 1) != UserDefaults::Outcome::Done
        || !defaults.retryKeptChanges(std::chrono::seconds(30)))
        return 2;
    std::printf("%s\n", defaults.string(args.value(1)).value_or(u"(none)"_s).toUtf8().constData());
    std::fflush(stdout);
    return 0;
}

// As a file system on which flock always fails: every thread's flock says ENOLCK.
bool refuseFlock()
{
    sock_filter filter[] = {
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, arch)),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, AUDIT_ARCH_X86_64, 1, 0),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr)),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, __NR_flock, 0, 1),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | (ENOLCK & SECCOMP_RET_DATA)),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
    };
    sock_fprog program { static_cast<unsigned short>(sizeof filter / sizeof filter[0]), filter };
    return prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) == 0
        && syscall(SYS_seccomp, SECCOMP_SET_MODE_FILTER, SECCOMP_FILTER_FLAG_TSYNC, &program) == 0;
}

int keepUnlocked(const QStringList& args)
{
    if (!refuseFlock())
        return 3;
    UserDefaults defaults(args.value(0));
    UserDefaults::setWriteWaitLimit(std::chrono::milliseconds(150));
    for (int i = 0; i < args.value(2).toInt(); ++i) {
        if (defaults.set(args.value(1), i) == UserDefaults::Outcome::Done)
            return 2;
    }
    std::printf("kept\n");
    std::fflush(stdout);
    waitForLine();
    return 0;
}

int post(const QStringList& args)
{
    auto& center = DistributedNotificationCenter::defaultCenter();
    int heard = 0;
    bool done = false;
    auto token = center.addObserver(
        args.value(0), args.value(1), [&](const QString&, const QString&) { ++heard; });
    auto doneToken = center.addObserver(
        u"StoreHelperDone"_s, QString(), [&](const QString&, const QString&) { done = true; });
    center.postNotificationName(args.value(0), args.value(1));
    center.postNotificationName(u"StoreHelperDone"_s);
    // Waiting for our own copy makes sure the signal has left before the process ends; posts
    // keep their order, so once the last is in, a second copy of the first would be too.
    if (!waitFor([&] { return done; }, 30000) || heard != 1)
        return 1;
    return center.isAvailable() ? 0 : 3;
}

int observe(const QStringList& args)
{
    auto& center = DistributedNotificationCenter::defaultCenter();
    QString got;
    auto token = center.addObserver(args.value(0), QString(),
        [&](const QString& name, const QString& object) { got = name + u' ' + object; });
    if (!center.isAvailable())
        return 3;
    std::printf("ready\n");
    std::fflush(stdout);
    if (!waitFor([&] { return !got.isEmpty(); }, 30000))
        return 1;
    std::printf("%s\n", got.toUtf8().constData());
    std::fflush(stdout);
    return 0;
}

// Sets args 1 to args 2 while another process holds the lock, so that it is kept; says "kept".
bool keepOne(UserDefaults& defaults, const QStringList& args)
{
    UserDefaults::setWriteWaitLimit(std::chrono::milliseconds(150));
    if (defaults.set(args.value(1), args.value(2)) != UserDefaults::Outcome::Kept
        || defaults.keptChanges() != 1)
        return false;
    std::printf("kept\n");
    std::fflush(stdout);
    return true;
}

// A change kept because the lock stayed taken is still written when the process ends.
int keepAtExit(const QStringList& args)
{
    UserDefaults defaults(args.value(0));
    if (!keepOne(defaults, args))
        return 2;
    waitForLine();
    // Quits as the programs do: the background work ends first, the kept change is still due.
    return endProgram(
        0, std::chrono::seconds(2), std::chrono::milliseconds(args.value(3, u"20000"_s).toInt()));
}

// As a program does when the person adds things quickly while others write too.
int appendKeeping(const QStringList& args)
{
    UserDefaults defaults(args.value(0));
    const int count = args.value(3).toInt();
    for (int i = 0; i < count; ++i) {
        // Entries the size of a stored source, so that a list of them takes a while to rewrite.
        const QString entry = args.value(2) + QString::number(i) + QString(300, u'.');
        (void)defaults.updateOrKeep(args.value(1), [entry](const std::optional<QVariant>& current) {
            QVariantList list = current.value_or(QVariant()).toList();
            list.append(entry);
            return std::optional<QVariant>(QVariant(list));
        });
        QCoreApplication::processEvents();
    }
    return endProgram(
        0, std::chrono::seconds(2), std::chrono::milliseconds(args.value(4, u"5000"_s).toInt()));
}

int keepAndRetry(const QStringList& args)
{
    UserDefaults defaults(args.value(0));
    if (!keepOne(defaults, args))
        return 2;
    // Past the first retries.
    QTimer::singleShot(600, QCoreApplication::instance(), [] {
        std::printf("retried\n");
        std::fflush(stdout);
    });
    return QCoreApplication::exec();
}

int quitWhileWaiting(const QStringList& args)
{
    UserDefaults defaults(args.value(0));
    // Left to the end of the process, as a program's session queues are.
    static OperationQueue queue;
    queue.addOperation([&] {
        std::printf("waiting\n");
        std::fflush(stdout);
        (void)defaults.updateOrKeep(
            args.value(1), [value = args.value(2)](const std::optional<QVariant>&) {
                return std::optional<QVariant>(QVariant(value));
            });
    });
    waitForLine();
    return endProgram(0, std::chrono::milliseconds(100), std::chrono::seconds(20));
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QStringList args = app.arguments().mid(1);
    const QString command = args.isEmpty() ? QString() : args.takeFirst();
    const std::map<QString, int (*)(const QStringList&)> commands {
        { u"increment"_s, &increment },
        { u"append"_s, &append },
        { u"write-loop"_s, &writeLoop },
        { u"hold"_s, &hold },
        { u"set-twice"_s, &setTwice },
        { u"hog"_s, &hog },
        { u"read-only-probe"_s, &readOnlyProbe },
        { u"post"_s, &post },
        { u"observe"_s, &observe },
        { u"keep-at-exit"_s, &keepAtExit },
        { u"append-keeping"_s, &appendKeeping },
        { u"keep-and-retry"_s, &keepAndRetry },
        { u"quit-while-waiting"_s, &quitWhileWaiting },
        { u"replay"_s, &replay },
        { u"keep-unlocked"_s, &keepUnlocked },
    };
    // These play another program's background writer: the main thread's changes never wait long.
    const QStringList onWorker { u"increment"_s, u"append"_s, u"write-loop"_s, u"hold"_s,
        u"hog"_s };
    if (const auto it = commands.find(command); it != commands.end()) {
        if (!onWorker.contains(command))
            return it->second(args);
        int result = 0;
        std::thread worker([&] { result = it->second(args); });
        worker.join();
        return result;
    }
    std::fprintf(stderr, "unknown command\n");
    return 64;
}
