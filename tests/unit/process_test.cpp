// Child processes: the host layer's redirections and command splitting, and `call` and
// `browse` with file! targets (which scripts cannot write as literals yet), all inside a
// temporary folder.
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

#include "eval_support.h"
#include "datatypes/context.h"
#include "evaluator/os_text.h"
#include "host/process.h"

namespace kel::test::eval {
namespace {

namespace fs = std::filesystem;

struct TempFolder {
    fs::path path;
    TempFolder() {
        char name[] = "/tmp/kel-process-XXXXXX";
        path = ::mkdtemp(name);
    }
    ~TempFolder() { fs::remove_all(path); }
    std::string operator/(const std::string& name) const { return (path / name).string(); }
};

std::string slurp(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    std::stringstream ss;
    ss << f.rdbuf();
    return ss.str();
}

void write_file(const std::string& path, const std::string& text, bool executable = false) {
    std::ofstream(path, std::ios::binary) << text;
    if (executable) ::chmod(path.c_str(), 0755);
}

// ---- the host layer -------------------------------------------------------------------

TEST(CommandLineTest, SplitsAtBlanksOutsideQuotes) {
    struct Row {
        const char* text;
        std::vector<std::string> args;
    };
    const Row rows[] = {
        {"ls -l  /tmp", {"ls", "-l", "/tmp"}},
        {"  \techo\n ", {"echo"}},
        {R"(printf "%s" "a b" 'c d')", {"printf", "%s", "a b", "c d"}},
        {R"(a"b c"d)", {"ab cd"}},
        {R"(x "" '')", {"x", "", ""}},
        {R"(e\ f "q\"q" 'no\escape')", {"e f", "q\"q", "no\\escape"}},
        {"unclosed 'quote here", {"unclosed", "quote here"}},
        {"", {}},
    };
    for (const Row& r : rows) EXPECT_EQ(host::split_command_line(r.text), r.args) << r.text;
}

TEST(ProcessTest, ShellQuotingKeepsAnyTextOneWord) {
    for (std::string text : {"plain", "it's", "a b\tc", "$HOME `x` \"q\" \\ *", ""}) {
        host::ProcessRequest rq;
        rq.shell = true;
        rq.command = "printf %s " + host::shell_quote(text);
        rq.wait = true;
        rq.out = host::Stream::memory;
        host::ProcessResult r = host::run_process(rq);
        EXPECT_EQ(r.code, 0);
        EXPECT_EQ(r.out, text);
    }
}

TEST(ProcessTest, FilesAreReadAndAppendedTo) {
    TempFolder dir;
    write_file(dir / "in.txt", "from a file\n");
    write_file(dir / "out.txt", "old\n");
    host::ProcessRequest rq;
    rq.argv = {"sh", "-c", "cat; echo warn >&2"};
    rq.wait = true;
    rq.in = host::Stream::file;
    rq.in_path = dir / "in.txt";
    rq.out = host::Stream::file;
    rq.out_path = dir / "out.txt";
    rq.err = host::Stream::file;
    rq.err_path = dir / "new-err.txt";
    EXPECT_EQ(host::run_process(rq).code, 0);
    EXPECT_EQ(slurp(dir / "out.txt"), "old\nfrom a file\n");
    EXPECT_EQ(slurp(dir / "new-err.txt"), "warn\n");
}

TEST(ProcessTest, FilesThatCannotBeOpenedStartNothing) {
    TempFolder dir;
    host::ProcessRequest missing_input;
    missing_input.argv = {"sh", "-c", "touch " + host::shell_quote(dir / "ran")};
    missing_input.wait = true;
    missing_input.in = host::Stream::file;
    missing_input.in_path = dir / "absent";
    EXPECT_EQ(host::run_process(missing_input).code, -1);

    host::ProcessRequest folder_input = missing_input;
    folder_input.in_path = dir.path.string();
    EXPECT_EQ(host::run_process(folder_input).code, -1);

    host::ProcessRequest folder_output = missing_input;
    folder_output.in = host::Stream::null_device;
    folder_output.out = host::Stream::file;
    folder_output.out_path = dir.path.string();  // a folder
    EXPECT_EQ(host::run_process(folder_output).code, -1);
    EXPECT_FALSE(fs::exists(dir / "ran"));
}

TEST(ProcessTest, ProgramsThatCannotStart) {
    TempFolder dir;
    write_file(dir / "not-executable", "#!/bin/sh\nexit 0\n");
    host::ProcessRequest rq;
    rq.argv = {dir / "not-executable"};
    rq.wait = true;
    EXPECT_EQ(host::run_process(rq).code, -1);  // found but refused: no second try

    rq.argv = {dir / "absent"};
    EXPECT_EQ(host::run_process(rq).code, -1);  // no shell form to fall back on
    rq.shell_fallback = "exit 5";
    host::ProcessResult r = host::run_process(rq);
    EXPECT_EQ(r.code, 5);
    EXPECT_TRUE(r.shell_used);
}

