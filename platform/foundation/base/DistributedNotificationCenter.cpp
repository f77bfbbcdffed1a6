#include "platform/foundation/base/DistributedNotificationCenter.h"

#include "platform/foundation/base/DistributedNotificationCenter_p.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QFileInfo>
#include <QLoggingCategory>

#include <mutex>

namespace Tickerly::Foundation {

using namespace Qt::Literals::StringLiterals;

Q_LOGGING_CATEGORY(lcDistributed, "tickerly.distributednotifications")

namespace {

const QString busPath = u"/velmora/Tickerly/DistributedNotificationCenter"_s;
const QString busInterface = u"velmora.Tickerly.DistributedNotificationCenter"_s;
const QString busMember = u"Notification"_s;
const QString objectKey = u"object"_s;

// Connecting without an address would let libdbus try to start a bus of its own (autolaunch),
// which can block or spawn processes; without an address or the standard socket, there is no bus.
bool sessionBusConfigured()
{
    if (!qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS"))
        return true;
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    return !runtime.isEmpty() && QFileInfo::exists(runtime + u"/bus"_s);
}

} // namespace

struct DistributedNotificationCenter::State {
    std::once_flag connectOnce;
    bool available = false;
    NotificationCenter local;
    DistributedNotificationReceiver* receiver = nullptr;

    void connect()
    {
        std::call_once(connectOnce, [this] {
            if (sessionBusConfigured()) {
                QDBusConnection bus = QDBusConnection::sessionBus();
                available = bus.isConnected();
            }
            receiver = new DistributedNotificationReceiver(
                [this](const QString& name, const QString& object) {
                    local.post(name, nullptr, { { objectKey, object } });
                });
            // Signals are delivered in the receiver's thread: the main thread.
            if (QCoreApplication* app = QCoreApplication::instance())
                receiver->moveToThread(app->thread());
            if (!available) {
                qCInfo(lcDistributed) << "no session bus; notifications between processes are off";
                return;
            }
            QDBusConnection::sessionBus().connect(QString(), busPath, busInterface, busMember,
                receiver, SLOT(onNotification(QString, QString)));
            // The bus handles one connection's messages in order, so once this round trip is
            // answered the match rule above is in force: whatever is posted from now on arrives.
            QDBusMessage ping = QDBusMessage::createMethodCall(u"org.freedesktop.DBus"_s,
                u"/org/freedesktop/DBus"_s, u"org.freedesktop.DBus"_s, u"GetId"_s);
            QDBusConnection::sessionBus().call(ping, QDBus::Block, 2000);
        });
    }
};

DistributedNotificationCenter::DistributedNotificationCenter()
    : d(std::make_unique<State>())
{
}

// The centre lives until the process ends; the receiver goes with the application's objects.
DistributedNotificationCenter::~DistributedNotificationCenter() = default;

DistributedNotificationCenter& DistributedNotificationCenter::defaultCenter()
{
    static auto* center = new DistributedNotificationCenter;
    return *center;
}

bool DistributedNotificationCenter::isAvailable()
{
    d->connect();
    return d->available;
}

void DistributedNotificationCenter::postNotificationName(const QString& name, const QString& object)
{
    d->connect();
    if (!d->available) {
        // The bus would have brought it back to this process's observers: they still hear it.
        if (DistributedNotificationReceiver* receiver = d->receiver)
            QMetaObject::invokeMethod(
                receiver, [receiver, name, object] { receiver->onNotification(name, object); },
                Qt::QueuedConnection);
        return;
    }
    QDBusMessage signal = QDBusMessage::createSignal(busPath, busInterface, busMember);
    signal << name << object;
    QDBusConnection::sessionBus().send(signal);
}

ObserverToken DistributedNotificationCenter::addObserver(
    const QString& name, const QString& object, Handler handler)
{
    d->connect();
    return d->local.addObserver(
        name, nullptr, [object, handler = std::move(handler)](const Notification& n) {
            const QString posted = n.userInfo.value(objectKey).toString();
            if (object.isEmpty() || object == posted)
                handler(n.name, posted);
        });
}

void DistributedNotificationCenter::addObserver(
    QObject* owner, const QString& name, const QString& object, Handler handler)
{
    d->connect();
    d->local.addObserver(
        owner, name, nullptr, [object, handler = std::move(handler)](const Notification& n) {
            const QString posted = n.userInfo.value(objectKey).toString();
            if (object.isEmpty() || object == posted)
                handler(n.name, posted);
        });
}

} // namespace Tickerly::Foundation
