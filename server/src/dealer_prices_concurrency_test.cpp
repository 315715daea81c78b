// Prices and history over the real transport: pushed offer lines on the market-data
// channel, history answers of minute, hour, day and tick frames, weekends, rejects,
// and the same bars from the same seed.

#include "dealer_fixture.h"

#include "merrow/utc_timestamp.h"

namespace pellora::dealer::testing {
namespace {

using PriceTest = DealerTest;

// "YYYYMMDD-HH:MM:SS" → UnixMs.
UnixMs barTime(const std::string& line) {
    const std::string t = at(line, 0);
    return fromSerial(merrow::CUTCTimestamp::toDate(t.c_str()));
}

std::vector<std::string> bars(const Got& g) {
    EXPECT_EQ(g.type, Fx::MSGTYPE_QORARESPONSE);
    return g.das.empty() ? std::vector<std::string>() : lines(g.das);
}

// Friday 22:00 UTC to Sunday 22:00 UTC in January (17:00 New York, standard time).
bool inJanuaryWeekend(UnixMs t) {
    return t >= makeUtc(2026, 1, 2, 22) && t < makeUtc(2026, 1, 4, 22);
}

TEST_F(PriceTest, OfferLinesArePushedOnTheMarketDataChannel) {
    auto c = loggedIn();
    LoginArgs quiet;
    quiet.filter = Fx::CHANNEL_MARKET_DATA;
    auto filtered = loggedIn(quiet);
    ASSERT_TRUE(dealer->stepClock(3000).isOk());
    ASSERT_TRUE(c->messages().waitFor([](const Got& g) { return g.type == Fx::MSGTYPE_DASMESSAGE; }));
    dealer->stopPrices();
    const auto table = lines(c->command(9));
    // Per offer, the last pushed line holds what the offers table now says.
    std::map<std::string, std::string> lastPushed;
    for (const Got& g : c->messages().all()) {
        if (g.type != Fx::MSGTYPE_DASMESSAGE) continue;
        auto l = lines(g.field(Fx::FLDTAG_TEXT));
        ASSERT_GE(l.size(), 2u);
        ASSERT_LE(l.size(), 51u);  // at most 50 ticks travel together
        EXPECT_EQ(at(l[0], 0), "0");
        EXPECT_EQ(at(l[0], 1).size(), 17u);
        for (size_t i = 1; i < l.size(); ++i) {
            EXPECT_EQ(l[i].substr(0, 8), "OFFER;U;");
            lastPushed[at(l[i], 2)] = l[i].substr(8);
        }
    }
    EXPECT_GE(lastPushed.size(), 5u);
    for (size_t i = 1; i < table.size(); ++i) {
        auto it = lastPushed.find(at(table[i], 0));
        if (it != lastPushed.end()) {
            EXPECT_EQ(it->second, table[i]);
        }
    }
    // The session that filtered market data got answers but no offers.
    EXPECT_EQ(filtered->command(5).substr(0, 2), "0\n");
    for (const Got& g : filtered->messages().all()) EXPECT_NE(g.type, Fx::MSGTYPE_DASMESSAGE);
}

TEST_F(PriceTest, MinuteHourAndDayBars) {
    auto c = loggedIn();
    Client::History h;
    h.count = 5;
    Got g = c->history(h);
    auto m1 = bars(g);
    ASSERT_EQ(m1.size(), 5u);
    for (size_t i = 0; i < m1.size(); ++i) {
        EXPECT_EQ(fields(m1[i]).size(), 10u) << m1[i];
        EXPECT_EQ(at(m1[i], 1).find('.') , 1u);  // bid open with the instrument's decimals
        EXPECT_EQ(at(m1[i], 1).size(), 7u);
        if (i) {
            EXPECT_EQ(barTime(m1[i]) - barTime(m1[i - 1]), kMsPerMinute);
        }
    }
    EXPECT_LE(barTime(m1.back()), dealer->now());
    EXPECT_EQ(g.field(Fx::FLDTAG_SYMBOL), "EUR/USD");
    EXPECT_EQ(g.field(Fx::FLDTAG_LAST_MINUTE), at(m1.back(), 0));
    EXPECT_EQ(g.field(Fx::FLDTAG_LAST_MINUTE_VOLUME), at(m1.back(), 9));

    h.interval = 5;
    h.settlement = "H4";
    h.count = 6;
    auto h4 = bars(c->history(h));
    ASSERT_EQ(h4.size(), 6u);
    // Monday 12:00 back to Friday: the bars that touch trading time, none inside the weekend.
    std::vector<std::string> h4Times;
    for (const std::string& l : h4) h4Times.push_back(at(l, 0));
    EXPECT_EQ(h4Times, (std::vector<std::string>{"20260102-20:00:00", "20260104-20:00:00", "20260105-00:00:00",
                                                 "20260105-04:00:00", "20260105-08:00:00", "20260105-12:00:00"}));

    h.interval = 6;
    h.settlement.clear();
    h.count = 4;
    auto d1 = bars(c->history(h));
    ASSERT_EQ(d1.size(), 4u);
    for (const std::string& l : d1) {
        EXPECT_EQ(barTime(l) % kMsPerDay, 22 * kMsPerHour) << l;  // 17:00 New York in January
        EXPECT_FALSE(inJanuaryWeekend(barTime(l))) << l;
    }

    h.count = 0;  // no count: the default of 300, here bounded by the range
    h.interval = 1;
    h.fromDate = "20260105";
    h.fromTime = "10:00:00";
    h.toDate = "20260105";
    h.toTime = "10:59:00";
    EXPECT_EQ(bars(c->history(h)).size(), 60u);
    h.fromDate = h.toDate = "";
    EXPECT_EQ(bars(c->history(h)).size(), 300u);
}

TEST_F(PriceTest, WeekendsAreLeftOutUnlessAskedFor) {
    auto c = loggedIn();
    Client::History h;
    h.interval = 5;  // H1
    h.fromDate = "20260102";
    h.fromTime = "12:00:00";
    h.toDate = "20260105";
    h.toTime = "06:00:00";
    h.count = 1000;
    auto without = bars(c->history(h));
    ASSERT_FALSE(without.empty());
    for (const std::string& l : without) EXPECT_FALSE(inJanuaryWeekend(barTime(l))) << l;
    EXPECT_EQ(without.size(), 10u + 9u);  // Friday 12:00-21:00 and Sunday 22:00-Monday 06:00

    h.weekends = true;
    auto with = bars(c->history(h));
    size_t inWeekend = 0;
    for (const std::string& l : with) inWeekend += inJanuaryWeekend(barTime(l));
    EXPECT_EQ(inWeekend, 48u);
}

TEST_F(PriceTest, TicksOfTheCurrentRun) {
    auto c = loggedIn();
    const UnixMs before = dealer->now();
    for (int i = 0; i < 60; ++i) ASSERT_TRUE(dealer->stepClock(1000).isOk());
    Client::History h;
    h.interval = 0;
    h.count = 1000;
    h.fromDate = "20260105";
    h.fromTime = "12:00:00";
    auto ticks = bars(c->history(h));
    // The run's ticks are kept as the last tick of each 10-second slot.
    ASSERT_GE(ticks.size(), 5u);
    for (size_t i = 1; i < ticks.size(); ++i) EXPECT_LT(barTime(ticks[i - 1]), barTime(ticks[i]));
    for (const std::string& l : ticks) {
        EXPECT_EQ(at(l, 1), at(l, 2)) << l;  // bid open = bid close
        EXPECT_EQ(at(l, 5), at(l, 6)) << l;
        EXPECT_GE(barTime(l), before - kMsPerSecond);
        EXPECT_LE(barTime(l), dealer->now());
    }
    // The last tick is the offer's current bid.
    dealer->stopPrices();
    auto off = lines(c->command(9));
    EXPECT_EQ(at(ticks.back(), 2), at(off[1], 5));
}

TEST_F(PriceTest, RefusedHistoryRequests) {
    auto c = loggedIn();
    struct Case {
        const char* what;
        std::function<void(Client::History&)> change;
        int reason;
        const char* text;
    };
    const Case cases[] = {
        {"unknown instrument", [](Client::History& h) { h.symbol = "XAU/EUR"; }, Fx::MDREQREJREASON_UNKNOWN_SYMBOL,
         "Unknown instrument 'XAU/EUR'."},
        {"hour frame not in the table", [](Client::History& h) { h.interval = 5; h.settlement = "H5"; },
         Fx::MDREQREJREASON_UNSUPPORTED_MDENTRYTYPE, nullptr},
        {"unknown interval", [](Client::History& h) { h.interval = 42; }, Fx::MDREQREJREASON_UNSUPPORTED_MDENTRYTYPE,
         nullptr},
        {"bad start date", [](Client::History& h) { h.fromDate = "2026-1-5"; h.fromTime = "00:00:00"; },
         Fx::MDREQREJREASON_UNKNOWN_SYMBOL, "The start date is not a date."},
        {"reversed range",
         [](Client::History& h) {
             h.fromDate = "20260105"; h.fromTime = "10:00:00"; h.toDate = "20260104"; h.toTime = "10:00:00";
         },
         Fx::MDREQREJREASON_UNKNOWN_SYMBOL, "The start date is after the end date."},
        {"no response format", [](Client::History& h) { h.format.clear(); }, Fx::MDREQREJREASON_UNSUPPORTED_MDUPDATETYPE,
         nullptr},
    };
    for (const Case& k : cases) {
        Client::History h;
        h.count = 3;
        k.change(h);
        Got g = c->history(h);
        ASSERT_EQ(g.type, Fx::MSGTYPE_MARKETDATAREQUESTREJECT) << k.what;
        EXPECT_EQ(g.field(Fx::FLDTAG_MDREQREJREASON), std::to_string(k.reason)) << k.what;
        EXPECT_FALSE(g.field(Fx::FLDTAG_TEXT).empty()) << k.what;
        if (k.text) {
            EXPECT_EQ(g.field(Fx::FLDTAG_TEXT), k.text) << k.what;
        }
    }
}

TEST(PriceSeedTest, SameSeedSameBarsAndPrices) {
    auto run = [](uint64_t seed) {
        std::unique_ptr<Dealer> d;
        EXPECT_TRUE(Dealer::create(testConfig(freshDir(), seed), d).isOk());
        EXPECT_TRUE(d->listen("tcp://127.0.0.1:0").isOk());
        EXPECT_TRUE(d->start().isOk());
        Client c("tcp://127.0.0.1:" + std::to_string(d->boundPort(0)));
        EXPECT_EQ(c.login(LoginArgs()), "");
        std::string out;
        Client::History h;
        h.count = 50;
        out += c.history(h).das + "\n";
        h.interval = 6;
        out += c.history(h).das + "\n";
        for (int i = 0; i < 10; ++i) EXPECT_TRUE(d->stepClock(1000).isOk());
        d->stopPrices();
        out += c.command(9);
        d->stop();
        return out;
    };
    const std::string first = run(11);
    EXPECT_EQ(first, run(11));
    EXPECT_NE(first, run(12));
}

} // namespace
} // namespace pellora::dealer::testing
