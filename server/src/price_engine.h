#pragma once
// Live prices: each instrument's mid follows a random walk in whole price units
// (10^-digits), bid and ask keep the configured spread, High and Low are the bid's
// range of the current trading day (from 17:00 New York). Ticks are scheduled at
// `tickRate` per second over all instruments; tick g goes to an instrument chosen by
// hash(seed, g), and its step is hash(seed, instrument, its tick index). So one seed
// and one start state give the same prices on every run, and a stored state resumes.
//
// [Threading] Not thread-safe: one owner (the dealer's price thread) calls everything.

#include <functional>
#include <string>
#include <vector>

#include "records.h"
#include "world.h"
#include "zone_rules.h"

namespace pellora::dealer {

// What persistence keeps per instrument to resume prices.
struct PriceState {
    std::string offerId;
    int64_t bidUnits = 0;
    int64_t askUnits = 0;
    int64_t highUnits = 0;
    int64_t lowUnits = 0;
    int64_t tickIndex = 0;   // ticks this instrument has taken
    int64_t dayVolume = 0;
    UnixMs time = 0;         // of the last tick
    UnixMs dayStart = 0;     // the trading day High, Low and volume belong to
};

// The schedule: tick g falls at origin + g * 1000 / tickRate ms.
struct TickSchedule {
    UnixMs origin = 0;
    int64_t nextTick = 0;
};

class PriceEngine {
public:
    // Instruments are copied; the calendar must outlive the engine.
    PriceEngine(uint64_t seed, const std::vector<Instrument>& instruments, int tickRate,
                const MarketCalendar& calendar, UnixMs start);

    // Takes over stored states and schedule (unknown offers are ignored; instruments
    // without a stored state keep their start prices).
    void restore(const std::vector<PriceState>& states, const TickSchedule& schedule);

    // Produces every tick due up to now, in order, calling onTick for each. Ticks due
    // in the weekend are skipped when weekendsClosed is set (the default).
    void advanceTo(UnixMs now, const std::function<void(size_t index, const OfferQuote&)>& onTick);
    // The same, calling onTick with the instrument only: the caller reads states() or
    // builds quote(i) for the ticks it needs, so ticks nobody receives cost no quote.
    void advanceTicks(UnixMs now, const std::function<void(size_t index)>& onTick);
    // Moves the schedule to now without producing ticks (after prices were stopped).
    void skipTo(UnixMs now);
    void setWeekendsClosed(bool closed) { weekendsClosed_ = closed; }

    // Sets an instrument's bid by hand (ask = bid + spread); counts as a tick. False
    // for an unknown offer or a price of less than one unit.
    bool setPrice(const std::string& offerId, double bid, UnixMs now, OfferQuote& out);

    size_t size() const { return instruments_.size(); }
    const Instrument& instrument(size_t i) const { return instruments_[i]; }
    // Index of an offer, or -1.
    int indexOf(const std::string& offerId) const;
    OfferQuote quote(size_t i) const;
    const std::vector<PriceState>& states() const { return states_; }
    const TickSchedule& schedule() const { return schedule_; }
    // When the next scheduled tick falls (it may be skipped as a weekend tick); 0 when
    // nothing ticks by schedule.
    UnixMs nextTickTime() const { return tickRate_ > 0 && !instruments_.empty() ? tickTime(schedule_.nextTick) : 0; }
    // Mid of instrument i in price units (rounded down to a whole unit).
    int64_t midUnits(size_t i) const { return (states_[i].bidUnits + states_[i].askUnits) / 2; }

    // The most ticks one advanceTo produces; older due ticks are skipped, so a clock
    // that jumps by months costs bounded time.
    static constexpr int64_t kMaxTicksPerAdvance = 200000;

private:
    void tick(size_t i, UnixMs t);
    void place(size_t i, int64_t mid, UnixMs t);
    UnixMs tickTime(int64_t g) const;

    uint64_t seed_;
    std::vector<Instrument> instruments_;
    std::vector<int64_t> spreadUnits_;
    std::vector<double> stepSd_;   // units per tick
    std::vector<uint64_t> keys_;   // hash of each offer ID
    std::vector<PriceState> states_;
    int tickRate_;
    const MarketCalendar& calendar_;
    CalendarCache days_;
    TickSchedule schedule_;
    bool weekendsClosed_ = true;
};

// Units of a price (rounded to the nearest unit) and the price of units.
int64_t toUnits(double price, int digits);
double fromUnits(int64_t units, int digits);

} // namespace pellora::dealer
