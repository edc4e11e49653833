// libFuzzer target for parse: each input is a rule block and an input series, matched with
// parse (plain, /case and /part). Rules come from the dictionary's keywords (parse.dict),
// and some of them edit the series being matched (remove, insert, change, parens that clear
// or grow it). It runs under the evaluator harness of eval_fuzz.cpp (bounded steps, time
// and memory; errors dropped; the global words put back between inputs).
//
// Input layout: byte 0 picks the input's kind (even: text, odd: a block of the values the
// text loads as); the rest is split at the first NUL into the rules' source and the input.
#include <string>

// The harness's entry becomes a plain function here, called with the Kel source built below.
#define LLVMFuzzerTestOneInput eval_fuzz_test_one_input
#include "eval_fuzz.cpp"
#undef LLVMFuzzerTestOneInput

namespace {

// A string literal holding the bytes as code points, every one escaped: any byte sequence
// is a valid literal.
std::string text_literal(const uint8_t* p, size_t n) {
    static const char* hex = "0123456789ABCDEF";
    std::string s = "\"";
    for (size_t i = 0; i < n; ++i) {
        s += "^(";
        s += hex[p[i] >> 4];
        s += hex[p[i] & 15];
        s += ")";
    }
    return s + "\"";
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    bool block_input = data[0] & 1;
    const uint8_t* rest = data + 1;
    size_t n = size - 1, cut = 0;
    while (cut < n && rest[cut] != 0) ++cut;
    std::string rules(reinterpret_cast<const char*>(rest), cut);
    const uint8_t* input = rest + cut + (cut < n ? 1 : 0);
    size_t input_len = cut < n ? n - cut - 1 : 0;
    std::string series = block_input ? "load " + text_literal(input, input_len) : text_literal(input, input_len);
    // The rules load on their own line first: a rule text that does not load is an error
    // that ends this input, as it would in the console.
    std::string src = "r: [\n" + rules + "\n]\n" + "s: copy t: " + series + "\n" +
                      "try [parse s r] s: copy t try [parse/case s r] s: copy t try [parse/part s r 3]\n" +
                      "try [parse/trace copy t r func [e m r i s] [true]]\n";
    return eval_fuzz_test_one_input(reinterpret_cast<const uint8_t*>(src.data()), src.size());
}
