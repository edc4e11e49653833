// Byte streams the codec tests share: a table of inputs that stress different paths.
#pragma once
#include <cstdint>
#include <random>
#include <string>
#include <vector>

namespace codec_test {

using Bytes = std::vector<uint8_t>;

inline Bytes bytes_of(const std::string& s) { return Bytes(s.begin(), s.end()); }

inline Bytes random_bytes(size_t n, uint32_t seed) {
    std::mt19937 rng(seed);
    Bytes b(n);
    for (auto& x : b) x = uint8_t(rng());
    return b;
}

// Words drawn at random from a small vocabulary: compressible like prose, with matches at
// every distance.
inline Bytes text_like(size_t n, uint32_t seed) {
    static const char* words[] = {"the ", "quick ", "brown ", "fox ", "jumps ", "over ", "lazy ", "dog ",
                                  "and ", "then ", "runs ", "away\n", "1234 ", "kel ", "{x} "};
    std::mt19937 rng(seed);
    Bytes b;
    b.reserve(n + 16);
    while (b.size() < n) {
        const char* w = words[rng() % 15];
        b.insert(b.end(), w, w + std::char_traits<char>::length(w));
    }
    b.resize(n);
    return b;
}

struct Sample {
    const char* name;
    Bytes data;
};

// Empty, one byte, incompressible, highly repetitive, text, and longer than one crush
// chunk (1 MiB) with matches across the boundary.
inline std::vector<Sample> samples() {
    Bytes long_run(1000, 'a');
    Bytes mixed = text_like(1500000, 7);
    Bytes noise = random_bytes(4000, 3);
    mixed.insert(mixed.begin() + 600000, noise.begin(), noise.end());
    return {
        {"empty", {}},
        {"one byte", {0x42}},
        {"three bytes", bytes_of("abc")},
        {"incompressible", random_bytes(70000, 1)},
        {"run of 1000", long_run},
        {"zeros 100k", Bytes(100000, 0)},
        {"text", text_like(60000, 2)},
        {"gzip magic first", bytes_of("\x1f\x8b\x08 not really gzip")},
        {"past one chunk", mixed},
    };
}

}  // namespace codec_test
