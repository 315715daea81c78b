#include "price_engine.h"

#include <algorithm>
#include <cmath>

#include "det_random.h"

namespace pellora::dealer {

namespace {
constexpr uint64_t kPickKey = 0x7069636b;  // "pick"
constexpr uint64_t kStepKey = 0x73746570;  // "step"
} // namespace

namespace {
// Powers of ten are exact doubles up to 1e22, so the table gives what std::pow gives,
// without a libm call on every tick.
double powerOfTen(int digits) {
    static constexpr double kPowers[] = {1e0, 1e1, 1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                         1e8, 1e9, 1e10, 1e11, 1e12, 1e13, 1e14, 1e15};
    if (digits >= 0 && digits < static_cast<int>(sizeof kPowers / sizeof kPowers[0])) return kPowers[digits];
    return std::pow(10.0, digits);
}
} // namespace

int64_t toUnits(double price, int digits) { return std::llround(price * powerOfTen(digits)); }

double fromUnits(int64_t units, int digits) {
    // Divide rather than multiply by 10^-digits so that the printed value is exact.
    return static_cast<double>(units) / powerOfTen(digits);
}

PriceEngine::PriceEngine(uint64_t seed, const std::vector<Instrument>& instruments, int tickRate,
                         const MarketCalendar& calendar, UnixMs start)
    : seed_(seed), instruments_(instruments), tickRate_(tickRate), calendar_(calendar), days_(calendar) {
    schedule_.origin = start;
    const double perInstrumentSeconds =
        tickRate > 0 ? static_cast<double>(instruments.size()) / tickRate : 1.0;
    for (const Instrument& m : instruments_) {
        const double unitsPerPip = m.pointSize / m.priceUnit();
        spreadUnits_.push_back(std::max<int64_t>(0, std::llround(m.spread * unitsPerPip)));
        // Volatility is per minute; a tick covers the instrument's share of the rate.
        stepSd_.push_back(m.volatility * unitsPerPip * std::sqrt(perInstrumentSeconds / 60.0));
        keys_.push_back(hashText(m.offerId));
        PriceState s;
        s.offerId = m.offerId;
        s.bidUnits = toUnits(m.startBid, m.digits);
        s.askUnits = std::max(s.bidUnits, toUnits(m.startAsk, m.digits));
        s.highUnits = s.lowUnits = s.bidUnits;
        s.time = start;
        s.dayStart = calendar_.tradingDayStart(start);
        states_.push_back(s);
    }
}

void PriceEngine::restore(const std::vector<PriceState>& states, const TickSchedule& schedule) {
    schedule_ = schedule;
    for (const PriceState& s : states) {
        const int i = indexOf(s.offerId);
        if (i >= 0 && s.bidUnits > 0 && s.askUnits >= s.bidUnits) states_[static_cast<size_t>(i)] = s;
    }
}

int PriceEngine::indexOf(const std::string& offerId) const {
    for (size_t i = 0; i < instruments_.size(); ++i)
        if (instruments_[i].offerId == offerId) return static_cast<int>(i);
    return -1;
}

UnixMs PriceEngine::tickTime(int64_t g) const { return schedule_.origin + g * 1000 / tickRate_; }

void PriceEngine::advanceTo(UnixMs now, const std::function<void(size_t, const OfferQuote&)>& onTick) {
    if (!onTick) {
        advanceTicks(now, nullptr);
        return;
    }
    advanceTicks(now, [&](size_t i) { onTick(i, quote(i)); });
}

void PriceEngine::advanceTicks(UnixMs now, const std::function<void(size_t)>& onTick) {
    if (tickRate_ <= 0 || instruments_.empty() || now < schedule_.origin) return;
    const int64_t due = (now - schedule_.origin) * tickRate_ / 1000 + 1;  // ticks with time <= now
    if (due - schedule_.nextTick > kMaxTicksPerAdvance) schedule_.nextTick = due - kMaxTicksPerAdvance;
    for (; schedule_.nextTick < due; ++schedule_.nextTick) {
        const int64_t g = schedule_.nextTick;
        const UnixMs t = tickTime(g);
        if (weekendsClosed_ && days_.isWeekend(t)) continue;
        const size_t i = static_cast<size_t>(hashKeys(seed_, kPickKey, static_cast<uint64_t>(g)) % instruments_.size());
        tick(i, t);
        if (onTick) onTick(i);
    }
}

void PriceEngine::skipTo(UnixMs now) {
    if (tickRate_ <= 0 || now < schedule_.origin) return;
    schedule_.nextTick = std::max(schedule_.nextTick, (now - schedule_.origin) * tickRate_ / 1000 + 1);
}

void PriceEngine::tick(size_t i, UnixMs t) {
    PriceState& s = states_[i];
    const double z = gaussianFromHash(hashKeys(seed_, kStepKey, keys_[i], static_cast<uint64_t>(s.tickIndex)));
    int64_t step = std::llround(z * stepSd_[i]);
    if (step == 0) step = z < 0 ? -1 : 1;  // every tick moves the price
    ++s.tickIndex;
    place(i, midUnits(i) + step, t);
}

void PriceEngine::place(size_t i, int64_t mid, UnixMs t) {
    PriceState& s = states_[i];
    const int64_t spread = spreadUnits_[i];
    // Reflect at the floor so that bid stays at least one unit.
    const int64_t floorMid = spread / 2 + 1;
    if (mid < floorMid) mid = 2 * floorMid - mid;
    s.bidUnits = mid - spread / 2;
    s.askUnits = s.bidUnits + spread;
    s.time = t;
    const UnixMs day = days_.tradingDayStart(t);
    if (day != s.dayStart) {
        s.dayStart = day;
        s.highUnits = s.lowUnits = s.bidUnits;
        s.dayVolume = 0;
    }
    s.highUnits = std::max(s.highUnits, s.bidUnits);
    s.lowUnits = std::min(s.lowUnits, s.bidUnits);
    ++s.dayVolume;
}

bool PriceEngine::setPrice(const std::string& offerId, double bid, UnixMs now, OfferQuote& out) {
    const int i = indexOf(offerId);
    if (i < 0) return false;
    const size_t k = static_cast<size_t>(i);
    const int64_t units = toUnits(bid, instruments_[k].digits);
    if (units < 1) return false;
    ++states_[k].tickIndex;
    place(k, units + spreadUnits_[k] / 2, now);
    out = quote(k);
    return true;
}

OfferQuote PriceEngine::quote(size_t i) const {
    const PriceState& s = states_[i];
    const int d = instruments_[i].digits;
    OfferQuote q;
    q.offerId = s.offerId;
    q.quoteId = s.offerId + "-" + std::to_string(s.tickIndex);
    q.time = s.time;
    q.bid = fromUnits(s.bidUnits, d);
    q.ask = fromUnits(s.askUnits, d);
    q.high = fromUnits(s.highUnits, d);
    q.low = fromUnits(s.lowUnits, d);
    q.volume = s.dayVolume;
    return q;
}

} // namespace pellora::dealer
