#pragma once
// Group commit: changes submitted by any thread are written by one committing thread,
// as many as have gathered per transaction, and each one's completion runs only
// after the transaction holding it committed, in submission order. A dealer answers
// and pushes from the completions, so nothing leaves before it is on disk, and an
// answer never overtakes a change submitted before it (empty changes keep their
// place in the queue without a transaction of their own).
//
// When more changes gathered while a group was written, its completions run on a
// delivering thread of their own, so the next group is written and synced while the
// answers of the previous one are sent: the sync, the longest step, overlaps the
// rest. When nothing gathered, the committing thread runs them itself, sparing a
// lone client's order the hop to another thread.
//
// [Threading] submit() from any thread; completions run on the committing or the
// delivering thread, one at a time and in order (or inline in submit() before start
// and once stopped), with no lock of the queue
// held: they may send messages and submit again, and must not throw (an exception
// is caught and swallowed). stop() drains what was submitted, completions included
// (and what they submit), and joins both threads.

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

#include "store.h"

namespace pellora::dealer {

class CommitQueue {
public:
    using Done = std::function<void(const Status&)>;

    explicit CommitQueue(Store& store) : store_(store) {}
    ~CommitQueue() { stop(); }
    CommitQueue(const CommitQueue&) = delete;
    CommitQueue& operator=(const CommitQueue&) = delete;

    void start();
    void submit(Change change, Done done);
    void stop();
    // Transactions committed so far (a test and benchmark figure).
    uint64_t transactions() const;

private:
    struct Item {
        Change change;
        Done done;
        bool empty;
    };
    struct Committed {
        std::deque<Item> items;
        Status status;
    };
    void commitLoop();
    void deliverLoop();
    Status write(const std::deque<Item>& batch);
    static void complete(Committed& c);

    Store& store_;
    mutable std::mutex mu_;
    std::condition_variable toCommit_;   // work for the committing thread
    std::condition_variable toDeliver_;  // work for the delivering thread
    std::deque<Item> queue_;             // guarded by mu_: submitted, not yet written
    std::deque<Committed> ready_;        // guarded by mu_: written, completions not yet run
    bool delivering_ = false;            // guarded by mu_: completions running now
    bool running_ = false;               // guarded by mu_
    bool stopping_ = false;              // guarded by mu_
    bool committerDone_ = false;         // guarded by mu_
    uint64_t transactions_ = 0;          // guarded by mu_
    std::thread committer_;
    std::thread deliverer_;
};

// True when the change writes nothing.
bool isEmpty(const Change& c);

} // namespace pellora::dealer
