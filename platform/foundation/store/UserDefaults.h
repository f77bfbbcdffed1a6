#pragma once

#include "platform/foundation/Namespace.h"
#include "tickerlyfoundation_export.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QVariant>

#include <any>
#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

class QObject;

namespace Tickerly::Foundation {

// A named settings suite shared by every process of an application group.
//
// Values are property-list values held in a QVariant: text (QString), integer (any integral
// type, read back as qint64), floating point (double), Boolean, data (QByteArray), date
// (QDateTime), array (QVariantList or QStringList) and dictionary with text keys (QVariantMap).
// Each suite is one SQLite database in WAL mode in the group container of the same name; a
// value is stored as CBOR. Nothing is cached: every read sees the last value committed by any
// thread or process.
//
// A handle is light; all handles of one suite in a process share one writing connection,
// serialised by a lock, and one reading beside it, so a handle may be used from any thread and a
// read never waits for a writer. Writers of every process take turns on a
// lock file beside the database, first come first served as far as it matters: a writer that has
// waited a while goes next. A damaged database is moved aside (kept with a ".corrupt" suffix)
// under that lock and a new one started; every process notices the replaced file and reopens it.
// A stored value that cannot be decoded is copied aside (table "kept_aside") before anything is
// written over it. A suite whose file can be read but not written is opened read-only: its
// values are visible and every change is refused. When the suite cannot be opened at all the
// process runs on an in-memory suite and says so once in the log. Nothing here aborts.
class TICKERLYFOUNDATION_EXPORT UserDefaults {
public:
    // Given the stored value, or nothing when the key is unset. Returns nothing to leave the
    // key as it is (nothing is written), an invalid QVariant to remove the key, or the new value.
    using Updater = std::function<std::optional<QVariant>(const std::optional<QVariant>& current)>;

    explicit UserDefaults(const QString& suiteName);
    ~UserDefaults();
    UserDefaults(const UserDefaults&) = default;
    UserDefaults& operator=(const UserDefaults&) = default;

    QString suiteName() const;
    // How a change that may be kept ended.
    enum class [[nodiscard]] Outcome {
        Done, // written (or, for an update, left as it was on purpose)
        Kept, // the write lock stayed taken; the change is kept and retried in order
        // Kept, but the journal could not take it (a full disk): written if the lock frees
        // before this process ends, lost if it does not.
        HeldInMemory,
        Failed, // refused (read-only suite, no property-list value, store error)
    };
    // Kept or HeldInMemory: the change is still to be written.
    static bool isKept(Outcome outcome)
    {
        return outcome == Outcome::Kept || outcome == Outcome::HeldInMemory;
    }

    // Whether changes outlive the process (false on the in-memory fallback and a read-only suite).
    bool isPersistent() const;
    // Whether the suite's file could only be opened for reading.
    bool isReadOnly() const;

    // The stored value, or an invalid QVariant when the key is unset or its value unreadable.
    QVariant value(const QString& key) const;
    // Text; a number gives its decimal form.
    std::optional<QString> string(const QString& key) const;
    std::optional<QByteArray> data(const QString& key) const;
    std::optional<QDateTime> date(const QString& key) const;
    std::optional<QVariantList> array(const QString& key) const;
    std::optional<QVariantMap> dictionary(const QString& key) const;
    // A number (or text holding one); 0 otherwise. Fractions are cut, out-of-range saturates.
    qint64 integer(const QString& key) const;
    double doubleValue(const QString& key) const;
    // A non-zero number, or the text "true"/"yes"/"1" in any case; false otherwise.
    bool boolean(const QString& key) const;

    // Stores `value` (an invalid QVariant removes the key). Failed, with a log line, when the
    // value is no property-list value or the store refused the write; Kept when the write lock
    // stayed taken: that change is retried (see keptChanges()), never dropped (HeldInMemory when
    // the journal could not take it, see Replay). On the main
    // thread the lock is waited for a frame or two at most; elsewhere up to the wait limit.
    Outcome set(const QString& key, const QVariant& value);
    Outcome remove(const QString& key);
    // Stores every entry of `values` in one transaction (an invalid value removes its key), so no
    // reader sees some and not the others. Kept like set() when the lock stays taken.
    Outcome setValues(const QVariantMap& values);
    // Data written straight into the form the store keeps, so that a value of megabytes reaches
    // the file with no copy of it made on the way: startData(size) gives the beginning, the
    // caller appends exactly `size` bytes and hands the whole to setValues as one of `data`.
    static QByteArray startData(qsizetype size);
    // As setValues(values), with data begun by startData stored too, moved in. Failed, with
    // nothing written, when one of them does not hold the length it was begun with.
    Outcome setValues(const QVariantMap& values, std::vector<std::pair<QString, QByteArray>> data);

