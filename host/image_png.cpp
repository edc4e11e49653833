// PNG: read through libpng's simplified interface, which keeps its error recovery inside
// libpng, so no jump ever crosses our frames; written by our own code over zlib.
#include <png.h>
#include <zlib.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

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

// Writing is our own: the rows go from the pixels' B, G, R, A order straight to R, G, B(, A),
// each row takes the filter whose bytes (read as signed) sum smallest in size, the usual
// choice, computed in loops the compiler vectorises, and zlib compresses at level 6 with its
// default strategy, the common settings. libpng's writer spent as long choosing filters as
// zlib spent compressing.

void put32(u8* p, u32 v) { p[0] = u8(v >> 24), p[1] = u8(v >> 16), p[2] = u8(v >> 8), p[3] = u8(v); }

void put_chunk(std::vector<u8>& out, const char* kind, const u8* data, size_t n) {
    size_t at = out.size();
    out.resize(at + 12 + n);
    u8* p = out.data() + at;
    put32(p, u32(n));
    std::memcpy(p + 4, kind, 4);
    if (n) std::memcpy(p + 8, data, n);
    put32(p + 8 + n, u32(crc32(crc32(0, nullptr, 0), p + 4, uInt(n + 4))));
}

// The size of a filtered row for the choice: each byte's distance from 0 as a signed byte.
u64 cost(const u8* row, size_t n) {
    u64 sum = 0;
    size_t i = 0;
#if defined(__SSE2__)
    // min(v, -v) as unsigned bytes is that distance; the byte sums come from psadbw.
    __m128i zero = _mm_setzero_si128(), acc = zero;
    for (; i + 16 <= n; i += 16) {
        __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(row + i));
        acc = _mm_add_epi64(acc, _mm_sad_epu8(_mm_min_epu8(v, _mm_sub_epi8(zero, v)), zero));
    }
    sum = u64(_mm_cvtsi128_si64(acc)) + u64(_mm_cvtsi128_si64(_mm_unpackhi_epi64(acc, acc)));
#endif
    for (; i < n; ++i) {
        u8 v = row[i];
        sum += v < 128 ? v : 256 - v;
    }
    return sum;
}

u8 paeth(u8 a, u8 b, u8 c) {
    int p = int(a) + b - c, pa = std::abs(p - a), pb = std::abs(p - b), pc = std::abs(p - c);
    return pa <= pb && pa <= pc ? a : pb <= pc ? b : c;
}

// Rows of `bpp` bytes a pixel (3 or 4), filtered; each candidate keeps its filter byte in
// front of its bytes, ready for the compressor.
class RowFilter {
public:
    RowFilter(size_t n, u32 bpp) : n_(n), bpp_(bpp), prior_(n, 0), cur_(n) {
        for (auto& c : cand_) c.resize(n + 1);
        for (int f = 0; f < 5; ++f) cand_[f][0] = u8(f);
    }
    u8* row() { return cur_.data(); }
    // The best candidate for the current row (filled through row()); the row becomes the prior one.
    const std::vector<u8>& filter() {
        const u8 *x = cur_.data(), *b = prior_.data();
        u8 *none = cand_[0].data() + 1, *sub = cand_[1].data() + 1, *up = cand_[2].data() + 1;
        u8 *avg = cand_[3].data() + 1, *pae = cand_[4].data() + 1;
        std::memcpy(none, x, n_);
        for (size_t i = 0; i < bpp_; ++i) {
            sub[i] = x[i];
            up[i] = u8(x[i] - b[i]);
            avg[i] = u8(x[i] - (b[i] >> 1));
            pae[i] = u8(x[i] - b[i]);  // no left neighbour: Paeth predicts the byte above
        }
        for (size_t i = bpp_; i < n_; ++i) {
            sub[i] = u8(x[i] - x[i - bpp_]);
            up[i] = u8(x[i] - b[i]);
            avg[i] = u8(x[i] - ((x[i - bpp_] + b[i]) >> 1));
        }
        for (size_t i = bpp_; i < n_; ++i) pae[i] = u8(x[i] - paeth(x[i - bpp_], b[i], b[i - bpp_]));
        int best = 0;
        u64 best_cost = cost(none, n_);
        for (int f = 1; f < 5; ++f) {
            u64 c = cost(cand_[f].data() + 1, n_);
            if (c < best_cost) best = f, best_cost = c;
        }
        prior_.swap(cur_);
        return cand_[best];
    }

private:
    size_t n_;
    size_t bpp_;
    std::vector<u8> prior_, cur_;
    std::vector<u8> cand_[5];
};

