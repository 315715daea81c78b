#include "core/tables/event.h"

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "core/base/ref_ptr.h"
#include "vorntool/add_ref.h"

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

// Enters its callback, tells so, and stays there until let go.
class BlockingListener : public CThreadSafeAddRefImpl {
public:
    BlockingListener(Latch* inside, Latch* leave, Log* log) : m_inside(inside), m_leave(leave), m_log(log) {}
    void onValue(int v)
    {
        m_inside->open();
        m_leave->wait();
        m_log->push_back("left:" + std::to_string(v));
    }

private:
    ~BlockingListener() override { m_log->push_back("destroyed"); }
    Latch* m_inside;
    Latch* m_leave;
    Log* m_log;
};

// An application that unsubscribes while holding a lock its listener takes must not
// deadlock: disconnect() returns while the call is still running on the firing
// thread, no later call starts, and a reference-counted listener that the
// application releases at once lives until the call in flight has left.
TEST(Event, DisconnectDoesNotWaitForACallInFlightOnAnotherThread)
{
    for (const bool member : {true, false}) {
        SCOPED_TRACE(member ? "reference-counted member" : "callable");
        Log log; // written by the firing thread until it is joined
        Latch inside, leave;
        Cpp::Event<int> event;
        Cpp::ConnectionScope scope;
        zel::RefPtr<BlockingListener> listener = zel::adoptRef(new BlockingListener(&inside, &leave, &log));
        Cpp::ConnectionRef conn = member ? event.connect(scope, listener.get(), &BlockingListener::onValue)
                                         : event.connect(scope, [held = listener](int v) { held->onValue(v); });
        std::thread firing([&] { event.fire(1); });
        inside.wait();
        conn->disconnect();
        EXPECT_FALSE(conn->connected());
        EXPECT_EQ(event.size(), 0u);
        EXPECT_EQ(scope.size(), 0u);
        event.fire(2); // not called any more
        listener.reset();
        conn.reset();
        leave.open();
        firing.join();
        EXPECT_EQ(log, (Log{"left:1", "destroyed"}));
    }
}

// A handler that unsubscribes itself while another thread's call of the same
// connection is in flight returns at once too.
TEST(Event, HandlerDisconnectsItselfWhileAnotherThreadCallsIt)
{
    Log log;
    Latch inside, leave;
    Cpp::Event<int> event;
    Cpp::ConnectionScope scope;
    zel::RefPtr<BlockingListener> blocking = zel::adoptRef(new BlockingListener(&inside, &leave, &log));
    Cpp::ConnectionRef self;
    int calls = 0;
    self = event.connect(scope, [&, blocking](int v) {
        if (v == 1) {
            blocking->onValue(v); // the other thread stays in here
            return;
        }
        ++calls;
        self->disconnect();
    });
    std::thread firing([&] { event.fire(1); });
    inside.wait();
    event.fire(2);
    event.fire(3);
    EXPECT_EQ(calls, 1);
    leave.open();
    firing.join();
    self.reset();
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
