// Runtime boot: brings the runtime from nothing to the state in which code can run.
#pragma once

namespace kel::console {

// Every service's tables, every datatype, the stacks. Idempotent per process.
void runtime_init();

}  // namespace kel::console
