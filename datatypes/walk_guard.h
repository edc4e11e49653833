// The cycles stack as the recursive block walks (mold, form, compare, copy) use it.
//
// A WalkGuard pushes a series node for the span of one walk level and puts the cycles stack
// back when the level ends, also when an error unwinds through it, so that an interrupted
// walk never leaves entries behind.
#pragma once
#include "runtime/cycles.h"

namespace kel::dt {

inline bool walk_in_progress(Node node) { return rt::cycles_find(node); }
inline void walk_reset() { rt::cycles_reset(); }

class WalkGuard {
public:
    explicit WalkGuard(Node node) { rt::cycles_push(node); }
    WalkGuard(const WalkGuard&) = delete;
    WalkGuard& operator=(const WalkGuard&) = delete;

private:
    rt::CyclesScope scope_;  // restores the depth it saw before the push
};

}  // namespace kel::dt
