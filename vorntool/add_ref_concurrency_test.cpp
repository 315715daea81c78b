#include "vorntool/add_ref.h"
#include "vorntool/aobject.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

namespace {

std::atomic<int> g_destroyed{0};

class Shared : public CThreadSafeAddRefImpl {
protected:
    ~Shared() override { g_destroyed.fetch_add(1); }
};

class SharedMessage : public vorntool::AObject {
protected:
    ~SharedMessage() override { g_destroyed.fetch_add(1); }
};

// Threads take and drop references concurrently; the object must survive until
// the very last release and be destroyed exactly once.
template <class Obj>
void hammer(Obj* obj)
{
    constexpr int kThreads = 4;
    constexpr int kRounds = 20000;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        obj->addRef();  // each thread owns one reference and gives it back at the end
        threads.emplace_back([obj] {
            for (int i = 0; i < kRounds; ++i) {
                obj->addRef();
                obj->release();
            }
            obj->release();
        });
    }
    for (auto& th : threads)
        th.join();
}

TEST(AddRefConcurrency, LastReleaseOnAnyThreadDestroysOnce)
{
    g_destroyed = 0;
    auto* obj = new Shared;  // count 1: ours
    hammer(obj);
    EXPECT_EQ(g_destroyed.load(), 0);
    EXPECT_EQ(obj->release(), 0);
    EXPECT_EQ(g_destroyed.load(), 1);

    g_destroyed = 0;
    auto* msg = new SharedMessage;
    msg->addRef();  // the creator's reference
    hammer(msg);
    EXPECT_EQ(g_destroyed.load(), 0);
    EXPECT_EQ(msg->release(), 0);
    EXPECT_EQ(g_destroyed.load(), 1);
}

} // namespace
