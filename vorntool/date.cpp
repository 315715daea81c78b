#include "vorntool/date.h"

#include <cmath>
#include <cstdio>

namespace vorntool {

const double date::minDate = -657434.0;
const double date::maxDate = 2958465.0;
const double date::halfSecond = 5.787037037037037e-06;
const int date::monthDays[13] = {0, 31, 59, 90, 120, 151, 181, 212, 243, 273, 304, 334, 365};

double date::oneSecond()
{
    return 1.0 / 86400.0;
}

namespace {

const long kDaysToEpoch = 693959;  // 1 January of year 0 to 30 December 1899
const long kMsPerDay = 86400000;

bool isLeap(long y)
{
    return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
}

// 0 for a month outside 1-12, so a bad month never reads past monthDays.
int monthLength(long y, long mo)
{
    if (mo < 1 || mo > 12)
        return 0;
    if (mo == 2 && isLeap(y))
        return 29;
    return date::monthDays[mo] - date::monthDays[mo - 1];
}

// Calendar fields of a serial, with the day number (days since 1 January of
// year 0) so that callers can derive the weekday of exactly the day they report.
struct Fields {
    int y = 0, mo = 0, d = 0, h = 0, mi = 0, s = 0, ms = 0;
    long dayAbs = -1;  // -1: out of range
};

Fields splitFields(double serial)
{
    Fields f;
    if (!(serial >= date::minDate && serial <= date::maxDate))
        return f;

    // The nudge goes away from zero, like the fraction of a serial before 1899-12-30:
    // toward zero it would turn -1.0 (29 December 1899) into the day after.
    const double v = serial + (serial < 0.0 ? -1e-9 : 1e-9);
    long dayAbs = static_cast<long>(v) + kDaysToEpoch;
    const double mag = std::fabs(v);
    long t = static_cast<long>((mag - std::floor(mag)) * static_cast<double>(kMsPerDay)) % kMsPerDay;

    // 999 ms is read as a truncated next second; the carry runs on through minute,
    // hour and day so that no field leaves its range.
    if (t % 1000 == 999)
        ++t;
    if (t >= kMsPerDay) {
        t -= kMsPerDay;
        ++dayAbs;
    }
    f.dayAbs = dayAbs;

    // 400-year cycles; the first century of a cycle has its leap day in year 0.
    long year = (dayAbs / 146097) * 400;
    long r = dayAbs % 146097;
    bool leapBlock = true;  // does the first 4-year block of this stretch hold a leap day
    if (r < 36525) {
        year += (r / 1461) * 4;
        r %= 1461;
    } else {
        r -= 36525;
        year += (r / 36524 + 1) * 100;
        r %= 36524;
        if (r < 1460) {
            leapBlock = false;
        } else {
            r -= 1460;
            year += (r / 1461 + 1) * 4;
            r %= 1461;
        }
    }
    bool leapYear = false;
    long doy;  // 0-based day of year
    if (leapBlock) {
        if (r < 366) {
            leapYear = true;
            doy = r;
        } else {
            r -= 366;
            year += r / 365 + 1;
            doy = r % 365;
        }
    } else {
        year += r / 365;
        doy = r % 365;
    }

    f.y = static_cast<int>(year);
    if (leapYear && doy == 59) {
        f.mo = 2;
        f.d = 29;
    } else {
        if (leapYear && doy > 59)
            --doy;
        const long day1 = doy + 1;  // 1-based day of a common year
        int mo = static_cast<int>(day1 / 32) + 1;
        while (mo < 12 && day1 > date::monthDays[mo])
            ++mo;
        f.mo = mo;
        f.d = static_cast<int>(day1 - date::monthDays[mo - 1]);
    }

    f.h = static_cast<int>(t / 3600000);
    f.mi = static_cast<int>((t % 3600000) / 60000);
    f.s = static_cast<int>((t % 60000) / 1000);
    f.ms = static_cast<int>(t % 1000);
    return f;
}

// construct() over ints: a field that does not fit 16 bits gives 0.0, not a wrapped value.
double constructChecked(long y, long mo, long d, long h, long mi, long s)
{
    if (y < 0 || y > 9999 || mo < 0 || mo > 12 || d < 0 || d > 31)
        return 0.0;
    return date::construct(static_cast<uint16_t>(y), static_cast<uint16_t>(mo), static_cast<uint16_t>(d),
                           static_cast<uint16_t>(h), static_cast<uint16_t>(mi), static_cast<uint16_t>(s), 0);
}

// Floor division and remainder, for month arithmetic that goes back past January.
long floorDiv(long a, long b)
{
    long q = a / b;
    if ((a % b != 0) && ((a < 0) != (b < 0)))
        --q;
    return q;
}

} // namespace

date::date() : m_serial(0.0) {}
date::date(double serial) : m_serial(serial) {}
date::date(const date& other) = default;
date::date(const _SYSTEMTIME& st)
    : m_serial(construct(st.wYear, st.wMonth, st.wDay, st.wHour, st.wMinute, st.wSecond, 0))
{
}
date::date(uint16_t y, uint16_t mo, uint16_t d) : m_serial(construct(y, mo, d, 0, 0, 0, 0)) {}
date::date(uint16_t y, uint16_t mo, uint16_t d, uint16_t h, uint16_t mi, uint16_t s)
    : m_serial(construct(y, mo, d, h, mi, s, 0))
{
}
date::date(uint16_t y, uint16_t mo, uint16_t d, uint16_t h, uint16_t mi, uint16_t s, uint16_t ms)
    : m_serial(construct(y, mo, d, h, mi, s, ms))
{
}
date& date::operator=(const date& other) = default;

double date::construct(uint16_t y, uint16_t mo, uint16_t d, uint16_t h, uint16_t mi, uint16_t s, uint16_t ms)
{
    if (!validate(y, mo, d) || h > 23 || mi > 59 || s > 59)
        return 0.0;
    long n = static_cast<long>(y) * 365 + y / 4 - y / 100 + y / 400 + d + monthDays[mo - 1] - kDaysToEpoch;
    if (mo <= 2 && isLeap(y))
        --n;
    const double f = (h * 3600.0 + mi * 60.0 + s) / 86400.0 + ms / 86400000.0;
    return n >= 0 ? n + f : n - f;
}

bool date::validate(uint16_t y, uint16_t mo, uint16_t d)
{
    return y <= 9999 && d >= 1 && d <= monthLength(y, mo);
}

double date::getSerial() const
{
    return m_serial;
}

void date::assign(double serial)
{
    m_serial = serial;
}

void date::assign(const date& other)
{
    m_serial = other.m_serial;
}

void date::set(const _SYSTEMTIME* st)
{
    if (st)
        m_serial = construct(st->wYear, st->wMonth, st->wDay, st->wHour, st->wMinute, st->wSecond,
                             st->wMilliseconds);
}

int date::get(_SYSTEMTIME* st) const
{
    const Fields f = splitFields(m_serial);
    // The weekday of the day the record names (a carry may have moved it past the
    // day that getDow's half-second rounding sees).
    const int dow = f.dayAbs < 0 ? 0 : static_cast<int>((f.dayAbs + 6) % 7);
    if (st) {
        st->wYear = static_cast<uint16_t>(f.y);
        st->wMonth = static_cast<uint16_t>(f.mo);
        st->wDayOfWeek = static_cast<uint16_t>(dow);
        st->wDay = static_cast<uint16_t>(f.d);
        st->wHour = static_cast<uint16_t>(f.h);
        st->wMinute = static_cast<uint16_t>(f.mi);
        st->wSecond = static_cast<uint16_t>(f.s);
        st->wMilliseconds = static_cast<uint16_t>(f.ms);
    }
    return dow;
}

int date::getYear() const
{
    return splitFields(m_serial).y;
}

int date::getMonth() const
{
    return splitFields(m_serial).mo;
}

int date::getDay() const
{
    return splitFields(m_serial).d;
}

int date::getHour() const
{
    return splitFields(m_serial).h;
}

int date::getMinute() const
{
    return splitFields(m_serial).mi;
}

int date::getSecond() const
{
    return splitFields(m_serial).s;
}

int date::getDow() const
{
    if (!(m_serial >= minDate && m_serial <= maxDate))
        return 0;
    const long days = static_cast<long>(m_serial + (m_serial < 0.0 ? -halfSecond : halfSecond));
    return static_cast<int>((days + 693958) % 7) + 1;
}

void date::setYear(int y)
{
    const Fields f = splitFields(m_serial);
    m_serial = constructChecked(y, f.mo, f.d, f.h, f.mi, f.s);
}

void date::setMonth(int m)
{
    const Fields f = splitFields(m_serial);
    long y = f.y;
    long mo;
    if (m == 0) {
        y -= 1;
        mo = 12;
    } else if (m < 0) {
        y += m / 12 - 1;
        mo = m % 12 + 12;
    } else if (m <= 12) {
        mo = m;
    } else if (m % 12 == 0) {
        y += m / 12 - 1;
        mo = 12;
    } else {
        y += m / 12;
        mo = m % 12;
    }
    m_serial = constructChecked(y, mo, f.d, f.h, f.mi, f.s);
}

int date::setDay(int d)
{
    const int old = getDay();
    m_serial += static_cast<double>(d - old);
    return old;
}

int date::setHour(int h)
{
    const int old = getHour();
    m_serial += static_cast<double>(h - old) / 24.0;
    return old;
}

int date::setMinute(int m)
{
    const int old = getMinute();
    m_serial += static_cast<double>(m - old) / 1440.0;
    return old;
}

int date::setSecond(int s)
{
    const int old = getSecond();
    m_serial += static_cast<double>(s - old) / 86400.0;
    return old;
}

date& date::add(double days)
{
    m_serial += days;
    return *this;
}

date& date::subtract(double days)
{
    m_serial -= days;
    return *this;
}

double date::subtract(const date& other) const
{
    return m_serial - other.m_serial;
}

date& date::add(part p, int n)
{
    long months = 0;
    switch (p) {
    case day:
        m_serial += static_cast<double>(n);
        return *this;
    case week:
        m_serial += 7.0 * n;
        return *this;
    case hour:
        m_serial += n / 24.0;
        return *this;
    case minute:
        m_serial += n / 1440.0;
        return *this;
    case second:
        m_serial += n / 86400.0;
        return *this;
    case month:
        months = n;
        break;
    case quarter:
        months = 3L * n;
        break;
    case year:
        months = 12L * n;
        break;
    default:
        return *this;
    }

    const Fields f = splitFields(m_serial);
    if (f.dayAbs < 0) {
        m_serial = 0.0;
        return *this;
    }
    const long total = (f.mo - 1) + months;
    const long y = f.y + floorDiv(total, 12);
    const long mo = total - floorDiv(total, 12) * 12 + 1;
    const int targetLength = (y >= 0 && y <= 9999) ? monthLength(y, mo) : 0;
    long d = f.d;
    if (f.d == monthLength(f.y, f.mo) || d > targetLength)
        d = targetLength;
    m_serial = constructChecked(y, mo, d, f.h, f.mi, f.s);
    return *this;
}

date& date::operator+=(double days)
{
    m_serial += days;
    return *this;
}

date& date::operator-=(double days)
{
    m_serial -= days;
    return *this;
}

void date::split(double serial, int& y, int& mo, int& d, int& h, int& mi, int& s)
{
    int ms;
    split(serial, y, mo, d, h, mi, s, ms);
}

void date::split(double serial, int& y, int& mo, int& d, int& h, int& mi, int& s, int& ms)
{
    const Fields f = splitFields(serial);
    y = f.y;
    mo = f.mo;
    d = f.d;
    h = f.h;
    mi = f.mi;
    s = f.s;
    ms = f.ms;
}

bool date::systemTimeToVariantTime(const _SYSTEMTIME* st, double* serial)
{
    if (!st || !serial)
        return false;
    *serial = construct(st->wYear, st->wMonth, st->wDay, st->wHour, st->wMinute, st->wSecond, st->wMilliseconds);
    return true;
}

bool date::variantTimeToSystemTime(double serial, _SYSTEMTIME* st)
{
    if (!st)
        return false;
    date(serial).get(st);
    return true;
}

void date::unixTimeToSystemTime(const tm* t, _SYSTEMTIME* st)
{
    if (!t || !st)
        return;
    st->wYear = static_cast<uint16_t>(t->tm_year + 1900);
    st->wMonth = static_cast<uint16_t>(t->tm_mon + 1);
    st->wDayOfWeek = static_cast<uint16_t>(t->tm_wday);
    st->wDay = static_cast<uint16_t>(t->tm_mday);
    st->wHour = static_cast<uint16_t>(t->tm_hour);
    st->wMinute = static_cast<uint16_t>(t->tm_min);
    // A leap second (60) has no place in the record; it reads as the second before.
    st->wSecond = static_cast<uint16_t>(t->tm_sec > 59 ? 59 : t->tm_sec);
    st->wMilliseconds = 0;
}

void date::GetSystemTime(_SYSTEMTIME* st)
{
    if (!st)
        return;
    const time_t now = time(nullptr);
    tm t{};
    gmtime_r(&now, &t);
    unixTimeToSystemTime(&t, st);
}

void date::GetLocalTime(_SYSTEMTIME* st)
{
    if (!st)
        return;
    const time_t now = time(nullptr);
    tm t{};
    localtime_r(&now, &t);
    unixTimeToSystemTime(&t, st);
}

date date::now()
{
    return date(nowSerial());
}

double date::nowSerial()
{
    _SYSTEMTIME st;
    GetLocalTime(&st);
    return construct(st.wYear, st.wMonth, st.wDay, st.wHour, st.wMinute, st.wSecond, 0);
}

date date::nowGMT()
{
    return date(nowGMTSerial());
}

double date::nowGMTSerial()
{
    _SYSTEMTIME st;
    GetSystemTime(&st);
    return construct(st.wYear, st.wMonth, st.wDay, st.wHour, st.wMinute, st.wSecond, 0);
}

std::string date::toString(int flags) const
{
    const Fields f = splitFields(m_serial);
    char datePart[512] = "";
    char timePart[512] = "";
    switch (flags & 0x7f) {
    case 1:
        snprintf(datePart, sizeof datePart, "%02i.%02i.%04i", f.d, f.mo, f.y);
        break;
    case 2:
        snprintf(datePart, sizeof datePart, "%04i-%02i-%02i", f.y, f.mo, f.d);
        break;
    case 0:
    case 3:
    case 4:
        snprintf(datePart, sizeof datePart, "%02i/%02i/%04i", f.mo, f.d, f.y);
        break;
    default:
        break;
    }
    if (flags & 0x80)
        snprintf(timePart, sizeof timePart, " %02i:%02i:%02i", f.h, f.mi, f.s);
    return std::string(datePart) + timePart;
}

date operator+(const date& d, double days)
{
    return date(d.getSerial() + days);
}

date operator-(const date& d, double days)
{
    return date(d.getSerial() - days);
}

double operator-(const date& a, const date& b)
{
    return a.getSerial() - b.getSerial();
}

} // namespace vorntool
