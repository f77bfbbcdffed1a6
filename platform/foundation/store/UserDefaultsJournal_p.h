#pragma once

// The journals of a suite's kept changes: this process's own (UserDefaultsJournal.cpp) and
// those other processes left as they ended (UserDefaultsOrphans.cpp).
// Internal to TickerlyFoundation.

#include "platform/foundation/Namespace.h"
#include "platform/foundation/store/KeptJournal_p.h"
#include "platform/foundation/store/UserDefaultsKept_p.h"

#include <QStringList>

#include <atomic>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

struct sqlite3;

namespace Tickerly::Foundation {

// The kind of an entry that holds a plain value (or its removal), as set() and setValues() keep it.
extern const QString journalValueKind;
// Whether `fd` is still the file at `path`: a journal removed (or replaced) between its opening
// and its locking belongs to nobody.
bool isJournalFileAt(int fd, const QString& path);
// Records `ids` of `journal` as written, inside the transaction.
bool insertAppliedIds(sqlite3* db, const std::vector<QByteArray>& ids, const QString& journal);

// Another process's journal taken to be replayed: held locked until its transaction is over,
// then removed when that committed.
struct ClaimedJournal {
    QString path;
    int fd = -1;
};

// The journals beside one suite's database: this process's own, made at the first kept change
// that has an entry, locked (flock) while it is open, removed once nothing is kept; and those
// other processes left as they ended, claimed and replayed here. Made with the suite's connection
// after its database, which it reads and writes through; left, with what it still holds, for the
// next opening when the connection ends. Any thread.
class SuiteJournal {
public:
    // This journal's lock held: taken before the kept queue's, never after.
    class Held {
    public:
        Held(Held&&) = default;

    private:
        friend class SuiteJournal;
        explicit Held(std::mutex& mutex)
            : m_lock(mutex)
        {
        }
        std::unique_lock<std::mutex> m_lock;
    };
    enum class Close { Remove, Leave };

    explicit SuiteJournal(StoreDatabase& database);
    ~SuiteJournal();
    SuiteJournal(const SuiteJournal&) = delete;
    SuiteJournal& operator=(const SuiteJournal&) = delete;

    [[nodiscard]] Held hold();

    // The entries of `parts` (each part learns its id); nothing, with a line in the log, when
    // they cannot be journalled: they live in memory only. `seen` is what the file counted of
    // each plain value's key.
    std::vector<KeptJournal::Entry> entries(std::vector<KeptChange>& parts,
        const std::vector<qint64>& seen, bool journalValues, const UserDefaults::Replay& replay);
    // Their writing to this process's journal, before they are kept; the sync to disk follows on
    // the journal's own thread. False, with a line in the log, when they cannot be written.
    bool append(const Held& held, const QByteArray& frames);
    // Once nothing is kept (or, at the end, with what is left in it for the next opening).
    void close(const Held& held, Close how);
    // Records the ids of `backlog`'s journalled changes as written, inside the transaction.
    bool recordApplied(const std::deque<KeptChange>& backlog);

    // Whether other processes' journals may wait to be replayed: cheap, a look at the folder.
    bool othersToLookAt();
    // Whether the folder holds any journal but this process's own.
    bool othersInFolder();
    // Inside the write transaction: the changes not yet written of the journals of processes that
    // ended, each journal's in order, their ids recorded. `claimed` is handed to releaseClaimed
    // once the transaction is over.
    std::deque<KeptChange> takeOrphans(std::vector<ClaimedJournal>& claimed);
    void releaseClaimed(std::vector<ClaimedJournal>& claimed, bool committed);
    // Where the changes of runs that ended are known to have landed (or not): each learns it, and
    // through it the views of this program, as after any kept change; the other program's views
    // are told by announceReplay.
    void replayLanded(std::vector<KeptRun>& replayed, bool committed);

private:
    // What one look at the other journals found, beside the changes taken.
    struct Look {
        QStringList live;
        QStringList unknownKinds;
        QStringList unreadable;
    };
    // An orphan's entries made again.
    struct Orphan {
        std::deque<KeptChange> changes;
        std::vector<QByteArray> ids;
        int bad = 0;
        bool unknownKind = false;
    };

    // Syncs what was written of the journal, on the journal's own thread; with the folder, once
    // the journal was just made. Under the journal's lock.
    void syncSoon(bool made);
    bool openOwn();
    QString ownName();
    // The journals' names in the folder; nothing, said once in the log, when it cannot be listed.
    std::optional<QStringList> listFolder();
    // The ids of journals that are gone are of no more use.
    void forgetGone(const QStringList& names);
    bool isApplied(const QByteArray& id);
    // The journal `name`, claimed (locked) and read, its changes added to `backlog`.
    void takeOrphan(const QString& name, Look& look, std::deque<KeptChange>& backlog,
        std::vector<ClaimedJournal>& claimed);
    Orphan madeAgain(const KeptJournal::ReadResult& read);
    // False when the entry is damaged.
    bool madeAgain(const KeptJournal::Entry& entry, KeptChange& k);
    void noteLook(const Look& look, const std::optional<qint64>& changed);
    // Once what a run that ended left is written: every program's views are told (see
    // UserDefaults::observeReplays).
    void announceReplay();

    StoreDatabase& m_database;
    std::mutex m_mutex;
    int m_fd = -1;
    QString m_path;
    qint64 m_size = 0;
    bool m_broken = false;
    bool m_failureSaid = false;
    // Set while a sync of this journal's last writes waits on the sync thread.
    std::shared_ptr<std::atomic<bool>> m_syncPending;
    // The other processes' journals: those found locked by their owners at the last look, those
    // left for a program that knows their kinds, and when the folder was last looked at.
    QStringList m_liveJournals;
    QStringList m_leftJournals;
    std::optional<qint64> m_folderSeenNs;
    // Said once a process: journals of kinds this program does not know, files at a journal's
    // name that cannot be read as one, a folder that could not be listed.
    bool m_unknownJournalsSaid = false;
    bool m_unreadableJournalsSaid = false;
    bool m_folderListingFailureSaid = false;
};

} // namespace Tickerly::Foundation
