// function! and routine! values; native!, action! and op! helpers shared with them.
//
// function! cell: header 24 or'ed with the spec's attribute flags (0x400 trace, 0x200
// no-trace); data1 the argument context (kind 1, values on the argument stack while a call
// runs); data2 the spec block's node; data3 the node of the five-cell function record:
//   [0] the body (a deep copy of the block given, bound to the argument context), or none
//   [1] unset!, reserved
//   [2] integer! entry of compiled code, unset! for an interpreted body
//   [3] unset!; op/make stores the function here when an op! is made from it
//   [4] the owner object for an object's member (an object! cell: data1 its context), else
//       unset!
// The argument context's owner cell holds a copy of the function.
//
// routine! cell: header 29 with the argument count in bits 25-29 and a variant flag in bit
// 15; data1 and data2 as for functions; data3 a five-cell record: [0] body block or none,
// [1] unset!, [2] integer! entry, [3] unset!, [4] integer! return type (-1 none, 4 logic!,
// 11 integer!).
#pragma once
#include "runtime/cell.h"
#include "runtime/memory.h"

namespace kel::dt {

constexpr u32 FN_TRACE = 0x400;
constexpr u32 FN_NO_TRACE = 0x200;
constexpr u32 ROUTINE_VARIANT = 0x8000;

enum FunctionRecord : u32 { FN_BODY = 0, FN_RESERVED = 1, FN_CODE = 2, FN_OP_SOURCE = 3, FN_OWNER = 4 };

inline bool is_any_function_type(u32 t) {
    return t == T_NATIVE || t == T_ACTION || t == T_OP || t == T_FUNCTION || t == T_ROUTINE;
}

// The record cell of a function! or routine!.
Cell* function_record(const Cell* fn, u32 cell);
inline u32 routine_arity(const Cell* r) { return (r->header >> 25) & 0x1F; }

// check-function-spec: the attribute flags of a valid spec; script/bad-func-def,
// script/dup-vars, script/invalid-type-spec or script/no-value otherwise.
u32 check_function_spec(const Cell* spec);
// make-function-cell: pushes a new function! and answers its argument context. `ctx` 0
// makes the context from the spec and binds the body copy to it; `code` 0 = interpreted;
// `owner` 0 = not an object's member.
Node make_function_cell(const Cell* spec, const Cell* body, Node ctx, u32 code, Node owner, u32 flags);
// make-routine-cell: pushes a new routine!.
Cell* make_routine_cell(const Cell* spec, const Cell* body, u32 code, i32 return_type, bool variant);
// count-spec-words: from `start`, the first /local and every word! after it; -1 with
// `require_local` when there is no /local.
i32 count_spec_words(Node spec, i32 start, bool require_local);
// push-refinement-off: false for an unused refinement, then n - 1 nones for its arguments.
void push_refinement_off(i32 n);
// collect-function-locals: the words the body assigns (set-words, loop words of foreach,
// remove-each and repeat) that the spec lacks, appended to the spec after /local; /extern
// words stay global. The locals block is pushed and answered.
Cell* collect_function_locals(Cell* spec, const Cell* body);

// The spec of any function value (native!, action!, op!, function!, routine!) as a block.
Cell spec_of_function(const Cell* fn);

}  // namespace kel::dt
