// Format sniffing, the size limits and the dispatch to each format's coder.
#include "host/imaging.h"

#include <algorithm>
#include <cstring>

namespace kel::host {

namespace {
// 1 GiB of pixels: far above any photograph, far below what a forged header may claim.
u64 g_pixel_limit = u64(1) << 28;
}  // namespace

u64 image_pixel_limit() { return g_pixel_limit; }
void set_image_pixel_limit(u64 pixels) { g_pixel_limit = pixels; }

namespace {
Decoded size_verdict(u64 width, u64 height) {
    if (width == 0 || height == 0) return Decoded::bad_data;
    if (width > MAX_IMAGE_SIDE || height > MAX_IMAGE_SIDE) return Decoded::too_wide;
    if (width * height > g_pixel_limit) return Decoded::too_large;
    return Decoded::ok;
}
}  // namespace

Decoded check_size(u64 width, u64 height, Pixels& out) {
    Decoded r = size_verdict(width, height);
    if (r != Decoded::ok) {
        out.width = u32(std::min<u64>(width, 0xFFFFFFFF));
        out.height = u32(std::min<u64>(height, 0xFFFFFFFF));
    }
    return r;
}

u32* alloc_pixels(u32 width, u32 height) {
    if (size_verdict(width, height) != Decoded::ok) return nullptr;
    return static_cast<u32*>(rt::pixels_alloc(size_t(width) * height * 4));
}

bool adopt_output(bool ok, u8* mem, size_t size, std::vector<u8>& out) {
    if (ok) out.assign(mem, mem + size);
    std::free(mem);
    return ok;
}

bool all_opaque(const u32* px, u64 count) {
    u32 acc = 0xFF000000;
    for (u64 i = 0; i < count; ++i) acc &= px[i];
    return (acc >> 24) == 0xFF;
}

int sniff_image(const u8* d, size_t n) {
    if (n >= 4 && d[0] == 137 && std::memcmp(d + 1, "PNG", 3) == 0) return IMG_PNG;
    if (n >= 3 && d[0] == 0xFF && d[1] == 0xD8 && d[2] == 0xFF) return IMG_JPEG;
    if (n >= 2 && d[0] == 'B' && d[1] == 'M') return IMG_BMP;
    if (n >= 6 && (std::memcmp(d, "GIF87a", 6) == 0 || std::memcmp(d, "GIF89a", 6) == 0)) return IMG_GIF;
    if (n >= 4 && (std::memcmp(d, "II*\0", 4) == 0 || std::memcmp(d, "MM\0*", 4) == 0)) return IMG_TIFF;
    return IMG_UNKNOWN;
}

Decoded decode_image(const u8* data, size_t n, Pixels& out) {
    out = Pixels{};
    Decoded r;
    switch (sniff_image(data, n)) {
        case IMG_PNG: r = decode_png(data, n, out); break;
        case IMG_JPEG: r = decode_jpeg(data, n, out); break;
        case IMG_BMP: r = decode_bmp(data, n, out); break;
        case IMG_GIF: r = decode_gif(data, n, out); break;
        case IMG_TIFF: r = decode_tiff(data, n, out); break;
        default: return Decoded::unknown_format;
    }
    if (r != Decoded::ok) out.data.reset();
    return r;
}

bool encode_image(const u32* px, u32 w, u32 h, int format, std::vector<u8>& out) {
    out.clear();
    switch (format) {
        case IMG_BMP: return encode_bmp(px, w, h, out);
        case IMG_PNG: return encode_png(px, w, h, out);
        case IMG_GIF: return encode_gif(px, w, h, out);
        case IMG_JPEG: return encode_jpeg(px, w, h, out);
        case IMG_TIFF: return encode_tiff(px, w, h, out);
        default: return false;
    }
}

}  // namespace kel::host
