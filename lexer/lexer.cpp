// The lexer's scanning loop, value buffer, containers, errors and trace events.
#include "lexer/lexer.h"

#include <cstdlib>
#include <cstring>
#include <string>

#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/eval_hooks.h"
#include "datatypes/function.h"
#include "datatypes/integer.h"
#include "datatypes/registry.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "datatypes/word.h"
#include "lexer/lexer_internal.h"
#include "lexer/literal_hooks.h"
#include "runtime/errors.h"
#include "runtime/exits.h"
#include "runtime/gc.h"
#include "runtime/stack.h"
#include "runtime/symbols.h"
#include "runtime/unicode.h"

namespace kel::lex {

using namespace rt;

Cell* g_values = nullptr;

namespace {

constexpr u32 INITIAL_VALUES = 1000;
// Past this many cells the buffer would outgrow the 32-bit sizes of everything after it.
constexpr u32 MAX_VALUES = 1u << 26;

u32 g_values_capacity = 0;
LexerState* g_chain = nullptr;  // the outermost active run

// mark-lexer-states: every active run's cells, source and callback.
void mark_lexer_states() {
    for (LexerState* st = g_chain; st; st = st->next) {
        for (u32 i = st->base; i < st->tail; ++i)
            if (type_of(&g_values[i]) != T_MARKER) mark_value(&g_values[i]);
        mark_value(&st->source);
        mark_value(&st->callback);
    }
}

void lexer_init() {
    if (g_values) return;
    g_values = static_cast<Cell*>(std::malloc(INITIAL_VALUES * sizeof(Cell)));
    if (!g_values) raise_error(Err::internal_no_memory);
    g_values_capacity = INITIAL_VALUES;
    register_mark_hook(mark_lexer_states);
}

// Unlinks a run from the chain however the run ends.
struct ChainLink {
    LexerState* st;
    explicit ChainLink(LexerState* s) : st(s) {
        LexerState* last = g_chain;
        while (last && last->next) last = last->next;
        st->parent = last;
        if (last) last->next = st;
        else g_chain = st;
    }
    ~ChainLink() {
        if (st->parent) st->parent->next = nullptr;
        else g_chain = nullptr;
    }
};

// ---- positions for the callback -----------------------------------------------------------

// The source index of an input byte: bytes for a binary!, characters for a string!.
i32 source_index(LexerState* st, const u8* p) {
    if (p < st->input) p = st->input;
    if (p > st->end) p = st->end;
    if (!st->source_is_string) return st->source_head + i32(p - st->input);
    if (!st->count_pos || p < st->count_pos) {
        st->count_pos = st->input;
        st->count_value = 0;
    }
    st->count_value += utf8_count_chars(st->count_pos, p);
    st->count_pos = p;
    return st->source_head + i32(st->count_value);
}

const u8* input_at_index(LexerState* st, i32 index) {
    i32 rel = index - st->source_head;
    if (rel <= 0) return st->input;
    if (!st->source_is_string) return rel >= st->end - st->input ? st->end : st->input + rel;
    return utf8_skip_chars(st->input, st->end, u32(rel));
}

const char* const kEventNames[6] = {"prescan", "scan", "load", "open", "close", "error"};

// The names of the token kinds that have no datatype of their own, in kind order: words
// stay words, names ending in "!" stand for datatypes.
const char* const kExitStates[KIND_COUNT] = {
    "eof",     "error!",  "block!",   "block!",   "paren!",    "paren!",   "string!", "string!", "map!",
    "path!",   "datatype!", "comment", "comma",  "string!",   "word!",    "issue!",  "integer!", "refinement!",
    "char!",   "file!",   "binary!",  "percent!", "float!",    "float!",   "tuple!",  "date!",   "pair!",
    "point",   "time!",   "money!",   "tag!",     "url!",      "email!",   "hex",     "rawstring", "ref!",
};

void exit_state_value(u32 kind, Cell* out) {
    const char* name = kExitStates[kind];
    size_t n = std::strlen(name);
    if (name[n - 1] == '!') {
        for (u32 t = 1; t <= dt::g_highest_type; ++t)
            if (dt::g_type_names[t].name && std::strcmp(dt::g_type_names[t].name, name) == 0) {
                set_cell(out, T_DATATYPE, t);
                return;
            }
    }
    *out = dt::load_word(name);
}

u32 callback_symbol() {
    static u32 sym = 0;
    if (!sym) sym = make_symbol("<lexer-callback>");
    return sym;
}

}  // namespace

// ---- the value buffer ---------------------------------------------------------------------

u32 append_value(LexerState* st) {
    if (st->tail >= g_values_capacity) {
        if (g_values_capacity >= MAX_VALUES) raise_error(Err::internal_no_memory);
        u32 capacity = g_values_capacity * 2;
        Cell* grown = static_cast<Cell*>(std::realloc(g_values, size_t(capacity) * sizeof(Cell)));
        if (!grown) raise_error(Err::internal_no_memory);
        g_values = grown;
        g_values_capacity = capacity;
    }
    u32 i = st->tail++;
    set_cell(&g_values[i], T_UNSET | (st->new_line ? CELL_NEW_LINE : 0));
    return i;
}

Cell* innermost_marker(LexerState* st) { return st->head > st->base ? value_at(st->head - 1) : nullptr; }

void open_container(LexerState* st, u32 type, const u8* opening) {
    Cell* m = innermost_marker(st);
    if (m && marker_type(m) == T_POINT2D) throw_error(st, st->token_start, T_POINT2D);
    if (!fire_event(st, EV_OPEN, i32(type), nullptr, opening, opening)) return;
    u32 i = append_value(st);
    Cell* c = value_at(i);
    c->header = (c->header & CELL_NEW_LINE) | T_MARKER;
    c->data1 = st->head;
    c->data2 = type;
    c->data3 = u32(opening - st->input);
    st->head = st->tail;
}

namespace {

bool closer_fits(u32 container, u8 closer) {
    if (closer == ']') return container == T_BLOCK || container == T_MAP;
    if (closer == ')') return container == T_PAREN;
    return dt::is_path_type(container);
}

// Builds a cell series of `type` from the value buffer's cells [first, first + n).
void make_series_from_values(Cell* out, u32 type, u32 first, u32 n) {
    Node node = alloc_cells(n ? n : 1);
    SeriesBuffer* b = buffer_of(node);
    if (n) std::memcpy(cells_of(b), value_at(first), size_t(n) * sizeof(Cell));
    b->tail = b->offset + n * u32(sizeof(Cell));
    u32 keep = out->header & CELL_NEW_LINE;
    set_cell(out, type | keep, 0, node, 0);
}

}  // namespace

void close_container(LexerState* st, u32 type, u8 closer) {
    Cell* m = innermost_marker(st);
    if (!m || !closer_fits(marker_type(m), closer)) {
        st->pending_type = m ? marker_type(m) : 0;
        throw_error(st, m ? nullptr : st->token_start, E_MISSING);
    }
    if (type == T_BLOCK && marker_type(m) == T_MAP) type = T_MAP;
    if (!fire_event(st, EV_CLOSE, i32(type), nullptr, st->token_start, st->cursor)) return;
    // A callback that transcodes may have moved the value buffer.
    m = innermost_marker(st);
    u32 mi = st->head - 1;
    u32 saved_head = m->data1;
    u32 n = st->tail - st->head;
    if (st->load) {
        if (type == T_MAP && n % 2) throw_error(st, nullptr, T_MAP);
        Cell* cell = value_at(mi);
        cell->header &= CELL_NEW_LINE;  // an unset placeholder while the block is made
        cell->header |= T_UNSET;
        make_series_from_values(value_at(mi), type, st->head, n);
        st->tail = mi + 1;
        st->head = saved_head;
        if (type == T_MAP) {
            if (!g_make_map) throw_not_done(st);
            if (!g_make_map(value_at(mi))) throw_error(st, nullptr, T_MAP);
        }
    } else {
        st->tail = mi;
        st->head = saved_head;
    }
    st->token_type = type;
    Cell* outer = innermost_marker(st);
    st->start_state = outer && dt::is_path_type(marker_type(outer)) ? S_PATH : S_START;
}

// ---- errors -------------------------------------------------------------------------------

namespace {

// The text an error shows: from `start`, at most 30 bytes, cut at a line feed or the end.
Cell* push_error_text(LexerState* st, const u8* start) {
    const u8* e = start;
    while (e < st->end && e - start < 30 && *e != '\n' && *e != 0) ++e;
    std::vector<u32> cps;
    const u8* p = start;
    while (p < e) {
        i32 cp;
        p = utf8_decode_char(p, e, &cp);
        cps.push_back(cp < 0 ? 0xFFFD : u32(cp));
    }
    return dt::push_string_from(cps);
}

Cell* push_line_text(i32 line) {
    std::string s = "(line " + std::to_string(line) + ")";
    Cell* c = dt::push_string(u32(s.size()));
    dt::append_c_string(c, s.c_str());
    return c;
}

}  // namespace

[[noreturn]] void throw_error(LexerState* st, const u8* start, i32 code) {
    if (dt::is_path_type(st->pending_type)) code = E_BAD_CHAR;
    i32 event_type = code > 0 ? code
                     : st->pending_type ? i32(st->pending_type)
                     : st->token_type ? i32(st->token_type)
                     : st->kind_override > 0 ? st->kind_override
                                             : T_ERROR;
    st->token_type = T_ERROR;
    if (!start) {
        Cell* m = innermost_marker(st);
        start = m ? st->input + m->data3 : st->token_start;
    }
    if (!start) start = st->cursor;
    if (!fire_event(st, EV_ERROR, event_type, nullptr, start, st->cursor)) throw LexerStop{};
    if (!st->load) throw LexerStop{};
    Cell* line = push_line_text(st->line);
    switch (code) {
        case E_BAD_CHAR: raise_error(Err::syntax_bad_char, line, push_error_text(st, start));
        case E_MALCONSTRUCT: raise_error(Err::syntax_malconstruct, line, push_error_text(st, start));
        case E_MISSING:
        case E_MISSING_END: {
            u32 container = st->pending_type;
            u8 at = st->cursor < st->end ? *st->cursor : 0;
            u32 ch;
            if (container == T_BLOCK || container == T_MAP) ch = (code == E_MISSING && at == ']') ? '[' : ']';
            else if (container == T_PAREN || container == T_POINT2D) ch = (code == E_MISSING && at == ')') ? '(' : ')';
            else ch = at == ']' ? '[' : '(';
            Cell c;
            set_cell(&c, T_CHAR, 0, ch);
            Cell* arg2 = stack_push(&c);
            raise_error(Err::syntax_missing, line, arg2, push_error_text(st, start));
        }
        default: {
            Cell t;
            set_cell(&t, T_DATATYPE, u32(code));
            Cell* arg2 = stack_push(&t);
            raise_error(Err::syntax_invalid, line, arg2, push_error_text(st, start));
        }
    }
}

[[noreturn]] void throw_not_done(LexerState* st) {
    // A trace callback hears of it as of an invalid token and may decline it.
    st->token_type = T_ERROR;
    const u8* start = st->token_start ? st->token_start : st->cursor;
    if (!fire_event(st, EV_ERROR, T_ERROR, nullptr, start, st->cursor)) throw LexerStop{};
    Cell* text = push_error_text(st, st->token_start ? st->token_start : st->cursor);
    raise_error(Err::internal_not_done, text);
}

// ---- events -------------------------------------------------------------------------------

u32 lexer_events_mask(const Cell* callback) {
    if (!callback || type_of(callback) != T_FUNCTION) return 0;
    Cell* body = dt::function_record(callback, dt::FN_BODY);
    if (type_of(body) != T_BLOCK || dt::ks_length_q(body) < 1) return EV_ALL;
    Cell b = *body;
    Cell* first = dt::ks_head(&b);
    if (type_of(first) != T_BLOCK) return EV_ALL;
    Cell words = *first;
    u32 mask = 0;
    i32 n = dt::ks_length_q(&words);
    for (i32 i = 0; i < n; ++i) {
        Cell* w = dt::ks_head(&words) + i;
        if (!dt::is_any_word_type(type_of(w))) continue;
        const char* name = symbol_name(word_symbol(w));
        for (u32 k = 0; k < 6; ++k)
            if (ascii_equal_ignoring_case(reinterpret_cast<const u8*>(name),
                                          reinterpret_cast<const u8*>(kEventNames[k]),
                                          u32(std::strlen(kEventNames[k]))) &&
                std::strlen(name) == std::strlen(kEventNames[k]))
                mask |= 1u << k;
    }
    return mask;
}

bool fire_event(LexerState* st, u32 bit, i32 type, const Cell* value, const u8* s, const u8* e) {
    if (!(st->event_mask & bit) || !dt::g_call_function) return true;
    Cell* saved_top = g_args.top;
    Cell fn = st->callback;
    Cell name;
    set_cell(&name, T_WORD, 0, callback_symbol(), u32(-1));
    Cell* base = stack_open_function(&name, fn.data1);
    u32 k = u32(__builtin_ctz(bit));
    Cell event = dt::load_word(kEventNames[k]);
    stack_push(&event);
    Cell input = st->source;
    bool at_start = bit == EV_OPEN || (bit == EV_PRESCAN && type <= 0);
    i32 position = source_index(st, at_start ? s : e);
    input.data1 = u32(position);
    stack_push(&input);
    Cell t;
    if (type > 0) set_cell(&t, T_DATATYPE, u32(type));
    else if (type == 0) set_cell(&t, T_NONE);
    else exit_state_value(u32(-type - 1), &t);
    stack_push(&t);
    Cell line;
    set_cell(&line, T_INTEGER, 0, u32(st->line));
    stack_push(&line);
    if (value) {
        stack_push(value);
    } else {
        i32 a = source_index(st, s) + 1, b = source_index(st, e) + 1;
        Cell* slot = stack_push_slot();
        set_cell(slot, T_NONE);
        if (g_make_pair) {
            g_make_pair(slot, a, b);
        } else {
            dt::make_block_at(slot, 2);
            dt::ks_append_integer(slot->data2, a);
            dt::ks_append_integer(slot->data2, b);
        }
    }
    u32 words = dt::context_word_count(fn.data1);
    for (u32 i = 5; i < words; ++i) {
        Cell none;
        set_cell(&none, T_NONE);
        stack_push(&none);
    }
    Status status = dt::g_call_function(&fn, 0, &name, 0);
    if (status) system_throw(status);
    Cell result = *base;
    Cell moved = base[1];  // the input argument, which the callback may have moved
    stack_unwind_function();
    g_args.top = saved_top;
    if (series_node(&moved) == series_node(&st->source) && i32(moved.data1) != position) {
        const u8* to = input_at_index(st, i32(moved.data1));
        st->cursor = to;
    }
    switch (type_of(&result)) {
        case T_NONE: return false;
        case T_LOGIC: return result.data1 != 0;
        default: return true;
    }
}

// ---- the scanning loop --------------------------------------------------------------------

namespace {

// Runs a scanner; answers false when it stopped.
bool run_scanner(LexerState* st, u32 row, u32 flags, bool load) {
    try {
        g_scanners[row](st, st->token_start, st->token_end, flags, load);
        return true;
    } catch (LexerStop&) {
        st->token_type = T_ERROR;
        return false;
    }
}

// After a path segment: `/` goes on to the next segment; anything else ends the path.
void path_segment_end(LexerState* st) {
    Cell* m = innermost_marker(st);
    if (!m || !dt::is_path_type(marker_type(m))) {
        st->start_state = S_START;
        return;
    }
    u32 type = marker_type(m);
    const u8* c = st->cursor;
    if (c < st->end && *c == '/') {
        if (c + 1 >= st->end) throw_error(st, nullptr, type);
        st->cursor = c + 1;
        return;
    }
    if (c < st->end && *c == ':') {
        if (type != T_PATH || (c + 1 < st->end && c[1] == '/')) throw_error(st, nullptr, type);
        type = T_SET_PATH;
        st->cursor = c + 1;
    }
    close_container(st, type, 0);
}

// Word tokens end at a Unicode blank, and skip those in front of them.
bool trim_word_blanks(LexerState* st) {
    const u8* p = st->token_start;
    const u8* e = st->token_end;
    while (p < e) {
        i32 cp;
        const u8* n = utf8_decode_char(p, e, &cp);
        if (cp < 0 || !is_unicode_blank(u32(cp))) break;
        p = n;
    }
    st->token_start = p;
    if (p == e) return false;
    for (const u8* q = p; q < e;) {
        i32 cp;
        const u8* n = utf8_decode_char(q, e, &cp);
        if (cp >= 0 && is_unicode_blank(u32(cp))) {
            st->token_end = st->cursor = q;
            break;
        }
        q = n;
    }
    return true;
}

bool holds_one_value(LexerState* st) {
    u32 n = st->tail - st->base;
    return n == 0 || (n == 1 && type_of(value_at(st->base)) != T_MARKER);
}

void lexer_scan(LexerState* st, bool one, bool prescan) {
    for (;;) {
        u32 state = st->start_state;
        u32 flags = 0;
        const u8* p = st->cursor;
        const u8* start = p;
        bool new_line = false;
        u32 next;
        for (;;) {
            u32 cls;
            if (p < st->end) {
                u32 entry = g_byte_classes[*p];
                flags |= entry;
                cls = entry & 0xFF;
            } else {
                cls = C_END;
            }
            next = next_state(state, cls);
            if (is_final(next)) break;
            if (p >= st->end) {  // every state ends a token at the end; this is a safety net
                next = final_of(K_ERROR);
                break;
            }
            if (cls == C_LF) {
                ++st->line;
                if (next == S_START && state == S_START) new_line = true;
            }
            if (next == S_START && state == S_START) ++start;
            state = next;
            ++p;
        }
        u32 row = next - FIRST_FINAL;
        st->prev_state = state;
        st->token_start = start;
        st->token_end = st->cursor = p;
        st->new_line = new_line;
        st->kind_override = -1;
        st->pending_type = 0;
        st->token_type = kind_datatype(TokenKind(row));

        if (row == K_WORD && (flags & (F_WIDE2 | F_WIDE4)) && !trim_word_blanks(st)) {
            if (st->cursor >= st->end) break;
            continue;
        }
        bool has_callback = st->event_mask != 0;
        bool go_on = true;
        if (has_callback && st->brace_depth == 0 && row != K_ERROR &&
            !(row == K_PAREN_OPEN && point_ahead(start + 1, st->end))) {
            i32 type = st->token_type ? i32(st->token_type) : -i32(row + 1);
            // A point's token spans its parentheses.
            bool point = row == K_POINT;
            go_on = fire_event(st, EV_PRESCAN, type, nullptr, st->token_start - point,
                               st->token_end + (point && st->token_end < st->end));
        }
        if (!go_on) {
            if (st->cursor <= st->token_start && st->cursor < st->end) st->cursor = st->token_start + 1;
            continue;
        }
        if (prescan) {
            if (row <= K_STRING || row == K_WORD || row == K_ISSUE || has_callback) {
                if (!run_scanner(st, row, flags, false)) break;
            } else {
                // The type stays a guess; the scanner only steps over a closing byte.
                u32 guessed = st->token_type;
                run_scanner(st, row, flags, false);
                st->token_type = guessed;
            }
        } else if (row <= K_COMMA) {
            if (!run_scanner(st, row, flags, st->load) && !st->load) break;
        } else {
            bool ok = true;
            bool wants_scan = (st->event_mask & EV_SCAN) != 0;
            if (!st->load || wants_scan) {
                ok = run_scanner(st, row, flags, false);
                if (!ok && !st->load) break;
                if (ok && wants_scan) {
                    ok = fire_event(st, EV_SCAN, i32(st->token_type), nullptr,
                                    st->token_start - (row == K_POINT), st->cursor);
                }
            }
            if (ok && st->load) {
                u32 before = st->tail;
                if (run_scanner(st, row, flags, true) && (st->event_mask & EV_LOAD) && st->tail > before) {
                    Cell v = *value_at(st->tail - 1);
                    if (!fire_event(st, EV_LOAD, i32(st->token_type), &v, st->token_start, st->cursor))
                        st->tail = before;
                }
            }
        }
        if (st->token_type != T_ERROR && st->cursor <= st->token_start && st->cursor < st->end &&
            row != K_END && row != K_COMMENT)
            st->cursor = st->token_start + 1;
        if (st->token_type == T_ERROR && st->cursor <= st->token_start && st->cursor < st->end)
            st->cursor = st->token_start + 1;
        if (row == K_END) break;
        if (st->start_state == S_PATH && row != K_PATH_HEAD && st->token_type != T_ERROR) {
            try {
                path_segment_end(st);
            } catch (LexerStop&) {
                st->token_type = T_ERROR;
                if (!st->load) break;
            }
        }
        if (st->token_type) st->last_type = st->token_type;
        if ((one || prescan) && st->token_type && row != K_PATH_HEAD && st->start_state != S_PATH &&
            st->brace_depth == 0 && holds_one_value(st))
            break;
        if (st->cursor >= st->end && st->start_state == S_START && st->head == st->base) break;
    }
}

}  // namespace

u32 lexer_run(Cell* dest, const u8* input, u32 length, const RunOptions& o, u32* consumed) {
    lexer_init();
    LexerState st;
    LexerState* last = g_chain;
    while (last && last->next) last = last->next;
    st.base = st.head = st.tail = last ? last->tail : 0;
    st.input = st.cursor = input;
    st.end = input + length;
    st.load = o.checked && o.load;
    set_cell(&st.callback, T_NONE);
    set_cell(&st.source, T_NONE);
    if (o.callback && type_of(o.callback) == T_FUNCTION) {
        st.callback = *o.callback;
        st.event_mask = lexer_events_mask(o.callback);
    }
    if (o.source) {
        st.source = *o.source;
        st.source_is_string = dt::is_text_type(type_of(o.source));
        st.source_head = series_head(o.source) < 0 ? 0 : series_head(o.source);
    }
    ChainLink link(&st);

    lexer_scan(&st, o.one, !o.checked);

    u32 result = st.last_type;
    if (st.token_type == T_ERROR) result = T_ERROR;
    if (result != T_ERROR && st.start_state == S_BRACED) {
        st.token_start = st.string_start;
        try {
            throw_error(&st, st.string_start, T_STRING);
        } catch (LexerStop&) {
            result = T_ERROR;
        }
    }
    if (result != T_ERROR && st.head > st.base) {
        Cell* m = innermost_marker(&st);
        if (!o.checked && dt::is_path_type(marker_type(m))) {
            result = marker_type(m);
        } else {
            st.pending_type = marker_type(m);
            try {
                throw_error(&st, nullptr, E_MISSING_END);
            } catch (LexerStop&) {
                result = T_ERROR;
            }
        }
    }
    if (consumed) {
        const u8* c = st.cursor > st.end ? st.end : st.cursor;
        *consumed = st.source_is_string ? utf8_count_chars(st.input, c) : u32(c - st.input);
    }
    if (result == T_ERROR) {
        if (dest) set_cell(dest, T_NONE);
        return result;
    }
    if (st.load) {
        u32 n = st.tail - st.base;
        if (o.one && !o.wrap && n >= 1) {
            Cell first = *value_at(st.base);
            clear_cell_flag(&first);
            if (o.into) dt::ks_append(o.into, &first);
            else if (dest) *dest = first;
        } else if (o.into) {
            for (u32 i = 0; i < n; ++i) {
                Cell v = *value_at(st.base + i);
                dt::ks_append(o.into, &v);
            }
        } else if (dest) {
            set_cell(dest, T_NONE);
            make_series_from_values(dest, T_BLOCK, st.base, n);
        }
    }
    return result;
}

u32 transcode_series(Cell* dest, const Cell* str, i32 length, const RunOptions& options, u32* consumed) {
    Cell s = *str;
    u32 available = dt::string_length(&s);
    u32 n = length < 0 || u32(length) > available ? available : u32(length);
    std::string text;
    text.resize(size_t(n) * 4 + 1);
    u32 bytes = n ? string_to_utf8_bounded(&s, reinterpret_cast<u8*>(text.data()), u32(text.size()), i32(n), false)
                  : 0;
    RunOptions o = options;
    if (!o.source) o.source = str;
    return lexer_run(dest, reinterpret_cast<const u8*>(text.data()), bytes, o, consumed);
}

}  // namespace kel::lex
