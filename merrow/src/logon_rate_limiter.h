#pragma once
// Slows down password guessing on the server: a user name, or a peer address, with
// too many failed logons within a sliding window is refused before its credentials
// are checked, with a text that tells the person when to try again.

#include "clock.h"

#include <cstddef>
#include <deque>
#include <string>
#include <string_view>
#include <unordered_map>

namespace merrow::detail {

struct [[nodiscard]] LogonVerdict {
    bool allowed = true;
    Duration retryAfter{};  // when refused: the wait until one more attempt is allowed
    std::string text;       // when refused: the LogonReject text
};

// [Threading] Not thread-safe: the server calls it from one strand (or under its lock).
// [Contract] The clock outlives the limiter. Memory is bounded by the failures inside
// the window: a key whose failures have all aged out is forgotten.
class LogonRateLimiter {
public:
    static constexpr std::size_t kDefaultMaxFailures = 5;
    static constexpr Duration kDefaultWindow = std::chrono::seconds(10);

    explicit LogonRateLimiter(const Clock& clock, std::size_t maxFailures = kDefaultMaxFailures,
                              Duration window = kDefaultWindow);

    // Asked before the credentials are checked. A refused attempt is not a failure of
    // its own, so a person who waits the time named can try again.
    LogonVerdict check(std::string_view user, std::string_view address);

    // The credentials were wrong (or the logon was refused for another reason of the
    // person's making); counts against both the user and the address.
    void recordFailure(std::string_view user, std::string_view address);

    // check() for an attempt that starts now; when allowed the attempt counts against
    // its user name until end(): attempts for one user arriving together get no more
    // password checks than one at a time would. Address keys are not counted here:
    // many people may share one address.
    LogonVerdict begin(std::string_view user, std::string_view address);
    // The attempt begun ended; `failed` records it as recordFailure does.
    void end(std::string_view user, std::string_view address, bool failed);

    // User names and addresses currently remembered.
    std::size_t trackedKeys() const { return m_users.size() + m_addresses.size(); }

private:
    using Failures = std::unordered_map<std::string, std::deque<TimePoint>>;
    struct Stamp {
        TimePoint at;
        bool isUser;
        std::string key;
    };

    void expire(TimePoint now);
    Duration waitFor(const Failures& map, std::string_view key, TimePoint now) const;

    const Clock& m_clock;
    std::size_t m_maxFailures;
    Duration m_window;
    Failures m_users;
    Failures m_addresses;
    std::deque<Stamp> m_order;  // every failure in the window, oldest first
    std::unordered_map<std::string, std::size_t> m_inFlight;  // begun, not ended, per user
};

} // namespace merrow::detail
