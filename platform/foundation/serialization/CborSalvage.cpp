#include "platform/foundation/serialization/CborSalvage_p.h"

namespace Tickerly::Foundation {

std::optional<CborItem> CborSalvage::readSalvaged(bool* complete)
{
    auto item = read(0);
    *complete = item && !m_cut && m_in.sound() && m_in.offset() == m_in.size;
    return item;
}

std::optional<CborItem> CborSalvage::read(int depth)
{
    switch (m_in.reader.type()) {
    case QCborStreamReader::Array:
        return readArray(depth);
    case QCborStreamReader::Map:
        return readMap(depth);
    case QCborStreamReader::Tag:
        return readTag(depth);
    default:
        // Nothing inside to keep: whole or nothing.
        return m_values.read(depth);
    }
}

std::optional<CborItem> CborSalvage::readArray(int depth)
{
    if (!m_in.admit(depth))
        return std::nullopt;
    const qsizetype expected = m_in.expectedCount();
    if (!m_in.reader.enterContainer())
        return std::nullopt;
    CborItem array = CborItem::makeArray();
    array.items.reserve(size_t(expected));
    while (m_in.sound() && m_in.reader.hasNext()) {
        auto element = read(depth + 1);
        if (!element || m_cut) {
            m_cut = true;
            return array;
        }
        array.items.push_back(std::move(*element));
    }
    if (!m_in.sound()) {
        m_cut = true;
        return array;
    }
    if (!m_in.reader.leaveContainer())
        return std::nullopt;
    return array;
}

std::optional<CborItem> CborSalvage::readMap(int depth)
{
    if (!m_in.admit(depth))
        return std::nullopt;
    const qsizetype expected = m_in.expectedCount();
    if (!m_in.reader.enterContainer())
        return std::nullopt;
    CborItem map = CborItem::makeMap();
    map.entries.reserve(size_t(expected));
    while (m_in.sound() && m_in.reader.hasNext()) {
        auto key = read(depth + 1);
        const bool keyOk = key && key->kind == CborItem::Kind::Text && !m_cut;
        auto value = keyOk ? read(depth + 1) : std::nullopt;
        if (value)
            map.entries.emplace_back(std::move(key->text), std::move(*value));
        // A value cut inside is kept with what it holds.
        if (!value || m_cut) {
            m_cut = true;
            return map;
        }
    }
    if (!m_in.sound()) {
        m_cut = true;
        return map;
    }
    if (!m_in.reader.leaveContainer())
        return std::nullopt;
    return map;
}

std::optional<CborItem> CborSalvage::readTag(int depth)
{
    if (!m_in.admit(depth))
        return std::nullopt;
    const quint64 t = quint64(m_in.reader.toTag());
    m_in.reader.next();
    auto content = read(depth + 1);
    if (!content)
        return std::nullopt;
    return CborItem::makeTag(t, std::move(*content));
}

} // namespace Tickerly::Foundation
