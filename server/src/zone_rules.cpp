#include "zone_rules.h"

#include <algorithm>
#include <cctype>
#include <fstream>
#include <sstream>

namespace pellora::dealer {

namespace {

int64_t floorDiv(int64_t a, int64_t b) { return a / b - ((a % b != 0) && ((a < 0) != (b < 0))); }

bool readName(const std::string& s, size_t& i) {
    if (i < s.size() && s[i] == '<') {
        const size_t end = s.find('>', i);
        if (end == std::string::npos) return false;
        i = end + 1;
        return true;
    }
    const size_t start = i;
    while (i < s.size() && std::isalpha(static_cast<unsigned char>(s[i]))) ++i;
    return i - start >= 3;
}

// [+-]hh[:mm[:ss]] as seconds.
bool readClock(const std::string& s, size_t& i, int32_t& out) {
    int sign = 1;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) sign = s[i++] == '-' ? -1 : 1;
    int32_t parts[3] = {0, 0, 0};
    for (int k = 0; k < 3; ++k) {
        if (k > 0) {
            if (i >= s.size() || s[i] != ':') break;
            ++i;
        }
        const size_t start = i;
        int32_t v = 0;
        while (i < s.size() && std::isdigit(static_cast<unsigned char>(s[i])) && i - start < 3) v = v * 10 + (s[i++] - '0');
        if (i == start) return false;
        parts[k] = v;
    }
    if (parts[0] > 167 || parts[1] > 59 || parts[2] > 59) return false;
    out = sign * (parts[0] * 3600 + parts[1] * 60 + parts[2]);
    return true;
}

bool readInt(const std::string& s, size_t& i, int& out) {
    const size_t start = i;
    out = 0;
    while (i < s.size() && std::isdigit(static_cast<unsigned char>(s[i])) && i - start < 2) out = out * 10 + (s[i++] - '0');
    return i > start;
}

bool readDate(const std::string& s, size_t& i, int& m, int& w, int& d, int32_t& time) {
    if (i >= s.size() || s[i] != 'M') return false;
    ++i;
    if (!readInt(s, i, m) || i >= s.size() || s[i++] != '.' || !readInt(s, i, w) || i >= s.size() ||
        s[i++] != '.' || !readInt(s, i, d))
        return false;
    if (m < 1 || m > 12 || w < 1 || w > 5 || d > 6) return false;
    if (i < s.size() && s[i] == '/') {
        ++i;
        if (!readClock(s, i, time)) return false;
    }
    return true;
}

// Days since the epoch of weekday `day` of week `week` (5 = last) of a month.
int64_t ruleDay(int year, int month, int week, int day) {
    const int64_t first = daysFromCivil(year, static_cast<unsigned>(month), 1);
    int64_t d = first + (day - weekdayFromDays(first) + 7) % 7 + (week - 1) * 7;
    const int64_t next = month == 12 ? daysFromCivil(year + 1, 1, 1) : daysFromCivil(year, static_cast<unsigned>(month + 1), 1);
    while (d >= next) d -= 7;
    return d;
}

uint32_t be32(const std::string& b, size_t at) {
    return (static_cast<uint32_t>(static_cast<unsigned char>(b[at])) << 24) |
           (static_cast<uint32_t>(static_cast<unsigned char>(b[at + 1])) << 16) |
           (static_cast<uint32_t>(static_cast<unsigned char>(b[at + 2])) << 8) |
           static_cast<uint32_t>(static_cast<unsigned char>(b[at + 3]));
}

} // namespace

Status PosixRule::parse(const std::string& s, PosixRule& out) {
    PosixRule r;
    size_t i = 0;
    int32_t west = 0;
    if (!readName(s, i) || !readClock(s, i, west)) return Status::error("bad standard part of rule '" + s + "'");
    r.stdOffset = -west;
    if (i == s.size()) {
        out = r;
        return Status::ok();
    }
    if (!readName(s, i)) return Status::error("bad daylight name in rule '" + s + "'");
    r.hasDst = true;
    r.dstOffset = r.stdOffset + 3600;
    if (i < s.size() && s[i] != ',') {
        if (!readClock(s, i, west)) return Status::error("bad daylight offset in rule '" + s + "'");
        r.dstOffset = -west;
    }
    if (i >= s.size() || s[i++] != ',' || !readDate(s, i, r.startMonth, r.startWeek, r.startDay, r.startTime) ||
        i >= s.size() || s[i++] != ',' || !readDate(s, i, r.endMonth, r.endWeek, r.endDay, r.endTime) || i != s.size())
        return Status::error("unsupported transition dates in rule '" + s + "'");
    out = r;
    return Status::ok();
}

