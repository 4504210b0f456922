#pragma once
#include "CoreGlobal.h"

// The desk's allocator setting, made once at start before any big load.
// Lists of 100,000 rows (and SQLite's sorter behind them) are loaded, freed
// and loaded again all day. With glibc's defaults each such block is mapped
// fresh, every page of it faulted in and zeroed, then handed back on free;
// kept in the heap it is reused by the next load. The cost is that memory
// freed after the largest list stays with the process until it ends.
// False where the allocator is not glibc's or refused the setting.
QELCORE_EXPORT bool KeepFreedMemoryForReuse();
