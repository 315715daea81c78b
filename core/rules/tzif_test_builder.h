#pragma once
// Builds small TZif buffers for tests: one 32-bit data block, no leap seconds and
// no indicators, so every byte of the result is read by the parser.

#include <cstdint>
#include <ctime>
#include <string>
#include <vector>

namespace zel {
namespace testing {

struct TzifType {
    int32_t utcOffset;
    bool isDaylight;
    uint8_t abbrIndex;
};

struct TzifBuilder {
    bool magic = true;  // false: the old form, counts at offset 16
    std::vector<int32_t> times;
    std::vector<uint8_t> typeIndexes;
    std::vector<TzifType> types;
    std::string abbreviations;

    TzifBuilder& type(int32_t utcOffset, bool isDaylight, const std::string& abbr)
    {
        types.push_back({utcOffset, isDaylight, uint8_t(abbreviations.size())});
        abbreviations += abbr;
        abbreviations += '\0';
        return *this;
    }
    TzifBuilder& at(int64_t time, uint8_t typeIndex)
    {
        times.push_back(int32_t(time));
        typeIndexes.push_back(typeIndex);
        return *this;
    }

    std::vector<unsigned char> build() const
    {
        std::vector<unsigned char> out;
        if (magic) {
            const char head[] = "TZif2";
            out.insert(out.end(), head, head + 5);
            out.resize(20, 0);
        } else {
            out.resize(16, 0);
        }
        put(out, 0);  // UT/local indicators
        put(out, 0);  // standard/wall indicators
        put(out, 0);  // leap seconds
        put(out, uint32_t(times.size()));
        put(out, uint32_t(types.size()));
        put(out, uint32_t(abbreviations.size()));
        for (int32_t t : times)
            put(out, uint32_t(t));
        out.insert(out.end(), typeIndexes.begin(), typeIndexes.end());
        for (const TzifType& t : types) {
            put(out, uint32_t(t.utcOffset));
            out.push_back(t.isDaylight ? 1 : 0);
            out.push_back(t.abbrIndex);
        }
        out.insert(out.end(), abbreviations.begin(), abbreviations.end());
        return out;
    }

    static void put(std::vector<unsigned char>& out, uint32_t v)
    {
        out.push_back(uint8_t(v >> 24));
        out.push_back(uint8_t(v >> 16));
        out.push_back(uint8_t(v >> 8));
        out.push_back(uint8_t(v));
    }
};

// Seconds since 1970 of a UTC calendar time.
inline int64_t utcTime(int year, int month, int day, int hour = 0, int minute = 0)
{
    tm t{};
    t.tm_year = year - 1900;
    t.tm_mon = month - 1;
    t.tm_mday = day;
    t.tm_hour = hour;
    t.tm_min = minute;
    return int64_t(timegm(&t));
}

// US Eastern 2025-2029: second Sunday of March 2:00 EST, first Sunday of November 2:00 EDT.
inline TzifBuilder usEastern()
{
    TzifBuilder b;
    b.type(-18000, false, "EST").type(-14400, true, "EDT");
    const int march[] = {9, 8, 14, 12, 11};
    const int november[] = {2, 1, 7, 5, 4};
    for (int i = 0; i < 5; ++i) {
        b.at(utcTime(2025 + i, 3, march[i], 7), 1);
        b.at(utcTime(2025 + i, 11, november[i], 6), 0);
    }
    return b;
}

// Sydney 2026-2029: first Sunday of April 3:00 AEDT, first Sunday of October 2:00 AEST
// (both 16:00 UTC the day before).
inline TzifBuilder sydney()
{
    TzifBuilder b;
    b.type(39600, true, "AEDT").type(36000, false, "AEST");
    const int april[] = {5, 4, 2, 1};
    const int october[] = {4, 3, 1, 7};
    for (int i = 0; i < 4; ++i) {
        b.at(utcTime(2026 + i, 4, april[i], 16) - 86400, 1);
        b.at(utcTime(2026 + i, 10, october[i], 16) - 86400, 0);
    }
    return b;
}

} // namespace testing
} // namespace zel
