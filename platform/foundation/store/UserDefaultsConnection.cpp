// A suite's connection in this process: a change that runs now or is kept.

#include "platform/foundation/store/UserDefaultsConnection_p.h"

#include "platform/foundation/base/GroupContainer.h"
#include "platform/foundation/base/MainQueue.h"
#include "platform/foundation/store/UserDefaultsTesting.h"

#include <algorithm>
#include <any>
#include <mutex>
#include <utility>

namespace Tickerly::Foundation {

using namespace Qt::Literals::StringLiterals;

namespace {

// The longest the main thread waits for a lock before keeping a change.
constexpr qint64 mainThreadWaitMs = 30;

std::mutex lockWaitsMutex;
UserDefaultsTesting::LockWaits lockWaitsSeen;

void countLockWait(std::chrono::milliseconds allowed)
{
    std::lock_guard lock(lockWaitsMutex);
    ++lockWaitsSeen.ranOut;
    if (allowed.count() > 0)
        ++lockWaitsSeen.waited;
    lockWaitsSeen.longestAllowedMs
        = std::max(lockWaitsSeen.longestAllowedMs, qint64(allowed.count()));
}

} // namespace

UserDefaultsTesting::LockWaits UserDefaultsTesting::lockWaits()
{
    std::lock_guard lock(lockWaitsMutex);
    return lockWaitsSeen;
}

void UserDefaultsTesting::resetLockWaits()
{
    std::lock_guard lock(lockWaitsMutex);
    lockWaitsSeen = {};
}

UserDefaults::Connection::Connection(const QString& suiteName)
    : m_database(suiteName)
    , m_kept(suiteName)
    , m_journal(m_database)
{
    m_database.openSuite();
}

UserDefaults::Connection::~Connection()
{
    // Nothing runs here: what a kept change uses may be gone this late. The programs write them
    // when they quit (UserDefaults::writeKeptChangesBeforeExit). The journal is left for the next
    // opening as it closes, then the database.
    giveUpKept("the process ended first", Tell::Nobody);
}

bool UserDefaults::Connection::apply(const Change& change)
{
    if (change.other)
        return change.other(m_database);
    if (change.update)
        return m_database.applyUpdate(change.key, change.update);
    if (change.formUpdate) {
        return m_database.applyUpdate(change.key, [&](const std::optional<QVariant>& current) {
            std::any held = change.form->decode(current);
            if (!change.formUpdate(held))
                return std::optional<QVariant>();
            return std::optional<QVariant>(change.form->encode(held));
        });
    }
    return m_database.applyValues(change.values);
}

namespace {

// How long a change may wait in all (our lock, SQLite's) before it is kept or fails. A backlog
// changes nothing: the lock that held it up may be free by now, or the wait of another writer's
// turn, and each change is worth the same wait.
std::chrono::milliseconds waitFor()
{
    if (StoreProcess::quitting())
        return std::chrono::milliseconds(0);
    const qint64 limit = StoreProcess::writeWaitLimitMs();
    // The main thread answers the person, whatever the caller: a frame or two at most.
    return std::chrono::milliseconds(
        MainQueue::isCurrent() ? std::min(limit, mainThreadWaitMs) : limit);
}

} // namespace

UserDefaults::Outcome UserDefaults::Connection::change(Change c, WhenBusy whenBusy)
{
    if (m_database.isReadOnly()) {
        qCWarning(lcUserDefaults) << "suite" << m_database.suiteName()
                                  << "can only be read; a change was refused";
        return Outcome::Failed;
    }
    // Inside an update's function: part of its transaction; an update there would read what
    // the outer one is about to write over.
    if (m_database.isWritingThread()) {
        const auto nested = m_database.holdWriter();
        return m_database.isOpen() && !c.update && !c.formUpdate && apply(c) ? Outcome::Done
                                                                             : Outcome::Failed;
    }
    const auto allowed = waitFor();
    switch (begin(QDeadlineTimer(allowed.count()), StoreDatabase::Writer::Running)) {
    case StoreDatabase::Begun::Failed:
        return Outcome::Failed;
    case StoreDatabase::Begun::Busy:
        countLockWait(allowed);
        // After the exit writer nothing would write what is kept.
        if (whenBusy == WhenBusy::Keep && !StoreProcess::ended())
            return this->keep(std::move(c));
        qCWarning(lcUserDefaults) << "suite" << m_database.suiteName()
                                  << "stayed locked by another process; a change was not made";
        return Outcome::Failed;
    case StoreDatabase::Begun::Ok:
        break;
    }
    Landing landing;
    writeKept(landing);
    const bool ok = apply(c);
    // A change that failed alone is undone alone; what was kept before it still commits.
    const bool committed = m_database.finish();
    landed(landing, committed);
    return ok && committed ? Outcome::Done : Outcome::Failed;
}

UserDefaults::OpenSuites& UserDefaults::openSuites()
{
    // Made before the suites, so that it outlives them at exit.
    lcUserDefaults();
    static OpenSuites suites;
    return suites;
}

std::shared_ptr<UserDefaults::Connection> UserDefaults::openSuite(const QString& suiteName)
{
    return std::make_shared<Connection>(suiteName);
}

std::shared_ptr<UserDefaults::Connection> UserDefaults::connectionFor(const QString& suiteName)
{
    auto& suites = openSuites();
    // Keyed by the location, so a test's fresh data home gets a fresh suite.
    const QString where = GroupContainer::path(suiteName).value_or(QString()) + u'\n' + suiteName;
    std::lock_guard lock(suites.mutex);
    auto& c = suites.connections[where];
    if (!c)
        c = openSuite(suiteName);
    return c;
}

} // namespace Tickerly::Foundation
