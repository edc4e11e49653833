// Cycles stack: the series that a recursive walk (mold, form, compare, copy) is inside, so
// that a walk stops at a value that contains itself.
#pragma once
#include "runtime/types.h"

namespace kel::rt {

// Empties the cycles stack (after a stack overflow).
void cycles_reset();

}  // namespace kel::rt
