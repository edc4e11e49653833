// A profiling build (KEL_PROFILE=generate, see tools/build-release) writes its counts when
// the process ends. kel ends through _Exit, which skips the hook that would write them, so
// an exit handler writes them first. Other builds compile nothing here.
#ifdef KEL_PROFILE_GENERATE
#include "runtime/fatal.h"

extern "C" void __gcov_dump();

namespace kel::rt {
namespace {

const bool registered = [] {
    on_process_exit([] { __gcov_dump(); });
    return true;
}();

}  // namespace
}  // namespace kel::rt
#endif
