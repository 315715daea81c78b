#include "world_json.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "demo_world.h"
#include "password.h"

namespace pellora::dealer {
namespace {

// A complete small world: the layout every world file follows.
const char* kSmallWorld = R"({
  "station": {"version": "2.0"},
  "connections": [
    {"name": "Test", "protocol": "DAS", "initialMessages": true, "priceTerminal": "PT",
     "sessions": [{"id": "Test", "subId": "S1", "name": "One", "description": "first"},
                  {"id": "Test", "subId": "S2", "pin": "42"}]},
    {"name": "TestRTMP", "protocol": "RTMP", "initialMessages": false,
     "sessions": [{"id": "R", "subId": "R1"}]}
  ],
  "users": [{"name": "alice", "password": "plain:secret", "kind": 20, "traderId": 7, "accounts": ["A1"]}],
  "accounts": [{"id": "A1", "name": "Alice", "kind": "32", "currency": "USD", "balance": 1000.5,
                "leverageProfile": "P", "maintenanceType": "N", "amountLimit": 0, "baseUnitSize": 1000}],
  "instruments": [{"offerId": "1", "symbol": "EUR/USD", "contractCurrency": "EUR", "digits": 5,
                   "pointSize": 0.0001, "instrumentType": 1, "baseUnitSize": 1000, "contractMultiplier": 1,
                   "conditionDistances": {"stopForTrade": 1, "limitForTrade": 1, "entryStop": 2, "entryLimit": 2},
                   "minQuantity": 1000, "maxQuantity": 1000000, "tradingStatus": "O", "permissions": "88,Y,107,N",
                   "priceStream": "Default", "valueDate": "", "startBid": 1.1, "startAsk": 1.1001,
                   "spread": 1, "volatility": 0.5}],
  "margins": [{"leverageProfile": "P", "offerId": "1", "values": [25, 20, 10]}],
  "systemProperties": {"BASE_CRNCY": "USD", "ZED": "last", "A&B": "x&y"},
  "priceTerminals": [{"name": "PT", "protocol": "DAS", "instruments": ["1"]}],
  "startingState": {
    "trades": [{"id": "T1", "account": "A1", "offerId": "1", "buySell": "B", "amount": 2000,
                "openRate": 1.0995, "openTime": "2024-03-04 10:00:00"}],
    "orders": [{"id": "O1", "account": "A1", "offerId": "1", "type": "S", "buySell": "S", "amount": 2000,
                "rate": 1.09, "tradeId": "T1"}],
    "closedTrades": [{"id": "C1", "account": "A1", "offerId": "1", "buySell": "S", "amount": 1000,
                      "openRate": 1.1, "closeRate": 1.09, "openTime": "2024-03-01 09:00:00",
                      "closeTime": "2024-03-01T12:30:00Z", "grossPL": 10}],
    "messages": [{"id": "M1", "user": "alice", "time": "2024-03-04 10:00", "from": "Dealer",
                  "subject": "Hello", "text": "Welcome"}]
  }
})";

using Json = nlohmann::ordered_json;

Status parse(const Json& j, World& w) { return parseWorld(j.dump(), "t.json", w); }

TEST(WorldJson, ReadsEverySectionOfTheSmallWorld) {
    World w;
    ASSERT_TRUE(parseWorld(kSmallWorld, "small.json", w).isOk());
    EXPECT_EQ(w.station.version, "2.0");
    ASSERT_EQ(w.connections.size(), 2u);
    EXPECT_EQ(w.connections[0].sessions[1].pin, "42");
    EXPECT_EQ(w.connections[1].protocol, Protocol::Rtmp);
    EXPECT_FALSE(w.connections[1].initialMessages);
    EXPECT_EQ(w.findInstrument("1")->conditionDistances.entryStop, 2);
    EXPECT_EQ(w.findMargin("P", "1")->values[1], 20);
    // Property order is the file's, not alphabetical.
    ASSERT_EQ(w.systemProperties.size(), 3u);
    EXPECT_EQ(w.systemProperties[1].name, "ZED");
    EXPECT_EQ(w.systemProperties[2].value, "x&y");
    ASSERT_EQ(w.startingState.trades.size(), 1u);
    EXPECT_EQ(w.startingState.trades[0].accountName, "Alice");
    EXPECT_EQ(w.startingState.trades[0].openTime, makeUtc(2024, 3, 4, 10, 0, 0));
    EXPECT_EQ(w.startingState.orders[0].stage, "C");
    EXPECT_EQ(w.startingState.closedTrades[0].closeTime, makeUtc(2024, 3, 1, 12, 30, 0));
    EXPECT_EQ(plainPasswordUsers(w), std::vector<std::string>{"alice"});
}

struct BadCase {
    const char* name;
    std::function<void(Json&)> edit;
    const char* expected;  // the whole message after "t.json: "
};

class WorldJsonRejects : public ::testing::TestWithParam<BadCase> {};

