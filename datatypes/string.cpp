// string! character layer: units, widening, storing, concatenation, comparison, loading.
#include "datatypes/string.h"

#include <cstring>

#include "datatypes/registry.h"
#include "runtime/casefold.h"
#include "runtime/errors.h"
#include "runtime/fatal.h"
#include "runtime/console_out.h"
#include "runtime/series.h"
#include "runtime/stack.h"
#include "runtime/unicode.h"

namespace kel::dt {

using namespace rt;

namespace {

inline u32 shift_of(const SeriesBuffer* b) { return unit_shift(b->unit()); }
inline u32 total_chars(const SeriesBuffer* b) { return (b->tail - b->offset) >> shift_of(b); }

void check_unit(u32 unit) {
    if (unit != 1 && unit != 2 && unit != 4) fatal_no_switch();
}

}  // namespace

// ---- construction -----------------------------------------------------------------------

Cell* make_string_at(Cell* out, u32 capacity, u32 type) {
    return make_string_buffer_at(out, capacity, 1, type);
}

Cell* make_string_buffer_at(Cell* out, u32 capacity, u32 unit, u32 type) {
    set_cell(out, T_UNSET);  // nothing for the collector to follow while the buffer is made
    Node n = alloc_codepoints(capacity ? capacity : 1, unit);
    set_cell(out, type, 0, n, 0);
    return out;
}

Cell* push_string(u32 capacity) {
    Cell* slot = stack_push_slot();
    return make_string_at(slot, capacity);
}

Cell* push_string_copy(const Cell* str) { return stack_push(str); }

Cell* push_string_from(const std::vector<u32>& cps) {
    Cell* s = push_string(u32(cps.size()));
    for (u32 cp : cps) append_char(s, cp);
    return s;
}

// ---- reading ----------------------------------------------------------------------------

u32 string_length(const Cell* str) {
    SeriesBuffer* b = buffer_of(series_node(str));
    i64 len = i64(total_chars(b)) - clamped_head(str);
    return len < 0 ? 0 : u32(len);
}

u32 string_length_clamp(Cell* str) {
    SeriesBuffer* b = buffer_of(series_node(str));
    i32 total = i32(total_chars(b));
    if (series_head(str) > total) str->data1 = u32(total);
    return u32(total - i32(clamped_head(str)));
}

u32 ks_abs_length(const Cell* str) { return total_chars(buffer_of(series_node(str))); }

u32 string_char_at(const Cell* str, u32 i) { return string_char_at_abs(str, clamped_head(str) + i); }

u32 string_char_at_abs(const Cell* str, u32 i) {
    SeriesBuffer* b = buffer_of(series_node(str));
    u32 unit = b->unit();
    check_unit(unit);
    return get_char_at(at(b->offset) + (size_t(i) << shift_of(b)), unit);
}

u8* string_head_ptr(Cell* str) {
    SeriesBuffer* b = buffer_of(series_node(str));
    u32 total = total_chars(b);
    if (series_head(str) > i32(total)) str->data1 = total;
    return at(b->offset) + (size_t(clamped_head(str)) << shift_of(b));
}

u8* string_tail_ptr(const Cell* str) { return at(buffer_of(series_node(str))->tail); }

bool string_tail_q(const Cell* str) { return string_length(str) == 0; }

i32 string_find_char(const Cell* str, u32 cp) {
    u32 n = string_length(str);
    for (u32 i = 0; i < n; ++i)
        if (string_char_at(str, i) == cp) return i32(i);
    return -1;
}

bool string_find_char_skip(const Cell* str, u32 cp, u32 skip, bool case_sensitive) {
    if (skip < 1) skip = 1;
    u32 n = string_length(str);
    u32 want = case_sensitive ? cp : case_fold_char(cp, false);
    for (u32 i = 0; i < n; i += skip) {
        u32 c = string_char_at(str, i);
        if ((case_sensitive ? c : case_fold_char(c, false)) == want) return true;
    }
    return false;
}

bool string_match_c_string_q(const Cell* str, const char* s) {
    u32 len = u32(std::strlen(s));
    if (string_length(str) < len) return false;
    for (u32 i = 0; i < len; ++i)
        if (string_char_at(str, i) != u8(s[i])) return false;
    return true;
}

bool string_char_in_bitset_q(const Cell* str, const Cell* bitset) {
    if (string_length(str) == 0) return false;
    u32 cp = string_char_at(str, 0);
    SeriesBuffer* bb = buffer_of(series_node(bitset));
    u32 bytes = bb->tail - bb->offset;
    if (u64(cp) >= u64(bytes) * 8) return (bb->flags & SB_COMPLEMENT) != 0;
    return (at(bb->offset)[cp >> 3] & (0x80 >> (cp & 7))) != 0;
}

bool string_tag_at_q(const Cell* str, const Cell* tag) {
    u32 n = string_length(str);
    u32 len = string_length(tag);
    return n >= len + 2 && string_char_at(str, 0) == '<' && string_char_at(str, len + 1) == '>';
}

std::vector<u32> string_code_points(const Cell* str, i32 limit) {
    u32 n = string_length(str);
    if (limit >= 0 && u32(limit) < n) n = u32(limit);
    std::vector<u32> out(n);
    SeriesBuffer* b = buffer_of(series_node(str));
    u32 unit = b->unit();
    check_unit(unit);
    const u8* p = at(b->offset) + (size_t(clamped_head(str)) << shift_of(b));
    for (u32 i = 0; i < n; ++i) out[i] = get_char_at(p + (size_t(i) << shift_of(b)), unit);
    return out;
}

// ---- writing ----------------------------------------------------------------------------

SeriesBuffer* string_widen_to(SeriesBuffer* b, u32 unit) {
    u32 cur = b->unit();
    check_unit(cur);
    if (unit <= cur) return b;
    if (cur == 1) return unit == 2 ? widen_latin1_to_ucs2(b) : widen_latin1_to_ucs4(b);
    return widen_ucs2_to_ucs4(b);
}

SeriesBuffer* string_reserve(SeriesBuffer* b, u64 extra) {
    u64 used = b->tail - b->offset;
    if (u64(b->tail) + extra <= b->data_end()) return b;
    u64 need = used + extra;
    u64 size = u64(b->size) * 2;
    if (size < need) size = need;
    if (size > 0x7FFFFFF0) {
        if (need > 0x7FFFFFF0) raise_error(Err::internal_no_memory);
        size = need;
    }
    return expand_series(b, i64(size));
}

SeriesBuffer* buffer_append_char(SeriesBuffer* b, u32 cp) {
    u32 unit = b->unit();
    check_unit(unit);
    u32 need = append_unit_for(cp);
    if (need > unit) {
        b = string_widen_to(b, need);
        unit = need;
    }
    put_char_at(buffer_reserve(b, unit), unit, cp);
    return b;
}

void append_char(Cell* str, u32 cp) { buffer_append_char(buffer_of(series_node(str)), cp); }

void append_c_string(Cell* str, const char* s) { append_c_chars(str, s, u32(std::strlen(s))); }

void append_c_chars(Cell* str, const char* s, u32 n) {
    SeriesBuffer* b = buffer_of(series_node(str));
    for (u32 i = 0; i < n; ++i) b = buffer_append_char(b, u8(s[i]));
}

void append_utf8(Cell* str, const char* s) {
    const u8* p = reinterpret_cast<const u8*>(s);
    SeriesBuffer* b = buffer_of(series_node(str));
    while (*p) {
        u32 cp = *p++;
        int more = cp >= 0xF0 ? 3 : cp >= 0xE0 ? 2 : cp >= 0xC0 ? 1 : 0;
        if (more) cp &= 0x3F >> more;
        while (more-- > 0 && (*p & 0xC0) == 0x80) cp = cp << 6 | (*p++ & 0x3F);
        b = buffer_append_char(b, cp);
    }
}

SeriesBuffer* string_poke_char_at(SeriesBuffer* b, u32 index, u32 cp) {
    u32 need = poke_unit_for(cp);
    if (need > b->unit()) b = string_widen_to(b, need);
    u32 unit = b->unit();
    u32 total = total_chars(b);
    if (index >= total) {
        // At (or past) the tail: one more unit, zero-filling any gap.
        b = string_reserve(b, u64(index - total + 1) << shift_of(b));
        std::memset(at(b->tail), 0, size_t(index - total) << shift_of(b));
        b->tail = b->offset + ((index + 1) << shift_of(b));
    }
    put_char_at(at(b->offset) + (size_t(index) << shift_of(b)), unit, cp);
    return b;
}

void string_poke_char(Cell* str, u32 index, u32 cp) { string_poke_char_at(buffer_of(series_node(str)), index, cp); }

SeriesBuffer* string_insert_char(SeriesBuffer* b, u32 index, u32 cp) {
    u32 need = poke_unit_for(cp);
    if (need > b->unit()) b = string_widen_to(b, need);
    u32 unit = b->unit();
    b = string_reserve(b, unit);
    u32 total = total_chars(b);
    if (index > total) index = total;
    u8* pos = at(b->offset) + (size_t(index) << shift_of(b));
    std::memmove(pos + unit, pos, size_t(total - index) << shift_of(b));
    b->tail += unit;
    put_char_at(pos, unit, cp);
    return b;
}

void string_remove_chars(Cell* str, u32 index, u32 count) {
    SeriesBuffer* b = buffer_of(series_node(str));
    u32 total = total_chars(b);
    if (index >= total || count == 0) return;
    if (count > total - index) count = total - index;
    u32 sh = shift_of(b);
    u8* pos = at(b->offset) + (size_t(index) << sh);
    std::memmove(pos, pos + (size_t(count) << sh), size_t(total - index - count) << sh);
    b->tail -= count << sh;
}

void truncate_series_at(SeriesBuffer* b, u32 n) {
    u64 bytes = u64(n) << shift_of(b);
    if (b->size >= bytes && b->offset + bytes < b->tail) b->tail = b->offset + u32(bytes);
}

void string_reset(Cell* str) {
    SeriesBuffer* b = buffer_of(series_node(str));
    b->tail = b->offset;
    b->flags = (b->flags & ~SB_UNIT_MASK) | 1;
    str->data1 = 0;
}

void string_move_chars(Cell* source, Node target, u32 index, u32 count) {
    std::vector<u32> run = string_code_points(source, i32(count));
    SeriesBuffer* t = buffer_of(target);
    for (u32 i = 0; i < run.size(); ++i) t = string_insert_char(t, index + i, run[i]);
    string_remove_chars(source, clamped_head(source), u32(run.size()));
}

void string_concatenate(Cell* dst, const Cell* src, i32 part, i32 offset, bool keep_source, i32 mode) {
    // TODO(symbols): a symbol! source is read from its cached string once symbols exist.
    (void)keep_source;  // the source is never widened: characters convert as they are copied
    u32 n = string_length(src);
    if (part >= 0 && u32(part) < n) n = u32(part);
    if (n == 0) return;
    Node dnode = series_node(dst);
    Node snode = series_node(src);
    u32 src_head = clamped_head(src);
    SeriesBuffer* d = buffer_of(dnode);
    u32 su = buffer_of(snode)->unit();
    check_unit(su);
    if (su > d->unit()) d = string_widen_to(d, su);
    u32 du = d->unit();
    u32 dsh = unit_shift(du);
    u64 bytes = u64(n) << dsh;
    d = string_reserve(d, bytes);

    u32 total = total_chars(d);
    u32 pos = total;
    if (mode != CONCAT_APPEND) {
        i64 p = i64(clamped_head(dst)) + offset;
        pos = p < 0 ? 0 : p > i64(total) ? total : u32(p);
    }
    // A source in the destination's own buffer is copied aside first: the insert shift
    // could move it.
    std::vector<u8> aside;
    const u8* s;
    SeriesBuffer* sb = buffer_of(snode);
    u32 ssh = shift_of(sb);
    if (snode == dnode) {
        const u8* from = at(sb->offset) + (size_t(src_head) << ssh);
        aside.assign(from, from + (size_t(n) << ssh));
        s = aside.data();
    } else {
        s = at(sb->offset) + (size_t(src_head) << ssh);
    }
    u8* base = at(d->offset);
    if (mode == CONCAT_INSERT) {
        std::memmove(base + (size_t(pos) << dsh) + bytes, base + (size_t(pos) << dsh), size_t(total - pos) << dsh);
    }
    u8* w = base + (size_t(pos) << dsh);
    if (su == du) {
        std::memmove(w, s, size_t(bytes));
    } else {
        for (u32 i = 0; i < n; ++i) put_char_at(w + (size_t(i) << dsh), du, get_char_at(s + (size_t(i) << ssh), su));
    }
    u32 new_total = mode == CONCAT_OVERWRITE ? (pos + n > total ? pos + n : total) : total + n;
    d->tail = d->offset + (new_total << dsh);
}

// ---- comparison -------------------------------------------------------------------------

i32 compare_string_values(const Cell* a, const Cell* b, i32 op, bool match) {
    if (series_node(a) == series_node(b) && series_head(a) == series_head(b)) {
        if (op == 9 || op == 0 || op == 1 || op == 2 || op == 12) return 0;
    } else if (op == 9) {
        return -1;
    }
    // TODO(symbols): symbol! operands are read from their cached strings once symbols exist.
    u32 len1 = string_length(a);
    u32 len2 = string_length(b);
    u32 n;
    if (match) {
        if (len2 == 0) return op == 12 ? 1 : 0;
        if (len2 > len1) return 1;
        n = len2;
    } else {
        if (len1 != len2 && (op == 0 || op == 1 || op == 2 || op == 12)) return 1;
        if (len1 != len2 && len2 == 0) return 1;
        n = len1 < len2 ? len1 : len2;
        if (n == 0) return len1 == len2 ? 0 : -1;
    }
    bool fold = op != 2 && op != 8;
    SeriesBuffer* ba = buffer_of(series_node(a));
    SeriesBuffer* bb = buffer_of(series_node(b));
    u32 ua = ba->unit(), ub = bb->unit();
    check_unit(ua);
    check_unit(ub);
    const u8* pa = at(ba->offset) + (size_t(clamped_head(a)) << unit_shift(ua));
    const u8* pb = at(bb->offset) + (size_t(clamped_head(b)) << unit_shift(ub));
    u32 c1 = 0, c2 = 0;
    for (u32 i = 0; i < n; ++i) {
        c1 = get_char_at(pa + (size_t(i) << unit_shift(ua)), ua);
        c2 = get_char_at(pb + (size_t(i) << unit_shift(ub)), ub);
        if (fold) {
            c1 = case_fold_char(c1, false);
            c2 = case_fold_char(c2, false);
        }
        if (c1 != c2) break;
    }
    if (c1 == c2 && !match) return len1 < len2 ? -1 : len1 > len2 ? 1 : 0;
    return c1 < c2 ? -1 : c1 > c2 ? 1 : 0;
}

bool string_match_value_q(Cell* str, const Cell* value, i32 op) {
    u32 t = type_of(value);
    if (is_plain_text_type(t)) return compare_string_values(str, value, op, true) == 0;
    if (t == T_CHAR) {
        if (string_length(str) == 0) return false;
        u32 c = string_char_at(str, 0);
        u32 v = value->data2;
        if (op == 2) return c == v;
        return case_fold_char(c, false) == case_fold_char(v, false);
    }
    if (t == T_TAG) {
        if (!string_tag_at_q(str, value)) return false;
        str->data1 += 1;
        bool m = compare_string_values(str, value, op, true) == 0;
        str->data1 -= 1;
        return m;
    }
    return false;
}

// ---- loading ----------------------------------------------------------------------------

namespace {

// Strict UTF-8: no overlong forms, no surrogates, nothing above 0x10FFFF.
// TODO(unicode): use the Unicode layer's load_utf8 once it lands.
bool g_error_keeps_rest = false;  // the error argument holds every byte from the fault on

[[noreturn]] void raise_bad_utf8(const u8* p, u32 left) {
    u32 n = g_error_keeps_rest || left < 4 ? left : 4;
    Cell bin;
    Node node = alloc_bytes(n);
    SeriesBuffer* b = buffer_of(node);
    std::memcpy(at(b->offset), p, n);
    b->tail = b->offset + n;
    set_cell(&bin, T_BINARY, 0, node, 0);
    raise_error(Err::access_invalid_utf8, &bin);
}

}  // namespace

Cell* load_string_at(const u8* bytes, u32 length, Cell* out, i32 encoding) {
    if (encoding != 0 && encoding != -1) {
        print_c_line("*** Loading Error: input encoding unsupported");
        process_exit(1);
    }
    if (!out) out = stack_push_slot();
    make_string_at(out, length);
    SeriesBuffer* b = buffer_of(series_node(out));
    if (encoding == -1) {
        u32 i = 0;
        while (i + 1 < length) {
            u32 u = bytes[i] | u32(bytes[i + 1]) << 8;
            i += 2;
            if (u >= 0xD800 && u <= 0xDBFF && i + 1 < length) {
                u32 lo = bytes[i] | u32(bytes[i + 1]) << 8;
                if (lo >= 0xDC00 && lo <= 0xDFFF) {
                    u = 0x10000 + ((u & 0x3FF) << 10) + (lo & 0x3FF);
                    i += 2;
                } else {
                    raise_bad_utf8(bytes + i - 2, length - i + 2);
                }
            } else if (u >= 0xD800 && u <= 0xDFFF) {
                raise_bad_utf8(bytes + i - 2, length - i + 2);
            }
            b = buffer_append_char(b, u);
        }
        return out;
    }
    u32 i = 0;
    if (length >= 3 && bytes[0] == 0xEF && bytes[1] == 0xBB && bytes[2] == 0xBF) i = 3;
    while (i < length) {
        u32 c = bytes[i];
        u32 need, cp, min;
        if (c < 0x80) { b = buffer_append_char(b, c); ++i; continue; }
        if (c >= 0xC2 && c <= 0xDF) { need = 1; cp = c & 0x1F; min = 0x80; }
        else if (c >= 0xE0 && c <= 0xEF) { need = 2; cp = c & 0x0F; min = 0x800; }
        else if (c >= 0xF0 && c <= 0xF4) { need = 3; cp = c & 0x07; min = 0x10000; }
        else raise_bad_utf8(bytes + i, length - i);
        if (length - i <= need) raise_bad_utf8(bytes + i, length - i);
        for (u32 k = 1; k <= need; ++k) {
            u32 cc = bytes[i + k];
            if ((cc & 0xC0) != 0x80) raise_bad_utf8(bytes + i, length - i);
            cp = cp << 6 | (cc & 0x3F);
        }
        if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) raise_bad_utf8(bytes + i, length - i);
        b = buffer_append_char(b, cp);
        i += need + 1;
    }
    return out;
}

