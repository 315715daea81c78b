// Requests sent from several application threads while answers and pushed updates
// arrive on the transport's thread and listeners come and go: every answer reaches
// the permanent listener exactly once, with no race (ThreadSanitizer) and no
// deadlock.

#include "core/session/server_communicator.h"

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

#include "core/messages/time_utils.h"
#include "core/requests/request.h"
#include "core/session/session_test_support.h"

namespace zel {
namespace {

using namespace zel::testing;

class CountingListener : public TThreadSafeAddRefImpl<IZelResponseListener> {
public:
    void onRequestCompleted(const char* id, IZelResponse*) override
    {
        std::lock_guard<std::mutex> lock(mutex);
        ++completed[id];
    }
    void onRequestFailed(const char* id, const char*) override
    {
        std::lock_guard<std::mutex> lock(mutex);
        ++failed[id];
    }
    void onTablesUpdates(IZelResponse*) override { ++updates; }

    std::mutex mutex;
    std::map<std::string, int> completed;
    std::map<std::string, int> failed;
    std::atomic<int> updates{0};
};

TEST(ServerCommunicatorConcurrency, RequestsFromFourThreadsWhileAnswersAndUpdatesArrive)
{
    constexpr int kThreads = 4;
    constexpr int kPerThread = 1500;
    FakeSessionFactory factory;
    ServerCommunicator::Callbacks cb;
    cb.sessionOpened = [](merrow::IUserSession*) { return 1; };
    ServerCommunicator comm(std::move(cb), factory);
    auto* trade = static_cast<FakeUserSession*>(factory.createUserSession("", "", "", "", ""));

    std::mutex queueMutex;
    std::condition_variable queued;
    std::deque<std::string> toAnswer;
    trade->onSend = [&](merrow::IMessage* m) {
        std::lock_guard<std::mutex> lock(queueMutex);
        toAnswer.emplace_back(getRequestIDFromMessage(m));
        queued.notify_one();
    };
    comm.onSessionOpened(trade);
    ASSERT_EQ(comm.getStatus(), IZelSessionStatus::Connected);

    RefPtr<CountingListener> permanent = adoptRef(new CountingListener());
    comm.subscribeResponse(permanent.get());

    std::atomic<bool> sendersDone{false};
    std::thread responder([&] {
        int answered = 0;
        while (answered < kThreads * kPerThread) {
            std::string id;
            {
                std::unique_lock<std::mutex> lock(queueMutex);
                queued.wait(lock, [&] { return !toAnswer.empty(); });
                id = std::move(toAnswer.front());
                toAnswer.pop_front();
            }
            trade->deliver(dasAnswer(id, "0;ok").get());
            if (++answered % 10 == 0)
                trade->deliver(dasUpdate("0;01052026100000;OFFER").get());
        }
    });
    std::thread churn([&] {
        while (!sendersDone) {
            RefPtr<CountingListener> transient = adoptRef(new CountingListener());
            comm.subscribeResponse(transient.get());
            std::this_thread::yield();
            comm.unsubscribeResponse(transient.get());
        }
    });
    std::vector<std::thread> senders;
    for (int t = 0; t < kThreads; ++t) {
        senders.emplace_back([&, t] {
            for (int i = 0; i < kPerThread; ++i) {
                const std::string id = "T" + std::to_string(t) + "-" + std::to_string(i);
                RefPtr<IZelRequest> r = adoptRef<IZelRequest>(new CommandRequest(id.c_str(), 9));
                comm.sendRequest(r.get());
            }
        });
    }
    for (std::thread& s : senders)
        s.join();
    sendersDone = true;
    responder.join();
    churn.join();

    std::lock_guard<std::mutex> lock(permanent->mutex);
    EXPECT_EQ(permanent->completed.size(), static_cast<size_t>(kThreads * kPerThread));
    for (const auto& entry : permanent->completed)
        ASSERT_EQ(entry.second, 1) << entry.first;
    EXPECT_TRUE(permanent->failed.empty());
    EXPECT_EQ(permanent->updates.load(), kThreads * kPerThread / 10);
    EXPECT_EQ(comm.messageListener()->requests().size(), 0);
}

} // namespace
} // namespace zel
