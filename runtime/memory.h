// Memory manager: the arena, node frames, series frames and big frames.
//
// All runtime memory lives in one 4 GiB reservation (the arena). Cells and buffer headers
// store 32-bit offsets from its base; offset 0 is null because the first 64 KiB are never
// mapped. Memory inside the arena is taken in page-rounded "OS blocks" (mprotect'ed to
// read-write when taken, given back with MADV_DONTNEED when freed).
//
// Values reach their data through a node: a one-word slot in a node frame that holds the
// offset of the series buffer. Buffers can therefore grow (expansion allocates a new
// buffer and re-points the node, abandoning the old one) and the collector can slide them
// during compaction by rewriting the node alone.
//
// Series buffer layout (20-byte header, data, 4 spare bytes):
//   flags   bits 0-4 unit width (1, 2, 4 or 16 = cells); see SB_* below
//   node    the owning node (0 once abandoned)
//   size    data bytes, a multiple of 16
//   offset  arena offset of the first used unit
//   tail    arena offset just past the last used unit
//
// Invariants that every caller keeps:
//   - Any allocation may run the collector (once it is enabled) and so may move any buffer
//     that is not pinned. After a call that may allocate, re-read buffers through their
//     nodes; never hold a SeriesBuffer* or Cell* into a buffer across such a call unless
//     the value is otherwise rooted and the pointer is re-derived.
//   - Values held only by C++ code across an allocation must be rooted: on the argument
//     stack, in a rooted series, or in a root guard (see gc.h).
#pragma once
#include "runtime/cell.h"
#include "runtime/types.h"

namespace kel::rt {

// ---- arena ----------------------------------------------------------------------------

// Set once, before main, and never changed: declared const so that the compiler keeps it in
// a register across stores and calls instead of reloading it for every offset.
extern u8* const g_arena;

template <class T = u8>
inline T* at(Off o) {
    return reinterpret_cast<T*>(g_arena + o);
}
inline Off off_of(const void* p) { return Off(static_cast<const u8*>(p) - g_arena); }
inline bool in_arena(const void* p) {
    return static_cast<const u8*>(p) >= g_arena && static_cast<const u8*>(p) < g_arena + (u64(1) << 32);
}

constexpr u32 PAGE_SIZE = 4096;
constexpr u32 ARENA_GUARD = 64 * 1024;

// Reserves the arena (idempotent). Called first by the runtime boot and by tests.
void arena_init();
// Page-rounded block (size + one word); answers the usable offset just after the size word.
// Raises internal/no-memory when the arena is exhausted.
Off os_alloc_block(u32 size, bool executable = false);
// Gives a block back; internal/wrong-mem for an offset that is not a live block.
void os_free_block(Off usable);

// ---- series buffers -------------------------------------------------------------------

constexpr u32 SB_UNIT_MASK = 0x1F;
constexpr u32 SB_IN_USE = 0x80000000;
constexpr u32 SB_ALLOCATED = 0x20000000;  // set on every buffer made by the allocator
constexpr u32 SB_HEAD_ROOM = 0x10000000;
constexpr u32 SB_MARK = 0x08000000;       // collector mark
constexpr u32 SB_BIG = 0x01000000;        // alone in a big frame
constexpr u32 SB_FIXED = 0x00100000;      // never moved or freed by the collector
constexpr u32 SB_COMPLEMENT = 0x00080000; // bitset! complement flag
constexpr u32 SB_UTF16_LOADED = 0x00040000;
constexpr u32 SB_OWNED = 0x00020000;      // the series has an owner object (ownership table)
constexpr u32 SB_TABLE = 0x00008000;      // a hash table record: its fields are nodes
// The serialisation encoder's marks while it runs (met once, met again); cleared when it ends.
constexpr u32 SB_KB_SEEN = 0x00004000;
constexpr u32 SB_KB_SHARED = 0x00010000;

struct SeriesBuffer {
    u32 flags;
    Node node;
    u32 size;
    Off offset;
    Off tail;

