#pragma once

// The SQLite side of one suite in a process. Internal to TickerlyFoundation.

#include "platform/foundation/Namespace.h"
#include "platform/foundation/serialization/Cbor_p.h"
#include "platform/foundation/store/StoreWriteLock_p.h"
#include "platform/foundation/store/UserDefaults.h"

#include <QDeadlineTimer>
#include <QLoggingCategory>

#include <sqlite3.h>

#include <atomic>
#include <map>
#include <mutex>
#include <thread>

namespace Tickerly::Foundation {

Q_DECLARE_LOGGING_CATEGORY(lcUserDefaults)

enum class OpenResult { Ok, Damaged, Busy, Failed };

// What every suite of this process shares: how long a change waits for the write lock before it
// is kept for later, the longest stored value read, and how far the process is in its ending.
// Lives as long as the process; any thread.
class StoreProcess {
public:
    static qint64 writeWaitLimitMs() { return s_writeWaitLimitMs.load(); }
    static void setWriteWaitLimitMs(qint64 limit) { s_writeWaitLimitMs.store(limit); }
    // The most the value decoder takes, unless a test lowers it.
    static qint64 storedValueReadBound() { return s_storedValueReadBound.load(); }
    static void setStoredValueReadBound(qint64 bound) { s_storedValueReadBound.store(bound); }
    // Set as the program quits: no change waits any more.
    static bool quitting() { return s_quitting.load(); }
    static void quit() { s_quitting.store(true); }
    // Set after the exit writer: no change is kept any more.
    static bool ended() { return s_ended.load(); }
    static void end() { s_ended.store(true); }

private:
    static inline std::atomic<qint64> s_writeWaitLimitMs { 30000 };
    static inline std::atomic<qint64> s_storedValueReadBound { Cbor::maxInputSize };
    static inline std::atomic<bool> s_quitting { false };
    static inline std::atomic<bool> s_ended { false };
};

// How long SQLite itself waits for a lock outside a change's own wait (opening, reading).
inline constexpr int sqliteBusyTimeoutMs = 10000;

// A suite's database in this process: one SQLite connection that writes and one that reads beside
// it, the lock file through which the writers of every process take turns, the write transaction,
// and what this process knows of the writes it made. Made and opened with its suite's connection
// (UserDefaults::Connection), and closed with it. Any thread: the writer's side is held by the
// thread that writes, across its lock wait and transaction; reads never wait for a writer of this
// process.
class StoreDatabase {
public:
    using Rows = std::vector<std::pair<QString, std::optional<QByteArray>>>;
    enum class Begun { Ok, Busy, Failed };
    // Who takes the writers' turn: a change of the running program, or the exit writer, which has
    // no later chance (it claims the turn at once and waits on past quitting).
    enum class Writer { Running, Exiting };
    // What a write of a key stores: a whole value given by its caller, or what an update made of
    // the stored one. A kept whole value gives way only to a newer whole value.
    enum class Written { Whole, ByUpdate };

    explicit StoreDatabase(const QString& suiteName);
    ~StoreDatabase();
    StoreDatabase(const StoreDatabase&) = delete;
    StoreDatabase& operator=(const StoreDatabase&) = delete;

    // Opens the suite's file in its group container, moving a damaged one aside, read-only when
    // it cannot be written, and in memory when it cannot be opened at all (UserDefaultsFile.cpp).
    void openSuite();

    const QString& suiteName() const { return m_suiteName; }
    // Empty for the in-memory suite.
    const QString& file() const { return m_file; }
    bool isPersistent() const { return m_persistent; }
    bool isReadOnly() const { return m_readOnly; }
    bool isOpen() const { return m_db != nullptr; }
    // Whether this thread is inside a write transaction of the suite (an update's function).
    bool isWritingThread() const { return m_writer.load() == std::this_thread::get_id(); }
    // The writer's side, for a change nested in the transaction this thread runs.
    std::unique_lock<std::recursive_timed_mutex> holdWriter() { return std::unique_lock(m_mutex); }

    // The connection a read of this thread uses, locked by `lock`: the writer's own inside its
    // change, else the reader's (opened, or reopened after a replaced file, here).
    sqlite3* readConnection(std::unique_lock<std::recursive_timed_mutex>& writerLock,
        std::unique_lock<std::mutex>& readerLock);

    // Takes the writers' turn of this process and of every process, waiting until `deadline`
    // (not past quitting, unless it is the exit writer), then starts a write transaction. Busy
    // when the wait ran out; Failed when there is no file to write. The transaction commits with
    // full synchronisation when `mayCarryKept` says it may write kept changes.
    Begun begin(
        const QDeadlineTimer& deadline, Writer who, const std::function<bool()>& mayCarryKept);
    // Commits (or, when that fails, rolls back) and gives the turn back. True when committed.
    bool finish();
    // Whether the transaction under way commits with full synchronisation: one that may carry
    // kept changes, whose journals are removed once it committed.
    bool isDurable() const { return m_durable; }
    // The writing connection, inside the write transaction.
    sqlite3* writer() const { return m_db; }

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
        const qint64 bound = StoreProcess::storedValueReadBound();
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

