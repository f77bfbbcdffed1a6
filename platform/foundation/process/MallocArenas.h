#pragma once

#include "platform/foundation/Namespace.h"

#include <cstdlib>

#if defined(__GLIBC__)
#include <malloc.h>
#endif

namespace Tickerly::Foundation {

// Lets the C library keep at most four malloc arenas for the whole process. glibc otherwise gives
// each thread that allocates an arena of its own (up to eight per core), and each arena keeps what
// was freed in it: a refresh reading feeds on several worker threads left several MiB more
// resident that way. Fewer than four made the readers wait for each other's allocations. Called
// first thing in main(), before any thread starts; MALLOC_ARENA_MAX in the environment still has
// the last word.
inline void limitMallocArenas()
{
#if defined(__GLIBC__)
    if (!std::getenv("MALLOC_ARENA_MAX"))
        mallopt(M_ARENA_MAX, 4);
#endif
}

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

// Gives the system back the pages of freed memory, after a burst of work whose memory is gone, so
// that a process that lives all day does not keep the high-water mark of its busiest moment.
inline void releaseFreedMemory()
{
#if defined(__GLIBC__)
    malloc_trim(0);
#endif
}

} // namespace Tickerly::Foundation
