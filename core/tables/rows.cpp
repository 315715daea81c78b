#include "core/tables/rows.h"

#include <cstring>

namespace zel {

namespace {

// One line per column: its change bit is whether the two values differ. Doubles
// compare exactly, so a NaN never equals anything and always counts as changed.
#define ZEL_COMPARE_CELL(name, type, kind) \
    setColumnChanged(mine.changeMask, Columns::name, !(mine.name == theirs.name));

template <class Columns, class Record>
void compareOrderRecords(Record& mine, const Record& theirs)
{
    ZEL_ORDER_COLUMNS(ZEL_COMPARE_CELL)
}

template <class Columns, class Record>
void compareClosedTradeRecords(Record& mine, const Record& theirs)
{
    ZEL_CLOSED_TRADE_COLUMNS(ZEL_COMPARE_CELL)
}

#undef ZEL_COMPARE_CELL

} // namespace

OfferRow::OfferRow(std::unique_ptr<Offer> record, bool readerRow) : TRow(std::move(record), readerRow)
{
    std::memset(m_valid, 1, sizeof m_valid);
}

void OfferRow::setValid(int column, bool valid)
{
    if (column >= 0 && column < Columns::count)
        m_valid[column] = valid ? 1 : 0;
}

void OrderRow::compareRows(const OrderRow* other)
{
    if (other != nullptr)
        compareOrderRecords<Columns>(*m_record, *other->m_record);
}

void ClosedTradeRow::compareRows(const ClosedTradeRow* other)
{
    if (other != nullptr)
        compareClosedTradeRecords<Columns>(*m_record, *other->m_record);
}

} // namespace zel
