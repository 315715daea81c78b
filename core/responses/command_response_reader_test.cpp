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

} // namespace
} // namespace zel
