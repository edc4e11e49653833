// Word datatypes.
#include "datatypes/word.h"

#include <cstring>
#include <string>
#include <vector>

#include "datatypes/context.h"
#include "datatypes/datatype_init.h"
#include "datatypes/dispatch.h"
#include "datatypes/integer.h"
#include "datatypes/number_support.h"
#include "datatypes/string.h"
#include "datatypes/unit.h"
#include "runtime/errors.h"
#include "runtime/series.h"
#include "runtime/stack.h"
#include "runtime/symbols.h"
#include "runtime/unicode.h"

namespace kel::dt {

using namespace rt;

void (*g_scan_string_value)(const Cell* str, Cell* out) = nullptr;

Cell* scan_text_as(Cell* spec, u32 type) {
    Cell* out = stack_push_slot();
    set_cell(out, T_NONE);
    if (g_scan_string_value) g_scan_string_value(spec, out);
    if (type_of(out) != type) num::raise_bad_to_arg(type, spec);
    clear_cell_flag(out);
    return out;
}

u32 append_symbol_name(Cell* out, u32 symbol) {
    const u8* p = reinterpret_cast<const u8*>(symbol_name(symbol));
    const u8* end = p + symbol_name_length(symbol);
    u32 n = 0;
    while (p < end) {
        i32 cp = 0;
        const u8* next = utf8_decode_char(p, end, &cp);
        if (!next || next == p || cp < 0) {  // not UTF-8: the byte itself
            cp = *p;
            next = p + 1;
        }
        append_char(out, u32(cp));
        p = next;
        ++n;
    }
    return n;
}

namespace {

[[noreturn]] void raise_bad_to(u32 type, const Cell* spec) {
    Cell dt, s = *spec;
    set_cell(&dt, T_DATATYPE, type);
    raise_error(Err::script_bad_to_arg, &dt, &s);
}

// ---- reading a word token without the lexer -------------------------------------------

bool is_space(u32 c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == 0xA0 || c == 0x3000; }
bool is_digit(u32 c) { return c >= '0' && c <= '9'; }

// Characters that end or cannot stand in a word token.
bool is_delimiter(u32 c) {
    switch (c) {
        case '[': case ']': case '(': case ')': case '{': case '}': case '"': case ';': case '\\': case '^':
        case ',': case '@': case '$':
            return true;
        default: return c < 0x20 || is_space(c);
    }
}

// The operator spellings that start with a character a word may not start with.
bool is_operator_word(const std::vector<u32>& b) {
    static const char* const ops[] = {"<", "<<", "<=", "<>", "<-", ">", ">>", ">=", ">>>", "/", "//", "%"};
    for (const char* op : ops) {
        size_t n = std::strlen(op);
        if (b.size() != n) continue;
        bool same = true;
        for (size_t i = 0; i < n; ++i) same = same && b[i] == u32(u8(op[i]));
        if (same) return true;
    }
    return false;
}

// The type of a word token of the text, or 0 when the text is not one word token.
u32 classify_word_token(std::vector<u32> t, std::vector<u32>& body) {
    size_t a = 0, z = t.size();
    while (a < z && is_space(t[a])) ++a;
    while (z > a && is_space(t[z - 1])) --z;
    if (a == z) return 0;
    u32 type = T_WORD;
    switch (t[a]) {
        case '\'': type = T_LIT_WORD; ++a; break;
        case ':': type = T_GET_WORD; ++a; break;
        case '#': type = T_ISSUE; ++a; break;
        case '/':
            if (z - a > 1 && t[a + 1] != '/') {
                type = T_REFINEMENT;
                ++a;
            }
            break;
        default: break;
    }
    if (type == T_WORD && z - a > 1 && t[z - 1] == ':') {
        type = T_SET_WORD;
        --z;
    }
    body.assign(t.begin() + long(a), t.begin() + long(z));
    if (body.empty()) return 0;
    for (u32 c : body)
        if (is_delimiter(c)) return 0;
    if (type == T_ISSUE) {
        for (u32 c : body)
            if (c == '/' || c == ':' || c == '<' || c == '>' || c == '%' || c == '\'') return 0;
        return type;
    }
    if (is_operator_word(body)) return type;
    if (is_digit(body[0])) return 0;
    if ((body[0] == '+' || body[0] == '-' || body[0] == '.') && body.size() > 1 &&
        (is_digit(body[1]) || (body[1] == '.' && body.size() > 2 && is_digit(body[2]))))
        return 0;
    if (body[0] == '<' || body[0] == '%' || body[0] == '\'') return 0;
    for (u32 c : body)
        if (c == '/' || c == ':' || c == '<' || c == '>' || c == '%') return 0;
    return type;
}

u32 symbol_of_code_points(const std::vector<u32>& cps) {
    std::string utf8;
    for (u32 cp : cps) {
        u8 buf[4];
        u32 k = utf8_encode_char(cp, buf);
        utf8.append(reinterpret_cast<const char*>(buf), k);
    }
    return make_symbol_from_buffer(reinterpret_cast<const u8*>(utf8.data()), u32(utf8.size()));
}

// scan-string-value for word tokens alone: the lexer's answer for every text that holds
// one word token, a none for anything else (which callers reject alike).
void scan_text(const Cell* str, Cell* out) {
    if (g_scan_string_value) {
        g_scan_string_value(str, out);
        return;
    }
    std::vector<u32> body;
    u32 type = classify_word_token(string_code_points(str), body);
    if (!type) {
        set_cell(out, T_NONE);
        return;
    }
    u32 symbol = symbol_of_code_points(body);
    if (type == T_ISSUE) {
        set_cell(out, T_ISSUE, g_global_context, symbol, u32(-1));
        return;
    }
    *out = word_from_symbol(symbol);
    set_cell_type(out, type);
}

// A one-character string! on the stack.
Cell* push_char_string(u32 cp) {
    Cell* s = push_string(1);
    append_char(s, cp);
    return s;
}

// ---- actions --------------------------------------------------------------------------

Cell* word_result(const Cell* word, u32 type) {
    Cell* slot = stack_push(word);
    slot->header = type;
    return slot;
}

Cell* word_from_text(Cell* text, u32 type) {
    Cell scanned;
    scan_text(text, &scanned);
    if (!is_any_word_type(type_of(&scanned))) raise_error(Err::script_invalid_chars);
    return word_result(&scanned, type);
}

}  // namespace

Cell* word_make(Cell*, Cell* spec, u32 type) {
    switch (type_of(spec)) {
        case T_WORD: case T_SET_WORD: case T_LIT_WORD: case T_GET_WORD:
            return word_result(spec, type);
        case T_ISSUE: case T_REFINEMENT: {
            Cell s = *spec;
            Cell* text = push_symbol_string(&s);
            Cell scanned;
            scan_text(text, &scanned);
            stack_pop(1);
            if (!is_plain_word_type(type_of(&scanned))) raise_bad_to(type, &s);
            bind_word(g_global_context, &s);
            return word_result(&s, type);
        }
        case T_STRING: return word_from_text(spec, type);
        case T_CHAR: {
            Cell* text = push_char_string(spec->data2);
            Cell* r = word_from_text(text, type);
            Cell w = *r;
            stack_pop(2);
            return stack_push(&w);
        }
        case T_DATATYPE: {
            u32 t = spec->data1;
            const TypeName* tn = t < u32(TYPE_ROWS) ? &g_type_names[t] : nullptr;
            if (!tn || !tn->name) raise_bad_to(type, spec);
            Cell w = type_of(&tn->word) == T_WORD ? tn->word : load_word(tn->name);
            return word_result(&w, type);
        }
        case T_LOGIC: {
            Cell w = word_from_symbol(runtime_symbol(is_false_value(spec) ? SYM_FALSE : SYM_TRUE));
            return word_result(&w, type);
        }
        default: raise_bad_to(type, spec);
    }
}

namespace {

Cell* issue_make(Cell* proto, Cell* spec, u32 type) {
    switch (type_of(spec)) {
        case T_WORD: case T_SET_WORD: case T_LIT_WORD: case T_GET_WORD: case T_REFINEMENT: case T_ISSUE:
            return word_result(spec, T_ISSUE);
        case T_STRING: case T_CHAR: {
            std::vector<u32> cps;
            if (type_of(spec) == T_CHAR) cps.push_back(spec->data2);
            else cps = string_code_points(spec);
            Cell issue;
            set_cell(&issue, T_ISSUE, g_global_context, symbol_of_code_points(cps), u32(-1));
            return stack_push(&issue);
        }
        default: {
            Cell* r = word_make(proto, spec, type);
            r->header = T_ISSUE;
            return r;
        }
    }
}

i32 word_form(Cell* value, Cell* out, Cell*, i32 limit) {
    return limit - i32(append_symbol_name(out, word_symbol(value)));
}

i32 word_mold(Cell* value, Cell* out, bool, bool, bool, Cell* part, i32 limit, i32) {
    return word_form(value, out, part, limit);
}

template <char Prefix>
i32 prefixed_mold(Cell* value, Cell* out, bool, bool, bool, Cell*, i32 limit, i32) {
    append_char(out, u8(Prefix));
    return limit - 1 - i32(append_symbol_name(out, word_symbol(value)));
}

i32 set_word_mold(Cell* value, Cell* out, bool, bool, bool, Cell*, i32 limit, i32) {
    i32 n = i32(append_symbol_name(out, word_symbol(value)));
    append_char(out, ':');
    return limit - 1 - n;
}

// index? (stack form): the word's 1-based index, none when it has none.
void word_index_q() {
    Cell* w = g_args.base;
    i32 index = word_index(w);
    if (index < 0) set_cell(w, T_NONE);
    else set_cell(w, T_INTEGER, 0, u32(index + 1), 0);
}

i32 order_spellings(const Cell* v1, const Cell* v2, i32 op) {
    Cell a = symbol_to_string(word_symbol(v1));
    Cell* pa = stack_push(&a);
    Cell b = symbol_to_string(word_symbol(v2));
    Cell* pb = stack_push(&b);
    i32 r = compare_string_values(pa, pb, op, false);
    stack_pop(2);
    return r;
}

i32 issue_compare(Cell* v1, Cell* v2, i32 op) {
    if (type_of(v2) != T_ISSUE) return -2;
    return word_compare(v1, v2, op);
}

}  // namespace

i32 word_compare(Cell* v1, Cell* v2, i32 op) {
    u32 t1 = type_of(v1), t2 = type_of(v2);
    if (!is_any_word_type(t2) || (t2 == T_ISSUE && t1 != T_ISSUE)) return -2;
    u32 s1 = word_symbol(v1), s2 = word_symbol(v2);
    auto same_name = [&] { return resolve_symbol_alias(s1) == resolve_symbol_alias(s2); };
    auto word_and_lit = [&] {
        return (t1 == T_WORD && t2 == T_LIT_WORD) || (t1 == T_LIT_WORD && t2 == T_WORD);
    };
    switch (op) {
        case OP_EQUAL: case OP_NOT_EQUAL: case OP_PUT: return same_name() ? 0 : 1;
        case OP_STRICT_EQUAL: return (t1 == t2 && s1 == s2) ? 0 : 1;
        case OP_SAME:
            return (t1 == t2 && s1 == s2 && word_context_node(v1) == word_context_node(v2)) ? 0 : 1;
        case OP_FIND:
            if (word_and_lit()) return s1 == s2 ? 0 : 1;
            return (t1 == t2 && s1 == s2) ? 0 : 1;
        case OP_STRICT_FIND:
            if (word_and_lit()) return same_name() ? 0 : 1;
            return (t1 == t2 && same_name()) ? 0 : 1;
        case OP_LESSER: case OP_LESSER_OR_EQUAL: case OP_GREATER: case OP_GREATER_OR_EQUAL:
        case OP_SORT: case OP_CASE_SORT:
            return order_spellings(v1, v2, op);
        default: return -2;
    }
}

// ---- per-kind operations --------------------------------------------------------------

Cell* make_word_kind_in(Node block, const char* name, u32 type) {
    u32 symbol = make_symbol(name);
    Cell w;
    if (type == T_ISSUE) set_cell(&w, T_ISSUE, g_global_context, symbol, u32(-1));
    else {
        w = word_from_symbol(symbol);
        w.header = type;
    }
    Cell* c = block_alloc_tail(block);
    *c = w;
    return c;
}

Cell load_word_kind(const char* name, u32 type) {
    Cell w = load_word(name);
    w.header = type;
    return w;
}

Cell* push_word_kind(const Cell* word, u32 type) {
    Cell* c = stack_push(word);
    c->header = type;
    return c;
}

Cell* push_context_word_kind(Node ctx, i32 index, u32 type) {
    Cell w = *context_word_at(ctx, index);
    return push_word_kind(&w, type);
}

void set_word_from_result(const Cell* word) {
    Cell v = *g_args.base;
    set_word_value(word, &v);
    *g_args.base = v;
}

void get_word_into_result(const Cell* word) { *g_args.base = *get_word_value_ptr(word); }

Cell* push_word_value(const Cell* word) {
    Cell v = *get_word_value_ptr(word);
    if (type_of(&v) == T_UNSET) {
        Cell w = *word;
        raise_error(Err::script_no_value, &w);
    }
    return stack_push(&v);
}

Cell* push_get_word(const Cell* word) {
    Cell v = *get_word_value_ptr(word);
    return stack_push(&v);
}

Cell* push_symbol_string(const Cell* word) {
    u32 symbol = word_symbol(word);
    Cell* s = push_string(symbol_name_length(symbol));
    append_symbol_name(s, symbol);
    return s;
}

Cell* make_issue_at(Cell* c, const char* name) {
    set_cell(c, T_ISSUE, g_global_context, make_symbol(name), u32(-1));
    return c;
}

Cell* load_issue(const char* name) {
    Cell issue;
    make_issue_at(&issue, name);
    return stack_push(&issue);
}

Cell* set_word_checked(const Cell* word) {
    Cell v = g_args.base[1];
    if (type_of(&v) == T_UNSET) {
        Cell w = *word;
        raise_error(Err::script_need_value, &w);
    }
    set_word_value(word, &v);
    g_args.base[1] = v;
    return &g_args.base[1];
}

// ---- registration ---------------------------------------------------------------------

namespace {

void init_word() {
    TypeRegistration r(T_WORD, T_SYMBOL, "word!");
    r.set<A_MAKE>(word_make).set<A_TO>(word_make).set<A_FORM>(word_form).set<A_MOLD>(word_mold);
    r.set<A_COMPARE>(word_compare).set<A_INDEX_Q>(word_index_q);
    register_datatype(r);
}

// A child of word! with its own mold; `index` says whether index? is inherited.
void register_word_kind(u32 type, const char* name, MoldFn mold, bool index) {
    TypeRegistration r(type, T_WORD, name);
    r.inherit(A_MAKE).inherit(A_TO).inherit(A_FORM).inherit(A_COMPARE).set<A_MOLD>(mold);
    if (index) r.inherit(A_INDEX_Q);
    register_datatype(r);
}

void init_lit_word() { register_word_kind(T_LIT_WORD, "lit-word!", prefixed_mold<'\''>, true); }
void init_set_word() { register_word_kind(T_SET_WORD, "set-word!", set_word_mold, true); }
void init_get_word() { register_word_kind(T_GET_WORD, "get-word!", prefixed_mold<':'>, true); }
void init_refinement() { register_word_kind(T_REFINEMENT, "refinement!", prefixed_mold<'/'>, false); }

void init_issue() {
    TypeRegistration r(T_ISSUE, T_WORD, "issue!");
    r.set<A_MAKE>(issue_make).set<A_TO>(issue_make).set<A_MOLD>(prefixed_mold<'#'>);
    r.set<A_COMPARE>(issue_compare).inherit(A_FORM);
    register_datatype(r);
}

}  // namespace

KEL_DATATYPE(T_WORD, init_word);
KEL_DATATYPE(T_LIT_WORD, init_lit_word);
KEL_DATATYPE(T_SET_WORD, init_set_word);
KEL_DATATYPE(T_GET_WORD, init_get_word);
KEL_DATATYPE(T_REFINEMENT, init_refinement);
KEL_DATATYPE(T_ISSUE, init_issue);

}  // namespace kel::dt
