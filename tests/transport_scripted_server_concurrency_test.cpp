// The scripted server answers from its tables and does what the test asks of a
// session, as seen by a real client.

#include <thread>

#include "transport_e2e_support.h"

namespace transport_e2e {
namespace {

using testutil::LogonScript;
using testutil::StationScript;

class ScriptedServerTest : public TransportScenario {};

TEST_F(ScriptedServerTest, DescriptorsAndLogonsComeFromTheTables)
{
    StationScript pinned = mainStation();
    pinned.parameters = {{"version", "2.0"}, {"region", "eu"}};
    pinned.tradingSessions.push_back(merrow::TradingSessionDesc("QORA", "PINNED", "Pinned", "With a PIN", true));
    server->setStation("desk", pinned);
    server->setStation("closed", StationScript{{}, {}, "", "The desk is closed today."});
    LogonScript withPin = traderLogon();
    withPin.pin = "1234";
    server->setLogon("trader", withPin, "PINNED");
    LogonScript refused = traderLogon();
    refused.rejectText = "Your account is locked.";
    server->setLogon("locked", refused);

    {
        Client c(server->plainUrl(), "trader", "pw", "desk");
        ASSERT_NE(0, c.session->loadStationDescriptor());
        EXPECT_STREQ("2.0", c.session->getStationParameter("version"));
        EXPECT_STREQ("eu", c.session->getStationParameter("region"));
        auto descs = c.session->getTradingSessionDescs();
        ASSERT_TRUE(descs[0] && descs[1]);
        EXPECT_FALSE(descs[2]);
        EXPECT_TRUE(descs[1]->pinRequired());
        c.session->setTradingSession(descs[1]);
        try {
            c.session->login("");
            ADD_FAILURE() << "a logon without the PIN was accepted";
        } catch (const merrow::GenericException& e) {
            EXPECT_STREQ("A PIN is required for this trading session.", e.getText());
        }
    }

    struct Case {
        const char* connection;
        const char* user;
        const char* password;
        const char* subId;  // nullptr: the first one offered
        const char* error;  // nullptr: accepted
    };
    const Case cases[] = {
        {"demo", "trader", "pw", nullptr, nullptr},
        {"demo", "trader", "bad", nullptr, "Invalid user name or password."},
        {"demo", "nobody", "pw", nullptr, "Invalid user name or password."},
        {"demo", "locked", "pw", nullptr, "Your account is locked."},
        {"demo", "trader", "pw", "ELSEWHERE", "The trading session is not available."},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(std::string(k.user) + "/" + k.password + "/" + (k.subId ? k.subId : "first"));
        Client c(server->plainUrl(), k.user, k.password, k.connection);
        ASSERT_NE(0, c.session->loadStationDescriptor());
        merrow::TradingSessionDesc other("QORA", k.subId ? k.subId : "", "", "", false);
        c.session->setTradingSession(k.subId ? &other : c.session->getTradingSessionDescs()[0]);
        try {
            EXPECT_EQ(1, c.session->login("EXTRA=3"));
            EXPECT_FALSE(k.error) << "accepted";
            EXPECT_EQ(77, c.session->getTraderID());
            EXPECT_EQ(20, c.session->getUserKind());
            EXPECT_STREQ("merrow-e2e", c.session->getSessionProperty("TransportProvider"));
            EXPECT_STREQ("initial-3", c.session->getInitialMessage("3"));
        } catch (const merrow::GenericException& e) {
            ASSERT_TRUE(k.error) << e.getText();
            EXPECT_STREQ(k.error, e.getText());
        }
    }

    // Refused Hellos: by the table, and for a name no table entry answers.
    testutil::ScriptedServer bare;
    ASSERT_NE(0, bare.listenPlain());
    ASSERT_TRUE(bare.start());
    const std::pair<std::string, std::string> refusals[] = {
        {server->plainUrl() + "|closed", "The desk is closed today."},
        {bare.plainUrl() + "|unknown", "Unknown connection 'unknown'."},
    };
    for (const auto& r : refusals) {
        const auto bar = r.first.find('|');
        Client c(r.first.substr(0, bar), "trader", "pw", r.first.substr(bar + 1));
        try {
            c.session->loadStationDescriptor();
            ADD_FAILURE() << r.first << " was answered";
        } catch (const merrow::GenericException& e) {
            EXPECT_EQ(r.second, e.getText());
        }
    }
    ASSERT_EQ(1u, bare.hellos().size());
    EXPECT_EQ("unknown", bare.hellos()[0].connectionName);
    EXPECT_EQ("Pellora", bare.hellos()[0].applicationName);
}

TEST_F(ScriptedServerTest, PushesClosesCutsAndRecordsBothWays)
{
    Client c(server->plainUrl());
    ASSERT_TRUE(c.login("EXTRA=3"));
    merrow::ServerSessionPtr ss = server->waitForSession(0, kWait);
    ASSERT_TRUE(ss);
    EXPECT_EQ("trader", ss->user());

    for (int i = 0; i < 3; ++i)
        ASSERT_EQ(1, c.send(i));
    ASSERT_TRUE(server->waitForReceived(3, kWait));
    const auto got = server->received();
    ASSERT_EQ(3u, got.size());
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(i, got[i].number);
        EXPECT_EQ(Fx::CHANNEL_TRADING_DATA, got[i].channel);
        EXPECT_EQ(ss->sessionId(), got[i].sessionId);
        EXPECT_STREQ(Fx::MSGTYPE_QORAREQUEST, got[i].message->getMsgType());
    }

    ASSERT_TRUE(server->pushText(ss, "t", 10).ok());
    merrow::IMessage* md = merrow::getMessageFactory()->createMessage(Fx::MSGTYPE_MARKETDATASNAPSHOTFULLREFRESH);
    md->setIntValue(Fx::FLDTAG_QORACOMMANDID, 11);
    ASSERT_TRUE(server->push(ss, *md, Fx::CHANNEL_MARKET_DATA, "EUR/USD").ok());
    merrow::freeMessage(md);
    ASSERT_TRUE(c.log->waitForTrading(1));
    ASSERT_TRUE(c.log->waitForMarketData(1));
    EXPECT_EQ(std::vector<int64_t>{10}, c.log->trading());
    EXPECT_EQ(std::vector<int64_t>{11}, c.log->marketData());

    // A cut session resumes with the resume's initial messages.
    testutil::ScriptedServer::cut(ss);
    ASSERT_TRUE(server->waitForResumed(1, kWait));
    ASSERT_TRUE(c.log->waitFor(Fx::STATUSCODE_LOGGEDIN, Fx::MSGCODE_CONNECTED, 2));
    EXPECT_EQ(1u, server->cutCount());
    EXPECT_STREQ("initial-3-resumed", c.session->getInitialMessage("3"));

    testutil::ScriptedServer::close(ss, merrow::CloseReason::kForcedRelogin, "again");
    ASSERT_TRUE(c.log->waitFor(Fx::STATUSCODE_FORCED_RELOGIN, 0));
    ASSERT_TRUE(server->waitForEnded(1, kWait));
    EXPECT_EQ(std::vector<merrow::SessionEnd>{merrow::SessionEnd::kClosedByServer}, server->endReasons());
}

} // namespace
} // namespace transport_e2e
