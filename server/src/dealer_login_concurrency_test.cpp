// Logons over the real transport: the station descriptor, every refusal text, the
// session data, the initial messages and price-terminal sessions logged in by session.

#include "dealer_fixture.h"

namespace pellora::dealer::testing {
namespace {

using LoginTest = DealerTest;

TEST_F(LoginTest, RefusalsCarryTheirText) {
    struct Case {
        const char* what;
        LoginArgs args;
        const char* text;
    };
    auto args = [](const char* conn, const char* user, const char* pw, const char* sub = "", const char* pin = "") {
        LoginArgs s;
        s.connection = conn;
        s.user = user;
        s.password = pw;
        s.subId = sub;
        s.pin = pin;
        return s;
    };
    const Case cases[] = {
        {"unknown connection", args("Nope", "demo", "demo"), "Unknown connection 'Nope'."},
        {"wrong password", args("Demo", "demo", "wrong"), "Invalid user name or password."},
        {"unknown user", args("Demo", "nobody", "demo"), "Invalid user name or password."},
        {"another user's password", args("Demo", "demo22", "demo"), "Invalid user name or password."},
        {"missing PIN", args("DemoMulti", "demo", "demo", "Secure"), "A PIN is required for this trading session."},
        {"wrong PIN", args("DemoMulti", "demo", "demo", "Secure", "4321"), "Wrong PIN."},
        {"unknown trading session", args("DemoMulti", "demo", "demo", "Bogus"), "Unknown trading session 'Bogus'."},
    };
    for (const Case& c : cases) {
        Client client(url);
        EXPECT_EQ(client.login(c.args), c.text) << c.what;
    }
}

TEST_F(LoginTest, StationDescriptorListsTheTradingSessions) {
    merrow::IUserSession* s =
        merrow::ConnectionManagerEx::createUserSession(url.c_str(), "DemoMulti", "demo", "demo", "Pellora");
    ASSERT_NE(s->loadStationDescriptor(), 0);
    EXPECT_STREQ(s->getStationParameter("version"), "1.0.3");
    const merrow::TradingSessionDesc* const* d = s->getTradingSessionDescs();
    ASSERT_TRUE(d[0] && d[1]);
    EXPECT_STREQ(d[0]->getSubID(), "Main");
    EXPECT_FALSE(d[0]->pinRequired());
    EXPECT_STREQ(d[1]->getSubID(), "Secure");
    EXPECT_TRUE(d[1]->pinRequired());
    EXPECT_EQ(d[2], nullptr);
    merrow::ConnectionManagerEx::freeObject(s);
}

TEST_F(LoginTest, SessionDataAndInitialMessagesMatchTheCommands) {
    auto c = loggedIn();
    merrow::IUserSession* s = c->session();
    EXPECT_EQ(s->getTraderID(), 1001);
    EXPECT_EQ(s->getUserKind(), 20);
    EXPECT_STREQ(s->getSessionProperty("TransportProvider"), "DAS");
    dealer->stopPrices();  // the offers answer must not move between the two reads
    for (const char* command : {"3", "139", "9", "5", "138"}) {
        const char* initial = s->getInitialMessage(command);
        ASSERT_NE(initial, nullptr) << command;
        EXPECT_EQ(initial, c->command(std::atoi(command))) << command;
    }
    EXPECT_EQ(s->getInitialMessage("10"), nullptr);

    auto pinned = loggedIn([] {
        LoginArgs p;
        p.connection = "DemoMulti";
        p.subId = "Secure";
        p.pin = "1234";
        return p;
    }());
    EXPECT_NE(pinned->session()->getInitialMessage("3"), nullptr);

    LoginArgs kinds;
    kinds.user = kinds.password = "demo24";
    EXPECT_EQ(loggedIn(kinds)->session()->getUserKind(), 24);
}

TEST_F(LoginTest, ConnectionsWithoutInitialMessagesAndRtmp) {
    LoginArgs async;
    async.connection = "DemoAsync";
    auto a = loggedIn(async);
    EXPECT_EQ(a->session()->getInitialMessage("3"), nullptr);
    EXPECT_EQ(at(lines(a->command(5))[1], 0), "01001");  // requests answer all the same

    LoginArgs rtmp;
    rtmp.connection = "DemoRTMP";
    auto r = loggedIn(rtmp);
    EXPECT_STREQ(r->session()->getSessionProperty("TransportProvider"), "RTMP");
    // DAS requests on an RTMP session are refused, and the session stays up.
    EXPECT_EQ(r->command(5), "<U9004>: This session takes no DAS requests.");
}

TEST_F(LoginTest, SecondLoginOfTheSameUserSeesTheSameAccounts) {
    auto first = loggedIn();
    auto second = loggedIn();
    EXPECT_NE(std::string(first->session()->getSessionID()), second->session()->getSessionID());
    EXPECT_EQ(first->command(5), second->command(5));
}

TEST_F(LoginTest, PriceTerminalLogsInOnlyBySessionOfALiveTradeSession) {
    LoginArgs args;
    args.connection = "DemoPrice";
    auto trade = loggedIn(args);
    const std::string sysprops = trade->session()->getInitialMessage("3");
    EXPECT_NE(sysprops.find("\nEXT_PRICE_TERMINAL;PriceDemo;"), std::string::npos);
    const std::string id = trade->session()->getSessionID();

    Client price(url);
    ASSERT_EQ(price.loginBySession("PriceDemo", id, "PriceSession", 1001), "");
    EXPECT_STREQ(price.session()->getSessionProperty("TransportProvider"), "DAS");
    EXPECT_EQ(price.session()->getTraderID(), 1001);

    // Prices go to the price session, not to the trade session that uses it.
    ASSERT_TRUE(dealer->stepClock(2000).isOk());
    EXPECT_TRUE(price.messages().waitFor([](const Got& g) { return g.type == Fx::MSGTYPE_DASMESSAGE; }));

    Client wrongTrader(url);
    EXPECT_EQ(wrongTrader.loginBySession("PriceDemo", id, "PriceSession", 1022), "The trade session is not logged in.");
    Client unknown(url);
    EXPECT_EQ(unknown.loginBySession("PriceDemo", "0000", "PriceSession", 1001), "The trade session is not logged in.");
    // A trade session of a connection without that terminal.
    auto plain = loggedIn();
    Client notThis(url);
    EXPECT_EQ(notThis.loginBySession("PriceDemo", plain->session()->getSessionID(), "DemoSession", 1001),
              "The trade session does not take prices from 'PriceDemo'.");
    Client noTerminal(url);
    EXPECT_EQ(noTerminal.loginBySession("NoSuch", id, "PriceSession", 1001), "Unknown connection 'NoSuch'.");
    for (const Got& g : trade->messages().all()) EXPECT_NE(g.type, Fx::MSGTYPE_DASMESSAGE) << "offer on the trade session";
}

} // namespace
} // namespace pellora::dealer::testing