int32_t PosixRule::offsetAt(UnixMs utc) const {
    if (!hasDst) return stdOffset;
    int y;
    unsigned m, d;
    civilFromDays(floorDiv(utc, kMsPerDay), y, m, d);
    // Transitions lie months away from new year, so the UTC year picks the right pair.
    const int64_t sec = floorDiv(utc, 1000);
    auto inDst = [&](int year) {
        const int64_t start = ruleDay(year, startMonth, startWeek, startDay) * 86400 + startTime - stdOffset;
        const int64_t end = ruleDay(year, endMonth, endWeek, endDay) * 86400 + endTime - dstOffset;
        return start < end ? (sec >= start && sec < end) : (sec >= start || sec < end);
    };
    return inDst(y) ? dstOffset : stdOffset;
}

Status ZoneRules::fromRule(const std::string& posixRule, ZoneRules& out) {
    ZoneRules z;
    if (Status s = PosixRule::parse(posixRule, z.rule_); !s.isOk()) return s;
    z.hasRule_ = true;
    z.initialOffset_ = z.rule_.stdOffset;
    out = std::move(z);
    return Status::ok();
}

Status ZoneRules::parseTzif(const std::string& b, ZoneRules& out) {
    auto bad = [](const char* why) { return Status::error(std::string("not a usable zone file: ") + why); };
    if (b.size() < 44 || b.compare(0, 4, "TZif") != 0) return bad("no TZif header");
    auto counts = [&](size_t at, uint32_t (&c)[6]) {
        for (int k = 0; k < 6; ++k) c[k] = be32(b, at + 20 + 4 * k);
    };
    uint32_t c[6];  // isutcnt, isstdcnt, leapcnt, timecnt, typecnt, charcnt
    counts(0, c);
    for (uint32_t v : c)
        if (v > 100000) return bad("implausible counts");
    size_t at = 44;
    size_t timeSize = 4;
    const size_t v1 = c[3] * 5ull + c[4] * 6ull + c[5] + c[2] * 8ull + c[1] + c[0];
    if (b[4] >= '2') {
        if (b.size() < at + v1 + 44) return bad("truncated");
        at += v1;
        if (b.compare(at, 4, "TZif") != 0) return bad("no second header");
        counts(at, c);
        for (uint32_t v : c)
            if (v > 100000) return bad("implausible counts");
        at += 44;
        timeSize = 8;
    }
    const size_t timecnt = c[3], typecnt = c[4];
    const size_t need = timecnt * (timeSize + 1) + typecnt * 6 + c[5] + c[2] * (timeSize + 4) + c[1] + c[0];
    if (typecnt == 0) return bad("no local time types");
    if (b.size() < at + need) return bad("truncated");
    ZoneRules z;
    std::vector<int32_t> typeOffsets(typecnt);
    std::vector<bool> typeDst(typecnt);
    const size_t typesAt = at + timecnt * (timeSize + 1);
    for (size_t k = 0; k < typecnt; ++k) {
        typeOffsets[k] = static_cast<int32_t>(be32(b, typesAt + 6 * k));
        typeDst[k] = b[typesAt + 6 * k + 4] != 0;
    }
    for (size_t k = 0; k < timecnt; ++k) {
        int64_t t = 0;
        if (timeSize == 8) t = static_cast<int64_t>((static_cast<uint64_t>(be32(b, at + 8 * k)) << 32) | be32(b, at + 8 * k + 4));
        else t = static_cast<int32_t>(be32(b, at + 4 * k));
        const unsigned char type = static_cast<unsigned char>(b[at + timecnt * timeSize + k]);
        if (type >= typecnt) return bad("transition to an unknown type");
        if (!z.transitions_.empty() && t <= z.transitions_.back()) return bad("transitions out of order");
        z.transitions_.push_back(t);
        z.offsetAfter_.push_back(typeOffsets[type]);
    }
    // Before the first transition: the first standard-time type, as zic intends.
    z.initialOffset_ = typeOffsets[0];
    for (size_t k = 0; k < typecnt; ++k)
        if (!typeDst[k]) {
            z.initialOffset_ = typeOffsets[k];
            break;
        }
    if (timeSize == 8) {
        const size_t footer = at + need;
        if (footer < b.size() && b[footer] == '\n') {
            const size_t end = b.find('\n', footer + 1);
            if (end != std::string::npos && end > footer + 1)
                z.hasRule_ = PosixRule::parse(b.substr(footer + 1, end - footer - 1), z.rule_).isOk();
        }
    }
    out = std::move(z);
    return Status::ok();
}

Status ZoneRules::loadFile(const std::string& path, ZoneRules& out) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return Status::error(path + ": cannot be opened");
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return parseTzif(bytes.str(), out).context(path + ": ");
}

