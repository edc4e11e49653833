// The real executable starts, boots the runtime and ends with exit code 0.
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

TEST(KelExecutableTest, StartsAndExitsCleanly) {
    for (auto args : {std::initializer_list<const char*>{}, {"caf\xC3\xA9", "--catch"}}) {
        KelRun r = run_kel(args);
        ASSERT_TRUE(WIFEXITED(r.status)) << r.status;
        EXPECT_EQ(WEXITSTATUS(r.status), 0);
        EXPECT_EQ(r.out, "");
    }
}

}  // namespace
