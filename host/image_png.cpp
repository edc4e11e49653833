// PNG through libpng: reading by its simplified interface, which keeps its error recovery
// inside libpng, so no jump ever crosses our frames.
#include <png.h>
#include <zlib.h>

#include <algorithm>
#include <csetjmp>
#include <cstdlib>
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

namespace {

// Writing goes through the full interface, which lets the zlib strategy be the default one
// (the simplified writer's choice compresses noisy pictures a third slower). libpng leaves
// its errors by longjmp: this part owns nothing with a destructor, its buffer is malloc'd
// and recorded in the job.
struct WriteJob {
    const u32* px;
    u32 width, height;
    bool opaque;
    u8* mem;
    size_t size, capacity;
    bool ok;
};

[[noreturn]] void on_error(png_structp png, png_const_charp) { png_longjmp(png, 1); }
void on_warning(png_structp, png_const_charp) {}

void on_write(png_structp png, png_bytep data, size_t n) {
    auto* job = static_cast<WriteJob*>(png_get_io_ptr(png));
    if (job->size + n > job->capacity) {
        size_t want = std::max(job->capacity * 2, job->size + n);
        auto* grown = static_cast<u8*>(std::realloc(job->mem, want));
        if (!grown) png_error(png, "out of memory");
        job->mem = grown;
        job->capacity = want;
    }
    std::memcpy(job->mem + job->size, data, n);
    job->size += n;
}
void on_flush(png_structp) {}

void encode_c(WriteJob* job) {
    job->ok = false;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, on_error, on_warning);
    if (!png) return;
    png_infop info = png_create_info_struct(png);
    if (!info) {
        png_destroy_write_struct(&png, nullptr);
        return;
    }
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        std::free(job->mem);
        job->mem = nullptr;
        return;
    }
    png_set_write_fn(png, job, on_write, on_flush);
    png_set_IHDR(png, info, job->width, job->height, 8, job->opaque ? PNG_COLOR_TYPE_RGB : PNG_COLOR_TYPE_RGB_ALPHA,
                 PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_set_compression_level(png, 6);
    png_set_compression_strategy(png, Z_DEFAULT_STRATEGY);
    png_write_info(png, info);
    png_set_bgr(png);  // the pixels' memory order is B, G, R, A
    if (job->opaque) png_set_filler(png, 0, PNG_FILLER_AFTER);  // an opaque image loses its alpha byte
    for (u32 y = 0; y < job->height; ++y)
        png_write_row(png, reinterpret_cast<png_const_bytep>(job->px + size_t(y) * job->width));
    png_write_end(png, info);
    png_destroy_write_struct(&png, &info);
    job->ok = true;
}

}  // namespace

bool encode_png(const u32* px, u32 w, u32 h, std::vector<u8>& out) {
    // An opaque image is written without its alpha channel: a quarter less to compress.
    WriteJob job{px, w, h, all_opaque(px, u64(w) * h), nullptr, 0, 0, false};
    encode_c(&job);
    return adopt_output(job.ok, job.mem, job.size, out);
}

}  // namespace kel::host
