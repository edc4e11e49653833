// tag!, email! and ref!: string! values under another name and text. The text is kept
// without its delimiters; the string! machinery does the rest.
#pragma once
#include "datatypes/registry.h"

namespace kel::dt {

// What tag! and email! take from string!: make, reflect, to, comparison, the series
// actions from append to take (sort excepted) and modify.
void inherit_text_series(TypeRegistration& r);

// The text from the head as string! forms it, after `open` and before `close` (0: none);
// the delimiters count against the /part budget. Answers the budget left.
i32 form_delimited(Cell* value, Cell* out, Cell* part, i32 limit, char open, char close);

// A copy of the cell on the argument stack.
Cell* push_tag(const Cell* value);
Cell* push_email(const Cell* value);
Cell* push_ref(const Cell* value);

}  // namespace kel::dt
