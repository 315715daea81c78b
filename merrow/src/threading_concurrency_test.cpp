#include "merrow/threading.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <stdexcept>
#include <thread>

namespace merrow {
namespace threading {
namespace {

TEST(MutexTest, OwnerMayReenterAndOthersWaitForTheLastUnlock)
{
    Mutex m;
    m.lock();
    {
        MutexLock again(m);  // re-entered by its owner
        bool other = true;
        std::thread([&] { other = m.try_lock(); }).join();
        EXPECT_FALSE(other);
    }
    bool stillHeld = true;
    std::thread([&] { stillHeld = !m.try_lock(); }).join();
    EXPECT_TRUE(stillHeld) << "one unlock of two leaves it held";
    m.unlock();
    bool got = false;
    std::thread([&] {
        got = m.try_lock();
        if (got)
            m.unlock();
    }).join();
    EXPECT_TRUE(got);
}

// Runs until released, recording its argument and thread.
class Gate final : public AThread {
public:
    ~Gate() override
    {
        open();
        join();
    }
    void open() { m_open.store(true); }

    std::atomic<bool> m_open{false};
    std::atomic<void*> m_argument{nullptr};
    std::atomic<int> m_runs{0};
    std::thread::id m_thread;
    bool m_selfJoin = true;
    bool m_throw = false;

protected:
    void run(void* argument) override
    {
        m_argument = argument;
        m_thread = std::this_thread::get_id();
        m_selfJoin = join();
        while (!m_open.load())
            std::this_thread::yield();
        ++m_runs;
        if (m_throw)
            throw std::runtime_error("from run");
    }
};

TEST(AThreadTest, RunsOnItsOwnThreadOnceAtATime)
{
    Gate g;
    int arg = 0;
    ASSERT_TRUE(g.start(&arg));
    EXPECT_TRUE(g.isRunning());
    EXPECT_FALSE(g.start(nullptr)) << "already running";
    g.open();
    EXPECT_TRUE(g.join());
    EXPECT_FALSE(g.isRunning());
    EXPECT_EQ(g.m_argument.load(), &arg);
    EXPECT_NE(g.m_thread, std::this_thread::get_id());
    EXPECT_FALSE(g.m_selfJoin) << "join from its own thread refuses instead of deadlocking";
    EXPECT_TRUE(g.join()) << "nothing left to join";

    ASSERT_TRUE(g.start(nullptr)) << "runs again after it ended";
    EXPECT_TRUE(g.join());
    EXPECT_EQ(g.m_runs.load(), 2);
}

TEST(AThreadTest, ExceptionFromRunEndsOnlyThatThread)
{
    Gate g;
    g.m_throw = true;
    g.open();
    ASSERT_TRUE(g.start(nullptr));
    EXPECT_TRUE(g.join());
    EXPECT_FALSE(g.isRunning());
    EXPECT_EQ(g.m_runs.load(), 1);
}

TEST(AThreadTest, EveryJoinerWaitsForTheEnd)
{
    Gate g;
    ASSERT_TRUE(g.start(nullptr));
    std::atomic<int> returned{0};
    std::thread a([&] {
        EXPECT_TRUE(g.join());
        EXPECT_FALSE(g.isRunning());
        ++returned;
    });
    std::thread b([&] {
        EXPECT_TRUE(g.join());
        EXPECT_FALSE(g.isRunning());
        ++returned;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_EQ(returned.load(), 0);
    g.open();
    a.join();
    b.join();
    EXPECT_EQ(returned.load(), 2);
}

} // namespace
} // namespace threading
} // namespace merrow
