#include "core/rules/time_converter.h"

#include <cmath>
#include <cstring>
#include <vector>

#include "core/rules/tzif_reader.h"

namespace zel {

namespace {

// US Eastern standard time, minutes west of UTC, with its one-hour daylight saving.
constexpr int32_t kEasternBias = 300;
constexpr int32_t kEasternDaylightBias = -60;

_TIME_ZONE_INFORMATION zeroed()
{
    _TIME_ZONE_INFORMATION info;
    std::memset(&info, 0, sizeof info);
    return info;
}

const _TIME_ZONE_INFORMATION kUtc = zeroed();

bool sameAs(const _TIME_ZONE_INFORMATION& a, const _TIME_ZONE_INFORMATION& b)
{
    return std::memcmp(&a, &b, sizeof a) == 0;
}

} // namespace

TimeConverter::TimeConverter() : TimeConverter(nullptr) {}

TimeConverter::TimeConverter(const char* localZoneName)
    : m_est(zeroed()), m_local(zeroed()), m_server(zeroed())
{
    _TIME_ZONE_INFORMATION local;
    getTimeZoneInformation(&local, localZoneName);
    {
        LockGuard<Mutex> lock(m_mutex);
        m_local = local;
    }
    setESTTimeZone();
}

void TimeConverter::setServerTimeZone(const char* name)
{
    _TIME_ZONE_INFORMATION server = zeroed();
    if (name && *name)
        getTimeZoneInformation(&server, name);
    LockGuard<Mutex> lock(m_mutex);
    m_server = server;
}

void TimeConverter::setESTTimeZone()
{
    const time_t now = time(nullptr);
    tm t{};
    const bool eastern = localtime_r(&now, &t) && t.tm_zone &&
                         (std::strcmp(t.tm_zone, "EST") == 0 || std::strcmp(t.tm_zone, "EDT") == 0);
    const _TIME_ZONE_INFORMATION local = getDescription(Local);
    // The abbreviation alone does not prove it: TZ may differ from /etc/localtime,
    // and fixed zones such as America/Panama also call themselves "EST".
    if (eastern && local.Bias == kEasternBias && local.DaylightBias == kEasternDaylightBias) {
        LockGuard<Mutex> lock(m_mutex);
        m_est = local;
        return;
    }
    _TIME_ZONE_INFORMATION est;
    getTimeZoneInformation(&est, "America/New_York");
    LockGuard<Mutex> lock(m_mutex);
    m_est = est;
}

void TimeConverter::getTimeZoneInformation(_TIME_ZONE_INFORMATION* info, const char* name)
{
    if (!info)
        return;
    const time_t now = time(nullptr);
    tm t{};
    const int32_t localBias = localtime_r(&now, &t) ? int32_t(-(t.tm_gmtoff / 60)) : 0;
    std::string path;
    std::vector<unsigned char> data;
    if (!zoneFilePath(name, &path) || !readZoneFile(path, &data)) {
        parseTzif(nullptr, 0, now, name != nullptr, localBias, info);
        return;
    }
    parseTzif(data.data(), data.size(), now, name != nullptr, localBias, info);
}

void TimeConverter::fillTransitionDate(_SYSTEMTIME* rule, const tm* t, const tm* next)
{
    zel::fillTransitionDate(rule, t, next);
}

bool TimeConverter::isLeapYear(int year) { return zel::isLeapYear(year); }

_TIME_ZONE_INFORMATION TimeConverter::getDescription(TimeZone zone) const
{
    LockGuard<Mutex> lock(m_mutex);
    switch (zone) {
    case Local:
        return m_local;
    case EST:
        return m_est;
    case Server:
        return m_server;
    default:
        return zeroed();
    }
}

double TimeConverter::convert(double date, TimeZone from, TimeZone to)
{
    if (from == to)
        return date;
    // A serial that names no calendar time has no zone either.
    if (!std::isfinite(date) || date < vorntool::date::minDate || date > vorntool::date::maxDate)
        return date;
    if (from != UTC && to != UTC)
        return convert(convert(date, from, UTC), UTC, to);

    const _TIME_ZONE_INFORMATION tz = getDescription(from == UTC ? to : from);
    // An all-zero description is UTC: the date comes back bit for bit, not via fields.
    if (sameAs(tz, kUtc))
        return date;
    _SYSTEMTIME in{}, out{};
    vorntool::date::variantTimeToSystemTime(date, &in);
    if (from == UTC)
        vorntool::date::systemTimeToTzSpecificLocalTime(&tz, &in, &out);
    else
        vorntool::date::tzSpecificLocalTimeToSystemTime(&tz, &in, &out);
    // Offsets are whole minutes, so the milliseconds carry over unchanged.
    out.wMilliseconds = in.wMilliseconds;
    double result = 0.0;
    vorntool::date::systemTimeToVariantTime(&out, &result);
    return result;
}

} // namespace zel
