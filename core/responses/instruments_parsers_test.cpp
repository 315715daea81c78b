#include "core/responses/instruments_parsers.h"

#include <gtest/gtest.h>

#include <map>
#include <string>

namespace zel {
namespace {

// An instruments line with the given fields (others empty), 41 fields long.
std::string line(std::map<int, std::string> values, const std::string& prefix = "")
{
    std::string out = prefix;
    for (int f = 0; f <= 40; ++f)
        out += (f || !prefix.empty() ? ";" : "") + (values.count(f) ? values[f] : std::string());
    return out;
}

TEST(InstrumentsParser, EveryMappedFieldOfTheAnswer)
{
    RefPtr<InstrumentsTable> table = adoptRef(new InstrumentsTable());
    InstrumentsParser parser(table.get());
    const std::string text = "0\n" + line({{0, "1"},   {4, "4.5"},   {5, "5.5"},  {9, "EUR/USD"}, {10, "EUR"},
                                           {12, "5"},  {13, "0.0001"}, {15, "0.1"}, {16, "0.2"},   {18, "T"},
                                           {21, "1"},  {23, "PS"},   {25, "1000"}, {26, "88,Y"},  {27, "1.5"},
                                           {28, "2.5"}, {29, "3.5"}, {30, "4.25"}, {31, "50"},    {32, "1"},
                                           {33, "O"},  {36, "1000"}, {38, "x"},   {40, "20260105"}});
    CResultSetTokenizer(text.c_str()).tokenize(&parser);
    std::shared_ptr<const Instrument> i = table->find("1");
    ASSERT_TRUE(i);
    EXPECT_EQ(i->buyInterest, 4.5);
    EXPECT_EQ(i->sellInterest, 5.5);
    EXPECT_EQ(i->symbol, "EUR/USD");
    EXPECT_EQ(i->contractCurrency, "EUR");
    EXPECT_EQ(i->precision, 5);
    EXPECT_EQ(i->pointSize, 0.0001);
    EXPECT_EQ(i->sellAdj, 0.1);
    EXPECT_EQ(i->buyAdj, 0.2);
    EXPECT_EQ(i->subscriptionStatus, "T");
    EXPECT_EQ(i->instrumentType, 1);
    EXPECT_EQ(i->priceStream, "PS");
    EXPECT_EQ(i->contractMultiplier, 1000);
    EXPECT_EQ(i->permissions, "88,Y");
    EXPECT_EQ(i->condDistStopForTrade, 1.5);
    EXPECT_EQ(i->condDistLimitForTrade, 2.5);
    EXPECT_EQ(i->condDistEntryStop, 3.5);
    EXPECT_EQ(i->condDistEntryLimit, 4.25);
    EXPECT_EQ(i->maxQuantity, 50);
    EXPECT_EQ(i->minQuantity, 1);
    EXPECT_EQ(i->tradingStatus, "O");
    EXPECT_EQ(i->baseUnitSize, 1000);
    EXPECT_EQ(i->field38, "x");
    EXPECT_EQ(i->valueDate, "20260105");
}

TEST(UpdateInstrumentsParserSpecial, UpdatesOnlyKnownInstrumentsOfTheSameStream)
{
    RefPtr<InstrumentsTable> table = adoptRef(new InstrumentsTable());
    UpdateInstrumentsParserSpecial parser(table.get(), nullptr);
    auto tokenize = [&](const std::string& body) { CResultSetTokenizer(("0;01052026103005\n" + body).c_str()).tokenize(&parser); };

    tokenize(line({{0, "7"}, {9, "NEW"}, {23, "PS"}}, "INSTRMT;U") + "\n");
    EXPECT_EQ(table->find("7"), nullptr) << "an update of an unknown instrument changes nothing";
    tokenize(line({{0, "7"}, {9, "NEW"}, {23, "PS"}, {12, "5"}}, "INSTRMT;I") + "\n");
    ASSERT_TRUE(table->find("7")) << "an insert adds it";

    tokenize(line({{0, "7"}, {9, "!="}, {12, "3"}, {23, "!="}}, "INSTRMT;U") + "\nORDER;I;O1\n");
    EXPECT_EQ(table->find("7")->precision, 3);
    EXPECT_EQ(table->find("7")->symbol, "NEW") << "a nothing marker keeps the stored field";
    tokenize(line({{0, "7"}, {12, "9"}, {23, "OTHER"}}, "INSTRMT;U") + "\n");
    EXPECT_EQ(table->find("7")->precision, 3) << "another price stream: ignored";
    tokenize(line({{0, "!="}, {12, "9"}}, "INSTRMT;I") + "\n");
    EXPECT_EQ(table->size(), 1u) << "no identifier, no instrument";
}

TEST(InstrumentsSAXParser, PairElementsWithExactAttributeNames)
{
    RefPtr<InstrumentsTable> table = adoptRef(new InstrumentsTable());
    InstrumentsSAXParser handler(table.get());
    const std::string xml =
        "<Instruments><PAIR QORASymId=\"1\" Symbol=\"EUR/USD\" ContractCurrency=\"EUR\" Precision=\"5\" "
        "PointSize=\"0.0001\" SellAdj=\"0.1\" BuyAdj=\"0.2\" InstrumentType=\"1\" symbol=\"ignored\"/>"
        "<Pair QORASymId=\"2\" symbol=\"lower case\"/><Other QORASymId=\"3\"/></Instruments>";
    EXPECT_TRUE(XmlParser::Parse(xml.c_str(), xml.size(), &handler));
    std::shared_ptr<const Instrument> eur = table->find("1");
    ASSERT_TRUE(eur);
    EXPECT_EQ(eur->symbol, "EUR/USD");
    EXPECT_EQ(eur->precision, 5);
    EXPECT_EQ(eur->buyAdj, 0.2);
    EXPECT_EQ(eur->instrumentType, 1);
    ASSERT_TRUE(table->find("2"));
    EXPECT_EQ(table->find("2")->symbol, "") << "attribute names are exact";
    EXPECT_EQ(table->find("3"), nullptr);
}

} // namespace
} // namespace zel
