// paren!: a block that the interpreter evaluates in place; as data it is a block that
// molds in parentheses.
#include "datatypes/block.h"
#include "datatypes/datatype_init.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "datatypes/walk_guard.h"

namespace kel::dt {

using namespace rt;

namespace {

i32 paren_mold(Cell* value, Cell* out, bool only, bool all, bool flat, Cell* part, i32 limit, i32 indent) {
    return mold_bracketed(value, out, '(', ')', only, all, flat, part, limit, indent);
}

void init_paren() {
    TypeRegistration r(T_PAREN, T_BLOCK, "paren!");
    r.inherit_all();
    r.set<A_MOLD>(paren_mold);
    register_datatype(r);
}

}  // namespace

KEL_DATATYPE(T_PAREN, init_paren);

}  // namespace kel::dt
