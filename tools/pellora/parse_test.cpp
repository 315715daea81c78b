#include "parse.h"

#include <gtest/gtest.h>

namespace pellora::cli {
namespace {

TEST(ParseTest, Amounts) {
    struct {
        const char* text;
        bool ok;
        int value;
    } cases[] = {{"1000", true, 1000}, {"2147483647", true, 2147483647}, {"0", false, 0},
                 {"-5", false, 0},     {"1e3", false, 0},                {"2147483648", false, 0},
                 {"", false, 0},       {"10.5", false, 0},               {"99999999999999999999", false, 0}};
    for (const auto& c : cases) {
        int v = 0;
        std::string error;
        EXPECT_EQ(parseAmount(c.text, v, error), c.ok) << c.text;
        if (c.ok) EXPECT_EQ(v, c.value);
        else EXPECT_FALSE(error.empty());
    }
    // A whole number too large is named as such, not as a malformed one.
    int v = 0;
    std::string error;
    EXPECT_FALSE(parseAmount("99999999999", v, error));
    EXPECT_NE(error.find("must be from 1 to"), std::string::npos) << error;
}

TEST(ParseTest, Rates) {
    for (const char* good : {"1.10523", "150", ".5", "1."}) {
        double v = 0;
        std::string error;
        EXPECT_TRUE(parseRate(good, v, error)) << good;
        EXPECT_GT(v, 0);
    }
    for (const char* bad : {"", "0", "0.0", "-1.2", "1.2.3", "abc", "nan", "inf", "1e5", "0x10", "1,5"}) {
        double v = 0;
        std::string error;
        EXPECT_FALSE(parseRate(bad, v, error)) << bad;
    }
}

TEST(ParseTest, DatesInUtc) {
    double a = 0, b = 0, c = 0;
    std::string error;
    ASSERT_TRUE(parseDate("2026-12-11", a, error));
    ASSERT_TRUE(parseDate("2026-12-11T12:00", b, error));
    ASSERT_TRUE(parseDate("2026-12-11 12:00:30Z", c, error));
    EXPECT_DOUBLE_EQ(b - a, 0.5);
    EXPECT_NEAR((c - b) * 86400, 30, 1e-6);
    EXPECT_EQ(formatDate(c), "2026-12-11 12:00:30");
    for (const char* bad : {"", "2026-13-01", "2026-02-30", "2026/12/11", "yesterday", "2026-12-11T25:00",
                            "2026-12-11T10", "2026-12-11T10:00:00:00", "0000-01-01"}) {
        double v = 0;
        EXPECT_FALSE(parseDate(bad, v, error)) << bad;
    }
}

TEST(ParseTest, TimeframesAreCaseSensitive) {
    EXPECT_TRUE(isKnownTimeframe("m1"));
    EXPECT_TRUE(isKnownTimeframe("M1"));
    EXPECT_TRUE(isKnownTimeframe("H8"));
    EXPECT_FALSE(isKnownTimeframe("h1"));
    EXPECT_FALSE(isKnownTimeframe("H5"));
    EXPECT_FALSE(isKnownTimeframe(""));
}

}  // namespace
}  // namespace pellora::cli
