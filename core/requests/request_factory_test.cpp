#include <gtest/gtest.h>

#include <string>

#include "core/base/ref_ptr.h"
#include "core/marketdata/market_data_request.h"
#include "core/requests/das_request_factory.h"
#include "core/requests/request.h"
#include "core/requests/request_factory_test_support.h"
#include "core/requests/rtmp_request_factory.h"
#include "merrow/fix_defs.h"
#include "vorntool/date.h"

namespace zel {
namespace {

using factory_testing::IdIssuingSession;

std::string paramsOf(IZelRequest* request)
{
    auto* c = dynamic_cast<CommandRequest*>(request);
    if (!c)
        return "<not a command>";
    std::string out;
    for (int i = 0; i < c->getParamCount(); ++i)
        out += std::string(i ? ";" : "") + c->getParamName(i) + "=" + c->getParamValue(i);
    return out;
}

class Factories : public ::testing::Test {
protected:
    void TearDown() override { EXPECT_EQ(session.outstandingIDs(), 0) << "request identifiers not handed back"; }

    RefPtr<IZelTimeframe> frame(const char* id)
    {
        RefPtr<IZelTimeframeCollection> c = adoptRef(das->getTimeFrameCollection());
        return adoptRef(c->get(id));
    }

    IdIssuingSession session;
    RefPtr<DasRequestFactory> das = adoptRef(new DasRequestFactory(&session));
    RefPtr<RTMPRequestFactory> rtmp = adoptRef(new RTMPRequestFactory(&session));
};

TEST_F(Factories, RefreshTableRequests)
{
    struct Case {
        ZelTable table;
        int dasCommand;  // -1: none
        const char* dasParams;
        int byAccountCommand;
        bool rtmp;
    } const cases[] = {
        {ZelTable::Offers, 9, "TraderID=77", 3, true},
        {ZelTable::Accounts, 5, "TraderID=77", -1, false},
        {ZelTable::Orders, 46, "", 46, false},
        {ZelTable::Trades, 10, "TraderID=77", 44, false},
        {ZelTable::ClosedTrades, 67, "TraderID=77", 70, false},
        {ZelTable::Messages, 7, "", -1, false},
        {ZelTable::Summary, -1, nullptr, -1, false},
        {static_cast<ZelTable>(42), -1, nullptr, -1, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.table));
        RefPtr<IZelRequest> r = adoptRef(das->createRefreshTableRequest(c.table));
        if (c.dasCommand < 0) {
            EXPECT_FALSE(r);
        } else {
            ASSERT_TRUE(r);
            EXPECT_EQ(dynamic_cast<CommandRequest*>(r.get())->getCommandID(), c.dasCommand);
            EXPECT_EQ(paramsOf(r.get()), c.dasParams);
            EXPECT_STRNE(r->getRequestID(), "");
        }
        RefPtr<IZelRequest> a = adoptRef(das->createRefreshTableRequestByAccount(c.table, "A7"));
        if (c.byAccountCommand < 0) {
            EXPECT_FALSE(a);
        } else {
            ASSERT_TRUE(a);
            EXPECT_EQ(dynamic_cast<CommandRequest*>(a.get())->getCommandID(), c.byAccountCommand);
            EXPECT_EQ(paramsOf(a.get()), "AcctID=A7");
        }
        RefPtr<IZelRequest> x = adoptRef(rtmp->createRefreshTableRequest(c.table));
        EXPECT_EQ(static_cast<bool>(x), c.rtmp);
        if (x) {
            auto* named = dynamic_cast<RTMPCommandRequest*>(x.get());
            ASSERT_TRUE(named);
            EXPECT_STREQ(named->getName(), "SubscrList");
            EXPECT_EQ(named->getCommandID(), 9);
        }
        EXPECT_FALSE(RefPtr<IZelRequest>::adoptRef(rtmp->createRefreshTableRequestByAccount(c.table, "A7")));
    }
    EXPECT_FALSE(RefPtr<IZelRequest>::adoptRef(das->createRefreshTableRequestByAccount(ZelTable::Orders, nullptr)));
}

TEST_F(Factories, RequestsByCommand)
{
    for (int command : {3, 138, 139}) {
        RefPtr<IZelRequest> r = adoptRef(das->createRequestByCommand(static_cast<RequestCommand>(command)));
        ASSERT_TRUE(r) << command;
        EXPECT_EQ(dynamic_cast<CommandRequest*>(r.get())->getCommandID(), command);
        EXPECT_EQ(paramsOf(r.get()), "");
    }
    struct Named {
        int command;
        const char* name;
    } const named[] = {{3, "GetSystemRules"}, {9, "SubscrList"}, {139, "SubscrList"}};
    for (const Named& n : named) {
        RefPtr<IZelRequest> r = adoptRef(rtmp->createRequestByCommand(static_cast<RequestCommand>(n.command)));
        auto* c = dynamic_cast<RTMPCommandRequest*>(r.get());
        ASSERT_TRUE(c) << n.command;
        EXPECT_STREQ(c->getName(), n.name);
        EXPECT_EQ(c->getCommandID(), n.command);
        EXPECT_STRNE(c->getRequestID(), "");
    }
    for (int command : {2, 5, 34, 138}) {
        EXPECT_FALSE(RefPtr<IZelRequest>::adoptRef(rtmp->createRequestByCommand(static_cast<RequestCommand>(command))));
    }
    EXPECT_FALSE(RefPtr<IZelRequest>::adoptRef(das->createRequestByCommand(CmdRefreshOrders)));
    EXPECT_FALSE(RefPtr<IZelRequest>::adoptRef(das->createLogout()));
    EXPECT_FALSE(RefPtr<IZelRequest>::adoptRef(rtmp->createLogout()));

    RefPtr<RTMPInitRequest> init = adoptRef(rtmp->createInitRequest());
    EXPECT_STREQ(init->getName(), "SessionInitMsg");
    EXPECT_STREQ(init->getRequestID(), "");
}

TEST_F(Factories, DasPriceHistoryRequest)
{
    struct Case {
        const char* frame;
        int interval;
        const char* settlType;  // null: none
    } const cases[] = {{"H4", 5, "H4"}, {"H1", 5, nullptr}, {"m15", 3, nullptr}, {"t1", 0, nullptr}, {"D1", 6, nullptr}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.frame);
        RefPtr<IZelRequest> r = adoptRef(das->createMarketDataSnapshotRequestInstrument("EUR/USD", frame(c.frame).get(), 250));
        auto* fix = dynamic_cast<FixRequest*>(r.get());
        ASSERT_TRUE(fix);
        RefPtr<AFixObject> object = adoptRef(fix->getFixObject());
        auto* md = dynamic_cast<CMarketDataRequest*>(object.get());
        ASSERT_TRUE(md);
        EXPECT_EQ(md->getTimingInterval(), c.interval);
        if (c.settlType)
            EXPECT_STREQ(md->getSettlType(), c.settlType);
        else
            EXPECT_EQ(md->getSettlType(), nullptr);
        EXPECT_STRNE(r->getRequestID(), "");
        EXPECT_STREQ(md->getMDReqID(), r->getRequestID());
        EXPECT_EQ(md->getSubscriptionRequestType(), 0);
        EXPECT_EQ(md->getMDEntryTypeSet(), 2);
        ASSERT_EQ(md->getSymbolCount(), 1);
        EXPECT_STREQ(md->getRelatedSymbol(0), "EUR/USD");
        EXPECT_STREQ(md->getTradingSessionID(), "QORA");
        EXPECT_STREQ(md->getTradingSessionSubID(), "PriceServer");
        EXPECT_STREQ(md->getResponseFormat(), merrow::IFixDefs::MSGTYPE_QORARESPONSE);
        EXPECT_EQ(md->getNoSnapshot(), 250);
        EXPECT_EQ(md->getMarketDepth(), 250);
    }

