// Refreshes, status events, reloading a table that holds rows, and pushed updates,
// through a session stand-in that records the requests and delivers the answers.

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "core/responses/response.h"
#include "core/responses/response_reader_factory.h"
#include "core/tables/tables_manager.h"
#include "core/tables/tables_test_support.h"
#include "zel/request.h"
#include "zel/request_factory.h"

namespace zel {
namespace {

using namespace testing_tables;

class FakeRequest : public TThreadSafeAddRefImpl<IZelRequest> {
public:
    explicit FakeRequest(std::string id) : m_id(std::move(id)) {}
    const char* getRequestID() override { return m_id.c_str(); }
    int getChildrenCount() override { return 0; }
    IZelRequest* getChildRequest(int) override { return nullptr; }

private:
    std::string m_id;
};

class FakeRequests : public TThreadSafeAddRefImpl<IZelRequestFactory> {
public:
    IZelTimeframeCollection* getTimeFrameCollection() override { return nullptr; }
    IZelRequest* createMarketDataSnapshotRequestInstrument(const char*, IZelTimeframe*, int) override { return nullptr; }
    void fillMarketDataSnapshotRequestTime(IZelRequest*, double, double, bool) override {}
    IZelRequest* createRefreshTableRequest(ZelTable table) override
    {
        if (refuse)
            return nullptr;
        return new FakeRequest("R" + std::to_string(int(table)) + "-" + std::to_string(++count));
    }
    IZelRequest* createRefreshTableRequestByAccount(ZelTable table, const char* account) override
    {
        if (refuse)
            return nullptr;
        return new FakeRequest("R" + std::to_string(int(table)) + "-" + account);
    }
    IZelRequest* createOrderRequest(IZelValueMap*) override { return nullptr; }
    IZelValueMap* createValueMap() override { return nullptr; }
    const char* getLastError() override { return ""; }
    bool refuse = false;
    int count = 0;
};

class FakeSession : public IZelSession {
public:
    long addRef() override { return 1; }
    long release() override { return 1; }
    IZelLoginRules* getLoginRules() override { return nullptr; }
    int login(const char*, const char*, const char*, const char*) override { return -1; }
    void logout() override {}
    void subscribeSessionStatus(IZelSessionStatus*) override {}
    void unsubscribeSessionStatus(IZelSessionStatus*) override {}
    IZelSessionDescriptorCollection* getTradingSessionDescriptors() override { return nullptr; }
    void setTradingSession(const char*, const char*) override {}
    void subscribeResponse(IZelResponseListener* l) override
    {
        l->addRef();
        listeners.push_back(l);
    }
    void unsubscribeResponse(IZelResponseListener* l) override
    {
        for (auto it = listeners.begin(); it != listeners.end(); ++it) {
            if (*it == l) {
                listeners.erase(it);
                l->release();
                return;
            }
        }
    }
    IZelRequestFactory* getRequestFactory() override
    {
        requests->addRef();
        return requests.get();
    }
    IZelResponseReaderFactory* getResponseReaderFactory() override
    {
        if (readersWithheld)
            return nullptr;
        readers->addRef();
        return readers.get();
    }
    void sendRequest(IZelRequest* request) override { sent.push_back(request->getRequestID()); }
    IZelTimeConverter* getTimeConverter() override { return nullptr; }
    void setPriceUpdateMode(ZelPriceUpdateMode) override {}
    ZelPriceUpdateMode getPriceUpdateMode() override { return ZelPriceUpdateMode{}; }
    double getServerTime() override { return 0; }
    int getReportURL(char*, int, IZelAccountRow*, double, double, const char*, const char*, const char*, long) override
    {
        return -1;
    }
    IZelTableManager* getTableManager() override { return nullptr; }
    void useTableManager(ZelTableManagerMode) override {}

    // Delivers an answer to every listener, as the session does.
    void answer(const std::string& requestID, ZelResponseType type, const char* text)
    {
        RefPtr<IZelResponse> r = adoptRef<IZelResponse>(new Response(type, requestID.c_str(), text));
        const std::vector<IZelResponseListener*> copy = listeners;
        for (IZelResponseListener* l : copy)
            l->onRequestCompleted(requestID.c_str(), r.get());
    }
    void fail(const std::string& requestID)
    {
        const std::vector<IZelResponseListener*> copy = listeners;
        for (IZelResponseListener* l : copy)
            l->onRequestFailed(requestID.c_str(), "refused");
    }
    void push(const char* text)
    {
        RefPtr<IZelResponse> r = adoptRef<IZelResponse>(new Response(ZelResponseType::TablesUpdates, "", text));
        const std::vector<IZelResponseListener*> copy = listeners;
        for (IZelResponseListener* l : copy)
            l->onTablesUpdates(r.get());
    }

