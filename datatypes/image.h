// image!: a two-dimensional series of 32-bit pixels (memory order B, G, R, A; alpha 255
// opaque). Scripts see a pixel as the tuple R.G.B.T with T = 255 - alpha.
//
// Cell: data1 the head (a pixel index, row-major), data2 the record node or 0 for an image
// without pixels, data3 height << 16 | width. The record is a 24-byte buffer of six words:
// flags, two unused, the size word, the external slot of the pixels, one unused. The pixels
// live outside the collected heap (malloc'd) in an external resource of kind "image", so
// codecs and pixel loops keep their pointers across allocations; the collector frees them
// once no image reaches the record.
#pragma once
#include <cstdlib>

#include "runtime/cell.h"
#include "runtime/types.h"

namespace kel::dt {

constexpr u32 MAX_IMAGE_SIDE = 65535;
// Larger images are refused as out of memory before anything is allocated.
constexpr u64 MAX_IMAGE_PIXELS = u64(1) << 28;

inline u32 image_width(const Cell* c) { return c->data3 & 0xFFFF; }
inline u32 image_height(const Cell* c) { return c->data3 >> 16; }
inline u64 image_pixel_count(const Cell* c) { return u64(image_width(c)) * image_height(c); }

// The pixels of an image (null for one without node). Stable across allocations.
u32* image_pixels(const Cell* c);

// Pixel memory that make_image_at takes over (rt::pixels_alloc, or malloc/calloc), null when the size passes the
// limits or memory is short.
u32* alloc_image_pixels(u32 width, u32 height);

// An image! of the given size in `out` (a rooted cell: an argument-stack slot) over `px`,
// whose ownership passes to the image (also when this raises). A zero side gives an image
// without node.
Cell* make_image_at(Cell* out, u32 width, u32 height, u32* px);
Cell* push_image(u32 width, u32 height, u32* px);

// Raises script/out-of-range (with a pair of the size) for a side above 65,535 and
// internal/no-memory for a size past the pixel limit.
void check_image_size(i64 width, i64 height);

// The tuple R.G.B.T of a pixel, and the pixel of a 3- or 4-byte tuple.
Cell* make_pixel_tuple_at(Cell* out, u32 pixel);
u32 tuple_to_pixel(const Cell* tuple);

// The backend's pixel work, on plain buffers (results malloc'd, null when short of memory).
// Nearest-neighbour scaling that samples each target pixel's centre.
u32* scale_pixels_nearest(const u32* src, u32 sw, u32 sh, u32 dw, u32 dh);
// The rectangle (x, y, w, h), which the caller has cut to the source.
u32* clip_pixels(const u32* src, u32 sw, u32 x, u32 y, u32 w, u32 h);
u32* flip_pixels_vertical(const u32* src, u32 w, u32 h);

// image/push-scaled and image-flip-vertical: new images on the argument stack.
Cell* push_image_scaled(const Cell* image, u32 width, u32 height);
Cell* push_image_flipped(const Cell* image);
// image/free-node: gives the pixels back at once; the image is left without node.
void image_free_node(Cell* image);

// ---- quad mapping --------------------------------------------------------------------------

struct Vec2 {
    double x = 0, y = 0;
};
struct Quad {
    float x[4], y[4];  // top-left, top-right, bottom-right, bottom-left
};
double vec_length(const Vec2& v);
void vec_normalize(Vec2& v);
double vec_cross(const Vec2& u, const Vec2& v);
double vec_dot(const Vec2& u, const Vec2& v);
bool point_outside_edge(double px, double py, double ax, double ay, double bx, double by);
double point_edge_distance(double px, double py, double ax, double ay, double bx, double by);
void vec_rotate(Vec2& v, double degrees);
void quad_flip_x(Quad& q, float axis);
void quad_flip_y(Quad& q, float axis);
bool point_in_quad(const Quad& q, double px, double py);
bool image_crop_copy(const u32* src, i32 sw, i32 sh, i32 x, i32 y, i32 w, i32 h, u32* target);
// The source mapped into the quad with bilinear sampling; out the bounding box. Null when
// the source is empty (malloc'd otherwise).
u32* image_transform(const u32* src, i32 sw, i32 sh, const Quad& q, i32& ox, i32& oy, i32& ow, i32& oh);
u32* image_scale_buffer(const u32* src, i32 w, i32 h, i32 nw, i32 nh);
void yuyv_to_pixels(i32 per_row, i32 rows, const u8* yuyv, u32* target);
// image/draw-quad: `points` are 1 to 4 pair! or point2D! cells, `crop` an offset and a size
// (two pairs) or null. The new image goes to `out`; none when the points do not fit.
Cell* image_draw_quad(const Cell* image, Cell* out, const Cell* crop, const Cell* points, i32 count);

}  // namespace kel::dt
