#include "heartbeat_monitor.h"

#include <algorithm>

namespace merrow::detail {

namespace {

Duration clampInterval(Duration d)
{
    return std::clamp(d, HeartbeatMonitor::kMinInterval, HeartbeatMonitor::kMaxInterval);
}

// Time since t; a clock that reads earlier than t counts as no time at all.
Duration since(TimePoint now, TimePoint t)
{
    return now > t ? now - t : Duration::zero();
}

} // namespace

HeartbeatMonitor::HeartbeatMonitor(const Clock& clock, Duration interval)
    : m_clock(clock), m_interval(clampInterval(interval))
{
    restart();
}

void HeartbeatMonitor::restart()
{
    m_lastSent = m_lastReceived = m_clock.now();
    m_testRequestSent = false;
    m_dead = false;
}

void HeartbeatMonitor::setInterval(Duration interval)
{
    m_interval = clampInterval(interval);
}

void HeartbeatMonitor::onFrameSent()
{
    m_lastSent = m_clock.now();
}

void HeartbeatMonitor::onFrameReceived()
{
    if (m_dead)
        return;
    m_lastReceived = m_clock.now();
    m_testRequestSent = false;
}

HeartbeatAction HeartbeatMonitor::poll()
{
    if (m_dead)
        return HeartbeatAction::kDead;
    const TimePoint now = m_clock.now();
    const Duration silence = since(now, m_lastReceived);
    if (silence >= deadAfter()) {
        m_dead = true;
        return HeartbeatAction::kDead;
    }
    if (!m_testRequestSent && silence >= testRequestAfter()) {
        m_testRequestSent = true;
        m_lastSent = now;
        return HeartbeatAction::kSendTestRequest;
    }
    if (since(now, m_lastSent) >= m_interval) {
        m_lastSent = now;
        return HeartbeatAction::kSendHeartbeat;
    }
    return HeartbeatAction::kNone;
}

TimePoint HeartbeatMonitor::nextDeadline() const
{
    TimePoint next = m_lastReceived + deadAfter();
    if (m_dead)
        return next;
    next = std::min(next, m_lastSent + m_interval);
    if (!m_testRequestSent)
        next = std::min(next, m_lastReceived + testRequestAfter());
    return next;
}

} // namespace merrow::detail
