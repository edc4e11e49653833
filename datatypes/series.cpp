// series!: navigation, pick/poke, copy, remove, reverse, take, move, random for any series.
#include "datatypes/series.h"

#include <cstring>
#include <vector>

#include "datatypes/datatype_init.h"
#include "datatypes/dispatch.h"
#include "datatypes/hash_index.h"
#include "datatypes/random.h"
#include "datatypes/string.h"
#include "datatypes/unit.h"
#include "runtime/errors.h"
#include "runtime/gc.h"
#include "runtime/hashtable.h"
#include "runtime/series.h"
#include "runtime/stack.h"

namespace kel::dt {

using namespace rt;

bool (*g_ownership_check_hook)(Cell*, Change, const Cell*, i32, i32) = nullptr;
Cell* (*g_ownership_owner_hook)(Cell*) = nullptr;
void (*g_ownership_modify_hook)(Cell*, Cell*) = nullptr;
Cell* (*g_vector_get_value)(const u8*, u32, u32) = nullptr;
void (*g_vector_set_value)(u8*, const Cell*, u32) = nullptr;
Cell* (*g_vector_to_block)(const Cell*, Cell*) = nullptr;

// ---- positions ------------------------------------------------------------------------

i32 ks_buffer_length(const Cell* s) {
    SeriesBuffer* b = series_buffer(s);
    return i32((b->tail - b->offset) >> unit_shift(b->unit()));
}

bool series_tail_q(const Cell* s) { return series_head(s) >= ks_buffer_length(s); }

bool ks_skip(Cell* s, i32 n) {
    i64 pos = i64(series_head(s)) + n;
    i64 total = ks_buffer_length(s);
    if (pos >= 0 && pos <= total) s->data1 = u32(i32(pos));
    return pos >= total;
}

i32 series_length_q(Cell* s, bool whole) {
    i32 total = ks_buffer_length(s);
    i32 head = series_head(s);
    if (head > total) {
        s->data1 = u32(total);
        return 0;
    }
    if (whole || head < 0) head = 0;
    return total - head;
}

i32 series_clamped_head(const Cell* s) {
    i32 head = series_head(s);
    i32 total = ks_buffer_length(s);
    return head < 0 ? 0 : head > total ? total : head;
}

// ---- change notification --------------------------------------------------------------

bool ownership_check(Cell* series, Change event, const Cell* new_value, i32 index, i32 part) {
    if (!(series_buffer(series)->flags & SB_OWNED) || !g_ownership_check_hook) return false;
    return g_ownership_check_hook(series, event, new_value, index, part);
}

// ---- shared helpers -------------------------------------------------------------------

void raise_invalid_refine(RefinementWord refinement, const Cell* arg) {
    // The message names the refinement as a word ("invalid skip argument"), as strings do.
    Cell word = g_refinement_words[refinement];
    word.header = T_WORD;
    raise_error(Err::script_invalid_refine_arg, &word, arg);
}

i32 part_series_count(const Cell* s, const Cell* part) {
    if (type_of(part) != type_of(s) || series_node(part) != series_node(s)) raise_invalid_refine(REF_PART, part);
    return series_head(part) - series_head(s);
}

// A /part argument as a count of units from the head: an integer! as it is, a series of the
// same buffer as the distance to it.
static i32 part_count(const Cell* s, const Cell* part) {
    if (type_of(part) == T_INTEGER) return get_int(part);
    return part_series_count(s, part);
}

namespace {

// The value of the unit at index i, pushed on the argument stack (cells answer themselves).
Cell* element_value(const Cell* s, i32 i) {
    SeriesBuffer* b = series_buffer(s);
    u32 unit = b->unit();
    u8* p = at(b->offset) + (size_t(i) << unit_shift(unit));
    switch (type_of(s)) {
        case T_VECTOR:
            if (!g_vector_get_value) raise_error(Err::internal_not_done);
            return g_vector_get_value(p, unit, s->data3);
        case T_BINARY: {
            Cell* c = stack_push_slot();
            set_cell(c, T_INTEGER, 0, *p);
            return c;
        }
        default: break;
    }
    if (unit == 16) return reinterpret_cast<Cell*>(p);
    Cell* c = stack_push_slot();
    set_cell(c, T_CHAR, 0, get_char_at(p, unit));
    return c;
}

// The position that pick and poke address: head + i - 1 for i > 0, head + i for i < 0.
i64 pick_position(const Cell* s, i32 i) {
    i64 head = series_head(s);
    return i > 0 ? head + i - 1 : head + i;
}

// ---- navigation (stack form) --------------------------------------------------------------

i32 int_arg(Cell* arg) {
    if (type_of(arg) != T_INTEGER) raise_error(Err::script_invalid_arg, arg);
    return get_int(arg);
}

void set_clamped_head(Cell* s, i64 pos) {
    i64 total = ks_buffer_length(s);
    s->data1 = u32(i32(pos < 0 ? 0 : pos > total ? total : pos));
}

void series_at() {
    Cell* s = stack_arg(0);
    i32 n = int_arg(stack_arg(1));
    i64 head = series_head(s);
    set_clamped_head(s, n >= 1 ? head + n - 1 : head + n);
}

void series_skip() {
    Cell* s = stack_arg(0);
    i32 n = int_arg(stack_arg(1));
    set_clamped_head(s, i64(series_head(s)) + n);
}

void series_back() {
    Cell* s = stack_arg(0);
    if (series_head(s) > 0) s->data1 -= 1;
}

void series_next() { ks_skip(stack_arg(0), 1); }
void series_head_action() { stack_arg(0)->data1 = 0; }
void series_tail_action() { stack_arg(0)->data1 = u32(ks_buffer_length(stack_arg(0))); }

void series_head_q() { set_cell(stack_result(), T_LOGIC, series_head(stack_arg(0)) == 0); }
void series_tail_q_action() { set_cell(stack_result(), T_LOGIC, series_tail_q(stack_arg(0))); }
void series_index_q() { set_cell(stack_result(), T_INTEGER, 0, u32(series_head(stack_arg(0)) + 1)); }

i32 series_length_action(Cell* s) { return series_length_q(s, false); }

void swap_units(u8* a, u8* b, u32 unit) {
    u8 tmp[16];
    std::memcpy(tmp, a, unit);
    std::memcpy(a, b, unit);
    std::memcpy(b, tmp, unit);
}

}  // namespace

// ---- random ---------------------------------------------------------------------------------

Cell* series_random(Cell* s, bool seed, bool secure, bool only) {
    if (seed) {
        SeriesBuffer* b = series_buffer(s);
        u32 shift = unit_shift(b->unit());
        i32 head = series_clamped_head(s);
        u32 from = b->offset + (u32(head) << shift);
        random_seed(murmur3_32(at(from), b->tail - from));
        return &g_unset_cell;
    }
    i32 remaining = series_length_q(s, false);
    bool owned = ownership_check(s, Change::random, nullptr, series_head(s), remaining);
    // The owner's handler may have cut the series: pick or shuffle only what is left.
    if (owned) remaining = series_length_q(s, false);
    if (only) {
        if (remaining <= 0) return &g_none_cell;
        i32 j = random_int(secure, remaining);
        return element_value(s, series_head(s) + j - 1);
    }
    SeriesBuffer* b = series_buffer(s);
    u32 unit = b->unit();
    u8* p = at(b->offset) + (size_t(series_head(s)) << unit_shift(unit));
    for (i32 c = remaining; c >= 1; --c, p += unit) {
        i32 j = random_int(secure, c);
        if (j != 1) swap_units(p, p + size_t(j - 1) * unit, unit);
    }
    if (has_index(s)) index_reordered(s, series_head(s), remaining);
    if (owned) ownership_check(s, Change::randomized, nullptr, series_head(s), remaining);
    return s;
}

// ---- clear ----------------------------------------------------------------------------------

Cell* series_clear(Cell* s) {
    i32 remaining = series_length_q(s, false);
    if (remaining < 1) return s;
    bool owned = ownership_check(s, Change::clear, nullptr, series_head(s), remaining);
    // The owner's handler may have cut the series below the head: the tail never moves up,
    // which would bring back cells it dropped.
    i32 head = series_clamped_head(s);
    if (has_index(s)) index_clear_from(s, head);
    SeriesBuffer* b = series_buffer(s);
    b->tail = b->offset + (u32(head) << unit_shift(b->unit()));
    if (owned) ownership_check(s, Change::cleared, nullptr, series_head(s), remaining);
    return s;
}

// ---- reverse --------------------------------------------------------------------------------

Cell* series_reverse(Cell* s, Cell* part, Cell* skip) {
    if (series_tail_q(s)) return s;
    i32 remaining = series_length_q(s, false);
    i32 count = remaining;
    if (part) {
        count = part_count(s, part);
        if (count <= 0) return s;
        // A count past the tail reverses what is there.
        if (count > remaining) count = remaining;
    }
    i32 size = 1;
    if (skip) {
        if (type_of(skip) != T_INTEGER) raise_invalid_refine(REF_SKIP, skip);
        size = get_int(skip);
        if (size == count) return s;
        if (size <= 0) raise_error(Err::script_out_of_range, skip);
        if (size > count || count % size != 0) raise_invalid_refine(REF_SKIP, skip);
    }
    i32 head = series_head(s);
    bool owned = ownership_check(s, Change::reverse, nullptr, head, count);
    if (owned) {
        // The owner's handler may have cut the series: reverse the whole records still there.
        i32 left = series_length_q(s, false);
        if (count > left) count = left - left % size;
        head = series_head(s);
    }
    if (count > size) {
        SeriesBuffer* b = series_buffer(s);
        u32 shift = unit_shift(b->unit());
        size_t rec = size_t(size) << shift;
        u8* lo = at(b->offset) + (size_t(head) << shift);
        u8* hi = lo + (size_t(count - size) << shift);
        std::vector<u8> tmp(rec);
        for (; lo < hi; lo += rec, hi -= rec) {
            std::memcpy(tmp.data(), lo, rec);
            std::memcpy(lo, hi, rec);
            std::memcpy(hi, tmp.data(), rec);
        }
    }
    if (has_index(s)) index_reordered(s, head, count);
    if (owned) ownership_check(s, Change::reversed, nullptr, head, count);
    return s;
}

namespace {

// ---- move -----------------------------------------------------------------------------------

[[noreturn]] void raise_move_bad(const Cell* origin, const Cell* target) {
    Cell a, b;
    set_cell(&a, T_DATATYPE, type_of(origin));
    set_cell(&b, T_DATATYPE, type_of(target));
    raise_error(Err::script_move_bad, &a, &b);
}

// Opens a gap of `n` units at unit index `at_i` of the buffer of `node`; answers the buffer.
SeriesBuffer* open_gap(Node node, i32 at_i, i32 n) {
    SeriesBuffer* b = buffer_of(node);
    u32 shift = unit_shift(b->unit());
    u64 need = u64(b->tail - b->offset) + (u64(n) << shift);
    if (b->offset + need > b->data_end()) b = expand_series(b, i64(need) * 2);
    u8* p = at(b->offset) + (size_t(at_i) << shift);
    std::memmove(p + (size_t(n) << shift), p, at(b->tail) - p);
    b->tail += u32(n) << shift;
    return b;
}

// Closes `n` units at unit index `at_i`.
void close_gap(Node node, i32 at_i, i32 n) {
    SeriesBuffer* b = buffer_of(node);
    u32 shift = unit_shift(b->unit());
    u8* p = at(b->offset) + (size_t(at_i) << shift);
    u8* q = p + (size_t(n) << shift);
    std::memmove(p, q, at(b->tail) - q);
    b->tail -= u32(n) << shift;
}

Cell* move_between(Cell* origin, Cell* target, i32 count) {
    u32 to = type_of(origin), tt = type_of(target);
    bool oc = series_buffer(origin)->unit() == 16 && is_cell_series_type(to);
    bool tc = series_buffer(target)->unit() == 16 && is_cell_series_type(tt);
    if (oc != tc || to == T_IMAGE || tt == T_IMAGE) raise_move_bad(origin, target);
    u32 ou = series_buffer(origin)->unit(), tu = series_buffer(target)->unit();
    bool text = is_text_type(to) && is_text_type(tt);
    if (ou != tu && !text) raise_move_bad(origin, target);

    i32 oh = series_head(origin);
    i32 th = series_clamped_head(target);
    bool owned = ownership_check(origin, Change::move, nullptr, oh, count);
    if (owned) {
        // The owner's handler may have cut either series, or widened text: measure again.
        i32 left = series_length_q(origin, false);
        if (count > left) count = left;
        oh = series_head(origin);
        th = series_clamped_head(target);
        ou = series_buffer(origin)->unit();
        tu = series_buffer(target)->unit();
    }
    Node on = series_node(origin), tn = series_node(target);
    if (count <= 0) {
        count = 0;
    } else if (ou == tu) {
        SeriesBuffer* b = open_gap(tn, th, count);
        SeriesBuffer* src = buffer_of(on);
        u32 shift = unit_shift(ou);
        std::memcpy(at(b->offset) + (size_t(th) << shift), at(src->offset) + (size_t(oh) << shift),
                    size_t(count) << shift);
        close_gap(on, oh, count);
    } else {
        // Text of different widths moves character by character, the target widening
        // when a character needs it.
        string_move_chars(origin, tn, u32(th), u32(count));
    }
    if (has_index(origin)) index_removed(origin, oh, count);
    if (has_index(target)) index_inserted(target, th, count);
    if (owned) ownership_check(origin, Change::moved, nullptr, oh, count);
    if (ownership_check(target, Change::move, nullptr, th, count))
        ownership_check(target, Change::moved, nullptr, th, count);
    return target;
}

Cell* move_within(Cell* origin, Cell* target, i32 count) {
    i32 total = 0, o = 0, t = 0;
    // Where the run goes: null, or the value to answer when nothing moves. Measured before
    // the change event and again after an owner's handler, which may have cut the series.
    auto plan = [&]() -> Cell* {
        total = ks_buffer_length(origin);
        o = series_head(origin);
        if (o >= total) return target;
        if (count > total - o) count = total - o;
        t = series_head(target);
        if (t > total) t = total;
        if (t == o) return target;
        if (o < t) {
            if (t < total && total - t < count) return origin;
            // A target inside the moved run leaves everything where it is.
            if (t < o + count) return target;
        }
        return nullptr;
    };
    if (Cell* unmoved = plan()) return unmoved;
    bool owned = ownership_check(origin, Change::move, nullptr, o, count);
    if (owned) {
        if (Cell* unmoved = plan()) {
            ownership_check(origin, Change::moved, nullptr, o, 0);
            return unmoved;
        }
    }
    SeriesBuffer* b = series_buffer(origin);
    u32 shift = unit_shift(b->unit());
    u8* base = at(b->offset);
    size_t run = size_t(count) << shift;
    std::vector<u8> tmp(base + (size_t(o) << shift), base + (size_t(o) << shift) + run);
    i32 dest;
    if (o < t) {
        // The units after the run, up to the target's unit (or the tail), move down.
        i32 last = t == total ? total : t + 1;
        std::memmove(base + (size_t(o) << shift), base + (size_t(o + count) << shift),
                     size_t(last - o - count) << shift);
        dest = last - count;
    } else {
        std::memmove(base + (size_t(t + count) << shift), base + (size_t(t) << shift), size_t(o - t) << shift);
        dest = t;
    }
    std::memcpy(base + (size_t(dest) << shift), tmp.data(), run);
    if (has_index(origin)) {
        i32 lo = o < dest ? o : dest, hi = (o > dest ? o : dest) + count;
        index_reordered(origin, lo, hi - lo);
    }
    if (owned) ownership_check(origin, Change::moved, nullptr, series_head(target) - count, count);
    return target;
}

}  // namespace

Cell* series_move(Cell* origin, Cell* target, Cell* part) {
    if (!is_series_type(type_of(target))) raise_expect_arg(1, target);
    if (series_tail_q(origin)) return target;
    i32 remaining = series_length_q(origin, false);
    i32 count = 1;
    if (part) {
        if (type_of(part) != T_INTEGER) raise_invalid_refine(REF_PART, part);
        count = get_int(part);
        if (count < 1) return target;
        if (count > remaining) count = remaining;
    }
    if (series_node(origin) != series_node(target)) return move_between(origin, target, count);
    return move_within(origin, target, count);
}

namespace {

// ---- reflect and modify ---------------------------------------------------------------------

Cell* series_reflect(Cell* s, u32 field) {
    if (resolve_symbol_alias(field) != resolve_symbol_alias(runtime_symbol(SYM_OWNED)))
        raise_error(Err::internal_not_done);
    Cell* owner = g_ownership_owner_hook ? g_ownership_owner_hook(s) : nullptr;
    return owner ? owner : &g_none_cell;
}

Cell* series_modify(Cell* s, Cell* field, Cell* value, bool) {
    bool owned = type_of(field) >= T_WORD && type_of(field) <= T_ISSUE &&
                 resolve_symbol_alias(word_symbol(field)) == resolve_symbol_alias(runtime_symbol(SYM_OWNED));
    if (owned && (type_of(value) == T_NONE || type_of(value) == T_BLOCK) && g_ownership_modify_hook)
        g_ownership_modify_hook(s, value);
    return value;
}

void init_series() {
    TypeRegistration r(T_SERIES, 0, "series!");
    r.set<A_RANDOM>(series_random).set<A_REFLECT>(series_reflect);
    r.set<A_AT>(series_at).set<A_BACK>(series_back).set<A_CLEAR>(series_clear).set<A_COPY>(series_copy);
    r.set<A_HEAD>(series_head_action).set<A_HEAD_Q>(series_head_q).set<A_INDEX_Q>(series_index_q);
    r.set<A_LENGTH_Q>(series_length_action).set<A_MOVE>(series_move).set<A_NEXT>(series_next);
    r.set<A_PICK>(series_pick).set<A_POKE>(series_poke).set<A_REMOVE>(series_remove);
    r.set<A_REVERSE>(series_reverse).set<A_SKIP>(series_skip).set<A_TAIL>(series_tail_action);
    r.set<A_TAIL_Q>(series_tail_q_action).set<A_TAKE>(series_take).set<A_MODIFY>(series_modify);
    register_datatype(r);
}

}  // namespace

// ---- pick and poke --------------------------------------------------------------------------

Cell* series_pick(Cell* s, i32 index, Cell*) {
    i64 pos = pick_position(s, index);
    if (index == 0 || pos < 0 || pos >= ks_buffer_length(s)) return &g_none_cell;
    return element_value(s, i32(pos));
}

Cell* series_poke(Cell* s, i32 index, Cell* value, Cell*) {
    i64 pos = pick_position(s, index);
    auto check_range = [&] {
        if (index == 0 || pos < 0 || pos >= ks_buffer_length(s)) {
            Cell n;
            set_cell(&n, T_INTEGER, 0, u32(index));
            raise_error(Err::script_out_of_range, &n);
        }
    };
    check_range();
    i32 i = i32(pos);
    u32 t = type_of(s);
    // Check what the series can hold before anything changes.
    if (t == T_VECTOR) {
        if (type_of(value) != s->data3) raise_error(Err::script_invalid_arg, value);
        if (!g_vector_set_value) raise_error(Err::internal_not_done);
    } else if (t == T_BINARY) {
        if (type_of(value) != T_INTEGER && type_of(value) != T_CHAR) raise_error(Err::script_invalid_arg, value);
    } else if (series_buffer(s)->unit() != 16) {
        if (type_of(value) != T_CHAR) raise_error(Err::script_invalid_arg, value);
    }
    bool owned = ownership_check(s, Change::poke, value, i, 1);
    // The owner's handler may have cut the series below the position.
    if (owned) check_range();
    SeriesBuffer* b = series_buffer(s);
    u32 unit = b->unit();
    u8* p = at(b->offset) + (size_t(i) << unit_shift(unit));
    if (t == T_VECTOR) {
        g_vector_set_value(p, value, unit);
    } else if (t == T_BINARY) {
        *p = u8(value->data2);
    } else if (unit == 16) {
        copy_cell(value, reinterpret_cast<Cell*>(p));
        if (has_index(s)) index_replaced(s, i);
    } else {
        string_poke_char(s, u32(i), value->data2);
    }
    if (owned) ownership_check(s, Change::poked, value, i, 1);
    return value;
}

// ---- copy -----------------------------------------------------------------------------------

Cell* series_copy(Cell* value, Cell* result, Cell* part, bool, Cell*) {
    i32 total = ks_buffer_length(value);
    i64 start = series_head(value);
    i64 count = total - start;
    if (count < 0) count = 0;
    if (part) {
        switch (type_of(part)) {
            case T_INTEGER: count = get_int(part); break;
            case T_PAIR: {
                i32 x = i32(part->data2), y = i32(part->data3);
                start = x < 0 ? i64(series_head(value)) + x : i64(series_head(value)) + x - 1;
                if (start < 0) start = 0;
                count = y >= x ? i64(y) - x : 0;
                break;
            }
            default: count = part_series_count(value, part); break;
        }
    }
    if (count < 0) {
        count = -count;
        start -= count;
        if (start < 0) {
            start = 0;
            count = series_head(value) < 0 ? 0 : series_head(value);
        }
    }
    if (start > total) {
        count = 0;
        start = total;
    } else if (start + count > total) {
        count = total - start;
    }
    Node copy = copy_series_part(series_node(value), u32(start), u32(count));
    u32 header = value->header & (CELL_TYPE_MASK | CELL_NEW_LINE);
    set_cell(result, header, 0, copy, type_of(value) == T_VECTOR ? value->data3 : 0);
    return result;
}

// ---- remove ---------------------------------------------------------------------------------

Cell* series_remove(Cell* s, Cell* part, Cell* key) {
    i32 count = 1;
    if (part) {
        count = part_count(s, part);
        if (count <= 0) return s;
    }
    if (key) {
        Cell* found = dispatch<A_FIND>(s, key, nullptr, false, true, false, false, nullptr, nullptr, false, false,
                                           false, false);
        if (type_of(found) == T_NONE) return &g_none_cell;
        s->data1 = found->data1;
        count += 1;
    }
    i32 pos = series_head(s);
    i32 total = ks_buffer_length(s);
    if (pos < 0 || pos >= total) return s;
    bool owned = ownership_check(s, Change::remove, nullptr, pos, count);
    // The owner's handler may have cut the series: remove what is still there.
    if (owned) total = ks_buffer_length(s);
    SeriesBuffer* b = series_buffer(s);
    u32 shift = unit_shift(b->unit());
    if (pos >= total) {
        count = 0;
    } else if (i64(pos) + count >= total) {
        count = total - pos;
        b->tail = b->offset + (u32(pos) << shift);
    } else {
        close_gap(series_node(s), pos, count);
    }
    if (has_index(s)) index_removed(s, pos, count);
    if (owned) ownership_check(s, Change::removed, nullptr, pos, count);
    return s;
}

// ---- take -----------------------------------------------------------------------------------

// The scratch series of take without /part: one fixed unit, reused by every such take.
Node take_scratch() {
    static Node node = 0;
    if (!node) {
        node = alloc_fixed_series(1, 16, 0);
        gc_register_node_root(&node);
    }
    return node;
}

Cell* series_take(Cell* s, Cell* part, bool, bool last) {
    i32 given = 1;   // the count as the caller gave it, for the change event
    i32 count = 1;   // units taken
    i32 from = 0;
    // What is taken, from the series as it is now: measured before the change event, and
    // again after an owner's handler, which may have cut the series. False when nothing
    // remains.
    auto measure = [&] {
        i32 remaining = series_length_q(s, false);
        if (remaining <= 0) return false;
        i32 head = series_head(s);
        count = 1;
        from = last ? head + remaining - 1 : head;
        if (part) {
            if (type_of(part) == T_INTEGER) {
                given = get_int(part);
            } else {
                given = part_series_count(s, part);
                if (given < 0) given = 0;
                if (last) given = remaining - given;
            }
            if (given < 0) {
                // Units just before the head; none before the buffer's start.
                count = last ? 0 : (-i64(given) > head ? head : -given);
                from = head - count;
            } else {
                count = given > remaining ? remaining : given;
                from = last ? head + remaining - count : head;
            }
        }
        return true;
    };
    if (!measure()) return &g_none_cell;
    bool owned = ownership_check(s, Change::take, nullptr, from, given);
    if (owned && !measure()) {
        ownership_check(s, Change::taken, nullptr, from, given);
        return &g_none_cell;
    }
    Cell* result = stack_push_slot();
    set_cell(result, T_NONE);
    SeriesBuffer* b = series_buffer(s);
    u32 unit = b->unit();
    u32 shift = unit_shift(unit);
    Node taken;
    if (part) {
        taken = copy_series_part(series_node(s), u32(from), u32(count));
    } else {
        taken = take_scratch();
        SeriesBuffer* t = buffer_of(taken);
        t->flags = (t->flags & ~SB_UNIT_MASK) | unit;
        std::memcpy(at(t->offset), at(b->offset) + (size_t(from) << shift), unit);
        t->tail = t->offset + unit;
    }
    close_gap(series_node(s), from, count);
    if (has_index(s)) index_removed(s, from, count);
    u32 data3 = type_of(s) == T_VECTOR ? s->data3 : 0;
    set_cell(result, type_of(s), 0, taken, data3);
    // A hash! answers a hash! of its own; without /part the one value is answered instead.
    if (type_of(s) == T_HASH && part) index_build(result);
    if (owned) ownership_check(s, Change::taken, nullptr, from, given);
    return result;
}

KEL_DATATYPE(T_SERIES, init_series);

}  // namespace kel::dt
