// Searching text for a run of characters, specialised by the text's unit width.
//
// The run is given as code points, folded to lower case unless the search is
// case-sensitive; the text is read in its stored units. Positions are unit indexes from
// `data`. Nothing here allocates, so `data` stays valid for the whole search.
#pragma once
#include <cstddef>

#include "runtime/types.h"

namespace kel::dt {

// The first start from `from` to `last` (both included) where the run `want` (m >= 1
// code points) lies in text of `unit`-byte units; -1 when there is none.
i64 text_find_forward(const u8* data, u32 unit, i64 from, i64 last, const u32* want, size_t m, bool case_sensitive);

// Starts tried from `start` by `step` (negative to go backward) while they do not pass
// `stop`; the first where the run lies, or -1.
i64 text_find_stepping(const u8* data, u32 unit, i64 start, i64 stop, i64 step, const u32* want, size_t m,
                       bool case_sensitive);

// Whether the run lies at unit index p.
bool text_run_at(const u8* data, u32 unit, i64 p, const u32* want, size_t m, bool case_sensitive);

// The byte values whose lower case is `first` (at most two: a letter and its capital);
// answers how many were written.
u32 byte_fold_candidates(u32 first, u8 out[2]);

}  // namespace kel::dt
