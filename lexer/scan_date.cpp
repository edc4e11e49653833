// The date scanner: day-month-year and year-month-day forms with a month number or name,
// ISO week and ordinal dates, the compact ISO form, each with an optional time and zone.
#include <cstring>

#include "lexer/lexer_internal.h"
#include "lexer/literal_hooks.h"
#include "runtime/symbols.h"

namespace kel::lex {

using namespace rt;

namespace {

const char* const kMonths[12] = {"january", "february", "march",     "april",   "may",      "june",
                                 "july",    "august",   "september", "october", "november", "december"};

bool leap_year(i32 y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }
i32 days_in_month(i32 y, i32 m) {
    static const i32 days[12] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return m == 2 && !leap_year(y) ? 28 : days[m - 1];
}

// Days from 1970-01-01 of a proleptic Gregorian date, and back.
i64 days_from_civil(i64 y, i64 m, i64 d) {
    y -= m <= 2;
    i64 era = (y >= 0 ? y : y - 399) / 400;
    i64 yoe = y - era * 400;
    i64 doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    i64 doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}
void civil_from_days(i64 z, i32* y, i32* m, i32* d) {
    z += 719468;
    i64 era = (z >= 0 ? z : z - 146096) / 146097;
    i64 doe = z - era * 146097;
    i64 yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    i64 doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    i64 mp = (5 * doy + 2) / 153;
    *d = i32(doy - (153 * mp + 2) / 5 + 1);
    *m = i32(mp < 10 ? mp + 3 : mp - 9);
    *y = i32(yoe + era * 400 + (*m <= 2));
}

struct Reader {
    const u8* p;
    const u8* e;
    bool at_end() const { return p >= e; }
    bool peek(u8 c) const { return p < e && *p == c; }
    bool digit() const { return p < e && *p >= '0' && *p <= '9'; }
    // Up to `max` digits (at least `min`); answers the count read.
    u32 number(i32* out, u32 min, u32 max) {
        i32 v = 0;
        u32 n = 0;
        while (n < max && digit()) {
            v = v * 10 + (*p++ - '0');
            ++n;
        }
        *out = v;
        return n >= min ? n : 0;
    }
};

// hh:mm[:ss[.fraction]], then Z or a +/- zone hh[[:]mm].
bool read_time(Reader& r, DateFields& f) {
    i32 h, m;
    if (!r.number(&h, 1, 2) || !r.peek(':')) return false;
    ++r.p;
    if (!r.number(&m, 1, 2)) return false;
    double seconds = 0;
    if (r.peek(':')) {
        ++r.p;
        i32 s;
        if (!r.number(&s, 1, 2)) return false;
        seconds = s;
        if (r.peek('.')) {
            ++r.p;
            double scale = 0.1;
            if (!r.digit()) return false;
            while (r.digit()) {
                seconds += (*r.p++ - '0') * scale;
                scale /= 10;
            }
        }
    }
    if (h > 23 || m > 59 || seconds >= 60.0) return false;
    f.has_time = true;
    f.seconds = h * 3600.0 + m * 60.0 + seconds;
    return true;
}

bool read_zone(Reader& r, DateFields& f) {
    if (r.at_end()) return true;
    if (r.peek('Z')) {
        ++r.p;
        f.has_zone = true;
        f.zone_minutes = 0;
        return r.at_end();
    }
    if (!r.peek('+') && !r.peek('-')) return false;
    bool negative = *r.p++ == '-';
    i32 h, m = 0;
    u32 n = r.number(&h, 1, 4);
    if (!n) return false;
    if (n > 2) {  // hhmm written together
        if (n != 4) return false;
        m = h % 100;
        h /= 100;
    } else if (r.peek(':') || r.digit()) {
        if (r.peek(':')) ++r.p;
        if (r.number(&m, 2, 2) != 2) return false;
    }
    if (h > 15 || m > 59) return false;
    f.has_zone = true;
    f.zone_minutes = (negative ? -1 : 1) * (h * 60 + m);
    return r.at_end();
}

bool finish_day(DateFields& f) {
    return f.month >= 1 && f.month <= 12 && f.year >= -9999 && f.year <= 9999 && f.day >= 1 &&
           f.day <= days_in_month(f.year, f.month);
}

// YYYYMMDDThhmm[ss[.fraction]][Z or zone]
bool read_compact(Reader& r, DateFields& f) {
    i32 ymd;
    if (r.number(&ymd, 8, 8) != 8 || !r.peek('T')) return false;
    ++r.p;
    f.year = ymd / 10000;
    f.month = ymd / 100 % 100;
    f.day = ymd % 100;
    i32 hm;
    if (r.number(&hm, 4, 4) != 4) return false;
    double seconds = 0;
    if (r.digit()) {
        i32 s;
        if (r.number(&s, 2, 2) != 2) return false;
        seconds = s;
        if (r.peek('.')) {
            ++r.p;
            double scale = 0.1;
            while (r.digit()) {
                seconds += (*r.p++ - '0') * scale;
                scale /= 10;
            }
        }
    }
    if (hm / 100 > 23 || hm % 100 > 59 || seconds >= 60.0) return false;
    f.has_time = true;
    f.seconds = (hm / 100) * 3600.0 + (hm % 100) * 60.0 + seconds;
    return read_zone(r, f) && finish_day(f);
}

bool read_time_part(Reader& r, DateFields& f) {
    if (r.at_end()) return true;
    if (!r.peek('/') && !r.peek('T')) return false;
    ++r.p;
    return read_time(r, f) && read_zone(r, f);
}

bool parse_date(const u8* s, const u8* e, DateFields& f) {
    f = DateFields{};
    Reader r{s, e};
    const u8* digits = r.p;
    while (digits < e && *digits >= '0' && *digits <= '9') ++digits;
    if (digits - r.p == 8 && digits < e && *digits == 'T') return read_compact(r, f);
    bool negative = r.peek('-');
    if (negative) ++r.p;
    i32 first;
    u32 first_digits = r.number(&first, 1, 4);
    if (!first_digits || r.digit()) return false;
    if (negative) first = -first;
    if (!r.peek('-') && !r.peek('/')) return false;
    u8 sep = *r.p++;
    if (sep == '-' && r.peek('W')) {  // week date
        ++r.p;
        i32 week, weekday = 1;
        if (r.number(&week, 2, 2) != 2 || week < 1 || week > 53) return false;
        if (r.peek('-')) {
            ++r.p;
            if (r.number(&weekday, 1, 1) != 1 || weekday < 1 || weekday > 7) return false;
        }
        i64 jan4 = days_from_civil(first, 1, 4);
        i64 jan4_weekday = ((jan4 % 7) + 7 + 3) % 7 + 1;  // 1970-01-01 was a Thursday
        i64 day = jan4 - (jan4_weekday - 1) + (week - 1) * 7 + (weekday - 1);
        civil_from_days(day, &f.year, &f.month, &f.day);
        return finish_day(f) && read_time_part(r, f);
    }
    const u8* mark = r.p;
    i32 month = 0;
    if (r.digit()) {
        i32 n;
        u32 k = r.number(&n, 1, 3);
        if (k == 3 && sep == '-' && (r.at_end() || r.peek('T'))) {  // ordinal date
            if (n < 1 || n > (leap_year(first) ? 366 : 365)) return false;
            civil_from_days(days_from_civil(first, 1, 1) + n - 1, &f.year, &f.month, &f.day);
            return read_time_part(r, f);
        }
        if (k > 2) return false;
        month = n;
    } else {
        while (r.p < e && ((*r.p | 0x20) >= 'a' && (*r.p | 0x20) <= 'z')) ++r.p;
        u32 len = u32(r.p - mark);
        if (len < 3 || len > 9) return false;
        for (i32 m = 0; m < 12 && !month; ++m)
            if (std::strlen(kMonths[m]) >= len &&
                ascii_equal_ignoring_case(mark, reinterpret_cast<const u8*>(kMonths[m]), len))
                month = m + 1;
        if (!month) return false;
    }
    if (!r.peek(sep)) return false;
    ++r.p;
    i32 third;
    u32 third_digits = r.number(&third, 1, 4);
    if (!third_digits || r.digit()) return false;
    i32 day, year;
    u32 year_digits;
    if (third < 0 || third > 31 || (first >= 0 && first <= 99 && !negative)) {
        day = first;
        year = third;
        year_digits = third_digits;
    } else {
        year = first;
        day = third;
        year_digits = first_digits;
    }
    if (year >= 0 && year <= 99 && year_digits <= 2) year += year > 49 ? 1900 : 2000;
    f.year = year;
    f.month = month;
    f.day = day;
    return finish_day(f) && read_time_part(r, f);
}

}  // namespace

void scan_date(LexerState* st, const u8* s, const u8* e, u32, bool load) {
    DateFields f;
    if (!parse_date(s, e, f)) throw_error(st, s, T_DATE);
    if (!load) return;
    if (!g_make_date) throw_not_done(st);
    u32 i = append_value(st);
    g_make_date(value_at(i), f);
}

}  // namespace kel::lex
