// Calendar internals the language reaches only in part: the day number round trip over the
// whole stored year range, and the current date read from the clock.
#include <ctime>

#include "datatypes/date.h"
#include "runtime/platform.h"
#include "support.h"

namespace kel::dt {
namespace {

TEST(DateTest, DayNumbersRoundTripOverTheStoredYears) {
    u32 first = date_from_days(date_to_days((u32(-16384) << 17) | (1u << 12) | (1u << 7)), 0, false);
    i64 start = date_to_days(first);
    i64 end = date_to_days((16383u << 17) | (12u << 12) | (31u << 7));
    i64 previous_day = -1;
    for (i64 d = start; d <= end; ++d) {
        u32 w = date_from_days(d, 0, false);
        ASSERT_EQ(date_to_days(w), d) << "day number " << d;
        i32 day = i32((w >> 7) & 31);
        ASSERT_TRUE(day == previous_day + 1 || day == 1) << "day number " << d;
        previous_day = day;
    }
}

TEST(DateTest, ClockReadingIsTodayWithTheLocalOffset) {
    rt::ClockReading utc = rt::read_clock(true);
    time_t now = time(nullptr);
    tm parts{};
    gmtime_r(&now, &parts);
    EXPECT_EQ(utc.year, parts.tm_year + 1900);
    EXPECT_EQ(utc.offset_seconds, 0);
    EXPECT_GE(utc.seconds, 0.0);
    EXPECT_LT(utc.seconds, 86400.0);
    Cell c;
    date_make_now(&c, false, true);
    EXPECT_EQ(type_of(&c), T_DATE);
    EXPECT_TRUE(date_word(&c) & DATE_TIME_FLAG);
}

}  // namespace
}  // namespace kel::dt
