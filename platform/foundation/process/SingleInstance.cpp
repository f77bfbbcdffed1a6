#include "platform/foundation/process/SingleInstance.h"

#include "platform/foundation/base/DistributedNotificationCenter.h"

#include <QDBusConnection>
#include <QDBusMessage>

namespace Tickerly::Foundation {

using namespace Qt::Literals::StringLiterals;

namespace SingleInstance {

bool claim(const QString& service)
{
    // The centre has already told whether a bus is there, without starting one of its own.
    if (!DistributedNotificationCenter::defaultCenter().isAvailable())
        return true;
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (bus.registerService(service))
        return true;
    const QDBusMessage show = QDBusMessage::createMethodCall(service, u"/"_s, service, u"Show"_s);
    bus.call(show, QDBus::Block, 3000);
    return false;
}

void serve(QObject* target)
{
    if (!DistributedNotificationCenter::defaultCenter().isAvailable())
        return;
    QDBusConnection::sessionBus().registerObject(
        u"/"_s, target, QDBusConnection::ExportScriptableSlots);
}

} // namespace SingleInstance

} // namespace Tickerly::Foundation
