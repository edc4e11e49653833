// The routines of the image codec objects in system/codecs: encode writes an image in the
// codec's format; decode sniffs the format from the bytes, whichever codec it was called on.
#include <vector>

#include "datatypes/binary.h"
#include "datatypes/image.h"
#include "datatypes/number_support.h"
#include "host/files.h"
#include "host/imaging.h"
#include "library/routines.h"
#include "runtime/errors.h"
#include "runtime/stack.h"

namespace kel::lib {

namespace {

constexpr const char* CODECS_SOURCE = "library/codecs.kel";

// image/save: the encoded file as a binary! in args[0] (the `where` cell plays no part: the
// data is the result whatever the destination).
void save_image(Cell* args, int format) {
    Cell* img = &args[0];
    if (img->data3 == 0) rt::raise_error(rt::Err::access_bad_media);
    std::vector<u8> bytes;
    const u32* px = dt::image_pixels(img);
    if (px && !host::encode_image(px, dt::image_width(img), dt::image_height(img), format, bytes))
        rt::raise_error(rt::Err::access_bad_media);
    if (bytes.size() > 0x7FFFFFF0) rt::raise_error(rt::Err::internal_no_memory);
    Cell* bin = dt::push_binary_copy(bytes.data(), u32(bytes.size()));
    args[0] = *bin;
    rt::stack_pop(1);
}

template <int FORMAT>
i64 encode_entry(Cell* args) {
    save_image(args, FORMAT);
    return 0;
}

// image/load: a binary! holding a file of a known format, or a file! or url! naming one, becomes an
// image!; unknown or undecodable bytes give none.
i64 decode_entry(Cell* args) {
    Cell* data = &args[0];
    if (type_of(data) == T_FILE || type_of(data) == T_URL) {
        *data = *host::push_source_bytes(data);
        rt::stack_pop(1);
    } else if (type_of(data) != T_BINARY) {
        rt::raise_error(rt::Err::access_cannot_open, data);
    }
    const u8* bytes = dt::binary_head_ptr(data);
    size_t length = dt::binary_length(data);
    host::Pixels pixels;
    host::Decoded r = host::decode_image(bytes, length, pixels);
    switch (r) {
        case host::Decoded::ok: break;
        case host::Decoded::too_wide: dt::check_image_size(pixels.width, pixels.height); break;
        case host::Decoded::too_large: rt::raise_error(rt::Err::internal_no_memory);
        default: set_cell(&args[0], T_NONE); return 0;
    }
    u32 w = pixels.width, h = pixels.height;
    Cell* img = dt::push_image(w, h, pixels.data.release());
    args[0] = *img;
    rt::stack_pop(1);
    return 0;
}

#define IMAGE_CODEC(key, format)                                                                               \
    const RoutineDef key##_encode_def{CODECS_SOURCE, "system/codecs/" #key "/encode",                          \
                                      "img [image!] where", encode_entry<format>, RETURNS_NONE};                \
    const RoutineDef key##_decode_def{CODECS_SOURCE, "system/codecs/" #key "/decode", "data", decode_entry,     \
                                      RETURNS_NONE};                                                           \
    const RoutineRegistrar key##_encode_registrar(key##_encode_def);                                           \
    const RoutineRegistrar key##_decode_registrar(key##_decode_def);

IMAGE_CODEC(png, host::IMG_PNG)
IMAGE_CODEC(jpeg, host::IMG_JPEG)
IMAGE_CODEC(bmp, host::IMG_BMP)
IMAGE_CODEC(gif, host::IMG_GIF)
IMAGE_CODEC(tiff, host::IMG_TIFF)

}  // namespace

}  // namespace kel::lib
