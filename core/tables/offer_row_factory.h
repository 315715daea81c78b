#pragma once
// Completes offer records into offer rows: the instrument supplies the static
// columns (name, digits, point size, ...) and the adjustments that turn the raw
// prices into Bid and Ask. The offer parsers of both protocols build rows through it.
//
// [Threading] Holds only a reference to the lookup; any thread may use it as far as
// the lookup allows concurrent reads.

#include <memory>

#include "core/base/ref_ptr.h"
#include "core/tables/instrument.h"
#include "core/tables/records.h"
#include "core/tables/rows.h"

namespace zel {

class OfferRowFactory {
public:
    // Adds a reference to the lookup (which may be null: then no offer has an
    // instrument).
    explicit OfferRowFactory(IInstrumentsLookup* instruments);

    // The row of the offer, completed from the instrument of its OfferID, holding one
    // reference; null for a null offer or an unknown instrument (the record is then
    // dropped). The row takes the record over.
    RefPtr<OfferRow> create(std::unique_ptr<Offer> offer, bool readerRow) const;
    // The same with the instrument given; null when either is null. The instrument is
    // only read.
    static RefPtr<OfferRow> create(std::unique_ptr<Offer> offer, const Instrument* instrument, bool readerRow);

    // Whether the offer's instrument is known and comes from that price stream.
    bool isPriceStreamValid(const char* offerID, const char* priceStream) const;

private:
    RefPtr<IInstrumentsLookup> m_instruments;
};

} // namespace zel
