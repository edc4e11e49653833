// handle!: an integer that stands for an OS or external-resource handle. Word 1 is the
// kind (0 none, else the 1-based number of an external-resource kind), word 2 the value,
// word 3 -1. Scripts cannot make one: handles come from native code.
#pragma once
#include "runtime/cell.h"
#include "runtime/memory.h"

namespace kel::dt {

Cell* make_handle_at(Cell* c, i32 value, i32 kind);
Cell* make_handle_in(Node block, i32 value, i32 kind);
Cell* push_handle(i32 value, i32 kind);
Cell* push_null_handle();
// The current call's result slot.
Cell* box_handle(i32 value, i32 kind);

}  // namespace kel::dt
