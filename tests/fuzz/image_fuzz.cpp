// libFuzzer target for the image decoders: built with -DKEL_FUZZ=ON under clang.
//     build-fuzz/tests/fuzz/image_fuzz -max_len=4096 -dict=tests/fuzz/image.dict corpus tests/fuzz/image_seeds
//
// Each input goes through the format sniffing and the decoder it picks, with the pixel limit
// lowered so that a forged size shows as a refusal, not as a slow allocation. A decoded image
// becomes an image! value; small ones are written again as PNG, BMP and TIFF, which must read
// back to the same pixels, and as GIF and JPEG, which must at least succeed.
#include <cstdlib>
#include <cstring>
#include <vector>

#include "datatypes/image.h"
#include "fuzz_boot.h"
#include "host/imaging.h"
#include "runtime/exits.h"
#include "runtime/stack.h"

namespace {

using namespace kel;

void check(bool ok) {
    if (!ok) std::abort();
}

void round_trip(const u32* px, u32 w, u32 h) {
    for (int format : {host::IMG_PNG, host::IMG_BMP, host::IMG_TIFF, host::IMG_GIF, host::IMG_JPEG}) {
        std::vector<u8> bytes;
        check(host::encode_image(px, w, h, format, bytes));
        check(host::sniff_image(bytes.data(), bytes.size()) == format);
        host::Pixels back;
        check(host::decode_image(bytes.data(), bytes.size(), back) == host::Decoded::ok);
        check(back.width == w && back.height == h);
        if (format == host::IMG_PNG || format == host::IMG_BMP || format == host::IMG_TIFF)
            check(std::memcmp(back.data.get(), px, size_t(w) * h * 4) == 0);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    kel::fuzz::boot_runtime_once();
    host::set_image_pixel_limit(u64(1) << 20);
    host::Pixels pixels;
    host::Decoded r = host::decode_image(data, size, pixels);
    if (r != host::Decoded::ok) {
        check(!pixels.data);
        return 0;
    }
    check(pixels.data && pixels.width >= 1 && pixels.height >= 1);
    check(pixels.width <= host::MAX_IMAGE_SIDE && pixels.height <= host::MAX_IMAGE_SIDE);
    u32 w = pixels.width, h = pixels.height;
    // Every pixel is read once: uninitialised memory shows under the sanitizers' eyes.
    u32 acc = 0;
    for (u64 i = 0; i < u64(w) * h; ++i) acc ^= pixels.data[i];
    (void)acc;
    if (u64(w) * h <= 4096) round_trip(pixels.data.get(), w, h);
    Cell* saved = rt::g_args.top;
    Cell* img = dt::push_image(w, h, pixels.data.release());
    check(dt::image_pixels(img) != nullptr && dt::image_width(img) == w && dt::image_height(img) == h);
    // Given back at once: the collector would free it only when the heap fills.
    dt::image_free_node(img);
    rt::g_args.top = saved;
    return 0;
}
