#include "core/session/status_listener.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "core/session/server_communicator.h"
#include "core/session/session_test_support.h"

namespace zel {
namespace {

using namespace zel::testing;
using S = IZelSessionStatus;
using Statuses = std::vector<int>;
using Report = std::pair<int, int>;

constexpr Report kReconnecting{Fx::STATUSCODE_DISCONNECTED, Fx::MSGCODE_RECONNETING};
constexpr Report kLoggedIn{Fx::STATUSCODE_LOGGEDIN, Fx::MSGCODE_CONNECTED};
constexpr Report kClosed{Fx::STATUSCODE_DISCONNECTED, Fx::MSGCODE_SESSNCLOSED};

// A communicator whose trade session (and optionally price session) are fakes
// already handed over, with the owner's callbacks recorded.
class StatusMapping : public ::testing::Test {
protected:
    StatusMapping()
    {
        ServerCommunicator::Callbacks cb;
        cb.sessionOpened = [this](merrow::IUserSession*) { return note("opened"), 1; };
        cb.sessionClosed = [this](merrow::IUserSession*) { return note("closed"), 0; };
        // 1: the trade desk is reloaded (0 would mean its initialization still runs).
        cb.reconnected = [this](merrow::IUserSession*) { return note("reconnected"), 1; };
        cb.connectToPriceFeedServer = [this](const std::string& name) { note("price server " + name); };
        comm = std::make_unique<ServerCommunicator>(std::move(cb), factory);
        status = adoptRef(new StatusRecorder());
        comm->subscribeSessionStatus(status.get());
        trade = static_cast<FakeUserSession*>(factory.createUserSession("", "", "", "", ""));
        trade->subscribe(static_cast<merrow::IUserSessionStatusListener*>(comm->statusListener()));
        comm->onSessionOpened(trade);
    }
    ~StatusMapping() override { comm.reset(); }

    void openPrice()
    {
        price = static_cast<FakeUserSession*>(factory.createUserSession("", "", "", "", ""));
        price->subscribe(static_cast<merrow::IUserSessionStatusListener*>(comm->statusListener()));
        comm->setPriceSession(price);
    }
    void note(const std::string& what) { events.push_back(what); }
    Statuses after(FakeUserSession* s, std::initializer_list<Report> reports)
    {
        const size_t before = status->seen().size();
        for (const Report& r : reports)
            s->report(r.first, r.second);
        Statuses all = status->seen();
        return Statuses(all.begin() + static_cast<long>(before), all.end());
    }

