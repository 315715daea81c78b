// The session's login and status machinery over fake messaging sessions: the
// faults a review found once login completes (each test failed before its mend),
// and the sound behaviour chosen where the login used to hang or report nothing.

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "core/requests/das_request_factory.h"
#include "core/responses/response.h"
#include "core/session/server_communicator.h"
#include "core/session/session_test_support.h"
#include "core/session/trade_desk_initializer.h"
#include "core/session/zel_session.h"
#include "vorntool/date.h"

namespace zel {
namespace {

using namespace zel::testing;
using namespace std::chrono_literals;
using S = IZelSessionStatus;
using Statuses = std::vector<int>;

// Waits for an outcome another thread produces; never used to order threads.
template <class Pred>
bool eventually(Pred pred)
{
    const auto until = std::chrono::steady_clock::now() + 20s;
    while (!pred()) {
        if (std::chrono::steady_clock::now() > until)
            return false;
        std::this_thread::yield();
    }
    return true;
}

merrow::TradingSessionDesc desk(const char* sub) { return merrow::TradingSessionDesc("QORA", sub, sub, "desk", false); }

// A communicator over fakes whose owner callbacks the test sets.
class Communicator : public ::testing::Test {
protected:
    void make(ServerCommunicator::Callbacks cb)
    {
        comm = std::make_unique<ServerCommunicator>(std::move(cb), factory);
        status = adoptRef(new StatusRecorder());
        comm->subscribeSessionStatus(status.get());
        main = adoptRef(new ResponseRecorder("main", &log, &logMutex));
        comm->subscribeResponse(main.get());
    }
    FakeUserSession* open()
    {
        auto* s = static_cast<FakeUserSession*>(factory.createUserSession("", "", "", "", ""));
        s->subscribe(static_cast<merrow::IUserSessionStatusListener*>(comm->statusListener()));
        comm->onSessionOpened(s);
        return s;
    }
    RefPtr<IZelRequest> request(FakeUserSession* s)
    {
        RefPtr<DasRequestFactory> f = adoptRef(new DasRequestFactory(s));
        return adoptRef(f->createRequestByCommand(CmdGetSystemProperties));
    }
    std::vector<std::string> lines()
    {
        std::lock_guard<std::mutex> lock(logMutex);
        return log;
    }
    void TearDown() override { comm.reset(); }

