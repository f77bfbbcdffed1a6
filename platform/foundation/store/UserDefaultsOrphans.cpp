// The journals other processes left as they ended: found in the suite's folder, claimed (locked)
// and read as stored data, their changes not yet written made again and written once, their ids
// recorded in the same transaction; then every program's views are told.

#include "platform/foundation/store/UserDefaultsJournal_p.h"

#include "platform/foundation/store/UserDefaultsConnection_p.h"

#include "platform/foundation/base/DistributedNotificationCenter.h"
#include "platform/foundation/base/OperationQueue.h"
#include "platform/foundation/serialization/PropertyListCoding_p.h"
#include "platform/foundation/store/KeptJournal_p.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QFile>
#include <QFileInfo>

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

// A folder changed this recently may change again within the same tick of its clock: looked at
// again next time rather than trusted.
constexpr qint64 settledNs = 2'000'000'000;

// The longest the first handle waits to replay what another run left, as a change on the main
// thread does.
constexpr qint64 openReplayWaitMs = 30;

// Sent to every program with the suite's file as its object.
const QString replayedNotification = u"velmora.Tickerly.UserDefaults.replayedNotification"_s;

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

std::optional<qint64> changedAtNs(const QString& path)
{
    struct stat info { };
    if (::stat(QFile::encodeName(path).constData(), &info) != 0)
        return std::nullopt;
    return qint64(info.st_mtim.tv_sec) * 1'000'000'000 + info.st_mtim.tv_nsec;
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

} // namespace

void UserDefaults::registerReplayer(const QString& kind, Replayer replayer)
{
    auto& all = replayers();
    std::lock_guard lock(all.mutex);
    all.byKind[kind] = std::move(replayer);
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
    if (!isJournalFileAt(fd, path)) {
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
    if (!insertAppliedIds(m_database.writer(), orphan.ids, name)) {
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
        if (entry.kind != journalValueKind && !replayerFor(entry.kind)) {
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
    if (entry.kind == journalValueKind) {
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
