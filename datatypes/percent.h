// percent!: a float! shown as a percentage. The cell is float!'s; words 2-3 hold the
// fraction (50% is 0.5).
#pragma once
#include "runtime/cell.h"
#include "runtime/memory.h"

namespace kel::dt {

Cell* make_percent_at(Cell* c, double fraction);
Cell* make_percent_in(Node block, double fraction);
Cell* push_percent(double fraction);
inline double get_percent(const Cell* c) { return get_float(c); }

}  // namespace kel::dt
