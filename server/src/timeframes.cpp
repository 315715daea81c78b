#include "timeframes.h"

namespace pellora::dealer {

const std::vector<Timeframe>& timeframes() {
    static const std::vector<Timeframe> table = {
        {"t1", TimeUnit::Tick, 1, 0},   {"m1", TimeUnit::Minute, 1, 1}, {"m5", TimeUnit::Minute, 5, 2},
        {"m15", TimeUnit::Minute, 15, 3}, {"m30", TimeUnit::Minute, 30, 4}, {"H1", TimeUnit::Hour, 1, 5},
        {"H2", TimeUnit::Hour, 2, 5},   {"H3", TimeUnit::Hour, 3, 5},   {"H4", TimeUnit::Hour, 4, 5},
        {"H6", TimeUnit::Hour, 6, 5},   {"H8", TimeUnit::Hour, 8, 5},   {"D1", TimeUnit::Day, 1, 6},
        {"W1", TimeUnit::Week, 1, 7},   {"M1", TimeUnit::Month, 1, 8},
    };
    return table;
}

const Timeframe* findTimeframe(const std::string& id) {
    for (const Timeframe& t : timeframes())
        if (id == t.id) return &t;
    return nullptr;
}

Status timeframeFromRequest(int intervalCode, const std::string& settlementType, const Timeframe*& out) {
    if (intervalCode == 5) {
        const Timeframe* t = findTimeframe(settlementType.empty() ? "H1" : settlementType);
        if (!t || t->intervalCode != 5)
            return Status::error("Unknown timeframe: hour frame '" + settlementType + "'.");
        out = t;
        return Status::ok();
    }
    for (const Timeframe& t : timeframes())
        if (t.intervalCode == intervalCode) {
            out = &t;
            return Status::ok();
        }
    return Status::error("Unknown timeframe: interval code " + std::to_string(intervalCode) + ".");
}

} // namespace pellora::dealer
