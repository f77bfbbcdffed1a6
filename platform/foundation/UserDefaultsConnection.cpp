#include "platform/foundation/UserDefaultsConnection_p.h"

#include "platform/foundation/Cbor_p.h"
#include "platform/foundation/GroupContainer.h"
#include "platform/foundation/MainQueue.h"
#include "platform/foundation/PropertyListCoding_p.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringList>
#include <QThread>
#include <QUrl>

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <map>

using namespace Qt::Literals::StringLiterals;

Q_LOGGING_CATEGORY(lcUserDefaults, "tickerly.userdefaults")

std::atomic<qint64> writeWaitLimitMs { 30000 };

namespace {

// How long SQLite itself waits for a lock (opening, and any writer that skips the lock file).
constexpr int busyTimeoutMs = 10000;
// The write-ahead log is cut back to this after each checkpoint.
constexpr const char* journalSizeLimitPragma = "PRAGMA journal_size_limit=4194304";
// How often a kept change is tried again on the main queue, in seconds.
constexpr double retryInterval = 0.25;
// The longest the main thread waits for another process's write lock before keeping a change.
constexpr qint64 mainThreadWaitMs = 30;

OpenResult classify(int rc)
{
    switch (rc & 0xff) {
    case SQLITE_NOTADB:
    case SQLITE_CORRUPT:
        return OpenResult::Damaged;
    // The other program is creating or converting the file at this moment.
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
        return OpenResult::Busy;
    default:
        return OpenResult::Failed;
    }
}

} // namespace

UserDefaults::Connection::~Connection()
{
    // Nothing runs here: what a kept change uses may be gone this late. The programs write them
    // when they quit (UserDefaults::writeKeptChangesBeforeExit).
    if (!kept.empty()) {
        QStringList keys;
        for (const Kept& each : kept)
            keys.append(each.keys);
        qCCritical(lcUserDefaults).noquote() << kept.size() << "changes to suite" << suiteName
                                             << u"were never written ("_s + keys.join(u", "_s) + u")"_s;
    }
    if (db)
        sqlite3_close(db);
    if (lockFd >= 0)
        ::close(lockFd);
}

int UserDefaults::Connection::exec(const char* sql)
{
    return sqlite3_exec(db, sql, nullptr, nullptr, nullptr);
}

OpenResult UserDefaults::Connection::open(const QString& path)
{
    if (db)
        sqlite3_close(db);
    db = nullptr;
    readOnly = false;
    const QByteArray name = path.toUtf8();
    // Made here so that it is the owner's alone: SQLite would follow the umask, and its journal
    // files take the database's mode.
    if (path != u":memory:"_s) {
        if (const int fd = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
            fd >= 0)
            ::close(fd);
    }
    int rc = sqlite3_open_v2(name.constData(), &db,
                             SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX, nullptr);
    if (rc != SQLITE_OK)
        return close(rc);
    sqlite3_busy_timeout(db, busyTimeoutMs);
    if (path != u":memory:"_s) {
        openedId = fileId(path);
        if ((rc = exec("PRAGMA journal_mode=WAL")) != SQLITE_OK)
            return close(rc);
        // Durable across a crash of either program; only a power cut may lose the last commit.
        if ((rc = exec("PRAGMA synchronous=NORMAL")) != SQLITE_OK)
            return close(rc);
        if ((rc = exec(journalSizeLimitPragma)) != SQLITE_OK)
            return close(rc);
    }
    rc = exec("CREATE TABLE IF NOT EXISTS defaults (key TEXT PRIMARY KEY NOT NULL, value BLOB NOT NULL) WITHOUT ROWID");
    if (rc != SQLITE_OK)
        return close(rc);
    if ((rc = quickCheck()) != SQLITE_OK)
        return close(rc);
    // A file that cannot be written is opened for reading by SQLite on its own.
    readOnly = sqlite3_db_readonly(db, "main") == 1;
    return OpenResult::Ok;
}

OpenResult UserDefaults::Connection::openReadOnly(const QString& path)
{
    for (const bool immutable : { false, true }) {
        QUrl uri = QUrl::fromLocalFile(path);
        if (immutable)
            uri.setQuery(u"immutable=1"_s);
        const QByteArray name = uri.toEncoded();
        int rc = sqlite3_open_v2(name.constData(), &db, SQLITE_OPEN_READONLY | SQLITE_OPEN_URI | SQLITE_OPEN_NOMUTEX,
                                 nullptr);
        if (rc == SQLITE_OK) {
            sqlite3_busy_timeout(db, busyTimeoutMs);
            rc = quickCheck();
        }
        if (rc == SQLITE_OK) {
            openedId = fileId(path);
            readOnly = true;
            return OpenResult::Ok;
        }
        close(rc);
    }
    return classify(lastError);
}

