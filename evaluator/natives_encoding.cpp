// Text encoding natives: dehex, enhex (URL-style escapes), debase and enbase (base 2, 16,
// 58 and 64).
#include <string>

#include "datatypes/binary.h"
#include "datatypes/string.h"
#include "evaluator/actions.h"
#include "evaluator/interpreter.h"
#include "runtime/errors.h"
#include "runtime/percent_codec.h"
#include "runtime/stack.h"
#include "runtime/unicode.h"

namespace kel::ev {

using namespace rt;
using namespace dt;

namespace {

// The UTF-8 bytes of a string value from its head.
std::string utf8_of(Cell* str) {
    i32 length = -1;
    const char* p = string_to_utf8(str, &length);
    return std::string(p, size_t(length));
}

Status dehex_native(bool, const i32*) {
    std::string bytes = utf8_of(stack_arg(0));
    const u8* p = reinterpret_cast<const u8*>(bytes.data());
    std::u32string cps = percent_decode(p, p + bytes.size());
    Cell* out = push_string(u32(cps.size()));
    for (char32_t cp : cps) append_char(out, u32(cp));
    stack_set_last(out);
    stack_keep();
    return 0;
}

Status enhex_native(bool, const i32*) {
    Cell* value = stack_arg(0);
    // Plain text escapes everything but the unreserved characters; a url or file keeps
    // the characters that may stand in one.
    PercentSet set = type_of(value) == T_STRING ? PercentSet::unreserved : PercentSet::url_safe;
    std::string bytes = utf8_of(value);
    std::string text;
    text.reserve(bytes.size());
    for (char c : bytes) percent_encode_byte(set, u8(c), text);
    Cell* out = push_string(u32(text.size()));
    append_c_chars(out, text.data(), u32(text.size()));
    stack_set_last(out);
    stack_keep();
    return 0;
}

u32 base_arg(const i32* refs) {
    Cell* b = refinement_arg(refs, 0);
    if (!b) return 64;
    i32 base = get_int(b);
    if (base != 64 && base != 58 && base != 16 && base != 2) raise_error(Err::script_invalid_arg, b);
    return u32(base);
}

Status debase_native(bool, const i32* refs) {
    u32 base = base_arg(refs);
    Cell* bin = push_debase(stack_arg(0), base);
    if (bin)
        stack_set_last(bin);
    else
        set_cell(stack_result(), T_NONE);
    stack_keep();
    return 0;
}

// The room the encoded text of n bytes is allowed, line breaks included: beyond 32 bits
// the content is too long.
void check_encoded_size(u64 n, u32 base) {
    u64 size = base == 64   ? 4 * (n / 3) + (4 * (n % 3)) / 3 + 2 * (n / 32) + 5
               : base == 58 ? 2 * n
               : base == 16 ? 2 * n + n / 32 + 32
                            : 8 * n + 2 * (n / 8) + 4;
    if (size > 0x7FFFFFFFu) raise_error(Err::script_too_long);
}

Status enbase_native(bool, const i32* refs) {
    u32 base = base_arg(refs);
    Cell* value = stack_arg(0);
    if (type_of(value) != T_BINARY) {
        std::string bytes = utf8_of(value);
        check_encoded_size(bytes.size(), base);
        Cell* bin = push_binary_copy(bytes.data(), u32(bytes.size()));
        stack_set_last(bin);
        stack_keep();
        value = stack_result();
    } else {
        check_encoded_size(binary_length(value), base);
    }
    stack_set_last(push_enbase(value, base));
    stack_keep();
    return 0;
}

}  // namespace

KEL_NATIVE(47, dehex_native);
KEL_NATIVE(48, enhex_native);
KEL_NATIVE(84, debase_native);
KEL_NATIVE(91, enbase_native);

}  // namespace kel::ev
