// Evaluating source text in tests: `run("1 + 2")` answers "3", the molded result, or the
// error's report text ("*** Script Error: ..."), after the boot sources ran once.
//
// Until the lexer lands, the source is read by the small reader below: words and their
// lit/get/set forms, refinements, issues, paths (a/b/1, a/b:, :a/b, 'a/b), integers, floats,
// strings ("..." with ^ escapes), blocks and parens, and ; comments.
#pragma once
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <string>

#include "console/boot_sources.h"
#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/error.h"
#include "datatypes/string.h"
#include "evaluator/actions.h"
#include "evaluator/interpreter.h"
#include "runtime/errors.h"
#include "runtime/exits.h"
#include "runtime/unicode.h"
#include "runtime/stack.h"
#include "support.h"

namespace kel::test::eval {

class Reader {
public:
    explicit Reader(const char* text) : p_(text) {}

    // The whole text as a block pushed on the argument stack.
    Cell* read_all() {
        Cell* b = dt::push_new_block(8);
        read_into(b, '\0');
        return b;
    }

private:
    const char* p_;

    static bool delimiter(char c) {
        return c == '\0' || c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '[' || c == ']' || c == '(' ||
               c == ')' || c == '"' || c == ';';
    }

    void skip_blanks() {
        for (;;) {
            while (*p_ == ' ' || *p_ == '\t' || *p_ == '\n' || *p_ == '\r') ++p_;
            if (*p_ != ';') return;
            while (*p_ && *p_ != '\n') ++p_;
        }
    }

    void read_into(Cell* b, char close) {
        for (;;) {
            bool line = false;
            const char* before = p_;
            skip_blanks();
            for (const char* q = before; q < p_; ++q) line |= *q == '\n';
            char c = *p_;
            if (c == '\0' || c == ']' || c == ')') {
                if (c) ++p_;
                (void)close;
                return;
            }
            Cell v = read_value(b);
            if (line) v.header |= CELL_NEW_LINE;
            // The value may hold a new series: append while it is still on the native stack.
            dt::ks_append(b, &v);
        }
    }

    Cell read_series(u32 type, char close) {
        Cell* b = dt::push_new_block(4);
        read_into(b, close);
        Cell v = *b;
        set_cell_type(&v, type);
        rt::stack_pop(1);
        // Kept reachable through the caller's native stack until appended.
        return v;
    }

    Cell read_string() {
        ++p_;
        Cell* s = dt::push_string(16);
        std::string text;
        while (*p_ && *p_ != '"') {
            if (*p_ == '^' && p_[1]) {
                ++p_;
                switch (*p_) {
                    case '/': text += '\n'; break;
                    case '-': text += '\t'; break;
                    default: text += *p_; break;
                }
                ++p_;
                continue;
            }
            text += *p_++;
        }
        if (*p_) ++p_;
        dt::append_utf8(s, text.c_str());
        Cell v = *s;
        rt::stack_pop(1);
        return v;
    }

    static bool number_start(const std::string& t) {
        size_t i = (t[0] == '-' || t[0] == '+') ? 1 : 0;
        return i < t.size() && t[i] >= '0' && t[i] <= '9';
    }

    static Cell number(const std::string& t) {
        Cell v;
        if (t.find_first_of(".eE") != std::string::npos) {
            set_cell(&v, T_FLOAT);
            set_float_payload(&v, std::strtod(t.c_str(), nullptr));
        } else {
            long long n = std::strtoll(t.c_str(), nullptr, 10);
            if (n > 2147483647LL || n < -2147483648LL) {
                set_cell(&v, T_FLOAT);
                set_float_payload(&v, double(n));
            } else {
                set_cell(&v, T_INTEGER, 0, u32(i32(n)));
            }
        }
        return v;
    }

    static Cell word(const std::string& name, u32 type) {
        Cell w = dt::load_word(name.c_str());
        set_cell_type(&w, type);
        return w;
    }

    // One path segment: an integer, a get-word, or a word.
    static Cell segment(const std::string& s) {
        if (number_start(s)) return number(s);
        if (s.size() > 1 && s[0] == ':') return word(s.substr(1), T_GET_WORD);
        return word(s, T_WORD);
    }

    Cell read_value(Cell*) {
        char c = *p_;
        if (c == '[') {
            ++p_;
            return read_series(T_BLOCK, ']');
        }
        if (c == '(') {
            ++p_;
            return read_series(T_PAREN, ')');
        }
        if (c == '"') return read_string();
        const char* start = p_;
        while (!delimiter(*p_)) ++p_;
        std::string t(start, p_);
        if (number_start(t)) return number(t);
        u32 prefix = T_WORD;
        if (t.size() > 1 && t[0] == '\'') prefix = T_LIT_WORD, t = t.substr(1);
        else if (t.size() > 1 && t[0] == ':') prefix = T_GET_WORD, t = t.substr(1);
        else if (t.size() > 1 && t[0] == '#') return word(t.substr(1), T_ISSUE);
        else if (t.size() > 1 && t[0] == '/' && std::isalpha(u8(t[1]))) return word(t.substr(1), T_REFINEMENT);
        bool set = t.size() > 1 && t.back() == ':';
        if (set) t.pop_back();
        size_t slash = t.find('/', 1);
        if (slash == std::string::npos || t == "//") {
            if (set) return word(t, T_SET_WORD);
            return word(t, prefix);
        }
        u32 type = set ? T_SET_PATH : prefix == T_GET_WORD ? T_GET_PATH : prefix == T_LIT_WORD ? T_LIT_PATH : T_PATH;
        Cell* path = dt::push_new_block(4);
        size_t from = 0;
        for (;;) {
            size_t to = t.find('/', from == 0 ? 1 : from);
            std::string seg = t.substr(from, to == std::string::npos ? std::string::npos : to - from);
            Cell s = segment(seg);
            dt::ks_append(path, &s);
            if (to == std::string::npos) break;
            from = to + 1;
        }
        Cell v = *path;
        set_cell_type(&v, type);
        rt::stack_pop(1);
        return v;
    }
};

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

// Boots the library sources once per process, as the program does.
inline void boot_library() { console::boot_library(); }

class EvalTest : public RuntimeTest {
protected:
    void SetUp() override {
        RuntimeTest::SetUp();
        ev::evaluator_install_hooks();
        boot_library();
    }
};

// Loads and evaluates the source; the molded result or the error report.
inline std::string run(const char* source) {
    Cell* before = rt::g_args.top;
    Reader r(source);
    Cell* b = r.read_all();
    std::string out = eval_loaded(b);
    rt::g_args.top = before;
    return out;
}

}  // namespace kel::test::eval