    FakeSessionFactory factory;
    std::vector<std::string> log;
    std::mutex logMutex;
    std::unique_ptr<ServerCommunicator> comm;
    RefPtr<StatusRecorder> status;
    RefPtr<ResponseRecorder> main;
};

TEST_F(Communicator, ASecondLoginInTheStartUpWindowLeavesTheRunningOneAlone)
{
    ServerCommunicator::Callbacks cb;
    cb.sessionOpened = [](merrow::IUserSession*) { return 1; };
    make(std::move(cb));
    std::promise<void> entered, go;
    std::shared_future<void> goFuture = go.get_future().share();
    factory.prepare = [&](FakeUserSession& s) {
        s.descriptors = {desk("ONLY")};
        entered.set_value();
        goFuture.wait();  // the worker stands in its start-up window
    };
    ASSERT_EQ(comm->login("u", "p", "tcp://h:1", "c"), 1);
    entered.get_future().wait();
    EXPECT_EQ(comm->login("other", "p", "tcp://h:1", "c2"), S::Connecting) << "a running login is not replaced";
    go.set_value();
    ASSERT_TRUE(eventually([&] { return !status->seen().empty() && status->seen().back() == S::Connected; }))
        << ::testing::PrintToString(status->failures());
    EXPECT_TRUE(status->failures().empty());
    EXPECT_EQ(comm->getConnection(), "c");
}

TEST_F(Communicator, ATradeSessionOpenThatThrowsHandsTheSessionOverOnce)
{
    ServerCommunicator::Callbacks cb;
    cb.sessionOpened = [](merrow::IUserSession*) -> int { throw std::runtime_error("boom"); };
    make(std::move(cb));
    factory.prepare = [](FakeUserSession& s) { s.descriptors = {desk("ONLY")}; };
    ASSERT_EQ(comm->login("u", "p", "tcp://h:1", "c"), 1);
    ASSERT_TRUE(eventually([&] { return !status->seen().empty() && status->seen().back() == S::Disconnected; }));
    EXPECT_TRUE(eventually([&] { return !comm->isLoginActive(); }));
    EXPECT_EQ(status->failures(), (std::vector<std::string>{"boom"}));
    EXPECT_EQ(comm->getTradeSession(), nullptr) << "no pointer to a freed session stays behind";
    std::lock_guard<std::mutex> lock(factory.mutex);
    EXPECT_EQ(factory.freed.size(), 1u);
}

TEST_F(Communicator, AFailedSendIsToldOnAnotherThreadToTheListenersThatWait)
{
    ServerCommunicator::Callbacks cb;
    cb.sessionOpened = [](merrow::IUserSession*) { return 0; };  // an initialization runs
    make(std::move(cb));
    FakeUserSession* trade = open();
    trade->sendResult = 0;
    std::vector<std::string> initLog;
    std::mutex initMutex;
    RefPtr<ResponseRecorder> init = adoptRef(new ResponseRecorder("init", &initLog, &initMutex));
    std::atomic<bool> onSenderThread{false};
    const auto sender = std::this_thread::get_id();
    init->onCall = [&](ResponseRecorder&) { onSenderThread = std::this_thread::get_id() == sender; };
    comm->subscribeInitResponse(init.get());

    RefPtr<IZelRequest> r = request(trade);
    comm->sendRequest(r.get());
    ASSERT_TRUE(eventually([&] {
        std::lock_guard<std::mutex> lock(initMutex);
        return !initLog.empty();
    }));
    EXPECT_FALSE(onSenderThread.load());
    {
        std::lock_guard<std::mutex> lock(initMutex);
        EXPECT_EQ(initLog[0].rfind("init failed " + std::string(r->getRequestID()), 0), 0u) << initLog[0];
    }
    EXPECT_TRUE(lines().empty()) << "the application's listeners wait for no initial request";

    // After Connected the application's listeners hear their own failures.
    comm->setStatus(S::Connected);
    RefPtr<IZelRequest> second = request(trade);
    comm->sendRequest(second.get());
    ASSERT_TRUE(eventually([&] { return lines().size() == 1; }));
    EXPECT_EQ(lines()[0].rfind("main failed " + std::string(second->getRequestID()), 0), 0u);
}

TEST_F(Communicator, StatusesReachEveryListenerOnceAndInOrder)
{
    ServerCommunicator::Callbacks cb;
    cb.sessionOpened = [](merrow::IUserSession*) { return 1; };
    make(std::move(cb));
    // The first listener logs out as soon as it hears Connected; the second must
    // still hear Connected before Disconnecting.
    status->onStatus = [&](int s) {
        if (s == S::Connected)
            comm->logout();
    };
    RefPtr<StatusRecorder> second = adoptRef(new StatusRecorder());
    comm->subscribeSessionStatus(second.get());
    FakeUserSession* trade = open();
    const Statuses expected{S::Connected, S::Disconnecting, S::Disconnected};
    EXPECT_EQ(status->seen(), expected);
    EXPECT_EQ(second->seen(), expected);
    comm->logout();
    EXPECT_EQ(second->seen(), expected) << "a second logout has nothing to do";
    EXPECT_TRUE(factory.wasFreed(trade));
    // A loss reported for the closed session changes nothing.
    comm->setStatusOfSession(trade, S::SessionLost);
    EXPECT_EQ(second->seen(), expected);
}

TEST_F(Communicator, AnOpenedSessionNeverOrphansTheOneBefore)
{
    ServerCommunicator::Callbacks cb;
    cb.sessionOpened = [](merrow::IUserSession*) { return 0; };
    make(std::move(cb));
    FakeUserSession* first = open();
    FakeUserSession* second = open();
    EXPECT_TRUE(factory.wasFreed(first));
    EXPECT_TRUE(first->called("logout"));
    EXPECT_EQ(comm->getTradeSession(), second);
}

TEST_F(Communicator, AReconnectBeforeTheFirstConnectedWaitsForTheTradeDesk)
{
    ServerCommunicator::Callbacks cb;
    cb.sessionOpened = [](merrow::IUserSession*) { return 0; };
    cb.reconnected = [](merrow::IUserSession*) { return 0; };  // the initialization still runs
    make(std::move(cb));
    comm->setStatus(S::Connecting);  // as the login worker does
    FakeUserSession* trade = open();
    trade->report(Fx::STATUSCODE_DISCONNECTED, Fx::MSGCODE_RECONNETING);
    trade->report(Fx::STATUSCODE_LOGGEDIN, Fx::MSGCODE_CONNECTED);
    EXPECT_EQ(status->seen(), (Statuses{S::Connecting, S::Reconnecting})) << "no Connected without a trade desk";
    EXPECT_EQ(trade->messageListenerCount(), 0u);
    comm->setStatus(S::Connected);  // the initialization ends
    EXPECT_EQ(status->seen(), (Statuses{S::Connecting, S::Reconnecting, S::Connected}));
    EXPECT_EQ(trade->messageListenerCount(), 1u) << "the main listener takes over";
}

TEST_F(Communicator, UpdatesPushedDuringTheInitializationReachTheApplicationFirst)
{
    ServerCommunicator::Callbacks cb;
    cb.sessionOpened = [](merrow::IUserSession*) { return 0; };
    make(std::move(cb));
    FakeUserSession* trade = open();
    std::vector<std::string> initLog;
    std::mutex initMutex;
    RefPtr<ResponseRecorder> init = adoptRef(new ResponseRecorder("init", &initLog, &initMutex));
    comm->subscribeInitResponse(init.get());
    trade->deliver(dasUpdate("0;01052026103005000;\nTRADE;I;T1").get());
    EXPECT_TRUE(lines().empty());
    comm->setStatus(S::Connected);
    trade->deliver(dasUpdate("0;01052026103006000;\nTRADE;I;T2").get());
    EXPECT_EQ(lines(), (std::vector<std::string>{"main update", "main update"})) << "the fill during login is kept";
}

TEST_F(Communicator, RequestsStillWaitingAtLogoutFailOnce)
{
    ServerCommunicator::Callbacks cb;
    cb.sessionOpened = [](merrow::IUserSession*) { return 1; };
    make(std::move(cb));
    FakeUserSession* trade = open();
    RefPtr<IZelRequest> r = request(trade);
    comm->sendRequest(r.get());
    comm->logout();
    ASSERT_TRUE(eventually([&] { return !lines().empty(); }));
    EXPECT_EQ(lines(), (std::vector<std::string>{"main failed " + std::string(r->getRequestID()) + ": " +
                                                 ServerCommunicator::kConnectionClosed}));
}

// ---- the session object's login over fakes ----

class FakeLogin : public ::testing::Test {
protected:
    void SetUp() override
    {
        session = adoptRef(new CZelSession(factory));
        status = adoptRef(new StatusRecorder());
        session->subscribeSessionStatus(status.get());
    }
    void TearDown() override
    {
        TradeDeskInitializer::setExpiryHookForTesting(nullptr);
        session = nullptr;
    }
    bool ended()
    {
        return eventually([&] { return !status->seen().empty() && status->seen().back() == S::Disconnected; });
    }
    FakeUserSession* trade()
    {
        std::lock_guard<std::mutex> lock(factory.mutex);
        return factory.made.empty() ? nullptr : factory.made.front().get();
    }

