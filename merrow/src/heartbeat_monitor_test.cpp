#include "heartbeat_monitor.h"

#include <gtest/gtest.h>

#include <utility>
#include <vector>

namespace merrow::detail {
namespace {

using namespace std::chrono_literals;
using A = HeartbeatAction;

constexpr Duration kI = 200ms;

const char* name(A a)
{
    switch (a) {
    case A::kNone: return "none";
    case A::kSendHeartbeat: return "heartbeat";
    case A::kSendTestRequest: return "test request";
    case A::kDead: return "dead";
    }
    return "?";
}

} // namespace

void PrintTo(HeartbeatAction a, std::ostream* os)
{
    *os << name(a);
}

namespace {

class HeartbeatMonitorTest : public ::testing::Test {
protected:
    // Moves the clock to `at` after the start (never back) and polls.
    A pollAt(Duration at)
    {
        clock.advance(start + at - clock.now());
        return monitor.poll();
    }

    ManualClock clock;
    TimePoint start = clock.now();
    HeartbeatMonitor monitor{clock, kI};
};

TEST_F(HeartbeatMonitorTest, SilentPeerTimelineCountedInIntervals)
{
    struct Step {
        Duration at;
        A expected;
    };
    const Step steps[] = {
        {kI - 1ns, A::kNone},
        {kI, A::kSendHeartbeat},
        {kI + 1ms, A::kNone},                 // the heartbeat counts as sent
        {kI * 3 / 2 - 1ns, A::kNone},
        {kI * 3 / 2, A::kSendTestRequest},    // also stands in for the next heartbeat
        {kI * 2, A::kNone},
        {kI * 249 / 100, A::kNone},           // 2.49 intervals: still alive
        {kI * 5 / 2 - 1ns, A::kNone},
        {kI * 5 / 2, A::kDead},
        {kI * 3, A::kDead},                   // dead stays dead
    };
    for (const Step& s : steps)
        EXPECT_EQ(pollAt(s.at), s.expected) << "at " << s.at.count() << " ns";
}

TEST_F(HeartbeatMonitorTest, OwnerArmingOneTimerAtNextDeadlineSeesTheSameTimeline)
{
    std::vector<std::pair<Duration, A>> seen;
    for (int i = 0; i < 20; ++i) {
        clock.advance(monitor.nextDeadline() - clock.now());
        const A a = monitor.poll();
        seen.emplace_back(clock.now() - start, a);
        if (a == A::kDead)
            break;
    }
    const std::vector<std::pair<Duration, A>> expected = {
        {kI, A::kSendHeartbeat}, {kI * 3 / 2, A::kSendTestRequest}, {kI * 5 / 2, A::kDead}};
    EXPECT_EQ(seen, expected);
}

TEST_F(HeartbeatMonitorTest, TrafficResetsTheSilenceAndAllowsAnotherTestRequest)
{
    EXPECT_EQ(pollAt(kI * 3 / 2), A::kSendTestRequest);
    EXPECT_EQ(pollAt(kI * 2), A::kNone);   // once per silence
    pollAt(kI * 24 / 10);
    monitor.onFrameReceived();             // the answer, just before 2.5 I
    EXPECT_EQ(pollAt(kI * 5 / 2), A::kSendHeartbeat);  // alive: one interval after the TestRequest
    EXPECT_EQ(monitor.nextDeadline(), start + kI * 7 / 2);
    EXPECT_EQ(pollAt(kI * 7 / 2), A::kSendHeartbeat);
    // A new silence, counted from 2.4 I: TestRequest at 3.9 I, dead at 4.9 I.
    EXPECT_EQ(pollAt(kI * 39 / 10 - 1ns), A::kNone);
    EXPECT_EQ(pollAt(kI * 39 / 10), A::kSendTestRequest);
    EXPECT_EQ(pollAt(kI * 49 / 10 - 1ns), A::kNone);
    EXPECT_EQ(pollAt(kI * 49 / 10), A::kDead);
}

TEST_F(HeartbeatMonitorTest, OwnTrafficPostponesHeartbeatsButNotTheDeadline)
{
    // A busy sender to a silent peer: never a heartbeat, still a TestRequest and death.
    for (Duration t = 50ms; t < kI * 5 / 2; t += 50ms) {
        const A a = pollAt(t);
        EXPECT_NE(a, A::kSendHeartbeat) << t.count();
        EXPECT_NE(a, A::kDead) << t.count();
        monitor.onFrameSent();
    }
    EXPECT_EQ(pollAt(kI * 5 / 2), A::kDead);
}

TEST_F(HeartbeatMonitorTest, FramesAfterDeathDoNotReviveButRestartDoes)
{
    EXPECT_EQ(pollAt(kI * 3), A::kDead);  // a late timer still finds it dead
    monitor.onFrameReceived();
    EXPECT_EQ(monitor.poll(), A::kDead);
    monitor.restart();
    EXPECT_EQ(monitor.poll(), A::kNone);
    EXPECT_EQ(monitor.nextDeadline(), clock.now() + kI);
}

TEST_F(HeartbeatMonitorTest, NegotiatedIntervalAppliesToRunningTimers)
{
    monitor.setInterval(1s);
    EXPECT_EQ(pollAt(999ms), A::kNone);
    EXPECT_EQ(pollAt(1s), A::kSendHeartbeat);
    EXPECT_EQ(pollAt(1499ms), A::kNone);
    EXPECT_EQ(pollAt(1500ms), A::kSendTestRequest);
    EXPECT_EQ(pollAt(2499ms), A::kNone);
    EXPECT_EQ(pollAt(2500ms), A::kDead);
}

TEST(HeartbeatMonitor, AbsurdIntervalsAreClamped)
{
    ManualClock clock;
    HeartbeatMonitor zero(clock, Duration::zero());
    EXPECT_EQ(zero.interval(), HeartbeatMonitor::kMinInterval);
    EXPECT_EQ(zero.poll(), A::kNone);  // no heartbeat storm at a zero interval
    HeartbeatMonitor negative(clock, -5s);
    EXPECT_EQ(negative.interval(), HeartbeatMonitor::kMinInterval);
    HeartbeatMonitor huge(clock, std::chrono::hours(1000));
    EXPECT_EQ(huge.interval(), HeartbeatMonitor::kMaxInterval);
}

TEST(HeartbeatMonitor, OddNanosecondIntervalNeverDiesEarly)
{
    ManualClock clock;
    const Duration odd = HeartbeatMonitor::kMinInterval + 1ns;
    HeartbeatMonitor monitor(clock, odd);
    // 2.5 intervals is a fractional nanosecond count; the deadline rounds up.
    clock.advance(odd * 5 / 2);
    EXPECT_NE(monitor.poll(), A::kDead);
    clock.advance(1ns);
    EXPECT_EQ(monitor.poll(), A::kDead);
}

} // namespace
} // namespace merrow::detail
