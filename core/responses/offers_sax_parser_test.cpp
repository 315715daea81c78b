#include "core/responses/offers_sax_parser.h"

#include <gtest/gtest.h>

#include <string>

namespace zel {
namespace {

class Instruments : public TThreadSafeAddRefImpl<IInstrumentsLookup> {
public:
    Instruments()
    {
        eur.offerID = "1";
        eur.symbol = "EUR/USD";
        eur.buyAdj = 0.0002;
    }
    std::shared_ptr<const Instrument> find(const char* id) override { return borrowInstrument(id && eur.offerID == id ? &eur : nullptr); }
    Instrument eur;
};

TEST(OffersSAXParser, PairsOfKnownInstrumentsBecomeRows)
{
    RefPtr<Instruments> instruments = adoptRef(new Instruments());
    OfferRowFactory factory(instruments.get());
    RefPtr<OffersTableResponseReader> reader = adoptRef(new OffersTableResponseReader());
    OffersSAXParser handler(factory, reader.get(), nullptr, 0);
    const std::string xml =
        "<Offers><PAIR QORASymId=\"1\" QuoteID=\"Q1\" BidPx=\"1.1\" AskPx=\"1.2\" LowValue=\"1.0\" "
        "HighValue=\"1.3\" qorasymid=\"ignored\" Other=\"x\"/><Pair QORASymId=\"2\" BidPx=\"9\"/>"
        "<Row QORASymId=\"1\"/></Offers>";
    EXPECT_TRUE(XmlParser::Parse(xml.c_str(), xml.size(), &handler));
    ASSERT_EQ(reader->size(), 1) << "an offer of an unknown instrument yields no row";
    RefPtr<IZelOfferRow> row = adoptRef(reader->getRow(0));
    EXPECT_STREQ(row->getOfferID(), "1");
    EXPECT_STREQ(row->getQuoteID(), "Q1");
    EXPECT_STREQ(row->getInstrument(), "EUR/USD");
    EXPECT_DOUBLE_EQ(row->getBid(), 1.1);
    EXPECT_NEAR(row->getAsk(), 1.2002, 1e-12);
    EXPECT_DOUBLE_EQ(row->getLow(), 1.0);
    EXPECT_DOUBLE_EQ(row->getHigh(), 1.3);
}

} // namespace
} // namespace zel
