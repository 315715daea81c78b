// Orders through the public API against the in-process dealer: each order is built
// by the request factory from a value map, sent, executed by the dealer, answered,
// and its pushed rows read back through the update readers and the live tables.
// Prices move only when a test sets them.

#include "tests/login_e2e_support.h"

#include <atomic>
#include <cmath>
#include <map>

namespace login_e2e {
namespace {

// One pushed row, with the fields the cases check.
struct Pushed {
    ZelTable table = ZelTable::Offers;
    ZelTableUpdateType type = ZelTableUpdateType::Unknown;
    std::string id;
    std::string account;
    std::string kind;    // order type, or message type
    std::string status;  // order status
    std::string tradeID;
    std::string contingencyID;
    std::string text;  // message text
    bool html = false;
    bool working = false;  // orders: working, not waiting for another order
    double rate = 0;       // order rate, trade open rate, closed trade close rate
    double openRate = 0;   // closed trades
    double trailRate = 0;  // orders
    int amount = 0;
    double balance = 0;  // accounts
    double usedMargin = 0;
    std::string marginCall;
};

// Answers, and every pushed row read through the session's update reader.
class Recorder : public ResponseLog {
public:
    std::atomic<IZelResponseReaderFactory*> readers{nullptr};  // set once logged in

    void onTablesUpdates(IZelResponse* response) override
    {
        std::vector<Pushed> rows;
        double stamp = 0;
        if (IZelResponseReaderFactory* factory = readers.load()) {
            Held<IZelTablesUpdatesReader> u(factory->createTablesUpdatesReader(response));
            if (u) {
                stamp = u->getServerTime();
                for (int i = 0; i < u->size(); ++i)
                    rows.push_back(read(u.get(), i));
            }
        }
        {
            std::lock_guard<std::mutex> lock(m_rowsMutex);
            m_rows.insert(m_rows.end(), rows.begin(), rows.end());
            if (stamp > 0)
                m_stamps.push_back(stamp);
        }
        ResponseLog::onTablesUpdates(response);
    }

    // Waits for a pushed row matching the test; returns it (or an empty row).
    Pushed waitRow(const std::function<bool(const Pushed&)>& test)
    {
        const auto until = std::chrono::steady_clock::now() + kWait;
        while (std::chrono::steady_clock::now() < until) {
            {
                std::lock_guard<std::mutex> lock(m_rowsMutex);
                for (const Pushed& p : m_rows)
                    if (test(p))
                        return p;
            }
            waitUpdates(++m_seen);
        }
        return Pushed();
    }
    bool hasRow(const std::function<bool(const Pushed&)>& test)
    {
        std::lock_guard<std::mutex> lock(m_rowsMutex);
        for (const Pushed& p : m_rows)
            if (test(p))
                return true;
        return false;
    }
    std::vector<Pushed> rows()
    {
        std::lock_guard<std::mutex> lock(m_rowsMutex);
        return m_rows;
    }
    std::vector<double> stamps()
    {
        std::lock_guard<std::mutex> lock(m_rowsMutex);
        return m_stamps;
    }

private:
    static std::string str(const char* s) { return s ? s : ""; }
    static Pushed read(IZelTablesUpdatesReader* u, int i)
    {
        Pushed p;
        p.table = u->getUpdateTable(i);
        p.type = u->getUpdateType(i);
        switch (p.table) {
        case ZelTable::Orders: {
            Held<IZelOrderRow> r(u->getOrderRow(i));
            if (!r)
                break;
            p.id = str(r->getOrderID());
            p.account = str(r->getAccountID());
            p.kind = str(r->getType());
            p.status = str(r->getStatus());
            p.tradeID = str(r->getTradeID());
            p.contingencyID = str(r->getContingentOrderID());
            p.rate = r->getRate();
            p.trailRate = r->getTrailRate();
            p.amount = r->getAmount();
            p.working = r->getWorkingIndicator();
            break;
        }
        case ZelTable::Trades: {
            Held<IZelTradeRow> r(u->getTradeRow(i));
            if (!r)
                break;
            p.id = str(r->getTradeID());
            p.account = str(r->getAccountID());
            p.kind = str(r->getBuySell());
            p.rate = r->getOpenRate();
            p.amount = r->getAmount();
            break;
        }
        case ZelTable::ClosedTrades: {
            Held<IZelClosedTradeRow> r(u->getClosedTradeRow(i));
            if (!r)
                break;
            p.id = str(r->getTradeID());
            p.account = str(r->getAccountID());
            p.kind = str(r->getBuySell());
            p.rate = r->getCloseRate();
            p.openRate = r->getOpenRate();
            p.amount = r->getAmount();
            break;
        }
        case ZelTable::Messages: {
            Held<IZelMessageRow> r(u->getMessageRow(i));
            if (!r)
                break;
            p.id = str(r->getMsgID());
            p.kind = str(r->getType());
            p.text = str(r->getText());
            p.html = r->getHTMLFragmentFlag();
            break;
        }
        case ZelTable::Offers: {
            Held<IZelOfferRow> r(u->getOfferRow(i));
            if (!r)
                break;
            p.id = str(r->getOfferID());
            p.status = str(r->getSubscriptionStatus());
            break;
        }
        case ZelTable::Accounts: {
            Held<IZelAccountRow> r(u->getAccountRow(i));
            if (!r)
                break;
            p.id = str(r->getAccountID());
            p.account = p.id;
            p.balance = r->getBalance();
            p.usedMargin = r->getUsedMargin();
            p.marginCall = str(r->getMarginCallFlag());
            break;
        }
        default:
            break;
        }
        return p;
    }

    std::mutex m_rowsMutex;
    std::vector<Pushed> m_rows;
    std::vector<double> m_stamps;
    int m_seen = 0;
};

using Params = std::vector<std::pair<ZelRequestParamsEnum, std::string>>;
using P = ZelRequestParamsEnum;

constexpr double kBid = 1.10000;  // EUR/USD, offer "1"
constexpr double kPip = 0.0001;

// A logged-in trader with a factory, readers and a recorder.
struct Trader {
    Held<IZelSession> session;
    Held<StatusLog> status;
    Held<Recorder> rec;
    Held<IZelRequestFactory> factory;
    Held<IZelResponseReaderFactory> readers;

    bool login(const std::string& url, const char* user)
    {
        session.reset(CZelTransport::createSession());
        session->useTableManager(ZelTableManagerMode::TableManagerAndReaders);
        status.reset(new StatusLog());
        session->subscribeSessionStatus(status.get());
        rec.reset(new Recorder());
        session->subscribeResponse(rec.get());
        if (session->login(user, user, url.c_str(), "Demo") == 0 || !status->waitFor(S::Connected))
            return false;
        factory.reset(session->getRequestFactory());
        readers.reset(session->getResponseReaderFactory());
        rec->readers = readers.get();
        return factory && readers;
    }
    ~Trader()
    {
        if (session)
            session->logout();
        if (rec)
            rec->readers = nullptr;
    }

