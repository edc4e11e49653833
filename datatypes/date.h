// date!: a proleptic Gregorian date with an optional time of day and zone in one cell.
// Word 1 is the packed date word (year in bits 17-31, signed; month 12-15; day 7-11; the
// time flag in bit 16; the zone in bits 0-6); words 2-3 the time as a double: the local
// time of day minus the zone offset. The day number (day 0 is 1 March of year 0) carries
// all calendar arithmetic.
#pragma once
#include "runtime/cell.h"
#include "runtime/memory.h"

namespace kel::dt {

constexpr u32 DATE_TIME_FLAG = 1u << 16;

inline u32 date_word(const Cell* c) { return c->data1; }

// A field of the system object (system/a/b/c), or null when it is not there (yet).
const Cell* system_field(const char* a, const char* b, const char* c = nullptr);

i64 date_to_days(u32 word);
// The date word of a day number with the given zone bits and time flag; a year outside
// the 15 bits of the word raises script/out-of-range.
u32 date_from_days(i64 days, u32 zone, bool time_flag);
bool date_leap_year(i32 year);

// The maker used by the lexer: local time of day and zone as written.
Cell* date_make_at(Cell* c, i32 year, i32 month, i32 day, double time, i32 zone_minutes, bool has_time);
// File times: a UTC date and time of day with the nanoseconds as a fraction.
Cell* date_make_at_fields(Cell* c, i32 year, i32 month, i32 day, i32 hour, i32 minute, i32 second, i32 nanosecond);
// The serialisation decoder's maker: the word and time as they are.
Cell* date_make_in(Node block, u32 word, double time);
Cell* date_push(u32 word, double time);

// Seconds since 1970-01-01 UTC; math/overflow beyond 32 bits.
i32 date_to_epoch(const Cell* c);
// a becomes the time! from b to a.
void date_difference(Cell* a, const Cell* b);
// The current date and time, with the local zone (or UTC); whole seconds unless precise.
Cell* date_make_now(Cell* out, bool utc, bool precise);
// Field 1-14 of a date (path and pick order) into `out`.
void date_get_field(const Cell* c, i32 index, Cell* out);
// add (0) and subtract (1): a date in the first argument slot.
void date_do_math(i32 op);

}  // namespace kel::dt
