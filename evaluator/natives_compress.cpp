// The `compress` and `decompress` natives: DEFLATE with zlib or gzip framing, or raw.
#include <cstring>
#include <vector>

#include "codec/deflate.h"
#include "datatypes/binary.h"
#include "evaluator/actions.h"
#include "runtime/errors.h"
#include "runtime/stack.h"
#include "runtime/symbols.h"
#include "runtime/unicode.h"

namespace kel::ev {

using namespace rt;

namespace {

// No binary the runtime makes may pass 1 GiB; a stream that asks more is refused.
constexpr size_t kOutputLimit = size_t(1) << 30;

// The framing a method word names, case-insensitively; anything else is script/invalid-arg.
codec::Framing method_of(const Cell* word) {
    static const struct {
        const char* name;
        codec::Framing framing;
    } methods[] = {{"zlib", codec::Framing::zlib}, {"deflate", codec::Framing::raw}, {"gzip", codec::Framing::gzip}};
    u32 sym = word_symbol(word);
    const char* name = symbol_name(sym);
    u32 len = symbol_name_length(sym);
    for (const auto& m : methods)
        if (len == std::strlen(m.name) &&
            ascii_equal_ignoring_case(reinterpret_cast<const u8*>(name), reinterpret_cast<const u8*>(m.name), len))
            return m.framing;
    raise_error(Err::script_invalid_arg, word);
}

void set_binary_result(const std::vector<u8>& bytes) {
    Cell* result = stack_result();
    dt::make_binary_at(result, u32(bytes.size()));
    if (!bytes.empty()) dt::binary_append_bytes(stack_result(), bytes.data(), u32(bytes.size()));
}

// compress: a binary! from its head, or a string as UTF-8.
Status compress_native(bool, const i32*) {
    Cell* data = stack_arg(0);
    codec::Framing framing = method_of(stack_arg(1));
    std::vector<u8> out;
    if (type_of(data) == T_BINARY) {
        out = codec::compress(framing, dt::binary_head_ptr(data), dt::binary_length(data));
    } else {
        i32 length = -1;
        const char* text = string_to_utf8(data, &length);
        out = codec::compress(framing, reinterpret_cast<const u8*>(text), size_t(length));
    }
    set_binary_result(out);
    return 0;
}

// decompress: /size, like a gzip trailer's size, only pre-sizes the output.
Status decompress_native(bool, const i32* refinements) {
    Cell* data = stack_arg(0);
    Cell* method = stack_arg(1);  // rooted on the stack for the error
    codec::Framing framing = method_of(method);
    size_t hint = 0;
    if (refinements[0] >= 0) {
        i64 size = get_int(stack_arg(u32(refinements[0])));
        if (size > 0) hint = size_t(size);
    }
    std::vector<u8> out;
    codec::InflateStatus s = codec::decompress(framing, dt::binary_head_ptr(data), dt::binary_length(data), out,
                                               hint, kOutputLimit);
    if (s != codec::InflateStatus::ok) raise_error(Err::script_invalid_data, method);
    set_binary_result(out);
    return 0;
}

}  // namespace

KEL_NATIVE(103, compress_native);
KEL_NATIVE(104, decompress_native);

}  // namespace kel::ev
