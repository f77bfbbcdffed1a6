#include "platform/foundation/serialization/CborValueReader_p.h"

#include "platform/foundation/serialization/CborWalker_p.h"

namespace Tickerly::Foundation {

std::optional<CborItem> CborValueReader::readTop()
{
    auto item = read(0);
    // Trailing bytes mean this is not one item.
    if (!item || !m_in.sound() || m_in.offset() != m_in.size)
        return std::nullopt;
    return item;
}

std::optional<CborItem> CborValueReader::readTopLeaving(const QString& key, Ranges* elements)
{
    if (m_in.reader.type() != QCborStreamReader::Map)
        return readTop();
    bool walkedToEnd = false;
    auto item = readMapLeaving(key, elements, walkedToEnd);
    if (!item || !m_in.sound())
        return std::nullopt;
    // A walk to the end leaves the reader where it began.
    if (!walkedToEnd && m_in.offset() != m_in.size)
        return std::nullopt;
    return item;
}

std::optional<CborItem> CborValueReader::readNext(qsizetype end)
{
    m_in.items = 0;
    auto item = read(0);
    if (!item || !m_in.sound() || m_in.offset() != end)
        return std::nullopt;
    return item;
}

std::optional<CborItem> CborValueReader::read(int depth)
{
    if (!m_in.admit(depth))
        return std::nullopt;
    switch (m_in.reader.type()) {
    case QCborStreamReader::ByteArray: {
        auto data = m_in.readBytes();
        if (!data)
            return std::nullopt;
        return CborItem::makeBytes(*data);
    }
    case QCborStreamReader::String:
        return readText();
    case QCborStreamReader::Array:
        return readArray(depth);
    case QCborStreamReader::Map:
        return readMap(depth);
    case QCborStreamReader::Tag:
        return readTag(depth);
    default:
        return m_in.readScalar();
    }
}

std::optional<CborItem> CborValueReader::readText()
{
    const std::optional<QByteArrayView> raw = m_in.definiteText(maxKnownLength);
    if (raw) {
        if (auto known = knownText(*raw))
            return CborItem::makeText(*known);
    }
    auto text = m_in.readText();
    if (!text)
        return std::nullopt;
    if (raw && m_known.size() < maxKnown)
        m_known.emplace_back(raw->toByteArray(), *text);
    return CborItem::makeText(*text);
}

std::optional<CborItem> CborValueReader::readArray(int depth)
{
    const qsizetype expected = m_in.expectedCount();
    if (!m_in.reader.enterContainer())
        return std::nullopt;
    CborItem array = CborItem::makeArray();
    array.items.reserve(size_t(expected));
    while (m_in.sound() && m_in.reader.hasNext()) {
        auto element = read(depth + 1);
        if (!element)
            return std::nullopt;
        array.items.push_back(std::move(*element));
    }
    if (!m_in.sound() || !m_in.reader.leaveContainer())
        return std::nullopt;
    return array;
}

std::optional<CborItem> CborValueReader::readMap(int depth)
{
    const qsizetype expected = m_in.expectedCount();
    if (!m_in.reader.enterContainer())
        return std::nullopt;
    CborItem map = CborItem::makeMap();
    map.entries.reserve(size_t(expected));
    while (m_in.sound() && m_in.reader.hasNext()) {
        auto key = read(depth + 1);
        if (!key || key->kind != CborItem::Kind::Text)
            return std::nullopt;
        auto value = read(depth + 1);
        if (!value)
            return std::nullopt;
        map.entries.emplace_back(std::move(key->text), std::move(*value));
    }
    if (!m_in.sound() || !m_in.reader.leaveContainer())
        return std::nullopt;
    return map;
}

std::optional<CborItem> CborValueReader::readTag(int depth)
{
    const quint64 t = quint64(m_in.reader.toTag());
    m_in.reader.next();
    auto content = read(depth + 1);
    if (!content)
        return std::nullopt;
    return CborItem::makeTag(t, std::move(*content));
}

// The top map, read as readMap() reads it but for the value of the first entry under `key`.
std::optional<CborItem> CborValueReader::readMapLeaving(
    const QString& key, Ranges* elements, bool& walkedToEnd)
{
    if (!m_in.admit(0))
        return std::nullopt;
    const qsizetype expected = m_in.expectedCount();
    // Only a definite count has a head to read.
    const auto declared = m_in.head();
    quint64 entriesLeft = declared ? declared->first : 0;
    if (!m_in.reader.enterContainer())
        return std::nullopt;
    CborItem map = CborItem::makeMap();
    map.entries.reserve(size_t(expected));
    bool seen = false;
    while (m_in.sound() && m_in.reader.hasNext()) {
        auto name = read(1);
        if (!name || name->kind != CborItem::Kind::Text)
            return std::nullopt;
        const bool last = entriesLeft-- == 1;
        const bool leave
            = !seen && name->text == key && m_in.reader.type() == QCborStreamReader::Array;
        seen = seen || name->text == key;
        if (leave && last) {
            // Most stored lists are written plainly and end the input: walked over their bytes,
            // with nothing after them left to read.
            if (auto walked = CborWalker::walkLastArray(
                    QByteArrayView(m_in.bytes), m_in.offset(), 1, m_in.items)) {
                *elements = std::move(*walked);
                walkedToEnd = true;
                map.entries.emplace_back(std::move(name->text), CborItem::makeArray());
                return map;
            }
        }
        auto value = leave ? readArrayLeaving(1, elements) : read(1);
        if (!value)
            return std::nullopt;
        map.entries.emplace_back(std::move(name->text), std::move(*value));
    }
    if (!m_in.sound() || !m_in.reader.leaveContainer())
        return std::nullopt;
    return map;
}

// An array whose elements are checked, not built, their byte ranges noted.
std::optional<CborItem> CborValueReader::readArrayLeaving(int depth, Ranges* elements)
{
    if (!m_in.count(depth) || !m_in.reader.enterContainer())
        return std::nullopt;
    // Each element is bounded as decode() bounds it on its own.
    const qsizetype itemsBefore = m_in.items;
    CborWalker walker(m_in);
    while (m_in.sound() && m_in.reader.hasNext()) {
        const qsizetype begin = m_in.offset();
        m_in.items = 0;
        if (qsizetype(elements->size()) >= Cbor::maxItems || !walker.check(depth + 1))
            return std::nullopt;
        elements->emplace_back(begin, m_in.offset() - begin);
    }
    m_in.items = itemsBefore;
    if (!m_in.sound() || !m_in.reader.leaveContainer())
        return std::nullopt;
    return CborItem::makeArray();
}

std::optional<QString> CborValueReader::knownText(QByteArrayView raw)
{
    for (const auto& [bytes, text] : m_known) {
        if (bytes == raw) {
            m_in.reader.next(); // a failure shows in the reader's error, as for any item
            return text;
        }
    }
    return std::nullopt;
}

} // namespace Tickerly::Foundation
