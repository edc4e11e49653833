// vector!: the packed element storage (widths, sign extension, low bits kept, float32
// narrowing) and in-place arithmetic over the packed buffer.
#include <cstring>

#include "datatypes/float.h"
#include "datatypes/series.h"
#include "number_helpers.h"
#include "runtime/series.h"
#include "runtime/stack.h"
#include "support.h"

namespace kel::test {
namespace {

class VectorStorage : public RuntimeTest {
protected:
    static Cell integer(i32 v) {
        Cell c;
        set_cell(&c, T_INTEGER, 0, u32(v));
        return c;
    }
    static Cell number(u32 type, double d) {
        Cell c;
        set_cell(&c, type);
        set_float_payload(&c, d);
        return c;
    }
    // Stores v at p with the given width and reads it back as the element type.
    static Cell round_trip(u8* p, const Cell& v, u32 width, u32 element_type) {
        dt::g_vector_set_value(p, &v, width);
        return *dt::g_vector_get_value(p, width, element_type);
    }
};

TEST_F(VectorStorage, IntegersKeepTheirLowBitsAndReadSignExtended) {
    struct Case {
        u32 width;
        i32 stored;
        i32 read;
    };
    const Case cases[] = {
        {1, 300, 44},  {1, 200, -56},      {1, -129, 127},   {2, 70000, 4464},
        {2, 40000, -25536}, {2, -1, -1},   {4, -2147483647 - 1, -2147483647 - 1}, {4, 123456789, 123456789},
    };
    for (const Case& c : cases) {
        u8 bytes[8];
        std::memset(bytes, 0xAB, sizeof bytes);
        Cell r = round_trip(bytes, integer(c.stored), c.width, T_INTEGER);
        EXPECT_EQ(type_of(&r), T_INTEGER);
        EXPECT_EQ(get_int(&r), c.read) << "width " << c.width << " stored " << c.stored;
        // The bytes after the element are not touched.
        for (u32 i = c.width; i < sizeof bytes; ++i) EXPECT_EQ(bytes[i], 0xAB) << "width " << c.width;
    }
}

TEST_F(VectorStorage, FloatsNarrowToFloat32AtWidthFour) {
    u8 bytes[8] = {};
    Cell r = round_trip(bytes, number(T_FLOAT, 0.1), 4, T_FLOAT);
    EXPECT_EQ(get_float(&r), double(0.1f));
    r = round_trip(bytes, number(T_FLOAT, 0.1), 8, T_FLOAT);
    EXPECT_EQ(get_float(&r), 0.1);
    // A percent element reads back as a percent!, a char element as a char!.
    r = round_trip(bytes, number(T_PERCENT, 0.5), 8, T_PERCENT);
    EXPECT_EQ(type_of(&r), T_PERCENT);
    EXPECT_EQ(get_float(&r), 0.5);
    Cell ch;
    set_cell(&ch, T_CHAR, 0, 'a');
    r = round_trip(bytes, ch, 1, T_CHAR);
    EXPECT_EQ(type_of(&r), T_CHAR);
    EXPECT_EQ(get_int(&r), 'a');
}

TEST_F(VectorStorage, AValueOfNoNumberFamilyIsRefused) {
    u8 bytes[8] = {};
    Cell none = none_cell();
    EXPECT_EQ(catch_error([&] { dt::g_vector_set_value(bytes, &none, 4); }), rt::Err::script_invalid_type);
}

TEST_F(VectorStorage, ScalarArithmeticChangesThePackedElementsInPlace) {
    Cell v = make_value(A_MAKE, T_VECTOR, integer(1000));
    rt::SeriesBuffer* b = dt::series_buffer(&v);
    ASSERT_EQ(b->unit(), 4u);
    ASSERT_EQ(b->used_bytes(), 4000u);
    for (i32 i = 0; i < 1000; ++i) {
        Cell n = integer(i - 500);
        dt::g_vector_set_value(rt::at(b->offset) + i * 4, &n, 4);
    }
    Cell r = run_stack_action(A_MULTIPLY, v, integer(3));
    EXPECT_EQ(series_node(&r), series_node(&v));  // the same buffer: no copy was made
    b = dt::series_buffer(&v);
    for (i32 i = 0; i < 1000; ++i) {
        i32 e;
        std::memcpy(&e, rt::at(b->offset) + i * 4, 4);
        ASSERT_EQ(e, (i - 500) * 3) << "element " << i;
    }
    // Integer elements wrap around in 32 bits.
    Cell big = integer(2147483647);
    dt::g_vector_set_value(rt::at(b->offset), &big, 4);
    run_stack_action(A_ADD, v, integer(1));
    i32 first;
    std::memcpy(&first, rt::at(dt::series_buffer(&v)->offset), 4);
    EXPECT_EQ(first, -2147483647 - 1);
    EXPECT_EQ(stack_action_error(A_DIVIDE, v, integer(0)), rt::Err::math_zero_divide);
}

}  // namespace
}  // namespace kel::test
