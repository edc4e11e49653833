// date! datatype: calendar arithmetic on the packed date word, zones, fields and text.
#include "datatypes/date.h"

#include <cmath>
#include <cstdio>
#include <cstring>

#include "datatypes/context.h"
#include "datatypes/datatype_init.h"
#include "datatypes/float.h"
#include "datatypes/integer.h"
#include "datatypes/number_support.h"
#include "datatypes/object.h"
#include "datatypes/path.h"
#include "datatypes/random.h"
#include "datatypes/string.h"
#include "datatypes/time.h"
#include "datatypes/word.h"
#include "lexer/lexer.h"
#include "lexer/literal_hooks.h"
#include "runtime/errors.h"
#include "runtime/platform.h"
#include "runtime/series.h"
#include "runtime/stack.h"
#include "runtime/symbols.h"

namespace kel::dt {

using namespace rt;

namespace {

constexpr i32 YEAR_MIN = -16384;
constexpr i32 YEAR_MAX = 16383;

enum DateField : i32 {
    F_DATE = 1, F_YEAR, F_MONTH, F_DAY, F_ZONE, F_TIME, F_HOUR, F_MINUTE, F_SECOND,
    F_WEEKDAY, F_YEARDAY, F_TIMEZONE, F_WEEK, F_ISOWEEK
};
const char* const kDateFields[15] = {"date",    "year",    "month",    "day",      "zone",
                                     "time",    "hour",    "minute",   "second",   "weekday",
                                     "yearday", "timezone", "week",    "isoweek", "julian"};

inline i32 year_of(u32 w) { return i32(w) >> 17; }
inline i32 month_of(u32 w) { return i32((w >> 12) & 15); }
inline i32 day_of(u32 w) { return i32((w >> 7) & 31); }
inline u32 zone_of(u32 w) { return w & 0x7F; }
inline bool has_time(u32 w) { return (w & DATE_TIME_FLAG) != 0; }
inline double time_of(const Cell* c) { return get_float(c); }

inline i64 mod_floor(i64 a, i64 b) {
    i64 r = a % b;
    return r < 0 ? r + b : r;
}
inline i64 div_floor(i64 a, i64 b) { return (a - mod_floor(a, b)) / b; }

u32 pack_word(i64 year, i32 month, i32 day) {
    if (year < YEAR_MIN || year > YEAR_MAX) {
        Cell y;
        make_integer_at(&y, i32(year < -2147483647 ? -2147483647 : year > 2147483647 ? 2147483647 : year));
        raise_error(Err::script_out_of_range, &y);
    }
    return (u32(i32(year)) << 17) | (u32(month & 15) << 12) | (u32(day & 31) << 7);
}

// The zone offset in seconds.
double zone_offset(u32 z) {
    double off = double((z >> 2) & 15) * 3600.0 + double(z & 3) * 900.0;
    return (z & 0x40) ? -off : off;
}

u32 zone_bits(i32 hours, i32 minutes, bool negative) {
    return (negative ? 0x40u : 0u) | (u32(hours & 15) << 2) | (u32(minutes / 15) & 3);
}

i64 jan1_days(i32 year) { return date_to_days(pack_word(year, 1, 1)); }
i32 weekday_of(i64 days) { return i32(mod_floor(days + 2, 7)) + 1; }

// The Monday that starts ISO week 1 of a year.
i64 iso_week_start(i32 year) {
    i64 jan1 = jan1_days(year);
    i64 w0 = weekday_of(jan1) - 1;
    return jan1 - w0 + (w0 >= 4 ? 7 : 0);
}

i32 iso_week(u32 w) {
    i64 days = date_to_days(w);
    i32 y = year_of(w);
    i64 s = iso_week_start(y);
    if (days >= s) {
        i64 next = iso_week_start(y + 1);
        return days < next ? i32((days - s) / 7 + 1) : 1;
    }
    switch (weekday_of(jan1_days(y))) {
        case 5: return 53;
        case 6: return date_leap_year(y - 1) ? 53 : 52;
        case 7: return 52;
        default: return 1;
    }
}

i32 sunday_week(u32 w) {
    i64 jan1 = jan1_days(year_of(w));
    i64 e = mod_floor(jan1 + 3, 7);  // 0 = Sunday
    i64 yd = date_to_days(w) - jan1 + 1;
    return yd <= 7 - e ? 1 : i32((yd + e - 1) / 7 + 1);
}

// Carries whole days between the time and the day number, so that the local time of day
// (time plus the zone offset) lies within one day.
i64 normalize(i64 days, double* t, u32 zone) {
    double f = zone_offset(zone) / 3600.0;
    double m = std::trunc(*t / 3600.0 + f);
    double whole_days = std::trunc(m / 24.0);
    days += i64(whole_days);
    *t -= whole_days * 24.0 * 3600.0;
    if (*t + 3600.0 * f < 0) {
        days -= 1;
        *t += 86400.0;
    }
    return days;
}

void set_word(Cell* c, u32 w) { c->data1 = w; }

// Rebuilds the date word of a day number, keeping the zone and the time flag.
void set_days(Cell* c, i64 days) {
    u32 w = date_word(c);
    set_word(c, date_from_days(days, zone_of(w), has_time(w)));
}

void set_time(Cell* c, double t, bool local) {
    u32 w = date_word(c);
    if (local) t -= zone_offset(zone_of(w));
    if (!std::isfinite(t) || std::fabs(t) > 1e15) raise_error(Err::script_out_of_range, c);
    i64 days = normalize(date_to_days(w), &t, zone_of(w));
    set_word(c, date_from_days(days, zone_of(w), has_time(w)));
    set_float_payload(c, t);
}

void set_month(Cell* c, i64 n) {
    u32 w = date_word(c);
    // Months before the first carry into earlier years: floor division throughout.
    i64 k = div_floor(n - 1, 12);
    i64 year = i64(year_of(w)) + k;
    i32 month = i32(mod_floor(n - 1, 12)) + 1;
    u32 nw = pack_word(year, month, day_of(w)) | (w & (DATE_TIME_FLAG | 0x7F));
    set_word(c, date_from_days(date_to_days(nw), zone_of(w), has_time(w)));
}

void set_zone(Cell* c, const Cell* v, bool keep_instant) {
    i32 hours, minutes;
    bool negative;
    if (type_of(v) == T_INTEGER) {
        i32 h = get_integer(v);
        if (h > 15 || h < -15) raise_error(Err::script_invalid_arg, v);
        negative = h < 0;
        hours = negative ? -h : h;
        minutes = 0;
    } else if (type_of(v) == T_TIME) {
        double s = get_float(v);
        if (!(std::fabs(s) < 16.0 * 3600.0)) raise_error(Err::script_invalid_arg, v);
        // The sign is the whole offset's, so that -0:30 stays west of UTC.
        negative = s < 0;
        double a = std::fabs(s);
        hours = i32(a / 3600.0);
        minutes = i32(std::fmod(a, 3600.0) / 60.0);
    } else {
        raise_error(Err::script_invalid_arg, v);
    }
    u32 z = zone_bits(hours, minutes, negative && (hours || minutes / 15));
    u32 w = date_word(c);
    double t = time_of(c);
    if (keep_instant) {
        set_word(c, (w & ~0x7Fu) | z);
        set_time(c, t + zone_offset(z), true);
    } else {
        double local = t + zone_offset(zone_of(w));
        set_word(c, (w & ~0x7Fu) | z);
        set_float_payload(c, local - zone_offset(z));
    }
}

// The first three characters of month n's name (system/locale/months).
void month_abbreviation(i32 n, char out[16]) {
    const Cell* months = system_field("locale", "months");
    if (!months || type_of(months) != T_BLOCK) raise_error(Err::script_invalid_months);
    SeriesBuffer* b = buffer_of(series_node(months));
    i32 head = series_head(months);
    Cell* p = cells_of(b) + (head < 0 ? 0 : head) + (n - 1);
    if (n < 1 || p >= at<Cell>(b->tail) || type_of(p) != T_STRING) raise_error(Err::script_invalid_months);
    i32 k = 0;
    u32 len = string_length(p);
    for (u32 i = 0; i < len && i < 3; ++i) {
        u32 cp = string_char_at(p, i);
        // UTF-8 of the code point.
        if (cp < 0x80) out[k++] = char(cp);
        else if (cp < 0x800) out[k++] = char(0xC0 | (cp >> 6)), out[k++] = char(0x80 | (cp & 0x3F));
        else if (cp < 0x10000)
            out[k++] = char(0xE0 | (cp >> 12)), out[k++] = char(0x80 | ((cp >> 6) & 0x3F)),
            out[k++] = char(0x80 | (cp & 0x3F));
        else
            out[k++] = char(0xF0 | (cp >> 18)), out[k++] = char(0x80 | ((cp >> 12) & 0x3F)),
            out[k++] = char(0x80 | ((cp >> 6) & 0x3F)), out[k++] = char(0x80 | (cp & 0x3F));
    }
    out[k] = 0;
}

i32 date_form(Cell* value, Cell* out, Cell*, i32 limit) {
    u32 w = date_word(value);
    i32 y = year_of(w);
    char month[16];
    month_abbreviation(month_of(w), month);
    char sep = y < 0 ? '/' : '-';
    char buf[64];
    if (y < 0) std::snprintf(buf, sizeof buf, "%d%c%s%c-%d", day_of(w), sep, month, sep, -y);
    else std::snprintf(buf, sizeof buf, "%d%c%s%c%04d", day_of(w), sep, month, sep, y);
    u32 before = string_length(out);
    append_c_string(out, buf);
    if (has_time(w)) {
        append_c_string(out, "/");
        u32 z = zone_of(w);
        form_time(time_of(value) + zone_offset(z), out, 0);
        if (z) {
            std::snprintf(buf, sizeof buf, "%c%02u:%02u", (z & 0x40) ? '-' : '+', (z >> 2) & 15, (z & 3) * 15);
            append_c_string(out, buf);
        }
    }
    return limit - i32(string_length(out) - before);
}

i32 date_mold(Cell* value, Cell* out, bool, bool, bool, Cell* part, i32 limit, i32) {
    return date_form(value, out, part, limit);
}

i32 date_compare(Cell* a, Cell* b, i32 op) {
    if (type_of(b) != T_DATE) return -2;
    i32 ka = i32(date_word(a) & ~DATE_TIME_FLAG) >> 7;
    i32 kb = i32(date_word(b) & ~DATE_TIME_FLAG) >> 7;
    double ta = time_of(a), tb = time_of(b);
    if (op == 9) return ka == kb && a->data2 == b->data2 && a->data3 == b->data3 ? 0 : 1;
    bool equal = ka == kb && float_almost_equal_q(ta, tb);
    if (op == 0 || op == 1 || op == 2 || op == 12) return equal ? 0 : 1;
    if (equal) return 0;
    if (ka != kb) return ka < kb ? -1 : 1;
    return ta < tb ? -1 : 1;
}

[[noreturn]] void raise_date_bad_to(const Cell* spec) { num::raise_bad_to_arg(T_DATE, spec); }

Cell* date_from_block(Cell* spec, bool checked) {
    SeriesBuffer* b = buffer_of(series_node(spec));
    i32 head = series_head(spec);
    Cell* p = cells_of(b) + (head < 0 ? 0 : head);
    Cell* tail = at<Cell>(b->tail);
    i64 n = p <= tail ? tail - p : 0;
    // The state table: what each state accepts (integer, time, float) and where it goes.
    static const signed char next[14][3] = {
        {1, -1, -1}, {2, -1, -1}, {3, -1, -1}, {8, 4, -1}, {6, 5, -1}, {-1, -1, -1}, {7, -1, -1},
        {-1, -1, -1}, {9, -1, -1}, {10, -1, 10}, {12, 11, -1}, {-1, -1, -1}, {13, -1, -1}, {-1, -1, -1}};
    if (n < 3) raise_date_bad_to(spec);
    i32 state = 0;
    i64 first = 0, month = 0, third = 0, hour = 0, minute = 0, isec = 0, zh = 0, zm = 0;
    double fsec = 0.0, tod_time = 0.0, zone_time = 0.0;
    bool zone_is_time = false, zone_given = false;
    for (i64 i = 0; i < n; ++i) {
        Cell* v = p + i;
        TypeId t = type_of(v);
        i32 cls = t == T_INTEGER ? 0 : t == T_TIME ? 1 : t == T_FLOAT ? 2 : -1;
        if (cls < 0) raise_date_bad_to(spec);
        i32 ns = next[state][cls];
        if (ns < 0) raise_date_bad_to(spec);
        i64 iv = cls == 0 ? get_integer(v) : 0;
        switch (ns) {
            case 1: first = iv; break;
            case 2: month = iv; break;
            case 3: third = iv; break;
            case 4: tod_time = get_float(v); break;
            case 5: case 11: zone_time = get_float(v); zone_is_time = zone_given = true; break;
            case 6: case 12: zh = iv; zone_given = true; break;
            case 7: case 13: zm = iv; break;
            case 8: hour = iv; break;
            case 9: minute = iv; break;
            case 10: if (cls == 2) fsec = get_float(v); else isec = iv; break;
        }
        state = ns;
    }
    i64 day = first, year = third;
    if (first >= 100 && first > third) day = third, year = first;
    // The zone: hours and minutes, from a time or as numbers.
    bool zneg = false;
    i64 zhours = 0, zmins = 0;
    if (zone_given) {
        if (zone_is_time) {
            if (!(std::fabs(zone_time) < 16.0 * 3600.0)) {
                Cell z = *(p + (state == 5 ? 4 : 5));
                raise_error(Err::script_invalid_arg, &z);
            }
            zneg = zone_time < 0;
            double a = std::fabs(zone_time);
            zhours = i64(a / 3600.0);
            zmins = i64(std::fmod(a, 3600.0) / 60.0);
        } else {
            if (zh > 15 || zh < -15 || zm < 0 || zm > 59) {
                Cell z;
                make_integer_at(&z, i32(zh > 15 || zh < -15 ? zh : zm));
                raise_error(Err::script_invalid_arg, &z);
            }
            zneg = zh < 0;
            zhours = zneg ? -zh : zh;
            zmins = zm;
        }
    }
    double tod;
    bool split = state >= 8;
    if (split) tod = double(hour) * 3600.0 + double(minute) * 60.0 + (fsec != 0.0 ? fsec : double(isec));
    else tod = (state >= 4) ? tod_time : 0.0;
    if (year < YEAR_MIN || year > YEAR_MAX) {
        Cell y;
        make_integer_at(&y, i32(year));
        raise_error(Err::script_out_of_range, &y);
    }
    Cell* r = stack_push_slot();
    set_cell(r, T_DATE, pack_word(year, 0, 0));
    set_float_payload(r, 0.0);
    set_month(r, month);
    i64 days = date_to_days(date_word(r) & ~0x7Fu) + day;
    set_word(r, date_from_days(days, 0, n > 3));
    set_time(r, tod, false);
    if (checked) {
        u32 w = date_word(r);
        double t = time_of(r);
        i64 given_minute = split ? minute : i64(std::floor(std::fmod(std::fabs(tod), 3600.0) / 60.0));
        bool ok = year_of(w) == year && month_of(w) == month && day_of(w) == day;
        if (ok && tod != 0.0) {
            i64 h = i64(std::floor(t / 3600.0));
            ok = h >= 0 && h <= 23 && i64(std::floor(std::fmod(t, 3600.0) / 60.0)) == given_minute;
        } else if (ok && split) {
            ok = hour == i64(std::floor(t / 3600.0)) && minute == i64(std::floor(std::fmod(t, 3600.0) / 60.0));
        }
        if (!ok) raise_date_bad_to(spec);
    }
    if (zhours || zmins / 15) set_word(r, (date_word(r) & ~0x7Fu) | zone_bits(i32(zhours), i32(zmins), zneg));
    set_time(r, time_of(r), true);
    return r;
}

Cell* date_build(Cell* spec, bool checked) {
    TypeId st = type_of(spec);
    switch (st) {
        case T_DATE: return spec;
        case T_BLOCK:
        case T_PAREN:
        case T_HASH: return date_from_block(spec, checked);
        case T_INTEGER:
            if (!checked) {
                i64 n = get_integer(spec);
                Cell* r = stack_push_slot();
                set_cell(r, T_DATE, date_from_days(date_to_days(pack_word(1970, 1, 1)) + n / 86400, 0, true));
                set_float_payload(r, double(n % 86400));
                if (n < 0) set_time(r, time_of(r), false);
                return r;
            }
            raise_date_bad_to(spec);
        default:
            if (num::is_text_type(st)) return scan_text_as(spec, T_DATE);
            raise_date_bad_to(spec);
    }
}

Cell* date_make(Cell*, Cell* spec, u32) { return date_build(spec, true); }
Cell* date_to(Cell*, Cell* spec, u32) { return date_build(spec, false); }

i32 field_of(const Cell* e) {
    if (type_of(e) == T_INTEGER) {
        i32 i = get_integer(e);
        return i >= 1 && i <= 14 ? i : 0;
    }
    if (!is_plain_word_type(type_of(e))) return 0;
    i32 f = field_word_index(e, kDateFields, 15);
    return f == 15 ? F_YEARDAY : f;
}

void set_field(Cell* c, i32 f, const Cell* v) {
    TypeId vt = type_of(v);
    u32 w = date_word(c);
    auto need_integer = [&] {
        if (vt != T_INTEGER) raise_error(Err::script_invalid_arg, v);
        return i64(get_integer(v));
    };
    switch (f) {
        case F_DATE: {
            if (vt != T_DATE) raise_error(Err::script_invalid_arg, v);
            u32 nw = date_word(v);
            set_word(c, (nw & ~0x7Fu & ~DATE_TIME_FLAG) | (nw & DATE_TIME_FLAG) | zone_of(w));
            break;
        }
        case F_YEAR: {
            i64 y = need_integer();
            set_days(c, date_to_days(pack_word(y, month_of(w), day_of(w))));
            break;
        }
        case F_MONTH: set_month(c, need_integer()); break;
        case F_DAY: {
            i64 d = need_integer();
            set_days(c, date_to_days(pack_word(year_of(w), month_of(w), 0)) + d);
            break;
        }
        case F_ZONE:
        case F_TIMEZONE:
            if (vt != T_INTEGER && vt != T_TIME) raise_error(Err::script_invalid_arg, v);
            set_word(c, w | DATE_TIME_FLAG);
            set_zone(c, v, f == F_TIMEZONE);
            break;
        case F_TIME:
            if (vt == T_NONE) {
                set_word(c, w & ~DATE_TIME_FLAG);
                set_float_payload(c, 0.0);
            } else if (vt == T_TIME) {
                set_word(c, w | DATE_TIME_FLAG);
                set_time(c, get_float(v), true);
            } else {
                raise_error(Err::script_invalid_arg, v);
            }
            break;
        case F_HOUR:
        case F_MINUTE:
        case F_SECOND: {
            double x;
            if (vt == T_INTEGER) x = double(get_integer(v));
            else if (vt == T_FLOAT && f == F_SECOND) x = get_float(v);
            else raise_error(Err::script_invalid_arg, v);
            // The fields are those of the local time, as the getters answer them.
            double local = has_time(w) ? time_of(c) + zone_offset(zone_of(w)) : 0.0;
            local = time_with_field(local, f - F_HOUR + TIME_HOUR, x);
            set_word(c, w | DATE_TIME_FLAG);
            set_time(c, local, true);
            break;
        }
        case F_WEEKDAY: {
            i64 n = need_integer();
            i64 d = date_to_days(w);
            set_days(c, d + n - 1 - mod_floor(d + 2, 7));
            break;
        }
        case F_YEARDAY: set_days(c, jan1_days(year_of(w)) + need_integer() - 1); break;
        case F_WEEK: {
            i64 n = need_integer();
            i64 jan1 = jan1_days(year_of(w));
            if (n <= 1) set_days(c, jan1);
            else set_days(c, jan1 + (7 - mod_floor(jan1 + 3, 7)) + 7 * (n - 2));
            break;
        }
        case F_ISOWEEK: set_days(c, iso_week_start(year_of(w)) + 7 * need_integer() - 7); break;
    }
}

Cell* date_eval_path(Cell* parent, Cell* element, Cell* value, Cell* path, Cell* gparent, Cell* p_item, i32 index,
                     bool case_, bool, bool) {
    i32 f = field_of(element);
    if (!f) {
        Cell none;
        set_cell(&none, T_NONE);
        raise_error(Err::script_invalid_path, path ? path : &none, element);
    }
    if (!value) {
        Cell* r = stack_push_slot();
        date_get_field(parent, f, r);
        return r;
    }
    // The date is changed only when the setter succeeds.
    Cell work = *parent;
    set_field(&work, f, value);
    *parent = work;
    store_back_path_value(parent, gparent, p_item, path, index, case_);
    return value;
}

Cell* date_pick(Cell* value, i32, Cell* index_cell) {
    i32 f = field_of(index_cell);
    if (!f) raise_error(Err::script_out_of_range, index_cell);
    Cell* r = stack_push_slot();
    date_get_field(value, f, r);
    return r;
}

void date_add() { date_do_math(0); }
void date_subtract() { date_do_math(1); }

Cell* date_random(Cell* value, bool seed, bool secure, bool) {
    u32 w = date_word(value);
    if (seed) {
        random_seed(w + u32(i64(time_of(value))));
        set_cell(value, T_UNSET);
        return value;
    }
    auto draw = [secure] { return secure ? random_secure() : random_next(); };
    i64 days = date_to_days(w);
    // The uniform draw every datatype shares, so that a seed gives the same days here.
    i64 pick = days >= 1 ? random_int(secure, i32(days < INT32_MAX ? days : INT32_MAX)) : 1;
    set_word(value, date_from_days(pick - 1, zone_of(w), has_time(w)));
    if (has_time(w)) {
        set_word(value, (date_word(value) & ~0x7Fu) | (u32(draw()) & 0x7F));
        double u3600;
        if (secure) {
            double r1 = random_secure(), r2 = random_secure();
            u3600 = (r1 / 2147483647.0 + r2) / (2147483648.0 / 3600.0);
        } else {
            u3600 = 3600.0 * (double(random_next()) / 2147483647.0);
        }
        set_time(value, 24.0 * std::floor(u3600), true);
    }
    return value;
}

void make_date_literal(Cell* out, const lex::DateFields& f) {
    date_make_at(out, f.year, f.month, f.day, f.seconds, f.has_zone ? f.zone_minutes : 0, f.has_time);
}

void init_date() {
    TypeRegistration r(T_DATE, 0, "date!");
    r.set<A_MAKE>(date_make).set<A_RANDOM>(date_random).set<A_TO>(date_to).set<A_FORM>(date_form);
    r.set<A_MOLD>(date_mold).set<A_EVAL_PATH>(date_eval_path).set<A_COMPARE>(date_compare);
    r.set<A_ADD>(date_add).set<A_SUBTRACT>(date_subtract).set<A_PICK>(date_pick);
    register_datatype(r);
    lex::g_make_date = make_date_literal;
}

}  // namespace

const Cell* system_field(const char* a, const char* b, const char* c) {
    static u32 sym_system = 0;
    if (!sym_system) sym_system = make_symbol("system");
    i32 i = find_word_in_context(g_global_context, sym_system, true);
    if (i < 0) return nullptr;
    const Cell* v = context_values(g_global_context) + i;
    for (const char* name : {a, b, c}) {
        if (!name) break;
        if (!is_object_type(type_of(v))) return nullptr;
        Node ctx = object_context(v);
        i32 k = find_word_in_context(ctx, make_symbol(name), true);
        if (k < 0 || u32(k) >= context_value_count(ctx)) return nullptr;
        v = context_values(ctx) + k;
    }
    return v;
}

i64 date_to_days(u32 word) {
    i64 y = year_of(word), m = month_of(word), d = day_of(word);
    i64 mm = (m + 9) % 12;
    y -= mm / 10;
    return 365 * y + div_floor(y, 4) - div_floor(y, 100) + div_floor(y, 400) + (306 * mm + 5) / 10 + d - 1;
}

u32 date_from_days(i64 g, u32 zone, bool time_flag) {
    auto start = [](i64 y) { return 365 * y + div_floor(y, 4) - div_floor(y, 100) + div_floor(y, 400); };
    i64 y = i64(std::floor((10000.0 * double(g) + 14780.0) / 3652425.0));
    i64 r = g - start(y);
    if (r < 0) {
        --y;
        r = g - start(y);
    } else if (r >= start(y + 1) - start(y)) {
        ++y;
        r = g - start(y);
    }
    i64 mi = (100 * r + 52) / 3060;
    i32 month = i32((mi + 2) % 12 + 1);
    i64 year = y + (mi + 2) / 12;
    i32 day = i32(r - (306 * mi + 5) / 10 + 1);
    return pack_word(year, month, day) | (zone & 0x7F) | (time_flag ? DATE_TIME_FLAG : 0);
}

bool date_leap_year(i32 y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

Cell* date_make_at(Cell* c, i32 year, i32 month, i32 day, double time, i32 zone_minutes, bool with_time) {
    u32 w = pack_word(year, month, day);
    double t = 0.0;
    if (with_time) {
        bool negative = zone_minutes < 0;
        i32 a = negative ? -zone_minutes : zone_minutes;
        u32 z = a ? zone_bits(a / 60, a % 60, negative) : 0;
        w |= DATE_TIME_FLAG | z;
        t = time - zone_offset(z);
    }
    set_cell(c, T_DATE, w);
    set_float_payload(c, t);
    return c;
}

Cell* date_make_at_fields(Cell* c, i32 year, i32 month, i32 day, i32 hour, i32 minute, i32 second, i32 nanosecond) {
    double t = hour * 3600.0 + minute * 60.0 + second + nanosecond * 1e-9;
    return date_make_at(c, year, month, day, t, 0, true);
}

Cell* date_make_in(Node block, u32 word, double time) {
    Cell* c = block_alloc_tail(block);
    set_cell(c, T_DATE, word);
    set_float_payload(c, time);
    return c;
}

Cell* date_push(u32 word, double time) {
    Cell* c = stack_push_slot();
    set_cell(c, T_DATE, word);
    set_float_payload(c, time);
    return c;
}

i32 date_to_epoch(const Cell* c) {
    i64 days = date_to_days(date_word(c)) - date_to_days(pack_word(1970, 1, 1));
    double s = double(days) * 86400.0 + std::trunc(time_of(c) + 0.5);
    // Beyond 2038-01-19 03:14:07 the seconds no longer fit the integer.
    if (!(s >= -2147483648.0 && s <= 2147483647.0)) raise_error(Err::math_overflow);
    return i32(s);
}

void date_difference(Cell* a, const Cell* b) {
    double s = double(date_to_days(date_word(a)) - date_to_days(date_word(b))) * 86400.0 + (time_of(a) - time_of(b));
    make_time_at(a, s);
}

Cell* date_make_now(Cell* out, bool utc, bool precise) {
    ClockReading r = read_clock(utc);
    double t = precise ? r.seconds : std::floor(r.seconds);
    return date_make_at(out, r.year, r.month, r.day, t, r.offset_seconds / 60, true);
}

void date_get_field(const Cell* c, i32 f, Cell* out) {
    u32 w = date_word(c);
    double local = time_of(c) + zone_offset(zone_of(w));
    switch (f) {
        case F_DATE:
            set_cell(out, T_DATE, w & ~(DATE_TIME_FLAG | 0x7Fu));
            set_float_payload(out, 0.0);
            break;
        case F_YEAR: make_integer_at(out, year_of(w)); break;
        case F_MONTH: make_integer_at(out, month_of(w)); break;
        case F_DAY: make_integer_at(out, day_of(w)); break;
        case F_ZONE:
        case F_TIMEZONE:
            if (has_time(w)) make_time_at(out, zone_offset(zone_of(w)));
            else set_cell(out, T_NONE);
            break;
        case F_TIME:
            if (has_time(w)) make_time_at(out, local);
            else set_cell(out, T_NONE);
            break;
        case F_HOUR: time_field_value(local, TIME_HOUR, out); break;
        case F_MINUTE: time_field_value(local, TIME_MINUTE, out); break;
        case F_SECOND: make_float_at(out, std::fmod(local, 60.0)); break;
        case F_WEEKDAY: make_integer_at(out, weekday_of(date_to_days(w))); break;
        case F_YEARDAY: make_integer_at(out, i32(date_to_days(w) - jan1_days(year_of(w)) + 1)); break;
        case F_WEEK: make_integer_at(out, sunday_week(w)); break;
        case F_ISOWEEK: make_integer_at(out, iso_week(w)); break;
    }
}

void date_do_math(i32 op) {
    Cell* left = g_args.base;
    Cell* right = left + 1;
    u32 w = date_word(left);
    i64 days = date_to_days(w);
    double t = time_of(left);
    bool flag = has_time(w);
    bool date_result = true;
    switch (type_of(right)) {
        case T_INTEGER: {
            i64 n = get_integer(right);
            days += op == 0 ? n : -n;
            break;
        }
        case T_TIME: {
            double x = get_float(right);
            t += op == 0 ? x : -x;
            flag = true;
            break;
        }
        case T_DATE:
            if (op == 0) num::raise_not_related("add", T_DATE);
            days -= date_to_days(date_word(right));
            t -= time_of(right);
            date_result = false;
            break;
        default: num::raise_invalid_type(type_of(right));
    }
    if (!std::isfinite(t) || std::fabs(t) > 1e15) raise_error(Err::script_out_of_range, right);
    days = normalize(days, &t, zone_of(w));
    if (!date_result) {
        if (days > 2147483647 || days < -2147483647) raise_error(Err::math_overflow);
        make_integer_at(left, i32(days));
        return;
    }
    set_cell(left, T_DATE, date_from_days(days, zone_of(w), flag));
    set_float_payload(left, t);
}

KEL_DATATYPE(T_DATE, init_date);

}  // namespace kel::dt
