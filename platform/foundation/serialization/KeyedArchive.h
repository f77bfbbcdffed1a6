#pragma once

#include "platform/foundation/Namespace.h"
#include "platform/foundation/base/Url.h"

#include "tickerlyfoundation_export.h"

#include <QByteArray>
#include <QDateTime>
#include <QImage>
#include <QList>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

namespace Tickerly::Foundation {

class KeyedArchiver;
class KeyedUnarchiver;
struct CborItem;

// An object that can be written into a keyed archive: a class name and keyed fields.
// Reading it back is the job of the decoder registered for that name with KeyedUnarchiver.
class TICKERLYFOUNDATION_EXPORT Coding {
public:
    virtual ~Coding();
    // The name written as the object's class; frozen once archives exist.
    virtual QString archivedClassName() const = 0;
    virtual void encodeWithCoder(KeyedArchiver& coder) const = 0;
};

// Writes an object graph as a keyed archive (CBOR: a header map holding the root; each object a
// map with its "$class" and its keyed fields; URLs as tag 32, dates as tag 1, images as objects
// of class "Image" holding PNG bytes). Used on one thread at a time.
class TICKERLYFOUNDATION_EXPORT KeyedArchiver {
public:
    static QByteArray archivedDataWithRootObject(const Coding& root);
    static QByteArray archivedDataWithRootArray(const QList<std::shared_ptr<const Coding>>& root);
    template <typename T>
    static QByteArray archivedDataWithRootObjects(const QList<std::shared_ptr<T>>& root)
    {
        QList<std::shared_ptr<const Coding>> objects;
        objects.reserve(root.size());
        for (const auto& o : root)
            objects.append(o);
        return archivedDataWithRootArray(objects);
    }

    // One object archived on its own, as an element of a root array that is put together later
    // by archivedDataWithEncodedRootArray: objects can be archived on several threads and in any
    // order, and the archive is the same bytes as archivedDataWithRootArray of them all.
    static QByteArray encodedObject(const Coding& object);
    static QByteArray archivedDataWithEncodedRootArray(const QList<QByteArray>& encodedObjects);
    // The same archive appended to `out`, and its length, so that it can be written straight
    // into a buffer made for it.
    static qsizetype sizeOfEncodedRootArray(const QList<QByteArray>& encodedObjects);
    static void appendEncodedRootArray(QByteArray& out, const QList<QByteArray>& encodedObjects);

    // Each writes one field; a later write under the same key replaces the earlier one.
    void encodeString(const QString& value, const QString& key);
    void encodeBool(bool value, const QString& key);
    void encodeInteger(qint64 value, const QString& key);
    void encodeDouble(double value, const QString& key);
    void encodeData(const QByteArray& value, const QString& key);
    void encodeDate(const QDateTime& value, const QString& key); // an invalid date writes nothing
    void encodeUrl(const Url& value, const QString& key);
    void encodeImage(const QImage& value, const QString& key); // a null image writes nothing
    void encodeStrings(const QStringList& value, const QString& key);
    void encodeObject(const Coding& value, const QString& key);
    void encodeObjects(const QList<std::shared_ptr<const Coding>>& value, const QString& key);

    KeyedArchiver(const KeyedArchiver&) = delete;
    KeyedArchiver& operator=(const KeyedArchiver&) = delete;
    ~KeyedArchiver();

private:
    struct Fields;
    KeyedArchiver();
    static void appendObject(QByteArray& out, const Coding& object);
    static void appendObjects(QByteArray& out, const QList<std::shared_ptr<const Coding>>& objects);
    QByteArray& values();
    // The field's value was appended to values() from `begin` on.
    void endField(const QString& key, qsizetype begin);
    std::unique_ptr<Fields> m_fields;
};

// Reads keyed archives. Every way bytes can be wrong (not an archive, truncated, unknown class,
// wrong type, absurd nesting or size) gives nothing; nothing throws and nothing aborts.
//
// Classes are found by name in a process-wide table: registerClass() adds a decoder, and
// setClassForClassName() lets archives written under another name decode with it. The table
// is thread-safe and lives in this library only, so every library shares it.
//
// An instance is the view a decoder gets of one archived object, on the decoding thread.
class TICKERLYFOUNDATION_EXPORT KeyedUnarchiver {
public:
    // Makes an object from its fields, or returns null when a required field is missing or wrong.
    using Decoder = std::function<std::shared_ptr<Coding>(const KeyedUnarchiver& coder)>;

