#pragma once
// Work too heavy for the transport's I/O threads (price-history answers of thousands
// of bars): queued per owner (a session) and run on worker threads of their own, at a
// lower scheduling priority, one job of each waiting owner in turn. So one client's
// many requests never hold up another client's, and the I/O threads stay free for
// everyone's prices and logins.
//
// [Threading] submit() and cancel() from any thread; jobs run on the workers.
// [Locking] mu_ guards the queues; no job runs under it.
// [Exceptions] A job must not throw; one that does is dropped.

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace pellora::dealer {

class HeavyWork {
public:
    // perOwner: jobs of one owner waiting or running at once; beyond it submit refuses.
    explicit HeavyWork(int threads = 1, size_t perOwner = 32);
    ~HeavyWork();
    HeavyWork(const HeavyWork&) = delete;
    HeavyWork& operator=(const HeavyWork&) = delete;

    void start();
    // Drops what waits and joins the workers; idempotent.
    void stop();

    // False when the owner already has perOwner jobs, or the workers are stopped.
    bool submit(const std::string& owner, std::function<void()> job);
    // Drops the owner's waiting jobs (a running one finishes).
    void cancel(const std::string& owner);
    size_t perOwner() const { return perOwner_; }

private:
    struct Queue {
        std::deque<std::function<void()>> jobs;
        size_t running = 0;
    };
    void run();

    const int threads_;
    const size_t perOwner_;
    std::mutex mu_;
    std::condition_variable cv_;
    std::map<std::string, Queue> queues_;  // guarded by mu_
    std::deque<std::string> turns_;        // owners with waiting jobs, in turn order; guarded by mu_
    bool stopping_ = false;                // guarded by mu_
    bool started_ = false;
    std::vector<std::thread> workers_;
};

} // namespace pellora::dealer
