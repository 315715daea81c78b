#include "core/tables/rows.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "core/base/ref_ptr.h"

namespace zel {
namespace {

// Every column of a filled record holds a value derived from its index, so a cell
// read through the wrong column shows.
std::string textOf(int i) { return "v" + std::to_string(i); }
void fill(RecordText& v, int i) { v = textOf(i); }
void fill(int32_t& v, int i) { v = 1000 + i; }
void fill(double& v, int i) { v = 0.25 + i; }
void fill(bool& v, int) { v = true; }

void expectValue(const char* v, int i)
{
    ASSERT_NE(v, nullptr);
    EXPECT_EQ(v, textOf(i));
}
void expectValue(int v, int i) { EXPECT_EQ(v, 1000 + i); }
void expectValue(double v, int i) { EXPECT_EQ(v, 0.25 + i); }
void expectValue(bool v, int) { EXPECT_TRUE(v); }

#define FILL_CELL(name, type, kind) fill(r.name, Columns::name);
#define DEFINE_FILL(Record, ColumnsOf, list)                                                                   \
    void fillRecord(Record& r)                                                                                 \
    {                                                                                                          \
        using Columns = ColumnsOf;                                                                             \
        list(FILL_CELL)                                                                                        \
    }
DEFINE_FILL(Offer, OfferColumns, ZEL_OFFER_COLUMNS)
DEFINE_FILL(Account, AccountColumns, ZEL_ACCOUNT_COLUMNS)
DEFINE_FILL(Order, OrderColumns, ZEL_ORDER_COLUMNS)
DEFINE_FILL(Trade, TradeColumns, ZEL_TRADE_COLUMNS)
DEFINE_FILL(ClosedTrade, ClosedTradeColumns, ZEL_CLOSED_TRADE_COLUMNS)
DEFINE_FILL(MessageRecord, MessageColumns, ZEL_MESSAGE_COLUMNS)
DEFINE_FILL(SummaryRecord, SummaryColumns, ZEL_SUMMARY_COLUMNS)
#undef DEFINE_FILL
#undef FILL_CELL

template <class Row>
RefPtr<Row> filledRow(bool readerRow)
{
    auto record = std::make_unique<typename Row::RecordType>();
    fillRecord(*record);
    return adoptRef(new Row(std::move(record), readerRow));
}

void expectCell(IZelRow* row, int i, IZelTableColumn::ZelTableColumnType type)
{
    const void* cell = row->getCell(i);
    ASSERT_NE(cell, nullptr);
    switch (type) {
    case IZelTableColumn::String: expectValue(static_cast<const char*>(cell), i); break;
    case IZelTableColumn::Integer: expectValue(*static_cast<const int*>(cell), i); break;
    case IZelTableColumn::Double:
    case IZelTableColumn::Date: expectValue(*static_cast<const double*>(cell), i); break;
    case IZelTableColumn::Boolean: expectValue(*static_cast<const bool*>(cell), i); break;
    }
}

struct TableShape {
    ZelTable table;
    int columns;
    int readerColumns; // what columns() of a reader row lists
};

template <class Row>
TableShape shapeOf();
template <> TableShape shapeOf<OfferRow>() { return {ZelTable::Offers, 22, 21}; }
template <> TableShape shapeOf<AccountRow>() { return {ZelTable::Accounts, 20, 16}; }
template <> TableShape shapeOf<OrderRow>() { return {ZelTable::Orders, 37, 35}; }
template <> TableShape shapeOf<TradeRow>() { return {ZelTable::Trades, 24, 19}; }
template <> TableShape shapeOf<ClosedTradeRow>() { return {ZelTable::ClosedTrades, 27, 27}; }
template <> TableShape shapeOf<MessageRow>() { return {ZelTable::Messages, 8, 8}; }
// The summary has no reader list; a summary row lists its table columns.
template <> TableShape shapeOf<SummariesRow>() { return {ZelTable::Summary, 14, 14}; }

template <class Row>
class EveryRow : public ::testing::Test {};
using RowTypes = ::testing::Types<OfferRow, AccountRow, OrderRow, TradeRow, ClosedTradeRow, MessageRow, SummariesRow>;
TYPED_TEST_SUITE(EveryRow, RowTypes);

TYPED_TEST(EveryRow, CellsPointIntoTheRecordByTableColumnIndex)
{
    const TableShape shape = shapeOf<TypeParam>();
    for (bool reader : {true, false}) {
        SCOPED_TRACE(reader ? "reader row" : "table row");
        RefPtr<TypeParam> row = filledRow<TypeParam>(reader);
        EXPECT_EQ(row->tableType(), shape.table);
        EXPECT_EQ(row->isReaderRow(), reader);

        RefPtr<IZelTableColumnCollection> listed = adoptRef(row->columns());
        ASSERT_TRUE(listed);
        EXPECT_EQ(listed->size(), reader ? shape.readerColumns : shape.columns);

        // Both kinds of row read every column of the full list, the same way.
        TableColumnCollection* all = ColumnsFactory::getInst()->peekColumnsForTable(shape.table);
        ASSERT_EQ(all->size(), shape.columns);
        for (int i = 0; i < shape.columns; ++i) {
            SCOPED_TRACE(all->getColumn(i)->getID());
            expectCell(row.get(), i, all->getColumn(i)->getType());
            EXPECT_EQ(row->getCell(i), row->getCell(i));
            EXPECT_EQ(all->getColumn(i)->getCell(row.get()), row->getCell(i));
        }
        for (int bad : {-1, shape.columns, 64, 1 << 20}) {
            EXPECT_EQ(row->getCell(bad), nullptr);
            EXPECT_FALSE(row->isCellChanged(bad));
        }
    }
}

TYPED_TEST(EveryRow, ChangeTestsReadTheColumnsBitOfTheMask)
{
    const TableShape shape = shapeOf<TypeParam>();
    RefPtr<TypeParam> row = filledRow<TypeParam>(false);
    for (int i = 0; i < shape.columns; ++i)
        EXPECT_FALSE(row->isCellChanged(i));

    const uint64_t pattern = 0x9249249249249249ull; // every third bit, bits 0 and 63 included
    row->record().changeMask = pattern;
    for (int i = 0; i < shape.columns; ++i)
        EXPECT_EQ(row->isCellChanged(i), ((pattern >> i) & 1u) != 0) << i;
    const int last = shape.columns - 1;
    row->setCellChanged(last, !row->isCellChanged(last));
    EXPECT_EQ(row->isCellChanged(last), ((pattern >> last) & 1u) == 0);
    EXPECT_FALSE(row->isCellChanged(shape.columns)); // bits past the columns are not cells
}

TYPED_TEST(EveryRow, TextsAreEmptyNotNullWhenNothingWasSent)
{
    const TableShape shape = shapeOf<TypeParam>();
    RefPtr<TypeParam> row = adoptRef(new TypeParam(nullptr, true));
    TableColumnCollection* all = ColumnsFactory::getInst()->peekColumnsForTable(shape.table);
    for (int i = 0; i < shape.columns; ++i) {
        const void* cell = row->getCell(i);
        ASSERT_NE(cell, nullptr) << i;
        if (all->getColumn(i)->getType() == IZelTableColumn::String) {
            EXPECT_STREQ(static_cast<const char*>(cell), "") << i;
        }
    }
}

// Each public getter, called through the table-row interface, reads its own column;
// the cell getter and the change test of each column agree with getCell and
// isCellChanged.
#define EXPECT_COLUMN(name, type, kind)                                                                        \
    expectValue(row->get##name(), Columns::name);                                                              \
    EXPECT_EQ(impl->get##name##AsVariant(), impl->getCell(Columns::name));                                     \
    EXPECT_EQ(impl->is##name##Changed(), isColumnChanged(mask, Columns::name));

#define CHECK_TABLE(RowClass, Interface, list)                                                                 \
    {                                                                                                          \
        SCOPED_TRACE(#RowClass);                                                                               \
        using Columns = RowClass::Columns;                                                                     \
        RefPtr<RowClass> impl = filledRow<RowClass>(false);                                                    \
        const uint64_t mask = 0x5555555555555555ull;                                                           \
        impl->record().changeMask = mask;                                                                      \
        Interface* row = impl.get();                                                                           \
        list(EXPECT_COLUMN)                                                                                    \
    }

TEST(Rows, PublicGettersReadTheirColumns)
{
    CHECK_TABLE(OfferRow, IZelOfferTableRow, ZEL_OFFER_COLUMNS)
    CHECK_TABLE(AccountRow, IZelAccountTableRow, ZEL_ACCOUNT_COLUMNS)
    CHECK_TABLE(OrderRow, IZelOrderTableRow, ZEL_ORDER_COLUMNS)
    CHECK_TABLE(TradeRow, IZelTradeTableRow, ZEL_TRADE_COLUMNS)
    CHECK_TABLE(ClosedTradeRow, IZelClosedTradeTableRow, ZEL_CLOSED_TRADE_COLUMNS)
    CHECK_TABLE(MessageRow, IZelMessageTableRow, ZEL_MESSAGE_COLUMNS)
    CHECK_TABLE(SummariesRow, IZelSummaryTableRow, ZEL_SUMMARY_COLUMNS)
}

#undef CHECK_TABLE
#undef EXPECT_COLUMN

TEST(Rows, AnOrderTakenIntoTheTableShowsItsCalculatedColumns)
{
    auto order = std::make_unique<Order>();
    order->OrderID = "O1";
    order->Stop = 1.2345;
    order->Limit = 1.3456;
    order->Amount = 10000;
    const Order* record = order.get();
    RefPtr<OrderRow> row = adoptRef(new OrderRow(std::move(order), true));

    RefPtr<IZelTableColumnCollection> readerList = adoptRef(row->columns());
    EXPECT_EQ(readerList->size(), 35);
    EXPECT_EQ(readerList->find("Stop"), nullptr);

    row->setReaderRow(false);
    RefPtr<IZelTableColumnCollection> tableList = adoptRef(row->columns());
    EXPECT_EQ(tableList->size(), 37);
    RefPtr<IZelTableColumn> stop = adoptRef(tableList->get(35));
    EXPECT_STREQ(stop->getID(), "Stop");
    ASSERT_NE(row->getCell(35), nullptr);
    EXPECT_EQ(*static_cast<const double*>(row->getCell(35)), 1.2345);
    EXPECT_EQ(*static_cast<const double*>(row->getCell(36)), 1.3456);

    // Cells are the record's own values, not copies.
    EXPECT_EQ(row->getCell(16), &record->Amount);
    EXPECT_EQ(row->getCell(0), static_cast<const void*>(record->OrderID.c_str()));
    IZelOrderTableRow* table = row.get();
    EXPECT_EQ(table->getStop(), 1.2345);
    EXPECT_STREQ(table->getOrderID(), "O1");
}

TEST(Rows, CalculationEventsExistOnlyOnceARowIsMadeReadyForATable)
{
    RefPtr<OrderRow> order = filledRow<OrderRow>(true);
    RefPtr<TradeRow> trade = filledRow<TradeRow>(true);
    RefPtr<AccountRow> account = filledRow<AccountRow>(true);
    EXPECT_EQ(order->calculationEvent(), nullptr);
    order->fireOrderCalculateFields(); // a reader row has nothing to fire
    trade->fireTradeCalculateFields();

    prepareTableRow(*order);
    prepareTableRow(*trade);
    prepareTableRow(*account);
    EXPECT_FALSE(order->isReaderRow());
    EXPECT_EQ(order->calculationEvent(), nullptr) << "made on first connection only";
    order->ensureCalculationEvent();
    trade->ensureCalculationEvent();
    account->ensureCalculationEvent();
    ASSERT_NE(order->calculationEvent(), nullptr);
    ASSERT_NE(account->calculationEvent(), nullptr);
    OrderCalculationEvent::CalculationEvent* same = order->calculationEvent();
    prepareTableRow(*order); // again: the event and its connections stay
    order->ensureCalculationEvent();
    EXPECT_EQ(order->calculationEvent(), same);

    Cpp::ConnectionScope scope;
    std::vector<std::string> calls;
    order->calculationEvent()->connect(scope, [&](bool fire, OrderRow* r) {
        calls.push_back(std::string("order ") + (fire ? "fire " : "quiet ") + r->getOrderID());
    });
    trade->calculationEvent()->connect(scope, [&](bool fire, bool removed, TradeRow* r) {
        calls.push_back(std::string("trade ") + (fire ? "fire " : "quiet ") + (removed ? "removed " : "kept ") +
                        r->getTradeID());
    });
    account->calculationEvent()->connect(scope, [&](bool, double oldGross, double newGross, AccountRow* r) {
        calls.push_back("account " + std::to_string(oldGross) + " " + std::to_string(newGross) + " " +
                        r->getAccountID());
    });
    order->fireOrderCalculateFields();
    trade->fireTradeCalculateFields();
    account->calculationEvent()->fire(true, 1.5, -2.0, account.get());
    EXPECT_EQ(calls, (std::vector<std::string>{"order fire v0", "trade fire kept v0",
                                               "account 1.500000 -2.000000 v0"}));

    scope.disconnectAll();
    order->fireOrderCalculateFields();
    EXPECT_EQ(calls.size(), 3u);
}

TEST(Rows, AnOfferStartsValidAndKeepsPerColumnValidity)
{
    RefPtr<OfferRow> row = filledRow<OfferRow>(true);
    for (int i = 0; i < OfferColumns::count; ++i)
        EXPECT_TRUE(row->isValid(i)) << i;
    row->setValid(OfferColumns::Bid, false);
    row->setValid(OfferColumns::PipCost, false);
    row->setValid(OfferColumns::count, false); // out of range: ignored
    row->setValid(-1, false);
    IZelOfferTableRow* offer = row.get();
    EXPECT_FALSE(offer->isBidValid());
    EXPECT_FALSE(offer->isPipCostValid());
    EXPECT_TRUE(offer->isAskValid());
    EXPECT_TRUE(offer->isOfferIDValid());
    EXPECT_TRUE(offer->isValueDateValid());
    EXPECT_FALSE(row->isValid(-1));
    EXPECT_FALSE(row->isValid(OfferColumns::count));
    // Validity does not hide the value.
    EXPECT_EQ(offer->getBid(), 0.25 + OfferColumns::Bid);
}

uint64_t bits(std::initializer_list<int> columns)
{
    uint64_t m = 0;
    for (int c : columns)
        m |= uint64_t{1} << c;
    return m;
}

TEST(Rows, OrderComparisonMarksExactlyTheColumnsThatDiffer)
{
    RefPtr<OrderRow> mine = filledRow<OrderRow>(false);
    RefPtr<OrderRow> theirs = filledRow<OrderRow>(false);
    mine->record().changeMask = ~uint64_t{0} >> (64 - OrderColumns::count);
    mine->compareRows(theirs.get());
    EXPECT_EQ(mine->record().changeMask, 0u);

    Order& t = theirs->record();
    t.OrderID += "x";                 // longer text
    t.BuySell = "w11";                // same length, other content ("v11")
    t.NetQuantity = false;            // boolean
    t.StatusTime += 1.0 / 86400;      // date one second later
    t.Amount += 1;                    // integer
    t.Limit = -t.Limit;               // calculated column
    mine->compareRows(theirs.get());
    EXPECT_EQ(mine->record().changeMask,
              bits({OrderColumns::OrderID, OrderColumns::BuySell, OrderColumns::NetQuantity, OrderColumns::StatusTime,
                    OrderColumns::Amount, OrderColumns::Limit}));
    EXPECT_EQ(theirs->record().changeMask, 0u);

    const uint64_t before = mine->record().changeMask;
    mine->compareRows(nullptr);
    EXPECT_EQ(mine->record().changeMask, before);

    // A value that is not a number never equals anything, itself included.
    RefPtr<OrderRow> a = filledRow<OrderRow>(false);
    RefPtr<OrderRow> b = filledRow<OrderRow>(false);
    a->record().Rate = b->record().Rate = std::numeric_limits<double>::quiet_NaN();
    a->compareRows(b.get());
    EXPECT_EQ(a->record().changeMask, bits({OrderColumns::Rate}));
    EXPECT_TRUE(a->isRateChanged());
}

TEST(Rows, ClosedTradeComparisonCoversEveryColumn)
{
    RefPtr<ClosedTradeRow> mine = filledRow<ClosedTradeRow>(false);
    RefPtr<ClosedTradeRow> theirs = filledRow<ClosedTradeRow>(false);
    ClosedTrade& t = theirs->record();
    t.TradeID.clear();
    t.CloseTime = 0;
    t.GrossPL += 0.5;
    t.ValueDate = "v27"; // the last column
    mine->record().changeMask = bits({3, 4});
    mine->compareRows(theirs.get());
    EXPECT_EQ(mine->record().changeMask, bits({ClosedTradeColumns::TradeID, ClosedTradeColumns::CloseTime,
                                               ClosedTradeColumns::GrossPL, ClosedTradeColumns::ValueDate}));
    for (int i = 0; i < ClosedTradeColumns::count; ++i)
        EXPECT_EQ(mine->isCellChanged(i), (mine->record().changeMask >> i & 1u) != 0);
}

TEST(Rows, ReferencesKeepTheRowAndItsTexts)
{
    RefPtr<IZelMessageRow> held;
    {
        RefPtr<MessageRow> row = filledRow<MessageRow>(true);
        held = RefPtr<IZelMessageRow>(row.get());
    }
    EXPECT_STREQ(held->getText(), "v5");
    EXPECT_STREQ(static_cast<const char*>(held->getCell(MessageColumns::Subject)), "v6");
}

// Texts of every length around the inline limit, going inline to heap and back, copied,
// moved and assigned from a part of themselves: always the same bytes, NUL-terminated.
TEST(Rows, RecordTextsKeepTheirBytesAtEveryLength)
{
    const std::string source = "0123456789abcdefghijklmnopqrstuvwxyz" + std::string(200, 'q');
    auto expectText = [](const RecordText& t, const std::string& expected) {
        EXPECT_EQ(t.size(), expected.size());
        EXPECT_EQ(std::string(t.c_str()), expected) << "NUL right after the text";
        EXPECT_TRUE(t == expected);
        EXPECT_FALSE(t != expected.c_str());
        // Two texts compare by content whatever each went through before.
        EXPECT_TRUE(t == RecordText(expected));
        EXPECT_TRUE(RecordText(expected + "x") != t);
        EXPECT_EQ(t.empty(), expected.empty());
    };
    const size_t lengths[] = {0, 1, 2, 3, 4, 7, 8, 9, 14, 15, 16, 17, 31, 236};
    RecordText reused;
    for (size_t n : lengths) {
        SCOPED_TRACE(n);
        const std::string text = source.substr(0, n);
        RecordText t;
        t.assign(text.data(), n);
        expectText(t, text);
        for (size_t before : lengths) {  // over a text of any other length
            reused = source.substr(0, before);
            reused.assign(text.data(), n);
            expectText(reused, text);
        }
        RecordText copy(t);
        expectText(copy, text);
        RecordText moved(std::move(copy));
        expectText(moved, text);
        expectText(copy, "");  // NOLINT: a moved-from text is empty
        copy = moved;
        expectText(copy, text);
        copy = copy;  // NOLINT: self-assignment keeps the text
        expectText(copy, text);
        if (n > 2) {  // a part of itself, from inline or heap storage
            copy.assign(copy.c_str() + 1, n - 2);
            expectText(copy, text.substr(1, n - 2));
        }
        moved += "!";
        expectText(moved, text + "!");
        moved.clear();
        expectText(moved, "");
    }
    RecordText fromNull(static_cast<const char*>(nullptr));
    expectText(fromNull, "");
    EXPECT_TRUE(RecordText("ab") == RecordText(std::string("ab")));
    EXPECT_TRUE(RecordText("ab") != RecordText("abc"));
    EXPECT_TRUE(RecordText(std::string("a\0b", 3)) != RecordText("a"));
}

} // namespace
} // namespace zel
