#include "core/messages/time_utils.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>

#include "merrow/fix_defs.h"

namespace zel {

namespace {

using merrow::IFixDefs;

// Digits text[from, from + n) as a number; the text is known to hold them.
int digitsAt(const char* text, int from, int n)
{
    int v = 0;
    for (int i = from; i < from + n; ++i)
        v = v * 10 + (text[i] - '0');
    return v;
}

// Base-10 value of the slice text[from, from + n), reading no further than the
// text's end; false when the slice is cut short or holds no number.
bool sliceNumber(const char* text, size_t length, size_t from, size_t n, int* out)
{
    if (from + n > length)
        return false;
    char buf[8];
    std::memcpy(buf, text + from, n);
    buf[n] = '\0';
    char* end = nullptr;
    const long v = std::strtol(buf, &end, 10);
    if (end == buf || v < 0)
        return false;
    *out = static_cast<int>(v);
    return true;
}

// vorntool::date::construct for the fields of a stamp (a year of four digits, every
// field at least 0), computed the same way step for step: a table answer has a stamp
// or two per line, and the call into the date library cost more than the sum.
double stampSerial(int y, int mo, int d, int h, int mi, int s, int ms)
{
    constexpr long kDaysToEpoch = 693959;  // 1 January of year 0 to 30 December 1899
    if (mo < 1 || mo > 12 || d < 1 || h > 23 || mi > 59 || s > 59)
        return 0.0;
    const bool leap = (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
    const int* const monthDays = vorntool::date::monthDays;
    if (d > monthDays[mo] - monthDays[mo - 1] + (mo == 2 && leap ? 1 : 0))
        return 0.0;
    long n = static_cast<long>(y) * 365 + y / 4 - y / 100 + y / 400 + d + monthDays[mo - 1] - kDaysToEpoch;
    if (mo <= 2 && leap)
        --n;
    const double f = (h * 3600.0 + mi * 60.0 + s) / 86400.0 + ms / 86400000.0;
    return n >= 0 ? n + f : n - f;
}

bool isOneOf(const char* type, std::initializer_list<const char*> types)
{
    for (const char* t : types)
        if (std::strcmp(type, t) == 0)
            return true;
    return false;
}

} // namespace

vorntool::date TimeUtils::parseQORADasMessageTimeStamp(const char* text)
{
    return text == nullptr ? vorntool::date(0.0) : parseQORADasMessageTimeStamp(text, std::strlen(text));
}

vorntool::date TimeUtils::parseQORADasMessageTimeStamp(const char* text, size_t length)
{
    return vorntool::date(dasTimeStampSerial(text, length));
}

double TimeUtils::dasTimeStampSerial(const char* text, size_t length)
{
    if (text == nullptr || length < 14)
        return 0.0;
    for (size_t i = 0; i < length; ++i)
        if (text[i] < '0' || text[i] > '9')
            return 0.0;
    const int ms = length == 17 ? digitsAt(text, 14, 3) : 0;
    return stampSerial(digitsAt(text, 4, 4), digitsAt(text, 0, 2), digitsAt(text, 2, 2), digitsAt(text, 8, 2),
                       digitsAt(text, 10, 2), digitsAt(text, 12, 2), ms);
}

double QORAdate2Ole(const char* date, const char* time)
{
    if (date == nullptr)
        return 0.0;
    const size_t dateLength = std::strlen(date);
    int y = 0, mo = 0, d = 0, h = 0, mi = 0, s = 0;
    if (!sliceNumber(date, dateLength, 0, 4, &y) || !sliceNumber(date, dateLength, 4, 2, &mo) ||
        !sliceNumber(date, dateLength, 6, 2, &d))
        return 0.0;
    if (time != nullptr) {
        // A short or garbled time keeps the date: a slice that cannot be read is 0.
        const size_t timeLength = std::strlen(time);
        if (!sliceNumber(time, timeLength, 0, 2, &h))
            h = 0;
        if (!sliceNumber(time, timeLength, 3, 2, &mi))
            mi = 0;
        if (!sliceNumber(time, timeLength, 6, 2, &s))
            s = 0;
    }
    if (y > 9999 || mo > 12 || d > 31 || h > 23 || mi > 59 || s > 59)
        return 0.0;
    return vorntool::date::construct(uint16_t(y), uint16_t(mo), uint16_t(d), uint16_t(h), uint16_t(mi),
                                     uint16_t(s), 0);
}

std::string OleDate2QORA(double serial)
{
    int y = 0, mo = 0, d = 0, h = 0, mi = 0, s = 0;
    vorntool::date::split(serial, y, mo, d, h, mi, s);
    if (y == 0)  // outside the range of dates, or NaN
        return std::string();
    char buf[40];
    std::snprintf(buf, sizeof buf, "%4i%02i%02i-%02i:%02i:%02i", y, mo, d, h, mi, s);
    return buf;
}

const char* getRequestIDFromMessage(const merrow::IFieldGroup* message)
{
    if (message == nullptr)
        return "";
    const char* type = message->getValue(IFixDefs::FLDTAG_MSGTYPE);
    if (type == nullptr)
        return "";
    int tag = 0;
    if (isOneOf(type, {IFixDefs::MSGTYPE_QORAREQUEST, IFixDefs::MSGTYPE_QORAREQUESTREJECT,
                       IFixDefs::MSGTYPE_QORARESPONSE, IFixDefs::MSGTYPE_QORARTMPRESPONSE,
                       IFixDefs::MSGTYPE_QORARTMPOBJECTRESPONSE}))
        tag = IFixDefs::FLDTAG_TESTREQID;
    else if (isOneOf(type, {IFixDefs::MSGTYPE_TRADINGSESSIONSTATUSREQUEST, IFixDefs::MSGTYPE_TRADINGSESSIONSTATUS}))
        tag = IFixDefs::FLDTAG_TRADSESREQID;
    else if (isOneOf(type, {IFixDefs::MSGTYPE_MARKETDATAREQUEST, IFixDefs::MSGTYPE_MARKETDATAREQUESTREJECT,
                            IFixDefs::MSGTYPE_QORAREQUESTBATCH, IFixDefs::MSGTYPE_MARKETDATASNAPSHOTFULLREFRESH}))
        tag = IFixDefs::FLDTAG_MDREQID;
    else
        return "";
    const char* id = message->getValue(tag);
    return id != nullptr ? id : "";
}

} // namespace zel
