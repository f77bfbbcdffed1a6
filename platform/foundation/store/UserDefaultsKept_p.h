#pragma once

// The changes of one suite kept while another process held the write lock (UserDefaultsKept.cpp,
// UserDefaultsBacklog.cpp). Internal to TickerlyFoundation.

#include "platform/foundation/Namespace.h"
#include "platform/foundation/store/UserDefaultsDatabase_p.h"

#include <QString>

#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

namespace Tickerly::Foundation {

// When a kept change is made: wall-clock nanoseconds, never less than one past the last given in
// this process, so that this process's own changes keep their order whatever the clock does.
qint64 nextKeptStamp();

// The worker on which the store's retries and the replay of what ended runs left are written,
// never the main thread.
class OperationQueue;
OperationQueue& storeWorker();

// One kept change of one key.
struct KeptChange {
    QString key;
    // A plain value; otherwise `update` runs.
    std::optional<std::optional<QByteArray>> value;
    // Other processes' writes of the key counted when the value was made.
    qint64 writesSeen = 0;
    UserDefaults::Updater update;
    // An update of the value as `form` holds it, when `update` is empty.
    std::shared_ptr<const UserDefaults::Form> form;
    UserDefaults::FormUpdater formUpdate;
    std::function<void(bool)> done;
    // Its entry in this process's journal; empty when it lives in memory only.
    QByteArray journalId;
    // Entries of the values this one replaced in the queue: written (in effect) with it.
    std::vector<QByteArray> supersededIds;
    // Made again from another process's journal: `writesSeen` counts every write of the key.
    bool replayed = false;
    // When it was made (nextKeptStamp; 0 from an older build's journal): kept changes of every
    // process are written in this order.
    qint64 madeAt = 0;
};

// How one kept change ran, to be told once the transaction is over.
struct KeptRun {
    QString key;
    std::function<void(bool)> done;
    bool ok = false;
    bool replayed = false;
};

// The changes of `backlog`, key by key, inside the write transaction of `database`: those of one
// key in one read-modify-write, so that a backlog costs one decoding and one encoding a key.
void runBacklog(
    StoreDatabase& database, std::deque<KeptChange>& backlog, std::vector<KeptRun>& ran);

// The changes this process kept of one suite, in the order they were made, and how they ended.
// Made with the suite's connection, which gives up what is still kept as it ends. Any thread. Its
// mutex is taken after the journal's (SuiteJournal::hold), never before, and never held while
// waiting for anything else.
class KeptQueue {
public:
    explicit KeptQueue(const QString& suiteName);
    KeptQueue(const KeptQueue&) = delete;
    KeptQueue& operator=(const KeptQueue&) = delete;

    // Kept changes, those taken out to be written counted until their transaction ends.
    int count();
    // Whether none is kept or being written.
    bool isIdle();
    // Queues `parts`, under the journal's lock, so that the queue and the journal agree on the
    // order: a plain value replaces the earlier one of its key. True when it is the first since
    // the log last said that changes are kept.
    bool add(std::vector<KeptChange>& parts);
    // Every kept change, taken out to be written (still counted); or put back in front, when
    // what was written of them could not be noted.
    std::deque<KeptChange> takeAll();
    void putBack(std::deque<KeptChange>& backlog);
    // Once the transaction is over: each `done` learns its outcome; the log says when all are in.
    // True when none is left.
    bool written(std::vector<KeptRun>& ran, bool committed, int taken);
    // Everything kept, taken out for good, under the journal's lock.
    std::deque<KeptChange> takeForGivingUp();
    // Whether a retry is to be scheduled now (none is, and there is a main queue to time it), and
    // the start of the one scheduled.
    bool claimRetry();
    void retryStarted();

private:
    const QString m_suiteName;
    std::mutex m_mutex;
    std::deque<KeptChange> m_kept;
    bool m_retryScheduled = false;
    // Kept changes taken out to be written, still counted as kept until their transaction ends.
    int m_running = 0;
    // Changes kept since the log said so (a key's value in a change of several counts apart),
    // and of those dropped or refused.
    int m_keptSinceSaid = 0;
    int m_keptLost = 0;
};

} // namespace Tickerly::Foundation
