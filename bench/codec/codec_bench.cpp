// Speed of our DEFLATE coder on the files that speed.py prepares: inflates a zlib stream
// and compresses a text, printing the best of five runs of each in seconds.
//     codec_bench STREAM TEXT
// Built by speed.py (or by hand: g++ -O2 -std=c++20 -I../.. codec_bench.cpp
// ../../codec/deflate.cpp).
#include <chrono>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <vector>

#include "codec/deflate.h"

namespace {

std::vector<uint8_t> read_file(const char* path) {
    std::ifstream f(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(f), {});
}

template <class F>
double best_of(int runs, F f) {
    double best = 1e9;
    for (int i = 0; i < runs; ++i) {
        auto t0 = std::chrono::steady_clock::now();
        f();
        double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        if (s < best) best = s;
    }
    return best;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: codec_bench STREAM TEXT\n");
        return 2;
    }
    std::vector<uint8_t> stream = read_file(argv[1]), text = read_file(argv[2]), out;
    bool ok = true;
    double inflate_s = best_of(5, [&] {
        ok &= kel::codec::decompress(kel::codec::Framing::zlib, stream.data(), stream.size(), out) ==
              kel::codec::InflateStatus::ok;
    });
    if (!ok || out != text) {
        std::fprintf(stderr, "inflate gave the wrong bytes\n");
        return 1;
    }
    size_t packed = 0;
    double deflate_s = best_of(5, [&] { packed = kel::codec::zlib_compress(text.data(), text.size()).size(); });
    std::printf("inflate %.4f\ndeflate %.4f\npacked %zu\n", inflate_s, deflate_s, packed);
    return 0;
}
