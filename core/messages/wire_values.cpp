#include "core/messages/wire_values.h"

#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>
#include <system_error>

namespace zel {

namespace {

// Skips blanks and a '+' that from_chars would refuse.
const char* numberStart(const char* text, const char* end)
{
    while (text < end && (*text == ' ' || *text == '\t'))
        ++text;
    if (text < end && *text == '+' && !(text + 1 < end && text[1] == '-'))
        ++text;
    return text;
}

// The powers of ten a double holds exactly.
constexpr double kExactPowersOfTen[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,  1e8,  1e9,  1e10, 1e11,
                                        1e12, 1e13, 1e14, 1e15, 1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};

// The wire's plain decimals (an optional '-', digits, a fraction, no exponent) whose
// digits fit 53 bits: the quotient of two exact doubles is rounded once, so it equals
// what from_chars gives. False sends every other text to from_chars.
bool parsePlainDecimal(const char* p, const char* end, double& out)
{
    const bool negative = p < end && *p == '-';
    if (negative)
        ++p;
    uint64_t mantissa = 0;
    int digits = 0;
    int fraction = 0;
    bool point = false;
    for (; p < end; ++p) {
        const unsigned digit = static_cast<unsigned char>(*p) - unsigned{'0'};
        if (digit < 10) {
            if (++digits > 19)
                return false;
            mantissa = mantissa * 10 + digit;
            fraction += point ? 1 : 0;
        } else if (*p == '.' && !point) {
            point = true;
        } else {
            break;
        }
    }
    if (digits == 0 || fraction > 22 || mantissa > (uint64_t{1} << 53))
        return false;
    if (p < end && (*p == 'e' || *p == 'E'))
        return false;
    const double v = static_cast<double>(mantissa) / kExactPowersOfTen[fraction];
    out = negative ? -v : v;
    return true;
}

} // namespace

int32_t parseWireInt(const char* text)
{
    return text == nullptr ? 0 : parseWireInt(text, std::strlen(text));
}

int32_t parseWireInt(const char* text, size_t length)
{
    if (text == nullptr)
        return 0;
    const char* end = text + length;
    const char* p = numberStart(text, end);
    int64_t v = 0;
    const auto r = std::from_chars(p, end, v, 10);
    if (r.ec == std::errc::result_out_of_range)
        return *p == '-' ? std::numeric_limits<int32_t>::min() : std::numeric_limits<int32_t>::max();
    if (r.ec != std::errc())
        return 0;
    if (v < std::numeric_limits<int32_t>::min())
        return std::numeric_limits<int32_t>::min();
    if (v > std::numeric_limits<int32_t>::max())
        return std::numeric_limits<int32_t>::max();
    return static_cast<int32_t>(v);
}

double parseWireDouble(const char* text)
{
    return text == nullptr ? 0.0 : parseWireDouble(text, std::strlen(text));
}

double parseWireDouble(const char* text, size_t length)
{
    if (text == nullptr)
        return 0.0;
    const char* end = text + length;
    const char* p = numberStart(text, end);
    double v = 0.0;
    if (parsePlainDecimal(p, end, v))
        return v;
    const auto r = std::from_chars(p, end, v, std::chars_format::general);
    if (r.ec != std::errc() || !std::isfinite(v))
        return 0.0;
    return v;
}

std::string formatWireDouble(double value)
{
    if (std::isnan(value))
        return std::signbit(value) ? "-nan" : "nan";
    char buf[400];  // the longest fixed form of a double with six decimals fits
    const auto r = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::fixed, 6);
    if (r.ec != std::errc())
        return std::string();
    return std::string(buf, r.ptr);
}

bool equalsIgnoreCase(const char* a, const char* b)
{
    if (a == nullptr || b == nullptr)
        return false;
    for (;; ++a, ++b) {
        const unsigned char x = static_cast<unsigned char>(*a), y = static_cast<unsigned char>(*b);
        const unsigned char lx = (x >= 'A' && x <= 'Z') ? x + ('a' - 'A') : x;
        const unsigned char ly = (y >= 'A' && y <= 'Z') ? y + ('a' - 'A') : y;
        if (lx != ly)
            return false;
        if (x == 0)
            return true;
    }
}

} // namespace zel
