// Evaluating source text in tests: `run("1 + 2")` answers "3", the molded result, or the
// error's report text ("*** Script Error: ..."), after the boot sources ran once.
#pragma once
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <string>

#include "console/boot_sources.h"
#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/error.h"
#include "datatypes/string.h"
#include "evaluator/actions.h"
#include "evaluator/interpreter.h"
#include "lexer/load.h"
#include "runtime/errors.h"
#include "runtime/exits.h"
#include "runtime/unicode.h"
#include "runtime/stack.h"
#include "support.h"

namespace kel::test::eval {

inline std::string string_of(const Cell* s) {
    std::string out;
    Cell v = *s;
    u32 n = dt::string_length(&v);
    for (u32 i = 0; i < n; ++i) {
        u32 cp = dt::string_char_at(&v, i);
        if (cp < 0x80) {
            out += char(cp);
        } else {
            u8 buf[4];
            u32 k = rt::utf8_encode_char(cp, buf);
            out.append(reinterpret_cast<const char*>(buf), k);
        }
    }
    return out;
}

inline std::string mold_value(const Cell* v) {
    Cell c = *v;
    Cell* val = rt::stack_push(&c);
    Cell* out = dt::push_string(16);
    ev::mold_dispatch(val, out, false, false, false, nullptr, 2147483647, 0);
    std::string s = string_of(out);
    rt::stack_pop(2);
    return s;
}

// The words a test run needs that the library defines later.
inline void define_if_unset(const char* name, const Cell& value) {
    Cell w = dt::load_word(name);
    if (!dt::word_value_or_null(&w)) dt::set_word_value(&w, &value);
}

// Evaluates a loaded block at the top level, inside a try as the console does; answers the
// molded result, or the report of the error that stopped it.
inline std::string eval_loaded(Cell* block) {
    using namespace rt;
    Cell* base = g_args.base;
    Cell* result = stack_push_slot();
    set_cell(result, T_UNSET);
    Cell code = *block;
    g_args.base = result;
    stack_open_try(nullptr);
    Status s;
    try {
        s = ev::eval_block(&code, true);
        if (!s) stack_unwind_last();
    } catch (SystemThrow& t) {
        if (t.code != CODE_ERROR) throw;
        Cell err = *stack_top();
        g_system.thrown = 0;
        g_args.base = base;
        g_args.top = result;
        g_calls.top = g_calls.bottom;
        Cell* e = stack_push(&err);
        Cell* report = dt::push_error_report(e);
        std::string text = string_of(report);
        g_args.top = result;
        return text;
    }
    std::string out;
    if (s) {
        g_system.thrown = 0;
        out = "exit " + std::to_string(s);
    } else {
        out = mold_value(result);
    }
    g_args.base = base;
    g_args.top = result;
    g_calls.top = g_calls.bottom;
    return out;
}

// Boots the library sources once per process, as the program does (without the stress
// build's extra collections: see g_gc_stress_paused).
inline void boot_library() {
    rt::g_gc_stress_paused = true;
    console::boot_library();
    rt::g_gc_stress_paused = false;
}

class EvalTest : public RuntimeTest {
protected:
    void SetUp() override {
        RuntimeTest::SetUp();
        ev::evaluator_install_hooks();
        boot_library();
    }
};

// Loads and evaluates the source; the molded result or the error report (a syntax error's
// too).
inline std::string run(const char* source) {
    using namespace rt;
    Cell* before = g_args.top;
    Cell* code = stack_push_slot();
    set_cell(code, T_NONE);
    Cell* base = g_args.base;
    CallFrame* calls = g_calls.top;
    stack_open_try(nullptr);
    std::string out;
    try {
        lex::load_utf8(source, std::strlen(source), code);
        g_calls.top = calls;
        g_args.base = base;
        g_args.top = code + 1;
        out = eval_loaded(code);
    } catch (ErrorThrow&) {
        // A syntax error: reported as the console reports it.
        Cell err = *stack_top();
        g_system.thrown = 0;
        g_calls.top = calls;
        g_args.base = base;
        g_args.top = code + 1;
        out = string_of(dt::push_error_report(stack_push(&err)));
    }
    g_args.top = before;
    return out;
}

// A table row: source text and what `run` answers for it.
struct Case {
    const char* source;
    const char* expected;
};

// Every row's whole answer, the error report's Where and Near lines included.
inline void check_all(std::initializer_list<Case> cases) {
    for (const Case& c : cases) EXPECT_EQ(run(c.source), c.expected) << c.source;
}

}  // namespace kel::test::eval
