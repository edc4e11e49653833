// Makers of the literal values whose datatypes live outside the lexer's own reach.
//
// The lexer validates every literal itself and hands the parts to the datatype's maker.
// Each datatype installs its maker when it registers; while a maker is missing, loading
// such a literal raises internal/not-done (scanning and prescanning still answer its type).
#pragma once
#include "runtime/cell.h"
#include "runtime/types.h"

namespace kel::lex {

// pair!: x by y.
extern void (*g_make_pair)(Cell* out, i32 x, i32 y);
// point2D!, point3D!: the coordinates as read.
extern void (*g_make_point2d)(Cell* out, double x, double y);
extern void (*g_make_point3d)(Cell* out, double x, double y, double z);
// tuple!: 3 to 12 bytes.
extern void (*g_make_tuple)(Cell* out, const u8* bytes, u32 count);

// date!: fields checked for range by the lexer (day within its month, zone -15..15 hours).
struct DateFields {
    i32 year;
    i32 month;  // 1-12
    i32 day;    // 1-31
    bool has_time;
    double seconds;  // time of day, local
    bool has_zone;
    i32 zone_minutes;  // offset from UTC
};
extern void (*g_make_date)(Cell* out, const DateFields& fields);

// money!: the digits without separators or leading zeros; `currency` is empty or 3 letters.
// Answers false for an amount or currency the datatype refuses.
struct MoneyText {
    bool negative;
    char currency[4];
    const char* integer_digits;
    u32 integer_count;
    const char* fraction_digits;
    u32 fraction_count;
};
extern bool (*g_make_money)(Cell* out, const MoneyText& money);

// map!: `block` (a block! of key/value cells, an even count) becomes a map! in place;
// answers false when a key may not be a map key.
extern bool (*g_make_map)(Cell* block);

}  // namespace kel::lex
