// One thread fires an event without pause while another connects listeners and,
// after disconnecting each, destroys it (a plain object) or drops its reference (a
// reference-counted one) at once: a call still under way on the destroyed listener
// fails the run under AddressSanitizer, an unordered change of the connection list
// under ThreadSanitizer.

#include "core/tables/event.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <thread>
#include <vector>

#include "core/base/ref_ptr.h"
#include "vorntool/add_ref.h"

namespace {

class Counter {
public:
    void onFire(int v) { m_sum += v; }
    long sum() const { return m_sum; }

private:
    long m_sum = 0; // written by the firing thread only while connected
};

// Reference counted: disconnect does not wait for its calls in flight, which hold a
// reference of their own.
class CountedListener : public CThreadSafeAddRefImpl {
public:
    void onFire(int v) { m_sum.fetch_add(v, std::memory_order_relaxed); }

private:
    ~CountedListener() override = default;
    std::atomic<long> m_sum{0};
};

TEST(EventConcurrency, ListenersComeAndGoWhileAnotherThreadFires)
{
    Cpp::Event<int> event;
    Cpp::ConnectionScope scope;
    Counter steady;
    event.connect(scope, &steady, &Counter::onFire);

    std::atomic<bool> stop{false};
    std::atomic<long> fired{0};
    std::thread firing([&] {
        while (!stop.load(std::memory_order_acquire)) {
            event.fire(1);
            fired.fetch_add(1, std::memory_order_relaxed);
        }
    });

    for (int round = 0; round < 200; ++round) {
        std::vector<std::unique_ptr<Counter>> listeners;
        std::vector<Cpp::ConnectionRef> connections;
        for (int i = 0; i < 4; ++i) {
            listeners.push_back(std::make_unique<Counter>());
            connections.push_back(event.connect(scope, listeners.back().get(), &Counter::onFire));
        }
        std::this_thread::yield();
        for (size_t i = 0; i < listeners.size(); ++i) {
            connections[i]->disconnect();
            // Nothing calls it any more: it may go now.
            EXPECT_GE(listeners[i]->sum(), 0);
            listeners[i].reset();
        }
        for (int i = 0; i < 4; ++i) {
            zel::RefPtr<CountedListener> counted = zel::adoptRef(new CountedListener());
            Cpp::ConnectionRef c = event.connect(scope, counted.get(), &CountedListener::onFire);
            std::this_thread::yield();
            c->disconnect();
            counted.reset(); // a call in flight keeps it until it returns
        }
    }
    stop.store(true, std::memory_order_release);
    firing.join();
    EXPECT_EQ(event.size(), 1u);
    EXPECT_EQ(steady.sum(), fired.load());
    EXPECT_GT(fired.load(), 0);
}

} // namespace
