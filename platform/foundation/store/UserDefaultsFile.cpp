// The suite's file: opening it, moving a damaged one aside and starting anew, the read-only
// fallback, and following a file another process replaced.

#include "platform/foundation/store/UserDefaultsDatabase_p.h"

#include "platform/foundation/base/GroupContainer.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QThread>
#include <QUrl>

#include <fcntl.h>
#include <unistd.h>

namespace Tickerly::Foundation {

using namespace Qt::Literals::StringLiterals;

namespace {

// The write-ahead log is cut back to this after each checkpoint.
constexpr const char* journalSizeLimitPragma = "PRAGMA journal_size_limit=4194304";

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

int StoreDatabase::busyHandler(void* database, int tries)
{
    const auto* d = static_cast<const StoreDatabase*>(database);
    if (d->m_busyDeadline.hasExpired() || (d->m_busyHonoursQuit && StoreProcess::quitting()))
        return 0;
    QThread::usleep(tries < 20 ? 200 : 2000);
    return 1;
}

OpenResult StoreDatabase::open(const QString& path)
{
    if (m_db)
        sqlite3_close(m_db);
    m_db = nullptr;
    m_keyWritesReady = false;
    const QByteArray name = path.toUtf8();
    // Made here so that it is the owner's alone: SQLite would follow the umask, and its journal
    // files take the database's mode.
    if (path != u":memory:"_s) {
        if (const int fd = ::open(
                QFile::encodeName(path).constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
            fd >= 0)
            ::close(fd);
    }
    int rc = sqlite3_open_v2(name.constData(), &m_db,
        SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX, nullptr);
    if (rc != SQLITE_OK)
        return close(rc);
    m_busyDeadline = QDeadlineTimer(sqliteBusyTimeoutMs);
    sqlite3_busy_handler(m_db, &busyHandler, this);
    if (path != u":memory:"_s) {
        m_openedId = fileId(path);
        if ((rc = exec("PRAGMA journal_mode=WAL")) != SQLITE_OK)
            return close(rc);
        // Durable across a crash of either program; only a power cut may lose the last commit.
        if ((rc = exec("PRAGMA synchronous=NORMAL")) != SQLITE_OK)
            return close(rc);
        if ((rc = exec(journalSizeLimitPragma)) != SQLITE_OK)
            return close(rc);
    }
    rc = exec("CREATE TABLE IF NOT EXISTS defaults (key TEXT PRIMARY KEY NOT NULL, value BLOB NOT "
              "NULL) WITHOUT ROWID");
    if (rc != SQLITE_OK)
        return close(rc);
    if ((rc = quickCheck()) != SQLITE_OK)
        return close(rc);
    // A file that cannot be written is opened for reading by SQLite on its own.
    m_readOnly = sqlite3_db_readonly(m_db, "main") == 1;
    return OpenResult::Ok;
}

OpenResult StoreDatabase::openReadOnly(const QString& path)
{
    for (const bool immutable : { false, true }) {
        QUrl uri = QUrl::fromLocalFile(path);
        if (immutable)
            uri.setQuery(u"immutable=1"_s);
        const QByteArray name = uri.toEncoded();
        int rc = sqlite3_open_v2(name.constData(), &m_db,
            SQLITE_OPEN_READONLY | SQLITE_OPEN_URI | SQLITE_OPEN_NOMUTEX, nullptr);
        if (rc == SQLITE_OK) {
            sqlite3_busy_timeout(m_db, sqliteBusyTimeoutMs);
            rc = quickCheck();
        }
        if (rc == SQLITE_OK) {
            m_openedId = fileId(path);
            m_readOnly = true;
            return OpenResult::Ok;
        }
        close(rc);
    }
    return classify(m_lastError);
}

int StoreDatabase::quickCheck()
{
    sqlite3_stmt* stmt = nullptr;
    int rc = sqlite3_prepare_v2(m_db, "PRAGMA quick_check(1)", -1, &stmt, nullptr);
    if (rc != SQLITE_OK)
        return rc;
    rc = sqlite3_step(stmt);
    if (rc == SQLITE_ROW)
        rc = QByteArray(reinterpret_cast<const char*>(sqlite3_column_text(stmt, 0))) == "ok"
            ? SQLITE_OK
            : SQLITE_CORRUPT;
    sqlite3_finalize(stmt);
    return rc;
}

OpenResult StoreDatabase::close(int rc)
{
    if (m_db)
        sqlite3_close(m_db);
    m_db = nullptr;
    m_lastError = rc;
    return classify(rc);
}

void StoreDatabase::followReplacedFile()
{
    if (m_file.isEmpty() || (m_db && fileId(m_file) == m_openedId))
        return;
    const bool wasOpen = m_db != nullptr;
    if (wasOpen) {
        qCInfo(lcUserDefaults) << "suite" << m_suiteName
                               << "was replaced by another process; reopened";
        // Closing must neither fold the old log into the moved file's name nor delete the log
        // by name: that name is the new file's log now.
        int on = 1;
        sqlite3_file_control(m_db, "main", SQLITE_FCNTL_PERSIST_WAL, &on);
        sqlite3_db_config(m_db, SQLITE_DBCONFIG_NO_CKPT_ON_CLOSE, 1, nullptr);
    }
    if (open(m_file) != OpenResult::Ok && !m_db && wasOpen)
        qCWarning(lcUserDefaults) << "suite" << m_suiteName
                                  << "cannot be reopened:" << sqlite3_errstr(m_lastError);
}

void StoreDatabase::openSuite()
{
    const auto container = GroupContainer::path(m_suiteName);
    QString reason = u"no usable group container"_s;
    if (container) {
        const QString dir = *container + u"/Preferences"_s;
        const QString path = dir + u'/' + m_suiteName + u".sqlite"_s;
        reason = u"its folder cannot be made"_s;
        // Another process may be creating the suite this moment; an empty file that old was cut.
        const QFileInfo info(path);
        if (info.exists() && info.size() == 0 && fileSize(path + u"-wal"_s) <= 0
            && info.lastModified().secsTo(QDateTime::currentDateTime()) > 10)
            qCWarning(lcUserDefaults) << "suite" << m_suiteName
                                      << "has an empty database file (cut short?); started anew";
        // An existing container made before is made private too, with what it holds.
        GroupContainer::makePrivateFolder(*container);
        GroupContainer::makeFoldersInsidePrivate(*container);
        if (GroupContainer::makePrivateFolder(dir) || QFileInfo::exists(path)) {
            for (const QString& suffix : { QString(), u"-wal"_s, u"-shm"_s, u".lock"_s })
                GroupContainer::makePrivateFile(path + suffix);
            m_file = path;
            if (openFile(path) == OpenResult::Ok) {
                m_persistent = !m_readOnly;
                if (m_readOnly)
                    qCWarning(lcUserDefaults)
                        << "suite" << m_suiteName << "cannot be written; its values are read-only";
                return;
            }
            reason = QString::fromUtf8(sqlite3_errstr(m_lastError));
        }
    }
    qCWarning(lcUserDefaults).noquote()
        << u"suite"_s << m_suiteName
        << u"cannot be opened ("_s + reason + u"); settings of this run will not be kept"_s;
    m_file.clear();
    if (open(u":memory:"_s) != OpenResult::Ok)
        m_db = nullptr;
}

OpenResult StoreDatabase::openFile(const QString& path)
{
    OpenResult r = open(path);
    // Some steps of opening (switching the journal) take a lock without waiting for it.
    QDeadlineTimer deadline(sqliteBusyTimeoutMs);
    while (r == OpenResult::Busy && !deadline.hasExpired()) {
        QThread::msleep(20);
        r = open(path);
    }
    if (r == OpenResult::Damaged && takeLock(QDeadlineTimer(StoreProcess::writeWaitLimitMs()))) {
        // Under the write lock, so no other process writes into the file being moved; and
        // it may have been replaced already by the time the lock is ours.
        r = open(path);
        if (r == OpenResult::Damaged) {
            const QString kept = moveAside(path);
            qCWarning(lcUserDefaults)
                << "suite" << m_suiteName << "is damaged; kept as" << kept << "and started anew";
            r = open(path);
        }
        releaseLock();
    }
    if (r == OpenResult::Failed && QFileInfo::exists(path))
        r = openReadOnly(path);
    return r;
}

sqlite3* StoreDatabase::readConnection(std::unique_lock<std::recursive_timed_mutex>& writerLock,
    std::unique_lock<std::mutex>& readerLock)
{
    // Inside an update's function the reader sees its own transaction; the in-memory and the
    // read-only suite have one connection, and nobody waits on it for long.
    if (m_writer.load() == std::this_thread::get_id() || m_file.isEmpty() || m_readOnly) {
        writerLock = std::unique_lock(m_mutex);
        if (m_lockDepth == 0)
            followReplacedFile();
        return m_db;
    }
    readerLock = std::unique_lock(m_readMutex);
    if (m_readDb && fileId(m_file) == m_readOpenedId)
        return m_readDb;
    if (m_readDb)
        sqlite3_close(m_readDb);
    m_readDb = nullptr;
    m_readOpenedId = fileId(m_file);
    if (sqlite3_open_v2(QFile::encodeName(m_file).constData(), &m_readDb,
            SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX, nullptr)
            != SQLITE_OK
        || sqlite3_exec(m_readDb, "PRAGMA query_only=1", nullptr, nullptr, nullptr) != SQLITE_OK) {
        sqlite3_close(m_readDb);
        m_readDb = nullptr;
        return nullptr;
    }
    sqlite3_busy_timeout(m_readDb, sqliteBusyTimeoutMs);
    return m_readDb;
}

} // namespace Tickerly::Foundation
