#include "platform/foundation/UserDefaults.h"

#include "platform/foundation/Cbor_p.h"
#include "platform/foundation/GroupContainer.h"

#include "platform/foundation/MainQueue.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QLoggingCategory>
#include <QStringList>
#include <QThread>
#include <QUrl>

#include <sqlite3.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cmath>
#include <deque>
#include <limits>
#include <map>
#include <mutex>

using namespace Qt::Literals::StringLiterals;

Q_LOGGING_CATEGORY(lcUserDefaults, "tickerly.userdefaults")

namespace {

// CBOR tag of a date given as seconds since 1970.
constexpr quint64 epochDateTag = 1;
// Dates beyond this many seconds either way are no dates a user can have stored.
constexpr double maxDateSeconds = 1e13;
// How long SQLite itself waits for a lock (opening, and any writer that skips the lock file).
constexpr int busyTimeoutMs = 10000;

std::optional<CborItem> toItem(const QVariant& v, int depth)
{
    if (depth > Cbor::maxDepth)
        return std::nullopt;
    switch (v.typeId()) {
    case QMetaType::Bool:
        return CborItem::makeBool(v.toBool());
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::Long:
    case QMetaType::LongLong:
    case QMetaType::Short:
    case QMetaType::UShort:
    case QMetaType::Char:
    case QMetaType::SChar:
    case QMetaType::UChar:
        return CborItem::makeInteger(v.toLongLong());
    case QMetaType::ULong: // 64 bits here, as wide as ULongLong
    case QMetaType::ULongLong: {
        const quint64 u = v.toULongLong();
        if (u > quint64(std::numeric_limits<qint64>::max()))
            return std::nullopt;
        return CborItem::makeInteger(qint64(u));
    }
    case QMetaType::Double:
    case QMetaType::Float:
        return CborItem::makeDouble(v.toDouble());
    case QMetaType::QString:
        return CborItem::makeText(v.toString());
    case QMetaType::QByteArray:
        return CborItem::makeBytes(v.toByteArray());
    case QMetaType::QDateTime: {
        const QDateTime dt = v.toDateTime();
        if (!dt.isValid())
            return std::nullopt;
        return CborItem::makeTag(epochDateTag, CborItem::makeDouble(double(dt.toMSecsSinceEpoch()) / 1000.0));
    }
    case QMetaType::QStringList:
    case QMetaType::QVariantList: {
        std::vector<CborItem> items;
        for (const QVariant& element : v.toList()) {
            auto item = toItem(element, depth + 1);
            if (!item)
                return std::nullopt;
            items.push_back(std::move(*item));
        }
        return CborItem::makeArray(std::move(items));
    }
    case QMetaType::QVariantMap:
    case QMetaType::QVariantHash: {
        // A map from toMap() is ordered by key, so equal dictionaries give equal bytes.
        const QVariantMap map = v.toMap();
        std::vector<std::pair<QString, CborItem>> entries;
        for (auto it = map.cbegin(); it != map.cend(); ++it) {
            auto item = toItem(it.value(), depth + 1);
            if (!item)
                return std::nullopt;
            entries.emplace_back(it.key(), std::move(*item));
        }
        return CborItem::makeMap(std::move(entries));
    }
    default:
        return std::nullopt;
    }
}

std::optional<QVariant> fromItem(const CborItem& item)
{
    switch (item.kind) {
    case CborItem::Kind::Integer:
        return QVariant(item.integer);
    case CborItem::Kind::Double:
        return QVariant(item.real);
    case CborItem::Kind::Bool:
        return QVariant(item.boolean);
    case CborItem::Kind::Text:
        return QVariant(item.text);
    case CborItem::Kind::Bytes:
        return QVariant(item.bytes);
    case CborItem::Kind::Array: {
        QVariantList list;
        list.reserve(qsizetype(item.items.size()));
        for (const auto& element : item.items) {
            auto v = fromItem(element);
            if (!v)
                return std::nullopt;
            list.append(*v);
        }
        return QVariant(list);
    }
    case CborItem::Kind::Map: {
        QVariantMap map;
        for (const auto& [key, value] : item.entries) {
            auto v = fromItem(value);
            if (!v)
                return std::nullopt;
            map.insert(key, *v);
        }
        return QVariant(map);
    }
    case CborItem::Kind::Tag: {
        const CborItem* seconds = item.tagged(epochDateTag);
        if (!seconds || !seconds->isNumber())
            return std::nullopt;
        const double s = seconds->kind == CborItem::Kind::Integer ? double(seconds->integer) : seconds->real;
        if (!std::isfinite(s) || std::fabs(s) > maxDateSeconds)
            return std::nullopt;
        return QVariant(QDateTime::fromMSecsSinceEpoch(qint64(std::llround(s * 1000.0)), Qt::UTC));
    }
    case CborItem::Kind::Null:
        return std::nullopt;
    }
    return std::nullopt;
}

std::optional<QVariant> decodeValue(const QByteArray& bytes)
{
    auto item = Cbor::decode(bytes);
    if (!item)
        return std::nullopt;
    return fromItem(*item);
}

qint64 saturated(double d)
{
    if (std::isnan(d))
        return 0;
    if (d >= 9223372036854775807.0)
        return std::numeric_limits<qint64>::max();
    if (d <= -9223372036854775808.0)
        return std::numeric_limits<qint64>::min();
    return qint64(d);
}

enum class OpenResult { Ok, Damaged, Busy, Failed };

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

// How long a change waits for the write lock before it is kept for later.
std::atomic<qint64> writeWaitLimitMs { 30000 };
// A waiter that has waited this long takes its turn before anyone who comes after it.
constexpr qint64 turnAfterMs = 20;
// The write-ahead log is cut back to this after each checkpoint.
constexpr const char* journalSizeLimitPragma = "PRAGMA journal_size_limit=4194304";
// Bytes of the lock file: the write lock, and the turn of a writer that has waited long.
constexpr off_t writeByte = 0;
constexpr off_t turnByte = 1;
// How often a kept change is tried again on the main queue, in seconds.
constexpr double retryInterval = 1.0;

struct FileId {
    dev_t device = 0;
    ino_t inode = 0;
    bool operator==(const FileId&) const = default;
};

std::optional<FileId> fileId(const QString& path)
{
    struct stat st {};
    if (::stat(QFile::encodeName(path).constData(), &st) != 0)
        return std::nullopt;
    return FileId { st.st_dev, st.st_ino };
}

bool lockByte(int fd, off_t byte, short type)
{
    struct flock fl {};
    fl.l_type = type;
    fl.l_whence = SEEK_SET;
    fl.l_start = byte;
    fl.l_len = 1;
    return ::fcntl(fd, F_OFD_SETLK, &fl) == 0;
}

bool takenByOther(int fd, off_t byte)
{
    struct flock fl {};
    fl.l_type = F_WRLCK;
    fl.l_whence = SEEK_SET;
    fl.l_start = byte;
    fl.l_len = 1;
    return ::fcntl(fd, F_OFD_GETLK, &fl) == 0 && fl.l_type != F_UNLCK;
}

// Takes the write lock of `fd` before `deadline`. Polling alone lets a busy writer win every
// round; so a waiter that has waited a while claims the turn, and no newcomer takes the lock
// while someone holds the turn.
bool takeWriteLock(int fd, const QDeadlineTimer& deadline)
{
    QElapsedTimer waited;
    waited.start();
    bool haveTurn = false;
    int pause = 0;
    for (;;) {
        if ((haveTurn || !takenByOther(fd, turnByte)) && lockByte(fd, writeByte, F_WRLCK)) {
            if (haveTurn)
                lockByte(fd, turnByte, F_UNLCK);
            return true;
        }
        if (!haveTurn && waited.elapsed() >= turnAfterMs)
            haveTurn = lockByte(fd, turnByte, F_WRLCK);
        if (deadline.hasExpired()) {
            if (haveTurn)
                lockByte(fd, turnByte, F_UNLCK);
            return false;
        }
        // Short pauses while the holder is likely to finish soon, longer ones after.
        pause = std::min(pause + 100, 2000);
        QThread::usleep(haveTurn ? 200 : pause);
    }
}

} // namespace