int UserDefaults::Connection::quickCheck()
{
    sqlite3_stmt* stmt = nullptr;
    int rc = sqlite3_prepare_v2(db, "PRAGMA quick_check(1)", -1, &stmt, nullptr);
    if (rc != SQLITE_OK)
        return rc;
    rc = sqlite3_step(stmt);
    if (rc == SQLITE_ROW)
        rc = QByteArray(reinterpret_cast<const char*>(sqlite3_column_text(stmt, 0))) == "ok" ? SQLITE_OK : SQLITE_CORRUPT;
    sqlite3_finalize(stmt);
    return rc;
}

OpenResult UserDefaults::Connection::close(int rc)
{
    if (db)
        sqlite3_close(db);
    db = nullptr;
    lastError = rc;
    return classify(rc);
}

void UserDefaults::Connection::followReplacedFile()
{
    if (file.isEmpty() || (db && fileId(file) == openedId))
        return;
    const bool wasOpen = db != nullptr;
    if (wasOpen) {
        qCInfo(lcUserDefaults) << "suite" << suiteName << "was replaced by another process; reopened";
        // Closing must neither fold the old log into the moved file's name nor delete the log
        // by name: that name is the new file's log now.
        int on = 1;
        sqlite3_file_control(db, "main", SQLITE_FCNTL_PERSIST_WAL, &on);
        sqlite3_db_config(db, SQLITE_DBCONFIG_NO_CKPT_ON_CLOSE, 1, nullptr);
    }
    if (open(file) != OpenResult::Ok && !db && wasOpen)
        qCWarning(lcUserDefaults) << "suite" << suiteName << "cannot be reopened:" << sqlite3_errstr(lastError);
}

bool UserDefaults::Connection::openLockFile()
{
    if (lockFd >= 0)
        return true;
    lockFd = ::open(QFile::encodeName(file + u".lock"_s).constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    return lockFd >= 0;
}

bool UserDefaults::Connection::takeLock(const QDeadlineTimer& deadline, bool unlockWhileWaiting)
{
    if (lockDepth > 0 || file.isEmpty()) {
        ++lockDepth;
        return true;
    }
    // A thread waiting for another process must not keep the other threads (the main one
    // above all) from reading, or from keeping their own changes.
    const auto pause = [this](std::chrono::microseconds wait) {
        mutex.unlock();
        QThread::usleep(wait.count());
        mutex.lock();
    };
    if (!openLockFile()
        || !takeWriteLock(lockFd, deadline, unlockWhileWaiting ? std::function(pause) : nullptr))
        return false;
    ++lockDepth;
    return true;
}

void UserDefaults::Connection::releaseLock()
{
    if (--lockDepth == 0 && lockFd >= 0)
        lockByte(lockFd, writeByte, F_UNLCK);
}

std::optional<QByteArray> UserDefaults::Connection::read(const QString& key)
{
    return withStored(key, [](QByteArrayView stored) { return stored.toByteArray(); });
}

bool UserDefaults::Connection::write(const QString& key, const std::optional<QByteArray>& bytes)
{
    const char* sql = bytes ? "INSERT INTO defaults (key, value) VALUES (?1, ?2) "
                              "ON CONFLICT (key) DO UPDATE SET value = excluded.value"
                            : "DELETE FROM defaults WHERE key = ?1";
    sqlite3_stmt* stmt = nullptr;
    if (sqlite3_prepare_v2(db, sql, -1, &stmt, nullptr) != SQLITE_OK)
        return false;
    const QByteArray k = key.toUtf8();
    sqlite3_bind_text(stmt, 1, k.constData(), int(k.size()), SQLITE_TRANSIENT);
    // The bytes outlive the statement: no copy of a large value.
    if (bytes)
        sqlite3_bind_blob(stmt, 2, bytes->constData(), int(bytes->size()), SQLITE_STATIC);
    const int rc = sqlite3_step(stmt);
    sqlite3_finalize(stmt);
    if (rc != SQLITE_DONE) {
        qCWarning(lcUserDefaults) << "write to suite" << suiteName << "failed:" << sqlite3_errstr(rc);
        return false;
    }
    return true;
}

bool UserDefaults::Connection::insertKeptAside(const QString& key, const QByteArray& bytes)
{
    if (exec("CREATE TABLE IF NOT EXISTS kept_aside (key TEXT NOT NULL, value BLOB NOT NULL, "
             "kept_at TEXT NOT NULL DEFAULT CURRENT_TIMESTAMP)") != SQLITE_OK)
        return false;
    sqlite3_stmt* stmt = nullptr;
    if (sqlite3_prepare_v2(db, "INSERT INTO kept_aside (key, value) VALUES (?1, ?2)", -1, &stmt, nullptr) != SQLITE_OK)
        return false;
    const QByteArray k = key.toUtf8();
    sqlite3_bind_text(stmt, 1, k.constData(), int(k.size()), SQLITE_TRANSIENT);
    sqlite3_bind_blob(stmt, 2, bytes.constData(), int(bytes.size()), SQLITE_TRANSIENT);
    const int rc = sqlite3_step(stmt);
    sqlite3_finalize(stmt);
    if (rc != SQLITE_DONE)
        return false;
    qCWarning(lcUserDefaults) << "the stored value of" << key << "in suite" << suiteName
                              << "cannot be read; kept aside in table kept_aside before it is written over";
    return true;
}

std::optional<QVariant> UserDefaults::Connection::readForChange(const QString& key, bool* keptOk)
{
    const auto bytes = read(key);
    if (!bytes)
        return std::nullopt;
    auto decoded = decodeValue(*bytes);
    if (!decoded)
        *keptOk = insertKeptAside(key, *bytes);
    return decoded;
}

bool UserDefaults::Connection::keepAsideIfDamaged(const QString& key)
{
    const auto damaged = withStored(key, [](QByteArrayView stored) -> std::optional<QByteArray> {
        if (Cbor::isOneByteString(stored))
            return std::nullopt;
        QByteArray bytes = stored.toByteArray();
        if (decodeValue(bytes))
            return std::nullopt;
        return bytes;
    });
    return !damaged || !*damaged || insertKeptAside(key, **damaged);
}

bool UserDefaults::Connection::applyValues(const std::vector<std::pair<QString, std::optional<QByteArray>>>& values)
{
    return transaction([&] {
        for (const auto& [key, bytes] : values) {
            if (!keepAsideIfDamaged(key) || !write(key, bytes))
                return false;
        }
        return true;
    }, true);
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
            return write(key, std::nullopt);
        if (auto item = toItem(*next, 0))
            return write(key, Cbor::encode(*item));
        qCWarning(lcUserDefaults) << "not a property-list value for" << key << next->metaType().name();
        return false;
    });
}

