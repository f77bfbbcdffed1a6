#include "platform/foundation/store/KeptJournal_p.h"

namespace Tickerly::Foundation {

using namespace Qt::Literals::StringLiterals;

namespace KeptJournal {

namespace {

constexpr qsizetype headerSize = 4;
constexpr qsizetype idSize = 16;

} // namespace

QByteArray frame(const Entry& entry)
{
    const QByteArray payload = Cbor::encode(CborItem::makeMap({
        { u"id"_s, CborItem::makeBytes(entry.id) },
        { u"kind"_s, CborItem::makeText(entry.kind) },
        { u"key"_s, CborItem::makeText(entry.key) },
        { u"args"_s, entry.arguments },
        { u"at"_s, CborItem::makeInteger(entry.madeAt) },
    }));
    if (payload.size() > maxEntrySize)
        return {};
    QByteArray out;
    out.reserve(headerSize + payload.size());
    const auto length = quint32(payload.size());
    for (int shift = 24; shift >= 0; shift -= 8)
        out.append(char((length >> shift) & 0xff));
    out.append(payload);
    return out;
}

ReadResult read(const QByteArray& bytes)
{
    ReadResult result;
    const qsizetype end = std::min(bytes.size(), maxJournalSize);
    result.truncated = bytes.size() > maxJournalSize;
    qsizetype at = 0;
    while (at < end) {
        if (end - at < headerSize) {
            result.truncated = true;
            break;
        }
        quint32 length = 0;
        for (qsizetype i = 0; i < headerSize; ++i)
            length = (length << 8) | quint8(bytes[at + i]);
        at += headerSize;
        // A length past the bound or the end cannot be trusted to find the next frame.
        if (qsizetype(length) > maxEntrySize || qsizetype(length) > end - at) {
            result.truncated = true;
            break;
        }
        // Zeros, as a file extended but never written holds, need no decoding to be skipped.
        if (length == 0) {
            ++result.skipped;
            continue;
        }
        const std::optional<CborItem> item = Cbor::decode(bytes.mid(at, length));
        at += length;
        const CborItem* id = item ? item->find(u"id"_s) : nullptr;
        const CborItem* kind = item ? item->find(u"kind"_s) : nullptr;
        const CborItem* key = item ? item->find(u"key"_s) : nullptr;
        const CborItem* arguments = item ? item->find(u"args"_s) : nullptr;
        const CborItem* madeAt = item ? item->find(u"at"_s) : nullptr;
        if (!item || item->kind != CborItem::Kind::Map || !id || id->kind != CborItem::Kind::Bytes
            || id->bytes.size() != idSize || !kind || kind->kind != CborItem::Kind::Text
            || kind->text.isEmpty() || !key || key->kind != CborItem::Kind::Text || !arguments
            || (madeAt && madeAt->kind != CborItem::Kind::Integer)) {
            ++result.skipped;
            continue;
        }
        result.entries.push_back(
            { id->bytes, kind->text, key->text, *arguments, madeAt ? madeAt->integer : 0 });
    }
    return result;
}

} // namespace KeptJournal

} // namespace Tickerly::Foundation
