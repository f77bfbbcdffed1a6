#pragma once

// The connection behind every handle of one suite in a process: its SQLite database (one
// connection that writes, one that reads beside it), the lock file through which the writers of
// every process take turns, and the changes kept while another process held that lock. Internal
// to TickerlyFoundation.

#include "platform/foundation/Namespace.h"
#include "platform/foundation/store/UserDefaults.h"
#include "platform/foundation/store/KeptJournal_p.h"
#include "platform/foundation/store/StoreWriteLock_p.h"

#include <QDeadlineTimer>
#include <QLoggingCategory>

#include <sqlite3.h>

#include <any>
#include <atomic>
#include <deque>
#include <map>
#include <mutex>
#include <thread>

namespace Tickerly::Foundation {

Q_DECLARE_LOGGING_CATEGORY(lcUserDefaults)

enum class OpenResult { Ok, Damaged, Busy, Failed };

// How long a change waits for the write lock before it is kept for later.
extern std::atomic<qint64> writeWaitLimitMs;
// Set as the program quits: no change waits any more. After the exit writer: none is kept.
extern std::atomic<bool> storesQuitting;
extern std::atomic<bool> storesEnded;

// When a kept change is made: wall-clock nanoseconds, never less than one past the last given in
// this process, so that this process's own changes keep their order whatever the clock does.
qint64 nextKeptStamp();

// The worker on which the store's retries and the replay of what ended runs left are written,
// never the main thread.
class OperationQueue;
OperationQueue& storeWorker();

// The longest stored value read: the most the value decoder takes, unless a test lowers it.
extern std::atomic<qint64> storedValueReadBound;

// How long SQLite itself waits for a lock outside a change's own wait (opening, reading).
inline constexpr int sqliteBusyTimeoutMs = 10000;

struct UserDefaults::Connection : std::enable_shared_from_this<Connection> {
    // A change is handed the connection it runs on.
    using Apply = std::function<bool(Connection&)>;
    using Rows = std::vector<std::pair<QString, std::optional<QByteArray>>>;

    // What a caller asks: plain values (bytes, or none to remove the key), one update, or (never
    // kept) anything else.
    struct Change {
        Rows values;
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

    // One kept change of one key (see UserDefaultsKept.cpp).
    struct Kept {
        QString key;
        // A plain value; otherwise `update` runs.
        std::optional<std::optional<QByteArray>> value;
        // Other processes' writes of the key counted when the value was made.
        qint64 writesSeen = 0;
        Updater update;
        // An update of the value as `form` holds it, when `update` is empty.
        std::shared_ptr<const Form> form;
        FormUpdater formUpdate;
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

    // Another process's journal taken to be replayed: held locked until its transaction is over,
    // then removed when that committed.
    struct Claimed {
        QString path;
        int fd = -1;
    };

    // How one kept change ran, to be told once the transaction is over.
    struct Ran {
        QString key;
        std::function<void(bool)> done;
        bool ok = false;
        bool replayed = false;
    };

    // What one transaction writes of the kept changes, this process's and those of runs that
    // ended, to be told once the transaction is over.
    struct Landing {
        std::vector<Ran> own;
        std::vector<Ran> replayed;
        std::vector<Claimed> claimed;
        // This process's kept changes taken out, to hand to keptWritten.
        int taken = 0;
    };

    enum class Begun { Ok, Busy, Failed };
    // Who takes the writers' turn: a change of the running program, or the exit writer, which has
    // no later chance (it claims the turn at once and waits on past quitting).
    enum class Writer { Running, Exiting };
    // Whether the `done` of a change given up learns it.
    enum class Tell { Callers, Nobody };

    QString suiteName;
    QString file; // empty for the in-memory suite

