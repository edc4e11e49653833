// GIF through giflib: the first frame is decoded (transparency from its graphics control
// block); writing reduces the colours to a 256-entry palette by our own median cut.
#include <gif_lib.h>

#include <algorithm>
#include <cstring>
#include <unordered_map>

#include "host/imaging.h"

namespace kel::host {

namespace {

struct MemReader {
    const u8* data;
    size_t n, pos;
};

int read_memory(GifFileType* g, GifByteType* buf, int len) {
    auto* r = static_cast<MemReader*>(g->UserData);
    size_t k = std::min(size_t(len < 0 ? 0 : len), r->n - r->pos);
    std::memcpy(buf, r->data + r->pos, k);
    r->pos += k;
    return int(k);
}

int write_memory(GifFileType* g, const GifByteType* buf, int len) {
    auto* out = static_cast<std::vector<u8>*>(g->UserData);
    out->insert(out->end(), buf, buf + len);
    return len;
}

struct GifCloser {
    GifFileType* g;
    ~GifCloser() {
        int err;
        if (g) DGifCloseFile(g, &err);
    }
};

// Decodes the first image of the stream onto the screen-sized canvas.
Decoded read_first_frame(GifFileType* g, Pixels& out) {
    Decoded size = check_size(u32(g->SWidth), u32(g->SHeight), out);
    if (size != Decoded::ok) return size;
    int transparent = -1;
    for (;;) {
        GifRecordType type;
        if (DGifGetRecordType(g, &type) == GIF_ERROR) return Decoded::bad_data;
        if (type == EXTENSION_RECORD_TYPE) {
            int code;
            GifByteType* ext = nullptr;
            if (DGifGetExtension(g, &code, &ext) == GIF_ERROR) return Decoded::bad_data;
            if (code == GRAPHICS_EXT_FUNC_CODE && ext && ext[0] >= 4) {
                GraphicsControlBlock gcb;
                if (DGifExtensionToGCB(ext[0], ext + 1, &gcb) == GIF_OK) transparent = gcb.TransparentColor;
            }
            while (ext)
                if (DGifGetExtensionNext(g, &ext) == GIF_ERROR) return Decoded::bad_data;
            continue;
        }
        if (type != IMAGE_DESC_RECORD_TYPE) return Decoded::bad_data;  // the stream ended without an image
        if (DGifGetImageDesc(g) == GIF_ERROR) return Decoded::bad_data;
        break;
    }
    const GifImageDesc& d = g->Image;
    const ColorMapObject* map = d.ColorMap ? d.ColorMap : g->SColorMap;
    if (!map || d.Width <= 0 || d.Height <= 0) return Decoded::bad_data;
    u32 w = u32(g->SWidth), h = u32(g->SHeight);
    // Left transparent where the frame does not cover the screen; calloc leaves the pages
    // untouched until written.
    PixelMemory px(static_cast<u32*>(std::calloc(size_t(w) * h, 4)));
    if (!px) return Decoded::too_large;
    u32 palette[256];
    for (int i = 0; i < 256; ++i) {
        if (i < map->ColorCount) {
            const GifColorType& c = map->Colors[i];
            palette[i] = 0xFF000000u | u32(c.Red) << 16 | u32(c.Green) << 8 | c.Blue;
        } else {
            palette[i] = 0xFF000000u;
        }
    }
    if (transparent >= 0 && transparent < 256) palette[transparent] &= 0x00FFFFFF;
    std::vector<GifPixelType> line(size_t(d.Width));
    auto put_row = [&](int row) -> bool {
        if (DGifGetLine(g, line.data(), d.Width) == GIF_ERROR) return false;
        i64 y = i64(d.Top) + row;
        if (y < 0 || y >= i64(h)) return true;
        u32* dst = px.get() + size_t(y) * w;
        for (int x = 0; x < d.Width; ++x) {
            i64 cx = i64(d.Left) + x;
            if (cx >= 0 && cx < i64(w)) dst[cx] = palette[line[size_t(x)]];
        }
        return true;
    };
    if (d.Interlace) {
        static const int start[4] = {0, 4, 2, 1}, step[4] = {8, 8, 4, 2};
        for (int pass = 0; pass < 4; ++pass)
            for (int row = start[pass]; row < d.Height; row += step[pass])
                if (!put_row(row)) return Decoded::bad_data;
    } else {
        for (int row = 0; row < d.Height; ++row)
            if (!put_row(row)) return Decoded::bad_data;
    }
    out.width = w;
    out.height = h;
    out.data = std::move(px);
    return Decoded::ok;
}

// ---- palette ---------------------------------------------------------------------------------

struct Box {
    u32 lo[3], hi[3];  // 5-bit channel ranges, inclusive
    std::vector<u32> bins;
};

// Median cut over a 15-bit colour histogram; `index_of` maps each bin to its palette entry.
void median_cut(const std::vector<u32>& hist, u32 max_colours, std::vector<u32>& palette, std::vector<u8>& index_of) {
    std::vector<Box> boxes(1);
    for (u32 b = 0; b < 32768; ++b)
        if (hist[b]) boxes[0].bins.push_back(b);
    auto channel = [](u32 bin, int c) { return (bin >> (10 - 5 * c)) & 31; };
    auto fit = [&](Box& box) {
        for (int c = 0; c < 3; ++c) box.lo[c] = 31, box.hi[c] = 0;
        for (u32 bin : box.bins)
            for (int c = 0; c < 3; ++c) {
                box.lo[c] = std::min(box.lo[c], channel(bin, c));
                box.hi[c] = std::max(box.hi[c], channel(bin, c));
            }
    };
    fit(boxes[0]);
    while (boxes.size() < max_colours) {
        // Split the box with the widest channel range that holds more than one bin.
        size_t pick = boxes.size();
        u32 widest = 0;
        for (size_t i = 0; i < boxes.size(); ++i) {
            if (boxes[i].bins.size() < 2) continue;
            for (int c = 0; c < 3; ++c)
                if (boxes[i].hi[c] - boxes[i].lo[c] + 1 > widest) widest = boxes[i].hi[c] - boxes[i].lo[c] + 1, pick = i;
        }
        if (pick == boxes.size()) break;
        Box& box = boxes[pick];
        int c = 0;
        for (int k = 1; k < 3; ++k)
            if (box.hi[k] - box.lo[k] > box.hi[c] - box.lo[c]) c = k;
        std::sort(box.bins.begin(), box.bins.end(), [&](u32 a, u32 b) { return channel(a, c) < channel(b, c); });
        u64 total = 0, half = 0;
        for (u32 bin : box.bins) total += hist[bin];
        size_t cut = 0;
        // Both halves keep at least one bin, however the weight lies.
        while (cut + 2 < box.bins.size() && (half += hist[box.bins[cut]]) * 2 < total) ++cut;
        Box other;
        other.bins.assign(box.bins.begin() + long(cut) + 1, box.bins.end());
        box.bins.resize(cut + 1);
        fit(box);
        fit(other);
        boxes.push_back(std::move(other));
    }
    palette.clear();
    for (size_t i = 0; i < boxes.size(); ++i) {
        u64 sum[3] = {0, 0, 0}, count = 0;
        for (u32 bin : boxes[i].bins) {
            for (int c = 0; c < 3; ++c) sum[c] += u64(channel(bin, c) * 8 + 4) * hist[bin];
            count += hist[bin];
            index_of[bin] = u8(i);
        }
        palette.push_back(u32(sum[0] / count) << 16 | u32(sum[1] / count) << 8 | u32(sum[2] / count));
    }
}

}  // namespace

Decoded decode_gif(const u8* data, size_t n, Pixels& out) {
    MemReader reader{data, n, 0};
    int err = 0;
    GifCloser gif{DGifOpen(&reader, read_memory, &err)};
    if (!gif.g) return Decoded::bad_data;
    return read_first_frame(gif.g, out);
}

bool encode_gif(const u32* px, u32 w, u32 h, std::vector<u8>& out) {
    u64 count = u64(w) * h;
    bool transparent = false;
    std::unordered_map<u32, u32> exact;
    bool exact_ok = true;
    for (u64 i = 0; i < count; ++i) {
        if ((px[i] >> 24) < 128) {
            transparent = true;
            continue;
        }
        if (exact_ok && exact.emplace(px[i] & 0xFFFFFF, u32(exact.size())).second && exact.size() > 256) exact_ok = false;
    }
    u32 room = transparent ? 255 : 256;
    std::vector<u32> palette;
    std::vector<u8> bin_index;
    if (exact_ok && exact.size() <= room) {
        palette.resize(exact.size());
        for (auto& [rgb, i] : exact) palette[i] = rgb;
    } else {
        std::vector<u32> hist(32768);
        for (u64 i = 0; i < count; ++i) {
            u32 p = px[i];
            if ((p >> 24) >= 128) ++hist[((p >> 19) & 31) << 10 | ((p >> 11) & 31) << 5 | ((p >> 3) & 31)];
        }
        bin_index.assign(32768, 0);
        median_cut(hist, room, palette, bin_index);
        exact.clear();
    }
    u32 transparent_index = u32(palette.size());
    u32 entries = transparent_index + (transparent ? 1 : 0);
    int bits = 1;
    while ((1u << bits) < entries) ++bits;
    std::vector<GifColorType> colours(size_t(1) << bits);
    for (size_t i = 0; i < palette.size(); ++i)
        colours[i] = {GifByteType(palette[i] >> 16), GifByteType(palette[i] >> 8), GifByteType(palette[i])};
    ColorMapObject* map = GifMakeMapObject(1 << bits, colours.data());
    if (!map) return false;
    int err = 0;
    GifFileType* g = EGifOpen(&out, write_memory, &err);
    if (!g) {
        GifFreeMapObject(map);
        return false;
    }
    bool ok = true;
    EGifSetGifVersion(g, true);
    ok = EGifPutScreenDesc(g, int(w), int(h), bits, 0, map) == GIF_OK;
    if (ok && transparent) {
        GraphicsControlBlock gcb{DISPOSAL_UNSPECIFIED, false, 0, int(transparent_index)};
        GifByteType ext[4];
        EGifGCBToExtension(&gcb, ext);
        ok = EGifPutExtension(g, GRAPHICS_EXT_FUNC_CODE, 4, ext) == GIF_OK;
    }
    ok = ok && EGifPutImageDesc(g, 0, 0, int(w), int(h), false, nullptr) == GIF_OK;
    std::vector<GifPixelType> row(w);
    for (u32 y = 0; ok && y < h; ++y) {
        const u32* src = px + size_t(y) * w;
        for (u32 x = 0; x < w; ++x) {
            u32 p = src[x];
            if ((p >> 24) < 128)
                row[x] = GifPixelType(transparent_index);
            else if (!bin_index.empty())
                row[x] = bin_index[((p >> 19) & 31) << 10 | ((p >> 11) & 31) << 5 | ((p >> 3) & 31)];
            else
                row[x] = GifPixelType(exact.find(p & 0xFFFFFF)->second);
        }
        ok = EGifPutLine(g, row.data(), int(w)) == GIF_OK;
    }
    if (EGifCloseFile(g, &err) == GIF_ERROR) ok = false;
    GifFreeMapObject(map);
    if (!ok) out.clear();
    return ok;
}

}  // namespace kel::host