    FakeSessionFactory factory;
    std::unique_ptr<ServerCommunicator> comm;
    RefPtr<StatusRecorder> status;
    FakeUserSession* trade = nullptr;
    FakeUserSession* price = nullptr;
    std::vector<std::string> events;
};

TEST_F(StatusMapping, TradeSessionReconnectsAndComesBack)
{
    openPrice();
    EXPECT_EQ(status->seen(), (Statuses{S::Connected}));
    EXPECT_EQ(after(trade, {kReconnecting}), (Statuses{S::Reconnecting}));
    EXPECT_TRUE(factory.wasFreed(price)) << "the price session closes while the trade session reconnects";
    EXPECT_EQ(after(trade, {kClosed}), Statuses{}) << "a close while reconnecting changes nothing";
    EXPECT_EQ(after(trade, {kLoggedIn}), (Statuses{S::Connected}));
    EXPECT_EQ(events, (std::vector<std::string>{"opened", "reconnected"}));
    EXPECT_EQ(after(trade, {kLoggedIn}), Statuses{}) << "logged in without a reconnect before it";
}

TEST_F(StatusMapping, ReconnectWithAPriceServerWaitsForThePriceSession)
{
    comm->setPriceServerName("prices-1");
    EXPECT_EQ(after(trade, {kReconnecting, kLoggedIn}), (Statuses{S::Reconnecting}));
    EXPECT_EQ(events, (std::vector<std::string>{"opened", "reconnected", "price server prices-1"}));
}

TEST_F(StatusMapping, EveryEndOfTheTradeSessionIsALossFollowedByDisconnected)
{
    for (int code : {Fx::STATUSCODE_EXPIRED, Fx::STATUSCODE_SHUTDOWN, Fx::STATUSCODE_FORCED_RELOGIN,
                     Fx::STATUSCODE_RELOGIN_FAILED}) {
        SCOPED_TRACE(code);
        if (!comm->getTradeSession()) {
            trade = static_cast<FakeUserSession*>(factory.createUserSession("", "", "", "", ""));
            trade->subscribe(static_cast<merrow::IUserSessionStatusListener*>(comm->statusListener()));
            comm->onSessionOpened(trade);
        }
        openPrice();
        FakeUserSession* lostTrade = trade;
        EXPECT_EQ(after(trade, {{code, 0}}), (Statuses{S::SessionLost, S::Disconnected}));
        EXPECT_TRUE(factory.wasFreed(lostTrade));
        EXPECT_TRUE(factory.wasFreed(price));
        EXPECT_EQ(lostTrade->closing, 1);
        EXPECT_TRUE(lostTrade->called("logout"));
        EXPECT_EQ(comm->getTradeSession(), nullptr);
        EXPECT_EQ(events.back(), "closed");
    }
}

TEST_F(StatusMapping, PriceSessionRows)
{
    openPrice();
    EXPECT_EQ(after(price, {kLoggedIn}), Statuses{}) << "not reconnecting";
    EXPECT_EQ(after(price, {kReconnecting, kLoggedIn}), (Statuses{S::PriceSessionReconnecting, S::Connected}));

    EXPECT_EQ(after(price, {{Fx::STATUSCODE_RELOGIN_FAILED, 0}}), Statuses{});
    EXPECT_TRUE(factory.wasFreed(price));
    EXPECT_TRUE(trade->called("reconnect")) << "the trade session's reconnect brings the prices back";

    for (int code : {Fx::STATUSCODE_EXPIRED, Fx::STATUSCODE_SHUTDOWN, Fx::STATUSCODE_FORCED_RELOGIN}) {
        SCOPED_TRACE(code);
        if (!comm->getTradeSession()) {
            trade = static_cast<FakeUserSession*>(factory.createUserSession("", "", "", "", ""));
            trade->subscribe(static_cast<merrow::IUserSessionStatusListener*>(comm->statusListener()));
            comm->onSessionOpened(trade);
        }
        openPrice();
        EXPECT_EQ(after(price, {{code, 0}}), (Statuses{S::SessionLost, S::Disconnected}));
    }
}

TEST_F(StatusMapping, SessionsNotHandedOverChangeNothing)
{
    auto* loggingIn = static_cast<FakeUserSession*>(factory.createUserSession("", "", "", "", ""));
    loggingIn->subscribe(static_cast<merrow::IUserSessionStatusListener*>(comm->statusListener()));
    EXPECT_EQ(after(loggingIn, {kReconnecting, kLoggedIn, {Fx::STATUSCODE_EXPIRED, 0}}), Statuses{});
    EXPECT_EQ(comm->getTradeSession(), trade);
}

TEST_F(StatusMapping, ReportsAfterTheCommunicatorIsGoneAreIgnored)
{
    RefPtr<CStatusListener> listener(comm->statusListener());
    comm.reset();
    FakeStatus lost(Fx::STATUSCODE_EXPIRED, 0);
    listener->update(trade, &lost);  // must not reach the destroyed communicator
    EXPECT_EQ(status->seen(), (Statuses{S::Connected})) << "destruction itself tells no one";
}

TEST_F(StatusMapping, ListenersMaySubscribeUnsubscribeAndLogOutFromInside)
{
    RefPtr<StatusRecorder> late = adoptRef(new StatusRecorder());
    status->onStatus = [&](int s) {
        if (s == S::Reconnecting) {
            comm->subscribeSessionStatus(late.get());
            comm->unsubscribeSessionStatus(status.get());
        }
    };
    late->onStatus = [&](int s) {
        if (s == S::Connected)
            comm->logout();
    };
    EXPECT_EQ(after(trade, {kReconnecting}), (Statuses{S::Reconnecting}));
    trade->report(kLoggedIn.first, kLoggedIn.second);
    EXPECT_EQ(late->seen(), (Statuses{S::Connected, S::Disconnecting, S::Disconnected}));
    EXPECT_EQ(status->seen().back(), S::Reconnecting) << "unsubscribed from inside its own callback";
    EXPECT_TRUE(factory.wasFreed(trade));
}

} // namespace
} // namespace zel
