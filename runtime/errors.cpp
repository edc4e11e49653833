// Raising language errors, and the argument checks that raise them.
#include "runtime/errors.h"

#include <cmath>

#include "runtime/exits.h"
#include "runtime/stack.h"

namespace kel::rt {

namespace {

constexpr CategoryInfo g_categories[] = {
#define KEL_ERROR_CATEGORY(ident, name, display) {name, display},
#define KEL_ERROR(cat, ident, name, tpl)
#include "runtime/error_catalog.def"
#undef KEL_ERROR_CATEGORY
#undef KEL_ERROR
};

struct ErrorTable {
    ErrorInfo info[size_t(Err::count)];
    constexpr ErrorTable() : info{} {
        u8 next_index[size_t(ErrCategory::count)] = {};
        size_t i = 0;
        // Ids count from 2 within their category: `code` and `type` come first.
#define KEL_ERROR_CATEGORY(ident, name, display)
#define KEL_ERROR(cat, ident, name, tpl)                                        \
    info[i++] = ErrorInfo{ErrCategory::cat_##cat, u8(2 + next_index[size_t(ErrCategory::cat_##cat)]++), name, tpl};
#include "runtime/error_catalog.def"
#undef KEL_ERROR_CATEGORY
#undef KEL_ERROR
    }
};

constexpr ErrorTable g_errors{};

void make_bare_error(Err e, const Cell*, const Cell*, const Cell*, Cell* out) {
    set_cell(out, T_ERROR, u32(e), 0, 0);
}

}  // namespace

ErrorMaker g_error_maker = make_bare_error;
void (*g_error_trace_hook)(const Cell* error) = nullptr;

const ErrorInfo& error_info(Err e) { return g_errors.info[size_t(e)]; }
const CategoryInfo& category_info(ErrCategory c) { return g_categories[size_t(c)]; }

void raise_error(Err e, const Cell* a1, const Cell* a2, const Cell* a3) {
    if (!stacks_ready()) {
        Cell err;
        make_bare_error(e, a1, a2, a3, &err);
        throw_error_value(&err);
    }
    // Build the error in a stack slot so that it is rooted while it is made; the arguments
    // are copied first because they may sit in the slots the maker uses.
    Cell args[3];
    const Cell* in[3] = {a1, a2, a3};
    for (int i = 0; i < 3; ++i)
        if (in[i]) args[i] = *in[i];
    Cell* slot = stack_push_slot();
    set_cell(slot, T_NONE);
    g_error_maker(e, a1 ? &args[0] : nullptr, a2 ? &args[1] : nullptr, a3 ? &args[2] : nullptr, slot);
    if (g_error_trace_hook) g_error_trace_hook(slot);
    Cell err = *slot;
    stack_pop(1);
    throw_error_value(&err);
}

Err (*g_error_id_reader)(const Cell* err) = nullptr;

Err error_id_of(const Cell* err) {
    if (type_of(err) != T_ERROR) return Err::count;
    if (g_error_maker == make_bare_error) return Err(err->data1);
    return g_error_id_reader ? g_error_id_reader(err) : Err::count;
}

void raise_expect_arg(i32 n, const Cell* value) {
    Cell call, type, arg;
    stack_get_call(&call);
    set_cell(&type, T_DATATYPE, type_of(value));
    call_argument_word(n, &arg);
    raise_error(Err::script_expect_arg, &call, &type, &arg);
}

const Cell* type_check_arg(const Cell* typeset, i32 n, const Cell* value) {
    if (typeset_has(typeset, type_of(value))) return value;
    raise_expect_arg(n, value);
}

void check_not_unset(i32 n, const Cell* value) {
    if (type_of(value) == T_UNSET) raise_expect_arg(n, value);
}

i32 float_to_int_checked(const Cell* value) {
    if (type_of(value) != T_FLOAT) return i32(value->data2);
    double d = get_float(value);
    if (!(d <= 2147483647.0 && d >= -2147483648.0)) raise_error(Err::script_out_of_range, value);
    return i32(std::trunc(d));
}

}  // namespace kel::rt
