// How the real executable ends when its output fails, when it is stopped by a signal and
// with exit codes the OS cannot hold: seen from a shell, as a user's pipeline sees it.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

extern char** environ;

namespace {

// A folder of small scripts for one test run.
class ProcessEndTest : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/kel-process-end-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir_ = pattern;
    }
    void TearDown() override { std::system(("rm -rf '" + dir_ + "'").c_str()); }

    std::string script(const std::string& name, const std::string& body) {
        std::string path = dir_ + "/" + name;
        std::ofstream(path) << "Kel []\n" << body << "\n";
        return path;
    }

    // Runs `command` under /bin/sh with $KEL naming the executable; answers what it prints
    // (standard output and error together).
    static std::string shell(const std::string& command) {
        setenv("KEL", KEL_EXECUTABLE, 1);
        std::string text;
        FILE* p = popen(("exec 2>&1; " + command).c_str(), "r");
        if (!p) return "popen failed";
        char buf[4096];
        size_t n;
        while ((n = fread(buf, 1, sizeof buf, p)) > 0) text.append(buf, n);
        pclose(p);
        return text;
    }

    std::string dir_;
};

TEST_F(ProcessEndTest, AReaderThatGoesAwayEndsTheWriterQuietly) {
    std::string loop = script("loop.kel", "forever [print \"line\"]");
    // `head` leaves after two lines; kel must then end (by SIGPIPE, status 141) instead of
    // printing into the closed pipe for ever.
    std::string out = shell("( timeout 100 \"$KEL\" '" + loop + "' </dev/null; echo \"status=$?\" >&2 ) | head -2");
    EXPECT_EQ(out, "line\nline\nstatus=141\n");
}

TEST_F(ProcessEndTest, OutputThatCannotBeWrittenFailsTheRun) {
    std::string hi = script("hi.kel", "print \"hi\"");
    std::string out = shell("\"$KEL\" '" + hi + "' </dev/null >/dev/full; echo \"status=$?\"");
    EXPECT_EQ(out, "*** Output error: No space left on device\nstatus=1\n");
    // Also when the script asked for a status of its own.
    std::string quit = script("quit.kel", "print \"hi\" quit/return 3");
    out = shell("\"$KEL\" '" + quit + "' </dev/null >/dev/full; echo \"status=$?\"");
    EXPECT_EQ(out, "*** Output error: No space left on device\nstatus=1\n");
}

TEST_F(ProcessEndTest, StatusesOutsideTheByteExitWith255) {
    // All at once (each run starts a whole kel); the answers come back sorted by status.
    std::string out = shell(
        "for s in 0 3 255 256 512 -1 -256 -2147483648 2147483647; do"
        " (echo \"quit/return $s\" | \"$KEL\" >/dev/null; echo \"$s=$?\") & done; wait");
    std::vector<std::string> lines;
    for (size_t at = 0, nl; (nl = out.find('\n', at)) != std::string::npos; at = nl + 1)
        lines.push_back(out.substr(at, nl - at));
    std::sort(lines.begin(), lines.end());
    const std::vector<std::string> want = {"-1=255",  "-2147483648=255", "-256=255", "0=0",   "2147483647=255",
                                           "255=255", "256=255",         "3=3",      "512=255"};
    EXPECT_EQ(lines, want) << out;
}

// kel with its output on a pipe; answers its pid once it printed `ready`.
pid_t start_until_ready(const std::string& path, int* out_fd, const char* terminal = nullptr) {
    int fds[2];
    if (pipe(fds) != 0) return -1;
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    if (terminal) {
        posix_spawn_file_actions_addopen(&fa, 0, terminal, O_RDWR, 0);
    } else {
        posix_spawn_file_actions_addopen(&fa, 0, "/dev/null", O_RDONLY, 0);
    }
    posix_spawn_file_actions_adddup2(&fa, fds[1], 1);
    posix_spawn_file_actions_addclose(&fa, fds[0]);
    char* argv[] = {const_cast<char*>(KEL_EXECUTABLE), const_cast<char*>(path.c_str()), nullptr};
    pid_t pid;
    int rc = posix_spawn(&pid, KEL_EXECUTABLE, &fa, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&fa);
    close(fds[1]);
    if (rc != 0) return -1;
    std::string seen;
    char buf[256];
    ssize_t n;
    while (seen.find("ready") == std::string::npos && (n = read(fds[0], buf, sizeof buf)) > 0)
        seen.append(buf, size_t(n));
    *out_fd = fds[0];
    return pid;
}

