#include "core/tables/event.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace {

using Log = std::vector<std::string>;

class Listener {
public:
    Listener(std::string name, Log* log) : m_name(std::move(name)), m_log(log) {}
    virtual ~Listener() = default;
    virtual void onValue(int v) { m_log->push_back(m_name + ":" + std::to_string(v)); }
    void onOther(int v) { m_log->push_back(m_name + " other:" + std::to_string(v)); }

protected:
    std::string m_name;
    Log* m_log;
};

class Derived : public Listener {
public:
    using Listener::Listener;
    void onValue(int v) override { m_log->push_back(m_name + " derived:" + std::to_string(v)); }
};

TEST(Event, CallsConnectionsInOrderThroughVirtualMembersAndCallables)
{
    Log log;
    Cpp::Event<int> event;
    Cpp::ConnectionScope scope;
    Listener a("a", &log);
    Derived b("b", &log);
    event.connect(scope, &a, &Listener::onValue);
    event.connect(scope, static_cast<Listener*>(&b), &Listener::onValue);
    event.connect(scope, [&](int v) { log.push_back("f:" + std::to_string(v)); });
    event.fire(7);
    EXPECT_EQ(log, (Log{"a:7", "b derived:7", "f:7"}));
    EXPECT_EQ(event.size(), 3u);
    EXPECT_EQ(scope.size(), 3u);
}

TEST(Event, DisconnectsTheSameDelegateOnly)
{
    Log log;
    Cpp::Event<int> event;
    Cpp::ConnectionScope scope;
    Listener a("a", &log);
    Listener b("b", &log);
    event.connect(scope, &a, &Listener::onValue);
    event.connect(scope, &a, &Listener::onOther);
    event.connect(scope, &b, &Listener::onValue);
    EXPECT_TRUE(event.disconnect(&a, &Listener::onValue));
    EXPECT_FALSE(event.disconnect(&a, &Listener::onValue));
    event.fire(1);
    EXPECT_EQ(log, (Log{"a other:1", "b:1"}));
    EXPECT_EQ(scope.size(), 2u);
}

TEST(Event, HandlerDisconnectsItselfAndALaterConnection)
{
    Log log;
    Cpp::Event<int> event;
    Cpp::ConnectionScope scope;
    Cpp::ConnectionRef self;
    Cpp::ConnectionRef later;
    self = event.connect(scope, [&](int v) {
        log.push_back("self:" + std::to_string(v));
        self->disconnect();
        later->disconnect();
    });
    Listener a("after", &log);
    later = event.connect(scope, &a, &Listener::onValue);
    event.fire(1);
    event.fire(2);
    EXPECT_EQ(log, (Log{"self:1"}));
    EXPECT_TRUE(event.empty());
    EXPECT_EQ(scope.size(), 0u);
}

TEST(Event, ConnectionsMadeWhileFiringJoinTheNextFiring)
{
    Log log;
    Cpp::Event<int> event;
    Cpp::ConnectionScope scope;
    Listener late("late", &log);
    bool connected = false;
    event.connect(scope, [&](int v) {
        log.push_back("first:" + std::to_string(v));
        if (!connected) {
            connected = true;
            event.connect(scope, &late, &Listener::onValue);
        }
    });
    event.fire(1);
    event.fire(2);
    EXPECT_EQ(log, (Log{"first:1", "first:2", "late:2"}));
}

TEST(Event, FiringTheSameEventFromItsOwnHandlerCallsTheCurrentConnections)
{
    Log log;
    Cpp::Event<int> event;
    Cpp::ConnectionScope scope;
    Listener tail("tail", &log);
    event.connect(scope, [&](int depth) {
        log.push_back("outer:" + std::to_string(depth));
        if (depth < 2)
            event.fire(depth + 1);
    });
    event.connect(scope, &tail, &Listener::onValue);
    event.fire(0);
    EXPECT_EQ(log, (Log{"outer:0", "outer:1", "outer:2", "tail:2", "tail:1", "tail:0"}));
}

TEST(Event, DestroyingTheScopeDisconnectsEverything)
{
    Log log;
    Cpp::Event<int> first;
    Cpp::Event<int> second;
    Listener a("a", &log);
    {
        Cpp::ConnectionScope scope;
        first.connect(scope, &a, &Listener::onValue);
        second.connect(scope, &a, &Listener::onValue);
        second.connect(scope, [&](int) { log.push_back("f"); });
        EXPECT_EQ(scope.size(), 3u);
    }
    EXPECT_TRUE(first.empty());
    EXPECT_TRUE(second.empty());
    first.fire(1);
    second.fire(2);
    EXPECT_TRUE(log.empty());
}

TEST(Event, DestroyingTheEventLeavesTheScope)
{
    Log log;
    Cpp::ConnectionScope scope;
    Listener a("a", &log);
    Cpp::ConnectionRef kept;
    {
        Cpp::Event<int> event;
        kept = event.connect(scope, &a, &Listener::onValue);
        EXPECT_EQ(scope.size(), 1u);
    }
    EXPECT_EQ(scope.size(), 0u);
    EXPECT_FALSE(kept->connected());
    kept->disconnect(); // harmless once ended
}

TEST(Event, ExceptionOfAHandlerLeavesTheEventUsable)
{
    Log log;
    Cpp::Event<int> event;
    Cpp::ConnectionScope scope;
    Listener a("a", &log);
    event.connect(scope, [](int v) {
        if (v == 1)
            throw std::runtime_error("handler");
    });
    event.connect(scope, &a, &Listener::onValue);
    EXPECT_THROW(event.fire(1), std::runtime_error);
    event.fire(2);
    EXPECT_EQ(log, (Log{"a:2"}));
}

// disconnect() on another thread returns only after the call under way has left,
// so the listener may be destroyed right after it.
TEST(Event, DisconnectWaitsForACallUnderWayOnAnotherThread)
{
    Log log;
    Cpp::Event<int> event;
    Cpp::ConnectionScope scope;
    std::atomic<bool> inside{false};
    std::atomic<bool> left{false};
    auto conn = event.connect(scope, [&](int) {
        inside = true;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        left = true;
    });
    std::thread firing([&] { event.fire(1); });
    while (!inside)
        std::this_thread::yield();
    conn->disconnect();
    EXPECT_TRUE(left.load());
    firing.join();
}

TEST(ThreadData, OneRecordPerThread)
{
    auto mine = Cpp::Threading::constructThreadData();
    EXPECT_EQ(mine.get(), Cpp::Threading::constructThreadData().get());
    Cpp::Threading::ThreadData* other = nullptr;
    std::thread([&] { other = Cpp::Threading::constructThreadData().get(); }).join();
    EXPECT_NE(other, mine.get());
}

} // namespace
