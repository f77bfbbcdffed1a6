// What coordinates a suite's connection: the turns of the writers, the stored rows, and a change
// that runs now or is kept.

#include "platform/foundation/UserDefaultsConnection_p.h"

#include "platform/foundation/Cbor_p.h"
#include "platform/foundation/GroupContainer.h"
#include "platform/foundation/MainQueue.h"
#include "platform/foundation/PropertyListCoding_p.h"

#include <QFile>
#include <QStringList>
#include <QThread>

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>

using namespace Qt::Literals::StringLiterals;

Q_LOGGING_CATEGORY(lcUserDefaults, "tickerly.userdefaults")

std::atomic<qint64> writeWaitLimitMs { 30000 };

namespace {

// The longest the main thread waits for another process's write lock before keeping a change.
constexpr qint64 mainThreadWaitMs = 30;

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
