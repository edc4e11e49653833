// Loading text into values: each literal form that loads, and each that is refused with
// its syntax error.
#include "console/boot_sources.h"
#include "lexer_support.h"

namespace kel::test {
namespace {

using namespace lexing;

class LexerLoad : public RuntimeTest {};

struct ErrorCase {
    const char* text;
    const char* report;
};

struct LoadCase {
    const char* text;
    const char* molded;
};

TEST_F(LexerLoad, LiteralsLoadAndMoldBack) {
    const LoadCase cases[] = {
        {"", ""},
        {"a", "a"},
        {"a b:  :c 'd /e", "a b: :c 'd /e"},
        {"foo-bar? <= <> < << >> => = == + - * / //", "foo-bar? <= <> < << >> => = == + - * / //"},
        {"1 -2 +3 1'000 0", "1 -2 3 1000 0"},
        {"2147483647 -2147483648", "2147483647 -2147483648"},
        {"2147483648", "2147483648.0"},
        {"00000000012", "12.0"},
        {"1.5 -0.25 .5 1e3 1.5E-2 1'000.5", "1.5 -0.25 0.5 1000.0 0.015 1000.5"},
        {"1.#INF -1.#inf", "1.#INF -1.#INF"},
        {"\"abc\" \"a^\"b\" \"tab^-x\"", "\"abc\" {a\"b} \"tab^-x\""},
        {"{multi\nline}", "\"multi^/line\""},
        {"{a{b}c}", "\"a{b}c\""},
        {"#\"a\" #\"^/\" #\"^(41)\" #\"^(tab)\"", "#\"a\" #\"^/\" #\"A\" #\"^-\""},
        {"[a [b] (c)]", "[a [b] (c)]"},
        {"a/b a/1 :a/b 'a/b a/b: a/(b)/c", "a/b a/1 :a/b 'a/b a/b: a/(b)/c"},
        {"#issue", "#issue"},
        {"FFh 0Ah 7FFFFFFFh", "255 10 2147483647"},
        {"#(true) #(false) #(none) #(int)", "true false none integer!"},
        {"; comment\na", "a"},
        {"%%{a}% b}%%", "\"a}% b\""},
        {"caf\xC3\xA9 \"\xE2\x82\xAC\"", "caf? \"?\""},  // the helper shows non-ASCII as ?
        {"\xE3\x80\x80\xE3\x80\x80 a", "a"},
    };
    for (const auto& c : cases) EXPECT_EQ(load_mold(c.text), c.molded) << "text: " << c.text;
}

TEST_F(LexerLoad, Paths) {
    const LoadCase cases[] = {
        {"a/b/c", "a/b/c"},
        {"a/b/c: 1", "a/b/c: 1"},
        {"a/1: x", "a/1: x"},
        {"a/:b a/'c", "a/:b a/'c"},
        {"a/\"s\"/3/#i", "a/\"s\"/3/#i"},
        {"[a/b]", "[a/b]"},
        {"a/(b c)/d", "a/(b c)/d"},
        {"(a/b)", "(a/b)"},
        {"+/a -/1", "+/a -/1"},
    };
    for (const auto& c : cases) EXPECT_EQ(load_mold(c.text), c.molded) << "text: " << c.text;
    const ErrorCase errors[] = {
        {"a/", "*** Syntax Error: (line 1) invalid path at a/"},
        {"a/b/", "*** Syntax Error: (line 1) invalid path at a/b/"},
        {"a/ b", "*** Syntax Error: (line 1) invalid character at a/ b"},
        {"a//b", "*** Syntax Error: (line 1) invalid character at a//b"},
        {"a/[b]", "*** Syntax Error: (line 1) invalid character at a/[b]"},
        {":a/b:", "*** Syntax Error: (line 1) invalid get-path at :a/b:"},
        {"a/b:/c", "*** Syntax Error: (line 1) invalid path at a/b:/c"},
    };
    for (const auto& c : errors) EXPECT_EQ(load_error(c.text), c.report) << "text: " << c.text;
}

TEST_F(LexerLoad, LinesAreCountedForErrors) {
    EXPECT_EQ(load_error("a\nb\r\n[c"), "*** Syntax Error: (line 3) missing ] at [c");
    EXPECT_EQ(load_error("{a\nb\n"), "*** Syntax Error: (line 3) invalid string at {a");
    EXPECT_EQ(load_error("; x\n;y\n 12a"), "*** Syntax Error: (line 3) invalid integer at 12a");
    // A NUL never ends the text: it separates values as other control characters do.
    EXPECT_EQ(load_mold(std::string("a\0b", 3)), "a b");
    EXPECT_EQ(load_mold(std::string("a ;\0 x\nb", 9)), "a\nb");
}

TEST_F(LexerLoad, LineBreaksBeforeValuesAreKept) {
    EXPECT_EQ(load_mold("[1 2\n3]"), "[1 2\n3]");
}

TEST_F(LexerLoad, SyntaxErrorsNameTheLineAndTheText) {
    const ErrorCase cases[] = {
        {"[a", "*** Syntax Error: (line 1) missing ] at [a"},
        {"a]", "*** Syntax Error: (line 1) missing [ at ]"},
        {"(a", "*** Syntax Error: (line 1) missing ) at (a"},
        {"[a)", "*** Syntax Error: (line 1) missing ] at [a)"},
        {"x\n\"ab\ncd\"", "*** Syntax Error: (line 2) invalid string at \"ab"},
        {"12a", "*** Syntax Error: (line 1) invalid integer at 12a"},
        {"1'' 2", "*** Syntax Error: (line 1) invalid integer at 1'' 2"},
        {"1.2.3.4.5.6.7.8.9.10.11.12.13", "*** Syntax Error: (line 1) invalid tuple at 1.2.3.4.5.6.7.8.9.10.11.12.13"},
        {"#{ABC}", "*** Syntax Error: (line 1) invalid binary at #{ABC}"},
        {"1,5", "*** Syntax Error: (line 1) invalid point2D at ,5"},
        {"#(foo)", "*** Syntax Error: (line 1) invalid construction spec at #(foo)"},
        {"#(tr)", "*** Syntax Error: (line 1) invalid construction spec at #(tr)"},
        {"}", "*** Syntax Error: (line 1) invalid character at }"},
        {"#\"\"", "*** Syntax Error: (line 1) invalid char at #\"\""},
        {"%{a}%%", "*** Syntax Error: (line 1) invalid string at %{a}%%"},
        {"1h", "*** Syntax Error: (line 1) invalid integer at 1h"},
        {"'a:", "*** Syntax Error: (line 1) invalid lit-word at 'a:"},
        {"{abc", "*** Syntax Error: (line 1) invalid string at {abc"},
        {"# a", "*** Syntax Error: (line 1) invalid character at # a"},
        {"#;", "*** Syntax Error: (line 1) invalid issue at #;"},
        {"\xC0" "b", "*** Syntax Error: (line 1) invalid character at ?b"},
        {"a\xC0" "b", "*** Syntax Error: (line 1) invalid word at a?b"},
    };
    for (const auto& c : cases) EXPECT_EQ(load_error(c.text), c.report) << "text: " << c.text;
}

TEST_F(LexerLoad, TheEmbeddedLibraryLoads) {
    for (size_t i = 0; i < console::g_boot_source_count; ++i) {
        const console::BootSource& src = console::g_boot_sources[i];
        std::string report =
            error_report([&] { load_mold_unguarded(std::string(src.text, src.length)); });
        EXPECT_EQ(report, "") << src.name;
    }
}

}  // namespace
}  // namespace kel::test
