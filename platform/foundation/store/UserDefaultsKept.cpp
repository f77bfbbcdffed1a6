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

int UserDefaults::Connection::keptCount()
{
    std::lock_guard lock(keptMutex);
    return int(kept.size()) + running;
}

UserDefaults::Outcome UserDefaults::Connection::keep(Change c)
{
    // Plain values are journalled unless they hold data begun by startData, an update when it
    // says how to make it again.
    const bool forJournal = !file.isEmpty()
        && (c.update || c.formUpdate ? !c.replay.kind.isEmpty() && bool(c.replay.arguments)
                                     : c.journalValues);
    std::vector<Kept> parts;
    // What the file counted of each plain value's key: the journal keeps it for a replay.
    std::vector<qint64> seen;
    if (c.update || c.formUpdate) {
        parts.push_back({ c.key, std::nullopt, 0, std::move(c.update), std::move(c.form),
            std::move(c.formUpdate), std::move(c.done), {}, {}, false, 0 });
        seen.push_back(0);
    } else {
        for (auto& [key, bytes] : c.values) {
            // Ours first, then the file's: a write of ours committing in between is then counted
            // as ours at worst, never as another process's.
            qint64 own = 0;
            {
                std::lock_guard lock(keptMutex);
                own = ownWrites[key];
            }
            qint64 count = 0;
            if (!file.isEmpty()) {
                std::unique_lock<std::recursive_timed_mutex> writerLock;
                std::unique_lock<std::mutex> readerLock;
                count = wholeWritesOf(readConnection(writerLock, readerLock), key);
            }
            parts.push_back(
                { key, std::move(bytes), count - own, {}, {}, {}, {}, {}, {}, false, 0 });
            seen.push_back(count);
        }
    }
    std::vector<KeptJournal::Entry> entries = journalEntries(parts, c, seen);
    bool first = false;
    bool inMemory = false;
    {
        // Stamped under the journal's lock, so that the queue, the journal and the stamps agree
        // on the order. In the journal before it is promised: the caller hears Kept only after
        // this.
        std::lock_guard journalLock(journalMutex);
        const qint64 madeAt = nextKeptStamp();
        QByteArray frames;
        for (Kept& part : parts)
            part.madeAt = madeAt;
        bool framed = true;
        for (KeptJournal::Entry& entry : entries) {
            entry.madeAt = madeAt;
            const QByteArray frame = KeptJournal::frame(entry);
            framed = framed && !frame.isEmpty();
            frames.append(frame);
        }
        if (!framed)
            qCWarning(lcUserDefaults)
                << "a kept change of suite" << suiteName
                << "cannot be journalled (it is too large); it is lost if this process ends "
                   "before it is written";
        if (!entries.empty() && (!framed || !appendJournal(frames))) {
            for (Kept& part : parts)
                part.journalId.clear();
        }
        inMemory = forJournal && std::any_of(parts.begin(), parts.end(), [](const Kept& part) {
            return part.journalId.isEmpty();
        });
        std::lock_guard lock(keptMutex);
        for (Kept& part : parts) {
            if (part.value) {
                std::erase_if(kept, [&](Kept& k) {
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
            kept.push_back(std::move(part));
        }
        first = keptSinceSaid == 0;
        keptSinceSaid += int(parts.size());
    }
    if (first)
        qCWarning(lcUserDefaults)
            << "suite" << suiteName
            << "is held by another program; its changes are kept until it is free";
    scheduleRetry();
    return inMemory ? Outcome::HeldInMemory : Outcome::Kept;
}

void UserDefaults::Connection::writeKept(Landing& landing)
{
    // Only a transaction that commits with full synchronisation may carry them: their journals
    // are removed once it committed. One begun without (nothing was kept then) leaves them to the
    // retry.
    if (!durable && !file.isEmpty())
        return;
    std::deque<Kept> backlog = takeOrphans(landing.claimed);
    landing.taken = takeKept(backlog);
    // Each journal, and this process's queue, is in the order its changes were made already.
    std::stable_sort(backlog.begin(), backlog.end(),
        [](const Kept& a, const Kept& b) { return a.madeAt < b.madeAt; });
    std::vector<Ran> ran;
    runBacklog(backlog, ran);
    for (Ran& r : ran)
        (r.replayed ? landing.replayed : landing.own).push_back(std::move(r));
}

void UserDefaults::Connection::landed(Landing& landing, bool committed)
{
    releaseClaimed(landing.claimed, committed);
    replayLanded(landing.replayed, committed);
    keptWritten(landing.own, committed, landing.taken);
}

int UserDefaults::Connection::takeKept(std::deque<Kept>& into)
{
    std::deque<Kept> backlog;
    {
        std::lock_guard lock(keptMutex);
        backlog.swap(kept);
        // Added, not set: a change made by a `done` of an earlier run (on this thread, before
        // that run is counted out) runs a backlog of its own meanwhile.
        running += int(backlog.size());
    }
    const int taken = int(backlog.size());
    // In the transaction that writes them: a replay of this process's journal after a crash
    // skips them.
    if (!recordApplied(backlog)) {
        qCWarning(lcUserDefaults) << "the kept changes of suite" << suiteName
                                  << "stay kept: what was written of them could not be noted";
        std::lock_guard lock(keptMutex);
        running -= taken;
        for (auto it = backlog.rbegin(); it != backlog.rend(); ++it)
            kept.push_front(std::move(*it));
        return 0;
    }
    for (Kept& k : backlog)
        into.push_back(std::move(k));
    return taken;
}

void UserDefaults::Connection::runBacklog(std::deque<Kept>& backlog, std::vector<Ran>& ran)
{
    std::vector<QString> order;
    std::map<QString, std::vector<Kept*>> byKey;
    for (Kept& k : backlog) {
        auto& ofKey = byKey[k.key];
        if (ofKey.empty())
            order.push_back(k.key);
        ofKey.push_back(&k);
    }
    for (const QString& key : order) {
        // A replayed change counts every write since it was kept; this process's own, only the
        // others' (a replay of another's journal in this transaction is its own write).
        qint64 own = 0;
        {
            std::lock_guard lock(keptMutex);
            own = ownWrites[key];
            if (const auto it = pendingOwnWrites.find(key); it != pendingOwnWrites.end())
                own += it->second;
        }
        const qint64 all = wholeWritesOf(db, key);
        std::vector<Ran> ofKey;
        // What the key holds as the changes run: the stored value until one of them wrote it,
        // then plain bytes or a value; or, along a run of changes of one form, that form's held
        // value, encoded only once the run ends.
        bool loaded = false;
        bool touched = false;
        bool isBytes = false;
        bool whole = false;
        std::optional<QByteArray> bytes;
        std::optional<QVariant> value;
        const Form* heldForm = nullptr;
        std::any held;
        bool heldChanged = false;
        const auto settle = [&] {
            if (heldForm && heldChanged) {
                QVariant encoded = heldForm->encode(held);
                value = encoded.isValid() ? std::optional(std::move(encoded)) : std::nullopt;
                isBytes = false;
                touched = true;
            }
            heldForm = nullptr;
            held.reset();
            heldChanged = false;
        };
        const auto current = [&](bool* keptOk) -> std::optional<QVariant> {
            settle();
            if (touched)
                return isBytes ? (bytes ? decodeValue(*bytes) : std::nullopt) : value;
            if (!loaded)
                value = readForChange(key, keptOk);
            loaded = true;
            return value;
        };
        const bool ok = transaction([&] {
            for (Kept* k : byKey[key]) {
                if (k->value) {
                    if ((k->replayed ? all : all - own) > k->writesSeen) {
                        qCWarning(lcUserDefaults)
                            << "a value of" << key << "kept for suite" << suiteName
                            << "was dropped: another process wrote it since";
                        ofKey.push_back({ key, {}, false, k->replayed });
                        continue;
                    }
                    // Written over whole: what a form held is dropped unencoded.
                    heldChanged = false;
                    settle();
                    bytes = *k->value;
                    isBytes = touched = whole = true;
                    ofKey.push_back({ key, {}, true, k->replayed });
                    continue;
                }
                bool keptOk = true;
                bool changed = false;
                try {
                    if (k->form) {
                        if (heldForm != k->form.get()) {
                            const std::optional<QVariant> stored = current(&keptOk);
                            if (!keptOk)
                                return false;
                            held = k->form->decode(stored);
                            heldForm = k->form.get();
                        }
                        changed = k->formUpdate(held);
                        heldChanged = heldChanged || changed;
                    } else {
                        const std::optional<QVariant> stored = current(&keptOk);
                        if (!keptOk)
                            return false;
                        const std::optional<QVariant> next = k->update(stored);
                        if (next) {
                            value = next->isValid() ? next : std::nullopt;
                            isBytes = false;
                            touched = true;
                        }
                    }
                } catch (...) {
                    ofKey.push_back({ key, std::move(k->done), false, k->replayed });
                    continue;
                }
                ofKey.push_back({ key, std::move(k->done), true, k->replayed });
            }
            settle();
            if (!touched)
                return true;
            if (!loaded && !keepAsideIfDamaged(key))
                return false;
            // Whole when a whole value of the backlog is in it, even with updates run on it.
            const Written how = whole ? Written::Whole : Written::ByUpdate;
            if (isBytes)
                return write(key, bytes, how);
            if (!value)
                return write(key, std::nullopt, how);
            // Checked once, as the key's value is encoded: checking each update's result would
            // convert a long list once a change.
            const auto item = toItem(*value, 0);
            if (!item)
                qCWarning(lcUserDefaults)
                    << "not a property-list value for" << key << value->metaType().name();
            return item && write(key, Cbor::encode(*item), how);
        });
        for (Ran& r : ofKey) {
            r.ok = r.ok && ok;
            ran.push_back(std::move(r));
        }
    }
}

void UserDefaults::Connection::keptWritten(std::vector<Ran>& ran, bool committed, int taken)
{
    int lost = 0;
    for (Ran& r : ran) {
        if (!r.ok || !committed) {
            ++lost;
            if (!committed)
                qCCritical(lcUserDefaults) << "a kept change of" << r.key << "to suite" << suiteName
                                           << "could not be written (the store refused it)";
        }
        if (r.done)
            r.done(r.ok && committed);
    }
    int said = 0;
    int dropped = 0;
    bool idle = false;
    {
        std::lock_guard lock(keptMutex);
        running -= taken;
        keptLost += lost;
        idle = kept.empty() && running == 0;
        if (idle && keptSinceSaid > 0) {
            dropped = keptLost;
            said = std::max(keptSinceSaid - keptLost, 0);
            keptSinceSaid = 0;
            keptLost = 0;
        }
    }
    if (idle)
        closeJournalIfIdle();
    if (said == 0 && dropped == 0)
        return;
    qCInfo(lcUserDefaults).noquote() << u"suite "_s + suiteName + u": "_s + QString::number(said)
            + u" kept changes were written"_s
            + (dropped > 0 ? u", "_s + QString::number(dropped) + u" dropped or refused"_s
                           : QString());
}

bool UserDefaults::Connection::retryKept(const QDeadlineTimer& deadline, Writer who)
{
    if (keptCount() == 0 && !journalsToLookAt())
        return true;
    if (begin(deadline, who) != Begun::Ok)
        return false;
    Landing landing;
    writeKept(landing);
    landed(landing, finish(true));
    return keptCount() == 0;
}

void UserDefaults::Connection::scheduleRetry()
{
    {
        std::lock_guard lock(keptMutex);
        if (retryScheduled || !QCoreApplication::instance())
            return;
        retryScheduled = true;
    }
    // The main queue only times the retry (on the replaceable clock); the backlog, up to a long
    // story list, is written on a worker, so that the window never waits on it.
    MainQueue::dispatchAfter(retryInterval, [weak = weak_from_this()] {
        const auto self = weak.lock();
        if (!self)
            return;
        storeWorker().addOperation([self] {
            {
                std::lock_guard lock(self->keptMutex);
                self->retryScheduled = false;
            }
            if (!storesEnded.load() && !self->retryKept(QDeadlineTimer(retryWaitMs)))
                self->scheduleRetry();
        });
    });
}

void UserDefaults::Connection::giveUpKept(const char* why, Tell tell)
{
    std::deque<Kept> givenUp;
    int left = 0;
    QStringList leftKeys;
    {
        std::lock_guard journalLock(journalMutex);
        {
            std::lock_guard lock(keptMutex);
            givenUp.swap(kept);
            keptSinceSaid = 0;
            keptLost = 0;
        }
        // What the journal holds is not given up: the next opening of the suite, by either
        // program, writes it.
        std::erase_if(givenUp, [&](const Kept& each) {
            if (each.journalId.isEmpty())
                return false;
            ++left;
            if (!leftKeys.contains(each.key))
                leftKeys.append(each.key);
            return true;
        });
        if (left > 0)
            closeJournal(false);
    }
    if (left > 0) {
        qCWarning(lcUserDefaults).noquote() << QString::number(left) + u" changes to suite "_s
                + suiteName + u" are left for its next opening ("_s + QString::fromUtf8(why)
                + u"), of keys: "_s + leftKeys.join(u", "_s);
    }
    if (givenUp.empty())
        return;
    // One line for the backlog, however long: each key once, in the order first kept.
    QStringList keys;
    for (const Kept& each : givenUp) {
        if (!keys.contains(each.key))
            keys.append(each.key);
    }
    qCCritical(lcUserDefaults).noquote() << QString::number(givenUp.size())
            + u" changes to suite "_s + suiteName + u" could not be written ("_s
            + QString::fromUtf8(why) + u"), of keys: "_s + keys.join(u", "_s);
    if (tell == Tell::Nobody)
        return;
    for (Kept& each : givenUp) {
        if (each.done)
            each.done(false);
    }
}

void stopWaitingForStores() { storesQuitting = true; }

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
        if (c->retryKept(deadline, Connection::Writer::Exiting))
            continue;
        all = false;
        c->giveUpKept("another process held the suite until the end of this one");
    }
    storesEnded = true;
    return all;
}

} // namespace Tickerly::Foundation
