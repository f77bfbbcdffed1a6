// The journal of kept changes: each change this process promised as kept is on disk before the
// promise, so that when the process ends first (killed, or quit while another holds the lock)
// the next opening of the suite, by either program, writes it, and writes it once.
//
// Invariants:
// - A process's journal is `<database>.kept-<random>`, made at its first kept change and locked
//   (flock) for as long as it is open. A journal that can be locked by another process is an
//   orphan: its owner ended. The owner removes it once nothing is kept; at the end it leaves it,
//   unlocked, for the next opening.
// - The ids of written entries are recorded (table kept_applied, beside the values; older builds
//   never read it) in the transaction that writes them, so a journal outliving its changes (a
//   crash between the commit and the removal) replays none of them again. An orphan's ids are
//   recorded as it is replayed; it is removed after that commit, and its ids once it is gone.
// - An entry is read back as stored data: a damaged or cut one is skipped with a line in the
//   log; a journal holding a kind this process does not know is left whole for one that does.

#include "platform/foundation/store/UserDefaultsJournal_p.h"

#include "platform/foundation/store/UserDefaultsConnection_p.h"

#include "platform/foundation/store/KeptJournal_p.h"
#include "platform/foundation/base/OperationQueue.h"
#include "platform/foundation/serialization/PropertyListCoding_p.h"
#include "platform/foundation/store/UserDefaultsTesting.h"

#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <utility>