    RefPtr<FakeRequests> requests = adoptRef(new FakeRequests());
    RefPtr<DasResponseReaderFactory> readers = adoptRef(new DasResponseReaderFactory());
    std::vector<IZelResponseListener*> listeners;
    std::vector<std::string> sent;
    bool readersWithheld = false;
};

class Log : public TThreadSafeAddRefImpl<IZelTableListener> {
public:
    Log(std::vector<std::string>& log, std::string name) : m_log(log), m_name(std::move(name)) {}
    void onAdded(const char* id, IZelRow*) override { m_log.push_back(m_name + " added " + id); }
    void onChanged(const char* id, IZelRow*) override { m_log.push_back(m_name + " changed " + id); }
    void onDeleted(const char* id, IZelRow*) override { m_log.push_back(m_name + " deleted " + id); }
    void onStatusChanged(ZelTableStatus s) override { m_log.push_back(m_name + " status " + std::to_string(int(s))); }
    void onEachRow(const char* id, IZelRow*) override { m_log.push_back(m_name + " each " + id); }

private:
    std::vector<std::string>& m_log;
    std::string m_name;
};

// Trades answer lines: 0 TradeID, 4 AccountID, 6 OfferID, 10 OpenRate, 12 BuySell, 13 Amount.
std::string tradeLine(const char* id, const char* account, int amount)
{
    return std::string(id) + ";;;;" + account + ";;1;;;;1.2;;B;" + std::to_string(amount);
}

class Refresh : public ::testing::Test {
protected:
    Refresh()
    {
        addInstrument(*manager, "1", "EUR/USD", 1, 0.0001);
        manager->setAccountCurrency("USD");
        manager->setBaseUnitSize(1000);
        session.readers->setTableManager(manager.get());
        manager->setSession(&session);
        manager->setTableManagerMode(ZelTableManagerMode::TableManagerOnly);
        trades = manager->getTrades();
        summaryTable = manager->getSummary();
        listener = adoptRef(new Log(log, "trades"));
        summaryListener = adoptRef(new Log(log, "summary"));
        for (auto type : {ZelTableUpdateType::Insert, ZelTableUpdateType::Update, ZelTableUpdateType::Delete})
            trades->subscribeUpdate(type, listener.get());
        trades->subscribeStatus(listener.get());
        summaryTable->subscribeStatus(summaryListener.get());
    }
    ~Refresh() override
    {
        manager->setTableManagerMode(ZelTableManagerMode::NoTableManager);
        manager->setSession(nullptr);
        while (!session.listeners.empty())
            session.unsubscribeResponse(session.listeners.front());
    }

