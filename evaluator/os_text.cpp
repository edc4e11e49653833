// Conversions between text values and the OS's UTF-8 (see os_text.h).
#include "evaluator/os_text.h"

#include <cstring>

#include "datatypes/string.h"
#include "host/files.h"
#include "runtime/errors.h"
#include "runtime/stack.h"
#include "runtime/unicode.h"

namespace kel::ev {

using namespace rt;

std::string utf8_text(const Cell* value) {
    Cell copy = *value;
    i32 length = -1;
    const char* text = string_to_utf8(&copy, &length);
    return std::string(text, size_t(length));
}

// Plain ASCII goes in with one copy while the buffer still has 1-byte units.
void append_utf8_bytes(Cell* str, const std::string& bytes) {
    const u8* p = reinterpret_cast<const u8*>(bytes.data());
    const u8* end = p + bytes.size();
    SeriesBuffer* b = buffer_of(series_node(str));
    while (p < end) {
        if (b->unit() == 1) {
            const u8* run = p;
            while (run < end && *run < 0x80) ++run;
            if (run > p) {
                u32 n = u32(run - p);
                b = dt::string_reserve(b, n);
                std::memcpy(at(b->tail), p, n);
                b->tail += n;
                p = run;
                continue;
            }
        }
        i32 cp;
        p = utf8_decode_char(p, end, &cp);
        b = dt::buffer_append_char(b, cp < 0 ? 0xFFFD : u32(cp));
    }
}

Cell* push_text_from_utf8(const std::string& bytes, u32 type) {
    Cell* s = dt::push_string(u32(bytes.size()));
    append_utf8_bytes(s, bytes);
    set_cell_type(s, type);
    return s;
}

std::string file_to_local_path(const Cell* file) { return host::os_path_of(file); }

Cell* push_file_from_local(const std::string& path) { return host::push_file_name(path); }

}  // namespace kel::ev
