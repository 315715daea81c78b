// The life of a logged-in session against the in-process dealer: a cut connection
// resumes and the trade desk reloads in place, the dealer ending the session ends
// it here, and many create/login/logout/release cycles leave nothing behind.

#include <dirent.h>

#include <algorithm>
#include <chrono>
#include <thread>

#include "tests/login_e2e_support.h"

namespace login_e2e {
namespace {

class Lifecycle : public DealerFixture {};

TEST_F(Lifecycle, ACutConnectionResumesAndTheSessionWorksOn)
{
    ASSERT_TRUE(loginAndWait("demo", "demo", "Demo")) << ::testing::PrintToString(status->failures());
    Held<IZelLoginRules> before(session->getLoginRules());
    // Prices stream while the connection is cut.
    for (int i = 0; i < 5; ++i)
        ASSERT_TRUE(dealer->setPrice("1", 1.1 + i * 0.001).isOk());
    ASSERT_GE(dealer->cut("demo"), 1u);
    for (int i = 0; i < 5; ++i)
        ASSERT_TRUE(dealer->setPrice("2", 150.0 + i * 0.01).isOk());
    ASSERT_TRUE(status->waitFor(S::Connected, 2)) << ::testing::PrintToString(status->statuses());
    EXPECT_EQ(status->statuses(), (std::vector<int>{S::Connecting, S::Connected, S::Reconnecting, S::Connected}));
    Held<IZelLoginRules> after(session->getLoginRules());
    EXPECT_EQ(before.get(), after.get()) << "the trade desk reloads in place";

    Held<IZelRequestFactory> factory(session->getRequestFactory());
    ASSERT_TRUE(factory);
    const std::string id = send(factory->createRefreshTableRequest(ZelTable::Accounts));
    Held<IZelResponse> answer(responses->waitCompleted(id));
    EXPECT_TRUE(answer) << responses->waitFailed(id);
}

TEST_F(Lifecycle, TheDealerEndingTheSessionIsALoss)
{
    ASSERT_TRUE(loginAndWait("demo", "demo", "DemoAsync")) << ::testing::PrintToString(status->failures());
    ASSERT_GE(dealer->expire("demo"), 1u);
    ASSERT_TRUE(status->waitFor(S::Disconnected));
    EXPECT_EQ(status->statuses(),
              (std::vector<int>{S::Connecting, S::Connected, S::SessionLost, S::Disconnected}));
    EXPECT_EQ(session->getLoginRules(), nullptr);
    EXPECT_EQ(session->getRequestFactory(), nullptr);
    // A new login is accepted.
    status.reset(new StatusLog());
    session->subscribeSessionStatus(status.get());
    ASSERT_NE(session->login("demo", "demo", url.c_str(), "Demo"), 0);
    EXPECT_TRUE(status->waitFor(S::Connected));
}

size_t entries(const char* path)
{
    size_t n = 0;
    if (DIR* d = ::opendir(path)) {
        while (::readdir(d))
            ++n;
        ::closedir(d);
    }
    return n;
}

TEST_F(Lifecycle, ManyCyclesLeaveNoThreadOrDescriptorBehind)
{
    auto cycle = [&] {
        Held<IZelSession> s(CZelTransport::createSession());
        Held<StatusLog> log(new StatusLog());
        s->subscribeSessionStatus(log.get());
        ASSERT_NE(s->login("demo", "demo", url.c_str(), "Demo"), 0);
        ASSERT_TRUE(log->waitFor(S::Connected)) << ::testing::PrintToString(log->failures());
        s->logout();
        ASSERT_EQ(log->statuses().back(), S::Disconnected);
    };
    cycle();  // the transport's own threads start with the first session
    const size_t threads = entries("/proc/self/task");
    const size_t fds = entries("/proc/self/fd");
    for (int i = 0; i < 200; ++i) {
        cycle();
        if (HasFatalFailure())
            return;
    }
    // A thread the transport lent to a busy I/O context leaves on its own once the
    // context is idle again: wait for that, a leak stays above the baseline.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while ((entries("/proc/self/task") > threads || entries("/proc/self/fd") > fds) &&
           std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_LE(entries("/proc/self/task"), threads);
    EXPECT_LE(entries("/proc/self/fd"), fds);
}

} // namespace
} // namespace login_e2e

