#include "merrow/utc_timestamp.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

namespace merrow {
namespace {

constexpr double kSecond = 1.0 / 86400.0;

TEST(UTCTimestampTest, TextsBecomeSerialsAndBack)
{
    struct Case {
        const char* text;
        double serial;
    };
    const Case cases[] = {
        {"18991230-00:00:00", 0.0},
        {"18991231-12:00:00", 1.5},
        {"18991229-06:00:00", -1.25},  // before day 0 the fraction counts away from zero
        {"19000101-00:00:00", 2.0},
        {"20000101-00:00:00", 36526.0},
        {"20110315-14:30:05", 40617.0 + 52205 * kSecond},
        {"20110315-14:30:05.250", 40617.0 + 52205.25 * kSecond},
        {"20240229-23:59:59.999", 45351.0 + 86399.999 * kSecond},
        {"01000101-00:00:00", -657434.0},
        {"99991231-23:59:59.999", 2958465.0 + 86399.999 * kSecond},
    };
    for (const Case& c : cases) {
        CUTCTimestamp t;
        ASSERT_TRUE(t.setText(c.text)) << c.text;
        EXPECT_NEAR(t.getDate(), c.serial, 1e-9) << c.text;
        EXPECT_STREQ(t.getText(), c.text);
        EXPECT_EQ(CUTCTimestamp::toDate(c.text), t.getDate());
        const CUTCTimestamp back(t.getDate());
        ASSERT_TRUE(back.isValid()) << c.text;
        EXPECT_STREQ(back.getText(), c.text);
        EXPECT_EQ(back.getDate(), t.getDate());
    }
}

TEST(UTCTimestampTest, EveryMillisecondSurvivesTheSerialOnBothSidesOfDayZero)
{
    for (const char* day : {"20110315-23:59:59", "18991229-00:00:01"}) {
        for (int ms = 0; ms < 1000; ++ms) {
            char text[32];
            std::snprintf(text, sizeof text, "%s.%03d", day, ms);
            CUTCTimestamp t;
            ASSERT_TRUE(t.setText(text));
            const CUTCTimestamp back(t.getDate());
            char out[32];
            ASSERT_TRUE(back.format(out, sizeof out, true));
            ASSERT_STREQ(out, text);
        }
    }
}

TEST(UTCTimestampTest, SerialsRoundToTheMillisecondAndCarryIntoTheNextDay)
{
    struct Case {
        double serial;
        const char* text;
    };
    const Case cases[] = {
        {40617.5, "20110315-12:00:00"},
        {40617.5 + 0.0004 * kSecond, "20110315-12:00:00"},
        {40617.5 + 0.0006 * kSecond, "20110315-12:00:00.001"},
        {40617.999999999, "20110316-00:00:00"},
        {-1.999999999, "18991230-00:00:00"},
        {-0.25, "18991230-06:00:00"},
    };
    for (const Case& c : cases) {
        const CUTCTimestamp t(c.serial);
        ASSERT_TRUE(t.isValid()) << c.serial;
        EXPECT_STREQ(t.getText(), c.text) << c.serial;
    }
}

TEST(UTCTimestampTest, InvalidTextsAndSerialsGiveTheEmptyDate)
{
    const char* texts[] = {
        "",
        "20110315-14:30",
        "20110315 14:30:05",
        "20110315-14:30:05.25",
        "20110315-14:30:05.2500",
        "20110315-14:30:05,250",
        "20110315-14:30:05Z",
        " 20110315-14:30:05",
        "+0110315-14:30:05",
        "2011031a-14:30:05",
        "20110315-14-30-05",
        "20110315:14:30:05",
        "20111315-14:30:05",
        "20110015-14:30:05",
        "20110230-14:30:05",
        "20110300-14:30:05",
        "19000229-00:00:00",  // 1900 is not a leap year
        "20110315-24:00:00",
        "20110315-14:60:00",
        "20110315-14:30:60",
        "00990101-00:00:00",  // before the serials' range
    };
    for (const char* text : texts) {
        CUTCTimestamp t;
        EXPECT_FALSE(t.setText(text)) << text;
        EXPECT_FALSE(t.isValid()) << text;
        EXPECT_EQ(t.getDate(), 0.0) << text;
        EXPECT_STREQ(t.getText(), "") << text;
    }
    CUTCTimestamp t;
    EXPECT_FALSE(t.setText(nullptr));
    EXPECT_FALSE(t.setText("20110315-14:30:05", 16)) << "the length given counts";
    EXPECT_EQ(CUTCTimestamp::toDate(nullptr), 0.0);

    // A valid timestamp that is set again with something invalid forgets its value.
    ASSERT_TRUE(t.setText("20110315-14:30:05"));
    EXPECT_FALSE(t.setText("junk"));
    EXPECT_EQ(t.getDate(), 0.0);

    const double serials[] = {std::nan(""), std::numeric_limits<double>::infinity(),
                              -std::numeric_limits<double>::infinity(), -657434.5, 2958466.0, 2958465.9999999999, 1e300};
    for (double s : serials) {
        const CUTCTimestamp bad(s);
        EXPECT_FALSE(bad.isValid()) << s;
        EXPECT_EQ(bad.getDate(), 0.0) << s;
        EXPECT_STREQ(bad.getText(), "") << s;
    }
}

TEST(UTCTimestampTest, FormatWithoutMillisecondsTruncatesAndChecksTheRoom)
{
    CUTCTimestamp t;
    ASSERT_TRUE(t.setText("20110315-14:30:05.999"));
    char out[22];
    ASSERT_TRUE(t.format(out, sizeof out, false));
    EXPECT_STREQ(out, "20110315-14:30:05");
    ASSERT_TRUE(t.format(out, sizeof out, true));
    EXPECT_STREQ(out, "20110315-14:30:05.999");
    EXPECT_FALSE(t.format(out, 21, true));
    EXPECT_STREQ(out, "");
    EXPECT_FALSE(t.format(out, 17, false));
    EXPECT_FALSE(CUTCTimestamp().format(out, sizeof out, false));
    EXPECT_FALSE(t.format(nullptr, 0, false));
}

} // namespace
} // namespace merrow
