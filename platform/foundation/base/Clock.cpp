#include "platform/foundation/base/Clock.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTimer>

#include <cmath>

namespace Tickerly::Foundation {

Clock::~Clock() = default;

double SystemClock::now() const
{
    static const QElapsedTimer started = [] {
        QElapsedTimer t;
        t.start();
        return t;
    }();
    return static_cast<double>(started.nsecsElapsed()) / 1e9;
}

void SystemClock::schedule(double seconds, QObject* context, std::function<void()> fn)
{
    QObject* receiver = context ? context : QCoreApplication::instance();
    if (!receiver)
        return;
    const double ms = std::isfinite(seconds) ? std::clamp(seconds * 1000.0, 0.0, 2.0e9) : 0.0;
    QTimer::singleShot(std::chrono::milliseconds(static_cast<qint64>(std::ceil(ms))),
        Qt::PreciseTimer, receiver, std::move(fn));
}

void VirtualClock::schedule(double seconds, QObject* context, std::function<void()> fn)
{
    const double delay = std::isfinite(seconds) && seconds > 0 ? seconds : 0.0;
    m_pending.emplace(m_now + delay, Pending { context, context != nullptr, std::move(fn) });
}

void VirtualClock::advance(double seconds)
{
    const double target = m_now + std::max(0.0, seconds);
    while (!m_pending.empty() && m_pending.begin()->first <= target) {
        auto node = m_pending.extract(m_pending.begin());
        m_now = std::max(m_now, node.key());
        Pending& p = node.mapped();
        if (p.hadContext && !p.context)
            continue;
        p.fn();
    }
    m_now = target;
}

} // namespace Tickerly::Foundation
