#pragma once

#include "platform/foundation/Namespace.h"

#include <QObject>
#include <QString>

#include <functional>

namespace Tickerly::Foundation {

// Receives the bus signal on the main thread and hands it on. Internal.
class DistributedNotificationReceiver : public QObject {
    Q_OBJECT
public:
    explicit DistributedNotificationReceiver(
        std::function<void(const QString&, const QString&)> deliver)
        : m_deliver(std::move(deliver))
    {
    }

public Q_SLOTS:
    void onNotification(const QString& name, const QString& object) { m_deliver(name, object); }

private:
    std::function<void(const QString&, const QString&)> m_deliver;
};

} // namespace Tickerly::Foundation