namespace login_e2e {
namespace {

TEST_F(Lifecycle, DemoPriceResumesItsPriceConnectionAlone)
{
    ASSERT_TRUE(loginAndWait("demo", "demo", "DemoPrice")) << ::testing::PrintToString(status->failures());
    ASSERT_EQ(dealer->cutPrices("demo"), 1u);
    ASSERT_TRUE(status->waitFor(S::Connected, 2)) << ::testing::PrintToString(status->statuses());
    EXPECT_EQ(status->statuses(),
              (std::vector<int>{S::Connecting, S::Connected, S::PriceSessionReconnecting, S::Connected}));
    // Prices flow again on the resumed price connection.
    ASSERT_TRUE(dealer->setPrice("1", 1.2345).isOk());
    EXPECT_TRUE(responses->waitUpdates(1));
}

// One line per row, sorted, of the fields both sides know.
std::string line(IZelOfferRow* r)
{
    return std::string(r->getOfferID()) + " " + std::to_string(r->getBid()) + " " + std::to_string(r->getAsk());
}
std::string line(IZelAccountRow* r)
{
    return std::string(r->getAccountID()) + " " + std::to_string(r->getBalance());
}
std::string line(IZelOrderRow* r)
{
    return std::string(r->getOrderID()) + " " + r->getType() + " " + r->getBuySell() + " " +
           std::to_string(r->getAmount()) + " " + std::to_string(r->getRate());
}
std::string line(IZelTradeRow* r)
{
    return std::string(r->getTradeID()) + " " + r->getBuySell() + " " + std::to_string(r->getAmount()) + " " +
           std::to_string(r->getOpenRate());
}

template <class Source>
std::string lines(Source* source)
{
    std::vector<std::string> out;
    for (int i = 0; source && i < source->size(); ++i) {
        auto* row = source->getRow(i);
        if (!row)
            continue;
        out.push_back(line(row));
        row->release();
    }
    std::sort(out.begin(), out.end());
    std::string text;
    for (auto& l : out)
        text += l + "\n";
    return text;
}

TEST_F(Lifecycle, AfterACutDuringPushedUpdatesTheLiveTablesEqualTheDealers)
{
    newSession();
    session->useTableManager(ZelTableManagerMode::TableManagerOnly);
    ASSERT_TRUE(loginAndWait("demo", "demo", "Demo")) << ::testing::PrintToString(status->failures());
    Held<IZelRequestFactory> factory(session->getRequestFactory());
    ASSERT_TRUE(factory);
    ASSERT_TRUE(dealer->setPrice("1", 1.2000).isOk());
    auto order = [&](const char* type, const char* offer, double rate) {
        Held<IZelValueMap> map(factory->createValueMap());
        map->setString(ZelRequestParamsEnum::Command, "CreateOrder");
        map->setString(ZelRequestParamsEnum::OrderType, type);
        map->setString(ZelRequestParamsEnum::AccountID, "01001");
        map->setString(ZelRequestParamsEnum::OfferID, offer);
        map->setString(ZelRequestParamsEnum::BuySell, "B");
        map->setInt(ZelRequestParamsEnum::Amount, 1000);
        if (rate)
            map->setDouble(ZelRequestParamsEnum::Rate, rate);
        const std::string id = send(factory->createOrderRequest(map.get()));
        ASSERT_FALSE(id.empty()) << factory->getLastError();
        Held<IZelResponse> answer(responses->waitCompleted(id));
        ASSERT_TRUE(answer) << responses->waitFailed(id);
    };
    order("OM", "2", 0);
    order("LE", "1", 1.1950);
    order("LE", "1", 1.1000);  // stays waiting

    // While cut, prices move and the first entry order executes.
    ASSERT_GE(dealer->cut("demo"), 1u);
    for (int i = 0; i < 10; ++i) {
        ASSERT_TRUE(dealer->setPrice("1", 1.1990 - i * 0.001).isOk());
        ASSERT_TRUE(dealer->setPrice("2", 150.0 + i * 0.01).isOk());
    }
    ASSERT_TRUE(status->waitFor(S::Connected, 2)) << ::testing::PrintToString(status->statuses());
    EXPECT_EQ(status->statuses(), (std::vector<int>{S::Connecting, S::Connected, S::Reconnecting, S::Connected}));

    // The dealer's own answers, to a session of its own.
    Held<IZelSession> other(CZelTransport::createSession());
    Held<StatusLog> otherStatus(new StatusLog());
    Held<ResponseLog> otherResponses(new ResponseLog());
    other->subscribeSessionStatus(otherStatus.get());
    other->subscribeResponse(otherResponses.get());
    ASSERT_NE(other->login("demo", "demo", url.c_str(), "DemoAsync"), 0);
    ASSERT_TRUE(otherStatus->waitFor(S::Connected));
    Held<IZelRequestFactory> otherFactory(other->getRequestFactory());
    Held<IZelResponseReaderFactory> readers(other->getResponseReaderFactory());
    auto answer = [&](ZelTable table) {
        Held<IZelRequest> r(otherFactory->createRefreshTableRequest(table));
        std::string id = r->getRequestID();
        other->sendRequest(r.get());
        Held<IZelResponse> a(otherResponses->waitCompleted(id));
        EXPECT_TRUE(a) << otherResponses->waitFailed(id);
        std::string text;
        switch (table) {
        case ZelTable::Offers: {
            Held<IZelOffersTableResponseReader> x(readers->createOffersTableReader(a.get()));
            text = lines(x.get());
            break;
        }
        case ZelTable::Accounts: {
            Held<IZelAccountsTableResponseReader> x(readers->createAccountsTableReader(a.get()));
            text = lines(x.get());
            break;
        }
        case ZelTable::Orders: {
            Held<IZelOrdersTableResponseReader> x(readers->createOrdersTableReader(a.get()));
            text = lines(x.get());
            break;
        }
        default: {
            Held<IZelTradesTableResponseReader> x(readers->createTradesTableReader(a.get()));
            text = lines(x.get());
        }
        }
        return text;
    };
    Held<IZelTableManager> manager(session->getTableManager());
    ASSERT_TRUE(manager);
    auto live = [&](ZelTable table) {
        Held<IZelTable> t(manager->getTable(table));
        if (!t)
            return std::string("<no table>");
        switch (table) {
        case ZelTable::Offers: return lines(static_cast<IZelOffersTable*>(t.get()));
        case ZelTable::Accounts: return lines(static_cast<IZelAccountsTable*>(t.get()));
        case ZelTable::Orders: return lines(static_cast<IZelOrdersTable*>(t.get()));
        default: return lines(static_cast<IZelTradesTable*>(t.get()));
        }
    };
    const ZelTable tables[] = {ZelTable::Accounts, ZelTable::Trades, ZelTable::Orders, ZelTable::Offers};
    for (ZelTable table : tables) {
        const std::string expected = answer(table);
        // The reload and the updates queued behind it land on the session's own
        // threads: wait until they have.
        std::string got = live(table);
        const auto deadline = std::chrono::steady_clock::now() + kWait;
        while (got != expected && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            got = live(table);
        }
        EXPECT_EQ(got, expected) << "table " << static_cast<int>(table);
    }
    // The executed entry order opened a second trade; the other still waits.
    const std::string trades = answer(ZelTable::Trades);
    EXPECT_EQ(std::count(trades.begin(), trades.end(), '\n'), 2) << trades;
    other->logout();
}

} // namespace
} // namespace login_e2e
