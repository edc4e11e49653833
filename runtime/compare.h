// The comparison operation codes every compare action takes, and the hook through which the
// runtime's tables compare keys with the value types' own compare actions.
#pragma once
#include "runtime/cell.h"

namespace kel::rt {

enum CompareOp : i32 {
    OP_EQUAL = 0,
    OP_NOT_EQUAL = 1,
    OP_STRICT_EQUAL = 2,
    OP_LESSER = 3,
    OP_LESSER_OR_EQUAL = 4,
    OP_GREATER = 5,
    OP_GREATER_OR_EQUAL = 6,
    OP_SORT = 7,
    OP_CASE_SORT = 8,
    OP_SAME = 9,
    OP_FIND = 10,
    OP_STRICT_FIND = 11,
    OP_PUT = 12,
};

// The signed ordering of two values under `op` (0 = equal); installed by the action layer,
// which owns the compare actions, before any table holds a key.
extern i32 (*g_compare_values)(Cell* v1, Cell* v2, i32 op);

}  // namespace kel::rt
