#pragma once
// UTC offsets of one time zone, read from a compiled zone file (TZif; the 64-bit data
// of version 2 and later when present, else the 32-bit data) together with the file's
// POSIX rule for instants after its last transition. Immutable once built: read from
// any thread.

#include <cstdint>
#include <string>
#include <vector>

#include "status.h"
#include "wire_time.h"

namespace pellora::dealer {

// A POSIX TZ rule of the form "EST5EDT,M3.2.0,M11.1.0" ('M' rules only).
struct PosixRule {
    int32_t stdOffset = 0;  // seconds east of UTC
    int32_t dstOffset = 0;
    bool hasDst = false;
    int startMonth = 0, startWeek = 0, startDay = 0;  // Mm.w.d
    int32_t startTime = 7200;                          // seconds of local standard time
    int endMonth = 0, endWeek = 0, endDay = 0;
    int32_t endTime = 7200;                            // seconds of local daylight time

    static Status parse(const std::string& text, PosixRule& out);
    int32_t offsetAt(UnixMs utc) const;
};

class ZoneRules {
public:
    static Status loadFile(const std::string& path, ZoneRules& out);
    static Status parseTzif(const std::string& bytes, ZoneRules& out);
    static Status fromRule(const std::string& posixRule, ZoneRules& out);

    // Seconds to add to UTC to get the zone's wall time.
    int32_t offsetSeconds(UnixMs utc) const;
    // The UTC instant of a wall time (an instant inside a daylight gap maps to the
    // offset in force before it).
    UnixMs localToUtc(UnixMs wall) const;

private:
    std::vector<int64_t> transitions_;  // seconds since the epoch, ascending
    std::vector<int32_t> offsetAfter_;  // offset from each transition on
    int32_t initialOffset_ = 0;
    PosixRule rule_;
    bool hasRule_ = false;
};

// The market's week in New York time: trading days run from 17:00 to 17:00, and the
// weekend from Friday 17:00 to Sunday 17:00.
class MarketCalendar {
public:
    explicit MarketCalendar(ZoneRules newYork) : ny_(std::move(newYork)) {}
    // Reads <zoneinfo>/America/New_York; without the file it uses the US rule in force
    // since 2007 (EST5EDT,M3.2.0,M11.1.0), which differs only for earlier years.
    static MarketCalendar newYork(const std::string& zoneinfoDir, bool* usedFallback = nullptr);

    bool isWeekend(UnixMs t) const;
    // The 17:00 New York instant that starts the trading day holding t.
    UnixMs tradingDayStart(UnixMs t) const;
    UnixMs nextTradingDayStart(UnixMs t) const;
    // Sunday 17:00 New York starting the trading week holding t.
    UnixMs weekStart(UnixMs t) const;
    // 17:00 New York on the last calendar day before the month whose trading days
    // hold t (a trading day belongs to the date on which it ends).
    UnixMs monthStart(UnixMs t) const;
    UnixMs nextMonthStart(UnixMs t) const;
    const ZoneRules& zone() const { return ny_; }

private:
    UnixMs at17(int64_t localDays) const;
    ZoneRules ny_;
};

// A memo of the week and trading day last asked about, so that a stream of nearby
// instants costs no zone arithmetic. [Threading] One owner; not thread-safe.
class CalendarCache {
public:
    explicit CalendarCache(const MarketCalendar& calendar) : cal_(calendar) {}
    bool isWeekend(UnixMs t);
    UnixMs tradingDayStart(UnixMs t);

private:
    const MarketCalendar& cal_;
    UnixMs weekFrom_ = 1, weekTo_ = 0, fridayClose_ = 0;
    UnixMs dayFrom_ = 1, dayTo_ = 0;
};

} // namespace pellora::dealer
