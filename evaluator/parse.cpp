// The parse dialect: a block of rules matched against a series.
//
// One loop over a state variable, driven by two explicit stacks (blocks kept for the whole
// process) instead of native recursion: nested rules cost rule-stack cells, never native
// stack, and a parse may be entered again from a paren or a trace callback of another one
// (it works above the cells the outer parse holds).
//
// The rule stack holds entries of three cells:
//   block entry    none | triple (caller's rule index, input index, input length) | caller's rule block
//   command entry  first | triple (rule index, input index at start, input length) | pair (code, argument)
// where `first` is the word of copy and set, else a triple (min, max, iteration count).
// A pair on top means a command waits for its controlled rule to end.
//
// The input stack holds one cell per open `into`: the outer input with its position.
//
// Values the engine holds (input, current rule block, current value, scratch) sit in slots
// of the argument stack, which never moves; open collects keep their blocks there too.
//
// Without a trace callback, searches for a literal, `copy word` of one, and repetitions of
// blocks made only of such simple items run without rule-stack entries (no one could see
// their events); see "repetitions of a plain block" below.
#include <cstring>

#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "datatypes/word.h"
#include "evaluator/actions.h"
#include "evaluator/interpreter.h"
#include "evaluator/parse_match.h"
#include "runtime/errors.h"
#include "runtime/fatal.h"
#include "runtime/gc.h"
#include "runtime/series.h"
#include "runtime/stack.h"
#include "runtime/symbols.h"

namespace kel::ev {

using namespace rt;
using parse::InputKind;

namespace {

constexpr u32 SLOT_PARSE = 40;
// Cells either stack may hold.
constexpr i32 STACK_LIMIT = 10000;

// Command codes.
enum Code : i32 {
    C_REPEAT = -1,
    C_TO = -2,
    C_THRU = -3,
    C_COPY = -4,
    C_SET = -5,
    C_NOT = -6,
    C_INTO = -7,
    C_REMOVE = -9,
    C_WHILE = -11,
    C_COLLECT = -12,
    C_KEEP = -13,
    C_AHEAD = -16,
    C_CHANGE = -17,
    C_CHANGE_ONLY = -18,
    C_CASE = -19,
};

enum State : u8 {
    S_ENTER, S_LEAVE, S_PUSH_CMD, S_COMPLETE, S_CONTINUE, S_MATCH_VALUE, S_CONSUME,
    S_NEXT, S_LITERAL, S_ARG, S_ALT, S_KEYWORD, S_FINISH, S_EXIT,
};

enum Keyword : u8 {
    K_NONE_, K_BAR, K_SKIP, K_ANY, K_SOME, K_COPY, K_TO, K_THRU, K_REMOVE, K_BREAK, K_OPT, K_KEEP,
    K_FAIL, K_AHEAD, K_WHILE, K_INTO, K_INSERT, K_CHANGE, K_END, K_IF, K_NOT, K_QUOTE, K_COLLECT,
    K_CASE, K_REJECT, K_SET, K_NONE,
};

enum Event : u8 { E_PUSH, E_POP, E_FETCH, E_MATCH, E_ITERATE, E_PAREN, E_END, E_COUNT };

// ---- the process-wide stacks and names -----------------------------------------------------

Cell g_rule_stack;
Cell g_input_stack;
bool g_ready = false;
std::vector<u8> g_keyword_of;  // resolved symbol id -> Keyword
u32 g_event_symbols[E_COUNT];
u32 g_sym_only, g_sym_pick, g_sym_into, g_sym_after, g_sym_set, g_sym_end, g_sym_bar;

void add_keyword(u32 symbol, Keyword k) {
    symbol = resolve_symbol_alias(symbol);
    if (g_keyword_of.size() <= symbol) g_keyword_of.resize(symbol + 1, K_NONE_);
    g_keyword_of[symbol] = k;
}

// parse-init, run on the first parse.
void parse_init() {
    if (g_ready) return;
    set_cell(&g_rule_stack, T_NONE);
    set_cell(&g_input_stack, T_NONE);
    gc_register_cell_root(&g_rule_stack);
    gc_register_cell_root(&g_input_stack);
    dt::make_block_at(&g_rule_stack, 100);
    dt::make_block_at(&g_input_stack, 8);
    const std::pair<const char*, Keyword> words[] = {
        {"|", K_BAR}, {"skip", K_SKIP}, {"any", K_ANY}, {"some", K_SOME}, {"copy", K_COPY}, {"to", K_TO},
        {"thru", K_THRU}, {"remove", K_REMOVE}, {"break", K_BREAK}, {"opt", K_OPT}, {"keep", K_KEEP},
        {"fail", K_FAIL}, {"ahead", K_AHEAD}, {"while", K_WHILE}, {"into", K_INTO}, {"insert", K_INSERT},
        {"change", K_CHANGE}, {"end", K_END}, {"if", K_IF}, {"not", K_NOT}, {"quote", K_QUOTE},
        {"collect", K_COLLECT}, {"case", K_CASE}, {"reject", K_REJECT}, {"set", K_SET}, {"none", K_NONE},
    };
    for (auto& [name, k] : words) add_keyword(make_symbol(name), k);
    const char* events[E_COUNT] = {"push", "pop", "fetch", "match", "iterate", "paren", "end"};
    for (int i = 0; i < E_COUNT; ++i) g_event_symbols[i] = make_symbol(events[i]);
    g_sym_only = resolve_symbol_alias(make_symbol("only"));
    g_sym_pick = resolve_symbol_alias(make_symbol("pick"));
    g_sym_into = resolve_symbol_alias(make_symbol("into"));
    g_sym_after = resolve_symbol_alias(make_symbol("after"));
    g_sym_set = resolve_symbol_alias(make_symbol("set"));
    g_sym_end = resolve_symbol_alias(make_symbol("end"));
    g_sym_bar = resolve_symbol_alias(make_symbol("|"));
    g_ready = true;
}

inline Node rs_node() { return series_node(&g_rule_stack); }
inline Node is_node() { return series_node(&g_input_stack); }
inline i32 blk_len(Node n) { return i32(series_length(n)); }
// The length of a series of value cells (the stacks, rule blocks): no unit width to read.
inline i32 cells_len(Node n) {
    SeriesBuffer* b = buffer_of(n);
    return i32((b->tail - b->offset) / sizeof(Cell));
}
inline Cell* blk_cells(Node n) { return cells_of(buffer_of(n)); }
inline void blk_truncate(Node n, i32 len) {
    SeriesBuffer* b = buffer_of(n);
    if (blk_len(n) > len) b->tail = b->offset + u32(len) * sizeof(Cell);
}

inline Cell triple(i32 a, i32 b, i32 c) {
    Cell t;
    set_cell(&t, T_TRIPLE, u32(a), u32(b), u32(c));
    return t;
}
inline Cell pair(i32 code, i32 arg) {
    Cell p;
    set_cell(&p, T_PAIR, 0, u32(code), u32(arg));
    return p;
}
inline Cell int_cell(i32 v) {
    Cell c;
    set_cell(&c, T_INTEGER, 0, u32(v), 0);
    return c;
}
inline Cell logic_cell(bool v) {
    Cell c;
    set_cell(&c, T_LOGIC, v ? 1 : 0);
    return c;
}
inline u32 word_sym(const Cell* w) { return resolve_symbol_alias(word_symbol(w)); }
inline bool is_word_of(const Cell* c, u32 sym) { return type_of(c) == T_WORD && word_sym(c) == sym; }
Cell word_of_symbol(u32 sym) { return dt::word_from_symbol(sym); }

// The keyword of a word. A symbol's alias (its first spelling ignoring case) is fixed when it
// is interned, so the answer is kept per symbol as met (plus one: zero is "not yet").
std::vector<u8> g_keyword_of_raw;
inline Keyword keyword_of(const Cell* w) {
    u32 raw = word_symbol(w);
    if (raw < g_keyword_of_raw.size() && g_keyword_of_raw[raw]) return Keyword(g_keyword_of_raw[raw] - 1);
    u32 s = resolve_symbol_alias(raw);
    Keyword k = s < g_keyword_of.size() ? Keyword(g_keyword_of[s]) : K_NONE_;
    if (raw >= g_keyword_of_raw.size()) g_keyword_of_raw.resize(raw + 256, 0);
    g_keyword_of_raw[raw] = u8(k + 1);
    return k;
}

// The callback answered false or none: the parse ends with the match flag as it is.
struct Stopped {};
// An exit (break, return, throw ...) left pending by language code the engine ran.
struct PassExit {
    Status code;
};

// ---- the engine ------------------------------------------------------------------------------

struct Engine {
    Cell* in;        // the input; its index is the position
    Cell* rules;     // the rule block being interpreted
    Cell* val;       // the current value
    Cell* scratch;   // copied and single values
    Cell* cb;        // the /trace callback, or null
    Cell* collects;  // first cell above the engine's slots: two cells per open collect
    i32 pos = 0;     // rule position (absolute cell index)
    i32 limit = -1;  // /part limit (absolute index), -1 none
    bool strict = false;
    bool match = true, end = false;
    i32 cmd = 0, cmd_arg = 0, min = -1, max = -1;
    u32 cmd_sym = 0;  // the keyword of the pending command (for its errors)
    i32 collect_depth = 0;
    bool brk = false, pop_flag = false, arg_mode = false, from_word = false, ran_to_tail = false;
    bool collected = false;
    i32 rs_base = 0, is_base = 0;
    u8 state = S_ENTER;