TEST_F(ProcessEndTest, AnInterruptEndsWith130) {
    std::string spin = script("spin.kel", "print \"ready\" forever []");
    int out;
    pid_t pid = start_until_ready(spin, &out);
    ASSERT_GT(pid, 0);
    kill(pid, SIGINT);
    int status = 0;
    waitpid(pid, &status, 0);
    close(out);
    ASSERT_TRUE(WIFEXITED(status)) << status;
    EXPECT_EQ(WEXITSTATUS(status), 130);
}

// A hidden prompt turns echo off; whatever stops the process must turn it on again.
TEST_F(ProcessEndTest, ASignalAtAHiddenPromptRestoresEcho) {
    std::string secret = script("secret.kel", "print \"ready\" ask/hide \"secret: \" print \"not reached\"");
    struct Case {
        int signo;
        bool exits;  // by exit code (130), else by the signal itself
    };
    for (Case c : {Case{SIGINT, true}, Case{SIGTERM, false}, Case{SIGHUP, false}}) {
        int master = posix_openpt(O_RDWR | O_NOCTTY);
        ASSERT_GE(master, 0);
        ASSERT_EQ(grantpt(master), 0);
        ASSERT_EQ(unlockpt(master), 0);
        std::string slave_name = ptsname(master);
        // Held open here too, so the terminal and its modes outlive kel.
        int slave = open(slave_name.c_str(), O_RDWR | O_NOCTTY);
        ASSERT_GE(slave, 0);
        int out;
        pid_t pid = start_until_ready(secret, &out, slave_name.c_str());
        ASSERT_GT(pid, 0);
        // Echo goes off just before the read starts: wait for it.
        termios modes{};
        for (int i = 0; i < 500; ++i) {
            ASSERT_EQ(tcgetattr(slave, &modes), 0);
            if (!(modes.c_lflag & ECHO)) break;
            usleep(10000);
        }
        EXPECT_FALSE(modes.c_lflag & ECHO) << "echo never went off, signal " << c.signo;
        kill(pid, c.signo);
        int status = 0;
        waitpid(pid, &status, 0);
        if (c.exits) {
            EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 130) << status;
        } else {
            EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == c.signo) << status;
        }
        ASSERT_EQ(tcgetattr(slave, &modes), 0);
        EXPECT_TRUE(modes.c_lflag & ECHO) << "echo left off by signal " << c.signo;
        close(out);
        close(slave);
        close(master);
    }
}

}  // namespace

namespace {

// An endless script is read into the runtime's own memory and stops at its limit, with
// its out-of-memory error (the console then opens, as for any script that cannot be read).
// Reading the 2 GiB a string can hold takes minutes under the sanitizers: only the plain
// builds run it.
TEST_F(ProcessEndTest, AnEndlessScriptStopsAtTheMemoryLimit) {
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "too slow under AddressSanitizer";
#endif
    std::string out = shell("timeout 110 \"$KEL\" /dev/zero </dev/null | head -3; echo \"status=$?\"");
    EXPECT_EQ(out, "*** Internal Error: not enough memory\n*** Where: _read-script\n*** Near : [_read-script file]\nstatus=0\n");
}

}  // namespace

namespace {

// With a low address-space limit the evaluator's thread gets a smaller stack, and the stack
// check rests on that stack: a paren that holds itself is an error, not a crash.
TEST_F(ProcessEndTest, ALimitedAddressSpaceStillChecksTheStack) {
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "AddressSanitizer needs more address space than the limit leaves";
#endif
    std::string out = shell(
        "(ulimit -v 4400000; ulimit -s unlimited 2>/dev/null;"
        " echo 'p: to paren! [] append/only p p e: try [do p] print e/id' | \"$KEL\" | tail -1;"
        " echo 'f: func [n] [1 + f n] e: try [f 1] print e/id' | \"$KEL\" | tail -1)");
    EXPECT_EQ(out, "stack-overflow\nstack-overflow\n");
}

}  // namespace
