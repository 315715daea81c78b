#include "zone_rules.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

namespace pellora::dealer {
namespace {

const std::string kZoneDir = "/usr/share/zoneinfo";

std::string fileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

ZoneRules newYorkFile() {
    ZoneRules z;
    const Status s = ZoneRules::loadFile(kZoneDir + "/America/New_York", z);
    EXPECT_TRUE(s.isOk()) << s.text();
    return z;
}

TEST(ZoneRules, NewYorkOffsetsAroundTransitions) {
    const ZoneRules z = newYorkFile();
    struct Case {
        UnixMs utc;
        int hours;
    } cases[] = {
        {makeUtc(2024, 1, 15, 12), -5},
        {makeUtc(2024, 7, 1, 12), -4},
        {makeUtc(2024, 3, 10, 6, 59, 59), -5},  // 01:59:59 EST
        {makeUtc(2024, 3, 10, 7), -4},          // 03:00 EDT
        {makeUtc(2024, 11, 3, 5, 59, 59), -4},  // 01:59:59 EDT
        {makeUtc(2024, 11, 3, 6), -5},          // 01:00 EST again
        {makeUtc(2006, 3, 12, 12), -5},         // before 2007 daylight time began in April
        {makeUtc(2006, 4, 2, 7), -4},
        {makeUtc(2100, 7, 1), -4},              // beyond the table: the file's rule
        {makeUtc(1960, 1, 1), -5},
    };
    for (const Case& c : cases) EXPECT_EQ(z.offsetSeconds(c.utc), c.hours * 3600) << utcTimestamp(c.utc);
}

TEST(ZoneRules, PosixRuleAgreesWithTheFileSince2007) {
    const ZoneRules file = newYorkFile();
    ZoneRules rule;
    ASSERT_TRUE(ZoneRules::fromRule("EST5EDT,M3.2.0,M11.1.0", rule).isOk());
    for (UnixMs t = makeUtc(2007, 1, 1); t < makeUtc(2045, 1, 1); t += 3 * kMsPerHour)
        ASSERT_EQ(file.offsetSeconds(t), rule.offsetSeconds(t)) << utcTimestamp(t);
}

TEST(ZoneRules, SouthernRuleAndOffsetsWithMinutes) {
    ZoneRules z;
    ASSERT_TRUE(ZoneRules::fromRule("<+1030>-10:30<+11>-11,M10.1.0,M4.1.0", z).isOk());
    EXPECT_EQ(z.offsetSeconds(makeUtc(2024, 1, 10)), 11 * 3600);
    EXPECT_EQ(z.offsetSeconds(makeUtc(2024, 7, 10)), 10 * 3600 + 1800);
}

TEST(ZoneRules, RejectsBrokenInputWithoutCrashing) {
    ZoneRules z;
    for (const char* rule : {"", "EST", "EST5EDT,J60,J300", "EST5EDT,M13.1.0,M11.1.0", "EST5EDT,M3.2.0"})
        EXPECT_FALSE(ZoneRules::fromRule(rule, z).isOk()) << rule;
    const std::string good = fileBytes(kZoneDir + "/America/New_York");
    ASSERT_GT(good.size(), 100u);
    for (size_t cut : {size_t{0}, size_t{10}, size_t{44}, size_t{100}, good.size() / 2})
        EXPECT_FALSE(ZoneRules::parseTzif(good.substr(0, cut), z).isOk()) << cut;
    std::string huge = good;
    huge[32] = '\x7f';  // transition count of the first block
    EXPECT_FALSE(ZoneRules::parseTzif(huge, z).isOk());
    EXPECT_FALSE(ZoneRules::loadFile("/nonexistent/zone", z).isOk());
}

TEST(MarketCalendar, WeekendAndSessionBoundaries) {
    const MarketCalendar c = MarketCalendar::newYork(kZoneDir);
    // Friday 8 March 2024 17:00 EST = 22:00 UTC; Sunday 10 March 17:00 EDT = 21:00 UTC.
    EXPECT_FALSE(c.isWeekend(makeUtc(2024, 3, 8, 21, 59, 59)));
    EXPECT_TRUE(c.isWeekend(makeUtc(2024, 3, 8, 22)));
    EXPECT_TRUE(c.isWeekend(makeUtc(2024, 3, 9, 12)));
    EXPECT_TRUE(c.isWeekend(makeUtc(2024, 3, 10, 20, 59, 59)));
    EXPECT_FALSE(c.isWeekend(makeUtc(2024, 3, 10, 21)));

    EXPECT_EQ(c.tradingDayStart(makeUtc(2024, 7, 2, 15)), makeUtc(2024, 7, 1, 21));
    EXPECT_EQ(c.tradingDayStart(makeUtc(2024, 7, 2, 21)), makeUtc(2024, 7, 2, 21));
    EXPECT_EQ(c.tradingDayStart(makeUtc(2024, 1, 2, 21, 30)), makeUtc(2024, 1, 1, 22));
    EXPECT_EQ(c.nextTradingDayStart(makeUtc(2024, 3, 9, 12)), makeUtc(2024, 3, 9, 22));
    EXPECT_EQ(c.nextTradingDayStart(makeUtc(2024, 3, 9, 23)), makeUtc(2024, 3, 10, 21));  // across the change
    EXPECT_EQ(c.weekStart(makeUtc(2024, 7, 3, 12)), makeUtc(2024, 6, 30, 21));
    EXPECT_EQ(c.weekStart(makeUtc(2024, 6, 30, 21)), makeUtc(2024, 6, 30, 21));
    EXPECT_EQ(c.monthStart(makeUtc(2024, 7, 15)), makeUtc(2024, 6, 30, 21));
    EXPECT_EQ(c.monthStart(makeUtc(2024, 6, 30, 22)), makeUtc(2024, 6, 30, 21));  // July's first session
    EXPECT_EQ(c.nextMonthStart(makeUtc(2024, 7, 15)), makeUtc(2024, 7, 31, 21));
    EXPECT_EQ(c.nextMonthStart(makeUtc(2024, 12, 15)), makeUtc(2024, 12, 31, 22));
}

TEST(MarketCalendar, FallsBackToTheUsRuleWithoutZoneFiles) {
    bool fallback = false;
    const MarketCalendar c = MarketCalendar::newYork("/nonexistent", &fallback);
    EXPECT_TRUE(fallback);
    EXPECT_TRUE(c.isWeekend(makeUtc(2024, 3, 8, 22)));
    EXPECT_EQ(c.tradingDayStart(makeUtc(2024, 7, 2, 15)), makeUtc(2024, 7, 1, 21));
    MarketCalendar::newYork(kZoneDir, &fallback);
    EXPECT_FALSE(fallback);
}

} // namespace
} // namespace pellora::dealer
