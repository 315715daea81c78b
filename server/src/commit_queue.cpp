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
    thread_ = std::thread([this] { run(); });
}

void CommitQueue::submit(Change change, Done done) {
    const bool empty = isEmpty(change);
    {
        std::lock_guard<std::mutex> lock(mu_);
        if (running_) {
            queue_.push_back({std::move(change), std::move(done), empty});
            cv_.notify_one();
            return;
        }
    }
    // Not running (before start or after stop): committed here and now.
    std::deque<Item> one;
    one.push_back({std::move(change), std::move(done), empty});
    commit(one);
}

void CommitQueue::stop() {
    {
        std::lock_guard<std::mutex> lock(mu_);
        stopping_ = true;
        cv_.notify_one();
    }
    if (thread_.joinable()) thread_.join();
    std::lock_guard<std::mutex> lock(mu_);
    running_ = false;
}

uint64_t CommitQueue::transactions() const {
    std::lock_guard<std::mutex> lock(mu_);
    return transactions_;
}

void CommitQueue::run() {
    std::unique_lock<std::mutex> lock(mu_);
    for (;;) {
        cv_.wait(lock, [&] { return stopping_ || !queue_.empty(); });
        if (queue_.empty()) {
            if (stopping_) break;
            continue;
        }
        std::deque<Item> batch;
        batch.swap(queue_);
        lock.unlock();
        commit(batch);
        lock.lock();
    }
    // Whatever a last completion submitted after the loop saw the queue empty.
    running_ = false;
    std::deque<Item> rest;
    rest.swap(queue_);
    lock.unlock();
    if (!rest.empty()) commit(rest);
    lock.lock();
}

void CommitQueue::commit(std::deque<Item>& batch) {
    std::vector<const Change*> changes;
    for (const Item& i : batch)
        if (!i.empty) changes.push_back(&i.change);
    Status st = Status::ok();
    if (!changes.empty()) {
        st = store_.applyAll(changes);
        std::lock_guard<std::mutex> lock(mu_);
        ++transactions_;
    }
    for (Item& i : batch) {
        if (!i.done) continue;
        try {
            i.done(i.empty ? Status::ok() : st);
        } catch (const std::exception&) {
            // A completion that throws loses only its own answer.
        }
    }
}

} // namespace pellora::dealer
