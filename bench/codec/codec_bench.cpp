// Speed of our DEFLATE coder on the files that speed.py prepares: inflates a zlib stream
// and compresses a text, printing the best of five runs of each in seconds of process CPU
// time (on a shared machine wall time mostly measures the neighbours). With --once, only the
// one compression a fresh process makes (its output pages all new).
//     codec_bench STREAM TEXT
//     codec_bench --once TEXT
// Built by speed.py (or by hand: g++ -O2 -std=c++20 -I../.. codec_bench.cpp
// ../../codec/deflate.cpp ../../codec/checksums.cpp).
#include <cstdio>
#include <ctime>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "codec/deflate.h"

namespace {

std::vector<uint8_t> read_file(const char* path) {
    std::ifstream f(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(f), {});
}

double cpu_seconds() {
    timespec t;
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) * 1e-9;
}

template <class F>
double best_of(int runs, F f) {
    double best = 1e9;
    for (int i = 0; i < runs; ++i) {
        double t0 = cpu_seconds();
        f();
        double s = cpu_seconds() - t0;
        if (s < best) best = s;
    }
    return best;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: codec_bench STREAM TEXT | --once TEXT\n");
        return 2;
    }
    if (std::string(argv[1]) == "--once") {
        std::vector<uint8_t> text = read_file(argv[2]);
        double s = best_of(1, [&] { kel::codec::zlib_compress(text.data(), text.size()); });
        std::printf("%.4f\n", s);
        return 0;
    }
    std::vector<uint8_t> stream = read_file(argv[1]), text = read_file(argv[2]), out;
    bool ok = true;
    // A fresh output every run, as python3's decompress makes one.
    double inflate_s = best_of(5, [&] {
        std::vector<uint8_t> fresh;
        ok &= kel::codec::decompress(kel::codec::Framing::zlib, stream.data(), stream.size(), fresh) ==
              kel::codec::InflateStatus::ok;
        out.swap(fresh);
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
