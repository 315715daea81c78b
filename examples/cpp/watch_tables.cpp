// Keeps the live tables and watches an open trade's profit and loss and its
// account's equity follow the market. Opens a trade first when there is none.
//   watch_tables [URL [SECONDS]]   (PELLORA_URL, PELLORA_USER, PELLORA_PASSWORD, PELLORA_CONNECTION)
// Exits 0 when the profit and loss moved while it watched.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <set>
#include <string>
#include <thread>

#include "example_session.h"

namespace {

// Hears every change of the Trades table, or of the Accounts table.
// [Threading] Runs on the SDK's thread that applies table changes, while the
// changed row is locked: it only reads the row, prints and records. A price
// change recalculates the trades first, then their accounts.
class Watcher : public TThreadSafeAddRefImpl<IZelTableListener> {
public:
    explicit Watcher(bool accounts) : m_accounts(accounts) {}
    void onAdded(const char* id, IZelRow* row) override { show("opened", id, row); }
    void onChanged(const char* id, IZelRow* row) override { show("changed", id, row); }
    void onDeleted(const char* id, IZelRow*) override { std::printf("row %s deleted\n", id); }
    void onStatusChanged(ZelTableStatus) override {}
    void onEachRow(const char* id, IZelRow* row) override { show("open", id, row); }

    // How many different profit-and-loss values of trades were seen.
    size_t distinctPL() {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_pls.size();
    }

private:
    void show(const char* what, const char* id, IZelRow* row) {
        if (m_accounts) {
            auto* account = static_cast<IZelAccountTableRow*>(row);
            std::printf("account %s: equity %.2f\n", id, account->getEquity());
            return;
        }
        auto* trade = static_cast<IZelTradeTableRow*>(row);
        std::printf("trade %s %s: close %.5f  P/L %.2f\n", id, what, trade->getClose(), trade->getGrossPL());
        std::lock_guard<std::mutex> lock(m_mutex);
        m_pls.insert(trade->getGrossPL());
    }

    const bool m_accounts;
    std::mutex m_mutex;
    std::set<double> m_pls;
};

// Waits (at most 30 s) until the table holds the server's rows. A table the
// login does not load by itself is asked for.
bool waitRefreshed(IZelTable* table) {
    if (table->getStatus() == ZelTableStatus::Initial) table->refresh();
    for (int i = 0; i < 300 && table->getStatus() != ZelTableStatus::Refreshed; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    return table->getStatus() == ZelTableStatus::Refreshed;
}

// Buys 10000 EUR/USD at market on the first account; the Trades table shows the trade.
bool openTrade(example::Session& session, IZelOffersTable* offers, IZelAccountsTable* accounts) {
    std::string offerID, accountID;
    IZelTableIterator it;
    IZelOfferTableRow* offer = nullptr;
    while (offers->getNextRow(it, offer)) {
        if (std::string(offer->getInstrument()) == "EUR/USD") offerID = offer->getOfferID();
        offer->release();
    }
    IZelAccountTableRow* account = accounts->getRow(0);
    if (account) {
        accountID = account->getAccountID();
        account->release();
    }
    if (offerID.empty() || accountID.empty()) return false;
    IZelRequestFactory* factory = session->getRequestFactory();  // null once the connection is gone
    IZelValueMap* map = factory ? factory->createValueMap() : nullptr;
    if (!map) {
        if (factory) factory->release();
        return false;
    }
    map->setString(ZelRequestParamsEnum::Command, "CreateOrder");
    map->setString(ZelRequestParamsEnum::OrderType, "OM");
    map->setString(ZelRequestParamsEnum::AccountID, accountID.c_str());
    map->setString(ZelRequestParamsEnum::OfferID, offerID.c_str());
    map->setString(ZelRequestParamsEnum::BuySell, "B");
    map->setInt(ZelRequestParamsEnum::Amount, 10000);
    IZelRequest* request = factory->createOrderRequest(map);
    IZelResponse* response = session.call(request);
    if (request) request->release();
    map->release();
    factory->release();
    if (response) response->release();
    return response != nullptr;
}

}  // namespace

int main(int argc, char** argv) {
    const double seconds = argc > 2 ? std::atof(argv[2]) : 5;
    example::Session session(ZelTableManagerMode::TableManagerOnly);
    if (!session.login(example::settingsFrom(argc, argv))) return 1;

    IZelTableManager* manager = session->getTableManager();
    if (!manager) return 1;
    auto* offers = static_cast<IZelOffersTable*>(manager->getTable(ZelTable::Offers));
    auto* accounts = static_cast<IZelAccountsTable*>(manager->getTable(ZelTable::Accounts));
    auto* trades = static_cast<IZelTradesTable*>(manager->getTable(ZelTable::Trades));
    manager->release();
    if (!offers || !accounts || !trades || !waitRefreshed(offers) || !waitRefreshed(accounts) ||
        !waitRefreshed(trades)) {
        std::fprintf(stderr, "the live tables did not load\n");
        for (IZelTable* table : {static_cast<IZelTable*>(offers), static_cast<IZelTable*>(accounts),
                                 static_cast<IZelTable*>(trades)})
            if (table) table->release();
        return 1;
    }

    auto* equity = new Watcher(true);
    accounts->subscribeUpdate(ZelTableUpdateType::Update, equity);
    auto* watcher = new Watcher(false);
    trades->subscribeUpdate(ZelTableUpdateType::Insert, watcher);
    trades->subscribeUpdate(ZelTableUpdateType::Update, watcher);
    trades->subscribeUpdate(ZelTableUpdateType::Delete, watcher);
    trades->subscribeEachRow(watcher);
    trades->fireEachRow();  // the trades already open
    bool ok = trades->size() > 0 || openTrade(session, offers, accounts);

    // Prices move on their own: watch for the time given, or until the profit and
    // loss took a few values.
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(static_cast<long>(seconds * 1000));
    while (ok && std::chrono::steady_clock::now() < end && watcher->distinctPL() < 4)
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    ok = ok && watcher->distinctPL() >= 2;

    trades->unsubscribeEachRow(watcher);
    trades->unsubscribeUpdate(ZelTableUpdateType::Insert, watcher);
    trades->unsubscribeUpdate(ZelTableUpdateType::Update, watcher);
    trades->unsubscribeUpdate(ZelTableUpdateType::Delete, watcher);
    accounts->unsubscribeUpdate(ZelTableUpdateType::Update, equity);
    equity->release();
    watcher->release();
    trades->release();
    accounts->release();
    offers->release();
    std::printf("%s\n", ok ? "the profit and loss followed the market" : "the profit and loss did not move");
    return ok ? 0 : 1;
}
