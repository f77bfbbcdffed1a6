#pragma once

#include "platform/foundation/Namespace.h"
#include "tickerlyfoundation_export.h"

#include <QObject>
#include <QPointer>

#include <functional>
#include <map>

namespace Tickerly::Foundation {

// The time source behind delayed work on the main queue.
//
// The system clock schedules real single-shot timers; tests install a VirtualClock so that a
// five-minute refresh chain runs in microseconds. Lives on, and is used from, the main thread.
class TICKERLYFOUNDATION_EXPORT Clock {
public:
    virtual ~Clock();
    // Seconds since an arbitrary fixed point.
    virtual double now() const = 0;
    // Runs `fn` on the main thread after `seconds`, unless `context` has died by then.
    virtual void schedule(double seconds, QObject* context, std::function<void()> fn) = 0;
};

class TICKERLYFOUNDATION_EXPORT SystemClock final : public Clock {
public:
    double now() const override;
    void schedule(double seconds, QObject* context, std::function<void()> fn) override;
};

// A clock that only moves when told. Scheduled work runs from advance(), on the calling
// (main) thread, in order of due time and then of scheduling.
class TICKERLYFOUNDATION_EXPORT VirtualClock final : public Clock {
public:
    double now() const override { return m_now; }
    void schedule(double seconds, QObject* context, std::function<void()> fn) override;

    // Moves time forward by `seconds`, running everything that falls due on the way
    // (including work scheduled by that work, if it falls due within the step).
    void advance(double seconds);
    std::size_t pendingCount() const { return m_pending.size(); }

private:
    struct Pending {
        QPointer<QObject> context;
        bool hadContext = false;
        std::function<void()> fn;
    };
    double m_now = 0;
    std::multimap<double, Pending> m_pending;
};

} // namespace Tickerly::Foundation
