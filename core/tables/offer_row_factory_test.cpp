#include "core/tables/offer_row_factory.h"

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <string>

#include "core/base/ref_ptr.h"

namespace zel {
namespace {

class FakeInstruments : public TThreadSafeAddRefImpl<IInstrumentsLookup> {
public:
    std::shared_ptr<const Instrument> find(const char* offerID) override
    {
        if (offerID == nullptr)
            return nullptr;
        auto it = m_instruments.find(offerID);
        return borrowInstrument(it != m_instruments.end() ? &it->second : nullptr);
    }
    Instrument& add(const std::string& offerID)
    {
        Instrument& i = m_instruments[offerID];
        i.offerID = offerID;
        return i;
    }

private:
    ~FakeInstruments() override = default;
    std::map<std::string, Instrument> m_instruments;
};

Instrument eurUsd()
{
    Instrument i;
    i.offerID = "1";
    i.symbol = "EUR/USD";
    i.contractCurrency = "EUR";
    i.precision = 5;
    i.pointSize = 0.0001;
    i.sellAdj = -0.00002;
    i.buyAdj = 0.00003;
    i.sellInterest = 0.12;
    i.buyInterest = -0.34;
    i.subscriptionStatus = "T";
    i.instrumentType = 1;
    i.contractMultiplier = 7;
    i.tradingStatus = "O";
    i.valueDate = "20261214";
    i.priceStream = "Default";
    return i;
}

std::unique_ptr<Offer> offer(const char* offerID, double rawBid, double rawAsk)
{
    auto o = std::make_unique<Offer>();
    o->OfferID = offerID;
    o->QuoteID = "Q7";
    o->Bid = 9.5;
    o->Ask = 9.75;
    o->rawBid = rawBid;
    o->rawAsk = rawAsk;
    return o;
}

class OfferRowFactoryTest : public ::testing::Test {
protected:
    OfferRowFactoryTest() : m_instruments(adoptRef(new FakeInstruments())), m_factory(m_instruments.get())
    {
        m_instruments->add("1") = eurUsd();
    }

    RefPtr<FakeInstruments> m_instruments;
    OfferRowFactory m_factory;
};

TEST_F(OfferRowFactoryTest, CompletesTheOfferFromItsInstrument)
{
    RefPtr<OfferRow> row = m_factory.create(offer("1", 1.1, 1.2), true);
    ASSERT_TRUE(row);
    EXPECT_TRUE(row->isReaderRow());
    IZelOfferRow* o = row.get();
    EXPECT_STREQ(o->getOfferID(), "1");
    EXPECT_STREQ(o->getQuoteID(), "Q7");
    EXPECT_STREQ(o->getInstrument(), "EUR/USD");
    EXPECT_STREQ(o->getContractCurrency(), "EUR");
    EXPECT_EQ(o->getDigits(), 5);
    EXPECT_EQ(o->getPointSize(), 0.0001);
    EXPECT_EQ(o->getSellInterest(), 0.12);
    EXPECT_EQ(o->getBuyInterest(), -0.34);
    EXPECT_STREQ(o->getSubscriptionStatus(), "T");
    EXPECT_EQ(o->getInstrumentType(), 1);
    EXPECT_EQ(o->getContractMultiplier(), 7);
    EXPECT_STREQ(o->getTradingStatus(), "O");
    EXPECT_STREQ(o->getValueDate(), "20261214");
    // The bid gets the sell adjustment, the ask the buy adjustment.
    EXPECT_DOUBLE_EQ(o->getBid(), 1.1 - 0.00002);
    EXPECT_DOUBLE_EQ(o->getAsk(), 1.2 + 0.00003);
    EXPECT_EQ(row->record().rawBid, 1.1);
    for (int i = 0; i < OfferColumns::count; ++i)
        EXPECT_TRUE(row->isValid(i)) << i;

    RefPtr<OfferRow> tableRow = m_factory.create(offer("1", 1.1, 1.2), false);
    ASSERT_TRUE(tableRow);
    EXPECT_FALSE(tableRow->isReaderRow());
}

TEST_F(OfferRowFactoryTest, APriceNotSentKeepsThePreviousOne)
{
    const struct {
        double rawBid, rawAsk;
        double bid, ask;
    } cases[] = {
        {0, 0, 9.5, 9.75},
        {0, 1.2, 9.5, 1.2 + 0.00003},
        {1.1, 0, 1.1 - 0.00002, 9.75},
        {1e-12, -1, 9.5, 9.75}, // at or below the threshold: not a price
        {2e-11, 2e-11, 2e-11 - 0.00002, 2e-11 + 0.00003},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.rawBid) + " " + std::to_string(c.rawAsk));
        RefPtr<OfferRow> row = m_factory.create(offer("1", c.rawBid, c.rawAsk), true);
        ASSERT_TRUE(row);
        EXPECT_DOUBLE_EQ(row->getBid(), c.bid);
        EXPECT_DOUBLE_EQ(row->getAsk(), c.ask);
    }
}

