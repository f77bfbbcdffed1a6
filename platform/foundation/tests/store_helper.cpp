// The other program in the shared-store tests: writes a suite or posts and observes
// notifications from a process of its own.
//
//   store_helper increment <suite> <key> <count>
//   store_helper append <suite> <key> <prefix> <count>
//   store_helper write-loop <suite> <key>        (until killed; prints each committed number)
//   store_helper post <name> <object>
//   store_helper observe <name>                  (prints "ready", then what arrives)

#include "platform/foundation/DistributedNotificationCenter.h"
#include "platform/foundation/UserDefaults.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QStringList>

#include <cstdio>

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
            return std::optional<QVariant>(QVariant(current.value_or(QVariant(0)).toLongLong() + 1));
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
        if (!defaults.set(args.value(1), value))
            return 2;
        std::printf("%lld\n", static_cast<long long>(n));
        std::fflush(stdout);
    }
}

int post(const QStringList& args)
{
    auto& center = DistributedNotificationCenter::defaultCenter();
    bool heard = false;
    auto token = center.addObserver(args.value(0), args.value(1), [&](const QString&, const QString&) { heard = true; });
    center.postNotificationName(args.value(0), args.value(1));
    // Waiting for our own copy makes sure the signal has left before the process ends.
    if (!center.isAvailable())
        return 3;
    return waitFor([&] { return heard; }, 10000) ? 0 : 1;
}

int observe(const QStringList& args)
{
    auto& center = DistributedNotificationCenter::defaultCenter();
    QString got;
    auto token = center.addObserver(args.value(0), QString(), [&](const QString& name, const QString& object) {
        got = name + u' ' + object;
    });
    if (!center.isAvailable())
        return 3;
    std::printf("ready\n");
    std::fflush(stdout);
    if (!waitFor([&] { return !got.isEmpty(); }, 20000))
        return 1;
    std::printf("%s\n", got.toUtf8().constData());
    std::fflush(stdout);
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QStringList args = app.arguments().mid(1);
    const QString command = args.isEmpty() ? QString() : args.takeFirst();
    if (command == u"increment"_s)
        return increment(args);
    if (command == u"append"_s)
        return append(args);
    if (command == u"write-loop"_s)
        return writeLoop(args);
    if (command == u"post"_s)
        return post(args);
    if (command == u"observe"_s)
        return observe(args);
    std::fprintf(stderr, "unknown command\n");
    return 64;
}
