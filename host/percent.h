// %XX escapes in paths and URIs.
#pragma once
#include <string>
#include <string_view>

namespace kel::host {

// Each "%" followed by two hexadecimal digits becomes that byte; anything else (a "%"
// without two digits among them) stays as it is.
inline std::string percent_decode(std::string_view text) {
    auto hex = [](char c) {
        if (c >= '0' && c <= '9') return c - '0';
        if (c >= 'a' && c <= 'f') return c - 'a' + 10;
        if (c >= 'A' && c <= 'F') return c - 'A' + 10;
        return -1;
    };
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        int hi, lo;
        if (text[i] == '%' && i + 2 < text.size() && (hi = hex(text[i + 1])) >= 0 && (lo = hex(text[i + 2])) >= 0) {
            out += char(hi << 4 | lo);
            i += 2;
        } else {
            out += text[i];
        }
    }
    return out;
}

}  // namespace kel::host
