// triple! datatype: three int32 in one cell. Only the parse engine and other system code
// make triples; scripts see them through form and mold.
#include "datatypes/datatype_init.h"
#include "datatypes/geometry.h"
#include "datatypes/integer.h"
#include "datatypes/string.h"

namespace kel::dt {

namespace {

i32 triple_form(Cell* value, Cell* out, Cell*, i32 limit) {
    u32 before = string_length(out);
    append_c_string(out, "make triple! [");
    append_c_string(out, integer_to_text(i32(value->data1)));
    append_char(out, ' ');
    append_c_string(out, integer_to_text(i32(value->data2)));
    append_char(out, ' ');
    append_c_string(out, integer_to_text(i32(value->data3)));
    append_char(out, ']');
    return limit - i32(string_length(out) - before);
}

i32 triple_mold(Cell* value, Cell* out, bool, bool, bool, Cell* part, i32 limit, i32) {
    return triple_form(value, out, part, limit);
}

void init_triple() {
    TypeRegistration r(T_TRIPLE, 0, "triple!");
    r.set<A_FORM>(triple_form).set<A_MOLD>(triple_mold);
    register_datatype(r);
}

}  // namespace

KEL_DATATYPE(T_TRIPLE, init_triple);

}  // namespace kel::dt
