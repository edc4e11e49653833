// tag! datatype: a string! written between "<" and ">".
#include "datatypes/tag.h"

#include "datatypes/datatype_init.h"
#include "datatypes/string.h"
#include "runtime/stack.h"

namespace kel::dt {

using namespace rt;

void inherit_text_series(TypeRegistration& r) {
    for (int a : {A_MAKE, A_REFLECT, A_TO, A_COMPARE, A_MODIFY}) r.inherit(a);
    for (int a = A_APPEND; a <= A_TAKE; ++a)
        if (a != A_SORT) r.inherit(a);
}

Cell* push_tag(const Cell* value) { return stack_push(value); }

i32 form_delimited(Cell* value, Cell* out, Cell* part, i32 limit, char open, char close) {
    if (open) {
        append_char(out, u32(open));
        --limit;
    }
    u32 len = string_length_clamp(value);
    string_concatenate(out, value, part ? (limit < 0 ? 0 : limit) : -1, 0, true, CONCAT_APPEND);
    limit -= i32(len);
    if (close) {
        append_char(out, u32(close));
        --limit;
    }
    return limit;
}

namespace {

i32 tag_form(Cell* value, Cell* out, Cell* part, i32 limit) { return form_delimited(value, out, part, limit, '<', '>'); }

i32 tag_mold(Cell* value, Cell* out, bool, bool, bool, Cell* part, i32 limit, i32) {
    return tag_form(value, out, part, limit);
}

void init_tag() {
    TypeRegistration r(T_TAG, T_STRING, "tag!");
    inherit_text_series(r);
    r.inherit(A_EVAL_PATH);
    r.set<A_FORM>(tag_form).set<A_MOLD>(tag_mold);
    register_datatype(r);
}

}  // namespace

KEL_DATATYPE(T_TAG, init_tag);

}  // namespace kel::dt
