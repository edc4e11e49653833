// Hash tables.
#include "runtime/hashtable.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "runtime/casefold.h"
#include "runtime/compare.h"
#include "runtime/fatal.h"
#include "runtime/gc.h"
#include "runtime/series.h"
#include "runtime/symbols.h"

namespace kel::rt {

i32 (*g_compare_values)(Cell* v1, Cell* v2, i32 op) = nullptr;

namespace {

constexpr double MAX_LOAD = 0.77;
// An edit that moves more keys than this rebuilds the index instead.
constexpr u32 REFRESH_LIMIT = 30000;
constexpr u32 NOT_INDEXED = 0xFFFFFFFF;

enum BucketState : u32 { LIVE = 0, DELETED = 1, EMPTY = 2 };

// ---- MurmurHash3 x86_32 ---------------------------------------------------------------

constexpr u32 C1 = 0xcc9e2d51;
constexpr u32 C2 = 0x1b873593;

inline u32 rotl(u32 x, int r) { return (x << r) | (x >> (32 - r)); }
inline u32 mix_block(u32 h, u32 k) {
    k *= C1;
    k = rotl(k, 15);
    k *= C2;
    h ^= k;
    h = rotl(h, 13);
    return h * 5 + 0xe6546b64;
}
inline u32 mix_tail(u32 h, u32 k) {
    k *= C1;
    k = rotl(k, 15);
    k *= C2;
    return h ^ k;
}

// ---- bucket access --------------------------------------------------------------------

u32 next_pow2(u64 x) {
    u64 p = 1;
    while (p < x) p <<= 1;
    return p > 0x80000000u ? 0x80000000u : u32(p);
}
inline u32 upper_bound_of(u32 cap) { return u32(cap * MAX_LOAD); }
inline u32 upper_bound_rounded(u32 cap) { return u32(cap * MAX_LOAD + 0.5); }

inline u32* flag_words(HashTable* h) { return at<u32>(buffer_of(h->flags)->offset); }
// The keys buffer holds two words per bucket: its entry and (kinds 0-2) the hash of its
// key, side by side so that one cache line answers both. A probe rejects most other keys
// by their hash without reading their cells.
inline i32* key_slots(HashTable* h) { return at<i32>(buffer_of(h->keys)->offset); }
inline i32& slot_at(HashTable* h, u32 b) { return key_slots(h)[2 * b]; }
inline u32& key_hash(HashTable* h, u32 b) { return at<u32>(buffer_of(h->keys)->offset)[2 * b + 1]; }
inline u32 bucket_state(HashTable* h, u32 i) { return (flag_words(h)[i >> 4] >> ((i & 15) * 2)) & 3; }
inline void set_bucket_state(HashTable* h, u32 i, u32 s) {
    u32* w = flag_words(h) + (i >> 4);
    u32 shift = (i & 15) * 2;
    *w = (*w & ~(3u << shift)) | (s << shift);
}

Node new_flags(u32 cap) {
    u32 bytes = ((cap + 15) / 16) * 4;
    Node n = alloc_bytes_filled(bytes, 0xAA);
    SeriesBuffer* b = buffer_of(n);
    b->tail = b->offset + bytes;
    return n;
}
// Every entry starts negative: a free bucket of kinds 1-2 is known by it.
Node new_keys(u32 cap) {
    Node n = alloc_bytes_filled(cap * 8, 0xFF);
    SeriesBuffer* b = buffer_of(n);
    b->tail = b->offset + cap * 8;
    return n;
}

inline u32 block_length(HashTable* h) {
    SeriesBuffer* b = buffer_of(h->block);
    return (b->tail - b->offset) / sizeof(Cell);
}
inline Cell* block_cell(HashTable* h, u32 index) { return cells_of(buffer_of(h->block)) + index; }

inline bool is_word_kind(u32 t) { return t >= T_WORD && t <= T_ISSUE; }
// The word kinds a map stores (and looks up) as set-words; refinements and issues stay.
inline bool is_map_word_key(u32 t) { return t >= T_WORD && t <= T_GET_WORD; }

// Equality through the key type's compare action: 0 answers equal. Two integers are equal
// under every operation exactly when their values are: the commonest keys skip the dispatch.
inline bool equal_under(Cell* a, Cell* b, i32 op) {
    if (type_of(a) == T_INTEGER && type_of(b) == T_INTEGER) return a->data2 == b->data2;
    return g_compare_values(a, b, op) == 0;
}

// Kind 2 keys: symbols compare by name, words by symbol (case-insensitively through their
// aliases unless the operation is strict).
bool symbol_key_match(Cell* cell, Cell* key, i32 op) {
    u32 ct = type_of(cell), kt = type_of(key);
    bool strict = op == OP_STRICT_EQUAL || op == OP_SAME || op == OP_STRICT_FIND;
    if (is_word_kind(ct) && is_word_kind(kt)) {
        if (strict) return cell->data2 == key->data2;
        return resolve_symbol_alias(cell->data2) == resolve_symbol_alias(key->data2);
    }
    if (ct == T_SYMBOL && kt == T_SYMBOL) {
        if (cell->data3 == key->data3) return true;
        u32 la = series_length(cell->data3), lb = series_length(key->data3);
        if (la != lb) return false;
        const u8* a = at(buffer_of(cell->data3)->offset);
        const u8* b = at(buffer_of(key->data3)->offset);
        return strict ? std::memcmp(a, b, la) == 0 : ascii_equal_ignoring_case(a, b, la);
    }
    return equal_under(cell, key, op);
}

// The probe: from the hash bucket by triangular steps; stops at an empty bucket, at a live
// bucket the matcher accepts, or after visiting every bucket. `found` is the matching
// bucket (-1 when none); `slot` where an insertion goes: the first deleted bucket on the
// path, else the empty bucket that ended it (-1 when the table has neither).
struct Probe {
    i32 found;
    i32 slot;
};

template <class Match>
Probe probe(Node table, u32 hash, Match&& match) {
    HashTable* h = hashtable_of(table);
    u32 cap = h->capacity;
    u32 mask = cap - 1;
    u32 i = hash & mask;
    i32 deleted = -1;
    const u32* flags = flag_words(h);
    for (u32 step = 0;;) {
        u32 s = (flags[i >> 4] >> ((i & 15) * 2)) & 3;
        if (s == EMPTY) return {-1, deleted >= 0 ? deleted : i32(i)};
        if (s == DELETED) {
            if (deleted < 0) deleted = i32(i);
        } else if (match(i)) {
            return {i32(i), deleted};
        } else {
            // The matcher may have allocated (a compare can): the flags may have moved.
            flags = flag_words(hashtable_of(table));
        }
        if (++step >= cap) return {-1, deleted};
        i = (i + step) & mask;
    }
}

// Takes bucket `b` for a new key whose entry is `entry` and whose hash is `hash`.
void take_bucket(Node table, u32 b, i32 entry, u32 hash = 0) {
    HashTable* h = hashtable_of(table);
    if (bucket_state(h, b) == EMPTY) h->occupied++;
    h->count++;
    slot_at(h, b) = entry;
    key_hash(h, b) = hash;
    set_bucket_state(h, b, LIVE);
}

// ---- kind 0: the index and the chains -------------------------------------------------

inline u32 index_length(HashTable* h) {
    SeriesBuffer* b = buffer_of(h->aux);
    return (b->tail - b->offset) / 4;
}
inline u32* index_entries(HashTable* h) { return at<u32>(buffer_of(h->aux)->offset); }

inline u32 index_entry(HashTable* h, u32 i) { return i < index_length(h) ? index_entries(h)[i] : NOT_INDEXED; }

// Makes room for block positions below `n` (new positions unindexed).
void ensure_index(Node table, u32 n) {
    HashTable* h = hashtable_of(table);
    SeriesBuffer* b = buffer_of(h->aux);
    u32 bytes = n * 4;
    if (b->offset + bytes > b->data_end()) {
        u32 used = b->tail - b->offset;
        u64 want = std::max<u64>(u64(bytes), u64(b->size) * 2);
        b = expand_series(b, i64(want));
        std::memset(at(b->offset) + used, 0xFF, b->data_end() - b->offset - used);
    }
    if (b->tail < b->offset + bytes) {
        std::memset(at(b->tail), 0xFF, b->offset + bytes - b->tail);
        b->tail = b->offset + bytes;
    }
}

// The index ends at its last indexed position, so that cells appended to the block after
// it (or left behind by a removal) never make it longer than the block.
void trim_index(HashTable* h) {
    SeriesBuffer* b = buffer_of(h->aux);
    while (b->tail > b->offset && at<u32>(b->tail)[-1] == NOT_INDEXED) b->tail -= 4;
}

inline Node chain_node(HashTable* h, i32 entry) { return series_int_at(h->chains, u32(-entry)); }
inline u32 chain_length(Node chain) { return series_length(chain) / 4; }
inline u32* chain_items(Node chain) { return at<u32>(buffer_of(chain)->offset); }

// The block index whose cell stands for the key of a live bucket.
u32 representative(HashTable* h, u32 b) {
    i32 e = slot_at(h, b);
    return e >= 0 ? u32(e) : chain_items(chain_node(h, e))[0];
}

// Bucket b now lists block index `to` where it listed `from`.
void repoint(HashTable* h, u32 b, u32 from, u32 to) {
    i32 e = slot_at(h, b);
    if (e >= 0) {
        slot_at(h, b) = i32(to);
        return;
    }
    Node c = chain_node(h, e);
    u32* items = chain_items(c);
    for (u32 k = 0, n = chain_length(c); k < n; ++k)
        if (items[k] == from) {
            items[k] = to;
            return;
        }
}

// Takes block index i out of the table (nothing when it is not indexed).
void unindex(Node table, u32 i) {
    HashTable* h = hashtable_of(table);
    u32 e = index_entry(h, i);
    if (e == NOT_INDEXED || e == 0) return;
    u32 b = e - 1;
    index_entries(h)[i] = NOT_INDEXED;
    if (i + 1 == index_length(h)) trim_index(h);
    i32 k = slot_at(h, b);
    if (k < 0) {
        Node c = chain_node(h, k);
        i32 pos = series_find_int(c, i);
        if (pos >= 0) series_remove_at(c, u32(pos), 4);
        if (chain_length(c) > 0) return;
    }
    set_bucket_state(h, b, DELETED);
    h->count--;
}

// Enters block index i, not indexed yet. Answers false, entering nothing, when it needs a
// new bucket and the table is at its bound (a rebuild then doubles).
bool index_cell(Node table, u32 i, bool at_bound_fails) {
    HashTable* h = hashtable_of(table);
    Cell key = *block_cell(h, i);
    u32 type = type_of(&key);
    if (!h->stamp && hash_uses_node(type)) h->stamp = g_gc_node_moves + 1;
    u32 hv = hash_value(&key);
    Probe p = probe(table, hv, [&](u32 b) {
        HashTable* t = hashtable_of(table);
        if (key_hash(t, b) != hv) return false;
        Cell* rep = block_cell(t, representative(t, b));
        return type_of(rep) == type && equal_under(rep, &key, OP_EQUAL);
    });
    if (p.found >= 0) {
        u32 b = u32(p.found);
        h = hashtable_of(table);
        i32 e = slot_at(h, b);
        if (e >= 0) {
            // A second equal key: the bucket turns into a chain listing both.
            Node c = alloc_bytes(16);
            series_append_int(c, u32(e));
            series_append_int(c, i);
            series_append_int(hashtable_of(table)->chains, c);
            h = hashtable_of(table);
            slot_at(h, b) = -i32(series_length(h->chains) / 4);
        } else {
            series_append_int(chain_node(h, e), i);
            h = hashtable_of(table);
        }
        ensure_index(table, i + 1);
        index_entries(hashtable_of(table))[i] = b + 1;
        return true;
    }
    if (p.slot < 0) return false;
    h = hashtable_of(table);
    if (at_bound_fails && bucket_state(h, u32(p.slot)) == EMPTY && h->occupied >= h->upper) return false;
    ensure_index(table, i + 1);
    take_bucket(table, u32(p.slot), i32(i), hv);
    index_entries(hashtable_of(table))[i] = u32(p.slot) + 1;
    return true;
}

// Rebuilds a hash!'s buckets for its whole block, starting at `cap` buckets and doubling
// while the keys do not fit.
void rebuild_block_table(Node table, u32 cap) {
    GcHold hold;
    if (cap < 4) cap = 4;
    for (;;) {
        Node f = new_flags(cap);
        Node k = new_keys(cap);
        Node chains = alloc_bytes(16);
        HashTable* h = hashtable_of(table);
        h->flags = f;
        h->keys = k;
        h->chains = chains;
        h->capacity = cap;
        h->upper = upper_bound_of(cap);
        h->count = h->occupied = 0;
        h->stamp = 0;
        u32 len = block_length(h);
        ensure_index(table, len);
        h = hashtable_of(table);
        std::memset(index_entries(h), 0xFF, index_length(h) * 4);
        buffer_of(h->aux)->tail = buffer_of(h->aux)->offset + len * 4;
        bool fits = true;
        for (u32 i = 0; i < len && fits; ++i) fits = index_cell(table, i, true);
        if (fits) return;
        cap *= 2;
    }
}

// Growth of a hash!: doubles, except that a table whose buckets are mostly deleted entries
// is rebuilt at the same size (a hash! used as a queue must not grow without bound).
void grow_block_table(Node table) {
    HashTable* h = hashtable_of(table);
    u32 cap = h->capacity;
    if (cap <= 2 * h->count) cap = std::max<u32>(4, next_pow2(u64(1.5 * (u64(cap) + 1))));
    rebuild_block_table(table, cap);
}

// Enters block index i of a hash! (re-entering it when already indexed). Answers true when
// a rebuild indexed the whole block on the way.
bool put_block_cell(Node table, u32 i) {
    GcHold hold;
    unindex(table, i);
    HashTable* h = hashtable_of(table);
    if (h->occupied >= h->upper) {
        grow_block_table(table);
        return true;
    }
    if (!index_cell(table, i, false)) {
        grow_block_table(table);
        return true;
    }
    return false;
}

// ---- kinds 1-2: rehash in place -------------------------------------------------------

// Re-enters every live key into `cap` fresh buckets from the hashes kept beside them (no
// key cell is read). Among keys of one hash, which share one probe sequence, the first
// entered must be met first: an entry that meets one of its hash entered after it takes
// its bucket and carries on with the later one.
void rehash_in_place(Node table, u32 cap, u32 upper) {
    GcHold hold;
    HashTable* h = hashtable_of(table);
    Node old_flags = h->flags, old_keys = h->keys;
    u32 old_cap = h->capacity;
    Node f = new_flags(cap);
    Node k = new_keys(cap);
    h = hashtable_of(table);
    h->flags = f;
    h->keys = k;
    h->capacity = cap;
    h->upper = upper;
    // Nothing below allocates: the buffers stay where they are.
    const u32* from_flags = at<u32>(buffer_of(old_flags)->offset);
    const u32* from = at<u32>(buffer_of(old_keys)->offset);
    u32* flags = flag_words(h);
    u32* to = at<u32>(buffer_of(k)->offset);
    u32 mask = cap - 1, live = 0;
    for (u32 b = 0; b < old_cap; ++b) {
        if (((from_flags[b >> 4] >> ((b & 15) * 2)) & 3) != LIVE) continue;
        u32 entry = from[2 * b], hv = from[2 * b + 1];
        ++live;
        for (u32 i = hv & mask, step = 0;;) {
            if (i32(to[2 * i]) < 0) {
                flags[i >> 4] &= ~(3u << ((i & 15) * 2));  // LIVE
                to[2 * i] = entry;
                to[2 * i + 1] = hv;
                break;
            }
            if (to[2 * i + 1] == hv && i32(to[2 * i]) > i32(entry)) std::swap(to[2 * i], entry);
            i = (i + ++step) & mask;
        }
    }
    // A map's count is its live entries, which the move leaves as they were; its removed
    // entries keep their buckets.
    h->occupied = live;
    if (h->kind != HASH_MAP) h->count = live;
}

void grow_in_place(Node table) {
    HashTable* h = hashtable_of(table);
    u32 cap = h->capacity;
    u64 r = (h->kind == HASH_MAP || cap <= 2 * h->count) ? u64(cap) + 1 : u64(cap) - 1;
    if (h->kind == HASH_SYMBOLS) r *= 16;
    u32 ncap = std::max<u32>(4, next_pow2(r));
    rehash_in_place(table, ncap, upper_bound_rounded(ncap));
}

// Looks a key up by the rules of kinds 1-2 (word keys of a map as set-words). These kinds
// never delete a bucket, and a free bucket's entry is negative: the probe reads no flags.
Probe probe_direct(Node table, Cell key, i32 op, u32* hash_out = nullptr) {
    HashTable* h = hashtable_of(table);
    u32 kind = h->kind;
    if (kind == HASH_MAP && is_map_word_key(type_of(&key))) set_cell_type(&key, T_SET_WORD);
    u32 hv = hash_value(&key);
    if (hash_out) *hash_out = hv;
    u32 cap = h->capacity, mask = cap - 1, i = hv & mask;
    for (u32 step = 0;;) {
        // Through the node each time: a compare may allocate.
        HashTable* t = hashtable_of(table);
        i32 e = slot_at(t, i);
        if (e < 0) return {-1, i32(i)};
        if (kind != HASH_MAP || key_hash(t, i) == hv) {
            Cell* cell = block_cell(t, u32(e));
            if (kind == HASH_SYMBOLS ? symbol_key_match(cell, &key, op) : equal_under(cell, &key, op))
                return {i32(i), -1};
        }
        if (++step >= cap) return {-1, -1};
        i = (i + step) & mask;
    }
}

i32 put_direct(Node table, u32 index) {
    HashTable* h = hashtable_of(table);
    if (h->occupied >= h->upper) grow_in_place(table);
    h = hashtable_of(table);
    u32 hv = 0;
    Probe p = probe_direct(table, *block_cell(h, index), OP_STRICT_EQUAL, &hv);
    if (p.found >= 0) return slot_at(hashtable_of(table), p.found);
    if (p.slot < 0) {
        grow_in_place(table);
        return put_direct(table, index);
    }
    take_bucket(table, u32(p.slot), i32(index), hv);
    return i32(index);
}

// ---- kinds 3-4: records ---------------------------------------------------------------

inline u32 record_size(HashTable* h) { return h->aux; }
inline Cell* record_at(HashTable* h, u32 byte_offset) { return at<Cell>(buffer_of(h->block)->offset + byte_offset); }

Probe probe_record(Node table, u32 key) {
    return probe(table, fmix32(key), [&](u32 b) {
        HashTable* h = hashtable_of(table);
        return record_at(h, u32(slot_at(h, b)))->data1 == key;
    });
}

// Appends a record for `key` to the record block and enters it in bucket `slot`.
Cell* add_record(Node table, u32 key, u32 slot) {
    HashTable* h = hashtable_of(table);
    u32 size = record_size(h);
    SeriesBuffer* b = buffer_of(h->block);
    u8* p = buffer_reserve(b, size);
    u32 offset = u32(p - at(b->offset));
    Cell* rec = reinterpret_cast<Cell*>(p);
    for (u32 c = 0; c < size / sizeof(Cell); ++c) set_cell(rec + c, T_UNSET);
    rec->data1 = key;
    take_bucket(table, slot, i32(offset));
    return rec;
}

// Copies every live record into a new record block and new buckets of `cap`.
void rebuild_records(Node table, u32 cap) {
    GcHold hold;
    HashTable* h = hashtable_of(table);
    u32 size = record_size(h);
    Node old_block = h->block;
    u32 old_cap = h->capacity;
    Node old_flags = h->flags, old_keys = h->keys;
    Node nb = alloc_cells(std::max<u32>(h->count, 1) * (size / sizeof(Cell)));
    Node f = new_flags(cap);
    Node k = new_keys(cap);
    h = hashtable_of(table);
    h->block = nb;
    h->flags = f;
    h->keys = k;
    h->capacity = cap;
    h->upper = upper_bound_rounded(cap);
    h->count = h->occupied = 0;
    h->stamp = g_gc_node_moves + 1;
    for (u32 bkt = 0; bkt < old_cap; ++bkt) {
        u32 w = at<u32>(buffer_of(old_flags)->offset)[bkt >> 4];
        if (((w >> ((bkt & 15) * 2)) & 3) != LIVE) continue;
        u32 off = u32(at<i32>(buffer_of(old_keys)->offset)[2 * bkt]);
        u32 key = at<Cell>(buffer_of(old_block)->offset + off)->data1;
        Probe p = probe_record(table, key);
        Cell* rec = add_record(table, key, u32(p.slot));
        // add_record may have moved the old block too: read the source again.
        std::memcpy(rec, at<Cell>(buffer_of(old_block)->offset + off), size);
    }
}

void grow_records(Node table) {
    HashTable* h = hashtable_of(table);
    u32 cap = h->capacity;
    u64 r = cap > 2 * h->count ? u64(cap) - 1 : u64(cap) + 1;
    rebuild_records(table, std::max<u32>(4, next_pow2(r)));
}

// Recomputes the buckets from the record keys (after the collector moved nodes).
void reindex_records(Node table) {
    GcHold hold;
    HashTable* h = hashtable_of(table);
    std::vector<u32> live;
    for (u32 b = 0; b < h->capacity; ++b)
        if (bucket_state(h, b) == LIVE) live.push_back(u32(slot_at(h, b)));
    std::memset(flag_words(h), 0xAA, buffer_of(h->flags)->tail - buffer_of(h->flags)->offset);
    std::memset(key_slots(h), 0xFF, h->capacity * 8);
    h->count = h->occupied = 0;
    std::sort(live.begin(), live.end());
    for (u32 off : live) {
        Probe p = probe_record(table, record_at(hashtable_of(table), off)->data1);
        take_bucket(table, u32(p.slot), i32(off));
    }
    hashtable_of(table)->stamp = g_gc_node_moves + 1;
}

// ---- hashing by type ------------------------------------------------------------------

u32 hash_unset(const Cell*, bool) { return u32(-2); }
u32 hash_none(const Cell*, bool) { return u32(-1); }
u32 hash_word1(const Cell* c, bool) { return fmix32(c->data1); }
u32 hash_word2(const Cell* c, bool) { return fmix32(c->data2); }
u32 hash_word3(const Cell* c, bool) { return fmix32(c->data3); }
u32 hash_words12(const Cell* c, bool) { return murmur3_32(&c->data1, 8); }
u32 hash_words23(const Cell* c, bool) { return murmur3_32(&c->data2, 8); }
u32 hash_words123(const Cell* c, bool) { return murmur3_32(&c->data1, 12); }
u32 hash_nothing(const Cell*, bool) { return 0; }

// Text: one MurmurHash3 block per code point from the head (a slice: data3 code points).
u32 hash_text(const Cell* c, bool case_sensitive) {
    SeriesBuffer* b = buffer_of(series_node(c));
    u32 unit = b->unit();
    if (unit != 1 && unit != 2 && unit != 4) fatal_no_switch();
    u32 total = (b->tail - b->offset) / unit;
    u32 head = u32(std::max(series_head(c), 0));
    u32 n = head < total ? total - head : 0;
    if (type_of(c) == T_SLICE && c->data3 < n) n = c->data3;
    const u8* p = at(b->offset) + size_t(head) * unit;
    u32 h = HASH_SEED;
    for (u32 i = 0; i < n; ++i, p += unit) {
        u32 cp;
        switch (unit) {
            case 1: cp = *p; break;
            case 2: { u16 v; std::memcpy(&v, p, 2); cp = v; break; }
            default: std::memcpy(&cp, p, 4); break;
        }
        if (!case_sensitive) cp = case_fold_char(cp, false);
        h = mix_block(h, cp);
    }
    return fmix32(h ^ (4 * n));
}

u32 hash_symbol(const Cell* c, bool) {
    Node name = c->data3;
    return murmur3_32_ascii_folded(at(buffer_of(name)->offset), series_length(name));
}

u32 hash_word(const Cell* c, bool) { return fmix32(resolve_symbol_alias(word_symbol(c))); }

u32 hash_tuple(const Cell* c, bool) {
    u32 n = (c->header >> 19) & 0xF;
    return murmur3_32(&c->data1, n > 12 ? 12 : n);
}

u32 hash_binary(const Cell* c, bool) {
    SeriesBuffer* b = buffer_of(series_node(c));
    u32 total = b->tail - b->offset;
    u32 head = u32(std::max(series_head(c), 0));
    return murmur3_32(at(b->offset) + head, head < total ? total - head : 0);
}

// A money! value hashes with its plain type and its sign bit alone in the header.
u32 hash_money(const Cell* c, bool) {
    constexpr u32 MONEY_SIGN = 0x4000;
    Cell copy = *c;
    copy.header = T_MONEY | (c->header & MONEY_SIGN);
    return murmur3_32(&copy, sizeof copy);
}

struct HashRow {
    HashFn fns[T_SLICE + 1];
    constexpr HashRow() : fns() {
        for (auto& f : fns) f = hash_nothing;
        fns[T_UNSET] = hash_unset;
        fns[T_NONE] = hash_none;
        for (u32 t : {T_DATATYPE, T_LOGIC, T_OBJECT, T_ERROR, T_PORT}) fns[t] = hash_word1;
        for (u32 t : {T_BLOCK, T_PAREN, T_PATH, T_LIT_PATH, T_SET_PATH, T_GET_PATH, T_HASH, T_POINT2D, T_IMAGE})
            fns[t] = hash_words12;
        for (u32 t : {T_STRING, T_FILE, T_URL, T_TAG, T_EMAIL, T_REF}) fns[t] = hash_text;
        fns[T_SLICE] = hash_text;
        for (u32 t : {T_CHAR, T_INTEGER, T_MAP, T_HANDLE, T_EVENT}) fns[t] = hash_word2;
        for (u32 t : {T_FLOAT, T_PAIR, T_PERCENT, T_TIME}) fns[t] = hash_words23;
        fns[T_SYMBOL] = hash_symbol;
        for (u32 t = T_WORD; t <= T_ISSUE; ++t) fns[t] = hash_word;
        fns[T_NATIVE] = fns[T_ACTION] = hash_word3;
        for (u32 t : {T_OP, T_FUNCTION, T_TRIPLE, T_TYPESET, T_DATE, T_POINT3D}) fns[t] = hash_words123;
        fns[T_TUPLE] = hash_tuple;
        fns[T_BINARY] = hash_binary;
        fns[T_MONEY] = hash_money;
    }
};
HashRow g_hash_row;

}  // namespace

// ---- hashing --------------------------------------------------------------------------

u32 fmix32(u32 h) {
    h ^= h >> 16;
    h *= 0x85ebca6b;
    h ^= h >> 13;
    h *= 0xc2b2ae35;
    h ^= h >> 16;
    return h;
}

u32 murmur3_32(const void* bytes, u32 count, u32 seed) {
    const u8* p = static_cast<const u8*>(bytes);
    u32 h = seed;
    u32 blocks = count / 4;
    for (u32 i = 0; i < blocks; ++i) {
        u32 k;
        std::memcpy(&k, p + i * 4, 4);
        h = mix_block(h, k);
    }
    const u8* tail = p + blocks * 4;
    u32 k = 0;
    switch (count & 3) {
        case 3: k ^= u32(tail[2]) << 16; [[fallthrough]];
        case 2: k ^= u32(tail[1]) << 8; [[fallthrough]];
        case 1: k ^= tail[0]; h = mix_tail(h, k); break;
        default: break;
    }
    return fmix32(h ^ count);
}

u32 murmur3_32_ascii_folded(const u8* bytes, u32 count) {
    // Folding as the bytes are read: names that differ only in the case of A-Z hash alike.
    // Four bytes at a time: a byte below 0x80 whose low seven bits lie in 'A'..'Z' gets 0x20.
    auto fold4 = [](u32 k) {
        u32 low7 = k & 0x7F7F7F7Fu;
        u32 from_a = low7 + 0x3F3F3F3Fu;   // high bit set where the byte is 'A' or above
        u32 past_z = low7 + 0x25252525u;   // high bit set where the byte is above 'Z'
        u32 upper = from_a & ~past_z & ~k & 0x80808080u;
        return k | (upper >> 2);
    };
    u32 h = HASH_SEED;
    u32 blocks = count / 4;
    for (u32 i = 0; i < blocks; ++i) {
        u32 k;
        std::memcpy(&k, bytes + i * 4, 4);
        h = mix_block(h, fold4(k));
    }
    const u8* tail = bytes + blocks * 4;
    u32 k = 0;
    switch (count & 3) {
        case 3: k ^= u32(ascii_fold(tail[2])) << 16; [[fallthrough]];
        case 2: k ^= u32(ascii_fold(tail[1])) << 8; [[fallthrough]];
        case 1: k ^= ascii_fold(tail[0]); h = mix_tail(h, k); break;
        default: break;
    }
    return fmix32(h ^ count);
}

u32 hash_value(const Cell* key, bool case_sensitive) {
    u32 t = type_of(key);
    return t <= T_SLICE ? g_hash_row.fns[t](key, case_sensitive) : 0;
}

void set_hash_function(u32 type, HashFn fn) {
    if (type <= T_SLICE) g_hash_row.fns[type] = fn ? fn : hash_nothing;
}

bool hash_uses_node(u32 type) {
    switch (type) {
        case T_BLOCK: case T_PAREN: case T_NATIVE: case T_ACTION: case T_OP: case T_FUNCTION: case T_PATH:
        case T_LIT_PATH: case T_SET_PATH: case T_GET_PATH: case T_OBJECT: case T_ERROR: case T_HASH: case T_MAP:
        case T_PORT: case T_IMAGE: case T_EVENT:
            return true;
        default: return false;
    }
}

// ---- creation, copy, collector support ------------------------------------------------

Node hashtable_init(i32 size, const Cell* block, u32 kind, u32 d) {
    GcHold hold;
    u32 n = size < 0 ? 0 : u32(size);
    if (kind == HASH_SYMBOLS && n >= 4000) n *= 2;
    if (n < 4) n = 4;
    u32 cap = next_pow2(u64(n / MAX_LOAD));

    Node table = alloc_bytes(sizeof(HashTable));
    buffer_of(table)->tail = buffer_of(table)->offset + sizeof(HashTable);
    // Lets the collector mark the table's buffers when only its node is held somewhere.
    set_series_flag(buffer_of(table), SB_TABLE);
    *hashtable_of(table) = HashTable{};
    Node f = new_flags(cap);
    Node k = new_keys(cap);
    HashTable* h = hashtable_of(table);
    h->flags = f;
    h->keys = k;
    h->capacity = cap;
    h->upper = upper_bound_of(cap);
    h->kind = kind;
    if (kind == HASH_BLOCK) {
        Node idx = alloc_bytes_filled(n * 4, 0xFF);
        buffer_of(idx)->tail = buffer_of(idx)->offset + n * 4;
        Node chains = alloc_bytes(16);
        h = hashtable_of(table);
        h->aux = idx;
        h->chains = chains;
    }
    if (kind == HASH_RECORDS || kind == HASH_OWNERSHIP) {
        Node rb = alloc_cells(n * (d + 1));
        h = hashtable_of(table);
        h->aux = (d + 1) * sizeof(Cell);
        h->block = rb;
        h->stamp = g_gc_node_moves + 1;
        return table;
    }
    if (!block || type_of(block) == T_NONE) {
        Node b = alloc_cells(n);
        hashtable_of(table)->block = b;
        return table;
    }
    h->block = series_node(block);
    u32 head = u32(std::max(series_head(block), 0));
    hashtable_put_all(table, head, kind == HASH_MAP ? 2 : 1);
    return table;
}

Node hashtable_copy(Node table, Node block) {
    GcHold hold;
    Node copy = copy_series_buffer(buffer_of(table));
    Node f = copy_series_buffer(buffer_of(hashtable_of(table)->flags));
    Node k = copy_series_buffer(buffer_of(hashtable_of(table)->keys));
    HashTable* h = hashtable_of(copy);
    h->flags = f;
    h->keys = k;
    if (h->kind == HASH_BLOCK) {
        Node idx = copy_series_buffer(buffer_of(hashtable_of(table)->aux));
        Node chains = alloc_bytes(16);
        hashtable_of(copy)->aux = idx;
        hashtable_of(copy)->chains = chains;
        Node src = hashtable_of(table)->chains;
        for (u32 i = 1, n = series_length(src) / 4; i <= n; ++i) {
            Node c = copy_series_buffer(buffer_of(series_int_at(src, i)));
            series_append_int(hashtable_of(copy)->chains, c);
        }
    }
    h = hashtable_of(copy);
    if (block) {
        h->block = block;
    } else if (h->kind == HASH_RECORDS || h->kind == HASH_OWNERSHIP) {
        Node rb = copy_series_buffer(buffer_of(h->block));
        hashtable_of(copy)->block = rb;
    }
    return copy;
}

void hashtable_mark(Node table, const HashMarkOps& ops) {
    HashTable* h = hashtable_of(table);
    ops.mark_node(&h->flags);
    ops.mark_node(&h->keys);
    if (h->kind == HASH_BLOCK) {
        ops.mark_node(&h->aux);
        if (ops.mark_node(&h->chains)) {
            u32* items = at<u32>(buffer_of(h->chains)->offset);
            for (u32 i = 0, n = series_length(h->chains) / 4; i < n; ++i) ops.mark_node(&items[i]);
        }
    }
    bool records = h->kind == HASH_RECORDS || h->kind == HASH_OWNERSHIP;
    if (ops.mark_node(&h->block) && !records) ops.mark_cells(h->block);
    if (!records) return;
    for (u32 b = 0; b < h->capacity; ++b) {
        if (bucket_state(h, b) != LIVE) continue;
        Cell* rec = record_at(h, u32(slot_at(h, b)));
        if (ops.mark_node(&rec->data1) && buffer_of(rec->data1)->unit() == sizeof(Cell)) ops.mark_cells(rec->data1);
    }
}

void hashtable_refresh_after_gc(Node table, bool (*is_marked)(Node node)) {
    HashTable* h = hashtable_of(table);
    if (h->kind != HASH_RECORDS && h->kind != HASH_OWNERSHIP) return;
    for (u32 b = 0; b < h->capacity; ++b) {
        if (bucket_state(h, b) != LIVE) continue;
        Cell* rec = record_at(h, u32(slot_at(h, b)));
        bool dead = !is_marked(rec->data1);
        if (!dead && h->kind == HASH_OWNERSHIP && record_size(h) >= 3 * sizeof(Cell) && rec[2].data1)
            dead = !is_marked(rec[2].data1);
        if (!dead) continue;
        // The record's values are cleared with its key: they may name what just died, and the
        // records block is still walked as plain cells when the native stack points into it.
        rec->header = 0;
        for (u32 i = 1; i < record_size(h) / sizeof(Cell); ++i) set_cell(&rec[i], T_UNSET);
        set_bucket_state(h, b, DELETED);
        h->count--;
    }
}

// ---- kinds 0-2 ------------------------------------------------------------------------

i32 hashtable_put(Node table, u32 index) {
    hashtable_check_stamp(table);
    if (hashtable_of(table)->kind == HASH_BLOCK) {
        put_block_cell(table, index);
        return i32(index);
    }
    return put_direct(table, index);
}

Cell* hashtable_get_for_put(Node table, const Cell* key, i32 op, HashSpot& spot) {
    hashtable_check_stamp(table);
    // Grown first: the bucket the probe ends at stays free until the put.
    if (hashtable_of(table)->occupied >= hashtable_of(table)->upper) grow_in_place(table);
    Probe p = probe_direct(table, *key, op, &spot.hash);
    if (p.found >= 0) {
        HashTable* h = hashtable_of(table);
        return block_cell(h, u32(slot_at(h, u32(p.found))));
    }
    if (p.slot < 0) {
        grow_in_place(table);
        p = probe(table, spot.hash, [](u32) { return false; });
    }
    spot.bucket = p.slot;
    return nullptr;
}

void hashtable_put_at(Node table, u32 index, const HashSpot& spot) {
    take_bucket(table, u32(spot.bucket), i32(index), spot.hash);
}

void hashtable_put_all(Node table, u32 index, u32 step) {
    hashtable_check_stamp(table);
    HashTable* h = hashtable_of(table);
    if (h->kind == HASH_BLOCK) {
        for (u32 i = index; i < block_length(hashtable_of(table)); i += step)
            if (put_block_cell(table, i)) return;
        return;
    }
    if (h->kind != HASH_MAP || step != 2) {
        for (u32 i = index; i < block_length(hashtable_of(table)); i += step) put_direct(table, i);
        return;
    }
    for (u32 i = index; i + 1 < block_length(hashtable_of(table));) {
        Cell* key = block_cell(hashtable_of(table), i);
        if (is_map_word_key(type_of(key))) set_cell_type(key, T_SET_WORD);
        Probe p = probe_direct(table, *key, OP_STRICT_EQUAL);
        if (p.found < 0) {
            put_direct(table, i);
            i += 2;
            continue;
        }
        // A repeated key: the first position keeps the last value.
        h = hashtable_of(table);
        u32 first = u32(slot_at(h, p.found));
        *block_cell(h, first + 1) = *block_cell(h, i + 1);
        SeriesBuffer* b = buffer_of(h->block);
        Cell* gap = cells_of(b) + i;
        std::memmove(gap, gap + 2, b->tail - off_of(gap + 2));
        b->tail -= 2 * sizeof(Cell);
    }
}

Cell* hashtable_get(Node table, const Cell* key, i32 start, i32 skip, i32 op, bool reverse, bool last) {
    hashtable_check_stamp(table);
    HashTable* h = hashtable_of(table);
    if (h->kind != HASH_BLOCK) {
        Probe p = probe_direct(table, *key, op);
        if (p.found < 0) return nullptr;
        h = hashtable_of(table);
        return block_cell(h, u32(slot_at(h, p.found)));
    }
    Cell k = *key;
    u32 type = type_of(&k);
    u32 hv = hash_value(&k);
    Probe p = probe(table, hv, [&](u32 b) {
        HashTable* t = hashtable_of(table);
        if (key_hash(t, b) != hv) return false;
        Cell* rep = block_cell(t, representative(t, b));
        return type_of(rep) == type && equal_under(rep, &k, OP_EQUAL);
    });
    if (p.found < 0) return nullptr;
    if (skip < 1) skip = 1;
    h = hashtable_of(table);
    i32 e = slot_at(h, p.found);
    u32 n = e >= 0 ? 1 : chain_length(chain_node(h, e));
    i64 best = -1;
    i64 last_index = i64(block_length(h)) - 1;
    for (u32 c = 0; c < n; ++c) {
        // Read through the node each time: a compare may allocate.
        HashTable* t = hashtable_of(table);
        i64 pos = e >= 0 ? e : chain_items(chain_node(t, e))[c];
        bool wanted;
        if (last) wanted = (last_index - pos) % skip == 0 && (best < 0 || pos > best);
        else if (reverse) wanted = pos < start && (start - 1 - pos) % skip == 0 && (best < 0 || pos > best);
        else wanted = pos >= start && (pos - start) % skip == 0 && (best < 0 || pos < best);
        if (!wanted) continue;
        if (op != OP_EQUAL && !equal_under(block_cell(t, u32(pos)), &k, op)) continue;
        best = pos;
    }
    return best < 0 ? nullptr : block_cell(hashtable_of(table), u32(best));
}

Cell* hashtable_get_next(Node table, const Cell* key, HashCursor& cursor) {
    hashtable_check_stamp(table);
    HashTable* h = hashtable_of(table);
    Cell k = *key;
    if (h->kind == HASH_MAP && is_map_word_key(type_of(&k))) set_cell_type(&k, T_SET_WORD);
    u32 type = type_of(&k);
    u32 cap = h->capacity;
    u32 mask = cap - 1;
    u32 i, step;
    if (cursor.bucket < 0) {
        i = hash_value(&k) & mask;
        cursor.end = i;
        step = 0;
    } else {
        step = cursor.step + 1;
        i = (u32(cursor.bucket) + step) & mask;
        if (i == cursor.end || step >= cap) return nullptr;
    }
    for (;;) {
        h = hashtable_of(table);
        u32 s = bucket_state(h, i);
        if (s == EMPTY) return nullptr;
        if (s == LIVE) {
            u32 index = h->kind == HASH_BLOCK ? representative(h, i) : u32(slot_at(h, i));
            Cell* cell = block_cell(h, index);
            if (type_of(cell) == type && equal_under(cell, &k, OP_EQUAL)) {
                cursor.bucket = i32(i);
                cursor.step = step;
                return block_cell(hashtable_of(table), index);
            }
        }
        if (++step >= cap) return nullptr;
        i = (i + step) & mask;
        if (i == cursor.end) return nullptr;
    }
}

i32 hashtable_find_symbol(Node table, u32 symbol, bool case_insensitive) {
    Cell key;
    set_cell(&key, T_WORD, 0, symbol, 0);
    Probe p = probe_direct(table, key, case_insensitive ? OP_EQUAL : OP_STRICT_EQUAL);
    return p.found < 0 ? -1 : slot_at(hashtable_of(table), p.found);
}

void hashtable_find_symbol_both(Node table, u32 symbol, i32* exact, i32* first) {
    Cell key;
    set_cell(&key, T_WORD, 0, symbol, 0);
    *exact = *first = -1;
    if (hashtable_of(table)->kind != HASH_SYMBOLS) {
        *exact = hashtable_find_symbol(table, symbol, false);
        *first = hashtable_find_symbol(table, symbol, true);
        return;
    }
    u32 folded = resolve_symbol_alias(symbol);
    // The walk goes on past case variants until the exact spelling (or the end of the
    // sequence), as the strict probe would.
    probe(table, hash_value(&key), [&](u32 b) {
        HashTable* t = hashtable_of(table);
        i32 index = slot_at(t, b);
        Cell* cell = block_cell(t, u32(index));
        bool same, twin;
        if (is_word_kind(type_of(cell))) {
            same = cell->data2 == symbol;
            twin = same || resolve_symbol_alias(cell->data2) == folded;
        } else {
            same = symbol_key_match(cell, &key, OP_STRICT_EQUAL);
            twin = symbol_key_match(cell, &key, OP_EQUAL);
        }
        if (twin && *first < 0) *first = index;
        if (same) *exact = index;
        return same;
    });
}

// ---- the symbol table -----------------------------------------------------------------

u32 hashtable_find_string(Node table, const u8* name, u32 length, bool ci_only) {
    // No collection while interning: `name` may lie in a series buffer.
    GcHold hold;
    HashTable* h = hashtable_of(table);
    if (h->occupied >= h->upper) grow_in_place(table);
    u32 hv = murmur3_32_ascii_folded(name, length);
    // Nothing below allocates until the new name is made: the table's buffers stay put.
    h = hashtable_of(table);
    const Cell* cells = block_cell(h, 0);
    auto name_of = [&](u32 b, u32* len) {
        SeriesBuffer* nb = buffer_of(cells[slot_at(h, b)].data3);
        *len = nb->tail - nb->offset;  // a name's bytes: one byte a unit
        return at(nb->offset);
    };
    auto id_of = [&](i32 b) { return u32(slot_at(hashtable_of(table), b)) + 1; };
    Probe exact{-1, -1};
    if (!ci_only) {
        exact = probe(table, hv, [&](u32 b) {
            u32 len;
            const u8* p = name_of(b, &len);
            return len == length && std::memcmp(p, name, length) == 0;
        });
        if (exact.found >= 0) return id_of(exact.found);
    }
    // Twins have the same byte length: `foo` never matches `FOOBAR`.
    Probe twin = probe(table, hv, [&](u32 b) {
        u32 len;
        const u8* p = name_of(b, &len);
        return len == length && ascii_equal_ignoring_case(p, name, length);
    });
    if (ci_only && twin.found >= 0) return id_of(twin.found);
    // The alias names the first spelling, whichever twin the probe met.
    u32 alias = u32(-1);
    if (twin.found >= 0) {
        HashTable* t = hashtable_of(table);
        i32 first = i32(block_cell(t, u32(slot_at(t, twin.found)))->data1);
        alias = first > 0 ? u32(first) : id_of(twin.found);
    }
    i32 slot = ci_only ? twin.slot : exact.slot;
    if (slot < 0) {
        grow_in_place(table);
        return hashtable_find_string(table, name, length, ci_only);
    }

    Node block = hashtable_of(table)->block;
    u32 index = series_length(block);
    block_alloc_tail(block);  // unset! until the name is made
    Node text = alloc_bytes(length + 1);
    SeriesBuffer* b = buffer_of(text);
    std::memcpy(at(b->offset), name, length);
    at(b->offset)[length] = 0;
    b->tail = b->offset + length;
    set_cell(cells_of(buffer_of(block)) + index, T_SYMBOL, alias, 0, text);
    take_bucket(table, u32(slot), i32(index), hv);
    return index + 1;
}

void hashtable_delete(Node table, u32 index) {
    HashTable* h = hashtable_of(table);
    if (h->kind == HASH_BLOCK) {
        unindex(table, index);
        return;
    }
    if (h->kind != HASH_MAP) return;
    Cell* value = block_cell(h, index + 1);
    if (value->header == 0) return;
    value->header = 0;
    h->count--;
}

void hashtable_remove_range(Node table, u32 index, u32 n) {
    HashTable* h = hashtable_of(table);
    if (h->kind != HASH_BLOCK || (index == 0 && n >= index_length(h))) {
        hashtable_reset(table);
        return;
    }
    for (u32 i = index, end = std::min(index + n, index_length(h)); i < end; ++i) unindex(table, i);
}

void hashtable_reset(Node table) {
    HashTable* h = hashtable_of(table);
    std::memset(flag_words(h), 0xAA, buffer_of(h->flags)->tail - buffer_of(h->flags)->offset);
    std::memset(key_slots(h), 0xFF, h->capacity * 8);
    h->count = h->occupied = 0;
    if (h->kind == HASH_BLOCK) {
        std::memset(index_entries(h), 0xFF, index_length(h) * 4);
        series_clear(h->chains);
        h->stamp = 0;
    }
}

bool hashtable_refresh(Node table, u32 start, i32 shift) {
    // Only indexes move here, no hash is computed: a table whose node hashes went stale
    // is rebuilt at its next look-up, once the block is complete again.
    HashTable* h = hashtable_of(table);
    u32 len = index_length(h);
    if (h->kind != HASH_BLOCK || shift == 0 || start >= len) {
        // Nothing indexed at or after the edit point: the removed cells were not indexed.
        return false;
    }
    if (shift > 0) {
        if (len - start > REFRESH_LIMIT) return true;
        u32 n = u32(shift);
        ensure_index(table, len + n);
        h = hashtable_of(table);
        u32* idx = index_entries(h);
        for (u32 i = len; i-- > start;) {
            u32 e = idx[i];
            if (e == NOT_INDEXED) continue;
            repoint(h, e - 1, i, i + n);
            idx[i + n] = e;
            idx[i] = NOT_INDEXED;
        }
        return false;
    }
    u32 n = u32(-shift);
    u32 from = start + n < len ? start + n : len;
    if (len - from > REFRESH_LIMIT) return true;
    GcHold hold;
    for (u32 i = start; i < from; ++i) unindex(table, i);
    h = hashtable_of(table);
    u32* idx = index_entries(h);
    for (u32 i = from; i < len; ++i) {
        u32 e = idx[i];
        if (e == NOT_INDEXED) continue;
        repoint(h, e - 1, i, i - n);
        idx[i - n] = e;
        idx[i] = NOT_INDEXED;
    }
    trim_index(h);
    return false;
}

void hashtable_refresh_move(Node table, u32 start, u32 n) {
    GcHold hold;
    for (u32 i = start; i < start + n; ++i) unindex(table, i);
    for (u32 i = start; i < start + n; ++i) put_block_cell(table, i);
}

void hashtable_resize(Node table, u32 size) {
    rebuild_block_table(table, next_pow2(u64(std::max<u32>(size, 4) / MAX_LOAD)));
}

// ---- kinds 3-4 ------------------------------------------------------------------------

Cell* hashtable_put_key(Node table, u32 key) {
    hashtable_check_stamp(table);
    HashTable* h = hashtable_of(table);
    if (h->occupied >= h->upper) grow_records(table);
    Probe p = probe_record(table, key);
    h = hashtable_of(table);
    if (p.found >= 0) {
        Cell* rec = record_at(h, u32(slot_at(h, p.found)));
        for (u32 c = 0; c < record_size(h) / sizeof(Cell); ++c) rec[c].header = T_UNSET;
        return rec + 1;
    }
    if (p.slot < 0) {
        grow_records(table);
        return hashtable_put_key(table, key);
    }
    return add_record(table, key, u32(p.slot)) + 1;
}

Cell* hashtable_get_ptr(Node table, u32 key) {
    hashtable_check_stamp(table);
    Probe p = probe_record(table, key);
    if (p.found < 0) return nullptr;
    HashTable* h = hashtable_of(table);
    return record_at(h, u32(slot_at(h, p.found))) + 1;
}

Cell* hashtable_remove_ptr(Node table, u32 key) {
    hashtable_check_stamp(table);
    Probe p = probe_record(table, key);
    if (p.found < 0) return nullptr;
    HashTable* h = hashtable_of(table);
    Cell* rec = record_at(h, u32(slot_at(h, p.found)));
    rec->header = 0;
    set_bucket_state(h, u32(p.found), DELETED);
    h->count--;
    return rec + 1;
}

void hashtable_check_stamp(Node table) {
    HashTable* h = hashtable_of(table);
    if (!h->stamp || h->stamp == g_gc_node_moves + 1 || g_gc_collecting) return;
    if (h->kind == HASH_BLOCK) rebuild_block_table(table, h->capacity);
    else if (h->kind == HASH_RECORDS || h->kind == HASH_OWNERSHIP) reindex_records(table);
}

// ---- pointer map ----------------------------------------------------------------------

namespace {

inline u32 pm_state(const PtrMap* m, u32 i) { return (m->flags[i >> 4] >> ((i & 15) * 2)) & 3; }
inline void pm_set_state(PtrMap* m, u32 i, u32 s) {
    u32 shift = (i & 15) * 2;
    m->flags[i >> 4] = (m->flags[i >> 4] & ~(3u << shift)) | (s << shift);
}

void pm_alloc(PtrMap* m, u32 cap) {
    u32 words = (cap + 15) / 16;
    m->flags = static_cast<u32*>(heap_allocate(i32(words * 4)));
    std::memset(m->flags, 0xAA, words * 4);
    m->pairs = static_cast<u32*>(heap_allocate_zeroed(i32(cap * 8)));
    m->capacity = cap;
    m->upper = upper_bound_of(cap);
    m->count = m->occupied = 0;
}

// Answers the bucket holding the key, or -1 with *slot where it would go.
i32 pm_find(PtrMap* m, u32 key, i32* slot) {
    u32 mask = m->capacity - 1;
    u32 i = fmix32(key) & mask;
    i32 deleted = -1;
    for (u32 step = 0;;) {
        u32 s = pm_state(m, i);
        if (s == EMPTY) {
            *slot = deleted >= 0 ? deleted : i32(i);
            return -1;
        }
        if (s == DELETED) {
            if (deleted < 0) deleted = i32(i);
        } else if (m->pairs[2 * i] == key) {
            return i32(i);
        }
        if (++step >= m->capacity) {
            *slot = deleted;
            return -1;
        }
        i = (i + step) & mask;
    }
}

void pm_grow(PtrMap* m) {
    PtrMap old = *m;
    u32 cap = old.capacity > 2 * old.count ? old.capacity : old.capacity * 2;
    pm_alloc(m, cap);
    for (u32 i = 0; i < old.capacity; ++i)
        if (pm_state(&old, i) == LIVE) ptrmap_put(m, old.pairs[2 * i], old.pairs[2 * i + 1]);
    heap_free(old.flags);
    heap_free(old.pairs);
}

}  // namespace

PtrMap* ptrmap_new(u32 n) {
    auto* m = static_cast<PtrMap*>(heap_allocate_zeroed(sizeof(PtrMap)));
    pm_alloc(m, next_pow2(u64(std::max<u32>(n, 4) / MAX_LOAD)));
    return m;
}

void ptrmap_put(PtrMap* m, u32 key, u32 value) {
    i32 slot = -1;
    i32 b = pm_find(m, key, &slot);
    if (b >= 0) {
        m->pairs[2 * b + 1] = value;
        return;
    }
    if (m->occupied >= m->upper || slot < 0) {
        pm_grow(m);
        b = pm_find(m, key, &slot);
    }
    if (pm_state(m, u32(slot)) == EMPTY) m->occupied++;
    m->count++;
    m->pairs[2 * slot] = key;
    m->pairs[2 * slot + 1] = value;
    pm_set_state(m, u32(slot), LIVE);
}

u32* ptrmap_get(PtrMap* m, u32 key) {
    i32 slot;
    i32 b = pm_find(m, key, &slot);
    return b < 0 ? nullptr : &m->pairs[2 * b + 1];
}

void ptrmap_remove(PtrMap* m, u32 key) {
    i32 slot;
    i32 b = pm_find(m, key, &slot);
    if (b < 0) return;
    pm_set_state(m, u32(b), DELETED);
    m->count--;
}

bool ptrmap_next(PtrMap* m, u32* cursor, u32* key, u32* value) {
    for (u32 i = *cursor; i < m->capacity; ++i) {
        if (pm_state(m, i) != LIVE) continue;
        *key = m->pairs[2 * i];
        *value = m->pairs[2 * i + 1];
        *cursor = i + 1;
        return true;
    }
    *cursor = m->capacity;
    return false;
}

void ptrmap_clear(PtrMap* m) {
    std::memset(m->flags, 0xAA, ((m->capacity + 15) / 16) * 4);
    m->count = m->occupied = 0;
}

void ptrmap_free(PtrMap* m) {
    if (!m) return;
    heap_free(m->flags);
    heap_free(m->pairs);
    heap_free(m);
}

}  // namespace kel::rt
