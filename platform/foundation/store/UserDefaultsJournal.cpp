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
            entry.kind = valueKind;
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
        if (::flock(fd, LOCK_EX | LOCK_NB) != 0 || !isFileAt(fd, path)) {
            // Empty, and nobody's: left, it would be taken for a live journal by every
            // process that cannot lock it either.
            if (isFileAt(fd, path))
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
    return insertApplied(m_database.writer(), ids, ownName());
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

bool SuiteJournal::othersToLookAt()
{
    if (m_database.file().isEmpty() || m_database.isReadOnly())
        return false;
    {
        std::lock_guard lock(m_mutex);
        if (!m_liveJournals.isEmpty() || !m_folderSeenNs)
            return true;
    }
    const auto changed = changedAtNs(QFileInfo(m_database.file()).absolutePath());
    std::lock_guard lock(m_mutex);
    return !changed || changed != m_folderSeenNs;
}

bool SuiteJournal::othersInFolder()
{
    std::optional<QStringList> names = journalNames(m_database.file());
    if (names)
        names->removeAll(ownName());
    return !names || !names->isEmpty();
}

std::optional<QStringList> SuiteJournal::listFolder()
{
    const std::optional<QStringList> listed = journalNames(m_database.file());
    if (listed)
        return listed;
    // Nothing is known of which journals stand: their ids stay, and so do they.
    const char* why = std::strerror(errno);
    std::lock_guard lock(m_mutex);
    m_folderSeenNs.reset();
    if (!std::exchange(m_folderListingFailureSaid, true))
        qCWarning(lcUserDefaults).noquote() << u"suite "_s + m_database.suiteName()
                + u": its folder cannot be listed ("_s + QString::fromUtf8(why)
                + u"); changes left by runs that ended wait until it can be"_s;
    return std::nullopt;
}

void SuiteJournal::forgetGone(const QStringList& names)
{
    sqlite3* db = m_database.writer();
    sqlite3_stmt* stmt = nullptr;
    if (sqlite3_prepare_v2(db, "SELECT DISTINCT journal FROM kept_applied", -1, &stmt, nullptr)
        != SQLITE_OK)
        return;
    QStringList gone;
    while (sqlite3_step(stmt) == SQLITE_ROW) {
        const QString name = QString::fromUtf8(
            static_cast<const char*>(sqlite3_column_blob(stmt, 0)), sqlite3_column_bytes(stmt, 0));
        if (!names.contains(name))
            gone.append(name);
    }
    sqlite3_finalize(stmt);
    stmt = nullptr;
    if (!gone.isEmpty()
        && sqlite3_prepare_v2(db, "DELETE FROM kept_applied WHERE journal = ?1", -1, &stmt, nullptr)
            == SQLITE_OK) {
        for (const QString& name : gone) {
            const QByteArray n = name.toUtf8();
            sqlite3_bind_text(stmt, 1, n.constData(), int(n.size()), SQLITE_TRANSIENT);
            sqlite3_step(stmt);
            sqlite3_reset(stmt);
        }
    }
    sqlite3_finalize(stmt);
}

bool SuiteJournal::isApplied(const QByteArray& id)
{
    sqlite3_stmt* query = nullptr;
    if (sqlite3_prepare_v2(
            m_database.writer(), "SELECT 1 FROM kept_applied WHERE id = ?1", -1, &query, nullptr)
        != SQLITE_OK)
        return false;
    sqlite3_bind_blob(query, 1, id.constData(), int(id.size()), SQLITE_STATIC);
    const bool found = sqlite3_step(query) == SQLITE_ROW;
    sqlite3_finalize(query);
    return found;
}

std::deque<KeptChange> SuiteJournal::takeOrphans(std::vector<ClaimedJournal>& claimed)
{
    std::deque<KeptChange> backlog;
    if (!othersToLookAt())
        return backlog;
    QString own;
    QStringList left;
    {
        std::lock_guard lock(m_mutex);
        own = QFileInfo(m_path).fileName();
        left = m_leftJournals;
    }
    // Taken before the listing: a journal made after it is looked for next time.
    const std::optional<qint64> changed = changedAtNs(QFileInfo(m_database.file()).absolutePath());
    const std::optional<QStringList> names = listFolder();
    if (!names)
        return backlog;
    forgetGone(*names);
    Look look;
    for (const QString& name : *names) {
        if (name != own && !left.contains(name))
            takeOrphan(name, look, backlog, claimed);
    }
    noteLook(look, changed);
    return backlog;
}

void SuiteJournal::takeOrphan(const QString& name, Look& look, std::deque<KeptChange>& backlog,
    std::vector<ClaimedJournal>& claimed)
{
    const QString path = QFileInfo(m_database.file()).absolutePath() + u'/' + name;
    const OpenedJournal opened = openJournal(path);
    if (opened.fd < 0) {
        if (!opened.why.isEmpty())
            look.unreadable.append(name + u" ("_s + opened.why + u')');
        return;
    }
    const int fd = opened.fd;
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        ::close(fd);
        look.live.append(name);
        return;
    }
    if (!isFileAt(fd, path)) {
        ::close(fd);
        return;
    }
    const KeptJournal::ReadResult read = KeptJournal::read(readJournal(fd));
    Orphan orphan = madeAgain(read);
    if (orphan.unknownKind) {
        look.unknownKinds.append(name);
        ::close(fd);
        return;
    }
    if (orphan.bad > 0 || read.truncated)
        qCWarning(lcUserDefaults).noquote() << u"suite "_s + m_database.suiteName() + u": "_s + name
                + u" is damaged; "_s + QString::number(orphan.bad) + u" entries were skipped"_s
                + (read.truncated ? u" and its end cut off"_s : QString());
    if (!insertApplied(m_database.writer(), orphan.ids, name)) {
        ::close(fd);
        return;
    }
    for (KeptChange& k : orphan.changes)
        backlog.push_back(std::move(k));
    claimed.push_back({ path, fd });
}