    // A value map filled from the parameters (children appended in order).
    IZelValueMap* map(const Params& params, const std::vector<IZelValueMap*>& children = {})
    {
        IZelValueMap* m = factory->createValueMap();
        for (const auto& p : params) {
            if (p.first == P::Amount || p.first == P::TrailStep || p.first == P::TrailStepStop ||
                p.first == P::ContingencyGroupType)
                m->setInt(p.first, std::stoi(p.second));
            else if (p.first == P::Rate || p.first == P::RateStop || p.first == P::RateLimit ||
                     p.first == P::RateMin || p.first == P::RateMax)
                m->setDouble(p.first, std::stod(p.second));
            else
                m->setString(p.first, p.second.c_str());
        }
        for (IZelValueMap* c : children) {
            m->appendChild(c);
            c->release();
        }
        return m;
    }

    // Sends the order; the order IDs of the answers to its requests (a batch is
    // answered member by member), joined by ",", or "!<failure text>".
    std::string send(IZelValueMap* valueMap)
    {
        Held<IZelValueMap> m(valueMap);
        Held<IZelRequest> request(factory->createOrderRequest(m.get()));
        if (!request)
            return std::string("!build: ") + factory->getLastError();
        std::vector<std::string> ids;
        leaves(request.get(), ids);
        session->sendRequest(request.get());
        std::string out;
        for (const std::string& id : ids) {
            const std::string one = answer(id);
            if (one.rfind("!", 0) == 0)
                return one;
            out += (out.empty() ? "" : ",") + one;
        }
        return out;
    }
    static void leaves(IZelRequest* request, std::vector<std::string>& ids)
    {
        if (request->getChildrenCount() == 0) {
            ids.push_back(request->getRequestID());
            return;
        }
        for (int i = 0; i < request->getChildrenCount(); ++i) {
            Held<IZelRequest> child(request->getChildRequest(i));
            if (child)
                leaves(child.get(), ids);
        }
    }
    std::string answer(const std::string& id)
    {
        Held<IZelResponse> answer(rec->waitCompleted(id));
        if (!answer)
            return "!" + rec->waitFailed(id);
        // An order's answer names the order; a command's answer holds its status only.
        Held<IZelOrderResponseReader> order(readers->createOrderResponseReader(answer.get()));
        if (order && order->isSuccessful())
            return order->getOrderID();
        Held<IZelCommandResponseReader> command(readers->createCommandResponseReader(answer.get()));
        if (!command)
            return "!no reader";
        return command->isSuccessful() ? "ok" : "!" + std::string(command->getErrorDescription());
    }
    std::string send(const Params& params) { return send(map(params)); }