    FakeSessionFactory factory;
    RefPtr<CZelSession> session;
    RefPtr<StatusRecorder> status;
};

TEST_F(FakeLogin, ARejectedInitialRequestFailsTheLogin)
{
    std::mutex sentMutex;
    std::vector<std::string> sent;
    factory.prepare = [&](FakeUserSession& s) {
        s.descriptors = {desk("ONLY")};
        s.onSend = [&](merrow::IMessage* m) {
            std::lock_guard<std::mutex> lock(sentMutex);
            sent.push_back(m->getValue(Fx::FLDTAG_TESTREQID) ? m->getValue(Fx::FLDTAG_TESTREQID) : "");
        };
    };
    ASSERT_NE(session->login("u", "p", "tcp://h:1", "c"), 0);
    ASSERT_TRUE(eventually([&] {
        std::lock_guard<std::mutex> lock(sentMutex);
        return sent.size() == 3;
    }));
    trade()->deliver(requestReject(sent[0], "").get());
    ASSERT_TRUE(ended());
    EXPECT_EQ(status->failures(), (std::vector<std::string>{TradeDeskInitializer::kRefused}));
    EXPECT_TRUE(factory.wasFreed(trade()));
    EXPECT_EQ(session->getLoginRules(), nullptr);
}

TEST_F(FakeLogin, InitialAnswersThatNeverComeFailTheLogin)
{
    std::promise<std::weak_ptr<TradeDeskInitializer>> waiting;
    TradeDeskInitializer::setExpiryHookForTesting(
        [&](std::weak_ptr<TradeDeskInitializer> init) { waiting.set_value(std::move(init)); });
    factory.prepare = [](FakeUserSession& s) { s.descriptors = {desk("ONLY")}; };
    ASSERT_NE(session->login("u", "p", "tcp://h:1", "c"), 0);
    std::weak_ptr<TradeDeskInitializer> init = waiting.get_future().get();
    if (auto i = init.lock())
        i->expire();  // the clock ran out
    ASSERT_TRUE(ended());
    EXPECT_EQ(status->failures(), (std::vector<std::string>{TradeDeskInitializer::kNoAnswer}));
    EXPECT_TRUE(factory.wasFreed(trade()));
}

TEST_F(FakeLogin, ARefusedPriceLoginFailsTheLoginAndClosesTheTradeSession)
{
    factory.prepare = [](FakeUserSession& s) {
        s.descriptors = {desk("ONLY")};
        s.initialMessages = {{"3", "0\nEXT_PRICE_TERMINAL;Prices;\nBASE_CRNCY;USD;\n"}, {"139", "0\n"}, {"138", "0\n"}};
        s.loginBySessionResult = 0;
    };
    ASSERT_NE(session->login("u", "p", "tcp://h:1", "c"), 0);
    ASSERT_TRUE(ended());
    EXPECT_EQ(status->failures(), (std::vector<std::string>{"The price server refused the login."}));
    EXPECT_EQ(status->seen(), (Statuses{S::Connecting, S::Disconnected})) << "never Connected";
    EXPECT_TRUE(factory.wasFreed(trade())) << "Disconnected means disconnected";
}

TEST_F(FakeLogin, TheDirectPathBuildsRulesAndAnswersFromTheLogin)
{
    factory.prepare = [](FakeUserSession& s) {
        s.descriptors = {desk("ONLY")};
        s.userKind = 22;
        s.initialMessages = {{"3", "0\nBASE_CRNCY;EUR;\nCP_88;Y;\n"}, {"139", "0\n"}, {"138", "0\n"}};
    };
    ASSERT_NE(session->login("u", "p", "tcp://h:1", "c"), 0);
    ASSERT_TRUE(eventually([&] { return !status->seen().empty() && status->seen().back() == S::Connected; }));
    RefPtr<IZelLoginRules> rules = adoptRef(session->getLoginRules());
    ASSERT_TRUE(rules);
    RefPtr<IZelPermissionChecker> checker = adoptRef(rules->getPermissionChecker());
    ASSERT_TRUE(checker);
    EXPECT_EQ(checker->canCreateMarketOpenOrder(nullptr), 1) << "kind 22 reads the CP_ flags";
    EXPECT_FALSE(rules->isTableLoadedByDefault(ZelTable::Offers)) << "no offers answer came";
    RefPtr<IZelRequestFactory> requests = adoptRef(session->getRequestFactory());
    EXPECT_TRUE(requests);
}

} // namespace
} // namespace zel

