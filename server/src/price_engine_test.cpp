#include "price_engine.h"

#include <gtest/gtest.h>

#include <cmath>

#include "demo_world.h"

namespace pellora::dealer {
namespace {

// Tuesday 2 July 2024 10:00 UTC: well inside a trading week.
const UnixMs kStart = makeUtc(2024, 7, 2, 10);

class PriceEngineTest : public ::testing::Test {
protected:
    World world = demoWorld();
    MarketCalendar calendar = MarketCalendar::newYork("/usr/share/zoneinfo");
    PriceEngine make(uint64_t seed, UnixMs start = kStart) { return PriceEngine(seed, world.instruments, 20, calendar, start); }
};

bool sameStates(const PriceEngine& a, const PriceEngine& b) {
    for (size_t i = 0; i < a.size(); ++i) {
        const PriceState &x = a.states()[i], &y = b.states()[i];
        if (x.bidUnits != y.bidUnits || x.askUnits != y.askUnits || x.tickIndex != y.tickIndex ||
            x.highUnits != y.highUnits || x.lowUnits != y.lowUnits || x.time != y.time)
            return false;
    }
    return true;
}

TEST_F(PriceEngineTest, SameSeedSamePricesWhateverTheStepping) {
    PriceEngine a = make(7), b = make(7), c = make(8);
    a.advanceTo(kStart + 60000, nullptr);
    for (UnixMs t = kStart; t <= kStart + 60000; t += 777) b.advanceTo(t, nullptr);
    b.advanceTo(kStart + 60000, nullptr);
    c.advanceTo(kStart + 60000, nullptr);
    EXPECT_TRUE(sameStates(a, b));
    EXPECT_FALSE(sameStates(a, c));
}

TEST_F(PriceEngineTest, TicksFollowTheRateAndKeepSpreadAndUnits) {
    PriceEngine e = make(1);
    int ticks = 0;
    e.advanceTo(kStart + 10000, [&](size_t i, const OfferQuote& q) {
        ++ticks;
        const Instrument& m = e.instrument(i);
        const double scale = std::pow(10.0, m.digits);
        EXPECT_EQ(fromUnits(std::llround(q.bid * scale), m.digits), q.bid);  // whole units
        const int64_t spread = std::llround((q.ask - q.bid) * scale);
        EXPECT_EQ(spread, std::llround(m.spread * m.pointSize * scale)) << m.symbol;
        EXPECT_GE(q.high, q.bid);
        EXPECT_LE(q.low, q.bid);
        EXPECT_GE(q.time, kStart);
        EXPECT_LE(q.time, kStart + 10000);
        EXPECT_EQ(q.time % 50, 0);  // 20 per second
    });
    EXPECT_EQ(ticks, 201);  // ticks at 0, 50, ..., 10000 ms
}

TEST_F(PriceEngineTest, ResumesFromStoredStateExactly) {
    PriceEngine straight = make(5);
    straight.advanceTo(kStart + 30000, nullptr);

    PriceEngine first = make(5);
    first.advanceTo(kStart + 12345, nullptr);
    PriceEngine resumed = make(5, kStart + 99999999);  // its own start is overridden
    resumed.restore(first.states(), first.schedule());
    resumed.advanceTo(kStart + 30000, nullptr);
    EXPECT_TRUE(sameStates(straight, resumed));
}

TEST_F(PriceEngineTest, WeekendIsQuietUnlessOpened) {
    const UnixMs saturday = makeUtc(2024, 7, 6, 12);
    PriceEngine closed = make(3, saturday), open = make(3, saturday);
    open.setWeekendsClosed(false);
    int closedTicks = 0, openTicks = 0;
    closed.advanceTo(saturday + 5000, [&](size_t, const OfferQuote&) { ++closedTicks; });
    open.advanceTo(saturday + 5000, [&](size_t, const OfferQuote&) { ++openTicks; });
    EXPECT_EQ(closedTicks, 0);
    EXPECT_EQ(openTicks, 101);
}

TEST_F(PriceEngineTest, DayRangeRestartsAt17NewYork) {
    const UnixMs before = makeUtc(2024, 7, 2, 20, 59);  // 16:59 EDT
    PriceEngine e = make(9, before);
    e.advanceTo(before + 59999, nullptr);
    const PriceState old = e.states()[0];
    ASSERT_GT(old.dayVolume, 0);
    e.advanceTo(before + 60000 + 5000, nullptr);
    const PriceState now = e.states()[0];
    EXPECT_EQ(now.dayStart, makeUtc(2024, 7, 2, 21));
    EXPECT_LT(now.dayVolume, old.dayVolume + 10);
    EXPECT_GE(now.highUnits, now.bidUnits);
    EXPECT_LE(now.lowUnits, now.bidUnits);
    EXPECT_LE(now.highUnits - now.lowUnits, 200);  // a few seconds' range, not the old day's
}

TEST_F(PriceEngineTest, SetPriceByHand) {
    PriceEngine e = make(1);
    OfferQuote q;
    ASSERT_TRUE(e.setPrice("1", 1.23456, kStart + 10, q));
    EXPECT_DOUBLE_EQ(q.bid, 1.23456);
    EXPECT_DOUBLE_EQ(q.ask, 1.23464);  // 0.8 pips
    EXPECT_EQ(q.time, kStart + 10);
    EXPECT_DOUBLE_EQ(q.high, 1.23456);
    EXPECT_FALSE(e.setPrice("77", 1.0, kStart, q));
    EXPECT_FALSE(e.setPrice("1", 0.0, kStart, q));
}

TEST_F(PriceEngineTest, HugeClockJumpCostsBoundedWork) {
    PriceEngine e = make(1);
    int64_t ticks = 0;
    e.advanceTo(kStart + 400LL * kMsPerDay, [&](size_t, const OfferQuote&) { ++ticks; });
    EXPECT_LE(ticks, PriceEngine::kMaxTicksPerAdvance);
    EXPECT_GT(ticks, 0);
}

} // namespace
} // namespace pellora::dealer
