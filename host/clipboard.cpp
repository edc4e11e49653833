// The clipboard through the desktop's command-line tools, or private to the process.
#include "host/clipboard.h"

#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <sstream>

#include "host/process.h"
#include "runtime/percent_codec.h"

namespace kel::host {

namespace {

enum class Backend { wayland, xclip, xsel, private_ };

ClipboardContent g_private;

bool env_set(const char* name) {
    const char* v = std::getenv(name);
    return v && *v;
}

bool on_path(const char* tool) {
    const char* path = std::getenv("PATH");
    if (!path) return false;
    std::stringstream dirs(path);
    std::string dir;
    while (std::getline(dirs, dir, ':')) {
        std::string full = (dir.empty() ? "." : dir) + "/" + tool;
        if (::access(full.c_str(), X_OK) == 0) return true;
    }
    return false;
}

Backend backend() {
    if (env_set("WAYLAND_DISPLAY") && on_path("wl-copy") && on_path("wl-paste")) return Backend::wayland;
    if (env_set("DISPLAY")) {
        if (on_path("xclip")) return Backend::xclip;
        if (on_path("xsel")) return Backend::xsel;
    }
    return Backend::private_;
}

struct ToolRun {
    bool ok;
    std::string out;
};

// Reads what a tool prints; a tool that fails (no clipboard owner, nothing of that type)
// answers not ok.
ToolRun read_tool(std::vector<std::string> argv) {
    ProcessRequest rq;
    rq.argv = std::move(argv);
    rq.wait = true;
    rq.out = Stream::memory;
    ProcessResult r = run_process(rq);
    return {r.code == 0, std::move(r.out)};
}

// Hands data to a tool. The tools leave a process behind that serves the clipboard; it
// must not hold a pipe of ours, so everything but its input goes to the null device.
bool write_tool(std::vector<std::string> argv, const std::string& data) {
    ProcessRequest rq;
    rq.argv = std::move(argv);
    rq.wait = true;
    rq.in = Stream::memory;
    rq.input = data;
    return run_process(rq).code == 0;
}

std::vector<std::string> lines_of(const std::string& text) {
    std::vector<std::string> out;
    std::stringstream ss(text);
    std::string line;
    while (std::getline(ss, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        out.push_back(line);
    }
    return out;
}

bool is_text_type(const std::string& t) {
    return t == "UTF8_STRING" || t == "text/plain;charset=utf-8" || t == "text/plain" || t == "STRING" || t == "TEXT";
}

// The image types read, best first: lossless before lossy, the bitmap last.
constexpr const char* IMAGE_TYPES[] = {"image/png", "image/jpeg", "image/gif", "image/bmp"};

// What a typed clipboard holds, given its list of types and a reader of one type.
template <class ReadType>
ClipboardContent read_typed(const ToolRun& types, ReadType read_type) {
    ClipboardContent c;
    if (!types.ok) return c;  // no owner: empty
    std::vector<std::string> list = lines_of(types.out);
    for (const std::string& t : list) {
        if (!is_text_type(t)) continue;
        ToolRun r = read_type(t);
        if (!r.ok) return {ClipboardContent::failed, {}, {}};
        c.kind = ClipboardContent::has_text;
        c.text = std::move(r.out);
        return c;
    }
    for (const std::string& t : list) {
        if (t != "text/uri-list") continue;
        ToolRun r = read_type(t);
        if (!r.ok) return {ClipboardContent::failed, {}, {}};
        c.kind = ClipboardContent::has_files;
        c.files = uri_list_to_paths(r.out);
        return c;
    }
    for (const char* image_type : IMAGE_TYPES) {
        if (std::find(list.begin(), list.end(), image_type) == list.end()) continue;
        ToolRun r = read_type(image_type);
        if (!r.ok) return {ClipboardContent::failed, {}, {}};
        c.kind = ClipboardContent::has_image;
        c.text = std::move(r.out);
        return c;
    }
    return c;
}

}  // namespace

const char* clipboard_backend() {
    switch (backend()) {
        case Backend::wayland: return "wayland";
        case Backend::xclip: return "xclip";
        case Backend::xsel: return "xsel";
        default: return "private";
    }
}

std::string paths_to_uri_list(const std::vector<std::string>& paths) {
    std::string out;
    for (const std::string& p : paths) {
        out += "file://";
        for (unsigned char c : p) {
            if (c == '/') out += '/';
            else rt::percent_encode_byte(rt::PercentSet::unreserved, c, out);
        }
        out += "\r\n";
    }
    return out;
}

std::vector<std::string> uri_list_to_paths(const std::string& list) {
    std::vector<std::string> out;
    for (std::string line : lines_of(list)) {
        if (line.empty() || line[0] == '#') continue;
        if (line.rfind("file://", 0) != 0) continue;
        std::string rest = line.substr(7);
        if (rest.rfind("localhost/", 0) == 0) rest.erase(0, 9);
        if (rest.empty() || rest[0] != '/') continue;  // a file on another host
        std::string path;
        const u8* p = reinterpret_cast<const u8*>(rest.data());
        const u8* end = p + rest.size();
        while (p < end) {
            u8 b;
            if (rt::percent_decode_byte(p, end, &b)) {
                path += char(b);
                p += 3;
            } else {
                path += char(*p++);
            }
        }
        out.push_back(std::move(path));
    }
    return out;
}

ClipboardContent clipboard_read() {
    switch (backend()) {
        case Backend::wayland:
            return read_typed(read_tool({"wl-paste", "--list-types"}),
                              [](const std::string& t) { return read_tool({"wl-paste", "--no-newline", "--type", t}); });
        case Backend::xclip:
            return read_typed(read_tool({"xclip", "-selection", "clipboard", "-o", "-t", "TARGETS"}),
                              [](const std::string& t) {
                                  return read_tool({"xclip", "-selection", "clipboard", "-o", "-t", t});
                              });
        case Backend::xsel: {
            ToolRun r = read_tool({"xsel", "--clipboard", "--output"});
            ClipboardContent c;
            if (r.ok && !r.out.empty()) {
                c.kind = ClipboardContent::has_text;
                c.text = std::move(r.out);
            }
            return c;
        }
        default: return g_private;
    }
}

bool clipboard_write_text(const std::string& text) {
    switch (backend()) {
        case Backend::wayland: return write_tool({"wl-copy", "--type", "text/plain;charset=utf-8"}, text);
        case Backend::xclip: return write_tool({"xclip", "-selection", "clipboard", "-i", "-t", "UTF8_STRING"}, text);
        case Backend::xsel: return write_tool({"xsel", "--clipboard", "--input"}, text);
        default:
            g_private = {ClipboardContent::has_text, text, {}};
            return true;
    }
}

bool clipboard_write_files(const std::vector<std::string>& paths) {
    std::string list = paths_to_uri_list(paths);
    switch (backend()) {
        case Backend::wayland: return write_tool({"wl-copy", "--type", "text/uri-list"}, list);
        case Backend::xclip: return write_tool({"xclip", "-selection", "clipboard", "-i", "-t", "text/uri-list"}, list);
        case Backend::xsel: return write_tool({"xsel", "--clipboard", "--input"}, list);
        default:
            g_private = {ClipboardContent::has_files, {}, paths};
            return true;
    }
}

bool clipboard_write_png(const std::string& png) {
    switch (backend()) {
        case Backend::wayland: return write_tool({"wl-copy", "--type", "image/png"}, png);
        case Backend::xclip: return write_tool({"xclip", "-selection", "clipboard", "-i", "-t", "image/png"}, png);
        case Backend::xsel: return false;  // text only
        default:
            g_private = {ClipboardContent::has_image, png, {}};
            return true;
    }
}

bool clipboard_clear() {
    switch (backend()) {
        case Backend::wayland: return write_tool({"wl-copy", "--clear"}, "");
        case Backend::xclip: return write_tool({"xclip", "-selection", "clipboard", "-i", "-t", "UTF8_STRING"}, "");
        case Backend::xsel: return write_tool({"xsel", "--clipboard", "--clear"}, "");
        default:
            g_private = {};
            return true;
    }
}

}  // namespace kel::host
