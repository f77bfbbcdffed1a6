#include "platform/foundation/Cbor_p.h"

#include <QCborStreamReader>

#include <algorithm>
#include <cstring>
#include <functional>
#include <limits>

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

// The number in a definite head of `major` at `pos` of `bytes`, `pos` moved past it; nothing for
// another major type, an indefinite length or a head cut short.
std::optional<quint64> definiteHead(QByteArrayView bytes, qsizetype& pos, int major)
{
    if (pos < 0 || pos >= bytes.size())
        return std::nullopt;
    const auto initial = static_cast<unsigned char>(bytes.at(pos));
    const int info = initial & 0x1f;
    if (initial >> 5 != major || info > 27)
        return std::nullopt;
    const qsizetype size = info < 24 ? 0 : qsizetype(1) << (info - 24);
    if (size > bytes.size() - pos - 1)
        return std::nullopt;
    quint64 value = info < 24 ? quint64(info) : 0;
    for (qsizetype i = 1; i <= size; ++i)
        value = (value << 8) | static_cast<unsigned char>(bytes.at(pos + i));
    pos += 1 + size;
    return value;
}

class Reader {
public:
    explicit Reader(const QByteArray& bytes, bool salvage = false)
        : m_bytes(bytes)
        , m_size(bytes.size())
        , m_salvage(salvage)
        , m_reader(bytes)
    {
    }

    // What could be read before the first damage: arrays keep their whole elements, maps the
    // entries read so far. `complete` tells whether nothing was cut.
    std::optional<CborItem> readSalvaged(bool* complete)
    {
        auto item = read(0);
        *complete = item && !m_cut && m_reader.lastError() == QCborError::NoError && m_reader.currentOffset() == m_size;
        return item;
    }

    // As readTop, with the elements of the array under `key` in the top map (its first entry
    // under that key) checked but not built: their byte ranges go to `elements`.
    std::optional<CborItem> readTopLeaving(const QString& key, std::vector<std::pair<qsizetype, qsizetype>>* elements)
    {
        m_lazyKey = &key;
        m_lazyElements = elements;
        return readTop();
    }

    // The item at the reader, bounded on its own, when it ends where `end` says; the reader then
    // stands at the next item.
    std::optional<CborItem> readNext(qsizetype end)
    {
        m_items = 0;
        auto item = read(0);
        if (!item || m_reader.lastError() != QCborError::NoError || m_reader.currentOffset() != end)
            return std::nullopt;
        return item;
    }

    qsizetype offset() const { return m_reader.currentOffset(); }

    std::optional<CborItem> readTop()
    {
        auto item = read(0);
        if (!item || m_reader.lastError() != QCborError::NoError)
            return std::nullopt;
        if (m_walkedToEnd)
            return item;
        // Trailing bytes mean this is not one item.
        if (m_reader.currentOffset() != m_size)
            return std::nullopt;
        return item;
    }

private:
    bool count()
    {
        return ++m_items <= Cbor::maxItems;
    }

    // A string chunk may not claim more bytes than are left: the reader would otherwise try to
    // allocate what the header claims.
    bool chunkFits()
    {
        const qsizetype chunk = m_reader.currentStringChunkSize();
        return chunk >= 0 && chunk <= m_size - m_reader.currentOffset();
    }

    template <typename Result, typename ReadFn>
    std::optional<Result> readChunks(ReadFn readFn)
    {
        Result all;
        for (;;) {
            if (!chunkFits())
                return std::nullopt;
            auto r = readFn();
            if (r.status == QCborStreamReader::Error)
                return std::nullopt;
            if (r.status == QCborStreamReader::EndOfString)
                return all;
            all += r.data;
        }
    }

