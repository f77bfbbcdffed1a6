#pragma once

#include "tickerlyfoundation_export.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QVariant>

#include <functional>
#include <memory>
#include <optional>

// A named settings suite shared by every process of an application group.
//
// Values are property-list values held in a QVariant: text (QString), integer (any integral
// type, read back as qint64), floating point (double), Boolean, data (QByteArray), date
// (QDateTime), array (QVariantList or QStringList) and dictionary with text keys (QVariantMap).
// Each suite is one SQLite database in WAL mode in the group container of the same name; a
// value is stored as CBOR. Nothing is cached: every read sees the last value committed by any
// thread or process.
//
// A handle is light; all handles of one suite in a process share one connection, serialised by
// a lock, so a handle may be used from any thread. A damaged database is moved aside (kept with
// a ".corrupt" suffix) and a new one started; when the suite cannot be opened at all the process
// runs on an in-memory suite and says so once in the log. Nothing here aborts.
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
    // Whether values outlive the process (false on the in-memory fallback).
    bool isPersistent() const;

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

    // Stores `value` (an invalid QVariant removes the key). False, with a log line, when the
    // value is no property-list value or the store refused the write.
    bool set(const QString& key, const QVariant& value);
    bool remove(const QString& key);

    // One atomic read-modify-write of `key`, done as one write transaction, so that no change
    // by another thread or process can come between the read and the write. `fn` runs with the
    // suite locked: it may read the suite (and sees its own transaction), but an update nested
    // in it fails. False when nothing could be written.
    bool update(const QString& key, const Updater& fn);

    // Every write is committed when it returns; kept for callers that ask for it. True.
    bool synchronize();

private:
    struct Connection;
    static std::shared_ptr<Connection> openSuite(const QString& suiteName);
    static std::shared_ptr<Connection> connectionFor(const QString& suiteName);
    std::shared_ptr<Connection> d;
};
