#include "core/messages/wire_values.h"

#include <gtest/gtest.h>

#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <limits>
#include <string>

namespace zel {
namespace {

// What the number readers give by the general route: blanks and a lone '+' skipped,
// then from_chars, anything not finite read as 0.
double generalDouble(const std::string& text)
{
    size_t i = text.find_first_not_of(" \t");
    if (i == std::string::npos)
        return 0.0;
    if (text[i] == '+' && !(i + 1 < text.size() && text[i + 1] == '-'))
        ++i;
    double v = 0.0;
    const auto r = std::from_chars(text.data() + i, text.data() + text.size(), v, std::chars_format::general);
    return r.ec == std::errc() && std::isfinite(v) ? v : 0.0;
}

// Bit-for-bit equal, so that a sign of zero or a last-place rounding shows.
bool sameBits(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

TEST(WireNumbers, DecimalsReadExactlyAsTheGeneralRoute)
{
    const char* const texts[] = {
        "0", "-0", "0.0", "-0.000", "1.23456", "1.23450", "100000", "-42.5", "+7.25", "  3.5", "\t-1",
        ".5", "-.5", "5.", "1.2.3", "12abc", "0x10", "1e5", "1.5E-3", "2e", "-", "+", "+-1", "--1", ".", "",
        "abc", "inf", "-nan", "1e400", "9007199254740992", "9007199254740993", "0.1", "0.3", "2.675",
        "123456789012345678", "1234567890123456789", "12345678901234567890", "0.0000000000000000000001",
        "0.00000000000000000000001", "4.35", "1e-400", "0.30000000000000004", "17976931348623157",
    };
    for (const char* t : texts) {
        SCOPED_TRACE(std::string("\"") + t + "\"");
        const double expected = generalDouble(t);
        EXPECT_TRUE(sameBits(parseWireDouble(t), expected)) << parseWireDouble(t) << " vs " << expected;
        EXPECT_TRUE(sameBits(parseWireDouble(t, std::strlen(t)), expected));
    }
    // Prices and amounts as the servers write them, over many digits and scales.
    uint64_t seed = 7;
    for (int i = 0; i < 20000; ++i) {
        seed = seed * 6364136223846793005u + 1442695040888963407u;
        char buf[64];
        const int decimals = int(seed >> 60) % 12;
        const double value = double(seed >> 11) / double(uint64_t{1} << (seed >> 58)) * ((seed & 1) ? -1 : 1);
        std::snprintf(buf, sizeof buf, "%.*f", decimals, value);
        ASSERT_TRUE(sameBits(parseWireDouble(buf), generalDouble(buf))) << buf;
    }
}

TEST(WireNumbers, IntegersSaturateAndReadTheirLeadingPart)
{
    const int32_t max = std::numeric_limits<int32_t>::max(), min = std::numeric_limits<int32_t>::min();
    const struct {
        const char* text;
        int32_t expected;
    } cases[] = {
        {"42", 42},       {"-7", -7},      {"+5", 5},        {"+-5", 0},         {"  12abc", 12},
        {"\t3", 3},       {"1.9", 1},      {"", 0},          {"abc", 0},         {"-", 0},
        {"2147483647", max}, {"2147483648", max}, {"-2147483649", min}, {"99999999999999999999999", max},
        {"-99999999999999999999999", min},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(parseWireInt(c.text), c.expected) << c.text;
        EXPECT_EQ(parseWireInt(c.text, std::strlen(c.text)), c.expected) << c.text;
    }
    EXPECT_EQ(parseWireInt(nullptr), 0);
    EXPECT_EQ(parseWireInt(nullptr, 3), 0);
    EXPECT_EQ(parseWireDouble(nullptr), 0.0);
    EXPECT_EQ(parseWireDouble(nullptr, 3), 0.0);
}

// The length forms read the given slice only: what follows it, even digits, is not
// part of the number, and a slice of blanks or a lone sign holds none.
TEST(WireNumbers, LengthFormsStopAtTheirLength)
{
    const char text[] = "12345.678e3";
    EXPECT_EQ(parseWireInt(text, 3), 123);
    EXPECT_EQ(parseWireInt(text, 0), 0);
    EXPECT_EQ(parseWireDouble(text, 2), 12.0);
    EXPECT_EQ(parseWireDouble(text, 7), 12345.6);
    EXPECT_EQ(parseWireDouble(text, 9), 12345.678);  // "e" with no digit after it
    EXPECT_EQ(parseWireDouble(text, 11), 12345678.0);
    EXPECT_EQ(parseWireDouble("+-1", 1), 0.0);
    EXPECT_EQ(parseWireDouble("+5", 1), 0.0);
    EXPECT_EQ(parseWireInt("  7", 2), 0);
    EXPECT_EQ(parseWireInt("-12", 1), 0);
}

} // namespace
} // namespace zel
