// apply: calls a function with the arguments and refinements of a block.
#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/function.h"
#include "datatypes/series.h"
#include "datatypes/word.h"
#include "evaluator/actions.h"
#include "evaluator/interpreter.h"
#include "runtime/errors.h"
#include "runtime/symbols.h"

namespace kel::ev {

using namespace rt;
using namespace dt;

namespace {

inline bool is_applicable(u32 t) { return is_any_function_type(t) || t == T_OP; }

// apply (function, block, /all, /safer): the function is named by a word, by a path whose
// further elements are refinements, or given as a value (its frame is then <applied>).
Status apply_native(bool, const i32* refs) {
    Cell target = *stack_arg(0);
    u32 mode = refs[0] >= 0 ? u32(APPLY_ALL) : u32(APPLY_REFINEMENTS);
    if (refs[1] >= 0) mode |= APPLY_SINGLE;
    Cell fn, name;
    const Cell* path = nullptr;
    i32 head = 0;
    u32 t = type_of(&target);
    if (is_plain_word_type(t)) {
        name = target;
        set_cell_type(&name, T_WORD);
        fn = *get_word_value_ptr(&target);
    } else if (t == T_PATH) {
        path = stack_arg(0);
        head = series_head(&target) < 0 ? 0 : series_head(&target);
        if (head >= ks_buffer_length(&target)) raise_error(Err::script_invalid_arg, &target);
        name = *ks_abs_at(&target, head);
        if (type_of(&name) != T_WORD) raise_error(Err::script_invalid_arg, &target);
        fn = *get_word_value_ptr(&name);
    } else {
        fn = target;
        name = *runtime_word(WORD_APPLIED);
    }
    if (!is_applicable(type_of(&fn))) raise_error(Err::script_invalid_arg, &target);
    if (Status s = apply_function(&fn, stack_arg(1), path, head, &name, mode)) return s;
    *stack_result() = *stack_top();
    return 0;
}

}  // namespace

KEL_NATIVE(107, apply_native);

}  // namespace kel::ev
