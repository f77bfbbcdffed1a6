#include "platform/foundation/serialization/Cbor_p.h"

#include "platform/foundation/serialization/CborSalvage_p.h"
#include "platform/foundation/serialization/CborStream_p.h"
#include "platform/foundation/serialization/CborValueReader_p.h"

#include <cstring>
#include <functional>

namespace Tickerly::Foundation {

CborItem CborItem::makeInteger(qint64 v)
{
    CborItem i;
    i.kind = Kind::Integer;
    i.integer = v;
    return i;
}

CborItem CborItem::makeDouble(double v)
{
    CborItem i;
    i.kind = Kind::Double;
    i.real = v;
    return i;
}

CborItem CborItem::makeBool(bool v)
{
    CborItem i;
    i.kind = Kind::Bool;
    i.boolean = v;
    return i;
}

CborItem CborItem::makeText(const QString& v)
{
    CborItem i;
    i.kind = Kind::Text;
    i.text = v;
    return i;
}

CborItem CborItem::makeBytes(const QByteArray& v)
{
    CborItem i;
    i.kind = Kind::Bytes;
    i.bytes = v;
    return i;
}

CborItem CborItem::makeArray(std::vector<CborItem> v)
{
    CborItem i;
    i.kind = Kind::Array;
    i.items = std::move(v);
    return i;
}

CborItem CborItem::makeMap(std::vector<std::pair<QString, CborItem>> v)
{
    CborItem i;
    i.kind = Kind::Map;
    i.entries = std::move(v);
    return i;
}

CborItem CborItem::makeTag(quint64 t, CborItem content)
{
    CborItem i;
    i.kind = Kind::Tag;
    i.tag = t;
    i.items.push_back(std::move(content));
    return i;
}

const CborItem* CborItem::find(const QString& key) const
{
    if (kind != Kind::Map)
        return nullptr;
    for (const auto& [k, v] : entries) {
        if (k == key)
            return &v;
    }
    return nullptr;
}

const CborItem* CborItem::tagged(quint64 t) const
{
    if (kind != Kind::Tag || tag != t || items.size() != 1)
        return nullptr;
    return &items.front();
}

namespace {

void write(QByteArray& out, const CborItem& item)
{
    switch (item.kind) {
    case CborItem::Kind::Integer:
        Cbor::appendInteger(out, item.integer);
        break;
    case CborItem::Kind::Double:
        Cbor::appendDouble(out, item.real);
        break;
    case CborItem::Kind::Bool:
        Cbor::appendBool(out, item.boolean);
        break;
    case CborItem::Kind::Null:
        Cbor::appendNull(out);
        break;
    case CborItem::Kind::Text:
        Cbor::appendText(out, item.text);
        break;
    case CborItem::Kind::Bytes:
        Cbor::appendBytes(out, item.bytes);
        break;
    case CborItem::Kind::Array:
        Cbor::appendHead(out, Cbor::Major::Array, quint64(item.items.size()));
        for (const auto& element : item.items)
            write(out, element);
        break;
    case CborItem::Kind::Map:
        Cbor::appendHead(out, Cbor::Major::Map, quint64(item.entries.size()));
        for (const auto& [key, value] : item.entries) {
            Cbor::appendText(out, key);
            write(out, value);
        }
        break;
    case CborItem::Kind::Tag:
        Cbor::appendHead(out, Cbor::Major::Tag, item.tag);
        if (item.items.empty())
            Cbor::appendNull(out);
        else
            write(out, item.items.front());
        break;
    }
}

} // namespace

namespace Cbor {

std::optional<CborItem> decode(const QByteArray& bytes)
{
    if (bytes.isEmpty() || bytes.size() > maxInputSize)
        return std::nullopt;
    return CborValueReader(bytes).readTop();
}

std::optional<QByteArrayView> oneByteString(QByteArrayView bytes)
{
    if (bytes.isEmpty() || bytes.size() > maxInputSize)
        return std::nullopt;
    qsizetype pos = 0;
    const std::optional<quint64> length = definiteHead(bytes, pos, int(Major::Bytes));
    if (!length || *length != quint64(bytes.size() - pos))
        return std::nullopt;
    return bytes.sliced(pos);
}

bool isOneByteString(QByteArrayView bytes) { return oneByteString(bytes).has_value(); }

std::optional<CborItem> decodeLeavingArray(const QByteArray& bytes, const QString& key,
    std::vector<std::pair<qsizetype, qsizetype>>* elements)
{
    elements->clear();
    std::optional<CborItem> item;
    if (!bytes.isEmpty() && bytes.size() <= maxInputSize)
        item = CborValueReader(bytes).readTopLeaving(key, elements);
    if (!item)
        elements->clear();
    return item;
}

void decodeEach(const QByteArray& bytes, const std::vector<std::pair<qsizetype, qsizetype>>& ranges,
    const std::function<void(std::optional<CborItem>)>& take)
{
    // One reader goes along a run of adjacent items, so that keys and class names repeated from
    // one item to the next are read once; it starts afresh wherever an item is not as expected.
    QByteArray run;
    std::optional<CborValueReader> reader;
    qsizetype runStart = 0;
    for (const auto& [begin, length] : ranges) {
        if (begin < 0 || length <= 0 || length > bytes.size() - begin || length > maxInputSize) {
            take(std::nullopt);
            continue;
        }
        if (!reader || runStart + reader->offset() != begin) {
            reader.reset();
            run = QByteArray::fromRawData(bytes.constData() + begin, bytes.size() - begin);
            runStart = begin;
            reader.emplace(run);
        }
        auto item = reader->readNext(begin + length - runStart);
        if (!item) {
            reader.reset();
            item = decode(QByteArray::fromRawData(bytes.constData() + begin, length));
        }
        take(std::move(item));
    }
}

std::optional<QString> leadingText(QByteArrayView map, QStringView key)
{
    qsizetype pos = 0;
    auto head = [&](Major major) { return definiteHead(map, pos, int(major)); };
    auto text = [&]() -> std::optional<QByteArrayView> {
        const auto length = head(Major::Text);
        if (!length || *length > quint64(map.size() - pos))
            return std::nullopt;
        const QByteArrayView bytes = map.sliced(pos, qsizetype(*length));
        pos += qsizetype(*length);
        return bytes;
    };
    const auto entries = head(Major::Map);
    if (!entries || *entries == 0)
        return std::nullopt;
    const auto first = text();
    if (!first || !QAnyStringView::equal(QUtf8StringView(*first), key))
        return std::nullopt;
    const auto value = text();
    if (!value || !value->isValidUtf8())
        return std::nullopt;
    return QString::fromUtf8(*value);
}

std::optional<CborItem> decodeReadable(const QByteArray& bytes, bool* complete)
{
    bool whole = false;
    std::optional<CborItem> item;
    if (!bytes.isEmpty() && bytes.size() <= maxInputSize)
        item = CborSalvage(bytes).readSalvaged(&whole);
    if (complete)
        *complete = whole;
    return item;
}

QByteArray encode(const CborItem& item)
{
    QByteArray out;
    write(out, item);
    return out;
}

void appendHead(QByteArray& out, Major major, quint64 value)
{
    const char type = char(quint8(major) << 5);
    if (value < 24) {
        out.append(char(type | char(value)));
        return;
    }
    int width = 8;
    char info = 27;
    if (value <= 0xff) {
        width = 1;
        info = 24;
    } else if (value <= 0xffff) {
        width = 2;
        info = 25;
    } else if (value <= 0xffffffffu) {
        width = 4;
        info = 26;
    }
    char head[9];
    head[0] = char(type | info);
    for (int i = 0; i < width; ++i)
        head[width - i] = char(value >> (8 * i));
    out.append(head, width + 1);
}

void appendInteger(QByteArray& out, qint64 value)
{
    if (value >= 0)
        appendHead(out, Major::Unsigned, quint64(value));
    else
        appendHead(out, Major::Negative, quint64(-1 - value));
}

void appendDouble(QByteArray& out, double value)
{
    quint64 bits;
    std::memcpy(&bits, &value, sizeof bits);
    char encoded[9];
    encoded[0] = char(0xfb);
    for (int i = 0; i < 8; ++i)
        encoded[8 - i] = char(bits >> (8 * i));
    out.append(encoded, 9);
}

void appendBool(QByteArray& out, bool value) { out.append(char(value ? 0xf5 : 0xf4)); }

void appendNull(QByteArray& out) { out.append(char(0xf6)); }

void appendText(QByteArray& out, QStringView text)
{
    // Most keys and stored texts are ASCII: they go in without a converted copy.
    const char16_t* chars = text.utf16();
    const qsizetype size = text.size();
    qsizetype ascii = 0;
    while (ascii < size && chars[ascii] < 0x80)
        ++ascii;
    if (ascii < size) {
        const QByteArray utf8 = text.toUtf8();
        appendHead(out, Major::Text, quint64(utf8.size()));
        out.append(utf8);
        return;
    }
    appendHead(out, Major::Text, quint64(size));
    const qsizetype at = out.size();
    out.resize(at + size);
    char* to = out.data() + at;
    for (qsizetype i = 0; i < size; ++i)
        to[i] = char(chars[i]);
}

void appendBytes(QByteArray& out, QByteArrayView bytes)
{
    appendHead(out, Major::Bytes, quint64(bytes.size()));
    out.append(bytes.data(), bytes.size());
}

} // namespace Cbor

} // namespace Tickerly::Foundation
