// The process-wide random generator: a 32-bit Mersenne-Twister variant whose right shifts
// copy the sign bit, so every output is a non-negative 31-bit number.
#pragma once
#include "runtime/types.h"

namespace kel::dt {

void random_init();
void random_seed(u32 seed);
i32 random_next();    // 0 .. 2147483647
i32 random_secure();  // 0 .. 2147483647 from the system's cryptographic source
// A uniform integer 1..n (n > 0) or -1..-n (n < 0); 0 for 0.
i32 random_int(bool secure, i32 n);

}  // namespace kel::dt
