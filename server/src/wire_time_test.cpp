#include "wire_time.h"

#include <gtest/gtest.h>

#include "vorntool/date.h"

namespace pellora::dealer {
namespace {

TEST(WireTime, TextsOfTheWire) {
    EXPECT_EQ(dasTimestamp(makeUtc(2009, 12, 31, 23, 59, 59, 123)), "12312009235959123");
    EXPECT_EQ(dasTimestamp(makeUtc(2011, 3, 15, 14, 30, 5)), "03152011143005000");
    EXPECT_EQ(utcTimestamp(makeUtc(2012, 3, 7, 9, 5, 0, 999)), "20120307-09:05:00");
    EXPECT_EQ(utcTimestamp(0), "19700101-00:00:00");
}

TEST(WireTime, SerialsAgreeWithVorntool) {
    for (UnixMs t : {UnixMs{0}, makeUtc(2011, 3, 15, 14, 30, 5, 250), makeUtc(2099, 2, 28, 23, 59, 59)}) {
        const double serial = toSerial(t);
        int y, mo, d, h, mi, s, ms;
        vorntool::date::split(serial, y, mo, d, h, mi, s, ms);
        UnixMs back = makeUtc(y, static_cast<unsigned>(mo), static_cast<unsigned>(d), static_cast<unsigned>(h),
                              static_cast<unsigned>(mi), static_cast<unsigned>(s), static_cast<unsigned>(ms));
        EXPECT_EQ(back, t);
        EXPECT_EQ(fromSerial(serial), t);
    }
    EXPECT_DOUBLE_EQ(toSerial(makeUtc(1970, 1, 1)), vorntool::date(1970, 1, 1).getSerial());
}

TEST(WireTime, CivilDaysRoundTripAndWeekdays) {
    for (int64_t days = -800000; days <= 800000; days += 997) {
        int y;
        unsigned m, d;
        civilFromDays(days, y, m, d);
        ASSERT_EQ(daysFromCivil(y, m, d), days);
    }
    EXPECT_EQ(weekdayFromDays(daysFromCivil(2024, 7, 7)), 0);  // a Sunday
    EXPECT_EQ(weekdayFromDays(daysFromCivil(1969, 12, 31)), 3);
}

TEST(WireTime, ConfigurationTimes) {
    UnixMs t = 0;
    struct Case {
        const char* text;
        UnixMs expected;  // -1: refused
    } cases[] = {{"2024-03-04 10:00:00", makeUtc(2024, 3, 4, 10)}, {"2024-03-04T10:00", makeUtc(2024, 3, 4, 10)},
                 {"2024-03-04 10:00:07Z", makeUtc(2024, 3, 4, 10, 0, 7)}, {"2024-02-30 10:00", -1},
                 {"2024-03-04", -1}, {"2024-03-04 24:00", -1}, {"2024-03-04 10:00:00 extra", -1},
                 {"1969-12-31 10:00", -1}, {"", -1}};
    for (const Case& c : cases) {
        const bool ok = parseIsoUtc(c.text, t);
        EXPECT_EQ(ok, c.expected >= 0) << c.text;
        if (ok) {
            EXPECT_EQ(t, c.expected) << c.text;
        }
    }
}

} // namespace
} // namespace pellora::dealer
