// The cycles stack as the recursive block walks (mold, form, compare, copy) use it.
//
// A WalkGuard pushes a series node for the span of one walk level and restores the cycles
// stack when the level ends, also when an error unwinds through it, so that an interrupted
// walk never leaves entries behind.
#pragma once
#include "runtime/types.h"

namespace kel::dt {

// TODO(hashsym): forward to the cycles stack once it is merged.
inline bool walk_in_progress(Node) { return false; }
inline void walk_reset() {}

class WalkGuard {
public:
    explicit WalkGuard(Node) {}
    WalkGuard(const WalkGuard&) = delete;
    WalkGuard& operator=(const WalkGuard&) = delete;
};

}  // namespace kel::dt