    // ---- input ----
    i32 idx() const { return series_head(in); }
    void set_idx(i32 i) { in->data1 = u32(i); }
    i32 tail() const { return blk_len(series_node(in)); }
    i32 eff_end() const {
        i32 t = tail();
        return (limit >= 0 && limit < t) ? limit : t;
    }
    // Positions that edits or get-words pushed past the tail come back to it; the end flag
    // holds at the tail or the limit, whichever comes first.
    void compute_end() {
        i32 t = tail(), i = idx();
        if (i > t) set_idx(i = t);
        if (i < 0) set_idx(i = 0);
        end = i >= eff_end();
    }
    i32 rest() const { return tail() - idx(); }
    InputKind kind() const { return parse::input_kind(type_of(in)); }

    // ---- rules ----
    Node rnode() const { return series_node(rules); }
    i32 rtail() const { return cells_len(rnode()); }
    Cell rcell(i32 i) const { return blk_cells(rnode())[i]; }
    bool has_cell(i32 i) const { return i >= 0 && i < rtail(); }

    // ---- rule stack ----
    i32 rs_len() const { return cells_len(rs_node()); }
    Cell* rs_top() const { return blk_cells(rs_node()) + rs_len() - 1; }
    bool top_is_cmd() const { return rs_len() > rs_base && type_of(rs_top()) == T_PAIR; }
    void check_stacks() {
        if (rs_len() + 3 > STACK_LIMIT || cells_len(is_node()) + 1 > STACK_LIMIT) raise_error(Err::script_parse_stack);
    }
    void push_entry(const Cell& a, const Cell& b, const Cell& c) {
        check_stacks();
        // One room check for the three cells; the buffer grows (and may move) only when full.
        SeriesBuffer* buf = buffer_of(rs_node());
        Cell* at_ = reinterpret_cast<Cell*>(buffer_reserve(buf, 3 * sizeof(Cell)));
        at_[0] = a;
        at_[1] = b;
        at_[2] = c;
    }
    void drop_entry() { blk_truncate(rs_node(), rs_len() - 3); }
    i32 top_code() const { return i32(rs_top()->data2); }

    [[noreturn]] void raise_end(u32 sym) {
        Cell w = word_of_symbol(sym);
        raise_error(Err::script_parse_end, &w);
    }

    // ---- events ----
    void fire(Event e) {
        if (!cb) return;
        Cell* mark = g_args.top;
        Cell* args = stack_push_slot();
        *args = word_of_symbol(g_event_symbols[e]);
        Cell m = logic_cell(match);
        stack_push(&m);
        Cell r = *rules;
        r.data1 = u32(pos < 0 ? 0 : pos);
        stack_push(&r);
        stack_push(in);
        Cell stack = g_rule_stack;
        stack.data1 = u32(rs_base);
        stack_push(&stack);
        Cell fn = *cb;
        Status s = call_value(&fn, args, 5);
        if (s) throw PassExit{s};
        bool go = value_true(g_args.top - 1);
        g_args.top = mark;
        if (!go) throw Stopped{};
    }

    // Evaluates a paren; its value is left pushed.
    void eval_paren(const Cell& paren) {
        Cell p = paren;
        if (Status s = eval_block(&p, false)) throw PassExit{s};
    }

    // A value cell of insert and change: a paren's value, a word's value, or the cell itself.
    // Pushed, so that it stays rooted while the edit runs.
    Cell* resolve_value(const Cell& c) {
        u32 t = type_of(&c);
        if (dt::is_path_type(t) && t != T_LIT_PATH) raise_error(Err::script_parse_rule, &c);
        if (t == T_PAREN) {
            eval_paren(c);
            fire(E_PAREN);
            return g_args.top - 1;
        }
        if (t == T_WORD) {
            const Cell* v = dt::word_value_or_null(&c);
            if (!v) raise_error(Err::script_no_value, &c);
            return stack_push(v);
        }
        return stack_push(&c);
    }

    // A word or get-word whose value is the input series itself (a position in it), or null.
    const Cell* input_position(const Cell& c) {
        if (type_of(&c) != T_WORD && type_of(&c) != T_GET_WORD) return nullptr;
        const Cell* v = dt::word_value_or_null(&c);
        if (!v || type_of(v) != type_of(in) || series_node(v) != series_node(in)) return nullptr;
        return v;
    }

    // The input at `from` for count units, as a copy of the input's type, into *out.
    Cell* copy_range(i32 from, i32 count) {
        // Text and binary within the input: one copy of the units, as wide as they are stored
        // (what the series copy below comes to, without its /part arithmetic).
        if (kind() != InputKind::block && from >= 0 && count >= 0 && i64(from) + count <= tail()) {
            Node copy = copy_series_part(series_node(in), u32(from), u32(count));
            Cell* r = stack_push_slot();
            set_cell(r, in->header & (CELL_TYPE_MASK | CELL_NEW_LINE), 0, copy, 0);
            return r;
        }
        Cell* src = stack_push(in);
        src->data1 = u32(from);
        Cell part = int_cell(count < 0 ? 0 : count);
        Cell* slot = stack_push_slot();
        set_cell(slot, T_NONE);
        // Text and binary copy as plain series (no other copy action applies to them).
        Cell* r = kind() == InputKind::block ? dispatch<A_COPY>(src, slot, &part, false, nullptr)
                                             : dt::series_copy(src, slot, &part, false, nullptr);
        *src = *r;
        g_args.top = src + 1;
        return src;
    }

    // A test answered n units matched (-1: no match): the input moves past them.
    void matched(i32 n) {
        match = n >= 0;
        if (match) set_idx(idx() + n);
        compute_end();
        fire(E_MATCH);
        state = S_CONTINUE;
    }

