#include "core/rules/permission_set.h"

#include <gtest/gtest.h>

#include <map>

namespace zel {
namespace {

TEST(PermissionSet, ReadsTheListAndStopsAtTheFirstBadPair)
{
    struct Case {
        const char* text;
        bool ok;
        std::map<int, int> stored;  // code -> status
    } cases[] = {
        {"", true, {}},
        {nullptr, true, {}},
        {"88,Y,107,N", true, {{88, 1}, {107, 2}}},
        {"88,Y,", true, {{88, 1}}},
        {"88,Y,0,Y,5,Y", false, {{88, 1}}},
        {"88,Y,x,N", false, {{88, 1}}},
        {"88,Y,107", false, {{88, 1}}},
        {"88,y", false, {}},
        {"88,YES", false, {}},
        {"-3,N", true, {{-3, 2}}},
    };
    for (const Case& c : cases) {
        PermissionSet s;
        EXPECT_EQ(s.readPermissions(c.text), c.ok) << (c.text ? c.text : "(null)");
        for (int code : {88, 107, 5, -3}) {
            auto it = c.stored.find(code);
            EXPECT_EQ(s.getPermissionStatus(code), it == c.stored.end() ? 0 : it->second)
                << (c.text ? c.text : "(null)") << " code " << code;
        }
    }
}

TEST(PermissionSet, ClosedMarketDisablesTrading)
{
    PermissionSet s;
    ASSERT_TRUE(s.readPermissions("88,Y,107,Y,12,Y"));
    s.setTradingStatus(ZelMarketStatus::Closed);
    EXPECT_EQ(s.getPermissionStatus(88), IPermissionSet::Disabled);
    EXPECT_EQ(s.getPermissionStatus(107), IPermissionSet::Disabled);
    EXPECT_EQ(s.getPermissionStatus(12), IPermissionSet::Enabled);
    s.setTradingStatus(ZelMarketStatus::Open);
    EXPECT_EQ(s.getPermissionStatus(88), IPermissionSet::Enabled);
}

} // namespace
} // namespace zel
