#include "core/tables/columns.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

namespace zel {
namespace {

// The first calls of getInst may race: every thread sees the one factory, fully built.
TEST(ColumnsFactoryConcurrency, FirstUseFromManyThreadsBuildsOneFactory)
{
    constexpr int kThreads = 8;
    std::atomic<bool> go{false};
    std::vector<ColumnsFactory*> seen(kThreads, nullptr);
    std::vector<int> sizes(kThreads, 0);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            while (!go.load(std::memory_order_acquire))
                std::this_thread::yield();
            seen[t] = ColumnsFactory::getInst();
            sizes[t] = seen[t]->peekColumnsForTable(ZelTable::Orders)->size();
        });
    }
    go.store(true, std::memory_order_release);
    for (std::thread& th : threads)
        th.join();
    for (int t = 0; t < kThreads; ++t) {
        EXPECT_EQ(seen[t], seen[0]);
        EXPECT_EQ(sizes[t], 37);
    }
}

} // namespace
} // namespace zel
