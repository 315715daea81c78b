#pragma once
// Date serials: days since midnight of 30 December 1899 as a double, the fraction
// being the time of day (for days before that midnight the fraction counts away
// from zero). Conversions to calendar fields, calendar arithmetic, text, and
// conversions between UTC and a zone given as a Windows-style record.
//
// Every operation is reentrant and keeps no shared state; nothing throws.
// Invalid calendar fields give the serial 0.0, out-of-range serials zero fields.

#include <cstdint>
#include <ctime>
#include <string>

#include "vorntool/vorntool_export.h"

// Calendar record, field order as in the servers' data model.
struct _SYSTEMTIME {
    uint16_t wYear;
    uint16_t wMonth;      // 1-12
    uint16_t wDayOfWeek;  // 0 = Sunday
    uint16_t wDay;
    uint16_t wHour;
    uint16_t wMinute;
    uint16_t wSecond;
    uint16_t wMilliseconds;
};
typedef _SYSTEMTIME SYSTEMTIME;

// Zone record: UTC = local time + bias (minutes). As a transition rule, a
// _SYSTEMTIME means: wMonth, wDayOfWeek (0 = Sunday), wDay = occurrence 1-4 or 5
// for the last one, wHour = local wall-clock hour; with wYear != 0 it is an
// absolute date instead: wMonth, wDay, wHour in whichever year is asked.
struct _TIME_ZONE_INFORMATION {
    int32_t Bias;
    wchar_t StandardName[32];
    _SYSTEMTIME StandardDate;
    int32_t StandardBias;
    wchar_t DaylightName[32];
    _SYSTEMTIME DaylightDate;
    int32_t DaylightBias;
};
typedef _TIME_ZONE_INFORMATION TIME_ZONE_INFORMATION;

namespace vorntool {

class VORNTOOL_API date {
public:
    enum part { day = 0, month = 1, year = 2, hour = 3, minute = 4, second = 5, quarter = 6, week = 7 };

    static const double minDate;     // -657434: 1 January 100
    static const double maxDate;     // 2958465: 31 December 9999
    static const double halfSecond;  // half a second in days
    static const int monthDays[13];  // days before each month of a common year
    static double oneSecond();       // 1/86400

    date();
    date(double serial);  // NOLINT: serials convert implicitly, as doubles do
    date(const date& other);
    explicit date(const _SYSTEMTIME& st);  // milliseconds ignored
    date(uint16_t y, uint16_t mo, uint16_t d);
    date(uint16_t y, uint16_t mo, uint16_t d, uint16_t h, uint16_t mi, uint16_t s);
    date(uint16_t y, uint16_t mo, uint16_t d, uint16_t h, uint16_t mi, uint16_t s, uint16_t ms);
    date& operator=(const date& other);

    // Serial of calendar fields, or 0.0 when they are invalid.
    static double construct(uint16_t y, uint16_t mo, uint16_t d, uint16_t h, uint16_t mi, uint16_t s,
                            uint16_t ms);
    // True when the date exists (Gregorian leap years, year at most 9999).
    static bool validate(uint16_t y, uint16_t mo, uint16_t d);

    double getSerial() const;
    void assign(double serial);
    void assign(const date& other);
    void set(const _SYSTEMTIME* st);  // milliseconds included
    // Fills all eight fields (day of week 0-6, that of the day the record names) and
    // returns the day of week; out of range every field, and the result, is 0.
    int get(_SYSTEMTIME* st) const;

    int getYear() const;
    int getMonth() const;
    int getDay() const;
    int getHour() const;
    int getMinute() const;
    int getSecond() const;
    // 1 = Sunday ... 7 = Saturday; 0 outside minDate..maxDate.
    int getDow() const;

    // setYear and setMonth rebuild the date without milliseconds (an impossible day
    // gives 0.0); the others move the serial and return the previous field value.
    void setYear(int y);
    void setMonth(int m);
    int setDay(int d);
    int setHour(int h);
    int setMinute(int m);
    int setSecond(int s);

    date& add(double days);
    date& subtract(double days);
    double subtract(const date& other) const;  // difference in days
    date& add(part p, int n);

    date& operator+=(double days);
    date& operator-=(double days);

    bool operator==(const date& o) const { return m_serial == o.m_serial; }
    bool operator!=(const date& o) const { return m_serial != o.m_serial; }
    bool operator<(const date& o) const { return m_serial < o.m_serial; }
    bool operator<=(const date& o) const { return m_serial <= o.m_serial; }
    bool operator>(const date& o) const { return m_serial > o.m_serial; }
    bool operator>=(const date& o) const { return m_serial >= o.m_serial; }

    // Serial to calendar fields; all zero outside minDate..maxDate. A millisecond
    // value of 999 reads as the next second, carried on through minute, hour and day.
    static void split(double serial, int& y, int& mo, int& d, int& h, int& mi, int& s);
    static void split(double serial, int& y, int& mo, int& d, int& h, int& mi, int& s, int& ms);
    static bool systemTimeToVariantTime(const _SYSTEMTIME* st, double* serial);
    static bool variantTimeToSystemTime(double serial, _SYSTEMTIME* st);
    static void unixTimeToSystemTime(const tm* t, _SYSTEMTIME* st);
    static void GetSystemTime(_SYSTEMTIME* st);  // UTC now, whole seconds
    static void GetLocalTime(_SYSTEMTIME* st);   // local now, whole seconds
    static date now();
    static double nowSerial();
    static date nowGMT();
    static double nowGMTSerial();

    // Zone functions over a Windows-style record. isDaylightTime is false when both
    // biases are 0 or a rule names no day (month 0: no rule); within half a second
    // before a transition counts as after it.
    static bool isDaylightTime(const date& d, const _TIME_ZONE_INFORMATION* tz, bool isUTC);
    // The instant (local wall time) at which the rule takes effect in the given year;
    // the empty date (0.0) for a rule that names no day.
    static date getDayFromTimeZoneInfo(const _SYSTEMTIME& rule, int year);
    static date convertUTCToTzSpecificLocalTime(const date& utc, const _TIME_ZONE_INFORMATION* tz);
    static date convertTzSpecificLocalTimeToUTC(const date& local, const _TIME_ZONE_INFORMATION* tz);
    // The record forms return false, leaving out alone, for a null pointer or an
    // impossible input record.
    static bool systemTimeToTzSpecificLocalTime(const _TIME_ZONE_INFORMATION* tz, const _SYSTEMTIME* in,
                                                _SYSTEMTIME* out);
    static bool tzSpecificLocalTimeToSystemTime(const _TIME_ZONE_INFORMATION* tz, const _SYSTEMTIME* in,
                                                _SYSTEMTIME* out);

    // Low 7 bits: 1 "dd.mm.yyyy", 2 "yyyy-mm-dd", 0/3/4 "mm/dd/yyyy", above 4 none;
    // 0x80 appends " hh:mm:ss".
    std::string toString(int flags) const;

private:
    double m_serial;
};

VORNTOOL_API date operator+(const date& d, double days);
VORNTOOL_API date operator-(const date& d, double days);
VORNTOOL_API double operator-(const date& a, const date& b);

} // namespace vorntool
