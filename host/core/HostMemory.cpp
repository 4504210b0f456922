#include "HostMemory.h"
#if defined(__GLIBC__)
#include <malloc.h>
#endif

bool KeepFreedMemoryForReuse()
{
#if defined(__GLIBC__)
    // Blocks under 256 MiB come from the heap, and up to 256 MiB free at its
    // top is kept: a 300,000-row list and SQLite's sorter for it fit.
    constexpr int kKeep = 256 * 1024 * 1024;
    return mallopt(M_MMAP_THRESHOLD, kKeep) == 1 && mallopt(M_TRIM_THRESHOLD, kKeep) == 1;
#else
    return false;
#endif
}
