// The error catalog, raising errors with their arguments, and the argument checks.
#include <cmath>
#include <cstring>

#include "runtime/errors.h"
#include "runtime/stack.h"
#include "support.h"

namespace kel::rt {
namespace {

using test::catch_error;

TEST(ErrorCatalogTest, CodesFollowCategoryAndPosition) {
    EXPECT_EQ(size_t(Err::count), 140u);
    struct Case {
        Err e;
        i32 code;
        const char* name;
    };
    for (Case c : {Case{Err::throw_break, 0, "break"}, Case{Err::throw_while_cond, 4, "while-cond"},
                   Case{Err::note_no_load, 100, "no-load"}, Case{Err::syntax_bad_char, 206, "bad-char"},
                   Case{Err::script_no_value, 300, "no-value"}, Case{Err::script_expect_arg, 305, "expect-arg"},
                   Case{Err::script_invalid_data, 316, "invalid-data"}, Case{Err::script_out_of_range, 341, "out-of-range"},
                   Case{Err::script_bad_make_arg, 353, "bad-make-arg"},
                   Case{Err::script_kb_invalid_record, 393, "kb-invalid-record"}, Case{Err::math_positive, 402, "positive"},
                   Case{Err::access_invalid_utf8, 502, "invalid-utf8"}, Case{Err::access_no_codec, 512, "no-codec"},
                   Case{Err::user_message, 800, "message"}, Case{Err::internal_no_memory, 902, "no-memory"},
                   Case{Err::internal_stack_overflow, 904, "stack-overflow"}, Case{Err::internal_deprecated, 913, "deprecated"}}) {
        EXPECT_EQ(error_code(c.e), c.code) << c.name;
        EXPECT_STREQ(error_info(c.e).name, c.name);
    }
    // Every id of a category comes in one run, numbered from 2.
    u8 expected_index = 2;
    ErrCategory current = ErrCategory::cat_throw;
    for (size_t i = 0; i < size_t(Err::count); ++i) {
        const ErrorInfo& info = error_info(Err(i));
        if (info.category != current) {
            EXPECT_GT(info.category, current) << info.name;
            current = info.category;
            expected_index = 2;
        }
        EXPECT_EQ(info.index, expected_index++) << info.name;
        EXPECT_GT(std::strlen(info.tpl), 0u) << info.name;
    }
}

TEST(ErrorCatalogTest, CategoryNames) {
    struct Case {
        ErrCategory c;
        const char* name;
        const char* display;
    };
    for (Case c : {Case{ErrCategory::cat_throw, "throw", "Throw Error"}, Case{ErrCategory::cat_note, "note", "note"},
                   Case{ErrCategory::cat_syntax, "syntax", "Syntax Error"}, Case{ErrCategory::cat_script, "script", "Script Error"},
                   Case{ErrCategory::cat_math, "math", "Math Error"}, Case{ErrCategory::cat_access, "access", "Access Error"},
                   Case{ErrCategory::cat_reserved1, "reserved1", "Reserved1 Error"},
                   Case{ErrCategory::cat_reserved2, "reserved2", "Reserved2 Error"},
                   Case{ErrCategory::cat_user, "user", "User Error"}, Case{ErrCategory::cat_internal, "internal", "Internal Error"}}) {
        EXPECT_STREQ(category_info(c.c).name, c.name);
        EXPECT_STREQ(category_info(c.c).display, c.display);
    }
    EXPECT_EQ(size_t(ErrCategory::count), 10u);
}

// Keeps what the error maker receives.
struct Received {
    Err e;
    bool has[3];
    Cell args[3];
};
Received g_received;

class ErrorsTest : public test::RuntimeTest {
protected:
    void SetUp() override {
        RuntimeTest::SetUp();
        bare_.install([](Err e, const Cell* a1, const Cell* a2, const Cell* a3, Cell* out) {
            const Cell* in[3] = {a1, a2, a3};
            g_received.e = e;
            for (int i = 0; i < 3; ++i) {
                g_received.has[i] = in[i] != nullptr;
                if (in[i]) g_received.args[i] = *in[i];
            }
            // Building the value overwrites the slot it is built in.
            set_cell(out, T_ERROR, u32(e));
        });
    }
    void TearDown() override { bare_.remove(); }
    test::BareErrors bare_;
};

TEST_F(ErrorsTest, RaisePassesOnlyTheArgumentsGiven) {
    Cell one;
    set_cell(&one, T_INTEGER, 0, 1, 0);
    EXPECT_EQ(catch_error([&] { raise_error(Err::script_no_value, &one); }), Err::script_no_value);
    EXPECT_TRUE(g_received.has[0]);
    EXPECT_FALSE(g_received.has[1]);
    EXPECT_FALSE(g_received.has[2]);
    EXPECT_EQ(get_int(&g_received.args[0]), 1);

    // Arguments on the argument stack, right where the error is built, arrive intact.
    EXPECT_EQ(catch_error([&] {
                  Cell* a = stack_push_slot();
                  set_cell(a, T_INTEGER, 0, 7, 0);
                  Cell* b = stack_push_slot();
                  set_cell(b, T_INTEGER, 0, 8, 0);
                  stack_pop(2);  // the args now lie above the top
                  raise_error(Err::script_invalid_compare, a, b, a);
              }),
              Err::script_invalid_compare);
    EXPECT_EQ(get_int(&g_received.args[0]), 7);
    EXPECT_EQ(get_int(&g_received.args[1]), 8);
    EXPECT_EQ(get_int(&g_received.args[2]), 7);
}

TEST_F(ErrorsTest, TypeChecks) {
    // Type id t is bit 0x80 >> (t & 7) of byte t >> 3: id 0 is the top bit of the first byte.
    Cell ts;
    set_cell(&ts, T_TYPESET);
    auto* bytes = reinterpret_cast<u8*>(&ts.data1);
    bytes[0] = 0x80;                          // id 0
    bytes[T_INTEGER >> 3] |= 0x80 >> (T_INTEGER & 7);
    EXPECT_TRUE(typeset_has(&ts, 0));
    EXPECT_FALSE(typeset_has(&ts, T_DATATYPE));
    Cell n, f;
    set_cell(&n, T_INTEGER, 0, 5, 0);
    set_cell(&f, T_FLOAT);
    EXPECT_EQ(type_check_arg(&ts, 0, &n), &n);

    Cell call_word;
    set_cell(&call_word, T_WORD, 0, 321, 0);
    stack_open_native(&call_word);
    EXPECT_EQ(catch_error([&] { type_check_arg(&ts, 1, &f); }), Err::script_expect_arg);
    stack_pop_frame();
    EXPECT_EQ(word_symbol(&g_received.args[0]), 321u);  // the call
    EXPECT_EQ(type_of(&g_received.args[1]), T_DATATYPE);
    EXPECT_EQ(g_received.args[1].data1, u32(T_FLOAT));  // the value's datatype
    EXPECT_EQ(word_symbol(&g_received.args[2]), g_sym_anon);  // no argument words yet

    Cell unset;
    set_cell(&unset, T_UNSET);
    check_not_unset(0, &n);
    EXPECT_EQ(catch_error([&] { check_not_unset(0, &unset); }), Err::script_expect_arg);
    EXPECT_EQ(g_received.args[1].data1, u32(T_UNSET));
}

TEST_F(ErrorsTest, FloatToIntChecked) {
    struct Case {
        double d;
        i32 expect;
        bool raises;
    };
    for (Case c : {Case{1.9, 1, false}, Case{-1.9, -1, false}, Case{-2147483648.0, INT32_MIN, false},
                   Case{2147483647.0, INT32_MAX, false}, Case{2147483647.5, 0, true}, Case{-2147483649.0, 0, true},
                   Case{std::nan(""), 0, true}, Case{INFINITY, 0, true}}) {
        Cell f;
        set_cell(&f, T_FLOAT);
        set_float_payload(&f, c.d);
        i32 got = 0;
        Err e = catch_error([&] { got = float_to_int_checked(&f); });
        if (c.raises) {
            EXPECT_EQ(e, Err::script_out_of_range) << c.d;
        } else {
            EXPECT_EQ(e, Err::count) << c.d;
            EXPECT_EQ(got, c.expect) << c.d;
        }
    }
    Cell n;
    set_cell(&n, T_INTEGER, 0, u32(-5), 0);
    EXPECT_EQ(float_to_int_checked(&n), -5);
}

}  // namespace
}  // namespace kel::rt
