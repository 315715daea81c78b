// The order engine without a network: orders written field by field as the client's
// order builder writes them, executed against quotes set by hand, with the rows each
// change stores and pushes.

#include "order_engine.h"

#include <gtest/gtest.h>

#include <cmath>
#include <openssl/evp.h>
#include <zlib.h>

#include "demo_world.h"
#include "order_engine_driver.h"

namespace pellora::dealer {
namespace {

using Params = std::vector<std::pair<std::string, std::string>>;
constexpr UnixMs kMonday = 1767614400000;  // 2026-01-05 12:00 UTC

std::vector<std::string> split(const std::string& s, char sep) {
    std::vector<std::string> out(1);
    for (char c : s) {
        if (c == sep) out.emplace_back();
        else out.back() += c;
    }
    return out;
}

class Engine : public ::testing::Test {
protected:
    Engine() : world(demoWorld()), calendar(MarketCalendar::newYork("/usr/share/zoneinfo")) {
        instruments = world.instruments;
        engine = std::make_unique<OrderEngine>(world, instruments, calendar);
        StoredState s;
        for (const Account& a : world.accounts) s.accounts.push_back(initialAccountRecord(a));
        engine->load(s, kMonday);
        demo = world.findUser("demo");
        ChangeWriter w(world, now);
        for (const Instrument& m : world.instruments) {
            OfferQuote q;
            q.offerId = m.offerId;
            q.bid = m.startBid;
            q.ask = m.startAsk;
            q.quoteId = "Q0";
            engine->onQuote(q, w);
        }
        setPrice("1", 1.10000, 1.10010);
    }
    // A new price of EUR/USD (or another offer); the rows it changed.
    ChangeWriter setPrice(const std::string& offer, double bid, double ask) {
        ChangeWriter w(world, now);
        OfferQuote q = engine->quotes().at(offer);
        q.bid = bid;
        q.ask = ask;
        engine->onQuote(q, w);
        last = w.pushes();
        return w;
    }
    std::string send(int command, Params p, OrderBatch* batch = nullptr) {
        DasRequest r;
        r.command = command;
        r.requestId = "R" + std::to_string(++requests);
        r.params = std::move(p);
        r.params.emplace_back("QID", r.requestId);
        r.params.emplace_back("QTXT", "ZLQW");
        ChangeWriter w(world, now);
        const std::string a = engine->request(*demo, r, batch, w);
        stored = w.change();
        last = w.pushes();
        return a;
    }
    // Builders as the client writes them.
    std::string market(const std::string& side, int amount, Params extra = {}, const std::string& acct = "01001") {
        Params p{{"Stage", "O"}, {"OfferID", "1"}, {"AcctID", acct}, {"BuySell", side}, {"Quantity", std::to_string(amount)}};
        p.insert(p.end(), extra.begin(), extra.end());
        return send(34, p);
    }
    std::string close(const std::string& trade, const std::string& side, int amount, Params extra = {}) {
        Params p{{"Stage", "C"}, {"OfferID", "1"}, {"AcctID", "01001"}, {"TradeID", trade}, {"BuySell", side},
                 {"Quantity", std::to_string(amount)}};
        p.insert(p.end(), extra.begin(), extra.end());
        return send(34, p);
    }
    std::string entry(bool stop, const std::string& side, double rate, int amount, Params extra = {},
                      OrderBatch* batch = nullptr) {
        const bool buy = side == "B";
        const std::string sideField = (buy != stop) ? "-1" : "1";  // limit buy -1, stop buy 1
        Params p{{"Stage", "O"}, {"OfferID", "1"}, {"AcctID", "01001"}, {"BuySell", side},
                 {"Quantity", std::to_string(amount)}, {"Rate", std::to_string(rate)}, {"Side", sideField}};
        p.insert(p.end(), extra.begin(), extra.end());
        return send(34, p, batch);
    }
    std::string onTrade(bool stop, const std::string& trade, const std::string& side, Params price) {
        const bool buy = side == "B";
        Params p{{"Stage", "C"}, {"OfferID", "1"}, {"AcctID", "01001"}, {"TradeID", trade}, {"BuySell", side},
                 {"Quantity", "10000"}, {"Side", (buy != stop) ? "-1" : "1"}};
        p.insert(p.end(), price.begin(), price.end());
        return send(34, p);
    }
    static std::string orderIdOf(const std::string& answer) {
        auto l = split(answer, '\n');
        return l.size() == 2 && l[0] == "0" ? split(l[1], ';')[0] : std::string();
    }
    const TradeRecord* tradeOpenedBy(const std::string& orderId) const {
        for (const TradeRecord& t : engine->trades())
            if (t.openOrderId == orderId) return &t;
        return nullptr;
    }
    const OrderRecord* order(const std::string& id) const {
        for (const OrderRecord& o : engine->orders())
            if (o.orderId == id) return &o;
        return nullptr;
    }
    const AccountRecord& account(const std::string& id) const {
        for (const AccountRecord& a : engine->accounts())
            if (a.accountId == id) return a;
        throw std::runtime_error("no account " + id);
    }
    // "<code>;<kind>" of each pushed line after line 0, for the first user.
    std::vector<std::string> pushedKinds() const {
        std::vector<std::string> out;
        if (last.empty()) return out;
        auto l = split(last[0].text, '\n');
        for (size_t i = 1; i < l.size(); ++i) {
            auto f = split(l[i], ';');
            out.push_back(f[0] + ";" + f[1]);
        }
        return out;
    }

