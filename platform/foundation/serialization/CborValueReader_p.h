#pragma once

#include "platform/foundation/Namespace.h"
#include "platform/foundation/serialization/CborStream_p.h"

#include <QString>

#include <optional>
#include <utility>
#include <vector>

namespace Tickerly::Foundation {

// Builds CborItem values from sound bytes; any damage, or a limit passed, refuses the item read.
// Limits: nesting to Cbor::maxDepth and Cbor::maxItems items in one item read (each item apart
// in readNext, each element of the left array apart in readTopLeaving, which takes up to
// Cbor::maxItems of them); no string chunk longer than what is left of the input; room made
// ahead for at most 1024 elements of a container, whatever it declares.
// Internal to TickerlyFoundation; lives as long as one read, on the thread that reads.
class CborValueReader {
public:
    using Ranges = std::vector<std::pair<qsizetype, qsizetype>>;

    explicit CborValueReader(const QByteArray& bytes)
        : m_in(bytes)
    {
    }

    // The one item filling the input.
    std::optional<CborItem> readTop();
    // As readTop, with the elements of the array under `key` in the top map (its first entry
    // under that key) checked but not built: their byte ranges go to `elements`.
    std::optional<CborItem> readTopLeaving(const QString& key, Ranges* elements);
    // The item at the reader, bounded on its own, when it ends where `end` says; the reader then
    // stands at the next item.
    std::optional<CborItem> readNext(qsizetype end);

    // The item at the reader, at `depth`; the reader stands after it.
    std::optional<CborItem> read(int depth);

    Cbor::Stream& stream() { return m_in; }
    qsizetype offset() const { return m_in.offset(); }

private:
    std::optional<CborItem> readText();
    std::optional<CborItem> readArray(int depth);
    std::optional<CborItem> readMap(int depth);
    std::optional<CborItem> readTag(int depth);
    std::optional<CborItem> readMapLeaving(const QString& key, Ranges* elements, bool& walkedToEnd);
    std::optional<CborItem> readArrayLeaving(int depth, Ranges* elements);

    // The text of bytes read and checked before, skipped at the reader: keys and class names
    // repeat in every stored object.
    std::optional<QString> knownText(QByteArrayView raw);

    static constexpr qsizetype maxKnownLength = 32;
    static constexpr size_t maxKnown = 32;

    Cbor::Stream m_in;
    // Short texts read so far: their bytes, and the text they gave.
    std::vector<std::pair<QByteArray, QString>> m_known;
};

} // namespace Tickerly::Foundation
