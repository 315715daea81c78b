#pragma once
// A dealer on an ephemeral TCP port with a virtual clock and a fresh data folder,
// for the in-process tests. Tests only.

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <string>

#include "dealer.h"
#include "demo_world.h"
#include "dealer_test_client.h"

namespace pellora::dealer::testing {

inline std::string freshDir() {
    char tmpl[] = "/tmp/dealer-test-XXXXXX";
    const char* d = ::mkdtemp(tmpl);
    return d ? d : "/tmp/dealer-test-fallback";
}

// Rows of two users, so that tests can tell whose rows an answer holds.
inline World testWorld() {
    World w = demoWorld();
    TradeRecord t;
    t.tradeId = "T1"; t.accountId = "01001"; t.accountName = "01001"; t.offerId = "1"; t.openRate = 1.0845;
    t.buySell = "B"; t.amount = 10000; t.openTime = makeUtc(2026, 1, 5, 9); t.accountKind = "32";
    w.startingState.trades.push_back(t);
    t.tradeId = "T2"; t.accountId = "02001"; t.accountName = "02001"; t.offerId = "2"; t.openRate = 149.12;
    w.startingState.trades.push_back(t);
    OrderRecord o;
    o.orderId = "O1"; o.accountId = "01002"; o.accountName = "01002"; o.offerId = "3"; o.buySell = "S";
    o.amount = 2000; o.rate = 1.3; o.type = "LE"; o.status = "W"; o.stage = "O"; o.accountKind = "32";
    w.startingState.orders.push_back(o);
    o.orderId = "O2"; o.accountId = "02001"; o.accountName = "02001";
    w.startingState.orders.push_back(o);
    ClosedTradeRecord c;
    c.tradeId = "C1"; c.accountId = "01001"; c.accountName = "01001"; c.offerId = "1"; c.grossPL = 12.5;
    c.openRate = 1.08; c.closeRate = 1.0812; c.buySell = "B"; c.amount = 1000; c.accountKind = "32";
    w.startingState.closedTrades.push_back(c);
    c.tradeId = "C2"; c.accountId = "02001"; c.accountName = "02001";
    w.startingState.closedTrades.push_back(c);
    MessageRecord m;
    m.msgId = "M1"; m.user = "demo"; m.from = "Dealer"; m.type = "1"; m.text = "Welcome"; m.subject = "Hello";
    m.time = makeUtc(2026, 1, 5, 8);
    w.startingState.messages.push_back(m);
    m.msgId = "M2"; m.user = "demo22"; m.text = "Private";
    w.startingState.messages.push_back(m);
    return w;
}

inline DealerConfig testConfig(const std::string& dir, uint64_t seed = 7) {
    DealerConfig c;
    c.world = testWorld();
    c.dataDir = dir;
    c.seed = seed;
    c.tickRate = 20;
    c.virtualClock = true;
    c.serverOptions.maxLogonFailures = 1000;
    c.serverOptions.threads = 2;
    return c;
}

class DealerTest : public ::testing::Test {
protected:
    void SetUp() override { startDealer(testConfig(freshDir())); }
    void TearDown() override {
        if (dealer) dealer->stop();
    }
    void startDealer(DealerConfig c) {
        Status s = Dealer::create(std::move(c), dealer);
        ASSERT_TRUE(s.isOk()) << s.text();
        ASSERT_TRUE(dealer->listen("tcp://127.0.0.1:0").isOk());
        ASSERT_TRUE(dealer->start().isOk());
        url = "tcp://127.0.0.1:" + std::to_string(dealer->boundPort(0));
    }
    std::unique_ptr<Client> loggedIn(LoginArgs args = LoginArgs()) {
        auto c = std::make_unique<Client>(url);
        const std::string err = c->login(args);
        EXPECT_EQ(err, "");
        return c;
    }

    std::unique_ptr<Dealer> dealer;
    std::string url;
};

// Lines of a text and the fields of a line.
inline std::vector<std::string> lines(const std::string& text) { return splitText(text, '\n'); }
inline std::vector<std::string> fields(const std::string& line) { return splitText(line, ';'); }
inline std::string at(const std::string& line, size_t pos) {
    auto f = fields(line);
    return pos < f.size() ? f[pos] : std::string("<none>");
}

} // namespace pellora::dealer::testing