    std::optional<CborItem> read(int depth)
    {
        if (depth > Cbor::maxDepth || !count() || m_reader.lastError() != QCborError::NoError)
            return std::nullopt;
        switch (m_reader.type()) {
        case QCborStreamReader::UnsignedInteger: {
            const quint64 v = m_reader.toUnsignedInteger();
            m_reader.next();
            if (v > quint64(std::numeric_limits<qint64>::max()))
                return CborItem::makeDouble(double(v));
            return CborItem::makeInteger(qint64(v));
        }
        case QCborStreamReader::NegativeInteger: {
            // The item is -1 - raw; the reader's own conversion overflows at the extreme.
            const quint64 raw = quint64(m_reader.toNegativeInteger()) - 1;
            m_reader.next();
            if (raw > quint64(std::numeric_limits<qint64>::max()))
                return CborItem::makeDouble(-1.0 - double(raw));
            return CborItem::makeInteger(-1 - qint64(raw));
        }
        case QCborStreamReader::ByteArray: {
            auto data = readChunks<QByteArray>([this] { return m_reader.readByteArray(); });
            if (!data)
                return std::nullopt;
            return m_skip ? CborItem::makeBytes({}) : CborItem::makeBytes(*data);
        }
        case QCborStreamReader::String: {
            if (m_skip) {
                // Checked in place: nothing kept needs the text.
                if (const auto whole = definiteText(m_size)) {
                    if (!whole->isValidUtf8())
                        return std::nullopt;
                    m_reader.next();
                    return CborItem::makeText({});
                }
            }
            const std::optional<QByteArrayView> raw = shortText();
            if (raw) {
                if (auto known = knownText(*raw))
                    return CborItem::makeText(m_skip ? QString() : *known);
            }
            auto text = readChunks<QString>([this] { return m_reader.readString(); });
            if (!text)
                return std::nullopt;
            if (raw && m_known.size() < maxKnown)
                m_known.emplace_back(raw->toByteArray(), *text);
            return CborItem::makeText(m_skip ? QString() : *text);
        }
        case QCborStreamReader::Array: {
            const qsizetype expected = expectedCount();
            if (!m_reader.enterContainer())
                return std::nullopt;
            CborItem array = CborItem::makeArray();
            array.items.reserve(size_t(expected));
            while (m_reader.lastError() == QCborError::NoError && m_reader.hasNext()) {
                auto element = read(depth + 1);
                if (m_salvage && (!element || m_cut)) {
                    m_cut = true;
                    return array;
                }
                if (!element)
                    return std::nullopt;
                if (!m_skip)
                    array.items.push_back(std::move(*element));
            }
            if (m_salvage && m_reader.lastError() != QCborError::NoError) {
                m_cut = true;
                return array;
            }
            if (m_reader.lastError() != QCborError::NoError || !m_reader.leaveContainer())
                return std::nullopt;
            return array;
        }
        case QCborStreamReader::Map: {
            const qsizetype expected = expectedCount();
            // Only a definite count has a head to read.
            const auto declared = head();
            quint64 entriesLeft = declared ? declared->first : 0;
            if (!m_reader.enterContainer())
                return std::nullopt;
            CborItem map = CborItem::makeMap();
            map.entries.reserve(size_t(expected));
            while (m_reader.lastError() == QCborError::NoError && m_reader.hasNext()) {
                auto key = read(depth + 1);
                const bool keyOk = key && key->kind == CborItem::Kind::Text && !m_cut;
                const bool lazy = keyOk && depth == 0 && m_lazyKey && !m_lazySeen && key->text == *m_lazyKey;
                m_lazySeen = m_lazySeen || lazy;
                const bool last = entriesLeft-- == 1;
                auto value = !keyOk ? std::nullopt : lazy ? readLeavingElements(depth + 1, last) : read(depth + 1);
                if (value && m_walkedToEnd) {
                    map.entries.emplace_back(std::move(key->text), std::move(*value));
                    return map;
                }
                if (m_salvage && (!keyOk || !value || m_cut)) {
                    if (keyOk && value)
                        map.entries.emplace_back(std::move(key->text), std::move(*value));
                    m_cut = true;
                    return map;
                }
                if (!value)
                    return std::nullopt;
                if (!m_skip)
                    map.entries.emplace_back(std::move(key->text), std::move(*value));
            }
            if (m_salvage && m_reader.lastError() != QCborError::NoError) {
                m_cut = true;
                return map;
            }
            if (m_reader.lastError() != QCborError::NoError || !m_reader.leaveContainer())
                return std::nullopt;
            return map;
        }
        case QCborStreamReader::Tag: {
            const quint64 t = quint64(m_reader.toTag());
            m_reader.next();
            auto content = read(depth + 1);
            if (!content)
                return std::nullopt;
            if (m_skip)
                return CborItem::makeTag(t, {});
            return CborItem::makeTag(t, std::move(*content));
        }
        case QCborStreamReader::SimpleType: {
            const auto simple = m_reader.toSimpleType();
            m_reader.next();
            if (simple == QCborSimpleType::False || simple == QCborSimpleType::True)
                return CborItem::makeBool(simple == QCborSimpleType::True);
            if (simple == QCborSimpleType::Null)
                return CborItem {};
            return std::nullopt;
        }
        case QCborStreamReader::Float16: {
            const double v = double(float(m_reader.toFloat16()));
            m_reader.next();
            return CborItem::makeDouble(v);
        }
        case QCborStreamReader::Float: {
            const double v = double(m_reader.toFloat());
            m_reader.next();
            return CborItem::makeDouble(v);
        }
        case QCborStreamReader::Double: {
            const double v = m_reader.toDouble();
            m_reader.next();
            return CborItem::makeDouble(v);
        }
        case QCborStreamReader::Invalid:
            return std::nullopt;
        }
        return std::nullopt;
    }

