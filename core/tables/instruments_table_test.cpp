#include "core/tables/instruments_table.h"

#include <gtest/gtest.h>

#include "core/tables/offer_row_factory.h"

namespace zel {
namespace {

std::unique_ptr<Instrument> instrument(const char* id, const char* symbol)
{
    auto i = std::make_unique<Instrument>();
    i->offerID = id;
    i->symbol = symbol;
    i->contractCurrency = "EUR";
    i->precision = 5;
    i->priceStream = "PS";
    i->tradingStatus = "O";
    i->permissions = "88,Y,107,N";
    return i;
}

TEST(InstrumentsTable, FindsByOfferAndBySymbol)
{
    RefPtr<InstrumentsTable> t = adoptRef(new InstrumentsTable());
    t->add(instrument("1", "EUR/USD"));
    t->add(instrument("2", "USD/JPY"));
    EXPECT_EQ(t->find("1")->symbol, "EUR/USD");
    EXPECT_EQ(t->findByInstrument("USD/JPY")->offerID, "2");
    EXPECT_EQ(t->findByInstrument("GBP/USD"), nullptr);
    EXPECT_EQ(t->find("3"), nullptr);
    EXPECT_EQ(t->find(nullptr), nullptr);
    EXPECT_EQ(t->findPermissionSet("3"), nullptr);
}

TEST(InstrumentsTable, UpdatesKeepWhatTheyDidNotCarryAndTheEventConnections)
{
    RefPtr<InstrumentsTable> t = adoptRef(new InstrumentsTable());
    int fired = 0;
    Cpp::ConnectionScope scope;
    t->getEventRefChanged("1").connect(scope, [&] { ++fired; });  // before the instrument exists
    t->add(instrument("1", "EUR/USD"));
    std::shared_ptr<const Instrument> before = t->find("1");

    auto update = std::make_unique<Instrument>();
    update->offerID = "1";
    update->precision = 3;
    for (int field : {9, 10, 23, 26, 33})
        update->setFieldMissing(field);
    t->add(std::move(update));

    std::shared_ptr<const Instrument> after = t->find("1");
    EXPECT_EQ(after->precision, 3);
    EXPECT_EQ(after->symbol, "EUR/USD") << "left out by the update: kept";
    EXPECT_EQ(after->contractCurrency, "EUR");
    EXPECT_EQ(after->priceStream, "PS");
    EXPECT_FALSE(after->hasMissingFields());
    EXPECT_EQ(before->precision, 5) << "a reader holding the old record keeps it whole";

    // Offer rows built from the stored instrument show every column valid.
    OfferRowFactory factory(t.get());
    auto offer = std::make_unique<Offer>();
    offer->OfferID = "1";
    RefPtr<OfferRow> row = factory.create(std::move(offer), true);
    ASSERT_TRUE(row);
    for (int c = 0; c < OfferColumns::count; ++c)
        EXPECT_TRUE(row->isValid(c)) << c;

    t->fireChanged("1");
    t->fireChangedByInstrument("EUR/USD");
    t->fireChanged("9");
    EXPECT_EQ(fired, 2);
    EXPECT_TRUE(t->getEventRefChangedByInstrument("XAU/USD").empty());
}

TEST(InstrumentsTable, PermissionSetIsMadeOnceFromTheInstrument)
{
    RefPtr<InstrumentsTable> t = adoptRef(new InstrumentsTable());
    auto closed = instrument("1", "EUR/USD");
    closed->tradingStatus = "";
    closed->permissions = "12,Y,x,N,13,Y";
    t->add(std::move(closed));
    const PermissionSet* p = t->findPermissionSet("1");
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(p, t->findPermissionSet("1"));
    EXPECT_EQ(p->getPermissionStatus(12), IPermissionSet::Enabled) << "pairs before the bad one stay";
    EXPECT_EQ(p->getPermissionStatus(13), IPermissionSet::NotSet);
    EXPECT_EQ(p->getTradingStatus(), ZelMarketStatus::Closed) << "an empty trading status is closed";

    t->add(instrument("2", "USD/JPY"));
    EXPECT_EQ(t->findPermissionSet("2")->getTradingStatus(), ZelMarketStatus::Open);
    EXPECT_EQ(t->findPermissionSet("2")->getPermissionStatus(107), IPermissionSet::Disabled);
}

} // namespace
} // namespace zel
