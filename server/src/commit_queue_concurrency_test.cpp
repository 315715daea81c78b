// The group-commit queue: completions in submission order, each only once its change
// is on disk (a second connection reads it there), empty changes in their place,
// several submitting threads, and a stop that drains what completions submit.

#include "commit_queue.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <atomic>
#include <filesystem>
#include <mutex>
#include <thread>
#include <vector>

namespace pellora::dealer {
namespace {

class CommitQueueTest : public ::testing::Test {
protected:
    void SetUp() override {
        char tmpl[] = "/tmp/dealer-queue-XXXXXX";
        ASSERT_TRUE(mkdtemp(tmpl));
        dir = tmpl;
        ASSERT_TRUE(Store::open(dir + "/state.db", store).isOk());
        ASSERT_EQ(sqlite3_open_v2((dir + "/state.db").c_str(), &reader, SQLITE_OPEN_READONLY, nullptr), SQLITE_OK);
    }
    void TearDown() override {
        sqlite3_close(reader);
        store.reset();
        std::filesystem::remove_all(dir);
    }
    // Whether another connection sees the remembered request: it is committed.
    bool onDisk(const std::string& id) {
        sqlite3_stmt* st = nullptr;
        sqlite3_prepare_v2(reader, "SELECT 1 FROM requests WHERE request_id = ?", -1, &st, nullptr);
        sqlite3_bind_text(st, 1, id.c_str(), -1, SQLITE_TRANSIENT);
        const bool found = sqlite3_step(st) == SQLITE_ROW;
        sqlite3_finalize(st);
        return found;
    }
    static Change change(const std::string& id) {
        Change c;
        c.requests.push_back({"u", id, 1, "0"});
        return c;
    }

    std::string dir;
    std::unique_ptr<Store> store;
    sqlite3* reader = nullptr;
};

TEST_F(CommitQueueTest, CompletionsRunInOrderAfterTheirCommit) {
    CommitQueue q(*store);
    q.start();
    std::mutex mu;
    std::vector<std::string> done;  // "<thread>:<n>" in completion order
    std::atomic<int> notOnDisk{0};
    constexpr int kThreads = 4, kEach = 60;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([&, t] {
            for (int n = 0; n < kEach; ++n) {
                const std::string id = std::to_string(t) + ":" + std::to_string(n);
                // Every third change is empty: it keeps its place without a write.
                Change c = n % 3 == 2 ? Change() : change(id);
                const bool empty = n % 3 == 2;
                q.submit(std::move(c), [&, id, empty](const Status& st) {
                    EXPECT_TRUE(st.isOk()) << st.text();
                    if (!empty && !onDisk(id)) ++notOnDisk;
                    std::lock_guard<std::mutex> lock(mu);
                    done.push_back(id);
                });
            }
        });
    for (std::thread& t : threads) t.join();
    q.stop();
    EXPECT_EQ(notOnDisk.load(), 0);
    ASSERT_EQ(done.size(), static_cast<size_t>(kThreads * kEach));
    // Each thread's changes complete in the order it submitted them.
    std::vector<int> next(kThreads, 0);
    for (const std::string& id : done) {
        const int t = std::stoi(id.substr(0, id.find(':')));
        EXPECT_EQ(std::stoi(id.substr(id.find(':') + 1)), next[static_cast<size_t>(t)]++) << id;
    }
    EXPECT_LT(q.transactions(), static_cast<uint64_t>(kThreads * kEach)) << "changes share transactions";
}

TEST_F(CommitQueueTest, StopDrainsWhatCompletionsSubmit) {
    CommitQueue q(*store);
    q.start();
    std::atomic<int> chained{0};
    // Each completion submits the next change, ten deep; stop() comes at once.
    std::function<void(int)> chain = [&](int n) {
        q.submit(change("c" + std::to_string(n)), [&, n](const Status& st) {
            EXPECT_TRUE(st.isOk());
            EXPECT_TRUE(onDisk("c" + std::to_string(n)));
            ++chained;
            if (n < 10) chain(n + 1);
        });
    };
    chain(1);
    q.stop();
    EXPECT_EQ(chained.load(), 10);
    // After the stop a change is committed and completed inline.
    bool inlineDone = false;
    q.submit(change("late"), [&](const Status& st) { inlineDone = st.isOk(); });
    EXPECT_TRUE(inlineDone);
    EXPECT_TRUE(onDisk("late"));
}

} // namespace
} // namespace pellora::dealer
