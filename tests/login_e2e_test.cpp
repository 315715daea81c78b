// Logging in to the in-process dealer through the public API only: every demo
// connection reaches Connected with the trade desk loaded, the login rules,
// permissions and trading settings answer from what the dealer sent, and requests
// go out and come back.

#include "tests/login_e2e_support.h"

namespace login_e2e {
namespace {

class Login : public DealerFixture {};

TEST_F(Login, DemoReachesConnectedWithTheLoginsAnswers)
{
    ASSERT_TRUE(loginAndWait("demo", "demo", "Demo")) << ::testing::PrintToString(status->failures());
    EXPECT_EQ(status->statuses(), (std::vector<int>{S::Connecting, S::Connected}));

    Held<IZelLoginRules> rules(session->getLoginRules());
    ASSERT_TRUE(rules);
    EXPECT_TRUE(rules->isTableLoadedByDefault(ZelTable::Offers));
    EXPECT_TRUE(rules->isTableLoadedByDefault(ZelTable::Accounts));
    EXPECT_FALSE(rules->isTableLoadedByDefault(ZelTable::Orders));
    EXPECT_EQ(rules->getTableRefeshResponse(ZelTable::Orders), nullptr);
    Held<IZelResponse> properties(rules->getSystemPropertiesResponse());
    ASSERT_TRUE(properties);
    EXPECT_EQ(properties->getType(), ZelResponseType::SystemProperties);

    Held<IZelResponseReaderFactory> readers(session->getResponseReaderFactory());
    ASSERT_TRUE(readers);
    Held<IZelSystemPropertiesReader> props(readers->createSystemPropertiesReader(properties.get()));
    ASSERT_TRUE(props);
    EXPECT_STREQ(props->findProperty("BASE_CRNCY"), "USD");
    Held<IZelResponse> accountsAnswer(rules->getTableRefeshResponse(ZelTable::Accounts));
    Held<IZelAccountsTableResponseReader> accounts(readers->createAccountsTableReader(accountsAnswer.get()));
    ASSERT_TRUE(accounts);
    EXPECT_EQ(accounts->size(), 2);

    Held<IZelTradingSettingsProvider> settings(rules->getTradingSettingsProvider());
    ASSERT_TRUE(settings);
    EXPECT_EQ(settings->getMinTrailingStepForStop(), 10);
    EXPECT_EQ(settings->getMaxTrailingStepForEntryLimit(), 300);
    EXPECT_EQ(settings->getMarketStatus("EUR/USD"), ZelMarketStatus::Open);
    EXPECT_EQ(settings->getMarketStatus("NOT/THERE"), ZelMarketStatus::Closed);
    Held<IZelAccountRow> account(accounts->getRow(0));
    EXPECT_EQ(settings->getBaseUnitSize("EUR/USD", account.get()), 1000);
    EXPECT_GT(settings->getMMR("EUR/USD", account.get()), 0.0);

    Held<IZelPermissionChecker> permissions(rules->getPermissionChecker());
    ASSERT_TRUE(permissions);
    EXPECT_EQ(permissions->canCreateMarketOpenOrder("EUR/USD"), 1);
    EXPECT_EQ(permissions->canCreateMarketOpenOrder("NOT/THERE"), 0);
    EXPECT_EQ(permissions->canChangeMarketOpenOrder("EUR/USD"), -2);
    EXPECT_EQ(permissions->canRequestQuote(nullptr), 0);
    EXPECT_TRUE(permissions->canUseDynamicTrailingForEntryStop());
    EXPECT_TRUE(permissions->canUseFluctuateTrailingForStop());

    // Requests go out and their answers come back.
    Held<IZelRequestFactory> factory(session->getRequestFactory());
    ASSERT_TRUE(factory);
    const std::string id = send(factory->createRefreshTableRequest(ZelTable::Trades));
    ASSERT_FALSE(id.empty());
    Held<IZelResponse> trades(responses->waitCompleted(id));
    ASSERT_TRUE(trades) << responses->waitFailed(id);
    EXPECT_EQ(trades->getType(), ZelResponseType::TradesTable);

    // The server zone comes from the properties ("SERVER_TIME_UTC" = "UTC").
    Held<IZelTimeConverter> converter(session->getTimeConverter());
    EXPECT_DOUBLE_EQ(converter->convert(46000.5, IZelTimeConverter::UTC, IZelTimeConverter::Server), 46000.5);

    // The statement's address continues the dealer's, which already holds a query.
    char address[1024];
    ASSERT_GT(session->getReportURL(address, sizeof address, account.get(), 0, 0, nullptr, nullptr, nullptr, 0), 0);
    EXPECT_EQ(std::string(address).rfind("https://localhost/reports?source=pellora&kind=statement&S=", 0), 0u)
        << address;
    EXPECT_NE(std::string(address).find("&cn=DemoSession&"), std::string::npos) << address;
    EXPECT_NE(std::string(address).find("&account=01001&"), std::string::npos) << address;

    session->logout();
    EXPECT_EQ(status->statuses(), (std::vector<int>{S::Connecting, S::Connected, S::Disconnecting, S::Disconnected}));
    EXPECT_EQ(session->getLoginRules(), nullptr);
    EXPECT_EQ(session->getRequestFactory(), nullptr);
}

TEST_F(Login, DemoAsyncSendsTheInitialCommandsAndWaits)
{
    ASSERT_TRUE(loginAndWait("demo", "demo", "DemoAsync")) << ::testing::PrintToString(status->failures());
    EXPECT_EQ(status->statuses(), (std::vector<int>{S::Connecting, S::Connected}));
    Held<IZelLoginRules> rules(session->getLoginRules());
    ASSERT_TRUE(rules);
    EXPECT_FALSE(rules->isTableLoadedByDefault(ZelTable::Offers));
    EXPECT_FALSE(rules->isTableLoadedByDefault(ZelTable::Accounts));
    Held<IZelResponse> properties(rules->getSystemPropertiesResponse());
    EXPECT_TRUE(properties);
    Held<IZelPermissionChecker> permissions(rules->getPermissionChecker());
    ASSERT_TRUE(permissions);
    EXPECT_EQ(permissions->canCreateEntryOrder("USD/JPY"), 1);
    Held<IZelTradingSettingsProvider> settings(rules->getTradingSettingsProvider());
    ASSERT_TRUE(settings);
    EXPECT_EQ(settings->getMinTrailingStepForLimit(), 10);

    Held<IZelRequestFactory> factory(session->getRequestFactory());
    ASSERT_TRUE(factory);
    const std::string id = send(factory->createRefreshTableRequest(ZelTable::Accounts));
    Held<IZelResponse> answer(responses->waitCompleted(id));
    EXPECT_TRUE(answer) << responses->waitFailed(id);
}

TEST_F(Login, DemoMultiAsksForTheTradingSessionAndItsPin)
{
    newSession();
    status->onStatus = [this](int s) {
        if (s == S::TradingSessionRequested)
            session->setTradingSession("Secure", "1234");
    };
    ASSERT_TRUE(loginAndWait("demo", "demo", "DemoMulti")) << ::testing::PrintToString(status->failures());
    EXPECT_EQ(status->statuses(), (std::vector<int>{S::Connecting, S::TradingSessionRequested, S::Connected}));
}

TEST_F(Login, DemoMultiWithAWrongPinFailsWithTheServersText)
{
    newSession();
    status->onStatus = [this](int s) {
        if (s == S::TradingSessionRequested)
            session->setTradingSession("Secure", "9999");
    };
    ASSERT_NE(session->login("demo", "demo", url.c_str(), "DemoMulti"), 0);
    ASSERT_TRUE(status->waitFor(S::Disconnected));
    ASSERT_EQ(status->failures().size(), 1u);
    EXPECT_FALSE(status->failures()[0].empty());
    EXPECT_EQ(status->statuses(), (std::vector<int>{S::Connecting, S::TradingSessionRequested, S::Disconnected}));
}

TEST_F(Login, DemoPriceOpensThePriceSessionBeforeConnected)
{
    ASSERT_TRUE(loginAndWait("demo", "demo", "DemoPrice")) << ::testing::PrintToString(status->failures());
    EXPECT_EQ(status->statuses(), (std::vector<int>{S::Connecting, S::Connected}));
    // Prices reach the session on the price connection.
    ASSERT_TRUE(dealer->setPrice("1", 1.2345).isOk());
    EXPECT_TRUE(responses->waitUpdates(1));
}

TEST_F(Login, FailuresGiveOneTextAndDisconnected)
{
    struct Case {
        const char* user;
        const char* password;
        const char* connection;
        const char* text;  // a part of the text
    };
    const Case cases[] = {
        {"demo", "wrong", "Demo", ""},
        {"demo", "demo", "NoSuchConnection", "Unknown connection 'NoSuchConnection'."},
    };
    for (const Case& c : cases) {
        newSession();
        ASSERT_NE(session->login(c.user, c.password, url.c_str(), c.connection), 0);
        ASSERT_TRUE(status->waitFor(S::Disconnected)) << c.connection;
        ASSERT_EQ(status->failures().size(), 1u) << c.connection;
        EXPECT_FALSE(status->failures()[0].empty());
        EXPECT_NE(status->failures()[0].find(c.text), std::string::npos) << status->failures()[0];
        EXPECT_EQ(status->statuses().back(), S::Disconnected);
        EXPECT_EQ(session->getLoginRules(), nullptr);
    }
}

TEST_F(Login, UserKindsGetTheirOwnPermissions)
{
    struct Case {
        const char* user;
        int marketOpen;
        int entry;
    };
    // demo22 (customer) has its own flags; demo24 (dealer) sees every command disabled.
    const Case cases[] = {{"demo", 1, 1}, {"demo22", 1, 1}, {"demo24", -2, -2}};
    for (const Case& c : cases) {
        newSession();
        ASSERT_TRUE(loginAndWait(c.user, c.user, "Demo")) << c.user << ::testing::PrintToString(status->failures());
        Held<IZelLoginRules> rules(session->getLoginRules());
        ASSERT_TRUE(rules);
        Held<IZelPermissionChecker> p(rules->getPermissionChecker());
        EXPECT_EQ(p->canCreateMarketOpenOrder("EUR/USD"), c.marketOpen) << c.user;
        EXPECT_EQ(p->canCreateEntryOrder(""), c.entry) << c.user;
        session->logout();
    }
}

} // namespace
} // namespace login_e2e