bool UserDefaults::Connection::runKept()
{
    // Without a database (a replaced file not yet reopened) they stay kept for a later try.
    while (db && !kept.empty()) {
        Kept next = std::move(kept.front());
        kept.pop_front();
        const bool ok = next.apply(*this);
        if (next.done)
            next.done(ok);
    }
    return true;
}

bool UserDefaults::Connection::retryKept(const QDeadlineTimer& deadline)
{
    if (kept.empty())
        return true;
    if ((!db && file.isEmpty()) || !takeLock(deadline, true))
        return false;
    followReplacedFile();
    runKept();
    releaseLock();
    return kept.empty();
}

void UserDefaults::Connection::scheduleRetry()
{
    if (retryScheduled || !QCoreApplication::instance())
        return;
    retryScheduled = true;
    MainQueue::dispatchAfter(retryInterval, [weak = weak_from_this()] {
        const auto self = weak.lock();
        if (!self)
            return;
        std::lock_guard lock(self->mutex);
        self->retryScheduled = false;
        // The main thread does not wait: it holds the turn, so that the lock, once free, is
        // left for it, and tries again soon.
        if (self->lockFd >= 0)
            lockByte(self->lockFd, turnByte, F_WRLCK);
        const bool written = self->retryKept(QDeadlineTimer(0));
        if (!written)
            self->scheduleRetry();
        // Held only while another process holds the lock: a file that cannot be reopened yet
        // must not keep the others from writing.
        if ((written || !self->db) && self->lockFd >= 0)
            lockByte(self->lockFd, turnByte, F_UNLCK);
    });
}

void UserDefaults::Connection::giveUpKept(const char* why)
{
    if (kept.empty())
        return;
    QStringList keys;
    for (const Kept& each : kept)
        keys.append(each.keys);
    qCCritical(lcUserDefaults).noquote() << kept.size() << "changes to suite" << suiteName << "could not be written ("
                                         << QString::fromUtf8(why) + u"): "_s + keys.join(u", "_s);
    auto givenUp = std::move(kept);
    kept.clear();
    for (Kept& each : givenUp) {
        if (each.done)
            each.done(false);
    }
}

UserDefaults::Outcome UserDefaults::Connection::change(Apply apply, bool keep, const QString& keys,
    std::function<void(bool)> done)
{
    std::lock_guard lock(mutex);
    if (!db && file.isEmpty())
        return Outcome::Failed;
    if (readOnly) {
        qCWarning(lcUserDefaults) << "suite" << suiteName << "can only be read; a change was refused";
        return Outcome::Failed;
    }
    // The main thread answers the person; a change it may keep waits a frame or two at most.
    const qint64 limit = keep && MainQueue::isCurrent() ? std::min(writeWaitLimitMs.load(), mainThreadWaitMs)
                                                        : writeWaitLimitMs.load();
    if (!takeLock(QDeadlineTimer(limit), true)) {
        if (!keep) {
            qCWarning(lcUserDefaults) << "suite" << suiteName << "stayed locked by another process; a change was not made";
            return Outcome::Failed;
        }
        qCWarning(lcUserDefaults) << "suite" << suiteName
                                  << "stayed locked by another process; a change is kept and will be retried";
        kept.push_back({ std::move(apply), std::move(done), keys });
        scheduleRetry();
        return Outcome::Kept;
    }
    if (lockDepth == 1) {
        followReplacedFile();
        runKept();
    }
    const bool ok = db && apply(*this);
    releaseLock();
    return ok ? Outcome::Done : Outcome::Failed;
}

