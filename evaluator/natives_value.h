// State of the value natives that the rest of the system reads.
#pragma once
#include "runtime/types.h"

namespace kel::ev {

// Whether the last `print` or `prin` ended its output with a new line (1) or not (0); the
// library's `last-lf?` reads it.
extern u32 g_print_last_lf;

// Makes the print natives' 32-cell scratch block (natives_init calls it at boot).
void print_scratch_init();

}  // namespace kel::ev
