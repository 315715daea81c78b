#include "core/rules/trading_settings_provider.h"

#include <gtest/gtest.h>

#include "core/rules/rules_test_support.h"

namespace zel {
namespace {

using namespace zel::testing;

const std::vector<InstrumentSpec> kInstruments = {
    {"1", "EUR/USD", 1, 1000, 1500, 5000000, "O", ""},
    {"2", "XAU/USD", 2, 0, 0, 100, "C", ""},
    {"3", "M1000", 2, 1000, 1000, 0, "O", ""},
    {"4", "M400", 2, 1000, 400, 0, "O", ""},
    {"5", "M2600", 2, 1000, 2600, 0, "", ""},
};

RefPtr<TradingSettingsProvider> provider(RulesWorld& w, int kind = 20)
{
    RefPtr<TradingSettingsProvider> p = adoptRef(new TradingSettingsProvider(w.properties.get(), w.tables.get(), kind));
    p->init();
    return p;
}

TEST(TradingSettings, InstrumentLimits)
{
    RulesWorld w({{"BASE_UNIT_SIZE", "2000"}}, kInstruments);
    auto p = provider(w);
    EXPECT_EQ(p->getCondDistStopForTrade("EUR/USD"), 5) << "truncated";
    EXPECT_EQ(p->getCondDistLimitForTrade("EUR/USD"), 6);
    EXPECT_EQ(p->getCondDistEntryStop("EUR/USD"), 7);
    EXPECT_EQ(p->getCondDistStopForEntryOrder("EUR/USD"), 7);
    EXPECT_EQ(p->getCondDistEntryLimit("EUR/USD"), 8);
    EXPECT_EQ(p->getCondDistLimitForEntryOrder("EUR/USD"), 8);
    EXPECT_EQ(p->getCondDistStopForTrade("NOPE"), 0);
    EXPECT_EQ(p->getCondDistEntryLimit(nullptr), 0);

    RefPtr<FakeAccount> account = adoptRef(new FakeAccount());
    account->baseUnitSize = 10000;
    EXPECT_EQ(p->getBaseUnitSize("EUR/USD", account.get()), 10000) << "the account's larger unit";
    account->baseUnitSize = 0;
    EXPECT_EQ(p->getBaseUnitSize("EUR/USD", account.get()), 2000) << "the property when the account has none";
    EXPECT_EQ(p->getBaseUnitSize("EUR/USD", nullptr), 0) << "FX needs an account";
    EXPECT_EQ(p->getBaseUnitSize("XAU/USD", nullptr), 1) << "no unit is 1";
    EXPECT_EQ(p->getBaseUnitSize("NOPE", account.get()), 0);

    struct Case {
        const char* symbol;
        int min;
    } cases[] = {{"M1000", 1000}, {"M400", 1000}, {"M2600", 3000}, {"XAU/USD", 1}};
    for (const Case& c : cases)
        EXPECT_EQ(p->getMinQuantity(c.symbol, nullptr), c.min) << c.symbol;
    account->baseUnitSize = 1000;
    EXPECT_EQ(p->getMinQuantity("EUR/USD", account.get()), 2000) << "1500 rounds to whole units";
    EXPECT_EQ(p->getMinQuantity("EUR/USD", nullptr), 1500) << "no unit: no division, the instrument's own";
    EXPECT_EQ(p->getMinQuantity("NOPE", account.get()), 0);

    EXPECT_EQ(p->getMaxQuantity("EUR/USD", nullptr), 0);
    EXPECT_EQ(p->getMaxQuantity("EUR/USD", account.get()), 5000000);
    account->amountLimit = 300000;
    EXPECT_EQ(p->getMaxQuantity("EUR/USD", account.get()), 300000);
    EXPECT_EQ(p->getMaxQuantity("XAU/USD", nullptr), 100);

    EXPECT_EQ(p->getMarketStatus("EUR/USD"), ZelMarketStatus::Open);
    EXPECT_EQ(p->getMarketStatus("XAU/USD"), ZelMarketStatus::Closed);
    EXPECT_EQ(p->getMarketStatus("M2600"), ZelMarketStatus::Closed) << "no status is closed";
    EXPECT_EQ(p->getMarketStatus("NOPE"), ZelMarketStatus::Closed);
}

TEST(TradingSettings, PropertiesReadAtInit)
{
    struct Case {
        std::vector<std::pair<std::string, std::string>> props;
        int min, max, mode;
        bool three;
    } cases[] = {
        {{}, 30, 500, 0, false},
        {{{"TRAILING_FLUCTUATE_PTS_MIN", "10x"}, {"TRAILING_FLUCTUATE_PTS_MAX", "250"}}, 30, 250, 0, false},
        {{{"SHOW_MR", "mmr"}, {"THREE_LEVEL_MARGIN", "YES"}}, 30, 500, 2, false},
        {{{"SHOW_MR", "EMR"}, {"THREE_LEVEL_MARGIN", "Y"}}, 30, 500, 1, true},
        {{{"SHOW_MR", "lmr"}}, 30, 500, 3, false},
        {{{"SHOW_MR", "All"}}, 30, 500, 4, false},
        {{{"SHOW_MR", "other"}}, 30, 500, 0, false},
    };
    for (const Case& c : cases) {
        RulesWorld w(c.props, kInstruments);
        auto p = provider(w);
        for (int v : {p->getMinTrailingStepForStop(), p->getMinTrailingStepForLimit(),
                      p->getMinTrailingStepForEntryStop(), p->getMinTrailingStepForEntryLimit()})
            EXPECT_EQ(v, c.min);
        for (int v : {p->getMaxTrailingStepForStop(), p->getMaxTrailingStepForLimit(),
                      p->getMaxTrailingStepForEntryStop(), p->getMaxTrailingStepForEntryLimit()})
            EXPECT_EQ(v, c.max);
        EXPECT_EQ(p->marginDisplayMode(), c.mode);
        EXPECT_EQ(p->threeLevelMargin(), c.three);
    }
}

TEST(TradingSettings, Margins)
{
    RefPtr<FakeAccount> account = adoptRef(new FakeAccount());
    account->baseUnitSize = 10000;
    double a = -1, b = -1, c = -1;
    {
        RulesWorld w({}, kInstruments);
        w.margins("P1", "1", 0.02, 0.03, 0.04);
        auto p = provider(w);
        EXPECT_DOUBLE_EQ(p->getMMR("EUR/USD", account.get()), 200) << "value 1 times the account's unit";
        EXPECT_FALSE(p->getMargins("EUR/USD", account.get(), a, b, c)) << "filled, but not three-level";
        EXPECT_DOUBLE_EQ(a, 200);
        EXPECT_DOUBLE_EQ(c, 200);
        EXPECT_EQ(p->getMMR("EUR/USD", nullptr), 0);
        account->profile = "P9";
        EXPECT_EQ(p->getMMR("EUR/USD", account.get()), 0) << "no account properties";
        EXPECT_FALSE(p->getMargins("EUR/USD", account.get(), a, b, c));
        EXPECT_EQ(a, 0);
        account->profile = "P1";
    }
    {
        RulesWorld w({{"THREE_LEVEL_MARGIN", "Y"}}, kInstruments);
        w.margins("P1", "1", 0.02, 0.03, 0.04);
        auto p = provider(w);
        EXPECT_DOUBLE_EQ(p->getMMR("EUR/USD", account.get()), 300) << "value 2";
        EXPECT_TRUE(p->getMargins("EUR/USD", account.get(), a, b, c));
        EXPECT_DOUBLE_EQ(a, 300);
        EXPECT_DOUBLE_EQ(b, 400);
        EXPECT_DOUBLE_EQ(c, 200);
        auto dealer = provider(w, 24);
        EXPECT_FALSE(dealer->getMargins("EUR/USD", account.get(), a, b, c));
        EXPECT_EQ(a + b + c, 0);
    }
}

} // namespace
} // namespace zel
