#include "history.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "demo_world.h"
#include "price_engine.h"

namespace pellora::dealer {
namespace {

const UnixMs kNow = makeUtc(2024, 7, 3, 15, 30, 25);  // a Wednesday

class HistoryTest : public ::testing::Test {
protected:
    World world = demoWorld();
    MarketCalendar calendar = MarketCalendar::newYork("/usr/share/zoneinfo");
    HistoryGenerator gen{42, world.instruments, calendar, kNow};

    std::vector<Bar> bars(const char* tf, int count, UnixMs from = 0, UnixMs to = 0, bool weekends = false,
                          const HistoryGenerator* g = nullptr, const std::string& offer = "1") {
        HistoryRequest r;
        r.offerId = offer;
        r.timeframe = findTimeframe(tf);
        r.count = count;
        r.from = from;
        r.to = to;
        r.includeWeekends = weekends;
        std::vector<Bar> out;
        const Status s = (g ? g : &gen)->bars(r, kNow, nullptr, out);
        EXPECT_TRUE(s.isOk()) << s.text();
        return out;
    }
};

bool sameBars(const std::vector<Bar>& a, const std::vector<Bar>& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (a[i].time != b[i].time || a[i].bidOpen != b[i].bidOpen || a[i].bidClose != b[i].bidClose ||
            a[i].bidHigh != b[i].bidHigh || a[i].askLow != b[i].askLow || a[i].volume != b[i].volume)
            return false;
    return true;
}

TEST_F(HistoryTest, SameSeedSameBarsOtherSeedOtherBars) {
    HistoryGenerator again(42, world.instruments, calendar, kNow);
    HistoryGenerator other(43, world.instruments, calendar, kNow);
    for (const char* tf : {"t1", "m1", "H4", "D1", "M1"}) {
        EXPECT_TRUE(sameBars(bars(tf, 50), bars(tf, 50, 0, 0, false, &again))) << tf;
        EXPECT_FALSE(sameBars(bars(tf, 50), bars(tf, 50, 0, 0, false, &other))) << tf;
    }
}

// Every timeframe: count, order, alignment, no weekend bars, sane extremes.
TEST_F(HistoryTest, EveryTimeframeGivesWellFormedBars) {
    for (const Timeframe& tf : timeframes()) {
        SCOPED_TRACE(tf.id);
        const int count = tf.unit == TimeUnit::Month ? 24 : 120;
        const std::vector<Bar> b = bars(tf.id, count, 0, 0, false, nullptr, "2");
        ASSERT_EQ(static_cast<int>(b.size()), count);
        for (size_t i = 0; i < b.size(); ++i) {
            const Bar& x = b[i];
            if (i) {
                EXPECT_GT(x.time, b[i - 1].time);
            }
            EXPECT_LE(x.time, kNow);
            EXPECT_GE(x.bidHigh, std::max(x.bidOpen, x.bidClose));
            EXPECT_LE(x.bidLow, std::min(x.bidOpen, x.bidClose));
            EXPECT_GE(x.askHigh, std::max(x.askOpen, x.askClose));
            EXPECT_LE(x.askLow, std::min(x.askOpen, x.askClose));
            EXPECT_EQ(x.askClose - x.bidClose, 10);  // USD/JPY: 1 pip = 10 units
            EXPECT_GT(x.volume, 0);
            switch (tf.unit) {
                case TimeUnit::Tick: EXPECT_FALSE(calendar.isWeekend(x.time)); break;
                case TimeUnit::Minute: EXPECT_EQ(x.time % (tf.size * kMsPerMinute), 0); break;
                case TimeUnit::Hour: EXPECT_EQ(x.time % (tf.size * kMsPerHour), 0); break;
                case TimeUnit::Day: EXPECT_EQ(calendar.tradingDayStart(x.time), x.time); break;
                case TimeUnit::Week: EXPECT_EQ(calendar.weekStart(x.time), x.time); break;
                case TimeUnit::Month: EXPECT_EQ(calendar.monthStart(x.time), x.time); break;
            }
            // No bar lies wholly inside a weekend (an hour bar may straddle the open).
            const UnixMs period = tf.unit == TimeUnit::Minute ? tf.size * kMsPerMinute
                                  : tf.unit == TimeUnit::Hour ? tf.size * kMsPerHour
                                  : tf.unit == TimeUnit::Day  ? calendar.nextTradingDayStart(x.time) - x.time
                                                              : 0;
            if (period) {
                EXPECT_FALSE(calendar.isWeekend(x.time) && calendar.isWeekend(x.time + period - 1))
                    << utcTimestamp(x.time);
            }
        }
    }
}

TEST_F(HistoryTest, BarsOfDifferentFramesAgreeOnOpenAndClose) {
    // An hour's open is its first minute's open; its close the last minute's close.
    const std::vector<Bar> hours = bars("H1", 3);
    const std::vector<Bar> minutes = bars("m1", 0, hours[0].time, hours[0].time + kMsPerHour - 1);
    ASSERT_EQ(minutes.size(), 60u);
    EXPECT_EQ(hours[0].bidOpen, minutes.front().bidOpen);
    EXPECT_EQ(hours[0].bidClose, minutes.back().bidClose);
    int64_t hi = 0;
    for (const Bar& m : minutes) hi = std::max(hi, m.bidHigh);
    EXPECT_EQ(hours[0].bidHigh, hi);
}

TEST_F(HistoryTest, RangeCountDefaultAndWeekends) {
    EXPECT_EQ(bars("m5", 0).size(), 300u);  // the default
    const UnixMs from = makeUtc(2024, 7, 1), to = makeUtc(2024, 7, 1, 3);
    const std::vector<Bar> ranged = bars("m15", 1000, from, to);
    ASSERT_EQ(ranged.size(), 13u);  // 00:00 ... 03:00
    EXPECT_EQ(ranged.front().time, from);
    EXPECT_EQ(ranged.back().time, to);
    EXPECT_EQ(bars("m15", 5, from, to).front().time, to - 4 * 15 * kMsPerMinute);  // the latest five

    const UnixMs satFrom = makeUtc(2024, 6, 29, 10), satTo = makeUtc(2024, 6, 29, 11);
    EXPECT_TRUE(bars("m1", 100, satFrom, satTo).empty());
    EXPECT_EQ(bars("m1", 100, satFrom, satTo, true).size(), 61u);
    // The hourly walk skips the weekend: the bar before Sunday 21:00 UTC is Friday 20:00.
    const std::vector<Bar> h = bars("H1", 3, 0, makeUtc(2024, 6, 30, 21, 30));
    ASSERT_EQ(h.size(), 3u);
    EXPECT_EQ(h[2].time, makeUtc(2024, 6, 30, 21));
    EXPECT_EQ(h[1].time, makeUtc(2024, 6, 28, 20));
}

TEST_F(HistoryTest, PathPassesThroughTheAnchor) {
    const std::vector<Bar> t = bars("t1", 1);
    ASSERT_EQ(t.size(), 1u);
    // EUR/USD starts at 1.08450 / 1.08458: mid 108454 units, spread 8.
    EXPECT_EQ(t[0].bidClose, 108450);
    EXPECT_EQ(t[0].askClose, 108458);
}

TEST_F(HistoryTest, LiveTicksDecideTheRunsOwnBars) {
    const UnixMs start = makeUtc(2024, 7, 3, 15, 0);
    PriceEngine engine(42, world.instruments, 20, calendar, start);
    LiveTape tape(world.instruments.size());
    HistoryGenerator g(42, world.instruments, calendar, start);
    std::vector<OfferQuote> eurusd;
    engine.advanceTo(start + 10 * kMsPerMinute - 1, [&](size_t i, const OfferQuote& q) {
        const int digits = engine.instrument(i).digits;
        tape.record(i, q.time, toUnits(q.bid, digits), toUnits(q.ask, digits));
        if (i == 0) eurusd.push_back(q);
    });
    ASSERT_FALSE(eurusd.empty());
    HistoryRequest r;
    r.offerId = "1";
    r.timeframe = findTimeframe("m1");
    r.from = start;
    r.to = start + 9 * kMsPerMinute;
    std::vector<Bar> out;
    ASSERT_TRUE(g.bars(r, start + 10 * kMsPerMinute - 1, &tape, out).isOk());
    ASSERT_EQ(out.size(), 10u);
    for (const Bar& b : out) {
        std::vector<const OfferQuote*> in;
        for (const OfferQuote& q : eurusd)
            if (q.time >= b.time && q.time < b.time + kMsPerMinute) in.push_back(&q);
        ASSERT_FALSE(in.empty());
        EXPECT_EQ(b.bidOpen, toUnits(in.front()->bid, 5));
        EXPECT_EQ(b.bidClose, toUnits(in.back()->bid, 5));
        EXPECT_EQ(b.volume, static_cast<int64_t>(in.size()));
        int64_t hi = 0;
        for (const OfferQuote* q : in) hi = std::max(hi, toUnits(q->bid, 5));
        EXPECT_EQ(b.bidHigh, hi);
    }
}

TEST_F(HistoryTest, RefusesUnknownOfferAndBadRange) {
    HistoryRequest r;
    r.offerId = "77";
    r.timeframe = findTimeframe("m1");
    std::vector<Bar> out;
    EXPECT_EQ(gen.bars(r, kNow, nullptr, out).text(), "Unknown offer 77.");
    r.offerId = "1";
    r.from = kNow;
    r.to = kNow - 1;
    EXPECT_FALSE(gen.bars(r, kNow, nullptr, out).isOk());
    r.from = r.to = 0;
    r.timeframe = nullptr;
    EXPECT_FALSE(gen.bars(r, kNow, nullptr, out).isOk());
}

TEST(BarLines, WritesTheWireLayout) {
    Bar b;
    b.time = makeUtc(2024, 1, 2, 3, 4, 5);
    b.bidOpen = 108450, b.bidClose = 108460, b.bidHigh = 108470, b.bidLow = 108440;
    b.askOpen = 108458, b.askClose = 108468, b.askHigh = 108478, b.askLow = 108448;
    b.volume = 77;
    Bar c = b;
    c.time += kMsPerMinute;
    EXPECT_EQ(barLines({b, c}, 5),
              "20240102-03:04:05;1.08450;1.08460;1.08470;1.08440;1.08458;1.08468;1.08478;1.08448;77\n"
              "20240102-03:05:05;1.08450;1.08460;1.08470;1.08440;1.08458;1.08468;1.08478;1.08448;77");
    EXPECT_EQ(barLines({}, 5), "");
}

TEST(Timeframes, FromRequestFields) {
    struct Case {
        int code;
        const char* settlement;
        const char* expected;  // null: refused
    } cases[] = {{0, "", "t1"},   {1, "", "m1"},   {2, "", "m5"},    {3, "", "m15"}, {4, "", "m30"},
                 {5, "", "H1"},   {5, "H2", "H2"}, {5, "H8", "H8"},  {6, "", "D1"},  {6, "H4", "D1"},
                 {7, "", "W1"},   {8, "", "M1"},   {5, "H5", nullptr}, {5, "D1", nullptr}, {9, "", nullptr},
                 {-1, "", nullptr}};
    for (const Case& c : cases) {
        const Timeframe* tf = nullptr;
        const Status s = timeframeFromRequest(c.code, c.settlement, tf);
        if (c.expected) {
            ASSERT_TRUE(s.isOk()) << c.code << c.settlement;
            EXPECT_STREQ(tf->id, c.expected);
        } else {
            EXPECT_FALSE(s.isOk()) << c.code << c.settlement;
        }
    }
    EXPECT_EQ(timeframes().size(), 14u);
    EXPECT_STREQ(timeframes()[13].id, "M1");
    EXPECT_EQ(findTimeframe("h1"), nullptr);
}

} // namespace
} // namespace pellora::dealer
