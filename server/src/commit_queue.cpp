#include "commit_queue.h"

#include <exception>

namespace pellora::dealer {

bool isEmpty(const Change& c) {
    return c.accounts.empty() && c.orders.empty() && c.removedOrders.empty() && c.trades.empty() &&
           c.removedTrades.empty() && c.closedTrades.empty() && c.messages.empty() && c.removedMessages.empty() &&
           c.requests.empty() && c.prices.empty() && !c.schedule && c.meta.empty();
}

void CommitQueue::start() {
    std::lock_guard<std::mutex> lock(mu_);
    if (running_ || stopping_) return;
    running_ = true;
    committer_ = std::thread([this] { commitLoop(); });
    deliverer_ = std::thread([this] { deliverLoop(); });
}

void CommitQueue::submit(Change change, Done done) {
    const bool empty = isEmpty(change);
    {
        std::lock_guard<std::mutex> lock(mu_);
        if (running_) {
            queue_.push_back({std::move(change), std::move(done), empty});
            toCommit_.notify_one();
            return;
        }
    }
    // Not running (before start or after stop): committed and completed here and now.
    Committed one;
    one.items.push_back({std::move(change), std::move(done), empty});
    one.status = write(one.items);
    complete(one);
}

void CommitQueue::stop() {
    {
        std::lock_guard<std::mutex> lock(mu_);
        stopping_ = true;
        toCommit_.notify_one();
        toDeliver_.notify_one();
    }
    if (committer_.joinable()) committer_.join();
    if (deliverer_.joinable()) deliverer_.join();
}

uint64_t CommitQueue::transactions() const {
    std::lock_guard<std::mutex> lock(mu_);
    return transactions_;
}

void CommitQueue::commitLoop() {
    std::unique_lock<std::mutex> lock(mu_);
    for (;;) {
        // Stopping ends once nothing is queued and no completion runs that could
        // still submit; from then on submit() commits inline.
        toCommit_.wait(lock, [&] { return !queue_.empty() || (stopping_ && ready_.empty() && !delivering_); });
        if (queue_.empty()) break;
        std::deque<Item> batch;
        batch.swap(queue_);
        lock.unlock();
        Status st = write(batch);
        Committed c{std::move(batch), std::move(st)};
        lock.lock();
        if (queue_.empty() && ready_.empty() && !delivering_) {
            // Nothing gathered meanwhile: answering here spares a thread hop on the
            // path of a lone client's order.
            delivering_ = true;
            lock.unlock();
            complete(c);
            lock.lock();
            delivering_ = false;
            continue;
        }
        ready_.push_back(std::move(c));
        toDeliver_.notify_one();
    }
    running_ = false;
    committerDone_ = true;
    toDeliver_.notify_one();
}

void CommitQueue::deliverLoop() {
    std::unique_lock<std::mutex> lock(mu_);
    for (;;) {
        toDeliver_.wait(lock, [&] { return !ready_.empty() || committerDone_; });
        if (ready_.empty()) break;  // and the committer is done: nothing more comes
        Committed c = std::move(ready_.front());
        ready_.pop_front();
        delivering_ = true;
        lock.unlock();
        complete(c);
        lock.lock();
        delivering_ = false;
        toCommit_.notify_one();  // a stopping committer waits for the completions
    }
}

Status CommitQueue::write(const std::deque<Item>& batch) {
    std::vector<const Change*> changes;
    for (const Item& i : batch)
        if (!i.empty) changes.push_back(&i.change);
    if (changes.empty()) return Status::ok();
    Status st = store_.applyAll(changes);
    std::lock_guard<std::mutex> lock(mu_);
    ++transactions_;
    return st;
}

void CommitQueue::complete(Committed& c) {
    for (Item& i : c.items) {
        if (!i.done) continue;
        try {
            i.done(i.empty ? Status::ok() : c.status);
        } catch (...) {
            // A completion that throws loses only its own answer.
        }
    }
}

} // namespace pellora::dealer