namespace zel {
namespace {

class ReportUrl : public FakeLogin {
protected:
    void loginWith(const std::string& properties)
    {
        factory.prepare = [properties](FakeUserSession& s) {
            s.descriptors = {desk("ONLY")};
            s.initialMessages = {{"3", properties}, {"139", "0\n"}, {"138", "0\n"}};
        };
        ASSERT_NE(session->login("u", "p", "tcp://h:1", "c"), 0);
        ASSERT_TRUE(eventually([&] { return !status->seen().empty() && status->seen().back() == S::Connected; }));
    }
    std::string url(double from, double till, const char* format, const char* report, const char* language,
                    long codePage)
    {
        const int needed = session->getReportURL(nullptr, 0, nullptr, from, till, format, report, language, codePage);
        if (needed <= 0)
            return "error " + std::to_string(needed);
        std::string buffer(static_cast<size_t>(needed), '\0');
        const int written =
            session->getReportURL(&buffer[0], needed, nullptr, from, till, format, report, language, codePage);
        EXPECT_EQ(written, needed - 1);
        buffer.resize(static_cast<size_t>(written));
        // The cache breaker changes with the clock.
        const size_t un = buffer.find("&un=");
        const size_t next = buffer.find('&', un + 1);
        if (un != std::string::npos)
            buffer.replace(un, next - un, "&un=N");
        return buffer;
    }
};

double day(int y, int m, int d) { return vorntool::date::construct(uint16_t(y), uint16_t(m), uint16_t(d), 0, 0, 0, 0); }

TEST_F(ReportUrl, TheAddressOfTheStatement)
{
    EXPECT_EQ(session->getReportURL(nullptr, 0, nullptr, 0, 0, nullptr, nullptr, nullptr, 0), -3) << "not logged in";
    loginWith("0\nTRADER_REPORTS_URL;https://r/x?a=1;\n");
    EXPECT_EQ(url(0, 0, nullptr, nullptr, nullptr, 0),
              "https://r/x?a=1&S=S1&cn=ONLY&un=N&outFormat=html&from=so&till=now"
              "&report_name=REPORT_NAME_CUSTOMER_ACCOUNT_STATEMENT");
    // till before from is swapped; a code page in range is added.
    EXPECT_EQ(url(day(2026, 3, 5), day(2026, 1, 2), "pdf", "R", "en", 1251),
              "https://r/x?a=1&S=S1&cn=ONLY&cp=1251&lc=en&un=N&outFormat=pdf&from=1/2/2026&till=3/5/2026"
              "&report_name=R");
    EXPECT_EQ(url(day(2026, 3, 5), 0, nullptr, nullptr, nullptr, -4),
              "https://r/x?a=1&S=S1&cn=ONLY&un=N&outFormat=html&from=3/5/2026&till=now"
              "&report_name=REPORT_NAME_CUSTOMER_ACCOUNT_STATEMENT");
    // Values cannot add or change a query key.
    EXPECT_EQ(url(0, 0, "pdf #2", "a&b=c", "en&x=1", 0),
              "https://r/x?a=1&S=S1&cn=ONLY&lc=en%26x%3D1&un=N&outFormat=pdf%20%232&from=so&till=now"
              "&report_name=a%26b%3Dc");

    // A buffer of exactly the text's length is too small and stays as it was.
    const int needed = session->getReportURL(nullptr, 0, nullptr, 0, 0, nullptr, nullptr, nullptr, 0);
    std::string small(static_cast<size_t>(needed - 1), 'x');
    EXPECT_EQ(session->getReportURL(&small[0], needed - 1, nullptr, 0, 0, nullptr, nullptr, nullptr, 0), -2);
    EXPECT_EQ(small, std::string(static_cast<size_t>(needed - 1), 'x'));
}

TEST_F(ReportUrl, AnAddressWithoutQueryAndTheRefusals)
{
    loginWith("0\nREPORTS_URL;https://r/y;\n");
    EXPECT_EQ(url(0, 0, nullptr, nullptr, nullptr, 0).substr(0, 26), "https://r/y?S=S1&cn=ONLY&u");
    session->logout();
    EXPECT_EQ(session->getReportURL(nullptr, 0, nullptr, 0, 0, nullptr, nullptr, nullptr, 0), -3);
}

TEST_F(ReportUrl, NotAllowedOrNoAddressGivesMinusOne)
{
    loginWith("0\nTRADER_REPORTS_URL;https://r/x;\nTP_108;N;\n");
    EXPECT_EQ(session->getReportURL(nullptr, 0, nullptr, 0, 0, nullptr, nullptr, nullptr, 0), -1);
    session->logout();
    loginWith("0\nTP_108;Y;\n");
    EXPECT_EQ(session->getReportURL(nullptr, 0, nullptr, 0, 0, nullptr, nullptr, nullptr, 0), -1);
}

} // namespace
} // namespace zel

