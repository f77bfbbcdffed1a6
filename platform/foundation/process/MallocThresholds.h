#pragma once

#include "platform/foundation/Namespace.h"

#include <cstdlib>

namespace Tickerly::Foundation {

// Raises the C library's thresholds for mapping a large block on its own and for giving the
// heap's top back to the system from 128 KiB to 1 and 2 MiB, where the first freed block of 1 MiB
// would put them: glibc raises them so itself as larger blocks come and go, and keeps doing so.
// Below them, each change to a stored list of a few hundred KiB freed its copies at the top of the
// heap, gave those pages back and asked for them again at the next change, with a flush of every
// core's address cache each time. Called first thing in main(); a threshold set in the environment
// turns the raising off, and this changes nothing then.
inline void raiseMallocThresholds()
{
#if defined(__GLIBC__)
    void* volatile block = std::malloc(1024 * 1024);
    std::free(block);
#endif
}

} // namespace Tickerly::Foundation
