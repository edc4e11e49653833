// libFuzzer target for the lexer: built with -DKEL_FUZZ=ON under clang.
//     build-fuzz/tests/fuzz/lexer_fuzz -max_len=256 -runs=1000000
#include "fuzz_boot.h"
#include "lexer_fuzz_body.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    kel::fuzz::boot_runtime_once();
    kel::fuzz::lex_one_input(data, size);
    return 0;
}
