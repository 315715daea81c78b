#pragma once
// The reader of a table answer: the rows of one table, read by row and column.
//
// Ownership: one reference for the creator; the reader holds one reference of each
// row and of its column list. getRow adds a reference for the caller.
// [Threading] Filled by the parser on one thread, read-only once handed out.

#include <vector>

#include "core/base/ref_ptr.h"
#include "core/tables/columns.h"
#include "core/tables/rows.h"
#include "vorntool/add_ref.h"
#include "zel/table_readers.h"

namespace zel {

template <class Row, class Interface, class RowInterface>
class TGenericTableResponseReader : public TThreadSafeAddRefImpl<Interface> {
public:
    using RowType = Row;

    TGenericTableResponseReader() : m_columns(adoptRef(ColumnsFactory::getInst()->getColumns(Row::kTable))) {}

    int size() override { return static_cast<int>(m_rows.size()); }
    IZelTableColumnCollection* columns() override { return m_columns.share(); }
    const void* getCell(int row, int column) override
    {
        Row* r = at(row);
        Column* c = m_columns ? m_columns->getColumn(column) : nullptr;
        return r && c ? c->getCell(r) : nullptr;
    }
    bool isCellValid(int row, int column) override
    {
        Row* r = at(row);
        Column* c = m_columns ? m_columns->getColumn(column) : nullptr;
        return r && c && c->isValid(r);
    }
    ZelTable tableType() override { return Row::kTable; }
    RowInterface* getRow(int row) override
    {
        Row* r = at(row);
        if (!r)
            return nullptr;
        r->addRef();
        return r;
    }

    // Appends the row (null ignored).
    void add(RefPtr<Row> row)
    {
        if (row)
            m_rows.push_back(std::move(row));
    }
    // Without a reference; null out of range.
    Row* at(int row) const
    {
        return row >= 0 && static_cast<size_t>(row) < m_rows.size() ? m_rows[static_cast<size_t>(row)].get() : nullptr;
    }

protected:
    ~TGenericTableResponseReader() override = default;

private:
    std::vector<RefPtr<Row>> m_rows;
    RefPtr<TableColumnCollection> m_columns;
};

using OffersTableResponseReader =
    TGenericTableResponseReader<OfferRow, IZelOffersTableResponseReader, IZelOfferRow>;
using AccountsTableResponseReader =
    TGenericTableResponseReader<AccountRow, IZelAccountsTableResponseReader, IZelAccountRow>;
using OrdersTableResponseReader =
    TGenericTableResponseReader<OrderRow, IZelOrdersTableResponseReader, IZelOrderRow>;
using TradesTableResponseReader =
    TGenericTableResponseReader<TradeRow, IZelTradesTableResponseReader, IZelTradeRow>;
using ClosedTradesTableResponseReader =
    TGenericTableResponseReader<ClosedTradeRow, IZelClosedTradesTableResponseReader, IZelClosedTradeRow>;
using MessagesTableResponseReader =
    TGenericTableResponseReader<MessageRow, IZelMessagesTableResponseReader, IZelMessageRow>;

} // namespace zel
