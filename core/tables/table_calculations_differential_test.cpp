// The live tables against a plain model: seeded random sequences of inserts, updates
// and deletes of offers, trades, orders and accounts and of price ticks; after every
// step every calculated cell of every row must equal the model's value, computed
// from scratch from the current rows.

#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <random>
#include <string>

#include "core/tables/table_calculations.h"
#include "core/tables/tables_manager.h"
#include "core/tables/tables_test_support.h"

namespace zel {
namespace {

using namespace testing_tables;

struct Inst {
    std::string offerID, symbol;
    int type;
    double pointSize;
    int baseUnitSize;
};

// Direct, inverse and cross rates for a USD and for an EUR account, a non-type-1
// instrument and one without any rate to convert with.
const Inst kInstruments[] = {
    {"1", "EUR/USD", 1, 0.0001, 1000}, {"2", "USD/JPY", 1, 0.01, 1000},  {"3", "EUR/JPY", 1, 0.01, 1000},
    {"4", "GBP/USD", 1, 0.0001, 1000}, {"5", "EUR/GBP", 1, 0.0001, 1000}, {"6", "XAU/USD", 2, 0.01, 1},
    {"7", "AUD/CAD", 1, 0.0001, 1000},
};
const double kBasePrice[] = {1.2, 110, 130, 1.3, 0.85, 1900, 0.9};

struct MOffer {
    std::string symbol;
    double bid = 0, ask = 0, pointSize = 0;
    bool pipCalculated = false;
    double pipCost = 0, upc = 0;
};
struct MAccount {
    double balance = 0, usedMargin = 0, m2m = 0, nonTrade = 0;
};
struct MTrade {
    std::string account, offer;
    bool buy = true;
    int amount = 0;
    double open = 0, commission = 0, rollover = 0;
};
struct MOrder {
    std::string offer, trade, request, type;
    double rate = 0;
    bool working = true;
    std::string status = "W";
};

// The model: rows as plain values, every calculated value recomputed on demand.
class Model {
public:
    explicit Model(std::string currency) : m_currency(std::move(currency)) {}

    std::map<std::string, MOffer> offers;
    std::map<std::string, MAccount> accounts;
    std::map<std::string, MTrade> trades;
    std::map<std::string, MOrder> orders;

    const Inst* instrumentBySymbol(const std::string& s) const
    {
        for (const Inst& i : kInstruments)
            if (i.symbol == s)
                return &i;
        return nullptr;
    }
    const Inst* instrumentByOffer(const std::string& id) const
    {
        for (const Inst& i : kInstruments)
            if (i.offerID == id)
                return &i;
        return nullptr;
    }
    double mid(const std::string& offerID) const
    {
        auto it = offers.find(offerID);
        if (it == offers.end())
            return 0;
        const double m = 0.5 * (it->second.bid + it->second.ask);
        return std::isfinite(m) && m > 0 ? m : 0;
    }

    // The pip cost is taken when the offer's own price arrives.
    void pricePipCost(const std::string& offerID)
    {
        MOffer& o = offers[offerID];
        o.pipCalculated = false;
        o.pipCost = o.upc = 0;
        const Inst* inst = instrumentBySymbol(o.symbol);
        if (!inst)
            return;
        const double units = inst->type == 1 ? 1000 : inst->baseUnitSize;
        double pip = o.pointSize * units;
        const std::string base = inst->symbol.substr(0, 3), quote = inst->symbol.substr(4);
        bool ok = true;
        if (m_currency == quote) {
        } else if (inst->type == 1 && m_currency == base) {
            const double m = mid(offerID);
            pip = m > 0 ? pip / m : 0;
        } else if (const Inst* cross = instrumentBySymbol(m_currency + "/" + quote)) {
            const double m = mid(cross->offerID);
            pip = m > 0 ? pip / m : 0;
        } else if (const Inst* inverse = instrumentBySymbol(quote + "/" + m_currency)) {
            pip = pip * mid(inverse->offerID);
        } else {
            ok = false;
        }
        if (ok && std::isfinite(pip) && pip != 0) {
            o.pipCost = pip;
            o.upc = units / pip;
            o.pipCalculated = std::isfinite(o.upc) && o.upc != 0;
        }
    }