namespace zel {
namespace {

// The waiting path fed by hand: answers twice, out of order, unlisted or unreadable.
TEST_F(FakeLogin, InitialAnswersOutOfOrderTwiceOrUnreadableStillEndTheLogin)
{
    std::mutex sentMutex;
    std::vector<std::string> sent;
    factory.prepare = [&](FakeUserSession& s) {
        s.descriptors = {desk("ONLY")};
        s.onSend = [&](merrow::IMessage* m) {
            std::lock_guard<std::mutex> lock(sentMutex);
            sent.push_back(m->getValue(Fx::FLDTAG_TESTREQID) ? m->getValue(Fx::FLDTAG_TESTREQID) : "");
        };
    };
    ASSERT_NE(session->login("u", "p", "tcp://h:1", "c"), 0);
    ASSERT_TRUE(eventually([&] {
        std::lock_guard<std::mutex> lock(sentMutex);
        return sent.size() == 3;
    }));
    FakeUserSession* t = trade();
    // Commands 3, 139, 138 in that order; answered 138 first, then garbage for
    // 139, then 3 twice: the second answer of a command replaces the first.
    t->deliver(dasAnswer(sent[2], "0\n;;;\n\x01\x02").get());
    t->deliver(dasAnswer(sent[1], "0\nnot;an;instrument\n;;\n").get());
    EXPECT_EQ(status->seen(), (Statuses{S::Connecting})) << "not complete before every command has an answer";
    t->deliver(dasAnswer(sent[0], "0\nBASE_CRNCY;GBP;\n").get());
    ASSERT_TRUE(eventually([&] { return !status->seen().empty() && status->seen().back() == S::Connected; }));
    t->deliver(dasAnswer(sent[0], "0\nBASE_CRNCY;JPY;\n").get());  // late and unmatched: dropped
    EXPECT_EQ(status->seen(), (Statuses{S::Connecting, S::Connected}));
    RefPtr<IZelLoginRules> rules = adoptRef(session->getLoginRules());
    ASSERT_TRUE(rules) << "the waiting path builds rules too";
    RefPtr<IZelResponse> properties = adoptRef(rules->getSystemPropertiesResponse());
    ASSERT_TRUE(properties);
    EXPECT_STREQ(static_cast<Response*>(properties.get())->getResponse(), "0\nBASE_CRNCY;GBP;\n");
}

} // namespace
} // namespace zel
