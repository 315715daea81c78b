// The live tables: one price tick through the calculation cascade to every listener
// (against the same formulas written the plain way, one thread and std::unordered_map),
// and loading N trades and N orders from table answers into the live tables (against
// parsing the same answers into readers). The memory of a live trade row is a counter.

#include <benchmark/benchmark.h>

#include <algorithm>
#include <malloc.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <new>
#include <functional>
#include <string>
#include <unordered_map>
#include <vector>

#include "core/responses/response.h"
#include "core/responses/response_reader_factory.h"
#include "core/tables/tables_manager.h"

// Heap allocations of this thread, counted by the replaced operator new below, so
// that a tick reports what it allocates. The replacement pairs malloc with free,
// which the compiler cannot see through once it inlines them.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
#endif
thread_local long t_allocations = 0;

void* operator new(std::size_t size)
{
    ++t_allocations;
    if (void* p = std::malloc(size != 0 ? size : 1))
        return p;
    throw std::bad_alloc();
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }

namespace {

using namespace zel;

constexpr int kOffers = 51;       // offer 1 is ticked; the others hold the rest
constexpr int kTicked = 20;       // open trades of the ticked offer
constexpr int kAccounts = 10;

std::string offerID(int i) { return std::to_string(i + 1); }
std::string symbolOf(int i) { return i == 0 ? "EUR/USD" : "S" + std::to_string(i) + "/USD"; }

void addInstruments(TablesManager& manager)
{
    for (int i = 0; i < kOffers; ++i) {
        auto instrument = std::make_unique<Instrument>();
        instrument->offerID = offerID(i);
        instrument->symbol = symbolOf(i);
        instrument->instrumentType = 1;
        instrument->pointSize = 0.0001;
        instrument->baseUnitSize = 1000;
        instrument->contractMultiplier = 1;
        manager.instruments()->add(std::move(instrument));
    }
}

RefPtr<OfferRow> makeOffer(int i, double bid)
{
    auto r = std::make_unique<Offer>();
    r->OfferID = offerID(i);
    r->Instrument = symbolOf(i);
    r->Bid = bid;
    r->Ask = bid + 0.0002;
    r->PointSize = 0.0001;
    r->InstrumentType = 1;
    r->ContractMultiplier = 1;
    return adoptRef(new OfferRow(std::move(r), false));
}

// The offer of trade k: the first kTicked on the ticked offer, the rest spread.
int offerOfTrade(int k) { return k < kTicked ? 0 : 1 + k % (kOffers - 1); }

class Counter : public TThreadSafeAddRefImpl<IZelTableListener> {
public:
    void onAdded(const char*, IZelRow*) override { ++calls; }
    void onChanged(const char*, IZelRow*) override { ++calls; }
    void onDeleted(const char*, IZelRow*) override { ++calls; }
    void onStatusChanged(ZelTableStatus) override {}
    void onEachRow(const char*, IZelRow*) override {}
    long calls = 0;
};

void BM_TickCascade(benchmark::State& state)
{
    const int trades = static_cast<int>(state.range(0));
    RefPtr<TablesManager> manager = adoptRef(new TablesManager());
    manager->setAccountCurrency("USD");
    manager->setBaseUnitSize(1000);
    addInstruments(*manager);
    manager->setTableManagerMode(ZelTableManagerMode::TableManagerOnly);
    RefPtr<OffersTable> offers = manager->getOffers();
    for (int i = 0; i < kOffers; ++i)
        offers->add(makeOffer(i, 1.2).get());
    RefPtr<AccountsTable> accounts = manager->getAccounts();
    for (int a = 0; a < kAccounts; ++a) {
        auto r = std::make_unique<Account>();
        r->AccountID = "A" + std::to_string(a);
        r->Balance = 100000;
        accounts->add(adoptRef(new AccountRow(std::move(r), false)).get());
    }
    RefPtr<TradesTable> table = manager->getTrades();
    for (int k = 0; k < trades; ++k) {
        auto r = std::make_unique<Trade>();
        r->TradeID = "T" + std::to_string(k);
        r->AccountID = "A" + std::to_string(k % kAccounts);
        r->OfferID = offerID(offerOfTrade(k));
        r->BuySell = k % 2 ? "B" : "S";
        r->Amount = 10000;
        r->OpenRate = 1.2;
        table->add(adoptRef(new TradeRow(std::move(r), false)).get());
    }
    RefPtr<Counter> counter = adoptRef(new Counter());
    RefPtr<SummaryTable> summary = manager->getSummary();
    IZelTable* heard[] = {offers.get(), accounts.get(), table.get(), summary.get()};
    for (IZelTable* t : heard)
        t->subscribeUpdate(ZelTableUpdateType::Update, counter.get());
    long ticks = 0;
    const long allocationsBefore = t_allocations;
    for (auto _ : state) {
        // The row a pushed price update is parsed into, then applied.
        offers->update(makeOffer(0, (ticks++ % 2) ? 1.2010 : 1.1990).get());
    }
    state.counters["callbacks_per_tick"] = static_cast<double>(counter->calls) / static_cast<double>(ticks);
    state.counters["allocations_per_tick"] =
        static_cast<double>(t_allocations - allocationsBefore) / static_cast<double>(ticks);
    for (IZelTable* t : heard)
        t->unsubscribeUpdate(ZelTableUpdateType::Update, counter.get());
}
BENCHMARK(BM_TickCascade)->ArgName("trades")->Arg(1000)->Arg(100000)->Unit(benchmark::kMicrosecond);

// The same formulas over the same rows, written as a user would by hand: one
// thread, std::unordered_map by ID, an index of trades by offer, one std::function
// callback per changed row.
struct PlainOffer {
    std::string id, symbol;
    double bid = 0, ask = 0, pointSize = 0, pipCost = 0, unitsPerPipCost = 0;
    std::vector<struct PlainTrade*> trades;
};
struct PlainAccount {
    std::string id;
    double balance = 0, usedMargin = 0, m2m = 0, nonTrade = 0, grossPL = 0, equity = 0, usable = 0, dayPL = 0;
};
struct PlainSummary {
    double buyNetPL = 0, sellNetPL = 0, grossPL = 0, netPL = 0, buyClose = 0, sellClose = 0, commission = 0,
           rollover = 0;
};
struct PlainTrade {
    std::string id, account, offer;
    bool buy = true;
    int amount = 0;
    double open = 0, close = 0, pl = 0, grossPL = 0;
};

void BM_TickCascadePlain(benchmark::State& state, int trades)
{
    std::unordered_map<std::string, PlainOffer> offers;
    std::unordered_map<std::string, PlainAccount> accounts;
    std::unordered_map<std::string, PlainTrade> tradeRows;
    std::unordered_map<std::string, PlainSummary> summaries;
    for (int i = 0; i < kOffers; ++i)
        offers[offerID(i)] = PlainOffer{offerID(i), symbolOf(i), 1.2, 1.2002, 0.0001, 0, 0, {}};
    for (int a = 0; a < kAccounts; ++a)
        accounts["A" + std::to_string(a)] = PlainAccount{"A" + std::to_string(a), 100000};
    tradeRows.reserve(static_cast<size_t>(trades));
    for (int k = 0; k < trades; ++k) {
        PlainTrade& t = tradeRows["T" + std::to_string(k)];
        t = PlainTrade{"T" + std::to_string(k), "A" + std::to_string(k % kAccounts), offerID(offerOfTrade(k)),
                       k % 2 == 1, 10000, 1.2};
        offers[t.offer].trades.push_back(&t);
    }
    long calls = 0;
    std::function<void(const std::string&)> tradeChanged = [&](const std::string&) { ++calls; };
    std::function<void(const std::string&)> accountChanged = [&](const std::string&) { ++calls; };
    std::function<void(const std::string&)> summaryChanged = [&](const std::string&) { ++calls; };
    std::function<void(const std::string&)> offerChanged = [&](const std::string&) { ++calls; };
    const std::string account = "USD";
    std::vector<PlainAccount*> touched;
    long ticks = 0;
    const long allocationsBefore = t_allocations;
    for (auto _ : state) {
        const double bid = (ticks++ % 2) ? 1.2010 : 1.1990;
        PlainOffer& o = offers["1"];
        o.bid = bid;
        o.ask = bid + 0.0002;
        // Pip cost: EUR/USD in a USD account is direct.
        const double units = 1000;
        const std::string quote = o.symbol.substr(o.symbol.find('/') + 1);
        o.pipCost = quote == account ? o.pointSize * units : o.pointSize * units / (0.5 * (o.bid + o.ask));
        o.unitsPerPipCost = units / o.pipCost;
        PlainSummary& s = summaries[o.id];
        for (PlainTrade* t : o.trades) {
            const double before = t->grossPL;
            t->close = t->buy ? o.bid : o.ask;
            t->pl = (t->buy ? t->close - t->open : t->open - t->close) / o.pointSize;
            t->grossPL = t->pl * t->amount / o.unitsPerPipCost;
            PlainAccount& a = accounts[t->account];
            a.grossPL += t->grossPL - before;
            a.equity = a.balance + a.grossPL;
            a.usable = a.equity - a.usedMargin;
            a.dayPL = a.equity - a.m2m - a.nonTrade;
            if (std::find(touched.begin(), touched.end(), &a) == touched.end())
                touched.push_back(&a);
            (t->buy ? s.buyNetPL : s.sellNetPL) += t->grossPL - before;
            (t->buy ? s.sellClose : s.buyClose) = t->close;
            tradeChanged(t->id);
        }
        // Each changed row reported once, as the live tables do.
        for (PlainAccount* a : touched)
            accountChanged(a->id);
        touched.clear();
        s.grossPL = s.buyNetPL + s.sellNetPL;
        s.netPL = s.grossPL - s.commission + s.rollover;
        summaryChanged(o.id);
        offerChanged(o.id);
        benchmark::DoNotOptimize(s);
    }
    state.counters["callbacks_per_tick"] = static_cast<double>(calls) / static_cast<double>(ticks);
    state.counters["allocations_per_tick"] =
        static_cast<double>(t_allocations - allocationsBefore) / static_cast<double>(ticks);
}

// Table answers as the dealer writes them.
std::string tradesAnswer(int lines)
{
    std::string text = "0\n";
    char line[256];
    for (int i = 0; i < lines; ++i) {
        std::snprintf(line, sizeof line, "T%d;;;;A%d;acct-%d;%d;0.5;1.5;01052026103005;1.2%03d;Q%d;%s;10000;;;;;;;32;O%d;R%d;;;;;;;;;",
                      i, i % kAccounts, i % kAccounts, 1 + offerOfTrade(i), i % 1000, i, i % 2 ? "B" : "S", i, i);
        text += line;
        text += '\n';
    }
    return text;
}
std::string ordersAnswer(int lines)
{
    std::string text = "0\n";
    char line[512];
    for (int i = 0; i < lines; ++i) {
        std::snprintf(line, sizeof line,
                      "O%d;;R%d;txt;01052026103005;;0;1.18;;T%d;A%d;acct-%d;%d;S;10000;O;;;;;;;;;;0;32;0;0;GTC;;;"
                      "S;W;;;;;10000;0;;1.18;;Y;;;0;0;;0;;;N;0;;01062026000000;20260105;;",
                      i, i, i, i % kAccounts, i % kAccounts, 1 + offerOfTrade(i));
        text += line;
        text += '\n';
    }
    return text;
}

RefPtr<IZelResponse> answer(ZelResponseType type, const std::string& text)
{
    return adoptRef<IZelResponse>(new Response(type, "R1", text.c_str()));
}

void BM_LoadTables(benchmark::State& state)
{
    const int rows = static_cast<int>(state.range(0));
    const RefPtr<IZelResponse> trades = answer(ZelResponseType::TradesTable, tradesAnswer(rows));
    const RefPtr<IZelResponse> orders = answer(ZelResponseType::OrdersTable, ordersAnswer(rows));
    double bytesPerTrade = 0;
    for (auto _ : state) {
        state.PauseTiming();
        {
            RefPtr<TablesManager> manager = adoptRef(new TablesManager());
            manager->setAccountCurrency("USD");
            manager->setBaseUnitSize(1000);
            addInstruments(*manager);
            manager->setTableManagerMode(ZelTableManagerMode::TableManagerOnly);
            RefPtr<OffersTable> offers = manager->getOffers();
            for (int i = 0; i < kOffers; ++i)
                offers->add(makeOffer(i, 1.2).get());
            RefPtr<DasResponseReaderFactory> das = adoptRef(new DasResponseReaderFactory());
            das->setTableManager(manager.get());
            const size_t before = mallinfo2().uordblks;
            state.ResumeTiming();
            das->createTradesTableManagerReader(trades.get());
            state.PauseTiming();
            bytesPerTrade = static_cast<double>(mallinfo2().uordblks - before) / rows;
            state.ResumeTiming();
            das->createOrdersTableManagerReader(orders.get());
            state.PauseTiming();
            benchmark::DoNotOptimize(manager->getTrades()->size());
            manager->setTableManagerMode(ZelTableManagerMode::NoTableManager);
        }
        state.ResumeTiming();
    }
    state.counters["bytes_per_trade_row"] = bytesPerTrade;
    state.counters["ns_per_row"] = benchmark::Counter(static_cast<double>(rows) * 2,
                                                      benchmark::Counter::kIsIterationInvariantRate |
                                                          benchmark::Counter::kInvert);
}
BENCHMARK(BM_LoadTables)->ArgName("rows")->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);