    Pushed orderRow(const std::string& orderID, ZelTableUpdateType type)
    {
        return rec->waitRow([&](const Pushed& p) {
            return p.table == ZelTable::Orders && p.id == orderID && p.type == type;
        });
    }
    // The trade of that amount opened on an account.
    Pushed tradeOpened(const std::string& account, int amount = 1000)
    {
        return rec->waitRow([&](const Pushed& p) {
            return p.table == ZelTable::Trades && p.type == ZelTableUpdateType::Insert && p.account == account &&
                   p.amount == amount;
        });
    }
    Pushed closed(const std::string& tradeID)
    {
        return rec->waitRow([&](const Pushed& p) {
            return p.table == ZelTable::ClosedTrades && p.type == ZelTableUpdateType::Insert && p.id == tradeID;
        });
    }
    // A row of a live table, found by ID.
    template <class Table, class Row>
    bool live(ZelTable t, const std::string& id)
    {
        Held<IZelTableManager> manager(session->getTableManager());
        if (!manager)
            return false;
        Held<IZelTable> table(manager->getTable(t));
        Table* typed = static_cast<Table*>(table.get());
        Row* row = nullptr;
        if (!typed || !typed->findRow(id.c_str(), row))
            return false;
        if (row)
            row->release();
        return true;
    }
};

Params marketOpen(const std::string& account, const char* side, int amount)
{
    return {{P::Command, "CreateOrder"}, {P::OrderType, "OM"}, {P::AccountID, account}, {P::OfferID, "1"},
            {P::BuySell, side}, {P::Amount, std::to_string(amount)}};
}

class Orders : public DealerFixture {
protected:
    void SetUp() override
    {
        DealerFixture::SetUp();
        dealer->stopPrices();
        ASSERT_TRUE(dealer->setPrice("1", kBid).isOk());
        a.reset(new Trader());
        ASSERT_TRUE(a->login(url, "demo")) << ::testing::PrintToString(a->status->failures());
    }
    void TearDown() override
    {
        a.reset();
        DealerFixture::TearDown();
    }
    std::unique_ptr<Trader> a;
};

bool isOrder(const Pushed& p, const std::string& id, ZelTableUpdateType type)
{
    return p.table == ZelTable::Orders && p.id == id && p.type == type;
}

// Market orders open at the ask and close at the bid; one whose range the market
// has left fails with the server's text and opens nothing.
TEST_F(Orders, MarketOrdersOpenAndCloseAtTheMarketOrFailWhenThePriceMoved)
{
    const double ask = kBid + 0.8 * kPip;
    struct Case {
        const char* name;
        Params params;
        double rate;        // of the trade opened; 0 when it must fail
        const char* error;  // a part of the failure text
    };
    const Case cases[] = {
        {"OM", marketOpen("01001", "B", 1000), ask, ""},
        {"O at the ask", [&] {
             Params p = marketOpen("01001", "B", 2000);
             p[1].second = "O";
             p.push_back({P::Rate, std::to_string(ask)});
             return p;
         }(), ask, ""},
        {"OR inside", [&] {
             Params p = marketOpen("01001", "S", 3000);
             p[1].second = "OR";
             p.push_back({P::RateMin, std::to_string(kBid - 5 * kPip)});
             p.push_back({P::RateMax, std::to_string(kBid + 5 * kPip)});
             return p;
         }(), kBid, ""},
        {"OR missed", [&] {
             Params p = marketOpen("01001", "B", 4000);
             p[1].second = "OR";
             p.push_back({P::RateMin, std::to_string(kBid + 50 * kPip)});
             p.push_back({P::RateMax, std::to_string(kBid + 60 * kPip)});
             return p;
         }(), 0, "The price has moved."},
    };
    size_t opened = 0;
    for (const Case& c : cases) {
        const std::string id = a->send(c.params);
        if (c.rate == 0) {
            ASSERT_EQ(id.rfind("!", 0), 0u) << c.name << ": " << id;
            EXPECT_NE(id.find(c.error), std::string::npos) << c.name << ": " << id;
            continue;
        }
        ASSERT_NE(id.rfind("!", 0), 0u) << c.name << ": " << id;
        ++opened;
        Pushed trade = a->tradeOpened("01001", std::stoi(c.params[5].second));
        ASSERT_FALSE(trade.id.empty()) << c.name;
        EXPECT_NEAR(trade.rate, c.rate, 1e-9) << c.name;
        EXPECT_TRUE((a->live<IZelTradesTable, IZelTradeTableRow>(ZelTable::Trades, trade.id))) << c.name;
    }
    // Nothing of the missed order was opened.
    ASSERT_EQ(opened, 3u);
    EXPECT_FALSE(a->rec->hasRow([](const Pushed& p) { return p.table == ZelTable::Trades && p.amount == 4000; }));

    // The first trade closes at the bid after the market moved.
    const Pushed first = a->tradeOpened("01001", 1000);
    ASSERT_TRUE(dealer->setPrice("1", kBid + 20 * kPip).isOk());
    const std::string close =
        a->send({{P::Command, "CreateOrder"}, {P::OrderType, "CM"}, {P::AccountID, "01001"}, {P::OfferID, "1"},
                 {P::TradeID, first.id}, {P::BuySell, "S"}, {P::Amount, "1000"}});
    ASSERT_NE(close.rfind("!", 0), 0u) << close;
    const Pushed done = a->closed(first.id);
    ASSERT_EQ(done.id, first.id);
    EXPECT_NEAR(done.rate, kBid + 20 * kPip, 1e-9);
    EXPECT_NEAR(done.openRate, ask, 1e-9);
    EXPECT_TRUE(a->rec->waitRow([&](const Pushed& p) {
                         return p.table == ZelTable::Trades && p.id == first.id && p.type == ZelTableUpdateType::Delete;
                     }).id == first.id);
    EXPECT_FALSE((a->live<IZelTradesTable, IZelTradeTableRow>(ZelTable::Trades, first.id)));
}

// An entry order fills when the market crosses it, its stop and limit start working
// on the new trade, and the stop closes the trade and deletes the limit.
TEST_F(Orders, EntryFillsWithItsStopAndLimitAndTheStopClosesTheTrade)
{
    const std::string entry =
        a->send({{P::Command, "CreateOrder"}, {P::OrderType, "LE"}, {P::AccountID, "01001"}, {P::OfferID, "1"},
                 {P::BuySell, "B"}, {P::Amount, "1000"}, {P::Rate, std::to_string(kBid - 10 * kPip)},
                 {P::RateStop, std::to_string(kBid - 50 * kPip)}, {P::RateLimit, std::to_string(kBid + 50 * kPip)}});
    ASSERT_NE(entry.rfind("!", 0), 0u) << entry;
    const Pushed placed = a->orderRow(entry, ZelTableUpdateType::Insert);
    ASSERT_EQ(placed.id, entry);
    EXPECT_EQ(placed.kind, "LE");
    EXPECT_NEAR(placed.rate, kBid - 10 * kPip, 1e-9);
    EXPECT_TRUE((a->live<IZelOrdersTable, IZelOrderTableRow>(ZelTable::Orders, entry)));
    EXPECT_FALSE(a->rec->hasRow([](const Pushed& p) { return p.table == ZelTable::Trades; })) << "not crossed yet";

    ASSERT_TRUE(dealer->setPrice("1", kBid - 12 * kPip).isOk());
    ASSERT_EQ(a->orderRow(entry, ZelTableUpdateType::Delete).id, entry);
    const Pushed trade = a->tradeOpened("01001");
    ASSERT_FALSE(trade.id.empty());
    EXPECT_EQ(trade.amount, 1000);
    auto working = [&](const char* kind) {
        return a->rec->waitRow([&](const Pushed& p) {
            return p.table == ZelTable::Orders && p.kind == kind && p.tradeID == trade.id &&
                   p.type != ZelTableUpdateType::Delete;
        });
    };
    const Pushed stop = working("S");
    const Pushed limit = working("L");
    ASSERT_FALSE(stop.id.empty());
    ASSERT_FALSE(limit.id.empty());
    EXPECT_NEAR(stop.rate, kBid - 50 * kPip, 1e-9);
    EXPECT_NEAR(limit.rate, kBid + 50 * kPip, 1e-9);
    EXPECT_TRUE(stop.working);
    EXPECT_TRUE(limit.working);
    // The live trade shows its stop and limit, its close price and its loss so far.
    {
        Held<IZelTableManager> manager(a->session->getTableManager());
        ASSERT_TRUE(manager);
        Held<IZelTradesTable> trades(static_cast<IZelTradesTable*>(manager->getTable(ZelTable::Trades)));
        ASSERT_TRUE(trades);
        IZelTradeTableRow* row = nullptr;
        ASSERT_TRUE(trades->findRow(trade.id.c_str(), row));
        Held<IZelTradeTableRow> live(row);
        EXPECT_NEAR(live->getStop(), kBid - 50 * kPip, 1e-9);
        EXPECT_NEAR(live->getLimit(), kBid + 50 * kPip, 1e-9);
        EXPECT_NEAR(live->getClose(), kBid - 12 * kPip, 1e-9);
        EXPECT_NEAR(live->getPL(), -0.8, 1e-6) << "the spread, in pips";
    }

    ASSERT_TRUE(dealer->setPrice("1", kBid - 60 * kPip).isOk());
    const Pushed done = a->closed(trade.id);
    ASSERT_EQ(done.id, trade.id);
    EXPECT_LE(done.rate, kBid - 50 * kPip + 1e-9);
    EXPECT_EQ(a->orderRow(limit.id, ZelTableUpdateType::Delete).id, limit.id);
    EXPECT_EQ(a->orderRow(stop.id, ZelTableUpdateType::Delete).id, stop.id);
    EXPECT_FALSE((a->live<IZelTradesTable, IZelTradeTableRow>(ZelTable::Trades, trade.id)));
    EXPECT_FALSE((a->live<IZelOrdersTable, IZelOrderTableRow>(ZelTable::Orders, limit.id)));
}

// An entry order is edited (rate and amount), then deleted.
TEST_F(Orders, EditAndDeleteAnEntryOrder)
{
    const std::string entry =
        a->send({{P::Command, "CreateOrder"}, {P::OrderType, "SE"}, {P::AccountID, "01001"}, {P::OfferID, "1"},
                 {P::BuySell, "B"}, {P::Amount, "1000"}, {P::Rate, std::to_string(kBid + 30 * kPip)}});
    ASSERT_NE(entry.rfind("!", 0), 0u) << entry;
    EXPECT_EQ(a->orderRow(entry, ZelTableUpdateType::Insert).kind, "SE");

    const std::string edited =
        a->send({{P::Command, "EditOrder"}, {P::OrderID, entry}, {P::AccountID, "01001"}, {P::Amount, "3000"},
                 {P::Rate, std::to_string(kBid + 40 * kPip)}});
    ASSERT_NE(edited.rfind("!", 0), 0u) << edited;
    const Pushed changed = a->rec->waitRow([&](const Pushed& p) {
        return isOrder(p, entry, ZelTableUpdateType::Update) && p.amount == 3000;
    });
    ASSERT_EQ(changed.id, entry);
    EXPECT_NEAR(changed.rate, kBid + 40 * kPip, 1e-9);

    // The order's last update, asked for by its ID.
    {
        Held<IZelValueMap> m(a->map({{P::Command, "GetLastOrderUpdate"}, {P::LookupKey, "OrderID"},
                                     {P::LookupValue, entry}, {P::AccountName, "01001"}}));
        Held<IZelRequest> request(a->factory->createOrderRequest(m.get()));
        ASSERT_TRUE(request) << a->factory->getLastError();
        const std::string id = request->getRequestID();
        a->session->sendRequest(request.get());
        Held<IZelResponse> answer(a->rec->waitCompleted(id));
        ASSERT_TRUE(answer) << a->rec->waitFailed(id);
        Held<IZelLastOrderUpdateResponseReader> last(a->readers->createLastOrderUpdateResponseReader(answer.get()));
        ASSERT_TRUE(last);
        Held<IZelOrderRow> row(last->getOrder());
        ASSERT_TRUE(row);
        EXPECT_EQ(last->getUpdateType(), ZelTableUpdateType::Update);
        EXPECT_STREQ(row->getOrderID(), entry.c_str());
        EXPECT_EQ(row->getAmount(), 3000);
    }

    const std::string deleted = a->send({{P::Command, "DeleteOrder"}, {P::OrderID, entry}});
    ASSERT_NE(deleted.rfind("!", 0), 0u) << deleted;
    EXPECT_EQ(a->orderRow(entry, ZelTableUpdateType::Delete).id, entry);
    EXPECT_FALSE((a->live<IZelOrdersTable, IZelOrderTableRow>(ZelTable::Orders, entry)));
    // A second delete fails with the server's text.
    const std::string again = a->send({{P::Command, "DeleteOrder"}, {P::OrderID, entry}});
    EXPECT_EQ(again.rfind("!", 0), 0u) << again;
}

Params entry(const char* type, const char* side, double rate, int amount = 1000)
{
    return {{P::Command, "CreateOrder"}, {P::OrderType, type}, {P::AccountID, "01001"}, {P::OfferID, "1"},
            {P::BuySell, side}, {P::Amount, std::to_string(amount)}, {P::Rate, std::to_string(rate)}};
}

// The orders of a batch answer, by amount (the answer gives one order ID).
std::string orderOfAmount(Trader& t, int amount)
{
    return t.rec->waitRow([&](const Pushed& p) {
                     return p.table == ZelTable::Orders && p.type == ZelTableUpdateType::Insert && p.amount == amount;
                 })
        .id;
}

// When one order of an OCO group fills, its siblings are deleted.
TEST_F(Orders, OcoFillDeletesItsSiblings)
{
    const std::string answer = a->send(a->map({{P::Command, "CreateOCO"}},
                                               {a->map(entry("LE", "B", kBid - 10 * kPip, 1000)),
                                                a->map(entry("SE", "B", kBid + 30 * kPip, 2000))}));
    ASSERT_NE(answer.rfind("!", 0), 0u) << answer;
    const std::string low = orderOfAmount(*a, 1000);
    const std::string high = orderOfAmount(*a, 2000);
    ASSERT_FALSE(low.empty());
    ASSERT_FALSE(high.empty());
    ASSERT_TRUE(dealer->setPrice("1", kBid - 12 * kPip).isOk());
    EXPECT_EQ(a->orderRow(low, ZelTableUpdateType::Delete).id, low);
    EXPECT_EQ(a->tradeOpened("01001", 1000).amount, 1000);
    EXPECT_EQ(a->orderRow(high, ZelTableUpdateType::Delete).id, high);
    EXPECT_FALSE(a->rec->hasRow([](const Pushed& p) { return p.table == ZelTable::Trades && p.amount == 2000; }));
}

// The children of an OTO wait until their primary fills, then start working.
TEST_F(Orders, OtoReleasesItsChildrenWhenThePrimaryFills)
{
    const std::string answer = a->send(a->map({{P::Command, "CreateOTO"}},
                                               {a->map(entry("LE", "B", kBid - 10 * kPip, 1000)),
                                                a->map(entry("SE", "B", kBid + 30 * kPip, 2000))}));
    ASSERT_NE(answer.rfind("!", 0), 0u) << answer;
    const std::string primary = orderOfAmount(*a, 1000);
    const std::string child = orderOfAmount(*a, 2000);
    ASSERT_FALSE(primary.empty());
    ASSERT_FALSE(child.empty());
    EXPECT_FALSE(a->orderRow(child, ZelTableUpdateType::Insert).working) << "waits for its primary";
    EXPECT_TRUE(a->orderRow(primary, ZelTableUpdateType::Insert).working);
    ASSERT_TRUE(dealer->setPrice("1", kBid - 12 * kPip).isOk());
    EXPECT_EQ(a->orderRow(primary, ZelTableUpdateType::Delete).id, primary);
    const Pushed released = a->orderRow(child, ZelTableUpdateType::Update);
    ASSERT_EQ(released.id, child);
    EXPECT_TRUE(released.working);
    EXPECT_FALSE(a->rec->hasRow([&](const Pushed& p) { return isOrder(p, child, ZelTableUpdateType::Delete); }));
}

// Orders join a new OCO group and leave it again.
TEST_F(Orders, GroupJoinAndLeave)
{
    const std::string one = a->send(entry("LE", "B", kBid - 20 * kPip, 1000));
    const std::string two = a->send(entry("SE", "B", kBid + 20 * kPip, 2000));
    ASSERT_NE(one.rfind("!", 0), 0u) << one;
    ASSERT_NE(two.rfind("!", 0), 0u) << two;
    auto member = [&](const std::string& id) {
        return a->map({{P::AccountID, "01001"}, {P::OrderID, id}});
    };
    const std::string joined =
        a->send(a->map({{P::Command, "JoinToNewContingencyGroup"}, {P::ContingencyGroupType, "1"}},
                       {member(one), member(two)}));
    ASSERT_NE(joined.rfind("!", 0), 0u) << joined;
    const Pushed inGroup = a->rec->waitRow([&](const Pushed& p) {
        return isOrder(p, one, ZelTableUpdateType::Update) && !p.contingencyID.empty();
    });
    ASSERT_EQ(inGroup.id, one);
    EXPECT_EQ(a->rec->waitRow([&](const Pushed& p) {
                   return isOrder(p, two, ZelTableUpdateType::Update) && p.contingencyID == inGroup.contingencyID;
               }).id,
              two);

    // A third order joins the existing group.
    const std::string three = a->send(entry("SE", "B", kBid + 40 * kPip, 3000));
    ASSERT_NE(three.rfind("!", 0), 0u) << three;
    const std::string added =
        a->send(a->map({{P::Command, "JoinToExistingContingencyGroup"}, {P::ContingencyGroupType, "1"},
                        {P::ContingencyID, inGroup.contingencyID}},
                       {member(three)}));
    ASSERT_NE(added.rfind("!", 0), 0u) << added;
    EXPECT_EQ(a->rec->waitRow([&](const Pushed& p) {
                   return isOrder(p, three, ZelTableUpdateType::Update) && p.contingencyID == inGroup.contingencyID;
               }).id,
              three);

    const std::string left =
        a->send({{P::Command, "RemoveFromContingencyGroup"}, {P::OrderID, one}, {P::AccountID, "01001"}});
    ASSERT_NE(left.rfind("!", 0), 0u) << left;
    EXPECT_EQ(a->rec->waitRow([&](const Pushed& p) {
                   return isOrder(p, one, ZelTableUpdateType::Update) && p.contingencyID.empty();
               }).id,
              one);

    // The order that left fills alone; a fill in the group deletes the other member.
    ASSERT_TRUE(dealer->setPrice("1", kBid - 22 * kPip).isOk());
    ASSERT_EQ(a->tradeOpened("01001", 1000).amount, 1000);
    ASSERT_TRUE(dealer->setPrice("1", kBid + 21 * kPip).isOk());
    ASSERT_EQ(a->tradeOpened("01001", 2000).amount, 2000);
    EXPECT_EQ(a->orderRow(three, ZelTableUpdateType::Delete).id, three);
    EXPECT_FALSE(a->rec->hasRow([](const Pushed& p) { return p.table == ZelTable::Trades && p.amount == 3000; }));
}

// Trailing stops follow the market: a dynamic one (step 1) pip by pip, a fixed one
// in whole steps. Each is on a trade of its own.
TEST_F(Orders, TrailingStopsFollowTheMarket)
{
    struct Case {
        int amount;
        const char* step;
        double moved;  // the stop after the bid rose 25 pips, in pips from the start bid
    };
    const Case cases[] = {{1000, "1", -5}, {2000, "10", -10}};
    std::vector<std::string> stops;
    for (const Case& c : cases) {
        ASSERT_NE(a->send(marketOpen("01001", "B", c.amount)).rfind("!", 0), 0u);
        const Pushed trade = a->tradeOpened("01001", c.amount);
        ASSERT_FALSE(trade.id.empty());
        const std::string stop =
            a->send({{P::Command, "CreateOrder"}, {P::OrderType, "S"}, {P::AccountID, "01001"}, {P::OfferID, "1"},
                     {P::TradeID, trade.id}, {P::BuySell, "S"}, {P::Amount, std::to_string(c.amount)},
                     {P::Rate, std::to_string(kBid - 30 * kPip)}, {P::TrailStep, c.step}});
        ASSERT_NE(stop.rfind("!", 0), 0u) << stop;
        EXPECT_NEAR(a->orderRow(stop, ZelTableUpdateType::Insert).rate, kBid - 30 * kPip, 1e-9);
        stops.push_back(stop);
    }
    ASSERT_TRUE(dealer->setPrice("1", kBid + 25 * kPip).isOk());
    for (size_t i = 0; i < stops.size(); ++i) {
        const double target = kBid + cases[i].moved * kPip;
        const Pushed moved = a->rec->waitRow([&](const Pushed& p) {
            return isOrder(p, stops[i], ZelTableUpdateType::Update) && std::fabs(p.rate - target) < 1e-9;
        });
        EXPECT_EQ(moved.id, stops[i]) << "step " << cases[i].step;
    }

    // A trailing stop entry to buy follows a falling market down.
    Params e = entry("SE", "B", kBid + 60 * kPip, 3000);
    e.push_back({P::TrailStep, "1"});
    const std::string id = a->send(e);
    ASSERT_NE(id.rfind("!", 0), 0u) << id;
    ASSERT_TRUE(dealer->setPrice("1", kBid + 15 * kPip).isOk());
    const Pushed lowered = a->rec->waitRow([&](const Pushed& p) {
        return isOrder(p, id, ZelTableUpdateType::Update) && std::fabs(p.rate - (kBid + 50 * kPip)) < 1e-9;
    });
    EXPECT_EQ(lowered.id, id) << "10 pips lower with the market";
}

Pushed closedOn(Trader& t, const std::string& account, int amount)
{
    return t.rec->waitRow([&](const Pushed& p) {
        return p.table == ZelTable::ClosedTrades && p.type == ZelTableUpdateType::Insert && p.account == account &&
               p.amount == amount;
    });
}

// A hedging account keeps both sides and closes every buy on a net-quantity close; a
// netting account closes the opposite trade first.
TEST_F(Orders, NetQuantityOnHedgingAndNettingAccounts)
{
    ASSERT_NE(a->send(marketOpen("01001", "B", 1000)).rfind("!", 0), 0u);
    ASSERT_NE(a->send(marketOpen("01001", "B", 2000)).rfind("!", 0), 0u);
    ASSERT_NE(a->send(marketOpen("01001", "S", 3000)).rfind("!", 0), 0u);
    EXPECT_EQ(a->tradeOpened("01001", 3000).kind, "S") << "hedging: the sell opens its own trade";
    const std::string net = a->send({{P::Command, "CreateOrder"}, {P::OrderType, "CM"}, {P::AccountID, "01001"},
                                     {P::OfferID, "1"}, {P::BuySell, "S"}, {P::NetQuantity, "Y"}});
    ASSERT_NE(net.rfind("!", 0), 0u) << net;
    EXPECT_EQ(closedOn(*a, "01001", 1000).kind, "B");
    EXPECT_EQ(closedOn(*a, "01001", 2000).kind, "B");
    EXPECT_FALSE(a->rec->hasRow([](const Pushed& p) {
        return p.table == ZelTable::ClosedTrades && p.account == "01001" && p.amount == 3000;
    }));

    // Netting: a sell of 5,000 against a buy of 3,000 closes the buy and sells 2,000.
    ASSERT_NE(a->send(marketOpen("01002", "B", 3000)).rfind("!", 0), 0u);
    const Pushed buy = a->tradeOpened("01002", 3000);
    ASSERT_NE(a->send(marketOpen("01002", "S", 5000)).rfind("!", 0), 0u);
    EXPECT_EQ(a->closed(buy.id).amount, 3000);
    const Pushed rest = a->tradeOpened("01002", 2000);
    EXPECT_EQ(rest.kind, "S");
    EXPECT_FALSE(a->rec->hasRow([](const Pushed& p) {
        return p.table == ZelTable::Trades && p.account == "01002" && p.amount == 5000;
    }));
}

// A margin call closes the largest loss first and tells the trader in an HTML
// message, decoded by the session.
TEST_F(Orders, MarginCallClosesTheLargestLossAndSendsAnHtmlMessage)
{
    ASSERT_NE(a->send(marketOpen("01001", "B", 1000)).rfind("!", 0), 0u);
    ASSERT_NE(a->send(marketOpen("01001", "S", 2000)).rfind("!", 0), 0u);
    const Pushed sell = a->tradeOpened("01001", 2000);
    const Pushed buy = a->tradeOpened("01001", 1000);
    ASSERT_TRUE(dealer->setPrice("1", kBid + 100 * kPip).isOk());
    ASSERT_TRUE(dealer->raiseMarginCall("01001").isOk());
    EXPECT_EQ(a->closed(sell.id).id, sell.id);
    const Pushed mail = a->rec->waitRow([](const Pushed& p) {
        return p.table == ZelTable::Messages && p.text.find("01001") != std::string::npos;
    });
    ASSERT_FALSE(mail.id.empty());
    EXPECT_TRUE(mail.html);
    EXPECT_NE(mail.text.find("<b>01001</b>"), std::string::npos) << mail.text;
    EXPECT_NE(mail.text.find("Trade " + sell.id + "<"), std::string::npos) << mail.text;
    EXPECT_EQ(mail.text.find("Trade " + buy.id + "<"), std::string::npos) << "only the largest loss closed";
    EXPECT_FALSE(a->rec->hasRow([&](const Pushed& p) { return p.table == ZelTable::ClosedTrades && p.id == buy.id; }));
}

// A message the dealer sends arrives decoded, HTML and all.
TEST_F(Orders, MailArrivesDecoded)
{
    const std::string html = "<p>Dear trader, <i>markets</i> close early &amp; reopen Monday.</p>";
    ASSERT_TRUE(dealer->sendMessage("demo", "Holiday hours", html, true).isOk());
    ASSERT_TRUE(dealer->sendMessage("demo", "Plain", "Plain words.", false).isOk());
    const Pushed rich = a->rec->waitRow([](const Pushed& p) { return p.table == ZelTable::Messages && p.html; });
    EXPECT_EQ(rich.text, html);
    const Pushed plain = a->rec->waitRow([](const Pushed& p) { return p.table == ZelTable::Messages && !p.html; });
    EXPECT_EQ(plain.text, "Plain words.");
    EXPECT_TRUE((a->live<IZelMessagesTable, IZelMessageTableRow>(ZelTable::Messages, rich.id)));
}

// The server time read by the session moves with the dealer's clock.
TEST_F(Orders, ServerTimeMovesWithTheDealersClock)
{
    ASSERT_TRUE(dealer->setPrice("1", kBid + kPip).isOk());
    ASSERT_TRUE(a->rec->waitRow([](const Pushed& p) { return p.table == ZelTable::Offers; }).table == ZelTable::Offers);
    const double before = a->session->getServerTime();
    ASSERT_GT(before, 40000.0) << "a date serial";
    ASSERT_TRUE(dealer->stepClock(3600 * 1000).isOk());
    ASSERT_TRUE(dealer->setPrice("1", kBid + 2 * kPip).isOk());
    ASSERT_NE(a->send(marketOpen("01001", "B", 1000)).rfind("!", 0), 0u);
    ASSERT_FALSE(a->tradeOpened("01001", 1000).id.empty());
    EXPECT_NEAR(a->session->getServerTime() - before, 1.0 / 24, 1.0 / 24 / 60) << "one hour later";
}

// Two users trade at once; neither sees or touches the other's accounts.
TEST_F(Orders, TwoUsersTradeWithoutSeeingEachOther)
{
    Trader b;
    ASSERT_TRUE(b.login(url, "demo22")) << ::testing::PrintToString(b.status->failures());
    ASSERT_NE(a->send(marketOpen("01001", "B", 1000)).rfind("!", 0), 0u);
    ASSERT_NE(b.send(marketOpen("02001", "S", 2000)).rfind("!", 0), 0u);
    const Pushed mine = a->tradeOpened("01001", 1000);
    const Pushed theirs = b.tradeOpened("02001", 2000);
    ASSERT_FALSE(mine.id.empty());
    ASSERT_FALSE(theirs.id.empty());
    // Each one's rows reach that one only.
    for (const Pushed& p : a->rec->rows())
        EXPECT_NE(p.account, "02001");
    for (const Pushed& p : b.rec->rows())
        EXPECT_TRUE(p.account.empty() || p.account == "02001") << p.account;
    // Orders on the other's account or trade fail.
    EXPECT_EQ(b.send(marketOpen("01001", "B", 1000)).rfind("!", 0), 0u);
    const std::string close =
        b.send({{P::Command, "CreateOrder"}, {P::OrderType, "CM"}, {P::AccountID, "02001"}, {P::OfferID, "1"},
                {P::TradeID, mine.id}, {P::BuySell, "S"}, {P::Amount, "1000"}});
    EXPECT_EQ(close.rfind("!", 0), 0u) << close;
    EXPECT_FALSE(a->rec->hasRow([&](const Pushed& p) { return p.table == ZelTable::ClosedTrades; }));
    // The other's trades are not in one's tables.
    EXPECT_FALSE((b.live<IZelTradesTable, IZelTradeTableRow>(ZelTable::Trades, mine.id)));
    EXPECT_TRUE((b.live<IZelTradesTable, IZelTradeTableRow>(ZelTable::Trades, theirs.id)));
}

// Each kind of close on a trade of its own: at the market, at a rate, inside a range,
// a range the market has left, and a limit order that the market reaches.
TEST_F(Orders, ClosesOfEveryKind)
{
    struct Case {
        const char* name;
        int amount;  // of the trade it closes (each case has its own)
        Params extra;
        const char* type;
        double rate;        // of the close; 0 when the close must fail
        const char* error;  // a part of the failure text
    };
    const std::string bid = std::to_string(kBid);
    const Case cases[] = {
        {"CM", 1000, {}, "CM", kBid, ""},
        {"C at the bid", 2000, {{P::Rate, bid}}, "C", kBid, ""},
        {"CR inside", 3000,
         {{P::RateMin, std::to_string(kBid - 5 * kPip)}, {P::RateMax, std::to_string(kBid + 5 * kPip)}},
         "CR", kBid, ""},
        {"CR missed", 4000,
         {{P::RateMin, std::to_string(kBid - 60 * kPip)}, {P::RateMax, std::to_string(kBid - 50 * kPip)}},
         "CR", 0, "The price has moved."},
    };
    for (const Case& c : cases)
        ASSERT_NE(a->send(marketOpen("01001", "B", c.amount)).rfind("!", 0), 0u) << c.name;
    for (const Case& c : cases) {
        const Pushed trade = a->tradeOpened("01001", c.amount);
        ASSERT_FALSE(trade.id.empty()) << c.name;
        Params p = {{P::Command, "CreateOrder"}, {P::OrderType, c.type}, {P::AccountID, "01001"}, {P::OfferID, "1"},
                    {P::TradeID, trade.id}, {P::BuySell, "S"}, {P::Amount, std::to_string(c.amount)}};
        p.insert(p.end(), c.extra.begin(), c.extra.end());
        const std::string answer = a->send(p);
        if (c.rate == 0) {
            ASSERT_EQ(answer.rfind("!", 0), 0u) << c.name << ": " << answer;
            EXPECT_NE(answer.find(c.error), std::string::npos) << c.name << ": " << answer;
            EXPECT_TRUE((a->live<IZelTradesTable, IZelTradeTableRow>(ZelTable::Trades, trade.id))) << c.name;
            continue;
        }
        ASSERT_NE(answer.rfind("!", 0), 0u) << c.name << ": " << answer;
        EXPECT_NEAR(a->closed(trade.id).rate, c.rate, 1e-9) << c.name;
    }

    // A limit on the remaining trade closes it when the bid reaches it.
    const Pushed trade = a->tradeOpened("01001", 4000);
    const std::string limit =
        a->send({{P::Command, "CreateOrder"}, {P::OrderType, "L"}, {P::AccountID, "01001"}, {P::OfferID, "1"},
                 {P::TradeID, trade.id}, {P::BuySell, "S"}, {P::Amount, "4000"},
                 {P::Rate, std::to_string(kBid + 20 * kPip)}});
    ASSERT_NE(limit.rfind("!", 0), 0u) << limit;
    EXPECT_EQ(a->orderRow(limit, ZelTableUpdateType::Insert).kind, "L");
    ASSERT_TRUE(dealer->setPrice("1", kBid + 21 * kPip).isOk());
    const Pushed done = a->closed(trade.id);
    ASSERT_EQ(done.id, trade.id);
    EXPECT_GE(done.rate, kBid + 20 * kPip - 1e-9);
    EXPECT_EQ(a->orderRow(limit, ZelTableUpdateType::Delete).id, limit);
}

// The used margin the dealer books is the one the session's settings give for the
// amount, and a close books its profit into the balance.
TEST_F(Orders, MarginAndBalanceAgreeWithTheSessionsSettings)
{
    ASSERT_NE(a->send(marketOpen("01001", "B", 3000)).rfind("!", 0), 0u);
    const Pushed trade = a->tradeOpened("01001", 3000);
    ASSERT_FALSE(trade.id.empty());
    const Pushed booked = a->rec->waitRow([](const Pushed& p) {
        return p.table == ZelTable::Accounts && p.id == "01001" && p.usedMargin > 0;
    });
    ASSERT_EQ(booked.id, "01001");

    Held<IZelLoginRules> rules(a->session->getLoginRules());
    ASSERT_TRUE(rules);
    Held<IZelTradingSettingsProvider> settings(rules->getTradingSettingsProvider());
    Held<IZelAccountsTable> accounts(static_cast<IZelAccountsTable*>(
        Held<IZelTableManager>(a->session->getTableManager())->getTable(ZelTable::Accounts)));
    ASSERT_TRUE(accounts);
    IZelAccountTableRow* row = nullptr;
    ASSERT_TRUE(accounts->findRow("01001", row));
    Held<IZelAccountTableRow> account(row);
    const double lot = settings->getMMR("EUR/USD", account.get());
    ASSERT_GT(lot, 0.0);
    EXPECT_NEAR(booked.usedMargin, lot * 3000 / settings->getBaseUnitSize("EUR/USD", account.get()), 0.01);
    EXPECT_NEAR(account->getUsedMargin(), booked.usedMargin, 0.01) << "the live table holds the pushed figure";

    ASSERT_TRUE(dealer->setPrice("1", kBid + 20 * kPip).isOk());
    ASSERT_NE(a->send({{P::Command, "CreateOrder"}, {P::OrderType, "CM"}, {P::AccountID, "01001"}, {P::OfferID, "1"},
                       {P::TradeID, trade.id}, {P::BuySell, "S"}, {P::Amount, "3000"}})
                  .rfind("!", 0),
              0u);
    const double profit = 3000 * (20 - 0.8) * kPip;
    const Pushed after = a->rec->waitRow([&](const Pushed& p) {
        return p.table == ZelTable::Accounts && p.id == "01001" && p.usedMargin == 0 && p.balance != booked.balance;
    });
    ASSERT_EQ(after.id, "01001");
    EXPECT_NEAR(after.balance - booked.balance, profit, 0.011);
}

// Stops and limits priced by pegs: attached to an entry from its trade's open price,
// and on a trade from the market.
TEST_F(Orders, PeggedStopsAndLimits)
{
    Params e = entry("LE", "B", kBid - 10 * kPip, 1000);
    e.insert(e.end(), {{P::PegTypeStop, "O"}, {P::PegOffsetStop, "-40"}, {P::PegTypeLimit, "O"},
                       {P::PegOffsetLimit, "40"}});
    const std::string id = a->send(e);
    ASSERT_NE(id.rfind("!", 0), 0u) << id;
    ASSERT_TRUE(dealer->setPrice("1", kBid - 12 * kPip).isOk());
    const Pushed trade = a->tradeOpened("01001", 1000);
    ASSERT_FALSE(trade.id.empty());
    auto attached = [&](const char* kind) {
        return a->rec->waitRow([&](const Pushed& p) {
            return p.table == ZelTable::Orders && p.kind == kind && p.tradeID == trade.id && p.working;
        });
    };
    EXPECT_NEAR(attached("S").rate, trade.rate - 40 * kPip, 1e-9);
    EXPECT_NEAR(attached("L").rate, trade.rate + 40 * kPip, 1e-9);

    // A stop on the trade from the market: the bid it would sell at, less 25 pips.
    ASSERT_NE(a->send(marketOpen("01001", "B", 2000)).rfind("!", 0), 0u);
    const Pushed second = a->tradeOpened("01001", 2000);
    const std::string stop =
        a->send({{P::Command, "CreateOrder"}, {P::OrderType, "S"}, {P::AccountID, "01001"}, {P::OfferID, "1"},
                 {P::TradeID, second.id}, {P::BuySell, "S"}, {P::Amount, "2000"}, {P::PegType, "M"},
                 {P::PegOffset, "-25"}});
    ASSERT_NE(stop.rfind("!", 0), 0u) << stop;
    EXPECT_NEAR(a->orderRow(stop, ZelTableUpdateType::Insert).rate, kBid - 12 * kPip - 25 * kPip, 1e-9);
}

// An offer's subscription is switched off and on again; the margin requirements are
// asked for again and read into the session's settings.
TEST_F(Orders, SubscriptionStatusAndMarginRequirements)
{
    for (const char* status : {"D", "T"}) {
        const std::string answer =
            a->send({{P::Command, "SetSubscriptionStatus"}, {P::OfferID, "2"}, {P::SubscriptionStatus, status}});
        ASSERT_NE(answer.rfind("!", 0), 0u) << status << ": " << answer;
        EXPECT_EQ(a->rec->waitRow([&](const Pushed& p) {
                           return p.table == ZelTable::Offers && p.id == "2" && p.status == status;
                       }).id,
                  "2")
            << status;
    }

    Held<IZelValueMap> m(a->map({{P::Command, "UpdateMarginRequirements"}}));
    Held<IZelRequest> request(a->factory->createOrderRequest(m.get()));
    ASSERT_TRUE(request) << a->factory->getLastError();
    const std::string id = request->getRequestID();
    a->session->sendRequest(request.get());
    Held<IZelResponse> answer(a->rec->waitCompleted(id));
    ASSERT_TRUE(answer) << a->rec->waitFailed(id);
    EXPECT_TRUE(a->readers->processMarginRequirementsResponse(answer.get()));
}

// Orders the dealer refuses come back as failures with a text, and open nothing.
TEST_F(Orders, RefusedOrdersFailWithATextAndOpenNothing)
{
    struct Case {
        const char* name;
        Params params;
    };
    auto with = [](Params p, ZelRequestParamsEnum key, const std::string& value) {
        for (auto& kv : p)
            if (kv.first == key)
                kv.second = value;
        return p;
    };
    const Params good = marketOpen("01001", "B", 1000);
    const Case cases[] = {
        {"amount not a multiple of the lot", with(good, P::Amount, "1500")},
        {"zero amount", with(good, P::Amount, "0")},
        {"negative amount", with(good, P::Amount, "-1000")},
        {"unknown offer", with(good, P::OfferID, "999")},
        {"unknown account", with(good, P::AccountID, "09999")},
        {"close of an unknown trade",
         {{P::Command, "CreateOrder"}, {P::OrderType, "CM"}, {P::AccountID, "01001"}, {P::OfferID, "1"},
          {P::TradeID, "999999"}, {P::BuySell, "S"}, {P::Amount, "1000"}}},
        {"edit of an unknown order", {{P::Command, "EditOrder"}, {P::OrderID, "999999"}, {P::AccountID, "01001"},
                                      {P::Amount, "2000"}}},
    };
    for (const Case& c : cases) {
        const std::string answer = a->send(c.params);
        ASSERT_EQ(answer.rfind("!", 0), 0u) << c.name << ": " << answer;
        EXPECT_GT(answer.size(), 1u) << c.name;
        EXPECT_EQ(answer.find("!build"), std::string::npos) << c.name << ": the dealer refuses it: " << answer;
    }
    EXPECT_FALSE(a->rec->hasRow([](const Pushed& p) {
        return p.table == ZelTable::Trades || p.table == ZelTable::Orders || p.table == ZelTable::ClosedTrades;
    }));
}

// An OTO whose children form an OCO: both wait for the primary, then work as one
// group, so the fill of one deletes the other.
TEST_F(Orders, OtoReleasesAnOcoPairThatThenActsAsOne)
{
    IZelValueMap* oco = a->map({{P::Command, "CreateOCO"}}, {a->map(entry("SE", "B", kBid + 30 * kPip, 2000)),
                                                             a->map(entry("LE", "B", kBid - 40 * kPip, 3000))});
    const std::string answer =
        a->send(a->map({{P::Command, "CreateOTO"}}, {a->map(entry("LE", "B", kBid - 10 * kPip, 1000)), oco}));
    ASSERT_NE(answer.rfind("!", 0), 0u) << answer;
    const std::string primary = orderOfAmount(*a, 1000);
    const std::string high = orderOfAmount(*a, 2000);
    const std::string low = orderOfAmount(*a, 3000);
    ASSERT_FALSE(high.empty());
    ASSERT_FALSE(low.empty());
    EXPECT_TRUE(a->orderRow(primary, ZelTableUpdateType::Insert).working);
    EXPECT_FALSE(a->orderRow(high, ZelTableUpdateType::Insert).working) << "waits for the primary";
    EXPECT_FALSE(a->orderRow(low, ZelTableUpdateType::Insert).working) << "waits for the primary";

    ASSERT_TRUE(dealer->setPrice("1", kBid - 12 * kPip).isOk());
    ASSERT_EQ(a->tradeOpened("01001", 1000).amount, 1000);
    EXPECT_TRUE(a->orderRow(high, ZelTableUpdateType::Update).working);
    EXPECT_TRUE(a->orderRow(low, ZelTableUpdateType::Update).working);
    ASSERT_TRUE(dealer->setPrice("1", kBid + 31 * kPip).isOk());
    ASSERT_EQ(a->tradeOpened("01001", 2000).amount, 2000);
    EXPECT_EQ(a->orderRow(low, ZelTableUpdateType::Delete).id, low) << "its OCO sibling filled";
}

} // namespace
} // namespace login_e2e

