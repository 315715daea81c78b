#include "core/responses/response_factory.h"

#include <gtest/gtest.h>

#include <string>

#include "core/base/ref_ptr.h"
#include "core/marketdata/market_data_request.h"
#include "core/requests/request.h"
#include "core/responses/response.h"
#include "core/session/session_test_support.h"
#include "merrow/utc_timestamp.h"

namespace zel {
namespace {

using testing::dasAnswer;
using testing::dasUpdate;
using testing::Fx;
using testing::MessagePtr;
using testing::newMessage;
using testing::requestReject;

RefPtr<IZelRequest> command(int32_t cmd, const char* id = "R1")
{
    return adoptRef<IZelRequest>(new CommandRequest(id, cmd));
}

RefPtr<IZelRequest> history(int interval)
{
    RefPtr<CMarketDataRequest> md = adoptRef(new CMarketDataRequest());
    md->addRef();  // message objects start at 0: the test's own reference
    md->setTimingInterval(interval);
    RefPtr<IZelRequest> r = adoptRef<IZelRequest>(new FixRequest("H1", md.get()));
    return r;
}

TEST(ResponseFactory, ResponseTypeOfEachRequest)
{
    struct Case {
        int32_t command;
        ZelResponseType type;
    } cases[] = {
        {5, ZelResponseType::AccountsTable},      {9, ZelResponseType::OffersTable},
        {46, ZelResponseType::OrdersTable},       {45, ZelResponseType::OrdersTable},
        {10, ZelResponseType::TradesTable},       {44, ZelResponseType::TradesTable},
        {67, ZelResponseType::ClosedTradesTable}, {70, ZelResponseType::ClosedTradesTable},
        {7, ZelResponseType::Unknown},            {34, ZelResponseType::OrderResponse},
        {3, ZelResponseType::SystemProperties},   {131, ZelResponseType::CommandResponse},
        {19, ZelResponseType::CommandResponse},   {138, ZelResponseType::MarginRequirements},
        {117, ZelResponseType::LastOrderUpdate},  {139, ZelResponseType::Unknown},
    };
    for (const Case& c : cases) {
        RefPtr<IZelRequest> r = command(c.command);
        EXPECT_EQ(ResponseFactory::getResponseType(r.get()), c.type) << "command " << c.command;
        EXPECT_EQ(ResponseFactory::getCommand(r.get()), c.command);
    }
    EXPECT_EQ(ResponseFactory::getResponseType(history(1).get()), ZelResponseType::MarketDataSnapshot);
    EXPECT_EQ(ResponseFactory::getCommand(history(1).get()), -1);
    EXPECT_EQ(ResponseFactory::getResponseType(nullptr), ZelResponseType::Unknown);
    EXPECT_EQ(ResponseFactory::getCommand(nullptr), -1);
}

TEST(ResponseFactory, DasCheckAndItsFailureTexts)
{
    struct Case {
        const char* text;
        bool ok;
        const char* error;
    } cases[] = {
        {"0", true, ""},
        {"0;anything\n1;2", true, ""},
        {"1", false, "Cannot parse the response."},
        {"", false, "Cannot parse the response."},
        {"1\nx;y", false, "Cannot parse the response."},  // the ';' is not on the first line
        {"17;The account is blocked.\n", false, "The account is blocked."},
        {"17;The account is blocked.;more", false, "The account is blocked."},
        {"17;\n", false, "17"},
        {";\n", false, "Cannot parse the response."},
        {"2;Orders are not taken.\r\n", false, "Orders are not taken."},
    };
    for (const Case& c : cases) {
        std::string error;
        EXPECT_EQ(ResponseFactory::checkDasResponse(c.text, std::strlen(c.text), error), c.ok) << c.text;
        EXPECT_EQ(error, c.error) << c.text;
    }
}

TEST(ResponseFactory, AnswerToACommandKeepsTypeIdentifierCommandAndText)
{
    MessagePtr m = dasAnswer("R1", "0;ok\nORDER;1;2");
    std::string error;
    RefPtr<IZelRequest> r = command(46);
    RefPtr<IZelResponse> response = adoptRef(ResponseFactory::createResponseFromMessage(r.get(), m.get(), error));
    ASSERT_TRUE(response);
    EXPECT_EQ(response->getType(), ZelResponseType::OrdersTable);
    EXPECT_STREQ(response->getRequestID(), "R1");
    auto* impl = dynamic_cast<CommandResponseImpl*>(response.get());
    ASSERT_NE(impl, nullptr);
    EXPECT_EQ(impl->getCommand(), 46);
    EXPECT_STREQ(impl->getResponse(), "0;ok\nORDER;1;2");

    MessagePtr failed = dasAnswer("R1", "5;No such account.");
    EXPECT_EQ(ResponseFactory::createResponseFromMessage(r.get(), failed.get(), error), nullptr);
    EXPECT_EQ(error, "No such account.");

    // Something that is not an answer (here a pushed update) gives nothing.
    MessagePtr update = dasUpdate("0;x");
    error.clear();
    EXPECT_EQ(ResponseFactory::createResponseFromMessage(r.get(), update.get(), error), nullptr);
}

TEST(ResponseFactory, RtmpAnswersAreNotCheckedForTheLeadingZero)
{
    MessagePtr m = newMessage(Fx::MSGTYPE_QORARTMPRESPONSE);
    m->setValue(Fx::FLDTAG_TESTREQID, "R1");
    m->setValue(Fx::FLDTAG_TEXT, "<Rules/>");
    std::string error;
    RefPtr<IZelRequest> r = command(3);
    RefPtr<IZelResponse> response = adoptRef(ResponseFactory::createResponseFromMessage(r.get(), m.get(), error));
    ASSERT_TRUE(response);
    EXPECT_EQ(response->getType(), ZelResponseType::SystemProperties);
    EXPECT_STREQ(static_cast<Response*>(response.get())->getResponse(), "<Rules/>");
}

TEST(ResponseFactory, PriceHistoryAnswerCarriesItsBarDetails)
{
    MessagePtr m = dasAnswer("H1", "0\n20260105-10:00:00;1.1;1.2");
    m->setValue(Fx::FLDTAG_SYMBOL, "EUR/USD");
    m->setValue(Fx::FLDTAG_LAST_MINUTE, "20260105-10:00:00");
    m->setIntValue(Fx::FLDTAG_LAST_MINUTE_VOLUME, 321);
    std::string error;
    RefPtr<IZelRequest> r = history(7);
    RefPtr<IZelResponse> response = adoptRef(ResponseFactory::createResponseFromMessage(r.get(), m.get(), error));
    auto* md = dynamic_cast<MarketDataSnapshotResponse*>(response.get());
    ASSERT_NE(md, nullptr);
    EXPECT_EQ(md->getType(), ZelResponseType::MarketDataSnapshot);
    EXPECT_STREQ(md->getRequestID(), "H1");
    EXPECT_STREQ(md->getInstrument(), "EUR/USD");
    EXPECT_EQ(md->getPeriod(), 7);
    EXPECT_DOUBLE_EQ(md->getLastBarTime(), merrow::CUTCTimestamp::toDate("20260105-10:00:00"));
    EXPECT_EQ(md->getLastBarVolume(), 321);
    EXPECT_STREQ(md->getResponse(), "0\n20260105-10:00:00;1.1;1.2");
}

TEST(ResponseFactory, PushedMessagesByKind)
{
    MessagePtr das = dasUpdate("0;01052026100000;OFFER");
    RefPtr<IZelResponse> r = adoptRef(ResponseFactory::createResponseFromMessage(das.get()));
    ASSERT_TRUE(r);
    EXPECT_EQ(r->getType(), ZelResponseType::TablesUpdates);
    EXPECT_STREQ(r->getRequestID(), "");
    EXPECT_STREQ(static_cast<Response*>(r.get())->getResponse(), "0;01052026100000;OFFER");

    MessagePtr xml = newMessage(Fx::MSGTYPE_QORAXMLMESSAGE);
    xml->setValue(Fx::FLDTAG_TEXT, "<Offers/>");
    r = adoptRef(ResponseFactory::createResponseFromMessage(xml.get()));
    ASSERT_TRUE(r);
    EXPECT_STREQ(static_cast<Response*>(r.get())->getResponse(), "<Offers/>");

    MessagePtr l2 = newMessage(Fx::MSGTYPE_QORARTMPMARKETDATASNAPSHOT);
    l2->createGroupList(Fx::FLDTAG_NOMDENTRIES)->appendGroup()->setValue(Fx::FLDTAG_QORAMDORIGINATOR, "LP1");
    r = adoptRef(ResponseFactory::createResponseFromMessage(l2.get()));
    auto* snapshot = dynamic_cast<Level2MarketDataSnapshotResponse*>(r.get());
    ASSERT_NE(snapshot, nullptr);
    ASSERT_NE(snapshot->getMDS(), nullptr);
    EXPECT_EQ(snapshot->getMDS()->getMarketDatas().size(), 1u);

    MessagePtr reject = requestReject("R1", "no");
    EXPECT_EQ(ResponseFactory::createResponseFromMessage(reject.get()), nullptr);
    EXPECT_EQ(ResponseFactory::createResponseFromMessage(nullptr), nullptr);
}

TEST(ResponseFactory, RejectTexts)
{
    std::string error = "stale";
    MessagePtr reject = requestReject("R1", "Unknown account.");
    ResponseFactory::createErrorFromRejectRespone(reject.get(), error);
    EXPECT_EQ(error, "Desc=Unknown account.");

    MessagePtr md = newMessage(Fx::MSGTYPE_MARKETDATAREQUESTREJECT);
    md->setValue(Fx::FLDTAG_MDREQID, "H1");
    md->setValue(Fx::FLDTAG_TEXT, "Unknown symbol.");
    ResponseFactory::createErrorFromRejectRespone(md.get(), error);
    EXPECT_EQ(error, "Desc=Unknown symbol.");

    MessagePtr notReject = dasUpdate("0");
    ResponseFactory::createErrorFromRejectRespone(notReject.get(), error);
    EXPECT_EQ(error, "");
}

} // namespace
} // namespace zel
