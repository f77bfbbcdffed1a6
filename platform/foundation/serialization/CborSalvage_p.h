#pragma once

#include "platform/foundation/Namespace.h"
#include "platform/foundation/serialization/CborValueReader_p.h"

namespace Tickerly::Foundation {

// Reads what it can of damaged bytes: everything before the first damage, each array keeping
// only its whole elements and each map the entries read whole. Limits as CborValueReader's,
// whose reading it shares; a limit passed stops the reading there as damage does.
// Internal to TickerlyFoundation; lives as long as one read, on the thread that reads.
class CborSalvage {
public:
    explicit CborSalvage(const QByteArray& bytes)
        : m_values(bytes)
        , m_in(m_values.stream())
    {
    }

    // What could be read; `complete` learns whether nothing was cut.
    std::optional<CborItem> readSalvaged(bool* complete);

private:
    std::optional<CborItem> read(int depth);
    std::optional<CborItem> readArray(int depth);
    std::optional<CborItem> readMap(int depth);
    std::optional<CborItem> readTag(int depth);

    CborValueReader m_values;
    Cbor::Stream& m_in;
    // Damage was met: every container open returns what it holds so far.
    bool m_cut = false;
};

} // namespace Tickerly::Foundation
