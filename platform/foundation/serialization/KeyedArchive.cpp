#include "platform/foundation/serialization/KeyedArchive.h"

#include "platform/foundation/images/ImageDecoding.h"

#include "platform/foundation/serialization/Cbor_p.h"

#include <QBuffer>
#include <QCborStreamReader>
#include <QLoggingCategory>

#include <atomic>
#include <cmath>
#include <map>
#include <mutex>

namespace Tickerly::Foundation {

using namespace Qt::Literals::StringLiterals;

Q_LOGGING_CATEGORY(lcArchive, "tickerly.foundation.archive")

namespace {

const QString archiverKey = u"$archiver"_s;
const QString versionKey = u"$version"_s;
const QString topKey = u"$top"_s;
const QString classKey = u"$class"_s;
const QString archiverName = u"Tickerly"_s;
constexpr qint64 archiveVersion = 1;
constexpr quint64 epochDateTag = 1;
constexpr quint64 urlTag = 32;
// A stored archive is wrapped as one byte string of a stored value, whose head takes up to 9 bytes.
static_assert(KeyedUnarchiver::maxArchiveSize + 16 <= Cbor::maxInputSize);
static_assert(KeyedUnarchiver::maxArrayLength <= Cbor::maxItems);
const QString imageClass = u"Image"_s;
const QString imageDataKey = u"png"_s;

struct Registry {
    std::mutex mutex;
    std::map<QString, KeyedUnarchiver::Decoder> decoders;
    std::map<QString, QString> aliases;

    static Registry& instance()
    {
        // Never destroyed: workers may still decode archives while the process ends.
        static auto& registry = *new Registry;
        return registry;
    }

    KeyedUnarchiver::Decoder decoderFor(const QString& archivedName)
    {
        std::lock_guard lock(mutex);
        auto it = decoders.find(resolved(archivedName));
        return it == decoders.end() ? KeyedUnarchiver::Decoder() : it->second;
    }