    struct TradeCells {
        bool closeCalc = false, plCalc = false, grossCalc = false;
        double close = 0, pl = 0, gross = 0, stop = 0, limit = 0;
    };
    TradeCells trade(const std::string& id) const
    {
        TradeCells c;
        const MTrade& t = trades.at(id);
        auto it = offers.find(t.offer);
        if (it != offers.end()) {
            const MOffer& o = it->second;
            c.close = t.buy ? o.bid : o.ask;
            c.closeCalc = true;
            if (o.pointSize > 0) {
                c.pl = t.buy ? (c.close - t.open) / o.pointSize : (t.open - c.close) / o.pointSize;
                c.plCalc = std::isfinite(c.pl);
            }
            if (c.plCalc && o.pipCalculated) {
                c.gross = c.pl * t.amount / o.upc;
                c.grossCalc = std::isfinite(c.gross);
            }
        }
        if (!c.plCalc)
            c.pl = 0;
        if (!c.grossCalc)
            c.gross = 0;
        for (const auto& [oid, o] : orders) {
            if (o.trade != id || !o.working || o.status[0] != 'W' || (o.type.size() > 1 && o.type[1] == 'E'))
                continue;
            if (o.type[0] == 'S')
                c.stop = o.rate;
            if (o.type[0] == 'L')
                c.limit = o.rate;
        }
        return c;
    }


    std::string currency() const { return m_currency; }

private:
    std::string m_currency;
};

bool near(double a, double b) { return std::fabs(a - b) <= 1e-7 * std::max(1.0, std::fabs(b)); }

class Differential : public ::testing::TestWithParam<std::tuple<const char*, unsigned>> {
protected:
    void SetUp() override
    {
        currency = std::get<0>(GetParam());
        manager = adoptRef(new TablesManager());
        manager->setAccountCurrency(currency.c_str());
        manager->setBaseUnitSize(1000);
        for (const Inst& i : kInstruments)
            addInstrument(*manager, i.offerID, i.symbol, i.type, i.pointSize, i.baseUnitSize);
        manager->setTableManagerMode(ZelTableManagerMode::TableManagerOnly);
        offers = manager->getOffers();
        accounts = manager->getAccounts();
        orders = manager->getOrders();
        trades = manager->getTrades();
        summary = manager->getSummary();
    }

    void check(Model& m, int step)
    {
        SCOPED_TRACE("step " + std::to_string(step));
        for (const auto& [id, o] : m.offers) {
            RefPtr<OfferRow> row = offers->find(id.c_str());
            ASSERT_TRUE(row);
            ASSERT_TRUE(near(row->getPipCost(), o.pipCost)) << id << " " << row->getPipCost() << " " << o.pipCost;
            ASSERT_EQ(row->isPipCostValid(), o.pipCalculated) << id;
        }
        ASSERT_EQ(trades->size(), static_cast<int>(m.trades.size()));
        std::map<std::string, Model::TradeCells> cells;
        std::map<std::string, double> accountGross;
        for (const auto& [id, t] : m.trades) {
            cells[id] = m.trade(id);
            accountGross[t.account] += cells[id].gross;
        }
        for (const auto& [id, t] : m.trades) {
            RefPtr<TradeRow> row = trades->find(id.c_str());
            ASSERT_TRUE(row) << id;
            const Model::TradeCells& c = cells[id];
            ASSERT_TRUE(near(row->getClose(), c.close)) << id;
            ASSERT_TRUE(near(row->getPL(), c.pl)) << id << " " << row->getPL() << " " << c.pl;
            ASSERT_TRUE(near(row->getGrossPL(), c.gross)) << id << " " << row->getGrossPL() << " " << c.gross;
            ASSERT_TRUE(near(row->getStop(), c.stop)) << id;
            ASSERT_TRUE(near(row->getLimit(), c.limit)) << id;
        }
        for (const auto& [id, a] : m.accounts) {
            RefPtr<AccountRow> row = accounts->find(id.c_str());
            ASSERT_TRUE(row) << id;
            const double g = accountGross[id];
            const double equity = a.balance + g;
            ASSERT_TRUE(near(row->getGrossPL(), g)) << id << " " << row->getGrossPL() << " " << g;
            ASSERT_TRUE(near(row->getEquity(), equity)) << id;
            ASSERT_TRUE(near(row->getUsableMargin(), equity - a.usedMargin)) << id;
            ASSERT_TRUE(near(row->getDayPL(), equity - a.m2m - a.nonTrade)) << id;
        }
        for (const auto& [id, o] : m.orders) {
            RefPtr<OrderRow> row = orders->find(id.c_str());
            ASSERT_TRUE(row) << id;
            double stop = 0, limit = 0;
            const bool entry = o.type.size() > 1 && o.type[1] == 'E';
            if (entry && o.working && o.status[0] == 'W') {
                for (const auto& [wid, w] : m.orders) {
                    if (wid == id || w.working || w.request != o.request)
                        continue;
                    if (w.type[0] == 'S')
                        stop = w.rate;
                    if (w.type[0] == 'L')
                        limit = w.rate;
                }
            }
            ASSERT_TRUE(near(row->getStop(), stop)) << id;
            ASSERT_TRUE(near(row->getLimit(), limit)) << id;
        }
        // Summary rows: one per offer with trades and a known instrument.
        int expectedRows = 0;
        std::map<std::string, std::vector<std::string>> byOffer;
        for (const auto& [id, t] : m.trades)
            byOffer[t.offer].push_back(id);
        for (const auto& [offerID, ids] : byOffer) {
            const Inst* inst = m.instrumentByOffer(offerID);
            RefPtr<SummariesRow> row = summary->find(offerID.c_str());
            if (!inst) {
                ASSERT_FALSE(row) << offerID;
                continue;
            }
            ++expectedRows;
            ASSERT_TRUE(row) << offerID;
            const int divisor = inst->type == 1 ? 1000 : 1;
            double buyOpen = 0, sellOpen = 0, buyK = 0, sellK = 0, buyPL = 0, sellPL = 0, fees = 0;
            int buys = 0, sells = 0;
            for (const std::string& id : ids) {
                const MTrade& t = m.trades.at(id);
                const double g = cells[id].gross;
                (t.buy ? buyOpen : sellOpen) += t.open;
                (t.buy ? buyK : sellK) += t.amount / divisor;
                (t.buy ? buyPL : sellPL) += g;
                (t.buy ? buys : sells) += 1;
                fees += t.rollover - t.commission;
            }
            auto o = m.offers.find(offerID);
            const bool priced = o != m.offers.end();
            ASSERT_STREQ(row->getInstrument(), inst->symbol.c_str());
            ASSERT_TRUE(near(row->getBuyAvgOpen(), buys ? buyOpen / buys : 0)) << offerID;
            ASSERT_TRUE(near(row->getSellAvgOpen(), sells ? sellOpen / sells : 0)) << offerID;
            ASSERT_TRUE(near(row->getBuyAmountK(), buyK)) << offerID;
            ASSERT_TRUE(near(row->getSellAmountK(), sellK)) << offerID;
            ASSERT_TRUE(near(row->getAmountK(), buyK - sellK)) << offerID;
            ASSERT_TRUE(near(row->getBuyNetPL(), buyPL)) << offerID;
            ASSERT_TRUE(near(row->getSellNetPL(), sellPL)) << offerID;
            ASSERT_TRUE(near(row->getGrossPL(), buyPL + sellPL)) << offerID;
            ASSERT_TRUE(near(row->getNetPL(), buyPL + sellPL + fees)) << offerID;
            ASSERT_TRUE(near(row->getSellClose(), priced && buys ? o->second.bid : 0)) << offerID;
            ASSERT_TRUE(near(row->getBuyClose(), priced && sells ? o->second.ask : 0)) << offerID;
        }
        ASSERT_EQ(summary->size(), expectedRows);
    }

