#include "core/responses/command_response_reader.h"

#include <gtest/gtest.h>

#include "core/base/ref_ptr.h"

namespace zel {
namespace {

TEST(CommandResponseReader, Answers)
{
    struct Case {
        const char* text;
        bool ok;
        const char* error;
    } cases[] = {
        {"0", true, ""},
        {"0;\n", true, ""},
        {"0;ignored;x\n1;2", true, ""},
        {"", false, ""},
        {";x", false, ""},                         // no code
        {"05;Rate moved.\n", false, "Rate moved."},  // passes the leading-0 check, still a failure
        {"05", false, ""},
    };
    for (const Case& c : cases) {
        RefPtr<CommandResponseReader> r = adoptRef(new CommandResponseReader());
        CommandResponseProcessor p(r.get());
        CResultSetTokenizer(c.text).tokenize(&p);
        EXPECT_EQ(r->isSuccessful(), c.ok) << c.text;
        EXPECT_STREQ(r->getErrorDescription(), c.error) << c.text;
    }
}

TEST(OrderResponseReader, Answers)
{
    struct Case {
        const char* text;
        bool ok;
        const char* order;
        bool dealer;
        const char* error;
    } cases[] = {
        {"0\n4711;Y", true, "4711", true, ""},
        {"0\n4711;y\n", true, "4711", false, ""},
        {"0\n4711", true, "4711", false, ""},
        {"0", false, "", false, ""},  // no order line
        {"", false, "", false, ""},
        {"07;Not enough margin.\n4711;N", false, "", false, "Not enough margin."},
    };
    for (const Case& c : cases) {
        RefPtr<OrderResponseReader> r = adoptRef(new OrderResponseReader());
        OrderResponseProcessor p(r.get());
        CResultSetTokenizer(c.text).tokenize(&p);
        EXPECT_EQ(r->isSuccessful(), c.ok) << c.text;
        EXPECT_STREQ(r->getOrderID(), c.order) << c.text;
        EXPECT_EQ(r->isUnderDealerIntervention(), c.dealer) << c.text;
        EXPECT_STREQ(r->getErrorDescription(), c.error) << c.text;
    }
}

TEST(LastOrderUpdateResponseReader, KindAndTheLastOrderLine)
{
    struct Case {
        const char* text;
        ZelTableUpdateType type;
        const char* orderID;  // null: no order
    } cases[] = {
        {"0\nx;u;O1;;R1", ZelTableUpdateType::Update, "O1"},
        {"0\nx;I;O1\nx;D;O2\n", ZelTableUpdateType::Delete, "O2"},
        {"0\nx;X;O3", ZelTableUpdateType::Unknown, "O3"},
        {"0", ZelTableUpdateType::Unknown, nullptr},
        {"", ZelTableUpdateType::Unknown, nullptr},
    };
    for (const Case& c : cases) {
        RefPtr<LastOrderUpdateResponseReader> r = adoptRef(new LastOrderUpdateResponseReader());
        LastOrderUpdatesParser p(r.get());
        CResultSetTokenizer(c.text).tokenize(&p);
        EXPECT_EQ(r->getUpdateType(), c.type) << c.text;
        RefPtr<IZelOrderRow> order = adoptRef(r->getOrder());
        if (!c.orderID) {
            EXPECT_FALSE(order) << c.text;
            continue;
        }
        ASSERT_TRUE(order) << c.text;
        EXPECT_STREQ(order->getOrderID(), c.orderID);
    }
    RefPtr<LastOrderUpdateResponseReader> r = adoptRef(new LastOrderUpdateResponseReader());
    LastOrderUpdatesParser p(r.get());
    CResultSetTokenizer("0\nx;U;O1;;R9").tokenize(&p);
    RefPtr<IZelOrderRow> order = adoptRef(r->getOrder());
    EXPECT_STREQ(order->getRequestID(), "R9") << "orders field n stands at n + 2";
}

} // namespace
} // namespace zel
