#include "server_clock.h"

#include <gtest/gtest.h>

namespace pellora::dealer {
namespace {

TEST(ServerClock, VirtualMovesOnlyWhenSteppedRealRefusesSteps) {
    ServerClock v(true, makeUtc(2024, 7, 2, 10));
    EXPECT_EQ(v.now(), makeUtc(2024, 7, 2, 10));
    ASSERT_TRUE(v.step(1500).isOk());
    EXPECT_EQ(v.now(), makeUtc(2024, 7, 2, 10) + 1500);
    EXPECT_FALSE(v.step(-1).isOk());
    EXPECT_EQ(v.now(), makeUtc(2024, 7, 2, 10) + 1500);

    ServerClock r(false, 0);
    const UnixMs before = ServerClock::systemNow();
    EXPECT_GE(r.now(), before);
    EXPECT_FALSE(r.step(1000).isOk());
}

} // namespace
} // namespace pellora::dealer
