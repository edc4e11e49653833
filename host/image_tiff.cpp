// TIFF through libtiff, reading from and writing to memory through client procedures.
#include <tiffio.h>

#include <algorithm>
#include <cstring>
#include <mutex>

#include "host/imaging.h"
#include "host/shared_library.h"

namespace kel::host {

namespace {

// libtiff, bound on first use (host/shared_library.h).
struct TiffApi {
    decltype(&TIFFClientOpen) client_open;
    decltype(&TIFFClose) close;
    decltype(&TIFFDefaultStripSize) default_strip_size;
    decltype(&TIFFFlush) flush;
    decltype(&TIFFGetField) get_field;
    decltype(&TIFFGetFieldDefaulted) get_field_defaulted;
    decltype(&TIFFIsTiled) is_tiled;
    decltype(&TIFFRGBAImageOK) rgba_image_ok;
    decltype(&TIFFReadRGBAImageOriented) read_rgba_image_oriented;
    decltype(&TIFFReadScanline) read_scanline;
    decltype(&TIFFScanlineSize64) scanline_size64;
    decltype(&TIFFSetErrorHandler) set_error_handler;
    decltype(&TIFFSetField) set_field;
    decltype(&TIFFSetWarningHandler) set_warning_handler;
    decltype(&TIFFWriteScanline) write_scanline;
};
TiffApi libtiff;

struct MemFile {
    const u8* data;          // reading
    std::vector<u8>* out;    // writing
    u64 size;
    u64 pos;
};

tsize_t read_proc(thandle_t h, tdata_t buf, tsize_t n) {
    auto* f = static_cast<MemFile*>(h);
    if (n <= 0 || f->pos >= f->size) return 0;
    u64 k = std::min<u64>(u64(n), f->size - f->pos);
    std::memcpy(buf, (f->out ? f->out->data() : f->data) + f->pos, size_t(k));
    f->pos += k;
    return tsize_t(k);
}

tsize_t write_proc(thandle_t h, tdata_t buf, tsize_t n) {
    auto* f = static_cast<MemFile*>(h);
    if (!f->out || n < 0) return -1;
    if (f->pos + u64(n) > f->out->size()) f->out->resize(size_t(f->pos + u64(n)));
    std::memcpy(f->out->data() + f->pos, buf, size_t(n));
    f->pos += u64(n);
    f->size = std::max<u64>(f->size, f->pos);
    return n;
}

toff_t seek_proc(thandle_t h, toff_t off, int whence) {
    auto* f = static_cast<MemFile*>(h);
    i64 base = whence == SEEK_SET ? 0 : whence == SEEK_CUR ? i64(f->pos) : i64(f->size);
    i64 to = base + i64(off);
    if (to < 0) return toff_t(-1);
    f->pos = u64(to);
    return toff_t(f->pos);
}

int close_proc(thandle_t) { return 0; }
toff_t size_proc(thandle_t h) { return static_cast<MemFile*>(h)->size; }
int map_proc(thandle_t, tdata_t*, toff_t*) { return 0; }
void unmap_proc(thandle_t, tdata_t, toff_t) {}

// Binds the library, and silences it: libtiff reports on standard error unless told
// otherwise, and its failures reach us as results. Raises internal/not-here when it is missing.
void bind_tiff() {
    // A mutex rather than std::call_once: a failure raises, and an exception out of
    // call_once is not reliably supported.
    static std::mutex lock;
    static bool bound = false;
    std::lock_guard<std::mutex> hold(lock);
    if (bound) return;
    bind_shared_library("libtiff.so.6", {{"TIFFClientOpen", &libtiff.client_open}, {"TIFFClose", &libtiff.close},
                                         {"TIFFDefaultStripSize", &libtiff.default_strip_size},
                                         {"TIFFFlush", &libtiff.flush}, {"TIFFGetField", &libtiff.get_field},
                                         {"TIFFGetFieldDefaulted", &libtiff.get_field_defaulted},
                                         {"TIFFIsTiled", &libtiff.is_tiled},
                                         {"TIFFRGBAImageOK", &libtiff.rgba_image_ok},
                                         {"TIFFReadRGBAImageOriented", &libtiff.read_rgba_image_oriented},
                                         {"TIFFReadScanline", &libtiff.read_scanline},
                                         {"TIFFScanlineSize64", &libtiff.scanline_size64},
                                         {"TIFFSetErrorHandler", &libtiff.set_error_handler},
                                         {"TIFFSetField", &libtiff.set_field},
                                         {"TIFFSetWarningHandler", &libtiff.set_warning_handler},
                                         {"TIFFWriteScanline", &libtiff.write_scanline}});
    libtiff.set_error_handler(nullptr);
    libtiff.set_warning_handler(nullptr);
    bound = true;
}

struct TiffCloser {
    TIFF* t;
    ~TiffCloser() {
        if (t) libtiff.close(t);
    }
};

// 8-bit RGB or RGBA in strips: read as stored, so unassociated alpha stays exact.
bool read_plain_rgb(TIFF* t, u32 w, u32 h, u32* px) {
    uint16_t bits = 0, spp = 0, photometric = 0, planar = PLANARCONFIG_CONTIG;
    libtiff.get_field_defaulted(t, TIFFTAG_BITSPERSAMPLE, &bits);
    libtiff.get_field_defaulted(t, TIFFTAG_SAMPLESPERPIXEL, &spp);
    libtiff.get_field_defaulted(t, TIFFTAG_PLANARCONFIG, &planar);
    if (!libtiff.get_field(t, TIFFTAG_PHOTOMETRIC, &photometric)) return false;
    uint16_t extra_count = 0;
    uint16_t* extra = nullptr;
    libtiff.get_field_defaulted(t, TIFFTAG_EXTRASAMPLES, &extra_count, &extra);
    bool unassociated_alpha = spp == 4 && extra_count == 1 && extra && extra[0] == EXTRASAMPLE_UNASSALPHA;
    if (bits != 8 || photometric != PHOTOMETRIC_RGB || planar != PLANARCONFIG_CONTIG || libtiff.is_tiled(t) ||
        !(spp == 3 || unassociated_alpha))
        return false;
    if (u64(libtiff.scanline_size64(t)) < u64(w) * spp) return false;
    std::vector<u8> line(size_t(libtiff.scanline_size64(t)));
    for (u32 y = 0; y < h; ++y) {
        if (libtiff.read_scanline(t, line.data(), y, 0) < 0) return false;
        const u8* s = line.data();
        u32* d = px + size_t(y) * w;
        for (u32 x = 0; x < w; ++x, s += spp)
            d[x] = u32(spp == 4 ? s[3] : 255) << 24 | u32(s[0]) << 16 | u32(s[1]) << 8 | s[2];
    }
    return true;
}

}  // namespace

Decoded decode_tiff(const u8* data, size_t n, Pixels& out) {
    bind_tiff();
    MemFile f{data, nullptr, n, 0};
    TiffCloser image{libtiff.client_open("memory", "rm", &f, read_proc, write_proc, seek_proc, close_proc, size_proc,
                                   map_proc, unmap_proc)};
    if (!image.t) return Decoded::bad_data;
    uint32_t w = 0, h = 0;
    if (!libtiff.get_field(image.t, TIFFTAG_IMAGEWIDTH, &w) || !libtiff.get_field(image.t, TIFFTAG_IMAGELENGTH, &h))
        return Decoded::bad_data;
    Decoded size = check_size(w, h, out);
    if (size != Decoded::ok) return size;
    char message[1024];
    if (!libtiff.rgba_image_ok(image.t, message)) return Decoded::bad_data;
    PixelMemory px(alloc_pixels(w, h));
    if (!px) return Decoded::too_large;
    if (!read_plain_rgb(image.t, w, h, px.get())) {
        if (!libtiff.read_rgba_image_oriented(image.t, w, h, px.get(), ORIENTATION_TOPLEFT, 0)) return Decoded::bad_data;
        // The raster holds R in the low byte; alpha comes premultiplied.
        u64 count = u64(w) * h;
        for (u64 i = 0; i < count; ++i) {
            u32 p = px[i];
            u32 a = p >> 24, r = p & 0xFF, g = (p >> 8) & 0xFF, b = (p >> 16) & 0xFF;
            if (a != 0 && a != 255) {
                r = std::min<u32>(255, (r * 255 + a / 2) / a);
                g = std::min<u32>(255, (g * 255 + a / 2) / a);
                b = std::min<u32>(255, (b * 255 + a / 2) / a);
            }
            px[i] = a << 24 | r << 16 | g << 8 | b;
        }
    }
    out.width = w;
    out.height = h;
    out.data = std::move(px);
    return Decoded::ok;
}

bool encode_tiff(const u32* px, u32 w, u32 h, std::vector<u8>& out) {
    bind_tiff();
    MemFile f{nullptr, &out, 0, 0};
    TIFF* t = libtiff.client_open("memory", "wm", &f, read_proc, write_proc, seek_proc, close_proc, size_proc, map_proc,
                             unmap_proc);
    if (!t) return false;
    bool alpha = !all_opaque(px, u64(w) * h);
    uint16_t spp = alpha ? 4 : 3;
    bool ok = libtiff.set_field(t, TIFFTAG_IMAGEWIDTH, w) && libtiff.set_field(t, TIFFTAG_IMAGELENGTH, h) &&
              libtiff.set_field(t, TIFFTAG_BITSPERSAMPLE, 8) && libtiff.set_field(t, TIFFTAG_SAMPLESPERPIXEL, spp) &&
              libtiff.set_field(t, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB) &&
              libtiff.set_field(t, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG) &&
              libtiff.set_field(t, TIFFTAG_COMPRESSION, COMPRESSION_NONE) &&
              libtiff.set_field(t, TIFFTAG_ROWSPERSTRIP, libtiff.default_strip_size(t, 0));
    if (ok && alpha) {
        uint16_t extra = EXTRASAMPLE_UNASSALPHA;
        ok = libtiff.set_field(t, TIFFTAG_EXTRASAMPLES, 1, &extra);
    }
    std::vector<u8> line(size_t(w) * spp);
    for (u32 y = 0; ok && y < h; ++y) {
        const u32* s = px + size_t(y) * w;
        u8* d = line.data();
        for (u32 x = 0; x < w; ++x) {
            u32 p = s[x];
            *d++ = u8(p >> 16);
            *d++ = u8(p >> 8);
            *d++ = u8(p);
            if (alpha) *d++ = u8(p >> 24);
        }
        ok = libtiff.write_scanline(t, line.data(), y, 0) >= 0;
    }
    if (ok) ok = libtiff.flush(t) == 1;
    libtiff.close(t);
    if (!ok) out.clear();
    return ok;
}

}  // namespace kel::host
