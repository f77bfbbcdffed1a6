#pragma once

// The entries of a kept-change journal: each a change that was promised as kept, written to disk
// before the promise, so that another opening of the store can write it if this process cannot.
// The bytes are read back by another process, possibly after a crash in the middle of an entry:
// they are stored data, read under fixed bounds. Internal to TickerlyFoundation; any thread.

#include "platform/foundation/Namespace.h"
#include "platform/foundation/serialization/Cbor_p.h"
#include "tickerlyfoundation_export.h"

#include <QByteArray>
#include <QString>

#include <vector>

namespace Tickerly::Foundation {

namespace KeptJournal {

// The largest entry written or read, and the largest journal read: a longer one is read up to
// this and the rest left as damaged.
inline constexpr qsizetype maxEntrySize = 8 * 1024 * 1024;
inline constexpr qsizetype maxJournalSize = 32 * 1024 * 1024;

struct Entry {
    // Unique across processes: the applied-entries table is keyed by it.
    QByteArray id;
    // The registered change kind that replays it.
    QString kind;
    QString key;
    CborItem arguments;
    // When the change was made, in this process's order of changes (see keptStamp); 0 in the
    // journals of older builds, which had none.
    qint64 madeAt = 0;
};

// One framed entry: its payload's length (4 bytes, big-endian), then the payload as one CBOR map.
// Empty when the entry is larger than maxEntrySize.
TICKERLYFOUNDATION_EXPORT QByteArray frame(const Entry& entry);

struct ReadResult {
    std::vector<Entry> entries;
    // Frames that were whole but did not hold an entry, and whether the journal ended in the
    // middle of a frame (a write cut short) or past the bound.
    int skipped = 0;
    bool truncated = false;
};

// Every sound entry of `bytes`, in order. A frame that does not decode is skipped; a length that
// runs past the end or the bound ends the reading.
TICKERLYFOUNDATION_EXPORT ReadResult read(const QByteArray& bytes);

} // namespace KeptJournal

} // namespace Tickerly::Foundation