    // One atomic read-modify-write of `key`, done as one write transaction, so that no change
    // by another thread or process can come between the read and the write. `fn` runs with the
    // suite locked: it may read the suite (and sees its own transaction), but an update nested
    // in it fails. False when nothing could be written. Never kept: on the main thread it waits
    // a frame or two at most, like set(), and then fails.
    bool update(const QString& key, const Updater& fn);
    // A change that another process can make again should this one end before it is written
    // (killed, or quit while the lock stays taken): the process writes a kept change, before it
    // says Kept, to a journal beside the suite, and the next opening of the suite by any program
    // makes it from there, exactly once. `kind` names the replayer registered for it; `arguments`
    // (a property-list value) is asked for only when the change is kept, on the caller's thread.
    // set() and setValues() are journalled as they are; data begun by startData is not (it is
    // what a refresh fetches, and fetched again). A change with no kind lives in memory only, and
    // is Kept all the same; one the journal could not take is HeldInMemory.
    struct Replay {
        QString kind;
        std::function<QVariant()> arguments;
    };
    // As update, but when the write lock stays taken the change is kept, in order with the
    // process's other kept changes, and retried before its next write and by a retry on the main
    // queue; `fn` must then own what it uses. `done` (any thread) learns how a kept change ended.
    // The lock is waited for as by set(). `replay` journals it (see Replay).
    Outcome updateOrKeep(const QString& key, Updater fn,
        std::function<void(bool written)> done = {}, Replay replay = {});
    // How a key's value is held while changes run on it, so that a run of them (a backlog of
    // kept additions to a long list) decodes the stored value once and encodes it once, rather
    // than once a change. `decode` is given the stored value (nothing when unset) and `encode`
    // gives what to store (an invalid QVariant removes the key). Both run with the suite locked,
    // on whichever thread writes, and must own what they use.
    struct Form {
        std::function<std::any(const std::optional<QVariant>& stored)> decode;
        std::function<QVariant(const std::any& held)> encode;
    };
    // Changes the held value; false to leave the key as it is.
    using FormUpdater = std::function<bool(std::any& held)>;
    // What a replayer makes of its arguments: an update, or an update of the value as `form`
    // holds it. `done` learns, in the process that replays it, how it went.
    struct Replayed {
        Updater update;
        std::shared_ptr<const Form> form;
        FormUpdater formUpdate;
        std::function<void(bool written)> done;
    };
    // Given arguments read back from disk, which may be damaged: nothing when they make no change.
    using Replayer = std::function<std::optional<Replayed>(
        const QString& suiteName, const QString& key, const QVariant& arguments)>;
    // Process-wide, before the suites are used (the libraries register theirs as they load).
    // A journal holding a kind this process does not know is left for a program that does.
    static void registerReplayer(const QString& kind, Replayer replayer);

    // As updateOrKeep above, on the value as `form` holds it.
    Outcome updateOrKeep(const QString& key, std::shared_ptr<const Form> form, FormUpdater fn,
        std::function<void(bool written)> done = {}, Replay replay = {});
    // Writes the kept changes now, and those another process left in its journal when it ended,
    // waiting for the lock at most `wait`. True when none of this process's is left.
    bool retryKeptChanges(std::chrono::milliseconds wait = std::chrono::milliseconds(0));
    // Kept changes still to write: one a key for plain values (a later one replaces the earlier),
    // one an update.
    int keptChanges() const;
    // Calls `handler` on the main thread, as long as `owner` lives, when a process (this one
    // included) has written changes that a run which ended left in this suite's journal, so that
    // the views of every program show what the suite now holds. Through the session bus.
    void observeReplays(QObject* owner, std::function<void()> handler) const;

    // Copies `value` aside under `key` (in its own table) before a caller writes over a value it
    // could not read. Inside update's function it joins that transaction.
    bool keepAside(const QString& key, const QByteArray& value);
    // The values kept aside for `key`, oldest first: raw stored bytes or what a caller kept.
    std::vector<QByteArray> keptAside(const QString& key) const;

    // How long a change waits for another process's transaction before it is kept for later
    // (30 s unless changed; the tests shorten it). Process-wide.
    static void setWriteWaitLimit(std::chrono::milliseconds limit);
    // Writes the kept changes of every suite of the process, waiting for the lock at most `bound`
    // in all. What stays unwritten is said in the log: a journalled change is left for the next
    // opening of its suite, any other is given up. Called as a program quits (endBackgroundWork),
    // while everything a kept change uses still exists. True when all were written.
    static bool writeKeptChangesBeforeExit(std::chrono::milliseconds bound);

    // Lowers the longest stored value read (0 puts back the decoder's bound, past which a value
    // reads as nothing with a line in the log), so that a test shows the bound with a small
    // value. Tests only.
    static void setMaxValueSizeForTesting(qsizetype size);

    // Every write is committed when it returns; kept for callers that ask for it. True.
    bool synchronize();

private:
    struct Connection;
    struct OpenSuites;
    static OpenSuites& openSuites();
    static std::shared_ptr<Connection> openSuite(const QString& suiteName);
    static std::shared_ptr<Connection> connectionFor(const QString& suiteName);
    std::shared_ptr<Connection> d;
};

} // namespace Tickerly::Foundation
