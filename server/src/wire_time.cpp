#include "wire_time.h"

#include <cmath>
#include <cstdio>

#include "vorntool/date.h"

namespace pellora::dealer {

namespace {
constexpr double kUnixEpochSerial = 25569.0;  // 1970-01-01 as a day serial

int64_t floorDiv(int64_t a, int64_t b) { return a / b - ((a % b != 0) && ((a < 0) != (b < 0))); }
} // namespace

double toSerial(UnixMs t) { return kUnixEpochSerial + static_cast<double>(t) / kMsPerDay; }

UnixMs fromSerial(double serial) {
    return static_cast<UnixMs>(std::llround((serial - kUnixEpochSerial) * kMsPerDay));
}

// Howard Hinnant's civil-date algorithms.
int64_t daysFromCivil(int y, unsigned m, unsigned d) {
    y -= m <= 2;
    const int64_t era = floorDiv(y, 400);
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

void civilFromDays(int64_t z, int& y, unsigned& m, unsigned& d) {
    z += 719468;
    const int64_t era = floorDiv(z, 146097);
    const unsigned doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    d = doy - (153 * mp + 2) / 5 + 1;
    m = mp < 10 ? mp + 3 : mp - 9;
    y = static_cast<int>(yoe + era * 400) + (m <= 2);
}

int weekdayFromDays(int64_t days) {
    const int64_t w = (days + 4) % 7;  // 1970-01-01 was a Thursday
    return static_cast<int>(w < 0 ? w + 7 : w);
}

UnixMs makeUtc(int y, unsigned mo, unsigned d, unsigned h, unsigned mi, unsigned s, unsigned ms) {
    return daysFromCivil(y, mo, d) * kMsPerDay + h * kMsPerHour + mi * kMsPerMinute + s * kMsPerSecond + ms;
}

namespace {
struct Fields {
    int y;
    unsigned mo, d, h, mi, s, ms;
};
Fields split(UnixMs t) {
    Fields f{};
    const int64_t days = floorDiv(t, kMsPerDay);
    int64_t rest = t - days * kMsPerDay;
    civilFromDays(days, f.y, f.mo, f.d);
    f.h = static_cast<unsigned>(rest / kMsPerHour);
    rest %= kMsPerHour;
    f.mi = static_cast<unsigned>(rest / kMsPerMinute);
    rest %= kMsPerMinute;
    f.s = static_cast<unsigned>(rest / kMsPerSecond);
    f.ms = static_cast<unsigned>(rest % kMsPerSecond);
    return f;
}
} // namespace

void appendDasTimestamp(std::string& out, UnixMs t) {
    const Fields f = split(t);
    char buf[40];
    if (f.y < 0 || f.y > 9999) {
        std::snprintf(buf, sizeof buf, "%02u%02u%04d%02u%02u%02u%03u", f.mo, f.d, f.y, f.h, f.mi, f.s, f.ms);
        out += buf;
        return;
    }
    // The price ticks write one per update: digits by hand rather than printf.
    char* p = buf;
    const auto put = [&p](unsigned v, int width) {
        for (int i = width - 1; i >= 0; --i, v /= 10) p[i] = static_cast<char>('0' + v % 10);
        p += width;
    };
    put(f.mo, 2);
    put(f.d, 2);
    put(static_cast<unsigned>(f.y), 4);
    put(f.h, 2);
    put(f.mi, 2);
    put(f.s, 2);
    put(f.ms, 3);
    out.append(buf, p);
}

std::string dasTimestamp(UnixMs t) {
    std::string out;
    appendDasTimestamp(out, t);
    return out;
}

std::string utcTimestamp(UnixMs t) {
    const Fields f = split(t);
    char buf[40];
    std::snprintf(buf, sizeof buf, "%04d%02u%02u-%02u:%02u:%02u", f.y, f.mo, f.d, f.h, f.mi, f.s);
    return buf;
}

bool parseIsoUtc(const std::string& text, UnixMs& out) {
    int y = 0;
    unsigned mo = 0, d = 0, h = 0, mi = 0, s = 0;
    char sep = 0;
    int used = 0;
    const int n = std::sscanf(text.c_str(), "%4d-%2u-%2u%c%2u:%2u%n", &y, &mo, &d, &sep, &h, &mi, &used);
    if (n < 6 || (sep != ' ' && sep != 'T')) return false;
    size_t pos = static_cast<size_t>(used);
    if (pos < text.size() && text[pos] == ':') {
        int more = 0;
        if (std::sscanf(text.c_str() + pos, ":%2u%n", &s, &more) != 1) return false;
        pos += static_cast<size_t>(more);
    }
    if (pos < text.size() && text[pos] == 'Z') ++pos;
    if (pos != text.size()) return false;
    if (!vorntool::date::validate(static_cast<uint16_t>(y), static_cast<uint16_t>(mo),
                                  static_cast<uint16_t>(d)) ||
        y < 1970 || h > 23 || mi > 59 || s > 59)
        return false;
    out = makeUtc(y, mo, d, h, mi, s);
    return true;
}

} // namespace pellora::dealer
