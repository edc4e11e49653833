// Keeping a hash!'s table in step with its block.
#include "datatypes/hash_index.h"

#include "datatypes/series.h"
#include "runtime/hashtable.h"

namespace kel::dt {

using namespace rt;

void index_inserted(Cell* s, i32 index, i32 count) {
    if (!has_index(s) || count <= 0) return;
    // A shift of very many keys is cheaper as one rebuild.
    if (hashtable_refresh(s->data3, u32(index), count)) {
        hashtable_resize(s->data3, u32(ks_buffer_length(s)));
        return;
    }
    for (i32 k = 0; k < count; ++k) hashtable_put(s->data3, u32(index + k));
}

void index_removed(Cell* s, i32 index, i32 count) {
    if (!has_index(s) || count <= 0) return;
    if (hashtable_refresh(s->data3, u32(index), -count)) hashtable_resize(s->data3, u32(ks_buffer_length(s)));
}

void index_replaced(Cell* s, i32 index) {
    if (has_index(s)) hashtable_put(s->data3, u32(index));
}

void index_reordered(Cell* s, i32 index, i32 count) {
    if (has_index(s) && count > 0) hashtable_refresh_move(s->data3, u32(index), u32(count));
}

void index_clear_from(Cell* s, i32 index) {
    i32 n = ks_buffer_length(s) - index;
    if (has_index(s) && n > 0) hashtable_remove_range(s->data3, u32(index), u32(n));
}

void index_rebuild(Cell* s) {
    if (has_index(s)) hashtable_resize(s->data3, u32(ks_buffer_length(s)));
}

void index_build(Cell* s) {
    i32 n = series_length_q(s, false);
    s->data3 = 0;
    s->data3 = hashtable_init(n, s, HASH_BLOCK);
}

}  // namespace kel::dt
