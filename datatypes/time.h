// time!: a duration or time of day, the seconds as a double in a float-like cell. The
// date datatype shares its text, its field setters and the store-back of path sets.
#pragma once
#include "runtime/cell.h"

namespace kel::dt {

// Field indexes of a time: 1 hour, 2 minute, 3 second.
enum TimeField : i32 { TIME_HOUR = 1, TIME_MINUTE = 2, TIME_SECOND = 3 };

Cell* make_time_at(Cell* c, double seconds);
Cell* push_time(double seconds);

// The text of a time ("1:30:00", "-0:59:59.5", "0:00:05.5"); answers the budget left.
i32 form_time(double seconds, Cell* out, i32 limit);
// The time `seconds` with one field replaced (index 1-3), as the path setter does.
double time_with_field(double seconds, i32 index, double value);
// Field 1-3 of a time as the getters answer it, into `out`.
void time_field_value(double seconds, i32 index, Cell* out);

// A word naming one of `names` (count entries, case ignored): its 1-based index, else 0.
i32 field_word_index(const Cell* word, const char* const* names, i32 count);



}  // namespace kel::dt
