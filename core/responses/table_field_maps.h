#pragma once
// The field maps of the DAS tables: which field of a line fills which column.

#include "core/responses/field_map.h"
#include "core/tables/instrument.h"
#include "core/tables/records.h"

namespace zel {

const FieldMap<Offer>& offersFieldMap();
const FieldMap<Account>& accountsFieldMap();
const FieldMap<Order>& ordersFieldMap();
const FieldMap<Trade>& tradesFieldMap();
const FieldMap<ClosedTrade>& closedTradesFieldMap();
// "Text" (field 7) is stored as received; the decoding parsers replace it.
const FieldMap<MessageRecord>& messagesFieldMap();
const FieldMap<Instrument>& instrumentsFieldMap();

} // namespace zel
