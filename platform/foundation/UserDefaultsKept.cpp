// The changes kept while another process held the suite's write lock.
//
// Invariants:
// - The queue is guarded by the suite's mutex; a kept change runs only with the write lock held,
//   before any later change of this process, in the order kept.
// - A reader sees a kept change only once it is written; until then it reads the stored value.
// - While changes are kept, the retry on the main queue holds the writers' turn between its
//   tries, so that the lock, once free, is left for it.
// - At exit (writeKeptChangesBeforeExit) every suite gets one bounded wait in all; what is still
//   kept then is named in the log and given up, and its `done` learns so.

#include "platform/foundation/UserDefaultsConnection_p.h"

#include "platform/foundation/MainQueue.h"

#include <QCoreApplication>
#include <QStringList>

#include <fcntl.h>

using namespace Qt::Literals::StringLiterals;

namespace {

// How often a kept change is tried again on the main queue, in seconds.
constexpr double retryInterval = 0.25;

} // namespace

bool UserDefaults::Connection::runKept()
{
    // Without a database (a replaced file not yet reopened) they stay kept for a later try.
    while (db && !kept.empty()) {
        Kept next = std::move(kept.front());
        kept.pop_front();
        const bool ok = next.apply(*this);
        if (next.done)
            next.done(ok);
    }
    return true;
}

bool UserDefaults::Connection::retryKept(const QDeadlineTimer& deadline)
{
    if (kept.empty())
        return true;
    if ((!db && file.isEmpty()) || !takeLock(deadline, true))
        return false;
    followReplacedFile();
    runKept();
    releaseLock();
    return kept.empty();
}

void UserDefaults::Connection::scheduleRetry()
{
    if (retryScheduled || !QCoreApplication::instance())
        return;
    retryScheduled = true;
    MainQueue::dispatchAfter(retryInterval, [weak = weak_from_this()] {
        const auto self = weak.lock();
        if (!self)
            return;
        std::lock_guard lock(self->mutex);
        self->retryScheduled = false;
        // The main thread does not wait: it holds the turn, so that the lock, once free, is
        // left for it, and tries again soon.
        if (self->lockFd >= 0)
            lockByte(self->lockFd, turnByte, F_WRLCK);
        const bool written = self->retryKept(QDeadlineTimer(0));
        if (!written)
            self->scheduleRetry();
        // Held only while another process holds the lock: a file that cannot be reopened yet
        // must not keep the others from writing.
        if ((written || !self->db) && self->lockFd >= 0)
            lockByte(self->lockFd, turnByte, F_UNLCK);
    });
}

void UserDefaults::Connection::giveUpKept(const char* why)
{
    if (kept.empty())
        return;
    QStringList keys;
    for (const Kept& each : kept)
        keys.append(each.keys);
    qCCritical(lcUserDefaults).noquote() << kept.size() << "changes to suite" << suiteName << "could not be written ("
                                         << QString::fromUtf8(why) + u"): "_s + keys.join(u", "_s);
    auto givenUp = std::move(kept);
    kept.clear();
    for (Kept& each : givenUp) {
        if (each.done)
            each.done(false);
    }
}

bool UserDefaults::writeKeptChangesBeforeExit(std::chrono::milliseconds bound)
{
    std::vector<std::shared_ptr<Connection>> open;
    {
        auto& suites = openSuites();
        std::lock_guard lock(suites.mutex);
        for (const auto& [where, c] : suites.connections)
            open.push_back(c);
    }
    // One wait for them all.
    const QDeadlineTimer deadline(bound.count());
    bool all = true;
    for (const auto& c : open) {
        std::lock_guard lock(c->mutex);
        if (c->retryKept(deadline))
            continue;
        all = false;
        c->giveUpKept("another process held the suite until the end of this one");
    }
    return all;
}
