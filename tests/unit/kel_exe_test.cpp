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

}  // namespace