struct UserDefaults::Connection : std::enable_shared_from_this<Connection> {
    // A change is handed the connection it runs on: a kept one may run from its destructor,
    // when no owner of it is left to lock.
    using Apply = std::function<bool(Connection&)>;
    struct Kept {
        Apply apply;
        std::function<void(bool)> done;
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

    ~Connection()
    {
        if (!kept.empty() && db) {
            std::lock_guard lock(mutex);
            if (!retryKept(QDeadlineTimer(writeWaitLimitMs.load())))
                qCCritical(lcUserDefaults) << kept.size() << "changes to suite" << suiteName
                                           << "could not be written before the end of the process";
        }
        if (db)
            sqlite3_close(db);
        if (lockFd >= 0)
            ::close(lockFd);
    }

    int exec(const char* sql)
    {
        return sqlite3_exec(db, sql, nullptr, nullptr, nullptr);
    }

    OpenResult open(const QString& path)
    {
        if (db)
            sqlite3_close(db);
        db = nullptr;
        readOnly = false;
        const QByteArray name = path.toUtf8();
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

    // For a file that can be read but not written; with no way to share the write-ahead log's
    // index (a folder that cannot be written), read as a file nobody changes.
    OpenResult openReadOnly(const QString& path)
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

    // SQLITE_OK for a sound file, SQLITE_CORRUPT for damage, else the error met (a busy file is
    // no damaged one and must never be moved aside).
    int quickCheck()
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

    OpenResult close(int rc)
    {
        if (db)
            sqlite3_close(db);
        db = nullptr;
        lastError = rc;
        return classify(rc);
    }

    // Another process may have moved a damaged file aside and started a new one: follow it,
    // so that every process reads and writes the same file. A new file that could not be opened
    // at once is tried again at the next use rather than given up for the rest of the process.
    void followReplacedFile()
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

    bool openLockFile()
    {
        if (lockFd >= 0)
            return true;
        lockFd = ::open(QFile::encodeName(file + u".lock"_s).constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
        return lockFd >= 0;
    }

    bool takeLock(const QDeadlineTimer& deadline)
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

    void releaseLock()
    {
        if (--lockDepth == 0 && lockFd >= 0)
            lockByte(lockFd, writeByte, F_UNLCK);
    }

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
    std::optional<QByteArray> read(const QString& key)
    {
        return withStored(key, [](QByteArrayView stored) { return stored.toByteArray(); });
    }

    // Writes `bytes` under `key`, or removes the key when there are none. Lock held by the caller.
    bool write(const QString& key, const std::optional<QByteArray>& bytes)
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

    // Inside a transaction.
    bool insertKeptAside(const QString& key, const QByteArray& bytes)
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

    // The decoded stored value of `key`; an undecodable one is kept aside first. Inside a
    // transaction.
    std::optional<QVariant> readForChange(const QString& key, bool* keptOk)
    {
        const auto bytes = read(key);
        if (!bytes)
            return std::nullopt;
        auto decoded = decodeValue(*bytes);
        if (!decoded)
            *keptOk = insertKeptAside(key, *bytes);
        return decoded;
    }

    // Before a value is replaced without being read: bytes that no longer read as a value are
    // kept aside rather than lost. Sound bytes are not copied out of SQLite or built into a value,
    // which for a stored list of stories would be megabytes of work thrown away.
    bool keepAsideIfDamaged(const QString& key)
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

    bool applyValues(const std::vector<std::pair<QString, std::optional<QByteArray>>>& values)
    {
        return transaction([&] {
            for (const auto& [key, bytes] : values) {
                if (!keepAsideIfDamaged(key) || !write(key, bytes))
                    return false;
            }
            return true;
        }, true);
    }

    bool applyUpdate(const QString& key, const Updater& fn)
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

    // Kept changes first, in order; the write lock is held.
    bool runKept()
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

    bool retryKept(const QDeadlineTimer& deadline)
    {
        if (kept.empty())
            return true;
        if ((!db && file.isEmpty()) || !takeLock(deadline))
            return false;
        followReplacedFile();
        runKept();
        releaseLock();
        return kept.empty();
    }

    void scheduleRetry()
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
            // The main thread waits only briefly; what stays kept is tried again later.
            if (!self->retryKept(QDeadlineTimer(50)))
                self->scheduleRetry();
        });
    }

