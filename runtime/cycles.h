// Cycles stack: the series (and object contexts) that recursive walks (mold, form, compare,
// copy, binding, the ownership walk) are inside, so that a value that contains itself is met
// as a marker instead of being walked forever.
//
// Entries are nodes: a series value's node (data2), an object's context node (data1). The
// stack holds at most 999 entries; one more push empties it and raises internal/too-deep.
//
// A walk keeps the stack balanced with a CyclesScope: whatever leaves the scope (a return, an
// error unwinding through it), the top is put back where the scope found it, so an error in
// mid-walk never leaves entries behind that would make those series mold as "[...]" later.
// Catch sites restore the top they had on entry the same way.
#pragma once
#include "runtime/cell.h"
#include "runtime/types.h"

namespace kel::rt {

struct PtrMap;

constexpr u32 CYCLES_SLOTS = 1000;

// cycles-push: internal/too-deep (after emptying the stack) when it is full.
void cycles_push(Node node);
// cycles-pop: one entry off, when there is one.
void cycles_pop();
// cycles-pop-n: n entries off (never below the bottom).
void cycles_pop_n(u32 n);
// cycles-reset: empties the stack (also done on every stack overflow).
void cycles_reset();
// cycles-find: whether the node is on the stack.
bool cycles_find(Node node);
// The number of entries, and putting it back to an earlier number.
u32 cycles_depth();
void cycles_set_depth(u32 depth);

// The node a value is known by on the stack: an object's context, any other value's data2.
Node cycles_value_node(const Cell* value);
// The marker a walk writes for a value whose node is already on the stack ("[...]", "(...)",
// "#[...]", "make object! [...]" when molding, else "..."); null when the node is not on it.
const char* cycles_marker(const Cell* value, bool mold);
// cycles-mark: rewrites the entries through the collector's forward map of moved nodes.
void cycles_relocate(PtrMap* forward);

// Puts the top back where it was at construction when the scope is left, however.
class CyclesScope {
public:
    CyclesScope() : depth_(cycles_depth()) {}
    ~CyclesScope() { cycles_set_depth(depth_); }
    CyclesScope(const CyclesScope&) = delete;
    CyclesScope& operator=(const CyclesScope&) = delete;
    u32 depth() const { return depth_; }

private:
    u32 depth_;
};

}  // namespace kel::rt
