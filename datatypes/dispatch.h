// Action dispatch: from (datatype, action id) to the handler of the per-type action table,
// and the natives and actions tables that native! and action! values index.
//
// Code calls typed handlers through dispatch<A_X>(value, args...): the handler of the
// value's own type, or script/expect-arg when the type does not support the action.
#pragma once
#include "datatypes/registry.h"
#include "runtime/cell.h"
#include "runtime/compare.h"
#include "runtime/exits.h"

namespace kel::dt {

// ---- the natives table and the actions table ------------------------------------------
//
// native! and action! values carry the number of their entry in one of these tables (a
// native's slot - 1, an action's id - 1); the interpreter calls the entry found there. Each
// native registers itself at its slot from the file that defines it (KEL_NATIVE below).

// A native's entry. `check` is true when the interpreter calls it (the native then checks its
// arguments against its spec's typesets); `refinements` holds one index per refinement of
// the spec, in spec order: -1 when absent, else the argument-stack index (from the call's
// arguments base) of the refinement's first argument. Arguments and result are on the
// argument stack, the result in slot 0. Answers 0, or the exit code that `try` and `parse`
// hand back to a compiled caller.
using NativeEntry = rt::Status (*)(bool check, const i32* refinements);
// An action's generic entry: the refinement indexes alone.
using ActionEntry = void (*)(const i32* refinements);

constexpr u32 NATIVES_CAPACITY = 120;
extern NativeEntry g_natives_table[NATIVES_CAPACITY];
// The next free slot of the natives table (slots count from 1).
extern u32 g_natives_count;

// Entry k - 1 is the generic entry of action id k. Slots 7 (path action) and 9 (compare)
// have other conventions and slot 8 is empty: their entries here stay null.
extern ActionEntry g_actions_table[ACTION_COUNT];

// Stores each entry at the running count and moves the count on.
void natives_register(u32 count, const NativeEntry* entries);
void actions_register(u32 count, const ActionEntry* entries);

// Self-registration of a native's entry at its fixed slot, from the file that defines it:
//     KEL_NATIVE(106, transcode_native);
// Each slot is taken once; a second claim is a fatal error at start-up.
struct NativeRegistrar {
    NativeRegistrar(u32 slot, NativeEntry entry);
};
#define KEL_NATIVE_CAT2(a, b) a##b
#define KEL_NATIVE_CAT(a, b) KEL_NATIVE_CAT2(a, b)
#define KEL_NATIVE(slot, entry) \
    static const ::kel::dt::NativeRegistrar KEL_NATIVE_CAT(native_registrar_, __LINE__)(slot, entry)

// The entry of native slot (1-based), or null when the slot holds none.
inline NativeEntry native_entry(i64 slot) {
    return (slot >= 1 && slot <= i64(NATIVES_CAPACITY)) ? g_natives_table[slot - 1] : nullptr;
}
// The generic entry of action id (1-based), or null.
inline ActionEntry action_generic_entry(i64 id) {
    return (id >= 1 && id <= ACTION_COUNT) ? g_actions_table[id - 1] : nullptr;
}

// ---- dispatch -------------------------------------------------------------------------

// action-lookup: the handler for `slot` of `type`; null raises script/expect-arg naming the
// call, the datatype and the call's first argument.
AnyFn action_lookup(u32 type, const Cell* value, u32 slot);

template <int A>
inline typename ActionSig<A>::type lookup(const Cell* value) {
    // The table answers directly; the call out is only for the error.
    AnyFn fn = action_entry(type_of(value), A);
    if (__builtin_expect(fn == nullptr, 0)) fn = action_lookup(type_of(value), value, A);
    return reinterpret_cast<typename ActionSig<A>::type>(fn);
}

template <int A, class... Args>
inline auto dispatch(Cell* value, Args... args) {
    return lookup<A>(value)(value, args...);
}

// Comparison operation codes (runtime/compare.h).
using rt::CompareOp;
using enum rt::CompareOp;

// compare: the answer of `op` (true/false). -2 from the type counts as unequal for the
// equality codes and raises script/invalid-compare for the ordering codes.
bool compare(Cell* v1, Cell* v2, i32 op);
// compare-values: the signed ordering used by sorting.
i32 compare_values(Cell* v1, Cell* v2, i32 op);

// The form and mold entry points: append to `out`, answer the budget left.
inline i32 form_dispatch(Cell* v, Cell* out, Cell* part, i32 limit) { return dispatch<A_FORM>(v, out, part, limit); }
inline i32 mold_dispatch(Cell* v, Cell* out, bool only, bool all, bool flat, Cell* part, i32 limit, i32 indent) {
    return dispatch<A_MOLD>(v, out, only, all, flat, part, limit, indent);
}

}  // namespace kel::dt
