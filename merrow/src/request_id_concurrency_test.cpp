#include "request_id.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <regex>
#include <set>
#include <thread>

#include "merrow/connection_manager.h"

namespace merrow::detail {
namespace {

TEST(RequestIdTest, IdsAreUniqueAcrossThreadsAndShareTheProcessPrefix)
{
    constexpr int kThreads = 4, kEach = 5000;
    std::vector<std::vector<std::string>> ids(kThreads);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([&, t] {
            for (int i = 0; i < kEach; ++i) {
                char* id = newRequestIdText();
                ids[t].push_back(id);
                // Half through each freeing path.
                if (i % 2)
                    freeRequestIdText(id);
                else
                    ConnectionManagerEx::freePointer(id);
            }
        });
    for (auto& t : threads)
        t.join();
    std::set<std::string> all;
    const std::regex form("[0-9a-f]{16}:[0-9]+");
    for (auto& list : ids)
        for (auto& id : list) {
            EXPECT_TRUE(std::regex_match(id, form)) << id;
            EXPECT_EQ(0u, id.rfind(requestIdPrefix() + ":", 0)) << id;
            all.insert(id);
        }
    EXPECT_EQ(size_t(kThreads * kEach), all.size());
}

} // namespace
} // namespace merrow::detail
