#include "platform/foundation/serialization/CborWalker_p.h"

namespace Tickerly::Foundation {

bool CborWalker::check(int depth)
{
    if (!m_in.admit(depth))
        return false;
    switch (m_in.reader.type()) {
    case QCborStreamReader::ByteArray:
        return m_in.readBytes().has_value();
    case QCborStreamReader::String:
        return checkText();
    case QCborStreamReader::Array:
        return checkArray(depth);
    case QCborStreamReader::Map:
        return checkMap(depth);
    case QCborStreamReader::Tag:
        m_in.reader.next();
        return check(depth + 1);
    default:
        return m_in.readScalar().has_value();
    }
}

bool CborWalker::checkText()
{
    // A definite text is checked in place, without the copy the reader would make.
    if (const auto whole = m_in.definiteText(m_in.size)) {
        if (!whole->isValidUtf8())
            return false;
        m_in.reader.next(); // a failure shows in the reader's error, as for any item
        return true;
    }
    return m_in.readText().has_value();
}

bool CborWalker::checkArray(int depth)
{
    if (!m_in.reader.enterContainer())
        return false;
    while (m_in.sound() && m_in.reader.hasNext()) {
        if (!check(depth + 1))
            return false;
    }
    return m_in.sound() && m_in.reader.leaveContainer();
}

bool CborWalker::checkMap(int depth)
{
    if (!m_in.reader.enterContainer())
        return false;
    while (m_in.sound() && m_in.reader.hasNext()) {
        // Keys are texts.
        if (m_in.reader.type() != QCborStreamReader::String || !check(depth + 1)
            || !check(depth + 1))
            return false;
    }
    return m_in.sound() && m_in.reader.leaveContainer();
}

std::optional<std::vector<std::pair<qsizetype, qsizetype>>> CborWalker::walkLastArray(
    QByteArrayView bytes, qsizetype pos, int depth, qsizetype items)
{
    const auto count = Cbor::definiteHead(bytes, pos, 4);
    if (!count || depth > Cbor::maxDepth || ++items > Cbor::maxItems)
        return std::nullopt;
    if (*count > quint64(Cbor::maxItems))
        return std::nullopt;
    std::vector<std::pair<qsizetype, qsizetype>> elements;
    for (quint64 i = 0; i < *count; ++i) {
        const qsizetype begin = pos;
        qsizetype elementItems = 0;
        if (!walkPlain(bytes, pos, depth + 1, elementItems))
            return std::nullopt;
        elements.emplace_back(begin, pos - begin);
    }
    if (pos != bytes.size())
        return std::nullopt;
    return elements;
}

// Moves past the item at `pos` when it is sound and plainly encoded; false otherwise.
bool CborWalker::walkPlain(QByteArrayView bytes, qsizetype& pos, int depth, qsizetype& items)
{
    const qsizetype size = bytes.size();
    if (depth > Cbor::maxDepth || ++items > Cbor::maxItems || pos >= size)
        return false;
    const auto initial = static_cast<unsigned char>(bytes.at(pos));
    const int major = initial >> 5;
    if (major == 7) {
        if (initial >= 0xf4 && initial <= 0xf6) {
            pos += 1;
            return true;
        }
        if (initial < 0xf9 || initial > 0xfb)
            return false;
        const qsizetype floatSize = 1 + (qsizetype(2) << (initial - 0xf9));
        if (floatSize > size - pos)
            return false;
        pos += floatSize;
        return true;
    }
    const auto value = Cbor::definiteHead(bytes, pos, major);
    if (!value)
        return false;
    switch (major) {
    case 0:
    case 1:
        return true;
    case 2:
    case 3:
        if (*value > quint64(size - pos))
            return false;
        if (major == 3 && !bytes.sliced(pos, qsizetype(*value)).isValidUtf8())
            return false;
        pos += qsizetype(*value);
        return true;
    case 4:
        for (quint64 i = 0; i < *value; ++i) {
            if (!walkPlain(bytes, pos, depth + 1, items))
                return false;
        }
        return true;
    case 5:
        for (quint64 i = 0; i < *value; ++i) {
            if (pos >= size || static_cast<unsigned char>(bytes.at(pos)) >> 5 != 3)
                return false;
            if (!walkPlain(bytes, pos, depth + 1, items)
                || !walkPlain(bytes, pos, depth + 1, items))
                return false;
        }
        return true;
    default: // a tag
        return walkPlain(bytes, pos, depth + 1, items);
    }
}

} // namespace Tickerly::Foundation
