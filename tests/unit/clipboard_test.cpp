// The clipboard: file lists (which scripts cannot write as literals yet), the uri-list form,
// and the desktop path (text, files, images) through a stand-in xclip; and os-info's parsing
// helpers.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "eval_support.h"
#include "datatypes/context.h"
#include "evaluator/os_text.h"
#include "host/clipboard.h"
#include "host/imaging.h"
#include "host/os_info.h"
#include "runtime/gc.h"

namespace kel::test::eval {
namespace {

namespace fs = std::filesystem;

// Sets (or with null removes) an environment variable for one scope.
class EnvSetting {
public:
    EnvSetting(const char* name, const char* value) : name_(name) {
        const char* old = std::getenv(name);
        had_ = old != nullptr;
        if (had_) old_ = old;
        if (value) ::setenv(name, value, 1);
        else ::unsetenv(name);
    }
    ~EnvSetting() {
        if (had_) ::setenv(name_, old_.c_str(), 1);
        else ::unsetenv(name_);
    }

private:
    const char* name_;
    bool had_;
    std::string old_;
};

TEST(ClipboardUriListTest, PathsRoundTripThroughTheUriList) {
    std::vector<std::string> paths{"/tmp/plain.txt", "/tmp/a dir/é ✓%#?.txt", "/"};
    std::string list = host::paths_to_uri_list(paths);
    EXPECT_EQ(list.substr(0, list.find('\n') + 1), "file:///tmp/plain.txt\r\n");
    EXPECT_NE(list.find("file:///tmp/a%20dir/%C3%A9%20%E2%9C%93%25%23%3F.txt\r\n"), std::string::npos) << list;
    EXPECT_EQ(host::uri_list_to_paths(list), paths);
    // Comments, other schemes and other hosts are no local files.
    EXPECT_EQ(host::uri_list_to_paths("# comment\nhttp://x/y\nfile://otherhost/z\nfile://localhost/ok\nfile:///a%2"),
              (std::vector<std::string>{"/ok", "/a%2"}));
}

class ClipboardTest : public EvalTest {};

TEST_F(ClipboardTest, AFileListReadsBackAsFiles) {
    EnvSetting no_x("DISPLAY", nullptr), no_wayland("WAYLAND_DISPLAY", nullptr);
    ASSERT_STREQ(host::clipboard_backend(), "private");
    Cell* files = dt::push_new_block(2);
    for (const char* p : {"/tmp/one file.txt", "/tmp/dir/two%41"}) {  // a "%" is a character
        ev::push_file_from_local(p);
        dt::append_top_to_block(files);
        rt::stack_pop(1);
    }
    Cell w = dt::load_word("clip-files");
    dt::set_word_value(&w, files);
    rt::stack_pop(1);
    check_all({
        {"write-clipboard clip-files", "true"},
        {"block? got: read-clipboard", "true"},
        {"length? got", "2"},
        {"reduce [type? got/1 type? got/2]", "[file! file!]"},
        {"to string! got/1", "\"/tmp/one file.txt\""},
        {"to string! got/2", "\"/tmp/dir/two%41\""},
        {"write-clipboard []", "true"},
        {"read-clipboard", "[]"},
    });
}

// A stand-in for xclip that keeps each content type in a file of its own folder and lists
// them as the targets: the clipboard's desktop path, without a display.
TEST_F(ClipboardTest, WithADisplayTheDesktopToolCarriesTextFilesAndImages) {
    char name[] = "/tmp/kel-clip-XXXXXX";
    fs::path dir = ::mkdtemp(name);
    std::ofstream(dir / "xclip") << R"SH(#!/bin/sh
store="$(dirname "$0")/store"; mkdir -p "$store"
while [ $# -gt 0 ]; do case "$1" in -o) mode=o;; -i) mode=i;; -t) shift; type=$1;; esac; shift; done
file="$store/$(printf %s "$type" | tr / +)"
if [ "$mode" = i ]; then rm -f "$store"/*; cat > "$file"; exit 0; fi
if [ "$type" = TARGETS ]; then ls "$store" | grep . | tr + / || exit 1; echo TARGETS; exit 0; fi
[ -f "$file" ] && cat "$file"
)SH";
    ::chmod((dir / "xclip").c_str(), 0755);
    std::string path = dir.string() + ":" + (std::getenv("PATH") ? std::getenv("PATH") : "");
    {
        EnvSetting display("DISPLAY", ":99"), wayland("WAYLAND_DISPLAY", nullptr), search("PATH", path.c_str());
        ASSERT_STREQ(host::clipboard_backend(), "xclip");
        check_all({
            {"read-clipboard", "none"},
            {"write-clipboard \"desk ✓\"", "true"},
            {"read-clipboard", "\"desk ✓\""},
        });
        EXPECT_TRUE(host::clipboard_write_files({"/tmp/x y"}));
        std::ifstream uri(dir / "store" / "text+uri-list");
        std::string line;
        std::getline(uri, line);
        EXPECT_EQ(line, "file:///tmp/x%20y\r");
        EXPECT_EQ(run("to string! first read-clipboard"), "\"/tmp/x y\"");

        // An image goes as a PNG file (NUL bytes and all through the tool's pipe) and reads back.
        check_all({
            {"write-clipboard img: make image! [2x2 #{0102030405060708090A0B0C} #{00FF1020}]", "true"},
            {"got: read-clipboard  reduce [got/size got/rgb got/alpha]",
             "[2x2 #{0102030405060708090A0B0C} #{00FF1020}]"},
        });
        std::ifstream stored(dir / "store" / "image+png", std::ios::binary);
        std::string png((std::istreambuf_iterator<char>(stored)), std::istreambuf_iterator<char>());
        EXPECT_EQ(png.substr(0, 8), "\x89PNG\r\n\x1a\n");

        // What another program offers: text before images, PNG before JPEG, GIF and BMP, and
        // bytes that are no image give none.
        auto offer = [&](std::vector<std::pair<std::string, std::string>> types) {
            fs::remove_all(dir / "store");
            fs::create_directory(dir / "store");
            for (auto& [type, bytes] : types) std::ofstream(dir / "store" / type, std::ios::binary) << bytes;
        };
        auto file_of = [](int format, u32 colour) {
            std::vector<u32> px(6, colour);
            std::vector<u8> bytes;
            EXPECT_TRUE(host::encode_image(px.data(), 3, 2, format, bytes));
            return std::string(bytes.begin(), bytes.end());
        };
        offer({{"image+bmp", file_of(host::IMG_BMP, 0xFF0000FF)}, {"image+gif", file_of(host::IMG_GIF, 0xFF00FF00)}});
        EXPECT_EQ(run("first read-clipboard"), "0.255.0.0");
        offer({{"image+bmp", file_of(host::IMG_BMP, 0xFF0000FF)}});
        EXPECT_EQ(run("first read-clipboard"), "0.0.255.0");
        offer({{"image+png", file_of(host::IMG_PNG, 0xFFFF0000)}, {"image+jpeg", file_of(host::IMG_JPEG, 0xFF00FF00)}});
        EXPECT_EQ(run("first read-clipboard"), "255.0.0.0");
        offer({{"image+png", file_of(host::IMG_PNG, 0xFFFF0000)}, {"UTF8_STRING", "words"}});
        EXPECT_EQ(run("read-clipboard"), "\"words\"");
        offer({{"image+png", "not a picture"}});
        EXPECT_EQ(run("read-clipboard"), "none");
        // The pixels live outside the heap: let them go before the leak check looks.
        run("img: got: none");
        rt::gc_collect();
    }
    fs::remove_all(dir);
}

TEST(OsInfoTest, KernelReleasesAndMachineNames) {
    struct Release {
        const char* text;
        int major, minor, patch;
    };
    for (const Release& r : {Release{"6.1.0-18-amd64", 6, 1, 0}, Release{"4.19.304", 4, 19, 304},
                             Release{"5.15", 5, 15, 0}, Release{"weird", 0, 0, 0}, Release{"3.", 3, 0, 0}}) {
        int a, b, c;
        host::parse_release(r.text, &a, &b, &c);
        EXPECT_EQ(a, r.major) << r.text;
        EXPECT_EQ(b, r.minor) << r.text;
        EXPECT_EQ(c, r.patch) << r.text;
    }
    struct Machine {
        const char* name;
        const char* word;
    };
    for (const Machine& m : {Machine{"x86_64", "x86-64"}, Machine{"i686", "x86-32"}, Machine{"aarch64", "ARM64"},
                             Machine{"armv7l", "ARM"}, Machine{"ia64", "IA-64"}, Machine{"riscv64", "Unknown"}})
        EXPECT_EQ(host::arch_word(m.name), m.word) << m.name;
}

}  // namespace
}  // namespace kel::test::eval
