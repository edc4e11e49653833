// Routines behind system/codecs/kelbin and system/state/GC.
#include <vector>

#include "codec/kelbin.h"
#include "datatypes/binary.h"
#include "datatypes/block.h"
#include "host/files.h"
#include "library/routines.h"
#include "runtime/errors.h"
#include "runtime/gc.h"
#include "runtime/stack.h"

namespace kel::lib {

namespace {

constexpr const char* CODECS_SOURCE = "library/codecs.kel";
constexpr const char* SYSTEM_SOURCE = "library/system.kel";

// data compact? -> binary!
i64 kelbin_encode(Cell* args) {
    Cell* bin = codec::kelbin_encode(&args[0], args[1].data1 == 1);
    args[0] = *bin;
    rt::stack_pop(1);
    return 0;
}

// payload -> the value, or a block of the values when there are several.
i64 kelbin_decode(Cell* args) {
    u32 t = type_of(&args[0]);
    if (t == T_FILE || t == T_URL) {
        args[0] = *host::push_source_bytes(&args[0]);
        rt::stack_pop(1);
        t = T_BINARY;
    }
    if (t != T_BINARY) rt::raise_error(rt::Err::script_invalid_data, &args[0]);
    u32 n = dt::binary_length(&args[0]);
    if (n <= 10) rt::raise_error(rt::Err::script_invalid_data, &args[0]);
    Cell* out = dt::push_new_block(4);
    codec::kelbin_decode(dt::binary_head_ptr(&args[0]), n, out, &args[0]);
    args[0] = dt::ks_length_q(out) == 1 ? *dt::ks_head(out) : *out;
    rt::stack_pop(1);
    return 0;
}

i64 gc_active(Cell*) { return rt::g_gc_enabled ? 1 : 0; }
// One collection marks and compacts series and nodes together: both counts are its count.
i64 gc_cycles(Cell*) { return i64(rt::gc_collection_count()); }

const RoutineDef kelbin_encode_def{CODECS_SOURCE, "_kelbin-encode",
                                   "\"Internal Use Only\" data [any-type!] compact? [logic!]", kelbin_encode,
                                   RETURNS_NONE};
const RoutineDef kelbin_decode_def{CODECS_SOURCE, "_kelbin-decode", "\"Internal Use Only\" payload [any-type!]",
                                   kelbin_decode, RETURNS_NONE};
const RoutineDef gc_active_def{SYSTEM_SOURCE, "system/state/GC/active?", "", gc_active, RETURNS_LOGIC};
const RoutineDef gc_series_def{SYSTEM_SOURCE, "system/state/GC/series-cycles", "", gc_cycles, RETURNS_INTEGER};
const RoutineDef gc_nodes_def{SYSTEM_SOURCE, "system/state/GC/nodes-cycles", "", gc_cycles, RETURNS_INTEGER};

KEL_ROUTINE(kelbin_encode_def);
KEL_ROUTINE(kelbin_decode_def);
KEL_ROUTINE(gc_active_def);
KEL_ROUTINE(gc_series_def);
KEL_ROUTINE(gc_nodes_def);

}  // namespace

}  // namespace kel::lib
