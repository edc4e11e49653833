// The memory figures of `stats` and `recycle`.
#pragma once
#include "runtime/cell.h"

namespace kel::ev {

// Bytes in use: used nodes (4 each), the used part of every series frame, big frames.
double memory_in_use();
// The detailed figures, into the block `out` (rooted by the caller): a block of
// [free used capacity] per node frame, one of [free used total] bytes per series frame, one
// of [size] per big frame (each row on a new line), the bytes in use, and the bytes taken
// from the arena.
void memory_stats_info(Cell* out);
// A number cell: an integer! when it fits, else a float!.
void set_memory_figure(Cell* c, double bytes);

}  // namespace kel::ev
