// Stand-in conversions between file! values and OS paths (see local_path.h).
#include "evaluator/local_path.h"

#include "datatypes/string.h"
#include "runtime/errors.h"
#include "runtime/stack.h"
#include "runtime/unicode.h"

namespace kel::ev {

namespace {

int hex_digit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

}  // namespace

std::string file_to_local_path(const Cell* file) {
    Cell copy = *file;
    i32 length = -1;
    const char* text = rt::string_to_utf8(&copy, &length);
    std::string path;
    path.reserve(size_t(length));
    for (i32 i = 0; i < length; ++i) {
        char c = text[i];
        int hi, lo;
        if (c == '%' && i + 2 < length && (hi = hex_digit(text[i + 1])) >= 0 && (lo = hex_digit(text[i + 2])) >= 0) {
            path += char(hi << 4 | lo);
            i += 2;
        } else {
            path += c;
        }
    }
    if (path.find('\0') != std::string::npos) rt::raise_error(rt::Err::access_cannot_open, file);
    return path;
}

Cell* push_file_from_local(const std::string& path) {
    Cell* out = dt::push_string(u32(path.size()));
    const u8* p = reinterpret_cast<const u8*>(path.data());
    const u8* end = p + path.size();
    while (p < end) {
        i32 cp;
        p = rt::utf8_decode_char(p, end, &cp);
        dt::append_char(out, cp < 0 ? 0xFFFD : u32(cp));
    }
    set_cell_type(out, T_FILE);
    return out;
}

}  // namespace kel::ev
