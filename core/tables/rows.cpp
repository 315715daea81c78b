#include "core/tables/rows.h"

#include <cstring>
#include <ostream>

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

std::ostream& operator<<(std::ostream& out, const RecordText& text)
{
    return out.write(text.data(), static_cast<std::streamsize>(text.size()));
}

RecordText& RecordText::assignLong(const char* text, size_t length)
{
    char* heap = new char[length + 1];
    std::memcpy(heap, text, length);
    heap[length] = '\0';
    release();
    std::memcpy(m_bytes, &heap, sizeof heap);
    for (size_t i = 0; i < kLengthBytes; ++i)
        m_bytes[sizeof heap + i] = static_cast<char>(static_cast<uint64_t>(length) >> (8 * i));
    m_bytes[kTag] = static_cast<char>(kHeap);
    return *this;
}

OfferRow::OfferRow(std::unique_ptr<Offer> record, bool readerRow) : TRow(std::move(record), readerRow)
{
    std::memset(m_valid, 1, sizeof m_valid);
}

void OfferRow::setValid(int column, bool valid)
{
    if (column >= 0 && column < Columns::count)
        __atomic_store_n(&m_valid[column], static_cast<uint8_t>(valid ? 1 : 0), __ATOMIC_RELAXED);
}

void OrderRow::compareRows(const OrderRow* other)
{
    if (other != nullptr)
        compareOrderRecords<Columns>(*m_record, *other->m_record);
}

void OrderRow::fireOrderCalculateFields()
{
    if (OrderCalculationEvent::CalculationEvent* e = calculationEvent())
        e->fire(true, this);
}

void TradeRow::fireTradeCalculateFields()
{
    if (TradeCalculationEvent::CalculationEvent* e = calculationEvent())
        e->fire(true, false, this);
}

void ClosedTradeRow::compareRows(const ClosedTradeRow* other)
{
    if (other != nullptr)
        compareClosedTradeRecords<Columns>(*m_record, *other->m_record);
}

} // namespace zel
