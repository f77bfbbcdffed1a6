// What coordinates a suite's connection: the turns of the writers, the stored rows, and a change
// that runs now or is kept.

#include "platform/foundation/store/UserDefaultsConnection_p.h"

#include "platform/foundation/serialization/Cbor_p.h"
#include "platform/foundation/base/GroupContainer.h"
#include "platform/foundation/base/MainQueue.h"
#include "platform/foundation/serialization/PropertyListCoding_p.h"
#include "platform/foundation/store/UserDefaultsTesting.h"

#include <QFile>
#include <QStringList>
#include <QThread>

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <mutex>
#include <utility>

namespace Tickerly::Foundation {

using namespace Qt::Literals::StringLiterals;

Q_LOGGING_CATEGORY(lcUserDefaults, "tickerly.userdefaults")

std::atomic<qint64> writeWaitLimitMs { 30000 };
std::atomic<bool> storesQuitting { false };
std::atomic<bool> storesEnded { false };
std::atomic<qint64> storedValueReadBound { Cbor::maxInputSize };

namespace {

// The longest the main thread waits for a lock before keeping a change.
constexpr qint64 mainThreadWaitMs = 30;

std::mutex lockWaitsMutex;
UserDefaultsTesting::LockWaits lockWaitsSeen;
std::atomic<int> valuesReadForDamage { 0 };

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

int UserDefaultsTesting::storedValuesReadForDamage() { return valuesReadForDamage.load(); }

UserDefaults::Connection::~Connection()
{
    // Nothing runs here: what a kept change uses may be gone this late. The programs write them
    // when they quit (UserDefaults::writeKeptChangesBeforeExit).
    giveUpKept("the process ended first", Tell::Nobody);
    {
        std::lock_guard lock(journalMutex);
        closeJournal(false);
    }
    if (db)
        sqlite3_close(db);
    if (readDb)
        sqlite3_close(readDb);
    if (lockFd >= 0)
        ::close(lockFd);
}

int UserDefaults::Connection::exec(const char* sql)
{
    return sqlite3_exec(db, sql, nullptr, nullptr, nullptr);
}
bool UserDefaults::Connection::openLockFile()
{
    if (lockFd >= 0)
        return true;
    lockFd = ::open(
        QFile::encodeName(file + u".lock"_s).constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    return lockFd >= 0;
}

bool UserDefaults::Connection::takeLock(const QDeadlineTimer& deadline)
{
    if (lockDepth > 0 || file.isEmpty()) {
        ++lockDepth;
        return true;
    }
    if (!openLockFile() || !takeWriteLock(lockFd, deadline))
        return false;
    ++lockDepth;
    return true;
}

void UserDefaults::Connection::releaseLock()
{
    if (--lockDepth == 0 && lockFd >= 0)
        lockByte(lockFd, writeByte, F_UNLCK);
}

std::optional<QByteArray> UserDefaults::Connection::read(const QString& key, bool* tooLarge)
{
    return withStored(
        db, key, [](QByteArrayView stored) { return stored.toByteArray(); }, tooLarge);
}

bool UserDefaults::Connection::write(
    const QString& key, const std::optional<QByteArray>& bytes, Written how)
{
    const QByteArray k = key.toUtf8();
    // SQLite builds the new row as a copy of the value; an upsert would make two more (the row it
    // tried to insert and `excluded.value`), which for a stored list of stories is tens of
    // megabytes. An update, and an insert only when no row was there, holds the one.
    const auto run = [&](const char* sql, bool withValue, bool* changed) {
        sqlite3_stmt* stmt = nullptr;
        int rc = sqlite3_prepare_v2(db, sql, -1, &stmt, nullptr);
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
                << "write to suite" << suiteName << "failed:" << sqlite3_errstr(rc);
            return false;
        }
        *changed = sqlite3_changes(db) > 0;
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
        pendingSoundWrites.erase(key);
    else if (const qint64 count = writesOf(db, key); count > 0)
        pendingSoundWrites[key] = { count, bytes->size() };
    if (how == Written::Whole) {
        ++pendingOwnWrites[key];
        return true;
    }
    sqlite3_stmt* stmt = nullptr;
    if (sqlite3_prepare_v2(db,
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

qint64 UserDefaults::Connection::writesOf(sqlite3* on, const QString& key)
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

qint64 UserDefaults::Connection::wholeWritesOf(sqlite3* on, const QString& key)
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

void UserDefaults::Connection::makeKeyWrites()
{
    if (keyWritesReady)
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
    keyWritesReady = exec("CREATE TABLE IF NOT EXISTS key_writes (key TEXT PRIMARY KEY NOT NULL, "
                          "count INTEGER NOT NULL) WITHOUT ROWID")
            == SQLITE_OK
        && exec(counting("INSERT", "new").constData()) == SQLITE_OK
        && exec(counting("UPDATE", "new").constData()) == SQLITE_OK
        && exec(counting("DELETE", "old").constData()) == SQLITE_OK
        && exec("CREATE TABLE IF NOT EXISTS key_updates (key TEXT PRIMARY KEY NOT NULL, "
                "count INTEGER NOT NULL) WITHOUT ROWID")
            == SQLITE_OK;
}

void UserDefaults::Connection::refuseTooLarge(const QString& key, qint64 length, qint64 bound)
{
    qCWarning(lcUserDefaults,
        "the stored value of %s is %lld bytes, past the %lld a value is "
        "read up to; it reads as nothing",
        qUtf8Printable(key), static_cast<long long>(length), static_cast<long long>(bound));
}

bool UserDefaults::Connection::putAside(
    const QString& key, const char* sql, const std::function<void(sqlite3_stmt*)>& bind)
{
    if (exec("CREATE TABLE IF NOT EXISTS kept_aside (key TEXT NOT NULL, value BLOB NOT NULL, "
             "kept_at TEXT NOT NULL DEFAULT CURRENT_TIMESTAMP)")
        != SQLITE_OK)
        return false;
    sqlite3_stmt* stmt = nullptr;
    if (sqlite3_prepare_v2(db, sql, -1, &stmt, nullptr) != SQLITE_OK)
        return false;
    const QByteArray k = key.toUtf8();
    sqlite3_bind_text(stmt, 1, k.constData(), int(k.size()), SQLITE_TRANSIENT);
    bind(stmt);
    const int rc = sqlite3_step(stmt);
    sqlite3_finalize(stmt);
    if (rc != SQLITE_DONE)
        return false;
    qCWarning(lcUserDefaults)
        << "the stored value of" << key << "in suite" << suiteName
        << "cannot be read; kept aside in table kept_aside before it is written over";
    return true;
}

bool UserDefaults::Connection::insertKeptAside(const QString& key, const QByteArray& bytes)
{
    return putAside(
        key, "INSERT INTO kept_aside (key, value) VALUES (?1, ?2)", [&](sqlite3_stmt* stmt) {
            sqlite3_bind_blob(stmt, 2, bytes.constData(), int(bytes.size()), SQLITE_TRANSIENT);
        });
}

bool UserDefaults::Connection::keepStoredAside(const QString& key)
{
    return putAside(key,
        "INSERT INTO kept_aside (key, value) SELECT key, value FROM defaults WHERE key = ?1",
        [](sqlite3_stmt*) {});
}

std::optional<QVariant> UserDefaults::Connection::readForChange(const QString& key, bool* keptOk)
{
    // Read in place: data (a stored list) is copied once, out of SQLite into the value, rather
    // than copied whole and then decoded into a second copy.
    bool tooLarge = false;
    std::optional<QByteArray> damaged;
    auto decoded = withStored(
        db, key,
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

bool UserDefaults::Connection::keepAsideIfDamaged(const QString& key)
{
    // Unless another writer wrote the key since this process did, what it holds is what this
    // process wrote: a stored list of stories is not read whole only to find it sound.
    if (soundIn == openedId) {
        const auto own = soundWrites.find(key);
        if (own != soundWrites.end() && own->second.length <= storedValueReadBound.load()
            && writesOf(db, key) == own->second.count)
            return true;
    }
    ++valuesReadForDamage;
    bool tooLarge = false;
    const auto damaged = withStored(
        db, key,
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

bool UserDefaults::Connection::applyValues(const Rows& values)
{
    return transaction([&] {
        for (const auto& [key, bytes] : values) {
            if (!keepAsideIfDamaged(key) || !write(key, bytes))
                return false;
        }
        return true;
    });
}

bool UserDefaults::Connection::applyUpdate(const QString& key, const Updater& fn)
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

bool UserDefaults::Connection::apply(const Change& change)
{
    if (change.other)
        return change.other(*this);
    if (change.update)
        return applyUpdate(change.key, change.update);
    if (change.formUpdate) {
        return applyUpdate(change.key, [&](const std::optional<QVariant>& current) {
            std::any held = change.form->decode(current);
            if (!change.formUpdate(held))
                return std::optional<QVariant>();
            return std::optional<QVariant>(change.form->encode(held));
        });
    }
    return applyValues(change.values);
}

namespace {

// How long a change may wait in all (our lock, SQLite's) before it is kept or fails. A backlog
// changes nothing: the lock that held it up may be free by now, or the wait of another writer's
// turn, and each change is worth the same wait.
std::chrono::milliseconds waitFor()
{
    if (storesQuitting.load())
        return std::chrono::milliseconds(0);
    const qint64 limit = writeWaitLimitMs.load();
    // The main thread answers the person, whatever the caller: a frame or two at most.
    return std::chrono::milliseconds(
        MainQueue::isCurrent() ? std::min(limit, mainThreadWaitMs) : limit);
}

} // namespace

UserDefaults::Connection::Begun UserDefaults::Connection::begin(
    const QDeadlineTimer& deadline, Writer who)
{
    const bool exiting = who == Writer::Exiting;
    const auto stop = [&] { return !exiting && storesQuitting.load(); };
    // Our own other threads first, in slices, so that quitting ends the wait.
    for (;;) {
        const qint64 left = deadline.remainingTime();
        if (mutex.try_lock_for(
                std::chrono::milliseconds(std::min<qint64>(std::max<qint64>(left, 0), 5))))
            break;
        if (deadline.hasExpired() || stop())
            return Begun::Busy;
    }
    writer = std::this_thread::get_id();
    const auto giveBack = [&](Begun why) {
        writer = std::thread::id();
        mutex.unlock();
        return why;
    };
    if (!db && file.isEmpty())
        return giveBack(Begun::Failed);
    if (!file.isEmpty()) {
        const auto pause = [&](std::chrono::microseconds wait) {
            QThread::usleep(wait.count());
            return !stop();
        };
        // The exit writer has no later chance: it claims the turn at once.
        if (!openLockFile() || !takeWriteLock(lockFd, deadline, pause, exiting ? 0 : turnAfterMs))
            return giveBack(Begun::Busy);
    }
    ++lockDepth;
    followReplacedFile();
    if (!db) {
        releaseLock();
        return giveBack(Begun::Failed);
    }
    // Another SQLite client may hold the file itself: its wait counts against the same deadline.
    busyDeadline = deadline;
    busyHonoursQuit = !exiting;
    // A transaction that may write kept changes commits with full synchronisation: their journals
    // go once it committed, and a commit of WAL mode at NORMAL may be lost at a power cut. SQLite
    // takes the level only between transactions.
    durable = !file.isEmpty() && (keptCount() > 0 || journalsToLookAt())
        && exec("PRAGMA synchronous=FULL") == SQLITE_OK;
    const int rc = exec("BEGIN IMMEDIATE");
    busyDeadline = QDeadlineTimer(sqliteBusyTimeoutMs);
    if (rc != SQLITE_OK) {
        endDurable();
        releaseLock();
        const int code = rc & 0xff;
        return giveBack(code == SQLITE_BUSY || code == SQLITE_LOCKED ? Begun::Busy : Begun::Failed);
    }
    pendingOwnWrites.clear();
    makeKeyWrites();
    return Begun::Ok;
}

void UserDefaults::Connection::endDurable()
{
    if (std::exchange(durable, false))
        exec("PRAGMA synchronous=NORMAL");
}

bool UserDefaults::Connection::finish(bool commit)
{
    // A write undone with its savepoint took its count back with it: only what still stands.
    std::map<QString, SoundWrite> sound;
    if (commit) {
        for (const auto& [key, write] : pendingSoundWrites) {
            if (writesOf(db, key) == write.count)
                sound.emplace(key, write);
        }
    }
    pendingSoundWrites.clear();
    const bool committed = commit && exec("COMMIT") == SQLITE_OK;
    if (!committed)
        exec("ROLLBACK");
    else if (!pendingOwnWrites.empty()) {
        std::lock_guard lock(keptMutex);
        for (const auto& [key, n] : pendingOwnWrites)
            ownWrites[key] += n;
    }
    if (committed && !sound.empty()) {
        if (soundIn != openedId) {
            soundWrites.clear();
            soundIn = openedId;
        }
        sound.merge(soundWrites);
        soundWrites = std::move(sound);
    }
    pendingOwnWrites.clear();
    endDurable();
    releaseLock();
    writer = std::thread::id();
    mutex.unlock();
    return committed;
}

UserDefaults::Outcome UserDefaults::Connection::change(Change c, WhenBusy whenBusy)
{
    if (readOnly) {
        qCWarning(lcUserDefaults) << "suite" << suiteName
                                  << "can only be read; a change was refused";
        return Outcome::Failed;
    }
    // Inside an update's function: part of its transaction; an update there would read what
    // the outer one is about to write over.
    if (writer.load() == std::this_thread::get_id()) {
        std::lock_guard lock(mutex);
        return db && !c.update && !c.formUpdate && apply(c) ? Outcome::Done : Outcome::Failed;
    }
    const auto allowed = waitFor();
    switch (begin(QDeadlineTimer(allowed.count()))) {
    case Begun::Failed:
        return Outcome::Failed;
    case Begun::Busy:
        countLockWait(allowed);
        // After the exit writer nothing would write what is kept.
        if (whenBusy == WhenBusy::Keep && !storesEnded.load())
            return this->keep(std::move(c));
        qCWarning(lcUserDefaults) << "suite" << suiteName
                                  << "stayed locked by another process; a change was not made";
        return Outcome::Failed;
    case Begun::Ok:
        break;
    }
    Landing landing;
    writeKept(landing);
    const bool ok = apply(c);
    // A change that failed alone is undone alone; what was kept before it still commits.
    const bool committed = finish(true);
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
