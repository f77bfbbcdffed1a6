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

} // namespace Tickerly::Foundation