namespace login_e2e {
namespace {

TEST_F(Login, WithTheTableManagerTheLoginsTablesHoldTheDealersRows)
{
    for (const char* connection : {"Demo", "DemoAsync"}) {
        newSession();
        session->useTableManager(ZelTableManagerMode::TableManagerOnly);
        ASSERT_TRUE(loginAndWait("demo", "demo", connection)) << ::testing::PrintToString(status->failures());
        Held<IZelLoginRules> rules(session->getLoginRules());
        ASSERT_TRUE(rules);
        const bool direct = std::string(connection) == "Demo";
        EXPECT_EQ(rules->isTableLoadedByDefault(ZelTable::Offers), direct) << connection;
        EXPECT_EQ(rules->isTableLoadedByDefault(ZelTable::Accounts), direct) << connection;
        Held<IZelTableManager> manager(session->getTableManager());
        ASSERT_TRUE(manager) << connection;
        if (direct) {
            Held<IZelTable> offers(manager->getTable(ZelTable::Offers));
            Held<IZelTable> accounts(manager->getTable(ZelTable::Accounts));
            ASSERT_TRUE(offers);
            ASSERT_TRUE(accounts);
            EXPECT_EQ(offers->size(), 14) << "the demo world's instruments";
            EXPECT_EQ(accounts->size(), 2) << "demo's two accounts";
        }
        session->logout();
        EXPECT_EQ(session->getTableManager(), nullptr) << "no trade desk, no table manager";
    }
}

} // namespace
} // namespace login_e2e

