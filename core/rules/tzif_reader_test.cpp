#include "core/rules/tzif_reader.h"

#include <gtest/gtest.h>

#include <cstring>

#include "core/rules/tzif_test_builder.h"

namespace zel {
namespace {

using testing::TzifBuilder;
using testing::utcTime;

const int64_t kWinter2026 = utcTime(2026, 12, 10, 8);
constexpr int32_t kFallback = 77;  // an offset no crafted zone has

struct Rule {
    int year, month, dayOfWeek, day, hour, minute;
};

void expectRule(const _SYSTEMTIME& st, const Rule& r, const char* which)
{
    SCOPED_TRACE(which);
    EXPECT_EQ(st.wYear, r.year);
    EXPECT_EQ(st.wMonth, r.month);
    EXPECT_EQ(st.wDayOfWeek, r.dayOfWeek);
    EXPECT_EQ(st.wDay, r.day);
    EXPECT_EQ(st.wHour, r.hour);
    EXPECT_EQ(st.wMinute, r.minute);
}

bool onlyBias(const _TIME_ZONE_INFORMATION& info, int32_t bias)
{
    _TIME_ZONE_INFORMATION expected;
    std::memset(&expected, 0, sizeof expected);
    expected.Bias = bias;
    return std::memcmp(&info, &expected, sizeof info) == 0;
}

TzifOutcome parse(const std::vector<unsigned char>& data, int64_t now, bool named, _TIME_ZONE_INFORMATION* info)
{
    return parseTzif(data.data(), data.size(), now, named, kFallback, info);
}

class BothHeaderForms : public ::testing::TestWithParam<bool> {};

TEST_P(BothHeaderForms, FixedZoneGivesItsOffsetAndNoRule)
{
    TzifBuilder b;
    b.magic = GetParam();
    b.type(19800, false, "IST");
    _TIME_ZONE_INFORMATION info;
    EXPECT_EQ(parse(b.build(), kWinter2026, true, &info), TzifOutcome::FixedOffset);
    EXPECT_TRUE(onlyBias(info, -330));
}

TEST_P(BothHeaderForms, NorthernZoneGivesRecurringRulesInWinterAndSummer)
{
    TzifBuilder b = testing::usEastern();
    b.magic = GetParam();
    for (int64_t now : {kWinter2026, utcTime(2027, 7, 1)}) {
        SCOPED_TRACE(now);
        _TIME_ZONE_INFORMATION info;
        ASSERT_EQ(parse(b.build(), now, true, &info), TzifOutcome::DaylightRule);
        EXPECT_EQ(info.Bias, 300);
        EXPECT_EQ(info.StandardBias, 0);
        EXPECT_EQ(info.DaylightBias, -60);
        expectRule(info.StandardDate, {0, 11, 0, 1, 2, 0}, "standard: first Sunday of November");
        expectRule(info.DaylightDate, {0, 3, 0, 2, 2, 0}, "daylight: second Sunday of March");
    }
}

INSTANTIATE_TEST_SUITE_P(Tzif, BothHeaderForms, ::testing::Bool(),
                         [](const ::testing::TestParamInfo<bool>& p) { return p.param ? "Magic" : "OldForm"; });

TEST(TzifReader, SouthernZoneHasDaylightRuleLaterInTheYearThanStandard)
{
    _TIME_ZONE_INFORMATION info;
    ASSERT_EQ(parse(testing::sydney().build(), kWinter2026, true, &info), TzifOutcome::DaylightRule);
    EXPECT_EQ(info.Bias, -600);
    EXPECT_EQ(info.DaylightBias, -60);
    expectRule(info.StandardDate, {0, 4, 0, 1, 3, 0}, "standard: first Sunday of April, 3:00 daylight");
    expectRule(info.DaylightDate, {0, 10, 0, 1, 2, 0}, "daylight: first Sunday of October, 2:00");
}

TEST(TzifReader, LastSundayRulesAndHalfHourOffsets)
{
    // Central Europe: last Sundays of March and October at 1:00 UTC.
    TzifBuilder europe;
    europe.type(3600, false, "CET").type(7200, true, "CEST");
    const int march[] = {29, 28, 26}, october[] = {25, 31, 29};
    for (int i = 0; i < 3; ++i) {
        europe.at(utcTime(2026 + i, 3, march[i], 1), 1);
        europe.at(utcTime(2026 + i, 10, october[i], 1), 0);
    }
    _TIME_ZONE_INFORMATION info;
    ASSERT_EQ(parse(europe.build(), utcTime(2026, 4, 1), true, &info), TzifOutcome::DaylightRule);
    EXPECT_EQ(info.Bias, -60);
    expectRule(info.StandardDate, {0, 10, 0, 5, 3, 0}, "last Sunday of October, 3:00 summer time");
    expectRule(info.DaylightDate, {0, 3, 0, 5, 2, 0}, "last Sunday of March, 2:00");

    // Newfoundland: -3:30 with the changes at 2:00 local; minutes survive into the rule.
    TzifBuilder stJohns;
    stJohns.type(-12600, false, "NST").type(-9000, true, "NDT");
    stJohns.at(utcTime(2026, 3, 8, 5, 30), 1).at(utcTime(2026, 11, 1, 4, 30), 0);
    stJohns.at(utcTime(2027, 3, 14, 5, 30), 1).at(utcTime(2027, 11, 7, 4, 30), 0);
    ASSERT_EQ(parse(stJohns.build(), utcTime(2026, 6, 1), true, &info), TzifOutcome::DaylightRule);
    EXPECT_EQ(info.Bias, 210);
    EXPECT_EQ(info.DaylightBias, -60);
    expectRule(info.StandardDate, {0, 11, 0, 1, 2, 0}, "standard");
    expectRule(info.DaylightDate, {0, 3, 0, 2, 2, 0}, "daylight");

    // Chatham: changes at 2:45 standard time keep their minutes.
    TzifBuilder chatham;
    chatham.type(45900, false, "+1245").type(49500, true, "+1345");
    chatham.at(utcTime(2026, 4, 4, 14), 0).at(utcTime(2026, 9, 26, 14), 1);
    chatham.at(utcTime(2027, 4, 3, 14), 0).at(utcTime(2027, 9, 25, 14), 1);
    ASSERT_EQ(parse(chatham.build(), utcTime(2026, 6, 1), true, &info), TzifOutcome::DaylightRule);
    EXPECT_EQ(info.Bias, -765);
    expectRule(info.DaylightDate, {0, 9, 0, 5, 2, 45}, "last Sunday of September, 2:45");
    expectRule(info.StandardDate, {0, 4, 0, 1, 3, 45}, "first Sunday of April, 3:45 daylight");
}

TEST(TzifReader, FinalTransitionsGiveAbsoluteDatesOrTheZoneOffset)
{
    const std::vector<unsigned char> data = testing::usEastern().build();
    _TIME_ZONE_INFORMATION info;
    // The pair of 2029 has no counterparts a year on: absolute dates.
    ASSERT_EQ(parse(data, utcTime(2029, 6, 1), true, &info), TzifOutcome::DaylightRule);
    expectRule(info.StandardDate, {2029, 11, 0, 4, 2, 0}, "standard");
    expectRule(info.DaylightDate, {2029, 3, 0, 11, 2, 0}, "daylight");

    // After the last transition a named zone takes its offset, the local one keeps
    // the machine's.
    EXPECT_EQ(parse(data, utcTime(2030, 1, 1), true, &info), TzifOutcome::FixedOffset);
    EXPECT_TRUE(onlyBias(info, 300));
    EXPECT_EQ(parse(data, utcTime(2030, 1, 1), false, &info), TzifOutcome::KeptLocal);
    EXPECT_TRUE(onlyBias(info, kFallback));
}

TEST(TzifReader, PairWithoutDaylightChangeGivesTheZonesOwnOffset)
{
    // An offset change ahead (+3 to +4, both standard): the zone's current offset,
    // not the machine's (kFallback).
    TzifBuilder change;
    change.type(10800, false, "+03").type(14400, false, "+04");
    change.at(utcTime(2020, 1, 1), 0).at(utcTime(2027, 3, 1), 1).at(utcTime(2028, 3, 1), 0);
    _TIME_ZONE_INFORMATION info;
    EXPECT_EQ(parse(change.build(), kWinter2026, true, &info), TzifOutcome::FixedOffset);
    EXPECT_TRUE(onlyBias(info, -180));
    EXPECT_EQ(parse(change.build(), kWinter2026, false, &info), TzifOutcome::FixedOffset);
    EXPECT_TRUE(onlyBias(info, -180));

    // Daylight flag on both sides (permanent summer time ahead of a new offset).
    TzifBuilder summer;
    summer.type(-10800, true, "-03").type(-7200, true, "-02");
    summer.at(utcTime(2026, 1, 1), 0).at(utcTime(2027, 6, 1), 1).at(utcTime(2028, 6, 1), 0);
    EXPECT_EQ(parse(summer.build(), kWinter2026, true, &info), TzifOutcome::FixedOffset);
    EXPECT_TRUE(onlyBias(info, 180));
}

TEST(TzifReader, TimesBefore1970CountAsTheEpoch)
{
    // Early history with negative times followed by the yearly rule.
    TzifBuilder b = testing::usEastern();
    b.times.insert(b.times.begin(), {int32_t(-2000000000), int32_t(-1000000)});
    b.typeIndexes.insert(b.typeIndexes.begin(), {0, 1});
    _TIME_ZONE_INFORMATION info;
    ASSERT_EQ(parse(b.build(), kWinter2026, true, &info), TzifOutcome::DaylightRule);
    expectRule(info.DaylightDate, {0, 3, 0, 2, 2, 0}, "daylight");

    // Only negative times: every change is taken at the epoch, so the daylight one
    // and its counterpart meet on the last Wednesday of December; the standard one
    // has no counterpart and stays an absolute date.
    TzifBuilder old;
    old.type(-18000, false, "EST").type(-14400, true, "EDT");
    old.at(-200000000, 1).at(-100000000, 0).at(-50000000, 1);
    ASSERT_EQ(parse(old.build(), -150000000, true, &info), TzifOutcome::DaylightRule);
    expectRule(info.DaylightDate, {0, 12, 3, 5, 19, 0}, "daylight at the epoch, EST wall clock");
    expectRule(info.StandardDate, {1969, 12, 0, 31, 20, 0}, "standard at the epoch, EDT wall clock");
    EXPECT_EQ(parse(old.build(), 0, true, &info), TzifOutcome::FixedOffset);
    EXPECT_TRUE(onlyBias(info, 240));
}

struct BadInput {
    const char* name;
    std::vector<unsigned char> data;
    TzifOutcome outcome;
};

std::vector<unsigned char> patched(std::vector<unsigned char> data, size_t at, uint32_t value)
{
    for (int i = 0; i < 4; ++i)
        data[at + i] = uint8_t(value >> (24 - 8 * i));
    return data;
}

TEST(TzifReader, BadInputKeepsOnlyTheFallbackBias)
{
    const std::vector<unsigned char> good = testing::usEastern().build();
    const size_t counts = 20;
    const size_t typesAt = counts + 24 + 10 * 5;
    std::vector<unsigned char> badIndex = good;
    badIndex[counts + 24 + 10 * 4 + 9] = 2;  // type index of the last transition: only 2 types
    std::vector<unsigned char> badIndexNow = good;
    badIndexNow[counts + 24 + 10 * 4 + 3] = 200;  // the current transition of winter 2026
    TzifBuilder noTypes;
    noTypes.at(utcTime(2026, 1, 1), 0);

    const BadInput cases[] = {
        {"empty", {}, TzifOutcome::Unreadable},
        {"magic only", {'T', 'Z', 'i', 'f', '2'}, TzifOutcome::Unreadable},
        {"counts cut", std::vector<unsigned char>(good.begin(), good.begin() + 40), TzifOutcome::Unreadable},
        {"lying transition count", patched(good, counts + 12, 0xFFFFFFFFu), TzifOutcome::Unreadable},
        {"lying type count", patched(good, counts + 16, 0x7FFFFFFFu), TzifOutcome::Unreadable},
        {"lying character count", patched(good, counts + 20, 0xFFFFFFF0u), TzifOutcome::Unreadable},
        {"all counts at maximum",
         patched(patched(patched(good, counts + 12, 0xFFFFFFFFu), counts + 16, 0xFFFFFFFFu), counts + 20,
                 0xFFFFFFFFu),
         TzifOutcome::Unreadable},
        {"type index past the types", badIndexNow, TzifOutcome::Unreadable},
        {"offset out of range", patched(good, typesAt, 0x80000000u), TzifOutcome::Unreadable},
        {"no types", noTypes.build(), TzifOutcome::NoTypes},
    };
    for (const BadInput& c : cases) {
        SCOPED_TRACE(c.name);
        _TIME_ZONE_INFORMATION info;
        EXPECT_EQ(parse(c.data, kWinter2026, true, &info), c.outcome);
        EXPECT_TRUE(onlyBias(info, kFallback));
    }
    _TIME_ZONE_INFORMATION info;
    EXPECT_EQ(parseTzif(nullptr, 100, kWinter2026, true, kFallback, &info), TzifOutcome::Unreadable);
    EXPECT_TRUE(onlyBias(info, kFallback));
    EXPECT_EQ(parseTzif(good.data(), good.size(), kWinter2026, true, kFallback, nullptr), TzifOutcome::Unreadable);
    // A bad index on a transition that is not used does not matter.
    EXPECT_EQ(parse(badIndex, kWinter2026, true, &info), TzifOutcome::DaylightRule);
}

TEST(TzifReader, EveryTruncationIsRejected)
{
    for (bool magic : {true, false}) {
        TzifBuilder b = testing::usEastern();
        b.magic = magic;
        const std::vector<unsigned char> data = b.build();
        for (size_t len = 0; len < data.size(); ++len) {
            // A copy of exactly len bytes, so that the sanitizer sees any read past it.
            std::vector<unsigned char> cut(data.begin(), data.begin() + len);
            _TIME_ZONE_INFORMATION info;
            ASSERT_EQ(parse(cut, kWinter2026, true, &info), TzifOutcome::Unreadable) << len;
            ASSERT_TRUE(onlyBias(info, kFallback)) << len;
        }
    }
}

struct TransitionCase {
    const char* name;
    int year, month, day;  // of t, at 2:30
    int nextYear, nextMonth, nextDay;  // 0: no counterpart
    Rule expected;
};

tm wall(int year, int month, int day)
{
    tm t{};
    t.tm_year = year - 1900;
    t.tm_mon = month - 1;
    t.tm_mday = day;
    t.tm_hour = 2;
    t.tm_min = 30;
    timegm(&t);  // fills the weekday
    return t;
}

TEST(FillTransitionDate, RecurringRulesAndAbsoluteDates)
{
    const TransitionCase cases[] = {
        {"second Sunday", 2026, 3, 8, 2027, 3, 14, {0, 3, 0, 2, 2, 30}},
        {"first Sunday", 2026, 11, 1, 2027, 11, 7, {0, 11, 0, 1, 2, 30}},
        {"last Sunday in week 4 and 5", 2026, 10, 25, 2027, 10, 31, {0, 10, 0, 5, 2, 30}},
        {"last Friday of April", 2027, 4, 30, 2028, 4, 28, {0, 4, 5, 5, 2, 30}},
        // 22 February is in the last week of a common February only.
        {"leap February", 2024, 2, 22, 2025, 2, 27, {0, 2, 4, 4, 2, 30}},
        {"common February", 2025, 2, 22, 2026, 2, 28, {0, 2, 6, 5, 2, 30}},
        {"other weekday a year on", 2026, 3, 21, 2027, 3, 21, {2026, 3, 0, 21, 2, 30}},
        {"no counterpart", 2026, 3, 8, 0, 0, 0, {2026, 3, 0, 8, 2, 30}},
        // Friday before the last Sunday: 4th Friday, then 5th but not the last week.
        {"no shared occurrence", 2024, 3, 24, 2025, 3, 30, {2024, 3, 0, 24, 2, 30}},
    };
    for (const TransitionCase& c : cases) {
        SCOPED_TRACE(c.name);
        const tm t = wall(c.year, c.month, c.day);
        const tm next = c.nextYear ? wall(c.nextYear, c.nextMonth, c.nextDay) : tm{};
        _SYSTEMTIME rule{};
        fillTransitionDate(&rule, &t, c.nextYear ? &next : nullptr);
        expectRule(rule, c.expected, c.name);
    }
}

TEST(FillTransitionDate, LeapYears)
{
    EXPECT_TRUE(isLeapYear(2000));
    EXPECT_TRUE(isLeapYear(2024));
    EXPECT_FALSE(isLeapYear(1900));
    EXPECT_FALSE(isLeapYear(2100));
    EXPECT_FALSE(isLeapYear(2026));
}

TEST(ZoneFilePath, NamesFromTheServerStayInTheZoneFolder)
{
    std::string path;
    ASSERT_TRUE(zoneFilePath(nullptr, &path));
    EXPECT_EQ(path, "/etc/localtime");
    ASSERT_TRUE(zoneFilePath("America/New_York", &path));
    EXPECT_EQ(path, "/usr/share/zoneinfo/America/New_York");
    EXPECT_TRUE(zoneFilePath("..hidden/x..", &path));  // dots inside a component are fine

    for (const char* bad : {"", "..", "../../etc/passwd", "Europe/../../etc/shadow", "Europe/.."})
        EXPECT_FALSE(zoneFilePath(bad, &path)) << bad;

    const std::string longest(149 - 20, 'a');
    EXPECT_TRUE(zoneFilePath(longest.c_str(), &path));
    EXPECT_FALSE(zoneFilePath((longest + "a").c_str(), &path));
}

TEST(ZoneFile, ReadsRegularFilesOnly)
{
    std::vector<unsigned char> data;
    EXPECT_FALSE(readZoneFile("/usr/share/zoneinfo/No/Such_Zone", &data));
    EXPECT_FALSE(readZoneFile("/usr/share/zoneinfo/America", &data));  // a directory
    EXPECT_FALSE(readZoneFile("/dev/null", &data));
    if (!readZoneFile("/usr/share/zoneinfo/America/New_York", &data))
        GTEST_SKIP() << "no zone files on this machine";
    _TIME_ZONE_INFORMATION info;
    ASSERT_EQ(parse(data, kWinter2026, true, &info), TzifOutcome::DaylightRule);
    EXPECT_EQ(info.Bias, 300);
    EXPECT_EQ(info.DaylightBias, -60);
    expectRule(info.DaylightDate, {0, 3, 0, 2, 2, 0}, "second Sunday of March");
    expectRule(info.StandardDate, {0, 11, 0, 1, 2, 0}, "first Sunday of November");
}

} // namespace
} // namespace zel
