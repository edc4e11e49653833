// PNG through libpng's simplified interface: it keeps its error recovery inside libpng, so no
// jump ever crosses our frames.
#include <png.h>

#include <cstring>

#include "host/imaging.h"

namespace kel::host {

Decoded decode_png(const u8* data, size_t n, Pixels& out) {
    png_image image;
    std::memset(&image, 0, sizeof image);
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_memory(&image, data, n)) return Decoded::bad_data;
    Decoded size = check_size(image.width, image.height, out);
    // DEFLATE expands at most 1032-fold and a row takes at least a filter byte and w/8 bytes:
    // a short file claiming a large image is cut or forged, refused before allocating.
    u64 least_raw = u64(image.height) * ((u64(image.width) + 7) / 8 + 1);
    if (size == Decoded::ok && least_raw > u64(n) * 1032 + 1032) size = Decoded::bad_data;
    if (size != Decoded::ok) {
        png_image_free(&image);
        return size;
    }
    image.format = PNG_FORMAT_BGRA;
    PixelMemory px(alloc_pixels(image.width, image.height));
    if (!px) {
        png_image_free(&image);
        return Decoded::too_large;
    }
    if (!png_image_finish_read(&image, nullptr, px.get(), 0, nullptr)) {
        png_image_free(&image);
        return Decoded::bad_data;
    }
    out.width = image.width;
    out.height = image.height;
    out.data = std::move(px);
    return Decoded::ok;
}

bool encode_png(const u32* px, u32 w, u32 h, std::vector<u8>& out) {
    png_image image;
    std::memset(&image, 0, sizeof image);
    image.version = PNG_IMAGE_VERSION;
    image.width = w;
    image.height = h;
    u64 count = u64(w) * h;
    // An opaque image is written without its alpha channel: a quarter less to compress.
    std::vector<u8> bgr;
    const void* buffer = px;
    if (all_opaque(px, count)) {
        bgr.resize(size_t(count) * 3);
        u8* o = bgr.data();
        for (u64 i = 0; i < count; ++i, o += 3) {
            u32 p = px[i];
            o[0] = u8(p);
            o[1] = u8(p >> 8);
            o[2] = u8(p >> 16);
        }
        image.format = PNG_FORMAT_BGR;
        buffer = bgr.data();
    } else {
        image.format = PNG_FORMAT_BGRA;
    }
    png_alloc_size_t size = PNG_IMAGE_PNG_SIZE_MAX(image);
    out.resize(size_t(size));
    if (!png_image_write_to_memory(&image, out.data(), &size, 0, buffer, 0, nullptr)) {
        png_image_free(&image);
        out.clear();
        return false;
    }
    out.resize(size_t(size));
    return true;
}

}  // namespace kel::host
