#pragma once
// Server time is kept as whole milliseconds since 1970-01-01 UTC; these convert it to
// day serials and to the texts the wire carries. All functions are pure.

#include <cstdint>
#include <string>

namespace pellora::dealer {

using UnixMs = int64_t;

constexpr UnixMs kMsPerSecond = 1000;
constexpr UnixMs kMsPerMinute = 60 * kMsPerSecond;
constexpr UnixMs kMsPerHour = 60 * kMsPerMinute;
constexpr UnixMs kMsPerDay = 24 * kMsPerHour;

// Day serial (days since 1899-12-30) of an instant, and back (rounded to the ms).
double toSerial(UnixMs t);
UnixMs fromSerial(double serial);

// Days since 1970-01-01 of a proleptic Gregorian date, and back.
int64_t daysFromCivil(int y, unsigned m, unsigned d);
void civilFromDays(int64_t days, int& y, unsigned& m, unsigned& d);
// 0 = Sunday ... 6 = Saturday.
int weekdayFromDays(int64_t days);

UnixMs makeUtc(int y, unsigned mo, unsigned d, unsigned h = 0, unsigned mi = 0, unsigned s = 0,
               unsigned ms = 0);

// "MMDDYYYYhhmmssmmm": the time stamp of table fields and of update headers.
std::string dasTimestamp(UnixMs t);
// The same, appended to out.
void appendDasTimestamp(std::string& out, UnixMs t);
// "YYYYMMDD-HH:MM:SS": the UTC time stamp of bar lines and history fields.
std::string utcTimestamp(UnixMs t);
// Reads "YYYY-MM-DD HH:MM:SS" or "YYYY-MM-DDTHH:MM:SS" (UTC, seconds optional, a
// trailing "Z" allowed), as configuration files write times; false when malformed.
bool parseIsoUtc(const std::string& text, UnixMs& out);

} // namespace pellora::dealer
