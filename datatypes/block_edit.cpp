// block!: insert and append, change, take, swap, trim, copy and sort.
#include <cstring>
#include <optional>
#include <vector>

#include "datatypes/block.h"
#include "datatypes/dispatch.h"
#include "datatypes/hash_index.h"
#include "datatypes/series.h"
#include "datatypes/unit.h"
#include "datatypes/walk_guard.h"
#include "runtime/errors.h"
#include "runtime/gc.h"
#include "runtime/series.h"
#include "runtime/sort.h"
#include "runtime/stack.h"

namespace kel::dt {

using namespace rt;

namespace {

// The cells that insert and change put in: a cell series' values from its head, or the
// value itself as one cell. Values from the target's own buffer are copied out first,
// since the edit moves that buffer's cells; so are all values when the target is owned,
// since its on-deep-change* handler runs before the edit and may empty the source. Others
// are read through their node after the target has grown. The copy is a rooted series,
// not C++ memory, as it may be the values' only holder.
class SourceCells {
public:
    SourceCells(const Cell* value, bool only, const Cell* target_series) {
        Node target = series_node(target_series);
        if (only || !is_cell_series_type(type_of(value))) {
            single_ = *value;
            count_ = 1;
            return;
        }
        from_ = series_clamped_head(value);
        count_ = ks_buffer_length(value) - from_;
        node_ = series_node(value);
        if ((node_ == target || (series_buffer(target_series)->flags & SB_OWNED)) && count_ > 0) {
            copy_.emplace(Cell{T_BLOCK, 0, copy_series_part(node_, u32(from_), u32(count_)), 0});
            node_ = 0;
        }
    }
    i32 count() const { return count_; }
    const Cell* data() const {
        if (node_) return at<Cell>(buffer_of(node_)->offset) + from_;
        return copy_ ? cells_of(buffer_of(copy_->cell.data2)) : &single_;
    }

private:
    Cell single_{};
    std::optional<RootGuard> copy_;
    Node node_ = 0;
    i32 from_ = 0;
    i32 count_ = 0;
};

// count × dup as a cell count, or internal/no-memory when the buffer could not hold it.
i32 checked_product(i64 count, i64 dup, i64 existing) {
    i64 n = count * dup;
    if (n > 0x7FFFFFFF || (existing + n) * i64(sizeof(Cell)) > 0x7FFFFFF0) raise_error(Err::internal_no_memory);
    return i32(n);
}

// Makes room for `extra` more cells; `doubling` grows to twice the needed size.
SeriesBuffer* reserve_cells(Node node, i32 extra, bool doubling) {
    SeriesBuffer* b = buffer_of(node);
    u64 need = u64(b->tail - b->offset) + u64(extra) * sizeof(Cell);
    if (b->offset + need > b->data_end()) {
        u64 size = doubling ? need * 2 : need;
        if (size > 0x7FFFFFF0) size = need;
        b = expand_series(b, i64(size));
    }
    return b;
}

// Writes n cells at `p` and repeats them `dup` times by doubling copies.
void fill_by_doubling(Cell* p, const Cell* src, i32 n, i32 dup) {
    // One cell, the commonest append, without a library call.
    if (n == 1) *p = *src;
    else std::memcpy(p, src, size_t(n) * sizeof(Cell));
    i64 done = n, total = i64(n) * dup;
    while (done < total) {
        i64 chunk = done < total - done ? done : total - done;
        std::memcpy(p + done, p, size_t(chunk) * sizeof(Cell));
        done += chunk;
    }
}

}  // namespace

// ---- insert and append ----------------------------------------------------------------

Cell* block_insert(Cell* series, Cell* value, i32 part, bool only, i32 dup, bool append) {
    SourceCells src(value, only, series);
    i32 count = src.count();
    if (count <= 0) return series;
    if (part < 0 || part > count) part = count;
    if (dup < 1) dup = 1;
    i32 total = ks_buffer_length(series);
    if (series_head(series) > total) series->data1 = u32(total);
    i32 head = series_head(series);
    bool at_tail = append || head >= total;
    i32 pos = at_tail ? total : head;
    i32 added = checked_product(part, dup, total);

    Cell* val = stack_push(value);
    bool owned = append ? ownership_check(series, Change::append, val, total, added)
                        : ownership_check(series, Change::insert, val, head, added);
    Node node = series_node(series);
    SeriesBuffer* b = reserve_cells(node, added, dup < 5);
    total = i32((b->tail - b->offset) / sizeof(Cell));
    if (pos > total) pos = total;
    Cell* p = at<Cell>(b->offset) + pos;
    if (pos < total) std::memmove(p + added, p, size_t(total - pos) * sizeof(Cell));
    fill_by_doubling(p, src.data(), part, dup);
    b->tail += u32(added) * sizeof(Cell);
    if (has_index(series)) index_inserted(series, pos, added);
    if (owned) ownership_check(series, append ? Change::appended : Change::inserted, val, append ? total : head, added);
    stack_pop(1);

    if (append) {
        series->data1 = 0;
    } else {
        i32 after = pos + added;
        i32 len = ks_buffer_length(series);
        series->data1 = u32(after > len ? len : after);
    }
    return series;
}

// ---- change ---------------------------------------------------------------------------

Cell* block_change(Cell* series, Cell* value, i32 part, bool only, i32 dup) {
    SourceCells src(value, only, series);
    i32 count = src.count() > 0 ? src.count() : 0;
    if (dup < 1) dup = 1;
    i32 total = 0, head = 0, replaced = 0, inserted = 0;
    // The block's length, the head clamped to it and the cells replaced: measured before the
    // edit, and again after an owner's handler, which may have changed the block.
    auto measure = [&] {
        total = ks_buffer_length(series);
        if (series_head(series) > total) series->data1 = u32(total);
        head = series_head(series);
        i32 remaining = total - head;
        inserted = checked_product(count, dup, total);
        replaced = part >= 0 ? (part < remaining ? part : remaining) : (inserted < remaining ? inserted : remaining);
        if (i64(total) - replaced + inserted > 0x7FFFFFF0 / i64(sizeof(Cell))) raise_error(Err::internal_no_memory);
    };
    measure();

    Cell* val = stack_push(value);
    bool owned = ownership_check(series, Change::change, val, head, replaced);
    if (owned) measure();
    Node node = series_node(series);
    SeriesBuffer* b = buffer_of(node);
    i32 grow = inserted - replaced;
    if (grow > 0) b = reserve_cells(node, grow, false);
    Cell* p = at<Cell>(b->offset) + head;
    std::memmove(p + inserted, p + replaced, size_t(total - head - replaced) * sizeof(Cell));
    if (count > 0) fill_by_doubling(p, src.data(), count, dup);
    b->tail = b->offset + u32(total + grow) * sizeof(Cell);
    if (has_index(series)) index_rebuild(series);
    if (owned) ownership_check(series, Change::changed, val, head, replaced);
    stack_pop(1);

    i32 after = head + inserted;
    i32 len = ks_buffer_length(series);
    series->data1 = u32(after > len ? len : after);
    return series;
}

// ---- take -----------------------------------------------------------------------------

namespace {

// Replaces each series among the first n cells of `block`'s buffer by a deep copy of it,
// keeping each cell's new-line flag. The copies go through the argument stack, so the
// collector sees every value while the next copy allocates.
void copy_nested_series(Cell* block, i32 n) {
    for (i32 i = 0; i < n; ++i) {
        Cell* c = ks_abs_at(block, i);
        if (!is_series_type(type_of(c))) continue;
        Cell* arg = stack_push(c);
        Cell* slot = stack_push_slot();
        set_cell(slot, T_NONE);
        Cell* inner = dispatch<A_COPY>(arg, slot, nullptr, true, nullptr);
        Cell* dst = ks_abs_at(block, i);
        u32 flag = dst->header & CELL_NEW_LINE;
        *dst = *inner;
        dst->header = (dst->header & ~CELL_NEW_LINE) | flag;
        stack_pop(2);
    }
}

}  // namespace

Cell* block_take(Cell* series, Cell* part, bool deep, bool last) {
    Cell* taken = series_take(series, part, deep, last);
    if (type_of(taken) == T_NONE) return taken;
    i32 n = ks_buffer_length(taken);
    if (deep) {
        copy_nested_series(taken, n);
    }
    // Without /part the one taken cell is the answer.
    if (!part && n == 1) *taken = *ks_abs_at(taken, 0);
    return taken;
}

// ---- swap -----------------------------------------------------------------------------

Cell* block_swap(Cell* s1, Cell* s2) {
    if (!is_cell_series_type(type_of(s2))) raise_error(Err::script_invalid_arg, s2);
    if (series_tail_q(s1) || series_tail_q(s2)) return s1;
    i32 h1 = series_head(s1), h2 = series_head(s2);
    bool o1 = ownership_check(s1, Change::swap, nullptr, h1, 1);
    bool o2 = ownership_check(s2, Change::swap, nullptr, h2, 1);
    // The owners' handlers may have cut either block: swap only cells that are still there.
    if (!series_tail_q(s1) && !series_tail_q(s2)) {
        Cell* a = ks_abs_at(s1, h1);
        Cell* b = ks_abs_at(s2, h2);
        Cell old_a = *a, old_b = *b;
        *a = old_b;
        *b = old_a;
        if (has_index(s1)) index_replaced(s1, h1);
        if (has_index(s2)) index_replaced(s2, h2);
    }
    if (o1) ownership_check(s1, Change::swaped, nullptr, h1, 1);
    if (o2) ownership_check(s2, Change::swaped, nullptr, h2, 1);
    return s1;
}

// ---- trim -----------------------------------------------------------------------------

Cell* block_trim(Cell* series, bool, bool, bool, bool, bool, Cell*) {
    i32 head = series_clamped_head(series);
    bool owned = ownership_check(series, Change::trim, nullptr, head, 0);
    // The owner's handler may have cut the block below the head: the tail never moves up.
    head = series_clamped_head(series);
    SeriesBuffer* b = series_buffer(series);
    Cell* c = at<Cell>(b->offset);
    i32 total = ks_buffer_length(series);
    i32 out = head;
    for (i32 i = head; i < total; ++i)
        if (type_of(&c[i]) != T_NONE) c[out++] = c[i];
    b->tail = b->offset + u32(out) * sizeof(Cell);
    if (has_index(series)) index_rebuild(series);
    if (owned) ownership_check(series, Change::trimmed, nullptr, head, 0);
    return series;
}

// ---- copy -----------------------------------------------------------------------------

Cell* block_copy(Cell* value, Cell* result, Cell* part, bool deep, Cell* types) {
    series_copy(value, result, part, deep, types);
    if (!deep && !types) return result;
    if (type_of(result) == T_HASH) set_cell_type(result, T_BLOCK);
    Node src = series_node(value);
    if (deep && walk_in_progress(src)) {
        walk_reset();
        raise_error(Err::internal_no_cycle);
    }
    // The copy is kept on the stack while its cells are replaced.
    Cell* copy = stack_push(result);
    i32 n = ks_buffer_length(copy);
    if (types) {
        if (deep) {
            WalkGuard guard(src);
            find_value_in_cells(copy, 0, n, 1, deep, types);
        } else {
            find_value_in_cells(copy, 0, n, 1, deep, types);
        }
    } else {
        WalkGuard guard(src);
        copy_nested_series(copy, n);
    }
    *result = *copy;
    stack_pop(1);
    return result;
}

// ---- sort -----------------------------------------------------------------------------

namespace {

i32 compare_records(const u8* x, const u8* y, intptr_t op, intptr_t flags) {
    return sort_compare_records(reinterpret_cast<const Cell*>(x), reinterpret_cast<const Cell*>(y), i32(op),
                                u32(flags));
}


// A sort by a /compare function orders record numbers, not the cells themselves: the
// function may allocate, so the collector may run mid-sort, and it must find every value
// in the block (a merge would hold some only in its scratch, out of the collector's
// sight). The records are read through the block's node at each comparison, so a buffer
// that moved or grew meanwhile is read where it is now.
struct FunctionSort {
    Node node;
    i32 from;      // index of the first record in the buffer
    u32 size;      // cells per record
    u32 count;     // records
    Cell* fn;
    u32 flags;
};

const Cell* record_cells(const FunctionSort& s, u32 record) {
    SeriesBuffer* b = buffer_of(s.node);
    // The function may have cut the block down: its records are then gone.
    if (u64(s.from) + u64(s.count) * s.size > series_length(s.node)) raise_error(Err::script_past_end);
    return cells_of(b) + s.from + u64(record) * s.size;
}

i32 call_comparator(const u8* x, const u8* y, intptr_t word1, intptr_t) {
    const FunctionSort& s = *reinterpret_cast<const FunctionSort*>(word1);
    u32 i, j;
    std::memcpy(&i, x, sizeof i);
    std::memcpy(&j, y, sizeof j);
    return sort_call_comparator(record_cells(s, i), record_cells(s, j), s.fn, s.flags);
}

// Sorts the records by the function, then puts them in that order in one pass (nothing is
// allocated in the arena between reading and writing the cells).
void sort_by_function(Cell* series, i32 from, u32 size, u32 count, Cell* fn, u32 flags, bool stable) {
    FunctionSort s{series_node(series), from, size, count, fn, flags};
    std::vector<u32> order(count);
    for (u32 i = 0; i < count; ++i) order[i] = i;
    u8* base = reinterpret_cast<u8*>(order.data());
    intptr_t word1 = reinterpret_cast<intptr_t>(&s);
    if (stable) rt::merge_sort(base, count, sizeof(u32), word1, 0, call_comparator);
    else rt::quick_sort(base, count, sizeof(u32), word1, 0, call_comparator);
    const Cell* cells = record_cells(s, 0);
    std::vector<Cell> sorted(size_t(count) * size);
    for (u32 r = 0; r < count; ++r) std::memcpy(&sorted[size_t(r) * size], cells + u64(order[r]) * size, size * sizeof(Cell));
    std::memcpy(cells_of(buffer_of(s.node)) + from, sorted.data(), sorted.size() * sizeof(Cell));
}

}  // namespace

Cell* block_sort(Cell* series, bool case_, Cell* skip, Cell* comparator, Cell* part, bool all, bool reverse,
                 bool stable) {
    i32 head = series_head(series);
    i32 n = ks_length_q(series);
    if (n <= 0) return series;
    i32 from = head;
    if (part) {
        i32 l = type_of(part) == T_INTEGER ? get_int(part) : part_series_count(series, part);
        if (l < 0) {
            // The cells just before the head, the head moving back to them; nothing when they
            // would start before the buffer.
            if (i64(head) + l < 0) return series;
            from = head + l;
            series->data1 = u32(from);
            n = -l;
        } else if (l < n) {
            n = l;
        }
        if (n == 0) return series;
    }
    i32 size = 1;
    if (skip) {
        if (type_of(skip) != T_INTEGER) raise_invalid_refine(rt::REF_SKIP, skip);
        size = get_int(skip);
        if (size < 1 || n % size != 0 || n < size) raise_invalid_refine(rt::REF_SKIP, skip);
    } else if (all) {
        raise_error(Err::script_bad_refines);
    }
    i32 op = case_ ? OP_CASE_SORT : OP_SORT;
    u32 flags = reverse ? SORT_REVERSE : 0;
    rt::SortCompareFn cmp = compare_records;
    intptr_t word1 = op;
    if (comparator) {
        switch (type_of(comparator)) {
            case T_FUNCTION:
                if (all && skip) flags |= SORT_ALL | (u32(size) << 2);
                break;
            case T_INTEGER: {
                if (!skip || all) raise_error(Err::script_bad_refines);
                i32 field = get_int(comparator);
                if (field < 1 || field > size) raise_error(Err::script_out_of_range, comparator);
                flags |= u32(field - 1) << 2;
                break;
            }
            default: raise_invalid_refine(rt::REF_COMPARE, comparator);
        }
    } else if (all && skip) {
        flags |= SORT_ALL | (u32(size) << 2);
    }
    bool owned = ownership_check(series, Change::sort, nullptr, from, 0);
    if (owned) {
        // The owner's handler may have cut the block: sort the whole records still there.
        i32 left = ks_buffer_length(series) - from;
        if (left < n) n = left < 0 ? 0 : left - left % size;
    }
    if (n > 0 && comparator && type_of(comparator) == T_FUNCTION) {
        sort_by_function(series, from, u32(size), u32(n / size), comparator, flags, stable);
    } else if (n > 0) {
        // The records are sorted where they lie: nothing allocates meanwhile.
        u8* base = reinterpret_cast<u8*>(ks_abs_at(series, from));
        u32 width = u32(size) * sizeof(Cell);
        if (stable) rt::merge_sort(base, u32(n / size), width, word1, intptr_t(flags), cmp);
        else rt::quick_sort(base, u32(n / size), width, word1, intptr_t(flags), cmp);
    }
    if (has_index(series)) index_reordered(series, from, n);
    if (owned) ownership_check(series, Change::sorted, nullptr, from, 0);
    return series;
}

}  // namespace kel::dt
