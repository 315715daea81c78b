#include "core/tables/table_calculations.h"

#include <gtest/gtest.h>

#include <cmath>
#include <stdexcept>
#include <string>
#include <vector>

#include "core/tables/tables_manager.h"
#include "core/tables/tables_test_support.h"

namespace zel {
namespace {

using namespace testing_tables;

// Records every callback it hears, as "<table>:<kind>:<id>".
class Recorder : public TThreadSafeAddRefImpl<IZelTableListener> {
public:
    Recorder(std::vector<std::string>& log, std::string name) : m_log(log), m_name(std::move(name)) {}
    void onAdded(const char* id, IZelRow*) override { m_log.push_back(m_name + ":added:" + id); }
    void onChanged(const char* id, IZelRow*) override { m_log.push_back(m_name + ":changed:" + id); }
    void onDeleted(const char* id, IZelRow*) override { m_log.push_back(m_name + ":deleted:" + id); }
    void onStatusChanged(ZelTableStatus s) override { m_log.push_back(m_name + ":status:" + std::to_string(int(s))); }
    void onEachRow(const char* id, IZelRow*) override { m_log.push_back(m_name + ":each:" + id); }

private:
    std::vector<std::string>& m_log;
    std::string m_name;
};

class Calculations : public ::testing::Test {
protected:
    Calculations() : manager(adoptRef(new TablesManager()))
    {
        manager->setAccountCurrency("USD");
        manager->setBaseUnitSize(1000);
        addInstrument(*manager, "1", "EUR/USD", 1, 0.0001);
        addInstrument(*manager, "2", "USD/JPY", 1, 0.01);
        addInstrument(*manager, "3", "EUR/JPY", 1, 0.01);
        manager->setTableManagerMode(ZelTableManagerMode::TableManagerOnly);
        offers = manager->getOffers();
        accounts = manager->getAccounts();
        orders = manager->getOrders();
        trades = manager->getTrades();
        summary = manager->getSummary();
    }

    RefPtr<TradeRow> findTrade(const char* id) { return trades->find(id); }
    RefPtr<SummariesRow> findSummary(const char* id) { return summary->find(id); }

