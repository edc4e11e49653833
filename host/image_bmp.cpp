// BMP, read and written by our own code: 1, 2, 4, 8, 16, 24 and 32 bits per pixel,
// uncompressed or with bit-field masks, rows stored bottom-up or top-down; 4- and 8-bit
// run-length compressed files are read too.
#include <algorithm>
#include <cstring>

#include "host/imaging.h"

namespace kel::host {

namespace {

u32 le16(const u8* p) { return u32(p[0]) | u32(p[1]) << 8; }
u32 le32(const u8* p) { return u32(p[0]) | u32(p[1]) << 8 | u32(p[2]) << 16 | u32(p[3]) << 24; }
void put16(std::vector<u8>& o, u32 v) { o.push_back(u8(v)), o.push_back(u8(v >> 8)); }
void put32(std::vector<u8>& o, u32 v) { put16(o, v & 0xFFFF), put16(o, v >> 16); }

constexpr u32 BI_RGB = 0, BI_RLE8 = 1, BI_RLE4 = 2, BI_BITFIELDS = 3, BI_ALPHABITFIELDS = 6;

// A channel mask: where it starts and how to stretch its values to 8 bits.
struct Channel {
    u32 mask = 0, shift = 0, max = 0;
    explicit Channel(u32 m = 0) : mask(m) {
        if (!m) return;
        while (!((m >> shift) & 1)) ++shift;
        max = m >> shift;
    }
    u32 get(u32 v, u32 absent) const {
        if (!mask) return absent;
        return u32((u64((v & mask) >> shift) * 255 + max / 2) / max);
    }
};

// Run-length data (4 or 8 bits per index) into px, rows bottom-up. Pixels the data never
// reaches keep palette entry 0. A run or literal past the row's end is cut at the edge, a
// jump past the last row ends the picture; data that stops before its end-of-picture mark
// (unless every row was reached) is cut short: false.
bool decode_rle(const u8* p, const u8* end, u32 bits, const u32* palette, u32 w, u32 h, u32* px) {
    u64 x = 0, row = 0;  // row counts from the bottom; both may run past the picture
    auto put = [&](u32 index) {
        if (x < w && row < h) px[size_t(h - 1 - row) * w + x] = palette[index];
        ++x;
    };
    while (row < h) {
        if (end - p < 2) return false;
        u32 count = p[0], value = p[1];
        p += 2;
        if (count) {  // a run: one index, or two alternating nibbles; no wrapping past the edge
            if (bits == 8) {
                for (u32 i = 0; i < count && x < w; ++i) put(value);
            } else {
                for (u32 i = 0; i < count && x < w; ++i) put(i & 1 ? value & 15 : value >> 4);
            }
            continue;
        }
        switch (value) {
            case 0:  // end of line
                x = 0, ++row;
                break;
            case 1:  // end of picture
                return true;
            case 2:  // jump right and up
                if (end - p < 2) return false;
                x += p[0], row += p[1];
                p += 2;
                break;
            default: {  // literal indexes, padded to a 16-bit boundary
                size_t bytes = bits == 8 ? value : (value + 1) / 2;
                size_t padded = (bytes + 1) & ~size_t(1);
                if (size_t(end - p) < padded) return false;
                for (u32 i = 0; i < value && x < w; ++i) put(bits == 8 ? p[i] : i & 1 ? p[i / 2] & 15 : p[i / 2] >> 4);
                p += padded;
                break;
            }
        }
    }
    return true;
}

}  // namespace

Decoded decode_bmp(const u8* d, size_t n, Pixels& out) {
    if (n < 26) return Decoded::bad_data;
    u32 data_at = le32(d + 10);
    u32 hs = le32(d + 14);
    if (hs != 12 && (hs < 40 || hs > 1024) ) return Decoded::bad_data;
    if (n < 14 + size_t(hs)) return Decoded::bad_data;
    const u8* h = d + 14;
    i64 width, height;
    u32 bpp, compression = BI_RGB, colours_used = 0;
    if (hs == 12) {
        width = le16(h + 4);
        height = le16(h + 6);
        bpp = le16(h + 10);
    } else {
        width = int32_t(le32(h + 4));
        height = int32_t(le32(h + 8));
        bpp = le16(h + 14);
        compression = le32(h + 16);
        colours_used = le32(h + 32);
    }
    bool top_down = height < 0;
    if (top_down) height = -height;
    if (width <= 0 || height <= 0) return Decoded::bad_data;
    if (bpp != 1 && bpp != 2 && bpp != 4 && bpp != 8 && bpp != 16 && bpp != 24 && bpp != 32) return Decoded::bad_data;
    bool fields = compression == BI_BITFIELDS || compression == BI_ALPHABITFIELDS;
    // Run-length rows are bottom-up by definition: a top-down claim is a broken file.
    bool rle = (compression == BI_RLE8 && bpp == 8) || (compression == BI_RLE4 && bpp == 4);
    if (rle && top_down) return Decoded::bad_data;
    if (!(compression == BI_RGB || rle || (fields && (bpp == 16 || bpp == 32)))) return Decoded::bad_data;
    Decoded size = check_size(u64(width), u64(height), out);
    if (size != Decoded::ok) return size;

    // Masks: in the header from version 3 on, else right after a 40-byte header.
    Channel r, g, b, a;
    size_t after_header = 14 + size_t(hs);
    bool alpha_from_byte = false;
    if (fields) {
        const u8* m = hs >= 52 ? h + 40 : d + after_header;
        size_t mask_bytes = compression == BI_ALPHABITFIELDS || hs >= 56 ? 16 : 12;
        if (hs < 52) after_header += compression == BI_ALPHABITFIELDS ? 16 : 12;
        if (size_t(m - d) + mask_bytes > n) return Decoded::bad_data;
        r = Channel(le32(m)), g = Channel(le32(m + 4)), b = Channel(le32(m + 8));
        if (mask_bytes == 16) a = Channel(le32(m + 12));
    } else if (bpp == 16) {
        r = Channel(0x7C00), g = Channel(0x03E0), b = Channel(0x001F);
    } else if (bpp == 32) {
        r = Channel(0xFF0000), g = Channel(0xFF00), b = Channel(0xFF);
        alpha_from_byte = true;  // honoured unless every alpha byte is 0
    }

    u32 palette[256];
    if (bpp <= 8) {
        u32 entry = hs == 12 ? 3 : 4;
        u32 count = colours_used && colours_used < (1u << bpp) ? colours_used : 1u << bpp;
        if (after_header + size_t(count) * entry > n) return Decoded::bad_data;
        for (u32 i = 0; i < 256; ++i) {
            if (i < count) {
                const u8* p = d + after_header + size_t(i) * entry;
                palette[i] = 0xFF000000u | u32(p[2]) << 16 | u32(p[1]) << 8 | p[0];
            } else {
                palette[i] = 0xFF000000u;
            }
        }
    }

    if (rle) {
        if (data_at > n) return Decoded::bad_data;
        u32 w = u32(width), hgt = u32(height);
        PixelMemory px(alloc_pixels(w, hgt));
        if (!px) return Decoded::too_large;
        std::fill_n(px.get(), u64(w) * hgt, palette[0]);
        if (!decode_rle(d + data_at, d + n, bpp, palette, w, hgt, px.get())) return Decoded::bad_data;
        out.width = w;
        out.height = hgt;
        out.data = std::move(px);
        return Decoded::ok;
    }

    u64 stride = (u64(width) * bpp + 31) / 32 * 4;
    // The rows must all be there: a cut file is refused before its pixels are allocated.
    if (data_at > n || stride * u64(height) > u64(n - data_at)) return Decoded::bad_data;
    u32 w = u32(width), hgt = u32(height);
    PixelMemory px(alloc_pixels(w, hgt));
    if (!px) return Decoded::too_large;
    u32 alpha_seen = 0;
    for (u32 y = 0; y < hgt; ++y) {
        const u8* row = d + data_at + stride * (top_down ? y : hgt - 1 - y);
        u32* o = px.get() + size_t(y) * w;
        switch (bpp) {
            case 1: case 2: case 4: case 8: {
                u32 per_byte = 8 / bpp, mask = (1u << bpp) - 1;
                for (u32 x = 0; x < w; ++x) {
                    u32 byte = row[x / per_byte];
                    u32 shift = 8 - bpp * (x % per_byte + 1);
                    o[x] = palette[(byte >> shift) & mask];
                }
                break;
            }
            case 24:
                for (u32 x = 0; x < w; ++x, row += 3) o[x] = 0xFF000000u | u32(row[2]) << 16 | u32(row[1]) << 8 | row[0];
                break;
            default:
                for (u32 x = 0; x < w; ++x) {
                    u32 v = bpp == 16 ? le16(row + 2 * x) : le32(row + 4 * x);
                    u32 alpha = alpha_from_byte ? v >> 24 : a.get(v, 255);
                    alpha_seen |= alpha;
                    o[x] = alpha << 24 | r.get(v, 0) << 16 | g.get(v, 0) << 8 | b.get(v, 0);
                }
                break;
        }
    }
    // Many writers leave the fourth byte of 32-bit pixels 0: then it is padding, not alpha.
    if (alpha_from_byte && alpha_seen == 0) {
        u64 count = u64(w) * hgt;
        for (u64 i = 0; i < count; ++i) px[i] |= 0xFF000000u;
    }
    out.width = w;
    out.height = hgt;
    out.data = std::move(px);
    return Decoded::ok;
}

bool encode_bmp(const u32* px, u32 w, u32 h, std::vector<u8>& out) {
    bool alpha = !all_opaque(px, u64(w) * h);
    u32 bpp = alpha ? 32 : 24;
    u32 hs = alpha ? 108 : 40;
    u64 stride = (u64(w) * bpp + 31) / 32 * 4;
    u64 data_size = stride * h;
    u64 total = 14 + hs + data_size;
    if (total > 0xFFFFFFFFu) return false;
    out.clear();
    out.reserve(size_t(total));
    out.push_back('B'), out.push_back('M');
    put32(out, u32(total));
    put32(out, 0);
    put32(out, 14 + hs);
    put32(out, hs);
    put32(out, w);
    put32(out, h);  // positive: rows bottom-up
    put16(out, 1);
    put16(out, bpp);
    put32(out, alpha ? BI_BITFIELDS : BI_RGB);
    put32(out, u32(data_size));
    put32(out, 2835), put32(out, 2835);  // 72 dots per inch
    put32(out, 0), put32(out, 0);
    if (alpha) {
        put32(out, 0x00FF0000), put32(out, 0x0000FF00), put32(out, 0x000000FF), put32(out, 0xFF000000);
        put32(out, 0x73524742);  // colour space "sRGB"
        for (int i = 0; i < 12; ++i) put32(out, 0);  // end points and gamma, unused with sRGB
    }
    size_t at = out.size();
    out.resize(size_t(total));
    for (u32 y = 0; y < h; ++y) {
        const u32* s = px + size_t(h - 1 - y) * w;
        u8* o = out.data() + at + stride * y;
        if (alpha) {
            std::memcpy(o, s, size_t(w) * 4);  // the pixels' memory order is the file's
        } else {
            for (u32 x = 0; x < w; ++x, o += 3) {
                u32 p = s[x];
                o[0] = u8(p), o[1] = u8(p >> 8), o[2] = u8(p >> 16);
            }
        }
    }
    return true;
}

}  // namespace kel::host
