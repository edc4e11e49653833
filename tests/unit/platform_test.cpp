// Process services: current directory, environment, sleeping, time and the argument list.
#include <unistd.h>

#include <chrono>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

#include "runtime/platform.h"
#include "runtime/system_record.h"
#include "support.h"

namespace kel::rt {
namespace {

using namespace std::string_literals;

TEST(PlatformTest, CurrentDirectoryRoundTrip) {
    std::string start = get_current_dir_os();
    char real[PATH_MAX];
    ASSERT_TRUE(realpath(".", real));
    EXPECT_EQ(start, real);

    char tmpl[] = "/tmp/kel-cwd-XXXXXX";
    ASSERT_TRUE(mkdtemp(tmpl));
    ASSERT_TRUE(realpath(tmpl, real));
    EXPECT_TRUE(set_current_dir_os(tmpl));
    EXPECT_EQ(get_current_dir_os(), real);

    EXPECT_FALSE(set_current_dir_os(std::string(tmpl) + "/missing"));
    EXPECT_FALSE(set_current_dir_os(".\0/"s));  // a NUL would cut the path short
    EXPECT_EQ(get_current_dir_os(), real);

    EXPECT_TRUE(set_current_dir_os(start));
    rmdir(tmpl);
}

TEST(PlatformTest, EnvironmentIsUtf8AndCaseSensitive) {
    std::string value = "caf\xC3\xA9 au lait";
    ASSERT_TRUE(set_env_os("KEL_TEST_Var", &value));
    EXPECT_EQ(get_env_os("KEL_TEST_Var"), value);
    EXPECT_EQ(get_env_os("KEL_TEST_VAR"), std::nullopt);

    bool listed = false;
    for (auto& [name, v] : list_env_os()) listed |= name == "KEL_TEST_Var" && v == value;
    EXPECT_TRUE(listed);

    std::string empty;
    ASSERT_TRUE(set_env_os("KEL_TEST_Var", &empty));
    EXPECT_EQ(get_env_os("KEL_TEST_Var"), ""s);  // empty, not absent
    EXPECT_TRUE(set_env_os("KEL_TEST_Var", nullptr));
    EXPECT_EQ(get_env_os("KEL_TEST_Var"), std::nullopt);
}

TEST(PlatformTest, EnvironmentRefusesNamesAndValuesItCannotHold) {
    std::string v = "x";
    for (std::string name : {""s, "A=B"s, "KEL\0TEST"s}) {
        EXPECT_FALSE(set_env_os(name, &v)) << name;
        EXPECT_EQ(get_env_os(name), std::nullopt) << name;
    }
    std::string with_nul = "a\0b"s;
    EXPECT_FALSE(set_env_os("KEL_TEST_NUL", &with_nul));
    EXPECT_EQ(get_env_os("KEL_TEST_NUL"), std::nullopt);
}

TEST(PlatformTest, EnvironmentListSplitsAtTheFirstEqualsAfterTheFirstCharacter) {
    char e1[] = "=C:=C:\\", e2[] = "A=1=2", e3[] = "EMPTY=", e4[] = "NOEQUALS";
    char* fake[] = {e1, e2, e3, e4, nullptr};
    char** saved = environ;
    environ = fake;
    auto list = list_env_os();
    environ = saved;
    using Pairs = std::vector<std::pair<std::string, std::string>>;
    EXPECT_EQ(list, (Pairs{{"=C:", "C:\\"}, {"A", "1=2"}, {"EMPTY", ""}, {"NOEQUALS", ""}}));
}

TEST(PlatformTest, SleepLengths) {
    struct Case {
        double seconds, ms;
    };
    for (Case c : {Case{0, 1}, Case{0.0004, 1}, Case{0.0025, 2}, Case{1.5, 1500}, Case{-3, 1}, Case{1e300, 1e303}})
        EXPECT_EQ(sleep_milliseconds(c.seconds), c.ms) << c.seconds;
    EXPECT_EQ(sleep_milliseconds(std::nan("")), 1.0);

    using Clock = std::chrono::steady_clock;
    auto t0 = Clock::now();
    os_sleep(0);
    auto t1 = Clock::now();
    os_sleep(0.0025);
    auto t2 = Clock::now();
    EXPECT_GE(t1 - t0, std::chrono::milliseconds(1));
    EXPECT_GE(t2 - t1, std::chrono::milliseconds(2));
    EXPECT_LT(t2 - t1, std::chrono::milliseconds(500));
}

TEST(PlatformTest, UtcTimeOfDay) {
    double whole = get_utc_time(false);
    double precise = get_utc_time(true);
    double expected = double(time(nullptr) % 86400);
    EXPECT_EQ(whole, std::floor(whole));
    EXPECT_GE(whole, 0.0);
    EXPECT_LT(whole, 86400.0);
    // Midnight may pass between the readings.
    EXPECT_LT(std::fmod(std::fabs(precise - whole), 86399.0), 2.0);
    EXPECT_LT(std::fmod(std::fabs(expected - whole), 86399.0), 2.0);
}

TEST(PlatformTest, ZoneBits) {
    struct Case {
        i32 offset;
        u32 hours, negative, quarters;
    };
    for (Case c : {Case{5 * 60 + 45, 5, 0, 3}, Case{-(3 * 60 + 30), 3, 1, 2}, Case{-30, 0, 1, 2}, Case{0, 0, 0, 0},
                   Case{14 * 60, 14, 0, 0}, Case{-(9 * 60 + 15), 9, 1, 1}}) {
        u32 z = pack_zone(c.offset);
        EXPECT_EQ((z >> 2) & 0xF, c.hours) << c.offset;
        EXPECT_EQ((z >> 6) & 1, c.negative) << c.offset;
        EXPECT_EQ(z & 3, c.quarters) << c.offset;
        EXPECT_EQ(z & ~0x7Fu, 0u) << c.offset;
    }
    u32 d = pack_date(2024, 2, 29, 60);
    EXPECT_EQ(d >> 17, 2024u);
    EXPECT_EQ((d >> 12) & 0x1F, 2u);
    EXPECT_EQ((d >> 7) & 0x1F, 29u);
    EXPECT_EQ(d & 0x7F, 4u);
}

class LocalTimeTest : public ::testing::Test {
protected:
    void SetUp() override {
        const char* tz = getenv("TZ");
        had_tz_ = tz != nullptr;
        if (tz) saved_tz_ = tz;
    }
    void TearDown() override {
        if (had_tz_) setenv("TZ", saved_tz_.c_str(), 1);
        else unsetenv("TZ");
        tzset();
    }
    static void use_zone(const char* tz) {
        setenv("TZ", tz, 1);
        tzset();
    }

private:
    bool had_tz_ = false;
    std::string saved_tz_;
};

TEST_F(LocalTimeTest, DateAndZoneOfNow) {
    time_t now = time(nullptr);
    tm utc{};
    gmtime_r(&now, &utc);
    u32 d = get_local_time(true);
    EXPECT_EQ(d & 0x7F, 0u);
    EXPECT_EQ(d >> 17, u32(utc.tm_year + 1900));

    // POSIX zones count west: "-5:45" is 5:45 east of UTC.
    use_zone("KEL-5:45");
    EXPECT_EQ(get_local_time(false) & 0x7F, pack_zone(5 * 60 + 45));
    use_zone("KEL3:30");
    EXPECT_EQ(get_local_time(false) & 0x7F, pack_zone(-(3 * 60 + 30)));
    use_zone("KEL0:30");
    EXPECT_EQ(get_local_time(false) & 0x7F, 0x42u);  // -0:30 keeps its sign
}

TEST(PlatformDeathTest, ArgumentsArriveAsUtf8InTheSystemRecord) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    auto check = [] {
        char a0[] = "kel", a1[] = "caf\xC3\xA9", a2[] = "--catch";
        char* argv[] = {a0, a1, a2, nullptr};
        platform_start(3, argv);
        bool ok = g_system.argc == 3 && std::strcmp(g_system.argv[1], a1) == 0 &&
                  std::strcmp(g_system.argv[2], a2) == 0 && g_system.argv[3] == nullptr && g_system.argv[1] != a1;
        std::_Exit(ok ? 0 : 1);
    };
    EXPECT_EXIT(check(), ::testing::ExitedWithCode(0), "");
}

}  // namespace
}  // namespace kel::rt
