#pragma once
// Price history: bars of any timeframe over any range, generated deterministically
// from the seed. Before the current run the mid follows a synthetic path, a sum of
// value-noise layers of growing spacing whose increments behave like a random walk of
// the instrument's volatility; it passes through each instrument's anchor (the run's
// start price), so history leads into the live prices. For the span the LiveTape
// covers, bars are built from the run's own ticks, so history agrees with them.
// Minute and hour bars align to UTC, day bars to 17:00 New York, weeks to Sunday
// 17:00, months to the trading days whose session ends in that month.

#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

#include "status.h"
#include "timeframes.h"
#include "world.h"
#include "zone_rules.h"

namespace pellora::dealer {

// One bar, prices in units of 10^-digits. A tick has its bid and ask in open, close,
// high and low alike.
struct Bar {
    UnixMs time = 0;  // start of the bar, or the tick's time
    int64_t bidOpen = 0, bidClose = 0, bidHigh = 0, bidLow = 0;
    int64_t askOpen = 0, askClose = 0, askHigh = 0, askLow = 0;
    int64_t volume = 0;
};

// The ticks of the current run, summarised per instrument in 10-second slots and kept
// for at most maxSpan. [Threading] Thread-safe: the price thread records while
// request threads read.
class LiveTape {
public:
    static constexpr UnixMs kSlotMs = 10 * kMsPerSecond;

    explicit LiveTape(size_t instruments, UnixMs maxSpan = 7 * kMsPerDay);
    void record(size_t index, UnixMs t, int64_t bidUnits, int64_t askUnits);

    struct Slot {
        int64_t slot = 0;  // t / kSlotMs
        UnixMs lastTime = 0;
        int64_t bidOpen = 0, bidHigh = 0, bidLow = 0, bidClose = 0;
        int64_t askOpen = 0, askHigh = 0, askLow = 0, askClose = 0;
        int64_t ticks = 0;
    };
    // Slots of one instrument overlapping [from, to), oldest first, and the start of
    // the covered span (false when the instrument has no recorded tick).
    bool read(size_t index, UnixMs from, UnixMs to, std::vector<Slot>& out, UnixMs& spanStart) const;

private:
    mutable std::mutex mu_;
    std::vector<std::deque<Slot>> slots_;  // guarded by mu_
    UnixMs maxSpan_;
};

struct HistoryRequest {
    std::string offerId;
    const Timeframe* timeframe = nullptr;
    UnixMs from = 0;  // 0: as far back as the count reaches
    UnixMs to = 0;    // 0: now
    int count = 0;    // 0: 300; at most kMaxBars
    bool includeWeekends = false;
};

// [Threading] Immutable after the anchors are set; bars() may run on many threads.
class HistoryGenerator {
public:
    static constexpr int kDefaultBars = 300;
    static constexpr int kMaxBars = 10000;

    // Anchors every instrument's path at its start mid at anchorTime.
    HistoryGenerator(uint64_t seed, const std::vector<Instrument>& instruments, const MarketCalendar& calendar,
                     UnixMs anchorTime);
    // The path passes through midUnits at time t (a resumed run anchors at its
    // restored prices).
    void setAnchor(size_t index, UnixMs t, int64_t midUnits);

    // Bars oldest first: the last `count` bars that overlap [from, to] and start at or
    // before now. Fails for an unknown offer or a missing timeframe.
    Status bars(const HistoryRequest& request, UnixMs now, const LiveTape* tape, std::vector<Bar>& out) const;

    int indexOf(const std::string& offerId) const;

private:
    struct Path {
        int64_t spread = 0;
        double sigma = 0;  // units per base step
        uint64_t key = 0;
        std::vector<uint64_t> levelKeys;  // one per noise layer
        int64_t anchorBase = 0;
        double anchorValue = 0;
        int64_t anchorMid = 0;
    };
    double noise(const Path& p, int64_t u) const;
    void sample(const Path& p, int64_t u, Bar& b) const;
    UnixMs barStart(const Timeframe& tf, UnixMs t) const;
    UnixMs barEnd(const Timeframe& tf, UnixMs start) const;
    bool buildBar(const Path& p, UnixMs start, UnixMs end, bool weekends, const std::vector<LiveTape::Slot>& live,
                  UnixMs liveStart, bool hasLive, CalendarCache& days, Bar& out) const;
    Status ticks(size_t index, const HistoryRequest& r, UnixMs to, const LiveTape* tape, std::vector<Bar>& out) const;

    uint64_t seed_;
    std::vector<Instrument> instruments_;
    std::vector<Path> paths_;
    const MarketCalendar& calendar_;
};

// The DAS text of a history answer: one line per bar,
// "YYYYMMDD-HH:MM:SS;bid open;bid close;bid high;bid low;ask open;ask close;ask high;ask low;volume".
std::string barLines(const std::vector<Bar>& bars, int digits);

} // namespace pellora::dealer
