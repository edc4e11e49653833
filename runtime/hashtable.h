// Hash tables: one open-addressing table for five uses, selected by its kind.
//
//   HASH_BLOCK    (0) the index of a hash! value: every cell of its block, duplicates allowed
//   HASH_MAP      (1) the index of a map!: the key cells (even positions) of its block
//   HASH_SYMBOLS  (2) the symbol table and every context's word table
//   HASH_RECORDS  (3) records keyed by a 32-bit value (a node)
//   HASH_OWNERSHIP(4) the same, for the ownership table
//
// A table never holds values: kinds 0-2 index the cells of an ordinary block (the hashed
// block), which keeps the order; each bucket holds a cell index. Kinds 3-4 keep records of
// d + 1 cells in a record block (first cell: header unset! while live, 0 once removed, data1
// the key; then d data cells) and each bucket holds a record's byte offset.
//
// Buckets: a power-of-two count, two flag bits each (2 empty, 1 deleted, 0 live), triangular
// probing, growth when live + deleted buckets reach 0.77 of the capacity.
//
// The table itself is a 44-byte series (HashTable below); values hold its node. Every
// operation that may allocate re-reads the record through the node. Operations that rebuild
// or grow hold the collector off while they run.
#pragma once
#include "runtime/cell.h"
#include "runtime/memory.h"
#include "runtime/types.h"

