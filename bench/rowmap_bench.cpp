// Lookups in a live table of 10,000 rows while one writer thread keeps replacing
// rows: the row map against a standard hash map behind a reader-writer lock, in the
// same run; and BM_PinUnpin, the fixed cost of the reclamation on every read. Items are lookups (see lookups() for the two kinds); bytes_per_row is what the container itself allocates
// per stored row (keys and cells or nodes, not the rows); writer_updates_per_second
// is the writer's pace meanwhile.
//
// The writer of BM_Lookup and BM_FindRef replaces rows at a steady 100,000 per
// second, as a busy price stream would, for both maps alike: the readers of both
// then work under the same write load. A writer at full speed measures something
// else on a machine with fewer cores than threads: the row map's writer runs free
// and takes CPU from its readers, while the locked map's writer mostly waits for
// the lock that its readers hold. The *WriterAtFullSpeed benchmarks show that case.

#include <benchmark/benchmark.h>

#include <malloc.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <shared_mutex>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

#include "bench/plain_names_reporter.h"
#include "core/base/ref_ptr.h"
#include "core/tables/concurrent_hash_map.h"
#include "core/tables/epoch.h"
#include "vorntool/add_ref.h"

namespace {

constexpr uint32_t kRows = 10000;

class BenchRow : public CThreadSafeAddRefImpl {
public:
    explicit BenchRow(uint64_t seq) : seq(seq) {}
    const uint64_t seq;
    const double prices[4] = {1.1, 1.2, 1.3, 1.0}; // a row about the size of an offer's hot fields

private:
    ~BenchRow() override = default;
};

using RowRef = zel::RefPtr<BenchRow>;

const std::vector<std::string>& keys()
{
    static const std::vector<std::string> k = [] {
        std::vector<std::string> v;
        for (uint32_t i = 0; i < kRows; ++i)
            v.push_back("OFFER" + std::to_string(100000 + i));
        return v;
    }();
    return k;
}

size_t heapInUse()
{
    const struct mallinfo2 mi = ::mallinfo2();
    return mi.uordblks + mi.hblkhd;
}

struct RowMap {
    rl::concurrent_hash_map<BenchRow> map;
    bool read(const std::string& k, double& bid) const
    {
        return map.visit(k.c_str(), [&bid](BenchRow* r) { bid = r->prices[0]; });
    }
    RowRef find(const std::string& k) const { return map.find(k.c_str()); }
    void update(const std::string& k, BenchRow* r) { map.update(k.c_str(), r); }
    void insert(const std::string& k, BenchRow* r) { map.insert(k.c_str(), r); }
};

struct LockedMap {
    mutable std::shared_mutex mutex;
    std::unordered_map<std::string, RowRef> rows;
    bool read(const std::string& k, double& bid) const
    {
        std::shared_lock<std::shared_mutex> lock(mutex);
        auto it = rows.find(k);
        if (it == rows.end())
            return false;
        bid = it->second->prices[0];
        return true;
    }
    RowRef find(const std::string& k) const
    {
        std::shared_lock<std::shared_mutex> lock(mutex);
        auto it = rows.find(k);
        return it == rows.end() ? RowRef() : it->second;
    }
    void update(const std::string& k, BenchRow* r)
    {
        RowRef old;
        std::unique_lock<std::shared_mutex> lock(mutex);
        auto it = rows.find(k);
        if (it != rows.end()) {
            old = std::move(it->second); // released after the lock, as the row map does
            it->second = RowRef(r);
        }
    }
    void insert(const std::string& k, BenchRow* r) { rows.emplace(k, RowRef(r)); }
};

// The table and its writer, made by the first benchmark thread before the timed loop.
template <class Map>
struct Rig {
    std::unique_ptr<Map> map;
    std::thread writer;
    std::atomic<bool> stop{false};
    double bytesPerRow = 0;
    double updatesPerSecond = 0;

    // Updates per second; 0 runs the writer as fast as it can.
    void start(uint64_t pace)
    {
        std::vector<RowRef> rows;
        for (uint32_t i = 0; i < kRows; ++i)
            rows.push_back(zel::adoptRef(new BenchRow(0)));
        const size_t before = heapInUse();
        map = std::make_unique<Map>();
        for (uint32_t i = 0; i < kRows; ++i)
            map->insert(keys()[i], rows[i].get());
        rl::epoch::synchronize(); // cell tables left by growths
        bytesPerRow = static_cast<double>(heapInUse() - before) / kRows;
        stop = false;
        writer = std::thread([this, pace] {
            const auto begin = std::chrono::steady_clock::now();
            uint64_t x = 88172645463325252ull;
            uint64_t n = 0;
            // A paced writer does its share of each millisecond in one burst, then sleeps.
            const uint64_t burst = pace == 0 ? 1 : std::max<uint64_t>(1, pace / 1000);
            auto tick = begin;
            while (!stop.load(std::memory_order_relaxed)) {
                for (uint64_t i = 0; i < burst; ++i) {
                    x ^= x << 13;
                    x ^= x >> 7;
                    x ^= x << 17;
                    RowRef row = zel::adoptRef(new BenchRow(++n));
                    map->update(keys()[x % kRows], row.get());
                }
                if (pace != 0) {
                    tick += std::chrono::milliseconds(1);
                    std::this_thread::sleep_until(tick);
                }
            }
            const std::chrono::duration<double> took = std::chrono::steady_clock::now() - begin;
            updatesPerSecond = static_cast<double>(n) / took.count();
        });
    }

