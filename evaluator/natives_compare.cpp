// Comparison natives: equal? ... greater-or-equal? and same?.
#include "datatypes/registry.h"
#include "datatypes/series.h"
#include "evaluator/actions.h"
#include "runtime/stack.h"

namespace kel::ev {

using namespace rt;
using namespace dt;

namespace {

template <CompareOp Op>
Status compare_native(bool, const i32*) {
    bool truth = compare(stack_arg(0), stack_arg(1), Op);
    set_cell(stack_result(), T_LOGIC, truth ? 1 : 0);
    return 0;
}

// Identity by datatype: the payload words that make a value the very same one.
bool same_values(Cell* a, Cell* b) {
    u32 t = type_of(a);
    if (t != type_of(b)) return false;
    if (is_series_type(t)) return a->data1 == b->data1 && a->data2 == b->data2;
    switch (t) {
        case T_NONE: case T_UNSET:
            return true;
        case T_DATATYPE: case T_LOGIC: case T_OBJECT:
            return a->data1 == b->data1;
        case T_CHAR: case T_INTEGER: case T_BITSET:
            return a->data2 == b->data2;
        case T_FLOAT: case T_PERCENT: case T_PAIR: case T_TIME: case T_OP:
            return a->data2 == b->data2 && a->data3 == b->data3;
        case T_NATIVE: case T_ACTION: case T_POINT2D:
            return a->data1 == b->data1 && a->data2 == b->data2;
        case T_TUPLE: case T_MONEY:
            if (auto fn = handler<A_COMPARE>(t)) {
                if (t == T_TUPLE && ((a->header >> 19) & 0xF) != ((b->header >> 19) & 0xF)) return false;
                return fn(a, b, t == T_TUPLE ? OP_EQUAL : OP_SAME) == 0;
            }
            break;
        default:
            break;
    }
    return a->data1 == b->data1 && a->data2 == b->data2 && a->data3 == b->data3;
}

Status same_q_native(bool, const i32*) {
    set_cell(stack_result(), T_LOGIC, same_values(stack_arg(0), stack_arg(1)) ? 1 : 0);
    return 0;
}

}  // namespace

KEL_NATIVE(25, compare_native<OP_EQUAL>);
KEL_NATIVE(26, compare_native<OP_NOT_EQUAL>);
KEL_NATIVE(27, compare_native<OP_STRICT_EQUAL>);
KEL_NATIVE(28, compare_native<OP_LESSER>);
KEL_NATIVE(29, compare_native<OP_GREATER>);
KEL_NATIVE(30, compare_native<OP_LESSER_OR_EQUAL>);
KEL_NATIVE(31, compare_native<OP_GREATER_OR_EQUAL>);
KEL_NATIVE(32, same_q_native);

}  // namespace kel::ev