SuiteJournal::Orphan SuiteJournal::madeAgain(const KeptJournal::ReadResult& read)
{
    Orphan orphan;
    orphan.bad = read.skipped;
    for (const KeptJournal::Entry& entry : read.entries) {
        if (isApplied(entry.id))
            continue;
        if (entry.kind != valueKind && !replayerFor(entry.kind)) {
            orphan.unknownKind = true;
            break;
        }
        KeptChange k { entry.key, std::nullopt, 0, {}, {}, {}, {}, {}, {}, true, entry.madeAt };
        if (!madeAgain(entry, k)) {
            ++orphan.bad;
            continue;
        }
        orphan.ids.push_back(entry.id);
        orphan.changes.push_back(std::move(k));
    }
    return orphan;
}

bool SuiteJournal::madeAgain(const KeptJournal::Entry& entry, KeptChange& k)
{
    if (entry.kind == valueKind) {
        const CborItem* seen = entry.arguments.find(u"seen"_s);
        const CborItem* value = entry.arguments.find(u"value"_s);
        // Bytes a reader would not take for a value are not stored.
        if (entry.arguments.kind != CborItem::Kind::Map || !seen
            || seen->kind != CborItem::Kind::Integer
            || (value
                && (value->kind != CborItem::Kind::Bytes
                    || (!Cbor::isOneByteString(value->bytes) && !decodeValue(value->bytes)))))
            return false;
        k.value = value ? std::optional(value->bytes) : std::nullopt;
        k.writesSeen = seen->integer;
        return true;
    }
    const auto replayer = replayerFor(entry.kind);
    std::optional<UserDefaults::Replayed> made;
    if (const auto arguments = fromItem(entry.arguments)) {
        try {
            made = (*replayer)(m_database.suiteName(), entry.key, *arguments);
        } catch (...) {
        }
    }
    if (!made || (!made->update && (!made->form || !made->formUpdate)))
        return false;
    k.update = std::move(made->update);
    k.form = std::move(made->form);
    k.formUpdate = std::move(made->formUpdate);
    k.done = std::move(made->done);
    return true;
}

