// The runtime system record: process-wide facts that the entry code fills and the fatal
// paths read.
#pragma once
#include "runtime/types.h"

namespace kel::rt {

struct HeapBlockHeader;

struct HeapBlockList {
    HeapBlockHeader* first = nullptr;
    HeapBlockHeader* last = nullptr;
};

struct RuntimeSystemRecord {
    i32 argc = 0;
    char** argv = nullptr;    // null-terminated list of UTF-8 strings (heap blocks)
    u32 thrown = 0;           // the systems-level code in flight; 0 when none
    u64 error_address = 0;    // where the last fatal error happened
    HeapBlockList heap;       // every block taken by heap_allocate
};

extern RuntimeSystemRecord g_system;

}  // namespace kel::rt
