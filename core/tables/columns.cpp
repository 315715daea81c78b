#include "core/tables/columns.h"

#include <cstring>
#include <iterator>

#include "core/tables/rows.h"

namespace zel {

Column::Column(ValidTest isValid, CellGetter getCell, ChangeTest isChanged, ZelTableColumnType type, const char* id)
    : m_isValid(isValid), m_getCell(getCell), m_isChanged(isChanged), m_type(type), m_id(id != nullptr ? id : "")
{
}

IZelTableColumn* TableColumnCollection::get(int index)
{
    Column* c = getColumn(index);
    if (c != nullptr)
        c->addRef();
    return c;
}

IZelTableColumn* TableColumnCollection::find(const char* id)
{
    if (id == nullptr)
        return nullptr;
    for (const RefPtr<Column>& c : m_columns) {
        if (std::strcmp(c->getID(), id) == 0)
            return c.share();
    }
    return nullptr;
}

void TableColumnCollection::add(Column* column)
{
    if (column != nullptr)
        m_columns.push_back(adoptRef(column));
}

IZelTableColumn::ZelTableColumnType toTableColumnType(const char* word)
{
    static const struct {
        const char* word;
        IZelTableColumn::ZelTableColumnType type;
    } kWords[] = {{"int", IZelTableColumn::Integer},
                  {"double", IZelTableColumn::Double},
                  {"string", IZelTableColumn::String},
                  {"DATE", IZelTableColumn::Date},
                  {"bool", IZelTableColumn::Boolean}};
    if (word != nullptr) {
        for (const auto& w : kWords) {
            if (std::strcmp(w.word, word) == 0)
                return w.type;
        }
    }
    return IZelTableColumn::String;
}

namespace {

struct ColumnDef {
    const char* id;
    IZelTableColumn::ZelTableColumnType type;
    ColumnKind kind;
    Column::CellGetter getCell;
    Column::ChangeTest isChanged;
};

struct ColumnDefs {
    const ColumnDef* begin;
    const ColumnDef* end;
};

// Inside a function where Row names the row class of the list.
#define ZEL_COLUMN_DEF(name, type, kind)                                                                       \
    ColumnDef{#name, IZelTableColumn::type, ColumnKind::kind,                                                  \
              [](IAddRef* row) -> const void* { return static_cast<Row*>(row)->get##name##AsVariant(); },      \
              [](IAddRef* row) -> bool { return static_cast<Row*>(row)->is##name##Changed(); }},

template <ZelTable Table>
ColumnDefs columnDefs();

#define ZEL_TABLE_COLUMN_DEFS(table, rowClass, columnList)                                                     \
    template <>                                                                                                \
    ColumnDefs columnDefs<ZelTable::table>()                                                                   \
    {                                                                                                          \
        using Row = rowClass;                                                                                  \
        static const ColumnDef kDefs[] = {columnList(ZEL_COLUMN_DEF)};                                         \
        return {std::begin(kDefs), std::end(kDefs)};                                                           \
    }

ZEL_TABLE_COLUMN_DEFS(Offers, OfferRow, ZEL_OFFER_COLUMNS)
ZEL_TABLE_COLUMN_DEFS(Accounts, AccountRow, ZEL_ACCOUNT_COLUMNS)
ZEL_TABLE_COLUMN_DEFS(Orders, OrderRow, ZEL_ORDER_COLUMNS)
ZEL_TABLE_COLUMN_DEFS(Trades, TradeRow, ZEL_TRADE_COLUMNS)
ZEL_TABLE_COLUMN_DEFS(ClosedTrades, ClosedTradeRow, ZEL_CLOSED_TRADE_COLUMNS)
ZEL_TABLE_COLUMN_DEFS(Messages, MessageRow, ZEL_MESSAGE_COLUMNS)
ZEL_TABLE_COLUMN_DEFS(Summary, SummariesRow, ZEL_SUMMARY_COLUMNS)

#undef ZEL_TABLE_COLUMN_DEFS
#undef ZEL_COLUMN_DEF

// The calculated columns come last, so the reader list is the start of the table list.
void addColumns(TableColumnCollection* columns, ColumnDefs defs, bool readerOnly)
{
    if (columns == nullptr)
        return;
    for (const ColumnDef* d = defs.begin; d != defs.end; ++d) {
        if (readerOnly && d->kind != ColumnKind::Reader)
            break;
        columns->add(new Column(nullptr, d->getCell, d->isChanged, d->type, d->id));
    }
}

struct TableFactory {
    void (*create)(TableColumnCollection*);
    void (*createColumnsForTables)(TableColumnCollection*);
};

template <ZelTable Table>
constexpr TableFactory tableFactory()
{
    return {&TColumnsFactory<Table>::create, &TColumnsFactory<Table>::createColumnsForTables};
}

// Indexed by the ZelTable value.
const TableFactory kTableFactories[] = {
    tableFactory<ZelTable::Offers>(),       tableFactory<ZelTable::Accounts>(), tableFactory<ZelTable::Orders>(),
    tableFactory<ZelTable::Trades>(),       tableFactory<ZelTable::ClosedTrades>(),
    tableFactory<ZelTable::Messages>(),     tableFactory<ZelTable::Summary>(),
};
constexpr int kReaderTables = 6; // every table but the summary

int tableIndex(ZelTable table, int tables)
{
    const int t = static_cast<int>(table);
    return t >= 0 && t < tables ? t : -1;
}

} // namespace

template <ZelTable Table>
void TColumnsFactory<Table>::create(TableColumnCollection* columns)
{
    addColumns(columns, columnDefs<Table>(), true);
}

template <ZelTable Table>
void TColumnsFactory<Table>::createColumnsForTables(TableColumnCollection* columns)
{
    addColumns(columns, columnDefs<Table>(), false);
}

template struct TColumnsFactory<ZelTable::Offers>;
template struct TColumnsFactory<ZelTable::Accounts>;
template struct TColumnsFactory<ZelTable::Orders>;
template struct TColumnsFactory<ZelTable::Trades>;
template struct TColumnsFactory<ZelTable::ClosedTrades>;
template struct TColumnsFactory<ZelTable::Messages>;
template struct TColumnsFactory<ZelTable::Summary>;

ColumnsFactory* ColumnsFactory::getInst()
{
    // Initialized once even on concurrent first calls; deliberately never destroyed.
    static ColumnsFactory* const instance = new ColumnsFactory();
    return instance;
}

ColumnsFactory::ColumnsFactory()
{
    for (int t = 0; t < kTables; ++t) {
        if (t < kReaderTables)
            m_readerLists[t] = adoptRef(createColumns(static_cast<ZelTable>(t)));
        m_tableLists[t] = adoptRef(createColumnsForTables(static_cast<ZelTable>(t)));
    }
}

TableColumnCollection* ColumnsFactory::getColumns(ZelTable table) const
{
    const int t = tableIndex(table, kTables);
    return t >= 0 ? m_readerLists[t].share() : nullptr;
}

TableColumnCollection* ColumnsFactory::getColumnsForTable(ZelTable table) const
{
    const int t = tableIndex(table, kTables);
    return t >= 0 ? m_tableLists[t].share() : nullptr;
}

TableColumnCollection* ColumnsFactory::peekColumnsForTable(ZelTable table) const
{
    const int t = tableIndex(table, kTables);
    return t >= 0 ? m_tableLists[t].get() : nullptr;
}

TableColumnCollection* ColumnsFactory::createColumns(ZelTable table)
{
    const int t = tableIndex(table, kReaderTables);
    if (t < 0)
        return nullptr;
    TableColumnCollection* columns = new TableColumnCollection();
    kTableFactories[t].create(columns);
    return columns;
}

TableColumnCollection* ColumnsFactory::createColumnsForTables(ZelTable table)
{
    const int t = tableIndex(table, kTables);
    if (t < 0)
        return nullptr;
    TableColumnCollection* columns = new TableColumnCollection();
    kTableFactories[t].createColumnsForTables(columns);
    return columns;
}

} // namespace zel
