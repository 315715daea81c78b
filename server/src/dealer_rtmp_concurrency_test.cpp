// RTMP sessions over the real transport: the logon's initial texts, "SessionInitMsg"
// answered by the pushed "SysConfigMsg" with a bare "&", "SubscrList" answered by the
// "Pair" document, prices as level-2 snapshots with their times, and a reject with
// its reason for everything else an RTMP session asks.

#include "dealer_fixture.h"

namespace pellora::dealer::testing {
namespace {

class RtmpTest : public DealerTest {
protected:
    std::unique_ptr<Client> rtmp() {
        LoginArgs a;
        a.connection = "DemoRTMP";
        return loggedIn(a);
    }
    static size_t count(const std::string& text, const std::string& what) {
        size_t n = 0;
        for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
        return n;
    }
    std::string subscrList(Client& c, const std::string& id) {
        return "<SubscrList Parties=\"\" RequestId=\"" + id + "\" SessionId=\"" + c.session()->getSessionID() +
               "\" Type=\"MSG\" />";
    }
};

TEST_F(RtmpTest, LogonCarriesTheSysConfigAndPairDocuments) {
    auto c = rtmp();
    const char* props = c->session()->getInitialMessage("3");
    ASSERT_NE(props, nullptr);
    EXPECT_EQ(std::string(props).rfind("<SysConfigMsg>", 0), 0u);
    // The client doubles every "&" itself before it parses: the dealer writes it bare.
    EXPECT_NE(std::string(props).find("value=\"https://localhost/reports?source=pellora&kind=statement\""),
              std::string::npos);
    EXPECT_EQ(std::string(props).find("&amp;"), std::string::npos);
    const char* pairs = c->session()->getInitialMessage("139");
    ASSERT_NE(pairs, nullptr);
    EXPECT_EQ(count(pairs, "<Pair "), dealer->world().instruments.size());
    // RTMP loads no accounts, offers table or margins from the logon.
    for (const char* none : {"5", "9", "138"}) EXPECT_EQ(c->session()->getInitialMessage(none), nullptr) << none;
}

TEST_F(RtmpTest, SessionInitAndSubscriptionAreAnswered) {
    auto c = rtmp();
    c->xml(std::string("<SessionInitMsg Parties=\"\" SessionId=\"") + c->session()->getSessionID() + "\" />");
    Got sys;
    ASSERT_TRUE(c->messages().waitFor([](const Got& g) { return g.type == Fx::MSGTYPE_QORAXMLMESSAGE; }, &sys));
    EXPECT_EQ(sys.field(Fx::FLDTAG_TESTREQID), "");
    EXPECT_EQ(sys.field(Fx::FLDTAG_TEXT), c->session()->getInitialMessage("3"));

    const std::string id = c->newId();
    Got g = c->xml(subscrList(*c, id), id);
    ASSERT_EQ(g.type, Fx::MSGTYPE_QORARTMPRESPONSE);
    const std::string doc = g.field(Fx::FLDTAG_TEXT);
    EXPECT_EQ(count(doc, "<Pair "), dealer->world().instruments.size());
    EXPECT_NE(doc.find("<Pair QORASymId=\"1\" Symbol=\"EUR/USD\" ContractCurrency=\"EUR\" Precision=\"5\""),
              std::string::npos);
    EXPECT_EQ(count(doc, " BidPx=\""), dealer->world().instruments.size());
}

TEST_F(RtmpTest, PricesAreLevel2SnapshotsWithTheirTimes) {
    auto c = rtmp();
    auto das = loggedIn();
    const UnixMs start = dealer->now();
    ASSERT_TRUE(dealer->stepClock(3000).isOk());
    ASSERT_TRUE(c->messages().waitFor([](const Got& g) { return g.type == Fx::MSGTYPE_QORARTMPMARKETDATASNAPSHOT; }));
    ASSERT_TRUE(das->messages().waitFor([](const Got& g) { return g.type == Fx::MSGTYPE_DASMESSAGE; }));
    dealer->stopPrices();
    // An answer on the same connection comes after every snapshot pushed before it.
    const std::string id = c->newId();
    ASSERT_EQ(c->xml(subscrList(*c, id), id).type, Fx::MSGTYPE_QORARTMPRESPONSE);
    size_t quotes = 0;
    int64_t lastSequence = 0;
    for (const Got& g : c->messages().all()) {
        EXPECT_NE(g.type, Fx::MSGTYPE_DASMESSAGE);
        if (g.type != Fx::MSGTYPE_QORARTMPMARKETDATASNAPSHOT) continue;
        for (const Level2Seen& q : g.quotes) {
            ++quotes;
            const Instrument* ins = dealer->world().findInstrument(q.offerId);
            ASSERT_NE(ins, nullptr) << q.offerId;
            EXPECT_EQ(q.symbol, ins->symbol);
            EXPECT_EQ(q.originator, "Pellora");
            EXPECT_GT(q.sequence, lastSequence);
            lastSequence = q.sequence;
            EXPECT_GE(q.time, start / 1000);
            EXPECT_LE(q.time, dealer->now() / 1000);
            EXPECT_LT(q.bid, q.ask);
            EXPECT_LE(q.low, q.bid);
            EXPECT_GE(q.high, q.bid);
            EXPECT_EQ(q.bidCondition, "1");
            EXPECT_EQ(q.quoteId.rfind(q.offerId + "-", 0), 0u);
        }
    }
    EXPECT_GE(quotes, 5u);
    for (const Got& g : das->messages().all()) EXPECT_NE(g.type, Fx::MSGTYPE_QORARTMPMARKETDATASNAPSHOT);
    // A price set by hand reaches the RTMP session as a snapshot too.
    c->messages().clear();
    ASSERT_TRUE(dealer->setPrice("1", 1.5).isOk());
    Got g;
    ASSERT_TRUE(c->messages().waitFor([](const Got& m) { return !m.quotes.empty() && m.quotes[0].offerId == "1"; }, &g));
    EXPECT_DOUBLE_EQ(g.quotes[0].bid, 1.5);
}

TEST_F(RtmpTest, EveryOtherRequestIsRejectedWithItsReason) {
    auto c = rtmp();
    const std::string sid = c->session()->getSessionID();
    struct Case {
        std::string xml;  // with ID where the element carries one
        std::string reason;
    };
    const Case cases[] = {
        {"<GetPriceHistory Instrument=\"EUR/USD\" Period=\"m1\" RequestId=\"ID\" RespFmt=\"amf3\" SessionId=\"" + sid +
             "\" Parties=\"\" />",
         "Price history is not offered over RTMP."},
        {"<GetSystemRules RequestId=\"ID\" Type=\"MSG\" />", "not served over RTMP"},
        {"<SubscrList RequestId=\"ID\" ", "is not closed"},
        {"<SubscrList RequestId=\"ID\" a=\"x & y\"/>", "bad character or entity"},
    };
    for (const Case& k : cases) {
        const std::string id = c->newId();
        std::string xml = k.xml;
        xml.replace(xml.find("\"ID\""), 4, "\"" + id + "\"");
        Got g = c->xml(xml, id);
        EXPECT_EQ(g.type, Fx::MSGTYPE_QORAREQUESTREJECT) << k.xml;
        EXPECT_NE(g.field(Fx::FLDTAG_TEXT).find(k.reason), std::string::npos) << k.xml << ": " << g.field(Fx::FLDTAG_TEXT);
    }
    // An order (a DAS request) and price history (a market-data request).
    EXPECT_EQ(c->command(34, {{"OfferID", "1"}}), "<" + std::string(Fx::MSGTYPE_QORAREQUESTREJECT) +
                                                       ">: This session takes no DAS requests.");
    Got h = c->history(Client::History());
    EXPECT_EQ(h.type, Fx::MSGTYPE_MARKETDATAREQUESTREJECT);
    EXPECT_EQ(h.field(Fx::FLDTAG_TEXT), "Price history is not offered over RTMP.");
    // A DAS session takes no XML.
    auto das = loggedIn();
    const std::string id = das->newId();
    Got x = das->xml(subscrList(*das, id), id);
    EXPECT_EQ(x.type, Fx::MSGTYPE_QORAREQUESTREJECT);
    EXPECT_EQ(x.field(Fx::FLDTAG_TEXT), "This session takes no XML requests.");
}

} // namespace
} // namespace pellora::dealer::testing