    u8* data() { return reinterpret_cast<u8*>(this) + sizeof(SeriesBuffer); }
    Off data_off() { return off_of(data()); }
    Off data_end() { return data_off() + size; }
    u32 unit() const { return flags & SB_UNIT_MASK; }
    u8* head_ptr() { return at(offset); }
    u8* tail_ptr() { return at(tail); }
    u32 used_bytes() const { return tail - offset; }
};
static_assert(sizeof(SeriesBuffer) == 20, "series buffer header is five words");

// log2 of a unit width (1 -> 0, 2 -> 1, 4 -> 2, 16 -> 4).
inline u32 unit_shift(u32 unit) { return 31 - __builtin_clz(unit); }

inline SeriesBuffer* buffer_of(Node n) { return at<SeriesBuffer>(*at<u32>(n)); }
inline Cell* cells_of(SeriesBuffer* b) { return at<Cell>(b->offset); }

// ---- memory state ---------------------------------------------------------------------

struct MemoryState {
    u32 total_os_bytes;
    Off node_frame_head, node_frame_tail, node_frame_current;
    Off series_frame_head, series_frame_current, series_frame_tail;
    u32 initial_frame_size;  // 1 MiB
    u32 next_frame_size;     // 1 MiB, then 2 MiB
    u32 max_frame_size;      // 2 MiB: also the big-buffer threshold
    Off big_frame_head;
};
extern MemoryState g_memory;

constexpr u32 NODES_PER_FRAME = 10000;
constexpr u32 FRAME_SIZE_1M = 0x100000;
constexpr u32 FRAME_SIZE_2M = 0x200000;
constexpr u32 FRAME_MIN_LEFT = 0xCCCC;  // a found frame with less room left is passed over

struct NodeFrame {
    Off next, prev;
    u32 capacity;
    Off free_head;
    u32 used;
    u32 stamp;
    u32 used_at_last;
    u32 history;
    u32 release;
    u32* nodes() { return reinterpret_cast<u32*>(this + 1); }
};

struct SeriesFrame {
    Off next, prev;
    u32 block_size;  // frame size + 20
    Off bump;
    Off end;
    u8* area() { return reinterpret_cast<u8*>(this + 1); }
};
static_assert(sizeof(SeriesFrame) == 20);

struct BigFrame {
    Off next;
    u32 zero;
    u32 size;
    SeriesBuffer* buffer() { return reinterpret_cast<SeriesBuffer*>(this + 1); }
};

void memory_settings_init();

Off new_node_frame(u32 count);
void free_node_frame(Off frame);
Node alloc_node();
void free_node(Off frame, Node node);
void release_node_frames();

Off new_series_frame();
void free_series_frame(Off frame);
// The first frame with room for `needed` bytes and FRAME_MIN_LEFT more after them, or 0.
Off find_series_frame(u32 needed);

SeriesBuffer* alloc_series_buffer(u32 n, u32 w, i32 offset);
Node alloc_series(u32 n, u32 w, i32 offset);
Node alloc_fixed_series(u32 n, u32 w, i32 offset);
Node alloc_cells(u32 n);
Node alloc_unset_cells(u32 n);
Node alloc_bytes(u32 n);
Node alloc_codepoints(u32 n, u32 w);
Node alloc_bytes_filled(u32 n, u8 byte);
inline void set_series_flag(SeriesBuffer* b, u32 mask) { b->flags |= mask; }

SeriesBuffer* expand_series_buffer(SeriesBuffer* b, i64 new_size);
SeriesBuffer* expand_series(SeriesBuffer* b, i64 new_size);
SeriesBuffer* expand_series_filled(SeriesBuffer* b, i64 new_size, u8 byte);
Node copy_series_buffer(SeriesBuffer* b);

SeriesBuffer* alloc_big_frame(u32 bytes);
void free_big_frame(SeriesBuffer* b);
void sweep_big_frames();
void free_all_frames();
void runtime_release_all();

void fill_range(u8* start, u8* end, u8 byte);
void zero_words(u32* first, u32* last);

// Which frame holds an address: for the collector's address classification.
bool is_series_data_address(const void* p);

}  // namespace kel::rt
