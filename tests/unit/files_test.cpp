// Files: the escape and path helpers that the language reaches only in part, and the host
// helpers other modules call with file! values.
#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>

#include "datatypes/file.h"
#include "datatypes/string.h"
#include "host/files.h"
#include "host/fs.h"
#include "number_helpers.h"
#include "support.h"
#include "text_support.h"

namespace kel::test {
namespace {

class FilesTest : public RuntimeTest {
protected:
    std::string dir;
    void SetUp() override {
        RuntimeTest::SetUp();
        char tmpl[] = "/tmp/kel-files-test-XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir = tmpl;
    }
    void TearDown() override {
        std::string cmd = "rm -rf '" + dir + "'";
        ASSERT_EQ(std::system(cmd.c_str()), 0);
    }
    Cell* file(const std::u32string& name) {
        Cell c = text_cell(name, T_FILE);
        return rt::stack_push(&c);
    }
    std::u32string dir32() const { return std::u32string(dir.begin(), dir.end()); }
};

std::u32string decoded(const std::u32string& text) {
    Cell src_cell = text_cell(text);
    Cell* src = rt::stack_push(&src_cell);
    Cell* out = dt::push_string(8);
    dt::decode_percent_escapes(src, out);
    return node_text(series_node(out));
}

TEST_F(FilesTest, PercentEscapesDecodeWholeCharactersOnly) {
    struct Case {
        std::u32string in, out;
    } cases[] = {
        {U"%C3%A9", U"\u00E9"},   // one character from two escapes
        {U"%41", U"A"},
        {U"%C3", U"%C3"},         // a lead byte without its continuation keeps its "%"
        {U"%C3%41", U"%C3A"},     // the continuation is not one: only the second decodes
        {U"%zz%4", U"%zz%4"},     // no escape at all
        {U"a%20b%E2%82%AC", U"a b\u20AC"},
        {U"\u00E9%25", U"\u00E9%"},
    };
    for (const Case& c : cases) EXPECT_EQ(decoded(c.in), c.out) << std::string(c.in.begin(), c.in.end());
}

TEST_F(FilesTest, PercentEncodingModes) {
    Cell src = text_cell(U"a b/\u00E9~");
    Cell* s = rt::stack_push(&src);
    Cell* safe = dt::push_string(8);
    dt::percent_encode_into(s, 255, safe);
    EXPECT_EQ(node_text(series_node(safe)), U"a%20b/%C3%A9~");
    Cell* unreserved = dt::push_string(8);
    dt::percent_encode_into(s, 254, unreserved);
    EXPECT_EQ(node_text(series_node(unreserved)), U"a%20b%2F%C3%A9~");
}

// Bytes that are not UTF-8 become U+DC80-U+DCFF and go back to the OS as the same bytes;
// a NUL never does.
TEST_F(FilesTest, OsPathsKeepRawBytesAndRefuseNul) {
    const char raw[] = "a\xFF\xC3\xA9\xED\xA0\x80z";
    std::vector<u32> cps;
    dt::file_name_code_points(raw, sizeof raw - 1, cps);
    EXPECT_EQ(cps, (std::vector<u32>{'a', 0xDCFF, 0xE9, 0xDCED, 0xDCA0, 0xDC80, 'z'}));
    Cell* f = file(std::u32string(cps.begin(), cps.end()));
    std::string path;
    ASSERT_TRUE(dt::file_os_path(f, path));
    EXPECT_EQ(path, std::string(raw));
    EXPECT_FALSE(dt::file_os_path(file(std::u32string(U"a\0b", 3)), path));
}

TEST_F(FilesTest, DirectoryPathsByName) {
    for (auto [name, is_dir] : std::initializer_list<std::pair<std::u32string, bool>>{
             {U"a/", true}, {U"a\\", true}, {U".", true}, {U"..", true}, {U"a/.", true}, {U"a/..", true},
             {U"a", false}, {U"", false}, {U"a.", false}, {U"a..", false}, {U"/a/b.txt", false}, {U"...", false}})
        EXPECT_EQ(host::dir_path_q(file(name)), is_dir) << std::string(name.begin(), name.end());
}

TEST_F(FilesTest, ReadFileBytesForOtherModules) {
    std::string path = dir + "/data.bin";
    std::ofstream(path, std::ios::binary) << std::string("\x00\x01\xFFxyz", 6);
    std::vector<u8> bytes;
    ASSERT_TRUE(host::read_file_bytes(file(dir32() + U"/data.bin"), bytes));
    EXPECT_EQ(bytes, (std::vector<u8>{0, 1, 0xFF, 'x', 'y', 'z'}));
    EXPECT_EQ(host::file_size(file(dir32() + U"/data.bin")), std::optional<u64>(6));
    // A folder, a missing file, a name with NUL: false, nothing raised.
    EXPECT_FALSE(host::read_file_bytes(file(dir32()), bytes));
    EXPECT_FALSE(host::read_file_bytes(file(dir32() + U"/none"), bytes));
    EXPECT_FALSE(host::read_file_bytes(file(dir32() + std::u32string(U"/data.bin\0", 10)), bytes));
    EXPECT_FALSE(host::file_size(file(dir32())));
    EXPECT_FALSE(host::file_size(file(dir32() + U"/data.bin/")));
    // A pipe has no size of its own: it is read in one pass to its end.
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    ASSERT_EQ(write(fds[1], "piped", 5), 5);
    close(fds[1]);
    std::string pipe_path = "/proc/self/fd/" + std::to_string(fds[0]);
    ASSERT_TRUE(host::read_file_bytes(file(std::u32string(pipe_path.begin(), pipe_path.end())), bytes));
    close(fds[0]);
    EXPECT_EQ(std::string(bytes.begin(), bytes.end()), "piped");
}

// A file cut short while it is read gives what was there, never bytes beyond it.
TEST_F(FilesTest, ReadOfAFileCutWhileReading) {
    std::string path = dir + "/cut.txt";
    std::ofstream(path) << std::string(1000, 'a');
    int fd = host::fs::open_read(path);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(host::fs::known_size(fd), 1000);
    ASSERT_EQ(truncate(path.c_str(), 10), 0);
    ASSERT_EQ(unlink(path.c_str()), 0);
    std::vector<u8> buf(1000, 0);
    EXPECT_EQ(host::fs::read_at(fd, buf.data(), 1000, 0), 10);
    host::fs::close_fd(fd);
}

// Text is taken as it is while it is ASCII and decoded from the first wider byte: wherever
// that byte lies (inside or at the edge of a 64-byte step, or past the first 1 MiB piece),
// the string read is the text, and writing it back gives the same bytes.
TEST_F(FilesTest, TextReadAndWrittenWhereverTheFirstWideCharacterLies) {
    constexpr size_t MIB = size_t(1) << 20;
    struct Case {
        size_t size;
        size_t wide_at;  // where "é" (two bytes) starts; npos: all ASCII
    } cases[] = {
        {0, std::string::npos},       {1, std::string::npos},  {63, std::string::npos},
        {200, std::string::npos},     {2, 0},                  {64, 62},
        {130, 63},                    {130, 64},               {130, 128},
        {MIB + 100, MIB + 10},        {MIB + 100, MIB - 1},    {MIB + 100, 5},
    };
    for (const Case& c : cases) {
        std::string bytes(c.size, 'a');
        for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = char('a' + i % 26);
        std::u32string text(bytes.begin(), bytes.end());
        if (c.wide_at != std::string::npos) {
            bytes.replace(c.wide_at, 2, "\xC3\xA9");
            text.replace(c.wide_at, 2, U"\u00E9");
        }
        std::string what = std::to_string(c.size) + " bytes, wide at " + std::to_string(c.wide_at);
        std::ofstream(dir + "/in.txt", std::ios::binary) << bytes;
        Cell* read = dt::g_resource_io.file_read(file(dir32() + U"/in.txt"), nullptr, nullptr, false, false, false,
                                                 nullptr);
        ASSERT_EQ(type_of(read), u32(T_STRING)) << what;
        EXPECT_TRUE(node_text(series_node(read)) == text) << what;
        Cell value = *read;
        dt::g_resource_io.file_write(file(dir32() + U"/out.txt"), &value, false, false, false, false, nullptr,
                                     nullptr, nullptr, nullptr);
        std::ifstream in(dir + "/out.txt", std::ios::binary);
        std::string back((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        EXPECT_TRUE(back == bytes) << what;
        rt::g_args.top = rt::g_args.base;
    }
}

TEST_F(FilesTest, RenameNeverReplaces) {
    std::string a = dir + "/a", b = dir + "/b";
    std::ofstream(a) << "A";
    std::ofstream(b) << "B";
    EXPECT_FALSE(host::fs::rename_no_replace(a, b));
    std::ifstream in(b);
    std::string kept;
    in >> kept;
    EXPECT_EQ(kept, "B");
    EXPECT_TRUE(host::fs::rename_no_replace(a, dir + "/c"));
}

}  // namespace
}  // namespace kel::test
