#pragma once

#include "platform/foundation/Namespace.h"
#include "platform/foundation/base/NotificationCenter.h"

#include "tickerlyfoundation_export.h"

#include <QObject>
#include <QString>

#include <functional>
#include <memory>

namespace Tickerly::Foundation {

// Notifications between processes: a name and an object text, carried as a D-Bus signal on the
// session bus, so every process of the user that observes the name hears it, the poster
// included (exactly once).
//
// Observers are called on the main thread. Posting is safe from any thread and never blocks on
// the other processes. Without a session bus nothing is sent to or received from other
// processes (the log says so once); the poster's own observers still hear it, once.
class TICKERLYFOUNDATION_EXPORT DistributedNotificationCenter {
public:
    using Handler = std::function<void(const QString& name, const QString& object)>;

    // The process's centre.
    static DistributedNotificationCenter& defaultCenter();

    // Sends `name` with `object` to every observing process.
    void postNotificationName(const QString& name, const QString& object = {});

    // Observes `name` (from `object` only, when not empty); removed when the token goes.
    [[nodiscard]] ObserverToken addObserver(
        const QString& name, const QString& object, Handler handler);
    // Observes `name` as long as `owner` lives.
    void addObserver(QObject* owner, const QString& name, const QString& object, Handler handler);

    // Whether a session bus carries the notifications.
    bool isAvailable();

    DistributedNotificationCenter(const DistributedNotificationCenter&) = delete;
    DistributedNotificationCenter& operator=(const DistributedNotificationCenter&) = delete;

private:
    DistributedNotificationCenter();
    ~DistributedNotificationCenter();
    struct State;
    std::unique_ptr<State> d;
};

} // namespace Tickerly::Foundation
