// Ownership of series by objects.
#include "datatypes/ownership.h"

#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/object.h"
#include "datatypes/series.h"
#include "runtime/cycles.h"
#include "runtime/gc.h"
#include "runtime/hashtable.h"
#include "runtime/memory.h"

namespace kel::dt {

using namespace rt;

namespace {

constexpr u32 RECORD_CELLS = 3;  // field word, owner object, spare
Node g_table = 0;

bool is_owned_series_type(u32 t) {
    switch (t) {
        case T_BLOCK: case T_PAREN: case T_HASH: case T_PATH: case T_LIT_PATH: case T_SET_PATH: case T_GET_PATH:
        case T_STRING: case T_FILE: case T_URL: case T_TAG: case T_EMAIL: case T_REF: case T_BINARY:
        case T_VECTOR: case T_IMAGE: case T_BITSET:
            return true;
        default:
            return false;
    }
}

bool is_block_kind(u32 t) {
    return t == T_BLOCK || t == T_PAREN || t == T_HASH || (t >= T_PATH && t <= T_GET_PATH);
}

// The table is weak: it keeps neither the series nor their owners alive.
void mark_ownership_table() {
    if (!g_table || !mark_node(g_table)) return;
    HashTable* h = hashtable_of(g_table);
    mark_node(h->flags);
    mark_node(h->keys);
    mark_node(h->block);
}

// After marking: records of dead series or dead owners go; the others follow moved nodes.
void refresh_ownership_table() {
    if (!g_table) return;
    hashtable_refresh_after_gc(g_table, gc_node_marked);
    HashTable* h = hashtable_of(g_table);
    SeriesBuffer* b = buffer_of(h->block);
    for (Cell* rec = cells_of(b); rec < at<Cell>(b->tail); rec += RECORD_CELLS + 1) {
        if (rec->header != T_UNSET) continue;
        gc_relocate(rec->data1);
        mark_cells(rec + 1, rec + 1 + RECORD_CELLS);
    }
}

void put_record(Node key, const Cell* owner, const Cell* field) {
    Cell o = *owner, f = *field;  // the table may grow under these
    Cell* rec = hashtable_put_key(g_table, key);
    rec[0] = f;
    rec[1] = o;
}

void drop_record(Node key) {
    if (Cell* rec = hashtable_remove_ptr(g_table, key))
        for (u32 i = 0; i < RECORD_CELLS; ++i) set_cell(&rec[i], T_UNSET);
}

}  // namespace

void ownership_init() {
    if (g_table) return;
    g_table = hashtable_init(1000, nullptr, HASH_OWNERSHIP, RECORD_CELLS);
    // Not a root: the hooks keep the table itself and let its records go with their keys.
    register_mark_hook(mark_ownership_table);
    register_after_mark_hook(refresh_ownership_table);
    dt::g_ownership.bind = ownership_bind;
    dt::g_ownership.set = [](const Cell* owner, const Cell* value, const Cell* field) {
        // modify's `owned` with none resets the ownership.
        if (type_of(owner) == T_NONE) ownership_unset(value);
        else ownership_set(owner, value, field);
    };
    dt::g_ownership_check_hook = [](Cell* series, dt::Change event, const Cell* new_value, i32 index, i32 part) {
        static const char* const names[] = {
            "random", "randomized", "move",   "moved",  "clear",   "cleared",  "poke",   "poked",
            "remove", "removed",    "reverse", "reversed", "take",  "taken",    "append", "appended",
            "insert", "inserted",   "change", "changed", "swap",   "swaped",   "trim",   "trimmed",
            "sort",   "sorted",     "put",    "put-ed",  "uppercase", "lowercase",
        };
        Cell word = dt::load_word(names[u32(event)]);
        return ownership_check(series, &word, new_value, index, part);
    };
    dt::g_ownership_owner_hook = [](Cell* series) -> Cell* { return ownership_record(series_node(series)); };
    dt::g_ownership_modify_hook = [](Cell* series, Cell* value) {
        if (type_of(value) == T_NONE) {
            ownership_unset(series);
        } else if (type_of(value) == T_BLOCK && dt::ks_length_q(value) >= 2) {
            Cell owner = dt::ks_head(value)[0];
            Cell word = dt::ks_head(value)[1];
            if (dt::is_object_type(type_of(&owner))) ownership_bind(&owner, series, &word);
        }
    };
}

namespace {

// Visits the items of a block, unless the walk is already inside it (a block that holds
// itself); each item is a copy, as the visit may change the block.
template <class Visit>
void each_nested_item(const Cell* block, Visit visit) {
    Node n = series_node(block);
    if (cycles_find(n)) return;
    CyclesScope scope;
    cycles_push(n);
    Cell v = *block;
    for (i32 i = 0, len = dt::ks_length_q(&v); i < len; ++i) {
        Cell item = dt::ks_head(&v)[i];
        visit(&item);
    }
}

}  // namespace

void ownership_set(const Cell* owner, const Cell* value, const Cell* field) {
    u32 t = type_of(value);
    if (is_owned_series_type(t)) {
        Node n = series_node(value);
        set_series_flag(buffer_of(n), SB_OWNED);
        put_record(n, owner, field);
        if (is_block_kind(t)) each_nested_item(value, [&](const Cell* item) { ownership_set(owner, item, field); });
        return;
    }
    if (!dt::is_object_type(t)) return;
    Node ctx = dt::object_context(value);
    if (cycles_find(ctx) || (dt::context_cell(ctx)->header & dt::CTX_OWNS_SERIES)) return;
    put_record(ctx, owner, field);
    CyclesScope scope;
    cycles_push(ctx);
    Cell obj = *value;
    Cell given = *field;
    u32 n = dt::context_value_count(ctx);
    for (u32 i = 0; i < n; ++i) {
        Cell item = dt::context_values(dt::object_context(&obj))[i];
        if (dt::is_object_type(type_of(&item)) && item.data1 == obj.data1) continue;
        // An object that owns its own fields reaches each series under that field's word.
        Cell word = given;
        if (type_of(&given) == T_NONE) {
            word = *dt::context_word_at(dt::object_context(&obj), i32(i));
            set_cell_type(&word, T_WORD);
        }
        ownership_set(owner, &item, &word);
    }
}

void ownership_unset(const Cell* value) {
    u32 t = type_of(value);
    if (is_owned_series_type(t)) {
        Node n = series_node(value);
        buffer_of(n)->flags &= ~SB_OWNED;
        drop_record(n);
        if (is_block_kind(t)) each_nested_item(value, [](const Cell* item) { ownership_unset(item); });
        return;
    }
    if (!dt::is_object_type(t)) return;
    Node ctx = dt::object_context(value);
    drop_record(ctx);
    if (cycles_find(ctx) || (dt::context_cell(ctx)->header & dt::CTX_OWNS_SERIES)) return;
    CyclesScope scope;
    cycles_push(ctx);
    Cell obj = *value;
    u32 n = dt::context_value_count(ctx);
    for (u32 i = 0; i < n; ++i) {
        Cell item = dt::context_values(dt::object_context(&obj))[i];
        if (dt::is_object_type(type_of(&item)) && item.data1 == obj.data1) continue;
        ownership_unset(&item);
    }
}

void ownership_unset_range(const Cell* first, u32 n) {
    for (u32 i = 0; i < n; ++i) {
        Cell item = first[i];
        ownership_unset(&item);
    }
}

void ownership_bind(const Cell* owner, const Cell* value, const Cell* field) {
    Cell o = *owner;
    ownership_set(&o, value, field);
    dt::context_cell(dt::object_context(&o))->header |= dt::CTX_OWNS_SERIES;
}

Cell* ownership_record(Node node) { return g_table ? hashtable_get_ptr(g_table, node) : nullptr; }

const Cell* ownership_owner(Node node) {
    Cell* rec = ownership_record(node);
    return rec ? &rec[1] : nullptr;
}

bool ownership_check(Cell* value, const Cell* action_word, const Cell* new_value, i32 index, i32 part) {
    if (!g_table) return false;
    Node key = dt::is_object_type(type_of(value)) ? dt::object_context(value) : series_node(value);
    Cell* rec = hashtable_get_ptr(g_table, key);
    if (!rec || !rec[1].data3) return false;  // no owner, or an owner without handlers
    Cell owner = rec[1], word = rec[0], target = *value, action = *action_word;
    Cell fresh;
    if (new_value) fresh = *new_value;
    dt::fire_on_deep_change(&owner, &word, &target, &action, new_value ? &fresh : nullptr, index, part);
    return true;
}

}  // namespace kel::dt
