// Action dispatch: from (datatype, action id) to the handler of the per-type action table.
//
// Runtime code calls typed handlers through dispatch<A_X>(value, args...): the handler of
// the value's own type, or script/expect-arg when the type does not support the action.
#pragma once
#include "datatypes/registry.h"
#include "runtime/cell.h"

namespace kel::ev {

// action-lookup: the handler for `slot` of `type`; null raises script/expect-arg naming the
// call, the datatype and the call's first argument.
dt::AnyFn action_lookup(u32 type, const Cell* value, u32 slot);

template <int A>
inline typename dt::ActionSig<A>::type lookup(const Cell* value) {
    return reinterpret_cast<typename dt::ActionSig<A>::type>(action_lookup(type_of(value), value, A));
}

template <int A, class... Args>
inline auto dispatch(Cell* value, Args... args) {
    return lookup<A>(value)(value, args...);
}

// Comparison operation codes.
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

// compare: the answer of `op` (true/false). -2 from the type counts as unequal for the
// equality codes and raises script/invalid-compare for the ordering codes.
bool compare(Cell* v1, Cell* v2, i32 op);
// compare-values: the signed ordering used by sorting.
i32 compare_values(Cell* v1, Cell* v2, i32 op);

// The form and mold entry points of runtime code: append to `out`, answer the budget left.
inline i32 form_dispatch(Cell* v, Cell* out, Cell* part, i32 limit) { return dispatch<A_FORM>(v, out, part, limit); }
inline i32 mold_dispatch(Cell* v, Cell* out, bool only, bool all, bool flat, Cell* part, i32 limit, i32 indent) {
    return dispatch<A_MOLD>(v, out, only, all, flat, part, limit, indent);
}

}  // namespace kel::ev