    void run();
    void next();
    bool search_rule(i32 p, i32 entries, Cell* rule);
    void search(bool thru);
    bool search_at_once(bool thru);
    bool copy_search_at_once();
    bool repeat_at_once(i32 lo, i32 hi, i32 code);
    bool plain_block(const Cell* block);
    bool plain_round(const Cell* block, i32* stop);
    void hand_over(i32 lo, i32 hi, i32 code, i32 count, i32 at_pos, i32 round_idx, i32 round_rest,
                   const Cell* block, i32 item);
    void enter_block(bool top_level);
    void leave_block();
    void push_command();
    void complete();
    void command_argument();
    void dispatch_argument();
    void match_value();
    void keyword();
    void repeat_count();
    void find_alternative();
    void finish();
    void complete_repeat(Cell* top, i32 code);
    void complete_search(Cell* top, i32 code);
    void complete_change(Cell* top, i32 code);
    void complete_collect();
    void complete_keep(Cell* top);
    void keep_value(const Cell* value, bool only);
    void keep_range(i32 from, i32 count, bool pick);
    // The `only` word after insert or change: stepped over when present.
    bool take_only() {
        if (!has_cell(pos + 1)) return false;
        Cell c = rcell(pos + 1);
        if (!is_word_of(&c, g_sym_only)) return false;
        ++pos;
        return true;
    }
    void do_insert();
    void do_change_position();
    bool do_remove_position();
    void start_into();
    void start_collect();
    void start_keep();
    Cell collect_target(i32 frame);
    void check_target(const Cell* target);
};

void Engine::run() {
    for (;;) {
        switch (state) {
            case S_ENTER: enter_block(false); break;
            case S_LEAVE: leave_block(); break;
            case S_PUSH_CMD: push_command(); break;
            case S_COMPLETE: complete(); break;
            case S_CONTINUE:
                if (top_is_cmd()) complete();
                else if (match) next();
                else find_alternative();
                break;
            case S_MATCH_VALUE: match_value(); break;
            case S_CONSUME:
                set_idx(idx() + 1);
                compute_end();
                state = S_CONTINUE;
                break;
            case S_NEXT: next(); break;
            case S_LITERAL: matched(parse::match_literal(in, idx(), eff_end(), val, strict)); break;
            case S_ARG: command_argument(); break;
            case S_ALT: find_alternative(); break;
            case S_KEYWORD: keyword(); break;
            case S_FINISH: finish(); break;
            case S_EXIT: return;
        }
    }
}

// State 7: the next rule item. The states an item goes through on its way to a match run
// here as plain calls: the loop above only sees where the item left the engine.
void Engine::next() {
    ++pos;
    if (pos >= rtail()) {
        state = top_is_cmd() ? S_COMPLETE : S_LEAVE;
        return;
    }
    if (cb) {
        fire(E_FETCH);
        // The callback may have cut the rules short.
        if (pos >= rtail()) {
            state = top_is_cmd() ? S_COMPLETE : S_LEAVE;
            return;
        }
    }
    *val = rcell(pos);
    from_word = false;
    arg_mode = false;
    match_value();
}

// Without a trace callback, `to`/`thru` a literal (or a word naming one), and `copy word` of
// such a search, run here at once with no rule-stack entry: only a callback could see the
// entries' events. Anything else, and the stacks' limit (whose error an entry must give),
// takes the general way.

// Whether the item after the `to`/`thru` at p is a literal to search for; the literal in *rule.
bool Engine::search_rule(i32 p, i32 entries, Cell* rule) {
    if (cb || p + 1 >= rtail() || rs_len() + 3 * entries > STACK_LIMIT || cells_len(is_node()) + 1 > STACK_LIMIT)
        return false;
    *rule = rcell(p + 1);
    if (type_of(rule) == T_WORD) {
        if (keyword_of(rule) != K_NONE_) return false;
        const Cell* v = dt::word_value_or_null(rule);
        if (!v) return false;
        *rule = *v;
    }
    switch (type_of(rule)) {
        case T_BLOCK: case T_WORD: case T_INTEGER: case T_PAREN: case T_TYPESET: case T_DATATYPE: return false;
        default: return true;
    }
}

// Searches the literal in *val from the input position; moves to it (`to`) or past it.
void Engine::search(bool thru) {
    i32 len = 0, i = idx(), e = eff_end();
    i32 at = parse::find_literal(in, i, e, val, strict, &len);
    if (at >= 0) {
        match = true;
        set_idx(thru ? at + len : at);
    } else {
        match = limit >= 0 && i > limit;
    }
    compute_end();
}

bool Engine::search_at_once(bool thru) {
    Cell rule;
    if (!search_rule(pos, 1, &rule)) return false;
    ++pos;
    *val = rule;
    search(thru);
    state = S_CONTINUE;
    return true;
}

// `copy word to/thru literal`, pos at copy.
bool Engine::copy_search_at_once() {
    if (pos + 2 >= rtail()) return false;
    Cell w = rcell(pos + 1), op = rcell(pos + 2);
    if (type_of(&w) != T_WORD || type_of(&op) != T_WORD) return false;
    Keyword k = keyword_of(&op);
    Cell rule;
    if ((k != K_TO && k != K_THRU) || !search_rule(pos + 2, 2, &rule)) return false;
    pos += 3;
    *val = rule;
    i32 start = idx();
    search(k == K_THRU);
    if (match) {
        Cell* v = copy_range(start, idx() - start);
        dt::set_word_value(&w, v);
        stack_pop(1);
        compute_end();
        // An enclosing keep learns that its rule was a copy: it keeps the copied value.
        if (top_is_cmd() && top_code() == C_KEEP) rs_top()[-2] = w;
    }
    state = S_CONTINUE;
    return true;
}

// ---- repetitions of a plain block, without a trace callback ------------------------------
//
// `any`, `some`, `opt` or `while` of a block whose items are literals, datatypes and
// typesets, words naming literals, `skip`, `end`, `to`/`thru` a literal, `copy word to/thru` a literal, parens and `|` runs in
// one loop over the block's live cells, with no rule-stack entries: with no callback none of
// their events can be seen, and the loop keeps the rounds, alternatives and positions the
// entries would. Cells are read afresh after anything that may run code or allocate, so a
// paren that edits the rules, the input or a word is seen at once; an item the loop does not
// take then (a word a paren set to a block, say) hands over to the general engine, with the
// entries it would have pushed by then.

enum Plain : u8 { P_NO, P_LITERAL, P_TYPE, P_WORD, P_SKIP, P_END, P_SEARCH, P_COPY, P_PAREN, P_BAR };

// Rule values matched as literals (what the general way sends to a literal match).
inline bool literal_type(u32 t) {
    switch (t) {
        case T_WORD: case T_BLOCK: case T_DATATYPE: case T_TYPESET: case T_SET_WORD: case T_GET_WORD:
        case T_INTEGER: case T_PAREN: case T_PATH: case T_SET_PATH: case T_GET_PATH: return false;
        default: return true;
    }
}


// A search argument the loop takes: a literal, or a word that is no keyword (its value is
// checked when the search runs).
inline bool plain_search_arg(const Cell* c) {
    if (type_of(c) == T_WORD) return keyword_of(c) == K_NONE_;
    return literal_type(type_of(c)) || type_of(c) == T_SET_WORD || type_of(c) == T_GET_WORD ||
           dt::is_path_type(type_of(c));
}

// The item at cells[i] (of n) and the cells it spans.
Plain plain_item(const Cell* cells, i32 n, i32 i, i32* width) {
    const Cell* c = cells + i;
    *width = 1;
    u32 t = type_of(c);
    if (t == T_PAREN) return P_PAREN;
    if (t == T_DATATYPE || t == T_TYPESET) return P_TYPE;
    if (t != T_WORD) return literal_type(t) ? P_LITERAL : P_NO;
    switch (keyword_of(c)) {
        case K_NONE_: return P_WORD;
        case K_SKIP: return P_SKIP;
        case K_END: return P_END;
        case K_BAR: return P_BAR;
        case K_TO: case K_THRU:
            if (i + 1 >= n || !plain_search_arg(c + 1)) return P_NO;
            *width = 2;
            return P_SEARCH;
        case K_COPY: {
            if (i + 3 >= n || type_of(c + 1) != T_WORD || type_of(c + 2) != T_WORD) return P_NO;
            Keyword k = keyword_of(c + 2);
            if ((k != K_TO && k != K_THRU) || !plain_search_arg(c + 3)) return P_NO;
            *width = 4;
            return P_COPY;
        }
        default: return P_NO;
    }
}

bool Engine::plain_block(const Cell* block) {
    Node n = series_node(block);
    i32 len = cells_len(n), head = series_head(block) < 0 ? 0 : series_head(block);
    const Cell* cells = blk_cells(n);
    for (i32 i = head, w = 1; i < len; i += w)
        if (plain_item(cells, len, i, &w) == P_NO) return false;
    return true;
}

// One round of the block from the input position: answers with the match flag set, or
// false with *stop at the item the general engine must take over.
bool Engine::plain_round(const Cell* block, i32* stop) {
    i32 start_idx = idx();
    i32 head = series_head(block) < 0 ? 0 : series_head(block);
    i32 p = head;
    for (;;) {
        Node bn = series_node(block);
        i32 len = cells_len(bn);
        if (p >= len) {
            match = ran_to_tail = true;
            return true;
        }
        const Cell* cells = blk_cells(bn);
        i32 w = 1;
        Plain kind_ = plain_item(cells, len, p, &w);
        switch (kind_) {
            case P_NO:
                *stop = p;
                return false;
            case P_LITERAL: {
                Cell rule = cells[p];
                i32 n = parse::match_literal(in, idx(), eff_end(), &rule, strict);
                match = n >= 0;
                if (match) set_idx(idx() + n);
                compute_end();
                break;
            }
            case P_TYPE: {
                Cell rule = cells[p];
                i32 n = parse::match_type(in, idx(), eff_end(), &rule);
                match = n >= 0;
                if (match) set_idx(idx() + n);
                compute_end();
                break;
            }
            case P_WORD: {
                Cell word = cells[p];
                const Cell* v = dt::word_value_or_null(&word);
                bool by_type = v && (type_of(v) == T_DATATYPE || type_of(v) == T_TYPESET);
                if (!v || (!by_type && !literal_type(type_of(v)))) {
                    *stop = p;
                    return false;
                }
                Cell rule = *v;
                i32 n = by_type ? parse::match_type(in, idx(), eff_end(), &rule)
                                : parse::match_literal(in, idx(), eff_end(), &rule, strict);
                match = n >= 0;
                if (match) set_idx(idx() + n);
                compute_end();
                break;
            }
            case P_SKIP:
                match = !end;
                if (match) set_idx(idx() + 1);
                compute_end();
                break;
            case P_END: match = end; break;
            case P_BAR:
                match = ran_to_tail = true;
                return true;
            case P_SEARCH: case P_COPY: {
                Cell word = cells[p + 1];
                Cell op = cells[p + w - 2];
                Cell rule = cells[p + w - 1];
                if (type_of(&rule) == T_WORD) {
                    const Cell* v = dt::word_value_or_null(&rule);
                    if (!v) {
                        *stop = p;
                        return false;
                    }
                    rule = *v;
                }
                switch (type_of(&rule)) {
                    case T_BLOCK: case T_WORD: case T_INTEGER: case T_PAREN: case T_TYPESET: case T_DATATYPE:
                        *stop = p;
                        return false;
                    default: break;
                }
                *val = rule;
                i32 from = idx();
                search(keyword_of(&op) == K_THRU);
                if (match && kind_ == P_COPY) {
                    Cell* v = copy_range(from, idx() - from);
                    dt::set_word_value(&word, v);
                    stack_pop(1);
                    compute_end();
                }
                break;
            }
            case P_PAREN: {
                Cell* mark = g_args.top;
                eval_paren(cells[p]);
                g_args.top = mark;
                // The paren may have changed the rule block or the input.
                i32 t = cells_len(series_node(block));
                if (p >= t) p = t - 1;
                compute_end();
                break;
            }
        }
        if (match) {
            p += w;
            continue;
        }
        // The next alternative, from where the round started; the search for its `|` starts
        // after the failed item's cells, as the general way's does.
        set_idx(start_idx);
        compute_end();
        Node bn2 = series_node(block);
        i32 len2 = cells_len(bn2);
        const Cell* cells2 = blk_cells(bn2);
        i32 bar = -1;
        for (i32 i = p + w; i < len2; ++i)
            if (is_word_of(cells2 + i, g_sym_bar)) {
                bar = i;
                break;
            }
        if (bar < 0) {
            ran_to_tail = false;
            return true;  // match is false
        }
        p = bar + 1;
        match = true;
    }
}

// The general engine's state inside round `count` of the repetition at at_pos, about to take
// the item at `item` of the block (item < 0: about to start the round).
void Engine::hand_over(i32 lo, i32 hi, i32 code, i32 count, i32 at_pos, i32 round_idx, i32 round_rest,
                       const Cell* block, i32 item) {
    push_entry(triple(lo, hi, count), triple(at_pos, round_idx, round_rest), pair(code, 0));
    match = true;
    if (item < 0) {
        pos = at_pos;
        state = S_NEXT;
        return;
    }
    push_entry(dt::g_none_cell, triple(at_pos + 1, round_idx, round_rest), *rules);
    *rules = *block;
    pos = item - 1;
    state = S_NEXT;
}

bool Engine::repeat_at_once(i32 lo, i32 hi, i32 code) {
    // Room for the entries the general way would push: the repetition, the block, a copy and
    // its search.
    if (cb || rs_len() + 12 > STACK_LIMIT || cells_len(is_node()) + 1 > STACK_LIMIT) return false;
    i32 at_pos = pos;
    auto argument = [&](Cell* out) {
        Cell a = rcell(at_pos + 1);
        if (type_of(&a) == T_WORD && keyword_of(&a) == K_NONE_) {
            const Cell* v = dt::word_value_or_null(&a);
            if (!v) return false;
            a = *v;
        }
        if (type_of(&a) != T_BLOCK) return false;
        *out = a;
        return true;
    };
    // A block with items the loop does not take is the general engine's from the start (each
    // round's items are still checked as they run: a paren may change them).
    Cell first;
    if (!argument(&first) || !plain_block(&first)) return false;
    Cell* block = stack_push(&first);
    compute_end();
    for (i32 count = 1;; ++count) {
        i32 round_idx = idx(), round_rest = rest();
        if (count > 1 && !argument(block)) {
            stack_pop(1);
            hand_over(lo, hi, code, count, at_pos, round_idx, round_rest, block, -1);
            return true;
        }
        i32 stop = -1;
        if (!plain_round(block, &stop)) {
            // The block stays rooted on the stack until the rules hold it.
            hand_over(lo, hi, code, count, at_pos, round_idx, round_rest, block, stop);
            stack_pop(1);
            return true;
        }
        bool go = match && (hi == -1 || count < hi);
        // No progress ends any and some (not while), as in the general way.
        if (go && code == C_REPEAT && idx() == round_idx && rest() >= round_rest) go = false;
        if (go) continue;
        if (match) match = count >= lo;
        else match = lo == 0 || count - 1 >= lo;
        break;
    }
    stack_pop(1);
    pos = at_pos + 1;
    compute_end();
    state = S_CONTINUE;
    return true;
}

// State 0: a sub-rule block begins (the top-level block when the rule stack is ours alone).
void Engine::enter_block(bool top_level) {
    push_entry(dt::g_none_cell, triple(pos, idx(), rest()), *rules);
    if (!top_level) *rules = *val;
    i32 head = series_head(rules);
    pos = (head < 0 ? 0 : head) - 1;
    match = true;
    compute_end();
    fire(E_PUSH);
    state = S_NEXT;
}

// State 1: a block's rules ended (at their tail, at a `|` after a success, or failed).
void Engine::leave_block() {
    ran_to_tail = pos >= rtail();
    if (rs_len() - rs_base <= 3) {
        state = S_FINISH;
        return;
    }
    fire(E_POP);
    Cell* top = rs_top();
    pos = i32(top[-1].data1);
    *rules = top[0];
    drop_entry();
    state = top_is_cmd() ? S_COMPLETE : (match ? S_NEXT : S_ALT);
}

// State 2: a command waits for the rule that follows.
void Engine::push_command() {
    Cell first = (cmd == C_COPY || cmd == C_SET) ? rcell(pos) : triple(min, max, 1);
    push_entry(first, triple(pos, idx(), rest()), pair(cmd, cmd_arg));
    if (pos < rtail()) ++pos;
    fire(E_PUSH);
    command_argument();
}

// State 9: the rule a command controls.
void Engine::command_argument() {
    if (pos >= rtail()) {
        switch (cmd) {
            case C_TO: case C_THRU: case C_NOT: case C_REMOVE: case C_WHILE: case C_COLLECT: case C_KEEP:
            case C_AHEAD: raise_end(cmd_sym);
            default: match = true; state = S_CONTINUE; return;
        }
    }
    *val = rcell(pos);
    from_word = false;
    dispatch_argument();
}

void Engine::dispatch_argument() {
    switch (type_of(val)) {
        case T_BLOCK:
            compute_end();
            enter_block(false);
            return;
        case T_WORD:
            arg_mode = true;
            compute_end();
            keyword();
            return;
        case T_INTEGER: case T_PAREN: case T_TYPESET: case T_DATATYPE: state = S_MATCH_VALUE; break;
        default:
            if (cmd == C_REPEAT || cmd == C_WHILE) {
                // A repetition of one literal runs here at once.
                i32 e = eff_end(), i = idx(), left = e - i;
                if (left <= 0 || left < min) {
                    match = min == 0;
                } else {
                    i32 after = i;
                    i32 n = parse::repeat_literal(in, i, e, val, strict, max, &after);
                    match = n >= min && (max == -1 || n <= max);
                    if (match) set_idx(after);
                }
                compute_end();
                fire(E_MATCH);
                fire(E_POP);
                drop_entry();
                state = S_CONTINUE;
            } else if (cmd == C_TO || cmd == C_THRU) {
                i32 len = 0, i = idx(), e = eff_end();
                i32 at = parse::find_literal(in, i, e, val, strict, &len);
                if (at >= 0) {
                    match = true;
                    set_idx(cmd == C_TO ? at : at + len);
                } else {
                    match = limit >= 0 && i > limit;
                }
                compute_end();
                fire(E_MATCH);
                fire(E_POP);
                drop_entry();
                state = S_CONTINUE;
            } else {
                state = S_MATCH_VALUE;
            }
    }
    compute_end();
}

// State 5: the current value decides what is matched.
void Engine::match_value() {
    switch (type_of(val)) {
        case T_WORD:
            if (from_word) raise_error(Err::script_parse_rule, val);
            keyword();
            return;
        case T_BLOCK: enter_block(false); return;
        case T_DATATYPE: case T_TYPESET: matched(parse::match_type(in, idx(), eff_end(), val)); return;
        case T_SET_WORD: {
            Cell w = *val;
            Cell* v = stack_push(in);
            dt::set_word_value(&w, v);
            stack_pop(1);
            state = S_NEXT;
            return;
        }
        case T_GET_WORD: {
            Cell w = *val;
            const Cell* v = dt::word_value_or_null(&w);
            if (!v || type_of(v) != type_of(in) || series_node(v) != series_node(in))
                raise_error(Err::script_parse_invalid_ref, &w);
            set_idx(series_head(v));
            match = true;
            compute_end();
            state = S_CONTINUE;
            return;
        }
        case T_INTEGER: repeat_count(); return;
        case T_PAREN: {
            Cell* mark = g_args.top;
            eval_paren(*val);
            g_args.top = mark;
            fire(E_PAREN);
            // The paren may have changed the rule block or the input.
            i32 t = rtail();
            if (pos >= t) pos = t - 1;
            compute_end();
            state = S_CONTINUE;
            return;
        }
        case T_PATH: case T_SET_PATH: case T_GET_PATH: raise_error(Err::script_parse_rule, val);
        default: matched(parse::match_literal(in, idx(), eff_end(), val, strict)); return;
    }
}

// An integer starts a repetition: `n rule` or `n m rule`.
void Engine::repeat_count() {
    Cell n_cell = *val;
    i32 n = get_int(&n_cell);
    if (n < 0) raise_error(Err::script_out_of_range, &n_cell);
    i32 m = n;
    if (has_cell(pos + 1)) {
        Cell next = rcell(pos + 1);
        const Cell* mv = &next;
        if (type_of(&next) == T_WORD) {
            const Cell* v = dt::word_value_or_null(&next);
            if (v && type_of(v) == T_INTEGER) mv = v;
        }
        if (type_of(mv) == T_INTEGER) {
            Cell m_cell = *mv;
            if (!has_cell(pos + 2)) raise_error(Err::script_parse_rule, &n_cell);
            m = get_int(&m_cell);
            if (m < 0) raise_error(Err::script_out_of_range, &m_cell);
            if (m < n) raise_error(Err::script_parse_rule, &m_cell);
            ++pos;
        }
    }
    if (m == 0) {
        // `0 rule` and `0 0 rule` skip the rule without trying it.
        ++pos;
        match = true;
        state = S_CONTINUE;
        return;
    }
    min = n;
    max = m;
    cmd = C_REPEAT;
    cmd_sym = 0;
    state = S_PUSH_CMD;
}

// State 10: the rule failed; the next alternative of the block, if any, is tried from the
// position the block started at.
void Engine::find_alternative() {
    set_idx(i32(rs_top()[-1].data2));
    compute_end();
    i32 t = rtail();
    for (i32 i = pos + 1; i < t; ++i) {
        Cell c = rcell(i);
        if (is_word_of(&c, g_sym_bar)) {
            pos = i;
            match = true;
            state = S_NEXT;
            return;
        }
    }
    match = false;
    state = S_LEAVE;
}

// State 12: the top-level rules ended.
void Engine::finish() {
    if (pos < rtail()) match = false;
    i32 remaining = eff_end() - idx();
    if (remaining >= 1 && blk_len(is_node()) - is_base == 1) match = false;
    fire(E_END);
    state = S_EXIT;
}

// State 3: the rule a command controls ended.
void Engine::complete() {
    if (!top_is_cmd()) {
        if (pop_flag) {
            pop_flag = false;
            state = S_LEAVE;
        } else {
            state = S_NEXT;
        }
        return;
    }
    Cell* top = rs_top();
    i32 code = top_code();
    i32 start = i32(top[-1].data2);
    switch (code) {
        case C_REPEAT: case C_WHILE: complete_repeat(top, code); if (state == S_NEXT) return; break;
        case C_TO: case C_THRU: complete_search(top, code); if (state == S_NEXT) return; break;
        case C_COPY:
            if (match) {
                Cell w = top[-2];
                Cell* v = copy_range(start, idx() - start);
                dt::set_word_value(&w, v);
                stack_pop(1);
            }
            break;
        case C_SET:
            if (match) {
                Cell w = top[-2];
                Cell* v = stack_push_slot();
                set_cell(v, T_NONE);
                if (idx() > start && start < tail()) parse::element_at(in, start, v);
                dt::set_word_value(&w, v);
                stack_pop(1);
            }
            break;
        case C_NOT: match = !match; break;
        case C_AHEAD: set_idx(start); break;
        case C_CASE: strict = top[-2].data2 != 0; break;
        case C_INTO: {
            i32 inner_end = eff_end();
            bool ok = match && ran_to_tail && idx() >= (inner_end < tail() ? inner_end : tail());
            Node isn = is_node();
            blk_truncate(isn, blk_len(isn) - 1);
            *in = blk_cells(isn)[blk_len(isn) - 1];
            match = ok;
            if (ok) set_idx(idx() + 1);
            break;
        }
        case C_REMOVE:
            if (match) {
                i32 count = idx() - start;
                if (count > 0) {
                    Cell* s = stack_push(in);
                    s->data1 = u32(start);
                    Cell part = int_cell(count);
                    dispatch<A_REMOVE>(s, &part, nullptr);
                    stack_pop(1);
                }
                set_idx(start);
            }
            break;
        case C_CHANGE: case C_CHANGE_ONLY: complete_change(top, code); break;
        case C_COLLECT: complete_collect(); break;
        case C_KEEP: complete_keep(top); break;
        default: runtime_quit(101, 0);
    }
    compute_end();
    fire(E_POP);
    Cell copied_word = rs_top()[-2];
    drop_entry();
    // An enclosing keep learns that its rule was a copy: it keeps the copied value.
    if (code == C_COPY && top_is_cmd() && top_code() == C_KEEP) rs_top()[-2] = copied_word;
    state = S_CONTINUE;
}

void Engine::complete_repeat(Cell* top, i32 code) {
    i32 count = i32(top[-2].data3), lo = i32(top[-2].data1), hi = i32(top[-2].data2);
    bool go = match && (hi == -1 || count < hi);
    // No progress: the same position with no less input ends any and some (not while, which
    // rules that edit the input rely on).
    if (go && code == C_REPEAT && idx() == i32(top[-1].data2) && rest() >= i32(top[-1].data3)) go = false;
    if (brk) {
        go = false;
        brk = false;
    }
    if (go) {
        top[-1] = triple(i32(top[-1].data1), idx(), rest());
        top[-2].data3 = u32(count + 1);
        pos = i32(top[-1].data1);
        fire(E_ITERATE);
        state = S_NEXT;
        return;
    }
    if (match) match = count >= lo;
    else match = lo == 0 || count - 1 >= lo;
}

void Engine::complete_search(Cell* top, i32 code) {
    i32 start = i32(top[-1].data2);
    if (match) {
        if (code == C_TO) set_idx(start);
        return;
    }
    if (start >= eff_end()) return;  // nowhere left to try
    set_idx(start + 1);
    compute_end();
    top[-1] = triple(i32(top[-1].data1), start + 1, rest());
    fire(E_POP);
    fire(E_ITERATE);
    pos = i32(rs_top()[-1].data1);
    match = true;
    state = S_NEXT;
}

void Engine::complete_change(Cell* top, i32 code) {
    i32 start = i32(top[-1].data2);
    (void)top;
    if (!has_cell(pos + 1)) raise_end(make_symbol("change"));
    ++pos;
    if (!match) return;
    Cell vcell = rcell(pos);
    Cell* mark = g_args.top;
    Cell* value = resolve_value(vcell);
    Cell* s = stack_push(in);
    s->data1 = u32(start);
    i32 count = idx() - start;
    Cell* r = dispatch<A_CHANGE>(s, value, count < 0 ? 0 : count, code == C_CHANGE_ONLY, 1);
    i32 after = series_head(r);
    g_args.top = mark;
    set_idx(after);
}

// ---- collect and keep ----------------------------------------------------------------------
//
// Each open collect has two cells above the engine's slots: a marker (none for a plain
// collect, the word for `collect set`, a get-word for `into`, a refinement for `after`)
// and a block (plain and set) or the target's start index (into and after).

Cell Engine::collect_target(i32 frame) {
    Cell w = collects[frame * 2];
    w.header = (w.header & ~CELL_TYPE_MASK) | T_WORD;
    const Cell* v = dt::word_value_or_null(&w);
    if (!v) raise_error(Err::script_no_value, &w);
    return *v;
}

void Engine::check_target(const Cell* target) {
    u32 t = type_of(target);
    bool accepted = dt::is_cell_series_type(t) || dt::is_text_type(t) || t == T_BINARY;
    if (!accepted || (t != type_of(in) && kind() == InputKind::block && !dt::is_cell_series_type(t)))
        raise_error(Err::script_parse_into_type);
}

void Engine::start_collect() {
    ++collect_depth;
    i32 frame = collect_depth - 1;
    // The frame's two cells sit right above the enclosing frames.
    Cell* f = collects + frame * 2;
    g_args.top = f;
    set_cell(stack_push_slot(), T_NONE);
    set_cell(stack_push_slot(), T_NONE);
    min = -1;
    max = -1;
    Cell next = has_cell(pos + 1) ? rcell(pos + 1) : dt::g_none_cell;
    bool into = is_word_of(&next, g_sym_into), after = is_word_of(&next, g_sym_after);
    if (into || after || is_word_of(&next, g_sym_set)) {
        Cell w = has_cell(pos + 2) ? rcell(pos + 2) : dt::g_none_cell;
        if (type_of(&w) != T_WORD) raise_end(make_symbol("collect"));
        pos += 2;
        if (into || after) {
            const Cell* v = dt::word_value_or_null(&w);
            if (!v) raise_error(Err::script_parse_into_type);
            check_target(v);
            if (series_node(v) == series_node(in)) raise_error(Err::script_parse_into_bad);
            f[1] = int_cell(series_head(v));
            max = series_head(v);
            w.header = (w.header & ~CELL_TYPE_MASK) | (into ? T_GET_WORD : T_REFINEMENT);
            f[0] = w;
        } else {
            f[0] = w;
            dt::make_block_at(collects + frame * 2 + 1, 8);
        }
    } else {
        dt::make_block_at(collects + frame * 2 + 1, 8);
    }
    cmd = C_COLLECT;
    cmd_arg = 0;
    cmd_sym = word_sym(val);
    state = S_PUSH_CMD;
}

void Engine::complete_collect() {
    i32 frame = --collect_depth;
    Cell* f = collects + frame * 2;
    Cell marker = f[0], second = f[1];
    u32 mt = type_of(&marker);
    if (mt == T_GET_WORD || mt == T_REFINEMENT) {
        // The target's position goes back to where the collect found it.
        Cell w = marker;
        w.header = (w.header & ~CELL_TYPE_MASK) | T_WORD;
        const Cell* v = dt::word_value_or_null(&w);
        if (v && dt::is_series_type(type_of(v))) {
            Cell t = *v;
            t.data1 = second.data2;
            Cell* tv = stack_push(&t);
            dt::set_word_value(&w, tv);
            stack_pop(1);
        }
    } else if (mt == T_WORD) {
        Cell w = marker;
        dt::set_word_value(&w, f + 1);
    } else if (frame == 0) {
        // The outermost plain collect: its block is the parse's answer.
        *scratch = second;
        collected = true;
    } else if (match) {
        // A plain collect inside another: its block is kept there as one value (the
        // enclosing frame is now the innermost). A failed one keeps nothing: what a failed
        // alternative collected must not show in the result.
        g_args.top = f + 2;
        keep_value(f + 1, true);
    }
    g_args.top = f;
    collect_depth = frame;
}

// Keeps one value into the innermost open collect.
void Engine::keep_value(const Cell* value, bool only) {
    i32 frame = collect_depth - 1;
    Cell* f = collects + frame * 2;
    u32 mt = type_of(f);
    if (mt == T_GET_WORD || mt == T_REFINEMENT) {
        Cell target = collect_target(frame);
        check_target(&target);
        Cell* t = stack_push(&target);
        Cell* v = stack_push(value);
        if (mt == T_REFINEMENT) t->data1 = u32(blk_len(series_node(t)));
        Cell* r = dispatch<A_INSERT>(t, v, -1, only, 1, false);
        if (mt == T_GET_WORD) {
            Cell w = f[0];
            w.header = (w.header & ~CELL_TYPE_MASK) | T_WORD;
            Cell moved = *r;
            *v = moved;
            dt::set_word_value(&w, v);
        }
        stack_pop(2);
        return;
    }
    Cell* block = f + 1;
    if (!only && dt::is_cell_series_type(type_of(value))) {
        dt::ks_append_range(block, value);
        return;
    }
    dt::ks_append(block, value);
}

// Keeps the matched range [from, from + count): several units as one copy (or straight
// into a text or binary target of the same kind), one unit as its element.
void Engine::keep_range(i32 from, i32 count, bool pick) {
    if (count <= 0) return;
    if (count == 1 || pick) {
        for (i32 k = 0; k < count; ++k) {
            Cell* e = stack_push_slot();
            set_cell(e, T_NONE);
            if (from + k < tail()) parse::element_at(in, from + k, e);
            keep_value(e, true);
            stack_pop(1);
        }
        return;
    }
    Cell* copied = copy_range(from, count);
    i32 frame = collect_depth - 1;
    u32 mt = type_of(collects + frame * 2);
    bool raw = false;
    if (mt == T_GET_WORD || mt == T_REFINEMENT) {
        Cell target = collect_target(frame);
        u32 tt = type_of(&target);
        raw = kind() != InputKind::block &&
              ((kind() == InputKind::text && dt::is_text_type(tt)) || (kind() == InputKind::binary && tt == T_BINARY));
    }
    // A range of text into text (binary into binary) goes in as its units, not as one value.
    keep_value(copied, !raw);
    stack_pop(1);
}

void Engine::complete_keep(Cell* top) {
    if (!match) return;
    i32 start = i32(top[-1].data2);
    bool pick = top[0].data3 != 0;
    Cell first = top[-2];
    if (type_of(&first) == T_WORD) {
        // keep copy word rule: the copied value.
        const Cell* v = dt::word_value_or_null(&first);
        if (v) {
            Cell* held = stack_push(v);
            keep_value(held, !pick);
            stack_pop(1);
        }
        return;
    }
    keep_range(start, idx() - start, pick);
}

void Engine::start_keep() {
    if (collect_depth == 0) {
        Cell w = word_of_symbol(make_symbol("keep"));
        raise_error(Err::script_parse_keep, &w);
    }
    cmd_arg = 0;
    Cell next = has_cell(pos + 1) ? rcell(pos + 1) : dt::g_none_cell;
    if (is_word_of(&next, g_sym_pick)) {
        cmd_arg = 1;
        ++pos;
        next = has_cell(pos + 1) ? rcell(pos + 1) : dt::g_none_cell;
    }
    if (type_of(&next) == T_PAREN) {
        // keep (paren): the paren's value, at once.
        ++pos;
        Cell* mark = g_args.top;
        eval_paren(next);
        fire(E_PAREN);
        keep_value(g_args.top - 1, cmd_arg == 0);
        g_args.top = mark;
        match = true;
        fire(E_MATCH);
        state = S_CONTINUE;
        return;
    }
    min = max = -1;
    cmd = C_KEEP;
    cmd_sym = word_sym(val);
    state = S_PUSH_CMD;
}

// ---- edits at once ---------------------------------------------------------------------------

void Engine::do_insert() {
    bool only = take_only();
    if (!has_cell(pos + 1)) raise_end(make_symbol("insert"));
    ++pos;
    Cell c = rcell(pos);
    i32 at = idx();
    if (const Cell* p = input_position(c)) {
        at = series_head(p);
        if (!has_cell(pos + 1)) {
            Cell w = word_of_symbol(make_symbol("insert"));
            raise_error(Err::script_parse_rule, &w);
        }
        ++pos;
        c = rcell(pos);
    }
    Cell* mark = g_args.top;
    Cell* value = resolve_value(c);
    Cell* s = stack_push(in);
    i32 total = tail();
    if (at > total) at = total;
    if (at < 0) at = 0;
    s->data1 = u32(at);
    Cell* r = dispatch<A_INSERT>(s, value, -1, only, 1, false);
    i32 added = series_head(r) - at;
    g_args.top = mark;
    // The position stays on the same element.
    if (idx() >= at) set_idx(idx() + added);
    compute_end();
    state = S_NEXT;
}

// `remove word` with the word at a position in the input: that range goes at once.
bool Engine::do_remove_position() {
    Cell c = rcell(pos + 1);
    const Cell* p = input_position(c);
    if (!p) return false;
    i32 from = series_head(p), to = idx();
    if (from > to) std::swap(from, to);
    ++pos;
    if (to > from) {
        Cell* s = stack_push(in);
        s->data1 = u32(from);
        Cell part = int_cell(to - from);
        dispatch<A_REMOVE>(s, &part, nullptr);
        stack_pop(1);
    }
    set_idx(from);
    compute_end();
    match = true;
    state = S_CONTINUE;
    return true;
}

void Engine::do_change_position() {
    Cell* mark = g_args.top;
    bool only = cmd == C_CHANGE_ONLY;
    Cell c = rcell(pos);
    const Cell* p = input_position(c);
    i32 from = series_head(p), to = idx();
    if (from > to) std::swap(from, to);
    Cell w = word_of_symbol(make_symbol("change"));
    if (!has_cell(pos + 1)) raise_error(Err::script_parse_rule, &w);
    ++pos;
    Cell* value = resolve_value(rcell(pos));
    Cell* s = stack_push(in);
    s->data1 = u32(from);
    dispatch<A_CHANGE>(s, value, to - from, only, 1);
    g_args.top = mark;
    set_idx(from);
    compute_end();
    match = true;
    state = S_CONTINUE;
}

void Engine::start_into() {
    if (kind() != InputKind::block || !dt::is_cell_series_type(type_of(in))) raise_error(Err::script_parse_block, in);
    if (!has_cell(pos + 1)) raise_end(make_symbol("into"));
    Cell rule = rcell(pos + 1);
    if (type_of(&rule) == T_WORD) {
        const Cell* v = dt::word_value_or_null(&rule);
        if (!v || type_of(v) != T_BLOCK) raise_end(make_symbol("into"));
    }
    if (end) {
        ++pos;
        match = false;
        state = S_CONTINUE;
        return;
    }
    Cell e = blk_cells(series_node(in))[idx()];
    u32 t = type_of(&e);
    if (!(dt::is_cell_series_type(t) || dt::is_text_type(t) || t == T_BINARY)) {
        ++pos;
        match = false;
        fire(E_MATCH);
        state = S_CONTINUE;
        return;
    }
    check_stacks();
    Node isn = is_node();
    blk_cells(isn)[blk_len(isn) - 1] = *in;
    *block_alloc_tail(isn) = e;
    *in = e;
    compute_end();
    min = max = -1;
    cmd = C_INTO;
    cmd_arg = 0;
    cmd_sym = word_sym(val);
    state = S_PUSH_CMD;
}

// State 11: a word in the rules, a keyword or a word naming a rule.
void Engine::keyword() {
    bool after_cmd = arg_mode;
    arg_mode = false;
    u32 sym = word_sym(val);
    Keyword k = keyword_of(val);
    auto command = [&](i32 code) {
        cmd = code;
        cmd_arg = 0;
        cmd_sym = sym;
        state = S_PUSH_CMD;
    };
    auto repetition = [&](i32 lo, i32 hi, i32 code) {
        if (!has_cell(pos + 1)) raise_end(sym);
        if (repeat_at_once(lo, hi, code)) return;
        min = lo;
        max = hi;
        command(code);
    };
    switch (k) {
        case K_BAR:
            pos = rtail();
            state = top_is_cmd() ? S_COMPLETE : S_LEAVE;
            return;
        case K_SKIP:
            match = !end;
            fire(E_MATCH);
            state = match ? S_CONSUME : S_CONTINUE;
            return;
        case K_ANY: repetition(0, -1, C_REPEAT); return;
        case K_SOME: repetition(1, -1, C_REPEAT); return;
        case K_OPT: repetition(0, 1, C_REPEAT); return;
        case K_WHILE: repetition(0, -1, C_WHILE); return;
        case K_TO: case K_THRU: {
            if (search_at_once(k == K_THRU)) return;
            Cell next = has_cell(pos + 1) ? rcell(pos + 1) : dt::g_none_cell;
            if (is_word_of(&next, g_sym_end)) {
                match = true;
                set_idx(eff_end());
                compute_end();
                fire(E_MATCH);
                ++pos;
                state = S_CONTINUE;
                return;
            }
            min = max = -1;
            command(k == K_TO ? C_TO : C_THRU);
            return;
        }
        case K_BREAK: case K_REJECT:
            match = k == K_BREAK;
            brk = pop_flag = true;
            fire(E_MATCH);
            state = S_COMPLETE;
            return;
        case K_FAIL:
            // Fails the alternative it stands in: the items up to the next `|` are not tried.
            match = false;
            fire(E_MATCH);
            state = S_CONTINUE;
            return;
        case K_END:
            match = end;
            fire(E_MATCH);
            state = S_CONTINUE;
            return;
        case K_IF: {
            Cell next = has_cell(pos + 1) ? rcell(pos + 1) : dt::g_none_cell;
            if (type_of(&next) != T_PAREN) raise_end(sym);
            ++pos;
            Cell* mark = g_args.top;
            eval_paren(next);
            match = value_true(g_args.top - 1);
            g_args.top = mark;
            fire(E_PAREN);
            compute_end();
            fire(E_MATCH);
            state = S_CONTINUE;
            return;
        }
        case K_QUOTE:
            if (!has_cell(pos + 1)) raise_end(sym);
            *val = rcell(++pos);
            state = S_LITERAL;
            return;
        case K_NONE:
            match = true;
            fire(E_MATCH);
            state = S_CONTINUE;
            return;
        case K_NOT: min = max = -1; command(C_NOT); return;
        case K_AHEAD: min = max = -1; command(C_AHEAD); return;
        case K_COPY: case K_SET: {
            Cell w = has_cell(pos + 1) ? rcell(pos + 1) : dt::g_none_cell;
            if (type_of(&w) != T_WORD || !has_cell(pos + 2)) raise_end(sym);
            if (k == K_COPY && copy_search_at_once()) return;
            ++pos;
            min = max = -1;
            command(k == K_COPY ? C_COPY : C_SET);
            return;
        }
        case K_REMOVE: {
            if (has_cell(pos + 1)) {
                Cell next = rcell(pos + 1);
                if (dt::is_path_type(type_of(&next))) raise_error(Err::script_parse_rule, &next);
                if (do_remove_position()) return;
            }
            min = max = -1;
            command(C_REMOVE);
            return;
        }
        case K_INSERT: do_insert(); return;
        case K_CHANGE: {
            bool only = take_only();
            if (!has_cell(pos + 1)) raise_error(Err::script_parse_rule, val);
            Cell c = rcell(pos + 1);
            if (dt::is_path_type(type_of(&c))) raise_error(Err::script_parse_rule, &c);
            cmd = only ? C_CHANGE_ONLY : C_CHANGE;
            if (input_position(c)) {
                ++pos;
                do_change_position();
                return;
            }
            min = max = -1;
            command(cmd);
            return;
        }
        case K_INTO: start_into(); return;
        case K_COLLECT: start_collect(); return;
        case K_KEEP: start_keep(); return;
        case K_CASE: {
            Cell w = has_cell(pos + 1) ? rcell(pos + 1) : dt::g_none_cell;
            if (type_of(&w) != T_WORD) raise_end(sym);
            const Cell* v = dt::word_value_or_null(&w);
            bool next_strict = v && value_true(v);
            ++pos;
            min = -1;
            max = strict ? 1 : 0;
            strict = next_strict;
            command(C_CASE);
            return;
        }
        case K_NONE_: break;
    }
    // A word naming a rule.
    Cell w = *val;
    const Cell* v = dt::word_value_or_null(&w);
    if (!v) raise_error(Err::script_parse_rule, &w);
    *val = *v;
    from_word = true;
    // The rule a command controls, met again when a repetition iterates, is still its
    // argument: a word naming a word matches that word every time, not only the first.
    bool controlled = top_is_cmd() && pos == i32(rs_top()[-1].data1) + 1;
    if (controlled && type_of(val) == T_WORD) {
        i32 code = top_code();
        if (code != C_COLLECT && code != C_KEEP) {
            state = S_LITERAL;
            return;
        }
    }
    if (after_cmd && cmd != C_COLLECT && cmd != C_KEEP) {
        if (type_of(val) == T_WORD) {
            state = S_LITERAL;
            return;
        }
        dispatch_argument();
        return;
    }
    state = S_MATCH_VALUE;
}

// ---- the entry ---------------------------------------------------------------------------------

// parse-process: runs the rules over the input; the answer goes to *result.
Status parse_process(const Cell* input, const Cell* rules, bool strict, i32 limit, const Cell* callback,
                     Cell* result) {
    Cell* mark = g_args.top;
    Node rsn = rs_node(), isn = is_node();
    i32 rs_base = blk_len(rsn), is_base = blk_len(isn);
    auto reset = [&] {
        blk_truncate(rs_node(), rs_base);
        blk_truncate(is_node(), is_base);
    };
    Engine e;
    e.in = stack_push(input);
    e.rules = stack_push(rules);
    e.val = stack_push(rules);
    e.scratch = stack_push_slot();
    set_cell(e.scratch, T_NONE);
    e.cb = callback ? stack_push(callback) : nullptr;
    e.collects = g_args.top;
    e.strict = strict;
    e.limit = limit;
    e.rs_base = rs_base;
    e.is_base = is_base;
    e.pos = -1;
    try {
        *block_alloc_tail(isn) = *input;
        e.compute_end();
        e.enter_block(true);
        e.run();
    } catch (Stopped&) {
        reset();
        *result = logic_cell(e.match);
        g_args.top = mark;
        return 0;
    } catch (PassExit& x) {
        reset();
        return x.code;
    } catch (...) {
        reset();
        throw;
    }
    reset();
    if (e.collected) *result = *e.scratch;
    else *result = logic_cell(e.match);
    g_args.top = mark;
    return 0;
}

Status parse_native(bool, const i32* refs) {
    parse_init();
    Cell* input = stack_arg(0);
    Cell* rules = stack_arg(1);
    bool strict = refs[0] >= 0;
    Cell* part = refinement_arg(refs, 1);
    Cell* callback = refinement_arg(refs, 2);
    // Vectors and images hold no value cells to match against.
    if (type_of(input) == T_VECTOR || type_of(input) == T_IMAGE) raise_expect_arg(0, input);
    i32 total = blk_len(series_node(input));
    if (series_head(input) > total) input->data1 = u32(total);
    if (series_head(input) < 0) input->data1 = 0;
    i32 head = series_head(input);
    i32 limit = -1;
    if (part) {
        if (type_of(part) == T_INTEGER) {
            i64 l = i64(head) + get_int(part);
            limit = l < 0 ? 0 : l > total ? total : i32(l);
            if (get_int(part) <= 0) limit = head;
        } else {
            if (type_of(part) != type_of(input) || series_node(part) != series_node(input)) {
                dt::raise_invalid_refine(REF_PART, part);
            }
            limit = series_head(part) < 0 ? 0 : series_head(part);
        }
        if (limit <= head) {
            // Nothing to match within the limit.
            *stack_result() = logic_cell(head >= total);
            return 0;
        }
    }
    Cell result;
    Status s;
    try {
        s = parse_process(input, rules, strict, limit, callback, &result);
    } catch (SystemThrow& t) {
        // The engine's catch site takes every exit but errors.
        if (!threshold_receives(THRESHOLD_LOOP, t.code)) throw;
        return t.code;
    }
    if (s) return s;
    *stack_result() = result;
    stack_keep();
    return 0;
}

}  // namespace

KEL_NATIVE(SLOT_PARSE, parse_native);

}  // namespace kel::ev