namespace login_e2e {
namespace {

TEST_F(Login, DemoRTMPLoadsPropertiesAndInstrumentsOverXml)
{
    for (ZelTableManagerMode mode : {ZelTableManagerMode::NoTableManager, ZelTableManagerMode::TableManagerOnly}) {
        newSession();
        session->useTableManager(mode);
        ASSERT_TRUE(loginAndWait("demo", "demo", "DemoRTMP")) << ::testing::PrintToString(status->failures());
        EXPECT_EQ(status->statuses(), (std::vector<int>{S::Connecting, S::Connected}));
        Held<IZelLoginRules> rules(session->getLoginRules());
        ASSERT_TRUE(rules);
        Held<IZelPermissionChecker> permissions(rules->getPermissionChecker());
        ASSERT_TRUE(permissions);
        // The instruments arrived (a CFD's unit is known). The RTMP instrument list
        // carries no trading status, so its markets read as closed: RTMP trades nothing.
        Held<IZelTradingSettingsProvider> settings(rules->getTradingSettingsProvider());
        EXPECT_EQ(settings->getBaseUnitSize("SPX500", nullptr), 1);
        EXPECT_EQ(settings->getBaseUnitSize("NOT/THERE", nullptr), 0);
        EXPECT_EQ(settings->getMarketStatus("EUR/USD"), ZelMarketStatus::Closed);
        EXPECT_EQ(permissions->canCreateMarketOpenOrder("EUR/USD"), 0);
        EXPECT_EQ(permissions->canChangeOfferSubscription(nullptr), 1) << "RTMP_SYMBOL_SUBSCR_ENABLED is Y";
        // A property value holding "&" survives the XML.
        char address[1024];
        ASSERT_GT(session->getReportURL(address, sizeof address, nullptr, 0, 0, nullptr, nullptr, nullptr, 0), 0);
        EXPECT_EQ(std::string(address).rfind("https://localhost/reports?source=pellora&kind=statement&S=", 0), 0u)
            << address;
        // The offers come as one XML answer.
        Held<IZelRequestFactory> factory(session->getRequestFactory());
        ASSERT_TRUE(factory);
        const std::string id = send(factory->createRefreshTableRequest(ZelTable::Offers));
        Held<IZelResponse> offers(responses->waitCompleted(id));
        ASSERT_TRUE(offers) << responses->waitFailed(id);
        Held<IZelResponseReaderFactory> readers(session->getResponseReaderFactory());
        Held<IZelOffersTableResponseReader> reader(readers->createOffersTableReader(offers.get()));
        ASSERT_TRUE(reader);
        EXPECT_EQ(reader->size(), 14);
        session->logout();
    }
}

} // namespace
} // namespace login_e2e

