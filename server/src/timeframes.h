#pragma once
// The price-history timeframes the SDK knows, with the interval codes its requests
// carry. The table is constant.

#include <string>
#include <vector>

#include "status.h"

namespace pellora::dealer {

enum class TimeUnit { Tick = 0, Minute = 1, Hour = 2, Day = 3, Week = 4, Month = 5 };

struct Timeframe {
    const char* id;  // "t1", "m1" ... "M1" (case-sensitive)
    TimeUnit unit;
    int size;
    int intervalCode;
};

const std::vector<Timeframe>& timeframes();
const Timeframe* findTimeframe(const std::string& id);

// The timeframe a request names: its interval code and, for the hour frames (code 5),
// its settlement type ("H2" ... "H8"; empty means "H1"). Other codes ignore the
// settlement type. Unknown combinations fail with a text for a person.
Status timeframeFromRequest(int intervalCode, const std::string& settlementType, const Timeframe*& out);

} // namespace pellora::dealer
