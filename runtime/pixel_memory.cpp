// A small cache of freed pixel blocks (see pixel_memory.h). Blocks under 4 MiB go straight
// to malloc: their pages come from the heap already.
#include "runtime/pixel_memory.h"

#include <malloc.h>

#include <cstdlib>

namespace kel::rt {

namespace {

constexpr size_t KEEP_FROM = size_t(4) << 20;
constexpr size_t KEEP_AT_MOST = size_t(512) << 20;
constexpr int SLOTS = 4;

void* g_kept[SLOTS];
size_t g_kept_size[SLOTS];
size_t g_kept_total = 0;

}  // namespace

void* pixels_alloc(size_t bytes) {
    if (bytes >= KEEP_FROM) {
        // The smallest kept block that fits without wasting more than half of it.
        int best = -1;
        for (int i = 0; i < SLOTS; ++i)
            if (g_kept[i] && g_kept_size[i] >= bytes && g_kept_size[i] / 2 <= bytes &&
                (best < 0 || g_kept_size[i] < g_kept_size[best]))
                best = i;
        if (best >= 0) {
            void* p = g_kept[best];
            g_kept_total -= g_kept_size[best];
            g_kept[best] = nullptr;
            return p;
        }
    }
    return std::malloc(bytes ? bytes : 1);
}

void pixels_free(void* block) {
    if (!block) return;
    size_t size = malloc_usable_size(block);
    if (size >= KEEP_FROM && size <= KEEP_AT_MOST) {
        // Room is made by dropping the oldest kept blocks.
        for (int i = 0; i < SLOTS && g_kept_total + size > KEEP_AT_MOST; ++i)
            if (g_kept[i]) {
                std::free(g_kept[i]);
                g_kept_total -= g_kept_size[i];
                g_kept[i] = nullptr;
            }
        for (int i = 0; i < SLOTS; ++i)
            if (!g_kept[i]) {
                g_kept[i] = block;
                g_kept_size[i] = size;
                g_kept_total += size;
                return;
            }
        std::free(g_kept[0]);
        g_kept_total -= g_kept_size[0];
        g_kept[0] = block;
        g_kept_size[0] = size;
        g_kept_total += size;
        return;
    }
    std::free(block);
}

void pixels_trim() {
    for (int i = 0; i < SLOTS; ++i) {
        std::free(g_kept[i]);
        g_kept[i] = nullptr;
    }
    g_kept_total = 0;
}

}  // namespace kel::rt
