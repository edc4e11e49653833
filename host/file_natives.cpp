// The file natives: to-local-file.
#include "datatypes/dispatch.h"
#include "datatypes/file.h"
#include "datatypes/string.h"
#include "runtime/stack.h"

namespace kel::host {

using namespace rt;

namespace {

// to-local-file: the OS form of a path as a string!. On Linux the "/" separators stay; with
// /full a relative path gets the current directory in front.
Status to_local_file_native(bool, const i32* refinements) {
    bool full = refinements[0] >= 0;
    Cell* src = stack_arg(0);
    Cell* out = dt::push_string(dt::string_length(src) + 1);
    dt::to_local_path(src, out, full);
    stack_set_last(out);
    stack_keep();
    return 0;
}

}  // namespace

KEL_NATIVE(85, to_local_file_native);

}  // namespace kel::host
