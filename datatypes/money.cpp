// money! datatype: exact decimal arithmetic on 22 digits, never through doubles.
//
// The digits are stored as packed BCD; the arithmetic works on the magnitude as a
// 128-bit integer in units of 0.00001 (22 digits fit in 74 bits, and every product and
// widened dividend the range checks admit fits in 127).
#include "datatypes/money.h"

#include <cmath>
#include <cstring>

#include "datatypes/context.h"
#include "datatypes/datatype_init.h"
#include "datatypes/date.h"
#include "datatypes/float.h"
#include "datatypes/integer.h"
#include "datatypes/number_support.h"
#include "datatypes/object.h"
#include "datatypes/random.h"
#include "datatypes/string.h"
#include "datatypes/time.h"
#include "datatypes/word.h"
#include "lexer/literal_hooks.h"
#include "lexer/number_scan.h"
#include "runtime/errors.h"
#include "runtime/float_text.h"
#include "runtime/series.h"
#include "runtime/stack.h"
#include "runtime/symbols.h"

namespace kel::dt {

using namespace rt;

namespace {

using u128 = unsigned __int128;
using i128 = __int128;

constexpr u32 MONEY_SIGN = 0x4000;

// Comparison operations.
enum : i32 {
    CMP_EQUAL = 0, CMP_NOT_EQUAL = 1, CMP_STRICT_EQUAL = 2, CMP_SORT = 7, CMP_CASE_SORT = 8, CMP_SAME = 9,
    CMP_FIND = 10, CMP_STRICT_FIND = 11, CMP_PUT = 12
};
constexpr i32 DIGITS = 22;
constexpr i32 FRACTION = 5;

constexpr u128 pow10(i32 n) {
    u128 r = 1;
    while (n-- > 0) r *= 10;
    return r;
}
constexpr u128 LIMIT = pow10(DIGITS);  // magnitudes stay below this
constexpr u128 UNIT = pow10(FRACTION);  // 1.00000

struct Money {
    bool negative = false;
    u8 currency = 0;
    u128 mag = 0;  // units of 0.00001
};

const char* const kCurrencies[] = {
    "AED", "AFN", "ALL", "AMD", "ANG", "AOA", "ARS", "AUD", "AWG", "AZN", "BAM", "BBD", "BDT", "BTC", "BGN",
    "BHD", "BIF", "BMD", "BND", "BOB", "BRL", "BSD", "BTN", "BWP", "BYN", "BZD", "CAD", "CDF", "CHF", "CKD",
    "CLP", "CNY", "COP", "CRC", "CUC", "CUP", "CVE", "CZK", "DJF", "DKK", "DOP", "DZD", "EGP", "ERN", "ETB",
    "ETH", "EUR", "FJD", "FKP", "FOK", "GBP", "GEL", "GGP", "GHS", "GIP", "GMD", "GNF", "GTQ", "GYD", "HKD",
    "HNL", "HRK", "HTG", "HUF", "IDR", "ILS", "IMP", "INR", "IQD", "IRR", "ISK", "JEP", "JMD", "JOD", "JPY",
    "KES", "KGS", "KHR", "KID", "KMF", "KPW", "KRW", "KWD", "KYD", "KZT", "LAK", "LBP", "LKR", "LRD", "LSL",
    "LYD", "MAD", "MDL", "MGA", "MKD", "MMK", "MNT", "MOP", "MRU", "MUR", "MVR", "MWK", "MXN", "MYR", "MZN",
    "NAD", "NGN", "NIO", "NOK", "NPR", "NZD", "OMR", "PAB", "PEN", "PGK", "PHP", "PKR", "PLN", "PND", "PRB",
    "PYG", "QAR", "KEL", "RON", "RSD", "RUB", "RWF", "SAR", "SBD", "SCR", "SDG", "SEK", "SGD", "SHP", "SLL",
    "SLS", "SOS", "SRD", "SSP", "STN", "SYP", "SZL", "THB", "TJS", "TMT", "TND", "TOP", "TRY", "TTD", "TVD",
    "TWD", "TZS", "UAH", "UGX", "USD", "UYU", "UZS", "VES", "VND", "VUV", "WST", "CFA", "XAF", "XCD", "XOF",
    "CFP", "XPF", "YER", "ZAR", "ZMW"};
constexpr i32 BUILT_IN_CURRENCIES = i32(sizeof kCurrencies / sizeof kCurrencies[0]);

// The currency list: system/locale/currencies/list once the system object exists.
const Cell* currency_list(u32* count) {
    const Cell* list = system_field("locale", "currencies", "list");
    if (!list || type_of(list) != T_BLOCK) return nullptr;
    SeriesBuffer* b = buffer_of(series_node(list));
    i32 head = series_head(list);
    Cell* p = cells_of(b) + (head < 0 ? 0 : head);
    Cell* tail = at<Cell>(b->tail);
    *count = p < tail ? u32(tail - p) : 0;
    return p;
}

// The position (1-255) of a 3-letter code, or 0. Positions past 255 cannot be stored.
u8 currency_index(const u8* code, u32 len) {
    u32 n = 0;
    const Cell* list = currency_list(&n);
    if (list) {
        for (u32 i = 0; i < n && i < 255; ++i) {
            const Cell* w = list + i;
            if (!is_any_word_type(type_of(w))) continue;
            u32 sym = word_symbol(w);
            if (symbol_name_length(sym) == len &&
                ascii_equal_ignoring_case(reinterpret_cast<const u8*>(symbol_name(sym)), code, len))
                return u8(i + 1);
        }
        return 0;
    }
    for (i32 i = 0; i < BUILT_IN_CURRENCIES; ++i)
        if (len == 3 && ascii_equal_ignoring_case(reinterpret_cast<const u8*>(kCurrencies[i]), code, 3))
            return u8(i + 1);
    return 0;
}

// The text of currency `index` (1-based), or null.
const char* currency_code(u8 index) {
    u32 n = 0;
    const Cell* list = currency_list(&n);
    if (list) {
        if (index > n || !is_any_word_type(type_of(list + index - 1))) return nullptr;
        return symbol_name(word_symbol(list + index - 1));
    }
    return index <= BUILT_IN_CURRENCIES ? kCurrencies[index - 1] : nullptr;
}

// ---- cell packing ---------------------------------------------------------------------

Money unpack(const Cell* c) {
    Money m;
    m.negative = (c->header & MONEY_SIGN) != 0;
    u8 bytes[12];
    std::memcpy(bytes, &c->data1, 12);
    m.currency = bytes[0];
    u128 v = 0;
    for (i32 i = 1; i < 12; ++i) v = v * 100 + (bytes[i] >> 4) * 10 + (bytes[i] & 15);
    m.mag = v;
    return m;
}

Cell* pack_at(Cell* c, const Money& m) {
    u8 bytes[12] = {};
    bytes[0] = m.currency;
    u128 v = m.mag;
    for (i32 i = 11; i >= 1; --i) {
        u32 pair = u32(v % 100);
        v /= 100;
        bytes[i] = u8(((pair / 10) << 4) | (pair % 10));
    }
    u32 keep = c->header & CELL_NEW_LINE;
    c->header = keep | T_MONEY | (m.negative ? MONEY_SIGN : 0);
    std::memcpy(&c->data1, bytes, 12);
    return c;
}

Cell* push_money(const Money& m) {
    Cell* c = stack_push_slot();
    c->header = 0;
    return pack_at(c, m);
}

i32 sign_of(const Money& m) { return m.mag == 0 ? 0 : m.negative ? -1 : 1; }

i32 significant_digits(u128 v) {
    i32 n = 0;
    while (v) {
        ++n;
        v /= 10;
    }
    return n ? n : 1;
}

[[noreturn]] void raise_type_limit(u32 type) {
    Cell dt = num::datatype_cell(type);
    raise_error(Err::script_type_limit, &dt);
}
[[noreturn]] void raise_bad_make(const Cell* v) {
    Cell dt = num::datatype_cell(T_MONEY);
    raise_error(Err::script_bad_make_arg, &dt, v);
}

// ---- conversions ----------------------------------------------------------------------

Money from_integer(i32 v) {
    Money m;
    m.negative = v < 0;
    m.mag = u128(v < 0 ? -i64(v) : i64(v)) * UNIT;
    return m;
}

// A float's shortest round-trip digits (so 0.1 is $0.1 and 1.005 is $1.005); the fraction
// beyond 5 digits is dropped, or refused in strict mode.
Money from_float(double x, bool strict, const Cell* original) {
    if (!std::isfinite(x)) raise_bad_make(original);
    double a = std::fabs(x);
    if ((a != 0.0 && a < 1e-5) || a >= 1e17) raise_bad_make(original);
    Money m;
    m.negative = std::signbit(x) && a != 0.0;
    if (a == 0.0) return m;
    i32 exponent = 0, count = 0;
    bool negative = false;
    const char* digits = float_to_digits(a, 0, &exponent, &negative, &count, false);
    // value = 0.d1d2... × 10^exponent; units of 1e-5 = digits shifted by exponent + 5.
    i32 shift = exponent + FRACTION;  // digits before the unit point
    if (strict && count > shift) raise_bad_make(original);
    u128 v = 0;
    for (i32 i = 0; i < count && i < shift; ++i) v = v * 10 + u32(digits[i] - '0');
    for (i32 i = count; i < shift; ++i) v *= 10;
    m.mag = v;
    return m;
}

Money to_money_operand(const Cell* c) {
    switch (type_of(c)) {
        case T_MONEY: return unpack(c);
        case T_INTEGER: return from_integer(get_integer(c));
        case T_FLOAT:
        case T_PERCENT: return from_float(get_float(c), false, c);
        default: num::raise_invalid_type(type_of(c));
    }
}

// ---- text -----------------------------------------------------------------------------

i32 fraction_count(bool all) {
    if (all) return FRACTION;
    const Cell* d = system_field("options", "money-digits");
    i32 n = d && type_of(d) == T_INTEGER ? get_integer(d) : 2;
    return n > FRACTION ? FRACTION : n;
}

// Writes the amount; answers the budget left.
i32 write_money(const Money& m, char* out, i32* len, i32 limit, bool all, bool grouping) {
    i32 k = 0;
    if (sign_of(m) < 0) out[k++] = '-', --limit;
    if (m.currency) {
        const char* code = currency_code(m.currency);
        if (code) {
            for (const char* p = code; *p; ++p) out[k++] = *p;
            limit -= 3;
        }
    }
    out[k++] = '$';
    --limit;
    u128 whole = m.mag / UNIT;
    u32 frac = u32(m.mag % UNIT);
    char digits[24];
    i32 n = 0;
    do {
        digits[n++] = char('0' + u32(whole % 10));
        whole /= 10;
    } while (whole);
    for (i32 i = n - 1; i >= 0; --i) {
        out[k++] = digits[i];
        --limit;
        // Position p of this digit among the 17 integer digits is 17 - i.
        if (grouping && i > 0 && i % 3 == 0) out[k++] = '\'', --limit;
    }
    i32 fc = fraction_count(all);
    if (fc >= 1) {
        out[k++] = '.';
        --limit;
        char f[6];
        for (i32 i = 4; i >= 0; --i) f[i] = char('0' + frac % 10), frac /= 10;
        for (i32 i = 0; i < fc; ++i) out[k++] = f[i], --limit;
    }
    out[k] = 0;
    *len = k;
    return limit;
}

i32 money_form(Cell* value, Cell* out, Cell*, i32 limit) {
    char buf[64];
    i32 n;
    i32 left = write_money(unpack(value), buf, &n, limit, false, true);
    append_c_string(out, buf);
    return left;
}

i32 money_mold(Cell* value, Cell* out, bool, bool all, bool, Cell*, i32 limit, i32) {
    char buf[64];
    i32 n;
    i32 left = write_money(unpack(value), buf, &n, limit, all, false);
    append_c_string(out, buf);
    return left;
}

// ---- make and to ----------------------------------------------------------------------

bool make_money_literal(Cell* out, const lex::MoneyText& t) {
    Money m;
    m.negative = t.negative;
    if (t.currency[0]) {
        m.currency = currency_index(reinterpret_cast<const u8*>(t.currency), 3);
        if (!m.currency) return false;
    }
    if (t.integer_count > 17) return false;
    u128 v = 0;
    for (u32 i = 0; i < t.integer_count; ++i) v = v * 10 + u32(t.integer_digits[i] - '0');
    for (u32 i = 0; i < FRACTION; ++i) v = v * 10 + (i < t.fraction_count ? u32(t.fraction_digits[i] - '0') : 0);
    m.mag = v;
    out->header &= CELL_NEW_LINE;
    pack_at(out, m);
    return true;
}

Cell* money_to(Cell*, Cell* spec, u32) {
    TypeId st = type_of(spec);
    switch (st) {
        case T_MONEY: return spec;
        case T_INTEGER: return push_money(from_integer(get_integer(spec)));
        case T_FLOAT: return push_money(from_float(get_float(spec), true, spec));
        default:
            if (num::is_text_type(st)) {
                num::UnitRange t = num::series_units(spec);
                Cell* r = stack_push_slot();
                set_cell(r, T_NONE);
                i32 status = 0;
                if (t.count) lex::scan_money(t.start, t.count, t.unit, r, &status);
                if (!t.count || status != 0 || type_of(r) != T_MONEY) num::raise_bad_to_arg(T_MONEY, spec);
                return r;
            }
            num::raise_bad_to_arg(T_MONEY, spec);
    }
}

Cell* money_make(Cell* proto, Cell* spec, u32 type) {
    TypeId st = type_of(spec);
    if (is_plain_word_type(st) || st == T_LIT_WORD) {
        u32 sym = word_symbol(spec);
        Money m;
        m.currency = currency_index(reinterpret_cast<const u8*>(symbol_name(sym)), symbol_name_length(sym));
        if (!m.currency) raise_bad_make(spec);
        return push_money(m);
    }
    if (st != T_BLOCK) return money_to(proto, spec, type);
    SeriesBuffer* b = buffer_of(series_node(spec));
    i32 head = series_head(spec);
    Cell* p = cells_of(b) + (head < 0 ? 0 : head);
    Cell* tail = at<Cell>(b->tail);
    i64 n = p < tail ? tail - p : 0;
    if (n < 1 || n > 3) raise_bad_make(spec);
    Money m;
    i64 i = 0;
    if (is_plain_word_type(type_of(p))) {
        u32 sym = word_symbol(p);
        m.currency = currency_index(reinterpret_cast<const u8*>(symbol_name(sym)), symbol_name_length(sym));
        if (!m.currency || n < 2) raise_bad_make(spec);
        i = 1;
    }
    Cell* amount = p + i;
    Money a;
    if (type_of(amount) == T_INTEGER) a = from_integer(get_integer(amount));
    else if (type_of(amount) == T_FLOAT) a = from_float(get_float(amount), true, amount);
    else raise_bad_make(spec);
    if (i + 1 < n) {
        Cell* f = amount + 1;
        if (type_of(amount) != T_INTEGER || type_of(f) != T_INTEGER || get_integer(f) < 0 || get_integer(f) > 99999 ||
            i + 2 < n)
            raise_bad_make(spec);
        a.mag += u128(get_integer(f));
    }
    if (i + 1 < n && i + 2 < n) raise_bad_make(spec);
    a.currency = m.currency;
    return push_money(a);
}

// ---- arithmetic -----------------------------------------------------------------------

Money combine(const Money& a, const Money& b, i32 code) {
    Money r;
    i128 x = a.negative ? -i128(a.mag) : i128(a.mag);
    i128 y = b.negative ? -i128(b.mag) : i128(b.mag);
    bool negative = false;
    u128 mag = 0;
    switch (code) {
        case OP_ADD:
        case OP_SUBTRACT: {
            i128 s = code == OP_ADD ? x + y : x - y;
            negative = s < 0;
            mag = u128(negative ? -s : s);
            if (mag >= LIMIT) raise_type_limit(T_MONEY);
            break;
        }
        case OP_MULTIPLY:
            if (significant_digits(a.mag) + significant_digits(b.mag) > 28) raise_type_limit(T_MONEY);
            mag = a.mag * b.mag / UNIT;
            if (mag >= LIMIT) raise_type_limit(T_MONEY);
            negative = a.negative != b.negative;
            break;
        case OP_DIVIDE:
            if (b.mag == 0) raise_error(Err::math_zero_divide);
            if (a.mag == 0) return a;
            if (significant_digits(a.mag) - significant_digits(b.mag) + 6 > DIGITS) raise_type_limit(T_MONEY);
            mag = a.mag * UNIT / b.mag;
            if (mag >= LIMIT) raise_type_limit(T_MONEY);
            negative = a.negative != b.negative;
            break;
        case OP_REMAINDER:
            if (b.mag == 0) raise_error(Err::math_zero_divide);
            mag = a.mag % b.mag;
            negative = a.negative;
            break;
        default: {
            Cell call, dt = num::datatype_cell(T_MONEY);
            stack_get_call(&call);
            raise_error(Err::script_cannot_use, &call, &dt);
        }
    }
    r.negative = negative && mag != 0;
    r.mag = mag;
    return r;
}

double to_float_of(const Money& m) {
    if (m.mag == 0) return 0.0;
    char buf[64];
    i32 n;
    Money plain = m;
    plain.currency = 0;
    plain.negative = false;
    write_money(plain, buf, &n, 0, true, false);
    i32 left = 0;
    double d = parse_float(buf + 1, buf + n, 0, &left);
    return m.negative ? -d : d;
}

// ---- actions --------------------------------------------------------------------------

i32 compare_amounts(const Money& a, const Money& b) {
    i32 sa = sign_of(a), sb = sign_of(b);
    if (sa != sb) return sa < sb ? -1 : 1;
    if (a.mag == b.mag) return 0;
    bool less = a.mag < b.mag;
    if (sa < 0) less = !less;
    return less ? -1 : 1;
}

const char* code_text(u8 c) {
    const char* t = c ? currency_code(c) : nullptr;
    return t ? t : "";
}

i32 compare_money(Cell* v1, Cell* v2, i32 op) {
    Money a = unpack(v1), b = unpack(v2);
    bool compatible = a.currency == b.currency || !a.currency || !b.currency;
    switch (op) {
        case CMP_EQUAL:
        case CMP_NOT_EQUAL:
        case CMP_FIND:
            if (!compatible) return 1;
            return compare_amounts(a, b) == 0 ? 0 : 1;
        case CMP_STRICT_EQUAL:
        case CMP_SAME:
        case CMP_STRICT_FIND:
            if (a.currency != b.currency) return 1;
            return compare_amounts(a, b) == 0 ? 0 : 1;
        case CMP_PUT:
            if (b.currency && a.currency != b.currency) return 1;
            return compare_amounts(a, b) == 0 ? 0 : 1;
        case CMP_SORT:
        case CMP_CASE_SORT:
            if (a.currency != b.currency) {
                if (!a.currency || !b.currency) return a.currency ? 1 : -1;
                i32 c = std::strcmp(code_text(a.currency), code_text(b.currency));
                if (c) return c < 0 ? -1 : 1;
            }
            return compare_amounts(a, b);
        default:
            if (!compatible) raise_error(Err::script_wrong_denom, v1, v2);
            return compare_amounts(a, b);
    }
}

i32 money_compare(Cell* v1, Cell* v2, i32 op) {
    TypeId t2 = type_of(v2);
    bool strict = op == CMP_STRICT_EQUAL || op == CMP_SAME || op == CMP_PUT || op == CMP_STRICT_FIND;
    if (t2 == T_MONEY) return compare_money(v1, v2, op);
    if (strict) return 1;
    Cell other;
    if (t2 == T_INTEGER) {
        pack_at(&(other = Cell{}), from_integer(get_integer(v2)));
    } else if (t2 == T_FLOAT) {
        double x = get_float(v2);
        double a = std::fabs(x);
        if (a != 0.0 && a < 1e-5) return 1;
        if (a >= 1e17 || !std::isfinite(x)) return -1;
        // A float with more digits than money holds is compared as floats.
        i32 exponent = 0, count = 0;
        bool negative = false;
        float_to_digits(a, 0, &exponent, &negative, &count, false);
        if (a != 0.0 && count > exponent + FRACTION) {
            double m = to_float_of(unpack(v1));
            if (op == CMP_EQUAL || op == CMP_NOT_EQUAL || op == CMP_FIND) return m == x ? 0 : 1;
            return m < x ? -1 : m > x ? 1 : 0;
        }
        pack_at(&(other = Cell{}), from_float(x, true, v2));
    } else {
        return -2;
    }
    return compare_money(v1, &other, op);
}

void money_add() { money_math(OP_ADD); }
void money_subtract() { money_math(OP_SUBTRACT); }
void money_multiply() { money_math(OP_MULTIPLY); }
void money_divide() { money_math(OP_DIVIDE); }
void money_remainder() { money_math(OP_REMAINDER); }

void money_absolute() { g_args.base->header &= ~MONEY_SIGN; }
Cell* money_negate(Cell* v) {
    v->header ^= MONEY_SIGN;
    return v;
}

bool money_even_q(Cell* v) { return (unpack(v).mag / UNIT) % 2 == 0; }
bool money_odd_q(Cell* v) { return (unpack(v).mag / UNIT) % 2 != 0; }

Cell* money_round(Cell* n, Cell* scale, bool even, bool down, bool half_down, bool floor, bool ceiling,
                  bool half_ceiling) {
    Money v = unpack(n);
    if (v.mag == 0) return n;
    Money s;
    s.mag = UNIT;
    if (scale) {
        switch (type_of(scale)) {
            case T_MONEY: s = unpack(scale); break;
            case T_INTEGER: s = from_integer(get_integer(scale)); break;
            case T_FLOAT: s = from_float(get_float(scale), true, scale); break;
            default: num::raise_call_not_related(type_of(scale));
        }
    }
    if (s.mag == 0) return n;
    u128 r = v.mag % s.mag;
    u128 lower = v.mag - r;
    u128 upper = v.mag + (s.mag - r);
    bool positive = !v.negative;
    bool tie = 2 * r == s.mag;
    bool up;
    if (r == 0) up = false;
    else if (down) up = false;
    else if (floor) up = !positive;
    else if (ceiling) up = positive;
    else if (tie && even) up = (v.mag / s.mag) % 2 != 0;
    else if (tie && half_down) up = false;
    else if (tie && half_ceiling) up = positive;
    else up = 2 * r >= s.mag;
    u128 mag = up ? upper : lower;
    if (mag >= LIMIT) raise_type_limit(T_MONEY);
    v.mag = mag;
    v.negative = v.negative && mag != 0;
    return pack_at(n, v);
}

const char* const kMoneyFields[2] = {"code", "amount"};

void money_field(const Cell* m, i32 f, Cell* out) {
    Money v = unpack(m);
    if (f == 1) {
        const char* code = v.currency ? currency_code(v.currency) : nullptr;
        if (code) *out = load_word(code);
        else set_cell(out, T_NONE);
        return;
    }
    v.currency = 0;
    out->header = 0;
    pack_at(out, v);
}

i32 money_field_of(const Cell* e) {
    if (type_of(e) == T_INTEGER) {
        i32 i = get_integer(e);
        return i == 1 || i == 2 ? i : 0;
    }
    return is_plain_word_type(type_of(e)) ? field_word_index(e, kMoneyFields, 2) : 0;
}

Cell* money_eval_path(Cell* parent, Cell* element, Cell* value, Cell* path, Cell*, Cell*, i32, bool, bool, bool) {
    i32 f = money_field_of(element);
    if (!f) {
        Cell none;
        set_cell(&none, T_NONE);
        raise_error(Err::script_invalid_path, path ? path : &none, element);
    }
    if (value) raise_error(Err::script_bad_path_set, element, value);
    Cell* r = stack_push_slot();
    money_field(parent, f, r);
    return r;
}

Cell* money_pick(Cell* value, i32, Cell* index_cell) {
    i32 f = money_field_of(index_cell);
    if (!f) raise_error(Err::script_out_of_range, index_cell);
    Cell* r = stack_push_slot();
    money_field(value, f, r);
    return r;
}

Cell* money_random(Cell* value, bool seed, bool secure, bool) {
    if (seed) {
        u32 sign = (value->header & MONEY_SIGN) ? 1 : 0;
        random_seed(value->data1 ^ value->data2 ^ value->data3 ^ sign);
        set_cell(value, T_UNSET);
        return value;
    }
    auto draw = [secure] { return u32(secure ? random_secure() : random_next()); };
    Money m = unpack(value);
    u8 d[DIGITS];
    u128 v = m.mag;
    for (i32 i = DIGITS - 1; i >= 0; --i) d[i] = u8(v % 10), v /= 10;
    i32 first = DIGITS - significant_digits(m.mag);
    bool free = false;
    for (i32 i = first; i < DIGITS; ++i) {
        if (free) {
            d[i] = u8(draw() % 10);
            continue;
        }
        u32 g;
        for (;;) {
            g = draw() % (u32(d[i]) + 1);
            if (g != d[i] || draw() % 1000 == draw() % 1000) break;
        }
        if (g < d[i]) free = true;
        d[i] = u8(g);
    }
    u128 r = 0;
    for (i32 i = 0; i < DIGITS; ++i) r = r * 10 + d[i];
    m.mag = r;
    return pack_at(value, m);
}

void init_money() {
    TypeRegistration r(T_MONEY, 0, "money!");
    r.set<A_MAKE>(money_make).set<A_RANDOM>(money_random).set<A_TO>(money_to).set<A_FORM>(money_form);
    r.set<A_MOLD>(money_mold).set<A_EVAL_PATH>(money_eval_path).set<A_COMPARE>(money_compare);
    r.set<A_ABSOLUTE>(money_absolute).set<A_ADD>(money_add).set<A_DIVIDE>(money_divide);
    r.set<A_MULTIPLY>(money_multiply).set<A_NEGATE>(money_negate).set<A_REMAINDER>(money_remainder);
    r.set<A_ROUND>(money_round).set<A_SUBTRACT>(money_subtract).set<A_EVEN_Q>(money_even_q);
    r.set<A_ODD_Q>(money_odd_q).set<A_PICK>(money_pick);
    register_datatype(r);
    lex::g_make_money = make_money_literal;
}

}  // namespace

void money_math(i32 code) {
    Cell* left = g_args.base;
    Cell* right = left + 1;
    TypeId lt = type_of(left), rt_ = type_of(right);
    if (lt == T_MONEY && rt_ == T_MONEY && code == OP_MULTIPLY) num::raise_invalid_type(T_MONEY);
    if (lt != T_MONEY && rt_ == T_MONEY && (code == OP_DIVIDE || code == OP_REMAINDER)) num::raise_invalid_type(lt);
    Money a = to_money_operand(left);
    Money b = to_money_operand(right);
    if (a.currency && b.currency && a.currency != b.currency) raise_error(Err::script_wrong_denom, left, right);
    u8 currency = b.currency ? b.currency : a.currency;
    Money r = combine(a, b, code);
    if (lt == T_MONEY && rt_ == T_MONEY && code == OP_DIVIDE) {
        make_float_at(left, to_float_of(r));
        return;
    }
    r.currency = currency;
    left->header &= CELL_NEW_LINE;
    pack_at(left, r);
}

i32 money_to_integer(const Cell* c) {
    Money m = unpack(c);
    u128 whole = m.mag / UNIT;
    if (whole > (m.negative ? 2147483648u : 2147483647u)) raise_type_limit(T_INTEGER);
    i64 v = i64(whole);
    return i32(m.negative ? -v : v);
}

Cell* money_make_at_digits(Cell* c, bool negative, u8 currency, const u8* digits) {
    u8 bytes[12];
    bytes[0] = currency;
    std::memcpy(bytes + 1, digits, 11);
    c->header = (c->header & CELL_NEW_LINE) | T_MONEY | (negative ? MONEY_SIGN : 0);
    std::memcpy(&c->data1, bytes, 12);
    return c;
}

i32 money_sign(const Cell* m) { return sign_of(unpack(m)); }

Cell* money_make_with_currency(Cell* out, const Cell* currency, const Cell* amount) {
    u32 sym = word_symbol(currency);
    u8 index = currency_index(reinterpret_cast<const u8*>(symbol_name(sym)), symbol_name_length(sym));
    if (!index) raise_error(Err::script_bad_denom, currency);
    Money m = type_of(amount) == T_INTEGER ? from_integer(get_integer(amount)) : from_float(get_float(amount), false, amount);
    m.currency = index;
    out->header = 0;
    return pack_at(out, m);
}

double money_to_float(const Cell* c) { return to_float_of(unpack(c)); }

i32 money_compare_number(Cell* number, Cell* money, i32 op) {
    // The mirror of money's own comparison: swap the operands and the ordering.
    i32 r = money_compare(money, number, op);
    if (r == -2) return r;
    if (op == CMP_EQUAL || op == CMP_NOT_EQUAL || op == CMP_STRICT_EQUAL || op == CMP_SAME || op == CMP_PUT ||
        op == CMP_FIND || op == CMP_STRICT_FIND)
        return r;
    return -r;
}

KEL_DATATYPE(T_MONEY, init_money);

}  // namespace kel::dt
