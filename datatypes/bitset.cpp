// bitset!: sets of bits (character classes, small non-negative integers), built from specs,
// tested, edited and combined, including complemented sets.
//
// Every operation keeps one meaning whatever the representation: a bit is a member when it
// is stored as 1, or when it lies beyond the stored bytes of a complemented set. Operations
// that meet bits beyond the stored bytes act on what those bits mean, so a complemented
// set grows (with 0xFF) only when one of them must become a non-member.
#include "datatypes/bitset.h"

#include <climits>
#include <cmath>
#include <cstring>

#include "datatypes/binary.h"
#include "datatypes/datatype_init.h"
#include "datatypes/dispatch.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "datatypes/unit.h"
#include "datatypes/walk_guard.h"
#include "runtime/errors.h"
#include "runtime/fatal.h"
#include "runtime/memory.h"
#include "runtime/stack.h"
#include "runtime/symbols.h"

namespace kel::dt {

using namespace rt;

namespace {

// The highest addressable bit: bit numbers are 32-bit integers.
constexpr i64 MAX_BIT = INT32_MAX;

SeriesBuffer* buf(const Cell* bs) { return buffer_of(series_node(bs)); }
u64 used_bytes(const Cell* bs) { return buf(bs)->tail - buf(bs)->offset; }
u8* bits_of(const Cell* bs) { return at(buf(bs)->offset); }
bool complemented(const Cell* bs) { return (buf(bs)->flags & SB_COMPLEMENT) != 0; }

[[noreturn]] void raise_with_type(Err e, const Cell* value) {
    Cell dt_cell;
    set_cell(&dt_cell, T_DATATYPE, T_BITSET);
    raise_error(e, &dt_cell, value);
}

// ---- bit ranges on stored bytes -----------------------------------------------------------

void fill_bits(u8* p, u64 lo, u64 hi, bool on) {
    u64 first = lo >> 3, last = hi >> 3;
    u8 head_mask = u8(0xFF >> (lo & 7)), tail_mask = u8(0xFF << (7 - (hi & 7)));
    auto apply = [&](u64 i, u8 mask) { p[i] = on ? u8(p[i] | mask) : u8(p[i] & ~mask); };
    if (first == last) {
        apply(first, u8(head_mask & tail_mask));
        return;
    }
    apply(first, head_mask);
    if (last > first + 1) std::memset(p + first + 1, on ? 0xFF : 0x00, last - first - 1);
    apply(last, tail_mask);
}

bool all_bits(const u8* p, u64 lo, u64 hi) {
    u64 first = lo >> 3, last = hi >> 3;
    u8 head_mask = u8(0xFF >> (lo & 7)), tail_mask = u8(0xFF << (7 - (hi & 7)));
    if (first == last) return (p[first] & head_mask & tail_mask) == (head_mask & tail_mask);
    if ((p[first] & head_mask) != head_mask || (p[last] & tail_mask) != tail_mask) return false;
    for (u64 i = first + 1; i < last; ++i)
        if (p[i] != 0xFF) return false;
    return true;
}

// bitset-grow: makes `bit` addressable; new bytes are members under the complement flag.
void grow(Cell* bs, u64 bit) {
    u64 need = bit / 8 + 1;
    SeriesBuffer* b = buf(bs);
    u64 used = b->tail - b->offset;
    if (need <= used) return;
    u8 fill = (b->flags & SB_COMPLEMENT) ? 0xFF : 0x00;
    u64 room = b->data_end() - b->offset;
    if (need > room) {
        u64 want = need + (b->offset - b->data_off());
        if (want < u64(b->size) * 2) want = u64(b->size) * 2;
        b = expand_series(b, i64(want));
    }
    std::memset(at(b->offset) + used, fill, need - used);
    b->tail = b->offset + u32(need);
}

// bitset-range: set, clear or test bits lo..hi (test accepts a negative lo: such bits are
// beyond, members only of a complemented set).
void set_range(Cell* bs, i64 lo, i64 hi) {
    if (complemented(bs)) {
        i64 bits = i64(used_bytes(bs) * 8);
        if (lo >= bits) return;
        fill_bits(bits_of(bs), u64(lo), u64(hi < bits ? hi : bits - 1), true);
        return;
    }
    grow(bs, u64(hi));
    fill_bits(bits_of(bs), u64(lo), u64(hi), true);
}

void clear_range(Cell* bs, i64 lo, i64 hi) {
    if (complemented(bs)) {
        grow(bs, u64(hi));
        fill_bits(bits_of(bs), u64(lo), u64(hi), false);
        return;
    }
    i64 bits = i64(used_bytes(bs) * 8);
    if (lo >= bits) return;
    fill_bits(bits_of(bs), u64(lo), u64(hi < bits ? hi : bits - 1), false);
}

bool test_range(const Cell* bs, i64 lo, i64 hi) {
    bool comp = complemented(bs);
    if (lo < 0) {
        if (!comp) return false;
        if (hi < 0) return true;
        lo = 0;
    }
    i64 bits = i64(used_bytes(bs) * 8);
    if (hi >= bits && !comp) return false;
    if (lo >= bits) return true;
    return all_bits(bits_of(bs), u64(lo), u64(hi < bits ? hi : bits - 1));
}

// ---- the spec language --------------------------------------------------------------------

enum SpecOp { SPEC_SIZE, SPEC_SET, SPEC_TEST, SPEC_CLEAR };
enum SpecContext { CTX_MAKE, CTX_TO, CTX_ACTION };

struct Spec {
    Cell* bitset;  // null for the size operation
    SpecOp op;
    SpecContext ctx;
    i64 highest = -1;
};

[[noreturn]] void raise_unsupported(const Spec& s, const Cell* value) {
    if (s.ctx == CTX_MAKE) raise_with_type(Err::script_bad_make_arg, value);
    if (s.ctx == CTX_TO) raise_with_type(Err::script_bad_to_arg, value);
    raise_error(Err::script_invalid_arg, value);
}

bool is_bit_value(u32 t) { return t == T_CHAR || t == T_INTEGER || t == T_FLOAT; }

// The bit a char!, integer! or float! names (a float truncated toward zero). Only test may
// name a negative bit.
i64 bit_number(const Spec& s, const Cell* v) {
    i64 n;
    if (type_of(v) == T_CHAR) n = v->data2;
    else if (type_of(v) == T_INTEGER) n = get_int(v);
    else n = float_to_int_checked(v);
    if (n < 0 && s.op != SPEC_TEST) raise_error(Err::script_out_of_range, v);
    return n;
}

// One bit range under the operation; answers the test result (true for the others).
bool apply_range(Spec& s, i64 lo, i64 hi) {
    switch (s.op) {
        case SPEC_SIZE: if (hi > s.highest) s.highest = hi; return true;
        case SPEC_SET: set_range(s.bitset, lo, hi); return true;
        case SPEC_CLEAR: clear_range(s.bitset, lo, hi); return true;
        case SPEC_TEST: return test_range(s.bitset, lo, hi);
    }
    return true;
}

bool is_range_word(const Cell* v) {
    if (type_of(v) != T_WORD) return false;
    u32 sym = word_symbol(v);
    return symbol_name_length(sym) == 1 && symbol_name(sym)[0] == '-';
}

bool process_spec(Spec& s, Cell* value);

bool process_block(Spec& s, Cell* block) {
    Node node = series_node(block);
    if (walk_in_progress(node)) raise_error(Err::internal_no_cycle);
    WalkGuard guard(node);
    auto count = [&] { return u32((buffer_of(node)->tail - buffer_of(node)->offset) / sizeof(Cell)); };
    // The elements are read through the node each time: set and clear may allocate.
    for (u32 i = u32(series_head(block) < 0 ? 0 : series_head(block)); i < count(); ++i) {
        Cell* v = stack_push(&cells_of(buffer_of(node))[i]);
        u32 t = type_of(v);
        bool ok;
        if ((t == T_CHAR || t == T_INTEGER) && i + 1 < count() && is_range_word(&cells_of(buffer_of(node))[i + 1])) {
            if (i + 2 >= count()) raise_error(Err::script_past_end);
            Cell* high = stack_push(&cells_of(buffer_of(node))[i + 2]);
            if (type_of(high) != t) raise_error(Err::script_invalid_arg, high);
            i64 lo = bit_number(s, v), hi = bit_number(s, high);
            if (hi < lo) raise_error(Err::script_past_end);
            ok = apply_range(s, lo, hi);
            stack_pop(1);
            i += 2;
        } else {
            ok = process_spec(s, v);
        }
        stack_pop(1);
        if (!ok && s.op == SPEC_TEST) return false;
    }
    return true;
}

// bitset-process-spec: the answer of test (true for the other operations).
bool process_spec(Spec& s, Cell* value) {
    u32 t = type_of(value);
    if (is_bit_value(t)) {
        i64 n = bit_number(s, value);
        return apply_range(s, n, n);
    }
    if (t == T_STRING) {
        // Each character acts alone, whatever the others are.
        std::vector<u32> cps = string_code_points(value);
        for (u32 c : cps)
            if (!apply_range(s, c, c) && s.op == SPEC_TEST) return false;
        return true;
    }
    if (t == T_BLOCK) return process_block(s, value);
    if (t == T_BINARY) raise_error(Err::internal_not_done);
    raise_unsupported(s, value);
}

// The byte size a spec needs: the highest bit named, rounded up to whole bytes, at least 1.
u32 spec_size(Cell* spec, SpecContext ctx) {
    Spec s{nullptr, SPEC_SIZE, ctx};
    process_spec(s, spec);
    i64 bytes = (s.highest + 8) / 8;
    return u32(bytes < 1 ? 1 : bytes);
}

bool run_spec(Cell* bs, Cell* spec, SpecOp op, SpecContext ctx) {
    Spec s{bs, op, ctx};
    return process_spec(s, spec);
}

// ---- construction -------------------------------------------------------------------------

// A new bitset over a copy of another's bytes and flags (never its owner record).
Cell* push_bitset_copy(const Cell* bs) {
    Cell* src = stack_push(bs);
    Cell* out = stack_push_slot();
    set_cell(out, T_UNSET);
    Node node = copy_series_buffer(buf(src));
    buffer_of(node)->flags &= ~SB_OWNED;
    set_cell(out, T_BITSET, 0, node, 0);
    *src = *out;
    stack_pop(1);
    return src;
}

bool is_not_word(const Cell* v) {
    if (type_of(v) != T_WORD) return false;
    u32 sym = word_symbol(v);
    return symbol_name_length(sym) == 3 && std::memcmp(symbol_name(sym), "not", 3) == 0;
}

// bitset-make: the body of make and to.
Cell* bitset_make_from(Cell* spec, bool to) {
    SpecContext ctx = to ? CTX_TO : CTX_MAKE;
    Cell* s = stack_push(spec);
    bool comp = false;
    if (type_of(s) == T_BLOCK) {
        SeriesBuffer* b = buf(s);
        u32 head = u32(series_head(s) < 0 ? 0 : series_head(s));
        u32 n = (b->tail - b->offset) / sizeof(Cell);
        if (head < n && is_not_word(&cells_of(b)[head])) {
            comp = true;
            s->data1 = head + 1;
            if (head + 1 < n && type_of(&cells_of(b)[head + 1]) == T_BINARY) *s = cells_of(b)[head + 1];
        }
    }
    Cell* out = stack_push_slot();
    set_cell(out, T_NONE);
    switch (type_of(s)) {
        case T_INTEGER: case T_FLOAT: {
            if (to) raise_with_type(Err::script_bad_to_arg, spec);
            i64 count = float_to_int_checked(s);
            if (count < 0) raise_error(Err::script_out_of_range, spec);
            make_bitset_at(out, u32((count + 7) / 8), false);
            break;
        }
        case T_BITSET:
            *out = *push_bitset_copy(s);
            stack_pop(1);
            break;
        case T_BINARY: {
            u32 n = binary_length(s);
            make_bitset_at(out, n, false);
            std::memcpy(bits_of(out), binary_head_ptr(s), n);
            buf(out)->tail = buf(out)->offset + n;
            if (comp) {
                for (u32 i = 0; i < n; ++i) bits_of(out)[i] = u8(~bits_of(out)[i]);
                buf(out)->flags |= SB_COMPLEMENT;
            }
            break;
        }
        default: {
            u32 size = spec_size(s, ctx);
            make_bitset_at(out, size, comp);
            run_spec(out, s, comp ? SPEC_CLEAR : SPEC_SET, ctx);
            break;
        }
    }
    *s = *out;
    stack_pop(1);
    return s;
}

Cell* bitset_make(Cell*, Cell* spec, u32) { return bitset_make_from(spec, false); }
Cell* bitset_to(Cell*, Cell* spec, u32) { return bitset_make_from(spec, true); }

// ---- text form ----------------------------------------------------------------------------

// "make bitset! #{...}"; a complemented set shows the set it negates: [not #{...}].
i32 bitset_mold(Cell* value, Cell* out, bool, bool, bool, Cell* part, i32 limit, i32) {
    bool comp = complemented(value);
    append_c_string(out, comp ? "make bitset! [not #{" : "make bitset! #{");
    limit -= comp ? 20 : 15;
    for (u64 i = 0, n = used_bytes(value); i < n; ++i) {
        if (part && limit < 0) return limit;
        u8 byte = bits_of(value)[i];
        append_c_chars(out, byte_to_hex(comp ? u8(~byte) : byte), 2);
        limit -= 2;
    }
    append_c_string(out, comp ? "}]" : "}");
    return limit - (comp ? 2 : 1);
}

i32 bitset_form(Cell* value, Cell* out, Cell* part, i32 limit) {
    return bitset_mold(value, out, false, false, false, part, limit, 0);
}

// ---- comparison ---------------------------------------------------------------------------

i32 bitset_compare(Cell* a, Cell* b, i32 op) {
    if (type_of(b) != T_BITSET) return -2;
    if (op == OP_SAME) return series_node(a) == series_node(b) ? 0 : 1;
    u64 na = used_bytes(a), nb = used_bytes(b);
    if (na != nb) return na < nb ? -1 : 1;
    if (na == 0) return 0;
    bool ca = complemented(a), cb = complemented(b);
    if (ca != cb) return cb ? -1 : 1;
    const u8* pa = bits_of(a);
    const u8* pb = bits_of(b);
    for (u64 i = na; i-- > 0;)
        if (pa[i] != pb[i]) return pa[i] < pb[i] ? -1 : 1;
    return 0;
}

// ---- actions ------------------------------------------------------------------------------

Cell* bitset_complement(Cell* value) {
    Cell* out = push_bitset_copy(value);
    SeriesBuffer* b = buf(out);
    b->flags ^= SB_COMPLEMENT;
    for (u8* p = at(b->offset); p < at(b->tail); ++p) *p = u8(~*p);
    return out;
}

void bitset_and() { bitset_set_operation(6); }
void bitset_or() { bitset_set_operation(5); }
void bitset_xor() { bitset_set_operation(7); }

Cell* bitset_append(Cell* series, Cell* value, i32, bool, i32, bool append) {
    Cell* val = stack_push(value);
    bool owned = ownership_check(series, append ? Change::append : Change::insert, val, 0, 0);
    run_spec(series, val, SPEC_SET, CTX_ACTION);
    if (owned) ownership_check(series, append ? Change::appended : Change::inserted, val, 0, 0);
    stack_pop(1);
    return series;
}

// clear: the empty set (of the same stored size, the complement flag off).
Cell* bitset_clear(Cell* series) {
    bool owned = ownership_check(series, Change::clear, nullptr, 0, 0);
    SeriesBuffer* b = buf(series);
    b->flags &= ~SB_COMPLEMENT;
    std::memset(at(b->offset), 0, b->tail - b->offset);
    if (owned) ownership_check(series, Change::cleared, nullptr, 0, 0);
    return series;
}

Cell* bitset_copy(Cell* value, Cell*, Cell*, bool, Cell*) { return push_bitset_copy(value); }

Cell* bitset_find(Cell* series, Cell* value, Cell*, bool, bool, bool, bool, Cell*, Cell*, bool, bool, bool, bool) {
    Cell* v = stack_push(value);
    bool found = run_spec(series, v, SPEC_TEST, CTX_ACTION);
    stack_pop(1);
    return found ? &g_true_cell : &g_none_cell;
}

i32 bitset_length(Cell* series) {
    u64 bits = used_bytes(series) * 8;
    return bits > INT32_MAX ? INT32_MAX : i32(bits);
}

Cell* bitset_pick(Cell* series, i32, Cell* index) {
    Cell* v = stack_push(index);
    bool found = run_spec(series, v, SPEC_TEST, CTX_ACTION);
    stack_pop(1);
    return found ? &g_true_cell : &g_false_cell;
}

bool clears_bits(const Cell* v) {
    switch (type_of(v)) {
        case T_NONE: return true;
        case T_LOGIC: return v->data1 == 0;
        case T_INTEGER: return get_int(v) == 0;
        case T_FLOAT: return get_float(v) == 0.0;
        default: return false;
    }
}

Cell* bitset_poke(Cell* series, i32, Cell* value, Cell* index) {
    Cell* idx = stack_push(index);
    Cell* val = stack_push(value);
    bool owned = ownership_check(series, Change::poke, val, 0, 0);
    run_spec(series, idx, clears_bits(val) ? SPEC_CLEAR : SPEC_SET, CTX_ACTION);
    if (owned) ownership_check(series, Change::poked, val, 0, 0);
    stack_pop(2);
    return value;
}

// remove/part: the named bits stop being members (complemented or not).
Cell* bitset_remove(Cell* series, Cell* part, Cell*) {
    if (!part) raise_error(Err::script_missing_arg);
    Cell* p = stack_push(part);
    bool owned = ownership_check(series, Change::remove, p, 0, 0);
    run_spec(series, p, SPEC_CLEAR, CTX_ACTION);
    if (owned) ownership_check(series, Change::removed, p, 0, 0);
    stack_pop(1);
    return series;
}

Cell* bitset_negate(Cell* value) { return bitset_complement(value); }

Cell* bitset_eval_path(Cell* parent, Cell* element, Cell* value, Cell*, Cell*, Cell*, i32, bool, bool get, bool) {
    u32 t = type_of(element);
    if (t != T_INTEGER && t != T_CHAR) {
        Cell dt_cell;
        set_cell(&dt_cell, T_DATATYPE, t);
        raise_error(Err::script_invalid_type, &dt_cell);
    }
    if (value && !get) return bitset_poke(parent, 0, value, element);
    return bitset_pick(parent, 0, element);
}

void init_bitset() {
    TypeRegistration r(T_BITSET, 0, "bitset!");
    r.set<A_MAKE>(bitset_make).set<A_TO>(bitset_to).set<A_FORM>(bitset_form).set<A_MOLD>(bitset_mold);
    r.set<A_EVAL_PATH>(bitset_eval_path).set<A_COMPARE>(bitset_compare).set<A_NEGATE>(bitset_negate);
    r.set<A_AND_T>(bitset_and).set<A_OR_T>(bitset_or).set<A_XOR_T>(bitset_xor);
    r.set<A_COMPLEMENT>(bitset_complement).set<A_APPEND>(bitset_append).set<A_INSERT>(bitset_append);
    r.set<A_CLEAR>(bitset_clear).set<A_COPY>(bitset_copy).set<A_FIND>(bitset_find);
    r.set<A_LENGTH_Q>(bitset_length).set<A_PICK>(bitset_pick).set<A_POKE>(bitset_poke);
    r.set<A_REMOVE>(bitset_remove);
    // reflect and modify of `owned` are the series! ones: the owner record is keyed by node.
    r.set<A_REFLECT>(handler<A_REFLECT>(T_SERIES)).set<A_MODIFY>(handler<A_MODIFY>(T_SERIES));
    register_datatype(r);
}

}  // namespace

Cell* make_bitset_at(Cell* out, u32 bytes, bool complement) {
    set_cell(out, T_UNSET);  // nothing for the collector to follow while the buffer is made
    Node node = alloc_bytes_filled(bytes ? bytes : 1, complement ? 0xFF : 0x00);
    SeriesBuffer* b = buffer_of(node);
    b->tail = b->offset + bytes;
    if (complement) b->flags |= SB_COMPLEMENT;
    set_cell(out, T_BITSET, 0, node, 0);
    return out;
}

bool bitset_has_bit(const Cell* bitset, u64 bit) {
    if (bit >= used_bytes(bitset) * 8) return complemented(bitset);
    return (bits_of(bitset)[bit >> 3] & (0x80 >> (bit & 7))) != 0;
}

bool bitset_complemented(const Cell* bitset) { return complemented(bitset); }

void bitset_byte_table(const Cell* bitset, u8 table[32]) {
    u64 n = used_bytes(bitset) < 32 ? used_bytes(bitset) : 32;
    std::memcpy(table, bits_of(bitset), n);
    std::memset(table + n, complemented(bitset) ? 0xFF : 0, 32 - n);
}

void bitset_set_operation(i32 code) {
    Cell* left = g_args.base;
    Cell* right = g_args.base + 1;
    if (code == 8) return;
    if (type_of(right) != T_BITSET) {
        Cell dt_cell;
        set_cell(&dt_cell, T_DATATYPE, type_of(right));
        raise_error(Err::script_invalid_type, &dt_cell);
    }
    auto combine = [code](u8 a, u8 b) -> u8 {
        switch (code) {
            case 5: case 9: return u8(a | b);
            case 6: case 10: return u8(a & b);
            case 7: case 12: return u8(a ^ b);
            case 11: return u8(a & ~b);
            default: runtime_quit(101, 0);
        }
    };
    u64 nl = used_bytes(left), nr = used_bytes(right);
    bool cl = complemented(left), cr = complemented(right);
    // Bytes beyond an operand stand for what they mean: all members when it is complemented.
    u8 beyond_l = cl ? 0xFF : 0x00, beyond_r = cr ? 0xFF : 0x00;
    bool comp = combine(beyond_l, beyond_r) != 0;
    u64 n = nl > nr ? nl : nr;
    // and~ is as long as a shorter plain operand: the bytes past it would all be zero.
    if (code == 6 && ((nl < nr && !cl) || (nr < nl && !cr))) n = nl < nr ? nl : nr;
    Cell* out = stack_push_slot();
    make_bitset_at(out, u32(n), false);
    const u8* pl = bits_of(left);
    const u8* pr = bits_of(right);
    u8* w = bits_of(out);
    for (u64 i = 0; i < n; ++i) w[i] = combine(i < nl ? pl[i] : beyond_l, i < nr ? pr[i] : beyond_r);
    if (comp) buf(out)->flags |= SB_COMPLEMENT;
    *left = *out;
    stack_pop(1);
}

KEL_DATATYPE(T_BITSET, init_bitset);

}  // namespace kel::dt
