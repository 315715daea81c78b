#include "core/session/zel_session.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <vector>

#include "core/responses/response.h"
#include "core/session/login_job.h"
#include "core/session/session_test_support.h"
#include "vorntool/date.h"

namespace zel {
namespace {

using namespace zel::testing;
using S = IZelSessionStatus;
using Statuses = std::vector<int>;

TEST(LoginJob, VersionComparison)
{
    struct Case {
        const char* required;
        bool passes;
    } cases[] = {{"1.0.3", true}, {"1.0.4", false}, {"1.1.0", false}, {"2", false},
                 {"0.9.9", true}, {"1.0", true},    {"", true},       {"x.y", true}};
    for (const Case& c : cases)
        EXPECT_EQ(LoginJob::checkValidVersion(c.required, "1.0.3"), c.passes) << c.required;

    int major, minor, patch;
    LoginJob::getVersion("4.5", major, minor, patch);
    EXPECT_EQ((std::vector<int>{major, minor, patch}), (std::vector<int>{4, 5, 0}));
    LoginJob::getVersion(nullptr, major, minor, patch);
    EXPECT_EQ((std::vector<int>{major, minor, patch}), (std::vector<int>{0, 0, 0}));
}

TEST(LoginJob, PinJoinsTheExtraText)
{
    std::string extra = "EXTRA=3,139,9,5,138";
    LoginJob::addPinToExtraParams("0042", extra);
    EXPECT_EQ(extra, "EXTRA=3,139,9,5,138;PIN=0042");
    std::string empty;
    LoginJob::addPinToExtraParams("7", empty);
    EXPECT_EQ(empty, "PIN=7");
}

TEST(SessionDescriptors, CollectionFromTheTransportsArray)
{
    merrow::TradingSessionDesc a("QORA", "MAIN", "Main", "The main desk", false);
    merrow::TradingSessionDesc b("QORA", "PIN", nullptr, nullptr, true);
    const merrow::TradingSessionDesc* array[] = {&a, &b, nullptr};
    RefPtr<CZelSessionDescriptorCollection> c = adoptRef(CZelSessionDescriptorCollectionFactory::create(array));
    ASSERT_EQ(c->size(), 2);
    RefPtr<IZelSessionDescriptor> first = adoptRef(c->get(0));
    EXPECT_STREQ(first->getID(), "MAIN") << "the sub-ID, not the transport's own ID";
    EXPECT_STREQ(first->getName(), "Main");
    EXPECT_STREQ(first->getDescription(), "The main desk");
    EXPECT_FALSE(first->requiresPin());
    RefPtr<IZelSessionDescriptor> second = adoptRef(c->get(1));
    EXPECT_STREQ(second->getName(), "");
    EXPECT_TRUE(second->requiresPin());
    EXPECT_EQ(c->get(2), nullptr);
    EXPECT_EQ(c->get(-1), nullptr);

    const merrow::TradingSessionDesc* none[] = {nullptr};
    RefPtr<CZelSessionDescriptorCollection> empty = adoptRef(CZelSessionDescriptorCollectionFactory::create(none));
    EXPECT_EQ(empty->size(), 0);
}

// A session whose messaging sessions are fakes; the trade-session opening answers
// as the test says.
class FakeSession : public CZelSession {
public:
    explicit FakeSession(FakeSessionFactory& f) : CZelSession(f) {}
    int openResult = 0;
    std::atomic<bool>* destroyed = nullptr;

protected:
    ~FakeSession() override
    {
        if (destroyed)
            *destroyed = true;
    }
    int onSessionOpened(merrow::IUserSession*) override { return openResult; }
};

class Session : public ::testing::Test {
protected:
    Session()
    {
        session = adoptRef(new FakeSession(factory));
        status = adoptRef(new StatusRecorder());
        session->subscribeSessionStatus(status.get());
    }
    ~Session() override { session.reset(); }

