#include "core/messages/wire_values.h"

#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>
#include <system_error>

namespace zel {

namespace {

// Skips blanks and a '+' that from_chars would refuse.
const char* numberStart(const char* text)
{
    while (*text == ' ' || *text == '\t')
        ++text;
    if (*text == '+' && text[1] != '-')
        ++text;
    return text;
}

} // namespace

int32_t parseWireInt(const char* text)
{
    if (text == nullptr)
        return 0;
    const char* p = numberStart(text);
    const char* end = p + std::strlen(p);
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
    if (text == nullptr)
        return 0.0;
    const char* p = numberStart(text);
    double v = 0.0;
    const auto r = std::from_chars(p, p + std::strlen(p), v, std::chars_format::general);
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
