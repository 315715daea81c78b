#include "merrow/utc_timestamp.h"

#include <cmath>
#include <cstdio>
#include <cstring>

namespace merrow {

namespace {

constexpr long long kMsPerDay = 86400000LL;
// Days from 1 January 1970 to 30 December 1899, the serials' day 0.
constexpr long long kSerialEpoch = -25569;
constexpr double kMinSerial = -657434.0;   // 1 January 100
constexpr double kMaxSerialEnd = 2958466.0;  // just past 31 December 9999

// Proleptic Gregorian calendar over days since 1970-01-01.
long long daysFromCivil(long long y, unsigned m, unsigned d)
{
    y -= m <= 2;
    const long long era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<long long>(doe) - 719468;
}

void civilFromDays(long long z, int& y, int& m, int& d)
{
    z += 719468;
    const long long era = (z >= 0 ? z : z - 146096) / 146097;
    const unsigned doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    y = static_cast<int>(static_cast<long long>(yoe) + era * 400 + (m <= 2));
}

int daysInMonth(int y, int m)
{
    static const int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (m == 2 && ((y % 4 == 0 && y % 100 != 0) || y % 400 == 0))
        return 29;
    return days[m - 1];
}

bool digits(const char* p, int n, int& out)
{
    int v = 0;
    for (int i = 0; i < n; ++i) {
        if (p[i] < '0' || p[i] > '9')
            return false;
        v = v * 10 + (p[i] - '0');
    }
    out = v;
    return true;
}

} // namespace

void CUTCTimestamp::clear()
{
    m_valid = false;
    m_serial = 0.0;
    m_year = m_month = m_day = m_hour = m_minute = m_second = m_ms = 0;
    m_text[0] = '\0';
}

bool CUTCTimestamp::setText(const char* text)
{
    return setText(text, text ? std::strlen(text) : 0);
}

bool CUTCTimestamp::setText(const char* text, size_t length)
{
    clear();
    if (!text || (length != 17 && length != 21))
        return false;
    int y, mo, d, h, mi, s, ms = 0;
    if (!digits(text, 4, y) || !digits(text + 4, 2, mo) || !digits(text + 6, 2, d) || text[8] != '-' ||
        !digits(text + 9, 2, h) || text[11] != ':' || !digits(text + 12, 2, mi) || text[14] != ':' ||
        !digits(text + 15, 2, s))
        return false;
    if (length == 21 && (text[17] != '.' || !digits(text + 18, 3, ms)))
        return false;
    if (y < 100 || mo < 1 || mo > 12 || d < 1 || d > daysInMonth(y, mo) || h > 23 || mi > 59 || s > 59)
        return false;

    const long long day = daysFromCivil(y, static_cast<unsigned>(mo), static_cast<unsigned>(d)) - kSerialEpoch;
    const long long msOfDay = ((h * 60LL + mi) * 60 + s) * 1000 + ms;
    const double fraction = static_cast<double>(msOfDay) / static_cast<double>(kMsPerDay);
    m_serial = day >= 0 ? static_cast<double>(day) + fraction : static_cast<double>(day) - fraction;
    m_year = y;
    m_month = mo;
    m_day = d;
    m_hour = h;
    m_minute = mi;
    m_second = s;
    m_ms = ms;
    m_valid = true;
    format(m_text, sizeof m_text, m_ms != 0);
    return true;
}

bool CUTCTimestamp::setDate(double serial)
{
    clear();
    if (!std::isfinite(serial) || serial < kMinSerial || serial >= kMaxSerialEnd)
        return false;
    const double whole = std::trunc(serial);
    long long day = static_cast<long long>(whole);
    long long ms = std::llround(std::fabs(serial - whole) * static_cast<double>(kMsPerDay));
    if (ms >= kMsPerDay) {
        // Rounded up to the next midnight, which is the next calendar day on
        // either side of day 0.
        ms -= kMsPerDay;
        ++day;
    }
    if (static_cast<double>(day) >= kMaxSerialEnd)
        return false;
    civilFromDays(day + kSerialEpoch, m_year, m_month, m_day);
    m_hour = static_cast<int>(ms / 3600000);
    m_minute = static_cast<int>(ms / 60000 % 60);
    m_second = static_cast<int>(ms / 1000 % 60);
    m_ms = static_cast<int>(ms % 1000);
    const double fraction = static_cast<double>(ms) / static_cast<double>(kMsPerDay);
    m_serial = day >= 0 ? static_cast<double>(day) + fraction : static_cast<double>(day) - fraction;
    m_valid = true;
    format(m_text, sizeof m_text, m_ms != 0);
    return true;
}

bool CUTCTimestamp::format(char* out, size_t size, bool withMilliseconds) const
{
    const size_t needed = withMilliseconds ? 22 : 18;
    if (!out || size == 0)
        return false;
    if (!m_valid || size < needed) {
        out[0] = '\0';
        return false;
    }
    if (withMilliseconds)
        std::snprintf(out, size, "%04d%02d%02d-%02d:%02d:%02d.%03d", m_year, m_month, m_day, m_hour, m_minute,
                      m_second, m_ms);
    else
        std::snprintf(out, size, "%04d%02d%02d-%02d:%02d:%02d", m_year, m_month, m_day, m_hour, m_minute, m_second);
    return true;
}

double CUTCTimestamp::toDate(const char* text)
{
    CUTCTimestamp t;
    t.setText(text);
    return t.getDate();
}

} // namespace merrow
