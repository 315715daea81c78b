// Random order requests, price moves, margin calls and roll-overs fed to the dealer's
// order engine; after each one its books must stay consistent (balances equal their
// booked history, every open trade has its margin, no order refers to a missing
// trade or primary).

#include <cstdio>
#include <cstdlib>

#include "order_engine_driver.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    pellora::dealer::EngineDriver d;
    const uint8_t* p = data;
    while (d.step(p, data + size)) {
        const std::string fault = d.engine().consistencyFault(d.startBalances());
        if (!fault.empty()) {
            std::fprintf(stderr, "inconsistent: %s\n", fault.c_str());
            std::abort();
        }
    }
    return 0;
}
