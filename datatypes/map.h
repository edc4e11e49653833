// map!: what other code reaches of the key/value dictionary.
#pragma once
#include "runtime/cell.h"

namespace kel::dt {

// map-extend: adds or updates the key/value pairs of `block` (from its head; an odd count
// raises script/invalid-arg) in `map`, keys compared strictly with `case_`. Answers the map,
// pushed.
Cell* map_extend(const Cell* map, const Cell* block, bool case_);

// Whether values of the type can be a map's key.
bool map_key_allowed(u32 type);

}  // namespace kel::dt
