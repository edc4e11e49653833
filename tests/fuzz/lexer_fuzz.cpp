// libFuzzer target for the lexer: built with -DKEL_FUZZ=ON under clang.
//     build-fuzz/tests/fuzz/lexer_fuzz -max_len=256 -runs=1000000
#include "console/boot.h"
#include "lexer_fuzz_body.h"
#include "runtime/gc.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static bool booted = [] {
        kel::console::runtime_init();
        kel::rt::gc_attach_current_thread();
        kel::rt::g_gc_enabled = true;
        kel::rt::g_args.base = kel::rt::g_args.top = kel::rt::g_args.bottom;
        return true;
    }();
    (void)booted;
    kel::fuzz::lex_one_input(data, size);
    return 0;
}