    // The largest archive that reads, and the most elements of an archived array: an archive
    // that must be read back, stored as a value of a settings suite, keeps within both. Anything
    // past them reads as nothing, and the log says so. The length is the longest list the
    // stores write (50,000 stories), with a little room.
    static constexpr qsizetype maxArchiveSize = 60 * 1024 * 1024;
    static constexpr qsizetype maxArrayLength = 50'000;
    // Lowers the array length read below maxArrayLength (0 puts it back), so that a test shows
    // the limit with a tenth of the elements. Tests only.
    static void setMaxArrayLengthForTesting(qsizetype length);
    // How many archived arrays this process has read (unarchiveArrayWithData), so that a test
    // counts the readings of a stored list. Tests only.
    static quint64 arraysReadForTesting();

    static void registerClass(const QString& className, Decoder decoder);
    // Objects archived under `className` decode with the decoder of `cls`.
    static void setClassForClassName(const QString& cls, const QString& className);

    // The root object; null when the bytes are no archive, the root is no object, its class is
    // unknown or its decoder refused it.
    static std::shared_ptr<Coding> unarchiveObjectWithData(const QByteArray& data);
    // The root array, one entry per element: null for an element that did not decode (not an
    // object, unknown class, refused by its decoder). Nothing when the bytes are no archive or
    // the root is no array.
    static std::optional<QList<std::shared_ptr<Coding>>> unarchiveArrayWithData(
        const QByteArray& data);
    // As unarchiveArrayWithData, but of damaged bytes it gives the whole elements stored before
    // the damage.
    static std::optional<QList<std::shared_ptr<Coding>>> readableArrayWithData(
        const QByteArray& data);
    template <typename T> static std::shared_ptr<T> unarchiveObjectWithData(const QByteArray& data)
    {
        return std::dynamic_pointer_cast<T>(unarchiveObjectWithData(data));
    }

    // The class name as archived (before any alias was applied).
    QString archivedClassName() const;
    bool containsValueForKey(const QString& key) const;
    // Each gives nothing when the key is absent or holds another kind.
    std::optional<QString> decodeString(const QString& key) const;
    // A Boolean or any number (non-zero is true).
    std::optional<bool> decodeBool(const QString& key) const;
    // An integer, or a floating-point number with no fraction within range.
    std::optional<qint64> decodeInteger(const QString& key) const;
    std::optional<double> decodeDouble(const QString& key) const;
    std::optional<QByteArray> decodeData(const QString& key) const;
    std::optional<QDateTime> decodeDate(const QString& key) const;
    std::optional<Url> decodeUrl(const QString& key) const;
    // Null when absent, no image object, or bytes that are no image.
    QImage decodeImage(const QString& key) const;
    std::optional<QStringList> decodeStrings(const QString& key) const;
    // A nested object; null as for the root.
    std::shared_ptr<Coding> decodeObject(const QString& key) const;
    template <typename T> std::shared_ptr<T> decodeObject(const QString& key) const
    {
        return std::dynamic_pointer_cast<T>(decodeObject(key));
    }
    // A nested array of objects, null entries as for the root array.
    std::optional<QList<std::shared_ptr<Coding>>> decodeObjects(const QString& key) const;

    KeyedUnarchiver(const KeyedUnarchiver&) = delete;
    KeyedUnarchiver& operator=(const KeyedUnarchiver&) = delete;

private:
    friend class ArchivedArray;
    explicit KeyedUnarchiver(const CborItem& object);
    const CborItem* field(const QString& key) const;
    static std::shared_ptr<Coding> decodeItem(const CborItem& item);
    static std::optional<QList<std::shared_ptr<Coding>>> decodeArrayItem(const CborItem& item);
    const CborItem& m_object;
};

// The root array of an archive, its elements decoded one at a time when asked for: a long stored
// list can be read up to what is needed. The bytes are checked whole first.
class TICKERLYFOUNDATION_EXPORT ArchivedArray {
public:
    // Nothing where unarchiveArrayWithData gives nothing.
    static std::optional<ArchivedArray> fromData(const QByteArray& data);

    qsizetype size() const { return qsizetype(m_elements.size()); }
    // The element at `index` as unarchiveArrayWithData gives it.
    std::shared_ptr<Coding> objectAt(qsizetype index) const;
    // Every element, in order, as objectAt gives each.
    QList<std::shared_ptr<Coding>> objects() const;
    // The registered class the element at `index` decodes with (its archived class name, any
    // alias applied); empty when it is no object or no registered class decodes it.
    QString decodingClassAt(qsizetype index) const;

private:
    QByteArray m_data;
    std::vector<std::pair<qsizetype, qsizetype>> m_elements;
};

} // namespace Tickerly::Foundation