    RefPtr<IZelRequest> r = adoptRef(das->createMarketDataSnapshotRequestInstrument("EUR/USD", frame("m1").get(), 10));
    const double from = vorntool::date::construct(2012, 3, 7, 9, 5, 0, 0);
    das->fillMarketDataSnapshotRequestTime(r.get(), from, from + 1, true);
    RefPtr<AFixObject> object = adoptRef(dynamic_cast<FixRequest*>(r.get())->getFixObject());
    auto* md = dynamic_cast<CMarketDataRequest*>(object.get());
    EXPECT_EQ(md->getStartDate(), from);
    EXPECT_EQ(md->getEndDate(), from + 1);
    EXPECT_TRUE(md->getIncludeWeekendData());

    // Other requests, and none at all, are left alone.
    RefPtr<IZelRequest> orders = adoptRef(das->createRefreshTableRequest(ZelTable::Orders));
    das->fillMarketDataSnapshotRequestTime(orders.get(), from, from, true);
    das->fillMarketDataSnapshotRequestTime(nullptr, from, from, true);
    EXPECT_EQ(paramsOf(orders.get()), "");

    EXPECT_FALSE(RefPtr<IZelRequest>::adoptRef(das->createMarketDataSnapshotRequestInstrument(nullptr, frame("m1").get(), 1)));
    EXPECT_FALSE(RefPtr<IZelRequest>::adoptRef(das->createMarketDataSnapshotRequestInstrument("EUR/USD", nullptr, 1)));
}

