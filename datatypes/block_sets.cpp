// block!: the set operations unique, union, intersect, exclude and difference.
//
// Records of /skip cells are keyed by their first value. The result is built in a new
// block; a set of its keys keeps them distinct, and the other argument is searched through
// a set of its own keys. The sets are plain bucket arrays sized once: no chains, no
// position index, no growth.
#include <vector>

#include "datatypes/block.h"
#include "datatypes/dispatch.h"
#include "datatypes/hash_index.h"
#include "datatypes/series.h"
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

// Series of cells compare by content, which their hash (taken from their node) does not
// follow: they share one hash and are told apart by comparison, as a search would.
constexpr u32 CELL_SERIES_HASH = 0x9E3779B9u;

inline u32 key_hash(const Cell* key) {
    return is_cell_series_type(type_of(key)) ? CELL_SERIES_HASH : hash_value(key);
}

// Keys match when they are equal under the operation and of one type (any two series of
// cells may match, under find's equality).
bool keys_match(const SetContext& sc, Cell* a, Cell* b) {
    u32 ta = type_of(a), tb = type_of(b);
    if (ta == T_INTEGER && tb == T_INTEGER) return a->data2 == b->data2;
    bool series = is_cell_series_type(ta);
    if (series != is_cell_series_type(tb)) return false;
    if (series) return compare_values(a, b, sc.case_ ? OP_STRICT_EQUAL : OP_PUT) == 0;
    return ta == tb && compare_values(a, b, sc.op) == 0;
}

// Bucket arrays kept from one call to the next: fresh memory is costly, and a set
// operation of a size already met touches no new page. At most three are in use at once;
// a nested call (should a comparison ever run one) gets its own.
struct BucketPool {
    std::vector<u32> buckets;
    bool busy = false;
};
BucketPool g_pools[3];
constexpr size_t KEEP_BUCKETS = size_t(1) << 24;  // 64 MB

// A set of records of one block, keyed by their first cells: open addressing, one cell
// position + 1 per bucket (0 free), sized once for every record it may receive.
class KeySet {
public:
    // `block`: a rooted cell that stays where it is (an argument or a stack slot).
    KeySet(const Cell* block, u32 expected) : block_(block) {
        for (auto& p : g_pools)
            if (!p.busy) {
                pool_ = &p;
                break;
            }
        if (pool_) pool_->busy = true;
        std::vector<u32>& b = buckets();
        u32 cap = 16;
        while (cap < 0x80000000u && cap / 4 * 3 <= expected) cap *= 2;
        b.assign(cap, 0);
        mask_ = cap - 1;
    }
    ~KeySet() {
        if (!pool_) return;
        pool_->busy = false;
        // Kept for the next call, unless very large.
        if (pool_->buckets.capacity() > KEEP_BUCKETS) std::vector<u32>().swap(pool_->buckets);
    }
    KeySet(const KeySet&) = delete;
    KeySet& operator=(const KeySet&) = delete;

    // The bucket of the record whose key matches `key` (found), else the free bucket where
    // it would go.
    u32 find(const SetContext& sc, Cell* key, u32 hash, bool* found) {
        u32* b = buckets().data();
        for (u32 i = hash & mask_, step = 0;; i = (i + ++step) & mask_) {
            u32 e = b[i];
            if (e == 0) {
                *found = false;
                return i;
            }
            // Read through the node each time: a comparison may allocate.
            if (keys_match(sc, cells() + (e - 1), key)) {
                *found = true;
                return i;
            }
        }
    }
    bool contains(const SetContext& sc, Cell* key) {
        bool found;
        find(sc, key, key_hash(key), &found);
        return found;
    }
    void put_at(u32 bucket, u32 position) { buckets()[bucket] = position + 1; }
    // Enters the record at `position` unless an equal key is in.
    void add(const SetContext& sc, u32 position) {
        Cell* key = cells() + position;
        bool found;
        u32 i = find(sc, key, key_hash(key), &found);
        if (!found) put_at(i, position);
    }

private:
    std::vector<u32>& buckets() { return pool_ ? pool_->buckets : own_; }
    // Through the cell each time: the collector may move the buffer and renumber its node.
    Cell* cells() { return cells_of(buffer_of(series_node(block_))); }
    const Cell* block_;
    BucketPool* pool_ = nullptr;
    std::vector<u32> own_;
    u32 mask_ = 0;
};

inline i32 records_from_head(const SetContext& sc, Cell* s) {
    i64 n = i64(ks_buffer_length(s)) - series_head(s);
    return n <= 0 ? 0 : i32((n + sc.size - 1) / sc.size);
}

// The records of `s` from its head, for look-ups.
void fill(const SetContext& sc, KeySet& set, Cell* s) {
    i32 total = ks_buffer_length(s);
    for (i64 i = series_head(s); i < total; i += sc.size) set.add(sc, u32(i));
}

// One pass over the records of `from`: appends to `result` those that `keep` accepts and
// whose key is not in it yet, in their order.
template <class Keep>
void set_pass(const SetContext& sc, Cell* from, Cell* result, KeySet& seen, Keep keep) {
    i32 total = ks_buffer_length(from);
    for (i64 i = series_head(from); i < total; i += sc.size) {
        Cell* key = stack_push(ks_abs_at(from, i32(i)));
        if (keep(key)) {
            bool found;
            u32 bucket = seen.find(sc, key, key_hash(key), &found);
            if (!found) {
                i64 end = i + sc.size < total ? i + sc.size : total;
                i32 at_index = ks_buffer_length(result);
                for (i64 k = i; k < end; ++k) ks_append(result, ks_abs_at(from, i32(k)));
                // Only the record's first cell is a key; the others just follow it.
                seen.put_at(bucket, u32(at_index));
            }
        }
        stack_pop(1);
    }
}

}  // namespace

void block_set_operation(bool case_, Cell* skip, i32 op) {
    SetContext sc{case_, 1, case_ ? OP_STRICT_EQUAL : OP_EQUAL};
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
    // Sized once for every record that may enter.
    i32 entering = records_from_head(sc, a) + (binary ? records_from_head(sc, b) : 0);
    KeySet seen(result, u32(entering));

    auto any = [](Cell*) { return true; };
    switch (op) {
        case SET_UNIQUE: set_pass(sc, a, result, seen, any); break;
        case SET_UNION:
            set_pass(sc, a, result, seen, any);
            set_pass(sc, b, result, seen, any);
            break;
        case SET_INTERSECT:
        case SET_EXCLUDE: {
            KeySet in_b(b, u32(records_from_head(sc, b)));
            fill(sc, in_b, b);
            bool wanted = op == SET_INTERSECT;
            set_pass(sc, a, result, seen, [&](Cell* key) { return in_b.contains(sc, key) == wanted; });
            break;
        }
        case SET_DIFFERENCE: {
            KeySet in_b(b, u32(records_from_head(sc, b)));
            fill(sc, in_b, b);
            set_pass(sc, a, result, seen, [&](Cell* key) { return !in_b.contains(sc, key); });
            KeySet in_a(a, u32(records_from_head(sc, a)));
            fill(sc, in_a, a);
            set_pass(sc, b, result, seen, [&](Cell* key) { return !in_a.contains(sc, key); });
            break;
        }
        default: raise_error(Err::internal_not_done);
    }
    // A hash! result gets its index once, for its final length.
    if (hash_result) {
        set_cell_type(result, T_HASH);
        index_build(result);
    }
    Cell r = *result;
    set_cell_type(&r, result_type);
    if (!hash_result) r.data3 = 0;
    r.data1 = 0;
    *a = r;
    g_args.top = mark;
}

}  // namespace kel::dt
