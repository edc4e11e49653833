// The backend's pixel work on plain buffers: no runtime values here, so the image bench links
// it alone.
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "datatypes/image.h"
#include "runtime/pixel_memory.h"

namespace kel::dt {

u32* alloc_image_pixels(u32 width, u32 height) {
    if (width > MAX_IMAGE_SIDE || height > MAX_IMAGE_SIDE || u64(width) * height > MAX_IMAGE_PIXELS) return nullptr;
    return static_cast<u32*>(rt::pixels_alloc(size_t(width) * height * 4));
}

u32* scale_pixels_nearest(const u32* src, u32 sw, u32 sh, u32 dw, u32 dh) {
    u32* out = alloc_image_pixels(dw, dh);
    if (!out || !dw || !dh) return out;
    std::vector<u32> column(dw);
    for (u32 x = 0; x < dw; ++x) column[x] = u32((u64(2 * x + 1) * sw) / (u64(2) * dw));
    for (u32 y = 0; y < dh; ++y) {
        const u32* row = src + size_t((u64(2 * y + 1) * sh) / (u64(2) * dh)) * sw;
        u32* o = out + size_t(y) * dw;
        for (u32 x = 0; x < dw; ++x) o[x] = row[column[x]];
    }
    return out;
}

u32* clip_pixels(const u32* src, u32 sw, u32 x, u32 y, u32 w, u32 h) {
    u32* out = alloc_image_pixels(w, h);
    if (!out) return nullptr;
    for (u32 r = 0; r < h; ++r) std::memcpy(out + size_t(r) * w, src + size_t(y + r) * sw + x, size_t(w) * 4);
    return out;
}

u32* flip_pixels_vertical(const u32* src, u32 w, u32 h) {
    u32* out = alloc_image_pixels(w, h);
    if (!out) return nullptr;
    for (u32 r = 0; r < h; ++r) std::memcpy(out + size_t(r) * w, src + size_t(h - 1 - r) * w, size_t(w) * 4);
    return out;
}

}  // namespace kel::dt
