// Garbage collector: stop-the-world mark and compact.
//
// The collector runs only from allocation (gc_trigger: a buffer finds no room in the
// frames, or a big buffer is about to be made) and from `recycle`; it is disabled during
// start-up. A cycle:
//   1. scans the native stack and saved registers conservatively: a 32- or 64-bit word that
//      is a node, or that points (as a host pointer or an arena offset) into a buffer's
//      storage, marks that buffer and pins it: pinned buffers never move and pinned nodes'
//      frames are never evacuated;
//   2. plans node moves: lightly used node frames whose use has not changed for several
//      collections are emptied into other frames (a forward map rewrites every reference
//      met while marking);
//   3. marks from the roots: the argument stack cells, the call frames, registered node and
//      cell roots, root guards and mark hooks (the symbol table, the global context and the
//      other subsystems' roots register themselves);
//   4. sweeps the external-resource table;
//   5. compacts every series frame in address order: dead buffers' nodes go to the dead-node
//      list, live buffers slide into the previous frame's free space or down within their
//      own frame; pinned buffers stay where they are;
//   6. sweeps big frames, returns dead nodes, releases empty node frames beyond a reserve.
//
// Invariants for code that holds values (see docs/architecture.md): a value held only by
// C++ code across an allocation must be reachable from a root or from the native stack; a
// raw pointer into a buffer is re-derived after any allocation (the buffer may have grown).
// Globals that hold nodes or cells register themselves (gc_register_node_root,
// gc_register_cell_root): the conservative scan covers the stack and registers only.
//
// GC-stress builds (KEL_GC_STRESS=N): a collection at every N-th buffer allocation, every
// movable buffer moved at every collection, and all freed space poisoned or unmapped.
#pragma once
#include "runtime/cell.h"
#include "runtime/types.h"

namespace kel::rt {

extern bool g_gc_enabled;
// True while a collection runs.
extern bool g_gc_collecting;
// Rises by one after every collection that moved nodes to other node frames: tables whose
// buckets were computed from node values compare it with their stamp.
extern u32 g_gc_node_moves;

// Holds the collector off for a scope (the enable flag is saved, cleared and restored).
struct GcHold {
    bool saved;
    GcHold() : saved(g_gc_enabled) { g_gc_enabled = false; }
    ~GcHold() { g_gc_enabled = saved; }
    GcHold(const GcHold&) = delete;
    GcHold& operator=(const GcHold&) = delete;
};

void gc_init();
// Runs a collection when the collector is enabled and none is running.
void gc_trigger();
// One full cycle now (the `recycle` native); nothing when a cycle is already running.
void gc_collect();
// Called on every buffer allocation; in a GC-stress build collects every N-th time.
void gc_stress_point();
// While set, the stress build skips its collection at every N-th allocation. The unit tests
// set it while each test process boots the library: the program's own start-up runs the
// library under stress in every transcript, and booting it again per test made the boot
// most of each test's time.
extern bool g_gc_stress_paused;
bool gc_active();
u32 gc_collection_count();
u32 gc_move_counter();
// push-gc-node: hands a node of a dead buffer back (through the dead-node list).
void gc_free_node(Node n);

// Makes the calling thread's stack the one the conservative scan walks.
void gc_attach_current_thread();

// ---- marking, for datatypes' marking code and mark hooks ------------------------------

// Marks a node's buffer; answers true when it was not yet marked. The slot is rewritten
// first when its node moved in this cycle.
bool mark_node(Node& slot);
// Rewrites a slot whose node moved in this cycle, without marking it (weak references).
void gc_relocate(Node& slot);
// Whether a node's buffer is marked in the running cycle (for weak tables).
bool gc_node_marked(Node n);
// Marks a node and every cell of its buffer (from the first used cell to the tail).
void mark_block(Node& slot);
// Marks what one cell refers to, by its type.
void mark_value(Cell* c);
void mark_cells(Cell* first, Cell* end);
// A context node: the node, its context cell (word table, values) and owner cell.
inline void mark_context(Node& slot) { mark_block(slot); }
// A hash table record (any kind): its own buffers and the hashed block.
void mark_hashtable(Node& slot);

// Per-type marking for types whose payload needs more than the built-in rules.
using TypeMarker = void (*)(Cell* c);
void gc_set_type_marker(u32 type, TypeMarker marker);

// ---- roots ----------------------------------------------------------------------------

using MarkHook = void (*)();
void register_mark_hook(MarkHook hook);
void unregister_mark_hook(MarkHook hook);
// Hooks run once marking is complete and before anything is freed: weak tables drop the
// entries whose values were not marked.
void register_after_mark_hook(MarkHook hook);
// Hooks run at the end of every collection, once buffers and nodes have moved: a module
// that keeps a raw address into a buffer between collections takes it afresh here.
void register_after_collect_hook(MarkHook hook);
// A C++ variable that holds a node or a cell for the whole run.
void gc_register_node_root(Node* slot);
void gc_unregister_node_root(Node* slot);
void gc_register_cell_root(Cell* cell);
void gc_unregister_cell_root(Cell* cell);

// A cell held by C++ code across allocations, rooted while the guard lives.
class RootGuard {
public:
    RootGuard() { cell.header = T_NONE; gc_register_cell_root(&cell); }
    explicit RootGuard(const Cell& c) : cell(c) { gc_register_cell_root(&cell); }
    // Cleared so that the dead guard's bytes on the stack keep nothing alive.
    ~RootGuard() {
        gc_unregister_cell_root(&cell);
        cell = Cell{};
    }
    RootGuard(const RootGuard&) = delete;
    RootGuard& operator=(const RootGuard&) = delete;
    Cell cell;
};

// ---- figures --------------------------------------------------------------------------

struct MemoryFigures {
    u64 node_used_bytes;    // 4 per used node
    u64 series_used_bytes;  // bump - data start of every series frame
    u64 big_bytes;          // big frames' sizes
    u64 os_bytes;           // everything taken from the arena
};
MemoryFigures memory_figures();

}  // namespace kel::rt
