// Times the image codecs and the nearest-neighbour scaler on files made by run.py: decoding
// and encoding PNG and JPEG, scaling to a quarter of each side. Prints "name seconds" lines
// (the best of `rounds`).
#include <chrono>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <vector>

#include "datatypes/image.h"
#include "host/imaging.h"

using namespace kel;

namespace {

std::vector<u8> read_file(const char* path) {
    std::ifstream f(path, std::ios::binary);
    return std::vector<u8>(std::istreambuf_iterator<char>(f), {});
}

template <class F>
double best(int rounds, F f) {
    double b = 1e9;
    for (int i = 0; i < rounds; ++i) {
        auto t0 = std::chrono::steady_clock::now();
        f();
        b = std::min(b, std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count());
    }
    return b;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 4) {
        std::fprintf(stderr, "usage: image_bench FILE.png FILE.jpg ROUNDS\n");
        return 2;
    }
    int rounds = std::atoi(argv[3]);
    for (int k = 1; k <= 2; ++k) {
        const char* kind = k == 1 ? "png" : "jpeg";
        std::vector<u8> file = read_file(argv[k]);
        host::Pixels px;
        double dec = best(rounds, [&] {
            if (host::decode_image(file.data(), file.size(), px) != host::Decoded::ok) std::abort();
        });
        std::vector<u8> out;
        double enc = best(rounds, [&] {
            if (!host::encode_image(px.data.get(), px.width, px.height, k == 1 ? host::IMG_PNG : host::IMG_JPEG, out))
                std::abort();
        });
        std::printf("%s-decode %.4f\n%s-encode %.4f\n", kind, dec, kind, enc);
        if (k == 1) {
            double scale = best(rounds, [&] {
                rt::pixels_free(dt::scale_pixels_nearest(px.data.get(), px.width, px.height, px.width / 4, px.height / 4));
            });
            std::printf("scale-nearest %.4f\n", scale);
        }
    }
    return 0;
}
