// ref! datatype: a string! molded after a leading "@". It has no append, put or paths.
#include "datatypes/datatype_init.h"
#include "datatypes/string.h"
#include "datatypes/tag.h"
#include "runtime/stack.h"

namespace kel::dt {

using namespace rt;

Cell* push_ref(const Cell* value) { return stack_push(value); }

namespace {

i32 ref_mold(Cell* value, Cell* out, bool, bool, bool, Cell* part, i32 limit, i32) {
    return form_delimited(value, out, part, limit, '@', 0);
}

void init_ref() {
    TypeRegistration r(T_REF, T_STRING, "ref!");
    r.set<A_MOLD>(ref_mold);
    for (int a : {A_MAKE, A_REFLECT, A_TO, A_FORM, A_COMPARE, A_AT, A_BACK, A_CHANGE, A_CLEAR, A_COPY, A_FIND, A_HEAD,
                  A_HEAD_Q, A_INDEX_Q, A_INSERT, A_LENGTH_Q, A_MOVE, A_NEXT, A_PICK, A_POKE, A_REMOVE, A_REVERSE,
                  A_SELECT, A_SKIP, A_SWAP, A_TAIL, A_TAIL_Q, A_TAKE, A_MODIFY})
        r.inherit(a);
    register_datatype(r);
}

}  // namespace

KEL_DATATYPE(T_REF, init_ref);

}  // namespace kel::dt