    // The writer's side: held by the thread that writes, across its lock wait and transaction.
    // Recursive, so that an update's function may read and write the suite it is changing.
    std::recursive_timed_mutex mutex;
    sqlite3* db = nullptr;
    std::atomic<bool> persistent { false };
    std::atomic<bool> readOnly { false };
    int lastError = SQLITE_OK;
    int lockFd = -1;
    int lockDepth = 0;
    std::optional<FileId> openedId;
    bool keyWritesReady = false;
    // SQLite's own lock waits end here (see busyHandler).
    QDeadlineTimer busyDeadline;
    bool busyHonoursQuit = true;
    // Whether the transaction under way commits with full synchronisation: one that may carry
    // kept changes, whose journals are removed once it committed.
    bool durable = false;
    std::atomic<std::thread::id> writer;
    std::map<QString, qint64> pendingOwnWrites;
    // The count of writes of each key, as the file counted them, once this process wrote a value
    // of it (values it writes are always sound) and how long that value was; taken in the file
    // `soundIn`. While the count is still that, nobody has written the key since and its value
    // need not be read to tell damage. Those of the transaction under way are pending until it
    // commits.
    struct SoundWrite {
        qint64 count = 0;
        qint64 length = 0;
    };
    std::map<QString, SoundWrite> soundWrites;
    std::map<QString, SoundWrite> pendingSoundWrites;
    std::optional<FileId> soundIn;

    // The reader's side: reads never wait for a writer of this process.
    std::mutex readMutex;
    sqlite3* readDb = nullptr;
    std::optional<FileId> readOpenedId;

    // The kept changes; keptMutex is never held while waiting for anything else.
    std::mutex keptMutex;
    std::deque<Kept> kept;
    // This process's committed whole writes of each key, told apart from other processes'.
    std::map<QString, qint64> ownWrites;
    bool retryScheduled = false;
    // Kept changes taken out to be written, still counted as kept until their transaction ends.
    int running = 0;
    // Changes kept since the log said so (a key's value in a change of several counts apart),
    // and of those dropped or refused.
    int keptSinceSaid = 0;
    int keptLost = 0;

    // This process's journal of kept changes (UserDefaultsJournal.cpp): made at the first kept
    // change that has an entry, locked (flock) while it is open, removed once nothing is kept.
    // journalMutex is taken before keptMutex, never after.
    std::mutex journalMutex;
    int journalFd = -1;
    QString journalPath;
    qint64 journalSize = 0;
    bool journalBroken = false;
    bool journalFailureSaid = false;
    // Set while a sync of this journal's last writes waits on the sync thread.
    std::shared_ptr<std::atomic<bool>> journalSyncPending;
    // The other processes' journals: those found locked by their owners at the last look, those
    // left for a program that knows their kinds, and when the folder was last looked at.
    QStringList liveJournals;
    QStringList leftJournals;
    std::optional<qint64> folderSeenNs;
    std::atomic<bool> openReplayTried { false };
    // Said once a process: journals of kinds this program does not know, files at a journal's
    // name that cannot be read as one, a folder that could not be listed.
    bool unknownJournalsSaid = false;
    bool unreadableJournalsSaid = false;
    bool folderListingFailureSaid = false;

    // SQLite's lock waits on the writing connection: until `busyDeadline`, and not past
    // quitting for a change that would rather be kept.
    static int busyHandler(void* connection, int tries);

    ~Connection();

    int exec(const char* sql);

    OpenResult open(const QString& path);

    // For a file that can be read but not written; with no way to share the write-ahead log's
    // index (a folder that cannot be written), read as a file nobody changes.
    OpenResult openReadOnly(const QString& path);

    // SQLITE_OK for a sound file, SQLITE_CORRUPT for damage, else the error met (a busy file is
    // no damaged one and must never be moved aside).
    int quickCheck();

    OpenResult close(int rc);

    // Another process may have moved a damaged file aside and started a new one: follow it,
    // so that every process reads and writes the same file. A new file that could not be opened
    // at once is tried again at the next use rather than given up for the rest of the process.
    void followReplacedFile();

    // The connection a read of this thread uses, locked by `lock`: the writer's own inside its
    // change, else the reader's (opened, or reopened after a replaced file, here).
    sqlite3* readConnection(std::unique_lock<std::recursive_timed_mutex>& writerLock,
        std::unique_lock<std::mutex>& readerLock);

    bool openLockFile();

