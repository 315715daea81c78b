#include "output.h"

#include <sstream>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

namespace pellora::cli {
namespace {

Table sample() {
    Table t({"symbol", "bid", "note"});
    t.addRow({Table::text("EUR/USD"), Table::number(1.10523, 5), Table::text("a \"quoted\", text")});
    t.addRow({Table::text("USD/JPY"), Table::number(150.1, 3), Table::text("")});
    return t;
}

TEST(OutputTest, TableAlignsTextLeftAndNumbersRight) {
    std::ostringstream out;
    sample().print(out, OutputFormat::Table);
    EXPECT_EQ(out.str(),
              "symbol       bid  note\n"
              "EUR/USD  1.10523  a \"quoted\", text\n"
              "USD/JPY  150.100\n");
}

TEST(OutputTest, JsonIsOneObjectPerRowWithNumbersAsNumbers) {
    std::ostringstream out;
    sample().print(out, OutputFormat::Json);
    std::istringstream in(out.str());
    std::string line;
    std::vector<nlohmann::json> rows;
    while (std::getline(in, line)) rows.push_back(nlohmann::json::parse(line));
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0]["symbol"], "EUR/USD");
    EXPECT_DOUBLE_EQ(rows[0]["bid"].get<double>(), 1.10523);
    EXPECT_EQ(rows[0]["note"], "a \"quoted\", text");
    EXPECT_TRUE(rows[1]["bid"].is_number());
}

TEST(OutputTest, CsvQuotesWhatNeedsIt) {
    std::ostringstream out;
    sample().print(out, OutputFormat::Csv);
    EXPECT_EQ(out.str(), "symbol,bid,note\nEUR/USD,1.10523,\"a \"\"quoted\"\", text\"\nUSD/JPY,150.100,\n");
}

TEST(OutputTest, BadBytesFromTheServerNeverThrow) {
    Table t({"text"});
    t.addRow({Table::text(std::string("\xff\xfe bad", 6))});
    std::ostringstream out;
    EXPECT_NO_THROW(t.print(out, OutputFormat::Json));
    EXPECT_TRUE(nlohmann::json::parse(out.str()).is_object());
}

}  // namespace
}  // namespace pellora::cli
