#include "vorntool/date.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

namespace vorntool {
namespace {

std::string text(const date& d)
{
    int y, mo, dd, h, mi, s, ms;
    date::split(d.getSerial(), y, mo, dd, h, mi, s, ms);
    char buf[64];
    snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d.%03d", y, mo, dd, h, mi, s, ms);
    return buf;
}

date at(int y, int mo, int d, int h = 0, int mi = 0, int s = 0)
{
    return date(static_cast<uint16_t>(y), static_cast<uint16_t>(mo), static_cast<uint16_t>(d),
                static_cast<uint16_t>(h), static_cast<uint16_t>(mi), static_cast<uint16_t>(s));
}

// Rule records: wYear, wMonth, wDayOfWeek, wDay (occurrence), wHour, wMinute, wSecond, wMilliseconds.
_SYSTEMTIME rule(int month, int weekday, int occurrence, int hour)
{
    return _SYSTEMTIME{0, static_cast<uint16_t>(month), static_cast<uint16_t>(weekday),
                       static_cast<uint16_t>(occurrence), static_cast<uint16_t>(hour), 0, 0, 0};
}

_TIME_ZONE_INFORMATION zone(int bias, int standardBias, int daylightBias, _SYSTEMTIME standard, _SYSTEMTIME daylight)
{
    _TIME_ZONE_INFORMATION tz{};
    tz.Bias = bias;
    tz.StandardBias = standardBias;
    tz.DaylightBias = daylightBias;
    tz.StandardDate = standard;
    tz.DaylightDate = daylight;
    return tz;
}

// US Eastern since 2007: daylight from the 2nd Sunday of March 02:00 to the 1st Sunday
// of November 02:00 (local wall time).
const _TIME_ZONE_INFORMATION kNorth = zone(300, 0, -60, rule(11, 0, 1, 2), rule(3, 0, 2, 2));
// Sydney: daylight from the 1st Sunday of October 02:00 to the 1st Sunday of April 03:00.
const _TIME_ZONE_INFORMATION kSouth = zone(-600, 0, -60, rule(4, 0, 1, 3), rule(10, 0, 1, 2));

const double kHalf = date::halfSecond;

TEST(DateZoneTest, TransitionDayTable)
{
    struct Case {
        _SYSTEMTIME r;
        int year;
        const char* expected;
    } cases[] = {
        // Known calendar facts: last Sunday of October 2010, last Wednesday of March 2010.
        {rule(10, 0, 5, 0), 2010, "2010-10-31 00:00:00.000"},
        {rule(3, 3, 5, 0), 2010, "2010-03-31 00:00:00.000"},
        // Northern and southern rules, two years.
        {rule(3, 0, 2, 2), 2010, "2010-03-14 02:00:00.000"},
        {rule(3, 0, 2, 2), 2011, "2011-03-13 02:00:00.000"},
        {rule(11, 0, 1, 2), 2010, "2010-11-07 02:00:00.000"},
        {rule(11, 0, 1, 2), 2011, "2011-11-06 02:00:00.000"},
        {rule(10, 0, 1, 2), 2010, "2010-10-03 02:00:00.000"},
        {rule(4, 0, 1, 3), 2010, "2010-04-04 03:00:00.000"},
        // The 1st falls on the weekday; occurrences 1 to 4.
        {rule(10, 5, 1, 0), 2010, "2010-10-01 00:00:00.000"},
        {rule(10, 5, 2, 0), 2010, "2010-10-08 00:00:00.000"},
        {rule(10, 5, 4, 0), 2010, "2010-10-22 00:00:00.000"},
        {rule(10, 4, 1, 0), 2010, "2010-10-07 00:00:00.000"},
        // Last: the 1st of the next month on the weekday goes back a full week.
        {rule(10, 1, 5, 0), 2010, "2010-10-25 00:00:00.000"},
        {rule(12, 0, 5, 1), 2010, "2010-12-26 01:00:00.000"},
        {rule(2, 1, 5, 0), 2000, "2000-02-28 00:00:00.000"},
        {rule(12, 5, 5, 0), 9999, "9999-12-31 00:00:00.000"},
        // Before the epoch the hour still counts forward.
        {rule(10, 0, 5, 2), 1850, "1850-10-27 02:00:00.000"},
        // An hour of 24 is midnight of the next day.
        {rule(3, 0, 2, 24), 2010, "2010-03-15 00:00:00.000"},
        // wYear != 0: an absolute date in the asked year.
        {_SYSTEMTIME{2007, 4, 0, 15, 3, 0, 0, 0}, 2010, "2010-04-15 03:00:00.000"},
        {_SYSTEMTIME{1, 4, 6, 15, 3, 0, 0, 0}, 2012, "2012-04-15 03:00:00.000"},
        {_SYSTEMTIME{1, 2, 0, 29, 0, 0, 0, 0}, 2012, "2012-02-29 00:00:00.000"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(text(date::getDayFromTimeZoneInfo(c.r, c.year)), c.expected)
            << "month " << c.r.wMonth << " weekday " << c.r.wDayOfWeek << " occurrence " << c.r.wDay << " year "
            << c.year;
}

TEST(DateZoneTest, TransitionDayOfUnusableRuleIsEmptyDate)
{
    struct Case {
        _SYSTEMTIME r;
        int year;
    } cases[] = {
        {rule(0, 0, 1, 2), 2010},                   // no rule
        {rule(13, 0, 1, 2), 2010},                  // month out of range
        {rule(3, 7, 1, 2), 2010},                   // weekday out of range
        {rule(3, 0, 0, 2), 2010},                   // occurrence 0
        {rule(3, 0, 6, 2), 2010},                   // occurrence 6
        {rule(3, 0, 1, 2), 99},                     // year below the range
        {rule(3, 0, 1, 2), 10000},                  // year above the range
        {_SYSTEMTIME{1, 2, 0, 29, 0, 0, 0, 0}, 2010},  // absolute 29 February in a common year
        {_SYSTEMTIME{1, 4, 0, 31, 0, 0, 0, 0}, 2010},  // absolute 31 April
        {_SYSTEMTIME{1, 4, 0, 0, 0, 0, 0, 0}, 2010},   // absolute day 0
    };
    for (const auto& c : cases)
        EXPECT_EQ(date::getDayFromTimeZoneInfo(c.r, c.year).getSerial(), 0.0)
            << "month " << c.r.wMonth << " weekday " << c.r.wDayOfWeek << " day " << c.r.wDay << " year " << c.year;
}

struct DaylightCase {
    double serial;
    bool isUTC;
    bool daylight;
    const char* what;
};

void checkDaylight(const _TIME_ZONE_INFORMATION& tz, const DaylightCase* cases, size_t n)
{
    for (size_t i = 0; i < n; ++i)
        EXPECT_EQ(date::isDaylightTime(date(cases[i].serial), &tz, cases[i].isUTC), cases[i].daylight)
            << cases[i].what << " (" << text(date(cases[i].serial)) << (cases[i].isUTC ? " UTC)" : " local)");
}

TEST(DateZoneTest, DaylightNorthern)
{
    const double dUtc = at(2010, 3, 14, 7).getSerial();  // 02:00 EST
    const double sUtc = at(2010, 11, 7, 6).getSerial();  // 02:00 EDT
    const double dLocal = at(2010, 3, 14, 2).getSerial();
    const double sLocal = at(2010, 11, 7, 2).getSerial();
    const DaylightCase cases[] = {
        {at(2010, 1, 15, 12).getSerial(), true, false, "winter"},
        {at(2010, 7, 1, 12).getSerial(), true, true, "summer"},
        {at(2010, 12, 31, 23).getSerial(), true, false, "year end"},
        {at(2010, 1, 1, 3).getSerial(), true, false, "year start, local still the old year"},
        {dUtc - 1.0 / 86400, true, false, "a second before daylight starts"},
        {dUtc, true, true, "daylight starts"},
        {dUtc - 0.8 * kHalf, true, true, "within half a second before daylight starts"},
        {dUtc - 1.2 * kHalf, true, false, "more than half a second before daylight starts"},
        {sUtc - 1.0 / 86400, true, true, "a second before standard starts"},
        {sUtc, true, false, "standard starts"},
        {sUtc - 0.8 * kHalf, true, false, "within half a second before standard starts"},
        {sUtc - 1.2 * kHalf, true, true, "more than half a second before standard starts"},
        {at(2010, 7, 1, 12).getSerial(), false, true, "summer, local"},
        {dLocal - 1.0 / 86400, false, false, "local 01:59:59 before the gap"},
        {dLocal, false, true, "local 02:00 at the gap"},
        {dLocal + 0.5 / 24, false, true, "local 02:30 inside the gap"},
        {dLocal - 0.8 * kHalf, false, true, "local, within half a second of daylight"},
        {dLocal - 1.2 * kHalf, false, false, "local, more than half a second before daylight"},
        {sLocal - 0.5 / 24, false, true, "local 01:30, the repeated hour reads as daylight"},
        {sLocal, false, false, "local 02:00 standard"},
        {sLocal - 0.8 * kHalf, false, false, "local, within half a second of standard"},
        {sLocal - 1.2 * kHalf, false, true, "local, more than half a second before standard"},
    };
    checkDaylight(kNorth, cases, sizeof cases / sizeof cases[0]);
}

TEST(DateZoneTest, DaylightSouthern)
{
    const double dUtc = at(2010, 10, 2, 16).getSerial();  // 02:00 AEST on 3 October
    const double sUtc = at(2010, 4, 3, 16).getSerial();   // 03:00 AEDT on 4 April
    const double dLocal = at(2010, 10, 3, 2).getSerial();
    const double sLocal = at(2010, 4, 4, 3).getSerial();
    const DaylightCase cases[] = {
        {at(2010, 1, 15).getSerial(), true, true, "January"},
        {at(2010, 7, 1).getSerial(), true, false, "July"},
        {at(2010, 12, 31, 23).getSerial(), true, true, "year end, local already the new year"},
        {dUtc - 1.0 / 86400, true, false, "a second before daylight starts"},
        {dUtc, true, true, "daylight starts"},
        {dUtc - 0.8 * kHalf, true, true, "within half a second before daylight starts"},
        {dUtc - 1.2 * kHalf, true, false, "more than half a second before daylight starts"},
        {sUtc - 1.0 / 86400, true, true, "a second before standard starts"},
        {sUtc, true, false, "standard starts"},
        {sUtc - 0.8 * kHalf, true, false, "within half a second before standard starts"},
        {sUtc - 1.2 * kHalf, true, true, "more than half a second before standard starts"},
        {at(2010, 1, 15).getSerial(), false, true, "January, local"},
        {at(2010, 7, 1).getSerial(), false, false, "July, local"},
        {dLocal - 1.0 / 86400, false, false, "local 01:59:59"},
        {dLocal, false, true, "local 02:00"},
        {dLocal - 0.8 * kHalf, false, true, "local, within half a second of daylight"},
        {dLocal - 1.2 * kHalf, false, false, "local, more than half a second before daylight"},
        {sLocal - 1.0 / 86400, false, true, "local 02:59:59"},
        {sLocal, false, false, "local 03:00"},
        {sLocal - 0.8 * kHalf, false, false, "local, within half a second of standard"},
        {sLocal - 1.2 * kHalf, false, true, "local, more than half a second before standard"},
    };
    checkDaylight(kSouth, cases, sizeof cases / sizeof cases[0]);
}

TEST(DateZoneTest, DaylightUsesBothBiases)
{
    // Standard offset 310 minutes, daylight 250: the start is read in standard time,
    // the end in daylight time.
    const _TIME_ZONE_INFORMATION tz = zone(300, 10, -50, rule(11, 0, 1, 2), rule(3, 0, 2, 2));
    const double d = at(2010, 3, 14, 2).getSerial() + 310 / 1440.0;
    const double s = at(2010, 11, 7, 2).getSerial() + 250 / 1440.0;
    const DaylightCase cases[] = {
        {d - 1.0 / 86400, true, false, "before start"},
        {d, true, true, "start"},
        {s - 1.0 / 86400, true, true, "before end"},
        {s, true, false, "end"},
    };
    checkDaylight(tz, cases, sizeof cases / sizeof cases[0]);
}

TEST(DateZoneTest, NoDaylightRule)
{
    const double summer = at(2010, 7, 1, 12).getSerial();
    // Both biases zero: never daylight, whatever the rules say.
    const _TIME_ZONE_INFORMATION noBias = zone(0, 0, 0, rule(11, 0, 1, 2), rule(3, 0, 2, 2));
    EXPECT_FALSE(date::isDaylightTime(date(summer), &noBias, true));
    EXPECT_FALSE(date::isDaylightTime(date(summer), &noBias, false));
    // A rule of month 0 is no rule, even when a daylight bias is set.
    _SYSTEMTIME garbage{0, 0, 9, 9, 99, 0, 0, 0};
    const _TIME_ZONE_INFORMATION noDaylight = zone(-60, 0, -60, rule(10, 0, 5, 3), garbage);
    const _TIME_ZONE_INFORMATION noStandard = zone(-60, 0, -60, garbage, rule(3, 0, 5, 2));
    const _TIME_ZONE_INFORMATION neither = zone(-60, 0, -60, garbage, garbage);
    for (const auto* tz : {&noDaylight, &noStandard, &neither}) {
        EXPECT_FALSE(date::isDaylightTime(date(summer), tz, true));
        EXPECT_FALSE(date::isDaylightTime(date(summer), tz, false));
        EXPECT_EQ(text(date::convertUTCToTzSpecificLocalTime(date(summer), tz)), "2010-07-01 13:00:00.000");
    }
    // Rules that name no day, and dates out of range.
    const _TIME_ZONE_INFORMATION badRule = zone(300, 0, -60, rule(11, 0, 9, 2), rule(3, 0, 2, 2));
    EXPECT_FALSE(date::isDaylightTime(date(summer), &badRule, true));
    EXPECT_FALSE(date::isDaylightTime(date(date::maxDate + 10), &kNorth, true));
    EXPECT_FALSE(date::isDaylightTime(date(summer), nullptr, true));
}

TEST(DateZoneTest, ConversionTable)
{
    const _TIME_ZONE_INFORMATION india = zone(-330, 0, 0, rule(0, 0, 0, 0), rule(0, 0, 0, 0));
    struct Case {
        const _TIME_ZONE_INFORMATION* tz;
        date utc;
        const char* local;
    } cases[] = {
        {&kNorth, at(2010, 1, 15, 12), "2010-01-15 07:00:00.000"},
        {&kNorth, at(2010, 7, 1, 12), "2010-07-01 08:00:00.000"},
        {&kNorth, at(2010, 3, 14, 6, 59, 59), "2010-03-14 01:59:59.000"},
        {&kNorth, at(2010, 3, 14, 7), "2010-03-14 03:00:00.000"},
        {&kNorth, at(2010, 11, 7, 5, 59, 59), "2010-11-07 01:59:59.000"},
        {&kNorth, at(2010, 11, 7, 6), "2010-11-07 01:00:00.000"},
        {&kNorth, at(2010, 1, 1, 2), "2009-12-31 21:00:00.000"},
        {&kSouth, at(2010, 1, 15), "2010-01-15 11:00:00.000"},
        {&kSouth, at(2010, 7, 1), "2010-07-01 10:00:00.000"},
        {&kSouth, at(2010, 10, 2, 15, 59, 59), "2010-10-03 01:59:59.000"},
        {&kSouth, at(2010, 10, 2, 16), "2010-10-03 03:00:00.000"},
        {&kSouth, at(2010, 4, 3, 15, 59, 59), "2010-04-04 02:59:59.000"},
        {&kSouth, at(2010, 4, 3, 16), "2010-04-04 02:00:00.000"},
        {&kSouth, at(2010, 12, 31, 20), "2011-01-01 07:00:00.000"},
        {&india, at(2010, 7, 1, 12), "2010-07-01 17:30:00.000"},
        {nullptr, at(2010, 7, 1, 12), "2010-07-01 12:00:00.000"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(text(date::convertUTCToTzSpecificLocalTime(c.utc, c.tz)), c.local) << text(c.utc);
}

TEST(DateZoneTest, LocalToUtcTable)
{
    struct Case {
        const _TIME_ZONE_INFORMATION* tz;
        date local;
        const char* utc;
    } cases[] = {
        {&kNorth, at(2010, 1, 15, 7), "2010-01-15 12:00:00.000"},
        {&kNorth, at(2010, 7, 1, 8), "2010-07-01 12:00:00.000"},
        {&kNorth, at(2010, 3, 14, 1, 59, 59), "2010-03-14 06:59:59.000"},
        {&kNorth, at(2010, 3, 14, 3), "2010-03-14 07:00:00.000"},
        // A time in the gap is read as daylight time; the repeated hour as daylight too.
        {&kNorth, at(2010, 3, 14, 2, 30), "2010-03-14 06:30:00.000"},
        {&kNorth, at(2010, 11, 7, 1, 30), "2010-11-07 05:30:00.000"},
        {&kNorth, at(2010, 11, 7, 2), "2010-11-07 07:00:00.000"},
        {&kSouth, at(2010, 1, 15, 11), "2010-01-15 00:00:00.000"},
        {&kSouth, at(2010, 7, 1, 10), "2010-07-01 00:00:00.000"},
        {&kSouth, at(2010, 10, 3, 3), "2010-10-02 16:00:00.000"},
        {&kSouth, at(2010, 4, 4, 2, 30), "2010-04-03 15:30:00.000"},
        {&kSouth, at(2010, 4, 4, 3), "2010-04-03 17:00:00.000"},
        {nullptr, at(2010, 7, 1, 12), "2010-07-01 12:00:00.000"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(text(date::convertTzSpecificLocalTimeToUTC(c.local, c.tz)), c.utc) << text(c.local);
}

TEST(DateZoneTest, RoundTripOutsideTransitions)
{
    for (const auto* tz : {&kNorth, &kSouth}) {
        for (double utc = at(2010, 1, 1).getSerial(); utc < at(2011, 1, 1).getSerial(); utc += 0.37) {
            const date local = date::convertUTCToTzSpecificLocalTime(date(utc), tz);
            const date back = date::convertTzSpecificLocalTimeToUTC(local, tz);
            // Only the repeated hour after daylight ends maps back an hour early.
            if (text(back) != text(date(utc))) {
                EXPECT_NEAR(back.getSerial(), utc - 1.0 / 24, 1e-9) << text(date(utc));
            }
        }
    }
}

void expectRecord(const _SYSTEMTIME& st, int y, int mo, int dow, int d, int h, int mi, int s, int ms)
{
    EXPECT_EQ(st.wYear, y);
    EXPECT_EQ(st.wMonth, mo);
    EXPECT_EQ(st.wDayOfWeek, dow);
    EXPECT_EQ(st.wDay, d);
    EXPECT_EQ(st.wHour, h);
    EXPECT_EQ(st.wMinute, mi);
    EXPECT_EQ(st.wSecond, s);
    EXPECT_EQ(st.wMilliseconds, ms);
}

TEST(DateZoneTest, RecordForms)
{
    const _SYSTEMTIME utc{2010, 7, 0, 1, 12, 0, 0, 250};
    _SYSTEMTIME out{};
    EXPECT_TRUE(date::systemTimeToTzSpecificLocalTime(&kNorth, &utc, &out));
    expectRecord(out, 2010, 7, 4, 1, 8, 0, 0, 250);
    _SYSTEMTIME back{};
    EXPECT_TRUE(date::tzSpecificLocalTimeToSystemTime(&kNorth, &out, &back));
    expectRecord(back, 2010, 7, 4, 1, 12, 0, 0, 250);

    const _SYSTEMTIME newYear{2010, 12, 5, 31, 20, 0, 0, 0};
    EXPECT_TRUE(date::systemTimeToTzSpecificLocalTime(&kSouth, &newYear, &out));
    expectRecord(out, 2011, 1, 6, 1, 7, 0, 0, 0);
    EXPECT_TRUE(date::tzSpecificLocalTimeToSystemTime(&kSouth, &out, &back));
    expectRecord(back, 2010, 12, 5, 31, 20, 0, 0, 0);

    const _SYSTEMTIME invalid{2010, 2, 0, 30, 12, 0, 0, 0};
    _SYSTEMTIME untouched{1, 2, 3, 4, 5, 6, 7, 8};
    EXPECT_FALSE(date::systemTimeToTzSpecificLocalTime(&kNorth, &invalid, &untouched));
    EXPECT_FALSE(date::tzSpecificLocalTimeToSystemTime(&kNorth, &invalid, &untouched));
    expectRecord(untouched, 1, 2, 3, 4, 5, 6, 7, 8);
    EXPECT_FALSE(date::systemTimeToTzSpecificLocalTime(nullptr, &utc, &out));
    EXPECT_FALSE(date::systemTimeToTzSpecificLocalTime(&kNorth, nullptr, &out));
    EXPECT_FALSE(date::tzSpecificLocalTimeToSystemTime(&kNorth, &utc, nullptr));
}

} // namespace
} // namespace vorntool
