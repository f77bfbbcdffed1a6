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

#include "platform/foundation/store/UserDefaultsConnection_p.h"

#include "platform/foundation/base/DistributedNotificationCenter.h"
#include "platform/foundation/store/KeptJournal_p.h"
#include "platform/foundation/base/OperationQueue.h"
#include "platform/foundation/serialization/PropertyListCoding_p.h"
#include "platform/foundation/store/UserDefaultsTesting.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <map>
#include <utility>

namespace Tickerly::Foundation {

using namespace Qt::Literals::StringLiterals;

namespace {

// A plain value (or its removal) as set() and setValues() keep it.
const QString valueKind = u"value"_s;

// A folder changed this recently may change again within the same tick of its clock: looked at
// again next time rather than trusted.
constexpr qint64 settledNs = 2'000'000'000;

// The longest the first handle waits to replay what another run left, as a change on the main
// thread does.
constexpr qint64 openReplayWaitMs = 30;

// Sent to every program with the suite's file as its object.
const QString replayedNotification = u"velmora.Tickerly.UserDefaults.replayedNotification"_s;

std::atomic<bool> journalsLeftAfterWriting { false };
std::atomic<bool> journalWritesFail { false };

struct Replayers {
    std::mutex mutex;
    std::map<QString, UserDefaults::Replayer> byKind;
};

Replayers& replayers()
{
    static auto& all = *new Replayers; // never destroyed: a worker's change may still look it up
    return all;
}

std::optional<UserDefaults::Replayer> replayerFor(const QString& kind)
{
    auto& all = replayers();
    std::lock_guard lock(all.mutex);
    const auto it = all.byKind.find(kind);
    if (it == all.byKind.end())
        return std::nullopt;
    return it->second;
}

QByteArray newId()
{
    QByteArray id(16, Qt::Uninitialized);
    QRandomGenerator::system()->fillRange(reinterpret_cast<quint32*>(id.data()), 4);
    return id;
}

std::optional<qint64> changedAtNs(const QString& path)
{
    struct stat info { };
    if (::stat(QFile::encodeName(path).constData(), &info) != 0)
        return std::nullopt;
    return qint64(info.st_mtim.tv_sec) * 1'000'000'000 + info.st_mtim.tv_nsec;
}

// Whether `fd` is still the file at `path`: a journal removed (or replaced) between its opening
// and its locking belongs to nobody.
bool isFileAt(int fd, const QString& path)
{
    struct stat mine { };
    struct stat there { };
    return ::fstat(fd, &mine) == 0 && mine.st_nlink > 0
        && ::stat(QFile::encodeName(path).constData(), &there) == 0 && there.st_ino == mine.st_ino
        && there.st_dev == mine.st_dev;
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

// The names of the journals beside the suite's `file`, in order; nothing when the folder cannot
// be listed (errno says why), which is no empty folder.
std::optional<QStringList> journalNames(const QString& file)
{
    const QFileInfo info(file);
    DIR* dir = ::opendir(QFile::encodeName(info.absolutePath()).constData());
    if (!dir)
        return std::nullopt;
    const QByteArray prefix = QFile::encodeName(info.fileName() + u".kept-"_s);
    QStringList names;
    errno = 0;
    while (const dirent* each = ::readdir(dir)) {
        if (std::strncmp(each->d_name, prefix.constData(), size_t(prefix.size())) == 0)
            names.append(QFile::decodeName(each->d_name));
        errno = 0;
    }
    const int error = errno;
    ::closedir(dir);
    if (error != 0) {
        errno = error;
        return std::nullopt;
    }
    names.sort();
    return names;
}

struct OpenedJournal {
    int fd = -1;
    // Why it could not be opened; empty when it is simply gone.
    QString why;
};

// Opens another process's journal to be read, as stored data: a link is not followed, nothing
// waits (a FIFO or a device at its name), and only a regular file is taken.
OpenedJournal openJournal(const QString& path)
{
    const int fd = ::open(
        QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    if (fd < 0)
        return { -1, errno == ENOENT ? QString() : QString::fromUtf8(std::strerror(errno)) };
    struct stat info { };
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(fd);
        return { -1, u"not a regular file"_s };
    }
    // Regular files never block; reads are plain again.
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    return { fd, {} };
}

// Up to one byte past the most a journal is read to, so that the reader sees it was longer.
QByteArray readJournal(int fd)
{
    QByteArray bytes;
    char buffer[65536];
    while (bytes.size() <= KeptJournal::maxJournalSize) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        bytes.append(buffer, n);
    }
    return bytes;
}

// Records `ids` of `journal` as written, inside the transaction.
bool insertApplied(sqlite3* db, const std::vector<QByteArray>& ids, const QString& journal)
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

void syncFolder(const QString& dir)
{
    const int fd = ::open(QFile::encodeName(dir).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return;
    ::fsync(fd);
    ::close(fd);
}

} // namespace

void UserDefaultsTesting::leaveJournalsAfterWriting(bool leave)
{
    journalsLeftAfterWriting = leave;
}

void UserDefaultsTesting::failJournalWrites(bool fail) { journalWritesFail = fail; }

void UserDefaults::registerReplayer(const QString& kind, Replayer replayer)
{
    auto& all = replayers();
    std::lock_guard lock(all.mutex);
    all.byKind[kind] = std::move(replayer);
}

std::vector<KeptJournal::Entry> UserDefaults::Connection::journalEntries(
    std::vector<Kept>& parts, const Change& c, const std::vector<qint64>& seen)
{
    if (file.isEmpty())
        return {};
    std::vector<KeptJournal::Entry> entries;
    const auto none = [&](const char* why) {
        if (why)
            qCWarning(lcUserDefaults)
                << "a kept change of suite" << suiteName << "cannot be journalled (" << why
                << "); it is lost if this process ends before it is written";
        for (Kept& part : parts)
            part.journalId.clear();
        return std::vector<KeptJournal::Entry>();
    };
    for (size_t i = 0; i < parts.size(); ++i) {
        Kept& part = parts[i];
        KeptJournal::Entry entry { newId(), {}, part.key, {}, 0 };
        if (part.value) {
            if (!c.journalValues)
                return none(nullptr);
            std::vector<std::pair<QString, CborItem>> arguments {
                { u"seen"_s, CborItem::makeInteger(seen[i]) },
            };
            if (*part.value)
                arguments.emplace_back(u"value"_s, CborItem::makeBytes(**part.value));
            entry.kind = valueKind;
            entry.arguments = CborItem::makeMap(std::move(arguments));
        } else {
            if (c.replay.kind.isEmpty() || !c.replay.arguments)
                return none(nullptr);
            std::optional<CborItem> arguments;
            try {
                arguments = toItem(c.replay.arguments(), 0);
            } catch (...) {
            }
            if (!arguments)
                return none("its arguments are no property-list value");
            entry.kind = c.replay.kind;
            entry.arguments = std::move(*arguments);
        }
        part.journalId = entry.id;
        entries.push_back(std::move(entry));
    }
    return entries;
}

bool UserDefaults::Connection::appendJournal(const QByteArray& frames)
{
    const auto fail = [&](const char* why) {
        if (!journalFailureSaid)
            qCWarning(lcUserDefaults)
                << "the kept changes of suite" << suiteName << "cannot be journalled (" << why
                << "); they are lost if this process ends before they are written";
        journalFailureSaid = true;
        return false;
    };
    if (journalWritesFail.load())
        return fail("no space left on device");
    if (journalBroken)
        return fail("the journal could not be mended after a failed write");
    if (journalSize + frames.size() > KeptJournal::maxJournalSize)
        return fail("the journal is full");
    bool made = false;
    if (journalFd < 0) {
        const QString dir = QFileInfo(file).absolutePath();
        for (int tries = 0; tries < 4 && journalFd < 0; ++tries) {
            const QString path = file + u".kept-"_s + QString::fromLatin1(newId().toHex());
            const int fd = ::open(
                QFile::encodeName(path).constData(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
            if (fd < 0)
                return fail(std::strerror(errno));
            // Another process may have taken it for an orphan between its making and its lock.
            if (::flock(fd, LOCK_EX | LOCK_NB) != 0 || !isFileAt(fd, path)) {
                // Empty, and nobody's: left, it would be taken for a live journal by every
                // process that cannot lock it either.
                if (isFileAt(fd, path))
                    ::unlink(QFile::encodeName(path).constData());
                ::close(fd);
                continue;
            }
            journalFd = fd;
            journalPath = path;
            journalSize = 0;
            journalSyncPending = std::make_shared<std::atomic<bool>>(false);
            made = true;
        }
        if (journalFd < 0)
            return fail("no journal could be made");
    }
    if (!writeAll(journalFd, frames)) {
        const char* why = std::strerror(errno);
        // A part of a frame would hide the frames after it. The entries before it stay, and the
        // journal stays locked: this process still writes them.
        journalBroken = ::ftruncate(journalFd, journalSize) != 0
            || ::lseek(journalFd, journalSize, SEEK_SET) < 0;
        return fail(why);
    }
    journalSize += frames.size();
    journalFailureSaid = false;
    syncJournalSoon(made);
    return true;
}

void UserDefaults::Connection::syncJournalSoon(bool made)
{
    // A killed process keeps what it wrote; only a power cut needs the sync, which on a slow disk
    // takes long enough to freeze a window. One waiting covers every write made before it runs.
    if (journalSyncPending->exchange(true))
        return;
    const int fd = ::fcntl(journalFd, F_DUPFD_CLOEXEC, 0);
    if (fd < 0) {
        journalSyncPending->store(false);
        return;
    }
    const QString dir = made ? QFileInfo(file).absolutePath() : QString();
    // Never destroyed: a sync may still be queued on it while the process ends.
    static auto& syncs = *new OperationQueue(u"store journal"_s);
    syncs.addOperation([fd, dir, pending = journalSyncPending] {
        pending->store(false);
        ::fdatasync(fd);
        ::close(fd);
        if (!dir.isEmpty())
            syncFolder(dir);
    });
}

bool UserDefaults::Connection::recordApplied(const std::deque<Kept>& backlog)
{
    std::vector<QByteArray> ids;
    for (const Kept& k : backlog) {
        if (!k.journalId.isEmpty())
            ids.push_back(k.journalId);
        ids.insert(ids.end(), k.supersededIds.begin(), k.supersededIds.end());
    }
    QString journal;
    {
        std::lock_guard lock(journalMutex);
        journal = QFileInfo(journalPath).fileName();
    }
    return insertApplied(db, ids, journal);
}

void UserDefaults::Connection::closeJournal(bool remove)
{
    if (journalFd < 0)
        return;
    // Removed while still locked: nobody takes it for an orphan in between. Left for the next
    // opening, it is on disk first, as the process ends.
    if (remove && !journalsLeftAfterWriting.load())
        ::unlink(QFile::encodeName(journalPath).constData());
    else
        ::fdatasync(journalFd);
    ::close(journalFd);
    journalFd = -1;
    journalPath.clear();
    journalSize = 0;
    journalBroken = false;
}

void UserDefaults::Connection::closeJournalIfIdle()
{
    std::lock_guard journalLock(journalMutex);
    {
        std::lock_guard lock(keptMutex);
        if (!kept.empty() || running > 0)
            return;
    }
    closeJournal(true);
}

bool UserDefaults::Connection::journalsToLookAt()
{
    if (file.isEmpty() || readOnly)
        return false;
    {
        std::lock_guard lock(journalMutex);
        if (!liveJournals.isEmpty() || !folderSeenNs)
            return true;
    }
    const auto changed = changedAtNs(QFileInfo(file).absolutePath());
    std::lock_guard lock(journalMutex);
    return !changed || changed != folderSeenNs;
}

std::deque<UserDefaults::Connection::Kept> UserDefaults::Connection::takeOrphans(
    std::vector<Claimed>& claimed)
{
    std::deque<Kept> backlog;
    if (!journalsToLookAt())
        return backlog;
    const QFileInfo info(file);
    const QString dir = info.absolutePath();
    QString own;
    QStringList left;
    {
        std::lock_guard lock(journalMutex);
        own = QFileInfo(journalPath).fileName();
        left = leftJournals;
    }
    // Taken before the listing: a journal made after it is looked for next time.
    const std::optional<qint64> changed = changedAtNs(dir);
    const std::optional<QStringList> listed = journalNames(file);
    if (!listed) {
        // Nothing is known of which journals stand: their ids stay, and so do they.
        const char* why = std::strerror(errno);
        std::lock_guard lock(journalMutex);
        folderSeenNs.reset();
        if (!std::exchange(folderListingFailureSaid, true))
            qCWarning(lcUserDefaults).noquote() << u"suite "_s + suiteName
                    + u": its folder cannot be listed ("_s + QString::fromUtf8(why)
                    + u"); changes left by runs that ended wait until it can be"_s;
        return backlog;
    }
    const QStringList& names = *listed;

    // The ids of journals that are gone are of no more use.
    sqlite3_stmt* stmt = nullptr;
    if (sqlite3_prepare_v2(db, "SELECT DISTINCT journal FROM kept_applied", -1, &stmt, nullptr)
        == SQLITE_OK) {
        QStringList gone;
        while (sqlite3_step(stmt) == SQLITE_ROW) {
            const QString name
                = QString::fromUtf8(static_cast<const char*>(sqlite3_column_blob(stmt, 0)),
                    sqlite3_column_bytes(stmt, 0));
            if (!names.contains(name))
                gone.append(name);
        }
        sqlite3_finalize(stmt);
        stmt = nullptr;
        if (!gone.isEmpty()
            && sqlite3_prepare_v2(
                   db, "DELETE FROM kept_applied WHERE journal = ?1", -1, &stmt, nullptr)
                == SQLITE_OK) {
            for (const QString& name : gone) {
                const QByteArray n = name.toUtf8();
                sqlite3_bind_text(stmt, 1, n.constData(), int(n.size()), SQLITE_TRANSIENT);
                sqlite3_step(stmt);
                sqlite3_reset(stmt);
            }
        }
        sqlite3_finalize(stmt);
        stmt = nullptr;
    }
    const auto applied = [&](const QByteArray& id) {
        sqlite3_stmt* query = nullptr;
        if (sqlite3_prepare_v2(db, "SELECT 1 FROM kept_applied WHERE id = ?1", -1, &query, nullptr)
            != SQLITE_OK)
            return false;
        sqlite3_bind_blob(query, 1, id.constData(), int(id.size()), SQLITE_STATIC);
        const bool found = sqlite3_step(query) == SQLITE_ROW;
        sqlite3_finalize(query);
        return found;
    };

    QStringList live;
    QStringList unknownKinds;
    QStringList unreadable;
    for (const QString& name : names) {
        if (name == own || left.contains(name))
            continue;
        const QString path = dir + u'/' + name;
        const OpenedJournal opened = openJournal(path);
        if (opened.fd < 0) {
            if (!opened.why.isEmpty())
                unreadable.append(name + u" ("_s + opened.why + u')');
            continue;
        }
        const int fd = opened.fd;
        if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
            ::close(fd);
            live.append(name);
            continue;
        }
        if (!isFileAt(fd, path)) {
            ::close(fd);
            continue;
        }
        const KeptJournal::ReadResult read = KeptJournal::read(readJournal(fd));
        int bad = read.skipped;
        bool unknown = false;
        std::deque<Kept> fromThis;
        std::vector<QByteArray> ids;
        for (const KeptJournal::Entry& entry : read.entries) {
            if (applied(entry.id))
                continue;
            Kept k { entry.key, std::nullopt, 0, {}, {}, {}, {}, {}, {}, true, entry.madeAt };
            if (entry.kind == valueKind) {
                const CborItem* seen = entry.arguments.find(u"seen"_s);
                const CborItem* value = entry.arguments.find(u"value"_s);
                // Bytes a reader would not take for a value are not stored.
                if (entry.arguments.kind != CborItem::Kind::Map || !seen
                    || seen->kind != CborItem::Kind::Integer
                    || (value
                        && (value->kind != CborItem::Kind::Bytes
                            || (!Cbor::isOneByteString(value->bytes)
                                && !decodeValue(value->bytes))))) {
                    ++bad;
                    continue;
                }
                k.value = value ? std::optional(value->bytes) : std::nullopt;
                k.writesSeen = seen->integer;
            } else {
                const auto replayer = replayerFor(entry.kind);
                if (!replayer) {
                    unknown = true;
                    break;
                }
                std::optional<Replayed> made;
                if (const auto arguments = fromItem(entry.arguments)) {
                    try {
                        made = (*replayer)(suiteName, entry.key, *arguments);
                    } catch (...) {
                    }
                }
                if (!made || (!made->update && (!made->form || !made->formUpdate))) {
                    ++bad;
                    continue;
                }
                k.update = std::move(made->update);
                k.form = std::move(made->form);
                k.formUpdate = std::move(made->formUpdate);
                k.done = std::move(made->done);
            }
            ids.push_back(entry.id);
            fromThis.push_back(std::move(k));
        }
        if (unknown) {
            unknownKinds.append(name);
            ::close(fd);
            continue;
        }
        if (bad > 0 || read.truncated)
            qCWarning(lcUserDefaults).noquote() << u"suite "_s + suiteName + u": "_s + name
                    + u" is damaged; "_s + QString::number(bad) + u" entries were skipped"_s
                    + (read.truncated ? u" and its end cut off"_s : QString());
        if (!insertApplied(db, ids, name)) {
            ::close(fd);
            continue;
        }
        for (Kept& k : fromThis)
            backlog.push_back(std::move(k));
        claimed.push_back({ path, fd });
    }
    {
        std::lock_guard lock(journalMutex);
        liveJournals = live;
        leftJournals.append(unknownKinds);
        const qint64 now = QDateTime::currentMSecsSinceEpoch() * 1'000'000;
        folderSeenNs = changed && now - *changed > settledNs ? changed : std::nullopt;
        // Once a process, however many: each opening of every program would say it again.
        if (!unknownKinds.isEmpty() && !std::exchange(unknownJournalsSaid, true))
            qCWarning(lcUserDefaults).noquote() << u"suite "_s + suiteName + u": "_s
                    + QString::number(unknownKinds.size())
                    + u" journals left by runs that ended hold changes this program does not "
                      u"know (first "_s
                    + unknownKinds.first() + u"); left for a program that does"_s;
        if (!unreadable.isEmpty() && !std::exchange(unreadableJournalsSaid, true))
            qCWarning(lcUserDefaults).noquote() << u"suite "_s + suiteName + u": "_s
                    + QString::number(unreadable.size())
                    + u" files at a journal's name cannot be read as one and are passed over: "_s
                    + unreadable.join(u", "_s);
    }
    return backlog;
}

void UserDefaults::Connection::releaseClaimed(std::vector<Claimed>& claimed, bool committed)
{
    for (const Claimed& c : claimed) {
        if (committed)
            ::unlink(QFile::encodeName(c.path).constData());
        ::close(c.fd);
    }
    if (!claimed.empty() && !committed) {
        // Still there: looked for again at the next write.
        std::lock_guard lock(journalMutex);
        folderSeenNs.reset();
    }
    claimed.clear();
}

void UserDefaults::Connection::replayLanded(std::vector<Ran>& replayed, bool committed)
{
    int written = 0;
    for (Ran& r : replayed) {
        const bool ok = r.ok && committed;
        written += ok ? 1 : 0;
        if (r.done)
            r.done(ok);
    }
    if (!replayed.empty())
        qCInfo(lcUserDefaults).noquote() << u"suite "_s + suiteName + u": "_s
                + QString::number(written) + u" of "_s + QString::number(replayed.size())
                + u" changes kept by a run that ended were written"_s;
    replayed.clear();
    if (written > 0)
        announceReplay();
}

void UserDefaults::Connection::announceReplay()
{
    // The changes' own `done` told this process's views; the other program's read the suite
    // again. Posted from the writing thread: the exit writer has no main loop left to post on.
    if (QCoreApplication::instance())
        DistributedNotificationCenter::defaultCenter().postNotificationName(
            replayedNotification, file);
}

void UserDefaults::observeReplays(QObject* owner, std::function<void()> handler) const
{
    if (d->file.isEmpty() || !handler)
        return;
    DistributedNotificationCenter::defaultCenter().addObserver(owner, replayedNotification, d->file,
        [handler = std::move(handler)](const QString&, const QString&) { handler(); });
}

void UserDefaults::Connection::replayAtOpen()
{
    if (file.isEmpty() || readOnly)
        return;
    // Off the calling thread (the main thread at start): the journals are stored data, and a
    // long one, or a lock held by another program, would hold up the first window.
    storeWorker().addOperation([weak = weak_from_this()] {
        const auto self = weak.lock();
        if (!self || storesEnded.load() || !self->journalsToLookAt())
            return;
        // Most openings find no journal but their own (made since, by a change kept meanwhile):
        // no need to take the lock.
        std::optional<QStringList> names = journalNames(self->file);
        if (names) {
            std::lock_guard lock(self->journalMutex);
            names->removeAll(QFileInfo(self->journalPath).fileName());
        }
        if (names && names->isEmpty())
            return;
        if (!self->retryKept(QDeadlineTimer(openReplayWaitMs)))
            self->scheduleRetry();
    });
}

} // namespace Tickerly::Foundation