int32_t ZoneRules::offsetSeconds(UnixMs utc) const {
    const int64_t sec = floorDiv(utc, 1000);
    if (transitions_.empty()) return hasRule_ ? rule_.offsetAt(utc) : initialOffset_;
    if (sec < transitions_.front()) return initialOffset_;
    if (sec >= transitions_.back() && hasRule_) return rule_.offsetAt(utc);
    const auto it = std::upper_bound(transitions_.begin(), transitions_.end(), sec);
    return offsetAfter_[static_cast<size_t>(it - transitions_.begin()) - 1];
}

UnixMs ZoneRules::localToUtc(UnixMs wall) const {
    UnixMs u = wall - offsetSeconds(wall) * kMsPerSecond;
    u = wall - offsetSeconds(u) * kMsPerSecond;
    return u;
}

MarketCalendar MarketCalendar::newYork(const std::string& zoneinfoDir, bool* usedFallback) {
    ZoneRules z;
    const bool ok = ZoneRules::loadFile(zoneinfoDir + "/America/New_York", z).isOk();
    if (!ok) (void)ZoneRules::fromRule("EST5EDT,M3.2.0,M11.1.0", z);
    if (usedFallback) *usedFallback = !ok;
    return MarketCalendar(std::move(z));
}

UnixMs MarketCalendar::at17(int64_t localDays) const { return ny_.localToUtc(localDays * kMsPerDay + 17 * kMsPerHour); }

bool MarketCalendar::isWeekend(UnixMs t) const {
    const UnixMs wall = t + ny_.offsetSeconds(t) * kMsPerSecond;
    const int64_t days = floorDiv(wall, kMsPerDay);
    const UnixMs ofDay = wall - days * kMsPerDay;
    const int wd = weekdayFromDays(days);
    const bool after17 = ofDay >= 17 * kMsPerHour;
    return (wd == 5 && after17) || wd == 6 || (wd == 0 && !after17);
}

UnixMs MarketCalendar::tradingDayStart(UnixMs t) const {
    const UnixMs wall = t + ny_.offsetSeconds(t) * kMsPerSecond;
    int64_t days = floorDiv(wall, kMsPerDay);
    UnixMs start = at17(days);
    if (start > t) start = at17(days - 1);
    return start;
}

UnixMs MarketCalendar::nextTradingDayStart(UnixMs t) const {
    const UnixMs start = tradingDayStart(t);
    const int64_t days = floorDiv(start + ny_.offsetSeconds(start) * kMsPerSecond, kMsPerDay);
    return at17(days + 1);
}

UnixMs MarketCalendar::weekStart(UnixMs t) const {
    const UnixMs start = tradingDayStart(t);
    const int64_t days = floorDiv(start + ny_.offsetSeconds(start) * kMsPerSecond, kMsPerDay);
    return at17(days - weekdayFromDays(days));  // back to the Sunday
}

UnixMs MarketCalendar::monthStart(UnixMs t) const {
    const UnixMs start = tradingDayStart(t);
    // The trading day ends on the next calendar day; that date's month owns it.
    const int64_t endDay = floorDiv(start + ny_.offsetSeconds(start) * kMsPerSecond, kMsPerDay) + 1;
    int y;
    unsigned m, d;
    civilFromDays(endDay, y, m, d);
    return at17(daysFromCivil(y, m, 1) - 1);
}

UnixMs MarketCalendar::nextMonthStart(UnixMs t) const {
    const UnixMs start = monthStart(t);
    const int64_t day = floorDiv(start + ny_.offsetSeconds(start) * kMsPerSecond, kMsPerDay) + 1;
    int y;
    unsigned m, d;
    civilFromDays(day, y, m, d);
    if (++m > 12) {
        m = 1;
        ++y;
    }
    return at17(daysFromCivil(y, m, 1) - 1);
}

bool CalendarCache::isWeekend(UnixMs t) {
    if (t < weekFrom_ || t >= weekTo_) {
        weekFrom_ = cal_.weekStart(t);
        weekTo_ = cal_.weekStart(weekFrom_ + 7 * kMsPerDay + 2 * kMsPerHour);
        // Clocks change early on Sundays, never between Sunday 17:00 and Friday 17:00.
        fridayClose_ = weekFrom_ + 5 * kMsPerDay;
    }
    return t >= fridayClose_;
}

UnixMs CalendarCache::tradingDayStart(UnixMs t) {
    if (t < dayFrom_ || t >= dayTo_) {
        dayFrom_ = cal_.tradingDayStart(t);
        dayTo_ = cal_.nextTradingDayStart(t);
    }
    return dayFrom_;
}

} // namespace pellora::dealer
