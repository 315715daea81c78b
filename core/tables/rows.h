#pragma once
// The row classes of the seven tables. A row takes over the record it is made with
// and never copies it; cells and texts point into the record.
// Besides the public getters every row has, for each column, a cell getter
// get<Column>AsVariant (the pointer getCell returns) and a change test
// is<Column>Changed (the column's bit of the record's change mask).
//
// The reader-row flag picks the columns() list: set for a row a response reader
// owns, cleared by the table manager when it takes the row into a live table.
//
// Ownership: created holding one reference; the last release destroys the record.
// [Threading] Getters only read. Whoever owns a row (the parser building it, the
// live table under its cell lock) is the only writer of its record and flags.

#include <cstdint>
#include <memory>
#include <type_traits>

#include "core/tables/columns.h"
#include "core/tables/event.h"
#include "core/tables/records.h"
#include "vorntool/add_ref.h"
#include "zel/rows.h"

namespace zel {

// Text cells point at the record's own NUL-terminated text, others at the value.
inline const void* cellPointer(const std::string& text) { return text.c_str(); }
inline const void* cellPointer(const RecordText& text) { return text.c_str(); }
template <class T>
const void* cellPointer(const T& value)
{
    return &value;
}
inline const char* cellValue(const std::string& text) { return text.c_str(); }
inline const char* cellValue(const RecordText& text) { return text.c_str(); }
// Numbers are read whole: the table manager recalculates some of them in place
// while application threads read them.
template <class T>
T cellValue(const T& value)
{
    T out;
    __atomic_load(&value, &out, __ATOMIC_RELAXED);
    return out;
}
// The writer's side of cellValue: a number of a row that readers may hold.
template <class T>
void storeCellValue(T& cell, T value)
{
    __atomic_store(&cell, &value, __ATOMIC_RELAXED);
}

// What the seven row classes share: the record, the reader-row flag and IZelRow.
template <class Interface, class Record, ZelTable Table>
class TRow : public TThreadSafeAddRefImpl<Interface> {
public:
    using RecordType = Record;
    static constexpr ZelTable kTable = Table;

    // Takes the record over; a null record becomes an empty one.
    TRow(std::unique_ptr<Record> record, bool readerRow)
        : m_record(record ? std::move(record) : std::make_unique<Record>()), m_readerRow(readerRow)
    {
    }

    const void* getCell(int column) override
    {
        const Column* c = ColumnsFactory::getInst()->peekColumnsForTable(Table)->getColumn(column);
        return c != nullptr ? c->getCell(this) : nullptr;
    }
    bool isCellChanged(int column) override
    {
        const Column* c = ColumnsFactory::getInst()->peekColumnsForTable(Table)->getColumn(column);
        return c != nullptr && c->isCellChanged(this);
    }
    // Adds a reference: the caller releases it. A summary row has only its
    // table-manager list, whatever the flag says.
    IZelTableColumnCollection* columns() override
    {
        ColumnsFactory* f = ColumnsFactory::getInst();
        TableColumnCollection* list = m_readerRow ? f->getColumns(Table) : nullptr;
        return list != nullptr ? list : f->getColumnsForTable(Table);
    }
    ZelTable tableType() override { return Table; }

    Record& record() { return *m_record; }
    const Record& record() const { return *m_record; }
    bool isReaderRow() const { return m_readerRow; }
    void setReaderRow(bool readerRow) { m_readerRow = readerRow; }
    // Sets or clears a column's change bit; safe while readers test the bits.
    void setCellChanged(int column, bool changed)
    {
        if (column < 0 || column >= 64)
            return;
        const uint64_t bit = uint64_t{1} << column;
        // Most stores leave the bit as it was: read first, write only a change.
        const bool was = (__atomic_load_n(&m_record->changeMask, __ATOMIC_RELAXED) & bit) != 0;
        if (was == changed)
            return;
        if (changed)
            __atomic_fetch_or(&m_record->changeMask, bit, __ATOMIC_RELAXED);
        else
            __atomic_fetch_and(&m_record->changeMask, ~bit, __ATOMIC_RELAXED);
    }
    // Sets the bits of set and clears those of clear, in one store if anything moved.
    void updateChangeMask(uint64_t set, uint64_t clear)
    {
        const uint64_t was = __atomic_load_n(&m_record->changeMask, __ATOMIC_RELAXED);
        const uint64_t now = (was | set) & ~clear;
        if (now != was)
            __atomic_store_n(&m_record->changeMask, now, __ATOMIC_RELAXED);
    }
    uint64_t calculatedMask() const { return m_calculated; }
    void setCalculatedMask(uint64_t mask) { m_calculated = mask; }
    // Sets every change bit at once; safe while readers test the bits.
    void storeChangeMask(uint64_t mask) { __atomic_store_n(&m_record->changeMask, mask, __ATOMIC_RELAXED); }
    // Whether the table manager holds a calculated value in that column (0 is a value
    // too). Read and written only by the thread that applies table changes.
    bool isCalculated(int column) const { return column >= 0 && column < 64 && ((m_calculated >> column) & 1u) != 0; }
    void setCalculated(int column, bool calculated)
    {
        if (column < 0 || column >= 64)
            return;
        const uint64_t bit = uint64_t{1} << column;
        m_calculated = calculated ? (m_calculated | bit) : (m_calculated & ~bit);
    }

protected:
    ~TRow() override = default;

    bool changeBit(int column) const
    {
        return isColumnChanged(__atomic_load_n(&m_record->changeMask, __ATOMIC_RELAXED), column);
    }