    // An array whose elements are read for soundness only, their byte ranges noted; anything
    // else as read() reads it.
    std::optional<CborItem> readLeavingElements(int depth, bool lastOfTop)
    {
        if (m_reader.type() != QCborStreamReader::Array)
            return read(depth);
        if (lastOfTop && walkLastArray(depth))
            return CborItem::makeArray();
        if (depth > Cbor::maxDepth || !count() || !m_reader.enterContainer())
            return std::nullopt;
        m_skip = true;
        // Nothing of an element is built: each is bounded as decode() bounds it on its own.
        const qsizetype itemsBefore = m_items;
        while (m_reader.lastError() == QCborError::NoError && m_reader.hasNext()) {
            const qsizetype begin = m_reader.currentOffset();
            m_items = 0;
            if (qsizetype(m_lazyElements->size()) >= Cbor::maxItems || !read(depth + 1)) {
                m_skip = false;
                return std::nullopt;
            }
            m_lazyElements->emplace_back(begin, m_reader.currentOffset() - begin);
        }
        m_items = itemsBefore;
        m_skip = false;
        if (m_reader.lastError() != QCborError::NoError || !m_reader.leaveContainer())
            return std::nullopt;
        return CborItem::makeArray();
    }

    // The array at the reader, the last item of the input, walked over its bytes when every
    // element is plainly encoded; the reader is left where it is, and gives the decision back
    // on anything else.
    bool walkLastArray(int depth)
    {
        qsizetype pos = m_reader.currentOffset();
        qsizetype items = m_items;
        const auto count = plainHead(pos, 4);
        if (!count || depth > Cbor::maxDepth || ++items > Cbor::maxItems)
            return false;
        if (*count > quint64(Cbor::maxItems))
            return false;
        std::vector<std::pair<qsizetype, qsizetype>> elements;
        for (quint64 i = 0; i < *count; ++i) {
            const qsizetype begin = pos;
            qsizetype elementItems = 0;
            if (!walkPlain(pos, depth + 1, elementItems))
                return false;
            elements.emplace_back(begin, pos - begin);
        }
        if (pos != m_size)
            return false;
        m_items = items;
        *m_lazyElements = std::move(elements);
        m_walkedToEnd = true;
        return true;
    }

    std::optional<quint64> plainHead(qsizetype& pos, int major) const
    {
        return definiteHead(QByteArrayView(m_bytes), pos, major);
    }

    // Moves past the item at `pos` when it is sound and read() would take it: definite lengths,
    // true, false, null and floats only; false for anything else, sound or not.
    bool walkPlain(qsizetype& pos, int depth, qsizetype& items) const
    {
        if (depth > Cbor::maxDepth || ++items > Cbor::maxItems || pos >= m_size)
            return false;
        const auto initial = static_cast<unsigned char>(m_bytes.at(pos));
        const int major = initial >> 5;
        if (major == 7) {
            if (initial >= 0xf4 && initial <= 0xf6) {
                pos += 1;
                return true;
            }
            if (initial < 0xf9 || initial > 0xfb)
                return false;
            const qsizetype size = 1 + (qsizetype(2) << (initial - 0xf9));
            if (size > m_size - pos)
                return false;
            pos += size;
            return true;
        }
        const auto value = plainHead(pos, major);
        if (!value)
            return false;
        switch (major) {
        case 0:
        case 1:
            return true;
        case 2:
        case 3:
            if (*value > quint64(m_size - pos))
                return false;
            if (major == 3 && !QByteArrayView(m_bytes).sliced(pos, qsizetype(*value)).isValidUtf8())
                return false;
            pos += qsizetype(*value);
            return true;
        case 4:
            for (quint64 i = 0; i < *value; ++i) {
                if (!walkPlain(pos, depth + 1, items))
                    return false;
            }
            return true;
        case 5:
            for (quint64 i = 0; i < *value; ++i) {
                if (pos >= m_size || static_cast<unsigned char>(m_bytes.at(pos)) >> 5 != 3)
                    return false;
                if (!walkPlain(pos, depth + 1, items) || !walkPlain(pos, depth + 1, items))
                    return false;
            }
            return true;
        default: // a tag
            return walkPlain(pos, depth + 1, items);
        }
    }

