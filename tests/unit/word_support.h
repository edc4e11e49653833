// Helpers for the word, context, function, object and error tests: words by name, strings,
// a stand-in for the interpreter's block evaluation (set-words and plain values only) and a
// recorder in place of its function calls.
#pragma once
#include <functional>
#include <string>
#include <vector>

#include "datatypes/context.h"
#include "datatypes/function.h"
#include "datatypes/object.h"
#include "datatypes/string.h"
#include "datatypes/word.h"
#include "evaluator/eval_hooks.h"
#include "runtime/cycles.h"
#include "runtime/symbols.h"
#include "runtime/unicode.h"
#include "unit/block_support.h"

namespace kel::test {

using namespace blocks;

// A global word of the given kind, spelled `name`.
inline Cell word_v(const char* name, u32 type = T_WORD) {
    Cell w = dt::load_word(name);
    w.header = type;
    return w;
}
inline Cell set_v(const char* name) { return word_v(name, T_SET_WORD); }
inline Cell lit_v(const char* name) { return word_v(name, T_LIT_WORD); }
inline Cell get_v(const char* name) { return word_v(name, T_GET_WORD); }
inline Cell ref_v(const char* name) { return word_v(name, T_REFINEMENT); }

// The stand-in for eval-block: runs of set-words take the value that follows; a word stands
// for its value, a lit-word for its word, anything else for itself.
inline rt::Status mini_eval(const Cell* block) {
    Cell b = *block;
    // The set-words waiting for a value, by position: cells copied to the C++ heap would
    // escape the collector.
    std::vector<i32> pending;
    Cell last;
    set_cell(&last, T_UNSET);
    for (i32 i = series_head(&b); i < dt::ks_buffer_length(&b); ++i) {
        Cell item = *dt::ks_abs_at(&b, i);
        if (type_of(&item) == T_SET_WORD) {
            pending.push_back(i);
            continue;
        }
        Cell v = item;
        if (type_of(&item) == T_WORD) {
            v = *dt::get_word_value_ptr(&item);
            if (type_of(&v) == T_UNSET) rt::raise_error(rt::Err::script_no_value, &item);
        } else if (type_of(&item) == T_LIT_WORD) {
            set_cell_type(&v, T_WORD);
        }
        v.header &= ~CELL_NEW_LINE;
        for (i32 k : pending) {
            Cell w = *dt::ks_abs_at(&b, k);
            dt::set_word_value(&w, &v);
        }
        pending.clear();
        last = v;
    }
    *rt::g_args.base = last;
    return 0;
}

// Records every function call made by the runtime (object change handlers).
struct CallRecord {
    Cell fn;
    std::vector<Cell> args;  // the frame's slots from its base
    Cell field_value;        // what `watch` held when the call ran (when set)
};
struct CallRecorder {
    static inline std::vector<CallRecord> calls;
    static inline std::function<void(CallRecord&)> on_call;
    static rt::Status call(Cell* fn, Node, const Cell*, u32) {
        CallRecord r;
        r.fn = *fn;
        for (Cell* c = rt::g_args.base; c < rt::g_args.top; ++c) r.args.push_back(*c);
        set_cell(&r.field_value, T_NONE);
        if (on_call) on_call(r);
        calls.push_back(r);
        return 0;
    }
};

// Installs the stand-ins for the duration of a test.
struct EvalStandIns {
    EvalStandIns() {
        ev::g_eval_block = mini_eval;
        ev::g_call_function = CallRecorder::call;
        CallRecorder::calls.clear();
        CallRecorder::on_call = nullptr;
    }
    ~EvalStandIns() {
        ev::g_eval_block = nullptr;
        ev::g_call_function = nullptr;
        CallRecorder::on_call = nullptr;
    }
};

inline u32 sym(const char* name) { return rt::make_symbol(name); }

// The molded text of a value as UTF-8 (text_of keeps ASCII only).
inline std::string utf8_of(const Cell* str) {
    std::string s;
    u32 n = dt::string_length(str);
    for (u32 i = 0; i < n; ++i) {
        u8 buf[4];
        u32 k = rt::utf8_encode_char(dt::string_char_at(str, i), buf);
        s.append(reinterpret_cast<const char*>(buf), k);
    }
    return s;
}

// An object made from a spec block (and a prototype), as `make object!` does.
inline Cell make_obj(Cell spec, const Cell* proto = nullptr) {
    Cell p = proto ? *proto : dt_v(T_OBJECT);
    Cell* pp = rt::stack_push(&p);
    Cell* s = rt::stack_push(&spec);
    return *dt::object_make(pp, s, T_OBJECT);
}

inline Cell field(const Cell& obj, const char* name) {
    Cell w = word_v(name);
    return *dt::object_select_word(&obj, &w);
}

inline Cell function_v(Cell spec, Cell body) {
    Cell proto = dt_v(T_FUNCTION);
    Cell s = blk_v({spec, body});
    Cell* ps = rt::stack_push(&s);
    return *dt::handler<A_MAKE>(T_FUNCTION)(&proto, ps, T_FUNCTION);
}

}  // namespace kel::test