TEST_P(WorldJsonRejects, NamesFileFieldAndReason) {
    Json j = Json::parse(kSmallWorld);
    GetParam().edit(j);
    World w;
    w.station.version = "untouched";
    const Status s = parse(j, w);
    ASSERT_FALSE(s.isOk());
    EXPECT_EQ(s.text(), std::string("t.json: ") + GetParam().expected);
    EXPECT_EQ(w.station.version, "untouched");  // a failed load leaves the output alone
}

INSTANTIATE_TEST_SUITE_P(
    Cases, WorldJsonRejects,
    ::testing::Values(
        BadCase{"missing", [](Json& j) { j["accounts"][0].erase("currency"); }, "accounts[0].currency: missing"},
        BadCase{"unknown", [](Json& j) { j["instruments"][0]["colour"] = "red"; },
                "instruments[0].colour: unknown field"},
        BadCase{"unknownNested", [](Json& j) { j["instruments"][0]["conditionDistances"]["x"] = 1; },
                "instruments[0].conditionDistances.x: unknown field"},
        BadCase{"unknownTop", [](Json& j) { j["extra"] = 1; }, "extra: unknown field"},
        BadCase{"wrongType", [](Json& j) { j["users"][0]["kind"] = "20"; }, "users[0].kind: must be a whole number"},
        BadCase{"fraction", [](Json& j) { j["instruments"][0]["digits"] = 4.5; },
                "instruments[0].digits: must be a whole number"},
        BadCase{"propertyType", [](Json& j) { j["systemProperties"]["ZED"] = 3; },
                "systemProperties.ZED: must be a string"},
        BadCase{"protocol", [](Json& j) { j["connections"][1]["protocol"] = "FIX"; },
                "connections[1].protocol: must be \"DAS\" or \"RTMP\""},
        BadCase{"duplicateOffer",
                [](Json& j) {
                    Json m = j["instruments"][0];
                    m["symbol"] = "GBP/USD";
                    j["instruments"].push_back(m);
                },
                "instruments[1].offerId: duplicate offer ID '1'"},
        BadCase{"danglingAccount", [](Json& j) { j["users"][0]["accounts"].push_back("B9"); },
                "users[0].accounts[1]: unknown account 'B9'"},
        BadCase{"danglingTerminal", [](Json& j) { j["connections"][0]["priceTerminal"] = "Nope"; },
                "connections[0].priceTerminal: unknown price terminal 'Nope'"},
        BadCase{"danglingTrade", [](Json& j) { j["startingState"]["orders"][0]["tradeId"] = "T9"; },
                "startingState.orders[0].tradeId: unknown trade 'T9'"},
        BadCase{"missingMargin", [](Json& j) { j["margins"][0]["leverageProfile"] = "Q"; },
                "accounts[0].leverageProfile: no margin for profile 'P' and offer '1'"},
        BadCase{"semicolon", [](Json& j) { j["instruments"][0]["symbol"] = "EUR;USD"; },
                "instruments[0].symbol: must not contain ';' or a line break"},
        BadCase{"badHash", [](Json& j) { j["users"][0]["password"] = "secret"; },
                "users[0].password: must be \"plain:<password>\" or a pbkdf2-sha256 hash"},
        BadCase{"badPermissions", [](Json& j) { j["instruments"][0]["permissions"] = "88,Y,107"; },
                "instruments[0].permissions: must alternate permission codes and Y or N, comma-separated"},
        BadCase{"badTime", [](Json& j) { j["startingState"]["trades"][0]["openTime"] = "yesterday"; },
                "startingState.trades[0].openTime: must be a UTC time as \"YYYY-MM-DD HH:MM:SS\""},
        BadCase{"threeMargins", [](Json& j) { j["margins"][0]["values"].push_back(1); },
                "margins[0].values: must hold exactly three numbers"}),
    [](const ::testing::TestParamInfo<BadCase>& info) { return std::string(info.param.name); });

TEST(WorldJson, ReportsUnreadableFilesAndSyntax) {
    World w;
    Status s = loadWorldFile("/nonexistent/world.json", w);
    EXPECT_EQ(s.text(), "/nonexistent/world.json: cannot be opened");
    s = parseWorld("{\"station\": ", "cut.json", w);
    ASSERT_FALSE(s.isOk());
    EXPECT_EQ(s.text().rfind("cut.json: not valid JSON", 0), 0u) << s.text();
    s = parseWorld("[]", "array.json", w);
    EXPECT_EQ(s.text(), "array.json: top level: must be an object");
}

