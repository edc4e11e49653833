// The library's low-level routines: C++ bodies that the language reaches as routine! values.
//
// A routine! value keeps the number of its entry (from 1) in the integer! cell of its
// record; the interpreter calls the entry with the routine's frame open, after checking
// and pushing the arguments, as for a native: `args` is the first argument's cell (the
// arguments base), the others follow it, and args[0] is also the result slot. A routine
// without a return type leaves its result there (or leaves its first argument as the
// result); for the return types logic! (non-zero is true) and integer! the answer is the
// result.
//
// Each routine names the boot source it belongs to and its target: a global word is set
// before that source runs (so the source can call it); a path (an object's member, such as
// system/console/init) is set after the source has built the object.
#pragma once
#include "runtime/cell.h"
#include "evaluator/eval_hooks.h"
#include "runtime/types.h"

namespace kel::lib {

using RoutineEntry = ev::RoutineBody;

// The return kinds are the type ids the interpreter sets the result to.
constexpr i32 RETURNS_NONE = -1;
constexpr i32 RETURNS_LOGIC = T_LOGIC;
constexpr i32 RETURNS_INTEGER = T_INTEGER;

struct RoutineDef {
    const char* source;  // the boot source (path from the repository root)
    const char* target;  // "quit-return", "system/console/init"
    const char* spec;    // the spec block's text, without the outer brackets
    RoutineEntry entry;
    i32 returns;
};

// Self-registration from the file that defines the body:
//     KEL_ROUTINE(quit_return_def);
struct RoutineRegistrar {
    explicit RoutineRegistrar(const RoutineDef& def);
};
#define KEL_ROUTINE_CAT2(a, b) a##b
#define KEL_ROUTINE_CAT(a, b) KEL_ROUTINE_CAT2(a, b)
#define KEL_ROUTINE(def) \
    static const ::kel::lib::RoutineRegistrar KEL_ROUTINE_CAT(routine_registrar_, __LINE__)(def)

// The entry of a routine's code number, or null when there is none.
RoutineEntry routine_entry(i64 code);
// The definition behind a code number, or null.
const RoutineDef* routine_def(i64 code);

// Binds the routines of `source`: `before` the global ones, else the ones set by path.
void install_routines(const char* source, bool before);

// The slot of a member path such as "system/console/init": the word's value, then each
// object's field in turn. A step that finds no object or no such field raises
// script/invalid-path.
Cell* member_slot(const char* path);

// For tests: the number of routines registered.
u32 routine_count();

}  // namespace kel::lib
