// hash!: a block whose every cell is also indexed by a hash table (data3), so that find,
// select, put and the set operations run in near constant time.
//
// It is a block in every other way: the block and series handlers it inherits keep the
// table in step with each edit (datatypes/hash_index.h), sort and trim included. Only
// making, molding and copying differ.
#include "datatypes/block.h"
#include "datatypes/datatype_init.h"
#include "datatypes/hash_index.h"
#include "datatypes/registry.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "runtime/errors.h"
#include "runtime/hashtable.h"
#include "runtime/stack.h"

namespace kel::dt {

using namespace rt;

namespace {

Cell* hash_copy(Cell* value, Cell* result, Cell* part, bool deep, Cell* types) {
    Cell* from = stack_push(value);
    block_copy(from, result, part, deep, types);
    // A deep copy stays a hash! too; its table is built afresh.
    set_cell_type(result, T_HASH);
    if (series_head(from) == 0 && !part && !deep && !types && from->data3)
        result->data3 = hashtable_copy(from->data3, series_node(result));
    else
        index_build(result);
    stack_pop(1);
    return result;
}

// Pushes a copy of the hash!, as copy without refinements makes it.
Cell* push_hash_copy(Cell* spec) {
    Cell* slot = stack_push_slot();
    set_cell(slot, T_NONE);
    return hash_copy(spec, slot, nullptr, false, nullptr);
}

Cell* hash_to(Cell* proto, Cell* spec, u32) {
    if (type_of(spec) == T_HASH) return push_hash_copy(spec);
    Cell* r = block_to(proto, spec, T_BLOCK);
    index_build(r);
    set_cell_type(r, T_HASH);
    return r;
}

Cell* hash_make(Cell* proto, Cell* spec, u32 type) {
    u32 t = type_of(spec);
    if (t == T_INTEGER || t == T_FLOAT) {
        i32 n = float_to_int_checked(spec);
        Cell* r = push_new_block(n < 1 ? 1 : n);
        index_build(r);
        set_cell_type(r, T_HASH);
        return r;
    }
    if (t == T_HASH) return push_hash_copy(spec);
    return hash_to(proto, spec, type);
}

i32 hash_mold(Cell* value, Cell* out, bool only, bool all, bool flat, Cell* part, i32 limit, i32 indent) {
    if (!only) {
        append_c_string(out, "make hash! ");
        limit -= 11;
    }
    return block_mold(value, out, only, all, flat, part, limit, indent);
}

void init_hash() {
    TypeRegistration r(T_HASH, T_BLOCK, "hash!");
    r.inherit_all();
    r.set<A_MAKE>(hash_make).set<A_TO>(hash_to).set<A_MOLD>(hash_mold).set<A_COPY>(hash_copy);
    r.none(A_RANDOM);
    register_datatype(r);
}

}  // namespace

KEL_DATATYPE(T_HASH, init_hash);

}  // namespace kel::dt