    // Runs `apply` holding the write lock, after the kept changes. When the lock stays taken,
    // the change is kept when `keep` says so.
    Outcome change(Apply apply, bool keep, std::function<void(bool)> done = {})
    {
        std::lock_guard lock(mutex);
        if (!db && file.isEmpty())
            return Outcome::Failed;
        if (readOnly) {
            qCWarning(lcUserDefaults) << "suite" << suiteName << "can only be read; a change was refused";
            return Outcome::Failed;
        }
        if (!takeLock(QDeadlineTimer(writeWaitLimitMs.load()))) {
            if (!keep) {
                qCWarning(lcUserDefaults) << "suite" << suiteName << "stayed locked by another process; a change was not made";
                return Outcome::Failed;
            }
            qCWarning(lcUserDefaults) << "suite" << suiteName
                                      << "stayed locked by another process; a change is kept and will be retried";
            kept.push_back({ std::move(apply), std::move(done) });
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
};

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
        if (QDir().mkpath(dir) || QFileInfo::exists(file)) {
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
std::shared_ptr<UserDefaults::Connection> UserDefaults::connectionFor(const QString& suiteName)
{
    // Made before the statics below, so that it outlives them at exit.
    lcUserDefaults();
    static std::mutex mutex;
    static std::map<QString, std::shared_ptr<UserDefaults::Connection>> connections;
    // Changes still kept when the process ends are written then, while every suite is still
    // open: a kept change may itself open a handle of its suite.
    static const struct WriteKeptAtExit {
        ~WriteKeptAtExit()
        {
            std::vector<std::shared_ptr<UserDefaults::Connection>> open;
            {
                std::lock_guard lock(mutex);
                for (const auto& [where, c] : connections)
                    open.push_back(c);
            }
            for (const auto& c : open) {
                std::lock_guard lock(c->mutex);
                if (!c->retryKept(QDeadlineTimer(writeWaitLimitMs.load())))
                    qCCritical(lcUserDefaults) << c->kept.size() << "changes to suite" << c->suiteName
                                               << "could not be written before the end of the process";
            }
        }
    } writeKeptAtExit;
    // Keyed by the location, so a test's fresh data home gets a fresh suite.
    const QString where = GroupContainer::path(suiteName).value_or(QString()) + u'\n' + suiteName;
    std::lock_guard lock(mutex);
    auto& c = connections[where];
    if (!c)
        c = openSuite(suiteName);
    return c;
}

UserDefaults::UserDefaults(const QString& suiteName)
    : d(connectionFor(suiteName))
{
}

UserDefaults::~UserDefaults() = default;

QString UserDefaults::suiteName() const
{
    return d->suiteName;
}

bool UserDefaults::isPersistent() const
{
    return d->persistent;
}

bool UserDefaults::isReadOnly() const
{
    return d->readOnly;
}

QVariant UserDefaults::value(const QString& key) const
{
    std::optional<QByteArray> bytes;
    {
        std::lock_guard lock(d->mutex);
        if (d->lockDepth == 0)
            d->followReplacedFile();
        if (!d->db)
            return {};
        bytes = d->read(key);
    }
    if (!bytes)
        return {};
    return decodeValue(*bytes).value_or(QVariant());
}

std::optional<QString> UserDefaults::string(const QString& key) const
{
    const QVariant v = value(key);
    switch (v.typeId()) {
    case QMetaType::QString:
        return v.toString();
    case QMetaType::LongLong:
        return QString::number(v.toLongLong());
    case QMetaType::Double:
        return QString::number(v.toDouble(), 'g', QLocale::FloatingPointShortest);
    case QMetaType::Bool:
        return v.toBool() ? u"1"_s : u"0"_s;
    default:
        return std::nullopt;
    }
}

std::optional<QByteArray> UserDefaults::data(const QString& key) const
{
    const QVariant v = value(key);
    if (v.typeId() != QMetaType::QByteArray)
        return std::nullopt;
    return v.toByteArray();
}

std::optional<QDateTime> UserDefaults::date(const QString& key) const
{
    const QVariant v = value(key);
    if (v.typeId() != QMetaType::QDateTime)
        return std::nullopt;
    return v.toDateTime();
}

std::optional<QVariantList> UserDefaults::array(const QString& key) const
{
    const QVariant v = value(key);
    if (v.typeId() != QMetaType::QVariantList)
        return std::nullopt;
    return v.toList();
}

std::optional<QVariantMap> UserDefaults::dictionary(const QString& key) const
{
    const QVariant v = value(key);
    if (v.typeId() != QMetaType::QVariantMap)
        return std::nullopt;
    return v.toMap();
}

qint64 UserDefaults::integer(const QString& key) const
{
    const QVariant v = value(key);
    switch (v.typeId()) {
    case QMetaType::LongLong:
        return v.toLongLong();
    case QMetaType::Bool:
        return v.toBool() ? 1 : 0;
    case QMetaType::Double:
        return saturated(v.toDouble());
    case QMetaType::QString: {
        bool ok = false;
        const qint64 i = v.toString().trimmed().toLongLong(&ok);
        if (ok)
            return i;
        const double f = v.toString().trimmed().toDouble(&ok);
        return ok ? saturated(f) : 0;
    }
    default:
        return 0;
    }
}

double UserDefaults::doubleValue(const QString& key) const
{
    const QVariant v = value(key);
    switch (v.typeId()) {
    case QMetaType::LongLong:
        return double(v.toLongLong());
    case QMetaType::Bool:
        return v.toBool() ? 1.0 : 0.0;
    case QMetaType::Double:
        return v.toDouble();
    case QMetaType::QString: {
        bool ok = false;
        const double f = v.toString().trimmed().toDouble(&ok);
        return ok ? f : 0.0;
    }
    default:
        return 0.0;
    }
}

bool UserDefaults::boolean(const QString& key) const
{
    const QVariant v = value(key);
    switch (v.typeId()) {
    case QMetaType::Bool:
        return v.toBool();
    case QMetaType::LongLong:
        return v.toLongLong() != 0;
    case QMetaType::Double:
        return v.toDouble() != 0.0 && !std::isnan(v.toDouble());
    case QMetaType::QString: {
        const QString s = v.toString().trimmed().toLower();
        return s == u"true"_s || s == u"yes"_s || s == u"1"_s;
    }
    default:
        return false;
    }
}

namespace {

std::optional<std::optional<QByteArray>> encoded(const QString& key, const QVariant& value)
{
    if (!value.isValid())
        return std::optional<QByteArray>();
    auto item = toItem(value, 0);
    if (!item) {
        qCWarning(lcUserDefaults) << "not a property-list value for" << key << value.metaType().name();
        return std::nullopt;
    }
    return std::optional<QByteArray>(Cbor::encode(*item));
}

} // namespace

bool UserDefaults::set(const QString& key, const QVariant& value)
{
    return setValues({ { key, value } });
}

bool UserDefaults::remove(const QString& key)
{
    return set(key, QVariant());
}

bool UserDefaults::setValues(const QVariantMap& values)
{
    std::vector<std::pair<QString, std::optional<QByteArray>>> rows;
    for (auto it = values.cbegin(); it != values.cend(); ++it) {
        auto bytes = encoded(it.key(), it.value());
        if (!bytes)
            return false;
        rows.emplace_back(it.key(), std::move(*bytes));
    }
    return d->change([rows = std::move(rows)](Connection& c) { return c.applyValues(rows); }, true)
        == Outcome::Done;
}

bool UserDefaults::update(const QString& key, const Updater& fn)
{
    return d->change([&](Connection& c) { return c.applyUpdate(key, fn); }, false) == Outcome::Done;
}

UserDefaults::Outcome UserDefaults::updateOrKeep(const QString& key, Updater fn, std::function<void(bool)> done)
{
    return d->change([key, fn = std::move(fn)](Connection& c) { return c.applyUpdate(key, fn); }, true,
        std::move(done));
}

bool UserDefaults::retryKeptChanges(std::chrono::milliseconds wait)
{
    std::lock_guard lock(d->mutex);
    return d->retryKept(QDeadlineTimer(wait.count()));
}

int UserDefaults::keptChanges() const
{
    std::lock_guard lock(d->mutex);
    return int(d->kept.size());
}

std::vector<QByteArray> UserDefaults::keptAside(const QString& key) const
{
    std::lock_guard lock(d->mutex);
    std::vector<QByteArray> values;
    sqlite3_stmt* stmt = nullptr;
    if (!d->db
        || sqlite3_prepare_v2(d->db, "SELECT value FROM kept_aside WHERE key = ?1 ORDER BY rowid", -1, &stmt, nullptr)
            != SQLITE_OK)
        return values;
    const QByteArray k = key.toUtf8();
    sqlite3_bind_text(stmt, 1, k.constData(), int(k.size()), SQLITE_TRANSIENT);
    while (sqlite3_step(stmt) == SQLITE_ROW)
        values.emplace_back(static_cast<const char*>(sqlite3_column_blob(stmt, 0)), sqlite3_column_bytes(stmt, 0));
    sqlite3_finalize(stmt);
    return values;
}

bool UserDefaults::keepAside(const QString& key, const QByteArray& value)
{
    std::lock_guard lock(d->mutex);
    if (d->lockDepth > 0)
        return d->db && d->insertKeptAside(key, value);
    return d->change([&](Connection& c) { return c.transaction([&] { return c.insertKeptAside(key, value); }); }, false)
        == Outcome::Done;
}

void UserDefaults::setWriteWaitLimit(std::chrono::milliseconds limit)
{
    writeWaitLimitMs.store(limit.count());
}

bool UserDefaults::synchronize()
{
    return true;
}