    // The number in the head of the item at the reader (a length or a count), and the head's
    // size; read from the bytes, as asking the reader may move it on damaged input.
    std::optional<std::pair<quint64, qsizetype>> head() const
    {
        const qsizetype offset = m_reader.currentOffset();
        if (offset < 0 || offset >= m_size)
            return std::nullopt;
        qsizetype pos = offset;
        const auto value = definiteHead(QByteArrayView(m_bytes), pos, static_cast<unsigned char>(m_bytes.at(offset)) >> 5);
        if (!value)
            return std::nullopt;
        return std::pair { *value, pos - offset };
    }

    // Room to make for a container's elements: what it declares, within what its bytes could
    // hold and a bound a hostile count cannot push up.
    qsizetype expectedCount() const
    {
        const auto declared = head();
        if (!declared)
            return 0;
        return qsizetype(std::min<quint64>({ declared->first, quint64(m_size), 1024 }));
    }

    // The bytes of the short definite-length text at the reader.
    std::optional<QByteArrayView> shortText() const { return definiteText(maxKnownLength); }

    // The bytes of the definite-length text at the reader, at most `maxLength` of them.
    std::optional<QByteArrayView> definiteText(qsizetype maxLength) const
    {
        const auto declared = head();
        if (!declared)
            return std::nullopt;
        const auto [length, headSize] = *declared;
        const qsizetype offset = m_reader.currentOffset();
        if (length > quint64(maxLength) || qsizetype(length) > m_size - offset - headSize)
            return std::nullopt;
        return QByteArrayView(m_bytes).sliced(offset + headSize, qsizetype(length));
    }

    // The text of bytes read and checked before, skipped at the reader: keys and class names
    // repeat in every stored object.
    std::optional<QString> knownText(QByteArrayView raw)
    {
        for (const auto& [bytes, text] : m_known) {
            if (bytes == raw) {
                m_reader.next(); // a failure shows in the reader's error, as for any item
                return text;
            }
        }
        return std::nullopt;
    }

    static constexpr qsizetype maxKnownLength = 32;
    static constexpr size_t maxKnown = 32;

    const QByteArray& m_bytes;
    // Short texts read so far: their bytes, and the text they gave.
    std::vector<std::pair<QByteArray, QString>> m_known;
    qsizetype m_size;
    bool m_salvage = false;
    bool m_cut = false;
    // Checking only: nothing read is kept.
    bool m_skip = false;
    const QString* m_lazyKey = nullptr;
    bool m_lazySeen = false;
    // The rest of the input was walked over, not read: the reader stands where it stopped.
    bool m_walkedToEnd = false;
    std::vector<std::pair<qsizetype, qsizetype>>* m_lazyElements = nullptr;
    qsizetype m_items = 0;
    QCborStreamReader m_reader;
};

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
    Reader reader(bytes);
    return reader.readTop();
}

bool isOneByteString(QByteArrayView bytes)
{
    if (bytes.isEmpty() || bytes.size() > maxInputSize)
        return false;
    qsizetype pos = 0;
    const std::optional<quint64> length = definiteHead(bytes, pos, int(Major::Bytes));
    return length && *length == quint64(bytes.size() - pos);
}

std::optional<CborItem> decodeLeavingArray(const QByteArray& bytes, const QString& key,
    std::vector<std::pair<qsizetype, qsizetype>>* elements)
{
    elements->clear();
    std::optional<CborItem> item;
    if (!bytes.isEmpty() && bytes.size() <= maxInputSize)
        item = Reader(bytes).readTopLeaving(key, elements);
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
    std::optional<Reader> reader;
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
        item = Reader(bytes, true).readSalvaged(&whole);
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

void appendBool(QByteArray& out, bool value)
{
    out.append(char(value ? 0xf5 : 0xf4));
}

void appendNull(QByteArray& out)
{
    out.append(char(0xf6));
}

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
