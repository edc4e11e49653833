// The clipboard: text, lists of files and images.
//
// With a Wayland display (WAYLAND_DISPLAY) and wl-copy/wl-paste, or an X display (DISPLAY)
// and xclip or xsel, the desktop's clipboard is used through those tools. Anywhere else (a
// terminal without a display, CI) a clipboard private to the process stands in, so that
// what is written can be read back. The choice is made at each use.
//
// Files travel as a text/uri-list of file:// URIs. xsel has no content types: with it a
// file list is written and read as that list's text, and images cannot travel.
//
// Images travel as encoded files: written as image/png, read from the first of image/png,
// image/jpeg, image/gif and image/bmp on offer. The private clipboard keeps the PNG bytes.
#pragma once
#include <string>
#include <vector>

namespace kel::host {

struct ClipboardContent {
    enum Kind { failed, nothing, has_text, has_files, has_image } kind = nothing;
    std::string text;                // UTF-8, or an image's file bytes
    std::vector<std::string> files;  // OS paths
};

ClipboardContent clipboard_read();
bool clipboard_write_text(const std::string& text);
bool clipboard_write_files(const std::vector<std::string>& paths);
// `png` holds a PNG file.
bool clipboard_write_png(const std::string& png);
// Leaves nothing on the clipboard (with xclip: empty text, X having no way to drop it).
bool clipboard_clear();

// Which clipboard is in use now: "wayland", "xclip", "xsel" or "private".
const char* clipboard_backend();

// The text/uri-list form of paths and back (non-file URIs and comments are skipped).
std::string paths_to_uri_list(const std::vector<std::string>& paths);
std::vector<std::string> uri_list_to_paths(const std::string& list);

}  // namespace kel::host
