#pragma once
// Decides, from the times of the last frame sent and received, when a connection
// needs a Heartbeat, a TestRequest, or is dead. The owner feeds it traffic, calls
// poll() when its one timer fires, and re-arms that timer at nextDeadline().

#include "clock.h"

namespace merrow::detail {

enum class HeartbeatAction {
    kNone,
    kSendHeartbeat,   // nothing was sent for one interval
    kSendTestRequest, // nothing was received for 1.5 intervals; once per silence
    kDead,            // nothing was received for 2.5 intervals: drop the connection
};

// [Threading] Not thread-safe: used on the owning connection's strand.
// [Contract] The clock outlives the monitor.
class HeartbeatMonitor {
public:
    // Intervals outside [kMinInterval, kMaxInterval] are clamped, so a peer asking for
    // 0 or an absurd value can neither flood the line nor escape the idle rule.
    static constexpr Duration kMinInterval = std::chrono::milliseconds(10);
    static constexpr Duration kMaxInterval = std::chrono::hours(1);

    HeartbeatMonitor(const Clock& clock, Duration interval);

    // Starts counting afresh, as for a connection that has just opened.
    void restart();
    // The negotiated interval (from LogonAck) replaces the current one; timers keep running.
    void setInterval(Duration interval);
    Duration interval() const { return m_interval; }

    // Any frame written to, or read from, the connection (heart-beats included).
    void onFrameSent();
    void onFrameReceived();

    // What is due now. A Heartbeat or TestRequest returned counts as sent: the owner
    // need not report it through onFrameSent(). A TestRequest stands in for a
    // Heartbeat due at the same moment. Once kDead, it stays kDead until restart().
    HeartbeatAction poll();

    // The earliest moment at which poll() may answer something other than kNone.
    TimePoint nextDeadline() const;

private:
    // Rounded up, so that an odd nanosecond count never makes a deadline early.
    Duration testRequestAfter() const { return (m_interval * 3 + Duration(1)) / 2; }
    Duration deadAfter() const { return (m_interval * 5 + Duration(1)) / 2; }

    const Clock& m_clock;
    Duration m_interval;
    TimePoint m_lastSent;
    TimePoint m_lastReceived;
    bool m_testRequestSent = false;
    bool m_dead = false;
};

} // namespace merrow::detail
