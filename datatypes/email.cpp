// email! datatype: a string! molded bare, whose user and host parts around the first "@"
// are path selectors.
#include "datatypes/datatype_init.h"
#include "datatypes/dispatch.h"
#include "datatypes/string.h"
#include "datatypes/string_actions.h"
#include "datatypes/tag.h"
#include "runtime/errors.h"
#include "runtime/stack.h"
#include "runtime/symbols.h"

namespace kel::dt {

using namespace rt;

Cell* push_email(const Cell* value) { return stack_push(value); }

namespace {

i32 email_mold(Cell* value, Cell* out, bool, bool, bool, Cell* part, i32 limit, i32) {
    return form_delimited(value, out, part, limit, 0, 0);
}

Cell* email_eval_path(Cell* parent, Cell* element, Cell* value, Cell* path, Cell* gparent, Cell* p_item, i32 index,
                      bool case_, bool get, bool tail) {
    if (type_of(element) == T_INTEGER)
        return handler<A_EVAL_PATH>(T_STRING)(parent, element, value, path, gparent, p_item, index, case_, get, tail);
    bool user = false;
    if (type_of(element) == T_WORD) {
        u32 s = resolve_symbol_alias(word_symbol(element));
        user = s == resolve_symbol_alias(runtime_symbol(SYM_USER));
        if (!user && s != resolve_symbol_alias(runtime_symbol(SYM_HOST))) raise_error(Err::script_invalid_path, path, element);
    } else {
        raise_error(Err::script_invalid_path, path, element);
    }
    // The parts around the first "@" (none: all of it is the user part).
    u32 len = string_length_clamp(parent);
    i32 at_sign = string_find_char(parent, '@');
    u32 user_len = at_sign < 0 ? len : u32(at_sign);
    u32 start = user ? 0 : (at_sign < 0 ? len : user_len + 1);
    u32 count = user ? user_len : len - start;
    if (value && !get) {
        // Without an "@" the host would join the user part: the "@" comes first, so that
        // the host set is the host read back.
        if (!user && at_sign < 0) {
            append_char(parent, '@');
            ++start;
        }
        Cell* target = stack_push(parent);
        target->data1 = clamped_head(parent) + start;
        string_change(target, value, i32(count), false, 1);
        stack_pop(1);
        return value;
    }
    std::vector<u32> cps = string_code_points(parent, i32(start + count));
    cps.erase(cps.begin(), cps.begin() + start);
    return push_string_from(cps);
}

void init_email() {
    TypeRegistration r(T_EMAIL, T_STRING, "email!");
    inherit_text_series(r);
    r.inherit(A_FORM);
    r.set<A_MOLD>(email_mold).set<A_EVAL_PATH>(email_eval_path);
    register_datatype(r);
}

}  // namespace

KEL_DATATYPE(T_EMAIL, init_email);

}  // namespace kel::dt
