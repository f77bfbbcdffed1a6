// The changes kept while another process (or another SQLite client) held the suite.
//
// Invariants:
// - A reader sees only what is written: a kept change shows once the run of the backlog that
//   holds it commits, and that run is one transaction, so a reader sees the backlog whole or not.
// - The queue holds at most one plain value per key: a later one replaces the earlier and takes
//   the later one's place, after the updates of that key kept between them. The kept changes of
//   one key run in order in one read-modify-write, so the backlog costs one decoding and one
//   encoding a key, however many changes it holds.
// - A plain (whole) value kept before another process wrote a whole value of its key is dropped,
//   with a line in the log: it is never written over the newer value. Another process's update
//   of the key (one story's picture in a list) does not drop it: the file counts this build's
//   updates apart (key_updates) from all writes (key_writes). Updates read what is stored and
//   always run.
// - The retry is timed on the main queue and runs on a worker: the main thread never writes a
//   backlog it did not ask to write.
// - The writers' turn is held only inside a bounded wait (begin()), never between the retries.
//   A new change waits as the first did, a backlog or not (a frame or two on the main thread),
//   and writes the backlog before itself; the retry on the main queue waits a frame or two.
// - At exit stopWaitingForStores() ends every wait, so those changes keep; then
//   writeKeptChangesBeforeExit() writes every suite's backlog within one bound and names in the
//   log what stays (one line a suite, with the count and the keys): what is journalled is left
//   for the next opening (UserDefaultsJournal.cpp), the rest given up; after it a change is
//   written if the lock is free at once, and never kept.

#include "platform/foundation/store/UserDefaultsConnection_p.h"
#include "platform/foundation/store/UserDefaultsKept_p.h"

#include "platform/foundation/serialization/Cbor_p.h"
#include "platform/foundation/base/MainQueue.h"
#include "platform/foundation/base/OperationQueue.h"
#include "platform/foundation/serialization/PropertyListCoding_p.h"

#include <QCoreApplication>
#include <QStringList>

#include <algorithm>
#include <ctime>

