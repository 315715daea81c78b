#include "core/requests/timeframe.h"

#include <gtest/gtest.h>

#include "core/base/ref_ptr.h"

namespace zel {
namespace {

TEST(TimeFrameCollection, HoldsTheFourteenFramesInOrder)
{
    struct Row {
        const char* id;
        ZelTimeframeUnit unit;
        int size;
        int interval;
    } const rows[] = {
        {"t1", ZelTimeframeUnit::Tick, 1, 0},    {"m1", ZelTimeframeUnit::Minute, 1, 1},
        {"m5", ZelTimeframeUnit::Minute, 5, 2},  {"m15", ZelTimeframeUnit::Minute, 15, 3},
        {"m30", ZelTimeframeUnit::Minute, 30, 4}, {"H1", ZelTimeframeUnit::Hour, 1, 5},
        {"H2", ZelTimeframeUnit::Hour, 2, 5},    {"H3", ZelTimeframeUnit::Hour, 3, 5},
        {"H4", ZelTimeframeUnit::Hour, 4, 5},    {"H6", ZelTimeframeUnit::Hour, 6, 5},
        {"H8", ZelTimeframeUnit::Hour, 8, 5},    {"D1", ZelTimeframeUnit::Day, 1, 6},
        {"W1", ZelTimeframeUnit::Week, 1, 7},    {"M1", ZelTimeframeUnit::Month, 1, 8},
    };
    RefPtr<TimeFrameCollection> c = adoptRef(new TimeFrameCollection());
    ASSERT_EQ(c->size(), 14);
    for (int i = 0; i < 14; ++i) {
        SCOPED_TRACE(rows[i].id);
        RefPtr<IZelTimeframe> byIndex = adoptRef(c->get(i));
        RefPtr<IZelTimeframe> byID = adoptRef(c->get(rows[i].id));
        ASSERT_TRUE(byIndex);
        EXPECT_EQ(byIndex.get(), byID.get());
        EXPECT_STREQ(byIndex->getID(), rows[i].id);
        EXPECT_EQ(byIndex->getUnit(), rows[i].unit);
        EXPECT_EQ(byIndex->getSize(), rows[i].size);
        EXPECT_EQ(getTimeframeIntervalCode(byIndex.get()), rows[i].interval);
    }
}

TEST(TimeFrameCollection, LookupsOutsideTheTable)
{
    RefPtr<TimeFrameCollection> c = adoptRef(new TimeFrameCollection());
    for (const char* id : {"H5", "h1", "m", "", static_cast<const char*>(nullptr)})
        EXPECT_EQ(c->get(id), nullptr) << (id ? id : "null");
    EXPECT_EQ(c->get(-1), nullptr);
    EXPECT_EQ(c->get(14), nullptr);
    // Identifiers are case-sensitive: "M1" is a month, "m1" a minute.
    RefPtr<IZelTimeframe> month = adoptRef(c->get("M1"));
    EXPECT_EQ(month->getUnit(), ZelTimeframeUnit::Month);

    // Codes the table does not hold: a year, an odd minute size, an unknown unit.
    EXPECT_EQ(getTimeframeIntervalCode(6, 1), 9);
    EXPECT_EQ(getTimeframeIntervalCode(1, 10), 1);
    EXPECT_EQ(getTimeframeIntervalCode(42, 1), 0);
    EXPECT_EQ(getTimeframeIntervalCode(nullptr), 0);
}

} // namespace
} // namespace zel
