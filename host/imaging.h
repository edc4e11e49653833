// Image file decoding and encoding: PNG, JPEG, GIF and TIFF through their libraries, BMP by
// our own code. Pure byte-level work: nothing here touches the runtime's values, so the
// datatype and the codec routines above it stay free of third-party headers.
//
// Pixels are 32-bit words A << 24 | R << 16 | G << 8 | B (memory order B, G, R, A), row-major
// from the top-left, alpha 255 opaque.
#pragma once
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <vector>

#include "runtime/pixel_memory.h"

namespace kel::host {

using u8 = uint8_t;
using u32 = uint32_t;
using u64 = uint64_t;
using i64 = int64_t;

// Encoder numbers, as the codec objects give them.
enum ImageFormat : int { IMG_BMP = 0, IMG_PNG = 1, IMG_GIF = 2, IMG_JPEG = 3, IMG_TIFF = 4, IMG_UNKNOWN = -1 };

// Sides are 16-bit in an image value; the pixel count is capped so that a header's claim
// never turns into an allocation the machine cannot hold.
constexpr u32 MAX_IMAGE_SIDE = 65535;
u64 image_pixel_limit();
void set_image_pixel_limit(u64 pixels);

struct FreeDeleter {
    void operator()(void* p) const { rt::pixels_free(p); }
};
using PixelMemory = std::unique_ptr<u32[], FreeDeleter>;

// From rt::pixels_alloc (the decoders written in C style own it through plain pointers); null
// when the size passes the limit or memory is short.
u32* alloc_pixels(u32 width, u32 height);

struct Pixels {
    u32 width = 0;
    u32 height = 0;
    PixelMemory data;
};

// too_wide: a side past 65,535 (the claimed size is left in the Pixels); too_large: more
// pixels than the limit, or no memory for them.
enum class Decoded { ok, unknown_format, bad_data, too_wide, too_large };

// The format named by the first bytes; IMG_UNKNOWN when none matches.
int sniff_image(const u8* data, size_t n);
Decoded decode_image(const u8* data, size_t n, Pixels& out);
// False when the encoder failed.
bool encode_image(const u32* pixels, u32 width, u32 height, int format, std::vector<u8>& out);

// One per format (host/image_*.cpp).
Decoded decode_png(const u8* data, size_t n, Pixels& out);
Decoded decode_jpeg(const u8* data, size_t n, Pixels& out);
Decoded decode_gif(const u8* data, size_t n, Pixels& out);
Decoded decode_tiff(const u8* data, size_t n, Pixels& out);
Decoded decode_bmp(const u8* data, size_t n, Pixels& out);
bool encode_png(const u32* px, u32 w, u32 h, std::vector<u8>& out);
bool encode_jpeg(const u32* px, u32 w, u32 h, std::vector<u8>& out);
bool encode_gif(const u32* px, u32 w, u32 h, std::vector<u8>& out);
bool encode_tiff(const u32* px, u32 w, u32 h, std::vector<u8>& out);
bool encode_bmp(const u32* px, u32 w, u32 h, std::vector<u8>& out);

// Shared by the encoders: the malloc'd output of a C-style encoder moved into `out` (and
// freed); answers `ok`.
bool adopt_output(bool ok, u8* mem, size_t size, std::vector<u8>& out);
// Whether every pixel is opaque.
bool all_opaque(const u32* px, u64 count);
// The size check every decoder applies to a header's claim before allocating; a refused
// claim is recorded in `out`.
Decoded check_size(u64 width, u64 height, Pixels& out);

}  // namespace kel::host