namespace login_e2e {
namespace {

// Hears a live table's status until its refresh is done.
class RefreshWait : public TThreadSafeAddRefImpl<IZelTableListener> {
public:
    void onAdded(const char*, IZelRow*) override {}
    void onChanged(const char*, IZelRow*) override {}
    void onDeleted(const char*, IZelRow*) override {}
    void onEachRow(const char*, IZelRow*) override {}
    void onStatusChanged(ZelTableStatus status) override
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_status = status;
        m_changed.notify_all();
    }
    bool waitRefreshed()
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        return m_changed.wait_for(lock, kWait, [&] { return m_status == ZelTableStatus::Refreshed; });
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    ZelTableStatus m_status = ZelTableStatus::Initial;
};

// A dealer whose account 01001 starts with a GTD limit entry expiring two hours
// after the virtual clock's start (2026-01-05 12:00 UTC).
class GtdOrders : public DealerFixture {
protected:
    static constexpr int64_t kStart = 1767614400000;
    static constexpr int64_t kExpiry = kStart + 2 * 3600 * 1000;

    void SetUp() override
    {
        pellora::dealer::World world = pellora::dealer::demoWorld();
        pellora::dealer::OrderRecord o;
        o.orderId = "900";
        o.requestId = "world-gtd";
        o.statusTime = kStart;
        o.rate = kBid - 100 * kPip;
        o.accountId = "01001";
        o.accountName = "01001";
        o.offerId = "1";
        o.buySell = "B";
        o.amount = o.originAmount = 1000;
        o.stage = "O";
        o.accountKind = "32";
        o.timeInForce = "GTD";
        o.type = "LE";
        o.status = "W";
        o.expireDate = kExpiry;
        world.startingState.orders.push_back(o);
        startDealer(std::move(world));
        dealer->stopPrices();
        ASSERT_TRUE(dealer->setPrice("1", kBid).isOk());
        a.reset(new Trader());
        ASSERT_TRUE(a->login(url, "demo")) << ::testing::PrintToString(a->status->failures());
    }
    void TearDown() override
    {
        a.reset();
        DealerFixture::TearDown();
    }
    // The live orders table's row of that order: its time in force and expiry (a
    // date serial), or "" when the table has no such row.
    std::pair<std::string, double> liveOrder(const std::string& id)
    {
        Held<IZelTableManager> manager(a->session->getTableManager());
        Held<IZelTable> table(manager ? manager->getTable(ZelTable::Orders) : nullptr);
        auto* orders = static_cast<IZelOrdersTable*>(table.get());
        IZelOrderTableRow* row = nullptr;
        if (!orders || !orders->findRow(id.c_str(), row) || !row)
            return {"", 0};
        std::pair<std::string, double> out{row->getTimeInForce() ? row->getTimeInForce() : "", row->getExpireDate()};
        row->release();
        return out;
    }
    std::unique_ptr<Trader> a;
};

// The GTD order is in the session's orders table with its expiry, stays while the
// clock is before it and is deleted, pushed and gone from the live table once the
// clock passes it. The client's order builder writes no expiry date, so a GTD order
// it sends is refused with the dealer's text; a DAY order goes at the roll-over.
TEST_F(GtdOrders, ExpireOnTheDealersClockAndDayOrdersGoAtTheRollover)
{
    // The world's order reaches the live table with the table's refresh.
    {
        Held<IZelTableManager> manager(a->session->getTableManager());
        Held<IZelTable> table(manager ? manager->getTable(ZelTable::Orders) : nullptr);
        ASSERT_TRUE(table);
        Held<RefreshWait> refreshed(new RefreshWait());
        table->subscribeStatus(refreshed.get());
        table->refresh();
        const bool done = refreshed->waitRefreshed();
        table->unsubscribeStatus(refreshed.get());
        ASSERT_TRUE(done);
    }
    const auto [tif, expiry] = liveOrder("900");
    ASSERT_EQ(tif, "GTD");
    EXPECT_NEAR(expiry, 25569.0 + static_cast<double>(kExpiry) / 86400000.0, 1.0 / 86400) << "the expiry as a date serial";

    Params gtd = entry("LE", "B", kBid - 50 * kPip);
    gtd.push_back({P::TimeInForce, "GTD"});
    const std::string refused = a->send(gtd);
    EXPECT_EQ(refused, "!A GTD order needs an expiry date (EXPIRE_DATE).");
    Params day = entry("LE", "B", kBid - 60 * kPip, 2000);
    day.push_back({P::TimeInForce, "DAY"});
    const std::string dayOrder = a->send(day);
    ASSERT_NE(dayOrder.rfind("!", 0), 0u) << dayOrder;
    ASSERT_EQ(a->orderRow(dayOrder, ZelTableUpdateType::Insert).id, dayOrder);
    EXPECT_EQ(liveOrder(dayOrder).first, "DAY");

    ASSERT_TRUE(dealer->stepClock(3600 * 1000).isOk());
    ASSERT_TRUE(dealer->setPrice("1", kBid + kPip).isOk());
    EXPECT_FALSE(a->rec->hasRow([](const Pushed& p) { return isOrder(p, "900", ZelTableUpdateType::Delete); }));
    EXPECT_EQ(liveOrder("900").first, "GTD");

    ASSERT_TRUE(dealer->stepClock(3600 * 1000).isOk());
    EXPECT_EQ(a->orderRow("900", ZelTableUpdateType::Delete).id, "900");
    EXPECT_EQ(liveOrder("900").first, "");
    EXPECT_EQ(liveOrder(dayOrder).first, "DAY") << "a day order lives until the roll-over";

    ASSERT_TRUE(dealer->stepToRollover().isOk());
    EXPECT_EQ(a->orderRow(dayOrder, ZelTableUpdateType::Delete).id, dayOrder);
    EXPECT_EQ(liveOrder(dayOrder).first, "");
}

} // namespace
} // namespace login_e2e
