// block!: the set operations unique, union, intersect, exclude and difference.
//
// Records of /skip cells are keyed by their first value. The result is built in a new
// block whose hash table keeps its keys distinct; the other argument is searched through
// its own table (a hash!) or a temporary one.
#include "datatypes/block.h"
#include "datatypes/hash_index.h"
#include "datatypes/series.h"
#include "evaluator/actions.h"
#include "runtime/errors.h"
#include "runtime/hashtable.h"
#include "runtime/stack.h"

namespace kel::dt {

using namespace rt;

namespace {

struct SetContext {
    bool case_;
    i32 size;
    i32 op;  // the equality of look-ups: case-sensitive with /case
};

// Whether the key occurs at a record start of `in` (a hash! with its table).
bool record_key_found(const SetContext& sc, Cell* in, Cell* key) {
    if (is_cell_series_type(type_of(key))) {
        Cell skip;
        set_cell(&skip, T_INTEGER, 0, u32(sc.size));
        Cell* r = block_find(in, key, nullptr, true, sc.case_, false, false, nullptr, &skip, false, false, false,
                             false);
        return type_of(r) != T_NONE;
    }
    return hashtable_get(in->data3, key, series_head(in), sc.size, sc.op) != nullptr;
}

// A hash! view of `arg` for look-ups: the argument itself when it has a table, else a copy
// of its cell with a temporary table, pushed on the stack.
Cell* searchable(Cell* arg) {
    if (has_index(arg)) return arg;
    Cell* view = stack_push(arg);
    set_cell_type(view, T_HASH);
    index_build(view);
    return view;
}

// One pass over the records of `from`: keeps what `keep` accepts and `result` lacks.
template <class Keep>
void set_pass(const SetContext& sc, Cell* from, Cell* result, Keep keep) {
    i32 total = ks_buffer_length(from);
    for (i64 i = series_head(from); i < total; i += sc.size) {
        Cell* key = stack_push(ks_abs_at(from, i32(i)));
        if (keep(key) && !record_key_found(sc, result, key)) {
            i64 end = i + sc.size < total ? i + sc.size : total;
            i32 at_index = ks_buffer_length(result);
            for (i64 k = i; k < end; ++k) ks_append(result, ks_abs_at(from, i32(k)));
            // Only the record's first cell is a key; the others just follow it.
            hashtable_put(result->data3, u32(at_index));
        }
        stack_pop(1);
    }
}

}  // namespace

void block_set_operation(bool case_, Cell* skip, i32 op) {
    SetContext sc{case_, 1, case_ ? ev::OP_STRICT_EQUAL : ev::OP_EQUAL};
    if (skip) {
        if (type_of(skip) != T_INTEGER || get_int(skip) < 1) raise_invalid_refine(REF_SKIP, skip);
        sc.size = get_int(skip);
    }
    Cell* a = stack_result();
    Cell* b = a + 1;
    bool binary = op != SET_UNIQUE;
    series_length_q(a, false);
    if (binary) series_length_q(b, false);
    i32 capacity = ks_length_q(a) + (op == SET_UNION ? ks_length_q(b) : 0);
    bool hash_result = type_of(a) == T_HASH || (binary && type_of(b) == T_HASH);
    u32 result_type = hash_result ? T_HASH : type_of(a);

    Cell* mark = g_args.top;
    Cell* result = push_new_block(capacity < 1 ? 1 : capacity);
    set_cell_type(result, T_HASH);
    index_build(result);

    auto any = [](Cell*) { return true; };
    switch (op) {
        case SET_UNIQUE: set_pass(sc, a, result, any); break;
        case SET_UNION:
            set_pass(sc, a, result, any);
            set_pass(sc, b, result, any);
            break;
        case SET_INTERSECT: {
            Cell* in_b = searchable(b);
            set_pass(sc, a, result, [&](Cell* key) { return record_key_found(sc, in_b, key); });
            break;
        }
        case SET_EXCLUDE: {
            Cell* in_b = searchable(b);
            set_pass(sc, a, result, [&](Cell* key) { return !record_key_found(sc, in_b, key); });
            break;
        }
        case SET_DIFFERENCE: {
            Cell* in_b = searchable(b);
            set_pass(sc, a, result, [&](Cell* key) { return !record_key_found(sc, in_b, key); });
            Cell* in_a = searchable(a);
            set_pass(sc, b, result, [&](Cell* key) { return !record_key_found(sc, in_a, key); });
            break;
        }
        default: raise_error(Err::internal_not_done);
    }
    Cell r = *result;
    set_cell_type(&r, result_type);
    if (!hash_result) r.data3 = 0;
    r.data1 = 0;
    *a = r;
    g_args.top = mark;
}

}  // namespace kel::dt
