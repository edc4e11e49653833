// Text-to-number conversions.
#include "lexer/number_scan.h"

#include <cmath>
#include <cstring>

#include <string>

#include "lexer/literal_hooks.h"
#include "runtime/float_text.h"

namespace kel::lex {

namespace {

constexpr u32 MAX_DECIMAL_TEXT = 312;

inline u32 unit_at(const void* start, u32 i, u32 unit) {
    const u8* p = static_cast<const u8*>(start) + size_t(i) * unit;
    switch (unit) {
        case 1: return *p;
        case 2: { u16 v; std::memcpy(&v, p, 2); return v; }
        default: { u32 v; std::memcpy(&v, p, 4); return v; }
    }
}

}  // namespace

i32 scan_integer(const void* start, u32 count, u32 unit, i32* status) {
    u32 i = 0;
    bool negative = false;
    if (count > 0) {
        u32 c = unit_at(start, 0, unit);
        if (c == '+' || c == '-') {
            negative = c == '-';
            i = 1;
        }
    }
    i64 value = 0;
    const i64 limit = negative ? 2147483648LL : 2147483647LL;
    bool any_digit = false;
    for (; i < count; ++i) {
        u32 c = unit_at(start, i, unit);
        if (c == '\'') continue;
        if (c < '0' || c > '9') {
            *status = SCAN_FAILED;
            break;
        }
        any_digit = true;
        value = value * 10 + (c - '0');
        if (value > limit) {
            *status = SCAN_OVERFLOW;
            return 0;
        }
    }
    if (!any_digit) *status = SCAN_FAILED;
    return i32(negative ? -value : value);
}

bool check_decimal_text(const char* text, u32 length) {
    if (length > MAX_DECIMAL_TEXT) return false;
    // States: 0 start, 1 integer digits, 2 after a separator, 3 fraction digits,
    // 4 point first or separator in the fraction, 5 digits then point, 6 after the exponent
    // letter, 7 exponent sign, 8 exponent digits.
    int s = 0;
    for (u32 i = 0; i < length; ++i) {
        char c = text[i];
        bool digit = c >= '0' && c <= '9';
        bool sign = c == '+' || c == '-';
        bool exp = c == 'e' || c == 'E';
        bool point = c == '.';
        bool sep = c == '\'';
        int next = -1;
        switch (s) {
            case 0: next = sign ? 0 : digit ? 1 : point ? 4 : -1; break;
            case 1: next = digit ? 1 : exp ? 6 : point ? 5 : sep ? 2 : -1; break;
            case 2: next = digit ? 1 : -1; break;
            case 3: next = digit ? 3 : exp ? 6 : sep ? 4 : -1; break;
            case 4: next = digit ? 3 : -1; break;
            case 5: next = digit ? 3 : -1; break;
            case 6: next = sign ? 7 : digit ? 8 : -1; break;
            case 7: next = digit ? 8 : -1; break;
            case 8: next = digit ? 8 : -1; break;
        }
        if (next < 0) return false;
        s = next;
    }
    return s != 0 && s != 6 && s != 7;
}

double scan_float(const void* start, u32 count, u32 unit, i32* status) {
    if (count == 0 || count > MAX_DECIMAL_TEXT) {
        *status = SCAN_FAILED;
        return std::nan("");
    }
    char text[MAX_DECIMAL_TEXT];
    for (u32 i = 0; i < count; ++i) {
        u32 c = unit_at(start, i, unit);
        // Anything outside ASCII fails the check below: keep it out of the byte copy.
        text[i] = c == ',' ? '.' : c < 0x80 ? char(c) : '\x7F';
    }
    if (!check_decimal_text(text, count)) {
        *status = SCAN_FAILED;
        return std::nan("");
    }
    u32 n = 0;
    for (u32 i = 0; i < count; ++i)
        if (text[i] != '\'') text[n++] = text[i];
    i32 left = 0;
    double v = rt::parse_float(text, text + n, 0, &left);
    // The check lets a lone point through ("." or "-."): that is no number.
    if (left != 0) {
        *status = SCAN_FAILED;
        return std::nan("");
    }
    return v;
}

void scan_money(const void* start, u32 count, u32 unit, Cell* out, i32* status) {
    u32 i = 0;
    MoneyText m{};
    if (i < count && (unit_at(start, i, unit) == '+' || unit_at(start, i, unit) == '-'))
        m.negative = unit_at(start, i++, unit) == '-';
    auto letter = [](u32 c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); };
    if (count - i >= 5 && letter(unit_at(start, i, unit)) && letter(unit_at(start, i + 1, unit)) &&
        letter(unit_at(start, i + 2, unit)) && unit_at(start, i + 3, unit) == '$') {
        for (u32 k = 0; k < 3; ++k) m.currency[k] = char(unit_at(start, i + k, unit));
        i += 4;
    } else if (i < count && unit_at(start, i, unit) == '$') {
        ++i;
    }
    std::string whole, fraction;
    bool point = false;
    u32 first = i;
    if (i >= count) {
        *status = SCAN_FAILED;
        return;
    }
    for (; i < count; ++i) {
        u32 c = unit_at(start, i, unit);
        bool last = i + 1 == count;
        if (c == '\'') {
            if (i == first || last || point || unit_at(start, i + 1, unit) == '\'') {
                *status = SCAN_FAILED;
                return;
            }
            continue;
        }
        if (c == '.') {
            if (i == first || last || point) {
                *status = SCAN_FAILED;
                return;
            }
            point = true;
            continue;
        }
        if (c < '0' || c > '9') {
            *status = SCAN_FAILED;
            return;
        }
        if (point) fraction.push_back(char(c));
        else if (!whole.empty() || c != '0') whole.push_back(char(c));
    }
    m.integer_digits = whole.c_str();
    m.integer_count = u32(whole.size());
    m.fraction_digits = fraction.c_str();
    m.fraction_count = u32(fraction.size());
    if (!g_make_money || !g_make_money(out, m)) *status = SCAN_FAILED;
}

}  // namespace kel::lex
