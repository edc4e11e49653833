// Cycles stack.
#include "runtime/cycles.h"

namespace kel::rt {

void cycles_reset() {}

}  // namespace kel::rt
