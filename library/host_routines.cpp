// Routines over the host services: the clipboard (read-clipboard, write-clipboard) and the
// description of the system (os-info).
#include <algorithm>
#include <string>
#include <vector>

#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/geometry.h"
#include "datatypes/image.h"
#include "datatypes/object.h"
#include "datatypes/string.h"
#include "evaluator/os_text.h"
#include "host/clipboard.h"
#include "host/imaging.h"
#include "host/os_info.h"
#include "library/routines.h"
#include "runtime/errors.h"
#include "runtime/stack.h"
#include "runtime/unicode.h"

namespace kel::lib {

namespace {

constexpr const char* BASE_SOURCE = "library/base.kel";

// An image file from the clipboard as an image!; bytes that are no image it can read give none.
void image_from_clipboard(Cell* out, const std::string& bytes) {
    host::Pixels pixels;
    if (host::decode_image(reinterpret_cast<const u8*>(bytes.data()), bytes.size(), pixels) != host::Decoded::ok) {
        set_cell(out, T_NONE);
        return;
    }
    u32 w = pixels.width, h = pixels.height;
    *out = *dt::push_image(w, h, pixels.data.release());
    rt::stack_pop(1);
}

// An image as PNG on the clipboard; one without pixels only empties it.
bool image_to_clipboard(const Cell* img) {
    const u32* px = dt::image_pixels(img);
    if (!px || dt::image_pixel_count(img) == 0) return host::clipboard_clear();
    std::vector<u8> png;
    if (!host::encode_png(px, dt::image_width(img), dt::image_height(img), png)) return false;
    return host::clipboard_write_png(std::string(png.begin(), png.end()));
}

// false on failure, none when empty, else a string!, a block! of file! values or an image!.
i64 read_clipboard(Cell* args) {
    host::ClipboardContent c = host::clipboard_read();
    switch (c.kind) {
        case host::ClipboardContent::failed: set_cell(&args[0], T_LOGIC, 0); break;
        case host::ClipboardContent::nothing: set_cell(&args[0], T_NONE); break;
        case host::ClipboardContent::has_text:
            args[0] = *ev::push_text_from_utf8(c.text);
            rt::stack_pop(1);
            break;
        case host::ClipboardContent::has_files: {
            Cell* block = dt::push_new_block(u32(c.files.size()));
            for (const std::string& path : c.files) {
                ev::push_file_from_local(path);
                dt::append_top_to_block(block);
                rt::stack_pop(1);
            }
            args[0] = *block;
            rt::stack_pop(1);
            break;
        }
        case host::ClipboardContent::has_image: image_from_clipboard(&args[0], c.text); break;
    }
    return 0;
}

// A string, a block of files, an image or none; anything else (a block holding anything but
// files among them) is refused before the clipboard is touched.
i64 write_clipboard(Cell* args) {
    Cell* data = &args[0];
    switch (type_of(data)) {
        case T_NONE: return host::clipboard_clear();
        case T_STRING: return host::clipboard_write_text(ev::utf8_text(data));
        case T_IMAGE: return image_to_clipboard(data);
        case T_BLOCK: {
            std::vector<std::string> paths;
            i32 head = series_head(data), n = dt::ks_length_q(data);
            for (i32 i = 0; i < n; ++i) {
                Cell f = *dt::ks_abs_at(data, head + i);
                if (type_of(&f) != T_FILE) rt::raise_error(rt::Err::script_invalid_arg, data);
                paths.push_back(ev::file_to_local_path(&f));
            }
            return host::clipboard_write_files(paths);
        }
        default: rt::raise_error(rt::Err::script_invalid_arg, data);
    }
}

u8 version_byte(int v) { return u8(std::clamp(v, 0, 255)); }

i64 os_info(Cell* args) {
    host::OsInfo info = host::os_info();
    Cell* obj = dt::make_object_at(rt::stack_push_slot(), 4);
    Node ctx = dt::object_context(obj);
    auto put = [&](const char* field, const Cell* value) {
        Cell w = dt::load_word(field);
        dt::context_put_word(ctx, &w, value);
    };
    put("name", ev::push_text_from_utf8(info.name));
    rt::stack_pop(1);
    Cell arch = dt::load_word(info.arch.c_str());
    put("arch", &arch);
    Cell version;
    u8 bytes[3] = {version_byte(info.major), version_byte(info.minor), version_byte(info.patch)};
    dt::make_tuple_at(&version, bytes, 3);
    put("version", &version);
    Cell build;
    set_cell(&build, T_INTEGER, 0, u32(i32(std::clamp<long>(info.build, 0, 2147483647))), 0);
    put("build", &build);
    args[0] = *obj;
    rt::stack_pop(1);
    return 0;
}

const RoutineDef read_clipboard_def{
    BASE_SOURCE, "read-clipboard",
    "\"Return the contents of the system clipboard\" return: [any-type!] \"false on failure, none if empty, "
    "otherwise: string!, block! of files!, or an image!\"",
    read_clipboard, RETURNS_NONE};
const RoutineDef write_clipboard_def{
    BASE_SOURCE, "write-clipboard",
    "\"Write content to the system clipboard\" data [any-type!] \"string!, block! of files!, an image! or none!\" "
    "return: [logic!] \"indicates success\"",
    write_clipboard, RETURNS_LOGIC};
const RoutineDef os_info_def{BASE_SOURCE, "os-info", "\"Returns detailed operating system version information\"",
                             os_info, RETURNS_NONE};

KEL_ROUTINE(read_clipboard_def);
KEL_ROUTINE(write_clipboard_def);
KEL_ROUTINE(os_info_def);

}  // namespace

}  // namespace kel::lib