namespace login_e2e {
namespace {

// A UTC date serial of the dealer's clock.
double serialOf(int64_t unixMs)
{
    return static_cast<double>(unixMs) / 86400000.0 + 25569.0;
}

TEST_F(Login, DemoRTMPGetsLevel2PricesWithTheirTimesAndRejectsOrdersAndHistory)
{
    newSession();
    responses->keepUpdates = true;
    ASSERT_TRUE(loginAndWait("demo", "demo", "DemoRTMP")) << ::testing::PrintToString(status->failures());
    Held<IZelResponseReaderFactory> readers(session->getResponseReaderFactory());
    ASSERT_TRUE(readers);

    // A price set at the dealer arrives as a level-2 snapshot, stamped with its clock.
    ASSERT_TRUE(dealer->stepClock(61000).isOk());
    const double now = serialOf(dealer->now());
    ASSERT_TRUE(dealer->setPrice("1", 1.2345).isOk());
    bool seen = false;
    for (int tries = 0; !seen && tries < 50; ++tries) {
        ASSERT_TRUE(responses->waitUpdates(tries + 1));
        for (IZelResponse* update : responses->updates()) {
            Held<IZelResponse> held(update);
            Held<IZelOffersTableResponseReader> offers(readers->createOffersTableReader(update));
            for (int i = 0; offers && i < offers->size(); ++i) {
                Held<IZelOfferRow> row(offers->getRow(i));
                if (!row || std::string(row->getOfferID()) != "1" || row->getBid() != 1.2345)
                    continue;
                seen = true;
                EXPECT_GT(row->getAsk(), row->getBid());
                EXPECT_NE(row->getTime(), 0.0);
                // Quote times travel as whole seconds.
                EXPECT_NEAR(row->getTime(), now, 1.0 / 86400) << "the dealer's clock";
            }
        }
    }
    EXPECT_TRUE(seen) << "no level-2 price of offer 1 at 1.2345";

    // RTMP trades nothing and has no history: the factory makes neither, and the
    // dealer refuses them when they come anyway (built by a DAS session's factory).
    Held<IZelRequestFactory> rtmp(session->getRequestFactory());
    ASSERT_TRUE(rtmp);
    EXPECT_EQ(rtmp->createValueMap(), nullptr);
    Held<IZelSession> das(CZelTransport::createSession());
    Held<StatusLog> dasStatus(new StatusLog());
    das->subscribeSessionStatus(dasStatus.get());
    ASSERT_NE(das->login("demo", "demo", url.c_str(), "Demo"), 0);
    ASSERT_TRUE(dasStatus->waitFor(S::Connected)) << ::testing::PrintToString(dasStatus->failures());
    Held<IZelRequestFactory> factory(das->getRequestFactory());
    ASSERT_TRUE(factory);

    Held<IZelValueMap> map(factory->createValueMap());
    ASSERT_TRUE(map);
    map->setString(ZelRequestParamsEnum::Command, "CreateOrder");
    map->setString(ZelRequestParamsEnum::OrderType, "OM");
    map->setString(ZelRequestParamsEnum::AccountID, "01001");
    map->setString(ZelRequestParamsEnum::OfferID, "1");
    map->setString(ZelRequestParamsEnum::BuySell, "B");
    map->setInt(ZelRequestParamsEnum::Amount, 1000);
    const std::string order = send(factory->createOrderRequest(map.get()));
    ASSERT_FALSE(order.empty()) << factory->getLastError();
    // The failure carries the dealer's reason in the error-description form.
    EXPECT_EQ(responses->waitFailed(order), "Desc=This session takes no DAS requests.");

    Held<IZelTimeframeCollection> frames(factory->getTimeFrameCollection());
    Held<IZelTimeframe> m1(frames->get("m1"));
    ASSERT_TRUE(m1);
    EXPECT_EQ(rtmp->createMarketDataSnapshotRequestInstrument("EUR/USD", m1.get(), 10), nullptr);
    const std::string history = send(factory->createMarketDataSnapshotRequestInstrument("EUR/USD", m1.get(), 10));
    ASSERT_FALSE(history.empty());
    EXPECT_EQ(responses->waitFailed(history), "Desc=Price history is not offered over RTMP.");
    EXPECT_EQ(responses->failedCount(order) + responses->failedCount(history), 2u) << "one failure each";
    das->logout();
    session->logout();
}

} // namespace
} // namespace login_e2e
