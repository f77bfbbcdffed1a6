#pragma once

// The connection behind every handle of one suite in a process. Internal to TickerlyFoundation.

#include "platform/foundation/Namespace.h"
#include "platform/foundation/store/UserDefaults.h"
#include "platform/foundation/store/UserDefaultsDatabase_p.h"
#include "platform/foundation/store/UserDefaultsJournal_p.h"
#include "platform/foundation/store/UserDefaultsKept_p.h"

#include <QDeadlineTimer>

#include <atomic>
#include <map>
#include <memory>
#include <mutex>

namespace Tickerly::Foundation {

// One suite in this process: its database, the changes kept while another process held the write
// lock, and their journals; it runs a change now or keeps it. Made at the first handle of the
// suite in the process and held by the open suites to the end of it (and by every handle and
// scheduled retry); what is still kept as it ends is given up, the journalled part left for the
// next opening. Any thread.
struct UserDefaults::Connection : std::enable_shared_from_this<Connection> {
public:
    // A change is handed the database it runs on.
    using Apply = std::function<bool(StoreDatabase&)>;

    // What a caller asks: plain values (bytes, or none to remove the key), one update, or (never
    // kept) anything else.
    struct Change {
        StoreDatabase::Rows values;
        QString key;
        Updater update;
        std::shared_ptr<const Form> form;
        FormUpdater formUpdate;
        Apply other;
        std::function<void(bool)> done;
        Replay replay;
        // Plain values are journalled unless they hold data begun by startData.
        bool journalValues = true;
    };
    // What a change does when the write lock stays taken: it is kept for later, or it fails.
    enum class WhenBusy { Keep, Fail };
    // Whether the `done` of a change given up learns it.
    enum class Tell { Callers, Nobody };

    explicit Connection(const QString& suiteName);
    ~Connection();
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    StoreDatabase& database() { return m_database; }

    // Runs `change` holding the write lock, after the kept changes.
    Outcome change(Change change, WhenBusy whenBusy);
    int keptCount();
    // Writes what is kept, waiting for the turn until `deadline`. True when none is left.
    bool retryKept(
        const QDeadlineTimer& deadline, StoreDatabase::Writer who = StoreDatabase::Writer::Running);
    // What is still kept is said in the log, in one line with the count and the keys: what the
    // journal holds is left for the next opening, the rest given up, which each `done` learns
    // unless told Nobody.
    void giveUpKept(const char* why, Tell tell = Tell::Callers);
    // The first handle of the suite in this process has what ended processes left replayed on
    // the store's worker: its reads show the store as it stands until that lands.
    void replayAtOpen();

private:
    // What one transaction writes of the kept changes, this process's and those of runs that
    // ended, to be told once the transaction is over.
    struct Landing {
        std::vector<KeptRun> own;
        std::vector<KeptRun> replayed;
        std::vector<ClaimedJournal> claimed;
        // This process's kept changes taken out, to hand to KeptQueue::written.
        int taken = 0;
    };

    bool apply(const Change& change);
    StoreDatabase::Begun begin(const QDeadlineTimer& deadline, StoreDatabase::Writer who);

    // Kept, or HeldInMemory when the journal could not take a change meant for it.
    Outcome keep(Change change);
    // The kept changes of `change`, one a key; `seen` learns what the file counted of each
    // plain value's key.
    std::vector<KeptChange> keptParts(Change& change, std::vector<qint64>& seen);
    // Stamps `parts` and writes their `entries` to the journal; those it could not take live in
    // memory only.
    void journal(const SuiteJournal::Held& held, std::vector<KeptChange>& parts,
        std::vector<KeptJournal::Entry>& entries);
    // Inside the write transaction: the changes left in the journals of runs that ended and this
    // process's kept changes, merged in the order they were made, so that of two changes of one
    // key the later made stays.
    void writeKept(Landing& landing);
    // Takes this process's kept changes out to `backlog`, their ids recorded as written. Returns
    // how many it took.
    int takeKept(std::deque<KeptChange>& backlog);
    // Once the transaction is over: the journals replayed are removed when it committed, and
    // everyone waiting learns how it went.
    void landed(Landing& landing, bool committed);
    void closeJournalIfIdle();
    void scheduleRetry();

    StoreDatabase m_database;
    KeptQueue m_kept;
    SuiteJournal m_journal;
    std::atomic<bool> m_openReplayTried { false };
};

// One connection per suite per process: handles are made on every store call, opening SQLite
// each time would cost far more than the read.
struct UserDefaults::OpenSuites {
    std::mutex mutex;
    std::map<QString, std::shared_ptr<UserDefaults::Connection>> connections;
};

// As the program quits, before its background work is waited for: every change waiting for the
// store stops waiting and is kept for the exit writer.
void stopWaitingForStores();

} // namespace Tickerly::Foundation
