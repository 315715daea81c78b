#include "history.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "det_random.h"
#include "price_engine.h"

namespace pellora::dealer {

namespace {

constexpr UnixMs kBase = LiveTape::kSlotMs;  // the synthetic path's finest step
constexpr int kLevels = 23;                  // spacings of 1 .. 2^22 steps (about 16 months)
constexpr int kSamplesPerBar = 360;          // extremes of long bars are sampled this finely
constexpr uint64_t kVolumeKey = 0x766f6c;

int64_t floorDiv(int64_t a, int64_t b) { return a / b - ((a % b != 0) && ((a < 0) != (b < 0))); }
int64_t ceilDiv(int64_t a, int64_t b) { return -floorDiv(-a, b); }

void merge(Bar& bar, bool& any, const Bar& part) {
    if (!any) {
        const int64_t volume = bar.volume;
        bar = part;
        bar.volume = volume + part.volume;
        any = true;
        return;
    }
    bar.bidHigh = std::max(bar.bidHigh, part.bidHigh);
    bar.bidLow = std::min(bar.bidLow, part.bidLow);
    bar.askHigh = std::max(bar.askHigh, part.askHigh);
    bar.askLow = std::min(bar.askLow, part.askLow);
    bar.bidClose = part.bidClose;
    bar.askClose = part.askClose;
    bar.volume += part.volume;
}

Bar fromSlot(const LiveTape::Slot& s) {
    Bar b;
    b.time = s.lastTime;
    b.bidOpen = s.bidOpen, b.bidHigh = s.bidHigh, b.bidLow = s.bidLow, b.bidClose = s.bidClose;
    b.askOpen = s.askOpen, b.askHigh = s.askHigh, b.askLow = s.askLow, b.askClose = s.askClose;
    b.volume = s.ticks;
    return b;
}

Bar asTick(UnixMs t, int64_t bid, int64_t ask) {
    Bar b;
    b.time = t;
    b.bidOpen = b.bidClose = b.bidHigh = b.bidLow = bid;
    b.askOpen = b.askClose = b.askHigh = b.askLow = ask;
    b.volume = 1;
    return b;
}

} // namespace

// ---- LiveTape

LiveTape::LiveTape(size_t instruments, UnixMs maxSpan) : slots_(instruments), maxSpan_(maxSpan) {}

void LiveTape::record(size_t index, UnixMs t, int64_t bid, int64_t ask) {
    std::lock_guard<std::mutex> lock(mu_);
    if (index >= slots_.size()) return;
    std::deque<Slot>& q = slots_[index];
    const int64_t slot = floorDiv(t, kSlotMs);
    if (!q.empty() && slot < q.back().slot) return;  // the clock never runs back; ignore strays
    if (q.empty() || q.back().slot != slot) {
        Slot s;
        s.slot = slot;
        s.bidOpen = s.bidHigh = s.bidLow = bid;
        s.askOpen = s.askHigh = s.askLow = ask;
        q.push_back(s);
    }
    Slot& s = q.back();
    s.lastTime = t;
    s.bidHigh = std::max(s.bidHigh, bid);
    s.bidLow = std::min(s.bidLow, bid);
    s.askHigh = std::max(s.askHigh, ask);
    s.askLow = std::min(s.askLow, ask);
    s.bidClose = bid;
    s.askClose = ask;
    ++s.ticks;
    while (q.size() > 1 && (q.back().slot - q.front().slot) * kSlotMs > maxSpan_) q.pop_front();
}

bool LiveTape::read(size_t index, UnixMs from, UnixMs to, std::vector<Slot>& out, UnixMs& spanStart) const {
    std::lock_guard<std::mutex> lock(mu_);
    out.clear();
    if (index >= slots_.size() || slots_[index].empty()) return false;
    const std::deque<Slot>& q = slots_[index];
    spanStart = q.front().slot * kSlotMs;
    auto first = std::lower_bound(q.begin(), q.end(), floorDiv(from, kSlotMs),
                                  [](const Slot& s, int64_t v) { return s.slot < v; });
    for (auto it = first; it != q.end() && it->slot * kSlotMs < to; ++it) out.push_back(*it);
    return true;
}

// ---- HistoryGenerator

HistoryGenerator::HistoryGenerator(uint64_t seed, const std::vector<Instrument>& instruments,
                                   const MarketCalendar& calendar, UnixMs anchorTime)
    : seed_(seed), instruments_(instruments), calendar_(calendar) {
    for (size_t i = 0; i < instruments_.size(); ++i) {
        const Instrument& m = instruments_[i];
        const double unitsPerPip = m.pointSize / m.priceUnit();
        Path p;
        p.spread = std::max<int64_t>(0, std::llround(m.spread * unitsPerPip));
        p.sigma = m.volatility * unitsPerPip * std::sqrt(static_cast<double>(kBase) / kMsPerMinute);
        p.key = hashText(m.offerId);
        for (int k = 0; k < kLevels; ++k) p.levelKeys.push_back(hashKeys(seed_, p.key, static_cast<uint64_t>(k)));
        paths_.push_back(p);
        setAnchor(i, anchorTime, (toUnits(m.startBid, m.digits) + toUnits(m.startAsk, m.digits)) / 2);
    }
}

void HistoryGenerator::setAnchor(size_t index, UnixMs t, int64_t midUnits) {
    if (index >= paths_.size()) return;
    Path& p = paths_[index];
    p.anchorBase = floorDiv(t, kBase);
    p.anchorMid = midUnits;
    p.anchorValue = noise(p, p.anchorBase);
}

int HistoryGenerator::indexOf(const std::string& offerId) const {
    for (size_t i = 0; i < instruments_.size(); ++i)
        if (instruments_[i].offerId == offerId) return static_cast<int>(i);
    return -1;
}

double HistoryGenerator::noise(const Path& p, int64_t u) const {
    // Layer k interpolates hashed normals spaced 2^k steps apart; amplitudes grow with
    // the square root of the spacing so increments over a lag h have variance ~ h.
    static const std::vector<double> roots = [] {
        std::vector<double> r;
        for (int k = 0; k < kLevels; ++k) r.push_back(std::sqrt(static_cast<double>(int64_t{1} << k)));
        return r;
    }();
    double sum = 0;
    for (int k = 0; k < kLevels; ++k) {
        const int64_t idx = u >> k;  // g++ and clang shift signed values arithmetically: floor(u / 2^k)
        const int64_t offset = u - (idx << k);
        const double a = gaussianFromHash(mix64(p.levelKeys[k] ^ static_cast<uint64_t>(idx)));
        double v = a;
        if (offset != 0) {
            const double b = gaussianFromHash(mix64(p.levelKeys[k] ^ static_cast<uint64_t>(idx + 1)));
            v += (b - a) * static_cast<double>(offset) / static_cast<double>(int64_t{1} << k);
        }
        sum += v * roots[static_cast<size_t>(k)];
    }
    return 0.4 * p.sigma * sum;
}

void HistoryGenerator::sample(const Path& p, int64_t u, Bar& b) const {
    int64_t mid = p.anchorMid + std::llround(noise(p, u) - p.anchorValue);
    const int64_t floorMid = p.spread / 2 + 1;
    if (mid < floorMid) mid = 2 * floorMid - mid;
    const int64_t bid = mid - p.spread / 2;
    b = asTick(u * kBase, bid, bid + p.spread);
}

UnixMs HistoryGenerator::barStart(const Timeframe& tf, UnixMs t) const {
    switch (tf.unit) {
        case TimeUnit::Tick: return t;
        case TimeUnit::Minute: return floorDiv(t, tf.size * kMsPerMinute) * tf.size * kMsPerMinute;
        case TimeUnit::Hour: return floorDiv(t, tf.size * kMsPerHour) * tf.size * kMsPerHour;
        case TimeUnit::Day: return calendar_.tradingDayStart(t);
        case TimeUnit::Week: return calendar_.weekStart(t);
        case TimeUnit::Month: return calendar_.monthStart(t);
    }
    return t;
}

UnixMs HistoryGenerator::barEnd(const Timeframe& tf, UnixMs start) const {
    switch (tf.unit) {
        case TimeUnit::Tick: return start + 1;
        case TimeUnit::Minute: return start + tf.size * kMsPerMinute;
        case TimeUnit::Hour: return start + tf.size * kMsPerHour;
        case TimeUnit::Day: return calendar_.nextTradingDayStart(start);
        // Two hours past a week absorbs a daylight-saving shift of the 17:00 start.
        case TimeUnit::Week: return calendar_.weekStart(start + 7 * kMsPerDay + 2 * kMsPerHour);
        case TimeUnit::Month: return calendar_.nextMonthStart(start);
    }
    return start + 1;
}

bool HistoryGenerator::buildBar(const Path& p, UnixMs start, UnixMs end, bool weekends,
                                const std::vector<LiveTape::Slot>& live, UnixMs liveStart, bool hasLive,
                                CalendarCache& days, Bar& out) const {
    Bar bar;
    bar.time = start;
    bool any = false;
    const UnixMs synEnd = hasLive ? std::min(end, liveStart) : end;
    if (synEnd > start) {
        const int64_t first = ceilDiv(start, kBase);
        const int64_t last = floorDiv(synEnd - 1, kBase);
        const int64_t step = std::max<int64_t>(1, (last - first + 1) / kSamplesPerBar);
        for (int64_t u = first; u <= last; u += (u + step > last && u != last) ? last - u : step) {
            if (!weekends && days.isWeekend(u * kBase)) continue;
            Bar pt;
            sample(p, u, pt);
            pt.volume = step * static_cast<int64_t>(1 + hashKeys(seed_, p.key, kVolumeKey, static_cast<uint64_t>(u)) % 9);
            merge(bar, any, pt);
        }
    }
    if (hasLive) {
        for (const LiveTape::Slot& s : live) {
            const UnixMs t = s.slot * kBase;
            if (t + kBase <= start || t >= end) continue;
            if (!weekends && days.isWeekend(s.lastTime)) continue;
            merge(bar, any, fromSlot(s));
        }
    }
    bar.time = start;
    if (any) out = bar;
    return any;
}

Status HistoryGenerator::ticks(size_t index, const HistoryRequest& r, UnixMs to, const LiveTape* tape,
                               std::vector<Bar>& out) const {
    const Path& p = paths_[index];
    const int count = r.count > 0 ? std::min(r.count, kMaxBars) : kDefaultBars;
    CalendarCache days(calendar_);
    std::vector<Bar> newestFirst;
    std::vector<LiveTape::Slot> live;
    UnixMs liveStart = 0;
    const bool hasLive = tape && tape->read(index, r.from, to + 1, live, liveStart);
    for (auto it = live.rbegin(); it != live.rend() && static_cast<int>(newestFirst.size()) < count; ++it) {
        if (it->lastTime > to || it->lastTime < r.from) continue;
        if (!r.includeWeekends && days.isWeekend(it->lastTime)) continue;
        newestFirst.push_back(asTick(it->lastTime, it->bidClose, it->askClose));
    }
    const UnixMs synTo = hasLive ? std::min(to, liveStart - 1) : to;
    // A weekend is 17280 steps; the bound keeps a walk over one from looping long.
    int64_t budget = static_cast<int64_t>(count) * 2 + 40000;
    for (int64_t u = floorDiv(synTo, kBase); static_cast<int>(newestFirst.size()) < count && budget-- > 0; --u) {
        const UnixMs t = u * kBase;
        if (t < r.from) break;
        if (!r.includeWeekends && days.isWeekend(t)) continue;
        Bar b;
        sample(p, u, b);
        newestFirst.push_back(b);
    }
    out.assign(newestFirst.rbegin(), newestFirst.rend());
    return Status::ok();
}

Status HistoryGenerator::bars(const HistoryRequest& r, UnixMs now, const LiveTape* tape, std::vector<Bar>& out) const {
    const int found = indexOf(r.offerId);
    if (found < 0) return Status::error("Unknown offer " + r.offerId + ".");
    if (!r.timeframe) return Status::error("Unknown timeframe.");
    const size_t index = static_cast<size_t>(found);
    const UnixMs to = r.to > 0 ? std::min(r.to, now) : now;
    if (r.from > 0 && r.from > to) return Status::error("The history range ends before it starts.");
    if (r.timeframe->unit == TimeUnit::Tick) return ticks(index, r, to, tape, out);

    const Timeframe& tf = *r.timeframe;
    const int count = r.count > 0 ? std::min(r.count, kMaxBars) : kDefaultBars;
    // Pass 1: the bar intervals, newest first, leaving out bars wholly in a weekend
    // (only bars shorter than the gap between weekends can be).
    std::vector<std::pair<UnixMs, UnixMs>> spans;
    UnixMs s = barStart(tf, to);
    for (int64_t budget = static_cast<int64_t>(count) * 3 + 100; static_cast<int>(spans.size()) < count && budget > 0;
         --budget) {
        const UnixMs e = barEnd(tf, s);
        if (r.from > 0 && e <= r.from) break;
        const bool shortBar = e - s <= 2 * kMsPerDay;
        if (r.includeWeekends || !shortBar || !(calendar_.isWeekend(s) && calendar_.isWeekend(e - 1)))
            spans.emplace_back(s, std::min(e, now + 1));
        s = barStart(tf, s - 1);
    }
    out.clear();
    if (spans.empty()) return Status::ok();
    std::vector<LiveTape::Slot> live;
    UnixMs liveStart = 0;
    const bool hasLive = tape && tape->read(index, spans.back().first, spans.front().second, live, liveStart);
    CalendarCache days(calendar_);
    for (auto it = spans.rbegin(); it != spans.rend(); ++it) {
        Bar b;
        if (buildBar(paths_[index], it->first, it->second, r.includeWeekends, live, liveStart, hasLive, days, b))
            out.push_back(b);
    }
    return Status::ok();
}

std::string barLines(const std::vector<Bar>& bars, int digits) {
    std::string text;
    char buf[320];
    for (size_t i = 0; i < bars.size(); ++i) {
        const Bar& b = bars[i];
        auto f = [&](int64_t units) { return fromUnits(units, digits); };
        std::snprintf(buf, sizeof buf, "%s;%.*f;%.*f;%.*f;%.*f;%.*f;%.*f;%.*f;%.*f;%lld", utcTimestamp(b.time).c_str(),
                      digits, f(b.bidOpen), digits, f(b.bidClose), digits, f(b.bidHigh), digits, f(b.bidLow), digits,
                      f(b.askOpen), digits, f(b.askClose), digits, f(b.askHigh), digits, f(b.askLow),
                      static_cast<long long>(b.volume));
        if (i) text += '\n';
        text += buf;
    }
    return text;
}

} // namespace pellora::dealer
