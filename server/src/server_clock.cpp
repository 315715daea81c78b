#include "server_clock.h"

#include <chrono>

namespace pellora::dealer {

UnixMs ServerClock::systemNow() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
}

UnixMs ServerClock::now() const { return virtual_ ? now_.load() : systemNow(); }

Status ServerClock::step(UnixMs ms) {
    if (!virtual_) return Status::error("The clock is real; only a virtual clock can be stepped.");
    if (ms < 0) return Status::error("The clock cannot step backwards.");
    now_.fetch_add(ms);
    return Status::ok();
}

} // namespace pellora::dealer
