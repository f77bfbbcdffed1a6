// A suite's database: the turns of the writers, the write transaction and the stored rows.

#include "platform/foundation/store/UserDefaultsDatabase_p.h"

#include "platform/foundation/serialization/Cbor_p.h"
#include "platform/foundation/serialization/PropertyListCoding_p.h"
#include "platform/foundation/store/UserDefaultsTesting.h"

#include <QFile>
#include <QThread>

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <mutex>
#include <utility>

namespace Tickerly::Foundation {

using namespace Qt::Literals::StringLiterals;

Q_LOGGING_CATEGORY(lcUserDefaults, "tickerly.userdefaults")

namespace {

std::atomic<int> valuesReadForDamage { 0 };

} // namespace

int UserDefaultsTesting::storedValuesReadForDamage() { return valuesReadForDamage.load(); }

StoreDatabase::StoreDatabase(const QString& suiteName)
    : m_suiteName(suiteName)
{
}

StoreDatabase::~StoreDatabase()
{
    if (m_db)
        sqlite3_close(m_db);
    if (m_readDb)
        sqlite3_close(m_readDb);
    if (m_lockFd >= 0)
        ::close(m_lockFd);
}

int StoreDatabase::exec(const char* sql)
{
    return sqlite3_exec(m_db, sql, nullptr, nullptr, nullptr);
}
bool StoreDatabase::openLockFile()
{
    if (m_lockFd >= 0)
        return true;
    m_lockFd = ::open(
        QFile::encodeName(m_file + u".lock"_s).constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    return m_lockFd >= 0;
}

bool StoreDatabase::takeLock(const QDeadlineTimer& deadline)
{
    if (m_lockDepth > 0 || m_file.isEmpty()) {
        ++m_lockDepth;
        return true;
    }
    if (!openLockFile() || !takeWriteLock(m_lockFd, deadline))
        return false;
    ++m_lockDepth;
    return true;
}

void StoreDatabase::releaseLock()
{
    if (--m_lockDepth == 0 && m_lockFd >= 0)
        lockByte(m_lockFd, writeByte, F_UNLCK);
}

bool StoreDatabase::write(const QString& key, const std::optional<QByteArray>& bytes, Written how)
{
    const QByteArray k = key.toUtf8();
    // SQLite builds the new row as a copy of the value; an upsert would make two more (the row it
    // tried to insert and `excluded.value`), which for a stored list of stories is tens of
    // megabytes. An update, and an insert only when no row was there, holds the one.
    const auto run = [&](const char* sql, bool withValue, bool* changed) {
        sqlite3_stmt* stmt = nullptr;
        int rc = sqlite3_prepare_v2(m_db, sql, -1, &stmt, nullptr);
        if (rc == SQLITE_OK) {
            sqlite3_bind_text(stmt, 1, k.constData(), int(k.size()), SQLITE_STATIC);
            // The bytes outlive the statement: no copy of a large value.
            if (withValue)
                sqlite3_bind_blob(stmt, 2, bytes->constData(), int(bytes->size()), SQLITE_STATIC);
            rc = sqlite3_step(stmt);
        }
        sqlite3_finalize(stmt);
        if (rc != SQLITE_DONE) {
            qCWarning(lcUserDefaults)
                << "write to suite" << m_suiteName << "failed:" << sqlite3_errstr(rc);
            return false;
        }
        *changed = sqlite3_changes(m_db) > 0;
        return true;
    };
    bool changed = false;
    if (!bytes) {
        if (!run("DELETE FROM defaults WHERE key = ?1", false, &changed))
            return false;
    } else if (!run("UPDATE defaults SET value = ?2 WHERE key = ?1", true, &changed)) {
        return false;
    } else if (!changed
        && !run("INSERT INTO defaults (key, value) VALUES (?1, ?2)", true, &changed)) {
        return false;
    }
    if (!changed)
        return true;
    if (!bytes)
        m_pendingSoundWrites.erase(key);
    else if (const qint64 count = writesOf(m_db, key); count > 0)
        m_pendingSoundWrites[key] = { count, bytes->size() };
    if (how == Written::Whole) {
        ++m_pendingOwnWrites[key];
        return true;
    }
    sqlite3_stmt* stmt = nullptr;
    if (sqlite3_prepare_v2(m_db,
            "INSERT INTO key_updates (key, count) VALUES (?1, 1) "
            "ON CONFLICT (key) DO UPDATE SET count = count + 1",
            -1, &stmt, nullptr)
        != SQLITE_OK)
        return false;
    sqlite3_bind_text(stmt, 1, k.constData(), int(k.size()), SQLITE_TRANSIENT);
    const bool counted = sqlite3_step(stmt) == SQLITE_DONE;
    sqlite3_finalize(stmt);
    return counted;
}

qint64 StoreDatabase::writesOf(sqlite3* on, const QString& key)
{
    sqlite3_stmt* stmt = nullptr;
    // No table yet: nobody has counted a write.
    if (!on
        || sqlite3_prepare_v2(on, "SELECT count FROM key_writes WHERE key = ?1", -1, &stmt, nullptr)
            != SQLITE_OK)
        return 0;
    const QByteArray k = key.toUtf8();
    sqlite3_bind_text(stmt, 1, k.constData(), int(k.size()), SQLITE_TRANSIENT);
    const qint64 count = sqlite3_step(stmt) == SQLITE_ROW ? sqlite3_column_int64(stmt, 0) : 0;
    sqlite3_finalize(stmt);
    return count;
}

qint64 StoreDatabase::wholeWritesOf(sqlite3* on, const QString& key)
{
    sqlite3_stmt* stmt = nullptr;
    // No table of updates yet: every counted write was whole.
    if (!on
        || sqlite3_prepare_v2(on,
               "SELECT (SELECT count FROM key_writes WHERE key = ?1), "
               "(SELECT count FROM key_updates WHERE key = ?1)",
               -1, &stmt, nullptr)
            != SQLITE_OK)
        return writesOf(on, key);
    const QByteArray k = key.toUtf8();
    sqlite3_bind_text(stmt, 1, k.constData(), int(k.size()), SQLITE_TRANSIENT);
    qint64 count = 0;
    if (sqlite3_step(stmt) == SQLITE_ROW)
        count = sqlite3_column_int64(stmt, 0) - sqlite3_column_int64(stmt, 1);
    sqlite3_finalize(stmt);
    return count;
}

void StoreDatabase::makeKeyWrites()
{
    if (m_keyWritesReady)
        return;
    // Triggers, so that a build that knows nothing of the count counts too; the table of values
    // stays as it was, for older builds to read.
    const auto counting = [](const char* event, const char* row) {
        // No conflict clause: inside a trigger the one of the statement that fired it rules.
        const QByteArray key = QByteArray(row) + ".key";
        return QByteArray("CREATE TRIGGER IF NOT EXISTS key_written_") + event + " AFTER " + event
            + " ON defaults BEGIN UPDATE key_writes SET count = count + 1 WHERE key = " + key
            + "; INSERT INTO key_writes (key, count) SELECT " + key
            + ", 1 WHERE NOT EXISTS (SELECT 1 FROM key_writes WHERE key = " + key + "); END";
    };
    m_keyWritesReady = exec("CREATE TABLE IF NOT EXISTS key_writes (key TEXT PRIMARY KEY NOT NULL, "
                            "count INTEGER NOT NULL) WITHOUT ROWID")
            == SQLITE_OK
        && exec(counting("INSERT", "new").constData()) == SQLITE_OK
        && exec(counting("UPDATE", "new").constData()) == SQLITE_OK
        && exec(counting("DELETE", "old").constData()) == SQLITE_OK
        && exec("CREATE TABLE IF NOT EXISTS key_updates (key TEXT PRIMARY KEY NOT NULL, "
                "count INTEGER NOT NULL) WITHOUT ROWID")
            == SQLITE_OK;
}

void StoreDatabase::refuseTooLarge(const QString& key, qint64 length, qint64 bound)
{
    qCWarning(lcUserDefaults,
        "the stored value of %s is %lld bytes, past the %lld a value is "
        "read up to; it reads as nothing",
        qUtf8Printable(key), static_cast<long long>(length), static_cast<long long>(bound));
}

bool StoreDatabase::putAside(
    const QString& key, const char* sql, const std::function<void(sqlite3_stmt*)>& bind)
{
    if (exec("CREATE TABLE IF NOT EXISTS kept_aside (key TEXT NOT NULL, value BLOB NOT NULL, "
             "kept_at TEXT NOT NULL DEFAULT CURRENT_TIMESTAMP)")
        != SQLITE_OK)
        return false;
    sqlite3_stmt* stmt = nullptr;
    if (sqlite3_prepare_v2(m_db, sql, -1, &stmt, nullptr) != SQLITE_OK)
        return false;
    const QByteArray k = key.toUtf8();
    sqlite3_bind_text(stmt, 1, k.constData(), int(k.size()), SQLITE_TRANSIENT);
    bind(stmt);
    const int rc = sqlite3_step(stmt);
    sqlite3_finalize(stmt);
    if (rc != SQLITE_DONE)
        return false;
    qCWarning(lcUserDefaults)
        << "the stored value of" << key << "in suite" << m_suiteName
        << "cannot be read; kept aside in table kept_aside before it is written over";
    return true;
}

bool StoreDatabase::insertKeptAside(const QString& key, const QByteArray& bytes)
{
    return putAside(
        key, "INSERT INTO kept_aside (key, value) VALUES (?1, ?2)", [&](sqlite3_stmt* stmt) {
            sqlite3_bind_blob(stmt, 2, bytes.constData(), int(bytes.size()), SQLITE_TRANSIENT);
        });
}

bool StoreDatabase::keepStoredAside(const QString& key)
{
    return putAside(key,
        "INSERT INTO kept_aside (key, value) SELECT key, value FROM defaults WHERE key = ?1",
        [](sqlite3_stmt*) {});
}

std::optional<QVariant> StoreDatabase::readForChange(const QString& key, bool* keptOk)
{
    // Read in place: data (a stored list) is copied once, out of SQLite into the value, rather
    // than copied whole and then decoded into a second copy.
    bool tooLarge = false;
    std::optional<QByteArray> damaged;
    auto decoded = withStored(
        m_db, key,
        [&damaged](QByteArrayView stored) -> std::optional<QVariant> {
            if (const auto content = Cbor::oneByteString(stored))
                return QVariant(content->toByteArray());
            QByteArray bytes = stored.toByteArray();
            auto value = decodeValue(bytes);
            if (!value)
                damaged = std::move(bytes);
            return value;
        },
        &tooLarge);
    if (tooLarge)
        *keptOk = keepStoredAside(key);
    if (!decoded)
        return std::nullopt;
    if (damaged)
        *keptOk = insertKeptAside(key, *damaged);
    return std::move(*decoded);
}

bool StoreDatabase::keepAsideIfDamaged(const QString& key)
{
    // Unless another writer wrote the key since this process did, what it holds is what this
    // process wrote: a stored list of stories is not read whole only to find it sound.
    if (m_soundIn == m_openedId) {
        const auto own = m_soundWrites.find(key);
        if (own != m_soundWrites.end() && own->second.length <= StoreProcess::storedValueReadBound()
            && writesOf(m_db, key) == own->second.count)
            return true;
    }
    ++valuesReadForDamage;
    bool tooLarge = false;
    const auto damaged = withStored(
        m_db, key,
        [](QByteArrayView stored) -> std::optional<QByteArray> {
            if (Cbor::isOneByteString(stored))
                return std::nullopt;
            QByteArray bytes = stored.toByteArray();
            if (decodeValue(bytes))
                return std::nullopt;
            return bytes;
        },
        &tooLarge);
    if (tooLarge)
        return keepStoredAside(key);
    return !damaged || !*damaged || insertKeptAside(key, **damaged);
}

bool StoreDatabase::applyValues(const Rows& values)
{
    return transaction([&] {
        for (const auto& [key, bytes] : values) {
            if (!keepAsideIfDamaged(key) || !write(key, bytes))
                return false;
        }
        return true;
    });
}

bool StoreDatabase::applyUpdate(const QString& key, const UserDefaults::Updater& fn)
{
    return transaction([&] {
        bool keptOk = true;
        const std::optional<QVariant> current = readForChange(key, &keptOk);
        if (!keptOk)
            return false;
        const std::optional<QVariant> next = fn(current);
        if (!next)
            return true;
        if (!next->isValid())
            return write(key, std::nullopt, Written::ByUpdate);
        if (auto item = toItem(*next, 0))
            return write(key, Cbor::encode(*item), Written::ByUpdate);
        qCWarning(lcUserDefaults) << "not a property-list value for" << key
                                  << next->metaType().name();
        return false;
    });
}

StoreDatabase::Begun StoreDatabase::begin(
    const QDeadlineTimer& deadline, Writer who, const std::function<bool()>& mayCarryKept)
{
    const bool exiting = who == Writer::Exiting;
    const auto stop = [&] { return !exiting && StoreProcess::quitting(); };
    // Our own other threads first, in slices, so that quitting ends the wait.
    for (;;) {
        const qint64 left = deadline.remainingTime();
        if (m_mutex.try_lock_for(
                std::chrono::milliseconds(std::min<qint64>(std::max<qint64>(left, 0), 5))))
            break;
        if (deadline.hasExpired() || stop())
            return Begun::Busy;
    }
    m_writer = std::this_thread::get_id();
    const auto giveBack = [&](Begun why) {
        m_writer = std::thread::id();
        m_mutex.unlock();
        return why;
    };
    if (!m_db && m_file.isEmpty())
        return giveBack(Begun::Failed);
    if (!m_file.isEmpty()) {
        const auto pause = [&](std::chrono::microseconds wait) {
            QThread::usleep(wait.count());
            return !stop();
        };
        // The exit writer has no later chance: it claims the turn at once.
        if (!openLockFile() || !takeWriteLock(m_lockFd, deadline, pause, exiting ? 0 : turnAfterMs))
            return giveBack(Begun::Busy);
    }
    ++m_lockDepth;
    followReplacedFile();
    if (!m_db) {
        releaseLock();
        return giveBack(Begun::Failed);
    }
    // Another SQLite client may hold the file itself: its wait counts against the same deadline.
    m_busyDeadline = deadline;
    m_busyHonoursQuit = !exiting;
    // A transaction that may write kept changes commits with full synchronisation: their journals
    // go once it committed, and a commit of WAL mode at NORMAL may be lost at a power cut. SQLite
    // takes the level only between transactions.
    m_durable = !m_file.isEmpty() && mayCarryKept() && exec("PRAGMA synchronous=FULL") == SQLITE_OK;
    const int rc = exec("BEGIN IMMEDIATE");
    m_busyDeadline = QDeadlineTimer(sqliteBusyTimeoutMs);
    if (rc != SQLITE_OK) {
        endDurable();
        releaseLock();
        const int code = rc & 0xff;
        return giveBack(code == SQLITE_BUSY || code == SQLITE_LOCKED ? Begun::Busy : Begun::Failed);
    }
    m_pendingOwnWrites.clear();
    makeKeyWrites();
    return Begun::Ok;
}

void StoreDatabase::endDurable()
{
    if (std::exchange(m_durable, false))
        exec("PRAGMA synchronous=NORMAL");
}

bool StoreDatabase::finish()
{
    // A write undone with its savepoint took its count back with it: only what still stands.
    std::map<QString, SoundWrite> sound;
    for (const auto& [key, write] : m_pendingSoundWrites) {
        if (writesOf(m_db, key) == write.count)
            sound.emplace(key, write);
    }
    m_pendingSoundWrites.clear();
    const bool committed = exec("COMMIT") == SQLITE_OK;
    if (!committed)
        exec("ROLLBACK");
    else if (!m_pendingOwnWrites.empty()) {
        std::lock_guard lock(m_ownWritesMutex);
        for (const auto& [key, n] : m_pendingOwnWrites)
            m_ownWrites[key] += n;
    }
    if (committed && !sound.empty()) {
        if (m_soundIn != m_openedId) {
            m_soundWrites.clear();
            m_soundIn = m_openedId;
        }
        sound.merge(m_soundWrites);
        m_soundWrites = std::move(sound);
    }
    m_pendingOwnWrites.clear();
    endDurable();
    releaseLock();
    m_writer = std::thread::id();
    m_mutex.unlock();
    return committed;
}

qint64 StoreDatabase::ownWholeWrites(const QString& key)
{
    std::lock_guard lock(m_ownWritesMutex);
    const auto it = m_ownWrites.find(key);
    return it == m_ownWrites.end() ? 0 : it->second;
}

qint64 StoreDatabase::ownWholeWritesSoFar(const QString& key)
{
    const auto pending = m_pendingOwnWrites.find(key);
    return ownWholeWrites(key) + (pending == m_pendingOwnWrites.end() ? 0 : pending->second);
}

} // namespace Tickerly::Foundation