    FakeSession session;
    RefPtr<TablesManager> manager = adoptRef(new TablesManager());
    RefPtr<TradesTable> trades;
    RefPtr<SummaryTable> summaryTable;
    std::vector<std::string> log;
    RefPtr<Log> listener;
    RefPtr<Log> summaryListener;
};

TEST_F(Refresh, TradesLoadWithStatusesInOrderAndTheSummaryFollowing)
{
    manager->getOffers()->add(offer("1", "EUR/USD", 1.2010, 1.2012, 0.0001).get());
    trades->refresh();
    ASSERT_EQ(session.sent.size(), 1u);
    EXPECT_EQ(trades->getStatus(), ZelTableStatus::Refreshing);
    const std::string text = "0\n" + tradeLine("T1", "A1", 10000) + "\n";
    session.answer(session.sent[0], ZelResponseType::TradesTable, text.c_str());
    const std::vector<std::string> expected{"trades status 1", "summary status 1", "trades added T1",
                                            "trades status 2", "summary status 2"};
    EXPECT_EQ(log, expected);
    RefPtr<TradeRow> t = trades->find("T1");
    ASSERT_TRUE(t);
    EXPECT_NEAR(t->getGrossPL(), 10, 1e-9);
    EXPECT_TRUE(summaryTable->find("1"));
    // An answer nobody asked for is someone else's.
    session.answer("R3-99", ZelResponseType::TradesTable, "0\n");
    EXPECT_EQ(trades->size(), 1);
}

TEST_F(Refresh, AReloadMakesTheTableEqualToTheAnswer)
{
    trades->add(trade("T1", "A1", "1", true, 1000, 1.2).get());
    trades->add(trade("T2", "A1", "1", true, 2000, 1.2).get());
    trades->add(trade("T3", "A1", "1", true, 3000, 1.2).get());
    log.clear();
    trades->refresh();
    // T1 changed, T2 as it was, T3 closed meanwhile, T4 new.
    const std::string text = "0\n" + tradeLine("T1", "A1", 500) + "\n" + tradeLine("T2", "A1", 2000) + "\n" +
                             tradeLine("T4", "A1", 4000) + "\n";
    session.answer(session.sent.at(0), ZelResponseType::TradesTable, text.c_str());
    std::vector<std::string> events;
    for (const std::string& e : log)
        if (e.find("status") == std::string::npos)
            events.push_back(e);
    std::sort(events.begin(), events.end());
    const std::vector<std::string> expected{"trades added T4", "trades changed T1", "trades deleted T3"};
    EXPECT_EQ(events, expected);
    EXPECT_EQ(trades->size(), 3);
    EXPECT_FALSE(trades->find("T3"));
}

TEST_F(Refresh, FailuresAndRequestsThatCannotBeMade)
{
    trades->refresh();
    session.fail(session.sent.at(0));
    EXPECT_EQ(trades->getStatus(), ZelTableStatus::Failed);
    EXPECT_EQ(summaryTable->getStatus(), ZelTableStatus::Failed);
    log.clear();
    session.requests->refuse = true;
    manager->setTableStatus(ZelTable::Summary, ZelTableStatus::Refreshed);
    log.clear();
    trades->refresh();
    const std::vector<std::string> expected{"trades status 1", "trades status 3"};
    EXPECT_EQ(log, expected) << "the Summary status is copied only once the request exists";
    summaryTable->refresh();
    EXPECT_EQ(summaryTable->getStatus(), ZelTableStatus::Refreshed) << "the Summary is never asked for";
}

TEST_F(Refresh, AnAnswerThatCannotBeReadFailsTheRefresh)
{
    trades->add(trade("T1", "A1", "1", true, 1000, 1.2).get());
    trades->refresh();
    session.readersWithheld = true;
    const std::string text = "0\n" + tradeLine("T2", "A1", 2000) + "\n";
    session.answer(session.sent.at(0), ZelResponseType::TradesTable, text.c_str());
    EXPECT_EQ(trades->getStatus(), ZelTableStatus::Failed) << "nothing was loaded, so it is not Refreshed";
    EXPECT_EQ(summaryTable->getStatus(), ZelTableStatus::Failed);
    EXPECT_TRUE(trades->find("T1"));
    EXPECT_FALSE(trades->find("T2"));
}

TEST_F(Refresh, OrdersAskPerAccountSkippingKind38)
{
    RefPtr<OrdersTable> orders = manager->getOrders();
    orders->refresh();
    EXPECT_EQ(orders->getStatus(), ZelTableStatus::Failed) << "no accounts";
    RefPtr<AccountsTable> accounts = manager->getAccounts();
    accounts->add(account("A38", 0, 0, 0, 0, "38").get());
    orders->refresh();
    EXPECT_EQ(orders->getStatus(), ZelTableStatus::Failed) << "only kind 38";
    accounts->add(account("A1", 0).get());
    accounts->add(account("A2", 0).get());
    orders->add(order("O9", "1", "", "", "LE", 1.1, true, "B", "A2").get());
    session.sent.clear();
    orders->refresh();
    ASSERT_EQ(session.sent.size(), 2u);
    std::sort(session.sent.begin(), session.sent.end());
    EXPECT_EQ(session.sent[0], "R2-A1");
    // Orders lines: 0 OrderID, 10 AccountID.
    session.answer("R2-A1", ZelResponseType::OrdersTable, "0\nO1;;;;;;;;;;A1\n");
    EXPECT_EQ(orders->getStatus(), ZelTableStatus::Refreshing) << "one account still to answer";
    EXPECT_TRUE(orders->find("O9")) << "an answer for A1 leaves A2's orders";
    session.answer("R2-A2", ZelResponseType::OrdersTable, "0\nO2;;;;;;;;;;A2\n");
    EXPECT_EQ(orders->getStatus(), ZelTableStatus::Refreshed);
    EXPECT_TRUE(orders->find("O1"));
    EXPECT_TRUE(orders->find("O2"));
    EXPECT_FALSE(orders->find("O9"));
}

TEST_F(Refresh, PushedUpdatesApplyInOrderAndSkipWhatIsNotATable)
{
    session.push("0;01052026103005\nTRADE;I;T1;;;;A1;;1;;;;1.2;;B;1000\nTRADE;I;T2;;;;A1;;1;;;;1.2;;B;1000\n"
                 "TRADE;D;T1\nSUMMARY;I;1\nNOTHING;I;X\n");
    EXPECT_FALSE(trades->find("T1"));
    EXPECT_TRUE(trades->find("T2"));
    EXPECT_EQ(summaryTable->size(), 1) << "T2's offer has an instrument: its Summary row exists, unpriced";
}

TEST(TableManager, TablesExistOnlyInModes1And2)
{
    RefPtr<TablesManager> manager = adoptRef(new TablesManager());
    EXPECT_EQ(manager->getTable(ZelTable::Offers), nullptr);
    manager->setTableManagerMode(ZelTableManagerMode::TableManagerAndReaders);
    for (int t = 0; t <= 6; ++t) {
        IZelTable* table = manager->getTable(static_cast<ZelTable>(t));
        ASSERT_NE(table, nullptr);
        EXPECT_EQ(table->tableType(), static_cast<ZelTable>(t));
        table->release();
    }
    EXPECT_EQ(manager->getTable(static_cast<ZelTable>(7)), nullptr);
    EXPECT_EQ(manager->getTable(static_cast<ZelTable>(-1)), nullptr);
    EXPECT_EQ(manager->getDetailedTable(ZelTable::Offers, "x"), nullptr);
    // A table the application keeps outlives the manager's mode 0.
    RefPtr<IZelTable> kept(manager->getTable(ZelTable::Trades), RefPtr<IZelTable>::adopt);
    manager->setTableManagerMode(ZelTableManagerMode::NoTableManager);
    EXPECT_EQ(manager->getTable(ZelTable::Trades), nullptr);
    EXPECT_EQ(kept->size(), 0);
}

TEST(TableManager, IteratingAndAddingAStoredRow)
{
    RefPtr<TablesManager> manager = adoptRef(new TablesManager(ZelTableManagerMode::TableManagerOnly));
    RefPtr<MessagesTable> messages = manager->getMessages();
    IZelTableIterator it;
    IZelMessageTableRow* row = nullptr;
    EXPECT_FALSE(messages->getNextRow(it, row));
    EXPECT_EQ(row, nullptr);
    std::vector<std::string> log;
    auto l = adoptRef(new Log(log, "messages"));
    messages->subscribeUpdate(ZelTableUpdateType::Insert, l.get());
    messages->subscribeUpdate(ZelTableUpdateType::Update, l.get());
    messages->subscribeEachRow(l.get());
    for (const char* id : {"M1", "M2", "M1"}) {
        auto r = std::make_unique<MessageRecord>();
        r->MsgID = id;
        RefPtr<MessageRow> m = adoptRef(new MessageRow(std::move(r), false));
        messages->add(m.get());
    }
    EXPECT_EQ(messages->size(), 2);
    int n = 0;
    while (messages->getNextRow(it, row)) {
        ++n;
        row->release();
    }
    EXPECT_EQ(n, 2);
    EXPECT_EQ(it.cell, 0u);
    EXPECT_EQ(messages->getCell(5, 0), nullptr);
    EXPECT_NE(messages->getCell(1, 0), nullptr);
    messages->fireEachRow();
    EXPECT_EQ(std::count(log.begin(), log.end(), "messages added M1"), 1) << "a stored identifier adds nothing";
    EXPECT_EQ(std::count(log.begin(), log.end(), "messages changed M1"), 1);
    EXPECT_EQ(std::count_if(log.begin(), log.end(), [](const std::string& s) { return s.find(" each ") != s.npos; }),
              2);
    messages->unsubscribeUpdate(ZelTableUpdateType::Insert, l.get());
    messages->unsubscribeUpdate(ZelTableUpdateType::Update, l.get());
    messages->unsubscribeEachRow(l.get());
}

} // namespace
} // namespace zel
