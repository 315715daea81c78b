// The RTMP wire texts: reading request elements (and refusing what is not one),
// the "SysConfigMsg" document with bare "&", the "SubscrList" document, and the
// level-2 snapshot's fields.

#include "rtmp_protocol.h"

#include <gtest/gtest.h>

#include "demo_world.h"

namespace pellora::dealer {
namespace {

using Fx = merrow::IFixDefs;

TEST(RtmpRequestTest, ReadsTheElementsTheClientWrites) {
    XmlRequest r;
    ASSERT_TRUE(readXmlRequest("<SubscrList Parties=\"\" RequestId=\"ab:12\" SessionId=\"S1\" Type=\"MSG\" />", r).isOk());
    EXPECT_EQ(r.name, "SubscrList");
    ASSERT_EQ(r.attributes.size(), 4u);
    EXPECT_EQ(*r.attribute("RequestId"), "ab:12");
    EXPECT_EQ(*r.attribute("Parties"), "");
    EXPECT_EQ(r.attribute("requestid"), nullptr);  // names are exact

    // Entities decoded; apostrophes, a declaration, an empty element with an end tag.
    ASSERT_TRUE(readXmlRequest(" <?xml version=\"1.0\"?>\n<X a='1 &amp; &lt;2&gt; &quot;&apos;&#65;&#x42;'></X>\n", r).isOk());
    EXPECT_EQ(r.name, "X");
    EXPECT_EQ(*r.attribute("a"), "1 & <2> \"'AB");
}

TEST(RtmpRequestTest, RefusesWhatIsNotOneElementWithAReason) {
    const char* bad[] = {
        "",
        "plain text",
        "<",
        "< SubscrList/>",
        "<SubscrList",
        "<SubscrList RequestId=\"1\"",
        "<SubscrList RequestId=1/>",
        "<SubscrList RequestId/>",
        "<SubscrList RequestId=\"1/>",
        "<SubscrList RequestId=\"1\"Type=\"MSG\"/>",
        "<SubscrList RequestId=\"1\" RequestId=\"2\"/>",
        "<SubscrList a=\"x & y\"/>",
        "<SubscrList a=\"&bogus;\"/>",
        "<SubscrList a=\"&#0;\"/>",
        "<SubscrList a=\"&#xD800;\"/>",
        "<SubscrList a=\"&#99999999;\"/>",
        "<SubscrList a=\"<\"/>",
        "<SubscrList/><Another/>",
        "<SubscrList>text</SubscrList>",
        "<SubscrList></Other>",
        "<SubscrList/ >",
    };
    for (const char* text : bad) {
        XmlRequest r;
        Status s = readXmlRequest(text, r);
        EXPECT_FALSE(s.isOk()) << text;
        EXPECT_FALSE(s.text().empty()) << text;
    }
    XmlRequest r;
    const std::string huge = "<SubscrList a=\"" + std::string(kMaxXmlRequest, 'x') + "\"/>";
    EXPECT_NE(readXmlRequest(huge, r).text().find("larger than"), std::string::npos);
}

TEST(RtmpRequestTest, RequestIdOfUnreadableText) {
    EXPECT_EQ(xmlRequestIdOf("<A RequestId=\"7&amp;8\"/>"), "7&8");
    EXPECT_EQ(xmlRequestIdOf("<A RequestId=\"77\" broken"), "77");
    EXPECT_EQ(xmlRequestIdOf("<A RequestId='78' x=\"&\"/>"), "78");
    EXPECT_EQ(xmlRequestIdOf("<A/>"), "");
    EXPECT_EQ(xmlRequestIdOf("nonsense"), "");
}

TEST(RtmpDocumentTest, SysConfigWritesAmpersandsBare) {
    World w;
    w.systemProperties = {{"TRADER_REPORTS_URL", "https://h/r?a=1&b=2"},
                          {"QUOTED", "say \"hi\""},
                          {"BOTH", "it's \"x\""},
                          {"ANGLE", "a<b"},
                          {"BASE_CRNCY", "USD"}};
    Connection c;
    std::vector<std::string> omitted;
    EXPECT_EQ(sysConfigDocument(w, c, &omitted),
              "<SysConfigMsg><Prop name=\"TRADER_REPORTS_URL\" value=\"https://h/r?a=1&b=2\"/>"
              "<Prop name=\"QUOTED\" value='say \"hi\"'/>"
              "<Prop name=\"BASE_CRNCY\" value=\"USD\"/></SysConfigMsg>");
    EXPECT_EQ(omitted, (std::vector<std::string>{"BOTH", "ANGLE"}));
    c.priceTerminal = "PriceDemo";
    EXPECT_NE(sysConfigDocument(w, c).find("<Prop name=\"EXT_PRICE_TERMINAL\" value=\"PriceDemo\"/>"),
              std::string::npos);
}

TEST(RtmpDocumentTest, PairsCarryInstrumentAndOfferAttributes) {
    World w = demoWorld();
    std::vector<Instrument> ins{*w.findInstrument("1"), *w.findInstrument("2")};
    ins[1].symbol = "A&B<\"";
    OfferQuote q;
    q.offerId = "1";
    q.quoteId = "1-5";
    q.bid = 1.0845;
    q.ask = 1.08458;
    q.high = 1.09;
    q.low = 1.08;
    EXPECT_EQ(pairsDocument(ins, {q}),
              "<SubscrList>"
              "<Pair QORASymId=\"1\" Symbol=\"EUR/USD\" ContractCurrency=\"EUR\" Precision=\"5\" PointSize=\"0.0001\""
              " SellAdj=\"0\" BuyAdj=\"0\" InstrumentType=\"1\" QuoteID=\"1-5\" BidPx=\"1.08450\" AskPx=\"1.08458\""
              " HighValue=\"1.09000\" LowValue=\"1.08000\"/>"
              "<Pair QORASymId=\"2\" Symbol=\"A&amp;B&lt;&quot;\" ContractCurrency=\"USD\" Precision=\"3\""
              " PointSize=\"0.01\" SellAdj=\"0\" BuyAdj=\"0\" InstrumentType=\"1\"/>"
              "</SubscrList>");
}

TEST(RtmpDocumentTest, Level2SnapshotFields) {
    World w = demoWorld();
    OfferQuote q;
    q.offerId = "1";
    q.quoteId = "1-9";
    q.time = 1767614400123;  // 2026-01-05 12:00:00.123 UTC
    q.bid = 1.1;
    q.ask = 1.2;
    q.high = 1.3;
    q.low = 1.0;
    q.volume = 42;
    q.askTradable = "I";
    MessagePtr m = level2Snapshot({{w.findInstrument("1"), q}}, 17);
    EXPECT_STREQ(m->getMsgType(), Fx::MSGTYPE_QORARTMPMARKETDATASNAPSHOT);
    merrow::IFieldGroup* o = m->getGroupList(Fx::FLDTAG_NOMDENTRIES)->get(0);
    EXPECT_STREQ(o->getValue(Fx::FLDTAG_QORAMDORIGINATOR), "Pellora");
    EXPECT_EQ(o->getIntValue(Fx::FLDTAG_MDREQID), 17);
    merrow::IFieldGroup* g = o->getGroupList(Fx::FLDTAG_QORAMDQUOTES)->get(0);
    EXPECT_STREQ(g->getValue(Fx::FLDTAG_SYMBOL), "EUR/USD");
    EXPECT_EQ(g->getIntValue(Fx::FLDTAG_QORASYMID), 1);
    EXPECT_STREQ(g->getValue(Fx::FLDTAG_QUOTEENTRYID), "1-9");
    EXPECT_EQ(g->getIntValue(Fx::FLDTAG_QORAMDQUOTEDATETIME), 1767614400);
    EXPECT_EQ(g->getIntValue(static_cast<int>(Fx::MDENTRYTYPE_VOLUME)), 42);
    merrow::IFieldGroupList* e =
        g->getGroupList(Fx::FLDTAG_QORAMDPRICELADDERS)->get(0)->getGroupList(Fx::FLDTAG_QORAMDENTRYLIST);
    ASSERT_EQ(e->size(), 4);
    const struct {
        const char* type;
        double px;
        const char* condition;
    } want[] = {{"0", 1.1, "1"}, {"1", 1.2, "0"}, {"7", 1.3, "1"}, {"8", 1.0, "1"}};
    for (int i = 0; i < 4; ++i) {
        EXPECT_STREQ(e->get(i)->getValue(Fx::FLDTAG_MDENTRYTYPE), want[i].type);
        EXPECT_DOUBLE_EQ(e->get(i)->getDoubleValue(Fx::FLDTAG_MDENTRYPX), want[i].px);
        EXPECT_STREQ(e->get(i)->getValue(Fx::FLDTAG_QUOTECONDITION), want[i].condition);
    }
}

} // namespace
} // namespace pellora::dealer
