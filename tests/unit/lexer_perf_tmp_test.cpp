#include <chrono>
#include "lexer_support.h"
namespace kel::test {
namespace {
class LexerPerfTmp : public RuntimeTest {};
TEST_F(LexerPerfTmp, Speed) {
    std::string unit = "foo: 123 [bar baz/qux \"a string\" 1.5 #issue] (x + y) 'lit :get /ref 12'345 \"longer string here\"\n";
    std::string text;
    while (text.size() < 20'000'000) text += unit;
    auto t0 = std::chrono::steady_clock::now();
    Cell* out = rt::stack_push_slot();
    set_cell(out, T_NONE);
    lex::load_utf8(text.data(), text.size(), out);
    auto t1 = std::chrono::steady_clock::now();
    double s = std::chrono::duration<double>(t1 - t0).count();
    fprintf(stderr, "loaded %zu bytes in %.3f s: %.1f MB/s\n", text.size(), s, text.size() / s / 1e6);
    lex::RunOptions o; o.load = false;
    t0 = std::chrono::steady_clock::now();
    lex::lexer_run(nullptr, (const u8*)text.data(), u32(text.size()), o, nullptr);
    t1 = std::chrono::steady_clock::now();
    s = std::chrono::duration<double>(t1 - t0).count();
    fprintf(stderr, "scanned in %.3f s: %.1f MB/s\n", s, text.size() / s / 1e6);
}
}
}
