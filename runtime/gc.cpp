// Garbage collector.
#include "runtime/gc.h"

namespace kel::rt {

bool g_gc_enabled = false;
bool g_gc_collecting = false;
u32 g_gc_node_moves = 0;
static u32 g_collections = 0;

void gc_trigger() {
    if (!g_gc_enabled) return;
}

void gc_stress_point() {}

u32 gc_collection_count() { return g_collections; }

void gc_free_node(Node) {}

}  // namespace kel::rt
