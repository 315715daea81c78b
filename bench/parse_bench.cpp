// Reading DAS result sets: an orders answer of 100,000 lines into a reader (bytes
// per second), and pushed updates of 50 offer lines into a tables-updates reader
// (lines per second).

#include <benchmark/benchmark.h>

#include <cstdio>
#include <string>

#include "core/responses/das_message_processor.h"
#include "core/responses/table_parsers.h"

namespace {

using namespace zel;

// An orders line as the dealer writes one: 59 fields, realistic widths.
std::string ordersAnswer(int lines)
{
    std::string text = "0\n";
    char line[512];
    for (int i = 0; i < lines; ++i) {
        std::snprintf(line, sizeof line,
                      "%d;;R-%d;txt;01052026103005;;0;1.23456;;T%d;A%d;acct-%d;1;B;100000;O;;;;;;;;;;0;32;0;0;GTC;;;"
                      "SE;W;;;;;100000;0;;1.23450;;Y;;C%d;0;0;;0;;;N;0;;01062026000000;20260105;;[P,1,2]",
                      1000000 + i, i, i, i % 10, i % 10, i);
        text += line;
        text += '\n';
    }
    return text;
}

void BM_ParseOrders(benchmark::State& state)
{
    const std::string text = ordersAnswer(100000);
    for (auto _ : state) {
        RefPtr<OrdersTableResponseReader> reader = adoptRef(new OrdersTableResponseReader());
        OrdersParser parser(reader.get(), nullptr, 0);
        CResultSetTokenizer(text.c_str()).tokenize(&parser);
        benchmark::DoNotOptimize(reader->size());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(text.size()));
}
BENCHMARK(BM_ParseOrders)->Unit(benchmark::kMillisecond);

class Instruments : public TThreadSafeAddRefImpl<IInstrumentsLookup> {
public:
    Instruments()
    {
        for (int i = 0; i < 50; ++i) {
            m_instruments[i].offerID = std::to_string(i + 1);
            m_instruments[i].symbol = "SYM" + std::to_string(i + 1);
        }
    }
    std::shared_ptr<const Instrument> find(const char* id) override
    {
        const int n = std::atoi(id) - 1;
        return borrowInstrument(n >= 0 && n < 50 ? &m_instruments[n] : nullptr);
    }

private:
    Instrument m_instruments[50];
};

void BM_ParseOfferUpdates(benchmark::State& state)
{
    std::string text = "0;01052026103005\n";
    char line[256];
    for (int i = 0; i < 50; ++i) {
        std::snprintf(line, sizeof line, "OFFER;U;%d;Q%d;;;01052026103005;1.%05d;1.%05d;;;;;;;T;T;1.3;1.1;%d\n",
                      i + 1, i, 20000 + i, 20010 + i, i);
        text += line;
    }
    RefPtr<Instruments> instruments = adoptRef(new Instruments());
    OfferRowFactory factory(instruments.get());
    for (auto _ : state) {
        RefPtr<TablesUpdatesReader> reader = adoptRef(new TablesUpdatesReader());
        DasMessageProcessor processor(reader.get(), factory, instruments.get(), nullptr);
        CResultSetTokenizer(text.c_str()).tokenize(&processor);
        benchmark::DoNotOptimize(reader->size());
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * 50);
}
BENCHMARK(BM_ParseOfferUpdates);

} // namespace

BENCHMARK_MAIN();
