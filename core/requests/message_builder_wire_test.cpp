// Every request kind goes through IMessageBuilder::create, is encoded into a frame,
// decoded again by the transport's codec and checked field by field, as the dealing
// server would read it.
#include "core/requests/message_builder.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "core/base/ref_ptr.h"
#include "core/marketdata/market_data_request.h"
#include "core/messages/fix_object_factory.h"
#include "core/requests/message_builder_test_support.h"
#include "core/requests/rtmp_trade_session_request.h"
#include "frame_codec.h"
#include "merrow/fix_defs.h"
#include "vorntool/date.h"

namespace zel {
namespace {

using merrow::IFixDefs;
using testing_support::FakeUserSession;
using testing_support::MessagePtr;
using Pairs = std::vector<std::pair<std::string, std::string>>;

constexpr const char* kParties = "[PELLORA,C,13,zel2,4]";

// The message as the peer decodes it from the frame that carries it.
std::unique_ptr<merrow::FieldGroup> overTheWire(merrow::IMessage* message)
{
    if (message == nullptr)
        return nullptr;
    std::vector<uint8_t> bytes;
    const merrow::Status encoded = merrow::wire::encodeFrame(merrow::wire::FrameHeader(), *message, bytes);
    EXPECT_TRUE(encoded.ok()) << encoded.reason();
    merrow::wire::FrameDecoder decoder;
    decoder.feed(bytes.data(), bytes.size());
    std::optional<merrow::wire::Frame> frame;
    const merrow::Status decoded = decoder.next(frame);
    EXPECT_TRUE(decoded.ok()) << decoded.reason();
    if (!frame)
        return nullptr;
    EXPECT_EQ(decoder.buffered(), 0u);
    return std::move(frame->message);
}

class MessageBuilderWire : public ::testing::Test {
protected:
    // Builds, encodes and decodes; null when the builder made nothing.
    std::unique_ptr<merrow::FieldGroup> send(IZelRequest* request)
    {
        MessagePtr built(IMessageBuilder::create(request, &session));
        return overTheWire(built.get());
    }

