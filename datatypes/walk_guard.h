// The cycles stack as the recursive block walks (mold, form, compare, copy) use it.
//
// A WalkGuard pushes a series node for the span of one walk level and puts the cycles stack
// back when the level ends, also when an error unwinds through it, so that an interrupted
// walk never leaves entries behind.
#pragma once
#include "datatypes/string.h"
#include "runtime/cycles.h"

namespace kel::dt {

inline bool walk_in_progress(Node node) { return rt::cycles_find(node); }
inline void walk_reset() { rt::cycles_reset(); }

// When the value's node is already being walked: appends its marker to the string `out`,
// lowers *remaining by the marker's length and answers true.
inline bool cycles_detect(const Cell* value, Cell* out, i32* remaining, bool mold) {
    const char* marker = rt::cycles_marker(value, mold);
    if (!marker) return false;
    append_c_string(out, marker);
    *remaining -= i32(__builtin_strlen(marker));
    return true;
}

class WalkGuard {
public:
    explicit WalkGuard(Node node) { rt::cycles_push(node); }
    WalkGuard(const WalkGuard&) = delete;
    WalkGuard& operator=(const WalkGuard&) = delete;

private:
    rt::CyclesScope scope_;  // restores the depth it saw before the push
};

}  // namespace kel::dt
