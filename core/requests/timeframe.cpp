#include "core/requests/timeframe.h"

#include <cstring>

namespace zel {

namespace {

struct TimeFrameEntry {
    const char* id;
    ZelTimeframeUnit unit;
    int32_t size;
};

using U = ZelTimeframeUnit;
const TimeFrameEntry kTimeFrames[] = {
    {"t1", U::Tick, 1},  {"m1", U::Minute, 1}, {"m5", U::Minute, 5}, {"m15", U::Minute, 15}, {"m30", U::Minute, 30},
    {"H1", U::Hour, 1},  {"H2", U::Hour, 2},   {"H3", U::Hour, 3},   {"H4", U::Hour, 4},     {"H6", U::Hour, 6},
    {"H8", U::Hour, 8},  {"D1", U::Day, 1},    {"W1", U::Week, 1},   {"M1", U::Month, 1},
};

} // namespace

TimeFrame::TimeFrame(const char* id, ZelTimeframeUnit unit, int32_t size) : m_id(id ? id : ""), m_unit(unit), m_size(size)
{
}

TimeFrameCollection::TimeFrameCollection()
{
    m_frames.reserve(sizeof(kTimeFrames) / sizeof(kTimeFrames[0]));
    for (const TimeFrameEntry& e : kTimeFrames)
        m_frames.push_back(adoptRef(new TimeFrame(e.id, e.unit, e.size)));
}

IZelTimeframe* TimeFrameCollection::get(int index)
{
    if (index < 0 || index >= size())
        return nullptr;
    return m_frames[static_cast<size_t>(index)].share();
}

IZelTimeframe* TimeFrameCollection::get(const char* id)
{
    if (!id)
        return nullptr;
    for (const RefPtr<TimeFrame>& f : m_frames)
        if (std::strcmp(f->getID(), id) == 0)
            return f.share();
    return nullptr;
}

int32_t getTimeframeIntervalCode(int32_t unit, int32_t size)
{
    switch (unit) {
    case 0:
        return 0;
    case 1:
        return size == 5 ? 2 : size == 15 ? 3 : size == 30 ? 4 : 1;
    case 2:
        return 5;
    case 3:
        return 6;
    case 4:
        return 7;
    case 5:
        return 8;
    case 6:
        return 9;
    default:
        return 0;
    }
}

int32_t getTimeframeIntervalCode(IZelTimeframe* timeframe)
{
    if (!timeframe)
        return 0;
    return getTimeframeIntervalCode(static_cast<int32_t>(timeframe->getUnit()), timeframe->getSize());
}

} // namespace zel
