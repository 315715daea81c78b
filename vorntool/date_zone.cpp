// Zone functions of vorntool::date over a Windows-style zone record.
#include "vorntool/date.h"

namespace vorntool {

namespace {

// Weekday 0 = Sunday of a midnight serial (an integer, so plain day arithmetic holds
// for days before 1899-12-30 too).
int weekday(double midnight)
{
    return date(midnight).getDow() - 1;
}

// The transition instant of a rule in a year; false when the rule names no day
// (month 0 or out of range, weekday or occurrence out of range, impossible date).
bool transition(const _SYSTEMTIME& rule, int year, double& out)
{
    if (year < 100 || year > 9999 || rule.wMonth < 1 || rule.wMonth > 12)
        return false;
    const uint16_t y = static_cast<uint16_t>(year);
    double day;
    if (rule.wYear != 0) {
        if (!date::validate(y, rule.wMonth, rule.wDay))
            return false;
        day = date::construct(y, rule.wMonth, rule.wDay, 0, 0, 0, 0);
    } else {
        if (rule.wDayOfWeek > 6 || rule.wDay < 1 || rule.wDay > 5)
            return false;
        const int w = rule.wDayOfWeek;
        const double first = date::construct(y, rule.wMonth, 1, 0, 0, 0, 0);
        if (rule.wDay == 5) {
            // The 1st of the next month, reached by days so that December 9999 works.
            const int len = rule.wMonth == 12 ? 31
                                              : static_cast<int>(date::construct(y, rule.wMonth + 1, 1, 0, 0, 0, 0) - first);
            const double next = first + len;
            const int e = weekday(next);
            day = next - (w < e ? e - w : 7 - (w - e));
        } else {
            const int e = weekday(first);
            day = first + (w >= e ? w - e : 7 - (e - w)) + 7.0 * (rule.wDay - 1);
        }
    }
    int h = rule.wHour;
    if (day < 0) {
        // Before 1899-12-30 the fraction counts away from zero: whole days go on the
        // day number, the rest is subtracted.
        day += h / 24;
        h %= 24;
        out = day < 0 ? day - h / 24.0 : day + h / 24.0;
    } else {
        out = day + h / 24.0;
    }
    return true;
}

bool validRecord(const _SYSTEMTIME& st)
{
    return date::validate(st.wYear, st.wMonth, st.wDay) && st.wHour <= 23 && st.wMinute <= 59 && st.wSecond <= 59;
}

} // namespace

date date::getDayFromTimeZoneInfo(const _SYSTEMTIME& rule, int year)
{
    double serial = 0.0;
    if (!transition(rule, year, serial))
        return date();
    return date(serial);
}

bool date::isDaylightTime(const date& d, const _TIME_ZONE_INFORMATION* tz, bool isUTC)
{
    if (!tz || (tz->StandardBias == 0 && tz->DaylightBias == 0))
        return false;
    if (tz->StandardDate.wMonth == 0 || tz->DaylightDate.wMonth == 0)
        return false;
    const int year = d.getYear();
    double dl, st;
    if (!transition(tz->DaylightDate, year, dl) || !transition(tz->StandardDate, year, st))
        return false;

    double a = d.getSerial();
    double b = a;
    if (isUTC) {
        a -= (tz->Bias + tz->StandardBias) / 1440.0;
        b -= (tz->Bias + tz->DaylightBias) / 1440.0;
    }
    // Within half a second of a transition counts as after it.
    const bool afterDaylightStart = a >= dl - halfSecond;
    const bool beforeStandardStart = b < st - halfSecond;
    if (dl <= st)
        return afterDaylightStart && beforeStandardStart;
    return afterDaylightStart || beforeStandardStart;
}

date date::convertUTCToTzSpecificLocalTime(const date& utc, const _TIME_ZONE_INFORMATION* tz)
{
    if (!tz)
        return utc;
    const int32_t bias = tz->Bias + (isDaylightTime(utc, tz, true) ? tz->DaylightBias : tz->StandardBias);
    return date(utc.getSerial() - bias / 1440.0);
}

date date::convertTzSpecificLocalTimeToUTC(const date& local, const _TIME_ZONE_INFORMATION* tz)
{
    if (!tz)
        return local;
    const int32_t bias = tz->Bias + (isDaylightTime(local, tz, false) ? tz->DaylightBias : tz->StandardBias);
    return date(local.getSerial() + bias / 1440.0);
}

bool date::systemTimeToTzSpecificLocalTime(const _TIME_ZONE_INFORMATION* tz, const _SYSTEMTIME* in,
                                          _SYSTEMTIME* out)
{
    if (!tz || !in || !out || !validRecord(*in))
        return false;
    date d;
    d.set(in);
    convertUTCToTzSpecificLocalTime(d, tz).get(out);
    return true;
}

bool date::tzSpecificLocalTimeToSystemTime(const _TIME_ZONE_INFORMATION* tz, const _SYSTEMTIME* in,
                                          _SYSTEMTIME* out)
{
    if (!tz || !in || !out || !validRecord(*in))
        return false;
    date d;
    d.set(in);
    convertTzSpecificLocalTimeToUTC(d, tz).get(out);
    return true;
}

} // namespace vorntool