namespace kel::rt {

enum HashKind : u32 {
    HASH_BLOCK = 0,
    HASH_MAP = 1,
    HASH_SYMBOLS = 2,
    HASH_RECORDS = 3,
    HASH_OWNERSHIP = 4,
};

struct HashTable {
    u32 count;      // live keys (kind 0: distinct keys; kind 1: live entries)
    u32 aux;        // kind 0: node of the index buffer; kinds 3-4: record size in bytes
    Node chains;    // kind 0: node of the chain list (one int series per group of equal keys)
    Node flags;     // two bits per bucket
    Node keys;      // one i32 per bucket
    Node block;     // the hashed block (kinds 3-4: the record block)
    u32 occupied;   // live + deleted buckets
    u32 capacity;   // buckets, a power of two
    u32 upper;      // occupied limit before growth
    u32 kind;
    u32 stamp;      // g_gc_node_moves + 1 when the buckets were computed from nodes; 0 = none
};
static_assert(sizeof(HashTable) == 44);

inline HashTable* hashtable_of(Node table) { return at<HashTable>(buffer_of(table)->offset); }

// ---- hashing --------------------------------------------------------------------------

// The table seed: fixed, so that bucket placement is the same in every run.
constexpr u32 HASH_SEED = 0x4B656C21;
// The internal type byte of a string slice key: data3 units from its head are hashed.
constexpr u32 T_SLICE = 56;

u32 fmix32(u32 h);
u32 murmur3_32(const void* bytes, u32 count, u32 seed);
// MurmurHash3 x86_32 with the table seed.
inline u32 murmur3_32(const void* bytes, u32 count) { return murmur3_32(bytes, count, HASH_SEED); }
// The same over bytes whose A-Z are read as a-z (symbol names).
u32 murmur3_32_ascii_folded(const u8* bytes, u32 count);

// hash-value: the hash of a key by its type. Text hashes ignore case (code points folded to
// lower case) unless `case_sensitive`.
u32 hash_value(const Cell* key, bool case_sensitive = false);

// Per-type hash functions: every type has the default of its row; a datatype whose
// hashing needs more than its cell words may install its own.
using HashFn = u32 (*)(const Cell* key, bool case_sensitive);
void set_hash_function(u32 type, HashFn fn);
// Whether a key of this type hashes a node value (the table then watches node moves).
bool hash_uses_node(u32 type);

// ---- creation, copy, collector support ------------------------------------------------

// hashtable-init: a table of `kind` for `size` keys. With a block (kinds 0-2) its node
// becomes the hashed block and every key from its head index is entered (every second
// cell for a map); without one (and always for kinds 3-4) a fresh block of `size` cells is
// made. `d` is the data cells per record for kinds 3-4. A symbols table asked for 4000
// keys or more gets twice the room. Answers the table's node.
Node hashtable_init(i32 size, const Cell* block, u32 kind, u32 d = 0);
// hashtable-copy: a copy of the table (buckets, index and chains) over another block,
// which must hold the same keys at the same positions (copy of a map, a hash!, a context).
Node hashtable_copy(Node table, Node block);

// hashtable-mark: marks the table's own buffers, its hashed block and, for record tables,
// the key node of every live record (and its cells when it holds cells). `mark_node` gets
// the slot holding a node (so that it may rewrite a moved node) and answers whether the
// node was newly marked; `mark_cells` marks the cells of a block's buffer.
struct HashMarkOps {
    bool (*mark_node)(u32* slot);
    void (*mark_cells)(Node block);
};
void hashtable_mark(Node table, const HashMarkOps& ops);
// hashtable-refresh-after-gc: drops the records whose key buffer was not marked (and, for
// the ownership table, those whose third cell's node buffer was not marked).
void hashtable_refresh_after_gc(Node table, bool (*is_marked)(Node node));

// ---- kinds 0-2: tables over a block ---------------------------------------------------

// hashtable-put: enters the block cell at `index`. Kind 0: a cell already indexed is taken
// out first (a poke re-enters its cell); an equal key makes a chain. Kinds 1-2: when a
// strictly equal key is present nothing is added. Answers the index of the cell that holds
// the key: `index`, or for kinds 1-2 the earlier equal key.
i32 hashtable_put(Node table, u32 index);
// A map's put in two steps with one probe: the look-up (as hashtable_get under `op`)
// answers the matching key cell, or null with `spot` holding where the key goes (the table
// grown beforehand when it had to). hashtable_put_at then enters the block cell at `index`,
// holding that key, at the spot; the table must not change in between.
struct HashSpot {
    i32 bucket = -1;
    u32 hash = 0;
};
Cell* hashtable_get_for_put(Node table, const Cell* key, i32 op, HashSpot& spot);
void hashtable_put_at(Node table, u32 index, const HashSpot& spot);
// hashtable-put-all: enters the cells from `index` by `step` (1, or 2 for a map's keys).
// For a map, a key already present (strict equality) gets the later pair's value and the
// later pair is taken out of the block, so a key keeps its first position and last value;
// word keys are stored as set-words. For kind 0 a rebuild on the way ends the loop.
void hashtable_put_all(Node table, u32 index, u32 step);

// hashtable-get: the block cell matching `key`, or null.
//   Kinds 1-2: the first key equal under `op` (a map looks word keys up as set-words).
//   Kind 0: among the cells equal to the key under `op`, with `skip` >= 1: forward, the
//   nearest at or after `start` at a multiple of skip from it; `reverse`, the nearest
//   before `start` at a multiple of skip back from start - 1; `last`, the furthest at a
//   multiple of skip back from the last cell of the block.
Cell* hashtable_get(Node table, const Cell* key, i32 start = 0, i32 skip = 1, i32 op = 0, bool reverse = false,
                    bool last = false);
// hashtable-get-next: iterates the keys equal to `key` under operation 0 (kinds 0-2; for
// kind 0 one cell per group of equal keys). Start with a fresh cursor; null at the end.
struct HashCursor {
    i32 bucket = -1;
    u32 end = 0;
    u32 step = 0;
};
Cell* hashtable_get_next(Node table, const Cell* key, HashCursor& cursor);

// Context word tables (kind 2 over a block of word cells): the index of the word whose
// symbol is `symbol` (or, when `case_insensitive`, one of its case variants; the first one
// entered), or -1.
i32 hashtable_find_symbol(Node table, u32 symbol, bool case_insensitive);
// Both look-ups above in one walk: `exact` gets the strict answer, `first` the
// case-insensitive one (the first variant entered). Case variants hash alike, so one probe
// sequence meets them all.
void hashtable_find_symbol_both(Node table, u32 symbol, i32* exact, i32* first);

// hashtable-delete: takes the key cell at `index` out. Kind 0: out of its chain, the bucket
// deleted when no equal key is left. Kind 1: the entry goes dead (its value cell's header
// becomes 0) and the count drops; the key stays in place for a later put to revive.
void hashtable_delete(Node table, u32 index);
// hashtable-remove-range: takes n cells from `index` out of a hash!'s index (everything when
// that covers the whole block).
void hashtable_remove_range(Node table, u32 index, u32 n);
// hashtable-reset: empties the table (buckets, index, chains).
void hashtable_reset(Node table);

// hashtable-refresh (kind 0), after the block changed:
//   shift > 0: `shift` cells were inserted at `start`; the cells from `start` moved up. The
//              new cells are not indexed: enter them with hashtable_put.
//   shift < 0: -shift cells were removed at `start`; their keys leave the table and the
//              cells after them moved down.
// Answers true when more than 30000 keys would move: then nothing was done and the caller
// rebuilds the table (hashtable_resize) once the block is complete.
bool hashtable_refresh(Node table, u32 start, i32 shift);
// hashtable-refresh-move: n cells from `start` were reordered in place; re-enters them.
void hashtable_refresh_move(Node table, u32 start, u32 n);
// hashtable-resize: rebuilds a hash!'s table for `size` keys from its whole block.
void hashtable_resize(Node table, u32 size);

// ---- kinds 3-4: record tables ---------------------------------------------------------

// hashtable-put-key: the data cells of the key's record, made when absent; every cell of
// the record is reset to unset! (the key stays).
Cell* hashtable_put_key(Node table, u32 key);
// hashtable-get-ptr: the data cells of the key's record, or null.
Cell* hashtable_get_ptr(Node table, u32 key);
// hashtable-remove-ptr: removes the key's record; answers its data cells (still readable
// until the table grows), or null when absent.
Cell* hashtable_remove_ptr(Node table, u32 key);

// hashtable-check-stamp: a table whose buckets were computed from node values is rebuilt
// when nodes moved since. Every operation above calls it; exposed for walkers.
void hashtable_check_stamp(Node table);

// ---- the pointer map (systems heap; the collector's forward map) ----------------------

struct PtrMap {
    u32 count;
    u32* flags;
    u32* pairs;  // key, value per bucket
    u32 occupied;
    u32 capacity;
    u32 upper;
};

PtrMap* ptrmap_new(u32 n);
// Adds or replaces.
void ptrmap_put(PtrMap* m, u32 key, u32 value);
// The value's slot, or null.
u32* ptrmap_get(PtrMap* m, u32 key);
void ptrmap_remove(PtrMap* m, u32 key);
// Iterates live pairs: start with *cursor = 0; answers false at the end.
bool ptrmap_next(PtrMap* m, u32* cursor, u32* key, u32* value);
void ptrmap_clear(PtrMap* m);
void ptrmap_free(PtrMap* m);

}  // namespace kel::rt
