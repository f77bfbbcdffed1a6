#pragma once

#include "platform/foundation/Namespace.h"

#if defined(__GLIBC__)
#include <malloc.h>
#endif

namespace Tickerly::Foundation {

// Gives the system back the pages of freed memory, after a burst of work whose memory is gone, so
// that a process that lives all day does not keep the high-water mark of its busiest moment.
inline void releaseFreedMemory()
{
#if defined(__GLIBC__)
    malloc_trim(0);
#endif
}

} // namespace Tickerly::Foundation
