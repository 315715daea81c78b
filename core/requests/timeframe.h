#pragma once
// The timeframes behind IZelTimeframe and the fixed collection every request
// factory hands out.
//
// Ownership: create with `new` (one reference for the creator); the collection owns
// one reference to each of its timeframes.
// [Threading] Immutable once built.

#include <cstdint>
#include <string>
#include <vector>

#include "core/base/ref_ptr.h"
#include "vorntool/add_ref.h"
#include "zel/timeframe.h"

namespace zel {

class TimeFrame : public TThreadSafeAddRefImpl<IZelTimeframe> {
public:
    TimeFrame(const char* id, ZelTimeframeUnit unit, int32_t size);

    const char* getID() override { return m_id.c_str(); }
    ZelTimeframeUnit getUnit() override { return m_unit; }
    int getSize() override { return m_size; }

protected:
    ~TimeFrame() override = default;

private:
    std::string m_id;
    ZelTimeframeUnit m_unit;
    int32_t m_size;
};

// The 14 timeframes of the price server, "t1" through "M1", in that order.
class TimeFrameCollection : public TThreadSafeAddRefImpl<IZelTimeframeCollection> {
public:
    TimeFrameCollection();

    int size() override { return static_cast<int>(m_frames.size()); }
    IZelTimeframe* get(int index) override;
    IZelTimeframe* get(const char* id) override;

protected:
    ~TimeFrameCollection() override = default;

private:
    std::vector<RefPtr<TimeFrame>> m_frames;
};

// The timing-interval code a price-history request sends for a bar of this unit and
// size: tick 0; minute 2, 3, 4 for 5, 15, 30 and 1 otherwise; hour 5, day 6, week 7,
// month 8, a year (unit 6) 9. Other units give 0.
int32_t getTimeframeIntervalCode(int32_t unit, int32_t size);
// The same for any timeframe; 0 for null.
int32_t getTimeframeIntervalCode(IZelTimeframe* timeframe);

} // namespace zel
