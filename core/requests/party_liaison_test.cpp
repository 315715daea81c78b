#include "core/requests/party_liaison.h"

#include <gtest/gtest.h>

namespace zel {
namespace {

TEST(PartiesText, Validity)
{
    struct Case {
        const char* text;
        bool valid;
    } cases[] = {
        {"[PELLORA,C,13,zel2,4]", true},
        {"[a,b,c]", true},
        {"[a,b,c][d,e,f,g]", true},
        {"[a,b]", false},           // fewer than three fields
        {"[a,,c]", false},          // an empty field
        {"[PELLORA,C,13,,4]", false},
        {"[a,b,c", false},          // not closed
        {"a,b,c]", false},          // not opened
        {"[a,b,c]x", false},        // text after a group
        {"[a,[b],c]", false},       // a bracket inside a field
        {"[a,b,c],[d,e,f]", false}, // groups are written back to back
        {"", false},
        {nullptr, false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(isValidPartiesText(c.text), c.valid) << (c.text ? c.text : "(null)");
}

TEST(PartyLiaison, MakesTheOperatorsPartiesAndAppendsOnlyValidExtras)
{
    PartyLiaison liaison;
    liaison.setOrigination("zel2");
    EXPECT_EQ(liaison.makeParties("[X,Y,Z]"), "[PELLORA,C,13,zel2,4][X,Y,Z]");
    EXPECT_EQ(liaison.getOrigination(), "") << "the origination is used once";

    liaison.setOrigination("zel2");
    EXPECT_EQ(liaison.makeParties("[X,Y]"), "[PELLORA,C,13,zel2,4]");
    liaison.setOrigination("zel2");
    EXPECT_EQ(liaison.makeParties(nullptr), "[PELLORA,C,13,zel2,4]");
    // Without an origination the text has an empty field, so it is never sent.
    EXPECT_FALSE(isValidPartiesText(liaison.makeParties(nullptr).c_str()));
}

} // namespace
} // namespace zel
