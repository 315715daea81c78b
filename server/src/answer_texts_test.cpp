#include "answer_texts.h"

#include <gtest/gtest.h>

#include <map>

#include "demo_world.h"

namespace pellora::dealer {
namespace {

const UnixMs kT1 = makeUtc(2009, 12, 31, 23, 59, 59, 123);  // "12312009235959123"
const UnixMs kT2 = makeUtc(2011, 3, 15, 14, 30, 5);         // "03152011143005000"

std::vector<std::string> split(const std::string& line) {
    std::vector<std::string> out;
    size_t pos = 0;
    while (true) {
        const size_t semi = line.find(';', pos);
        out.push_back(line.substr(pos, semi == std::string::npos ? std::string::npos : semi - pos));
        if (semi == std::string::npos) return out;
        pos = semi + 1;
    }
}

// Every named position holds its text; every other position is empty.
void expectFields(const std::string& line, const std::map<size_t, std::string>& expected) {
    const std::vector<std::string> f = split(line);
    ASSERT_EQ(f.size(), expected.rbegin()->first + 1) << line;
    for (size_t i = 0; i < f.size(); ++i) {
        auto it = expected.find(i);
        EXPECT_EQ(f[i], it == expected.end() ? "" : it->second) << "field " << i << " of " << line;
    }
}

TEST(AnswerTexts, EveryTableLineMatchesItsFieldMap) {
    OfferQuote q{"1", "Q9", kT1, 1.23456, 1.23464, 1.3, 1.2, 77, "T", "I"};

    AccountRecord a;
    a.accountId = "A1", a.accountName = "Alice", a.accountKind = "32", a.balance = 1000.5, a.usedMargin = 20;
    a.usedMargin3 = 10.25, a.marginCallFlag = "W", a.lastMarginCallDate = kT2, a.m2mEquity = 990;
    a.nonTradeEquity = -5, a.managerAccountId = "M", a.maintenanceType = "Y", a.amountLimit = 500000;
    a.baseUnitSize = 1000, a.maintenanceFlag = true, a.leverageProfileId = "P1";

    OrderRecord o;
    o.orderId = "O1", o.requestId = "R1", o.requestTxt = "my;text", o.statusTime = kT1, o.lifetime = 1.5;
    o.rate = 1.2, o.tradeId = "T1", o.accountId = "A1", o.accountName = "Alice", o.offerId = "1", o.buySell = "B";
    o.amount = 3000, o.stage = "O", o.atMarket = 2, o.accountKind = "32", o.trailStep = 10, o.trailRate = 1.19;
    o.timeInForce = "GTC", o.type = "SE", o.status = "W", o.originAmount = 4000, o.filledAmount = 1000;
    o.executionRate = 1.21, o.workingIndicator = true, o.contingentOrderId = "G1", o.pegOffset = -12.5;
    o.rateMin = 1.1, o.rateMax = 1.3, o.pegType = "M", o.netQuantity = true, o.contingencyType = 1;
    o.primaryId = "P", o.expireDate = kT2, o.valueDate = "20240705", o.parties = "[a,b,c]";

    TradeRecord t;
    t.tradeId = "T1", t.accountId = "A1", t.accountName = "Alice", t.offerId = "2", t.rolloverInterest = -1.5;
    t.commission = 2, t.openTime = kT1, t.openRate = 149.12, t.openQuoteId = "Q1", t.buySell = "S", t.amount = 1000;
    t.usedMargin = 20.4, t.accountKind = "32", t.openOrderId = "O1", t.openOrderReqId = "R1";
    t.openOrderRequestTxt = "x", t.tradeIdOrigin = "T0", t.valueDate = "V", t.parties = "[p,q,r]";

    ClosedTradeRecord c;
    c.tradeId = "T1", c.accountId = "A1", c.accountName = "Alice", c.offerId = "1", c.rolloverInterest = 0.5;
    c.commission = 1, c.grossPL = -9.75, c.openTime = kT1, c.closeTime = kT2, c.openRate = 1.1, c.openQuoteId = "Q1";
    c.closeRate = 1.09, c.closeQuoteId = "Q2", c.buySell = "B", c.amount = 2000, c.accountKind = "32";
    c.openOrderId = "O1", c.openOrderReqId = "R1", c.openOrderRequestTxt = "o", c.closeOrderId = "O2";
    c.closeOrderReqId = "R2", c.closeOrderRequestTxt = "c", c.tradeIdOrigin = "T0", c.valueDate = "V";
    c.tradeIdRemain = "T2", c.openOrderParties = "[a,b,c]", c.closeOrderParties = "[d,e,f]";

    MessageRecord m;
    m.msgId = "M1", m.user = "alice", m.time = kT2, m.from = "Dealer", m.type = "1", m.feature = "F";
    m.text = "line1\nline2", m.subject = "Hi";

    const std::string t1 = "12312009235959123", t2 = "03152011143005000";
    expectFields(offerLine(q, 5), {{0, "1"}, {1, "Q9"}, {4, t1}, {5, "1.23456"}, {6, "1.23464"}, {13, "T"},
                                   {14, "I"}, {15, "1.30000"}, {16, "1.20000"}, {17, "77"}});
    expectFields(accountLine(a), {{0, "A1"}, {4, "1000.50"}, {5, "20.00"}, {6, "W"}, {7, "Alice"}, {12, "M"},
                                  {13, "32"}, {14, t2}, {15, "10.25"}, {16, "990.00"}, {17, "-5.00"}, {34, "Y"},
                                  {37, "500000"}, {39, "1000"}, {40, "Y"}, {45, "P1"}});
    expectFields(orderLine(o, 5),
                 {{0, "O1"},      {2, "R1"},       {3, "my text"},  {4, t1},       {6, "1.5"},      {7, "1.20000"},
                  {9, "T1"},      {10, "A1"},      {11, "Alice"},   {12, "1"},     {13, "B"},       {14, "3000"},
                  {15, "O"},      {25, "2"},       {26, "32"},      {27, "10"},    {28, "1.19000"}, {29, "GTC"},
                  {32, "SE"},     {33, "W"},       {38, "4000"},    {39, "1000"},  {41, "1.21000"}, {43, "Y"},
                  {45, "G1"},     {46, "-12.5"},   {47, "1.10000"}, {49, "1.30000"}, {51, "M"},     {52, "Y"},
                  {53, "1"},      {54, "P"},       {55, t2},        {56, "20240705"}, {58, "[a,b,c]"}});
    expectFields(tradeLine(t, 3), {{0, "T1"},    {4, "A1"},  {5, "Alice"}, {6, "2"},   {7, "-1.50"}, {8, "2.00"},
                                   {9, t1},      {10, "149.120"}, {11, "Q1"}, {12, "S"}, {13, "1000"}, {20, "20"},
                                   {21, "32"},   {22, "O1"}, {23, "R1"},    {24, "x"}, {27, "T0"},   {28, "V"},
                                   {32, "[p,q,r]"}});
    expectFields(closedTradeLine(c, 5),
                 {{0, "T1"},  {4, "A1"},  {5, "Alice"},  {6, "1"},   {7, "0.50"},    {8, "1.00"},  {9, "-9.75"},
                  {10, t1},   {11, t2},   {12, "1.10000"}, {13, "Q1"}, {14, "1.09000"}, {15, "Q2"}, {16, "B"},
                  {17, "2000"}, {24, "32"}, {25, "O1"},  {26, "R1"}, {27, "o"},      {28, "O2"},   {29, "R2"},
                  {30, "c"},  {32, "T0"}, {33, "V"},     {35, "T2"}, {36, "[a,b,c]"}, {37, "[d,e,f]"}});
    expectFields(messageLine(m), {{0, "M1"}, {3, t2}, {4, "Dealer"}, {5, "1"}, {6, "F"}, {7, "line1 line2"}, {8, "Hi"}});

    const World w = demoWorld();
    const Instrument& eur = *w.findInstrument("1");
    Instrument cfd = *w.findInstrument("13");
    cfd.valueDate = "20240705";
    cfd.buyInterest = 0.25;
    expectFields(instrumentLine(cfd),
                 {{0, "13"},  {4, "0.25"}, {5, "0"},  {9, "SPX500"}, {10, "USD"}, {12, "1"}, {13, "0.1"},
                  {15, "0"},  {16, "0"},   {18, "T"}, {21, "2"},     {23, "Default"}, {25, "1"}, {26, "107,N"},
                  {27, "5"},  {28, "5"},   {29, "5"}, {30, "5"},     {31, "1000"}, {32, "1"}, {33, "O"},
                  {36, "1"},  {40, "20240705"}});
    EXPECT_EQ(split(instrumentLine(eur))[13], "0.0001");
    expectFields(accountPropertiesLine(*w.findMargin("1", "1")), {{0, "1"}, {1, "1"}, {2, "0.02"}, {3, "0.02"}, {4, "0.02"}});
}

TEST(AnswerTexts, EmptyTimesAndFlags) {
    OrderRecord o;
    o.workingIndicator = false;
    const std::vector<std::string> f = split(orderLine(o, 5));
    EXPECT_EQ(f[4], "");   // no status time
    EXPECT_EQ(f[55], "");  // no expiry
    EXPECT_EQ(f[43], "N");
    EXPECT_EQ(f[7], "0");
}

TEST(AnswerTexts, WholeAnswers) {
    const World w = demoWorld();
    const std::string props = systemPropertiesAnswer(w, *w.findConnection("Demo"));
    EXPECT_EQ(props.rfind("0\nBASE_CRNCY;USD;\nBASE_UNIT_SIZE;1000;\n", 0), 0u) << props;
    EXPECT_EQ(props.find("EXT_PRICE_TERMINAL"), std::string::npos);
    EXPECT_NE(props.back(), '\n');
    const std::string priced = systemPropertiesAnswer(w, *w.findConnection("DemoPrice"));
    EXPECT_EQ(priced.substr(priced.rfind('\n') + 1), "EXT_PRICE_TERMINAL;PriceDemo;");

    const std::string instruments = instrumentsAnswer(w);
    EXPECT_EQ(std::count(instruments.begin(), instruments.end(), '\n'), 14);
    EXPECT_EQ(instruments.rfind("0\n1;;;;", 0), 0u);

    const std::vector<std::string> profiles = leverageProfilesOf(w, *w.findUser("demo"));
    EXPECT_EQ(profiles, std::vector<std::string>{"1"});
    const std::string margins = accountPropertiesAnswer(w, profiles);
    EXPECT_EQ(std::count(margins.begin(), margins.end(), '\n'), 14);
    EXPECT_EQ(margins.find("\n2;"), std::string::npos);

    EXPECT_EQ(resultSet({}), "0");
    EXPECT_EQ(accountsAnswer({}), "0");
    EXPECT_EQ(orderCreatedAnswer("123"), "0\n123;N");
    OrderRecord o;
    o.orderId = "9";
    const std::string last = lastOrderUpdateAnswer(UpdateKind::Update, o, 5);
    EXPECT_EQ(last.rfind("0\n;U;9;", 0), 0u) << last;
    EXPECT_EQ(split(last.substr(2))[2 + 43], "Y");  // order fields start at position 2

    OfferQuote q{"2", "Q", kT1, 149.12, 149.13, 149.2, 149.0, 3, "T", "T"};
    EXPECT_EQ(split(offersAnswer(w, {q}).substr(2))[5], "149.120");  // USD/JPY has three digits
}

TEST(AnswerTexts, FailuresReadAsFailures) {
    for (const auto& [code, text, expected] :
         {std::make_tuple(FailureCode::UnknownOffer, unknownOfferText("77"), "4;Unknown offer 77."),
          std::make_tuple(FailureCode::BadAmount, amountMultipleText(1000), "8;Amount must be a multiple of 1000."),
          std::make_tuple(FailureCode::MarketClosed, std::string(kMarketClosedText), "7;The market is closed."),
          std::make_tuple(FailureCode::NotEnoughMargin, std::string(kNotEnoughMarginText), "11;Not enough free margin."),
          std::make_tuple(FailureCode::PriceMoved, std::string(kPriceMovedText), "10;The price has moved."),
          std::make_tuple(FailureCode::BadRequest, std::string("a;b\nc"), "1;a b c"),
          std::make_tuple(FailureCode::Internal, std::string(), "99;The request failed.")}) {
        const std::string a = failureAnswer(code, text);
        EXPECT_EQ(a, expected);
        EXPECT_NE(a[0], '0');  // the SDK treats a leading "0" as success
        EXPECT_EQ(a.find('\n'), std::string::npos);
    }
}

TEST(AnswerTexts, PushedUpdates) {
    UpdateText u(kT1);
    EXPECT_TRUE(u.empty());
    // The client reads the stamp from after the first ";" up to the next ";", lines
    // following or not.
    for (const std::string& head : {u.str(), UpdateText(kT1).add(TableCode::Trade, UpdateKind::Delete, "T1").str()})
        EXPECT_EQ(head.substr(2, head.find(';', 2) - 2), "12312009235959123") << head;
    OrderRecord o;
    o.orderId = "5";
    u.add(TableCode::Order, UpdateKind::Insert, orderLine(o, 5)).add(TableCode::Account, UpdateKind::Update, "A1");
    u.add(TableCode::Trade, UpdateKind::Delete, "T1").add(TableCode::ClosedTrade, UpdateKind::Insert, "C1");
    u.add(TableCode::Offer, UpdateKind::Update, "1").add(TableCode::Message, UpdateKind::Insert, "M");
    u.add(TableCode::Instrument, UpdateKind::Update, "1");
    const std::string s = u.str();
    EXPECT_EQ(s.substr(0, s.find('\n') + 11), "0;12312009235959123;\nORDER;I;5;");
    for (const char* line : {"\nACCT;U;A1", "\nTRADE;D;T1", "\nCLSDTRADE;I;C1", "\nOFFER;U;1", "\nMAIL;I;M",
                             "\nINSTRMT;U;1"})
        EXPECT_NE(s.find(line), std::string::npos) << line;
    EXPECT_NE(s.back(), '\n');
}

TEST(AnswerTexts, NumberFormats) {
    EXPECT_EQ(formatNumber(20), "20");
    EXPECT_EQ(formatNumber(0.0001), "0.0001");
    EXPECT_EQ(formatNumber(-0.0), "0");
    EXPECT_EQ(formatNumber(1e-12), "0");
    EXPECT_EQ(formatNumber(1.0 / 0.0), "0");
    EXPECT_EQ(formatPrice(1.084505, 5), "1.08451");
    EXPECT_EQ(formatPrice(149.1, 3), "149.100");
    EXPECT_EQ(formatMoney(-9.755), "-9.76");
    EXPECT_EQ(formatTime(0), "");
}

} // namespace
} // namespace pellora::dealer
