#pragma once

#include "platform/foundation/Namespace.h"
#include "platform/foundation/serialization/CborStream_p.h"

#include <QByteArrayView>

#include <utility>
#include <vector>

namespace Tickerly::Foundation {

// Checks CBOR items for soundness without building them: an item it passes is one that
// CborValueReader reads, and the other way round.
// Limits: nesting to Cbor::maxDepth and Cbor::maxItems items, counted on the stream as the value
// reader counts them; no length past the input's end. The walk over plain bytes takes arrays of
// up to Cbor::maxItems elements.
// Internal to TickerlyFoundation; lives as long as one read, on the thread that reads.
class CborWalker {
public:
    explicit CborWalker(Cbor::Stream& in)
        : m_in(in)
    {
    }

    // Moves the reader past the item at it when it is sound; false, the reader anywhere, when not.
    bool check(int depth);

    // The array at `pos` of `bytes`, the last item there, at `depth` with `items` counted before
    // it: its elements' ranges when every one is plainly encoded (definite lengths, true, false,
    // null and floats only) and sound. Nothing for anything else, sound or not: the stream reader
    // then decides.
    static std::optional<std::vector<std::pair<qsizetype, qsizetype>>> walkLastArray(
        QByteArrayView bytes, qsizetype pos, int depth, qsizetype items);

private:
    bool checkText();
    bool checkArray(int depth);
    bool checkMap(int depth);

    static bool walkPlain(QByteArrayView bytes, qsizetype& pos, int depth, qsizetype& items);

    Cbor::Stream& m_in;
};

} // namespace Tickerly::Foundation
