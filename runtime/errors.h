// Raising language errors.
//
// Runtime code names an error by its catalog entry (Err::<category>_<id>) and passes up to
// three argument values. raise_error builds the error! value, shows it to the tracer and
// raises it: the stacks are unrolled to the innermost try frame, the error is pushed on the
// argument stack and an ErrorThrow (a C++ exception) carries it to that try.
#pragma once
#include "runtime/cell.h"
#include "runtime/types.h"

namespace kel::rt {

enum class ErrCategory : u8 {
#define KEL_ERROR_CATEGORY(ident, name, display) cat_##ident,
#define KEL_ERROR(cat, ident, name, tpl)
#include "runtime/error_catalog.def"
#undef KEL_ERROR_CATEGORY
#undef KEL_ERROR
    count
};

enum class Err : u16 {
#define KEL_ERROR_CATEGORY(ident, name, display)
#define KEL_ERROR(cat, ident, name, tpl) cat##_##ident,
#include "runtime/error_catalog.def"
#undef KEL_ERROR_CATEGORY
#undef KEL_ERROR
    count
};

struct ErrorInfo {
    ErrCategory category;
    u8 index;          // position among the category object's words: `code` 0, `type` 1, ids from 2
    const char* name;  // the id word, "no-value"
    const char* tpl;   // message template in the language's notation
};

struct CategoryInfo {
    const char* name;     // "script"
    const char* display;  // "Script Error"
};

const ErrorInfo& error_info(Err e);
const CategoryInfo& category_info(ErrCategory c);
// category index × 100 + id index − 2
inline i32 error_code(Err e) { return i32(error_info(e).category) * 100 + error_info(e).index - 2; }

// Builds the error! value for an error into `out`. Installed by the error! datatype; until
// then a bare error cell (type error!, data1 = the Err) is made.
using ErrorMaker = void (*)(Err e, const Cell* a1, const Cell* a2, const Cell* a3, Cell* out);
extern ErrorMaker g_error_maker;

// Shows a new error to the tracer before it is raised; installed by the interpreter.
extern void (*g_error_trace_hook)(const Cell* error);

// Builds and raises the error; never returns. Arguments may point at the argument stack.
[[noreturn]] void raise_error(Err e, const Cell* a1 = nullptr, const Cell* a2 = nullptr,
                              const Cell* a3 = nullptr);

// Reads the Err of a full error! value; installed by the error! datatype.
extern Err (*g_error_id_reader)(const Cell* err);
// Which error a bare or full error! cell stands for (Err::count when unknown).
Err error_id_of(const Cell* err);

// script/expect-arg for argument n (0-based) of the current call: the call's word, the
// value's datatype and the argument's word.
[[noreturn]] void raise_expect_arg(i32 n, const Cell* value);

// type-check-arg: answers the value when its type is in the typeset, else raises
// script/expect-arg naming the call, the value's datatype and argument n.
const Cell* type_check_arg(const Cell* typeset, i32 n, const Cell* value);
inline bool typeset_has(const Cell* ts, u32 type) {
    const u8* bytes = reinterpret_cast<const u8*>(&ts->data1);
    return bytes[type >> 3] & (0x80 >> (type & 7));
}
void check_not_unset(i32 n, const Cell* value);
// float-to-int-checked: floats truncate toward zero; outside int32 or NaN is out-of-range.
i32 float_to_int_checked(const Cell* value);

}  // namespace kel::rt
