// Reclamation under interleavings forced with the pin hook: a writer stopped
// between reading the epoch and publishing its pin while other threads move the
// epoch on must not get what it retires freed under a reader pinned later.

#include "core/tables/epoch.h"

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace {

// A one-way signal between two threads.
class Latch {
public:
    void open()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_open = true;
        m_cv.notify_all();
    }
    void wait()
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_cv.wait(lock, [this] { return m_open; });
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_cv;
    bool m_open = false;
};

// The hook stops only the thread that asked for it, once.
thread_local bool t_stopInPin = false;
Latch* g_atHook = nullptr;
Latch* g_leaveHook = nullptr;

void stopInPin()
{
    if (!t_stopInPin)
        return;
    t_stopInPin = false;
    g_atHook->open();
    g_leaveHook->wait();
}

struct Tracked {
    std::atomic<bool> freed{false};
};

void markFreed(void* p)
{
    static_cast<Tracked*>(p)->freed.store(true);
}

TEST(EpochConcurrency, WriterPreemptedInPinDoesNotGetItsRetiredThingFreedUnderALaterReader)
{
    ASSERT_TRUE(rl::epoch::synchronize());
    Latch atHook, leaveHook, readerPinned, retired, readerDone;
    g_atHook = &atHook;
    g_leaveHook = &leaveHook;
    rl::epoch::testing::set_pin_hook(&stopInPin);
    Tracked thing;

    // The writer reads the epoch and stops before publishing its pin.
    std::thread writer([&] {
        t_stopInPin = true;
        {
            rl::epoch::guard pin;
            // ... unlinks the thing here, then:
            rl::epoch::retire(&thing, &markFreed);
        }
        retired.open();
    });
    atHook.wait();
    // Meanwhile the epoch moves on twice; nobody is pinned.
    ASSERT_TRUE(rl::epoch::testing::try_advance());
    ASSERT_TRUE(rl::epoch::testing::try_advance());

    // A reader pins the new epoch and reaches the thing before the writer unlinks it.
    std::thread reader([&] {
        rl::epoch::guard pin;
        readerPinned.open();
        readerDone.wait();
        EXPECT_FALSE(thing.freed.load()) << "freed while a reader that could reach it was pinned";
    });
    readerPinned.wait();
    leaveHook.open();
    retired.wait();
    writer.join(); // its list goes to the orphans

    // The epoch moves as far as the pinned reader allows, and everything old enough is destroyed.
    for (int i = 0; i < 8; ++i) {
        rl::epoch::testing::try_advance();
        rl::epoch::testing::collect_now();
    }
    EXPECT_FALSE(thing.freed.load());
    readerDone.open();
    reader.join();

    rl::epoch::testing::set_pin_hook(nullptr);
    EXPECT_TRUE(rl::epoch::synchronize());
    EXPECT_TRUE(thing.freed.load());
}

} // namespace
