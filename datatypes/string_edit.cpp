// string! editing and search actions: append, insert, change, find, select, sort, swap,
// take, trim and the set operations.
#include <climits>
#include <cstring>

#include "datatypes/block.h"
#include "datatypes/char.h"
#include "datatypes/dispatch.h"
#include "datatypes/eval_hooks.h"
#include "datatypes/registry.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "datatypes/string_actions.h"
#include "datatypes/string_search.h"
#include "runtime/casefold.h"
#include "runtime/errors.h"
#include "runtime/series.h"
#include "runtime/sort.h"
#include "runtime/stack.h"
#include "runtime/unicode.h"

namespace kel::dt {

using namespace rt;

namespace {

constexpr u64 MAX_TEXT_BYTES = 0x7FFFFFF0;

// A value's text, gathered before the target is touched (so a value in the target's own
// buffer, or one whose forming allocates, cannot be disturbed by the edit).
struct Piece {
    std::vector<u32> cps;
    u32 unit = 1;
};

inline bool is_block_kind(u32 t) { return t == T_BLOCK || t == T_PAREN || t == T_HASH; }

u32 unit_of(const Cell* str) { return buffer_of(series_node(str))->unit(); }

// Forms `value` into a temporary string, at most `limit` characters when limit >= 0.
void form_into(Piece& p, Cell* value, i32 limit) {
    Cell* v = stack_push(value);
    Cell* tmp = push_string(16);
    form_dispatch(v, tmp, limit >= 0 ? v : nullptr, limit >= 0 ? limit : INT_MAX);
    std::vector<u32> cps = string_code_points(tmp, limit);
    if (unit_of(tmp) > p.unit) p.unit = unit_of(tmp);
    p.cps.insert(p.cps.end(), cps.begin(), cps.end());
    stack_pop(2);
}

// The text of a value as append, insert and change write it. `part` limits plain text and
// formed values (-1 = whole); for blocks it counts elements, or characters with /only.
Piece value_piece(Cell* value, i32 part, bool only) {
    Piece p;
    u32 t = type_of(value);
    if (is_plain_text_type(t)) {
        p.cps = string_code_points(value, part);
        p.unit = unit_of(value);
    } else if (t == T_CHAR) {
        p.cps.push_back(value->data2);
        p.unit = append_unit_for(value->data2);
    } else if (t == T_TAG) {
        std::vector<u32> inner = string_code_points(value, part);
        p.cps.push_back('<');
        p.cps.insert(p.cps.end(), inner.begin(), inner.end());
        p.cps.push_back('>');
        p.unit = unit_of(value);
    } else if (is_block_kind(t)) {
        Cell* blk = stack_push(value);
        i64 count = part >= 0 ? part : INT_MAX;
        for (u32 i = u32(series_head(blk) < 0 ? 0 : series_head(blk)); count > 0; ++i) {
            SeriesBuffer* b = buffer_of(series_node(blk));
            if (i >= (b->tail - b->offset) / sizeof(Cell)) break;
            Cell elem = cells_of(b)[i];
            if (only) {
                size_t before = p.cps.size();
                form_into(p, &elem, i32(count));
                count -= i64(p.cps.size() - before);
            } else {
                form_into(p, &elem, -1);
                --count;
            }
        }
        stack_pop(1);
    } else {
        form_into(p, value, part);
    }
    return p;
}

// Replaces `removed` characters at absolute index `pos` by `dup` copies of the piece;
// answers the characters written.
u64 splice(Cell* series, u32 pos, u32 removed, const Piece& p, i32 dup) {
    u64 copies = dup >= 2 ? u64(dup) : 1;
    u64 written = u64(p.cps.size()) * copies;
    SeriesBuffer* b = buffer_of(series_node(series));
    u32 unit = b->unit() > p.unit ? b->unit() : p.unit;
    u32 total = (b->tail - b->offset) >> unit_shift(b->unit());
    if (pos > total) pos = total;
    if (removed > total - pos) removed = total - pos;
    u64 new_total = u64(total) - removed + written;
    if (new_total * unit > MAX_TEXT_BYTES || written > MAX_TEXT_BYTES) raise_error(Err::internal_no_memory);
    if (written == 0 && removed == 0) return 0;
    b = string_widen_to(b, unit);
    u32 sh = unit_shift(unit);
    if (written > removed) b = string_reserve(b, (written - removed) << sh);
    u8* base = at(b->offset);
    std::memmove(base + ((pos + written) << sh), base + (size_t(pos + removed) << sh),
                 size_t(total - pos - removed) << sh);
    u8* w = base + (size_t(pos) << sh);
    for (u32 i = 0; i < p.cps.size(); ++i) put_char_at(w + (size_t(i) << sh), unit, p.cps[i]);
    u64 run = u64(p.cps.size()) << sh;
    // Further copies by doubling.
    for (u64 done = run, want = written << sh; done < want;) {
        u64 n = done < want - done ? done : want - done;
        std::memcpy(w + done, w, n);
        done += n;
    }
    b->tail = b->offset + u32(new_total << sh);
    return written;
}

Cell* result_at(const Cell* series, i64 index) {
    Cell* r = stack_push(series);
    r->data1 = u32(i32(index));
    return r;
}

[[noreturn]] void raise_refine(const char* name, const Cell* arg) {
    Cell word;
    refinement_word(name, &word);
    raise_error(Err::script_invalid_refine_arg, &word, arg);
}

// /part given as a count or as a position in the same series: the count from the head.
i64 part_count(const Cell* series, const Cell* part) {
    if (type_of(part) == T_INTEGER) return get_int(part);
    if (type_of(part) == type_of(series) && series_node(part) == series_node(series))
        return i64(series_head(part)) - series_head(series);
    raise_refine("part", part);
}

bool is_trim_space(u32 c) {
    return c < 33 || c == 0x85 || c == 0xA0 || c == 0x1680 || c == 0x180E || (c >= 0x2000 && c <= 0x200A) ||
           c == 0x2028 || c == 0x2029 || c == 0x202F || c == 0x205F || c == 0x3000;
}

// Rewrites the characters from the head with `cps` (never wider than what was there).
void rewrite_from_head(Cell* series, const std::vector<u32>& cps) {
    SeriesBuffer* b = buffer_of(series_node(series));
    u32 unit = b->unit();
    u32 sh = unit_shift(unit);
    u32 head = clamped_head(series);
    u8* w = at(b->offset) + (size_t(head) << sh);
    for (u32 i = 0; i < cps.size(); ++i) put_char_at(w + (size_t(i) << sh), unit, cps[i]);
    b->tail = b->offset + ((head + u32(cps.size())) << sh);
}

}  // namespace

// ---- append, insert, change --------------------------------------------------------------

namespace {

// Appending plain text: the characters are copied as they are stored, or widened in one
// pass when the target's units are wider, with no code-point round trip. A wider source
// widens the target first (as an edit through code points would), and the target grows
// once. Answers false (nothing done) for anything else.
bool append_text(Cell* series, const Cell* value, i32 part, u32* written) {
    SeriesBuffer* b = buffer_of(series_node(series));
    u32 n = string_length(value);
    if (part >= 0 && u32(part) < n) n = u32(part);
    u32 vunit = unit_of(value);
    u32 unit = b->unit() > vunit ? b->unit() : vunit;
    u32 sh = unit_shift(unit);
    u32 total = (b->tail - b->offset) >> unit_shift(b->unit());
    if ((u64(total) + n) << sh > MAX_TEXT_BYTES) raise_error(Err::internal_no_memory);
    *written = n;
    if (n == 0) return true;
    b = string_widen_to(b, unit);
    b = string_reserve(b, u64(n) << sh);
    // Widening and reserving may have moved the value's buffer, or widened it when it is
    // the same series.
    SeriesBuffer* vb = buffer_of(series_node(value));
    vunit = vb->unit();
    const u8* from = at(vb->offset) + (size_t(clamped_head(value)) << unit_shift(vunit));
    copy_text_units(at(b->tail), unit, from, vunit, n);
    b->tail += n << sh;
    return true;
}

}  // namespace

u32 string_append_value(Cell* series, Cell* value, i32 part, bool only, i32 dup) {
    u32 written;
    if (dup < 2 && is_plain_text_type(type_of(value)) && append_text(series, value, part, &written))
        return written;
    Piece p = value_piece(value, part, only);
    return u32(splice(series, ks_abs_length(series), 0, p, dup));
}

namespace {

Cell* insert_edit(Cell* series, Cell* value, i32 part, bool only, i32 dup) {
    u32 len = string_length_clamp(series);
    if (len == 0) {
        string_append_value(series, value, part, only, dup);
        series->data1 = ks_abs_length(series);
        return series;
    }
    Piece p = value_piece(value, part, only);
    u32 head = clamped_head(series);
    u64 written = splice(series, head, 0, p, dup);
    series->data1 = u32(head + written);
    return series;
}

Cell* change_edit(Cell* series, Cell* value, i32 part, bool only, i32 dup) {
    u32 len = string_length_clamp(series);
    if (len == 0) {
        string_append_value(series, value, -1, only, dup);
        series->data1 = ks_abs_length(series);
        return series;
    }
    Piece p = value_piece(value, -1, only);
    u64 copies = dup >= 2 ? u64(dup) : 1;
    u64 written = u64(p.cps.size()) * copies;
    u64 replaced = part >= 0 ? u64(part) : written;
    if (replaced > len) replaced = len;
    u32 head = clamped_head(series);
    splice(series, head, u32(replaced), p, dup);
    u64 end = head + written;
    u32 total = ks_abs_length(series);
    series->data1 = u32(end > total ? total : end);
    return series;
}

}  // namespace

// ---- find and select ---------------------------------------------------------------------

namespace {

// The run a find looks for. Short runs stay inline: a find of one allocates nothing.
struct Needle {
    static constexpr size_t kInline = 32;
    u32 inline_cps[kInline];
    std::vector<u32> heap;
    u32* cps = inline_cps;
    size_t size = 0;
    const Cell* bitset = nullptr;
    bool single = false;  // matches one character (char!, bitset!)

