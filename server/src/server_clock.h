#pragma once
// The dealer's clock: real time, or a virtual time that moves only when a control
// command steps it. Thread-safe: now() may race with step().

#include <atomic>

#include "status.h"
#include "wire_time.h"

namespace pellora::dealer {

class ServerClock {
public:
    // A real clock (start ignored), or a virtual one standing at start.
    ServerClock(bool isVirtual, UnixMs start) : virtual_(isVirtual), now_(start) {}
    ServerClock(const ServerClock&) = delete;
    ServerClock& operator=(const ServerClock&) = delete;

    bool isVirtual() const { return virtual_; }
    UnixMs now() const;
    // Virtual clocks only: moves forward by ms (ms >= 0).
    Status step(UnixMs ms);

    static UnixMs systemNow();

private:
    const bool virtual_;
    std::atomic<UnixMs> now_;
};

} // namespace pellora::dealer