namespace {

// Moves a damaged database (and its journal files) aside under the first free ".corrupt" name.
QString moveAside(const QString& file)
{
    QString target = file + u".corrupt"_s;
    for (int n = 1; QFile::exists(target) && n < 100; ++n)
        target = file + u".corrupt."_s + QString::number(n);
    QFile::remove(target);
    QFile::rename(file, target);
    for (const QString& suffix : { u"-wal"_s, u"-shm"_s }) {
        QFile::remove(target + suffix);
        QFile::rename(file + suffix, target + suffix);
    }
    return target;
}

qint64 fileSize(const QString& path)
{
    const QFileInfo info(path);
    return info.exists() ? info.size() : -1;
}

} // namespace

std::shared_ptr<UserDefaults::Connection> UserDefaults::openSuite(const QString& suiteName)
{
    auto c = std::make_shared<UserDefaults::Connection>();
    c->suiteName = suiteName;
    const auto container = GroupContainer::path(suiteName);
    QString reason = u"no usable group container"_s;
    if (container) {
        const QString dir = *container + u"/Preferences"_s;
        const QString file = dir + u'/' + suiteName + u".sqlite"_s;
        reason = u"its folder cannot be made"_s;
        // Another process may be creating the suite this moment; an empty file that old was cut.
        const QFileInfo info(file);
        if (info.exists() && info.size() == 0 && fileSize(file + u"-wal"_s) <= 0
            && info.lastModified().secsTo(QDateTime::currentDateTime()) > 10)
            qCWarning(lcUserDefaults) << "suite" << suiteName << "has an empty database file (cut short?); started anew";
        // An existing container made before is made private too, with what it holds.
        GroupContainer::makePrivateFolder(*container);
        if (GroupContainer::makePrivateFolder(dir) || QFileInfo::exists(file)) {
            for (const QString& suffix : { QString(), u"-wal"_s, u"-shm"_s, u".lock"_s })
                GroupContainer::makePrivateFile(file + suffix);
            c->file = file;
            OpenResult r = c->open(file);
            // Some steps of opening (switching the journal) take a lock without waiting for it.
            QDeadlineTimer deadline(busyTimeoutMs);
            while (r == OpenResult::Busy && !deadline.hasExpired()) {
                QThread::msleep(20);
                r = c->open(file);
            }
            if (r == OpenResult::Damaged && c->takeLock(QDeadlineTimer(writeWaitLimitMs.load()))) {
                // Under the write lock, so no other process writes into the file being moved; and
                // it may have been replaced already by the time the lock is ours.
                r = c->open(file);
                if (r == OpenResult::Damaged) {
                    const QString kept = moveAside(file);
                    qCWarning(lcUserDefaults) << "suite" << suiteName << "is damaged; kept as" << kept << "and started anew";
                    r = c->open(file);
                }
                c->releaseLock();
            }
            if (r == OpenResult::Failed && QFileInfo::exists(file))
                r = c->openReadOnly(file);
            if (r == OpenResult::Ok) {
                c->persistent = !c->readOnly;
                if (c->readOnly)
                    qCWarning(lcUserDefaults) << "suite" << suiteName << "cannot be written; its values are read-only";
                return c;
            }
            reason = QString::fromUtf8(sqlite3_errstr(c->lastError));
        }
    }
    qCWarning(lcUserDefaults).noquote() << u"suite"_s << suiteName << u"cannot be opened ("_s + reason
                                               + u"); settings of this run will not be kept"_s;
    c->file.clear();
    if (c->open(u":memory:"_s) != OpenResult::Ok)
        c->db = nullptr;
    return c;
}

// One connection per suite per process: handles are made on every store call, opening SQLite
// each time would cost far more than the read.
struct UserDefaults::OpenSuites {
    std::mutex mutex;
    std::map<QString, std::shared_ptr<UserDefaults::Connection>> connections;
};

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

bool UserDefaults::writeKeptChangesBeforeExit(std::chrono::milliseconds bound)
{
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
        std::lock_guard lock(c->mutex);
        if (c->retryKept(deadline))
            continue;
        all = false;
        c->giveUpKept("another process held the suite until the end of this one");
    }
    return all;
}
