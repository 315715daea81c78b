// Application threads read the live tables (iterating, findRow, every cell of every
// row) while the applying thread runs ticks and row changes through the calculation
// cascade; the sanitizers report any race or read of freed memory.

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <future>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "core/tables/table_schema.h"
#include "core/tables/tables_manager.h"
#include "core/tables/tables_test_support.h"

#if defined(__SANITIZE_THREAD__)
#define ZEL_TSAN 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define ZEL_TSAN 1
#endif
#endif

namespace zel {
namespace {

using namespace testing_tables;

#ifdef ZEL_TSAN
constexpr int kDefaultChanges = 200000;
#else
constexpr int kDefaultChanges = 1000000;
#endif

// PELLORA_TABLES_CHANGES overrides the count (a quick local run).
int changes()
{
    const char* text = std::getenv("PELLORA_TABLES_CHANGES");
    const int n = text != nullptr ? std::atoi(text) : 0;
    return n > 0 ? n : kDefaultChanges;
}

// Reads every column of a row through its getters; texts to their end.
template <class T>
void consume(T value, double& sink)
{
    if constexpr (std::is_same_v<T, const char*>)
        sink += static_cast<double>(std::strlen(value));
    else
        sink += static_cast<double>(value);
}
#define ZEL_READ_CELL(name, type, kind) consume(row->get##name(), sink);

double readTrade(IZelTradeTableRow* row)
{
    double sink = 0;
    ZEL_TRADE_COLUMNS(ZEL_READ_CELL)
    return sink;
}
double readAccount(IZelAccountTableRow* row)
{
    double sink = 0;
    ZEL_ACCOUNT_COLUMNS(ZEL_READ_CELL)
    return sink;
}
double readSummary(IZelSummaryTableRow* row)
{
    double sink = 0;
    ZEL_SUMMARY_COLUMNS(ZEL_READ_CELL)
    return sink;
}
double readOffer(IZelOfferTableRow* row)
{
    double sink = 0;
    ZEL_OFFER_COLUMNS(ZEL_READ_CELL)
    return sink + (row->isPipCostValid() ? 1 : 0);
}
double readOrder(IZelOrderTableRow* row)
{
    double sink = 0;
    ZEL_ORDER_COLUMNS(ZEL_READ_CELL)
    return sink;
}
#undef ZEL_READ_CELL

template <class Table, class Row, class Read>
double walk(Table* table, Read read)
{
    double sink = 0;
    IZelTableIterator it;
    Row* row = nullptr;
    while (table->getNextRow(it, row)) {
        sink += read(row);
        for (int c = 0; c < 2; ++c)
            sink += row->isCellChanged(c) ? 1 : 0;
        row->release();
    }
    return sink;
}

TEST(TablesConcurrency, ReadersSeeWholeRowsWhileTheCascadeRuns)
{
    RefPtr<TablesManager> manager = adoptRef(new TablesManager());
    manager->setAccountCurrency("USD");
    manager->setBaseUnitSize(1000);
    const char* symbols[] = {"EUR/USD", "USD/JPY", "EUR/JPY", "GBP/USD", "EUR/GBP", "AUD/USD"};
    const double prices[] = {1.2, 110, 130, 1.3, 0.85, 0.7};
    for (int i = 0; i < 6; ++i)
        addInstrument(*manager, std::to_string(i + 1), symbols[i], 1, prices[i] > 10 ? 0.01 : 0.0001);
    manager->setTableManagerMode(ZelTableManagerMode::TableManagerOnly);
    RefPtr<OffersTable> offers = manager->getOffers();
    RefPtr<AccountsTable> accounts = manager->getAccounts();
    RefPtr<OrdersTable> orders = manager->getOrders();
    RefPtr<TradesTable> trades = manager->getTrades();
    RefPtr<SummaryTable> summary = manager->getSummary();
    RefPtr<AccountsPropertiesTable> properties(manager->getAccountsProperties(),
                                               RefPtr<AccountsPropertiesTable>::adopt);
    for (int i = 0; i < 6; ++i)
        offers->add(offer(std::to_string(i + 1), symbols[i], prices[i], prices[i] * 1.0001, prices[i] > 10 ? 0.01 : 0.0001)
                        .get());

    std::atomic<bool> done{false};
    std::vector<std::thread> readers;
    std::atomic<long> reads{0};
    for (int r = 0; r < 4; ++r) {
        readers.emplace_back([&, r] {
            std::mt19937 rng(r);
            double sink = 0;
            while (!done.load(std::memory_order_acquire)) {
                switch (r) {
                case 0:
                    sink += walk<IZelTradesTable, IZelTradeTableRow>(trades.get(), readTrade);
                    break;
                case 1:
                    sink += walk<IZelAccountsTable, IZelAccountTableRow>(accounts.get(), readAccount);
                    sink += walk<IZelSummaryTable, IZelSummaryTableRow>(summary.get(), readSummary);
                    break;
                case 2: {
                    for (int k = 0; k < 64; ++k) {
                        IZelTradeTableRow* row = nullptr;
                        const std::string id = "T" + std::to_string(rng() % 60);
                        if (trades->findRow(id.c_str(), row)) {
                            sink += readTrade(row);
                            row->release();
                        }
                        IZelOfferTableRow* o = nullptr;
                        if (offers->findRow(std::to_string(rng() % 6 + 1).c_str(), o)) {
                            sink += readOffer(o);
                            o->release();
                        }
                    }
                    break;
                }
                default: {
                    sink += walk<IZelOrdersTable, IZelOrderTableRow>(orders.get(), readOrder);
                    if (const AccountProperties* p = properties->find("P", "1"))
                        sink += p->margin1 + p->margin3;
                    break;
                }
                }
                reads.fetch_add(1, std::memory_order_relaxed);
                // Two cores: leave the applying thread its share.
                std::this_thread::yield();
            }
            EXPECT_TRUE(sink == sink);
        });
    }

    std::mt19937 rng(7);
    const int kChanges = changes();
    for (int step = 0; step < kChanges; ++step) {
        const int what = static_cast<int>(rng() % 100);
        const int k = static_cast<int>(rng() % 6);
        if (what < 70) {
            const double bid = prices[k] * (1 + (static_cast<int>(rng() % 201) - 100) * 1e-4);
            offers->update(offer(std::to_string(k + 1), symbols[k], bid, bid * 1.0001, prices[k] > 10 ? 0.01 : 0.0001)
                               .get());
        } else if (what < 85) {
            const std::string id = "T" + std::to_string(rng() % 60);
            trades->add(trade(id, "A" + std::to_string(rng() % 4), std::to_string(k + 1), rng() % 2 == 0,
                              1000 * static_cast<int>(1 + rng() % 10), prices[k])
                            .get());
        } else if (what < 92) {
            trades->remove(("T" + std::to_string(rng() % 60)).c_str());
        } else if (what < 96) {
            accounts->add(account("A" + std::to_string(rng() % 4), 1000.0 * (rng() % 100)).get());
        } else if (what < 99) {
            const int t = static_cast<int>(rng() % 60);
            orders->add(order("S" + std::to_string(t), std::to_string(k + 1), "T" + std::to_string(t), "", "S",
                              prices[k] * 0.99)
                            .get());
        } else {
            auto p = std::make_unique<AccountProperties>();
            p->leverageProfileID = "P";
            p->offerID = "1";
            p->margin1 = step;
            p->margin3 = step;
            properties->add(std::move(p));
        }
    }
    done.store(true, std::memory_order_release);
    for (std::thread& t : readers)
        t.join();
    EXPECT_GT(reads.load(), 0);
}

// Waits inside its callback until another thread has unsubscribed it.
class Blocking : public TThreadSafeAddRefImpl<IZelTableListener> {
public:
    void onAdded(const char*, IZelRow*) override {}
    void onChanged(const char*, IZelRow*) override
    {
        ++calls;
        entered.set_value();
        unsubscribed.get_future().wait();
    }
    void onDeleted(const char*, IZelRow*) override {}
    void onStatusChanged(ZelTableStatus) override {}
    void onEachRow(const char*, IZelRow*) override {}
    std::promise<void> entered;
    std::promise<void> unsubscribed;
    std::atomic<int> calls{0};
};

TEST(TablesConcurrency, UnsubscribingNeverWaitsForACallbackOnAnotherThread)
{
    RefPtr<TablesManager> manager = adoptRef(new TablesManager(ZelTableManagerMode::TableManagerOnly));
    RefPtr<OffersTable> offers = manager->getOffers();
    offers->add(offer("1", "EUR/USD", 1.2, 1.2002, 0.0001).get());
    RefPtr<Blocking> listener = adoptRef(new Blocking());
    offers->subscribeUpdate(ZelTableUpdateType::Update, listener.get());
    std::thread applying([&] { offers->update(offer("1", "EUR/USD", 1.3, 1.3002, 0.0001).get()); });
    listener->entered.get_future().wait();
    // The callback is under way on the applying thread: this returns at once.
    offers->unsubscribeUpdate(ZelTableUpdateType::Update, listener.get());
    listener->unsubscribed.set_value();
    applying.join();
    offers->update(offer("1", "EUR/USD", 1.4, 1.4002, 0.0001).get());
    EXPECT_EQ(listener->calls.load(), 1);
}

} // namespace
} // namespace zel
