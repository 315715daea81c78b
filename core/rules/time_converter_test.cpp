#include "core/rules/time_converter.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <set>
#include <sstream>
#include <string>
#include <sys/stat.h>

#include "core/base/ref_ptr.h"
#include "core/rules/tzif_test_builder.h"

namespace zel {
namespace {

using TZ = IZelTimeConverter;

constexpr double kUnixEpochSerial = 25569.0;  // 1970-01-01 as a date serial

double serialOf(int64_t unixTime) { return kUnixEpochSerial + double(unixTime) / 86400.0; }

double serialOf(int y, int mo, int d, int h, int mi = 0)
{
    return vorntool::date::construct(uint16_t(y), uint16_t(mo), uint16_t(d), uint16_t(h), uint16_t(mi), 0, 0);
}

// Whole seconds between two serials; conversions move by whole minutes.
int64_t secondsBetween(double a, double b) { return std::llround((b - a) * 86400.0); }

bool haveZone(const char* name)
{
    struct stat st;
    return ::stat((std::string("/usr/share/zoneinfo/") + name).c_str(), &st) == 0;
}

// Sets TZ for localtime_r and restores the previous value when it goes.
class ScopedTz {
public:
    explicit ScopedTz(const char* zone)
    {
        const char* old = std::getenv("TZ");
        m_had = old != nullptr;
        if (old)
            m_old = old;
        set(zone);
    }
    ~ScopedTz()
    {
        if (m_had)
            ::setenv("TZ", m_old.c_str(), 1);
        else
            ::unsetenv("TZ");
        ::tzset();
    }
    void set(const char* zone)
    {
        ::setenv("TZ", zone, 1);
        ::tzset();
    }

private:
    bool m_had = false;
    std::string m_old;
};

int32_t machineBias()
{
    const time_t now = time(nullptr);
    tm t{};
    localtime_r(&now, &t);
    return int32_t(-(t.tm_gmtoff / 60));
}

bool sameDescription(const _TIME_ZONE_INFORMATION& a, const _TIME_ZONE_INFORMATION& b)
{
    return std::memcmp(&a, &b, sizeof a) == 0;
}

RefPtr<TimeConverter> makeConverter(const char* local = nullptr)
{
    return adoptRef(new TimeConverter(local));
}

TEST(TimeConverter, SameZoneAndUnsetServerZoneLeaveTheDate)
{
    RefPtr<TimeConverter> c = makeConverter();
    const double d = serialOf(2027, 7, 1, 12, 34) + 0.5 / 86400.0;
    for (TZ::TimeZone z : {TZ::UTC, TZ::Local, TZ::EST, TZ::Server})
        EXPECT_EQ(c->convert(d, z, z), d) << z;
    // The server runs on UTC until a zone is named, and again after an empty name.
    EXPECT_EQ(c->convert(d, TZ::UTC, TZ::Server), d);
    EXPECT_EQ(c->convert(d, TZ::Server, TZ::UTC), d);
    if (haveZone("Asia/Tokyo")) {
        c->setServerTimeZone("Asia/Tokyo");
        EXPECT_EQ(secondsBetween(d, c->convert(d, TZ::UTC, TZ::Server)), 9 * 3600);
    }
    for (const char* none : {static_cast<const char*>(nullptr), ""}) {
        c->setServerTimeZone(none);
        EXPECT_EQ(c->convert(d, TZ::UTC, TZ::Server), d);
    }
}

TEST(TimeConverter, EasternTimeFollowsUsDaylightSaving)
{
    if (!haveZone("America/New_York"))
        GTEST_SKIP() << "no zone files";
    RefPtr<TimeConverter> c = makeConverter();
    const _TIME_ZONE_INFORMATION est = c->getDescription(TZ::EST);
    EXPECT_EQ(est.Bias, 300);
    EXPECT_EQ(est.DaylightBias, -60);
    // Second Sunday of March, first Sunday of November, both recurring at 2:00.
    EXPECT_EQ(est.DaylightDate.wYear, 0);
    EXPECT_EQ(est.DaylightDate.wMonth, 3);
    EXPECT_EQ(est.DaylightDate.wDayOfWeek, 0);
    EXPECT_EQ(est.DaylightDate.wDay, 2);
    EXPECT_EQ(est.DaylightDate.wHour, 2);
    EXPECT_EQ(est.StandardDate.wYear, 0);
    EXPECT_EQ(est.StandardDate.wMonth, 11);
    EXPECT_EQ(est.StandardDate.wDayOfWeek, 0);
    EXPECT_EQ(est.StandardDate.wDay, 1);
    EXPECT_EQ(est.StandardDate.wHour, 2);

    const double winter = serialOf(2027, 1, 15, 12), summer = serialOf(2027, 7, 1, 12);
    EXPECT_EQ(secondsBetween(winter, c->convert(winter, TZ::UTC, TZ::EST)), -5 * 3600);
    EXPECT_EQ(secondsBetween(summer, c->convert(summer, TZ::UTC, TZ::EST)), -4 * 3600);
    EXPECT_EQ(c->convert(serialOf(2027, 7, 1, 8), TZ::EST, TZ::UTC), summer);
    // 14 March 2027: 7:00 UTC is the first instant of daylight time.
    EXPECT_EQ(c->convert(serialOf(2027, 3, 14, 6, 59), TZ::UTC, TZ::EST), serialOf(2027, 3, 14, 1, 59));
    EXPECT_EQ(c->convert(serialOf(2027, 3, 14, 7), TZ::UTC, TZ::EST), serialOf(2027, 3, 14, 3));
    // Milliseconds survive the trip.
    const double withMillis = summer + 0.123 / 86400.0;
    EXPECT_NEAR((c->convert(withMillis, TZ::UTC, TZ::EST) - c->convert(summer, TZ::UTC, TZ::EST)) * 86400.0, 0.123,
                1e-4);
}

TEST(TimeConverter, EasternLocalZoneIsCopiedOnlyWhenItReallyIsUsEastern)
{
    if (!haveZone("America/New_York") || !haveZone("Asia/Tokyo") || !haveZone("America/Panama"))
        GTEST_SKIP() << "no zone files";
    ScopedTz tz("America/New_York");
    {
        RefPtr<TimeConverter> c = makeConverter("America/New_York");
        EXPECT_TRUE(sameDescription(c->getDescription(TZ::EST), c->getDescription(TZ::Local)));
        const double d = serialOf(2027, 7, 1, 12);
        EXPECT_EQ(c->convert(d, TZ::UTC, TZ::EST), c->convert(d, TZ::UTC, TZ::Local));
        EXPECT_EQ(c->convert(d, TZ::Local, TZ::EST), d);
    }
    _TIME_ZONE_INFORMATION newYork;
    TimeConverter::getTimeZoneInformation(&newYork, "America/New_York");
    {
        // TZ says EST while the local zone read is another one: EST is read itself.
        RefPtr<TimeConverter> c = makeConverter("Asia/Tokyo");
        EXPECT_TRUE(sameDescription(c->getDescription(TZ::EST), newYork));
        EXPECT_EQ(c->getDescription(TZ::Local).Bias, -540);
        const double d = serialOf(2027, 7, 1, 12);
        EXPECT_EQ(secondsBetween(d, c->convert(d, TZ::Local, TZ::EST)), -13 * 3600);
    }
    tz.set("America/Panama");
    {
        // Panama calls itself EST but keeps no daylight saving.
        RefPtr<TimeConverter> c = makeConverter("America/Panama");
        EXPECT_TRUE(sameDescription(c->getDescription(TZ::EST), newYork));
    }
}

TEST(TimeConverter, UnreadableZoneKeepsTheMachineOffsetOnly)
{
    const int32_t bias = machineBias();
    for (const char* name : {"No/Such_Zone", "../../../etc/passwd", "America", ""}) {
        SCOPED_TRACE(name);
        _TIME_ZONE_INFORMATION info;
        std::memset(&info, 0x5a, sizeof info);
        TimeConverter::getTimeZoneInformation(&info, name);
        _TIME_ZONE_INFORMATION expected;
        std::memset(&expected, 0, sizeof expected);
        expected.Bias = bias;
        EXPECT_TRUE(sameDescription(info, expected));
    }
    TimeConverter::getTimeZoneInformation(nullptr, "Asia/Tokyo");  // no crash
}

TEST(TimeConverter, ConversionsBetweenNamedZonesPassThroughUtc)
{
    if (!haveZone("Asia/Tokyo") || !haveZone("Australia/Adelaide"))
        GTEST_SKIP() << "no zone files";
    RefPtr<TimeConverter> c = makeConverter("Asia/Tokyo");
    c->setServerTimeZone("Australia/Adelaide");
    // January: Adelaide on daylight time, +10:30; Tokyo +9.
    const double tokyo = serialOf(2027, 1, 10, 12);
    EXPECT_EQ(c->convert(tokyo, TZ::Local, TZ::Server), serialOf(2027, 1, 10, 13, 30));
    EXPECT_EQ(c->convert(serialOf(2027, 1, 10, 13, 30), TZ::Server, TZ::Local), tokyo);
    EXPECT_EQ(c->convert(tokyo, TZ::Local, TZ::EST), serialOf(2027, 1, 9, 22));
}

TEST(TimeConverter, BadArgumentsGiveTheDateBack)
{
    RefPtr<TimeConverter> c = makeConverter("Asia/Tokyo");
    const double nan = std::nan("");
    EXPECT_TRUE(std::isnan(c->convert(nan, TZ::UTC, TZ::Local)));
    EXPECT_EQ(c->convert(1e9, TZ::UTC, TZ::Local), 1e9);
    EXPECT_EQ(c->convert(-1e9, TZ::Local, TZ::UTC), -1e9);
    const double d = serialOf(2027, 1, 10, 12);
    EXPECT_EQ(c->convert(d, TZ::UTC, static_cast<TZ::TimeZone>(9)), d);
    EXPECT_EQ(c->convert(d, static_cast<TZ::TimeZone>(-1), TZ::UTC), d);
}

// --- Outside oracle: glibc's localtime_r with TZ set ---

struct OracleZone {
    const char* name;
    // Null when the one-rule model expresses the zone's rules; otherwise why not.
    const char* inexpressible;
};

const OracleZone kOracleZones[] = {
    {"UTC", nullptr},
    {"Etc/UTC", nullptr},
    {"Etc/GMT+5", nullptr},
    {"Etc/GMT-14", nullptr},
    // North America
    {"America/New_York", nullptr},
    {"America/Chicago", nullptr},
    {"America/Denver", nullptr},
    {"America/Phoenix", nullptr},
    {"America/Los_Angeles", nullptr},
    {"America/Anchorage", nullptr},
    {"Pacific/Honolulu", nullptr},
    {"America/Toronto", nullptr},
    {"America/Vancouver", nullptr},
    {"America/Halifax", nullptr},
    {"America/St_Johns", nullptr},
    {"America/Regina", nullptr},
    {"America/Mexico_City", nullptr},
    {"America/Havana", nullptr},
    // South America
    {"America/Sao_Paulo", nullptr},
    {"America/Argentina/Buenos_Aires", nullptr},
    {"America/Santiago", nullptr},
    {"America/Bogota", nullptr},
    {"America/Asuncion", nullptr},
    {"America/Montevideo", nullptr},
    {"Pacific/Easter", nullptr},
    // Europe
    {"Europe/London", nullptr},
    {"Europe/Dublin", nullptr},
    {"Europe/Lisbon", nullptr},
    {"Europe/Paris", nullptr},
    {"Europe/Berlin", nullptr},
    {"Europe/Athens", nullptr},
    {"Europe/Helsinki", nullptr},
    {"Europe/Kyiv", nullptr},
    {"Europe/Moscow", nullptr},
    {"Europe/Istanbul", nullptr},
    {"Atlantic/Azores", nullptr},
    {"Atlantic/Reykjavik", nullptr},
    // Asia
    {"Asia/Tokyo", nullptr},
    {"Asia/Kolkata", nullptr},
    {"Asia/Kathmandu", nullptr},
    {"Asia/Tehran", nullptr},
    {"Asia/Shanghai", nullptr},
    {"Asia/Hong_Kong", nullptr},
    {"Asia/Singapore", nullptr},
    {"Asia/Dubai", nullptr},
    {"Asia/Karachi", nullptr},
    {"Asia/Seoul", nullptr},
    {"Asia/Beirut", nullptr},
    {"Asia/Amman", nullptr},
    {"Asia/Jerusalem", "Friday before the last Sunday of March: a weekday rule tied to another weekday"},
    {"Asia/Gaza", "Saturday on or before the 30th, moved around Ramadan"},
    // Australia and the Pacific
    {"Australia/Sydney", nullptr},
    {"Australia/Melbourne", nullptr},
    {"Australia/Brisbane", nullptr},
    {"Australia/Adelaide", nullptr},
    {"Australia/Darwin", nullptr},
    {"Australia/Perth", nullptr},
    {"Australia/Hobart", nullptr},
    {"Australia/Lord_Howe", nullptr},
    {"Pacific/Auckland", nullptr},
    {"Pacific/Chatham", "changes at 2:45 standard time, and the date functions read only the whole hour of a "
                        "rule: 45 minutes early twice a year"},
    {"Pacific/Norfolk", nullptr},
    {"Pacific/Fiji", nullptr},
    {"Pacific/Apia", nullptr},
    {"Pacific/Kiritimati", nullptr},
    // Africa
    {"Africa/Cairo", "ends at 24:00 of the last Thursday of October: the Friday after it, which is not the last "
                     "Friday when 31 October is a Thursday"},
    {"Africa/Casablanca", "daylight time suspended for Ramadan: dates of the Islamic calendar"},
    {"Africa/El_Aaiun", "daylight time suspended for Ramadan: dates of the Islamic calendar"},
    {"Africa/Johannesburg", nullptr},
    {"Africa/Lagos", nullptr},
    {"Africa/Nairobi", nullptr},
    {"Africa/Algiers", nullptr},
    {"Africa/Windhoek", nullptr},
    {"Antarctica/Troll", nullptr},
};

struct Mismatches {
    int count = 0;
    std::ostringstream text;
    void add(const std::string& what)
    {
        if (count++ < 5)
            text << "\n    " << what;
    }
};

std::string utcText(int64_t t)
{
    char buf[32];
    const time_t tt = time_t(t);
    tm g{};
    gmtime_r(&tt, &g);
    std::strftime(buf, sizeof buf, "%Y-%m-%d %H:%M UTC", &g);
    return buf;
}

TEST(TimeConverterOracle, MatchesGlibcForCurrentAndNextYear)
{
    const time_t now = time(nullptr);
    tm nowTm{};
    gmtime_r(&now, &nowTm);
    const int year = nowTm.tm_year + 1900;
    const int64_t from = testing::utcTime(year, 1, 1), to = testing::utcTime(year + 2, 1, 1);

    ScopedTz tz("UTC");
    RefPtr<TimeConverter> c = makeConverter();
    int checked = 0;
    std::ostringstream failures;
    for (const OracleZone& zone : kOracleZones) {
        if (!haveZone(zone.name))
            continue;
        ++checked;
        tz.set(zone.name);
        c->setServerTimeZone(zone.name);
        auto offsetAt = [](int64_t t) {
            const time_t tt = time_t(t);
            tm l{};
            localtime_r(&tt, &l);
            return int64_t(l.tm_gmtoff);
        };
        std::set<int64_t> offsets;
        for (int64_t t = from; t < to; t += 3600)
            offsets.insert(offsetAt(t));

        Mismatches bad;
        for (int64_t t = from; t < to; t += 3600) {
            const int64_t expected = offsetAt(t);
            const double utc = serialOf(t);
            const double local = c->convert(utc, TZ::UTC, TZ::Server);
            const int64_t got = secondsBetween(utc, local);
            // Local wall times near a change are skipped or doubled: no unique answer.
            const bool nearChange = offsetAt(t - 3 * 3600) != expected || offsetAt(t + 3 * 3600) != expected;
            if (zone.inexpressible) {
                if (!offsets.count(got))
                    bad.add(utcText(t) + ": offset " + std::to_string(got) + " s is none of the zone's");
                continue;
            }
            if (got != expected)
                bad.add(utcText(t) + ": to zone " + std::to_string(got) + " s, glibc " + std::to_string(expected));
            if (offsetAt(t + 3600) != expected) {
                // A change within the next hour: every quarter hour around it, so a
                // change at a minute past the hour is caught too.
                for (int64_t q = t - 2 * 3600; q < t + 3 * 3600; q += 900) {
                    const int64_t want = offsetAt(q);
                    const int64_t have = secondsBetween(serialOf(q), c->convert(serialOf(q), TZ::UTC, TZ::Server));
                    if (have != want)
                        bad.add(utcText(q) + ": to zone " + std::to_string(have) + " s, glibc " +
                                std::to_string(want));
                }
            }
            if (!nearChange) {
                const int64_t back = secondsBetween(serialOf(t + expected), c->convert(serialOf(t + expected),
                                                                                       TZ::Server, TZ::UTC));
                if (back != -expected)
                    bad.add(utcText(t) + ": from zone " + std::to_string(-back) + " s, glibc " +
                            std::to_string(expected));
            }
        }
        if (bad.count)
            failures << "\n  " << zone.name << ": " << bad.count << " mismatches" << bad.text.str();
    }
    EXPECT_GE(checked, 40) << "too few zone files on this machine";
    EXPECT_TRUE(failures.str().empty()) << failures.str();
}

} // namespace
} // namespace zel
