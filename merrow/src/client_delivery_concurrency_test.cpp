// The delivery queue of a session on its own small context: held messages, status
// reports passing them, the hold bound, listener exceptions and free().

#include "client_delivery.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <mutex>
#include <thread>

#include "client_test_support.h"

namespace merrow::detail {
namespace {

using namespace merrow::testing;

class DeliveryTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        for (int i = 0; i < 2; ++i)
            threads.emplace_back([this] { io.run(); });
        log = std::make_shared<Recorder>();
        messages = new MessageRecorder(log);
        statuses = new StatusRecorder(log);
    }
    void TearDown() override
    {
        delivery.reset();
        work.reset();
        for (auto& t : threads)
            t.join();
        messages->release();
        statuses->release();
    }
    std::shared_ptr<ClientDelivery> make(size_t maxHeld = 1000)
    {
        delivery = std::make_shared<ClientDelivery>(asio::make_strand(io), maxHeld);
        return delivery;
    }
    static std::unique_ptr<FieldGroup> text(const std::string& t)
    {
        auto m = std::make_unique<FieldGroup>();
        m->setValue(IFixDefs::FLDTAG_TEXT, t.c_str());
        return m;
    }

    asio::io_context io;
    std::unique_ptr<asio::executor_work_guard<asio::io_context::executor_type>> work =
        std::make_unique<asio::executor_work_guard<asio::io_context::executor_type>>(io.get_executor());
    std::vector<std::thread> threads;
    std::shared_ptr<ClientDelivery> delivery;
    std::shared_ptr<Recorder> log;
    MessageRecorder* messages = nullptr;
    StatusRecorder* statuses = nullptr;
};

TEST_F(DeliveryTest, StatusReportsPassHeldMessagesWhichWaitForTheNextListener)
{
    auto d = make();
    d->subscribe(statuses);
    d->postMessage(text("a"), 10);
    d->postStatus(2, 1, "");
    d->postMessage(text("b"), 10);
    ASSERT_TRUE(log->waitFor(statusText(2, 1)));
    ASSERT_TRUE(eventually([&] { return d->heldCount() == 2; }));
    d->subscribe(messages);
    d->subscribe(messages);  // once only
    d->postMessage(text("c"), 10);
    ASSERT_TRUE(log->waitFor("msg:c"));
    EXPECT_EQ((std::vector<std::string>{statusText(2, 1), "msg:a", "msg:b", "msg:c"}), log->events());
}

TEST_F(DeliveryTest, PassingTheHoldBoundCallsTheOverflowHandlerOnce)
{
    auto d = make(3);
    std::atomic<int> calls{0};
    std::string reason;
    d->setOverflowHandler([&](const std::string& r) {
        reason = r;
        ++calls;
    });
    for (int i = 0; i < 6; ++i)
        d->postMessage(text("m"), 10);
    ASSERT_TRUE(eventually([&] { return calls.load() == 1; }));
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(1, calls.load());
    EXPECT_EQ(3u, d->heldCount());
    EXPECT_NE(std::string::npos, reason.find("no listener")) << reason;

    // A listener that subscribes before the expiry is reported gets what was held
    // before the overflow, and nothing after it: a later message would follow a hole.
    d->subscribe(messages);
    d->subscribe(statuses);
    d->postMessage(text("late"), 10);
    d->postStatus(3, 0, "");
    ASSERT_TRUE(log->waitFor(statusText(3, 0)));
    EXPECT_EQ((std::vector<std::string>{"msg:m", "msg:m", "msg:m", statusText(3, 0)}), log->events());
}

TEST_F(DeliveryTest, AThrowingListenerDoesNotStopTheOthers)
{
    auto d = make();
    auto* thrower = new MessageRecorder(log);
    thrower->onUpdate = [](IUserSession*, IMessage*) { throw std::runtime_error("application bug"); };
    d->subscribe(thrower);
    d->subscribe(messages);
    d->postMessage(text("x"), 1);
    d->postMessage(text("y"), 1);
    ASSERT_TRUE(log->waitFor("msg:y", 2));
    EXPECT_EQ(2u, log->count("msg:x"));
    d->unsubscribe(thrower);
    thrower->release();
}

TEST_F(DeliveryTest, FreeLetsTheCallbackInProgressEndAndStartsNoOther)
{
    auto d = make();
    std::atomic<bool> inside{false}, gate{false}, callbackDone{false}, lastRan{false}, lastAfterCallback{false};
    messages->onUpdate = [&](IUserSession*, IMessage*) {
        inside = true;
        while (!gate.load())
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        callbackDone = true;
    };
    d->subscribe(messages);
    d->postMessage(text("first"), 1);
    d->postMessage(text("second"), 1);
    ASSERT_TRUE(eventually([&] { return inside.load(); }));
    d->free([&] {
        lastAfterCallback = callbackDone.load();
        lastRan = true;
    });
    d->postMessage(text("third"), 1);
    d->postStatus(1, 3, "");
    EXPECT_FALSE(lastRan.load());
    gate = true;
    ASSERT_TRUE(eventually([&] { return lastRan.load(); }));
    EXPECT_TRUE(lastAfterCallback.load());
    EXPECT_EQ((std::vector<std::string>{"msg:first"}), log->events());
}