namespace Tickerly::Foundation {

using namespace Qt::Literals::StringLiterals;

namespace {

// How often kept changes are tried again on the main queue, in seconds, and how long a try
// waits there.
constexpr double retryInterval = 0.25;
constexpr qint64 retryWaitMs = 30;

} // namespace

qint64 nextKeptStamp()
{
    static std::atomic<qint64> last { 0 };
    timespec now {};
    ::clock_gettime(CLOCK_REALTIME, &now);
    const qint64 wall = qint64(now.tv_sec) * 1'000'000'000 + now.tv_nsec;
    qint64 previous = last.load();
    qint64 next = 0;
    do {
        next = std::max(wall, previous + 1);
    } while (!last.compare_exchange_weak(previous, next));
    return next;
}

OperationQueue& storeWorker()
{
    // Never destroyed: a retry may still be on it while the process ends.
    static auto& worker = *new OperationQueue(u"store retries"_s);
    return worker;
}

KeptQueue::KeptQueue(const QString& suiteName)
    : m_suiteName(suiteName)
{
}

int KeptQueue::count()
{
    std::lock_guard lock(m_mutex);
    return int(m_kept.size()) + m_running;
}

bool KeptQueue::isIdle()
{
    std::lock_guard lock(m_mutex);
    return m_kept.empty() && m_running == 0;
}

bool KeptQueue::add(std::vector<KeptChange>& parts)
{
    std::lock_guard lock(m_mutex);
    for (KeptChange& part : parts) {
        if (part.value) {
            std::erase_if(m_kept, [&](KeptChange& k) {
                if (!k.value || k.key != part.key)
                    return false;
                // A replay after a crash must not write the older value over this one.
                if (!k.journalId.isEmpty())
                    part.supersededIds.push_back(k.journalId);
                part.supersededIds.insert(
                    part.supersededIds.end(), k.supersededIds.begin(), k.supersededIds.end());
                return true;
            });
        }
        m_kept.push_back(std::move(part));
    }
    const bool first = m_keptSinceSaid == 0;
    m_keptSinceSaid += int(parts.size());
    return first;
}

std::deque<KeptChange> KeptQueue::takeAll()
{
    std::deque<KeptChange> backlog;
    std::lock_guard lock(m_mutex);
    backlog.swap(m_kept);
    // Added, not set: a change made by a `done` of an earlier run (on this thread, before
    // that run is counted out) runs a backlog of its own meanwhile.
    m_running += int(backlog.size());
    return backlog;
}

void KeptQueue::putBack(std::deque<KeptChange>& backlog)
{
    std::lock_guard lock(m_mutex);
    m_running -= int(backlog.size());
    for (auto it = backlog.rbegin(); it != backlog.rend(); ++it)
        m_kept.push_front(std::move(*it));
    backlog.clear();
}

bool KeptQueue::written(std::vector<KeptRun>& ran, bool committed, int taken)
{
    int lost = 0;
    for (KeptRun& r : ran) {
        if (!r.ok || !committed) {
            ++lost;
            if (!committed)
                qCCritical(lcUserDefaults)
                    << "a kept change of" << r.key << "to suite" << m_suiteName
                    << "could not be written (the store refused it)";
        }
        if (r.done)
            r.done(r.ok && committed);
    }
    int said = 0;
    int dropped = 0;
    bool idle = false;
    {
        std::lock_guard lock(m_mutex);
        m_running -= taken;
        m_keptLost += lost;
        idle = m_kept.empty() && m_running == 0;
        if (idle && m_keptSinceSaid > 0) {
            dropped = m_keptLost;
            said = std::max(m_keptSinceSaid - m_keptLost, 0);
            m_keptSinceSaid = 0;
            m_keptLost = 0;
        }
    }
    if (said > 0 || dropped > 0) {
        qCInfo(lcUserDefaults).noquote() << u"suite "_s + m_suiteName + u": "_s
                + QString::number(said) + u" kept changes were written"_s
                + (dropped > 0 ? u", "_s + QString::number(dropped) + u" dropped or refused"_s
                               : QString());
    }
    return idle;
}

std::deque<KeptChange> KeptQueue::takeForGivingUp()
{
    std::deque<KeptChange> givenUp;
    std::lock_guard lock(m_mutex);
    givenUp.swap(m_kept);
    m_keptSinceSaid = 0;
    m_keptLost = 0;
    return givenUp;
}

bool KeptQueue::claimRetry()
{
    std::lock_guard lock(m_mutex);
    if (m_retryScheduled || !QCoreApplication::instance())
        return false;
    m_retryScheduled = true;
    return true;
}

void KeptQueue::retryStarted()
{
    std::lock_guard lock(m_mutex);
    m_retryScheduled = false;
}

int UserDefaults::Connection::keptCount() { return m_kept.count(); }

std::vector<KeptChange> UserDefaults::Connection::keptParts(Change& c, std::vector<qint64>& seen)
{
    std::vector<KeptChange> parts;
    if (c.update || c.formUpdate) {
        parts.push_back({ c.key, std::nullopt, 0, std::move(c.update), std::move(c.form),
            std::move(c.formUpdate), std::move(c.done), {}, {}, false, 0 });
        seen.push_back(0);
        return parts;
    }
    for (auto& [key, bytes] : c.values) {
        // Ours first, then the file's: a write of ours committing in between is then counted
        // as ours at worst, never as another process's.
        const qint64 own = m_database.ownWholeWrites(key);
        qint64 count = 0;
        if (!m_database.file().isEmpty()) {
            std::unique_lock<std::recursive_timed_mutex> writerLock;
            std::unique_lock<std::mutex> readerLock;
            count = StoreDatabase::wholeWritesOf(
                m_database.readConnection(writerLock, readerLock), key);
        }
        parts.push_back({ key, std::move(bytes), count - own, {}, {}, {}, {}, {}, {}, false, 0 });
        seen.push_back(count);
    }
    return parts;
}

void UserDefaults::Connection::journal(const SuiteJournal::Held& held,
    std::vector<KeptChange>& parts, std::vector<KeptJournal::Entry>& entries)
{
    const qint64 madeAt = nextKeptStamp();
    QByteArray frames;
    for (KeptChange& part : parts)
        part.madeAt = madeAt;
    bool framed = true;
    for (KeptJournal::Entry& entry : entries) {
        entry.madeAt = madeAt;
        const QByteArray frame = KeptJournal::frame(entry);
        framed = framed && !frame.isEmpty();
        frames.append(frame);
    }
    if (!framed)
        qCWarning(lcUserDefaults) << "a kept change of suite" << m_database.suiteName()
                                  << "cannot be journalled (it is too large); it is lost if this "
                                     "process ends before it is written";
    if (!entries.empty() && (!framed || !m_journal.append(held, frames))) {
        for (KeptChange& part : parts)
            part.journalId.clear();
    }
}

UserDefaults::Outcome UserDefaults::Connection::keep(Change c)
{
    // Plain values are journalled unless they hold data begun by startData, an update when it
    // says how to make it again.
    const bool forJournal = !m_database.file().isEmpty()
        && (c.update || c.formUpdate ? !c.replay.kind.isEmpty() && bool(c.replay.arguments)
                                     : c.journalValues);
    // What the file counted of each plain value's key: the journal keeps it for a replay.
    std::vector<qint64> seen;
    std::vector<KeptChange> parts = keptParts(c, seen);
    std::vector<KeptJournal::Entry> entries
        = m_journal.entries(parts, seen, c.journalValues, c.replay);
    bool first = false;
    bool inMemory = false;
    {
        // Stamped under the journal's lock, so that the queue, the journal and the stamps agree
        // on the order. In the journal before it is promised: the caller hears Kept only after
        // this.
        const SuiteJournal::Held held = m_journal.hold();
        journal(held, parts, entries);
        inMemory = forJournal
            && std::any_of(parts.begin(), parts.end(),
                [](const KeptChange& part) { return part.journalId.isEmpty(); });
        first = m_kept.add(parts);
    }
    if (first)
        qCWarning(lcUserDefaults)
            << "suite" << m_database.suiteName()
            << "is held by another program; its changes are kept until it is free";
    scheduleRetry();
    return inMemory ? Outcome::HeldInMemory : Outcome::Kept;
}

void UserDefaults::Connection::writeKept(Landing& landing)
{
    // Only a transaction that commits with full synchronisation may carry them: their journals
    // are removed once it committed. One begun without (nothing was kept then) leaves them to the
    // retry.
    if (!m_database.isDurable() && !m_database.file().isEmpty())
        return;
    std::deque<KeptChange> backlog = m_journal.takeOrphans(landing.claimed);
    landing.taken = takeKept(backlog);
    // Each journal, and this process's queue, is in the order its changes were made already.
    std::stable_sort(backlog.begin(), backlog.end(),
        [](const KeptChange& a, const KeptChange& b) { return a.madeAt < b.madeAt; });
    std::vector<KeptRun> ran;
    runBacklog(m_database, backlog, ran);
    for (KeptRun& r : ran)
        (r.replayed ? landing.replayed : landing.own).push_back(std::move(r));
}

void UserDefaults::Connection::landed(Landing& landing, bool committed)
{
    m_journal.releaseClaimed(landing.claimed, committed);
    m_journal.replayLanded(landing.replayed, committed);
    if (m_kept.written(landing.own, committed, landing.taken))
        closeJournalIfIdle();
}

int UserDefaults::Connection::takeKept(std::deque<KeptChange>& into)
{
    std::deque<KeptChange> backlog = m_kept.takeAll();
    const int taken = int(backlog.size());
    // In the transaction that writes them: a replay of this process's journal after a crash
    // skips them.
    if (!m_journal.recordApplied(backlog)) {
        qCWarning(lcUserDefaults) << "the kept changes of suite" << m_database.suiteName()
                                  << "stay kept: what was written of them could not be noted";
        m_kept.putBack(backlog);
        return 0;
    }
    for (KeptChange& k : backlog)
        into.push_back(std::move(k));
    return taken;
}

void UserDefaults::Connection::closeJournalIfIdle()
{
    const SuiteJournal::Held held = m_journal.hold();
    if (m_kept.isIdle())
        m_journal.close(held, SuiteJournal::Close::Remove);
}

StoreDatabase::Begun UserDefaults::Connection::begin(
    const QDeadlineTimer& deadline, StoreDatabase::Writer who)
{
    return m_database.begin(
        deadline, who, [this] { return keptCount() > 0 || m_journal.othersToLookAt(); });
}

bool UserDefaults::Connection::retryKept(const QDeadlineTimer& deadline, StoreDatabase::Writer who)
{
    if (keptCount() == 0 && !m_journal.othersToLookAt())
        return true;
    if (begin(deadline, who) != StoreDatabase::Begun::Ok)
        return false;
    Landing landing;
    writeKept(landing);
    landed(landing, m_database.finish());
    return keptCount() == 0;
}

void UserDefaults::Connection::scheduleRetry()
{
    if (!m_kept.claimRetry())
        return;
    // The main queue only times the retry (on the replaceable clock); the backlog, up to a long
    // story list, is written on a worker, so that the window never waits on it.
    MainQueue::dispatchAfter(retryInterval, [weak = weak_from_this()] {
        const auto self = weak.lock();
        if (!self)
            return;
        storeWorker().addOperation([self] {
            self->m_kept.retryStarted();
            if (!StoreProcess::ended() && !self->retryKept(QDeadlineTimer(retryWaitMs)))
                self->scheduleRetry();
        });
    });
}

void UserDefaults::Connection::giveUpKept(const char* why, Tell tell)
{
    std::deque<KeptChange> givenUp;
    int left = 0;
    QStringList leftKeys;
    {
        const SuiteJournal::Held held = m_journal.hold();
        givenUp = m_kept.takeForGivingUp();
        // What the journal holds is not given up: the next opening of the suite, by either
        // program, writes it.
        std::erase_if(givenUp, [&](const KeptChange& each) {
            if (each.journalId.isEmpty())
                return false;
            ++left;
            if (!leftKeys.contains(each.key))
                leftKeys.append(each.key);
            return true;
        });
        if (left > 0)
            m_journal.close(held, SuiteJournal::Close::Leave);
    }
    const QString& suiteName = m_database.suiteName();
    if (left > 0) {
        qCWarning(lcUserDefaults).noquote() << QString::number(left) + u" changes to suite "_s
                + suiteName + u" are left for its next opening ("_s + QString::fromUtf8(why)
                + u"), of keys: "_s + leftKeys.join(u", "_s);
    }
    if (givenUp.empty())
        return;
    // One line for the backlog, however long: each key once, in the order first kept.
    QStringList keys;
    for (const KeptChange& each : givenUp) {
        if (!keys.contains(each.key))
            keys.append(each.key);
    }
    qCCritical(lcUserDefaults).noquote() << QString::number(givenUp.size())
            + u" changes to suite "_s + suiteName + u" could not be written ("_s
            + QString::fromUtf8(why) + u"), of keys: "_s + keys.join(u", "_s);
    if (tell == Tell::Nobody)
        return;
    for (KeptChange& each : givenUp) {
        if (each.done)
            each.done(false);
    }
}

void stopWaitingForStores() { StoreProcess::quit(); }

bool UserDefaults::writeKeptChangesBeforeExit(std::chrono::milliseconds bound)
{
    stopWaitingForStores();
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
        if (c->retryKept(deadline, StoreDatabase::Writer::Exiting))
            continue;
        all = false;
        c->giveUpKept("another process held the suite until the end of this one");
    }
    StoreProcess::end();
    return all;
}

} // namespace Tickerly::Foundation
