#pragma once

// The connection behind every handle of one suite in a process: its SQLite database, the lock
// file through which the writers of every process take turns, and the changes kept while
// another process held that lock. Internal to TickerlyFoundation.

#include "platform/foundation/UserDefaults.h"
#include "platform/foundation/StoreWriteLock_p.h"

#include <QDeadlineTimer>
#include <QLoggingCategory>

#include <sqlite3.h>

#include <atomic>
#include <deque>
#include <map>
#include <mutex>

Q_DECLARE_LOGGING_CATEGORY(lcUserDefaults)

enum class OpenResult { Ok, Damaged, Busy, Failed };

// How long a change waits for the write lock before it is kept for later.
extern std::atomic<qint64> writeWaitLimitMs;

struct UserDefaults::Connection : std::enable_shared_from_this<Connection> {
    // A change is handed the connection it runs on: a kept one may run when no handle of the
    // suite is left.
    using Apply = std::function<bool(Connection&)>;
    struct Kept {
        Apply apply;
        std::function<void(bool)> done;
        QString keys; // for the log, when it cannot be written
    };

    QString suiteName;
    QString file; // empty for the in-memory suite
    // Recursive, so that an update's function may read the suite it is changing.
    std::recursive_mutex mutex;
    sqlite3* db = nullptr;
    bool persistent = false;
    bool readOnly = false;
    int lastError = SQLITE_OK;
    int lockFd = -1;
    int lockDepth = 0;
    std::optional<FileId> openedId;
    std::deque<Kept> kept;
    bool retryScheduled = false;

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

    bool openLockFile();

    // With `unlockWhileWaiting`, the caller holds `mutex` once and lets other threads use the
    // suite between tries.
    bool takeLock(const QDeadlineTimer& deadline, bool unlockWhileWaiting = false);

    void releaseLock();

    // `use` of the stored bytes of `key`, seen in place (valid only during the call); nothing
    // when unset or unreadable. Lock held by the caller.
    template <typename Use>
    auto withStored(const QString& key, Use use) -> std::optional<decltype(use(QByteArrayView()))>
    {
        sqlite3_stmt* stmt = nullptr;
        if (sqlite3_prepare_v2(db, "SELECT value FROM defaults WHERE key = ?1", -1, &stmt, nullptr) != SQLITE_OK)
            return std::nullopt;
        const QByteArray k = key.toUtf8();
        sqlite3_bind_text(stmt, 1, k.constData(), int(k.size()), SQLITE_TRANSIENT);
        std::optional<decltype(use(QByteArrayView()))> result;
        if (sqlite3_step(stmt) == SQLITE_ROW)
            result = use(QByteArrayView(static_cast<const char*>(sqlite3_column_blob(stmt, 0)), sqlite3_column_bytes(stmt, 0)));
        sqlite3_finalize(stmt);
        return result;
    }

    // The raw stored bytes of `key`; nothing when unset or unreadable. Lock held by the caller.
    std::optional<QByteArray> read(const QString& key);

    // Writes `bytes` under `key`, or removes the key when there are none. Lock held by the caller.
    bool write(const QString& key, const std::optional<QByteArray>& bytes);

    // Inside a transaction.
    bool insertKeptAside(const QString& key, const QByteArray& bytes);

    // The decoded stored value of `key`; an undecodable one is kept aside first. Inside a
    // transaction.
    std::optional<QVariant> readForChange(const QString& key, bool* keptOk);

    // Before a value is replaced without being read: bytes that no longer read as a value are
    // kept aside rather than lost. Sound bytes are not copied out of SQLite or built into a value,
    // which for a stored list of stories would be megabytes of work thrown away.
    bool keepAsideIfDamaged(const QString& key);

    // `body` in a transaction of its own; a plain write inside an update's function joins the
    // update's instead.
    template <typename Body>
    bool transaction(Body body, bool mayJoin = false)
    {
        if (mayJoin && !sqlite3_get_autocommit(db))
            return body();
        if (const int rc = exec("BEGIN IMMEDIATE"); rc != SQLITE_OK) {
            qCWarning(lcUserDefaults) << "suite" << suiteName << "stayed busy:" << sqlite3_errstr(rc);
            return false;
        }
        bool ok = false;
        try {
            ok = body();
        } catch (...) {
            ok = false;
        }
        if (ok && exec("COMMIT") == SQLITE_OK)
            return true;
        exec("ROLLBACK");
        return false;
    }

    bool applyValues(const std::vector<std::pair<QString, std::optional<QByteArray>>>& values);

    bool applyUpdate(const QString& key, const Updater& fn);

    // Kept changes first, in order; the write lock is held.
    bool runKept();

    // `mutex` held once by the caller.
    bool retryKept(const QDeadlineTimer& deadline);
    void scheduleRetry();
    // What is still kept is said in the log and given up; `done` learns it.
    void giveUpKept(const char* why);

    // Runs `apply` holding the write lock, after the kept changes. When the lock stays taken,
    // the change is kept when `keep` says so. `keys` names what it changes, for the log.
    Outcome change(Apply apply, bool keep, const QString& keys, std::function<void(bool)> done = {});
};

// One connection per suite per process: handles are made on every store call, opening SQLite
// each time would cost far more than the read.
struct UserDefaults::OpenSuites {
    std::mutex mutex;
    std::map<QString, std::shared_ptr<UserDefaults::Connection>> connections;
};
