// binary!: byte series. Positioning and most series actions are string!'s (inherited at
// registration); this module has the byte primitives, the text form, comparison, the
// conversions, the editing actions that write bytes, the bitwise actions and trim.
#include "datatypes/binary.h"

#include <climits>
#include <cmath>
#include <cstring>

#include "datatypes/block.h"
#include "datatypes/datatype_init.h"
#include "datatypes/dispatch.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "datatypes/string_actions.h"
#include "datatypes/walk_guard.h"
#include "runtime/base_codec.h"
#include "runtime/errors.h"
#include "runtime/series.h"
#include "runtime/stack.h"
#include "runtime/unicode.h"

namespace kel::dt {

using namespace rt;

namespace {

constexpr u64 MAX_BINARY_BYTES = 0x7FFFFFF0;

SeriesBuffer* buf(const Cell* bin) { return buffer_of(series_node(bin)); }
u32 total_bytes(const Cell* bin) { return buf(bin)->tail - buf(bin)->offset; }
u32 head_of(const Cell* bin) {
    i32 h = series_head(bin);
    u32 total = total_bytes(bin);
    return h < 0 ? 0 : u32(h) > total ? total : u32(h);
}
// A head beyond the tail is pulled back to it.
void clamp_head(Cell* bin) {
    if (series_head(bin) > i32(total_bytes(bin))) bin->data1 = total_bytes(bin);
}

[[noreturn]] void raise_with_type(Err e, u32 type, const Cell* value) {
    Cell dt_cell;
    set_cell(&dt_cell, T_DATATYPE, type);
    raise_error(e, &dt_cell, value);
}

void append_utf8_char(std::vector<u8>& out, u32 cp) {
    u8 tmp[4];
    u32 n = utf8_encode_char(cp, tmp);
    out.insert(out.end(), tmp, tmp + n);
}

// The UTF-8 bytes of a text value's characters from its head, at most `limit` characters.
void text_bytes(std::vector<u8>& out, const Cell* text, i64 limit) {
    SeriesBuffer* b = buf(text);
    u32 unit = b->unit();
    u32 sh = unit_shift(unit);
    u32 total = (b->tail - b->offset) >> sh;
    u32 head = series_head(text) < 0 ? 0 : u32(series_head(text));
    if (head >= total) return;
    u64 n = total - head;
    if (limit >= 0 && u64(limit) < n) n = u64(limit);
    const u8* p = at(b->offset) + (size_t(head) << sh);
    if (unit == 1) {
        for (u64 i = 0; i < n; ++i) {
            if (p[i] < 0x80) out.push_back(p[i]);
            else append_utf8_char(out, p[i]);
        }
        return;
    }
    for (u64 i = 0; i < n; ++i) append_utf8_char(out, get_char_at(p + (i << sh), unit));
}

// Value-bytes modes: change forms what has no bytes of its own; the others refuse it.
enum BytesMode { BYTES_APPEND = 0, BYTES_CHANGE = 2 };

// binary-value-bytes: the bytes a value contributes, gathered before the target is touched.
// `limit` (-1 = none) cuts them; for a block it counts elements unless `limit_bytes`.
void value_bytes(std::vector<u8>& out, Cell* value, i64 limit, bool limit_bytes, BytesMode mode) {
    u32 t = type_of(value);
    size_t start = out.size();
    auto cut = [&] {
        if (limit >= 0 && out.size() - start > u64(limit)) out.resize(start + size_t(limit));
    };
    switch (t) {
        case T_CHAR:
            append_utf8_char(out, value->data2);
            cut();
            return;
        case T_INTEGER: {
            i32 v = get_int(value);
            if (v > 255 || v < -128) raise_error(Err::script_invalid_arg, value);
            out.push_back(u8(v));
            cut();
            return;
        }
        case T_BINARY: {
            SeriesBuffer* b = buf(value);
            u32 head = head_of(value);
            out.insert(out.end(), at(b->offset) + head, at(b->tail));
            cut();
            return;
        }
        case T_TUPLE: {
            u32 n = (value->header >> 19) & 0xF;
            const u8* p = reinterpret_cast<const u8*>(&value->data1);
            out.insert(out.end(), p, p + (n > 12 ? 12 : n));
            cut();
            return;
        }
        case T_BLOCK: case T_PAREN: case T_HASH: {
            Node node = series_node(value);
            if (walk_in_progress(node)) raise_error(Err::internal_no_cycle);
            WalkGuard guard(node);
            Cell* blk = stack_push(value);
            i64 left = limit >= 0 ? limit : INT64_MAX;
            for (u32 i = u32(series_head(blk) < 0 ? 0 : series_head(blk)); left > 0; ++i) {
                SeriesBuffer* b = buffer_of(node);
                if (i >= (b->tail - b->offset) / sizeof(Cell)) break;
                Cell* elem = stack_push(&cells_of(b)[i]);
                size_t before = out.size();
                value_bytes(out, elem, limit_bytes ? left : -1, limit_bytes, mode);
                stack_pop(1);
                left -= limit_bytes ? i64(out.size() - before) : 1;
            }
            stack_pop(1);
            return;
        }
        default: break;
    }
    if (is_any_string_type(t)) {
        text_bytes(out, value, limit);
        cut();
        return;
    }
    if (mode != BYTES_CHANGE) raise_with_type(Err::script_bad_to_arg, T_BINARY, value);
    Cell* v = stack_push(value);
    Cell* tmp = push_string(16);
    form_dispatch(v, tmp, nullptr, INT_MAX);
    text_bytes(out, tmp, -1);
    stack_pop(2);
    cut();
}

// Replaces `removed` bytes at `pos` (from the buffer's start) by `dup` copies of `bytes`;
// answers the bytes written. Growth at least doubles the buffer.
u64 splice_bytes(Cell* bin, u32 pos, u32 removed, const std::vector<u8>& bytes, i32 dup) {
    u64 copies = dup >= 2 ? u64(dup) : 1;
    u64 written = u64(bytes.size()) * copies;
    SeriesBuffer* b = buf(bin);
    u32 total = b->tail - b->offset;
    if (pos > total) pos = total;
    if (removed > total - pos) removed = total - pos;
    u64 new_total = u64(total) - removed + written;
    if (written > MAX_BINARY_BYTES || new_total > MAX_BINARY_BYTES) raise_error(Err::internal_no_memory);
    if (written == 0 && removed == 0) return 0;
    if (new_total + (b->offset - b->data_off()) > b->size) {
        u64 want = new_total + (b->offset - b->data_off());
        if (want < u64(b->size) * 2) want = u64(b->size) * 2;
        if (want > MAX_BINARY_BYTES) want = MAX_BINARY_BYTES;
        b = expand_series(b, i64(want));
    }
    u8* base = at(b->offset);
    std::memmove(base + pos + written, base + pos + removed, total - pos - removed);
    u8* w = base + pos;
    if (!bytes.empty()) std::memcpy(w, bytes.data(), bytes.size());
    // Further copies by doubling.
    for (u64 done = bytes.size(); done < written;) {
        u64 n = done < written - done ? done : written - done;
        std::memcpy(w + done, w, n);
        done += n;
    }
    b->tail = b->offset + u32(new_total);
    return written;
}

// ---- text form --------------------------------------------------------------------------

void append_newline_indent(Cell* out, i32 indent) {
    append_char(out, '\n');
    for (i32 i = 0; i < 4 * indent; ++i) append_char(out, ' ');
}

// binary/serialize: "#{", two digits per byte, "}"; past 30 bytes (unless flat) the bytes
// stand on lines of 32 of their own, and the "}" on the line after them.
i32 binary_serialize(Cell* value, Cell* out, bool only, bool flat, Cell* part, i32 limit, i32 indent) {
    if (!only) {
        append_c_string(out, "#{");
        limit -= 2;
    }
    u32 n = binary_length(value);
    bool lines = n > 30 && !flat;
    if (lines) append_newline_indent(out, indent + 1);
    for (u32 i = 0; i < n; ++i) {
        // The buffer is read again each time: appending to `out` may move any buffer.
        u8 byte = at(buf(value)->offset)[head_of(value) + i];
        append_c_chars(out, byte_to_hex(byte), 2);
        limit -= 2;
        if (part && limit <= 0) return limit;
        if (lines && (i + 1) % 32 == 0 && i + 1 < n) append_newline_indent(out, indent + 1);
    }
    if (lines) append_newline_indent(out, indent);
    if (!only) {
        append_char(out, '}');
        limit -= 1;
    }
    return limit;
}

i32 binary_form(Cell* value, Cell* out, Cell* part, i32 limit) {
    return binary_serialize(value, out, false, false, part, limit, 0);
}

i32 binary_mold(Cell* value, Cell* out, bool only, bool, bool flat, Cell* part, i32 limit, i32 indent) {
    return binary_serialize(value, out, only, flat, part, limit, indent);
}

// ---- comparison -------------------------------------------------------------------------

i32 compare_bytes(const u8* a, u32 na, const u8* b, u32 nb, bool match) {
    if (match) {
        if (nb > na) return 1;
        na = nb;
    }
    u32 n = na < nb ? na : nb;
    if (n) {
        i32 r = std::memcmp(a, b, n);
        if (r) return r < 0 ? -1 : 1;
    }
    return na < nb ? -1 : na > nb ? 1 : 0;
}

i32 binary_compare(Cell* a, Cell* b, i32 op) {
    if (type_of(b) != T_BINARY) return -2;
    return binary_compare_value(a, b, op, false);
}

// ---- make and to ------------------------------------------------------------------------

void push_be(std::vector<u8>& out, u64 v, int n) {
    for (int i = n - 1; i >= 0; --i) out.push_back(u8(v >> (8 * i)));
}

Cell* binary_to(Cell*, Cell* spec, u32) {
    std::vector<u8> bytes;
    switch (type_of(spec)) {
        case T_BLOCK: case T_PAREN: case T_HASH: case T_CHAR: case T_BINARY: case T_TUPLE:
            value_bytes(bytes, spec, -1, false, BYTES_APPEND);
            break;
        case T_INTEGER:
            push_be(bytes, u32(get_int(spec)), 4);
            break;
        case T_FLOAT: case T_PERCENT: {
            double d = get_float(spec);
            u64 bits;
            std::memcpy(&bits, &d, sizeof bits);
            push_be(bytes, bits, 8);
            break;
        }
        case T_ISSUE: {
            u32 sym = word_symbol(spec);
            if (!decode_base16(symbol_name(sym), symbol_name_length(sym), 1, bytes))
                raise_error(Err::script_invalid_data, spec);
            break;
        }
        case T_BITSET: {
            SeriesBuffer* b = buf(spec);
            bytes.assign(at(b->offset), at(b->tail));
            break;
        }
        default:
            if (!is_any_string_type(type_of(spec))) raise_with_type(Err::script_bad_to_arg, T_BINARY, spec);
            text_bytes(bytes, spec, -1);
            break;
    }
    return push_binary_copy(bytes.data(), u32(bytes.size()));
}

// make binary! n gives an empty binary with room for n bytes; any other spec converts.
Cell* binary_make(Cell* proto, Cell* spec, u32 type) {
    if (type_of(spec) == T_INTEGER || type_of(spec) == T_FLOAT) {
        i32 n = type_of(spec) == T_INTEGER ? get_int(spec) : float_to_int_checked(spec);
        if (n < 0) raise_error(Err::script_out_of_range, spec);
        Cell* out = stack_push_slot();
        return make_binary_at(out, u32(n));
    }
    return binary_to(proto, spec, type);
}

// ---- append, insert, change -------------------------------------------------------------

Cell* binary_append(Cell* series, Cell* value, i32 part, bool only, i32 dup, bool append) {
    clamp_head(series);
    Cell* val = stack_push(value);
    std::vector<u8> bytes;
    value_bytes(bytes, val, part, only, BYTES_APPEND);
    if (bytes.empty()) {
        stack_pop(1);
        return series;
    }
    u64 copies = dup >= 2 ? u64(dup) : 1;
    if (u64(bytes.size()) * copies > MAX_BINARY_BYTES) raise_error(Err::internal_no_memory);
    i32 added = i32(bytes.size() * copies);
    u32 total = total_bytes(series);
    u32 head = head_of(series);
    bool owned = append ? ownership_check(series, Change::append, val, i32(total), added)
                        : ownership_check(series, Change::insert, val, i32(head), added);
    // The owner's handler may have changed the series: measure it again.
    total = total_bytes(series);
    head = head_of(series);
    u32 pos = append ? total : head;
    u64 written = splice_bytes(series, pos, 0, bytes, dup);
    if (!append) series->data1 = u32(pos + written);
    if (owned) ownership_check(series, append ? Change::appended : Change::inserted, val, i32(pos), added);
    stack_pop(1);
    return series;
}

Cell* binary_change(Cell* series, Cell* value, i32 part, bool only, i32 dup) {
    clamp_head(series);
    Cell* val = stack_push(value);
    std::vector<u8> bytes;
    value_bytes(bytes, val, -1, only, BYTES_CHANGE);
    u64 copies = dup >= 2 ? u64(dup) : 1;
    u64 written = u64(bytes.size()) * copies;
    if (written > MAX_BINARY_BYTES) raise_error(Err::internal_no_memory);
    u32 head = head_of(series);
    u64 replaced = part >= 0 ? u64(part) : written;
    bool owned = ownership_check(series, Change::change, val, i32(head), i32(replaced > INT_MAX ? INT_MAX : replaced));
    head = head_of(series);
    u32 rest = total_bytes(series) - head;
    if (replaced > rest) replaced = rest;
    splice_bytes(series, head, u32(replaced), bytes, dup);
    u64 end = head + written;
    u32 total = total_bytes(series);
    series->data1 = u32(end > total ? total : end);
    if (owned) ownership_check(series, Change::changed, val, i32(head), i32(replaced));
    stack_pop(1);
    return series;
}

// ---- search and order: bytes, never case-folded -----------------------------------------

// The value find and select look for in a binary: bytes stand for themselves, a number
// for one byte, text for its UTF-8 bytes. Pushed; null when nothing can match.
Cell* byte_needle(Cell* value) {
    u32 t = type_of(value);
    if (t == T_CHAR || t == T_BITSET || t == T_BINARY) return stack_push(value);
    if (t == T_INTEGER || t == T_FLOAT) {
        double v = t == T_INTEGER ? double(get_int(value)) : get_float(value);
        if (!(v >= 0 && v <= 255) || v != std::floor(v)) return nullptr;
        Cell* c = stack_push_slot();
        set_cell(c, T_CHAR, 0, u32(v));
        return c;
    }
    std::vector<u8> bytes;
    value_bytes(bytes, value, -1, false, BYTES_CHANGE);
    return push_binary_copy(bytes.data(), u32(bytes.size()));
}

Cell* binary_find(Cell* series, Cell* value, Cell* part, bool only, bool, bool same, bool any, Cell* with, Cell* skip,
                  bool last, bool reverse, bool tail, bool match) {
    Cell* needle = byte_needle(value);
    if (!needle) return &g_none_cell;
    Cell* r = string_find(series, needle, part, only, true, same, any, with, skip, last, reverse, tail, match);
    if (r == &g_none_cell) {
        stack_pop(1);
        return r;
    }
    *needle = *r;
    stack_pop(1);
    return needle;
}

Cell* binary_select(Cell* series, Cell* value, Cell* part, bool only, bool, bool same, bool any, Cell* with,
                    Cell* skip, bool last, bool reverse) {
    Cell* needle = byte_needle(value);
    if (!needle) return &g_none_cell;
    Cell* r = string_select(series, needle, part, only, true, same, any, with, skip, last, reverse);
    if (r == &g_none_cell) {
        stack_pop(1);
        return r;
    }
    *needle = *r;
    stack_pop(1);
    return needle;
}

Cell* binary_sort(Cell* series, bool, Cell* skip, Cell* comparator, Cell* part, bool all, bool reverse, bool stable) {
    return string_sort(series, true, skip, comparator, part, all, reverse, stable);
}

// ---- bitwise ----------------------------------------------------------------------------

// and~ (6), or~ (5), xor~ (7) on the two argument slots; a new binary as long as the
// longer operand replaces the first.
void binary_bitwise(i32 op) {
    Cell* a = g_args.base;
    Cell* b = g_args.base + 1;
    if (type_of(b) != T_BINARY) raise_error(Err::script_invalid_arg, b);
    u32 na = binary_length(a), nb = binary_length(b);
    u32 n = na > nb ? na : nb;
    Cell* out = stack_push_slot();
    make_binary_at(out, n);
    const u8* pa = binary_head_ptr(a);
    const u8* pb = binary_head_ptr(b);
    u8* w = at(buf(out)->offset);
    u32 common = na < nb ? na : nb;
    for (u32 i = 0; i < common; ++i)
        w[i] = op == 6 ? u8(pa[i] & pb[i]) : op == 5 ? u8(pa[i] | pb[i]) : u8(pa[i] ^ pb[i]);
    const u8* longer = na > nb ? pa : pb;
    if (op == 6) std::memset(w + common, 0, n - common);
    else if (n > common) std::memcpy(w + common, longer + common, n - common);
    buf(out)->tail = buf(out)->offset + n;
    *a = *out;
    stack_pop(1);
}

void binary_and() { binary_bitwise(6); }
void binary_or() { binary_bitwise(5); }
void binary_xor() { binary_bitwise(7); }

Cell* binary_complement(Cell* value) {
    u8* p = binary_head_ptr(value);
    for (u32 i = 0, n = binary_length(value); i < n; ++i) p[i] = u8(~p[i]);
    return value;
}

// ---- trim -------------------------------------------------------------------------------

Cell* binary_trim(Cell* series, bool head, bool tail, bool auto_, bool lines, bool all, Cell* with) {
    clamp_head(series);
    bool set[256] = {};
    bool by_set = all || with;
    if (with) {
        u32 t = type_of(with);
        if (is_any_string_type(t)) {
            for (u32 c : string_code_points(with))
                if (c < 256) set[c] = true;
        } else if (t == T_BINARY) {
            for (u8 c : binary_bytes(with)) set[c] = true;
        } else if (t == T_CHAR || t == T_INTEGER) {
            if (with->data2 < 256) set[with->data2] = true;
        } else {
            raise_error(Err::script_invalid_arg, with);
        }
    } else if (all) {
        set[0] = true;
    } else if (auto_ || lines) {
        raise_error(Err::internal_not_done);
    }
    bool owned = ownership_check(series, Change::trim, nullptr, i32(head_of(series)), i32(binary_length(series)));
    clamp_head(series);
    u8* p = binary_head_ptr(series);
    u32 n = binary_length(series);
    u32 kept = 0;
    if (by_set) {
        for (u32 i = 0; i < n; ++i)
            if (!set[p[i]]) p[kept++] = p[i];
    } else {
        u32 from = 0, to = n;
        if (head || !tail)
            while (from < to && p[from] == 0) ++from;
        if (tail || !head)
            while (to > from && p[to - 1] == 0) --to;
        kept = to - from;
        std::memmove(p, p + from, kept);
    }
    buf(series)->tail = buf(series)->offset + head_of(series) + kept;
    if (owned) ownership_check(series, Change::trimmed, nullptr, i32(head_of(series)), i32(kept));
    return series;
}

void init_binary() {
    TypeRegistration r(T_BINARY, T_STRING, "binary!");
    r.set<A_MAKE>(binary_make).set<A_TO>(binary_to).set<A_FORM>(binary_form).set<A_MOLD>(binary_mold);
    r.set<A_COMPARE>(binary_compare).set<A_AND_T>(binary_and).set<A_OR_T>(binary_or).set<A_XOR_T>(binary_xor);
    r.set<A_COMPLEMENT>(binary_complement).set<A_APPEND>(binary_append).set<A_INSERT>(binary_append);
    r.set<A_CHANGE>(binary_change).set<A_TRIM>(binary_trim);
    r.set<A_FIND>(binary_find).set<A_SELECT>(binary_select).set<A_SORT>(binary_sort);
    for (int a : {A_RANDOM, A_REFLECT, A_EVAL_PATH, A_AT, A_BACK, A_CLEAR, A_COPY, A_HEAD, A_HEAD_Q, A_INDEX_Q,
                  A_LENGTH_Q, A_MOVE, A_NEXT, A_PICK, A_POKE, A_REMOVE, A_REVERSE, A_SKIP, A_SWAP, A_TAIL,
                  A_TAIL_Q, A_TAKE, A_MODIFY})
        r.inherit(a);
    register_datatype(r);
}

}  // namespace

// ---- primitives -------------------------------------------------------------------------

Cell* make_binary_at(Cell* out, u32 capacity) {
    set_cell(out, T_UNSET);  // nothing for the collector to follow while the buffer is made
    Node n = alloc_bytes(capacity ? capacity : 1);
    set_cell(out, T_BINARY, 0, n, 0);
    return out;
}

Cell* push_binary_copy(const void* bytes, u32 n) {
    Cell* out = stack_push_slot();
    make_binary_at(out, n);
    SeriesBuffer* b = buf(out);
    if (n) std::memcpy(at(b->offset), bytes, n);
    b->tail = b->offset + n;
    return out;
}

Cell* load_binary_in(const void* bytes, u32 n, Cell* block) {
    if (!block) return push_binary_copy(bytes, n);
    Cell* blk = stack_push(block);
    Cell* made = push_binary_copy(bytes, n);
    Cell* slot = block_alloc_tail(series_node(blk));
    *slot = *made;
    stack_pop(2);
    return slot;
}

u32 binary_length(const Cell* bin) {
    i32 h = series_head(bin);
    u32 total = total_bytes(bin);
    return h >= 0 && u32(h) < total ? total - u32(h) : h < 0 ? total : 0;
}

u8* binary_head_ptr(const Cell* bin) { return at(buf(bin)->offset) + head_of(bin); }

std::vector<u8> binary_bytes(const Cell* bin) {
    const u8* p = binary_head_ptr(bin);
    return std::vector<u8>(p, p + binary_length(bin));
}

void binary_append_bytes(Cell* bin, const void* bytes, u32 n) {
    if (!n) return;
    SeriesBuffer* b = buf(bin);
    u8* w = buffer_reserve(b, n);
    std::memcpy(w, bytes, n);
}

u8* binary_insert_bytes(Cell* bin, u32 offset, const void* bytes, u32 n) {
    u32 pos = head_of(bin) + offset;
    std::vector<u8> v(static_cast<const u8*>(bytes), static_cast<const u8*>(bytes) + n);
    splice_bytes(bin, pos, 0, v, 1);
    return at(buf(bin)->offset) + (pos > total_bytes(bin) ? total_bytes(bin) : pos);
}

void binary_append_int32_be(Cell* bin, u32 value) {
    u8 b[4] = {u8(value >> 24), u8(value >> 16), u8(value >> 8), u8(value)};
    binary_append_bytes(bin, b, 4);
}

u8 binary_value_to_byte(const Cell* value) {
    if (type_of(value) != T_INTEGER && type_of(value) != T_CHAR) raise_error(Err::script_invalid_arg, value);
    return u8(value->data2);
}

i32 binary_compare_value(const Cell* bin, const Cell* value, i32 op, bool match) {
    u32 t = type_of(value);
    if (t != T_BINARY && !is_any_string_type(t)) return -2;
    if (t == T_BINARY && series_node(bin) == series_node(value)) {
        bool same_pos = head_of(bin) == head_of(value);
        if (op == OP_SAME) return same_pos ? 0 : -1;
        if (same_pos && (op == OP_EQUAL || op == OP_NOT_EQUAL || op == OP_STRICT_EQUAL || op == OP_PUT))
            return 0;
    } else if (op == OP_SAME) {
        return -1;
    }
    std::vector<u8> other;
    if (t == T_BINARY) other = binary_bytes(value);
    else text_bytes(other, value, -1);
    return compare_bytes(binary_head_ptr(bin), binary_length(bin), other.data(), u32(other.size()), match);
}

bool binary_byte_in_bitset_q(const Cell* bin, const Cell* bitset) {
    if (binary_length(bin) == 0) return false;
    u32 byte = *binary_head_ptr(bin);
    SeriesBuffer* b = buf(bitset);
    u32 size = b->tail - b->offset;
    if (byte >= u64(size) * 8) return (b->flags & SB_COMPLEMENT) != 0;
    return (at(b->offset)[byte >> 3] & (0x80 >> (byte & 7))) != 0;
}

bool binary_match_value_q(const Cell* bin, const Cell* value) {
    u32 t = type_of(value);
    if (t == T_CHAR) return binary_length(bin) > 0 && *binary_head_ptr(bin) == value->data2;
    if (t == T_BINARY || is_any_string_type(t)) return binary_compare_value(bin, value, OP_EQUAL, true) == 0;
    return false;
}

Cell* push_debase(const Cell* text, u32 base) {
    SeriesBuffer* b = buf(text);
    u32 unit = b->unit();
    u32 sh = unit_shift(unit);
    u32 total = (b->tail - b->offset) >> sh;
    u32 head = series_head(text) < 0 ? 0 : u32(series_head(text));
    if (head > total) head = total;
    std::vector<u8> bytes;
    if (!decode_base(base, at(b->offset) + (size_t(head) << sh), total - head, unit, bytes)) return nullptr;
    return push_binary_copy(bytes.data(), u32(bytes.size()));
}

Cell* push_enbase(const Cell* bin, u32 base) {
    u64 n = binary_length(bin);
    u64 size = base == 2 ? base2_size(n) : base == 16 ? base16_size(n) : base == 58 ? base58_size(n)
             : base == 64 ? base64_size(n) : 0;
    if (!size && base != 2 && base != 16 && base != 58 && base != 64) return nullptr;
    if (size > MAX_BINARY_BYTES) raise_error(Err::internal_no_memory);
    Cell* src = stack_push(bin);
    Cell* out = push_string(u32(size));
    // Nothing allocates from here on: both buffers stay where they are.
    const u8* p = binary_head_ptr(src);
    char* w = reinterpret_cast<char*>(at(buf(out)->offset));
    char* end = base == 2 ? encode_base2(p, n, w) : base == 16 ? encode_base16(p, n, w)
              : base == 58 ? encode_base58(p, n, w) : encode_base64(p, n, w);
    buf(out)->tail = buf(out)->offset + u32(end - w);
    *src = *out;
    stack_pop(1);
    return src;
}

KEL_DATATYPE(T_BINARY, init_binary);

}  // namespace kel::dt