    bool waitFor(int s)
    {
        for (int i = 0; i < 5000; ++i) {
            for (int seen : status->seen())
                if (seen == s)
                    return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        return false;
    }
    void pushed(const std::string& text)
    {
        session->communicator().messageListener()->update(nullptr, dasUpdate(text).get());
    }

    FakeSessionFactory factory;
    RefPtr<FakeSession> session;
    RefPtr<StatusRecorder> status;
};

TEST_F(Session, WhatASessionAnswersBeforeItsTradeDeskExists)
{
    EXPECT_EQ(session->getRequestFactory(), nullptr);
    EXPECT_EQ(session->getResponseReaderFactory(), nullptr);
    EXPECT_EQ(session->getTableManager(), nullptr);
    EXPECT_EQ(session->getLoginRules(), nullptr);
    EXPECT_EQ(session->getTradingSessionDescriptors(), nullptr);
    EXPECT_EQ(session->getReportURL(nullptr, 0, nullptr, 0, 0, nullptr, nullptr, nullptr, 0), -3);
    EXPECT_EQ(session->getServerTime(), 0.0);
    RefPtr<IZelTimeConverter> tc = adoptRef(session->getTimeConverter());
    EXPECT_TRUE(tc);
    session->setTradingSession("MAIN", "1");  // before login: ignored
    session->logout();                        // disconnected: nothing
    EXPECT_TRUE(status->seen().empty());

    session->setPriceUpdateMode(ZelPriceUpdateMode::NoPrice);
    EXPECT_EQ(session->getPriceUpdateMode(), ZelPriceUpdateMode::NoPrice);
    session->useTableManager(ZelTableManagerMode::TableManagerAndReaders);
    EXPECT_EQ(session->getTableManagerMode(), ZelTableManagerMode::TableManagerAndReaders);
}

TEST_F(Session, OpenedTradeSessionWithAProviderIsConnectedAndFiltersPricesWhenAsked)
{
    session->openResult = 1;
    session->setPriceUpdateMode(ZelPriceUpdateMode::NoPrice);
    factory.prepare = [](FakeUserSession& s) { s.descriptors = {{"QORA", "MAIN", "Main", "", false}}; };
    ASSERT_NE(session->login("u", "p", "tcp://x:1", "c"), 0);
    ASSERT_TRUE(waitFor(S::Connected));
    EXPECT_EQ(status->seen(), (Statuses{S::Connecting, S::Connected}));
    FakeUserSession* trade = factory.last();
    EXPECT_EQ(trade->filter, Fx::CHANNEL_MARKET_DATA);
    EXPECT_EQ(trade->messageListenerCount(), 1u) << "the main listener joins at Connected";
    EXPECT_EQ(session->login("u", "p", "tcp://x:1", "c"), S::Connected);
    session->useTableManager(ZelTableManagerMode::TableManagerOnly);
    EXPECT_EQ(session->getTableManagerMode(), ZelTableManagerMode::NoTableManager) << "only while disconnected";
}

TEST_F(Session, LoginFailuresOfTheTransportSteps)
{
    struct Case {
        const char* what;
        std::function<void(FakeUserSession&)> prepare;
        std::string text;
    } cases[] = {
        {"station not reached", [](FakeUserSession& s) { s.stationLoaded = 0; },
         "Can't connected to server tcp://dealer:7.", },
        {"login refused", [](FakeUserSession& s) {
             s.descriptors = {{"QORA", "MAIN", "", "", false}};
             s.loginThrows = "Invalid user name or password.";
         }, "Invalid user name or password."},
        {"login neither done nor refused", [](FakeUserSession& s) {
             s.descriptors = {{"QORA", "MAIN", "", "", false}};
             s.loginResult = 0;
         }, "Login failed."},
        {"no descriptor at all", [](FakeUserSession&) {}, "The wrong system id is specified."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        status = adoptRef(new StatusRecorder());
        session = adoptRef(new FakeSession(factory));
        session->subscribeSessionStatus(status.get());
        factory.prepare = c.prepare;
        session->login("u", "p", "tcp://dealer:7", "c");
        ASSERT_TRUE(waitFor(S::Disconnected));
        EXPECT_EQ(status->failures(), (std::vector<std::string>{c.text}));
        EXPECT_EQ(status->seen().back(), S::Disconnected);
        for (int i = 0; i < 1000 && !factory.wasFreed(factory.last()); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        EXPECT_TRUE(factory.wasFreed(factory.last())) << "the failed session is freed";
        EXPECT_EQ(factory.last()->messageListenerCount(), 0u);
    }
}

TEST_F(Session, LastReferenceDroppedInsideATransportCallbackOutlivesTheCallback)
{
    session->openResult = 1;
    factory.prepare = [](FakeUserSession& s) { s.descriptors = {{"QORA", "MAIN", "", "", false}}; };
    session->login("u", "p", "tcp://x:1", "c");
    ASSERT_TRUE(waitFor(S::Connected));
    std::atomic<bool> destroyed{false};
    session->destroyed = &destroyed;
    FakeSession* raw = session.detach();
    status->onStatus = [&](int s) {
        if (s == S::SessionLost)
            raw->release();  // the application's only reference
    };
    factory.last()->report(Fx::STATUSCODE_EXPIRED, 0);
    EXPECT_EQ(status->seen(), (Statuses{S::Connecting, S::Connected, S::SessionLost, S::Disconnected}))
        << "the session finished telling its listeners before it went";
    EXPECT_TRUE(destroyed);
}

TEST_F(Session, StatusListenerSubscribedTwiceIsToldOnce)
{
    session->subscribeSessionStatus(status.get());
    factory.prepare = [](FakeUserSession& s) { s.stationLoaded = 0; };
    session->login("u", "p", "tcp://x:1", "c");
    ASSERT_TRUE(waitFor(S::Disconnected));
    EXPECT_EQ(status->seen(), (Statuses{S::Connecting, S::Disconnected}));
    EXPECT_EQ(status->failures().size(), 1u);
}

TEST_F(Session, ServerTimeComesFromPushedUpdates)
{
    pushed("0;no digits here");
    EXPECT_EQ(session->getServerTime(), 0.0) << "an unreadable stamp leaves the time alone";
    struct Case {
        const char* text;
        vorntool::date expected;
    } cases[] = {
        {"0;01052026103005;OFFER", vorntool::date(2026, 1, 5, 10, 30, 5, 0)},
        {"0;0105202610300512;OFFER", vorntool::date(2026, 1, 5, 10, 30, 5, 0)},
        {"0;01052026103005123;OFFER", vorntool::date(2026, 1, 5, 10, 30, 5, 123)},
        {"0;01052026103006", vorntool::date(2026, 1, 5, 10, 30, 6, 0)},
    };
    for (const Case& c : cases) {
        pushed(c.text);
        EXPECT_NEAR(session->getServerTime(), c.expected.getSerial(), 1e-9) << c.text;
    }
    const double last = session->getServerTime();
    pushed("no separator 01052026103007");
    EXPECT_EQ(session->getServerTime(), last);
}

} // namespace
} // namespace zel
