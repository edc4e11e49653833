// Image internals that scripts cannot reach: quad mapping, the pixel helpers behind scaling
// and flipping, and the collector's hold on the pixels of live images.
#include "datatypes/image.h"

#include <zlib.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "datatypes/geometry.h"
#include "host/imaging.h"
#include "runtime/externals.h"
#include "runtime/gc.h"
#include "support.h"

namespace kel::dt {
namespace {

using namespace test;

// Images still on the stack are collected at the end: their pixels sit in the external
// table, which the process's exit tears down before the leak check looks.
class ImageTest : public RuntimeTest {
protected:
    void TearDown() override {
        rt::g_args.top = rt::g_args.bottom;
        rt::gc_collect();
    }
};

std::vector<u32> ramp(u32 w, u32 h) {
    std::vector<u32> px(size_t(w) * h);
    for (u32 i = 0; i < px.size(); ++i) px[i] = 0xFF000000u | (i * 0x010203u & 0xFFFFFF);
    return px;
}

struct Buffer {
    u32* p;
    ~Buffer() { std::free(p); }
};

TEST(ImageGeometry, EdgeTestsAndQuadMembership) {
    Quad square{{0, 10, 10, 0}, {0, 0, 10, 10}};
    struct Case {
        double x, y;
        bool inside;
    } cases[] = {
        {5, 5, true},  {0, 0, true},   {10, 10, true}, {10, 5, true},  // corners and edges are inside
        {-0.01, 5, false}, {5, 10.01, false}, {11, 11, false},
    };
    for (const Case& c : cases) EXPECT_EQ(point_in_quad(square, c.x, c.y), c.inside) << c.x << "," << c.y;
    EXPECT_TRUE(point_outside_edge(5, -1, 0, 0, 10, 0));
    EXPECT_DOUBLE_EQ(point_edge_distance(3, 4, 0, 0, 10, 0), 4.0);
    Vec2 v{1, 0};
    vec_rotate(v, 90);
    EXPECT_NEAR(v.x, 0, 1e-9);
    EXPECT_NEAR(v.y, 1, 1e-9);
    Quad q = square;
    quad_flip_x(q, 2);
    EXPECT_FLOAT_EQ(q.x[1], -6);
}

TEST(ImageGeometry, TransformOfTheSourceRectangleReproducesIt) {
    const u32 w = 6, h = 4;
    std::vector<u32> src = ramp(w, h);
    i32 ox, oy, ow, oh;
    Buffer out{image_transform(src.data(), w, h, Quad{{0, w, w, 0}, {0, 0, h, h}}, ox, oy, ow, oh)};
    ASSERT_NE(out.p, nullptr);
    EXPECT_EQ(ox, 0);
    EXPECT_EQ(ow, i32(w));
    EXPECT_EQ(oh, i32(h));
    for (u32 i = 0; i < w * h; ++i) EXPECT_EQ(out.p[i], src[i]) << i;
    EXPECT_EQ(image_transform(src.data(), 0, h, Quad{{0, 1, 1, 0}, {0, 0, 1, 1}}, ox, oy, ow, oh), nullptr);
}

TEST(ImageGeometry, PixelsOutsideATrapezoidStayTransparentBlack) {
    std::vector<u32> src(16, 0xFF336699u);
    i32 ox, oy, ow, oh;
    // A top edge shorter than the bottom one: the bounding box's top corners lie outside.
    Buffer out{image_transform(src.data(), 4, 4, Quad{{2, 6, 8, 0}, {0, 0, 8, 8}}, ox, oy, ow, oh)};
    ASSERT_NE(out.p, nullptr);
    EXPECT_EQ(out.p[0], 0u);
    EXPECT_EQ(out.p[size_t(4 * ow) + 4], 0xFF336699u);
}

TEST(ImageGeometry, ScaleBufferAndYuyv) {
    std::vector<u32> src = ramp(4, 4);
    Buffer scaled{image_scale_buffer(src.data(), 4, 4, 8, 8)};
    ASSERT_NE(scaled.p, nullptr);
    EXPECT_EQ(scaled.p[0], src[0]);
    const u8 yuyv[8] = {100, 128, 200, 128, 0, 255, 255, 0};
    u32 px[4];
    yuyv_to_pixels(2, 2, yuyv, px);
    EXPECT_EQ(px[0], 0xFF646464u);  // grey: no chroma
    EXPECT_EQ(px[1], 0xFFC8C8C8u);
    EXPECT_EQ(px[2] >> 24, 0xFFu);
    EXPECT_EQ(px[2] & 0xFF, 0u);  // red clamped at 0 for V far below the middle
}

TEST(ImagePixels, NearestScalingSamplesCentresAndFlipReversesRows) {
    std::vector<u32> src(16);
    for (u32 i = 0; i < 16; ++i) src[i] = i;
    Buffer half{scale_pixels_nearest(src.data(), 4, 4, 2, 2)};
    EXPECT_EQ(std::vector<u32>(half.p, half.p + 4), (std::vector<u32>{5, 7, 13, 15}));
    Buffer twice{scale_pixels_nearest(src.data(), 4, 4, 8, 1)};
    EXPECT_EQ(std::vector<u32>(twice.p, twice.p + 8), (std::vector<u32>{8, 8, 9, 9, 10, 10, 11, 11}));
    Buffer flipped{flip_pixels_vertical(src.data(), 4, 4)};
    EXPECT_EQ(flipped.p[0], 12u);
    EXPECT_EQ(flipped.p[15], 3u);
    Buffer clip{clip_pixels(src.data(), 4, 1, 2, 2, 2)};
    EXPECT_EQ(std::vector<u32>(clip.p, clip.p + 4), (std::vector<u32>{9, 10, 13, 14}));
}

// More than 256 colours with most of the weight in the last colour of the widest channel:
// splitting the palette's box once left one half without colours (a division by zero).
TEST(ImageCodecs, GifPaletteWhenOneColourOutweighsTheRest) {
    std::vector<u32> px;
    for (u32 i = 0; i < 300; ++i) px.push_back(0xFF000000u | (i % 256) << 16 | (i / 256 * 8) << 8);
    px.resize(px.size() + 10000, 0xFFFF0000u);
    std::vector<u8> gif;
    ASSERT_TRUE(host::encode_gif(px.data(), 103, 100, gif));
    host::Pixels back;
    ASSERT_EQ(host::decode_image(gif.data(), gif.size(), back), host::Decoded::ok);
    u32 last = back.data[px.size() - 1];
    EXPECT_GE((last >> 16) & 0xFF, 240u);
    EXPECT_LE(last & 0xFFFF, 0x0808u);
}

// The filter byte of each row of a PNG written by us (IHDR at 16, one IDAT run, 8-bit).
std::vector<u8> png_row_filters(const std::vector<u8>& png, u32 w, u32 h, u32 bpp) {
    std::vector<u8> z;
    for (size_t at = 8; at + 12 <= png.size();) {
        u32 n = u32(png[at]) << 24 | u32(png[at + 1]) << 16 | u32(png[at + 2]) << 8 | png[at + 3];
        if (std::memcmp(&png[at + 4], "IDAT", 4) == 0) z.insert(z.end(), &png[at + 8], &png[at + 8] + n);
        at += 12 + n;
    }
    std::vector<u8> raw(size_t(w * bpp + 1) * h);
    uLongf len = uLongf(raw.size());
    if (uncompress(raw.data(), &len, z.data(), uLong(z.size())) != Z_OK || len != raw.size()) return {};
    std::vector<u8> filters;
    for (u32 y = 0; y < h; ++y) filters.push_back(raw[size_t(y) * (w * bpp + 1)]);
    return filters;
}

// Our PNG writer against libpng's reader: pictures that make each of the five row filters
// win, with and without alpha, one pixel wide, and noise that spans several IDAT chunks.
TEST(ImageCodecs, PngWriterRowFiltersReadBackExactly) {
    struct Picture {
        const char* what;
        u32 w, h;
        u32 (*pixel)(u32 x, u32 y);
    };
    const Picture pictures[] = {
        {"noise", 300, 300, [](u32 x, u32 y) { u32 v = (x * 2654435761u) ^ (y * 40503u + x * y * 97u); v ^= v >> 13; v *= 0x5bd1e995u; return v ^ (v >> 15); }},
        {"across", 64, 8, [](u32 x, u32 y) { return 0xFF000000u | (x * 3 + y) << 16 | (x * 5) << 8 | (x * 7 & 0xFF); }},
        {"down", 64, 64, [](u32 x, u32 y) { return 0xFF000000u | ((x * 131) ^ (x >> 1)) * 0x010101u * (y % 2 + 1); }},
        {"smooth", 64, 64, [](u32 x, u32 y) { return 0xFF000000u | (x * x + y * y) / 32 << 16 | (x * y) / 16 << 8 | (x + y); }},
        {"slopes", 64, 64, [](u32 x, u32 y) { return 0xFF000000u | (((x * 37) % 256 + y * 3) & 0xFF) << 8 | ((y * 53) % 256); }},
        {"translucent", 33, 17, [](u32 x, u32 y) { return (x * 7 + y) << 24 | (x * y) << 16 | x << 8 | y; }},
        {"one column", 1, 40, [](u32, u32 y) { return (y * 6 | 1) << 24 | (y * 5) << 16 | y; }},
        {"one pixel", 1, 1, [](u32, u32) { return 0x80402010u; }},
    };
    bool seen[5] = {};
    for (const Picture& p : pictures) {
        std::vector<u32> px;
        for (u32 y = 0; y < p.h; ++y)
            for (u32 x = 0; x < p.w; ++x) px.push_back(p.pixel(x, y));
        std::vector<u8> png;
        ASSERT_TRUE(host::encode_image(px.data(), p.w, p.h, host::IMG_PNG, png)) << p.what;
        host::Pixels back;
        ASSERT_EQ(host::decode_image(png.data(), png.size(), back), host::Decoded::ok) << p.what;
        ASSERT_EQ(back.width * back.height, px.size()) << p.what;
        EXPECT_EQ(std::memcmp(back.data.get(), px.data(), px.size() * 4), 0) << p.what;
        std::vector<u8> filters = png_row_filters(png, p.w, p.h, png[25] == 6 ? 4 : 3);
        ASSERT_EQ(filters.size(), p.h) << p.what;
        for (u8 f : filters) {
            ASSERT_LT(f, 5) << p.what;
            seen[f] = true;
        }
    }
    for (int f = 0; f < 5; ++f) EXPECT_TRUE(seen[f]) << "no picture chose filter " << f;
}

// A run-length BMP over `data`, whose palette entry i is blue i, so a pixel shows its index.
std::vector<u8> rle_bmp(u32 bits, i32 w, i32 h, std::vector<u8> data) {
    std::vector<u8> f{'B', 'M'};
    auto put = [&](u32 v, int n) {
        for (int i = 0; i < n; ++i) f.push_back(u8(v >> (8 * i)));
    };
    u32 colours = 1u << bits, offset = 14 + 40 + 4 * colours;
    put(offset + u32(data.size()), 4), put(0, 4), put(offset, 4);
    put(40, 4), put(u32(w), 4), put(u32(h), 4), put(1, 2), put(bits, 2), put(bits == 8 ? 1 : 2, 4);
    put(u32(data.size()), 4), put(0, 4), put(0, 4), put(0, 4), put(0, 4);
    for (u32 i = 0; i < colours; ++i) put(i, 4);
    f.insert(f.end(), data.begin(), data.end());
    return f;
}

// Runs and literals that overshoot the row, jumps, and data cut anywhere: nothing is written
// outside the picture, and a cut file is refused. Rows are given top first, one hex digit a pixel.
TEST(ImageCodecs, RunLengthBmpEdgesAndCuts) {
    struct Case {
        const char* what;
        u32 bits;
        i32 w, h;
        std::vector<u8> data;
        std::vector<const char*> rows;  // empty: refused
    };
    const Case cases[] = {
        {"a run past the row's end stops at the edge", 8, 4, 2, {6, 5, 0, 0, 2, 7, 0, 1}, {"7700", "5555"}},
        {"a literal past the row's end stops at the edge", 8, 4, 2, {0, 5, 1, 2, 3, 4, 5, 0, 0, 1}, {"0000", "1234"}},
        {"a jump moves right and up", 8, 4, 2, {1, 9, 0, 2, 2, 1, 1, 8, 0, 1}, {"0008", "9000"}},
        {"a jump past the last row ends the picture", 8, 4, 2, {1, 3, 0, 2, 0, 9, 4, 4}, {"0000", "3000"}},
        {"a run past the last row is dropped", 8, 2, 1, {2, 1, 0, 0, 2, 6, 0, 1}, {"11"}},
        {"4-bit runs alternate, odd literals are padded", 4, 5, 2, {5, 0x12, 0, 0, 0, 3, 0x34, 0x50, 2, 0x67, 0, 1},
         {"34567", "12121"}},
        {"every row reached without an end mark", 8, 4, 2, {4, 1, 0, 0, 4, 2, 0, 0}, {"2222", "1111"}},
        {"cut before the end mark", 8, 4, 2, {4, 1, 0, 0}, {}},
        {"cut inside a literal", 8, 4, 2, {0, 5, 1, 2}, {}},
        {"cut inside a literal's padding", 8, 4, 2, {0, 3, 1, 2, 3}, {}},
        {"cut inside a jump", 8, 4, 2, {0, 2, 1}, {}},
        {"cut inside a 4-bit literal", 4, 4, 1, {0, 4, 0x12}, {}},
        {"a lone byte", 8, 4, 2, {4}, {}},
        {"no data", 4, 4, 2, {}, {}},
    };
    for (const Case& c : cases) {
        std::vector<u8> file = rle_bmp(c.bits, c.w, c.h, c.data);
        host::Pixels px;
        host::Decoded r = host::decode_image(file.data(), file.size(), px);
        if (c.rows.empty()) {
            EXPECT_EQ(r, host::Decoded::bad_data) << c.what;
            EXPECT_FALSE(px.data) << c.what;
            continue;
        }
        ASSERT_EQ(r, host::Decoded::ok) << c.what;
        std::string got;
        for (u32 i = 0; i < px.width * px.height; ++i) {
            EXPECT_EQ(px.data[i] >> 8, 0xFF0000u) << c.what;  // opaque, only blue set
            got += "0123456789ABCDEF"[px.data[i] & 15];
        }
        std::string want;
        for (const char* row : c.rows) want += row;
        EXPECT_EQ(got, want) << c.what;
    }
    // Run-length rows are bottom-up by definition, and each coding has its own depth.
    std::vector<u8> top_down = rle_bmp(8, 2, -1, {2, 1, 0, 1});
    std::vector<u8> wrong_depth = rle_bmp(8, 2, 1, {2, 1, 0, 1});
    wrong_depth[28] = 4;  // 4 bits per pixel under the 8-bit coding
    for (const auto& file : {top_down, wrong_depth}) {
        host::Pixels px;
        EXPECT_EQ(host::decode_image(file.data(), file.size(), px), host::Decoded::bad_data);
    }
}

TEST_F(ImageTest, DrawQuadLayoutsAndCrop) {
    std::vector<u32> ramp_px = ramp(4, 3);
    u32* px = alloc_image_pixels(4, 3);
    std::memcpy(px, ramp_px.data(), 48);
    Cell* img = push_image(4, 3, px);
    Cell points[5];
    make_pair_at(&points[0], 10, 20);
    make_pair_at(&points[1], 14, 23);
    make_pair_at(&points[2], 12, 20);
    make_pair_at(&points[3], 10, 23);
    make_pair_at(&points[4], 0, 0);
    Cell* out = rt::stack_push_slot();
    struct Case {
        i32 count;
        u32 w, h;
    } cases[] = {{1, 4, 3}, {2, 4, 3}, {4, 4, 3}};
    for (const Case& c : cases) {
        image_draw_quad(img, out, nullptr, points, c.count);
        ASSERT_EQ(type_of(out), T_IMAGE) << c.count;
        EXPECT_EQ(image_width(out), c.w) << c.count;
        EXPECT_EQ(image_height(out), c.h) << c.count;
    }
    image_draw_quad(img, out, nullptr, points, 1);
    EXPECT_EQ(image_pixels(out)[5], ramp_px[5]);
    image_draw_quad(img, out, nullptr, points, 5);
    EXPECT_EQ(type_of(out), T_NONE);
    Cell crop[2];
    make_pair_at(&crop[0], 1, 1);
    make_pair_at(&crop[1], 10, 10);  // cut to the image: 3x2
    image_draw_quad(img, out, crop, points, 1);
    EXPECT_EQ(image_width(out), 3u);
    EXPECT_EQ(image_height(out), 2u);
    EXPECT_EQ(image_pixels(out)[0], ramp_px[5]);
}

TEST_F(ImageTest, PixelsLiveWhileAnImageReachesThemAndGoWithIt) {
    u32* px = alloc_image_pixels(3, 3);
    std::memset(px, 0xAB, 36);
    Cell* img = push_image(3, 3, px);
    for (int i = 0; i < 3; ++i) rt::gc_collect();
    ASSERT_EQ(image_pixels(img), px);
    EXPECT_EQ(image_pixels(img)[8], 0xABABABABu);
    Cell* scaled = push_image_scaled(img, 6, 6);
    EXPECT_EQ(image_pixels(scaled)[35], 0xABABABABu);
    image_free_node(scaled);
    EXPECT_EQ(image_pixels(scaled), nullptr);
}

}  // namespace
}  // namespace kel::dt
