#include "logon_rate_limiter.h"

#include <algorithm>

namespace merrow::detail {

LogonRateLimiter::LogonRateLimiter(const Clock& clock, std::size_t maxFailures, Duration window)
    : m_clock(clock), m_maxFailures(std::max<std::size_t>(1, maxFailures)), m_window(window)
{
}

LogonVerdict LogonRateLimiter::check(std::string_view user, std::string_view address)
{
    const TimePoint now = m_clock.now();
    expire(now);
    const Duration wait = std::max(waitFor(m_users, user, now), waitFor(m_addresses, address, now));
    if (wait <= Duration::zero())
        return {};
    // Whole seconds, rounded up, so that trying again at the time named succeeds.
    const auto seconds = std::max<long long>(1, std::chrono::ceil<std::chrono::seconds>(wait).count());
    std::string text = "Too many failed logons; try again in " + std::to_string(seconds) +
                       (seconds == 1 ? " second." : " seconds.");
    return {false, wait, std::move(text)};
}

void LogonRateLimiter::recordFailure(std::string_view user, std::string_view address)
{
    const TimePoint now = m_clock.now();
    expire(now);
    m_users[std::string(user)].push_back(now);
    m_addresses[std::string(address)].push_back(now);
    m_order.push_back({now, true, std::string(user)});
    m_order.push_back({now, false, std::string(address)});
}

LogonVerdict LogonRateLimiter::begin(std::string_view user, std::string_view address)
{
    LogonVerdict verdict = check(user, address);
    if (!verdict.allowed)
        return verdict;
    const std::string key(user);
    auto failed = m_users.find(key);
    const std::size_t failures = failed == m_users.end() ? 0 : failed->second.size();
    auto running = m_inFlight.find(key);
    const std::size_t inFlight = running == m_inFlight.end() ? 0 : running->second;
    if (failures + inFlight >= m_maxFailures)
        return {false, std::chrono::seconds(1), "Too many logons at once; try again in 1 second."};
    ++m_inFlight[key];
    return {};
}

void LogonRateLimiter::end(std::string_view user, std::string_view address, bool failed)
{
    auto it = m_inFlight.find(std::string(user));
    if (it != m_inFlight.end() && --it->second == 0)
        m_inFlight.erase(it);
    if (failed)
        recordFailure(user, address);
}

void LogonRateLimiter::expire(TimePoint now)
{
    // Failures enter m_order in time order, so each one leaving it is also the oldest
    // failure of its key.
    while (!m_order.empty() && m_order.front().at + m_window <= now) {
        Stamp& stamp = m_order.front();
        Failures& map = stamp.isUser ? m_users : m_addresses;
        auto it = map.find(stamp.key);
        if (it != map.end()) {
            it->second.pop_front();
            if (it->second.empty())
                map.erase(it);
        }
        m_order.pop_front();
    }
}

Duration LogonRateLimiter::waitFor(const Failures& map, std::string_view key, TimePoint now) const
{
    auto it = map.find(std::string(key));
    if (it == map.end() || it->second.size() < m_maxFailures)
        return Duration::zero();
    // One more attempt is allowed once all but maxFailures - 1 of them have aged out.
    const TimePoint freed = it->second[it->second.size() - m_maxFailures] + m_window;
    return freed - now;
}

} // namespace merrow::detail
