#include "core/rules/permission_checker.h"

#include <gtest/gtest.h>

#include "core/rules/rules_test_support.h"

namespace zel {
namespace {

using namespace zel::testing;
using Props = std::vector<std::pair<std::string, std::string>>;

const std::vector<InstrumentSpec> kInstruments = {
    {"1", "EUR/USD", 1, 1000, 0, 0, "O", "88,Y,107,N"},
    {"2", "XAU/USD", 2, 1, 0, 0, "C", "88,Y,107,Y"},
    {"3", "USD/JPY", 1, 1000, 0, 0, "O", ""},
};

RefPtr<PermissionChecker> checker(RulesWorld& w, int kind)
{
    RefPtr<PermissionChecker> p = adoptRef(new PermissionChecker(w.properties.get(), w.tables.get(), kind));
    p->init(nullptr);
    return p;
}

// Every can... operation, so that a whole row can be compared.
std::vector<int> all(PermissionChecker& p, const char* i)
{
    return {p.canCreateMarketOpenOrder(i),   p.canChangeMarketOpenOrder(i),   p.canDeleteMarketOpenOrder(i),
            p.canCreateMarketCloseOrder(i),  p.canChangeMarketCloseOrder(i),  p.canDeleteMarketCloseOrder(i),
            p.canCreateEntryOrder(i),        p.canChangeEntryOrder(i),        p.canDeleteEntryOrder(i),
            p.canCreateStopLimitOrder(i),    p.canChangeStopLimitOrder(i),    p.canDeleteStopLimitOrder(i),
            p.canRequestQuote(i),            p.canAcceptQuote(i),             p.canDeleteQuote(i),
            p.canCreateOCO(i),               p.canCreateOTO(i),               p.canJoinToNewContingencyGroup(i),
            p.canJoinToExistingContingencyGroup(i), p.canRemoveFromContingencyGroup(i),
            p.canChangeOfferSubscription(i), p.canCreateNetCloseOrder(i),     p.canChangeNetCloseOrder(i),
            p.canDeleteNetCloseOrder(i),     p.canCreateNetStopLimitOrder(i), p.canChangeNetStopLimitOrder(i),
            p.canDeleteNetStopLimitOrder(i)};
}

TEST(Permissions, EveryOperationForEveryUserKindWithTheDefaultFlags)
{
    struct Case {
        int kind;
        const char* instrument;
        std::vector<int> expected;
    } cases[] = {
        // Trader: defaults grant all but code 107; 171 and 172 count as granted when absent.
        {20, nullptr, {1, -2, 1, 1, -2, 1, 1, 1, 1, 1, 1, 1, 0, 0, 0, 1, 1, 1, 1, 1, 1, 1, -2, -2, -2, -2, -2}},
        // The instrument's own list: 107 disabled (no quotes), 88 enabled.
        {20, "EUR/USD", {1, -2, 1, 1, -2, 1, 1, 1, 1, 1, 1, 1, 0, 0, 0, 1, 1, 1, 1, 1, 1, 1, -2, -2, -2, -2, -2}},
        // A closed market disables 88 whatever the list says.
        {20, "XAU/USD", {0, -2, 1, -2, -2, -2, 1, 1, 1, 1, 1, 1, 0, 0, 0, 1, 1, 1, 1, 1, 1, 1, -2, -2, -2, -2, -2}},
        // An unknown symbol is never allowed.
        {20, "NOPE", std::vector<int>(27, 0)},
        // Customer: 86, 88 and 94 default to "N"; kind 22 has no codes of its own for
        // the single-code checks.
        {22, nullptr, {0, -2, 0, -2, -2, -2, 0, 0, 0, -2, -2, -2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, -2, -2, -2, -2, -2}},
        // Dealer and unknown kinds: disabled at the entry.
        {24, nullptr, std::vector<int>(27, -2)},
        {21, "EUR/USD", std::vector<int>(27, -2)},
    };
    for (const Case& c : cases) {
        RulesWorld w({}, kInstruments);
        auto p = checker(w, c.kind);
        EXPECT_EQ(all(*p, c.instrument), c.expected) << c.kind << " " << (c.instrument ? c.instrument : "-");
    }
}

TEST(Permissions, FlagsFromTheServer)
{
    {
        // Only 171 granted: stop/limit orders on an instrument are disabled, the net
        // stop/limit ones follow the net rule.
        RulesWorld w({{"TP_172", "N"}}, kInstruments);
        auto p = checker(w, 20);
        EXPECT_TRUE(p->isLLC());
        EXPECT_EQ(p->canCreateStopLimitOrder("EUR/USD"), -2);
        EXPECT_EQ(p->canChangeStopLimitOrder("EUR/USD"), -2);
        EXPECT_EQ(p->canCreateMarketCloseOrder("EUR/USD"), -2);
        EXPECT_EQ(p->canCreateNetStopLimitOrder("EUR/USD"), 1);
    }
    {
        RulesWorld w({{"OCO_DISABLED", "Yes"}, {"NET_QTY_ORDR_DISABLED", "Y"}}, kInstruments);
        auto p = checker(w, 20);
        for (int r : {p->canCreateOCO(nullptr), p->canCreateOTO(nullptr), p->canJoinToNewContingencyGroup(nullptr),
                      p->canJoinToExistingContingencyGroup(nullptr), p->canRemoveFromContingencyGroup(nullptr)})
            EXPECT_EQ(r, -2);
        EXPECT_EQ(p->canCreateNetCloseOrder(nullptr), 0);
    }
    {
        // A flag the server sends overrides the default; the instrument's list wins
        // over both for a trader.
        RulesWorld w({{"TP_88", "N"}, {"TP_98", "Y"}}, kInstruments);
        auto p = checker(w, 20);
        EXPECT_EQ(p->canCreateMarketOpenOrder(nullptr), 0);
        EXPECT_EQ(p->canCreateMarketOpenOrder("USD/JPY"), 0);
        EXPECT_EQ(p->canCreateMarketOpenOrder("EUR/USD"), 1);
        EXPECT_EQ(p->canRequestQuote(nullptr), 1);
        p->setSymbolSubscrEnabledFlag(false);
        EXPECT_EQ(p->canChangeOfferSubscription(nullptr), 0);
    }
    {
        // Codes 91 and 105 are only a dealer's; reports need 108, 109 or 118.
        RulesWorld w({{"TP_91", "Y"}, {"TP_108", "N"}}, kInstruments);
        auto p = checker(w, 20);
        EXPECT_FALSE(p->allowed(91));
        EXPECT_FALSE(p->isReportUrlAllowed());
        RulesWorld d({{"DP_91", "Y"}}, kInstruments);
        EXPECT_TRUE(checker(d, 24)->allowed(91));
    }
}

TEST(Permissions, TrailingKinds)
{
    struct Case {
        Props props;
        int type;
    } cases[] = {
        {{}, 0},
        {{{"TRAILING_FLUCTUATE", "y"}}, 2},
        {{{"TRAILING_DYNAMIC", "Y"}}, 1},
        {{{"TRAILING_FLUCTUATE", "Y"}, {"TRAILING_DYNAMIC", "Y"}}, 3},
        {{{"TRAILING_FLUCTUATE", "Y"}, {"TRAILING_DYMANIC", "Y"}}, 3},
        {{{"TRAILING_FLUCTUATE", "N"}, {"TRAILING_STOP_USED", "Y"}}, 0},
        {{{"TRAILING_STOP_USED", "Y"}}, 5},
        {{{"TRAILING_STOP_USED", "Y"}, {"TRAILING_STOP_DYNAMIC", "Y"}}, 4},
    };
    for (const Case& c : cases) {
        RulesWorld w(c.props, kInstruments);
        auto p = checker(w, 20);
        EXPECT_EQ(p->getTrailingStopType(), c.type);
        const int t = c.type;
        EXPECT_EQ(p->canUseDynamicTrailingForStop(), t == 1 || t == 3 || t == 4) << t;
        EXPECT_EQ(p->canUseDynamicTrailingForLimit(), t == 1 || t == 3) << t;
        EXPECT_EQ(p->canUseDynamicTrailingForEntryStop(), t == 1 || t == 3) << t;
        EXPECT_EQ(p->canUseDynamicTrailingForEntryLimit(), t == 1 || t == 3) << t;
        EXPECT_EQ(p->canUseFluctuateTrailingForStop(), t == 2 || t == 3 || t == 5) << t;
        EXPECT_EQ(p->canUseFluctuateTrailingForLimit(), t == 2 || t == 3) << t;
        EXPECT_EQ(p->canUseFluctuateTrailingForEntryStop(), t == 2 || t == 3) << t;
        EXPECT_EQ(p->canUseFluctuateTrailingForEntryLimit(), t == 2 || t == 3) << t;
    }
}

TEST(Permissions, DefaultFlagsAreAddedOnlyWhenAbsent)
{
    RulesWorld w({{"TP_107", "Y"}}, kInstruments);
    checker(w, 20);
    EXPECT_STREQ(w.properties->findProperty("TP_107"), "Y") << "present: kept";
    EXPECT_STREQ(w.properties->findProperty("TP_81"), "Y");
    RulesWorld d({}, kInstruments);
    checker(d, 24);
    EXPECT_STREQ(d.properties->findProperty("DP_102"), "Y");
    EXPECT_STREQ(d.properties->findProperty("DP_88"), "N");
    RulesWorld c({}, kInstruments);
    checker(c, 22);
    EXPECT_STREQ(c.properties->findProperty("CP_108"), "Y");
    EXPECT_STREQ(c.properties->findProperty("CP_107"), "N");
    EXPECT_STREQ(c.properties->findProperty("CP_102"), "N");
}

} // namespace
} // namespace zel