namespace Tickerly::Foundation {

using namespace Qt::Literals::StringLiterals;

namespace {

std::atomic<bool> journalsLeftAfterWriting { false };
std::atomic<bool> journalWritesFail { false };

QByteArray newId()
{
    QByteArray id(16, Qt::Uninitialized);
    QRandomGenerator::system()->fillRange(reinterpret_cast<quint32*>(id.data()), 4);
    return id;
}

bool writeAll(int fd, const QByteArray& bytes)
{
    qsizetype at = 0;
    while (at < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.constData() + at, size_t(bytes.size() - at));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        at += n;
    }
    return true;
}

void syncFolder(const QString& dir)
{
    const int fd = ::open(QFile::encodeName(dir).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return;
    ::fsync(fd);
    ::close(fd);
}

} // namespace

const QString journalValueKind = u"value"_s;

bool isJournalFileAt(int fd, const QString& path)
{
    struct stat mine { };
    struct stat there { };
    return ::fstat(fd, &mine) == 0 && mine.st_nlink > 0
        && ::stat(QFile::encodeName(path).constData(), &there) == 0 && there.st_ino == mine.st_ino
        && there.st_dev == mine.st_dev;
}

bool insertAppliedIds(sqlite3* db, const std::vector<QByteArray>& ids, const QString& journal)
{
    if (ids.empty())
        return true;
    if (sqlite3_exec(db,
            "CREATE TABLE IF NOT EXISTS kept_applied (id BLOB PRIMARY KEY NOT NULL, "
            "journal TEXT NOT NULL) WITHOUT ROWID",
            nullptr, nullptr, nullptr)
        != SQLITE_OK)
        return false;
    sqlite3_stmt* stmt = nullptr;
    if (sqlite3_prepare_v2(db, "INSERT OR IGNORE INTO kept_applied (id, journal) VALUES (?1, ?2)",
            -1, &stmt, nullptr)
        != SQLITE_OK)
        return false;
    const QByteArray name = journal.toUtf8();
    bool ok = true;
    for (const QByteArray& id : ids) {
        sqlite3_bind_blob(stmt, 1, id.constData(), int(id.size()), SQLITE_STATIC);
        sqlite3_bind_text(stmt, 2, name.constData(), int(name.size()), SQLITE_STATIC);
        ok = ok && sqlite3_step(stmt) == SQLITE_DONE;
        sqlite3_reset(stmt);
    }
    sqlite3_finalize(stmt);
    return ok;
}

void UserDefaultsTesting::leaveJournalsAfterWriting(bool leave)
{
    journalsLeftAfterWriting = leave;
}

void UserDefaultsTesting::failJournalWrites(bool fail) { journalWritesFail = fail; }

SuiteJournal::SuiteJournal(StoreDatabase& database)
    : m_database(database)
{
}

SuiteJournal::~SuiteJournal() { close(hold(), Close::Leave); }

SuiteJournal::Held SuiteJournal::hold() { return Held(m_mutex); }

std::vector<KeptJournal::Entry> SuiteJournal::entries(std::vector<KeptChange>& parts,
    const std::vector<qint64>& seen, bool journalValues, const UserDefaults::Replay& replay)
{
    if (m_database.file().isEmpty())
        return {};
    std::vector<KeptJournal::Entry> entries;
    const auto none = [&](const char* why) {
        if (why)
            qCWarning(lcUserDefaults)
                << "a kept change of suite" << m_database.suiteName() << "cannot be journalled ("
                << why << "); it is lost if this process ends before it is written";
        for (KeptChange& part : parts)
            part.journalId.clear();
        return std::vector<KeptJournal::Entry>();
    };
    for (size_t i = 0; i < parts.size(); ++i) {
        KeptChange& part = parts[i];
        KeptJournal::Entry entry { newId(), {}, part.key, {}, 0 };
        if (part.value) {
            if (!journalValues)
                return none(nullptr);
            std::vector<std::pair<QString, CborItem>> arguments {
                { u"seen"_s, CborItem::makeInteger(seen[i]) },
            };
            if (*part.value)
                arguments.emplace_back(u"value"_s, CborItem::makeBytes(**part.value));
            entry.kind = journalValueKind;
            entry.arguments = CborItem::makeMap(std::move(arguments));
        } else {
            if (replay.kind.isEmpty() || !replay.arguments)
                return none(nullptr);
            std::optional<CborItem> arguments;
            try {
                arguments = toItem(replay.arguments(), 0);
            } catch (...) {
            }
            if (!arguments)
                return none("its arguments are no property-list value");
            entry.kind = replay.kind;
            entry.arguments = std::move(*arguments);
        }
        part.journalId = entry.id;
        entries.push_back(std::move(entry));
    }
    return entries;
}

namespace {

// Says once, until a write succeeds again, that the kept changes cannot be journalled.
bool failed(const QString& suiteName, bool& said, const char* why)
{
    if (!said)
        qCWarning(lcUserDefaults)
            << "the kept changes of suite" << suiteName << "cannot be journalled (" << why
            << "); they are lost if this process ends before they are written";
    said = true;
    return false;
}

} // namespace

bool SuiteJournal::append(const Held&, const QByteArray& frames)
{
    const auto fail
        = [&](const char* why) { return failed(m_database.suiteName(), m_failureSaid, why); };
    if (journalWritesFail.load())
        return fail("no space left on device");
    if (m_broken)
        return fail("the journal could not be mended after a failed write");
    if (m_size + frames.size() > KeptJournal::maxJournalSize)
        return fail("the journal is full");
    bool made = false;
    if (m_fd < 0) {
        errno = 0;
        if (!openOwn())
            return fail(errno != 0 ? std::strerror(errno) : "no journal could be made");
        made = true;
    }
    if (!writeAll(m_fd, frames)) {
        const char* why = std::strerror(errno);
        // A part of a frame would hide the frames after it. The entries before it stay, and the
        // journal stays locked: this process still writes them.
        m_broken = ::ftruncate(m_fd, m_size) != 0 || ::lseek(m_fd, m_size, SEEK_SET) < 0;
        return fail(why);
    }
    m_size += frames.size();
    m_failureSaid = false;
    syncSoon(made);
    return true;
}

bool SuiteJournal::openOwn()
{
    const QString& file = m_database.file();
    for (int tries = 0; tries < 4 && m_fd < 0; ++tries) {
        const QString path = file + u".kept-"_s + QString::fromLatin1(newId().toHex());
        const int fd = ::open(
            QFile::encodeName(path).constData(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (fd < 0)
            return false;
        // Another process may have taken it for an orphan between its making and its lock.
        if (::flock(fd, LOCK_EX | LOCK_NB) != 0 || !isJournalFileAt(fd, path)) {
            // Empty, and nobody's: left, it would be taken for a live journal by every
            // process that cannot lock it either.
            if (isJournalFileAt(fd, path))
                ::unlink(QFile::encodeName(path).constData());
            ::close(fd);
            continue;
        }
        m_fd = fd;
        m_path = path;
        m_size = 0;
        m_syncPending = std::make_shared<std::atomic<bool>>(false);
    }
    errno = 0;
    return m_fd >= 0;
}

void SuiteJournal::syncSoon(bool made)
{
    // A killed process keeps what it wrote; only a power cut needs the sync, which on a slow disk
    // takes long enough to freeze a window. One waiting covers every write made before it runs.
    if (m_syncPending->exchange(true))
        return;
    const int fd = ::fcntl(m_fd, F_DUPFD_CLOEXEC, 0);
    if (fd < 0) {
        m_syncPending->store(false);
        return;
    }
    const QString dir = made ? QFileInfo(m_database.file()).absolutePath() : QString();
    // Never destroyed: a sync may still be queued on it while the process ends.
    static auto& syncs = *new OperationQueue(u"store journal"_s);
    syncs.addOperation([fd, dir, pending = m_syncPending] {
        pending->store(false);
        ::fdatasync(fd);
        ::close(fd);
        if (!dir.isEmpty())
            syncFolder(dir);
    });
}

QString SuiteJournal::ownName()
{
    std::lock_guard lock(m_mutex);
    return QFileInfo(m_path).fileName();
}

bool SuiteJournal::recordApplied(const std::deque<KeptChange>& backlog)
{
    std::vector<QByteArray> ids;
    for (const KeptChange& k : backlog) {
        if (!k.journalId.isEmpty())
            ids.push_back(k.journalId);
        ids.insert(ids.end(), k.supersededIds.begin(), k.supersededIds.end());
    }
    return insertAppliedIds(m_database.writer(), ids, ownName());
}

void SuiteJournal::close(const Held&, Close how)
{
    if (m_fd < 0)
        return;
    // Removed while still locked: nobody takes it for an orphan in between. Left for the next
    // opening, it is on disk first, as the process ends.
    if (how == Close::Remove && !journalsLeftAfterWriting.load())
        ::unlink(QFile::encodeName(m_path).constData());
    else
        ::fdatasync(m_fd);
    ::close(m_fd);
    m_fd = -1;
    m_path.clear();
    m_size = 0;
    m_broken = false;
}

} // namespace Tickerly::Foundation