TEST_F(OfferRowFactoryTest, NoInstrumentNoRow)
{
    EXPECT_FALSE(m_factory.create(offer("2", 1.1, 1.2), true));
    EXPECT_FALSE(m_factory.create(nullptr, true));
    EXPECT_FALSE(OfferRowFactory::create(offer("1", 1.1, 1.2), nullptr, true));
    const Instrument given = eurUsd();
    EXPECT_FALSE(OfferRowFactory::create(nullptr, &given, true));

    OfferRowFactory withoutTable(nullptr);
    EXPECT_FALSE(withoutTable.create(offer("1", 1.1, 1.2), true));
    EXPECT_FALSE(withoutTable.isPriceStreamValid("1", "Default"));
}

TEST_F(OfferRowFactoryTest, AGivenInstrumentIsUsedAsItIs)
{
    // The offer's ID is not looked up: an instrument update carries its own record.
    Instrument update = eurUsd();
    update.symbol = "EUR/USD.x";
    RefPtr<OfferRow> row = OfferRowFactory::create(offer("99", 1.1, 0), &update, false);
    ASSERT_TRUE(row);
    EXPECT_STREQ(row->getInstrument(), "EUR/USD.x");
    EXPECT_STREQ(row->getOfferID(), "99");
}

TEST_F(OfferRowFactoryTest, FieldsLeftOutOfAnUpdateMakeTheirColumnsInvalid)
{
    const struct {
        int field;
        int column; // -1: no offer column depends on it
    } cases[] = {
        {9, OfferColumns::Instrument},          {10, OfferColumns::ContractCurrency},
        {12, OfferColumns::Digits},             {13, OfferColumns::PointSize},
        {5, OfferColumns::SellInterest},        {4, OfferColumns::BuyInterest},
        {18, OfferColumns::SubscriptionStatus}, {21, OfferColumns::InstrumentType},
        {25, OfferColumns::ContractMultiplier}, {33, OfferColumns::TradingStatus},
        {40, OfferColumns::ValueDate},
        // The key, the adjustments and the fields only the trading rules read leave
        // every column valid.
        {0, -1}, {15, -1}, {16, -1}, {23, -1}, {26, -1}, {38, -1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.field);
        Instrument update = eurUsd();
        update.setFieldMissing(c.field);
        RefPtr<OfferRow> row = OfferRowFactory::create(offer("1", 1.1, 1.2), &update, true);
        ASSERT_TRUE(row);
        for (int i = 0; i < OfferColumns::count; ++i)
            EXPECT_EQ(row->isValid(i), i != c.column) << i;
    }

    Instrument sparse = eurUsd();
    sparse.setFieldMissing(9);
    sparse.setFieldMissing(40);
    RefPtr<OfferRow> row = OfferRowFactory::create(offer("1", 1.1, 1.2), &sparse, true);
    EXPECT_FALSE(row->isInstrumentValid());
    EXPECT_FALSE(row->isValueDateValid());
    EXPECT_TRUE(row->isBidValid());
    EXPECT_TRUE(row->isPipCostValid());
}

TEST(Instrument, MissingFieldBitsSitWhereTheUpdateParsersPutThem)
{
    const struct {
        int field;
        int byte; // 1 to 3
        uint8_t bit;
    } cases[] = {
        {0, 1, 1},    {9, 1, 2},    {10, 1, 4},   {12, 1, 8},   {13, 1, 16},  {15, 1, 32},
        {16, 1, 64},  {18, 1, 128}, {21, 2, 1},   {25, 2, 2},   {5, 2, 4},    {4, 2, 8},
        {23, 2, 16},  {26, 2, 32},  {27, 2, 64},  {28, 2, 128}, {29, 3, 1},   {30, 3, 2},
        {31, 3, 4},   {32, 3, 8},   {33, 3, 16},  {36, 3, 32},  {38, 3, 64},  {40, 3, 128},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.field);
        Instrument i;
        EXPECT_FALSE(i.hasMissingFields());
        i.setFieldMissing(c.field);
        EXPECT_TRUE(i.isFieldMissing(c.field));
        EXPECT_TRUE(i.hasMissingFields());
        for (int b = 0; b < 3; ++b)
            EXPECT_EQ(i.missingFields[b], b == c.byte - 1 ? c.bit : 0) << b;
        i.setFieldMissing(c.field, false);
        EXPECT_FALSE(i.hasMissingFields());
    }
    Instrument i;
    i.setFieldMissing(1); // a field no update leaves out
    i.setFieldMissing(41);
    EXPECT_FALSE(i.hasMissingFields());
    EXPECT_FALSE(i.isFieldMissing(1));
}

TEST_F(OfferRowFactoryTest, PriceStreamMustMatchTheInstruments)
{
    EXPECT_TRUE(m_factory.isPriceStreamValid("1", "Default"));
    EXPECT_FALSE(m_factory.isPriceStreamValid("1", "default"));
    EXPECT_FALSE(m_factory.isPriceStreamValid("1", ""));
    EXPECT_FALSE(m_factory.isPriceStreamValid("2", "Default"));
    EXPECT_FALSE(m_factory.isPriceStreamValid(nullptr, "Default"));
    EXPECT_FALSE(m_factory.isPriceStreamValid("1", nullptr));
}

} // namespace
} // namespace zel
