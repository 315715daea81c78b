#include "core/responses/account_properties_parser.h"

#include <gtest/gtest.h>

namespace zel {
namespace {

TEST(AccountPropertiesParser, LinesGoToTheTableByProfileAndOffer)
{
    RefPtr<AccountsPropertiesTable> table = adoptRef(new AccountsPropertiesTable());
    AccountPropertiessParser parser(table.get());
    CResultSetTokenizer("0\nP1;1;100;50;25\nP1;2;200;100;50\nP2;1;1;2;3\nP1;1;110;55;30\n").tokenize(&parser);
    const AccountProperties* p = table->find("P1", "1");
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(p->margin1, 110) << "a later line replaces the earlier one";
    EXPECT_EQ(p->margin2, 55);
    EXPECT_EQ(p->margin3, 30);
    EXPECT_EQ(table->find("P2", "1")->margin3, 3);
    EXPECT_EQ(table->find("P1", "9"), nullptr) << "known profile, unknown offer";
    EXPECT_EQ(table->find("P9", "1"), nullptr);
    EXPECT_EQ(table->find(nullptr, "1"), nullptr);
}

} // namespace
} // namespace zel