TEST(DemoWorld, MatchesTheDescribedDemo) {
    const World w = demoWorld();
    ASSERT_TRUE(w.validate().isOk()) << w.validate().text();
    EXPECT_EQ(w.station.version, "1.0.3");
    int pairs = 0, cfds = 0;
    for (const Instrument& m : w.instruments) (m.instrumentType == 1 ? pairs : cfds)++;
    EXPECT_EQ(pairs, 12);
    EXPECT_EQ(cfds, 2);

    const User* demo = w.findUser("demo");
    ASSERT_TRUE(demo);
    EXPECT_EQ(demo->kind, 20);
    ASSERT_EQ(demo->accounts.size(), 2u);
    for (const std::string& id : demo->accounts) EXPECT_EQ(w.findAccount(id)->currency, "USD");
    EXPECT_TRUE(verifyPassword("demo", demo->passwordHash));
    EXPECT_EQ(w.findUser("demo22")->kind, 22);
    EXPECT_EQ(w.findUser("demo24")->kind, 24);
    EXPECT_TRUE(verifyPassword("demo24", w.findUser("demo24")->passwordHash));
    EXPECT_TRUE(plainPasswordUsers(w).empty());

    EXPECT_TRUE(w.findConnection("Demo")->initialMessages);
    ASSERT_EQ(w.findConnection("DemoMulti")->sessions.size(), 2u);
    EXPECT_EQ(w.findConnection("DemoMulti")->sessions[0].pin, "");
    EXPECT_EQ(w.findConnection("DemoMulti")->sessions[1].pin, "1234");
    EXPECT_FALSE(w.findConnection("DemoAsync")->initialMessages);
    EXPECT_EQ(w.findConnection("DemoRTMP")->protocol, Protocol::Rtmp);
    EXPECT_EQ(w.findConnection("DemoPrice")->priceTerminal, "PriceDemo");
    EXPECT_EQ(w.findPriceTerminal("PriceDemo")->offerIds.size(), w.instruments.size());

    auto prop = [&](const std::string& name) -> std::string {
        for (const SystemProperty& p : w.systemProperties)
            if (p.name == name) return p.value;
        return "<absent>";
    };
    EXPECT_EQ(prop("BASE_CRNCY"), "USD");
    EXPECT_EQ(prop("BASE_UNIT_SIZE"), "1000");
    EXPECT_EQ(prop("SERVER_TIME_UTC"), "UTC");
    EXPECT_NE(prop("TRADER_REPORTS_URL").find('&'), std::string::npos);  // exercises RTMP "&" handling
    EXPECT_EQ(prop("NON_CHANGED_VALUE"), "!=");
    EXPECT_EQ(prop("TP_88"), "Y");
    EXPECT_EQ(prop("CP_88"), "Y");
    EXPECT_EQ(prop("DP_88"), "N");
}

TEST(Password, HashesVerifyAndRejectTampering) {
    std::string h;
    ASSERT_TRUE(hashPassword("s3cret", 1000, h).isOk());
    EXPECT_TRUE(passwordHashWellFormed(h));
    EXPECT_FALSE(isPlainPassword(h));
    EXPECT_TRUE(verifyPassword("s3cret", h));
    EXPECT_FALSE(verifyPassword("s3cre", h));
    EXPECT_FALSE(verifyPassword("", h));

    std::string again;
    ASSERT_TRUE(hashPassword("s3cret", 1000, again).isOk());
    EXPECT_NE(h, again);  // a fresh salt each time

    std::string tampered = h;
    tampered.back() = tampered.back() == '0' ? '1' : '0';
    EXPECT_FALSE(verifyPassword("s3cret", tampered));
    // The iteration count is part of the hash: changing it breaks verification.
    std::string fixed;
    ASSERT_TRUE(hashPasswordWithSalt("pw", "0011223344556677", 10, fixed).isOk());
    std::string other = fixed;
    other.replace(other.find("$10$"), 4, "$11$");
    EXPECT_TRUE(verifyPassword("pw", fixed));
    EXPECT_FALSE(verifyPassword("pw", other));
}

TEST(Password, PlainAndMalformedTexts) {
    EXPECT_TRUE(isPlainPassword("plain:x"));
    EXPECT_TRUE(verifyPassword("x", "plain:x"));
    EXPECT_FALSE(verifyPassword("x ", "plain:x"));
    EXPECT_TRUE(verifyPassword("", "plain:"));
    for (const char* bad : {"", "x", "pbkdf2-sha256$", "pbkdf2-sha256$0$0011223344556677$" /*no hash*/,
                            "pbkdf2-sha256$10$00112233$00", "pbkdf2-sha256$99999999999$0011223344556677$00",
                            "pbkdf2-sha256$10$zz11223344556677$"
                            "0000000000000000000000000000000000000000000000000000000000000000"}) {
        EXPECT_FALSE(passwordHashWellFormed(bad)) << bad;
        EXPECT_FALSE(verifyPassword("x", bad)) << bad;
    }
    std::string out;
    EXPECT_FALSE(hashPasswordWithSalt("x", "abc", 10, out).isOk());
    EXPECT_FALSE(hashPasswordWithSalt("x", "0011223344556677", 0, out).isOk());
}

} // namespace
} // namespace pellora::dealer
