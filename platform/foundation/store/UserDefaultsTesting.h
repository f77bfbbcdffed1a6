#pragma once

#include "platform/foundation/Namespace.h"
#include "tickerlyfoundation_export.h"

#include <QtGlobal>

namespace Tickerly::Foundation {

// Test hooks of the settings suites: what the waits for the write lock were, counted rather than
// timed, so that a test's verdict does not depend on how busy the machine is. Process-wide, any
// thread.
namespace UserDefaultsTesting {

// The changes (set, update, ...) that found the write lock taken until their wait for it ended,
// since the last reset.
struct LockWaits {
    int ranOut = 0; // every such change, those that only tried once included
    int waited = 0; // those that were allowed to wait at all
    qint64 longestAllowedMs = 0; // the longest any of them was allowed to wait
};
TICKERLYFOUNDATION_EXPORT LockWaits lockWaits();
TICKERLYFOUNDATION_EXPORT void resetLockWaits();

// Leaves a journal of kept changes in place once they are written, as a crash between the
// commit and its removal would (true), or removes it as usual (false).
TICKERLYFOUNDATION_EXPORT void leaveJournalsAfterWriting(bool leave);
// Fails every write of a journal of kept changes (true), as a full disk would.
TICKERLYFOUNDATION_EXPORT void failJournalWrites(bool fail);
// How many stored values a write over them has read to tell whether they were damaged, since the
// process started.
TICKERLYFOUNDATION_EXPORT int storedValuesReadForDamage();

} // namespace UserDefaultsTesting

} // namespace Tickerly::Foundation
