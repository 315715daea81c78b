#include "core/tables/offer_row_factory.h"

#include <cstring>

namespace zel {

namespace {

// Prices at or below this are "not sent": the offer keeps the Bid or Ask it had.
constexpr double kNoPrice = 0.00000000001;

// The offer columns that come from the instrument, each with the instrument field
// whose missing bit makes the column invalid.
struct InstrumentColumn {
    int column;
    int field;
};
const InstrumentColumn kInstrumentColumns[] = {
    {OfferColumns::Instrument, 9},          {OfferColumns::ContractCurrency, 10},
    {OfferColumns::Digits, 12},             {OfferColumns::PointSize, 13},
    {OfferColumns::SellInterest, 5},        {OfferColumns::BuyInterest, 4},
    {OfferColumns::SubscriptionStatus, 18}, {OfferColumns::InstrumentType, 21},
    {OfferColumns::ContractMultiplier, 25}, {OfferColumns::TradingStatus, 33},
    {OfferColumns::ValueDate, 40},
};

} // namespace

OfferRowFactory::OfferRowFactory(IInstrumentsLookup* instruments) : m_instruments(instruments) {}

RefPtr<OfferRow> OfferRowFactory::create(std::unique_ptr<Offer> offer, bool readerRow) const
{
    if (!offer || !m_instruments)
        return nullptr;
    const std::shared_ptr<const Instrument> instrument = m_instruments->find(offer->OfferID.c_str());
    return create(std::move(offer), instrument.get(), readerRow);
}

RefPtr<OfferRow> OfferRowFactory::create(std::unique_ptr<Offer> offer, const Instrument* instrument, bool readerRow)
{
    if (!offer || instrument == nullptr)
        return nullptr;
    Offer& o = *offer;
    o.Instrument = instrument->symbol;
    o.ContractCurrency = instrument->contractCurrency;
    o.Digits = instrument->precision;
    o.PointSize = instrument->pointSize;
    o.SellInterest = instrument->sellInterest;
    o.BuyInterest = instrument->buyInterest;
    o.SubscriptionStatus = instrument->subscriptionStatus;
    o.InstrumentType = instrument->instrumentType;
    o.ContractMultiplier = instrument->contractMultiplier;
    o.ValueDate = instrument->valueDate;
    o.TradingStatus = instrument->tradingStatus;
    if (o.rawBid > kNoPrice)
        o.Bid = o.rawBid + instrument->sellAdj;
    if (o.rawAsk > kNoPrice)
        o.Ask = o.rawAsk + instrument->buyAdj;

    RefPtr<OfferRow> row = adoptRef(new OfferRow(std::move(offer), readerRow));
    if (instrument->hasMissingFields()) {
        for (const InstrumentColumn& c : kInstrumentColumns) {
            if (instrument->isFieldMissing(c.field))
                row->setValid(c.column, false);
        }
    }
    return row;
}

bool OfferRowFactory::isPriceStreamValid(const char* offerID, const char* priceStream) const
{
    if (offerID == nullptr || priceStream == nullptr || !m_instruments)
        return false;
    const std::shared_ptr<const Instrument> instrument = m_instruments->find(offerID);
    return instrument != nullptr && instrument->priceStream == priceStream;
}

} // namespace zel