TEST(ProcessTest, ChildrenNotWaitedForAreCollected) {
    host::ProcessRequest rq;
    rq.argv = {"true"};
    host::ProcessResult r = host::run_process(rq);
    ASSERT_GT(r.code, 0);
    pid_t pid = pid_t(r.code);
    // Once it has ended, the next look collects it: it is then no child of ours any more.
    for (int i = 0; i < 500; ++i) {
        host::reap_finished_children();
        if (::waitpid(pid, nullptr, WNOHANG) < 0 && errno == ECHILD) return;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    FAIL() << "the child was never collected";
}

// ---- call and browse with file! values --------------------------------------------------

class ProcessFileTest : public EvalTest {
protected:
    TempFolder dir;
    // Sets a global word to a file! holding `text`.
    static void set_file(const char* word, const std::string& text) {
        Cell* f = ev::push_file_from_local(text);
        Cell w = dt::load_word(word);
        dt::set_word_value(&w, f);
        rt::stack_pop(1);
    }
};

TEST_F(ProcessFileTest, RedirectionsToAndFromFiles) {
    write_file(dir / "in put.txt", "line 1\nline 2\n");
    set_file("in-file", dir / "in put.txt");
    set_file("out-file", dir / "out.txt");
    set_file("err-file", dir / "err.txt");
    check_all({
        {"call/input/output \"cat\" in-file out-file", "0"},
        {"call/wait/output \"echo again\" out-file", "0"},
        {"call/error \"sh -c 'echo e >&2'\" err-file", "0"},
        {"call/input/output/error \"wc -l\" in-file out-file err-file", "0"},
    });
    EXPECT_EQ(slurp(dir / "out.txt"), "line 1\nline 2\nagain\n2\n");
    EXPECT_EQ(slurp(dir / "err.txt"), "e\n");

    set_file("missing", dir / "missing.txt");
    set_file("nul-name", dir / std::string("a\0b", 3));
    EXPECT_EQ(run("call/input \"cat\" missing"), "-1");
    // NUL would cut the path short where the OS reads it.
    std::string report = run("call/output \"echo x\" nul-name");
    EXPECT_EQ(report.rfind("*** Access Error: cannot open:", 0), 0u) << report;
}

TEST_F(ProcessFileTest, AFileCommandIsOneProgramPath) {
    write_file(dir / "my prog", "#!/bin/sh\necho \"ran with $# arguments\"\n", true);
    set_file("prog", dir / "my prog");
    set_file("absent", dir / "no such prog");
    check_all({
        {"call/output prog o: copy {}", "0"},
        {"o", "\"ran with 0 arguments^/\""},
        {"call/wait absent", "127"},
    });
}

TEST_F(ProcessFileTest, BrowseStartsTheOpenerWithOneArgument) {
    write_file(dir / "xdg-open", "#!/bin/sh\nprintf '%s|' \"$#\" \"$@\" > \"$0.log\"\n", true);
    std::string old_path = std::getenv("PATH") ? std::getenv("PATH") : "";
    ::setenv("PATH", (dir.path.string() + ":" + old_path).c_str(), 1);
    auto wait_for_log = [&] {
        for (int i = 0; i < 500 && !fs::exists(dir / "xdg-open.log"); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        std::string log = slurp(dir / "xdg-open.log");
        fs::remove(dir / "xdg-open.log");
        return log;
    };
    set_file("doc", dir / "a doc; rm -rf x.txt");
    EXPECT_EQ(run("browse doc"), "unset");
    EXPECT_EQ(wait_for_log(), "1|" + dir / "a doc; rm -rf x.txt" + "|");
    // A url! goes as its text.
    Cell* u = dt::push_string(0);
    dt::append_c_string(u, "http://example.invalid/a?b=1&c='d'");
    set_cell_type(u, T_URL);
    Cell w = dt::load_word("site");
    dt::set_word_value(&w, u);
    rt::stack_pop(1);
    EXPECT_EQ(run("browse site"), "unset");
    EXPECT_EQ(wait_for_log(), "1|http://example.invalid/a?b=1&c='d'|");

    ::setenv("PATH", dir.path.c_str(), 1);
    fs::remove(dir / "xdg-open");
    std::string report = run("browse site");
    ::setenv("PATH", old_path.c_str(), 1);
    EXPECT_EQ(report.rfind("*** Access Error: cannot open:", 0), 0u) << report;
}

}  // namespace
}  // namespace kel::test::eval