// Parsing the same answers into readers, the baseline of the load.
void BM_ParseTables(benchmark::State& state)
{
    const int rows = static_cast<int>(state.range(0));
    const RefPtr<IZelResponse> trades = answer(ZelResponseType::TradesTable, tradesAnswer(rows));
    const RefPtr<IZelResponse> orders = answer(ZelResponseType::OrdersTable, ordersAnswer(rows));
    RefPtr<TablesManager> manager = adoptRef(new TablesManager());
    addInstruments(*manager);
    RefPtr<DasResponseReaderFactory> das = adoptRef(new DasResponseReaderFactory());
    das->setTableManager(manager.get());
    for (auto _ : state) {
        RefPtr<IZelTradesTableResponseReader> t(das->createTradesTableReader(trades.get()),
                                                RefPtr<IZelTradesTableResponseReader>::adopt);
        RefPtr<IZelOrdersTableResponseReader> o(das->createOrdersTableReader(orders.get()),
                                                RefPtr<IZelOrdersTableResponseReader>::adopt);
        benchmark::DoNotOptimize(t->size() + o->size());
    }
    state.counters["ns_per_row"] = benchmark::Counter(static_cast<double>(rows) * 2,
                                                      benchmark::Counter::kIsIterationInvariantRate |
                                                          benchmark::Counter::kInvert);
}
BENCHMARK(BM_ParseTables)->ArgName("rows")->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);

const bool kPlainRegistered = [] {
    benchmark::RegisterBenchmark("BM_TickCascade/plain_model", [](benchmark::State& s) { BM_TickCascadePlain(s, 1000); })
        ->Unit(benchmark::kMicrosecond);
    return true;
}();

} // namespace

BENCHMARK_MAIN();
