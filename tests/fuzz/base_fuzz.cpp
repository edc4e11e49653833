// libFuzzer target for the base-2, 16, 58 and 64 codecs and the paths that read bytes from
// text: built with -DKEL_FUZZ=ON under clang.
//     build-fuzz/tests/fuzz/base_fuzz -max_len=512 -dict=tests/fuzz/base.dict
//
// Each input is decoded in every base as characters of 1, 2 and 4 bytes (each in a buffer
// of its exact size, so a read past the end is caught), and every success must encode back
// to text that decodes to the same bytes. The input's bytes are encoded in every base and
// must decode back. Then, through the runtime, the text becomes a string! that is decoded
// (push_debase), converted with `to binary!`, and loaded as binary literals in bases 2, 16
// and 64.
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "fuzz_boot.h"
#include "datatypes/binary.h"
#include "datatypes/registry.h"
#include "datatypes/string.h"
#include "lexer/load.h"
#include "runtime/base_codec.h"
#include "runtime/exits.h"
#include "runtime/stack.h"

namespace {

using namespace kel;

constexpr unsigned kBases[] = {2, 16, 58, 64};

void check(bool ok) {
    if (!ok) std::abort();
}

std::string encode(unsigned base, const std::vector<u8>& bytes) {
    size_t room = base == 2 ? rt::base2_size(bytes.size()) : base == 16 ? rt::base16_size(bytes.size())
                : base == 58 ? rt::base58_size(bytes.size()) : rt::base64_size(bytes.size());
    std::vector<char> out(room + 1);
    char* end = base == 2 ? rt::encode_base2(bytes.data(), bytes.size(), out.data())
              : base == 16 ? rt::encode_base16(bytes.data(), bytes.size(), out.data())
              : base == 58 ? rt::encode_base58(bytes.data(), bytes.size(), out.data())
                           : rt::encode_base64(bytes.data(), bytes.size(), out.data());
    check(size_t(end - out.data()) <= room);
    return std::string(out.data(), end);
}

// The text in units of `unit` bytes, in a heap block of exactly that size.
template <class C>
void decode_as(const uint8_t* data, size_t size, u32 unit) {
    C* chars = static_cast<C*>(std::malloc(size * sizeof(C) + 1));
    // Wide units carry some characters above 127 whose low bits look like digits.
    for (size_t i = 0; i < size; ++i) chars[i] = C(data[i] >= 0xF0 && unit > 1 ? 0x100 | (data[i] & 0x7F) : data[i]);
    for (unsigned base : kBases) {
        std::vector<u8> out;
        bool ok = rt::decode_base(base, chars, size, unit, out);
        if (!ok) {
            check(out.empty());
            continue;
        }
        std::string text = encode(base, out);
        std::vector<u8> again;
        check(rt::decode_base(base, text.data(), text.size(), 1, again));
        check(again == out);
    }
    std::free(chars);
}

void round_trip(const uint8_t* data, size_t size) {
    std::vector<u8> bytes(data, data + size);
    for (unsigned base : kBases) {
        std::string text = encode(base, bytes);
        std::vector<u8> back;
        check(rt::decode_base(base, text.data(), text.size(), 1, back));
        check(back == bytes);
    }
}

using fuzz::guarded;

void through_runtime(const uint8_t* data, size_t size) {
    guarded([&] {
        Cell* s = rt::stack_push_slot();
        set_cell(s, T_NONE);
        dt::make_string_at(s, u32(size));
        for (size_t i = 0; i < size; ++i) dt::append_char(s, data[i] < 0x80 ? data[i] : 0x80 + data[i] * 7u);
        for (unsigned base : kBases) {
            Cell* bin = dt::push_debase(s, base);
            if (bin) {
                Cell* text = dt::push_enbase(bin, base);
                check(text != nullptr);
                Cell* again = dt::push_debase(text, base);
                check(again && dt::binary_bytes(again) == dt::binary_bytes(bin));
            }
        }
        dt::handler<A_TO>(T_BINARY)(nullptr, s, T_BINARY);
    });
    for (const char* prefix : {"#{", "2#{", "16#{", "64#{"}) {
        std::string text = prefix;
        text.append(reinterpret_cast<const char*>(data), size);
        text += "}";
        guarded([&] {
            Cell* out = rt::stack_push_slot();
            set_cell(out, T_NONE);
            lex::load_utf8(text.data(), text.size(), out);
        });
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    kel::fuzz::boot_runtime_once();
    decode_as<kel::u8>(data, size, 1);
    decode_as<kel::u16>(data, size, 2);
    decode_as<kel::u32>(data, size, 4);
    round_trip(data, size);
    through_runtime(data, size);
    return 0;
}
