#include "core/responses/das_message_processor.h"

#include <gtest/gtest.h>

#include <map>
#include <string>

#include "vorntool/date.h"

namespace zel {
namespace {

class Instruments : public TThreadSafeAddRefImpl<IInstrumentsLookup> {
public:
    Instruments()
    {
        Instrument& eur = m_map["1"];
        eur.offerID = "1";
        eur.symbol = "EUR/USD";
        eur.priceStream = "PS";
        eur.sellAdj = 0.0001;
    }
    std::shared_ptr<const Instrument> find(const char* id) override
    {
        auto it = m_map.find(id ? id : "");
        return borrowInstrument(it == m_map.end() ? nullptr : &it->second);
    }

private:
    std::map<std::string, Instrument> m_map;
};

class Updates : public ::testing::Test {
protected:
    RefPtr<TablesUpdatesReader> read(const std::string& text, const char* nothing = nullptr)
    {
        RefPtr<TablesUpdatesReader> reader = adoptRef(new TablesUpdatesReader());
        DasMessageProcessor processor(reader.get(), factory, instruments.get(), nothing);
        CResultSetTokenizer(text.c_str()).tokenize(&processor);
        return reader;
    }

    RefPtr<Instruments> instruments = adoptRef(new Instruments());
    OfferRowFactory factory{instruments.get()};
};

TEST_F(Updates, EachLineGoesToItsTableWithItsOwnKind)
{
    RefPtr<TablesUpdatesReader> r = read(
        "0;01052026103005\n"
        "ORDER;U;O1;x;R1\n"
        "TRADE;X;T0\n"       // unknown kind: nothing
        "OFFER;U;99;Q\n"     // unknown instrument: nothing
        "BOGUS;I;1\n"        // unknown table: nothing
        "TRADE;D;T1\n"
        "OFFER;I;1;Q7;;;;1.5;1.6\n"
        "ACCT;I;A1\n"
        "CLSDTRADE;U;C1\n"
        "MAIL;I;M1;;;;;;;<HTML-DATA>hi</HTML-DATA>\n");
    EXPECT_DOUBLE_EQ(r->getServerTime(), vorntool::date(2026, 1, 5, 10, 30, 5).getSerial());
    ASSERT_EQ(r->size(), 6);
    const ZelTable tables[] = {ZelTable::Orders, ZelTable::Trades, ZelTable::Offers,
                               ZelTable::Accounts, ZelTable::ClosedTrades, ZelTable::Messages};
    const ZelTableUpdateType kinds[] = {ZelTableUpdateType::Update, ZelTableUpdateType::Delete,
                                        ZelTableUpdateType::Insert, ZelTableUpdateType::Insert,
                                        ZelTableUpdateType::Update, ZelTableUpdateType::Insert};
    for (int i = 0; i < 6; ++i) {
        EXPECT_EQ(r->getUpdateTable(i), tables[i]) << i;
        EXPECT_EQ(r->getUpdateType(i), kinds[i]) << i;
    }
    RefPtr<IZelOrderRow> order = adoptRef(r->getOrderRow(0));
    ASSERT_TRUE(order);
    EXPECT_STREQ(order->getOrderID(), "O1");
    EXPECT_STREQ(order->getRequestID(), "R1");
    RefPtr<IZelOfferRow> offer = adoptRef(r->getOfferRow(2));
    ASSERT_TRUE(offer);
    EXPECT_STREQ(offer->getQuoteID(), "Q7");
    EXPECT_NEAR(offer->getBid(), 1.5001, 1e-12);
    RefPtr<IZelMessageRow> mail = adoptRef(r->getMessageRow(5));
    EXPECT_STREQ(mail->getText(), "hi") << "pushed messages carry the decoded text";

    EXPECT_EQ(r->getOrderRow(2), nullptr) << "an offers entry is no order";
    EXPECT_EQ(r->getOfferRow(6), nullptr);
    EXPECT_EQ(r->getUpdateType(6), ZelTableUpdateType::Unknown);
    EXPECT_EQ(static_cast<int>(r->getUpdateTable(-1)), -1);
}

TEST_F(Updates, WithoutServerTimeTheTimeStaysZero)
{
    EXPECT_EQ(read("0\nORDER;I;O1\n")->getServerTime(), 0.0);
    EXPECT_EQ(read("")->size(), 0);
}

TEST_F(Updates, InstrumentLinesBecomeOffersWithoutPrices)
{
    // Fields after the code and kind are instrument fields 0, 1, ...: 9 the name, 10
    // the contract currency, 23 the price stream.
    std::string fields(41, ';');
    auto line = [](std::map<int, std::string> values) {
        std::string out = "INSTRMT;U";
        for (int f = 0; f <= 40; ++f)
            out += ";" + (values.count(f) ? values[f] : std::string());
        return out;
    };
    RefPtr<TablesUpdatesReader> r = read("0\n" + line({{0, "1"}, {9, "EUR/USD"}, {10, "!="}, {23, "PS"}}) + "\n" +
                                         line({{0, "1"}, {9, "EUR/USD"}, {23, "OTHER"}}) + "\n" +
                                         line({{0, "!="}, {9, "EUR/USD"}}) + "\n" +
                                         line({{0, "1"}, {9, "EUR/USD"}, {23, "!="}}) + "\n");
    ASSERT_EQ(r->size(), 2) << "another price stream, and a line without identifier, add nothing";
    RefPtr<IZelOfferRow> offer = adoptRef(r->getOfferRow(0));
    EXPECT_EQ(r->getUpdateType(0), ZelTableUpdateType::Update);
    EXPECT_STREQ(offer->getInstrument(), "EUR/USD");
    EXPECT_TRUE(offer->isInstrumentValid());
    EXPECT_FALSE(offer->isContractCurrencyValid()) << "its field held the nothing marker";
    EXPECT_TRUE(offer->isDigitsValid());
    for (bool valid : {offer->isQuoteIDValid(), offer->isBidValid(), offer->isAskValid(), offer->isLowValid(),
                       offer->isHighValid(), offer->isVolumeValid(), offer->isTimeValid(),
                       offer->isBidTradableValid(), offer->isAskTradableValid()})
        EXPECT_FALSE(valid);
}

TEST(OfferDasMessageProcessor, OnlyTheOffersOfAMessage)
{
    class One : public TThreadSafeAddRefImpl<IInstrumentsLookup> {
    public:
        std::shared_ptr<const Instrument> find(const char* id) override { return borrowInstrument(std::string(id) == "1" ? &i : nullptr); }
        Instrument i;
    };
    RefPtr<One> one = adoptRef(new One());
    one->i.offerID = "1";
    OfferRowFactory factory(one.get());
    RefPtr<OffersTableResponseReader> reader = adoptRef(new OffersTableResponseReader());
    OfferDasMessageProcessor p(reader.get(), factory);
    CResultSetTokenizer("0;01052026103005\nORDER;I;O1\nOFFER;X;1;Q1\nOFFER;U;2;Q2\nOFFER;U;1;Q3\n").tokenize(&p);
    ASSERT_EQ(reader->size(), 2) << "the kind does not matter; unknown instruments are dropped";
    RefPtr<IZelOfferRow> last = adoptRef(reader->getRow(1));
    EXPECT_STREQ(last->getQuoteID(), "Q3");
}

} // namespace
} // namespace zel