    // Takes the writers' turn of this process and of every process, waiting until `deadline`
    // (not past quitting, unless it is the exit writer), then starts a write transaction. Busy
    // when the wait ran out; Failed when there is no file to write.
    Begun begin(const QDeadlineTimer& deadline, Writer who = Writer::Running);
    // Commits (or rolls back) and gives the turn back.
    bool finish(bool commit);
    // Back to the synchronisation of other transactions, after a durable one.
    void endDurable();

    // Nested inside an update's function.
    bool takeLock(const QDeadlineTimer& deadline);
    void releaseLock();

    // `use` of the stored bytes of `key`, seen in place (valid only during the call); nothing
    // when unset or unreadable. A value longer than any value is read up to is refused from its
    // length, before SQLite reads it, with a line in the log; `tooLarge` learns it.
    template <typename Use>
    static auto withStored(sqlite3* on, const QString& key, Use use, bool* tooLarge = nullptr)
        -> std::optional<decltype(use(QByteArrayView()))>
    {
        if (tooLarge)
            *tooLarge = false;
        sqlite3_stmt* stmt = nullptr;
        // length() of a blob is read from the record's header, without the blob.
        if (!on
            || sqlite3_prepare_v2(on,
                   "SELECT length(value), CASE WHEN length(value) <= ?2 THEN value END "
                   "FROM defaults WHERE key = ?1",
                   -1, &stmt, nullptr)
                != SQLITE_OK)
            return std::nullopt;
        const QByteArray k = key.toUtf8();
        sqlite3_bind_text(stmt, 1, k.constData(), int(k.size()), SQLITE_TRANSIENT);
        const qint64 bound = storedValueReadBound.load();
        sqlite3_bind_int64(stmt, 2, bound);
        std::optional<decltype(use(QByteArrayView()))> result;
        if (sqlite3_step(stmt) == SQLITE_ROW) {
            const qint64 length = sqlite3_column_int64(stmt, 0);
            if (length <= bound) {
                result = use(QByteArrayView(static_cast<const char*>(sqlite3_column_blob(stmt, 1)),
                    sqlite3_column_bytes(stmt, 1)));
            } else {
                refuseTooLarge(key, length, bound);
                if (tooLarge)
                    *tooLarge = true;
            }
        }
        sqlite3_finalize(stmt);
        return result;
    }
    static void refuseTooLarge(const QString& key, qint64 length, qint64 bound);

    // The raw stored bytes of `key`; nothing when unset or unreadable. Writer's side.
    std::optional<QByteArray> read(const QString& key, bool* tooLarge = nullptr);

    // What a write of a key stores: a whole value given by its caller, or what an update made of
    // the stored one. A kept whole value gives way only to a newer whole value.
    enum class Written { Whole, ByUpdate };
    // Writes `bytes` under `key`, or removes the key when there are none. Writer's side.
    bool write(
        const QString& key, const std::optional<QByteArray>& bytes, Written how = Written::Whole);

    // How often `key` was written by anyone, as counted in the file, and of those how often
    // whole (every write but this build's updates: an older build's update counts as whole).
    static qint64 writesOf(sqlite3* on, const QString& key);
    static qint64 wholeWritesOf(sqlite3* on, const QString& key);
    // The count of writes to every key, kept by the file itself so that every writer (older
    // builds too) counts, and beside it this build's updates. Inside the write transaction.
    void makeKeyWrites();

    // Inside a transaction.
    bool insertKeptAside(const QString& key, const QByteArray& bytes);
    // The stored value of `key` copied aside inside SQLite, for one too large to be read.
    bool keepStoredAside(const QString& key);
    // The one statement that puts a value of `key` aside; `bind` binds the rest of `sql`.
    bool putAside(
        const QString& key, const char* sql, const std::function<void(sqlite3_stmt*)>& bind);

    // The decoded stored value of `key`; an undecodable one is kept aside first. Inside a
    // transaction.
    std::optional<QVariant> readForChange(const QString& key, bool* keptOk);

    // Before a value is replaced without being read: bytes that no longer read as a value are
    // kept aside rather than lost. Sound bytes are not copied out of SQLite or built into a value,
    // which for a stored list of stories would be megabytes of work thrown away.
    bool keepAsideIfDamaged(const QString& key);

