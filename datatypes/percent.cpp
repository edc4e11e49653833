// percent! datatype: float!'s arithmetic, comparison and conversions under its own text.
#include "datatypes/percent.h"

#include <cstring>

#include "datatypes/datatype_init.h"
#include "datatypes/float.h"
#include "datatypes/string.h"
#include "runtime/series.h"
#include "runtime/stack.h"

namespace kel::dt {

using namespace rt;

Cell* make_percent_at(Cell* c, double fraction) {
    set_cell(c, T_PERCENT);
    set_float_payload(c, fraction);
    return c;
}

Cell* make_percent_in(Node block, double fraction) { return make_percent_at(block_alloc_tail(block), fraction); }

Cell* push_percent(double fraction) { return make_percent_at(stack_push_slot(), fraction); }

namespace {

// form and mold alike: the fraction as a percentage, 13 significant digits.
i32 percent_form(Cell* value, Cell* out, Cell*, i32 limit) {
    const char* text = form_float_value(get_float(value) * 100.0, FLOAT_TEXT_PERCENT);
    append_c_string(out, text);
    return limit - i32(std::strlen(text));
}

i32 percent_mold(Cell* value, Cell* out, bool, bool, bool, Cell* part, i32 limit, i32) {
    return percent_form(value, out, part, limit);
}

void init_percent() {
    TypeRegistration r(T_PERCENT, T_FLOAT, "percent!");
    r.set<A_FORM>(percent_form).set<A_MOLD>(percent_mold);
    for (int a : {A_MAKE, A_RANDOM, A_TO, A_COMPARE, A_ABSOLUTE, A_ADD, A_DIVIDE, A_MULTIPLY, A_NEGATE, A_POWER,
                  A_REMAINDER, A_ROUND, A_SUBTRACT, A_EVEN_Q, A_ODD_Q})
        r.inherit(a);
    register_datatype(r);
}

}  // namespace

KEL_DATATYPE(T_PERCENT, init_percent);

}  // namespace kel::dt
