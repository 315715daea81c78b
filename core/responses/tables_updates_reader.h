#pragma once
// The changes of one pushed message: entries in line order, each a row with its
// table and update kind.
//
// Ownership: one reference for the creator; the reader holds one reference of each
// row; the typed getters add one for the caller.
// [Threading] Filled by the message processor on one thread, read-only afterwards.

#include <vector>

#include "core/base/ref_ptr.h"
#include "vorntool/add_ref.h"
#include "zel/rows.h"
#include "zel/table_readers.h"

namespace zel {

class TablesUpdatesReader : public TThreadSafeAddRefImpl<IZelTablesUpdatesReader> {
public:
    TablesUpdatesReader() = default;

    double getServerTime() override { return m_serverTime; }
    int size() override { return static_cast<int>(m_types.size()); }
    ZelTableUpdateType getUpdateType(int index) override;
    ZelTable getUpdateTable(int index) override;
    IZelOfferRow* getOfferRow(int index) override { return typed<IZelOfferRow>(index, ZelTable::Offers); }
    IZelAccountRow* getAccountRow(int index) override { return typed<IZelAccountRow>(index, ZelTable::Accounts); }
    IZelOrderRow* getOrderRow(int index) override { return typed<IZelOrderRow>(index, ZelTable::Orders); }
    IZelTradeRow* getTradeRow(int index) override { return typed<IZelTradeRow>(index, ZelTable::Trades); }
    IZelClosedTradeRow* getClosedTradeRow(int index) override
    {
        return typed<IZelClosedTradeRow>(index, ZelTable::ClosedTrades);
    }
    IZelMessageRow* getMessageRow(int index) override { return typed<IZelMessageRow>(index, ZelTable::Messages); }

    // Appends a row (a reference of the reader's own) and its table; the kind
    // follows with setUpdateType, so the three lists stay parallel.
    void add(IZelRow* row, ZelTable table);
    void setUpdateType(ZelTableUpdateType type) { m_types.push_back(type); }
    void setServerTime(double serial) { m_serverTime = serial; }
    // Rows added so far (an entry is complete once its kind is set).
    int rowCount() const { return static_cast<int>(m_rows.size()); }
    // Without a reference; null out of range.
    IZelRow* rowAt(int index) const;

protected:
    ~TablesUpdatesReader() override = default;

private:
    template <class T>
    T* typed(int index, ZelTable table)
    {
        if (index < 0 || index >= size() || m_tables[static_cast<size_t>(index)] != table)
            return nullptr;
        T* row = dynamic_cast<T*>(m_rows[static_cast<size_t>(index)].get());
        if (row)
            row->addRef();
        return row;
    }

    std::vector<RefPtr<IZelRow>> m_rows;
    std::vector<ZelTableUpdateType> m_types;
    std::vector<ZelTable> m_tables;
    double m_serverTime = 0;
};

} // namespace zel