    std::unique_ptr<Record> m_record;
    uint64_t m_calculated = 0;
    bool m_readerRow;
};

// The calculation event of a live-table row, for handlers that recalculate its
// calculated columns. Reader rows have none; a table row gets its (empty) event
// from the first ensureCalculationEvent, made on the applying thread, and keeps it
// for its life.
// [Threading] Handlers run on the firing thread, under the cell lock of the row
// that changed (see Cpp::Event for connecting and firing from handlers).
template <class... Args>
class TCalculationEvent {
public:
    using CalculationEvent = Cpp::Event<Args...>;

    // Null for a reader row.
    CalculationEvent* calculationEvent() const { return m_calculation.get(); }
    CalculationEvent& ensureCalculationEvent()
    {
        if (!m_calculation)
            m_calculation = std::make_unique<CalculationEvent>();
        return *m_calculation;
    }

private:
    std::unique_ptr<CalculationEvent> m_calculation;
};

// The getter, cell getter and change test of one column (inside a row class whose
// Columns names the column indexes).
#define ZEL_ROW_ACCESSORS(name, type, kind)                                                                    \
    CellTraits<IZelTableColumn::type>::Value get##name() override { return cellValue(m_record->name); }          \
    const void* get##name##AsVariant() const { return cellPointer(m_record->name); }                            \
    bool is##name##Changed() const { return changeBit(Columns::name); }

class OfferRow : public TRow<IZelOfferTableRow, Offer, ZelTable::Offers> {
public:
    using Columns = OfferColumns;

    // Every column starts valid.
    OfferRow(std::unique_ptr<Offer> record, bool readerRow);

    ZEL_OFFER_COLUMNS(ZEL_ROW_ACCESSORS)

#define ZEL_OFFER_VALIDITY(name, type, kind) \
    bool is##name##Valid() override { return __atomic_load_n(&m_valid[Columns::name], __ATOMIC_RELAXED) != 0; }
    ZEL_OFFER_COLUMNS(ZEL_OFFER_VALIDITY)
#undef ZEL_OFFER_VALIDITY

    bool isValid(int column) const
    {
        return column >= 0 && column < Columns::count && __atomic_load_n(&m_valid[column], __ATOMIC_RELAXED) != 0;
    }
    void setValid(int column, bool valid);

protected:
    ~OfferRow() override = default;

private:
    uint8_t m_valid[Columns::count];
};

class AccountRow;
// (fire changed, old gross P/L, new gross P/L, the account)
using AccountCalculationEvent = TCalculationEvent<bool, double, double, AccountRow*>;

class AccountRow : public TRow<IZelAccountTableRow, Account, ZelTable::Accounts>, public AccountCalculationEvent {
public:
    using Columns = AccountColumns;
    using TRow::TRow;

    ZEL_ACCOUNT_COLUMNS(ZEL_ROW_ACCESSORS)

protected:
    ~AccountRow() override = default;
};

class OrderRow;
// (fire changed, the order)
using OrderCalculationEvent = TCalculationEvent<bool, OrderRow*>;

class OrderRow : public TRow<IZelOrderTableRow, Order, ZelTable::Orders>, public OrderCalculationEvent {
public:
    using Columns = OrderColumns;
    using TRow::TRow;

    ZEL_ORDER_COLUMNS(ZEL_ROW_ACCESSORS)

    // Fires the calculation event with (true, this); nothing for a reader row.
    void fireOrderCalculateFields();

    // Marks in this row's change mask exactly the columns whose values differ from
    // other's (a NaN always differs). A null other changes nothing.
    void compareRows(const OrderRow* other);

protected:
    ~OrderRow() override = default;
};

class TradeRow;
// (fire changed, removed from the table, the trade)
using TradeCalculationEvent = TCalculationEvent<bool, bool, TradeRow*>;

class TradeRow : public TRow<IZelTradeTableRow, Trade, ZelTable::Trades>, public TradeCalculationEvent {
public:
    using Columns = TradeColumns;
    using TRow::TRow;

    ZEL_TRADE_COLUMNS(ZEL_ROW_ACCESSORS)

    // Fires the calculation event with (true, false, this); nothing for a reader row.
    void fireTradeCalculateFields();

protected:
    ~TradeRow() override = default;
};

class ClosedTradeRow : public TRow<IZelClosedTradeTableRow, ClosedTrade, ZelTable::ClosedTrades> {
public:
    using Columns = ClosedTradeColumns;
    using TRow::TRow;

    ZEL_CLOSED_TRADE_COLUMNS(ZEL_ROW_ACCESSORS)

    // As OrderRow::compareRows.
    void compareRows(const ClosedTradeRow* other);

protected:
    ~ClosedTradeRow() override = default;
};

class MessageRow : public TRow<IZelMessageTableRow, MessageRecord, ZelTable::Messages> {
public:
    using Columns = MessageColumns;
    using TRow::TRow;

    ZEL_MESSAGE_COLUMNS(ZEL_ROW_ACCESSORS)

protected:
    ~MessageRow() override = default;
};

class SummariesRow : public TRow<IZelSummaryTableRow, SummaryRecord, ZelTable::Summary> {
public:
    using Columns = SummaryColumns;
    using TRow::TRow;

    ZEL_SUMMARY_COLUMNS(ZEL_ROW_ACCESSORS)

protected:
    ~SummariesRow() override = default;
};

#undef ZEL_ROW_ACCESSORS

// Readies a row for a live table. The calculation event of an account, order or
// trade row is made when a handler first connects (ensureCalculationEvent): the
// table's own calculations reach rows through their indexes, and an event per row
// would cost every row of a large table its memory.
template <class Row>
void prepareTableRow(Row& row)
{
    row.setReaderRow(false);
}

} // namespace zel