    // The registered class an archived name decodes with, or empty.
    QString decodingClass(const QString& archivedName)
    {
        std::lock_guard lock(mutex);
        QString name = resolved(archivedName);
        return decoders.count(name) ? name : QString();
    }

private:
    QString resolved(const QString& archivedName) const
    {
        auto alias = aliases.find(archivedName);
        return alias != aliases.end() ? alias->second : archivedName;
    }
};

// The header's fields are sound.
bool soundHeader(const CborItem& top)
{
    const CborItem* archiver = top.find(archiverKey);
    const CborItem* version = top.find(versionKey);
    return archiver && archiver->kind == CborItem::Kind::Text && archiver->text == archiverName
        && version && version->kind == CborItem::Kind::Integer
        && version->integer == archiveVersion;
}

// Whether an archive of `data`'s size is read at all; what is not is said in the log.
bool withinSize(const QByteArray& data)
{
    if (data.size() <= KeyedUnarchiver::maxArchiveSize)
        return true;
    qCWarning(lcArchive, "an archive of %lld bytes is not read: archives read up to %lld bytes",
        qlonglong(data.size()), qlonglong(KeyedUnarchiver::maxArchiveSize));
    return false;
}

std::atomic<qsizetype> arrayLengthRead { KeyedUnarchiver::maxArrayLength };

// Whether an array of `length` elements is read; what is not is said in the log.
bool withinLength(quint64 length)
{
    const qsizetype limit = arrayLengthRead;
    if (length <= quint64(limit))
        return true;
    qCWarning(lcArchive,
        "an archived array of %llu elements is not read: arrays read up to %lld elements",
        static_cast<unsigned long long>(length), qlonglong(limit));
    return false;
}

std::optional<CborItem> archiveBody(const QByteArray& data, bool salvage = false)
{
    if (!withinSize(data))
        return std::nullopt;
    bool complete = false;
    auto top = salvage ? Cbor::decodeReadable(data, &complete) : Cbor::decode(data);
    if (!top)
        return std::nullopt;
    const CborItem* root = top->find(topKey);
    if (!soundHeader(*top) || !root)
        return std::nullopt;
    // Moved, not copied: a stored list holds thousands of objects.
    return std::move(const_cast<CborItem&>(*root));
}

// The archive's header map, up to the root that follows it.
QByteArray header()
{
    QByteArray out;
    Cbor::appendHead(out, Cbor::Major::Map, 3);
    Cbor::appendText(out, archiverKey);
    Cbor::appendText(out, archiverName);
    Cbor::appendText(out, versionKey);
    Cbor::appendInteger(out, archiveVersion);
    Cbor::appendText(out, topKey);
    return out;
}

// The element count the root array's head gives when the archive starts with the header as
// written here, read before anything else: a list far too long is refused without going
// through it. Nothing when the bytes are written otherwise or the count is not given ahead.
std::optional<quint64> leadingArrayLength(const QByteArray& data)
{
    static const auto& written = *new const QByteArray(header()); // never destroyed, as above
    if (!data.startsWith(written) || data.size() <= written.size())
        return std::nullopt;
    const auto* head = reinterpret_cast<const uchar*>(data.constData()) + written.size();
    const qsizetype left = data.size() - written.size();
    if ((head[0] >> 5) != quint8(Cbor::Major::Array))
        return std::nullopt;
    const quint8 info = head[0] & 0x1f;
    if (info < 24)
        return info;
    if (info > 27)
        return std::nullopt;
    const qsizetype bytes = qsizetype(1) << (info - 24);
    if (left < 1 + bytes)
        return std::nullopt;
    quint64 length = 0;
    for (qsizetype i = 1; i <= bytes; ++i)
        length = (length << 8) | head[i];
    return length;
}

QImage imageFromBytes(const QByteArray& bytes)
{
    return decodeImage(bytes, { .maxSide = maxStoredImageSide });
}

} // namespace

Coding::~Coding() = default;

// Fields are kept encoded, one after another, so an archive is written without building a tree
// of items first.
struct KeyedArchiver::Fields {
    struct Field {
        QString key;
        qsizetype begin;
        qsizetype end;
    };
    std::vector<Field> fields;
    QByteArray values;
};

KeyedArchiver::KeyedArchiver()
    : m_fields(std::make_unique<Fields>())
{
    m_fields->fields.reserve(8);
}

KeyedArchiver::~KeyedArchiver() = default;

void KeyedArchiver::appendObject(QByteArray& out, const Coding& object)
{
    KeyedArchiver coder;
    object.encodeWithCoder(coder);
    const Fields& f = *coder.m_fields;
    Cbor::appendHead(out, Cbor::Major::Map, quint64(f.fields.size() + 1));
    Cbor::appendText(out, classKey);
    Cbor::appendText(out, object.archivedClassName());
    for (const auto& field : f.fields) {
        Cbor::appendText(out, field.key);
        out.append(f.values.constData() + field.begin, field.end - field.begin);
    }
}

void KeyedArchiver::appendObjects(
    QByteArray& out, const QList<std::shared_ptr<const Coding>>& objects)
{
    Cbor::appendHead(out, Cbor::Major::Array, quint64(objects.size()));
    for (const auto& object : objects) {
        if (object)
            appendObject(out, *object);
        else
            Cbor::appendNull(out);
    }
}

QByteArray KeyedArchiver::archivedDataWithRootObject(const Coding& root)
{
    QByteArray out = header();
    appendObject(out, root);
    return out;
}

QByteArray KeyedArchiver::archivedDataWithRootArray(
    const QList<std::shared_ptr<const Coding>>& root)
{
    QByteArray out = header();
    appendObjects(out, root);
    return out;
}

QByteArray KeyedArchiver::encodedObject(const Coding& object)
{
    QByteArray out;
    appendObject(out, object);
    return out;
}

QByteArray KeyedArchiver::archivedDataWithEncodedRootArray(const QList<QByteArray>& encodedObjects)
{
    QByteArray out;
    out.reserve(sizeOfEncodedRootArray(encodedObjects));
    appendEncodedRootArray(out, encodedObjects);
    return out;
}

qsizetype KeyedArchiver::sizeOfEncodedRootArray(const QList<QByteArray>& encodedObjects)
{
    static const qsizetype headerSize = header().size();
    QByteArray head;
    Cbor::appendHead(head, Cbor::Major::Array, quint64(encodedObjects.size()));
    qsizetype size = headerSize + head.size();
    for (const QByteArray& object : encodedObjects)
        size += object.isEmpty() ? 1 : object.size();
    return size;
}

void KeyedArchiver::appendEncodedRootArray(QByteArray& out, const QList<QByteArray>& encodedObjects)
{
    out.append(header());
    Cbor::appendHead(out, Cbor::Major::Array, quint64(encodedObjects.size()));
    for (const QByteArray& object : encodedObjects) {
        if (object.isEmpty())
            Cbor::appendNull(out);
        else
            out.append(object);
    }
}

QByteArray& KeyedArchiver::values() { return m_fields->values; }

void KeyedArchiver::endField(const QString& key, qsizetype begin)
{
    auto& [fields, values] = *m_fields;
    if (key == classKey) {
        values.truncate(begin);
        return;
    }
    for (auto field = fields.begin(); field != fields.end(); ++field) {
        if (field->key != key)
            continue;
        // Rare: the value takes the earlier one's place, and the fields after it move along.
        const QByteArray value = values.mid(begin);
        values.truncate(begin);
        values.replace(field->begin, field->end - field->begin, value);
        const qsizetype shift = value.size() - (field->end - field->begin);
        field->end += shift;
        for (auto later = field + 1; later != fields.end(); ++later) {
            later->begin += shift;
            later->end += shift;
        }
        return;
    }
    fields.push_back({ key, begin, values.size() });
}

void KeyedArchiver::encodeString(const QString& value, const QString& key)
{
    const qsizetype begin = values().size();
    Cbor::appendText(values(), value);
    endField(key, begin);
}

void KeyedArchiver::encodeBool(bool value, const QString& key)
{
    const qsizetype begin = values().size();
    Cbor::appendBool(values(), value);
    endField(key, begin);
}

void KeyedArchiver::encodeInteger(qint64 value, const QString& key)
{
    const qsizetype begin = values().size();
    Cbor::appendInteger(values(), value);
    endField(key, begin);
}

void KeyedArchiver::encodeDouble(double value, const QString& key)
{
    const qsizetype begin = values().size();
    Cbor::appendDouble(values(), value);
    endField(key, begin);
}

void KeyedArchiver::encodeData(const QByteArray& value, const QString& key)
{
    const qsizetype begin = values().size();
    Cbor::appendBytes(values(), value);
    endField(key, begin);
}

void KeyedArchiver::encodeDate(const QDateTime& value, const QString& key)
{
    if (!value.isValid())
        return;
    const qsizetype begin = values().size();
    Cbor::appendHead(values(), Cbor::Major::Tag, epochDateTag);
    Cbor::appendDouble(values(), double(value.toMSecsSinceEpoch()) / 1000.0);
    endField(key, begin);
}

void KeyedArchiver::encodeUrl(const Url& value, const QString& key)
{
    const qsizetype begin = values().size();
    Cbor::appendHead(values(), Cbor::Major::Tag, urlTag);
    Cbor::appendText(values(), value.absoluteString());
    endField(key, begin);
}

void KeyedArchiver::encodeImage(const QImage& value, const QString& key)
{
    if (value.isNull())
        return;
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    if (!value.save(&buffer, "PNG"))
        return;
    const qsizetype begin = values().size();
    Cbor::appendHead(values(), Cbor::Major::Map, 2);
    Cbor::appendText(values(), classKey);
    Cbor::appendText(values(), imageClass);
    Cbor::appendText(values(), imageDataKey);
    Cbor::appendBytes(values(), png);
    endField(key, begin);
}

void KeyedArchiver::encodeStrings(const QStringList& value, const QString& key)
{
    const qsizetype begin = values().size();
    Cbor::appendHead(values(), Cbor::Major::Array, quint64(value.size()));
    for (const QString& s : value)
        Cbor::appendText(values(), s);
    endField(key, begin);
}

void KeyedArchiver::encodeObject(const Coding& value, const QString& key)
{
    const qsizetype begin = values().size();
    appendObject(values(), value);
    endField(key, begin);
}

void KeyedArchiver::encodeObjects(
    const QList<std::shared_ptr<const Coding>>& value, const QString& key)
{
    const qsizetype begin = values().size();
    appendObjects(values(), value);
    endField(key, begin);
}

void KeyedUnarchiver::setMaxArrayLengthForTesting(qsizetype length)
{
    arrayLengthRead = length > 0 ? std::min(length, maxArrayLength) : maxArrayLength;
}

void KeyedUnarchiver::registerClass(const QString& className, Decoder decoder)
{
    auto& registry = Registry::instance();
    std::lock_guard lock(registry.mutex);
    registry.decoders[className] = std::move(decoder);
}

void KeyedUnarchiver::setClassForClassName(const QString& cls, const QString& className)
{
    auto& registry = Registry::instance();
    std::lock_guard lock(registry.mutex);
    registry.aliases[className] = cls;
}

KeyedUnarchiver::KeyedUnarchiver(const CborItem& object)
    : m_object(object)
{
}

std::shared_ptr<Coding> KeyedUnarchiver::decodeItem(const CborItem& item)
{
    const CborItem* cls = item.find(classKey);
    if (!cls || cls->kind != CborItem::Kind::Text)
        return nullptr;
    const Decoder decoder = Registry::instance().decoderFor(cls->text);
    if (!decoder)
        return nullptr;
    try {
        KeyedUnarchiver coder(item);
        return decoder(coder);
    } catch (...) {
        return nullptr;
    }
}

std::optional<QList<std::shared_ptr<Coding>>> KeyedUnarchiver::decodeArrayItem(const CborItem& item)
{
    if (item.kind != CborItem::Kind::Array || !withinLength(item.items.size()))
        return std::nullopt;
    QList<std::shared_ptr<Coding>> objects;
    objects.reserve(qsizetype(item.items.size()));
    for (const auto& element : item.items)
        objects.append(decodeItem(element));
    return objects;
}

std::shared_ptr<Coding> KeyedUnarchiver::unarchiveObjectWithData(const QByteArray& data)
{
    auto root = archiveBody(data);
    return root ? decodeItem(*root) : nullptr;
}

namespace {

std::atomic<quint64> arraysRead { 0 };

} // namespace

quint64 KeyedUnarchiver::arraysReadForTesting() { return arraysRead.load(); }

std::optional<QList<std::shared_ptr<Coding>>> KeyedUnarchiver::unarchiveArrayWithData(
    const QByteArray& data)
{
    ++arraysRead;
    // Element by element: a long list is read whole without building all of it as items first.
    const auto array = ArchivedArray::fromData(data);
    if (!array)
        return std::nullopt;
    return array->objects();
}

std::optional<QList<std::shared_ptr<Coding>>> KeyedUnarchiver::readableArrayWithData(
    const QByteArray& data)
{
    // Refused before either reading, so that a list past the bounds is never built to be salvaged.
    if (!withinSize(data))
        return std::nullopt;
    if (const auto length = leadingArrayLength(data); length && !withinLength(*length))
        return std::nullopt;
    if (auto whole = unarchiveArrayWithData(data))
        return whole;
    auto root = archiveBody(data, true);
    if (!root)
        return std::nullopt;
    return decodeArrayItem(*root);
}

QString KeyedUnarchiver::archivedClassName() const
{
    const CborItem* cls = m_object.find(classKey);
    return cls && cls->kind == CborItem::Kind::Text ? cls->text : QString();
}

const CborItem* KeyedUnarchiver::field(const QString& key) const
{
    return key == classKey ? nullptr : m_object.find(key);
}

bool KeyedUnarchiver::containsValueForKey(const QString& key) const
{
    return field(key) != nullptr;
}

std::optional<QString> KeyedUnarchiver::decodeString(const QString& key) const
{
    const CborItem* f = field(key);
    if (!f || f->kind != CborItem::Kind::Text)
        return std::nullopt;
    return f->text;
}

std::optional<bool> KeyedUnarchiver::decodeBool(const QString& key) const
{
    const CborItem* f = field(key);
    if (!f)
        return std::nullopt;
    switch (f->kind) {
    case CborItem::Kind::Bool:
        return f->boolean;
    case CborItem::Kind::Integer:
        return f->integer != 0;
    case CborItem::Kind::Double:
        return f->real != 0.0 && !std::isnan(f->real);
    default:
        return std::nullopt;
    }
}

std::optional<qint64> KeyedUnarchiver::decodeInteger(const QString& key) const
{
    const CborItem* f = field(key);
    if (!f)
        return std::nullopt;
    if (f->kind == CborItem::Kind::Integer)
        return f->integer;
    // Only whole numbers well inside the range convert; anything else is no integer.
    if (f->kind == CborItem::Kind::Double && std::isfinite(f->real)
        && std::trunc(f->real) == f->real && std::fabs(f->real) < 9.2e18)
        return qint64(f->real);
    return std::nullopt;
}

std::optional<double> KeyedUnarchiver::decodeDouble(const QString& key) const
{
    const CborItem* f = field(key);
    if (!f || !f->isNumber())
        return std::nullopt;
    return f->kind == CborItem::Kind::Integer ? double(f->integer) : f->real;
}

std::optional<QByteArray> KeyedUnarchiver::decodeData(const QString& key) const
{
    const CborItem* f = field(key);
    if (!f || f->kind != CborItem::Kind::Bytes)
        return std::nullopt;
    return f->bytes;
}

std::optional<QDateTime> KeyedUnarchiver::decodeDate(const QString& key) const
{
    const CborItem* f = field(key);
    const CborItem* seconds = f ? f->tagged(epochDateTag) : nullptr;
    if (!seconds || !seconds->isNumber())
        return std::nullopt;
    const double s
        = seconds->kind == CborItem::Kind::Integer ? double(seconds->integer) : seconds->real;
    // Far beyond any date a feed can carry, and the millisecond count would overflow.
    if (!std::isfinite(s) || std::fabs(s) > 1e13)
        return std::nullopt;
    return QDateTime::fromMSecsSinceEpoch(qint64(std::llround(s * 1000.0)), Qt::UTC);
}

std::optional<Url> KeyedUnarchiver::decodeUrl(const QString& key) const
{
    const CborItem* f = field(key);
    const CborItem* text = f ? f->tagged(urlTag) : nullptr;
    if (!text || text->kind != CborItem::Kind::Text)
        return std::nullopt;
    return Url::fromString(text->text);
}

QImage KeyedUnarchiver::decodeImage(const QString& key) const
{
    const CborItem* f = field(key);
    if (!f)
        return {};
    const CborItem* cls = f->find(classKey);
    const CborItem* png = f->find(imageDataKey);
    if (!cls || cls->kind != CborItem::Kind::Text || cls->text != imageClass || !png
        || png->kind != CborItem::Kind::Bytes)
        return {};
    return imageFromBytes(png->bytes);
}

std::optional<QStringList> KeyedUnarchiver::decodeStrings(const QString& key) const
{
    const CborItem* f = field(key);
    if (!f || f->kind != CborItem::Kind::Array || !withinLength(f->items.size()))
        return std::nullopt;
    QStringList list;
    for (const auto& element : f->items) {
        if (element.kind != CborItem::Kind::Text)
            return std::nullopt;
        list.append(element.text);
    }
    return list;
}

std::shared_ptr<Coding> KeyedUnarchiver::decodeObject(const QString& key) const
{
    const CborItem* f = field(key);
    return f ? decodeItem(*f) : nullptr;
}

std::optional<QList<std::shared_ptr<Coding>>> KeyedUnarchiver::decodeObjects(
    const QString& key) const
{
    const CborItem* f = field(key);
    if (!f)
        return std::nullopt;
    return decodeArrayItem(*f);
}

std::optional<ArchivedArray> ArchivedArray::fromData(const QByteArray& data)
{
    if (!withinSize(data))
        return std::nullopt;
    if (const auto length = leadingArrayLength(data); length && !withinLength(*length))
        return std::nullopt;
    ArchivedArray array;
    const auto top = Cbor::decodeLeavingArray(data, topKey, &array.m_elements);
    if (!top || !soundHeader(*top) || !withinLength(array.m_elements.size()))
        return std::nullopt;
    const CborItem* root = top->find(topKey);
    if (!root || root->kind != CborItem::Kind::Array || !root->items.empty())
        return std::nullopt;
    array.m_data = data;
    return array;
}

std::shared_ptr<Coding> ArchivedArray::objectAt(qsizetype index) const
{
    if (index < 0 || index >= size())
        return nullptr;
    const auto [begin, length] = m_elements[size_t(index)];
    const auto element = Cbor::decode(QByteArray::fromRawData(m_data.constData() + begin, length));
    return element ? KeyedUnarchiver::decodeItem(*element) : nullptr;
}

QList<std::shared_ptr<Coding>> ArchivedArray::objects() const
{
    QList<std::shared_ptr<Coding>> objects;
    objects.reserve(size());
    Cbor::decodeEach(m_data, m_elements, [&objects](std::optional<CborItem> element) {
        objects.append(element ? KeyedUnarchiver::decodeItem(*element) : nullptr);
    });
    return objects;
}

QString ArchivedArray::decodingClassAt(qsizetype index) const
{
    if (index < 0 || index >= size())
        return {};
    const auto [begin, length] = m_elements[size_t(index)];
    const QByteArray bytes = QByteArray::fromRawData(m_data.constData() + begin, length);
    // Objects are written with their class first: read just that far.
    if (const auto name = Cbor::leadingText(bytes, classKey))
        return Registry::instance().decodingClass(*name);
    // Written otherwise: the first "$class" entry names it, as when decoding.
    const auto element = Cbor::decode(bytes);
    const CborItem* cls = element ? element->find(classKey) : nullptr;
    return cls && cls->kind == CborItem::Kind::Text ? Registry::instance().decodingClass(cls->text)
                                                    : QString();
}

} // namespace Tickerly::Foundation