    FakeUserSession session;
};

std::string text(const merrow::IFieldGroup* g, int tag)
{
    const char* v = g->getValue(tag);
    return v != nullptr ? v : "<absent>";
}

Pairs params(const merrow::IFieldGroup* g)
{
    Pairs out;
    const merrow::IFieldGroupList* list = g->getGroupList(IFixDefs::FLDTAG_QORANOPARAM);
    for (int i = 0; list != nullptr && i < list->size(); ++i)
        out.emplace_back(text(list->get(i), IFixDefs::FLDTAG_QORAPARAMNAME),
                         text(list->get(i), IFixDefs::FLDTAG_QORAPARAMVALUE));
    return out;
}

RefPtr<CommandRequest> command(const char* id, int32_t number, const Pairs& p = {})
{
    RefPtr<CommandRequest> r = adoptRef(new CommandRequest(id, number));
    for (const auto& kv : p)
        r->addParam(kv.first.c_str(), kv.second.c_str());
    return r;
}

void addChild(const RefPtr<CommandRequest>& parent, RefPtr<CommandRequest> child)
{
    ASSERT_TRUE(parent->addChild(child.detach()));
}

TEST_F(MessageBuilderWire, DasCommandCarriesItsParametersThenQidDefaultQtxtAndParties)
{
    RefPtr<CommandRequest> r = command("req-1", 19, {{"OrderID", "O-9"}, {"AcctID", "A 1"}});
    auto m = send(r.get());
    ASSERT_TRUE(m);
    EXPECT_STREQ(m->getMsgType(), IFixDefs::MSGTYPE_QORAREQUEST);
    EXPECT_EQ(text(m.get(), IFixDefs::FLDTAG_TRADINGSESSIONID), "QORA");
    EXPECT_EQ(text(m.get(), IFixDefs::FLDTAG_TRADINGSESSIONSUBID), "Dealing");
    EXPECT_EQ(text(m.get(), IFixDefs::FLDTAG_TESTREQID), "req-1");
    EXPECT_EQ(text(m.get(), IFixDefs::FLDTAG_QORACOMMANDID), "19");
    EXPECT_EQ(params(m.get()), (Pairs{{"OrderID", "O-9"},
                                      {"AcctID", "A 1"},
                                      {"QID", "req-1"},
                                      {"QTXT", "ZLQW"},
                                      {"Parties", kParties}}));
    EXPECT_EQ(session.issued, 0) << "a request with an identifier needs no fresh one";
}

TEST_F(MessageBuilderWire, CustomTextCases)
{
    struct Case {
        const char* name;
        Pairs given;
        Pairs sent;
    } cases[] = {
        {"no QTXT sends the default after QID", {{"A", "1"}}, {{"A", "1"}, {"QID", "q"}, {"QTXT", "ZLQW"}}},
        {"QTXT != sends neither it nor the default", {{"A", "1"}, {"QTXT", "!="}}, {{"A", "1"}, {"QID", "q"}}},
        {"a given QTXT in any case is sent as it is", {{"qtxt", "mine"}}, {{"qtxt", "mine"}, {"QID", "q"}}},
        {"!= is exact", {{"QTXT", "!=x"}}, {{"QTXT", "!=x"}, {"QID", "q"}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        RefPtr<CommandRequest> r = command("q", 20, c.given);
        auto m = send(r.get());
        ASSERT_TRUE(m);
        Pairs sent = c.sent;
        sent.emplace_back("Parties", kParties);
        EXPECT_EQ(params(m.get()), sent);
    }
}

TEST_F(MessageBuilderWire, EmptyIdentifierIsTakenFromTheSession)
{
    RefPtr<CommandRequest> r = command("", 3);
    auto m = send(r.get());
    ASSERT_TRUE(m);
    EXPECT_EQ(text(m.get(), IFixDefs::FLDTAG_TESTREQID), "gen-1");
    EXPECT_EQ(params(m.get())[0], (std::pair<std::string, std::string>("QID", "gen-1")));

    session.failIds = true;
    EXPECT_FALSE(send(r.get())) << "without an identifier nothing can be routed back";
}

TEST_F(MessageBuilderWire, OcoBatchEmbedsEveryChildWithTheParentsCommandNumber)
{
    RefPtr<CommandRequest> oco = command("oco", 34);
    addChild(oco, command("c1", 99, {{"Stage", "O"}, {"CONTINGENCY_TYPE", "1"}}));
    addChild(oco, command("c2", 98, {{"Stage", "O"}, {"CONTINGENCY_TYPE", "1"}}));
    auto m = send(oco.get());
    ASSERT_TRUE(m);
    EXPECT_STREQ(m->getMsgType(), IFixDefs::MSGTYPE_QORAREQUESTBATCH);
    EXPECT_EQ(text(m.get(), IFixDefs::FLDTAG_TESTREQID), "oco");
    EXPECT_EQ(text(m.get(), IFixDefs::FLDTAG_MDREQID), "oco");
    EXPECT_EQ(text(m.get(), IFixDefs::FLDTAG_TRADINGSESSIONID), "QORA");
    EXPECT_EQ(text(m.get(), IFixDefs::FLDTAG_TRADINGSESSIONSUBID), "Dealing");
    EXPECT_EQ(m->getIntValue(IFixDefs::FLDTAG_BATCHREQUEST_BATCHRESPONSE), 0);
    EXPECT_FALSE(m->hasField(IFixDefs::FLDTAG_CONTINGENCYTYPE));
    EXPECT_EQ(text(m.get(), IFixDefs::FLDTAG_QORACOMMANDID), "34");
    EXPECT_EQ(text(m.get(), IFixDefs::FLDTAG_REFMSGTYPE), IFixDefs::MSGTYPE_QORAREQUEST);
    EXPECT_FALSE(m->hasField(IFixDefs::FLDTAG_QORANOPARAM)) << "the batch's own parameters are not sent";

    merrow::IFieldGroupList* members = m->getGroupList(IFixDefs::FLDTAG_EMBMSG);
    ASSERT_NE(members, nullptr);
    ASSERT_EQ(members->size(), 2);
    const char* ids[] = {"c1", "c2"};
    const int flags[] = {IFixDefs::QORACONTINUOUS_PACKET, IFixDefs::QORACONTINUOUS_END};
    for (int i = 0; i < 2; ++i) {
        SCOPED_TRACE(i);
        merrow::IMessage* member = members->get(i)->asMessage();
        ASSERT_NE(member, nullptr);
        EXPECT_STREQ(member->getMsgType(), IFixDefs::MSGTYPE_QORAREQUEST);
        EXPECT_EQ(text(member, IFixDefs::FLDTAG_TESTREQID), ids[i]);
        EXPECT_EQ(text(member, IFixDefs::FLDTAG_QORACOMMANDID), "34");
        EXPECT_EQ(member->getIntValue(IFixDefs::FLDTAG_QORACONTINUOUSFLAG), flags[i]);
        EXPECT_EQ(params(member), (Pairs{{"Stage", "O"},
                                         {"CONTINGENCY_TYPE", "1"},
                                         {"QID", ids[i]},
                                         {"QTXT", "ZLQW"},
                                         {"Parties", kParties}}));
    }
}

TEST_F(MessageBuilderWire, OtoWithAnOcoGoesOutAsOneFlatBatch)
{
    RefPtr<CommandRequest> oto = command("oto", 34);
    addChild(oto, command("primary", 34, {{"Stage", "O"}}));
    RefPtr<CommandRequest> oco = command("oco", 34);
    addChild(oco, command("stop", 34, {{"PRIMARY_QID", "primary"}}));
    addChild(oco, command("limit", 34));
    addChild(oto, oco);

    auto m = send(oto.get());
    ASSERT_TRUE(m);
    merrow::IFieldGroupList* members = m->getGroupList(IFixDefs::FLDTAG_EMBMSG);
    ASSERT_NE(members, nullptr);
    ASSERT_EQ(members->size(), 3);
    const char* ids[] = {"primary", "stop", "limit"};
    for (int i = 0; i < 3; ++i) {
        SCOPED_TRACE(ids[i]);
        EXPECT_EQ(text(members->get(i), IFixDefs::FLDTAG_TESTREQID), ids[i]);
        EXPECT_EQ(members->get(i)->getIntValue(IFixDefs::FLDTAG_QORACONTINUOUSFLAG),
                  i == 2 ? IFixDefs::QORACONTINUOUS_END : IFixDefs::QORACONTINUOUS_PACKET);
        EXPECT_EQ(members->get(i)->getGroupList(IFixDefs::FLDTAG_EMBMSG), nullptr);
    }
}

TEST_F(MessageBuilderWire, RtmpCommandIsOneXmlElementWithSortedAttributes)
{
    RefPtr<RTMPCommandRequest> r = adoptRef(new RTMPCommandRequest("rq-7", 9, "SubscrList"));
    auto m = send(r.get());
    ASSERT_TRUE(m);
    EXPECT_STREQ(m->getMsgType(), IFixDefs::MSGTYPE_QORAXMLMESSAGE);
    EXPECT_EQ(text(m.get(), IFixDefs::FLDTAG_TEXT),
              "<SubscrList RequestId=\"rq-7\" SessionId=\"sess-1\" Type=\"MSG\" Parties=\"\" />");
    EXPECT_EQ(text(m.get(), IFixDefs::FLDTAG_QORACOMMANDID), "Send");
}

TEST_F(MessageBuilderWire, RtmpSessionInitCarriesNoRequestId)
{
    RefPtr<RTMPInitRequest> r = adoptRef(new RTMPInitRequest());
    auto m = send(r.get());
    ASSERT_TRUE(m);
    EXPECT_EQ(text(m.get(), IFixDefs::FLDTAG_TEXT), "<SessionInitMsg SessionId=\"sess-1\" Parties=\"\" />");
}

TEST_F(MessageBuilderWire, RtmpPriceHistoryRendersParametersInNameOrderAndEscapesValues)
{
    RefPtr<CRTMPChartSessionRequest> chart(new CRTMPChartSessionRequest());
    chart->setName("GetPriceHistory");
    chart->setMethodName("GetPriceHistory");
    chart->setParameter("SessionId", "sess-1");
    chart->setParameter("Instrument", "A&B<\"C\">");
    chart->setParameter("RespFmt", "amf3");
    chart->setParameter("Period", "5");
    chart->setParameter("DateFrom", "2012 3 7- 9: 5: 0");
    chart->setRequestID("h-1");
    RefPtr<FixRequest> r = adoptRef(new FixRequest("h-1", chart.get()));

    auto m = send(r.get());
    ASSERT_TRUE(m);
    EXPECT_EQ(text(m.get(), IFixDefs::FLDTAG_TEXT),
              "<GetPriceHistory DateFrom=\"2012 3 7- 9: 5: 0\" Instrument=\"A&amp;B&lt;&quot;C&quot;&gt;\" "
              "Period=\"5\" RequestId=\"h-1\" RespFmt=\"amf3\" SessionId=\"sess-1\" Parties=\"\" />");
    EXPECT_EQ(text(m.get(), IFixDefs::FLDTAG_QORACOMMANDID), "GetPriceHistory");
}

// A DAS price-history request as the request factory builds it.
RefPtr<CMarketDataRequest> history(int interval, int entryTypes)
{
    RefPtr<CMarketDataRequest> md(new CMarketDataRequest());
    md->setMDReqID("md-1");
    md->setSubscriptionRequestType(CMarketDataRequest::Snapshot);
    md->setMDEntryTypeSet(entryTypes);
    md->addRelatedSymbol("EUR/USD");
    md->setTimingInterval(interval);
    md->setTradingSessionSubID("PriceServer");
    md->setResponseFormat(IFixDefs::MSGTYPE_QORARESPONSE);
    md->setMarketDepth(300);
    md->setNoSnapshot(300);
    return md;
}

std::string entryTypes(const merrow::IFieldGroup* m)
{
    std::string types;
    const merrow::IFieldGroupList* list = m->getGroupList(IFixDefs::FLDTAG_NOMDENTRYTYPES);
    for (int i = 0; list != nullptr && i < list->size(); ++i)
        types += text(list->get(i), IFixDefs::FLDTAG_MDENTRYTYPE);
    return types;
}

TEST_F(MessageBuilderWire, PriceHistoryRequestListsEntryTypesInOrder)
{
    struct Case {
        int interval;
        int bits;
        std::string types;
    } cases[] = {
        {0, CMarketDataRequest::EntryBid | CMarketDataRequest::EntryAsk, {IFixDefs::MDENTRYTYPE_BID, IFixDefs::MDENTRYTYPE_ASK, 'H'}},
        {0, CMarketDataRequest::EntryAsk | CMarketDataRequest::EntryLow, {IFixDefs::MDENTRYTYPE_ASK, IFixDefs::MDENTRYTYPE_LOW, 'H'}},
        {5, CMarketDataRequest::EntryAsk, {'m', 'n', 'o', 'p', 'H'}},
        {1, 15, {'i', 'j', 'k', 'l', 'm', 'n', 'o', 'p', IFixDefs::MDENTRYTYPE_HIGH, IFixDefs::MDENTRYTYPE_LOW, 'H'}},
        {6, 0, "H"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.types);
        RefPtr<CMarketDataRequest> md = history(c.interval, c.bits);
        RefPtr<FixRequest> r = adoptRef(new FixRequest("md-1", md.get()));
        auto m = send(r.get());
        ASSERT_TRUE(m);
        EXPECT_EQ(entryTypes(m.get()), c.types);
    }
}

TEST_F(MessageBuilderWire, PriceHistoryRequestFields)
{
    RefPtr<CMarketDataRequest> md = history(5, CMarketDataRequest::EntryAsk);
    md->setSettlType("H4");
    md->setStartDate(vorntool::date(2011, 3, 15, 14, 30, 5).getSerial());
    md->setIncludeWeekendData(true);
    RefPtr<FixRequest> r = adoptRef(new FixRequest("md-1", md.get()));
    auto m = send(r.get());
    ASSERT_TRUE(m);
    EXPECT_STREQ(m->getMsgType(), IFixDefs::MSGTYPE_MARKETDATAREQUEST);
    EXPECT_EQ(text(m.get(), IFixDefs::FLDTAG_MDREQID), "md-1");
    EXPECT_EQ(m->getIntValue(IFixDefs::FLDTAG_SUBSCRIPTIONREQUESTTYPE), IFixDefs::SUBSCRIPTIONREQUESTTYPE_SNAPSHOT);
    EXPECT_EQ(m->getIntValue(IFixDefs::FLDTAG_MARKETDEPTH), 300);
    EXPECT_EQ(text(m.get(), IFixDefs::FLDTAG_QORAINCLUDEWEEKENDS), "true");
    EXPECT_FALSE(m->hasField(IFixDefs::FLDTAG_MDUPDATETYPE)) << "a snapshot is not an update stream";
    const merrow::IFieldGroupList* sessions = m->getGroupList(IFixDefs::FLDTAG_NOTRADINGSESSIONS);
    ASSERT_TRUE(sessions != nullptr && sessions->size() == 1);
    EXPECT_EQ(text(sessions->get(0), IFixDefs::FLDTAG_TRADINGSESSIONID), "QORA");
    EXPECT_EQ(text(sessions->get(0), IFixDefs::FLDTAG_TRADINGSESSIONSUBID), "PriceServer");
    EXPECT_EQ(text(m.get(), IFixDefs::FLDTAG_SETTLTYPE), "H4");
    const merrow::IFieldGroupList* symbols = m->getGroupList(IFixDefs::FLDTAG_NORELATEDSYM);
    ASSERT_TRUE(symbols != nullptr && symbols->size() == 1);
    EXPECT_EQ(text(symbols->get(0), IFixDefs::FLDTAG_SYMBOL), "EUR/USD");
    EXPECT_EQ(m->getIntValue(IFixDefs::FLDTAG_QORATIMINGINTERVAL), 5);
    EXPECT_EQ(text(m.get(), IFixDefs::FLDTAG_QORASTARTDATE), "20110315");
    EXPECT_EQ(text(m.get(), IFixDefs::FLDTAG_QORASTARTTIME), "14:30:05");
    EXPECT_FALSE(m->hasField(IFixDefs::FLDTAG_QORAENDDATE)) << "an end date of 0 is not sent";
    EXPECT_FALSE(m->hasField(IFixDefs::FLDTAG_QORAENDTIME));
    EXPECT_EQ(m->getIntValue(IFixDefs::FLDTAG_QORANOSNAPSHOT), 300);
    EXPECT_EQ(text(m.get(), IFixDefs::FLDTAG_RESPONSE_FORMAT), IFixDefs::MSGTYPE_QORARESPONSE);

    // A peer decodes the same request back.
    RefPtr<AFixObject> decoded(CFixObjectFactory::toObject(m.get()));
    ASSERT_TRUE(decoded);
    ASSERT_EQ(decoded->getKind(), AFixObject::KIND_MARKETDATAREQUEST);
    auto* back = static_cast<CMarketDataRequest*>(decoded.get());
    EXPECT_STREQ(back->getMDReqID(), "md-1");
    EXPECT_EQ(back->getMDEntryTypeSet(), CMarketDataRequest::EntryAsk);
    EXPECT_EQ(back->getTimingInterval(), 5);
    EXPECT_DOUBLE_EQ(back->getStartDate(), md->getStartDate());
    EXPECT_EQ(back->getEndDate(), 0);
    EXPECT_STREQ(back->getSettlType(), "H4");
    ASSERT_EQ(back->getSymbolCount(), 1);
    EXPECT_STREQ(back->getRelatedSymbol(0), "EUR/USD");
    EXPECT_STREQ(back->getTradingSessionSubID(), "PriceServer");
    EXPECT_TRUE(back->getIncludeWeekendData());
    EXPECT_EQ(back->getMarketDepth(), 300);
    EXPECT_EQ(back->getNoSnapshot(), 300);
}

TEST_F(MessageBuilderWire, UnsubscribeNamesOnlyTheRequest)
{
    RefPtr<CMarketDataRequest> md = history(0, 3);
    md->setSubscriptionRequestType(CMarketDataRequest::Unsubscribe);
    md->setStartDate(vorntool::date(2011, 3, 15).getSerial());
    md->setEndDate(vorntool::date(2011, 3, 16).getSerial());
    RefPtr<FixRequest> r = adoptRef(new FixRequest("md-1", md.get()));
    auto m = send(r.get());
    ASSERT_TRUE(m);
    EXPECT_EQ(m->getIntValue(IFixDefs::FLDTAG_SUBSCRIPTIONREQUESTTYPE),
              IFixDefs::SUBSCRIPTIONREQUESTTYPE_UNSUBSCRIBE);
    EXPECT_TRUE(m->hasField(IFixDefs::FLDTAG_MDUPDATETYPE));
    EXPECT_EQ(m->getIntValue(IFixDefs::FLDTAG_MDUPDATETYPE), 0);
    EXPECT_NE(m->getGroupList(IFixDefs::FLDTAG_NOTRADINGSESSIONS), nullptr);
    for (int tag : {IFixDefs::FLDTAG_NOMDENTRYTYPES, IFixDefs::FLDTAG_NORELATEDSYM, IFixDefs::FLDTAG_QORASTARTDATE,
                    IFixDefs::FLDTAG_QORASTARTTIME, IFixDefs::FLDTAG_QORAENDDATE, IFixDefs::FLDTAG_QORAENDTIME,
                    IFixDefs::FLDTAG_QORATIMINGINTERVAL, IFixDefs::FLDTAG_QORANOSNAPSHOT,
                    IFixDefs::FLDTAG_RESPONSE_FORMAT})
        EXPECT_FALSE(m->hasField(tag)) << tag;
}

// A request kind the builder does not know.
class OtherRequest : public BaseRequest {
public:
    OtherRequest() : BaseRequest("x") {}

protected:
    ~OtherRequest() override = default;
};

TEST_F(MessageBuilderWire, NothingIsBuiltForWhatCannotBeSent)
{
    RefPtr<CommandRequest> das = command("r", 3);
    RefPtr<OtherRequest> other = adoptRef(new OtherRequest());
    RefPtr<FixRequest> empty = adoptRef(new FixRequest("f", nullptr));
    EXPECT_EQ(IMessageBuilder::create(nullptr, &session), nullptr);
    EXPECT_EQ(IMessageBuilder::create(das.get(), nullptr), nullptr);
    EXPECT_EQ(IMessageBuilder::create(other.get(), &session), nullptr);
    EXPECT_EQ(IMessageBuilder::create(empty.get(), &session), nullptr);
}

} // namespace
} // namespace zel
