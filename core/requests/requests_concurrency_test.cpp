#include "core/requests/requests.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "core/base/ref_ptr.h"
#include "core/requests/request.h"

namespace zel {
namespace {

class CountedCommand : public CommandRequest {
public:
    CountedCommand(const std::string& id, std::atomic<int>* destroyed)
        : CommandRequest(id.c_str(), 34), m_destroyed(destroyed)
    {
    }

protected:
    ~CountedCommand() override { m_destroyed->fetch_add(1); }

private:
    std::atomic<int>* m_destroyed;
};

// Leaf identifiers in the order they were registered, for the takers to chase.
class Published {
public:
    void push(const std::string& id)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_ids.push_back(id);
    }
    // The identifier at the index, or false when it is not published yet.
    bool get(size_t index, std::string* id)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (index >= m_ids.size())
            return false;
        *id = m_ids[index];
        return true;
    }
    size_t size()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_ids.size();
    }

private:
    std::mutex m_mutex;
    std::vector<std::string> m_ids;
};

// Producers register single requests and OTO batches (a primary and an OCO of two
// legs) while several takers race for every leaf as soon as it is registered:
// each leaf must reach exactly one taker, and every request must be freed.
TEST(RequestsConcurrency, EveryLeafIsHandedBackExactlyOnce)
{
    constexpr int kProducers = 2;
    constexpr int kTakers = 3;
    constexpr int kItemsPerProducer = 1500;

    Requests registry;
    Published published;
    std::atomic<int> created{0};
    std::atomic<int> destroyed{0};
    std::atomic<int> producersDone{0};
    std::atomic<int> takenTotal{0};
    std::mutex takenMutex;
    std::vector<std::string> takenIDs;

    auto make = [&](const std::string& id) {
        created.fetch_add(1);
        return adoptRef<CommandRequest>(new CountedCommand(id, &destroyed));
    };

    std::vector<std::thread> threads;
    for (int p = 0; p < kProducers; ++p) {
        threads.emplace_back([&, p] {
            for (int i = 0; i < kItemsPerProducer; ++i) {
                const std::string base = "p" + std::to_string(p) + ":" + std::to_string(i);
                if (i % 2 == 0) {
                    RefPtr<CommandRequest> single = make(base);
                    registry.add(single.get());
                    published.push(base);
                } else {
                    RefPtr<CommandRequest> top = make(base + ":oto");
                    top->addChild(make(base + ":primary").detach());
                    RefPtr<CommandRequest> oco = make(base + ":oco");
                    oco->addChild(make(base + ":leg1").detach());
                    oco->addChild(make(base + ":leg2").detach());
                    top->addChild(oco.detach());
                    registry.add(top.get());
                    published.push(base + ":primary");
                    published.push(base + ":leg1");
                    published.push(base + ":leg2");
                    published.push(base + ":oco");  // never registered: nobody may get it
                }
            }
            producersDone.fetch_add(1);
        });
    }
    for (int t = 0; t < kTakers; ++t) {
        threads.emplace_back([&] {
            size_t next = 0;
            std::string id;
            for (;;) {
                if (!published.get(next, &id)) {
                    if (producersDone.load() == kProducers && next >= published.size())
                        break;
                    std::this_thread::yield();
                    continue;
                }
                ++next;
                RefPtr<IZelRequest> r = adoptRef(registry.findAndRemove(id.c_str()));
                if (!r)
                    continue;
                EXPECT_EQ(id, r->getRequestID());
                takenTotal.fetch_add(1);
                std::lock_guard<std::mutex> lock(takenMutex);
                takenIDs.push_back(id);
            }
        });
    }
    for (std::thread& t : threads)
        t.join();

    // Half the items are singles (one leaf), half OTOs (three leaves).
    const int leaves = kProducers * (kItemsPerProducer / 2 + 3 * (kItemsPerProducer / 2));
    EXPECT_EQ(takenTotal.load(), leaves);
    std::sort(takenIDs.begin(), takenIDs.end());
    EXPECT_EQ(std::adjacent_find(takenIDs.begin(), takenIDs.end()), takenIDs.end());
    for (const std::string& id : takenIDs)
        EXPECT_EQ(id.find(":o"), std::string::npos) << id;  // no batch was ever registered
    EXPECT_EQ(registry.size(), 0);
    EXPECT_EQ(destroyed.load(), created.load());
}

} // namespace
} // namespace zel
