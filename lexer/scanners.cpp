// The token scanners: one per token kind, each validating its token and, when loading,
// appending the value it denotes.
#include <cmath>
#include <cstring>
#include <string>

#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/datatype_init.h"
#include "datatypes/registry.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "lexer/lexer_internal.h"
#include "lexer/literal_hooks.h"
#include "lexer/number_scan.h"
#include "runtime/base_codec.h"
#include "runtime/float_text.h"
#include "runtime/memory.h"
#include "runtime/percent_codec.h"
#include "runtime/symbols.h"
#include "runtime/unicode.h"

namespace kel::lex {

using namespace rt;

// Scanners of dates live beside this file.
void scan_date(LexerState* st, const u8* s, const u8* e, u32 flags, bool load);

// ---- shared helpers -----------------------------------------------------------------------

bool decode_utf8(const u8* s, const u8* e, std::vector<u32>& out) {
    out.reserve(out.size() + size_t(e - s));  // no more code points than bytes
    while (s < e) {
        if (*s < 0x80) {
            out.push_back(*s++);
            continue;
        }
        i32 cp;
        s = utf8_decode_char(s, e, &cp);
        if (cp < 0) return false;
        out.push_back(u32(cp));
    }
    return true;
}

bool point_ahead(const u8* p, const u8* end) {
    if (end - p < 4) return false;
    for (; p < end; ++p) {
        u8 b = *p;
        if (b == ' ' || b == '\t' || (b >= '0' && b <= '9') || b == '#' || b == '+' || b == '-' || b == '.')
            continue;
        if (b && std::strchr("AEFINaefin", b)) continue;
        return b == ',';
    }
    return true;
}

namespace {

struct EscapeName {
    const char* name;
    u32 cp;
};
constexpr EscapeName kEscapeNames[] = {{"null", 0},  {"back", 8}, {"tab", 9},  {"line", 10},
                                       {"page", 12}, {"esc", 27}, {"del", 127}};

inline i32 hex_digit(u8 b) { return rt::hex_digit_value(b); }

}  // namespace

i32 decode_escape(const u8*& p, const u8* e) {
    if (p >= e) return -1;
    u8 b = *p;
    if (b == '(') {
        const u8* close = p + 1;
        while (close < e && *close != ')') ++close;
        if (close >= e) return -1;
        const u8* in = p + 1;
        u32 n = u32(close - in);
        bool all_hex = n >= 1 && n <= 6;
        u32 v = 0;
        for (u32 i = 0; all_hex && i < n; ++i) {
            i32 d = hex_digit(in[i]);
            if (d < 0) all_hex = false;
            else v = v * 16 + u32(d);
        }
        if (all_hex) {
            if (v > 0x10FFFF) return -1;
            p = close + 1;
            return i32(v);
        }
        for (const EscapeName& en : kEscapeNames)
            if (std::strlen(en.name) == n &&
                ascii_equal_ignoring_case(in, reinterpret_cast<const u8*>(en.name), n)) {
                p = close + 1;
                return i32(en.cp);
            }
        return -1;
    }
    ++p;
    switch (b) {
        case '"': return '"';
        case '-': return '\t';
        case '/': return '\n';
        case '^': return '^';
        case '{': return '{';
        case '}': return '}';
        case '~': return 127;
        default: break;
    }
    if (b >= 'a' && b <= 'z') return b - 'a' + 1;
    if (b >= '@' && b <= '_') return b - '@';
    if (b < 0x80) return b;
    --p;
    i32 cp;
    p = utf8_decode_char(p, e, &cp);
    return cp;
}

void make_word_value(Cell* out, u32 type, const u8* s, const u8* e) {
    u32 symbol = make_symbol_from_buffer(s, u32(e - s));
    if (type == T_ISSUE) {
        set_cell(out, T_ISSUE | (out->header & CELL_NEW_LINE), dt::g_global_context, symbol, u32(-1));
        return;
    }
    u32 keep = out->header & CELL_NEW_LINE;
    *out = dt::word_from_symbol(symbol);
    out->header = (out->header & ~(CELL_TYPE_MASK | CELL_NEW_LINE)) | type | keep;
}

namespace {

bool valid_utf8(const u8* s, const u8* e, u32) {
    while (s < e) {
        if (*s < 0x80) {
            ++s;
            continue;
        }
        i32 cp;
        s = utf8_decode_char(s, e, &cp);
        if (cp < 0) return false;
    }
    return true;
}

// Decodes text with caret escapes.
bool decode_escaped(const u8* s, const u8* e, std::vector<u32>& out) {
    out.reserve(out.size() + size_t(e - s));  // no more code points than bytes
    while (s < e) {
        if (*s == '^') {
            ++s;
            i32 cp = decode_escape(s, e);
            if (cp < 0) return false;
            out.push_back(u32(cp));
        } else if (*s < 0x80) {
            out.push_back(*s++);
        } else {
            i32 cp;
            s = utf8_decode_char(s, e, &cp);
            if (cp < 0) return false;
            out.push_back(u32(cp));
        }
    }
    return true;
}

// Decodes %XX escapes, the bytes they give read as UTF-8 (a byte that starts no valid
// sequence stands for itself; in a file name, where it is a raw name byte, for U+DC00 + the
// byte, as folder listings give it).
bool decode_percent(const u8* s, const u8* e, std::vector<u32>& out, bool file_name = false) {
    std::string bytes;
    for (const u8* p = s; p < e; ++p) {
        u8 b;
        if (percent_decode_byte(p, e, &b)) {
            bytes.push_back(char(b));
            p += 2;
        } else {
            bytes.push_back(char(*p));
        }
    }
    const u8* p = reinterpret_cast<const u8*>(bytes.data());
    utf8_code_points_keeping_bytes(p, p + bytes.size(), out, file_name ? 0xDC00 : 0);
    return true;
}

// A literal of a datatype not built yet would load as its parent's kind (a file! that molds
// as a string): loading it is refused as not done, as for the literals with makers.
void require_built(LexerState* st, u32 type) {
    if (!dt::datatype_built(type)) throw_not_done(st);
}

// A new text value of `type`, `n` characters of `unit` bytes, for the caller to fill: its
// buffer. Making the string rewrites the whole cell, so the line-break mark the slot was
// given is put back.
SeriesBuffer* load_text_buffer(LexerState* st, u32 type, u32 n, u32 unit) {
    require_built(st, type);
    Cell* out = value_at(append_value(st));
    u32 keep = out->header & CELL_NEW_LINE;
    dt::make_string_buffer_at(out, n, unit, type);
    out->header |= keep;
    SeriesBuffer* b = buffer_of(series_node(out));
    b->tail = b->offset + n * unit;
    return b;
}

// A text value (string!, file!, url!, tag!, email!, ref!) holding the code points, in the
// narrowest unit that holds them.
void load_text(LexerState* st, u32 type, const std::vector<u32>& cps) {
    u32 top = 0;
    for (u32 cp : cps) top = cp > top ? cp : top;
    u32 unit = dt::append_unit_for(top);
    u32 n = u32(cps.size());
    u8* p = load_text_buffer(st, type, n, unit)->data();
    for (u32 i = 0; i < n; ++i) dt::put_char_at(p + size_t(i) * unit, unit, cps[i]);
}

// Most text in sources is ASCII without caret escapes: its bytes are its characters, so it
// needs no decoding. (Whether escapes are read or not, such text means the same.)
bool plain_ascii(const u8* s, const u8* e) {
    for (; s < e; ++s)
        if (*s >= 0x80 || *s == '^') return false;
    return true;
}

// load_text for plain ASCII [s, e): one byte a character, copied as it stands. The input
// never lies in the arena, so the allocation cannot move it.
void load_plain_text(LexerState* st, u32 type, const u8* s, const u8* e) {
    u32 n = u32(e - s);
    SeriesBuffer* b = load_text_buffer(st, type, n, 1);
    if (n) std::memcpy(b->data(), s, n);
}

void load_float_like(LexerState* st, u32 type, double d) {
    require_built(st, type);
    u32 i = append_value(st);
    Cell* c = value_at(i);
    c->header = (c->header & CELL_NEW_LINE) | type;
    c->data1 = 0;
    set_float_payload(c, d);
}

void load_integer(LexerState* st, i32 v) {
    u32 i = append_value(st);
    Cell* c = value_at(i);
    c->header = (c->header & CELL_NEW_LINE) | T_INTEGER;
    c->data1 = 0;
    c->data2 = u32(v);
    c->data3 = 0;
}

// A decimal text (checked) read as a double; false when it is not one.
bool read_decimal(const u8* s, const u8* e, double* out) {
    u32 n = u32(e - s);
    if (!check_decimal_text(reinterpret_cast<const char*>(s), n)) return false;
    char buf[320];
    u32 k = 0;
    for (const u8* p = s; p < e; ++p)
        if (*p != '\'') buf[k++] = char(*p);
    i32 left = 0;
    double d = parse_float(buf, buf + k, 0, &left);
    if (left != 0) return false;
    *out = d;
    return true;
}

// "1.#NaN", "-1.#INF" and their kin, any case.
bool read_special(const u8* s, const u8* e, double* out) {
    bool negative = false;
    if (s < e && (*s == '+' || *s == '-')) negative = *s++ == '-';
    if (e - s != 6 || s[0] != '1' || s[1] != '.' || s[2] != '#') return false;
    const u8* w = s + 3;
    if (ascii_equal_ignoring_case(w, reinterpret_cast<const u8*>("nan"), 3)) {
        u64 bits = 0x7FF8000000000000ULL;
        std::memcpy(out, &bits, 8);
        return true;
    }
    if (ascii_equal_ignoring_case(w, reinterpret_cast<const u8*>("inf"), 3)) {
        *out = negative ? -HUGE_VAL : HUGE_VAL;
        return true;
    }
    return false;
}

// ---- structural tokens --------------------------------------------------------------------

void scan_end(LexerState* st, const u8*, const u8*, u32, bool) { st->cursor = st->end; }

void scan_error(LexerState* st, const u8* s, const u8* e, u32, bool) {
    st->cursor = e > s ? e : (s < st->end ? s + 1 : st->end);
    u32 type = state_datatype(st->prev_state);
    i32 code = type ? i32(type) : E_BAD_CHAR;
    const u8* start = s;
    if (st->start_state == S_BRACED) start = st->string_start;
    if (st->prev_state == S_PATH) {
        Cell* m = innermost_marker(st);
        if (m) st->pending_type = marker_type(m);
        start = nullptr;
    }
    throw_error(st, start, code);
}

void scan_block_open(LexerState* st, const u8* s, const u8* e, u32, bool) {
    st->cursor = e + 1;
    open_container(st, T_BLOCK, s);
    st->start_state = S_START;
}

void scan_block_close(LexerState* st, const u8*, const u8* e, u32, bool) {
    st->cursor = e;
    close_container(st, T_BLOCK, ']');
    st->cursor = e + 1;
}

void scan_paren_open(LexerState* st, const u8* s, const u8* e, u32, bool) {
    st->cursor = e + 1;
    if (point_ahead(e + 1, st->end)) {
        st->start_state = S_POINT;
        st->point_line = st->line;
        return;
    }
    open_container(st, T_PAREN, s);
    st->start_state = S_START;
}

void scan_paren_close(LexerState* st, const u8*, const u8* e, u32, bool) {
    st->cursor = e;
    close_container(st, T_PAREN, ')');
    st->cursor = e + 1;
}

void scan_brace_open(LexerState* st, const u8*, const u8* e, u32 flags, bool) {
    st->cursor = e + 1;
    if (st->brace_depth == 0) {
        fire_event(st, EV_OPEN, T_STRING, nullptr, e, e);
        st->string_start = e;
        st->string_new_line = st->new_line;
        st->string_flags = flags | (st->new_line ? F_NEW_LINE_BEFORE : 0);
    } else {
        st->string_flags |= flags;
    }
    ++st->brace_depth;
    st->start_state = S_BRACED;
}

void scan_brace_close(LexerState* st, const u8*, const u8* e, u32 flags, bool load) {
    st->cursor = e + 1;
    st->string_flags |= flags;
    if (--st->brace_depth > 0) return;
    st->brace_depth = 0;
    st->start_state = S_START;
    st->token_start = st->string_start;
    st->token_type = T_STRING;
    fire_event(st, EV_CLOSE, T_STRING, nullptr, st->string_start, st->cursor);
    const u8* text = st->string_start + 1;
    bool plain = plain_ascii(text, e);
    std::vector<u32> cps;
    if (!plain && !decode_escaped(text, e, cps)) throw_error(st, st->string_start, T_STRING);
    if (!load) return;
    bool saved = st->new_line;
    st->new_line = st->string_new_line;
    if (plain) load_plain_text(st, T_STRING, text, e);
    else load_text(st, T_STRING, cps);
    st->new_line = saved;
}

void scan_map_open(LexerState* st, const u8* s, const u8* e, u32, bool) {
    if (e - s != 1 || *s != '#') throw_error(st, s, T_MAP);
    st->cursor = e + 1;
    open_container(st, T_MAP, s);
    st->start_state = S_START;
}

void scan_word(LexerState* st, const u8* s, const u8* e, u32 flags, bool load);

void scan_path_head(LexerState* st, const u8* s, const u8* e, u32 flags, bool load) {
    u32 type = T_PATH;
    const u8* a = s;
    if (*a == '\'') {
        type = T_LIT_PATH;
        ++a;
    } else if (*a == ':') {
        type = T_GET_PATH;
        ++a;
    }
    st->cursor = e + 1;
    if (a >= e || e + 1 >= st->end) throw_error(st, s, T_PATH);
    for (const u8* p = a; p < e; ++p)
        if (*p == ':') throw_error(st, s, T_PATH);
    if (!valid_utf8(a, e, flags)) throw_error(st, s, T_WORD);
    open_container(st, type, s);
    st->start_state = S_PATH;
    if (load) {
        u32 i = append_value(st);
        make_word_value(value_at(i), T_WORD, a, e);
    }
    st->token_type = type;
}

const char* const kConstructNames[] = {"true", "false", "none", "unset"};

void scan_construct(LexerState* st, const u8* s, const u8* e, u32, bool load) {
    st->cursor = e + 1;
    if (e - s < 2 || s[0] != '#' || s[1] != '(') throw_error(st, s, E_MALCONSTRUCT);
    const u8* text = s + 2;
    u32 n = u32(e - text);
    for (u32 k = 0; k < 4; ++k) {
        u32 len = u32(std::strlen(kConstructNames[k]));
        if (n > len || !ascii_equal_ignoring_case(text, reinterpret_cast<const u8*>(kConstructNames[k]), n))
            continue;
        if (n != len) throw_error(st, s, E_MALCONSTRUCT);
        if (!load) return;
        u32 i = append_value(st);
        Cell* c = value_at(i);
        u32 keep = c->header & CELL_NEW_LINE;
        switch (k) {
            case 0: set_cell(c, T_LOGIC | keep, 1); break;
            case 1: set_cell(c, T_LOGIC | keep, 0); break;
            case 2: set_cell(c, T_NONE | keep); break;
            default: set_cell(c, T_UNSET | keep); break;
        }
        st->token_type = type_of(c);
        return;
    }
    for (u32 t = 1; t <= dt::g_highest_type && n > 0; ++t) {
        const char* name = dt::g_type_names[t].name;
        if (!name || std::strlen(name) < n) continue;
        if (!ascii_equal_ignoring_case(text, reinterpret_cast<const u8*>(name), n)) continue;
        st->token_type = T_DATATYPE;
        if (!load) return;
        u32 i = append_value(st);
        Cell* c = value_at(i);
        set_cell(c, T_DATATYPE | (c->header & CELL_NEW_LINE), t);
        return;
    }
    throw_error(st, s, E_MALCONSTRUCT);
}

void scan_comment(LexerState* st, const u8* s, const u8* e, u32, bool) {
    fire_event(st, EV_SCAN, -i32(K_COMMENT + 1), nullptr, s, e);
}

void scan_comma(LexerState* st, const u8* s, const u8* e, u32, bool) {
    st->cursor = e + 1;
    Cell* m = innermost_marker(st);
    if (!m || (marker_type(m) != T_PAREN && marker_type(m) != T_POINT2D)) throw_error(st, s, T_POINT2D);
    u32 commas = (m->data2 >> 16) + 1;
    m->data2 = T_POINT2D | (commas << 16);
}

// ---- words --------------------------------------------------------------------------------

void load_word_kind(LexerState* st, u32 type, const u8* a, const u8* z, bool load) {
    st->token_type = type;
    if (!load) return;
    u32 i = append_value(st);
    make_word_value(value_at(i), type, a, z);
}

void scan_word(LexerState* st, const u8* s, const u8* e, u32 flags, bool load) {
    u32 type = T_WORD;
    const u8* a = s;
    const u8* z = e;
    if (*a == ':') {
        type = T_GET_WORD;
        ++a;
    } else if (*a == '\'') {
        type = T_LIT_WORD;
        ++a;
    }
    if (z > a && z[-1] == ':') {
        if (type == T_LIT_WORD) throw_error(st, s, T_LIT_WORD);
        if (type == T_GET_WORD) throw_error(st, s, T_WORD);
        type = T_SET_WORD;
        --z;
    }
    if (a >= z) throw_error(st, s, i32(type));
    // One pass for inner colons and bytes past ASCII; only the latter need decoding.
    u8 high = 0;
    for (const u8* p = a; p < z; ++p) {
        if (*p == ':') throw_error(st, s, T_WORD);
        high |= *p;
    }
    if ((high & 0x80) && !valid_utf8(a, z, flags)) throw_error(st, s, i32(type));
    load_word_kind(st, type, a, z, load);
}

void scan_issue(LexerState* st, const u8* s, const u8* e, u32 flags, bool load) {
    if (*s != '#' || e - s < 2) throw_error(st, s, T_ISSUE);
    if (!valid_utf8(s + 1, e, flags)) throw_error(st, s, T_ISSUE);
    load_word_kind(st, T_ISSUE, s + 1, e, load);
}

void scan_refinement(LexerState* st, const u8* s, const u8* e, u32 flags, bool load) {
    u32 n = u32(e - s);
    if (n == 1) return load_word_kind(st, T_WORD, s, e, load);
    if (n == 2) {
        if (s[0] == '\'') return load_word_kind(st, T_LIT_WORD, s + 1, e, load);
        if (s[0] == ':') return load_word_kind(st, T_GET_WORD, s + 1, e, load);
        if (s[1] == ':') return load_word_kind(st, T_SET_WORD, s, s + 1, load);
    }
    if (*s != '/') throw_error(st, s, T_REFINEMENT);
    if (!valid_utf8(s + 1, e, flags)) throw_error(st, s, T_REFINEMENT);
    load_word_kind(st, T_REFINEMENT, s + 1, e, load);
}

// ---- numbers ------------------------------------------------------------------------------

void scan_float(LexerState* st, const u8* s, const u8* e, u32, bool load) {
    double d;
    if (!read_decimal(s, e, &d)) throw_error(st, s, T_FLOAT);
    st->token_type = T_FLOAT;
    if (load) load_float_like(st, T_FLOAT, d);
}

void scan_integer(LexerState* st, const u8* s, const u8* e, u32, bool load) {
    const u8* p = s;
    bool negative = false;
    if (p < e && (*p == '+' || *p == '-')) negative = *p++ == '-';
    u32 digits = 0;
    i64 v = 0;
    for (const u8* q = p; q < e; ++q) {
        if (*q == '\'') {
            if (q + 1 < e && q[1] == '\'') throw_error(st, s, T_INTEGER);
            continue;
        }
        if (*q < '0' || *q > '9') throw_error(st, s, T_INTEGER);
        ++digits;
        if (digits <= 10) v = v * 10 + (*q - '0');
    }
    if (digits == 0) throw_error(st, s, T_INTEGER);
    if (negative) v = -v;
    if (digits > 10 || v > 2147483647LL || v < -2147483648LL) return scan_float(st, s, e, 0, load);
    if (load) load_integer(st, i32(v));
}

void scan_percent(LexerState* st, const u8* s, const u8* e, u32, bool load) {
    st->cursor = e + 1;
    double d;
    if (!read_decimal(s, e, &d)) throw_error(st, s, T_FLOAT);
    if (load) load_float_like(st, T_PERCENT, d / 100.0);
}

void scan_float_special(LexerState* st, const u8* s, const u8* e, u32, bool load) {
    double d;
    if (!read_special(s, e, &d)) throw_error(st, s, T_FLOAT);
    if (load) load_float_like(st, T_FLOAT, d);
}

void scan_hex_integer(LexerState* st, const u8* s, const u8* e, u32 flags, bool load) {
    const u8* z = e - 1;  // the "h"
    u32 n = u32(z - s);
    bool hex = n >= 2 && n <= 8;
    u32 v = 0;
    for (const u8* p = s; hex && p < z; ++p) {
        i32 d = hex_digit(*p);
        if (d < 0 || (*p >= 'a' && *p <= 'f')) hex = false;
        else v = v * 16 + u32(d);
    }
    if (hex) {
        st->token_type = T_INTEGER;
        if (load) load_integer(st, i32(v));
        return;
    }
    if (*s >= '0' && *s <= '9') throw_error(st, s, T_INTEGER);
    // A name such as "Ah" or "FADEDh" that is no hexadecimal number is a word.
    scan_word(st, s, e, flags, load);
}

void scan_tuple(LexerState* st, const u8* s, const u8* e, u32, bool load) {
    u8 bytes[12];
    u32 count = 0;
    const u8* p = s;
    for (;;) {
        u32 v = 0, digits = 0;
        while (p < e && *p >= '0' && *p <= '9') {
            v = v * 10 + u32(*p - '0');
            if (++digits > 3 || v > 255) throw_error(st, s, T_TUPLE);
            ++p;
        }
        if (digits == 0 || count == 12) throw_error(st, s, T_TUPLE);
        bytes[count++] = u8(v);
        if (p == e) break;
        if (*p != '.') throw_error(st, s, T_TUPLE);
        ++p;
    }
    if (count < 3) throw_error(st, s, T_TUPLE);
    if (!load) return;
    if (!g_make_tuple) throw_not_done(st);
    u32 i = append_value(st);
    g_make_tuple(value_at(i), bytes, count);
}

bool read_int32(const u8* s, const u8* e, i32* out) {
    bool negative = false;
    if (s < e && (*s == '+' || *s == '-')) negative = *s++ == '-';
    if (s >= e) return false;
    i64 v = 0;
    for (; s < e; ++s) {
        if (*s < '0' || *s > '9') return false;
        v = v * 10 + (*s - '0');
        if (v > 2147483648LL) return false;
    }
    if (negative) v = -v;
    if (v > 2147483647LL) return false;
    *out = i32(v);
    return true;
}

void scan_pair(LexerState* st, const u8* s, const u8* e, u32, bool load) {
    const u8* x = s;
    while (x < e && *x != 'x' && *x != 'X') ++x;
    i32 a, b;
    for (const u8* p = s; p < e; ++p)
        if (*p == '.') throw_error(st, s, T_PAIR);
    if (x >= e || !read_int32(s, x, &a) || !read_int32(x + 1, e, &b)) throw_error(st, s, T_PAIR);
    if (!load) return;
    if (!g_make_pair) throw_not_done(st);
    u32 i = append_value(st);
    g_make_pair(value_at(i), a, b);
}

void scan_point(LexerState* st, const u8* s, const u8* e, u32, bool load) {
    st->cursor = e + 1;
    Cell* outer = innermost_marker(st);
    st->start_state = outer && dt::is_path_type(marker_type(outer)) ? S_PATH : S_START;
    double v[3];
    u32 count = 0;
    const u8* p = s;
    u32 commas = 0;
    for (const u8* q = s; q < e; ++q) commas += *q == ',';
    u32 type = commas >= 2 ? T_POINT3D : T_POINT2D;
    st->token_type = type;
    for (;;) {
        const u8* q = p;
        while (q < e && *q != ',') ++q;
        const u8* a = p;
        const u8* z = q;
        while (a < z && (*a == ' ' || *a == '\t')) ++a;
        while (z > a && (z[-1] == ' ' || z[-1] == '\t')) --z;
        if (a == z || count == 3) throw_error(st, s - 1, i32(type));
        if (z - a > 312 || (!read_decimal(a, z, &v[count]) && !read_special(a, z, &v[count])))
            throw_error(st, a, T_FLOAT);
        ++count;
        if (q == e) break;
        p = q + 1;
    }
    if (count < 2) throw_error(st, s - 1, T_POINT2D);
    if (!load) return;
    if (count == 2) {
        if (!g_make_point2d) throw_not_done(st);
        u32 i = append_value(st);
        g_make_point2d(value_at(i), v[0], v[1]);
    } else {
        if (!g_make_point3d) throw_not_done(st);
        u32 i = append_value(st);
        g_make_point3d(value_at(i), v[0], v[1], v[2]);
    }
}

void scan_time(LexerState* st, const u8* s, const u8* e, u32, bool load) {
    const u8* p = s;
    bool negative = false;
    if (p < e && (*p == '+' || *p == '-')) negative = *p++ == '-';
    // Up to three fields separated by ":"; only the last may hold a fraction.
    const u8* starts[3];
    const u8* ends[3];
    u32 n = 0;
    for (const u8* q = p;;) {
        const u8* f = q;
        while (q < e && *q != ':') ++q;
        if (n == 3) throw_error(st, s, T_TIME);
        starts[n] = f;
        ends[n++] = q;
        if (q == e) break;
        ++q;
    }
    if (n < 2) throw_error(st, s, T_TIME);
    auto whole = [&](u32 k, double* out) {
        if (starts[k] == ends[k]) return false;
        double v = 0;
        u32 digits = 0;
        for (const u8* q = starts[k]; q < ends[k]; ++q) {
            if (*q == '\'') {
                if (k != 0 || q == starts[k] || q[-1] == '\'') return false;
                continue;
            }
            if (*q < '0' || *q > '9' || ++digits > 10) return false;
            v = v * 10 + (*q - '0');
        }
        *out = v;
        return digits > 0;
    };
    double hours = 0, minutes = 0, seconds = 0;
    bool last_has_point = std::memchr(starts[n - 1], '.', size_t(ends[n - 1] - starts[n - 1])) != nullptr;
    if (n == 2 && last_has_point) {
        if (!whole(0, &minutes) || !read_decimal(starts[1], ends[1], &seconds)) throw_error(st, s, T_TIME);
    } else {
        if (!whole(0, &hours) || !whole(1, &minutes)) throw_error(st, s, T_TIME);
        if (n == 3 && (starts[2] == ends[2] || !read_decimal(starts[2], ends[2], &seconds)))
            throw_error(st, s, T_TIME);
    }
    for (u32 k = 0; k < n; ++k)
        for (const u8* q = starts[k]; q < ends[k]; ++q)
            if (*q == 'e' || *q == 'E' || *q == '+' || *q == '-') throw_error(st, s, T_TIME);
    if (seconds >= 60.0 || hours > 2147483647.0) throw_error(st, s, T_TIME);
    double total = hours * 3600.0 + minutes * 60.0 + seconds;
    if (negative) total = -total;
    if (load) load_float_like(st, T_TIME, total);
}

void scan_money(LexerState* st, const u8* s, const u8* e, u32, bool load) {
    const u8* p = s;
    MoneyText m{};
    if (p < e && (*p == '+' || *p == '-')) m.negative = *p++ == '-';
    const u8* dollar = p;
    while (dollar < e && *dollar != '$') ++dollar;
    if (dollar >= e) throw_error(st, s, T_MONEY);
    u32 code = u32(dollar - p);
    if (code != 0 && code != 3) throw_error(st, s, T_MONEY);
    for (u32 i = 0; i < code; ++i) {
        u8 c = p[i];
        if (!((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'))) throw_error(st, s, T_MONEY);
        m.currency[i] = char(c);
    }
    m.currency[code] = 0;
    p = dollar + 1;
    if (p >= e || *p < '0' || *p > '9') throw_error(st, s, T_MONEY);
    std::string whole, fraction;
    bool in_fraction = false;
    for (const u8* q = p; q < e; ++q) {
        u8 c = *q;
        if (c == '\'') {
            if (in_fraction || q + 1 == e || q[1] == '\'') throw_error(st, s, T_MONEY);
            continue;
        }
        if (c == '.' || c == ',') {
            if (in_fraction || q + 1 == e) throw_error(st, s, T_MONEY);
            in_fraction = true;
            continue;
        }
        if (c < '0' || c > '9') throw_error(st, s, T_MONEY);
        if (in_fraction) fraction.push_back(char(c));
        else if (!whole.empty() || c != '0') whole.push_back(char(c));
    }
    if (whole.size() > 17 || fraction.size() > 5) throw_error(st, s, T_MONEY);
    if (!load) return;
    if (!g_make_money) throw_not_done(st);
    m.integer_digits = whole.c_str();
    m.integer_count = u32(whole.size());
    m.fraction_digits = fraction.c_str();
    m.fraction_count = u32(fraction.size());
    u32 i = append_value(st);
    if (!g_make_money(value_at(i), m)) {
        st->tail = i;
        throw_error(st, s, T_MONEY);
    }
}

// ---- text ---------------------------------------------------------------------------------

void scan_string(LexerState* st, const u8* s, const u8* e, u32 flags, bool load) {
    st->cursor = e + 1;
    if (plain_ascii(s + 1, e)) {
        if (load) load_plain_text(st, T_STRING, s + 1, e);
        return;
    }
    std::vector<u32> cps;
    bool ok = (flags & F_CARET) ? decode_escaped(s + 1, e, cps) : decode_utf8(s + 1, e, cps);
    if (!ok) throw_error(st, s, T_STRING);
    if (load) load_text(st, T_STRING, cps);
}

void scan_raw_string(LexerState* st, const u8* s, const u8*, u32, bool load) {
    u32 n = 0;
    while (s + n < st->end && s[n] == '%') ++n;
    const u8* content = s + n + 1;
    const u8* q = content;
    for (;;) {
        while (q < st->end && *q != '}') ++q;
        if (q >= st->end) throw_error(st, s, T_STRING);
        u32 k = 0;
        while (q + 1 + k < st->end && q[1 + k] == '%') ++k;
        if (k == n) break;
        if (k > n) throw_error(st, s, T_STRING);
        ++q;
    }
    st->cursor = st->token_end = q + 1 + n;
    st->token_type = T_STRING;
    if (!load) {  // a completeness check sees the string open and close
        fire_event(st, EV_OPEN, T_STRING, nullptr, s, s);
        fire_event(st, EV_CLOSE, T_STRING, nullptr, s, st->cursor);
    }
    std::vector<u32> cps;
    if (!decode_utf8(content, q, cps)) throw_error(st, s, T_STRING);
    if (load) load_text(st, T_STRING, cps);
}

void scan_char(LexerState* st, const u8* s, const u8* e, u32, bool load) {
    st->cursor = e + 1;
    if (e - s < 2 || s[0] != '#' || s[1] != '"') throw_error(st, s, T_CHAR);
    const u8* p = s + 2;
    if (p >= e) throw_error(st, s, T_CHAR);
    i32 cp;
    if (*p == '^') {
        ++p;
        if (p >= e) throw_error(st, s, T_CHAR);
        cp = decode_escape(p, e);
    } else {
        p = utf8_decode_char(p, e, &cp);
    }
    if (cp < 0 || u32(cp) > 0x10FFFF || p != e) throw_error(st, s, T_CHAR);
    if (!load) return;
    u32 i = append_value(st);
    Cell* c = value_at(i);
    set_cell(c, T_CHAR | (c->header & CELL_NEW_LINE), 0, u32(cp));
}

void scan_file(LexerState* st, const u8* s, const u8* e, u32, bool load) {
    std::vector<u32> cps;
    if (e - s >= 2 && s[1] == '"') {
        st->cursor = e + 1;
        if (e >= st->end || *e != '"' || !decode_escaped(s + 2, e, cps)) throw_error(st, s, T_FILE);
    } else {
        decode_percent(s + 1, e, cps, true);
    }
    st->token_type = T_FILE;
    if (load) load_text(st, T_FILE, cps);
}

void scan_tag(LexerState* st, const u8* s, const u8* e, u32, bool load) {
    st->cursor = e + 1;
    std::vector<u32> cps;
    if (*s != '<' || !decode_utf8(s + 1, e, cps)) throw_error(st, s, T_TAG);
    if (load) load_text(st, T_TAG, cps);
}

void scan_url(LexerState* st, const u8* s, const u8* e, u32 flags, bool load) {
    if (*s == ':') throw_error(st, s, T_GET_WORD);
    if (*s == '\'') throw_error(st, s, T_LIT_WORD);
    if (!valid_utf8(s, e, flags)) throw_error(st, s, T_URL);
    std::vector<u32> cps;
    decode_percent(s, e, cps);
    if (load) load_text(st, T_URL, cps);
}

void scan_email(LexerState* st, const u8* s, const u8* e, u32, bool load) {
    std::vector<u32> cps;
    if (!decode_utf8(s, e, cps)) throw_error(st, s, T_EMAIL);
    if (load) load_text(st, T_EMAIL, cps);
}

void scan_ref(LexerState* st, const u8* s, const u8* e, u32, bool load) {
    std::vector<u32> cps;
    if (*s != '@' || !decode_utf8(s + 1, e, cps)) throw_error(st, s, T_REF);
    if (load) load_text(st, T_REF, cps);
}

// Binary: base 2, 16 (the default) or 64; blanks, line breaks and comments between digits.
constexpr signed char kBase64[128] = {
    -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1,
    -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, 62,
    -1, -1, -1, 63, 52, 53, 54, 55, 56, 57, 58, 59, 60, 61, -1, -1, -1, -1, -1, -1, -1, 0,
    1,  2,  3,  4,  5,  6,  7,  8,  9,  10, 11, 12, 13, 14, 15, 16, 17, 18, 19, 20, 21, 22,
    23, 24, 25, -1, -1, -1, -1, -1, -1, 26, 27, 28, 29, 30, 31, 32, 33, 34, 35, 36, 37, 38,
    39, 40, 41, 42, 43, 44, 45, 46, 47, 48, 49, 50, 51, -1, -1, -1, -1, -1,
};

bool decode_binary(u32 base, const u8* p, const u8* e, std::string& out) {
    u32 acc = 0, bits = 0, pad = 0, chars = 0;
    for (; p < e; ++p) {
        u8 c = *p;
        if (c == ' ' || c == '\t' || c == '\r' || c == '\n') continue;
        if (c == ';') {
            while (p < e && *p != '\n') ++p;
            continue;
        }
        if (base == 64) {
            if (c == '=') {
                ++pad;
                continue;
            }
            if (pad || c >= 128 || kBase64[c] < 0) return false;
            ++chars;
            acc = ((acc << 6) | u32(kBase64[c])) & 0xFFFFFF;
            bits += 6;
            if (bits >= 8) {
                bits -= 8;
                out.push_back(char((acc >> bits) & 0xFF));
            }
        } else if (base == 16) {
            i32 d = hex_digit(c);
            if (d < 0) return false;
            acc = (acc << 4) | u32(d);
            bits += 4;
            if (bits == 8) {
                out.push_back(char(acc & 0xFF));
                acc = bits = 0;
            }
        } else {
            if (c != '0' && c != '1') return false;
            acc = (acc << 1) | u32(c - '0');
            if (++bits == 8) {
                out.push_back(char(acc & 0xFF));
                acc = bits = 0;
            }
        }
    }
    // A final base-64 group holds 2 to 4 characters, padded to 4 when padding is written.
    if (base == 64) return chars % 4 != 1 && pad <= 2 && (pad == 0 || (chars + pad) % 4 == 0);
    return bits == 0;
}

void scan_binary(LexerState* st, const u8* s, const u8* e, u32, bool load) {
    st->cursor = e + 1;
    const u8* hash = s;
    while (hash < e && *hash != '#') ++hash;
    if (hash + 1 >= e + 1 || hash[1] != '{') throw_error(st, s, T_BINARY);
    u32 base = 16;
    if (hash > s) {
        u32 b = 0;
        for (const u8* p = s; p < hash; ++p) {
            if (*p < '0' || *p > '9' || b > 100) throw_error(st, s, T_BINARY);
            b = b * 10 + u32(*p - '0');
        }
        base = b;
    }
    if (base != 2 && base != 16 && base != 64) throw_error(st, s, T_BINARY);
    std::string bytes;
    if (!decode_binary(base, hash + 2, e, bytes)) throw_error(st, s, T_BINARY);
    if (!load) return;
    require_built(st, T_BINARY);
    u32 i = append_value(st);
    Node node = alloc_bytes(u32(bytes.size()));
    SeriesBuffer* b = buffer_of(node);
    if (!bytes.empty()) std::memcpy(b->data(), bytes.data(), bytes.size());
    b->tail = b->offset + u32(bytes.size());
    Cell* c = value_at(i);
    set_cell(c, T_BINARY | (c->header & CELL_NEW_LINE), 0, node, 0);
}

}  // namespace

const Scanner g_scanners[KIND_COUNT] = {
    scan_end,         scan_error,      scan_block_open, scan_block_close, scan_paren_open,
    scan_paren_close, scan_brace_open, scan_brace_close, scan_map_open,   scan_path_head,
    scan_construct,   scan_comment,    scan_comma,      scan_string,      scan_word,
    scan_issue,       scan_integer,    scan_refinement, scan_char,        scan_file,
    scan_binary,      scan_percent,    scan_float,      scan_float_special, scan_tuple,
    scan_date,        scan_pair,       scan_point,      scan_time,        scan_money,
    scan_tag,         scan_url,        scan_email,      scan_hex_integer, scan_raw_string,
    scan_ref,
};

}  // namespace kel::lex