    // `body` inside the write transaction, undone alone when it fails.
    template <typename Body> bool transaction(Body body)
    {
        if (exec("SAVEPOINT change") != SQLITE_OK)
            return false;
        bool ok = false;
        try {
            ok = body();
        } catch (...) {
            ok = false;
        }
        if (!ok)
            exec("ROLLBACK TO change");
        exec("RELEASE change");
        return ok;
    }

    bool applyValues(const Rows& values);
    bool applyUpdate(const QString& key, const Updater& fn);
    bool apply(const Change& change);

    // The kept queue (UserDefaultsKept.cpp).
    int keptCount();
    // Kept, or HeldInMemory when the journal could not take a change meant for it.
    Outcome keep(Change change);
    // Inside the write transaction: the changes left in the journals of runs that ended and this
    // process's kept changes, merged in the order they were made, so that of two changes of one
    // key the later made stays.
    void writeKept(Landing& landing);
    // Takes this process's kept changes out to `backlog`, their ids recorded as written. Returns
    // how many it took.
    int takeKept(std::deque<Kept>& backlog);
    // The changes of `backlog`, key by key, inside the write transaction.
    void runBacklog(std::deque<Kept>& backlog, std::vector<Ran>& ran);
    // Once the transaction is over: the journals replayed are removed when it committed, and
    // everyone waiting learns how it went.
    void landed(Landing& landing, bool committed);
    // Once the transaction is over: each `done` learns its outcome; the log says when all are in.
    void keptWritten(std::vector<Ran>& ran, bool committed, int taken);
    // Writes what is kept, waiting for the turn until `deadline`. True when none is left.
    bool retryKept(const QDeadlineTimer& deadline, Writer who = Writer::Running);
    void scheduleRetry();
    // What is still kept is said in the log, in one line with the count and the keys: what the
    // journal holds is left for the next opening, the rest given up, which each `done` learns
    // unless told Nobody.
    void giveUpKept(const char* why, Tell tell = Tell::Callers);

    // The journal (UserDefaultsJournal.cpp). The entries of `parts` (each part learns its id), and
    // their writing to this process's journal, under journalMutex, before they are kept; the
    // sync to disk follows on the journal's own thread. Nothing, or false, with a line in the log,
    // when they cannot be: they live in memory only.
    std::vector<KeptJournal::Entry> journalEntries(
        std::vector<Kept>& parts, const Change& change, const std::vector<qint64>& seen);
    bool appendJournal(const QByteArray& frames);
    // Syncs what was written of the journal, on the journal's own thread; with the folder, once
    // the journal was just made. Under journalMutex.
    void syncJournalSoon(bool made);
    // Records the ids of `backlog`'s journalled changes as written, inside the transaction.
    bool recordApplied(const std::deque<Kept>& backlog);
    // Once nothing is kept (or, at the end, with what is left in it for the next opening): the
    // journal is closed, and removed when `remove`. Under journalMutex.
    void closeJournal(bool remove);
    void closeJournalIfIdle();
    // Whether other processes' journals may wait to be replayed: cheap, a look at the folder.
    bool journalsToLookAt();
    // Inside the write transaction: the changes not yet written of the journals of processes that
    // ended, each journal's in order, their ids recorded. `claimed` is handed to releaseClaimed
    // once the transaction is over.
    std::deque<Kept> takeOrphans(std::vector<Claimed>& claimed);
    void releaseClaimed(std::vector<Claimed>& claimed, bool committed);
    // Where the changes of runs that ended are known to have landed (or not): each learns it, and
    // through it the views of this program, as after any kept change; the other program's views
    // are told by announceReplay.
    void replayLanded(std::vector<Ran>& replayed, bool committed);
    // Once what a run that ended left is written: every program's views are told (see
    // UserDefaults::observeReplays).
    void announceReplay();
    // The first handle of the suite in this process has what ended processes left replayed on
    // the store's worker: its reads show the store as it stands until that lands.
    void replayAtOpen();

    // What a change does when the write lock stays taken: it is kept for later, or it fails.
    enum class WhenBusy { Keep, Fail };
    // Runs `change` holding the write lock, after the kept changes.
    Outcome change(Change change, WhenBusy whenBusy);
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