// The compressed stream in IDAT chunks of up to CHUNK bytes.
class IdatWriter {
public:
    static constexpr size_t CHUNK = 1 << 18;
    explicit IdatWriter(std::vector<u8>& out) : out_(out), buf_(CHUNK) {}
    ~IdatWriter() {
        if (open_) deflateEnd(&z_);
    }
    bool start() {
        std::memset(&z_, 0, sizeof z_);
        open_ = deflateInit2(&z_, 6, Z_DEFLATED, 15, 8, Z_DEFAULT_STRATEGY) == Z_OK;
        z_.next_out = buf_.data();
        z_.avail_out = uInt(CHUNK);
        return open_;
    }
    bool write(const u8* data, size_t n, bool last) {
        z_.next_in = const_cast<u8*>(data);
        z_.avail_in = uInt(n);
        for (;;) {
            int r = deflate(&z_, last ? Z_FINISH : Z_NO_FLUSH);
            if (r == Z_STREAM_END) {
                flush();
                return true;
            }
            if (r != Z_OK && r != Z_BUF_ERROR) return false;
            if (z_.avail_out == 0) {
                flush();
                continue;
            }
            if (z_.avail_in == 0 && !last) return true;
        }
    }

private:
    void flush() {
        size_t n = CHUNK - z_.avail_out;
        if (n) put_chunk(out_, "IDAT", buf_.data(), n);
        z_.next_out = buf_.data();
        z_.avail_out = uInt(CHUNK);
    }
    std::vector<u8>& out_;
    std::vector<u8> buf_;
    z_stream z_;
    bool open_ = false;
};

}  // namespace

bool encode_png(const u32* px, u32 w, u32 h, std::vector<u8>& out) {
    // An opaque image is written without its alpha channel: a quarter less to compress.
    bool opaque = all_opaque(px, u64(w) * h);
    u32 bpp = opaque ? 3 : 4;
    size_t n = size_t(w) * bpp;
    // Room for the worst case (stored blocks) at once: the vector never moves while it grows,
    // and the pages it does not reach are never touched.
    u64 raw = u64(n + 1) * h;
    out.clear();
    out.reserve(size_t(raw + raw / 1000 + raw / IdatWriter::CHUNK * 12 + 1024));
    static const u8 signature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    out.resize(8);
    std::memcpy(out.data(), signature, 8);
    u8 ihdr[13] = {u8(w >> 24), u8(w >> 16), u8(w >> 8), u8(w), u8(h >> 24), u8(h >> 16), u8(h >> 8), u8(h),
                   8, u8(opaque ? 2 : 6), 0, 0, 0};
    put_chunk(out, "IHDR", ihdr, sizeof ihdr);
    RowFilter rows(n, bpp);
    IdatWriter idat(out);
    if (!idat.start()) return false;
    // Filtered rows gather into blocks: fewer, larger calls into the compressor.
    std::vector<u8> block;
    block.reserve(std::max<size_t>(n + 1, 1 << 17));
    for (u32 y = 0; y < h; ++y) {
        const u32* s = px + size_t(y) * w;
        u8* r = rows.row();
        if (opaque) {
            for (u32 x = 0; x < w; ++x, r += 3) r[0] = u8(s[x] >> 16), r[1] = u8(s[x] >> 8), r[2] = u8(s[x]);
        } else {
            for (u32 x = 0; x < w; ++x, r += 4)
                r[0] = u8(s[x] >> 16), r[1] = u8(s[x] >> 8), r[2] = u8(s[x]), r[3] = u8(s[x] >> 24);
        }
        const std::vector<u8>& f = rows.filter();
        if (block.size() + f.size() > block.capacity()) {
            if (!idat.write(block.data(), block.size(), false)) return false;
            block.clear();
        }
        block.insert(block.end(), f.begin(), f.end());
    }
    if (!idat.write(block.data(), block.size(), true)) return false;
    put_chunk(out, "IEND", nullptr, 0);
    return true;
}

}  // namespace kel::host
