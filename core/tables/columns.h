#pragma once
// Columns and column collections, and the process-wide factory that holds the two
// column lists of every table: the reader list (the columns a server answer carries)
// and the table-manager list (all columns, the calculated ones last). A reader list
// is always the start of its table-manager list, so one index reads both.
//
// Ownership: columns and collections are reference counted. The factory's lists live
// as long as the process; get... adds a reference for the caller, create... returns
// a new collection holding one reference.
// [Threading] The lists are built once in the factory's constructor and only read
// afterwards; any thread may use them.

#include <cstddef>
#include <string>
#include <vector>

#include "core/base/ref_ptr.h"
#include "vorntool/add_ref.h"
#include "zel/rows.h"
#include "zel/table_column.h"

namespace zel {

class Column : public TThreadSafeAddRefImpl<IZelTableColumn> {
public:
    // Each callable takes the row as IAddRef*; the row must be of the column's table.
    using ValidTest = bool (*)(IAddRef* row);
    using CellGetter = const void* (*)(IAddRef* row);
    using ChangeTest = bool (*)(IAddRef* row);

    // Any callable may be null: no validity test means valid, no cell getter a null
    // cell, no change test unchanged.
    Column(ValidTest isValid, CellGetter getCell, ChangeTest isChanged, ZelTableColumnType type, const char* id);

    const char* getID() override { return m_id.c_str(); }
    ZelTableColumnType getType() override { return m_type; }

    // A null row gives a null cell, valid and unchanged.
    const void* getCell(IAddRef* row) const { return row != nullptr && m_getCell ? m_getCell(row) : nullptr; }
    bool isValid(IAddRef* row) const { return row == nullptr || !m_isValid || m_isValid(row); }
    bool isCellChanged(IAddRef* row) const { return row != nullptr && m_isChanged && m_isChanged(row); }

protected:
    ~Column() override = default;

private:
    ValidTest m_isValid;
    CellGetter m_getCell;
    ChangeTest m_isChanged;
    ZelTableColumnType m_type;
    std::string m_id;
};

class TableColumnCollection : public TThreadSafeAddRefImpl<IZelTableColumnCollection> {
public:
    TableColumnCollection() = default;

    int size() override { return static_cast<int>(m_columns.size()); }
    IZelTableColumn* get(int index) override;
    IZelTableColumn* find(const char* id) override;

    // Appends, taking over the caller's reference.
    void add(Column* column);
    // Without a reference; lives as long as the collection. Null out of range.
    Column* getColumn(int index) const
    {
        return index >= 0 && static_cast<size_t>(index) < m_columns.size() ? m_columns[index].get() : nullptr;
    }

protected:
    ~TableColumnCollection() override = default;

private:
    std::vector<RefPtr<Column>> m_columns;
};

// The word of a column type in a table description: "int", "double", "string",
// "DATE", "bool" (case matters). Any other word, and null, is String.
IZelTableColumn::ZelTableColumnType toTableColumnType(const char* word);

// Fills a collection with the columns of one table, in column order.
template <ZelTable Table>
struct TColumnsFactory {
    // The reader list: the columns a server answer carries.
    static void create(TableColumnCollection* columns);
    // The table-manager list: every column.
    static void createColumnsForTables(TableColumnCollection* columns);
};
using OfferColumnsFactory = TColumnsFactory<ZelTable::Offers>;
using AccountColumnsFactory = TColumnsFactory<ZelTable::Accounts>;
using OrderColumnsFactory = TColumnsFactory<ZelTable::Orders>;
using TradeColumnsFactory = TColumnsFactory<ZelTable::Trades>;
using ClosedTradeColumnsFactory = TColumnsFactory<ZelTable::ClosedTrades>;
using MessageColumnsFactory = TColumnsFactory<ZelTable::Messages>;
// create adds nothing: the summary has no reader list.
using SummariesColumnsFactory = TColumnsFactory<ZelTable::Summary>;

class ColumnsFactory {
public:
    // The singleton. Its first use may come from several threads at once: the
    // function-local static that holds it is initialized exactly once. It is never
    // destroyed, so rows released during process exit can still read their columns.
    static ColumnsFactory* getInst();

    // The reader list of the table, with a reference added: the caller releases it.
    // Null for the summary and for a value outside the tables.
    TableColumnCollection* getColumns(ZelTable table) const;
    // The table-manager list, with a reference added: the caller releases it. Null
    // for a value outside the tables.
    TableColumnCollection* getColumnsForTable(ZelTable table) const;
    // The table-manager list without a reference (it lives as long as the process);
    // what rows read their cells through.
    TableColumnCollection* peekColumnsForTable(ZelTable table) const;

    // A new collection holding one reference: the reader list of tables 0 to 5, the
    // table-manager list of tables 0 to 6; null for other values.
    static TableColumnCollection* createColumns(ZelTable table);
    static TableColumnCollection* createColumnsForTables(ZelTable table);

    ColumnsFactory(const ColumnsFactory&) = delete;
    ColumnsFactory& operator=(const ColumnsFactory&) = delete;

private:
    static constexpr int kTables = 7;

    ColumnsFactory();
    ~ColumnsFactory() = default;

    // Indexed by the ZelTable value; the summary's reader list is null.
    RefPtr<TableColumnCollection> m_readerLists[kTables];
    RefPtr<TableColumnCollection> m_tableLists[kTables];
};

} // namespace zel
