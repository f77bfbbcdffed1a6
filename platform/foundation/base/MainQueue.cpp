#include "platform/foundation/base/MainQueue.h"

#include "platform/foundation/base/Clock.h"

#include <QCoreApplication>
#include <QPointer>
#include <QThread>

namespace Tickerly::Foundation {

namespace {

SystemClock& systemClock()
{
    static auto& clock = *new SystemClock; // never destroyed: workers may still queue timers
    return clock;
}

Clock* installedClock = nullptr;

// Runs `fn` on the main thread unless a given context died first.
void onMain(QObject* context, std::function<void()> fn)
{
    QCoreApplication* app = QCoreApplication::instance();
    if (!app)
        return;
    if (!context) {
        QMetaObject::invokeMethod(app, std::move(fn), Qt::QueuedConnection);
        return;
    }
    // Queued through the application object, so that a context living on another thread still
    // has the work run on the main thread; the guard drops it once the context is gone.
    QMetaObject::invokeMethod(
        app,
        [guard = QPointer<QObject>(context), fn = std::move(fn)] {
            if (guard)
                fn();
        },
        Qt::QueuedConnection);
}

} // namespace

namespace MainQueue {

void dispatchAsync(std::function<void()> fn, QObject* context) { onMain(context, std::move(fn)); }

void dispatchAfter(double seconds, std::function<void()> fn, QObject* context)
{
    if (isCurrent()) {
        clock().schedule(seconds, context, std::move(fn));
        return;
    }
    QPointer<QObject> guard(context);
    const bool hadContext = context != nullptr;
    onMain(nullptr, [seconds, guard, hadContext, fn = std::move(fn)]() mutable {
        if (hadContext && !guard)
            return;
        clock().schedule(seconds, guard.data(), std::move(fn));
    });
}

bool isCurrent()
{
    QCoreApplication* app = QCoreApplication::instance();
    return app && QThread::currentThread() == app->thread();
}

Clock& clock() { return installedClock ? *installedClock : systemClock(); }

void setClock(Clock* clock) { installedClock = clock; }

} // namespace MainQueue

} // namespace Tickerly::Foundation
