// Float and decimal text conversion.
#include "runtime/float_text.h"

#include <charconv>
#include <cmath>
#include <cstring>
#include <algorithm>
#include <string>

namespace kel::rt {

namespace {

// The digits start one character in, after a permanent "-".
constexpr i32 MAX_DIGITS = 40;
char g_digits_area[MAX_DIGITS + 8] = "-";
char* const g_digits = g_digits_area + 1;

// Sign, "0.", six zeros, the digits, ".0", "e-324" and the terminator fit with room to spare.
char g_form[MAX_DIGITS + 32];

}  // namespace

const char* float_to_digits(double value, i32 precision, i32* exponent, bool* negative, i32* count,
                            bool keep_point) {
    *negative = std::signbit(value);
    const char* special = nullptr;
    if (std::isnan(value)) {
        special = "1.#NaN";
        *exponent = 9999;
    } else if (std::isinf(value)) {
        special = value < 0 ? "-1.#INF" : "1.#INF";
        *exponent = 9999;
    } else if (value == 0.0) {
        special = keep_point ? (*negative ? "-0.0" : "0.0") : (*negative ? "-0" : "0");
        *exponent = 9998;
    }
    if (special) {
        *count = i32(std::strlen(special));
        return special;
    }

    // Scientific notation gives the digits and the exponent without any scaling of ours:
    // "d.ddde-XX" is 0.dddd x 10^(XX + 1).
    char tmp[MAX_DIGITS + 16];
    double a = std::fabs(value);
    std::to_chars_result r = precision <= 0
        ? std::to_chars(tmp, tmp + sizeof tmp, a, std::chars_format::scientific)
        : std::to_chars(tmp, tmp + sizeof tmp, a, std::chars_format::scientific,
                        (precision > MAX_DIGITS ? MAX_DIGITS : precision) - 1);
    const char* p = tmp;
    i32 n = 0;
    for (; p < r.ptr && *p != 'e'; ++p)
        if (*p != '.') g_digits[n++] = *p;
    i32 e = 0;
    std::from_chars(p + 1 + (p[1] == '+'), r.ptr, e);
    while (n > 1 && g_digits[n - 1] == '0') --n;
    g_digits[n] = '\0';
    *exponent = e + 1;
    *count = n;
    return g_digits;
}

const char* form_float(double value, i32 precision, bool keep_point) {
    i32 e, n;
    bool negative;
    const char* d = float_to_digits(value, precision, &e, &negative, &n, keep_point);
    if (e >= 9998) return d;

    char* out = g_form;
    if (negative) *out++ = '-';
    bool scientific = e >= 18 || e <= -7;
    if (scientific) {
        *out++ = d[0];
        *out++ = '.';
        for (i32 i = 1; i < n; ++i) *out++ = d[i];
    } else if (e <= 0) {
        *out++ = '0';
        *out++ = '.';
        for (i32 i = 0; i < -e; ++i) *out++ = '0';
        for (i32 i = 0; i < n; ++i) *out++ = d[i];
    } else {
        for (i32 i = 0; i < e; ++i) *out++ = i < n ? d[i] : '0';
        *out++ = '.';
        for (i32 i = e; i < n; ++i) *out++ = d[i];
    }
    if (out[-1] == '.') {
        if (keep_point) *out++ = '0';
        else --out;
    }
    if (scientific) {
        *out++ = 'e';
        out = std::to_chars(out, g_form + sizeof g_form - 1, e - 1).ptr;
    }
    *out = '\0';
    return g_form;
}

double parse_float(const char* start, const char* end, i32 adjust, i32* left) {
    const char* p = start;
    auto report = [&](const char* stop, double v) {
        if (left) *left = i32(end - stop);
        return v;
    };

    bool negative = false;
    if (p < end && (*p == '+' || *p == '-')) negative = *p++ == '-';
    const char* digits_start = p;
    while (p < end && *p == '0') ++p;
    // Only zeros: +0.0 whatever the sign, as stored texts have always read.
    if (p == end && p > digits_start) return report(p, 0.0);

    // The integer digits (leading zeros skipped) and the fraction digits.
    const char* int_begin = p;
    while (p < end && *p >= '0' && *p <= '9') ++p;
    const char* int_end = p;
    bool any_digit = p > digits_start;
    const char* frac_begin = p;
    const char* frac_end = p;

    if (p < end && *p == '.') {
        ++p;
        // "1.#INF", "-1.#INF", "1.#NaN": the texts that infinities and NaN are written as.
        if (p - 1 - digits_start == 1 && p + 1 < end && *p == '#') {
            char k = p[1];
            if (k == 'I' || k == 'i' || k == 'N' || k == 'n') {
                bool inf = k == 'I' || k == 'i';
                const char* word = inf ? "INF" : "NAN";
                const char* q = p + 1;
                i32 i = 0;
                while (i < 3 && q < end && (*q & ~0x20) == word[i]) ++q, ++i;
                if (i < 3) q = p + 2;  // an unfinished word: the letter alone decides
                double v = inf ? (negative ? -HUGE_VAL : HUGE_VAL) : std::nan("");
                return report(q, v);
            }
        }
        frac_begin = p;
        while (p < end && *p >= '0' && *p <= '9') ++p;
        frac_end = p;
        any_digit = any_digit || p > frac_begin;
    }
    if (!any_digit) return report(start, 0.0);  // nothing, or "." alone, or a sign and a point

    // Exponent: only when a digit follows "e" (and its sign); else reading stops before it.
    i64 exp10 = 0;
    if (p < end && (*p == 'e' || *p == 'E')) {
        const char* q = p + 1;
        bool exp_negative = false;
        if (q < end && (*q == '+' || *q == '-')) exp_negative = *q++ == '-';
        if (q < end && *q >= '0' && *q <= '9') {
            for (; q < end && *q >= '0' && *q <= '9'; ++q)
                if (exp10 < 100000000) exp10 = exp10 * 10 + (*q - '0');
            if (exp_negative) exp10 = -exp10;
            p = q;
        }
    }

    // The value is 0.ddd x 10^e10, ddd the digits from the first significant one.
    i64 e10 = int_end - int_begin;
    if (int_begin == int_end) {
        while (frac_begin < frac_end && *frac_begin == '0') ++frac_begin, --e10;
        // No significant digit: zero carrying the text's sign ("-0.0" is -0.0).
        if (frac_begin == frac_end) return report(p, negative ? -0.0 : 0.0);
    }
    e10 += exp10 + i64(adjust);
    double v;
    if (e10 > 400) {
        v = HUGE_VAL;
    } else if (e10 < -400) {
        v = 0.0;
    } else {
        // Digits without the point, then the exponent that applies to them as an integer.
        size_t n = size_t(int_end - int_begin) + size_t(frac_end - frac_begin);
        char local[384];
        std::string large;
        char* buf = local;
        if (n + 24 > sizeof local) {
            large.resize(n + 24);
            buf = large.data();
        }
        char* w = std::copy(int_begin, int_end, buf);
        w = std::copy(frac_begin, frac_end, w);
        *w++ = 'e';
        w = std::to_chars(w, buf + n + 24, e10 - i64(n)).ptr;
        auto r = std::from_chars(buf, w, v);
        if (r.ec == std::errc::result_out_of_range) v = e10 > 0 ? HUGE_VAL : 0.0;
    }
    // A negative value that underflows reads as +0.0, as stored texts have always read.
    if (negative && v != 0.0) v = -v;
    return report(p, v);
}

double angle_to_radians(double x, i32 kind) {
    x = std::fmod(x, 360.0);
    if (x > 180.0 || x < -180.0) x += x < 0 ? 360.0 : -360.0;
    if (x > 90.0 || x < -90.0) {
        switch (kind) {
            case 0: x += x < 0 ? 180.0 : -180.0; break;
            case 2: x = (x >= 0 ? 180.0 : -180.0) - x; break;
            default: break;
        }
    }
    return x * 3.141592653589793 / 180.0;
}

bool c_string_equal_q(const char* a, const char* b) { return std::strcmp(a, b) == 0; }

}  // namespace kel::rt