    RefPtr<TablesManager> manager;
    RefPtr<OffersTable> offers;
    RefPtr<AccountsTable> accounts;
    RefPtr<OrdersTable> orders;
    RefPtr<TradesTable> trades;
    RefPtr<SummaryTable> summary;
};

TEST_F(Calculations, DirectRatePipCostAndProfit)
{
    offers->add(offer("1", "EUR/USD", 1.2010, 1.2012, 0.0001).get());
    EXPECT_NEAR(offers->find("1")->getPipCost(), 0.1, 1e-12);
    EXPECT_TRUE(offers->find("1")->isPipCostValid());
    accounts->add(account("A1", 1000).get());
    trades->add(trade("T1", "A1", "1", true, 10000, 1.2000).get());
    RefPtr<TradeRow> t = findTrade("T1");
    EXPECT_NEAR(t->getClose(), 1.2010, 1e-12);
    EXPECT_NEAR(t->getPL(), 10, 1e-9);
    EXPECT_NEAR(t->getGrossPL(), 10, 1e-9);
    RefPtr<AccountRow> a = accounts->find("A1");
    EXPECT_NEAR(a->getGrossPL(), 10, 1e-9);
    EXPECT_NEAR(a->getEquity(), 1010, 1e-9);
    EXPECT_NEAR(a->getUsableMargin(), 1010, 1e-9);
}

TEST_F(Calculations, InverseAndCrossPipCosts)
{
    // USD/JPY in a USD account: divided by its own mid price.
    offers->add(offer("2", "USD/JPY", 99.99, 100.01, 0.01).get());
    EXPECT_NEAR(offers->find("2")->getPipCost(), 0.01 * 1000 / 100.0, 1e-12);
    // EUR/JPY: quote JPY, converted through USD/JPY (USD/JPY exists as account/quote).
    offers->add(offer("3", "EUR/JPY", 130, 130.02, 0.01).get());
    EXPECT_NEAR(offers->find("3")->getPipCost(), 0.01 * 1000 / 100.0, 1e-12);
}

TEST_F(Calculations, PipCostFollowsSettingsAndInstrumentsChangedBetweenTicks)
{
    int fired = 0;
    Cpp::ConnectionScope scope;
    manager->instruments()->getEventRefChanged("1").connect(scope, [&] { ++fired; });
    offers->add(offer("1", "EUR/USD", 1.2000, 1.2002, 0.0001).get());
    EXPECT_NEAR(offers->find("1")->getPipCost(), 0.1, 1e-12);
    EXPECT_EQ(fired, 1) << "every priced tick tells the offer's instrument listeners";
    // What the pip cost was derived from moves between ticks: each tick after
    // follows it.
    manager->setAccountCurrency("EUR");
    offers->update(offer("1", "EUR/USD", 1.2000, 1.2002, 0.0001).get());
    EXPECT_NEAR(offers->find("1")->getPipCost(), 0.1 / 1.2001, 1e-12);
    manager->setBaseUnitSize(10000);
    offers->update(offer("1", "EUR/USD", 1.2000, 1.2002, 0.0001).get());
    EXPECT_NEAR(offers->find("1")->getPipCost(), 1 / 1.2001, 1e-12);
    // Not a currency pair any more: its own unit size, converted through the
    // EUR/USD price.
    addInstrument(*manager, "1", "EUR/USD", 2, 0.0001, 100);
    offers->update(offer("1", "EUR/USD", 1.2000, 1.2002, 0.0001).get());
    EXPECT_NEAR(offers->find("1")->getPipCost(), 0.0001 * 100 / 1.2001, 1e-12);
    // The offer's own point size, too.
    offers->update(offer("1", "EUR/USD", 1.2000, 1.2002, 0.001).get());
    EXPECT_NEAR(offers->find("1")->getPipCost(), 0.001 * 100 / 1.2001, 1e-12);
    EXPECT_EQ(fired, 5);
}

TEST_F(Calculations, ZeroIsAValueWhenTheMarketReturnsToTheOpenRate)
{
    offers->add(offer("1", "EUR/USD", 1.2010, 1.2012, 0.0001).get());
    accounts->add(account("A1", 1000).get());
    trades->add(trade("T1", "A1", "1", true, 10000, 1.2000).get());
    offers->update(offer("1", "EUR/USD", 1.2000, 1.2002, 0.0001).get());
    RefPtr<TradeRow> t = findTrade("T1");
    EXPECT_EQ(t->getPL(), 0);
    EXPECT_EQ(t->getGrossPL(), 0);
    RefPtr<AccountRow> a = accounts->find("A1");
    EXPECT_NEAR(a->getGrossPL(), 0, 1e-9);
    EXPECT_NEAR(a->getEquity(), 1000, 1e-9);
    // And away again: the account total follows exactly, from 0.
    offers->update(offer("1", "EUR/USD", 1.1990, 1.1992, 0.0001).get());
    EXPECT_NEAR(accounts->find("A1")->getGrossPL(), -10, 1e-9);
}

TEST_F(Calculations, AveragesAndTheLastTradeRemovingItsSummaryRow)
{
    offers->add(offer("1", "EUR/USD", 1.2010, 1.2012, 0.0001).get());
    trades->add(trade("T1", "A1", "1", true, 1000, 1.1000, 2, 0.5).get());
    trades->add(trade("T2", "A1", "1", true, 3000, 1.2000, 3, 0.25).get());
    RefPtr<SummariesRow> s = findSummary("1");
    ASSERT_TRUE(s);
    EXPECT_NEAR(s->getBuyAvgOpen(), 1.15, 1e-12);
    EXPECT_EQ(s->getBuyAmountK(), 4);
    EXPECT_EQ(s->getAmountK(), 4);
    EXPECT_STREQ(s->getInstrument(), "EUR/USD");
    EXPECT_EQ(s->getDefaultSortOrder(), 1);
    // NetPL counts the commissions and rollover of both trades.
    const double gross = (1.2010 - 1.1000) / 0.0001 * 1000 / 10000 + (1.2010 - 1.2000) / 0.0001 * 3000 / 10000;
    EXPECT_NEAR(s->getGrossPL(), gross, 1e-9);
    EXPECT_NEAR(s->getNetPL(), gross - 5 + 0.75, 1e-9);
    EXPECT_NEAR(s->getSellClose(), 1.2010, 1e-12);

    trades->remove(findTrade("T1").get());
    s = findSummary("1");
    ASSERT_TRUE(s);
    EXPECT_NEAR(s->getBuyAvgOpen(), 1.2, 1e-12);
    EXPECT_EQ(s->getBuyAmountK(), 3);
    trades->remove(findTrade("T2").get());
    EXPECT_FALSE(findSummary("1"));
}

TEST_F(Calculations, APartiallyClosedTradeIsRecalculatedAtOnce)
{
    offers->add(offer("1", "EUR/USD", 1.2010, 1.2012, 0.0001).get());
    accounts->add(account("A1", 1000).get());
    trades->add(trade("T1", "A1", "1", true, 10000, 1.2000).get());
    trades->update(trade("T1", "A1", "1", true, 4000, 1.2000).get());
    EXPECT_NEAR(findTrade("T1")->getGrossPL(), 4, 1e-9);
    EXPECT_NEAR(accounts->find("A1")->getGrossPL(), 4, 1e-9);
    EXPECT_NEAR(findSummary("1")->getGrossPL(), 4, 1e-9);
    EXPECT_EQ(findSummary("1")->getBuyAmountK(), 4);
}

TEST_F(Calculations, StopAndLimitFollowTheirOrders)
{
    offers->add(offer("1", "EUR/USD", 1.2010, 1.2012, 0.0001).get());
    trades->add(trade("T1", "A1", "1", true, 10000, 1.2000).get());
    orders->add(order("S1", "1", "T1", "R1", "S", 1.1900).get());
    orders->add(order("L1", "1", "T1", "R2", "L", 1.2100).get());
    EXPECT_NEAR(findTrade("T1")->getStop(), 1.19, 1e-12);
    EXPECT_NEAR(findTrade("T1")->getLimit(), 1.21, 1e-12);
    orders->remove(orders->find("S1").get());
    EXPECT_EQ(findTrade("T1")->getStop(), 0) << "a cancelled stop leaves its trade";
    // An entry order takes the rates of the stop and limit orders waiting for it.
    orders->add(order("E1", "1", "", "R9", "SE", 1.1500).get());
    orders->add(order("S9", "1", "", "R9", "S", 1.1400, false).get());
    orders->add(order("L9", "1", "", "R9", "L", 1.1700, false).get());
    EXPECT_NEAR(orders->find("E1")->getStop(), 1.14, 1e-12);
    EXPECT_NEAR(orders->find("E1")->getLimit(), 1.17, 1e-12);
}

TEST_F(Calculations, AnEntryOrderShowsTheTrailOfItsWaitingStopButNeverTrailsOnIt)
{
    offers->add(offer("1", "EUR/USD", 1.2000, 1.2002, 0.0001).get());
    orders->add(order("E1", "1", "", "R9", "SE", 1.1500).get());
    RefPtr<OrderRow> stop = order("S9", "1", "", "R9", "S", 1.1400, false);
    stop->record().TrailStep = 3;
    stop->record().TrailRate = 1.1405;
    orders->add(stop.get());
    RefPtr<OrderRow> e = orders->find("E1");
    EXPECT_NEAR(e->getStop(), 1.14, 1e-12);
    EXPECT_EQ(e->getTrailStep(), 3);
    EXPECT_NEAR(e->getTrailRate(), 1.1405, 1e-12);
    EXPECT_TRUE(e->isTrailStepChanged());
    // The stop's trail step is not the entry order's own: its rate stays put.
    offers->update(offer("1", "EUR/USD", 1.1900, 1.1902, 0.0001).get());
    offers->update(offer("1", "EUR/USD", 1.1800, 1.1802, 0.0001).get());
    EXPECT_NEAR(orders->find("E1")->getRate(), 1.15, 1e-12);
    // Nor when the server replaces the entry order while the market rises.
    orders->update(order("E1", "1", "", "R9", "SE", 1.1500).get());
    offers->update(offer("1", "EUR/USD", 1.2000, 1.2002, 0.0001).get());
    orders->update(order("E1", "1", "", "R9", "SE", 1.1500).get());
    EXPECT_NEAR(orders->find("E1")->getRate(), 1.15, 1e-12);
    EXPECT_EQ(orders->find("E1")->getTrailStep(), 3);
    // The stop leaves: the entry order's own empty trail comes back.
    orders->remove(orders->find("S9").get());
    e = orders->find("E1");
    EXPECT_EQ(e->getTrailStep(), 0);
    EXPECT_EQ(e->getTrailRate(), 0);
    EXPECT_EQ(e->getStop(), 0);

    // An entry order trailing on its own keeps its own trail step and rate.
    RefPtr<OrderRow> own = order("E2", "1", "", "R8", "SE", 1.1700);
    own->record().TrailStep = 5;
    own->record().TrailRate = 1.1650;
    orders->add(own.get());
    RefPtr<OrderRow> trailingStop = order("S8", "1", "", "R8", "S", 1.1600, false);
    trailingStop->record().TrailStep = 2;
    orders->add(trailingStop.get());
    e = orders->find("E2");
    EXPECT_NEAR(e->getStop(), 1.16, 1e-12);
    EXPECT_EQ(e->getTrailStep(), 5);
    EXPECT_NEAR(e->getTrailRate(), 1.1650, 1e-12);
}

TEST_F(Calculations, TrailingStopFollowsTheMarketInWholePips)
{
    offers->add(offer("1", "EUR/USD", 1.2000, 1.2002, 0.0001).get());
    trades->add(trade("T1", "A1", "1", true, 10000, 1.2000).get());
    RefPtr<OrderRow> stop = order("S1", "1", "T1", "R1", "S", 1.1990);
    stop->record().TrailStep = 5;
    orders->add(stop.get());
    offers->update(offer("1", "EUR/USD", 1.2003, 1.2005, 0.0001).get());
    EXPECT_NEAR(orders->find("S1")->getRate(), 1.1990, 1e-12) << "3 pips is less than the step";
    offers->update(offer("1", "EUR/USD", 1.2007, 1.2009, 0.0001).get());
    EXPECT_NEAR(orders->find("S1")->getRate(), 1.1997, 1e-9);
    EXPECT_NEAR(findTrade("T1")->getStop(), 1.1997, 1e-9);
    offers->update(offer("1", "EUR/USD", 1.1950, 1.1952, 0.0001).get());
    EXPECT_NEAR(orders->find("S1")->getRate(), 1.1997, 1e-9) << "never back";
}

TEST_F(Calculations, BadInputLeavesNoInfinityAndNoNaN)
{
    offers->add(offer("1", "EUR/USD", 0, 0, 0).get());      // no price, no point size
    offers->add(offer("2", "USD/JPY", 0, 0, 0.01).get());   // its pip cost divides by its price
    offers->add(offer("9", "XXX/YYY", 1, 1, 0.01).get());   // no instrument
    accounts->add(account("A1", 100).get());
    trades->add(trade("T1", "A1", "1", true, 0, 1.2).get());
    trades->add(trade("T2", "A1", "2", false, 1000, 100).get());
    trades->add(trade("T3", "A1", "9", false, 1000, 1).get());
    trades->add(trade("T4", "A1", "404", true, 1000, 1).get());   // unknown offer
    trades->update(trade("T5", "A1", "1", true, 1, 1).get());     // unknown row: dropped
    trades->remove(trade("T6", "A1", "1", true, 1, 1).get());
    for (const char* id : {"T1", "T2", "T3", "T4"}) {
        RefPtr<TradeRow> t = findTrade(id);
        ASSERT_TRUE(t) << id;
        EXPECT_TRUE(std::isfinite(t->getPL()) && std::isfinite(t->getGrossPL())) << id;
    }
    EXPECT_FALSE(findTrade("T5"));
    EXPECT_EQ(offers->find("2")->getPipCost(), 0);
    EXPECT_FALSE(offers->find("9")->isPipCostValid());
    RefPtr<AccountRow> a = accounts->find("A1");
    EXPECT_TRUE(std::isfinite(a->getEquity()));
    EXPECT_NEAR(a->getEquity(), 100, 1e-9);
}

TEST_F(Calculations, TradesAccountsAndSummaryHearOfATickBeforeOffers)
{
    offers->add(offer("1", "EUR/USD", 1.2010, 1.2012, 0.0001).get());
    accounts->add(account("A1", 1000).get());
    trades->add(trade("T1", "A1", "1", true, 10000, 1.2000).get());
    std::vector<std::string> log;
    auto o = adoptRef(new Recorder(log, "offers"));
    auto t = adoptRef(new Recorder(log, "trades"));
    auto a = adoptRef(new Recorder(log, "accounts"));
    auto s = adoptRef(new Recorder(log, "summary"));
    offers->subscribeUpdate(ZelTableUpdateType::Update, o.get());
    trades->subscribeUpdate(ZelTableUpdateType::Update, t.get());
    accounts->subscribeUpdate(ZelTableUpdateType::Update, a.get());
    summary->subscribeUpdate(ZelTableUpdateType::Update, s.get());
    offers->update(offer("1", "EUR/USD", 1.2020, 1.2022, 0.0001).get());
    const std::vector<std::string> expected{"trades:changed:T1", "accounts:changed:A1", "summary:changed:1",
                                            "offers:changed:1"};
    EXPECT_EQ(log, expected);
    offers->unsubscribeUpdate(ZelTableUpdateType::Update, o.get());
    trades->unsubscribeUpdate(ZelTableUpdateType::Update, t.get());
    accounts->unsubscribeUpdate(ZelTableUpdateType::Update, a.get());
    summary->unsubscribeUpdate(ZelTableUpdateType::Update, s.get());
    log.clear();
    offers->update(offer("1", "EUR/USD", 1.2030, 1.2032, 0.0001).get());
    EXPECT_TRUE(log.empty());
}

// Throws, unsubscribes itself, or reads another table from inside its callback.
class Awkward : public TThreadSafeAddRefImpl<IZelTableListener> {
public:
    enum Mode { Throw, Unsubscribe, ReadOther };
    Awkward(Mode mode, IZelTable* table, IZelTradesTable* trades) : mode(mode), table(table), trades(trades) {}
    void onAdded(const char*, IZelRow*) override {}
    void onChanged(const char*, IZelRow*) override
    {
        ++calls;
        if (mode == Throw)
            throw std::runtime_error("listener fault");
        if (mode == Unsubscribe)
            table->unsubscribeUpdate(ZelTableUpdateType::Update, this);
        if (mode == ReadOther) {
            IZelTradeTableRow* row = nullptr;
            if (trades->findRow("T1", row)) {
                seenGross = row->getGrossPL();
                row->release();
            }
        }
    }
    void onDeleted(const char*, IZelRow*) override {}
    void onStatusChanged(ZelTableStatus) override {}
    void onEachRow(const char*, IZelRow*) override {}

