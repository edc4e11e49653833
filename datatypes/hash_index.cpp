// Keeping a hash!'s table in step with its block.
#include "datatypes/hash_index.h"

namespace kel::dt {

// TODO(hashsym): these call the hash table module once it is merged; a value without a
// table (data3 = 0) needs nothing.
void index_inserted(Cell*, i32, i32) {}
void index_removed(Cell*, i32, i32) {}
void index_replaced(Cell*, i32, const Cell*) {}
void index_reindex_from(Cell*, i32) {}
void index_clear_from(Cell*, i32) {}
void index_moved(Cell*, i32, i32, i32) {}
void index_build(Cell*) {}

}  // namespace kel::dt
