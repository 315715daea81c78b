#include "logon_rate_limiter.h"

#include <gtest/gtest.h>

#include <string>

namespace merrow::detail {
namespace {

using namespace std::chrono_literals;

class LogonRateLimiterTest : public ::testing::Test {
protected:
    void failAt(Duration at, const std::string& user, const std::string& address)
    {
        moveTo(at);
        ASSERT_TRUE(limiter.check(user, address).allowed) << user << "@" << address;
        limiter.recordFailure(user, address);
    }
    void moveTo(Duration at) { clock.advance(start + at - clock.now()); }

    ManualClock clock;
    TimePoint start = clock.now();
    LogonRateLimiter limiter{clock};
};

TEST_F(LogonRateLimiterTest, SixthFailureWithinTenSecondsIsRefusedWithTheWait)
{
    for (int i = 0; i < 5; ++i)
        failAt(std::chrono::seconds(i), "ann", "10.0.0.1");
    struct Case {
        Duration at;
        bool allowed;
        const char* text;
    };
    const Case cases[] = {
        {5s, false, "Too many failed logons; try again in 5 seconds."},
        {7800ms, false, "Too many failed logons; try again in 3 seconds."},  // 2.2 s, rounded up
        {9s, false, "Too many failed logons; try again in 1 second."},
        {10s - 1ns, false, "Too many failed logons; try again in 1 second."},
        {10s, true, ""},  // the failure at 0 s has left the window
    };
    for (const Case& c : cases) {
        moveTo(c.at);
        const LogonVerdict v = limiter.check("ann", "10.0.0.1");
        EXPECT_EQ(v.allowed, c.allowed) << c.at.count();
        EXPECT_EQ(v.text, c.text) << c.at.count();
    }
}

TEST_F(LogonRateLimiterTest, WindowSlides)
{
    for (int i = 0; i < 5; ++i)
        failAt(std::chrono::seconds(2 * i), "ann", "10.0.0.1");  // 0, 2, 4, 6, 8 s
    failAt(10s, "ann", "10.0.0.1");                           // 0 s aged out: allowed, fails again
    moveTo(11s);
    const LogonVerdict v = limiter.check("ann", "10.0.0.1");
    EXPECT_FALSE(v.allowed);
    EXPECT_EQ(v.retryAfter, 1s);  // until the failure at 2 s leaves
    moveTo(12s);
    EXPECT_TRUE(limiter.check("ann", "10.0.0.1").allowed);
}

TEST_F(LogonRateLimiterTest, UserAndAddressAreLimitedEachOnTheirOwn)
{
    // One user guessed at from five addresses: the user is locked from everywhere,
    // but those addresses still serve other users.
    for (int i = 0; i < 5; ++i)
        failAt(0s, "ann", "10.0.0." + std::to_string(i));
    EXPECT_FALSE(limiter.check("ann", "192.168.1.1").allowed);
    EXPECT_TRUE(limiter.check("bob", "10.0.0.1").allowed);

    // One address trying five users: the address is locked for any user.
    for (int i = 0; i < 5; ++i)
        failAt(0s, "user" + std::to_string(i), "172.16.0.9");
    EXPECT_FALSE(limiter.check("carol", "172.16.0.9").allowed);
    EXPECT_TRUE(limiter.check("carol", "172.16.0.10").allowed);
}

TEST_F(LogonRateLimiterTest, RefusedAttemptsDoNotExtendTheWait)
{
    for (int i = 0; i < 5; ++i)
        failAt(0s, "ann", "10.0.0.1");
    moveTo(3s);
    const LogonVerdict first = limiter.check("ann", "10.0.0.1");
    ASSERT_FALSE(first.allowed);
    for (Duration t = 3s; t < 10s; t += 500ms) {
        moveTo(t);
        EXPECT_FALSE(limiter.check("ann", "10.0.0.1").allowed);
    }
    // The promise made at 3 s holds.
    moveTo(3s + first.retryAfter);
    EXPECT_TRUE(limiter.check("ann", "10.0.0.1").allowed);
}

// Fifty wrong logons for one user arriving at once: each counts as it begins, so no
// more than five reach the password check; the others are told to wait. Ended
// attempts that succeeded count for nothing.
TEST_F(LogonRateLimiterTest, AttemptsArrivingTogetherCountBeforeTheirPasswordIsChecked)
{
    int begun = 0;
    for (int i = 0; i < 50; ++i) {
        LogonVerdict v = limiter.begin("ann", "10.0.0." + std::to_string(i));
        begun += v.allowed;
        if (!v.allowed)
            EXPECT_EQ("Too many logons at once; try again in 1 second.", v.text);
    }
    EXPECT_EQ(5, begun);
    for (int i = 0; i < 5; ++i)
        limiter.end("ann", "10.0.0." + std::to_string(i), true);
    EXPECT_FALSE(limiter.begin("ann", "10.0.1.1").allowed);

    ASSERT_TRUE(limiter.begin("bob", "10.0.2.1").allowed);
    limiter.end("bob", "10.0.2.1", false);
    for (int i = 0; i < 5; ++i)
        EXPECT_TRUE(limiter.begin("bob", "10.0.2.1").allowed);
    EXPECT_FALSE(limiter.begin("bob", "10.0.2.1").allowed);
}

TEST_F(LogonRateLimiterTest, ForgetsKeysOnceTheirFailuresAgeOut)
{
    for (int i = 0; i < 1000; ++i)
        failAt(0s, "user" + std::to_string(i), "10.1." + std::to_string(i / 256) + "." + std::to_string(i % 256));
    EXPECT_EQ(limiter.trackedKeys(), 2000u);
    moveTo(10s);
    (void)limiter.check("x", "y");
    EXPECT_EQ(limiter.trackedKeys(), 0u);
}

} // namespace
} // namespace merrow::detail
