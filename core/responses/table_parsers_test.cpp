#include "core/responses/table_parsers.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "vorntool/date.h"

namespace zel {
namespace {

// The field maps as the server documents them: "field:Column:conversion".
const char* const kOrders =
    "0:OrderID:t 2:RequestID:t 3:RequestTXT:t 4:StatusTime:time 6:Lifetime:n 7:Rate:n 9:TradeID:t "
    "10:AccountID:t 11:AccountName:t 12:OfferID:t 13:BuySell:t 14:Amount:i 15:Stage:t 25:AtMarket:n "
    "26:AccountKind:t 27:TrailStep:i 28:TrailRate:n 29:TimeInForce:t 32:Type:t 33:Status:t 38:OriginAmount:i "
    "39:FilledAmount:i 41:ExecutionRate:n 43:WorkingIndicator:f 45:ContingentOrderID:t 46:PegOffset:n "
    "47:RateMin:n 49:RateMax:n 51:PegType:t 52:NetQuantity:f 53:ContingencyType:i 54:PrimaryID:t "
    "55:ExpireDate:time 56:ValueDate:t 58:Parties:t";
const char* const kAccounts =
    "0:AccountID:t 4:Balance:n 5:UsedMargin:n 6:MarginCallFlag:t 7:AccountName:t 12:ManagerAccountID:t "
    "13:AccountKind:t 14:LastMarginCallDate:time 15:UsedMargin3:n 16:M2MEquity:n 17:NonTradeEquity:n "
    "34:MaintenanceType:t 37:AmountLimit:i 39:BaseUnitSize:i 40:MaintenanceFlag:f 45:LevarageProfileID:t";
const char* const kTrades =
    "0:TradeID:t 4:AccountID:t 5:AccountName:t 6:OfferID:t 7:RolloverInterest:n 8:Commission:n 9:OpenTime:time "
    "10:OpenRate:n 11:OpenQuoteID:t 12:BuySell:t 13:Amount:i 20:UsedMargin:i 21:AccountKind:t 22:OpenOrderID:t "
    "23:OpenOrderReqID:t 24:OpenOrderRequestTXT:t 27:TradeIDOrigin:t 28:ValueDate:t 32:Parties:t";
const char* const kClosedTrades =
    "0:TradeID:t 4:AccountID:t 5:AccountName:t 6:OfferID:t 7:RolloverInterest:n 8:Commission:n 9:GrossPL:n "
    "10:OpenTime:time 11:CloseTime:time 12:OpenRate:n 13:OpenQuoteID:t 14:CloseRate:n 15:CloseQuoteID:t "
    "16:BuySell:t 17:Amount:i 24:AccountKind:t 25:OpenOrderID:t 26:OpenOrderReqID:t 27:OpenOrderRequestTXT:t "
    "28:CloseOrderID:t 29:CloseOrderReqID:t 30:CloseOrderRequestTXT:t 32:TradeIDOrigin:t 33:ValueDate:t "
    "35:TradeIDRemain:t 36:OpenOrderParties:t 37:CloseOrderParties:t";
const char* const kMessages = "0:MsgID:t 3:Time:time 4:From:t 5:Type:t 6:Feature:t 7:Text:t 8:Subject:t";
const char* const kOffers =
    "0:OfferID:t 1:QuoteID:t 4:Time:time 13:BidTradable:t 14:AskTradable:t 15:High:n 16:Low:n 17:Volume:i";

struct Expect {
    int field;
    std::string column;
    std::string conversion;
};

std::vector<Expect> parse(const char* fieldList)
{
    std::vector<Expect> out;
    std::istringstream in(fieldList);
    std::string item;
    while (in >> item) {
        const size_t a = item.find(':'), b = item.rfind(':');
        out.push_back({std::stoi(item.substr(0, a)), item.substr(a + 1, b - a - 1), item.substr(b + 1)});
    }
    return out;
}

// A distinct value per field: "t<field>", <field>.25, <field>, a time stamp on day
// <field>, or "Y"; fields the map does not name get junk.
std::string valueOf(const Expect& e)
{
    if (e.conversion == "t")
        return "t" + std::to_string(e.field);
    if (e.conversion == "n")
        return std::to_string(e.field) + ".25";
    if (e.conversion == "i")
        return std::to_string(e.field);
    if (e.conversion == "time") {
        char buf[32];
        std::snprintf(buf, sizeof buf, "01%02d2026101112", e.field % 28 + 1);
        return buf;
    }
    return "Y";
}

std::string lineFor(const std::vector<Expect>& expects, const std::string& key = std::string())
{
    int last = 0;
    for (const Expect& e : expects)
        last = std::max(last, e.field);
    std::vector<std::string> fields(static_cast<size_t>(last) + 3, "junk");
    for (const Expect& e : expects)
        fields[static_cast<size_t>(e.field)] = valueOf(e);
    if (!key.empty())
        fields[0] = key;
    std::string line;
    for (size_t i = 0; i < fields.size(); ++i)
        line += (i ? ";" : "") + fields[i];
    return line;
}

// Every column of the map read back through the reader's cells, by column name.
template <class Reader>
void checkColumns(Reader& reader, const std::vector<Expect>& expects, const std::string& key = std::string())
{
    ASSERT_EQ(reader.size(), 1);
    RefPtr<IZelTableColumnCollection> columns = adoptRef(reader.columns());
    for (const Expect& e : expects) {
        SCOPED_TRACE(e.column);
        int index = -1;
        for (int c = 0; c < columns->size(); ++c) {
            RefPtr<IZelTableColumn> col = adoptRef(columns->get(c));
            if (e.column == col->getID())
                index = c;
        }
        ASSERT_GE(index, 0);
        const void* cell = reader.getCell(0, index);
        ASSERT_NE(cell, nullptr);
        if (e.conversion == "t") {
            EXPECT_STREQ(static_cast<const char*>(cell), (e.field == 0 && !key.empty() ? key : valueOf(e)).c_str());
        } else if (e.conversion == "n") {
            EXPECT_DOUBLE_EQ(*static_cast<const double*>(cell), e.field + 0.25);
        } else if (e.conversion == "i") {
            EXPECT_EQ(*static_cast<const int32_t*>(cell), e.field);
        } else if (e.conversion == "time") {
            EXPECT_DOUBLE_EQ(*static_cast<const double*>(cell),
                             vorntool::date(2026, 1, static_cast<uint16_t>(e.field % 28 + 1), 10, 11, 12).getSerial());
        } else {
            EXPECT_TRUE(*static_cast<const bool*>(cell));
        }
    }
}

template <class Reader, class Parser>
void roundTrip(const char* fieldList)
{
    const std::vector<Expect> expects = parse(fieldList);
    RefPtr<Reader> reader = adoptRef(new Reader());
    Parser parser(reader.get(), nullptr, 0);
    const std::string text = "0\n" + lineFor(expects) + "\n";
    CResultSetTokenizer(text.c_str()).tokenize(&parser);
    checkColumns(*reader, expects);
}

TEST(TableParsers, EveryMappedFieldLandsInItsColumn)
{
    roundTrip<OrdersTableResponseReader, OrdersParser>(kOrders);
    roundTrip<AccountsTableResponseReader, AccountsParser>(kAccounts);
    roundTrip<TradesTableResponseReader, TradesParser>(kTrades);
    roundTrip<ClosedTradesTableResponseReader, ClosedTradesParser>(kClosedTrades);
    roundTrip<MessagesTableResponseReader, MessagesParser>(kMessages);
}

class OneInstrument : public TThreadSafeAddRefImpl<IInstrumentsLookup> {
public:
    OneInstrument()
    {
        instrument.offerID = "t0";
        instrument.symbol = "EUR/USD";
        instrument.sellAdj = 0.0001;
        instrument.buyAdj = -0.0001;
    }
    std::shared_ptr<const Instrument> find(const char* id) override { return borrowInstrument(id && instrument.offerID == id ? &instrument : nullptr); }
    Instrument instrument;
};

TEST(TableParsers, OffersTakeTheirInstrumentAndDropUnknownOnes)
{
    const std::vector<Expect> expects = parse(kOffers);
    RefPtr<OneInstrument> instruments = adoptRef(new OneInstrument());
    OfferRowFactory factory(instruments.get());
    RefPtr<OffersTableResponseReader> reader = adoptRef(new OffersTableResponseReader());
    OffersParser parser(factory, reader.get(), nullptr, 0);
    std::string line = lineFor(expects);
    // Raw bid and ask (fields 5 and 6) become Bid and Ask with the adjustments.
    std::vector<std::string> f;
    std::stringstream ss(line);
    for (std::string x; std::getline(ss, x, ';');)
        f.push_back(x);
    f[5] = "1.2345";
    f[6] = "1.2350";
    line.clear();
    for (size_t i = 0; i < f.size(); ++i)
        line += (i ? ";" : "") + f[i];
    const std::string text = "0\n" + line + "\nunknown;1;2;3;4;1.1;1.2\n";
    CResultSetTokenizer(text.c_str()).tokenize(&parser);
    checkColumns(*reader, expects);
    RefPtr<IZelOfferRow> row = adoptRef(reader->getRow(0));
    EXPECT_STREQ(row->getInstrument(), "EUR/USD");
    EXPECT_NEAR(row->getBid(), 1.2346, 1e-12);
    EXPECT_NEAR(row->getAsk(), 1.2349, 1e-12);
}

TEST(TableParsers, OddLinesStillMakeRows)
{
    RefPtr<OrdersTableResponseReader> reader = adoptRef(new OrdersTableResponseReader());
    OrdersParser parser(reader.get(), nullptr, 0);
    CResultSetTokenizer("0;status fields are no record\nO1\n;;;bad-time;;;x.5;;;;;;;;99999999999\n").tokenize(&parser);
    ASSERT_EQ(reader->size(), 2) << "too few fields still make a row";
    RefPtr<IZelOrderRow> first = adoptRef(reader->getRow(0));
    EXPECT_STREQ(first->getOrderID(), "O1");
    EXPECT_STREQ(first->getTradeID(), "") << "missing texts are empty, not null";
    RefPtr<IZelOrderRow> second = adoptRef(reader->getRow(1));
    EXPECT_EQ(second->getStatusTime(), 0.0) << "an unreadable time stamp is the empty date";
    EXPECT_EQ(second->getRate(), 0.0) << "an unreadable number is 0";
    EXPECT_EQ(reader->getRow(2), nullptr);
    EXPECT_EQ(reader->getCell(5, 0), nullptr);
    EXPECT_EQ(reader->getCell(0, 99), nullptr);
    EXPECT_FALSE(reader->isCellValid(0, 99));
    EXPECT_TRUE(reader->isCellValid(0, 0));
}

// An empty field stores its kind's empty value over whatever the record held, as
// the conversion of "" gives it: an update line may empty a column.
TEST(TableParsers, EmptyFieldsStoreTheEmptyValueOfTheirKind)
{
    Order o;
    o.OrderID = "O1";
    o.Lifetime = 2.5;
    o.Amount = 7;
    o.StatusTime = 40000.5;
    o.WorkingIndicator = true;
    const FieldMap<Order>& map = ordersFieldMap();
    for (int field : {0, 4, 6, 14, 43})
        map.store(o, field, "", 0);
    EXPECT_EQ(o.OrderID, "");
    EXPECT_EQ(o.Lifetime, 0.0);
    EXPECT_FALSE(std::signbit(o.Lifetime));
    EXPECT_EQ(o.Amount, 0);
    EXPECT_EQ(o.StatusTime, 0.0);
    EXPECT_FALSE(o.WorkingIndicator);
}

TEST(TableParsers, FlagIsAnUpperCaseYOnly)
{
    struct Case {
        const char* field;
        bool expected;
    } cases[] = {{"Y", true}, {"Yes", true}, {"y", false}, {"", false}, {"N", false}};
    for (const Case& c : cases) {
        RefPtr<AccountsTableResponseReader> reader = adoptRef(new AccountsTableResponseReader());
        AccountsParser parser(reader.get(), nullptr, 0);
        std::string line = "A1";
        for (int i = 1; i <= 40; ++i)
            line += i == 40 ? std::string(";") + c.field : ";";
        CResultSetTokenizer(("0\n" + line).c_str()).tokenize(&parser);
        RefPtr<IZelAccountRow> row = adoptRef(reader->getRow(0));
        EXPECT_EQ(row->getMaintenanceFlag(), c.expected) << c.field;
    }
}

// A live table that keeps what it is given.
template <class Row>
class KeptTable : public TThreadSafeAddRefImpl<ILiveTable<Row>> {
public:
    void add(Row* row) override { rows.emplace_back(row); }
    std::vector<RefPtr<Row>> rows;
};

TEST(TableParsers, ModesFillReaderTableOrBothWithSeparateRecords)
{
    for (int mode : {0, 1, 2}) {
        SCOPED_TRACE(mode);
        RefPtr<TradesTableResponseReader> reader = adoptRef(new TradesTableResponseReader());
        RefPtr<KeptTable<TradeRow>> kept = adoptRef(new KeptTable<TradeRow>());
        KeptTable<TradeRow>& table = *kept;
        TradesParser parser(reader.get(), &table, mode);
        CResultSetTokenizer("0\nT1;;;;A1\nT2;;;;A2\n").tokenize(&parser);
        EXPECT_EQ(reader->size(), mode == 1 ? 0 : 2);
        EXPECT_EQ(table.rows.size(), mode == 0 ? 0u : 2u);
        if (mode == 2) {
            EXPECT_NE(&reader->at(0)->record(), &table.rows[0]->record());
            table.rows[0]->record().AccountID = "changed";
            EXPECT_STREQ(reader->at(0)->getAccountID(), "A1");
            EXPECT_TRUE(reader->at(0)->isReaderRow());
            EXPECT_FALSE(table.rows[0]->isReaderRow());
        }
        // Only the table's rows are table rows; none carries a calculation event
        // before a handler connects.
        for (int i = 0; i < reader->size(); ++i)
            EXPECT_EQ(reader->at(i)->calculationEvent(), nullptr);
        for (const RefPtr<TradeRow>& row : table.rows) {
            EXPECT_FALSE(row->isReaderRow());
            EXPECT_EQ(row->calculationEvent(), nullptr);
        }
    }
}

TEST(TableParsers, MessagesKeepOrDecodeTheirText)
{
    const char* text = "0\nM1;;;;admin;;;<HTML-DATA>x</HTML-DATA>;Subject\n";
    RefPtr<MessagesTableResponseReader> plain = adoptRef(new MessagesTableResponseReader());
    MessagesParser p1(plain.get(), nullptr, 0);
    CResultSetTokenizer(text).tokenize(&p1);
    RefPtr<IZelMessageRow> raw = adoptRef(plain->getRow(0));
    EXPECT_STREQ(raw->getText(), "<HTML-DATA>x</HTML-DATA>");
    EXPECT_FALSE(raw->getHTMLFragmentFlag());

    RefPtr<MessagesTableResponseReader> decoded = adoptRef(new MessagesTableResponseReader());
    MessagesParserWithDecoding p2(decoded.get(), nullptr, 0);
    CResultSetTokenizer(text).tokenize(&p2);
    RefPtr<IZelMessageRow> html = adoptRef(decoded->getRow(0));
    EXPECT_STREQ(html->getText(), "x");
    EXPECT_TRUE(html->getHTMLFragmentFlag());
    EXPECT_STREQ(html->getSubject(), "Subject");
}

} // namespace
} // namespace zel
