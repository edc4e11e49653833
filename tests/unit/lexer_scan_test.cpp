// The scanning modes (the type of the next value, validated or guessed), the transcode
// native's refinements, and the trace events a callback receives.
#include "datatypes/function.h"
#include "datatypes/word.h"
#include "evaluator/actions.h"
#include "evaluator/eval_hooks.h"
#include "lexer/literal_hooks.h"
#include "lexer_support.h"
#include "runtime/symbols.h"
#include "text_support.h"

namespace kel::test {
namespace {

using namespace lexing;

class LexerScan : public RuntimeTest {};

TEST_F(LexerScan, ScanAnswersTheValidatedTypeOfTheNextValue) {
    const std::pair<const char*, u32> cases[] = {
        {"", 0},
        {"  ; only a comment\n", 0},
        {"a b", T_WORD},
        {"[a b] c", T_BLOCK},
        {"(a) c", T_PAREN},
        {"a/b c", T_PATH},
        {"a/b: c", T_SET_PATH},
        {"{a {b} c} d", T_STRING},
        {"1x2", T_PAIR},
        {"(1, 2)", T_POINT2D},
        {"#(int)", T_DATATYPE},
        {"12a", T_ERROR},
        {"[a", T_ERROR},
        {"]", T_ERROR},
        {"{abc", T_ERROR},
        {"1.2.3.4.5.6.7.8.9.10.11.12.13", T_ERROR},
        {"30-Feb-2012", T_ERROR},
    };
    for (auto [text, type] : cases) EXPECT_EQ(scan_type(text), type) << "text: " << text;
}

TEST_F(LexerScan, PrescanGuessesWithoutValidating) {
    const std::pair<const char*, u32> cases[] = {
        {"1.2.3.4.5.6.7.8.9.10.11.12.13", T_TUPLE},
        {"30-Feb-2012", T_DATE},
        {"a b", T_WORD},
        {"[a b]", T_BLOCK},
        {"12a", T_ERROR},
        {"", 0},
    };
    for (auto [text, type] : cases) EXPECT_EQ(scan_type(text, true), type) << "text: " << text;
}

// ---- the native ---------------------------------------------------------------------------

enum { NEXT, ONE, PRESCAN, SCAN, PART, INTO, TRACE };

struct Call {
    Cell source;
    std::vector<int> flags;
    const Cell* part = nullptr;
    const Cell* into = nullptr;
};

// Calls the native's entry as the interpreter would; answers the result.
Cell transcode(const Call& c) {
    ev::NativeEntry entry = ev::native_entry(106);
    EXPECT_NE(entry, nullptr);
    Cell* base = rt::g_args.top;
    rt::stack_push(&c.source);
    i32 refinements[7] = {-1, -1, -1, -1, -1, -1, -1};
    for (int f : c.flags) refinements[f] = 0;
    if (c.part) {
        refinements[PART] = i32(rt::g_args.top - base);
        rt::stack_push(c.part);
    }
    if (c.into) {
        refinements[INTO] = i32(rt::g_args.top - base);
        rt::stack_push(c.into);
    }
    Cell* saved_base = rt::g_args.base;
    rt::g_args.base = base;
    entry(true, refinements);
    Cell result = *base;
    rt::g_args.base = saved_base;
    rt::g_args.top = base + 1;  // the result stays on the stack, so the collector keeps it
    return result;
}

Cell string_of(const char* text) { return *push_text(1, std::u32string(text, text + std::strlen(text))); }
Cell binary_of(const std::string& bytes) {
    Node n = rt::alloc_bytes(u32(bytes.size()));
    rt::SeriesBuffer* b = rt::buffer_of(n);
    std::memcpy(b->data(), bytes.data(), bytes.size());
    b->tail = b->offset + u32(bytes.size());
    Cell* c = rt::stack_push_slot();
    set_cell(c, T_BINARY, 0, n, 0);
    return *c;
}

std::string molded(Cell v) { return mold(rt::stack_push(&v)); }

TEST_F(LexerScan, TranscodeModes) {
    EXPECT_EQ(molded(transcode({string_of("a [b] 1"), {}})), "[a [b] 1]");
    EXPECT_EQ(molded(transcode({string_of("[a b] c"), {NEXT}})), "[[a b] \" c\"]");
    EXPECT_EQ(molded(transcode({string_of("[a b] c"), {ONE}})), "[a b]");
    EXPECT_EQ(molded(transcode({string_of("1 b"), {SCAN}})), "integer!");
    EXPECT_EQ(molded(transcode({string_of("12a"), {SCAN}})), "error!");
    EXPECT_EQ(molded(transcode({string_of("  "), {SCAN}})), "none");
    EXPECT_EQ(molded(transcode({string_of("1.2.3.4.5.6.7.8.9.10.11.12.13"), {PRESCAN}})), "tuple!");
    EXPECT_EQ(molded(transcode({string_of("a b"), {NEXT, SCAN}})), "[word! \" b\"]");
    // Too many digits for a number: the prescan's guess, and the rest after the "%".
    std::string long_percent = std::string(400, '1') + "% b";
    EXPECT_EQ(molded(transcode({string_of(long_percent.c_str()), {NEXT, PRESCAN}})), "[percent! \" b\"]");
    EXPECT_EQ(molded(transcode({string_of(long_percent.c_str()), {SCAN}})), "error!");
}

TEST_F(LexerScan, TranscodeParts) {
    Cell three = blocks::int_v(3);
    EXPECT_EQ(molded(transcode({string_of("abc def"), {}, &three})), "[abc]");
    Cell s = string_of("abc def");
    Cell limit = s;
    limit.data1 = 5;
    EXPECT_EQ(molded(transcode({s, {}, &limit})), "[abc d]");
    Cell huge = blocks::int_v(1000);
    EXPECT_EQ(molded(transcode({string_of("a b"), {}, &huge})), "[a b]");
    Cell bin = binary_of("a");
    EXPECT_EQ(error_report([&] { transcode({string_of("a b"), {}, &bin}); }).substr(0, 40),
              "*** Script Error: values must be of the ");
}

TEST_F(LexerScan, TranscodeBinaries) {
    EXPECT_EQ(molded(transcode({binary_of("\xEF\xBB\xBF" "1"), {}})), "[1]");
    EXPECT_EQ(molded(transcode({binary_of("caf\xC3\xA9 x"), {}})), "[caf? x]");
    Cell next = transcode({binary_of("a bc"), {NEXT}});
    Cell rest = *dt::ks_abs_at(&next, 1);
    EXPECT_EQ(type_of(&rest), u32(T_BINARY));
    EXPECT_EQ(series_head(&rest), 1);
}

TEST_F(LexerScan, TranscodeInto) {
    Cell* into = blocks::blk({blocks::int_v(0)});
    Cell target = *into;
    EXPECT_EQ(molded(transcode({string_of("a b"), {}, nullptr, &target})), "[0 a b]");
    EXPECT_EQ(molded(transcode({string_of("c d"), {ONE}, nullptr, &target})), "[0 a b c]");
}

TEST_F(LexerScan, ScanningAStringIntoOneValue) {
    const std::pair<const char*, const char*> cases[] = {
        {"abc", "abc"}, {"a b", "none"}, {"", "unset"}, {"12a", "none"}, {" 1", "1"}, {"x:", "x:"},
    };
    for (auto [text, expected] : cases) {
        Cell s = string_of(text);
        Cell* out = rt::stack_push_slot();
        set_cell(out, T_NONE);
        dt::g_scan_string_value(&s, out);
        if (type_of(out) == T_UNSET) EXPECT_STREQ(expected, "unset");
        else EXPECT_EQ(mold(out), expected) << text;
    }
}

// ---- trace events -------------------------------------------------------------------------

std::string g_events;
bool g_decline_errors = false;
bool g_nest = false;

rt::Status record_event(Cell*, Node, const Cell*, u32) {
    Cell* a = rt::g_args.base;
    std::string line = rt::symbol_name(word_symbol(&a[0]));
    if (type_of(&a[2]) == T_DATATYPE) line += std::string(" ") + dt::g_type_names[a[2].data1].name;
    else if (type_of(&a[2]) == T_WORD) line += std::string(" ") + rt::symbol_name(word_symbol(&a[2]));
    line += " " + std::to_string(get_int(&a[3]));
    g_events += line + ";";
    if (g_nest) {  // a callback that transcodes: a nested run above this one's values
        g_nest = false;
        std::string many;
        for (int i = 0; i < 3000; ++i) many += "[n " + std::to_string(i) + "] ";
        Cell* out = rt::stack_push_slot();
        set_cell(out, T_NONE);
        lex::load_utf8(many.data(), many.size(), out);
        EXPECT_EQ(dt::ks_length_q(out), 3000);
        g_nest = true;
    }
    set_cell(a, T_LOGIC, !(g_decline_errors && line.rfind("error", 0) == 0));
    rt::g_args.top = a + 1;
    return 0;
}

class LexerEvents : public RuntimeTest {
protected:
    void SetUp() override {
        RuntimeTest::SetUp();
        saved = ev::g_call_function;
        ev::g_call_function = record_event;
        g_events.clear();
        g_decline_errors = false;
    }
    void TearDown() override { ev::g_call_function = saved; }
    // A function! whose body starts with `events` (a block of event words, or nothing).
    Cell callback(const char* body) {
        Cell* spec = rt::stack_push_slot();
        set_cell(spec, T_NONE);
        lex::load_utf8("event input type line token", 27, spec);
        Cell* code = rt::stack_push_slot();
        set_cell(code, T_NONE);
        lex::load_utf8(body, std::strlen(body), code);
        dt::make_function_cell(spec, code, 0, 0, 0, 0);
        return *rt::stack_top();
    }
    std::string trace(const char* text, const char* body, bool load = true) {
        Cell fn = callback(body);
        Cell* keep = rt::stack_push(&fn);
        Cell src = string_of(text);
        lex::RunOptions o;
        o.callback = keep;
        o.source = &src;
        o.load = load;
        Cell* out = rt::stack_push_slot();
        set_cell(out, T_NONE);
        g_events.clear();
        lex::transcode_series(out, &src, -1, o, nullptr);
        return g_events;
    }
    rt::Status (*saved)(Cell*, Node, const Cell*, u32) = nullptr;
};

TEST_F(LexerEvents, EventsInOrder) {
    EXPECT_EQ(trace("[a 1]", ""),
              "prescan block! 1;open block! 1;prescan word! 1;scan word! 1;load word! 1;"
              "prescan integer! 1;scan integer! 1;load integer! 1;prescan block! 1;close block! 1;");
}

TEST_F(LexerEvents, TheBodysFirstBlockSelectsEvents) {
    EXPECT_EQ(trace("[a]\n(b)", "[open close] true"), "open block! 1;close block! 1;open paren! 2;close paren! 2;");
    EXPECT_EQ(trace("a ; note", "[scan]"), "scan word! 1;scan comment 1;");
}

TEST_F(LexerEvents, ACallbackMayTranscode) {
    g_nest = true;
    Cell fn = callback("[open close]");
    Cell* keep = rt::stack_push(&fn);
    Cell src = string_of("[a [b c] (d)] e");
    lex::RunOptions o;
    o.callback = keep;
    o.source = &src;
    Cell* out = rt::stack_push_slot();
    set_cell(out, T_NONE);
    lex::transcode_series(out, &src, -1, o, nullptr);
    g_nest = false;
    EXPECT_EQ(mold(out), "[[a [b c] (d)] e]");
}

TEST_F(LexerEvents, ADeclinedErrorLetsLoadingGoOn) {
    g_decline_errors = true;
    EXPECT_EQ(trace("a 12a b", "[error]"), "error integer! 1;");
    EXPECT_EQ(trace("[a", "[error]", false), "error block! 1;");
    // A literal whose datatype cannot be built yet is reported as an error too.
    auto maker = lex::g_make_pair;
    lex::g_make_pair = nullptr;
    EXPECT_EQ(trace("x 1x2 y", "[error]"), "error error! 1;");
    lex::g_make_pair = maker;
}

}  // namespace
}  // namespace kel::test