    Mode mode;
    IZelTable* table;
    IZelTradesTable* trades;
    int calls = 0;
    double seenGross = -1;
};

TEST_F(Calculations, ListenersThatThrowUnsubscribeOrReadOtherTables)
{
    offers->add(offer("1", "EUR/USD", 1.2010, 1.2012, 0.0001).get());
    trades->add(trade("T1", "A1", "1", true, 10000, 1.2000).get());
    auto thrower = adoptRef(new Awkward(Awkward::Throw, offers.get(), trades.get()));
    auto leaver = adoptRef(new Awkward(Awkward::Unsubscribe, offers.get(), trades.get()));
    auto reader = adoptRef(new Awkward(Awkward::ReadOther, offers.get(), trades.get()));
    offers->subscribeUpdate(ZelTableUpdateType::Update, thrower.get());
    offers->subscribeUpdate(ZelTableUpdateType::Update, leaver.get());
    offers->subscribeUpdate(ZelTableUpdateType::Update, reader.get());
    offers->update(offer("1", "EUR/USD", 1.2020, 1.2022, 0.0001).get());
    offers->update(offer("1", "EUR/USD", 1.2030, 1.2032, 0.0001).get());
    EXPECT_EQ(thrower->calls, 2);
    EXPECT_EQ(leaver->calls, 1);
    EXPECT_EQ(reader->calls, 2) << "a throwing listener does not stop the others";
    EXPECT_NEAR(reader->seenGross, 30, 1e-9) << "the trade was recalculated before the offer's listeners ran";
    offers->unsubscribeUpdate(ZelTableUpdateType::Update, thrower.get());
    offers->unsubscribeUpdate(ZelTableUpdateType::Update, reader.get());
}

} // namespace
} // namespace zel
