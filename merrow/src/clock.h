#pragma once
// The monotonic time source of the transport's state machines. Everything that
// counts intervals takes a Clock, so that tests advance time by hand and never sleep.

#include <atomic>
#include <chrono>
#include <cstdint>

namespace merrow::detail {

using Duration = std::chrono::nanoseconds;
using TimePoint = std::chrono::time_point<std::chrono::steady_clock, Duration>;

// [Threading] now() may be called from any thread.
class Clock {
public:
    virtual ~Clock() = default;
    virtual TimePoint now() const = 0;
};

// The process's steady clock; the one instance lives for the whole process. It is
// never destroyed: I/O threads may still read it while the process runs its exit.
class SteadyClock final : public Clock {
public:
    TimePoint now() const override { return std::chrono::steady_clock::now(); }
    static const SteadyClock& instance()
    {
        static const SteadyClock* const clock = new SteadyClock;
        return *clock;
    }
};

// A clock that moves only when told to. It starts well after the epoch, so that
// "now minus an interval" never falls before it.
// [Threading] advance() and now() may race; each sees a whole value.
class ManualClock final : public Clock {
public:
    ManualClock() = default;
    explicit ManualClock(TimePoint start) : m_ns(start.time_since_epoch().count()) {}

    TimePoint now() const override
    {
        return TimePoint(Duration(m_ns.load(std::memory_order_acquire)));
    }
    // Negative steps are ignored: a monotonic clock never goes back.
    void advance(Duration d)
    {
        if (d.count() > 0)
            m_ns.fetch_add(d.count(), std::memory_order_acq_rel);
    }

private:
    std::atomic<std::int64_t> m_ns{std::chrono::duration_cast<Duration>(std::chrono::hours(24)).count()};
};

} // namespace merrow::detail
