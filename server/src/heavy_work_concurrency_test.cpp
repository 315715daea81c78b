// The heavy-work queue: owners take turns one job at a time, an owner's jobs are
// capped, cancel and stop drop what waits. A first job held on a latch pins the
// single worker while the queue is filled, so every order is deterministic.

#include "heavy_work.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <future>
#include <mutex>
#include <string>
#include <vector>

namespace pellora::dealer {
namespace {

class HeavyWorkTest : public ::testing::Test {
protected:
    // Submits a job that records its name when it runs.
    bool add(HeavyWork& w, const std::string& owner, const std::string& name) {
        return w.submit(owner, [this, name] {
            std::lock_guard<std::mutex> lock(mu_);
            ran_.push_back(name);
            cv_.notify_all();
        });
    }
    // Submits a job that holds the worker until release(); returns once it runs.
    void hold(HeavyWork& w, const std::string& owner) {
        std::promise<void> started;
        ASSERT_TRUE(w.submit(owner, [&started, f = release_.get_future().share()] {
            started.set_value();
            f.wait();
        }));
        started.get_future().wait();
    }
    void release() { release_.set_value(); }
    // What ran, once n jobs have.
    std::vector<std::string> ran(size_t n) {
        std::unique_lock<std::mutex> lock(mu_);
        cv_.wait(lock, [&] { return ran_.size() >= n; });
        return ran_;
    }

    std::promise<void> release_;
    std::mutex mu_;
    std::condition_variable cv_;
    std::vector<std::string> ran_;
};

TEST_F(HeavyWorkTest, OwnersTakeTurnsOneJobAtATime) {
    HeavyWork w(1, 32);
    w.start();
    hold(w, "A");
    for (const char* n : {"A2", "A3", "A4"}) ASSERT_TRUE(add(w, "A", n));
    for (const char* n : {"B1", "B2"}) ASSERT_TRUE(add(w, "B", n));
    ASSERT_TRUE(add(w, "C", "C1"));
    release();
    EXPECT_EQ(ran(6), (std::vector<std::string>{"A2", "B1", "C1", "A3", "B2", "A4"}));
}

TEST_F(HeavyWorkTest, AnOwnersJobsAreCappedAndCancelDropsTheWaitingOnes) {
    HeavyWork w(1, 2);
    w.start();
    hold(w, "A");                   // running: counts against A's cap
    EXPECT_TRUE(add(w, "A", "A2"));
    EXPECT_FALSE(add(w, "A", "A3"));
    EXPECT_TRUE(add(w, "B", "B1"));
    EXPECT_TRUE(add(w, "B", "B2"));
    w.cancel("B");
    EXPECT_TRUE(add(w, "B", "B3"));  // the cap counts only what still waits
    release();
    EXPECT_EQ(ran(2), (std::vector<std::string>{"A2", "B3"}));
    EXPECT_TRUE(add(w, "A", "A4"));  // A's cap is free again once its jobs ran
}

TEST_F(HeavyWorkTest, StopDropsWaitingJobsAndRefusesNewOnes) {
    HeavyWork w(1, 8);
    w.start();
    hold(w, "A");
    EXPECT_TRUE(add(w, "B", "B1"));
    std::thread stopper([&] { w.stop(); });
    release();
    stopper.join();
    EXPECT_FALSE(add(w, "B", "B2"));
    std::lock_guard<std::mutex> lock(mu_);
    EXPECT_TRUE(ran_.empty() || ran_ == std::vector<std::string>{"B1"});
}

} // namespace
} // namespace pellora::dealer
