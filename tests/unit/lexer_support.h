// Helpers for the lexer tests: load text, mold what came out, read a syntax error's report.
#pragma once
#include <string>

#include "block_support.h"
#include "datatypes/error.h"
#include "lexer/lexer.h"
#include "lexer/load.h"
#include "support.h"

namespace kel::test::lexing {

using blocks::mold;
using blocks::text_of;

// The values of `text`, molded as a block without its brackets.
inline std::string load_mold_unguarded(const std::string& text) {
    Cell* out = rt::stack_push_slot();
    set_cell(out, T_NONE);
    lex::load_utf8(text.data(), text.size(), out);
    return mold(out, true);
}

// Runs `body` in a try frame; answers the report of the error it raised ("" when none).
inline std::string error_report(const std::function<void()>& body) {
    using namespace rt;
    Cell* saved_base = g_args.base;
    Cell* saved_top = g_args.top;
    CallFrame* saved_calls = g_calls.top;
    stack_open_try(nullptr);
    std::string report;
    try {
        body();
    } catch (ErrorThrow&) {
        Cell err = *stack_top();
        report = text_of(dt::push_error_report(&err));
    }
    g_args.base = saved_base;
    g_args.top = saved_top;
    g_calls.top = saved_calls;
    return report;
}

// The first line of the report of the error that loading `text` raises.
inline std::string load_error(const std::string& text) {
    std::string report = error_report([&] { load_mold_unguarded(text); });
    return report.substr(0, report.find('\n'));
}

// The same, or the first line of the error raised.
inline std::string load_mold(const std::string& text) {
    std::string molded;
    std::string report = error_report([&] { molded = load_mold_unguarded(text); });
    return report.empty() ? molded : report.substr(0, report.find('\n'));
}

// The datatype id a scan of the first value answers (the transcode/scan mode).
inline u32 scan_type(const std::string& text, bool prescan = false) {
    lex::RunOptions o;
    o.one = !prescan;
    o.load = false;
    o.checked = !prescan;
    return lex::lexer_run(nullptr, reinterpret_cast<const u8*>(text.data()), u32(text.size()), o, nullptr);
}

}  // namespace kel::test::lexing
