#include "reconnect_policy.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <set>
#include <vector>

namespace merrow::detail {
namespace {

using namespace std::chrono_literals;
using Act = ReconnectAction;

ReconnectPolicy::RandomSource fixed(double u)
{
    return [u] { return u; };
}

// Runs attempts that fail to connect until the policy stops asking; returns the delays.
std::vector<Duration> failConnectsUntilGiveUp(ReconnectPolicy& p, ReconnectStep step)
{
    std::vector<Duration> delays;
    for (int i = 0; i < 100 && step.action == Act::kWait; ++i) {
        delays.push_back(step.delay);
        p.attemptStarted();
        step = p.onAttemptFailed();
    }
    EXPECT_EQ(step.action, Act::kGiveUp);
    return delays;
}

TEST(ReconnectPolicy, BackoffDoublesFrom100msTo5sWithinTheJitter)
{
    struct Case {
        double u;
        double factor;
    };
    const Case cases[] = {{0.0, 0.8}, {0.5, 1.0}, {1.0, 1.2}};
    const std::vector<Duration> base = {100ms, 200ms, 400ms, 800ms, 1600ms, 3200ms, 5s, 5s, 5s, 5s};
    for (const Case& c : cases) {
        ReconnectPolicy p(10, 15, fixed(c.u));
        const std::vector<Duration> delays = failConnectsUntilGiveUp(p, p.onConnectionLost());
        ASSERT_EQ(delays.size(), base.size()) << "u=" << c.u;
        for (size_t i = 0; i < base.size(); ++i)
            EXPECT_EQ(delays[i], Duration(std::llround(base[i].count() * c.factor))) << "u=" << c.u << " i=" << i;
    }
}

TEST(ReconnectPolicy, RandomValuesOutsideTheRangeStayWithinTheJitter)
{
    for (double u : {-3.0, 7.0, std::numeric_limits<double>::quiet_NaN(), std::numeric_limits<double>::infinity()}) {
        ReconnectPolicy p(10, 15, fixed(u));
        const ReconnectStep step = p.onConnectionLost();
        EXPECT_GE(step.delay, 80ms) << u;
        EXPECT_LE(step.delay, 120ms) << u;
    }
}

TEST(ReconnectPolicy, ConnectAttemptsOfOneOutageAreBounded)
{
    ReconnectPolicy p(3, 15, fixed(0.5));
    const ReconnectStep first = p.onConnectionLost();
    EXPECT_TRUE(first.reportDisconnected);
    EXPECT_EQ(failConnectsUntilGiveUp(p, first).size(), 3u);
    EXPECT_EQ(p.failedConnects(), 3);
    // Given up: late reports of the same loss ask for nothing, and give-up is said once.
    EXPECT_EQ(p.onConnectionLost().action, Act::kNone);
    EXPECT_EQ(p.onAttemptFailed().action, Act::kNone);
}

TEST(ReconnectPolicy, ResumeAttemptsOverOpenedConnectionsAreBoundedSeparately)
{
    ReconnectPolicy p(2, 3, fixed(0.5));
    ReconnectStep step = p.onConnectionLost();
    // One connect failure, then connections that open and lose the resume: the
    // connect bound of 2 is not spent by them.
    p.attemptStarted();
    step = p.onAttemptFailed();
    ASSERT_EQ(step.action, Act::kWait);
    int resumes = 0;
    while (step.action == Act::kWait && resumes < 10) {
        p.attemptStarted();
        p.onConnectionOpened();
        ++resumes;
        step = p.onConnectionLost();  // dropped during the resume
        EXPECT_FALSE(step.reportDisconnected);
    }
    EXPECT_EQ(step.action, Act::kGiveUp);
    EXPECT_EQ(resumes, 3);
    EXPECT_EQ(p.failedConnects(), 1);
    EXPECT_EQ(p.failedResumes(), 3);
}

TEST(ReconnectPolicy, BackoffCountsEveryFailedAttemptOfTheOutage)
{
    ReconnectPolicy p(10, 15, fixed(0.5));
    EXPECT_EQ(p.onConnectionLost().delay, 100ms);
    p.attemptStarted();
    EXPECT_EQ(p.onAttemptFailed().delay, 200ms);
    p.attemptStarted();
    p.onConnectionOpened();
    EXPECT_EQ(p.onAttemptFailed().delay, 400ms);
}

TEST(ReconnectPolicy, SuccessfulResumeStartsTheNextOutageAfresh)
{
    ReconnectPolicy p(3, 3, fixed(0.5));
    p.onConnectionLost();
    p.attemptStarted();
    (void)p.onAttemptFailed();
    p.attemptStarted();
    (void)p.onAttemptFailed();
    p.attemptStarted();
    p.onConnectionOpened();
    p.onResumed();
    EXPECT_FALSE(p.inOutage());
    const ReconnectStep step = p.onConnectionLost();
    EXPECT_TRUE(step.reportDisconnected);
    EXPECT_EQ(step.delay, 100ms);
    EXPECT_EQ(failConnectsUntilGiveUp(p, step).size(), 3u);
}

TEST(ReconnectPolicy, StopEndsReconnectingForGood)
{
    ReconnectPolicy p(10, 15, fixed(0.5));
    p.onConnectionLost();
    p.attemptStarted();
    p.stop();  // logout or setClosing(1) while an attempt runs
    EXPECT_EQ(p.onAttemptFailed().action, Act::kNone);
    EXPECT_EQ(p.onConnectionLost().action, Act::kNone);
    EXPECT_EQ(p.reconnect().action, Act::kNone);
    p.onResumed();
    EXPECT_TRUE(p.stopped());
}

TEST(ReconnectPolicy, ReconnectRunsAFreshCycleReportedOncePerOutage)
{
    ReconnectPolicy p(2, 15, fixed(0.5));
    ReconnectStep step = p.reconnect();  // from a live connection
    EXPECT_EQ(step.action, Act::kWait);
    EXPECT_TRUE(step.reportDisconnected);
    p.attemptStarted();
    EXPECT_EQ(p.onAttemptFailed().delay, 200ms);

    step = p.reconnect();  // again during the outage: counts and delay start over, no new report
    EXPECT_FALSE(step.reportDisconnected);
    EXPECT_EQ(step.delay, 100ms);
    EXPECT_EQ(failConnectsUntilGiveUp(p, step).size(), 2u);

    step = p.reconnect();  // after giving up: a new outage, reported again
    EXPECT_TRUE(step.reportDisconnected);
    EXPECT_EQ(step.action, Act::kWait);
}

TEST(ReconnectPolicy, ZeroOrNegativeBoundsGiveUpAtOnce)
{
    struct Case {
        int connects;
        int resumes;
    };
    for (const Case c : {Case{0, 15}, Case{10, 0}, Case{-1, 15}, Case{10, -7}}) {
        ReconnectPolicy p(c.connects, c.resumes, fixed(0.5));
        const ReconnectStep step = p.onConnectionLost();
        EXPECT_EQ(step.action, Act::kGiveUp) << c.connects << "," << c.resumes;
        EXPECT_TRUE(step.reportDisconnected);  // the outage is still reported before the give-up
    }
}

TEST(ReconnectPolicy, NewBoundsApplyAtTheNextFailure)
{
    ReconnectPolicy p(10, 15, fixed(0.5));
    p.onConnectionLost();
    p.attemptStarted();
    (void)p.onAttemptFailed();
    p.setNoReconnectAttempts(2);
    p.attemptStarted();
    EXPECT_EQ(p.onAttemptFailed().action, Act::kGiveUp);
}

TEST(ReconnectPolicy, EventsOutOfTurnAreIgnored)
{
    ReconnectPolicy p(10, 15, fixed(0.5));
    EXPECT_EQ(p.onAttemptFailed().action, Act::kNone);  // no outage
    p.onConnectionOpened();
    p.attemptStarted();
    EXPECT_FALSE(p.inOutage());
    p.onConnectionLost();
    EXPECT_EQ(p.onConnectionLost().action, Act::kNone);  // a second report while waiting
    EXPECT_EQ(p.onAttemptFailed().action, Act::kNone);   // no attempt is running
    EXPECT_EQ(p.failedConnects(), 0);
}

TEST(ReconnectPolicy, DefaultRandomSourceJitters)
{
    ReconnectPolicy p(10, 15);
    std::set<Duration::rep> seen;
    for (int i = 0; i < 50; ++i) {
        const ReconnectStep step = p.reconnect();
        EXPECT_GE(step.delay, 80ms);
        EXPECT_LE(step.delay, 120ms);
        seen.insert(step.delay.count());
    }
    EXPECT_GT(seen.size(), 1u);  // clients cut together do not come back in step
}

} // namespace
} // namespace merrow::detail
