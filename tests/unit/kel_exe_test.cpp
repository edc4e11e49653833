// The real executable: start-up, the end of input and the exit codes seen from outside.
// (Sessions and scripts are the transcripts' business; this covers what they cannot see.)
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

extern char** environ;

namespace {

struct KelRun {
    int status = -1;
    std::string out;
};

KelRun run_kel(std::initializer_list<const char*> args) {
    KelRun r;
    int out[2];
    if (pipe(out) != 0) return r;
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_addopen(&fa, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&fa, out[1], 1);
    posix_spawn_file_actions_addclose(&fa, out[0]);
    std::vector<char*> argv{const_cast<char*>(KEL_EXECUTABLE)};
    for (const char* a : args) argv.push_back(const_cast<char*>(a));
    argv.push_back(nullptr);
    pid_t pid;
    int rc = posix_spawn(&pid, KEL_EXECUTABLE, &fa, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&fa);
    close(out[1]);
    if (rc == 0) {
        char buf[4096];
        ssize_t n;
        while ((n = read(out[0], buf, sizeof buf)) > 0) r.out.append(buf, size_t(n));
        waitpid(pid, &r.status, 0);
    }
    close(out[0]);
    return r;
}

TEST(KelExecutableTest, EmptyInputShowsTheBannerAndEndsCleanly) {
    KelRun r = run_kel({});
    ASSERT_TRUE(WIFEXITED(r.status)) << r.status;
    EXPECT_EQ(WEXITSTATUS(r.status), 0);
    EXPECT_EQ(r.out.rfind("--== Kel ", 0), 0u) << r.out;
    EXPECT_NE(r.out.find("Type HELP for starting information."), std::string::npos) << r.out;
}

TEST(KelExecutableTest, ArgumentsThatAreNotUtf8StillStart) {
    // A script name with an ill-formed byte: it cannot be read, which fails the run, but
    // nothing crashes on the way.
    KelRun r = run_kel({"caf\xE9-missing.kel"});
    ASSERT_TRUE(WIFEXITED(r.status)) << r.status;
    EXPECT_EQ(WEXITSTATUS(r.status), 1);
    EXPECT_NE(r.out.find("cannot open"), std::string::npos) << r.out;
}

// kel on a pseudo-terminal: the input lines are all written first (the terminal keeps them
// until they are read); the output is everything kel writes until it ends.
KelRun run_kel_on_terminal(const std::string& input) {
    KelRun r;
    int master = posix_openpt(O_RDWR | O_NOCTTY);
    if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) return r;
    const char* slave = ptsname(master);
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    for (int fd = 0; fd < 3; ++fd) posix_spawn_file_actions_addopen(&fa, fd, slave, O_RDWR, 0);
    posix_spawn_file_actions_addclose(&fa, master);
    char* argv[] = {const_cast<char*>(KEL_EXECUTABLE), nullptr};
    pid_t pid;
    int rc = posix_spawn(&pid, KEL_EXECUTABLE, &fa, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&fa);
    if (rc == 0) {
        if (write(master, input.data(), input.size()) != ssize_t(input.size())) r.out = "write failed";
        char buf[4096];
        ssize_t n;
        // The read fails (EIO) once kel has ended and closed the terminal.
        while ((n = read(master, buf, sizeof buf)) > 0) r.out.append(buf, size_t(n));
        waitpid(pid, &r.status, 0);
    }
    close(master);
    return r;
}

TEST(KelExecutableTest, AtATerminalThePromptShowsAndTypedLinesGoToTheHistory) {
    KelRun r = run_kel_on_terminal("x: ask \"?? \"\nabc\nabc\nappend x \"!\"\nsystem/console/history\nq\n");
    ASSERT_TRUE(WIFEXITED(r.status)) << r.status;
    EXPECT_EQ(WEXITSTATUS(r.status), 0);
    EXPECT_NE(r.out.find(">> "), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("?? "), std::string::npos) << r.out;
    // The newest first; "abc" once although typed twice in a row; the history's copy is
    // untouched by the append.
    EXPECT_NE(r.out.find("== [\"system/console/history\" {append x \"!\"} \"abc\" {x: ask \"?? \"}]"),
              std::string::npos)
        << r.out;
}

}  // namespace