    void finish()
    {
        stop = true;
        writer.join();
        map.reset();
        rl::epoch::synchronize();
    }
};

template <class Map>
Rig<Map>& rig()
{
    static Rig<Map> r;
    return r;
}

// Lookup: find the row and read its bid, as a price tick does. FindRef: find the row
// and take a reference for the caller, as findRow does.
enum class Access { Read, Reference };

constexpr uint64_t kWriterPace = 100000;

template <class Map, Access access, uint64_t pace = kWriterPace>
void lookups(benchmark::State& state)
{
    Rig<Map>& r = rig<Map>();
    if (state.thread_index() == 0)
        r.start(pace);
    uint64_t x = 0x9E3779B97F4A7C15ull * (state.thread_index() + 1);
    uint64_t misses = 0;
    for (auto _ : state) {
        x ^= x << 13;
        x ^= x >> 7;
        x ^= x << 17;
        const std::string& k = keys()[x % kRows];
        if (access == Access::Read) {
            double bid = 0;
            if (!r.map->read(k, bid))
                ++misses;
            benchmark::DoNotOptimize(bid);
        } else {
            RowRef row = r.map->find(k);
            if (!row)
                ++misses;
            benchmark::DoNotOptimize(row.get());
        }
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()));
    if (misses)
        state.SkipWithError("a stored row was not found");
    if (state.thread_index() == 0) {
        r.finish();
        state.counters["bytes_per_row"] = r.bytesPerRow;
        // A lock that favours readers can starve the writer: show how far it got.
        state.counters["writer_updates_per_second"] = r.updatesPerSecond;
    }
}

void BM_Lookup_concurrent_hash_map(benchmark::State& state)
{
    lookups<RowMap, Access::Read>(state);
}
void BM_Lookup_unordered_map_shared_mutex(benchmark::State& state)
{
    lookups<LockedMap, Access::Read>(state);
}
void BM_FindRef_concurrent_hash_map(benchmark::State& state)
{
    lookups<RowMap, Access::Reference>(state);
}
void BM_FindRef_unordered_map_shared_mutex(benchmark::State& state)
{
    lookups<LockedMap, Access::Reference>(state);
}

void BM_LookupWriterAtFullSpeed_concurrent_hash_map(benchmark::State& state)
{
    lookups<RowMap, Access::Read, 0>(state);
}
void BM_LookupWriterAtFullSpeed_unordered_map_shared_mutex(benchmark::State& state)
{
    lookups<LockedMap, Access::Read, 0>(state);
}

// The fixed cost of every lock-free read: entering and leaving a pin, nothing else.
void BM_PinUnpin(benchmark::State& state)
{
    for (auto _ : state) {
        rl::epoch::guard pin;
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()));
}

BENCHMARK(BM_PinUnpin);
BENCHMARK(BM_Lookup_concurrent_hash_map)->Name("BM_Lookup/concurrent_hash_map")->Threads(1)->Threads(2)->UseRealTime();
BENCHMARK(BM_Lookup_unordered_map_shared_mutex)
    ->Name("BM_Lookup/unordered_map_shared_mutex")
    ->Threads(1)
    ->Threads(2)
    ->UseRealTime();
BENCHMARK(BM_FindRef_concurrent_hash_map)->Name("BM_FindRef/concurrent_hash_map")->Threads(1)->Threads(2)->UseRealTime();
BENCHMARK(BM_FindRef_unordered_map_shared_mutex)
    ->Name("BM_FindRef/unordered_map_shared_mutex")
    ->Threads(1)
    ->Threads(2)
    ->UseRealTime();
BENCHMARK(BM_LookupWriterAtFullSpeed_concurrent_hash_map)
    ->Name("BM_LookupWriterAtFullSpeed/concurrent_hash_map")
    ->Threads(1)
    ->Threads(2)
    ->UseRealTime();
BENCHMARK(BM_LookupWriterAtFullSpeed_unordered_map_shared_mutex)
    ->Name("BM_LookupWriterAtFullSpeed/unordered_map_shared_mutex")
    ->Threads(1)
    ->Threads(2)
    ->UseRealTime();

} // namespace

int main(int argc, char** argv)
{
    const auto display = bench::displayReporter(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks(display.get());
    benchmark::Shutdown();
    return 0;
}