    Needle() = default;
    Needle(const Needle&) = delete;
    Needle& operator=(const Needle&) = delete;
    void resize(size_t n) {
        if (n > kInline) {
            heap.resize(n);
            cps = heap.data();
        }
        size = n;
    }
};

bool bitset_has(const Cell* bitset, u32 cp) {
    SeriesBuffer* bb = buffer_of(series_node(bitset));
    u32 bytes = bb->tail - bb->offset;
    if (u64(cp) >= u64(bytes) * 8) return (bb->flags & SB_COMPLEMENT) != 0;
    return (at(bb->offset)[cp >> 3] & (0x80 >> (cp & 7))) != 0;
}

void make_needle(Needle& nd, Cell* series, Cell* value) {
    u32 t = type_of(value);
    if (t == T_CHAR) {
        nd.resize(1);
        nd.cps[0] = value->data2;
        nd.single = true;
    } else if (t == T_BITSET) {
        nd.bitset = value;
        nd.single = true;
    } else if (is_any_string_type(t)) {
        u32 n = string_length(value);
        nd.resize(n);
        SeriesBuffer* b = buffer_of(series_node(value));
        u32 unit = b->unit();
        const u8* p = at(b->offset) + (size_t(clamped_head(value)) << unit_shift(unit));
        for (u32 i = 0; i < n; ++i) nd.cps[i] = get_char_at(p + (size_t(i) << unit_shift(unit)), unit);
    } else if (t == T_BINARY) {
        if (type_of(series) != T_BINARY) raise_error(Err::script_invalid_arg, value);
        SeriesBuffer* b = buffer_of(series_node(value));
        i32 head = series_head(value) < 0 ? 0 : series_head(value);
        i64 n = i64(b->tail) - (i64(b->offset) + head);
        nd.resize(n > 0 ? size_t(n) : 0);
        for (i64 i = 0; i < n; ++i) nd.cps[i] = at(b->offset)[head + i];
    } else {
        // TODO(words): a word! is searched as its symbol's text; the generic form gives the
        // same once words exist.
        Piece p;
        form_into(p, value, -1);
        nd.resize(p.cps.size());
        std::copy(p.cps.begin(), p.cps.end(), nd.cps);
    }
}

}  // namespace

i64 find_forward_bytes(const u8* data, i64 from, i64 last, const u32* want, size_t m, bool case_sensitive) {
    return text_find_forward(data, 1, from, last, want, m, case_sensitive);
}

i64 series_part_count(const Cell* series, const Cell* part) { return part_count(series, part); }

i64 find_step(const Cell* skip) {
    if (!skip) return 1;
    i64 step = type_of(skip) == T_INTEGER ? get_int(skip) : 0;
    if (step < 1) raise_error(Err::script_out_of_range, skip);
    return step;
}

SortRecords sort_records(i64 n, Cell* skip, Cell* comparator, bool all) {
    SortRecords r{1, 0, nullptr};
    if (skip) {
        i64 size = type_of(skip) == T_INTEGER ? get_int(skip) : 0;
        if (size < 1 || n % size != 0 || n < size) raise_refine("skip", skip);
        r.record = u32(size);
    } else if (all) {
        raise_error(Err::script_bad_refines);
    }
    if (comparator) {
        if (type_of(comparator) == T_INTEGER) {
            if (!skip || all) raise_error(Err::script_bad_refines);
            i32 off = get_int(comparator);
            if (off < 1 || u32(off) > r.record) raise_error(Err::script_out_of_range, comparator);
            r.offset = u32(off - 1);
        } else if (type_of(comparator) == T_FUNCTION) {
            r.fn = comparator;
        } else {
            raise_refine("compare", comparator);
        }
    }
    return r;
}

Cell* string_find(Cell* series, Cell* value, Cell* part, bool, bool case_, bool same, bool any, Cell* with, Cell* skip,
                  bool last, bool reverse, bool tail, bool match) {
    u32 total = ks_abs_length(series);
    u32 len = string_length_clamp(series);
    if (total == 0 || (len == 0 && !reverse)) return &g_none_cell;
    if (any || with) raise_error(Err::internal_not_done);
    i64 step = find_step(skip);
    i64 head = series_head(series) < 0 ? 0 : series_head(series);
    i64 range_start = head, range_end = total;
    if (part) {
        i64 n = part_count(series, part);
        if (n < 1) return &g_none_cell;
        if (head + n < range_end) range_end = head + n;
    }
    bool case_sensitive = case_ || same;
    Needle nd;
    make_needle(nd, series, value);
    i64 m = nd.single ? 1 : i64(nd.size);
    if (!nd.single && m == 0) {
        // An empty run matches at the first position tried: the head going forward; going
        // backward the candidate ends before the start of the range, so it starts at the
        // range's end (/last) or at the head (/reverse).
        if (reverse) return match || head == 0 ? &g_none_cell : result_at(series, head);
        return result_at(series, last ? range_end : range_start);
    }
    if (reverse && match) return &g_none_cell;

    // Nothing allocates from here on: the text stays where it is.
    SeriesBuffer* b = buffer_of(series_node(series));
    u32 unit = b->unit();
    const u8* data = at(b->offset);
    i64 found = -1;
    if (nd.bitset) {
        u32 sh = unit_shift(unit);
        auto in_set = [&](i64 p) { return bitset_has(nd.bitset, get_char_at(data + (size_t(p) << sh), unit)); };
        if (reverse || last) {
            for (i64 p = reverse ? head - 1 : range_end - 1; p >= (reverse ? 0 : range_start); p -= step)
                if (in_set(p)) {
                    found = p;
                    break;
                }
        } else {
            for (i64 p = range_start; p < range_end; p += step) {
                if (in_set(p)) {
                    found = p;
                    break;
                }
                if (match) break;
            }
        }
    } else {
        if (!case_sensitive)
            for (size_t i = 0; i < nd.size; ++i) nd.cps[i] = case_fold_char(nd.cps[i], false);
        const u32* want = nd.cps;
        size_t n = nd.size;
        if (reverse) {
            // Backward from the run that ends just before the head.
            found = text_find_stepping(data, unit, head - m, 0, -step, want, n, case_sensitive);
        } else if (last) {
            found = text_find_stepping(data, unit, range_end - m, range_start, -step, want, n, case_sensitive);
        } else if (match) {
            if (range_start + m <= range_end && text_run_at(data, unit, range_start, want, n, case_sensitive))
                found = range_start;
        } else if (step == 1) {
            found = text_find_forward(data, unit, range_start, range_end - m, want, n, case_sensitive);
        } else {
            found = text_find_stepping(data, unit, range_start, range_end - m, step, want, n, case_sensitive);
        }
    }
    if (found < 0) return &g_none_cell;
    return result_at(series, tail ? found + m : found);
}

Cell* string_select(Cell* series, Cell* value, Cell* part, bool only, bool case_, bool same, bool any, Cell* with,
                    Cell* skip, bool last, bool reverse) {
    Cell* r = string_find(series, value, part, only, case_, same, any, with, skip, last, reverse, true, false);
    if (type_of(r) == T_NONE) return r;
    u32 pos = u32(series_head(r));
    stack_pop(1);
    if (pos >= ks_abs_length(series)) return &g_none_cell;
    u32 cp = string_char_at_abs(series, pos);
    Cell* out = stack_push_slot();
    if (type_of(series) == T_BINARY) set_cell(out, T_INTEGER, 0, cp);
    else set_cell(out, T_CHAR, 0, cp);
    return out;
}

// ---- sort --------------------------------------------------------------------------------

namespace {

struct SortSpec {
    u32 unit;
    u32 record;  // units per record
    u32 offset;  // unit compared without /all
    bool all;
    bool case_sensitive;
    bool reverse;
    const Cell* fn;  // a /compare function, or null
};

// A sort by a /compare function orders record numbers, and reads the records through the
// text's node at each comparison: the function may widen the text (its units change size),
// move it or cut it down.
struct FunctionSort {
    Node node;
    u32 from;   // index of the first record's first character
    u32 count;  // records
    const SortSpec* spec;
};

// Character k of record r, read where the text is now; records the function cut away are
// gone.
u32 record_char(const FunctionSort& f, u32 r, u32 k) {
    SeriesBuffer* b = buffer_of(f.node);
    u32 sh = unit_shift(b->unit());
    if (u64(f.from) + u64(f.count) * f.spec->record > ((b->tail - b->offset) >> sh)) raise_error(Err::script_past_end);
    return get_char_at(at(b->offset) + (size_t(f.from + u64(r) * f.spec->record + k) << sh), b->unit());
}

// One argument for the function: the record's character, or with /all its characters as a
// new string. Pushed.
void push_comparator_arg(const FunctionSort& f, u32 r) {
    if (!f.spec->all) {
        push_char(record_char(f, r, 0));
        return;
    }
    Cell* str = push_string(f.spec->record);
    for (u32 i = 0; i < f.spec->record; ++i) append_char(str, record_char(f, r, i));
}

// The function sees the later record first (the earlier with /reverse).
i32 string_call_comparator(const u8* x, const u8* y, intptr_t word1, intptr_t) {
    const FunctionSort& f = *reinterpret_cast<const FunctionSort*>(word1);
    u32 i, j;
    std::memcpy(&i, x, sizeof i);
    std::memcpy(&j, y, sizeof j);
    Cell* mark = g_args.top;
    push_comparator_arg(f, f.spec->reverse ? i : j);
    push_comparator_arg(f, f.spec->reverse ? j : i);
    Status st = g_call_value(f.spec->fn, mark, 2);
    // A break, return or throw out of the function has already set the stacks for its target.
    if (st) system_throw(st);
    Cell answer = g_args.top[-1];
    g_args.top = mark;
    return sort_comparator_answer(&answer);
}

// Sorts the records by the function, then writes them in that order where the text is now.
void sort_by_function(Cell* series, u32 from, u32 count, const SortSpec& s, bool stable) {
    FunctionSort f{series_node(series), from, count, &s};
    std::vector<u32> order(count);
    for (u32 i = 0; i < count; ++i) order[i] = i;
    u8* base = reinterpret_cast<u8*>(order.data());
    intptr_t word1 = reinterpret_cast<intptr_t>(&f);
    if (stable) merge_sort(base, count, sizeof(u32), word1, 0, string_call_comparator);
    else quick_sort(base, count, sizeof(u32), word1, 0, string_call_comparator);
    std::vector<u32> sorted;
    sorted.reserve(size_t(count) * s.record);
    for (u32 r = 0; r < count; ++r)
        for (u32 k = 0; k < s.record; ++k) sorted.push_back(record_char(f, order[r], k));
    // The characters came from this text, so its units hold them.
    SeriesBuffer* b = buffer_of(f.node);
    u32 unit = b->unit();
    u8* w = at(b->offset) + (size_t(from) << unit_shift(unit));
    for (size_t i = 0; i < sorted.size(); ++i) put_char_at(w + (i << unit_shift(unit)), unit, sorted[i]);
}

i32 string_sort_compare(const u8* x, const u8* y, intptr_t word1, intptr_t) {
    const SortSpec& s = *reinterpret_cast<const SortSpec*>(word1);
    u32 from = s.all ? 0 : s.offset, to = s.all ? s.record : s.offset + 1;
    i32 r = 0;
    for (u32 i = from; i < to && r == 0; ++i) {
        u32 a = get_char_at(x + i * s.unit, s.unit), b = get_char_at(y + i * s.unit, s.unit);
        if (!s.case_sensitive) {
            if (s.unit == 1) {
                if (a >= 'A' && a <= 'Z') a += 32;
                if (b >= 'A' && b <= 'Z') b += 32;
            } else {
                a = case_fold_char(a, false);
                b = case_fold_char(b, false);
            }
        }
        r = a < b ? -1 : a > b ? 1 : 0;
    }
    return s.reverse ? -r : r;
}

}  // namespace

namespace {

Cell* sort_edit(Cell* series, bool case_, Cell* skip, Cell* comparator, Cell* part, bool all, bool reverse, bool stable) {
    u32 len = string_length_clamp(series);
    i64 head = clamped_head(series);
    i64 n = len;
    if (part) {
        n = part_count(series, part);
        if (n < 0) {
            // A negative length sorts the run before the head.
            i64 back = -n > head ? head : -n;
            series->data1 = u32(head - back);
            head -= back;
            n = back;
        } else if (n > len) {
            n = len;
        }
    }
    SortSpec s{};
    SortRecords layout = sort_records(n, skip, comparator, all);
    s.record = layout.record;
    s.offset = layout.offset;
    s.fn = layout.fn;
    s.all = all;
    s.case_sensitive = case_;
    s.reverse = reverse;
    if (n < 2 * i64(s.record)) return series;
    u32 count = u32(n / s.record);
    if (s.fn) {
        sort_by_function(series, u32(head), count, s, stable);
        return series;
    }
    // The records are sorted where they lie: nothing allocates meanwhile.
    SeriesBuffer* b = buffer_of(series_node(series));
    s.unit = b->unit();
    u8* base = at(b->offset) + (size_t(head) << unit_shift(s.unit));
    u32 width = s.record * s.unit;
    // /stable always sorts stably, /case or not.
    if (stable) merge_sort(base, count, width, reinterpret_cast<intptr_t>(&s), 0, string_sort_compare);
    else quick_sort(base, count, width, reinterpret_cast<intptr_t>(&s), 0, string_sort_compare);
    return series;
}

// ---- swap, take --------------------------------------------------------------------------

Cell* swap_edit(Cell* s1, Cell* s2) {
    u32 i1 = clamped_head(s1), i2 = clamped_head(s2);
    u32 a = string_char_at_abs(s1, i1), b = string_char_at_abs(s2, i2);
    // A binary holds bytes: a wider character would widen its buffer.
    if ((type_of(s1) == T_BINARY && b > 255) || (type_of(s2) == T_BINARY && a > 255)) {
        Cell c;
        set_cell(&c, T_CHAR, 0, type_of(s1) == T_BINARY && b > 255 ? b : a);
        raise_error(Err::script_invalid_arg, &c);
    }
    string_poke_char(s1, i1, b);
    string_poke_char(s2, i2, a);
    return s1;
}

Cell* take_edit(Cell* series, Cell* part, bool last) {
    u32 remaining = string_length_clamp(series);
    i64 head = clamped_head(series);
    if (remaining == 0) return &g_none_cell;
    i64 start, count = 1;
    if (part) {
        i64 n;
        if (type_of(part) == T_INTEGER) {
            n = get_int(part);
        } else {
            n = part_count(series, part);
            if (n < 0) n = 0;
            if (last) n = i64(remaining) - n;
        }
        if (n < 0) {
            if (last) n = 0;
            else {
                // The run just before the head, at most what lies there.
                i64 back = -n > head ? head : -n;
                head -= back;
                series->data1 = u32(head);
                n = back;
                remaining = u32(back) + remaining;
            }
        }
        count = n > remaining ? remaining : n;
    }
    u32 total = ks_abs_length(series);
    start = last ? i64(total) - count : head;
    Cell* src = stack_push(series);
    src->data1 = u32(start);
    u32 sunit = unit_of(series);
    Cell* out = stack_push_slot();
    make_string_buffer_at(out, u32(count), sunit, type_of(series));
    string_concatenate(out, src, i32(count), 0, true, CONCAT_APPEND);
    string_remove_chars(series, u32(start), u32(count));
    if (!part) {
        u32 cp = string_char_at(out, 0);
        if (type_of(series) == T_BINARY) set_cell(out, T_INTEGER, 0, cp);
        else set_cell(out, T_CHAR, 0, cp);
    }
    *src = *out;
    stack_pop(1);
    return src;
}

}  // namespace

// ---- trim --------------------------------------------------------------------------------

namespace {


Cell* trim_edit(Cell* series, bool head, bool tail, bool auto_, bool lines, bool all, Cell* with) {
    string_length_clamp(series);
    std::vector<u32> cps = string_code_points(series);
    std::vector<u32> out;
    out.reserve(cps.size());
    if (all || with) {
        std::vector<u32> set = {9, 10, 13, 32};
        if (with) {
            u32 t = type_of(with);
            if (is_any_string_type(t)) {
                set = string_code_points(with);
            } else if (t == T_BINARY) {
                set.clear();
                SeriesBuffer* b = buffer_of(series_node(with));
                for (Off o = b->offset + u32(series_head(with) < 0 ? 0 : series_head(with)); o < b->tail; ++o)
                    set.push_back(*at(o));
            } else if (t == T_CHAR || t == T_INTEGER) {
                set = {with->data2};
            } else {
                raise_error(Err::script_invalid_arg, with);
            }
            if (set.empty()) return series;
        }
        for (u32 c : cps) {
            bool drop = false;
            for (u32 s : set) drop |= s == c;
            if (!drop) out.push_back(c);
        }
    } else if (auto_) {
        raise_error(Err::internal_not_done);
    } else if (lines) {
        auto ws = [](u32 c) { return (c >= 1 && c <= 32) || (c > 32 && is_trim_space(c)); };
        bool pending = false;
        for (u32 c : cps) {
            if (ws(c)) {
                pending = !out.empty();
                continue;
            }
            if (pending) out.push_back(' ');
            pending = false;
            out.push_back(c);
        }
    } else {
        size_t from = 0, to = cps.size();
        bool trim_head = head || !tail, trim_tail = tail || !head;
        if (trim_head)
            while (from < to && is_trim_space(cps[from])) ++from;
        bool lf_dropped = false;
        if (trim_tail)
            while (to > from && is_trim_space(cps[to - 1])) lf_dropped |= cps[--to] == '\n';
        if (head || tail) {
            out.assign(cps.begin() + i64(from), cps.begin() + i64(to));
        } else {
            auto blank = [](u32 c) { return c != '\n' && c != '\r' && (c == ' ' || c == '\t' || (c > 32 && is_trim_space(c))); };
            bool line_start = true;
            for (size_t i = from; i < to; ++i) {
                u32 c = cps[i];
                if (blank(c)) {
                    if (line_start) continue;
                    // Blanks that stand before a line feed go too.
                    size_t k = i;
                    while (k < to && blank(cps[k])) ++k;
                    if (k < to && cps[k] == '\n') {
                        i = k - 1;
                        continue;
                    }
                    out.push_back(c);
                    continue;
                }
                out.push_back(c);
                line_start = c == '\n';
            }
            if (lf_dropped) out.push_back('\n');
        }
    }
    rewrite_from_head(series, out);
    return series;
}

}  // namespace

// ---- the edits, told to the owner -----------------------------------------------------------

namespace {

bool is_owned(const Cell* series) { return (series_buffer(series)->flags & SB_OWNED) != 0; }

// Tells the series' owner about an edit, before it with the action's word and after it with
// the past-tense word (only when the first report found an owner), as the block edits do.
// The value stays on the stack meanwhile: the owner's handler may collect.
template <class Edit>
Cell* reported(Cell* series, Change before, Change after, const Cell* value, i64 index, i64 part, Edit edit) {
    Cell* val = value ? stack_push(value) : nullptr;
    auto clamp = [](i64 n) { return i32(n < 0 ? 0 : (n > 0x7FFFFFFF ? 0x7FFFFFFF : n)); };
    bool owned = ownership_check(series, before, val, clamp(index), clamp(part));
    Cell* r = edit();
    if (owned) ownership_check(series, after, val, clamp(index), clamp(part));
    // An edit that answers a new value leaves it on the stack above the value.
    if (val) {
        if (r == val + 1) {
            *val = *r;
            r = val;
        }
        stack_pop(1);
    }
    return r;
}

// The characters an insert or change writes.
i64 written_count(Cell* value, i32 part, bool only, i32 dup) {
    return i64(value_piece(value, part, only).cps.size()) * (dup >= 2 ? dup : 1);
}

}  // namespace

Cell* string_insert(Cell* series, Cell* value, i32 part, bool only, i32 dup, bool) {
    if (!is_owned(series)) return insert_edit(series, value, part, only, dup);
    return reported(series, Change::insert, Change::inserted, value, clamped_head(series),
                    written_count(value, part, only, dup), [&] { return insert_edit(series, value, part, only, dup); });
}

Cell* string_append(Cell* series, Cell* value, i32 part, bool only, i32 dup, bool append) {
    if (!append) return string_insert(series, value, part, only, dup, false);
    auto edit = [&] {
        string_append_value(series, value, part, only, dup);
        return series;
    };
    if (!is_owned(series)) return edit();
    return reported(series, Change::append, Change::appended, value, ks_abs_length(series),
                    written_count(value, part, only, dup), edit);
}

Cell* string_change(Cell* series, Cell* value, i32 part, bool only, i32 dup) {
    if (!is_owned(series)) return change_edit(series, value, part, only, dup);
    i64 replaced = part >= 0 ? part : written_count(value, -1, only, dup);
    i64 len = string_length_clamp(series);
    return reported(series, Change::change, Change::changed, value, clamped_head(series), replaced < len ? replaced : len,
                    [&] { return change_edit(series, value, part, only, dup); });
}

Cell* string_sort(Cell* series, bool case_, Cell* skip, Cell* comparator, Cell* part, bool all, bool reverse,
                  bool stable) {
    auto edit = [&] { return sort_edit(series, case_, skip, comparator, part, all, reverse, stable); };
    if (!is_owned(series)) return edit();
    return reported(series, Change::sort, Change::sorted, nullptr, clamped_head(series), 0, edit);
}

Cell* string_swap(Cell* s1, Cell* s2) {
    u32 t = type_of(s2);
    if (!is_any_string_type(t) && t != T_BINARY) raise_error(Err::script_invalid_arg, s2);
    if (string_length_clamp(s1) == 0 || string_length_clamp(s2) == 0) return s1;
    bool o1 = ownership_check(s1, Change::swap, nullptr, i32(clamped_head(s1)), 1);
    bool o2 = ownership_check(s2, Change::swap, nullptr, i32(clamped_head(s2)), 1);
    // The handlers may have emptied either series.
    if (string_length_clamp(s1) > 0 && string_length_clamp(s2) > 0) swap_edit(s1, s2);
    if (o1) ownership_check(s1, Change::swaped, nullptr, i32(clamped_head(s1)), 1);
    if (o2) ownership_check(s2, Change::swaped, nullptr, i32(clamped_head(s2)), 1);
    return s1;
}

Cell* string_take(Cell* series, Cell* part, bool, bool last) {
    if (!is_owned(series) || string_length_clamp(series) == 0) return take_edit(series, part, last);
    i64 remaining = string_length_clamp(series);
    i64 count = !part ? 1 : type_of(part) == T_INTEGER ? get_int(part) : part_count(series, part);
    if (count > remaining) count = remaining;
    i64 from = last ? i64(ks_abs_length(series)) - count : clamped_head(series);
    return reported(series, Change::take, Change::taken, nullptr, from, count,
                    [&] { return take_edit(series, part, last); });
}

Cell* string_trim(Cell* series, bool head, bool tail, bool auto_, bool lines, bool all, Cell* with) {
    auto edit = [&] { return trim_edit(series, head, tail, auto_, lines, all, with); };
    if (!is_owned(series)) return edit();
    return reported(series, Change::trim, Change::trimmed, nullptr, clamped_head(series), 0, edit);
}

// ---- set operations ----------------------------------------------------------------------

void string_set_operation(i32 op, bool case_, Cell* skip) {
    u32 size = 1;
    if (skip) {
        i32 s = type_of(skip) == T_INTEGER ? get_int(skip) : 0;
        if (s < 1) raise_refine("skip", skip);
        size = u32(s);
    }
    Cell* first = g_args.base;
    Cell* second = g_args.base + 1;
    u32 len1 = string_length_clamp(first);
    u32 len2 = string_length_clamp(second);
    Cell* result = stack_push_slot();
    make_string_at(result, len1 + (op == 9 ? len2 : 0), type_of(first));
    auto pass = [&](Cell* a, Cell* other) {
        std::vector<u32> cps = string_code_points(a);
        for (size_t i = 0; i < cps.size(); i += size) {
            bool candidate = true;
            if (op == 10 || op == 11 || op == 12) {
                bool occurs = string_find_char_skip(other, cps[i], size, case_);
                candidate = op == 10 ? occurs : !occurs;
            }
            if (!candidate || string_find_char_skip(result, cps[i], size, case_)) continue;
            for (size_t k = i; k < i + size && k < cps.size(); ++k) append_char(result, cps[k]);
        }
    };
    pass(first, second);
    if (op == 9 || op == 12) pass(second, first);
    *first = *result;
    first->data1 = 0;
    stack_pop(1);
}

}  // namespace kel::dt
