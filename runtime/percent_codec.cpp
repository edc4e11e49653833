#include "runtime/percent_codec.h"

#include <cstring>

#include "runtime/base_codec.h"
#include "runtime/unicode.h"

namespace kel::rt {

bool percent_keeps(PercentSet set, u8 b) {
    if ((b >= '0' && b <= '9') || (b >= 'A' && b <= 'Z') || (b >= 'a' && b <= 'z')) return true;
    if (b == '-' || b == '.' || b == '_' || b == '~') return true;
    return set == PercentSet::url_safe && b != 0 && std::strchr("!#$&'()*+,/:=?@", b) != nullptr;
}

void percent_encode_byte(PercentSet set, u8 byte, std::string& out) {
    if (percent_keeps(set, byte)) {
        out += char(byte);
        return;
    }
    static const char digits[] = "0123456789ABCDEF";
    out += '%';
    out += digits[byte >> 4];
    out += digits[byte & 15];
}

bool percent_decode_byte(const u8* p, const u8* end, u8* byte) {
    if (end - p < 3 || p[0] != '%') return false;
    i32 hi = hex_digit_value(p[1]), lo = hex_digit_value(p[2]);
    if (hi < 0 || lo < 0) return false;
    *byte = u8(hi << 4 | lo);
    return true;
}

std::u32string percent_decode(const u8* p, const u8* end) {
    std::u32string out;
    while (p < end) {
        u8 bytes[4];
        if (percent_decode_byte(p, end, &bytes[0])) {
            u32 n = utf8_lead_length(bytes[0]);
            if (n == 0) {
                out += char32_t(bytes[0]);
                p += 3;
                continue;
            }
            u32 k = 1;
            while (k < n && percent_decode_byte(p + 3 * k, end, &bytes[k])) ++k;
            if (k == n) {
                u32 used = 0;
                i32 cp = utf8_decode_next(bytes, n, &used);
                if (cp >= 0 && used == n) {
                    out += char32_t(cp);
                    p += 3 * n;
                    continue;
                }
            }
        }
        // No complete escape here: the raw character as it stands.
        u32 used = 0;
        i32 cp = utf8_decode_next(p, u32(end - p), &used);
        if (cp < 0 || used == 0) {
            // Text cut inside a character: keep the byte rather than lose it.
            cp = *p;
            used = 1;
        }
        out += char32_t(cp);
        p += used;
    }
    return out;
}

}  // namespace kel::rt
