// Memory for image pixels. Large blocks are kept for reuse when freed: touching fresh pages
// costs more than decoding into warm ones, and a program that loads one picture after
// another asks for the same size again and again.
#pragma once
#include <cstddef>

namespace kel::rt {

// Like malloc and free; blocks from pixels_alloc must go back through pixels_free.
void* pixels_alloc(size_t bytes);
void pixels_free(void* block);
// Gives the kept blocks back to the system.
void pixels_trim();

}  // namespace kel::rt
