#include "reconnect_policy.h"

#include <algorithm>
#include <cmath>
#include <memory>
#include <random>

namespace merrow::detail {

namespace {

ReconnectPolicy::RandomSource defaultRandom()
{
    auto gen = std::make_shared<std::mt19937_64>(std::random_device{}());
    return [gen] { return std::uniform_real_distribution<double>(0.0, 1.0)(*gen); };
}

} // namespace

ReconnectPolicy::ReconnectPolicy(int reconnectAttempts, int reloginAttempts, RandomSource random)
    : m_maxConnects(std::max(0, reconnectAttempts)),
      m_maxResumes(std::max(0, reloginAttempts)),
      m_random(random ? std::move(random) : defaultRandom())
{
}

void ReconnectPolicy::setNoReconnectAttempts(int n)
{
    m_maxConnects = std::max(0, n);
}

void ReconnectPolicy::setNoReloginAttempts(int n)
{
    m_maxResumes = std::max(0, n);
}

ReconnectStep ReconnectPolicy::onConnectionLost()
{
    switch (m_phase) {
    case Phase::kConnected:
        return beginOutage(true);
    case Phase::kConnecting:
    case Phase::kResuming:
        return onAttemptFailed();
    default:
        // Waiting already, given up or stopped: a late report of the same loss.
        return {};
    }
}

ReconnectStep ReconnectPolicy::reconnect()
{
    if (m_phase == Phase::kStopped)
        return {};
    return beginOutage(!inOutage());
}

void ReconnectPolicy::attemptStarted()
{
    if (m_phase == Phase::kWaiting)
        m_phase = Phase::kConnecting;
}

void ReconnectPolicy::onConnectionOpened()
{
    if (m_phase == Phase::kConnecting)
        m_phase = Phase::kResuming;
}

ReconnectStep ReconnectPolicy::onAttemptFailed()
{
    if (m_phase == Phase::kConnecting)
        ++m_failedConnects;
    else if (m_phase == Phase::kResuming)
        ++m_failedResumes;
    else
        return {};
    return nextStep();
}

void ReconnectPolicy::onResumed()
{
    if (m_phase == Phase::kStopped)
        return;
    m_phase = Phase::kConnected;
    m_failedConnects = 0;
    m_failedResumes = 0;
}

void ReconnectPolicy::stop()
{
    m_phase = Phase::kStopped;
}

ReconnectStep ReconnectPolicy::beginOutage(bool report)
{
    m_failedConnects = 0;
    m_failedResumes = 0;
    ReconnectStep step = nextStep();
    step.reportDisconnected = report;
    return step;
}

ReconnectStep ReconnectPolicy::nextStep()
{
    // A bound of n tolerates n failures of its kind; a bound of 0 gives up at once.
    if (m_failedConnects >= m_maxConnects || m_failedResumes >= m_maxResumes) {
        m_phase = Phase::kGaveUp;
        return {ReconnectAction::kGiveUp, Duration::zero(), false};
    }
    m_phase = Phase::kWaiting;
    return {ReconnectAction::kWait, backoff(m_failedConnects + m_failedResumes), false};
}

Duration ReconnectPolicy::backoff(int attempt)
{
    Duration base = kFirstDelay;
    for (int i = 0; i < attempt && base < kMaxDelay; ++i)
        base *= 2;
    base = std::min(base, kMaxDelay);
    double u = m_random();
    if (!(u >= 0.0))  // also NaN
        u = 0.0;
    u = std::min(u, 1.0);
    const double factor = 1.0 - kJitter + 2.0 * kJitter * u;
    return Duration(static_cast<Duration::rep>(std::llround(static_cast<double>(base.count()) * factor)));
}

} // namespace merrow::detail