    // Writes `bytes` under `key`, or removes the key when there are none. Writer's side.
    bool write(
        const QString& key, const std::optional<QByteArray>& bytes, Written how = Written::Whole);

    // How often `key` was written by anyone, as counted in the file, and of those how often
    // whole (every write but this build's updates: an older build's update counts as whole).
    static qint64 writesOf(sqlite3* on, const QString& key);
    static qint64 wholeWritesOf(sqlite3* on, const QString& key);
    // This process's committed whole writes of `key`, told apart from other processes'; and with
    // them those of the transaction under way (writer's side).
    qint64 ownWholeWrites(const QString& key);
    qint64 ownWholeWritesSoFar(const QString& key);

    // Inside a transaction.
    bool insertKeptAside(const QString& key, const QByteArray& bytes);

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
    bool applyUpdate(const QString& key, const UserDefaults::Updater& fn);

private:
    // SQLite's lock waits on the writing connection: until `busyDeadline`, and not past
    // quitting for a change that would rather be kept.
    static int busyHandler(void* database, int tries);
    static void refuseTooLarge(const QString& key, qint64 length, qint64 bound);

    int exec(const char* sql);

    OpenResult open(const QString& path);
    // For a file that can be read but not written; with no way to share the write-ahead log's
    // index (a folder that cannot be written), read as a file nobody changes.
    OpenResult openReadOnly(const QString& path);
    // The suite's file, moved aside first when it is damaged.
    OpenResult openFile(const QString& path);
    // SQLITE_OK for a sound file, SQLITE_CORRUPT for damage, else the error met (a busy file is
    // no damaged one and must never be moved aside).
    int quickCheck();
    OpenResult close(int rc);
    // Another process may have moved a damaged file aside and started a new one: follow it,
    // so that every process reads and writes the same file. A new file that could not be opened
    // at once is tried again at the next use rather than given up for the rest of the process.
    void followReplacedFile();

    bool openLockFile();
    // Nested inside an update's function.
    bool takeLock(const QDeadlineTimer& deadline);
    void releaseLock();
    // Back to the synchronisation of other transactions, after a durable one.
    void endDurable();

    // The count of writes to every key, kept by the file itself so that every writer (older
    // builds too) counts, and beside it this build's updates. Inside the write transaction.
    void makeKeyWrites();
    // The stored value of `key` copied aside inside SQLite, for one too large to be read.
    bool keepStoredAside(const QString& key);
    // The one statement that puts a value of `key` aside; `bind` binds the rest of `sql`.
    bool putAside(
        const QString& key, const char* sql, const std::function<void(sqlite3_stmt*)>& bind);

    const QString m_suiteName;
    QString m_file;

    // The writer's side. Recursive, so that an update's function may read and write the suite it
    // is changing.
    std::recursive_timed_mutex m_mutex;
    sqlite3* m_db = nullptr;
    std::atomic<bool> m_persistent { false };
    std::atomic<bool> m_readOnly { false };
    int m_lastError = SQLITE_OK;
    int m_lockFd = -1;
    int m_lockDepth = 0;
    std::optional<FileId> m_openedId;
    bool m_keyWritesReady = false;
    // SQLite's own lock waits end here (see busyHandler).
    QDeadlineTimer m_busyDeadline;
    bool m_busyHonoursQuit = true;
    bool m_durable = false;
    std::atomic<std::thread::id> m_writer;
    std::map<QString, qint64> m_pendingOwnWrites;
    // Committed whole writes of this process, read by any thread.
    std::mutex m_ownWritesMutex;
    std::map<QString, qint64> m_ownWrites;
    // The count of writes of each key, as the file counted them, once this process wrote a value
    // of it (values it writes are always sound) and how long that value was; taken in the file
    // `soundIn`. While the count is still that, nobody has written the key since and its value
    // need not be read to tell damage. Those of the transaction under way are pending until it
    // commits.
    struct SoundWrite {
        qint64 count = 0;
        qint64 length = 0;
    };
    std::map<QString, SoundWrite> m_soundWrites;
    std::map<QString, SoundWrite> m_pendingSoundWrites;
    std::optional<FileId> m_soundIn;

    // The reader's side.
    std::mutex m_readMutex;
    sqlite3* m_readDb = nullptr;
    std::optional<FileId> m_readOpenedId;
};

} // namespace Tickerly::Foundation
