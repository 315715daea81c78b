#include "core/marketdata/market_data_snapshot_response_reader.h"

#include <gtest/gtest.h>

#include <clocale>
#include <string>

#include "core/base/ref_ptr.h"
#include "merrow/utc_timestamp.h"

namespace zel {
namespace {

TEST(MarketRateParser, EveryLineIsABarInFieldOrder)
{
    RefPtr<MarketDataSnapshotResponseReader> r = adoptRef(new MarketDataSnapshotResponseReader(0, 0, 1));
    MarketRateParser parser(r.get());
    CResultSetTokenizer("20260105-10:00:00;1;2;3;4;5;6;7;8;9;ignored\n20260105-10:01:00;x;;;;;;;;oops\n")
        .tokenize(&parser);
    ASSERT_EQ(r->size(), 2) << "the status line is a bar too; a closing line feed adds none";
    EXPECT_TRUE(r->isBar());
    EXPECT_DOUBLE_EQ(r->getDate(0), merrow::CUTCTimestamp::toDate("20260105-10:00:00"));
    const double expected[] = {1, 2, 3, 4, 5, 6, 7, 8};
    const double got[] = {r->getBidOpen(0), r->getBidClose(0), r->getBidHigh(0), r->getBidLow(0),
                          r->getAskOpen(0), r->getAskClose(0), r->getAskHigh(0), r->getAskLow(0)};
    for (int i = 0; i < 8; ++i)
        EXPECT_EQ(got[i], expected[i]) << "field " << i + 1;
    EXPECT_EQ(r->getVolume(0), 9);
    EXPECT_EQ(r->getBidOpen(1), 0.0) << "unreadable numbers are 0";
    EXPECT_EQ(r->getVolume(1), 0);
    EXPECT_EQ(r->getBid(0), r->getBidClose(0));
    EXPECT_EQ(r->getAsk(0), r->getAskClose(0));
}

// A Java host may set a decimal-comma locale: bars keep their decimals all the same.
TEST(MarketRateParser, NumbersIgnoreTheLocale)
{
    const std::string saved = std::setlocale(LC_NUMERIC, nullptr);
    const char* set = nullptr;
    for (const char* l : {"de_DE.UTF-8", "de_DE.utf8", "fr_FR.UTF-8", "ru_RU.UTF-8"})
        if ((set = std::setlocale(LC_NUMERIC, l)) != nullptr)
            break;
    if (set == nullptr)
        GTEST_SKIP() << "no locale with a decimal comma installed";
    RefPtr<MarketDataSnapshotResponseReader> r = adoptRef(new MarketDataSnapshotResponseReader(0, 0, 1));
    MarketRateParser parser(r.get());
    CResultSetTokenizer("20260105-10:00:00;1.08451;1.08452;1.08453;1.08454;1.5;1.25;1.75;1.125;12").tokenize(&parser);
    std::setlocale(LC_NUMERIC, saved.c_str());
    ASSERT_EQ(r->size(), 1);
    EXPECT_EQ(r->getBidOpen(0), 1.08451);
    EXPECT_EQ(r->getBidLow(0), 1.08454);
    EXPECT_EQ(r->getAskLow(0), 1.125);
    EXPECT_EQ(r->getVolume(0), 12);
}

TEST(MarketDataSnapshotResponseReader, AdjustmentsOrderAndBounds)
{
    RefPtr<MarketDataSnapshotResponseReader> r = adoptRef(new MarketDataSnapshotResponseReader(0.0002, -0.0001, 0));
    EXPECT_FALSE(r->isBar());
    MarketRate tick;
    tick.bidClose = 1.2345;
    tick.askClose = 1.2350;
    r->add(tick);
    tick.bidClose = 1.3;
    r->add(tick);
    EXPECT_NEAR(r->getBid(0), 1.2347, 1e-12);
    EXPECT_NEAR(r->getAsk(0), 1.2349, 1e-12);
    r->reverse();
    EXPECT_NEAR(r->getBid(0), 1.3002, 1e-12);
    EXPECT_EQ(r->getBid(5), 0.0) << "outside the rows";
    EXPECT_EQ(r->getDate(-1), 0.0);
    r->setLastBarTime(46000.5);
    r->setLastBarVolume(12);
    EXPECT_EQ(r->getLastBarTime(), 46000.5);
    EXPECT_EQ(r->getLastBarVolume(), 12);
}

} // namespace
} // namespace zel
