// JPEG through libjpeg-turbo. Its errors leave through longjmp, so every libjpeg call sits
// in a plain function that owns nothing with a destructor: what it allocates is malloc'd and
// recorded in the job, and the jump target frees it.
#include <csetjmp>
#include <cstdio>
#include <cstring>

#include <jerror.h>
#include <jpeglib.h>

#include "host/imaging.h"

namespace kel::host {

namespace {

struct JpegError {
    jpeg_error_mgr pub;
    std::jmp_buf jump;
    bool truncated;
};

void on_error(j_common_ptr c) { std::longjmp(reinterpret_cast<JpegError*>(c->err)->jump, 1); }
void on_output(j_common_ptr) {}
void on_message(j_common_ptr c, int level) {
    // Data that ends early is filled with grey by the library: for us it is a bad file.
    if (level < 0 && c->err->msg_code == JWRN_JPEG_EOF) reinterpret_cast<JpegError*>(c->err)->truncated = true;
}

struct DecodeJob {
    const u8* data;
    size_t n;
    u32* px;
    u32 width, height;
    Decoded result;
    Pixels* out;
};

void cmyk_to_bgra(u32* px, u64 count, bool inverted) {
    u8* p = reinterpret_cast<u8*>(px);
    for (u64 i = 0; i < count; ++i, p += 4) {
        u32 c = p[0], m = p[1], y = p[2], k = p[3];
        if (!inverted) c = 255 - c, m = 255 - m, y = 255 - y, k = 255 - k;
        u8 r = u8(c * k / 255), g = u8(m * k / 255), b = u8(y * k / 255);
        p[0] = b;
        p[1] = g;
        p[2] = r;
        p[3] = 255;
    }
}

void decode_c(DecodeJob* job) {
    jpeg_decompress_struct cinfo;
    JpegError err;
    cinfo.err = jpeg_std_error(&err.pub);
    err.pub.error_exit = on_error;
    err.pub.output_message = on_output;
    err.pub.emit_message = on_message;
    err.truncated = false;
    job->result = Decoded::bad_data;
    if (setjmp(err.jump)) {
        jpeg_destroy_decompress(&cinfo);
        rt::pixels_free(job->px);
        job->px = nullptr;
        return;
    }
    jpeg_create_decompress(&cinfo);
    jpeg_mem_src(&cinfo, job->data, static_cast<unsigned long>(job->n));
    jpeg_read_header(&cinfo, TRUE);
    Decoded size = check_size(cinfo.image_width, cinfo.image_height, *job->out);
    if (size != Decoded::ok) {
        job->result = size;
        jpeg_destroy_decompress(&cinfo);
        return;
    }
    bool cmyk = cinfo.jpeg_color_space == JCS_CMYK || cinfo.jpeg_color_space == JCS_YCCK;
    cinfo.out_color_space = cmyk ? JCS_CMYK : JCS_EXT_BGRA;
    jpeg_start_decompress(&cinfo);
    job->width = cinfo.output_width;
    job->height = cinfo.output_height;
    job->px = alloc_pixels(job->width, job->height);
    if (!job->px) {
        job->result = Decoded::too_large;
        jpeg_destroy_decompress(&cinfo);
        return;
    }
    JSAMPROW rows[16];
    while (cinfo.output_scanline < cinfo.output_height) {
        JDIMENSION at = cinfo.output_scanline;
        JDIMENSION want = cinfo.output_height - at < 16 ? cinfo.output_height - at : 16;
        for (JDIMENSION i = 0; i < want; ++i)
            rows[i] = reinterpret_cast<JSAMPROW>(job->px + size_t(at + i) * job->width);
        if (jpeg_read_scanlines(&cinfo, rows, want) == 0) break;
        if (err.truncated) break;
    }
    bool inverted = cinfo.saw_Adobe_marker;
    if (!err.truncated && cinfo.output_scanline == cinfo.output_height) jpeg_finish_decompress(&cinfo);
    bool complete = !err.truncated && cinfo.output_scanline == cinfo.output_height;
    jpeg_destroy_decompress(&cinfo);
    if (!complete) {
        rt::pixels_free(job->px);
        job->px = nullptr;
        return;
    }
    if (cmyk) cmyk_to_bgra(job->px, u64(job->width) * job->height, inverted);
    job->result = Decoded::ok;
}

struct EncodeJob {
    const u32* px;
    u32 width, height;
    unsigned char* mem;
    unsigned long size;
    bool ok;
};

void encode_c(EncodeJob* job) {
    jpeg_compress_struct cinfo;
    JpegError err;
    cinfo.err = jpeg_std_error(&err.pub);
    err.pub.error_exit = on_error;
    err.pub.output_message = on_output;
    job->ok = false;
    job->mem = nullptr;
    job->size = 0;
    if (setjmp(err.jump)) {
        jpeg_destroy_compress(&cinfo);
        std::free(job->mem);
        job->mem = nullptr;
        return;
    }
    jpeg_create_compress(&cinfo);
    jpeg_mem_dest(&cinfo, &job->mem, &job->size);
    cinfo.image_width = job->width;
    cinfo.image_height = job->height;
    cinfo.input_components = 4;
    cinfo.in_color_space = JCS_EXT_BGRA;
    jpeg_set_defaults(&cinfo);
    jpeg_start_compress(&cinfo, TRUE);
    JSAMPROW rows[16];
    while (cinfo.next_scanline < cinfo.image_height) {
        JDIMENSION at = cinfo.next_scanline;
        JDIMENSION want = cinfo.image_height - at < 16 ? cinfo.image_height - at : 16;
        for (JDIMENSION i = 0; i < want; ++i)
            rows[i] = reinterpret_cast<JSAMPROW>(const_cast<u32*>(job->px + size_t(at + i) * job->width));
        jpeg_write_scanlines(&cinfo, rows, want);
    }
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    job->ok = true;
}

}  // namespace

Decoded decode_jpeg(const u8* data, size_t n, Pixels& out) {
    DecodeJob job{data, n, nullptr, 0, 0, Decoded::bad_data, &out};
    decode_c(&job);
    if (job.result != Decoded::ok) return job.result;
    out.width = job.width;
    out.height = job.height;
    out.data.reset(job.px);
    return Decoded::ok;
}

bool encode_jpeg(const u32* px, u32 w, u32 h, std::vector<u8>& out) {
    EncodeJob job{px, w, h, nullptr, 0, false};
    encode_c(&job);
    return adopt_output(job.ok, job.mem, job.size, out);
}

}  // namespace kel::host
