#pragma once

#include <cstdlib> // says whether the C library is glibc

#if defined(__GLIBC__)
#include <malloc.h>
#endif

// Lets the C library keep at most two malloc arenas for the whole process. glibc otherwise gives
// each thread that allocates an arena of its own (up to eight per core), and each arena keeps
// what was freed in it: a refresh reading feeds on several worker threads left some 10-15 MiB
// more resident that way, for a few percent of its time. Called first thing in main(), before
// any thread starts.
inline void limitMallocArenas()
{
#if defined(__GLIBC__)
    mallopt(M_ARENA_MAX, 2);
#endif
}