void SuiteJournal::noteLook(const Look& look, const std::optional<qint64>& changed)
{
    const QString& suiteName = m_database.suiteName();
    std::lock_guard lock(m_mutex);
    m_liveJournals = look.live;
    m_leftJournals.append(look.unknownKinds);
    const qint64 now = QDateTime::currentMSecsSinceEpoch() * 1'000'000;
    m_folderSeenNs = changed && now - *changed > settledNs ? changed : std::nullopt;
    // Once a process, however many: each opening of every program would say it again.
    if (!look.unknownKinds.isEmpty() && !std::exchange(m_unknownJournalsSaid, true))
        qCWarning(lcUserDefaults).noquote() << u"suite "_s + suiteName + u": "_s
                + QString::number(look.unknownKinds.size())
                + u" journals left by runs that ended hold changes this program does not "
                  u"know (first "_s
                + look.unknownKinds.first() + u"); left for a program that does"_s;
    if (!look.unreadable.isEmpty() && !std::exchange(m_unreadableJournalsSaid, true))
        qCWarning(lcUserDefaults).noquote() << u"suite "_s + suiteName + u": "_s
                + QString::number(look.unreadable.size())
                + u" files at a journal's name cannot be read as one and are passed over: "_s
                + look.unreadable.join(u", "_s);
}

void SuiteJournal::releaseClaimed(std::vector<ClaimedJournal>& claimed, bool committed)
{
    for (const ClaimedJournal& c : claimed) {
        if (committed)
            ::unlink(QFile::encodeName(c.path).constData());
        ::close(c.fd);
    }
    if (!claimed.empty() && !committed) {
        // Still there: looked for again at the next write.
        std::lock_guard lock(m_mutex);
        m_folderSeenNs.reset();
    }
    claimed.clear();
}

void SuiteJournal::replayLanded(std::vector<KeptRun>& replayed, bool committed)
{
    int written = 0;
    for (KeptRun& r : replayed) {
        const bool ok = r.ok && committed;
        written += ok ? 1 : 0;
        if (r.done)
            r.done(ok);
    }
    if (!replayed.empty())
        qCInfo(lcUserDefaults).noquote() << u"suite "_s + m_database.suiteName() + u": "_s
                + QString::number(written) + u" of "_s + QString::number(replayed.size())
                + u" changes kept by a run that ended were written"_s;
    replayed.clear();
    if (written > 0)
        announceReplay();
}

void SuiteJournal::announceReplay()
{
    // The changes' own `done` told this process's views; the other program's read the suite
    // again. Posted from the writing thread: the exit writer has no main loop left to post on.
    if (QCoreApplication::instance())
        DistributedNotificationCenter::defaultCenter().postNotificationName(
            replayedNotification, m_database.file());
}

void UserDefaults::observeReplays(QObject* owner, std::function<void()> handler) const
{
    if (d->database().file().isEmpty() || !handler)
        return;
    DistributedNotificationCenter::defaultCenter().addObserver(owner, replayedNotification,
        d->database().file(),
        [handler = std::move(handler)](const QString&, const QString&) { handler(); });
}

void UserDefaults::Connection::replayAtOpen()
{
    if (m_openReplayTried.exchange(true) || m_database.file().isEmpty() || m_database.isReadOnly())
        return;
    // Off the calling thread (the main thread at start): the journals are stored data, and a
    // long one, or a lock held by another program, would hold up the first window.
    storeWorker().addOperation([weak = weak_from_this()] {
        const auto self = weak.lock();
        if (!self || StoreProcess::ended() || !self->m_journal.othersToLookAt())
            return;
        // Most openings find no journal but their own (made since, by a change kept meanwhile):
        // no need to take the lock.
        if (!self->m_journal.othersInFolder())
            return;
        if (!self->retryKept(QDeadlineTimer(openReplayWaitMs)))
            self->scheduleRetry();
    });
}

} // namespace Tickerly::Foundation
