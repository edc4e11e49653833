// Path sets on values held by copy.
#pragma once
#include "runtime/cell.h"

namespace kel::dt {

// A path set changed `changed`, a copy of a value that lives in a word, a field or a
// block: the new value is written back where it came from (the path walk holds copies of
// values that are not series or objects).
void store_back_path_value(const Cell* changed, Cell* container, Cell* item, Cell* path, i32 index, bool case_);

}  // namespace kel::dt
