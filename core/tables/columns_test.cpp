#include "core/tables/columns.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/base/ref_ptr.h"

namespace zel {
namespace {

using Type = IZelTableColumn::ZelTableColumnType;
constexpr Type I = IZelTableColumn::Integer;
constexpr Type D = IZelTableColumn::Double;
constexpr Type S = IZelTableColumn::String;
constexpr Type T = IZelTableColumn::Date;
constexpr Type B = IZelTableColumn::Boolean;

struct ExpectedColumn {
    const char* id;
    Type type;
};

struct ExpectedTable {
    ZelTable table;
    int readerColumns; // -1: no reader list
    std::vector<ExpectedColumn> columns;
};

// The column lists as the tables are documented, written out independently of the
// schema the library generates them from.
const std::vector<ExpectedTable>& expectedTables()
{
    static const std::vector<ExpectedTable> tables = {
        {ZelTable::Offers,
         21,
         {{"OfferID", S},       {"Instrument", S},      {"QuoteID", S},          {"Bid", D},
          {"Ask", D},           {"Low", D},             {"High", D},             {"Volume", I},
          {"Time", T},          {"BidTradable", S},     {"AskTradable", S},      {"SellInterest", D},
          {"BuyInterest", D},   {"ContractCurrency", S}, {"Digits", I},          {"PointSize", D},
          {"SubscriptionStatus", S}, {"InstrumentType", I}, {"ContractMultiplier", I}, {"TradingStatus", S},
          {"ValueDate", S},     {"PipCost", D}}},
        {ZelTable::Accounts,
         16,
         {{"AccountID", S},      {"AccountName", S},    {"AccountKind", S},     {"Balance", D},
          {"NonTradeEquity", D}, {"M2MEquity", D},      {"UsedMargin", D},      {"UsedMargin3", D},
          {"MarginCallFlag", S}, {"LastMarginCallDate", T}, {"MaintenanceType", S}, {"AmountLimit", I},
          {"BaseUnitSize", I},   {"MaintenanceFlag", B}, {"ManagerAccountID", S}, {"LevarageProfileID", S},
          {"Equity", D},         {"DayPL", D},          {"UsableMargin", D},    {"GrossPL", D}}},
        {ZelTable::Orders,
         35,
         {{"OrderID", S},      {"RequestID", S},    {"Rate", D},              {"ExecutionRate", D},
          {"RateMin", D},      {"RateMax", D},      {"TradeID", S},           {"AccountID", S},
          {"AccountName", S},  {"OfferID", S},      {"NetQuantity", B},       {"BuySell", S},
          {"Stage", S},        {"Type", S},         {"Status", S},            {"StatusTime", T},
          {"Amount", I},       {"Lifetime", D},     {"AtMarket", D},          {"TrailStep", I},
          {"TrailRate", D},    {"TimeInForce", S},  {"AccountKind", S},       {"RequestTXT", S},
          {"ContingentOrderID", S}, {"ContingencyType", I}, {"PrimaryID", S}, {"OriginAmount", I},
          {"FilledAmount", I}, {"WorkingIndicator", B}, {"PegType", S},       {"PegOffset", D},
          {"ExpireDate", T},   {"ValueDate", S},    {"Parties", S},           {"Stop", D},
          {"Limit", D}}},
        {ZelTable::Trades,
         19,
         {{"TradeID", S},        {"AccountID", S},      {"AccountName", S},    {"AccountKind", S},
          {"OfferID", S},        {"Amount", I},         {"BuySell", S},        {"OpenRate", D},
          {"OpenTime", T},       {"OpenQuoteID", S},    {"OpenOrderID", S},    {"OpenOrderReqID", S},
          {"OpenOrderRequestTXT", S}, {"Commission", D}, {"RolloverInterest", D}, {"TradeIDOrigin", S},
          {"UsedMargin", I},     {"ValueDate", S},      {"Parties", S},        {"PL", D},
          {"GrossPL", D},        {"Close", D},          {"Stop", D},           {"Limit", D}}},
        {ZelTable::ClosedTrades,
         27,
         {{"TradeID", S},        {"AccountID", S},       {"AccountName", S},     {"AccountKind", S},
          {"OfferID", S},        {"Amount", I},          {"BuySell", S},         {"GrossPL", D},
          {"Commission", D},     {"RolloverInterest", D}, {"OpenRate", D},       {"OpenQuoteID", S},
          {"OpenTime", T},       {"OpenOrderID", S},     {"OpenOrderReqID", S},  {"OpenOrderRequestTXT", S},
          {"OpenOrderParties", S}, {"CloseRate", D},     {"CloseQuoteID", S},    {"CloseTime", T},
          {"CloseOrderID", S},   {"CloseOrderReqID", S}, {"CloseOrderRequestTXT", S}, {"CloseOrderParties", S},
          {"TradeIDOrigin", S},  {"TradeIDRemain", S},   {"ValueDate", S}}},
        {ZelTable::Messages,
         8,
         {{"MsgID", S}, {"Time", T}, {"From", S}, {"Type", S}, {"Feature", S}, {"Text", S}, {"Subject", S},
          {"HTMLFragmentFlag", B}}},
        {ZelTable::Summary,
         -1,
         {{"OfferID", S},     {"DefaultSortOrder", I}, {"Instrument", S}, {"SellNetPL", D}, {"SellAmountK", D},
          {"SellAvgOpen", D}, {"BuyClose", D},         {"SellClose", D},  {"BuyAvgOpen", D}, {"BuyAmountK", D},
          {"BuyNetPL", D},    {"AmountK", D},          {"GrossPL", D},    {"NetPL", D}}},
    };
    return tables;
}

void expectColumns(TableColumnCollection* list, const ExpectedTable& t, int count)
{
    ASSERT_NE(list, nullptr);
    ASSERT_EQ(list->size(), count);
    for (int i = 0; i < count; ++i) {
        SCOPED_TRACE(t.columns[i].id);
        RefPtr<IZelTableColumn> c = adoptRef(list->get(i));
        ASSERT_TRUE(c);
        EXPECT_STREQ(c->getID(), t.columns[i].id);
        EXPECT_EQ(c->getType(), t.columns[i].type);
        EXPECT_EQ(c.get(), list->getColumn(i));
    }
}

TEST(ColumnsFactory, EveryTableListsItsColumnsWithTheirTypesInOrder)
{
    ColumnsFactory* f = ColumnsFactory::getInst();
    ASSERT_EQ(f, ColumnsFactory::getInst());
    for (const ExpectedTable& t : expectedTables()) {
        SCOPED_TRACE(static_cast<int>(t.table));
        RefPtr<TableColumnCollection> all = adoptRef(f->getColumnsForTable(t.table));
        expectColumns(all.get(), t, static_cast<int>(t.columns.size()));
        EXPECT_EQ(all.get(), f->peekColumnsForTable(t.table));

        RefPtr<TableColumnCollection> reader = adoptRef(f->getColumns(t.table));
        if (t.readerColumns < 0) {
            EXPECT_FALSE(reader);
            continue;
        }
        expectColumns(reader.get(), t, t.readerColumns);

        // Fresh collections hold columns equal to the factory's.
        RefPtr<TableColumnCollection> made = adoptRef(ColumnsFactory::createColumns(t.table));
        expectColumns(made.get(), t, t.readerColumns);
        RefPtr<TableColumnCollection> madeAll = adoptRef(ColumnsFactory::createColumnsForTables(t.table));
        expectColumns(madeAll.get(), t, static_cast<int>(t.columns.size()));
    }
}

TEST(ColumnsFactory, SummaryHasOnlyATableListAndUnknownTablesHaveNone)
{
    ColumnsFactory* f = ColumnsFactory::getInst();
    EXPECT_EQ(f->getColumns(ZelTable::Summary), nullptr);
    EXPECT_EQ(ColumnsFactory::createColumns(ZelTable::Summary), nullptr);
    RefPtr<TableColumnCollection> summary = adoptRef(f->getColumnsForTable(ZelTable::Summary));
    ASSERT_TRUE(summary);
    EXPECT_EQ(summary->size(), 14);

    RefPtr<TableColumnCollection> empty = adoptRef(new TableColumnCollection());
    SummariesColumnsFactory::create(empty.get());
    EXPECT_EQ(empty->size(), 0);

    for (int bad : {-1, 7, 42}) {
        const ZelTable t = static_cast<ZelTable>(bad);
        EXPECT_EQ(f->getColumns(t), nullptr);
        EXPECT_EQ(f->getColumnsForTable(t), nullptr);
        EXPECT_EQ(f->peekColumnsForTable(t), nullptr);
        EXPECT_EQ(ColumnsFactory::createColumns(t), nullptr);
        EXPECT_EQ(ColumnsFactory::createColumnsForTables(t), nullptr);
    }
}

TEST(TableColumnCollection, FindIsExactAndIndexesAreChecked)
{
    RefPtr<TableColumnCollection> offers = adoptRef(ColumnsFactory::getInst()->getColumnsForTable(ZelTable::Offers));
    ASSERT_TRUE(offers);
    EXPECT_EQ(offers->find("bid"), nullptr);
    EXPECT_EQ(offers->find("Bid "), nullptr);
    EXPECT_EQ(offers->find(""), nullptr);
    EXPECT_EQ(offers->find(nullptr), nullptr);
    RefPtr<IZelTableColumn> bid = adoptRef(offers->find("Bid"));
    ASSERT_TRUE(bid);
    EXPECT_EQ(bid.get(), offers->getColumn(3));
    RefPtr<TableColumnCollection> messages =
        adoptRef(ColumnsFactory::getInst()->getColumnsForTable(ZelTable::Messages));
    RefPtr<IZelTableColumn> time = adoptRef(messages->find("Time"));
    EXPECT_EQ(time.get(), messages->getColumn(1));

    for (int bad : {-1, 22, 1000}) {
        EXPECT_EQ(offers->get(bad), nullptr);
        EXPECT_EQ(offers->getColumn(bad), nullptr);
    }
}

TEST(TableColumnCollection, HandsOutReferencesAndReleasesItsOwn)
{
    // A column outliving its collection stays readable through the caller's reference.
    RefPtr<IZelTableColumn> kept;
    {
        RefPtr<TableColumnCollection> c = adoptRef(new TableColumnCollection());
        c->add(new Column(nullptr, nullptr, nullptr, IZelTableColumn::Double, "Rate"));
        c->add(nullptr);
        EXPECT_EQ(c->size(), 1);
        kept = adoptRef(c->find("Rate"));
    }
    ASSERT_TRUE(kept);
    EXPECT_STREQ(kept->getID(), "Rate");
    EXPECT_EQ(kept->addRef(), 2);
    EXPECT_EQ(kept->release(), 1);
}

bool alwaysFalse(IAddRef*) { return false; }

TEST(Column, AbsentCallablesAndAbsentRowsGiveNeutralAnswers)
{
    RefPtr<Column> bare = adoptRef(new Column(nullptr, nullptr, nullptr, IZelTableColumn::String, nullptr));
    EXPECT_STREQ(bare->getID(), "");
    RefPtr<TableColumnCollection> c = adoptRef(new TableColumnCollection());
    IAddRef* someRow = c.get();
    EXPECT_EQ(bare->getCell(someRow), nullptr);
    EXPECT_TRUE(bare->isValid(someRow));
    EXPECT_FALSE(bare->isCellChanged(someRow));

    RefPtr<Column> tested = adoptRef(new Column(&alwaysFalse, nullptr, nullptr, IZelTableColumn::String, "X"));
    EXPECT_FALSE(tested->isValid(someRow));

    // A table asks its columns for the cell of no row past its last row.
    Column* bid = ColumnsFactory::getInst()->peekColumnsForTable(ZelTable::Offers)->getColumn(3);
    EXPECT_EQ(bid->getCell(nullptr), nullptr);
    EXPECT_FALSE(bid->isCellChanged(nullptr));
    EXPECT_TRUE(bid->isValid(nullptr));
}

TEST(Column, TypeWordsMapExactly)
{
    const struct {
        const char* word;
        Type type;
    } cases[] = {{"int", I},     {"double", D}, {"string", S}, {"DATE", T}, {"bool", B},
                 {"Date", S},    {"INT", S},    {"", S},       {nullptr, S}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.word != nullptr ? c.word : "(null)");
        EXPECT_EQ(toTableColumnType(c.word), c.type);
    }
}

} // namespace
} // namespace zel