    std::string currency;
    RefPtr<TablesManager> manager;
    RefPtr<OffersTable> offers;
    RefPtr<AccountsTable> accounts;
    RefPtr<OrdersTable> orders;
    RefPtr<TradesTable> trades;
    RefPtr<SummaryTable> summary;
};

TEST_P(Differential, EveryCalculatedCellEqualsAPlainRecomputation)
{
    Model m(currency);
    std::mt19937 rng(std::get<1>(GetParam()));
    auto pick = [&](int n) { return static_cast<int>(rng() % static_cast<unsigned>(n)); };
    auto chance = [&](int percent) { return pick(100) < percent; };
    const int kOffers = 7, kTrades = 40, kAccounts = 5;
    const char* offerIDs[] = {"1", "2", "3", "4", "5", "6", "7", "404"};

    auto putOffer = [&](int k, bool zeroPrice) {
        const Inst& inst = kInstruments[k];
        const double base = kBasePrice[k];
        const double bid = zeroPrice ? 0 : base * (1 + (pick(2001) - 1000) * 1e-4);
        const double ask = zeroPrice ? 0 : bid + inst.pointSize * (1 + pick(3));
        const bool known = m.offers.count(inst.offerID) != 0;
        MOffer& mo = m.offers[inst.offerID];
        mo.symbol = inst.symbol;
        mo.bid = bid;
        mo.ask = ask;
        mo.pointSize = chance(2) ? 0 : inst.pointSize;
        m.pricePipCost(inst.offerID);
        RefPtr<OfferRow> row = offer(inst.offerID, inst.symbol, bid, ask, mo.pointSize, inst.type);
        if (known)
            offers->update(row.get());
        else
            offers->add(row.get());
    };
    auto putTrade = [&](const std::string& id, bool replace) {
        MTrade t;
        if (replace) {
            t = m.trades.at(id);
            t.amount = 1000 * (1 + pick(20));  // a partial close or an addition
            if (chance(20))
                t.commission = pick(10);
            if (chance(20))
                t.rollover = pick(10) * 0.5;
            if (chance(5))
                t.offer = offerIDs[pick(8)];
        } else {
            t.account = "A" + std::to_string(pick(kAccounts));
            t.offer = offerIDs[chance(5) ? 7 : pick(kOffers)];
            t.buy = chance(50);
            t.amount = chance(3) ? 0 : 1000 * (1 + pick(20));
            const int k = t.offer == "404" ? 0 : std::stoi(t.offer) - 1;
            t.open = kBasePrice[k] * (1 + (pick(2001) - 1000) * 1e-4);
            t.commission = pick(10);
            t.rollover = pick(10) * 0.5;
        }
        m.trades[id] = t;
        RefPtr<TradeRow> row = trade(id, t.account, t.offer, t.buy, t.amount, t.open, t.commission, t.rollover);
        if (replace)
            trades->update(row.get());
        else
            trades->add(row.get());
    };
    auto putOrder = [&](const std::string& id, const MOrder& o, bool replace) {
        m.orders[id] = o;
        RefPtr<OrderRow> row = order(id, o.offer, o.trade, o.request, o.type.c_str(), o.rate, o.working);
        row->record().Status = o.status;
        if (replace)
            orders->update(row.get());
        else
            orders->add(row.get());
    };

    const int kSteps = 10000;
    for (int step = 0; step < kSteps; ++step) {
        const int what = pick(100);
        if (what < 35) {
            putOffer(pick(kOffers), chance(2));
        } else if (what < 37) {
            const std::string id = offerIDs[pick(kOffers)];
            if (m.offers.erase(id))
                offers->remove(id.c_str());
        } else if (what < 55) {
            const std::string id = "T" + std::to_string(pick(kTrades));
            putTrade(id, m.trades.count(id) != 0);
        } else if (what < 62) {
            const std::string id = "T" + std::to_string(pick(kTrades));
            if (m.trades.erase(id))
                trades->remove(id.c_str());
        } else if (what < 70) {
            const std::string id = "A" + std::to_string(pick(kAccounts));
            MAccount a{1000.0 * pick(100), 10.0 * pick(50), 1000.0 * pick(100), 5.0 * pick(10)};
            const bool known = m.accounts.count(id) != 0;
            m.accounts[id] = a;
            RefPtr<AccountRow> row = account(id, a.balance, a.usedMargin, a.m2m, a.nonTrade);
            if (known)
                accounts->update(row.get());
            else
                accounts->add(row.get());
        } else if (what < 72) {
            const std::string id = "A" + std::to_string(pick(kAccounts));
            if (m.accounts.erase(id))
                accounts->remove(id.c_str());
        } else if (what < 85) {
            // A stop or limit of a trade: one of each kind per trade.
            const int t = pick(kTrades);
            const bool stop = chance(50);
            const std::string id = std::string(stop ? "S" : "L") + std::to_string(t);
            MOrder o;
            o.offer = offerIDs[pick(kOffers)];
            o.trade = "T" + std::to_string(t);
            o.request = "Q" + id;
            o.type = stop ? "S" : "L";
            o.rate = 1 + pick(1000) * 1e-3;
            o.working = !chance(10);
            o.status = chance(10) ? "E" : "W";
            putOrder(id, o, m.orders.count(id) != 0);
        } else if (what < 93) {
            // An entry order and the stop and limit waiting for it.
            const int r = pick(6);
            const int kind = pick(3);
            const std::string id = std::string(kind == 0 ? "E" : kind == 1 ? "ES" : "EL") + std::to_string(r);
            MOrder o;
            o.offer = offerIDs[pick(kOffers)];
            o.request = "R" + std::to_string(r);
            o.type = kind == 0 ? (chance(50) ? "SE" : "LE") : kind == 1 ? "S" : "L";
            o.rate = 1 + pick(1000) * 1e-3;
            o.working = kind == 0 ? !chance(10) : false;
            o.status = chance(10) ? "E" : "W";
            putOrder(id, o, m.orders.count(id) != 0);
        } else {
            if (m.orders.empty())
                continue;
            auto it = m.orders.begin();
            std::advance(it, pick(static_cast<int>(m.orders.size())));
            orders->remove(it->first.c_str());
            m.orders.erase(it);
        }
        check(m, step);
        if (::testing::Test::HasFatalFailure())
            return;
    }
}

INSTANTIATE_TEST_SUITE_P(Seeds, Differential,
                         ::testing::Combine(::testing::Values("USD", "EUR"), ::testing::Values(1u, 2u)));

} // namespace
} // namespace zel