// free() from another thread does not wait for callbacks: a delivery that had begun
// (here held just before it calls the listener) may still start after free()
// returned, but no later one does; and the transport's references on the listener
// are gone once the session's last work has run, so an application that waits for
// its listener's release knows that no callback runs any more.
TEST_F(DeliveryTest, FreeFromAnotherThreadStartsAtMostTheDeliveryBegunAndThenReleasesTheListener)
{
    auto d = make();
    std::mutex mutex;
    std::condition_variable cv;
    bool atHook = false, freed = false, lastRan = false;
    std::atomic<bool> freeReturned{false};
    std::atomic<int> startedAfterFree{0};
    messages->onUpdate = [&](IUserSession*, IMessage*) {
        if (freeReturned.load())
            ++startedAfterFree;
    };
    d->subscribe(messages);
    d->setTestHookBeforeDelivery([&] {
        std::unique_lock<std::mutex> lock(mutex);
        if (atHook)
            return;
        atHook = true;
        cv.notify_all();
        cv.wait(lock, [&] { return freed; });
    });
    for (const char* t : {"first", "second", "third"})
        d->postMessage(text(t), 1);
    {
        std::unique_lock<std::mutex> lock(mutex);
        ASSERT_TRUE(cv.wait_for(lock, kWait, [&] { return atHook; }));
    }
    d->free([&] {
        std::lock_guard<std::mutex> lock(mutex);
        lastRan = true;
        cv.notify_all();
    });
    freeReturned = true;
    d->postMessage(text("fourth"), 1);
    {
        std::unique_lock<std::mutex> lock(mutex);
        freed = true;
        cv.notify_all();
        ASSERT_TRUE(cv.wait_for(lock, kWait, [&] { return lastRan; }));
    }
    EXPECT_LE(startedAfterFree.load(), 1);
    const auto events = log->events();
    EXPECT_TRUE(events.empty() || events == std::vector<std::string>{"msg:first"}) << events.size();
    // Only the test's own reference is left.
    EXPECT_EQ(2, messages->addRef());
    messages->release();
}

// The core swaps listeners at login: one that takes a message with the old listener
// and finds it gone when handing it over gives it to the new one (or holds it), in
// both orders of the swap.
TEST_F(DeliveryTest, AListenerSwapBetweenTakingAndHandingOverLosesNothing)
{
    for (const bool subscribeFirst : {true, false}) {
        SCOPED_TRACE(subscribeFirst ? "subscribe, then unsubscribe" : "unsubscribe, then subscribe");
        auto d = make();
        auto* old = new MessageRecorder(std::make_shared<Recorder>());
        auto fresh = std::make_shared<Recorder>();
        auto* next = new MessageRecorder(fresh);
        d->subscribe(old);
        bool swapped = false;
        d->setTestHookBeforeDelivery([&] {
            if (swapped)
                return;
            swapped = true;
            if (subscribeFirst) {
                d->subscribe(next);
                d->unsubscribe(old);
            } else {
                d->unsubscribe(old);
                d->subscribe(next);
            }
        });
        d->postMessage(text("fill"), 4);
        d->postMessage(text("after"), 5);
        ASSERT_TRUE(fresh->waitFor("msg:after"));
        EXPECT_EQ((std::vector<std::string>{"msg:fill", "msg:after"}), fresh->events());
        d->free(nullptr);
        d.reset();
        old->release();
        next->release();
    }
}

// Posted from a handler of the context (as the I/O strand posts a frame it read), a
// message reaches its listener on that thread right after that handler, never
// inside it (the link must be free while a callback runs). A subscribe made inside a
// callback, which hands another session its held messages, delivers them after that
// callback, never nested in it: the application may hold a lock there that the
// other listener takes too.
TEST_F(DeliveryTest, DeliversOnThePostingThreadAfterItsHandlerAndNeverInsideAnotherCallback)
{
    auto a = make();
    auto b = std::make_shared<ClientDelivery>(asio::make_strand(io));
    auto* bListener = new MessageRecorder(log);
    b->postMessage(text("held"), 1);
    ASSERT_TRUE(eventually([&] { return b->heldCount() == 1; }));
    std::atomic<bool> inA{false}, nested{false};
    bListener->onUpdate = [&](IUserSession*, IMessage*) { nested = inA.load(); };
    std::thread::id postedOn, deliveredOn;
    messages->onUpdate = [&](IUserSession*, IMessage*) {
        deliveredOn = std::this_thread::get_id();
        inA = true;
        b->subscribe(bListener);
        inA = false;
    };
    a->subscribe(messages);
    std::atomic<bool> posted{false}, deliveredInPost{false};
    asio::post(io, [&] {
        postedOn = std::this_thread::get_id();
        a->postMessage(text("x"), 1);
        deliveredInPost = log->count("msg:x") == 1;
        posted = true;
    });
    ASSERT_TRUE(eventually([&] { return posted.load(); }));
    EXPECT_FALSE(deliveredInPost.load());
    ASSERT_TRUE(log->waitFor("msg:held"));
    EXPECT_EQ(postedOn, deliveredOn);
    EXPECT_FALSE(nested.load());
    EXPECT_EQ((std::vector<std::string>{"msg:x", "msg:held"}), log->events());
    b->free(nullptr);
    b.reset();
    bListener->release();
}

} // namespace
} // namespace merrow::detail
