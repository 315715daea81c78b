#include "core/rules/tzif_reader.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace zel {

namespace {

// Counts of the header in file order; only three of them are used.
constexpr size_t kCountsSize = 6 * 4;
constexpr size_t kTypeSize = 6;
constexpr size_t kMaxPath = 149;
constexpr size_t kMaxFileSize = 1 << 20;
// Any real UTC offset lies in this range; beyond it the file is not trusted.
constexpr int32_t kMinOffset = -89999;
constexpr int32_t kMaxOffset = 93599;

uint32_t readU32(const unsigned char* p)
{
    return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | uint32_t(p[3]);
}

int32_t readS32(const unsigned char* p)
{
    const uint32_t u = readU32(p);
    int32_t s;
    std::memcpy(&s, &u, sizeof s);
    return s;
}

struct LocalType {
    int32_t utcOffset;
    bool isDaylight;
};

// Minutes west of UTC for an offset in seconds east.
int32_t biasOf(int32_t utcOffset) { return -(utcOffset / 60); }

int daysInMonth(int year, int month0)
{
    static const int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return (month0 == 1 && isLeapYear(year)) ? 29 : kDays[month0];
}

bool inLastWeek(const tm* t)
{
    return daysInMonth(t->tm_year + 1900, t->tm_mon) - t->tm_mday < 7;
}

int weekOfMonth(const tm* t) { return (t->tm_mday - 1) / 7 + 1; }

} // namespace