Cell* load_string(const u8* bytes, u32 length, i32 encoding) { return load_string_at(bytes, length, nullptr, encoding); }

Cell* string_from_binary_bytes(const u8* bytes, u32 length) {
    struct Restore {
        ~Restore() { g_error_keeps_rest = false; }
    } restore;
    g_error_keeps_rest = true;
    return load_string_at(bytes, length, nullptr, 0);
}

// ---- hexadecimal helpers ----------------------------------------------------------------

namespace {
// "00000000" with its NUL, then a two-character area.
char g_hex_area[8 + 1 + 3] = "00000000";
constexpr const char* HEX_DIGITS = "0123456789ABCDEF";
}  // namespace

const char* byte_to_hex(u32 value) {
    char* out = g_hex_area + 9;
    out[0] = HEX_DIGITS[(value >> 4) & 0xF];
    out[1] = HEX_DIGITS[value & 0xF];
    out[2] = 0;
    return out;
}

const char* int_to_hex(i32 value, bool strip) {
    char* buf = g_hex_area;
    i32 fill = value < 0 ? -1 : 0;
    i32 pos = 8;
    buf[8] = 0;
    // From the right by arithmetic shifts, until only the sign fill is left.
    while (value != fill && pos > 0) {
        buf[--pos] = HEX_DIGITS[value & 0xF];
        value >>= 4;
    }
    if (strip) {
        if (pos == 8) {  // nothing significant: zero (or all ones)
            buf[6] = buf[7] = fill ? 'F' : '0';
            return buf + 6;
        }
        return buf + pos;
    }
    while (pos > 0) buf[--pos] = fill ? 'F' : '0';
    return buf;
}

void append_char_escape(Cell* out, u32 cp, bool all) {
    if (cp == 30 || (cp >= 128 && cp <= 159) || (all && cp > 127)) {
        append_c_string(out, "^(");
        append_c_string(out, int_to_hex(i32(cp), true));
        append_char(out, ')');
        return;
    }
    u32 caret = 0;
    if (cp < 32) caret = cp == 9 ? '-' : cp == 10 ? '/' : '@' + cp;
    else if (cp == '"') caret = '"';
    else if (cp == '^') caret = '^';
    else if (cp == 127) caret = '~';
    if (caret) {
        append_char(out, '^');
        append_char(out, caret);
    } else {
        append_char(out, cp);
    }
}

void refinement_word(const char* name, Cell* out) {
    set_cell(out, T_NONE);
    if (g_load_word_hook) g_load_word_hook(name, out);
}

}  // namespace kel::dt
