#include "heavy_work.h"

#include <algorithm>

#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace pellora::dealer {

HeavyWork::HeavyWork(int threads, size_t perOwner) : threads_(std::max(threads, 1)), perOwner_(std::max<size_t>(perOwner, 1)) {}

HeavyWork::~HeavyWork() { stop(); }

void HeavyWork::start() {
    std::lock_guard<std::mutex> lock(mu_);
    if (started_ || stopping_) return;
    started_ = true;
    for (int i = 0; i < threads_; ++i) workers_.emplace_back([this] { run(); });
}

void HeavyWork::stop() {
    {
        std::lock_guard<std::mutex> lock(mu_);
        stopping_ = true;
        queues_.clear();
        turns_.clear();
    }
    cv_.notify_all();
    for (std::thread& t : workers_)
        if (t.joinable()) t.join();
    workers_.clear();
}

bool HeavyWork::submit(const std::string& owner, std::function<void()> job) {
    {
        std::lock_guard<std::mutex> lock(mu_);
        if (stopping_) return false;
        Queue& q = queues_[owner];
        if (q.jobs.size() + q.running >= perOwner_) return false;
        if (q.jobs.empty()) turns_.push_back(owner);
        q.jobs.push_back(std::move(job));
    }
    cv_.notify_one();
    return true;
}

void HeavyWork::cancel(const std::string& owner) {
    std::lock_guard<std::mutex> lock(mu_);
    auto it = queues_.find(owner);
    if (it == queues_.end()) return;
    it->second.jobs.clear();
    turns_.erase(std::remove(turns_.begin(), turns_.end(), owner), turns_.end());
    if (it->second.running == 0) queues_.erase(it);
}

void HeavyWork::run() {
    // Below the I/O and price threads: heavy answers take what time is left over.
    (void)::setpriority(PRIO_PROCESS, static_cast<id_t>(::syscall(SYS_gettid)), 10);
    std::unique_lock<std::mutex> lock(mu_);
    for (;;) {
        cv_.wait(lock, [&] { return stopping_ || !turns_.empty(); });
        if (stopping_) return;
        const std::string owner = turns_.front();
        turns_.pop_front();
        Queue& q = queues_[owner];
        std::function<void()> job = std::move(q.jobs.front());
        q.jobs.pop_front();
        ++q.running;
        // The owner's next job waits for its next turn, behind every other owner.
        if (!q.jobs.empty()) turns_.push_back(owner);
        lock.unlock();
        try {
            job();
        } catch (...) {
        }
        job = nullptr;
        lock.lock();
        if (stopping_) return;
        auto it = queues_.find(owner);
        if (it != queues_.end() && --it->second.running == 0 && it->second.jobs.empty()) queues_.erase(it);
    }
}

} // namespace pellora::dealer