TEST_F(Factories, RtmpPriceHistoryRequest)
{
    RefPtr<CRTMPChartSessionRequest> chart = rtmp->buildMarketDataSnapshotRequest("EUR/USD", frame("m30").get());
    ASSERT_TRUE(chart);
    EXPECT_STREQ(chart->getName(), "GetPriceHistory");
    EXPECT_STREQ(chart->getMethodName(), "GetPriceHistory");
    EXPECT_STREQ(chart->getParameter("Instrument"), "EUR/USD");
    EXPECT_STREQ(chart->getParameter("Period"), "4");
    EXPECT_STREQ(chart->getParameter("RespFmt"), "amf3");
    EXPECT_STREQ(chart->getParameter("SessionId"), "S-1");
    EXPECT_STRNE(chart->getParameter("RequestId"), "");
    // The RTMP reader factory reads no price history, so none is handed out.
    EXPECT_FALSE(RefPtr<IZelRequest>::adoptRef(rtmp->createMarketDataSnapshotRequestInstrument("EUR/USD", frame("m30").get(), 5)));

    RefPtr<IZelRequest> wrapped = adoptRef<IZelRequest>(new FixRequest(chart->getParameter("RequestId"), chart.get()));
    const double to = vorntool::date::construct(2012, 3, 7, 9, 5, 0, 0);
    rtmp->fillMarketDataSnapshotRequestTime(wrapped.get(), 0, to, false);
    EXPECT_STREQ(chart->getParameter("DateFrom"), "");
    EXPECT_STREQ(chart->getParameter("DateTo"), "2012 3 7- 9: 5: 0");
    EXPECT_STREQ(chart->getParameter("IncludeWeekends"), "");
    rtmp->fillMarketDataSnapshotRequestTime(wrapped.get(), vorntool::date::construct(2011, 12, 31, 23, 59, 58, 0), 0, true);
    EXPECT_STREQ(chart->getParameter("DateFrom"), "20111231-23:59:58");
    EXPECT_STREQ(chart->getParameter("IncludeWeekends"), "true");
}

TEST_F(Factories, RtmpMakesNoOrders)
{
    EXPECT_EQ(rtmp->createValueMap(), nullptr);
    RefPtr<IZelValueMap> map = adoptRef(das->createValueMap());
    ASSERT_TRUE(map);
    map->setString(ZelRequestParamsEnum::Command, "DeleteOrder");
    map->setString(ZelRequestParamsEnum::OrderID, "O1");
    EXPECT_FALSE(RefPtr<IZelRequest>::adoptRef(rtmp->createOrderRequest(map.get())));
    EXPECT_STREQ(rtmp->getLastError(), "");
    EXPECT_EQ(rtmp->getParamName(ZelRequestParamsEnum::OrderID), nullptr);
    EXPECT_STREQ(das->getParamName(ZelRequestParamsEnum::OrderID), "OrderID");
    EXPECT_STREQ(das->getParamName(paramTraderID), "TraderID");
}

TEST_F(Factories, ResetSessionStopsSessionBoundRequests)
{
    for (RequestFactoryBase* f : {static_cast<RequestFactoryBase*>(das.get()), static_cast<RequestFactoryBase*>(rtmp.get())}) {
        EXPECT_TRUE(f->isSessionValid());
        f->resetSession();
        EXPECT_FALSE(f->isSessionValid());
        EXPECT_FALSE(RefPtr<IZelRequest>::adoptRef(f->createRefreshTableRequest(ZelTable::Offers)));
        EXPECT_FALSE(RefPtr<IZelRequest>::adoptRef(f->createRefreshTableRequestByAccount(ZelTable::Orders, "A")));
        EXPECT_FALSE(RefPtr<IZelRequest>::adoptRef(f->createMarketDataSnapshotRequestInstrument("EUR/USD", frame("m1").get(), 1)));
        // Timeframes need no session.
        RefPtr<IZelTimeframeCollection> c = adoptRef(f->getTimeFrameCollection());
        EXPECT_EQ(c->size(), 14);
    }
    EXPECT_FALSE(rtmp->createMarketSnapshotRequest());
    EXPECT_FALSE(RefPtr<IZelRequest>::adoptRef(das->createRequestByCommand(CmdGetSystemProperties)));
}

TEST_F(Factories, SessionWithoutIdentifiersGivesEmptyOnes)
{
    session.setNullIDs(true);
    RefPtr<IZelRequest> r = adoptRef(das->createRefreshTableRequest(ZelTable::Orders));
    ASSERT_TRUE(r);
    EXPECT_STREQ(r->getRequestID(), "");
}

} // namespace
} // namespace zel