    World world;
    std::vector<Instrument> instruments;
    MarketCalendar calendar;
    std::unique_ptr<OrderEngine> engine;
    const User* demo = nullptr;
    UnixMs now = kMonday;
    int requests = 0;
    Change stored;
    std::vector<PushedUpdate> last;
};

TEST_F(Engine, MarketOpenAndCloseBookMarginAndProfit) {
    const std::string id = orderIdOf(market("B", 10000));
    ASSERT_FALSE(id.empty());
    const TradeRecord* t = tradeOpenedBy(id);
    ASSERT_NE(t, nullptr);
    EXPECT_DOUBLE_EQ(t->openRate, 1.10010);  // a buy fills at the ask
    EXPECT_EQ(t->amount, 10000);
    // Margin per unit: 0.02 × 10,000 = 200 USD, as a client computes value × amount.
    EXPECT_DOUBLE_EQ(t->usedMargin, 200);
    EXPECT_DOUBLE_EQ(account("01001").usedMargin, 200);
    EXPECT_DOUBLE_EQ(account("01001").balance, 50000);
    // One message: the order appears, its trade, the order goes, the account last.
    ASSERT_EQ(last.size(), 1u);
    EXPECT_EQ(last[0].user, "demo");
    EXPECT_EQ(pushedKinds(), (std::vector<std::string>{"ORDER;I", "TRADE;I", "ORDER;D", "ACCT;U"}));
    // Stored in the same change, and the answer remembered with it.
    EXPECT_EQ(stored.trades.size(), 1u);
    EXPECT_TRUE(stored.orders.empty()) << "a market order comes and goes in one change: never stored";
    EXPECT_EQ(stored.removedOrders, std::vector<std::string>{id});
    ASSERT_EQ(stored.requests.size(), 1u);
    EXPECT_EQ(stored.requests[0].answer, "0\n" + id + ";N");

    setPrice("1", 1.10110, 1.10120);
    const std::string tradeId = t->tradeId;
    ASSERT_FALSE(orderIdOf(close(tradeId, "S", 4000)).empty());  // partly
    ASSERT_NE(tradeOpenedBy(id), nullptr);
    EXPECT_EQ(tradeOpenedBy(id)->amount, 6000);
    EXPECT_DOUBLE_EQ(account("01001").balance, 50000 + 4);  // 10 pips on 4,000
    EXPECT_DOUBLE_EQ(account("01001").usedMargin, 120);
    EXPECT_EQ(pushedKinds(), (std::vector<std::string>{"ORDER;I", "TRADE;U", "CLSDTRADE;I", "ORDER;D", "ACCT;U"}));
    ASSERT_FALSE(orderIdOf(close(tradeId, "S", 6000)).empty());
    EXPECT_EQ(tradeOpenedBy(id), nullptr);
    EXPECT_DOUBLE_EQ(account("01001").balance, 50000 + 10);
    EXPECT_DOUBLE_EQ(account("01001").usedMargin, 0);
    EXPECT_EQ(engine->closedTrades().size(), 2u);
    EXPECT_EQ(engine->executed(), 3u);
}

TEST_F(Engine, MarketAtRateAndRangeFillOnlyInsideTheirPrice) {
    struct Case {
        const char* name;
        Params extra;
        bool fills;
    } cases[] = {
        {"at rate, ask above it", {{"Rate", "1.100000"}}, false},
        {"at rate, ask at it", {{"Rate", "1.100100"}}, true},
        {"range holding the ask", {{"Rate2", "1.100000"}, {"RATE3", "1.100200"}}, true},
        {"range below the ask", {{"Rate2", "1.099000"}, {"RATE3", "1.100050"}}, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string a = market("B", 1000, c.extra);
        if (c.fills)
            EXPECT_FALSE(orderIdOf(a).empty()) << a;
        else
            EXPECT_EQ(a, "10;The price has moved.");
    }
}

TEST_F(Engine, BadOrdersFailWithTheirTextAndChangeNothing) {
    const std::string tradeOrder = orderIdOf(market("B", 1000));
    const std::string trade = tradeOpenedBy(tradeOrder)->tradeId;
    const Params base{{"Stage", "O"}, {"OfferID", "1"}, {"AcctID", "01001"}, {"BuySell", "B"}, {"Quantity", "1000"}};
    auto with = [&](std::map<std::string, std::string> set, std::vector<std::string> drop = {}) {
        Params p;
        for (const auto& kv : base)
            if (std::find(drop.begin(), drop.end(), kv.first) == drop.end())
                p.emplace_back(kv.first, set.count(kv.first) ? set[kv.first] : kv.second);
        for (const auto& kv : set)
            if (std::none_of(base.begin(), base.end(), [&](const auto& b) { return b.first == kv.first; }))
                p.emplace_back(kv);
        return p;
    };
    struct Case {
        const char* name;
        Params params;
        std::string answer;
    } cases[] = {
        {"another user's account", with({{"AcctID", "02001"}}), "3;Unknown account '02001'."},
        {"no account", with({}, {"AcctID"}), "1;The order names no account."},
        {"unknown offer", with({{"OfferID", "77"}}), "4;Unknown offer 77."},
        {"zero", with({{"Quantity", "0"}}), "8;The amount must be positive."},
        {"negative", with({{"Quantity", "-1000"}}), "8;The amount must be positive."},
        {"not a multiple", with({{"Quantity", "1500"}}), "8;Amount must be a multiple of 1000."},
        {"huge", with({{"Quantity", "900000000000"}}), "8;The amount is above the maximum of 50000000."},
        {"not a number", with({{"Quantity", "ten"}}), "8;The amount must be a whole number."},
        {"side", with({{"BuySell", "X"}}), "1;BuySell must be B or S."},
        {"no stage", with({}, {"Stage"}), "1;The order fits no order type."},
        {"closing without a trade", with({{"Stage", "C"}}), "1;The order fits no order type."},
        {"NaN rate", with({{"Rate", "nan"}}), "9;The rate must be a positive number."},
        {"zero rate", with({{"Rate", "0"}}), "9;The rate must be a positive number."},
        {"rate and range", with({{"Rate", "1.1"}, {"Rate2", "1"}, {"RATE3", "2"}}), "1;The order fits no order type."},
        {"long text", with({{"QTXT", std::string(300, 'x')}}), "1;The custom text is longer than 255 characters."},
        {"unknown trade", with({{"Stage", "C"}, {"TradeID", "999"}, {"BuySell", "S"}}), "6;Unknown trade 999."},
        {"closing on the trade's side", with({{"Stage", "C"}, {"TradeID", trade}}),
         "1;The order must be on the other side of trade " + trade + "."},
        {"more than the trade", with({{"Stage", "C"}, {"TradeID", trade}, {"BuySell", "S"}, {"Quantity", "2000"}}),
         "8;The amount is above the trade's 1000."},
        {"no margin", with({{"Quantity", "50000000"}}), "11;Not enough free margin."},
        {"stop entry below the market", with({{"Rate", "1.0"}, {"Side", "1"}}), "9;The rate must be at least 1 pips above the market."},
        {"attached stop above a buy", with({{"RateS", "1.2"}}), "9;The attached stop must be below the open rate."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const size_t orders = engine->orders().size(), trades = engine->trades().size();
        const double balance = account("01001").balance;
        EXPECT_EQ(send(34, c.params), c.answer);
        EXPECT_EQ(engine->orders().size(), orders);
        EXPECT_EQ(engine->trades().size(), trades);
        EXPECT_EQ(account("01001").balance, balance);
        EXPECT_TRUE(last.empty());
        EXPECT_TRUE(stored.orders.empty() && stored.trades.empty() && stored.accounts.empty());
    }
    instruments[0].tradingStatus = "C";
    EXPECT_EQ(market("B", 1000), "7;The market is closed.");
}

TEST_F(Engine, EntryFillsWhenCrossedAndItsStopAndLimitStartWorking) {
    const std::string id = orderIdOf(entry(true, "B", 1.10100, 10000, {{"RateS", "1.099000"}, {"RateL", "1.103000"}}));
    ASSERT_FALSE(id.empty());
    ASSERT_EQ(engine->orders().size(), 3u);
    std::string stop, limit;
    for (const OrderRecord& o : engine->orders()) {
        if (o.orderId == id) {
            EXPECT_EQ(o.type, "SE");
            EXPECT_TRUE(o.workingIndicator);
            continue;
        }
        EXPECT_FALSE(o.workingIndicator);
        EXPECT_EQ(o.requestId, order(id)->requestId);  // they wait with the entry's request ID
        EXPECT_EQ(o.buySell, "S");
        (o.type == "S" ? stop : limit) = o.orderId;
    }
    ASSERT_FALSE(stop.empty());
    ASSERT_FALSE(limit.empty());

    setPrice("1", 1.10050, 1.10060);  // not yet
    EXPECT_NE(order(id), nullptr);
    setPrice("1", 1.10100, 1.10110);  // the ask crosses 1.10100
    EXPECT_EQ(order(id), nullptr);
    const TradeRecord* t = tradeOpenedBy(id);
    ASSERT_NE(t, nullptr);
    EXPECT_DOUBLE_EQ(t->openRate, 1.10110);
    ASSERT_NE(order(stop), nullptr);
    EXPECT_TRUE(order(stop)->workingIndicator);
    EXPECT_EQ(order(stop)->tradeId, t->tradeId);
    EXPECT_TRUE(order(limit)->workingIndicator);
    EXPECT_EQ(pushedKinds(), (std::vector<std::string>{"TRADE;I", "ORDER;D", "ORDER;U", "ORDER;U", "ACCT;U"}));

    // The stop closes the trade and takes the limit with it.
    const std::string tradeId = t->tradeId;
    setPrice("1", 1.09890, 1.09900);
    EXPECT_EQ(tradeOpenedBy(id), nullptr);
    EXPECT_EQ(order(stop), nullptr);
    EXPECT_EQ(order(limit), nullptr);
    ASSERT_FALSE(engine->closedTrades().empty());
    EXPECT_EQ(engine->closedTrades().back().tradeId, tradeId);
    EXPECT_DOUBLE_EQ(engine->closedTrades().back().closeRate, 1.09890);
    EXPECT_DOUBLE_EQ(engine->closedTrades().back().grossPL, -22);
    EXPECT_DOUBLE_EQ(account("01001").balance, 50000 - 22);
}

TEST_F(Engine, StopsAndLimitsOnTradesPegsAndTrailing) {
    const std::string tradeId = tradeOpenedBy(orderIdOf(market("B", 10000)))->tradeId;
    // A limit pegged 20 pips above the open price, a stop trailing pip by pip.
    const std::string limit = orderIdOf(onTrade(false, tradeId, "S", {{"PEG_TYPE", "0"}, {"PRICE_OFFSET_PIPS", "20"}}));
    ASSERT_FALSE(limit.empty());
    EXPECT_NEAR(order(limit)->rate, 1.10210, 1e-9);
    const std::string stop = orderIdOf(onTrade(true, tradeId, "S", {{"Rate", "1.098000"}, {"TrailUpdatePips", "1"}}));
    ASSERT_FALSE(stop.empty());
    setPrice("1", 1.10035, 1.10045);  // up 3.5 pips: the stop follows 3
    EXPECT_NEAR(order(stop)->rate, 1.09830, 1e-9);
    EXPECT_EQ(pushedKinds(), (std::vector<std::string>{"ORDER;U"}));
    setPrice("1", 1.10020, 1.10030);  // down: it stays
    EXPECT_NEAR(order(stop)->rate, 1.09830, 1e-9);
    // A 10-pip trailing step moves only by whole steps.
    ASSERT_EQ(onTrade(true, tradeId, "S", {{"Rate", "1.098000"}, {"TrailUpdatePips", "10"}}).substr(0, 2), "0\n");
    std::string stop10;
    for (const OrderRecord& o : engine->orders())
        if (o.type == "S") stop10 = o.orderId;  // the new stop replaced the first
    EXPECT_EQ(order(stop), nullptr);
    setPrice("1", 1.10110, 1.10120);  // 9 pips: no move
    EXPECT_NEAR(order(stop10)->rate, 1.09800, 1e-9);
    setPrice("1", 1.10125, 1.10135);  // 10.5 pips: one step
    EXPECT_NEAR(order(stop10)->rate, 1.09900, 1e-9);
    // The limit fills and the stop goes with the trade.
    setPrice("1", 1.10210, 1.10220);
    EXPECT_EQ(order(limit), nullptr);
    EXPECT_EQ(order(stop10), nullptr);
    EXPECT_TRUE(engine->trades().empty());
}

TEST_F(Engine, NettingAccountsCloseOppositeTradesFirstAndNetQuantityClosesAll) {
    ASSERT_FALSE(orderIdOf(market("B", 3000, {}, "01002")).empty());
    ASSERT_FALSE(orderIdOf(market("S", 5000, {}, "01002")).empty());
    ASSERT_EQ(engine->trades().size(), 1u);  // the buy closed, 2,000 sold remain
    EXPECT_EQ(engine->trades()[0].buySell, "S");
    EXPECT_EQ(engine->trades()[0].amount, 2000);
    // Hedging keeps both sides; a net-quantity close closes every buy.
    market("B", 1000);
    market("B", 2000);
    market("S", 4000);
    EXPECT_EQ(engine->trades().size(), 4u);
    const std::string a = send(34, {{"Stage", "O"}, {"OfferID", "1"}, {"AcctID", "01001"}, {"BuySell", "S"},
                                    {"NET_QTY_FLG", "Y"}});
    ASSERT_FALSE(orderIdOf(a).empty()) << a;
    int buys = 0;
    for (const TradeRecord& t : engine->trades()) buys += t.accountId == "01001" && t.buySell == "B";
    EXPECT_EQ(buys, 0);
    EXPECT_EQ(engine->trades().size(), 2u);
}

TEST_F(Engine, OcoFillDeletesItsSiblingsAndOtoReleasesItsChildren) {
    OrderBatch oco;
    const std::string up = orderIdOf(entry(true, "B", 1.10200, 1000, {{"CONTINGENCY_TYPE", "1"}}, &oco));
    const std::string down = orderIdOf(entry(true, "S", 1.09800, 1000, {{"CONTINGENCY_TYPE", "1"}}, &oco));
    ASSERT_FALSE(up.empty());
    ASSERT_FALSE(down.empty());
    EXPECT_EQ(order(down)->contingentOrderId, up);
    setPrice("1", 1.10200, 1.10210);
    EXPECT_EQ(order(up), nullptr);
    EXPECT_EQ(order(down), nullptr);
    EXPECT_EQ(engine->trades().size(), 1u);

    OrderBatch oto;
    const std::string primary = orderIdOf(entry(false, "B", 1.10100, 1000, {}, &oto));
    const std::string primaryReq = "R" + std::to_string(requests);
    const std::string child = orderIdOf(
        entry(false, "S", 1.10400, 1000, {{"CONTINGENCY_TYPE", "2"}, {"PRIMARY_QID", primaryReq}}, &oto));
    ASSERT_FALSE(child.empty());
    EXPECT_FALSE(order(child)->workingIndicator);
    setPrice("1", 1.10450, 1.10460);  // would cross the child, which still waits
    EXPECT_NE(order(child), nullptr);
    setPrice("1", 1.10080, 1.10090);  // the primary fills
    EXPECT_EQ(order(primary), nullptr);
    ASSERT_NE(order(child), nullptr);
    EXPECT_TRUE(order(child)->workingIndicator);
    // Deleting a primary deletes what waits for it; groups are joined and left.
    const std::string p2 = orderIdOf(entry(false, "B", 1.09000, 1000));
    const std::string c2 = orderIdOf(entry(false, "B", 1.08000, 1000));
    EXPECT_EQ(send(131, {{"CONTINGENCY_TYPE", "2"}, {"CONTINGENCY_ID", p2}, {"AcctID", "01001"}, {"OrderID", c2}}), "0");
    EXPECT_FALSE(order(c2)->workingIndicator);
    EXPECT_EQ(send(131, {{"OrderID", c2}, {"AcctID", "01001"}}), "0");
    EXPECT_TRUE(order(c2)->workingIndicator);
    EXPECT_EQ(send(131, {{"CONTINGENCY_TYPE", "2"}, {"CONTINGENCY_ID", p2}, {"AcctID", "01001"}, {"OrderID", c2}}), "0");
    EXPECT_EQ(send(19, {{"OrderID", p2}}), "0");
    EXPECT_EQ(order(c2), nullptr);
}

// The client names the primary on the first member of an OCO under an OTO only; the
// whole pair waits for it, is released with it and stays one group.
TEST_F(Engine, OcoPairUnderAnOtoWaitsForThePrimaryAsOne) {
    OrderBatch oto;
    const std::string primary = orderIdOf(entry(false, "B", 1.09900, 1000, {}, &oto));
    const std::string primaryReq = "R" + std::to_string(requests);
    const std::string up = orderIdOf(
        entry(true, "B", 1.10600, 2000, {{"CONTINGENCY_TYPE", "1"}, {"PRIMARY_QID", primaryReq}}, &oto));
    const std::string down = orderIdOf(entry(false, "B", 1.09500, 3000, {{"CONTINGENCY_TYPE", "1"}}, &oto));
    ASSERT_FALSE(up.empty());
    ASSERT_FALSE(down.empty());
    EXPECT_FALSE(order(up)->workingIndicator);
    EXPECT_FALSE(order(down)->workingIndicator);
    setPrice("1", 1.09880, 1.09890);  // the primary fills
    EXPECT_EQ(order(primary), nullptr);
    ASSERT_NE(order(down), nullptr);
    EXPECT_TRUE(order(up)->workingIndicator);
    EXPECT_TRUE(order(down)->workingIndicator);
    EXPECT_EQ(order(down)->contingentOrderId, order(up)->contingentOrderId);
    setPrice("1", 1.10600, 1.10610);  // the upper one fills; its sibling goes
    EXPECT_EQ(order(up), nullptr);
    EXPECT_EQ(order(down), nullptr);
}

TEST_F(Engine, EditDeleteAndLastOrderUpdate) {
    const std::string id = orderIdOf(entry(false, "B", 1.09000, 1000));
    EXPECT_EQ(send(20, {{"OrderID", id}, {"AcctID", "01001"}, {"Quantity", "3000"}, {"Rate", "1.095000"}}), "0");
    EXPECT_EQ(order(id)->amount, 3000);
    EXPECT_NEAR(order(id)->rate, 1.095, 1e-9);
    EXPECT_EQ(pushedKinds(), (std::vector<std::string>{"ORDER;U"}));
    EXPECT_EQ(send(20, {{"OrderID", id}, {"AcctID", "01001"}, {"Rate", "1.200000"}}),
              "9;The rate must be at least 1 pips below the market.");
    EXPECT_EQ(send(20, {{"OrderID", id}, {"AcctID", "01001"}, {"Quantity", "2500"}}), "8;Amount must be a multiple of 1000.");
    auto lookup = [&](const std::string& v) {
        return send(117, {{"AcctReportID", "01001"}, {"ReportID", "01001"}, {"OrderID", v}});
    };
    EXPECT_EQ(split(lookup(id), '\n')[1].substr(0, 3 + id.size()), ";U;" + id);
    EXPECT_EQ(send(19, {{"OrderID", id}}), "0");
    EXPECT_EQ(order(id), nullptr);
    EXPECT_EQ(split(lookup(id), '\n')[1].substr(0, 3), ";D;");
    EXPECT_EQ(send(19, {{"OrderID", id}}), "5;Unknown order " + id + ".");
    EXPECT_EQ(send(19, {{"OrderID", "O2"}}), "5;Unknown order O2.");  // not the user's
}

TEST_F(Engine, RequestsAreRememberedWithTheirAnswers) {
    DasRequest r;
    r.command = 34;
    r.requestId = "same";
    r.params = {{"Stage", "O"}, {"OfferID", "1"}, {"AcctID", "01001"}, {"BuySell", "B"}, {"Quantity", "1000"}};
    ChangeWriter w(world, now);
    const std::string a = engine->request(*demo, r, nullptr, w);
    ASSERT_EQ(engine->remembered("demo", "same", now), a);
    EXPECT_FALSE(engine->remembered("demo22", "same", now));
    const UnixMs dayLater = now + Store::kRequestMemory;
    EXPECT_TRUE(engine->remembered("demo", "same", dayLater - 1));
    EXPECT_FALSE(engine->remembered("demo", "same", dayLater));
    engine->purgeRequests(dayLater - 1);
    EXPECT_TRUE(engine->remembered("demo", "same", now));
    engine->purgeRequests(dayLater);
    EXPECT_FALSE(engine->remembered("demo", "same", now));
}

// Inflates what encodeHtmlMessage wrote, as a client decodes a message text.
std::string decode(const std::string& text) {
    auto inner = [](const std::string& s, const std::string& tag) {
        const size_t a = s.find("<" + tag + ">"), b = s.find("</" + tag + ">");
        return a == std::string::npos || b == std::string::npos ? std::string() : s.substr(a + tag.size() + 2, b - a - tag.size() - 2);
    };
    const std::string b64 = inner(text, "BASE64-DATA");
    std::string raw(b64.size(), '\0');
    int n = EVP_DecodeBlock(reinterpret_cast<unsigned char*>(&raw[0]), reinterpret_cast<const unsigned char*>(b64.data()),
                            static_cast<int>(b64.size()));
    if (n < 0) return "<bad base64>";
    raw.resize(static_cast<size_t>(n) - (b64.size() >= 2 && b64[b64.size() - 2] == '=' ? 2 : b64.back() == '=' ? 1 : 0));
    const std::string deflated = inner(raw, "DEFLATE-DATA");
    std::string out(deflated.size() * 20 + 64, '\0');
    uLongf len = out.size();
    if (uncompress(reinterpret_cast<Bytef*>(&out[0]), &len, reinterpret_cast<const Bytef*>(deflated.data()),
                   static_cast<uLong>(deflated.size())) != Z_OK)
        return "<bad deflate>";
    out.resize(len);
    return inner(out, "HTML-DATA");
}

TEST_F(Engine, MarginCallClosesTheLargestLossFirstAndWritesAnHtmlMessage) {
    // 01002 (10,000 USD) holds two buys; EUR/USD falls until equity is under the margin.
    ASSERT_FALSE(orderIdOf(market("B", 100000, {}, "01002")).empty());
    ASSERT_FALSE(orderIdOf(send(34, {{"Stage", "O"}, {"OfferID", "3"}, {"AcctID", "01002"}, {"BuySell", "B"},
                                     {"Quantity", "10000"}}))
                     .empty());
    EXPECT_EQ(engine->trades().size(), 2u);
    setPrice("1", 1.01000, 1.01010);  // -9,010 USD on EUR/USD, equity ≈ 990 < margin 2,250
    ASSERT_EQ(engine->trades().size(), 1u);
    EXPECT_EQ(engine->trades()[0].offerId, "3");  // the largest loss closed first, enough
    const AccountRecord& a = account("01002");
    EXPECT_EQ(a.lastMarginCallDate, now);
    ASSERT_FALSE(engine->messages().empty());
    const MessageRecord& m = engine->messages().back();
    EXPECT_EQ(m.user, "demo");
    const std::string html = decode(m.text);
    EXPECT_NE(html.find("account <b>01002</b>"), std::string::npos) << html;
    bool mailPushed = false;
    for (const PushedUpdate& p : last) mailPushed |= p.text.find("\nMAIL;I;") != std::string::npos;
    EXPECT_TRUE(mailPushed);
    // A forced call closes at least one trade.
    ChangeWriter w(world, now);
    ASSERT_TRUE(engine->marginCall("01002", true, w).isOk());
    EXPECT_TRUE(engine->trades().empty());
}

TEST_F(Engine, RolloverSetsTheDayEquityAndDropsDayOrders) {
    market("B", 10000);
    const std::string day = orderIdOf(entry(false, "B", 1.09000, 1000, {{"GTC", "DAY"}}));
    const std::string gtc = orderIdOf(entry(false, "B", 1.09000, 1000));
    setPrice("1", 1.10110, 1.10120);
    ChangeWriter w(world, now);
    engine->rollover(w);
    EXPECT_EQ(order(day), nullptr);
    EXPECT_NE(order(gtc), nullptr);
    EXPECT_DOUBLE_EQ(account("01001").m2mEquity, 50000 + 10);
}

// A GTD order lives until its expiry date on the dealer's clock, then goes with the
// orders attached to it; a price reaching it after that does not fill it.
TEST_F(Engine, GtdOrdersExpireWithTheirAttachedOrders) {
    const UnixMs later = now + kMsPerHour;
    struct Bad {
        Params extra;
        const char* answer;
    };
    const Bad bad[] = {
        {{{"GTC", "GTD"}}, "1;A GTD order needs an expiry date (EXPIRE_DATE)."},
        {{{"GTC", "GTD"}, {"EXPIRE_DATE", "2026-01-05 13:00"}}, "1;The expiry date must be MMDDYYYYhhmmss in UTC."},
        {{{"GTC", "GTD"}, {"EXPIRE_DATE", "02302026130000"}}, "1;The expiry date must be MMDDYYYYhhmmss in UTC."},
        {{{"GTC", "GTD"}, {"EXPIRE_DATE", dasTimestamp(now)}}, "1;The expiry date has passed."},
    };
    for (const Bad& b : bad) {
        EXPECT_EQ(entry(false, "B", 1.09000, 1000, b.extra), b.answer);
        EXPECT_TRUE(engine->orders().empty());
        EXPECT_TRUE(stored.orders.empty());
    }

    const std::string gtd = orderIdOf(entry(false, "B", 1.09000, 1000,
                                            {{"GTC", "GTD"}, {"EXPIRE_DATE", dasTimestamp(later)}, {"RateS", "1.08000"},
                                             {"RateL", "1.10000"}}));
    ASSERT_FALSE(gtd.empty());
    EXPECT_EQ(order(gtd)->expireDate, later);
    EXPECT_EQ(stored.orders.at(0).expireDate, later);  // stored with its expiry
    const std::string gtc = orderIdOf(entry(false, "B", 1.09000, 1000));
    // Edited into a GTD order with an expiry of its own, and back.
    const std::string edited = orderIdOf(entry(false, "B", 1.09000, 1000));
    EXPECT_EQ(send(20, {{"OrderID", edited}, {"GTC", "GTD"}, {"EXPIRE_DATE", dasTimestamp(later + 1000)}}), "0");
    EXPECT_EQ(order(edited)->expireDate, later + 1000);
    EXPECT_EQ(send(20, {{"OrderID", edited}, {"GTC", "GTD"}}), "0");  // keeps its expiry
    EXPECT_EQ(order(edited)->expireDate, later + 1000);
    const size_t held = engine->orders().size();
    ASSERT_EQ(held, 5u);

    {
        ChangeWriter w(world, later - 1);
        engine->expireOrders(w);
        EXPECT_TRUE(w.empty());
    }
    ChangeWriter w(world, later);
    engine->expireOrders(w);
    EXPECT_EQ(order(gtd), nullptr);
    EXPECT_EQ(engine->orders().size(), held - 3);  // the entry, its stop and its limit
    EXPECT_NE(order(gtc), nullptr);
    EXPECT_NE(order(edited), nullptr);
    EXPECT_EQ(w.change().removedOrders.size(), 3u);
    last = w.pushes();
    EXPECT_EQ(pushedKinds(), (std::vector<std::string>{"ORDER;D", "ORDER;D", "ORDER;D", "ACCT;U"}));

    // Past its expiry, the edited order is not filled by a price that crosses it.
    now = later + 1000;
    setPrice("1", 1.08900, 1.08910);
    EXPECT_NE(order(edited), nullptr);
    EXPECT_EQ(tradeOpenedBy(edited), nullptr);
    EXPECT_NE(tradeOpenedBy(gtc), nullptr);
    ChangeWriter w2(world, now);
    engine->expireOrders(w2);
    EXPECT_EQ(order(edited), nullptr);
    // After a fill or an expiry there is nothing left to expire.
    ChangeWriter w3(world, now + kMsPerDay);
    engine->expireOrders(w3);
    EXPECT_TRUE(w3.empty());
}

} // namespace
} // namespace pellora::dealer

namespace pellora::dealer {
namespace {

// Random streams of good and bad operations keep the books consistent after each one.
TEST(EngineRandom, BooksStayConsistent) {
    for (uint32_t seed = 1; seed <= 8; ++seed) {
        SCOPED_TRACE("seed " + std::to_string(seed));
        std::vector<uint8_t> bytes(6000);
        uint32_t x = seed * 2654435761u;
        for (uint8_t& b : bytes) {
            x ^= x << 13, x ^= x >> 17, x ^= x << 5;
            b = static_cast<uint8_t>(x);
        }
        EngineDriver d;
        const uint8_t* p = bytes.data();
        int ops = 0;
        while (d.step(p, bytes.data() + bytes.size())) {
            ++ops;
            const std::string fault = d.engine().consistencyFault(d.startBalances());
            ASSERT_EQ(fault, "") << "after operation " << ops;
        }
        EXPECT_GT(d.engine().executed(), 5u) << ops << " operations";
    }
}

} // namespace
} // namespace pellora::dealer
