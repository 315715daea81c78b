#include "core/requests/trade_session_request.h"

#include <gtest/gtest.h>

#include <string>

#include "core/base/ref_ptr.h"
#include "core/messages/fix_object_factory.h"
#include "core/requests/das_message.h"
#include "core/requests/message_builder.h"
#include "core/requests/message_builder_test_support.h"
#include "core/requests/qora_command.h"
#include "core/requests/rtmp_trade_session_request.h"
#include "core/requests/rtmp_xml_message.h"
#include "core/requests/trade_session_request_batch.h"
#include "merrow/fix_defs.h"

namespace zel {
namespace {

using merrow::IFixDefs;
using testing_support::FakeUserSession;
using testing_support::MessagePtr;

TEST(ZDASTradeSessionRequest, ParametersReplaceWithoutRegardToCaseAndKeepTheirPlace)
{
    RefPtr<CZDASTradeSessionRequest> r(new CZDASTradeSessionRequest());
    r->setParameter("Stage", "O");
    r->setParameter("Rate", "1.2");
    r->setParameter("STAGE", "C");
    ASSERT_EQ(r->getParamCount(), 2);
    EXPECT_STREQ(r->getParamName(0), "Stage");
    EXPECT_STREQ(r->getParamValue(0), "C");
    EXPECT_STREQ(r->getParameter("stage"), "C");
    EXPECT_STREQ(r->getParameter("absent"), "");
    EXPECT_EQ(r->getParamName(2), nullptr);
    EXPECT_EQ(r->getRID(), -1);
    EXPECT_EQ(r->getMessageProtocol(), 0);
    EXPECT_FALSE(r->isBatch());
}

TEST(RTMPTradeSessionRequest, XmlFollowsNameOrderAndEveryChange)
{
    RefPtr<CRTMPTradeSessionRequest> r(new CRTMPTradeSessionRequest());
    r->setName("GetOffers");
    r->setParameter("SessionId", "s");
    r->setParameter("Instrument", "EUR/USD");
    EXPECT_EQ(r->getXML(), "<GetOffers Instrument=\"EUR/USD\" SessionId=\"s\" Parties=\"\" />");
    // Byte order: upper case sorts before lower case.
    r->setParameter("a", "1");
    r->setParameter("Z", "2");
    EXPECT_EQ(r->getXML(), "<GetOffers Instrument=\"EUR/USD\" SessionId=\"s\" Z=\"2\" a=\"1\" Parties=\"\" />");
    r->setName("Other");
    r->setParties("[p,q,r]");
    EXPECT_EQ(r->getXML(), "<Other Instrument=\"EUR/USD\" SessionId=\"s\" Z=\"2\" a=\"1\" Parties=\"[p,q,r]\" />");
    EXPECT_STREQ(r->getMethodName(), "Send");
    EXPECT_EQ(r->getMessageProtocol(), 1);
    EXPECT_EQ(r->getKind(), AFixObject::KIND_TRADESESSIONREQUEST);
    RefPtr<CRTMPChartSessionRequest> chart(new CRTMPChartSessionRequest());
    EXPECT_EQ(chart->getKind(), AFixObject::KIND_RTMPCHARTSESSIONREQUEST);
}

TEST(TradeSessionRequestBatch, RendersNothingWithoutSingleMembers)
{
    FakeUserSession session;
    RefPtr<CTradeSessionRequestBatch> batch(new CTradeSessionRequestBatch());
    batch->setRequestID("b");
    EXPECT_EQ(batch->toMessage(&session), nullptr);
    RefPtr<CRTMPTradeSessionRequest> rtmp(new CRTMPTradeSessionRequest());
    batch->addRequest(rtmp.get());
    batch->addRequest(nullptr);
    EXPECT_EQ(batch->getRequestCount(), 1);
    EXPECT_EQ(batch->toMessage(&session), nullptr) << "RTMP members are not DAS commands";
}

TEST(TradeSessionRequestBatch, ContingencyTypeGoesOutOnlyAboveZeroAndResponseFlagAsInteger)
{
    FakeUserSession session;
    RefPtr<CZDASTradeSessionRequest> member(new CZDASTradeSessionRequest());
    member->setRequestID("m");
    member->setRID(34);
    RefPtr<CTradeSessionRequestBatch> batch(new CTradeSessionRequestBatch());
    batch->addRequest(member.get());
    batch->setContingencyType(2);
    batch->setBatchResponseRequired(true);
    MessagePtr m(batch->toMessage(&session));
    ASSERT_TRUE(m);
    EXPECT_EQ(m->getIntValue(IFixDefs::FLDTAG_CONTINGENCYTYPE), 2);
    EXPECT_EQ(m->getIntValue(IFixDefs::FLDTAG_BATCHREQUEST_BATCHRESPONSE), 1);
    EXPECT_STREQ(batch->getRequestID(), "gen-1") << "a fresh identifier stays with the batch";
    EXPECT_EQ(batch->getRID(), 34);
    batch->clearRequests();
    EXPECT_EQ(batch->getRequest(0), nullptr);
}

TEST(QORACommand, RemembersTheIdentifierItRenderedUnder)
{
    FakeUserSession session;
    RefPtr<CZDASTradeSessionRequest> single(new CZDASTradeSessionRequest());
    RefPtr<CQORACommand> command(new CQORACommand());
    EXPECT_EQ(command->toMessage(&session), nullptr) << "nothing to render";
    command->setRequest(single.get());
    EXPECT_EQ(command->toMessage(nullptr), nullptr);
    MessagePtr m(command->toMessage(&session));
    ASSERT_TRUE(m);
    EXPECT_STREQ(command->getTestReqID(), "gen-1");
    EXPECT_STREQ(m->getValue(IFixDefs::FLDTAG_TESTREQID), "gen-1");
}

TEST(MessageBuilder, ConvertFlattensNestedBatchesWithTheParentsRid)
{
    RefPtr<CommandRequest> top = adoptRef(new CommandRequest("top", 34));
    top->addParam("Ignored", "x");
    RefPtr<CommandRequest> group = adoptRef(new CommandRequest("g", 131));
    group->addChild(new CommandRequest("g1", 131));
    group->addChild(new CommandRequest("g2", 131));
    top->addChild(new CommandRequest("first", 20));
    top->addChild(group.detach());

    RefPtr<CZDASTradeSessionRequest> das = IMessageBuilder::convert(top.get(), 77);
    ASSERT_TRUE(das);
    ASSERT_TRUE(das->isBatch());
    auto* batch = static_cast<CTradeSessionRequestBatch*>(das.get());
    EXPECT_FALSE(batch->isBatchResponseRequired());
    EXPECT_STREQ(batch->getParties(), "[PELLORA,C,13,zel2,4]");
    ASSERT_EQ(batch->getRequestCount(), 3);
    const char* ids[] = {"first", "g1", "g2"};
    for (int i = 0; i < 3; ++i) {
        EXPECT_STREQ(batch->getRequest(i)->getRequestID(), ids[i]);
        EXPECT_EQ(batch->getRequest(i)->getRID(), 77);
        EXPECT_FALSE(batch->getRequest(i)->isBatch());
        EXPECT_STREQ(batch->getRequest(i)->getParties(), "[PELLORA,C,13,zel2,4]");
    }
    EXPECT_FALSE(IMessageBuilder::convert(nullptr, 1));
}

RefPtr<AFixObject> decode(merrow::IMessage* m)
{
    return RefPtr<AFixObject>(CFixObjectFactory::toObject(m));
}

MessagePtr textMessage(const char* type, const char* text)
{
    MessagePtr m(merrow::getMessageFactory()->createMessage(type));
    if (text != nullptr)
        m->setValue(IFixDefs::FLDTAG_TEXT, text);
    return m;
}

TEST(IncomingTexts, DasAndXmlMessagesNeedTheirText)
{
    MessagePtr das = textMessage(IFixDefs::MSGTYPE_DASMESSAGE, "T\r\nU;1;2\r\n");
    RefPtr<AFixObject> o = decode(das.get());
    ASSERT_TRUE(o);
    ASSERT_EQ(o->getKind(), AFixObject::KIND_DASMESSAGE);
    EXPECT_STREQ(static_cast<CDasMessage*>(o.get())->getMessage(), "T\r\nU;1;2\r\n");

    MessagePtr xml = textMessage(IFixDefs::MSGTYPE_QORAXMLMESSAGE, "<SysConfigMsg><Prop/></SysConfigMsg>");
    o = decode(xml.get());
    ASSERT_TRUE(o);
    ASSERT_EQ(o->getKind(), AFixObject::KIND_RTMPXMLMESSAGE);
    EXPECT_STREQ(static_cast<CRTMPXmlMessage*>(o.get())->getXML(), "<SysConfigMsg><Prop/></SysConfigMsg>");

    MessagePtr noText = textMessage(IFixDefs::MSGTYPE_DASMESSAGE, nullptr);
    EXPECT_FALSE(decode(noText.get()));
    noText = textMessage(IFixDefs::MSGTYPE_QORAXMLMESSAGE, nullptr);
    EXPECT_FALSE(decode(noText.get()));
    RefPtr<CDasMessage> direct(new CDasMessage());
    EXPECT_FALSE(direct->fill(xml.get())) << "another type";
    EXPECT_FALSE(direct->fill(nullptr));
}

TEST(IncomingTexts, CompareNameTellsWhichElementTheXmlOpens)
{
    struct Case {
        const char* xml;
        const char* name;
        bool opens;
    } cases[] = {
        {"<SysConfigMsg version=\"1\">", "SysConfigMsg", true},
        {"<SysConfigMsg>", "SysConfigMsg", true},
        {"<Ack/>", "Ack", true},
        {"<SysConfigMsgX a=\"1\">", "SysConfigMsg", false},
        {"<Sys a=\"1\">", "SysConfigMsg", false},
        {"<SysConfigMsg", "SysConfigMsg", false},
        {"<a b=\"1\"/>", nullptr, false},
    };
    for (const Case& c : cases) {
        MessagePtr m = textMessage(IFixDefs::MSGTYPE_QORAXMLMESSAGE, c.xml);
        RefPtr<CRTMPXmlMessage> x(new CRTMPXmlMessage());
        ASSERT_TRUE(x->fill(m.get()));
        EXPECT_EQ(x->compareName(c.name), c.opens) << c.xml;
    }
    RefPtr<CRTMPXmlMessage> empty(new CRTMPXmlMessage());
    EXPECT_FALSE(empty->compareName("")) << "an empty text opens nothing";
}

} // namespace
} // namespace zel
