// The block builders `reduce` and `compose`, and the reduction that `print` shares.
#pragma once
#include "runtime/cell.h"
#include "runtime/exits.h"

namespace kel::ev {

// Evaluates the expressions of `block` from its index and adds each value, without its
// new-line marker, to `target`: at its tail, or with `insert` at its position through the
// insert action (which moves `target` past what it inserted and keeps a hash! index and an
// owner in step). Answers the exit in flight, if any.
rt::Status reduce_values(const Cell* block, Cell* target, bool insert);

}  // namespace kel::ev
