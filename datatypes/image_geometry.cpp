// Mapping an image into a quadrilateral with bilinear sampling, and the 2-D helpers it
// rests on. Support for graphical backends: nothing in the text-mode system calls it yet.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "datatypes/geometry.h"
#include "datatypes/image.h"
#include "runtime/cell.h"

namespace kel::dt {

double vec_length(const Vec2& v) { return std::sqrt(v.x * v.x + v.y * v.y); }
void vec_normalize(Vec2& v) {
    double l = vec_length(v);
    v.x /= l;
    v.y /= l;
}
double vec_cross(const Vec2& u, const Vec2& v) { return u.x * v.y - u.y * v.x; }
double vec_dot(const Vec2& u, const Vec2& v) { return u.x * v.x + u.y * v.y; }

bool point_outside_edge(double px, double py, double ax, double ay, double bx, double by) {
    return vec_cross(Vec2{px - ax, py - ay}, Vec2{bx - ax, by - ay}) > 0;
}

double point_edge_distance(double px, double py, double ax, double ay, double bx, double by) {
    Vec2 e{bx - ax, by - ay};
    vec_normalize(e);
    return std::fabs(vec_cross(Vec2{px - ax, py - ay}, e));
}

void vec_rotate(Vec2& v, double degrees) {
    double a = degrees * 3.14159265359 / 180.0;
    double c = std::cos(a), s = std::sin(a);
    v = Vec2{v.x * c - v.y * s, v.x * s + v.y * c};
}

void quad_flip_x(Quad& q, float axis) {
    for (float& x : q.x) x = 2 * axis - x;
}
void quad_flip_y(Quad& q, float axis) {
    for (float& y : q.y) y = 2 * axis - y;
}

bool point_in_quad(const Quad& q, double px, double py) {
    for (int k = 0; k < 4; ++k) {
        int n = (k + 1) & 3;
        if (point_outside_edge(px, py, q.x[k], q.y[k], q.x[n], q.y[n])) return false;
    }
    return true;
}

bool image_crop_copy(const u32* src, i32 sw, i32 sh, i32 x, i32 y, i32 w, i32 h, u32* target) {
    if (x < 0 || y < 0 || x >= sw || y >= sh) return false;
    w = std::min(w, sw - x);
    h = std::min(h, sh - y);
    for (i32 r = 0; r < h; ++r) std::memcpy(target + size_t(r) * w, src + size_t(y + r) * sw + x, size_t(w) * 4);
    return true;
}

u32* image_transform(const u32* src, i32 sw, i32 sh, const Quad& q, i32& ox, i32& oy, i32& ow, i32& oh) {
    if (sw < 1 || sh < 1) return nullptr;
    float minx = *std::min_element(q.x, q.x + 4), maxx = *std::max_element(q.x, q.x + 4);
    float miny = *std::min_element(q.y, q.y + 4), maxy = *std::max_element(q.y, q.y + 4);
    ox = i32(minx), oy = i32(miny), ow = i32(maxx - minx), oh = i32(maxy - miny);
    if (ow < 0 || oh < 0) return nullptr;
    Vec2 e[4];
    for (int k = 0; k < 4; ++k) {
        int n = (k + 1) & 3;
        e[k] = Vec2{double(q.x[n]) - q.x[k], double(q.y[n]) - q.y[k]};
        vec_normalize(e[k]);
    }
    auto* out = static_cast<u32*>(std::calloc(std::max<size_t>(size_t(ow) * oh, 1), 4));
    if (!out) return nullptr;
    for (i32 r = 0; r < oh; ++r) {
        for (i32 c = 0; c < ow; ++c) {
            double px = c + ox, py = r + oy;
            if (!point_in_quad(q, px, py)) continue;
            double d[4];
            for (int k = 0; k < 4; ++k) d[k] = std::fabs(vec_cross(Vec2{px - q.x[k], py - q.y[k]}, e[k]));
            float u = float(d[3] / (d[3] + d[1]) * sw);
            float v = float(d[0] / (d[0] + d[2]) * sh);
            if (!(u >= 0 && v >= 0) || u >= float(sw) || v >= float(sh)) continue;
            i32 iu = i32(u), iv = i32(v);
            i32 iu1 = iu + 1 < sw ? iu + 1 : iu, iv1 = iv + 1 < sh ? iv + 1 : iv;
            float fu = std::max(u - float(iu), 0.0f), fv = std::max(v - float(iv), 0.0f);
            const u8* s00 = reinterpret_cast<const u8*>(src + size_t(iv) * sw + iu);
            const u8* s10 = reinterpret_cast<const u8*>(src + size_t(iv) * sw + iu1);
            const u8* s01 = reinterpret_cast<const u8*>(src + size_t(iv1) * sw + iu);
            const u8* s11 = reinterpret_cast<const u8*>(src + size_t(iv1) * sw + iu1);
            u8* o = reinterpret_cast<u8*>(out + size_t(r) * ow + c);
            for (int b = 0; b < 4; ++b)
                o[b] = u8((1 - fu) * (1 - fv) * s00[b] + fu * (1 - fv) * s10[b] + (1 - fu) * fv * s01[b] +
                          fu * fv * s11[b]);
        }
    }
    return out;
}

u32* image_scale_buffer(const u32* src, i32 w, i32 h, i32 nw, i32 nh) {
    Quad q{{0, float(nw), float(nw), 0}, {0, 0, float(nh), float(nh)}};
    i32 ox, oy, ow, oh;
    u32* out = image_transform(src, w, h, q, ox, oy, ow, oh);
    if (out && (ow != nw || oh != nh)) {
        std::free(out);
        return nullptr;
    }
    return out;
}

void yuyv_to_pixels(i32 per_row, i32 rows, const u8* yuyv, u32* target) {
    auto clamp = [](i32 v) { return u32(std::clamp(v, 0, 255)); };
    i64 count = i64(per_row) * rows;
    for (i64 i = 0; i < count; i += 2) {
        const u8* s = yuyv + i * 2;
        i32 cb = i32(s[1]) - 128, cr = i32(s[3]) - 128;
        for (int k = 0; k < 2 && i + k < count; ++k) {
            i32 y = s[k * 2];
            u32 r = clamp(y + ((cr * 91881) >> 16));
            u32 g = clamp(y - ((cr * 46792) >> 16) - ((cb * 21889) >> 16));
            u32 b = clamp(y + ((cb * 116129) >> 16));
            target[i + k] = 0xFF000000u | b << 16 | g << 8 | r;
        }
    }
}

Cell* image_draw_quad(const Cell* image, Cell* out, const Cell* crop, const Cell* points, i32 count) {
    if (count < 1 || count > 4) {
        set_cell(out, T_NONE);
        return out;
    }
    float px[4], py[4];
    for (i32 i = 0; i < count; ++i) {
        const Cell* p = points + i;
        if (type_of(p) == T_PAIR) {
            px[i] = float(pair_x(p)), py[i] = float(pair_y(p));
        } else if (type_of(p) == T_POINT2D) {
            px[i] = point_component(p, 0), py[i] = point_component(p, 1);
        } else {
            set_cell(out, T_NONE);
            return out;
        }
    }
    i32 iw = i32(image_width(image)), ih = i32(image_height(image));
    i32 cx = 0, cy = 0, w = iw, h = ih;
    if (crop) {
        cx = pair_x(crop), cy = pair_y(crop);
        w = std::min(pair_x(crop + 1), iw - cx);
        h = std::min(pair_y(crop + 1), ih - cy);
    }
    Quad q;
    switch (count) {
        case 1: q = Quad{{px[0], px[0] + w, px[0] + w, px[0]}, {py[0], py[0], py[0] + h, py[0] + h}}; break;
        case 2: q = Quad{{px[0], px[1], px[1], px[0]}, {py[0], py[0], py[1], py[1]}}; break;
        case 3:
            q = Quad{{px[0], px[1], px[1] + px[2] - px[0], px[2]}, {py[0], py[1], py[1] + py[2] - py[0], py[2]}};
            break;
        default: q = Quad{{px[0], px[1], px[2], px[3]}, {py[0], py[1], py[2], py[3]}}; break;
    }
    if (q.x[0] > q.x[1]) quad_flip_x(q, q.x[0]);
    if (q.y[1] > q.y[2]) quad_flip_y(q, q.y[0]);
    const u32* src = image_pixels(image);
    u32* cropped = nullptr;
    if (src && crop) {
        cropped = static_cast<u32*>(std::malloc(std::max<size_t>(size_t(std::max(w, 0)) * std::max(h, 0), 1) * 4));
        if (!cropped || !image_crop_copy(src, iw, ih, cx, cy, w, h, cropped)) {
            std::free(cropped);
            set_cell(out, T_NONE);
            return out;
        }
        src = cropped;
    }
    i32 ox, oy, ow = 0, oh = 0;
    u32* buffer = src ? image_transform(src, w, h, q, ox, oy, ow, oh) : nullptr;
    std::free(cropped);
    if (!buffer) return make_image_at(out, 0, 0, nullptr);
    if (u32(ow) > MAX_IMAGE_SIDE || u32(oh) > MAX_IMAGE_SIDE) {
        std::free(buffer);
        check_image_size(ow, oh);
    }
    return make_image_at(out, u32(ow), u32(oh), buffer);
}

}  // namespace kel::dt
