// Garbage collector interface.
//
// The collector runs only from allocation (gc_trigger, when a buffer finds no room or before
// a big buffer) and from `recycle`; it stays disabled during start-up. Roots are the root
// block, the symbol table, the stacks, the global context, registered mark hooks and root
// guards, plus a conservative scan of the native stack, which marks and pins.
#pragma once
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

// Runs a collection when the collector is enabled.
void gc_trigger();
// Called on every buffer allocation; in a GC-stress build collects every N-th time.
void gc_stress_point();
// How many collections have run.
u32 gc_collection_count();
// Hands a node back (to the dead-node list during a sweep).
void gc_free_node(Node n);

}  // namespace kel::rt
