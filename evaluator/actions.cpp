// natives-init: the natives registered themselves (datatypes/dispatch.h); the print natives
// still need their scratch block.
#include "evaluator/actions.h"

#include "evaluator/natives_value.h"

namespace kel::ev {

void natives_init() { print_scratch_init(); }

}  // namespace kel::ev
