// One input through every way the lexer reads text: loading (a syntax error is caught as
// the `try` native catches it), scanning the next value, prescanning, and reading one value
// from a string. Shared by the libFuzzer target and the random-input unit test.
#pragma once
#include <cstddef>
#include <cstdint>

#include "datatypes/string.h"
#include "datatypes/word.h"
#include "lexer/lexer.h"
#include "lexer/load.h"
#include "runtime/exits.h"
#include "runtime/stack.h"

namespace kel::fuzz {

inline void lex_one_input(const uint8_t* data, size_t size) {
    using namespace rt;
    Cell* saved_base = g_args.base;
    Cell* saved_top = g_args.top;
    CallFrame* saved_calls = g_calls.top;
    auto restore = [&] {
        g_args.base = saved_base;
        g_args.top = saved_top;
        g_calls.top = saved_calls;
    };
    stack_open_try(nullptr);
    try {
        Cell* out = stack_push_slot();
        set_cell(out, T_NONE);
        lex::load_utf8(reinterpret_cast<const char*>(data), size, out);
    } catch (ErrorThrow&) {
    }
    restore();
    for (int mode = 0; mode < 3; ++mode) {
        lex::RunOptions o;
        o.load = false;
        o.one = mode != 1;
        o.checked = mode != 2;
        u32 consumed = 0;
        lex::lexer_run(nullptr, data, u32(size), o, &consumed);
    }
    // The same text as a string! value, read as one value.
    stack_open_try(nullptr);
    try {
        Cell* s = stack_push_slot();
        set_cell(s, T_NONE);
        dt::make_string_at(s, u32(size));
        for (size_t i = 0; i < size; ++i) dt::append_char(s, data[i] < 0x80 ? data[i] : 0xE9);
        Cell* out = stack_push_slot();
        set_cell(out, T_NONE);
        dt::g_scan_string_value(s, out);
    } catch (ErrorThrow&) {
    }
    restore();
}

}  // namespace kel::fuzz