bool isLeapYear(int year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

void fillTransitionDate(_SYSTEMTIME* rule, const tm* t, const tm* next)
{
    if (!rule || !t || t->tm_mon < 0 || t->tm_mon > 11)
        return;
    rule->wHour = uint16_t(t->tm_hour);
    rule->wMinute = uint16_t(t->tm_min);
    rule->wMonth = uint16_t(t->tm_mon + 1);
    const bool recurring = next && next->tm_wday == t->tm_wday && next->tm_mon >= 0 && next->tm_mon <= 11;
    if (recurring) {
        int occurrence = 0;
        if (inLastWeek(t) && inLastWeek(next))
            occurrence = 5;
        else if (weekOfMonth(t) == weekOfMonth(next))
            occurrence = weekOfMonth(t);
        if (occurrence != 0) {
            rule->wDayOfWeek = uint16_t(t->tm_wday);
            rule->wDay = uint16_t(occurrence);
            rule->wYear = 0;
            return;
        }
        // The two changes share no occurrence: a rule of occurrence 0 would name no
        // day at all, so this year's change is kept as an absolute date instead.
    }
    rule->wDay = uint16_t(t->tm_mday);
    rule->wYear = uint16_t(t->tm_year + 1900);
}

TzifOutcome parseTzif(const unsigned char* data, size_t size, int64_t now, bool named,
                      int32_t fallbackBias, _TIME_ZONE_INFORMATION* info)
{
    if (!info)
        return TzifOutcome::Unreadable;
    std::memset(info, 0, sizeof *info);
    info->Bias = fallbackBias;
    if (!data || size == 0)
        return TzifOutcome::Unreadable;

    // Files of the old form carry no magic; their counts start four bytes earlier.
    const size_t countsAt = (size >= 4 && std::memcmp(data, "TZif", 4) == 0) ? 20 : 16;
    if (size < countsAt + kCountsSize)
        return TzifOutcome::Unreadable;
    const unsigned char* counts = data + countsAt;
    const uint64_t timeCount = readU32(counts + 12);
    const uint64_t typeCount = readU32(counts + 16);
    const uint64_t charCount = readU32(counts + 20);
    if (typeCount == 0)
        return TzifOutcome::NoTypes;

    // 64-bit sums of 32-bit counts cannot overflow.
    const uint64_t timesAt = countsAt + kCountsSize;
    const uint64_t indexesAt = timesAt + timeCount * 4;
    const uint64_t typesAt = indexesAt + timeCount;
    const uint64_t end = typesAt + typeCount * kTypeSize + charCount;
    if (end > size)
        return TzifOutcome::Unreadable;

    auto timeAt = [&](uint64_t i) -> int64_t {
        const int32_t t = readS32(data + timesAt + i * 4);
        return t < 0 ? 0 : t;  // times before 1970 count as 1970
    };
    auto typeOf = [&](uint64_t i, LocalType* type) -> bool {
        const uint64_t index = i < timeCount ? data[indexesAt + i] : 0;
        if (index >= typeCount)
            return false;
        const unsigned char* p = data + typesAt + index * kTypeSize;
        type->utcOffset = readS32(p);
        type->isDaylight = p[4] != 0;
        return type->utcOffset >= kMinOffset && type->utcOffset <= kMaxOffset;
    };

    LocalType current;
    if (timeCount == 0) {
        if (!typeOf(0, &current))
            return TzifOutcome::Unreadable;
        info->Bias = biasOf(current.utcOffset);
        return TzifOutcome::FixedOffset;
    }

    // The last transition at or before now; the first when now precedes them all.
    uint64_t cur = 0;
    for (uint64_t i = 0; i < timeCount; ++i) {
        if (timeAt(i) <= now)
            cur = i;
    }
    if (!typeOf(cur, &current))
        return TzifOutcome::Unreadable;
    if (cur + 1 == timeCount) {
        if (!named)
            return TzifOutcome::KeptLocal;
        info->Bias = biasOf(current.utcOffset);
        return TzifOutcome::FixedOffset;
    }

    LocalType next;
    if (!typeOf(cur + 1, &next))
        return TzifOutcome::Unreadable;
    if (current.isDaylight == next.isDaylight) {
        // No daylight pair ahead (an offset change, or daylight time all year): the
        // zone's own current offset, not the machine's.
        info->Bias = biasOf(current.utcOffset);
        return TzifOutcome::FixedOffset;
    }

    const uint64_t standardIdx = current.isDaylight ? cur + 1 : cur;
    const uint64_t daylightIdx = current.isDaylight ? cur : cur + 1;
    const LocalType& standard = current.isDaylight ? next : current;
    const LocalType& daylight = current.isDaylight ? current : next;
    const int32_t bias = biasOf(standard.utcOffset);
    const int32_t daylightBias = biasOf(daylight.utcOffset) - bias;

    // Each change is written in the wall clock in force just before it.
    auto wallClock = [&](uint64_t i, int32_t biasBefore, tm* out) -> bool {
        const time_t wall = time_t(timeAt(i) - int64_t(biasBefore) * 60);
        return gmtime_r(&wall, out) != nullptr;
    };
    tm standardTm{}, daylightTm{}, standardNext{}, daylightNext{};
    if (!wallClock(standardIdx, bias + daylightBias, &standardTm) || !wallClock(daylightIdx, bias, &daylightTm))
        return TzifOutcome::Unreadable;
    const bool hasStandardNext =
        standardIdx + 2 < timeCount && wallClock(standardIdx + 2, bias + daylightBias, &standardNext);
    const bool hasDaylightNext = daylightIdx + 2 < timeCount && wallClock(daylightIdx + 2, bias, &daylightNext);

    info->Bias = bias;
    info->StandardBias = 0;
    info->DaylightBias = daylightBias;
    fillTransitionDate(&info->StandardDate, &standardTm, hasStandardNext ? &standardNext : nullptr);
    fillTransitionDate(&info->DaylightDate, &daylightTm, hasDaylightNext ? &daylightNext : nullptr);
    return TzifOutcome::DaylightRule;
}

bool zoneFilePath(const char* name, std::string* path)
{
    if (!path)
        return false;
    if (!name) {
        *path = "/etc/localtime";
        return true;
    }
    if (*name == '\0')
        return false;
    // A ".." component would let a server name any file of the machine.
    for (const char* p = name; *p;) {
        const char* slash = std::strchr(p, '/');
        const size_t len = slash ? size_t(slash - p) : std::strlen(p);
        if (len == 2 && p[0] == '.' && p[1] == '.')
            return false;
        if (!slash)
            break;
        p = slash + 1;
    }
    std::string full = "/usr/share/zoneinfo/";
    full += name;
    if (full.size() > kMaxPath)
        return false;
    *path = std::move(full);
    return true;
}

bool readZoneFile(const std::string& path, std::vector<unsigned char>* data)
{
    if (!data)
        return false;
    data->clear();
    // Non-blocking, so that a FIFO under the name cannot stall the caller.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        return false;
    struct stat st;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size <= 0) {
        ::close(fd);
        return false;
    }
    const size_t want = size_t(st.st_size) < kMaxFileSize ? size_t(st.st_size) : kMaxFileSize;
    data->resize(want);
    size_t got = 0;
    while (got < want) {
        const ssize_t n = ::read(fd, data->data() + got, want - got);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        got += size_t(n);
    }
    ::close(fd);
    data->resize(got);
    return got > 0;
}

} // namespace zel
