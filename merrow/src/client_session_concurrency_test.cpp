// The client session against a real merrow::Server over loopback sockets: logon,
// status reports, held messages, reentrant listeners, reconnect and resume.

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <fstream>
#include <sstream>

#include "client_session.h"
#include "client_test_support.h"
#include "client_user_session.h"
#include "debug_log.h"
#include "merrow/generic_exception.h"
#include "testutil/fault_proxy.h"
#include "testutil/test_certs.h"

namespace merrow {
namespace {

using namespace merrow::testing;
using detail::ClientRuntime;
using Fx = IFixDefs;

const std::string kLoggedIn = statusText(Fx::STATUSCODE_LOGGEDIN, Fx::MSGCODE_CONNECTED);
const std::string kReconnecting = statusText(Fx::STATUSCODE_DISCONNECTED, Fx::MSGCODE_RECONNETING);
const std::string kClosed = statusText(Fx::STATUSCODE_DISCONNECTED, Fx::MSGCODE_SESSNCLOSED);
const std::string kExpired = statusText(Fx::STATUSCODE_EXPIRED, 0);
const std::string kReloginFailed = statusText(Fx::STATUSCODE_RELOGIN_FAILED, 0);

// Listens on a port that was free a moment ago; 0 on failure.
uint16_t listenOnFreePort(Server& server)
{
    for (int attempt = 0; attempt < 5; ++attempt) {
        uint16_t port = 0;
        {
            asio::io_context io;
            asio::ip::tcp::acceptor a(io, asio::ip::tcp::endpoint(asio::ip::make_address("127.0.0.1"), 0));
            port = a.local_endpoint().port();
        }
        if (server.listen("tcp://127.0.0.1:" + std::to_string(port)).ok())
            return port;
    }
    return 0;
}

class TransportEnvironment : public ::testing::Environment {
public:
    void SetUp() override { ConnectionManagerEx::init(1); }
    void TearDown() override { ConnectionManagerEx::finalize(1); }
};
const auto* const g_env = ::testing::AddGlobalTestEnvironment(new TransportEnvironment);

class ClientSessionTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        log = std::make_shared<Recorder>();
        messages = new MessageRecorder(log);
        statuses = new StatusRecorder(log);
        ServerOptions options;
        options.defaultHeartbeat = std::chrono::milliseconds(150);
        options.minHeartbeat = std::chrono::milliseconds(100);
        options.resumeWindow = resumeWindow;
        server = std::make_unique<Server>(app, options);
        port = listenOnFreePort(*server);
        ASSERT_NE(0, port);
        ASSERT_TRUE(server->start().ok());
        ClientRuntime::instance().update([](detail::ClientSettings& s) {
            s.heartbeatMs = 150;
            s.tcpTimeoutMs = 3000;
            s.reconnectAttempts = 10;
            s.reloginAttempts = 15;
        });
    }

    void TearDown() override
    {
        for (IUserSession* s : created)
            ConnectionManagerEx::freeObject(s);
        created.clear();
        if (server)
            server->stop();
        messages->release();
        statuses->release();
    }

    std::string url(uint16_t p = 0) const { return "tcp://127.0.0.1:" + std::to_string(p ? p : port); }

    IUserSession* create(const std::string& user = "trader", const std::string& password = "pw",
                         uint16_t p = 0, const std::string& connection = "demo")
    {
        IUserSession* s = ConnectionManagerEx::createUserSession(url(p).c_str(), connection.c_str(), user.c_str(),
                                                                 password.c_str(), "Pellora");
        created.push_back(s);
        return s;
    }

    void free(IUserSession* s)
    {
        created.erase(std::remove(created.begin(), created.end(), s), created.end());
        ConnectionManagerEx::freeObject(s);
    }

    // Loaded, MAIN selected, status listener on, logged in.
    IUserSession* loggedIn(uint16_t p = 0, bool withMessageListener = true)
    {
        IUserSession* s = create("trader", "pw", p);
        s->subscribe(statuses);
        if (withMessageListener)
            s->subscribe(messages);
        EXPECT_NE(0, s->loadStationDescriptor());
        s->setTradingSession(s->getTradingSessionDescs()[0]);
        EXPECT_EQ(1, s->login("EXTRA=3,139"));
        EXPECT_TRUE(log->waitFor(kLoggedIn));
        return s;
    }

    void sendText(IUserSession* s, const std::string& text)
    {
        IMessage* m = textMessage(text);
        EXPECT_EQ(1, s->send(m));
        freeMessage(m);
    }

    std::chrono::milliseconds resumeWindow{300000};
    ScriptedServer app;
    std::unique_ptr<Server> server;
    uint16_t port = 0;
    std::shared_ptr<Recorder> log;
    MessageRecorder* messages = nullptr;
    StatusRecorder* statuses = nullptr;
    std::vector<IUserSession*> created;
};

TEST_F(ClientSessionTest, LoginDeliversTheLogonDataAndEchoesArriveInOrder)
{
    IUserSession* s = create();
    s->subscribe(statuses);
    s->subscribe(messages);
    EXPECT_STREQ("", s->getSessionID());
    ASSERT_EQ(nullptr, s->getTradingSessionDescs()[0]);
    ASSERT_NE(0, s->loadStationDescriptor());
    EXPECT_STREQ("1.0.3", s->getStationParameter("version"));
    EXPECT_EQ(nullptr, s->getStationParameter("missing"));
    const TradingSessionDesc* const* descs = s->getTradingSessionDescs();
    ASSERT_NE(nullptr, descs[0]);
    ASSERT_NE(nullptr, descs[1]);
    EXPECT_EQ(nullptr, descs[2]);
    EXPECT_STREQ("MAIN", descs[0]->getSubID());
    EXPECT_TRUE(descs[1]->pinRequired());
    s->setTradingSession(descs[0]);
    EXPECT_STREQ("MAIN", s->getTradingSession()->getSubID());

    ASSERT_EQ(1, s->login("EXTRA=3,139"));
    EXPECT_STRNE("", s->getSessionID());
    EXPECT_EQ(77, s->getTraderID());
    EXPECT_EQ(20, s->getUserKind());
    EXPECT_STREQ("merrow-test", s->getSessionProperty("TransportProvider"));
    EXPECT_STREQ("initial-3", s->getInitialMessage("3"));
    EXPECT_STREQ("initial-139", s->getInitialMessage("139"));
    EXPECT_EQ(nullptr, s->getInitialMessage("9"));
    EXPECT_EQ("MAIN", app.lastLogonCopy().tradingSessionSubId);
    EXPECT_EQ("EXTRA=3,139", app.lastLogonCopy().extraParams);

    for (int i = 0; i < 50; ++i)
        sendText(s, "m" + std::to_string(i));
    ASSERT_TRUE(log->waitFor("msg:m49"));
    s->logout();
    ASSERT_TRUE(log->waitFor(kClosed));

    std::vector<std::string> expected{kLoggedIn};
    for (int i = 0; i < 50; ++i)
        expected.push_back("msg:m" + std::to_string(i));
    expected.push_back(kClosed);
    EXPECT_EQ(expected, log->events());
    IMessage* late = textMessage("late");
    EXPECT_EQ(0, s->send(late)) << "nothing is taken after logout";
    freeMessage(late);
}

TEST_F(ClientSessionTest, RejectedLogonRaisesTheServersTextUnchanged)
{
    struct Case {
        const char* password;
        int desc;  // index into the descriptor list, or -1 for a made-up one
        const char* subId;
        const char* extra;
        const char* text;
    };
    const Case cases[] = {
        {"wrong", 0, nullptr, "", "Invalid user name or password."},
        {"pw", -1, "CLOSED", "", "The trading session is not available."},
        {"pw", 1, nullptr, "EXTRA=3", "A PIN is required for this trading session."},
        {"pw", 1, nullptr, "EXTRA=3;PIN=9999", "Wrong PIN."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        IUserSession* s = create("trader", c.password);
        ASSERT_NE(0, s->loadStationDescriptor());
        TradingSessionDesc made("QORA", c.subId ? c.subId : "", "x", "x", false);
        s->setTradingSession(c.desc >= 0 ? s->getTradingSessionDescs()[c.desc] : &made);
        try {
            s->login(c.extra);
            ADD_FAILURE() << "login succeeded";
        } catch (const GenericException& e) {
            EXPECT_STREQ(c.text, e.getText());
        }
        free(s);
    }
    // The right PIN passes.
    IUserSession* s = create();
    ASSERT_NE(0, s->loadStationDescriptor());
    s->setTradingSession(s->getTradingSessionDescs()[1]);
    EXPECT_EQ(1, s->login("EXTRA=3;PIN=1234"));
}

TEST_F(ClientSessionTest, StationDescriptorFailuresAreZeroOrAPersonsText)
{
    EXPECT_THROW(ConnectionManagerEx::createUserSession("ftp://x:1", "demo", "u", "p", "a"), GenericException);
    try {
        ConnectionManagerEx::createUserSession("nonsense", "demo", "u", "p", "a");
        ADD_FAILURE();
    } catch (const GenericException& e) {
        EXPECT_NE(std::string::npos, std::string(e.getText()).find("nonsense")) << e.getText();
    }

    IUserSession* refused = create("trader", "pw", 0, "unknown");
    try {
        refused->loadStationDescriptor();
        ADD_FAILURE() << "unknown connection accepted";
    } catch (const GenericException& e) {
        EXPECT_STREQ("Unknown connection \"unknown\".", e.getText());
    }

    // A port nobody listens on: unreachable, so 0 and no exception.
    uint16_t closedPort = 0;
    {
        asio::io_context io;
        asio::ip::tcp::acceptor a(io, asio::ip::tcp::endpoint(asio::ip::make_address("127.0.0.1"), 0));
        closedPort = a.local_endpoint().port();
    }
    IUserSession* unreachable = create("trader", "pw", closedPort);
    EXPECT_EQ(0, unreachable->loadStationDescriptor());
}

TEST_F(ClientSessionTest, RedirectedDescriptorSendsTheLoginElsewhere)
{
    ScriptedServer otherApp;
    ServerOptions options;
    options.defaultHeartbeat = std::chrono::milliseconds(150);
    options.minHeartbeat = std::chrono::milliseconds(100);
    Server other(otherApp, options);
    const uint16_t otherPort = listenOnFreePort(other);
    ASSERT_NE(0, otherPort);
    ASSERT_TRUE(other.start().ok());
    {
        std::lock_guard<std::mutex> lock(app.m_mutex);
        app.redirect = url(otherPort);
    }
    IUserSession* s = loggedIn();
    EXPECT_EQ(0, app.logonCount());
    EXPECT_EQ(1, otherApp.logonCount());
    sendText(s, "there");
    EXPECT_TRUE(otherApp.waitReceived(1));
    free(s);
    other.stop();
}

// A descriptor fetched over TLS that names a plain address: the Logon there would
// carry the password in clear, so the redirect is refused and nothing logs on.
TEST_F(ClientSessionTest, RedirectFromTlsToPlainTcpIsRefused)
{
    const auto& certs = testutil::testCerts();
    ServerOptions options;
    options.defaultHeartbeat = std::chrono::milliseconds(150);
    options.minHeartbeat = std::chrono::milliseconds(100);
    Server secure(app, options);
    ASSERT_TRUE(secure.listen("tls://127.0.0.1:0", certs.serverCert, certs.serverKey).ok());
    ASSERT_TRUE(secure.start().ok());
    {
        std::lock_guard<std::mutex> lock(app.m_mutex);
        app.redirect = url();
    }
    ClientRuntime::instance().update([&](detail::ClientSettings& s) { s.caFile = certs.caFile; });
    const std::string tlsUrl = "tls://localhost:" + std::to_string(secure.boundPort());
    IUserSession* s = ConnectionManagerEx::createUserSession(tlsUrl.c_str(), "demo", "trader", "pw", "Pellora");
    created.push_back(s);
    std::string text;
    try {
        s->loadStationDescriptor();
    } catch (const GenericException& e) {
        text = e.getText();
    }
    ClientRuntime::instance().update([](detail::ClientSettings& s) { s.caFile.clear(); });
    EXPECT_NE(std::string::npos, text.find("insecure address")) << text;
    EXPECT_EQ(0, app.logonCount());
    secure.stop();
}

// A server that takes frames of at most 64 KiB says so at the logon: a larger send
// fails at once with a logged reason, instead of being journaled, cutting the
// connection and failing every resume; the session goes on.
TEST_F(ClientSessionTest, ASendAboveTheServersLimitFailsAndTheSessionGoesOn)
{
    ServerOptions options;
    options.defaultHeartbeat = std::chrono::milliseconds(150);
    options.minHeartbeat = std::chrono::milliseconds(100);
    options.maxReceivePayload = 64 * 1024;
    Server small(app, options);
    const uint16_t smallPort = listenOnFreePort(small);
    ASSERT_NE(0, smallPort);
    ASSERT_TRUE(small.start().ok());
    IUserSession* s = loggedIn(smallPort);
    IMessage* big = textMessage(std::string(100 * 1024, 'b'));
    EXPECT_EQ(0, s->send(big));
    freeMessage(big);
    sendText(s, "small");
    ASSERT_TRUE(log->waitFor("msg:small"));
    EXPECT_EQ((std::vector<std::string>{kLoggedIn, "msg:small"}), log->events());
    free(s);
    small.stop();
}

// A connection attempt that hangs (a TLS server that never answers the handshake)
// ends when the session is logged out, not when its 60 s timeout passes: its socket
// closes at once and it no longer holds the session.
TEST_F(ClientSessionTest, LogoutCancelsAConnectionAttemptUnderWay)
{
    asio::io_context io;
    asio::ip::tcp::acceptor acceptor(io, asio::ip::tcp::endpoint(asio::ip::make_address("127.0.0.1"), 0));
    const std::string silentUrl = "tls://127.0.0.1:" + std::to_string(acceptor.local_endpoint().port());
    ClientRuntime::instance().update([](detail::ClientSettings& s) { s.tcpTimeoutMs = 60000; });
    IUserSession* s = ConnectionManagerEx::createUserSession(silentUrl.c_str(), "demo", "trader", "pw", "Pellora");
    created.push_back(s);
    std::thread loader([s] {
        try {
            s->loadStationDescriptor();
        } catch (const GenericException&) {
        }
    });
    asio::ip::tcp::socket accepted(io);
    acceptor.accept(accepted);
    s->logout();
    loader.join();
    timeval tv{};
    tv.tv_sec = 10;
    ::setsockopt(accepted.native_handle(), SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    char buffer[4096];
    ssize_t n = 0;
    while ((n = ::recv(accepted.native_handle(), buffer, sizeof buffer, 0)) > 0) {
    }
    EXPECT_EQ(0, n) << "the attempt kept its socket open";
    ClientRuntime::instance().update([](detail::ClientSettings& s) { s.tcpTimeoutMs = 3000; });
}

TEST_F(ClientSessionTest, HeldMessagesGoToTheNextListenerAlsoAcrossASwap)
{
    app.setOnStarted([](const ServerSessionPtr& session, bool resumed) {
        for (int i = 1; i <= 3; ++i)
            push(session, "early" + std::to_string(i));
    });
    IUserSession* s = loggedIn(0, false);
    auto heldCount = [&] { return static_cast<detail::UserSession*>(s)->engine().delivery().heldCount(); };
    ASSERT_TRUE(eventually([&] { return heldCount() == 3; }));

    s->subscribe(messages);
    ASSERT_TRUE(log->waitFor("msg:early3"));
    s->unsubscribe(messages);
    push(app.session(0), "between1");
    push(app.session(0), "between2");
    ASSERT_TRUE(eventually([&] { return heldCount() == 2; }));

    auto log2 = std::make_shared<Recorder>();
    auto* second = new MessageRecorder(log2);
    s->subscribe(second);
    ASSERT_TRUE(log2->waitFor("msg:between2"));
    push(app.session(0), "after");
    ASSERT_TRUE(log2->waitFor("msg:after"));
    EXPECT_EQ((std::vector<std::string>{"msg:between1", "msg:between2", "msg:after"}), log2->events());
    EXPECT_EQ((std::vector<std::string>{kLoggedIn, "msg:early1", "msg:early2", "msg:early3"}), log->events());
    s->unsubscribe(second);
    second->release();
}

TEST_F(ClientSessionTest, TooManyHeldMessagesExpireTheSession)
{
    ClientRuntime::instance().update([](detail::ClientSettings& s) { s.holdMaxMessages = 3; });
    IUserSession* s = loggedIn(0, false);
    ClientRuntime::instance().update([](detail::ClientSettings& s) { s.holdMaxMessages = 65536; });
    ASSERT_TRUE(app.waitSessions(1));
    for (int i = 0; i < 5; ++i)
        push(app.session(0), "flood");
    ASSERT_TRUE(log->waitFor(kExpired));
    EXPECT_TRUE(eventually([&] { return app.session(0)->ended(); })) << "the client logged out";
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_EQ((std::vector<std::string>{kLoggedIn, kExpired}), log->events());
    (void)s;
}

// Counts its own destruction, so a test can see when the last reference went.
class GatedListener : public TThreadSafeAddRefImpl<IUserMessageListener> {
public:
    GatedListener(std::atomic<bool>& destroyed) : m_destroyed(destroyed) {}
    ~GatedListener() override { m_destroyed = true; }
    void update(IUserSession*, IMessage*) override
    {
        entered = true;
        while (!release_gate.load())
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        finished = true;
    }
    std::atomic<bool> entered{false};
    std::atomic<bool> release_gate{false};
    std::atomic<bool> finished{false};

private:
    std::atomic<bool>& m_destroyed;
};

TEST_F(ClientSessionTest, ListenerUnsubscribedDuringItsCallbackLivesUntilItReturns)
{
    IUserSession* s = loggedIn(0, false);
    std::atomic<bool> destroyed{false};
    auto* gated = new GatedListener(destroyed);
    s->subscribe(gated);
    sendText(s, "hold-me");
    ASSERT_TRUE(eventually([&] { return gated->entered.load(); }));
    s->unsubscribe(gated);  // from this thread, while the callback runs
    gated->release();       // the test's own reference
    EXPECT_FALSE(destroyed.load()) << "the callback's reference keeps it";
    // The callback still holds it; opening the gate lets it finish and go.
    // (Reading the listener after release is safe only because it is still alive.)
    gated->release_gate = true;
    ASSERT_TRUE(eventually([&] { return destroyed.load(); }));
}

TEST_F(ClientSessionTest, ListenersMaySendUnsubscribeLogoutAndFreeFromInsideCallbacks)
{
    IUserSession* s = loggedIn();
    std::atomic<int> round{0};
    messages->onUpdate = [&](IUserSession* session, IMessage* message) {
        const int n = ++round;
        if (n < 5) {
            IMessage* next = textMessage("again" + std::to_string(n));
            session->send(next);
            freeMessage(next);
        } else if (n == 5) {
            session->setMessageFilter(0);
            session->unsubscribe(messages);
            session->logout();
        }
    };
    sendText(s, "start");
    ASSERT_TRUE(log->waitFor(kClosed));
    EXPECT_EQ(5, round.load());
    EXPECT_EQ(1u, log->count("msg:again4"));

    // freeObject from inside a status callback: no callback after it, no crash.
    // Freed by its own callback, so the fixture does not keep it.
    IUserSession* t = ConnectionManagerEx::createUserSession(url().c_str(), "demo", "trader", "pw", "Pellora");
    auto log2 = std::make_shared<Recorder>();
    auto* st = new StatusRecorder(log2);
    std::atomic<int> after{0};
    st->onUpdate = [&](IUserSession* session, ISessionStatus* status) {
        if (status->getStatusCode() == Fx::STATUSCODE_LOGGEDIN) {
            session->reconnect();  // non-blocking, even on itself
            ConnectionManagerEx::freeObject(session);
        } else {
            ++after;
        }
    };
    t->subscribe(st);
    ASSERT_NE(0, t->loadStationDescriptor());
    t->setTradingSession(t->getTradingSessionDescs()[0]);
    ASSERT_EQ(1, t->login(""));
    ASSERT_TRUE(log2->waitFor(kLoggedIn));
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_EQ(0, after.load()) << "no callback starts after freeObject";
    st->release();
}

TEST_F(ClientSessionTest, BlockingCallsFromACallbackAreRefused)
{
    IUserSession* s = loggedIn();
    std::atomic<int> refused{0};
    std::string text;
    messages->onUpdate = [&](IUserSession* session, IMessage*) {
        try {
            session->login("");
        } catch (const GenericException& e) {
            text = e.getText();
            ++refused;
        }
        try {
            session->loadStationDescriptor();
        } catch (const GenericException&) {
            ++refused;
        }
        try {
            session->loginBySession("a", "b", "1", 0);
        } catch (const GenericException&) {
            ++refused;
        }
    };
    sendText(s, "go");
    ASSERT_TRUE(eventually([&] { return refused.load() == 3; }));
    EXPECT_NE(std::string::npos, text.find("callback of the same session")) << text;
}

TEST_F(ClientSessionTest, ServerEndingTheSessionMapsToItsStatus)
{
    struct Case {
        CloseReason reason;
        int code;
    };
    const Case cases[] = {
        {CloseReason::kNormal, Fx::STATUSCODE_EXPIRED},
        {CloseReason::kExpired, Fx::STATUSCODE_EXPIRED},
        {CloseReason::kShutdown, Fx::STATUSCODE_SHUTDOWN},
        {CloseReason::kForcedRelogin, Fx::STATUSCODE_FORCED_RELOGIN},
    };
    size_t n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.code);
        log = std::make_shared<Recorder>();
        auto* st = new StatusRecorder(log);
        IUserSession* s = create();
        s->subscribe(st);
        ASSERT_NE(0, s->loadStationDescriptor());
        s->setTradingSession(s->getTradingSessionDescs()[0]);
        ASSERT_EQ(1, s->login(""));
        ASSERT_TRUE(app.waitSessions(++n));
        app.session(n - 1)->close(c.reason, "bye");
        ASSERT_TRUE(log->waitFor(statusText(c.code, 0)));
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        EXPECT_EQ((std::vector<std::string>{kLoggedIn, statusText(c.code, 0)}), log->events())
            << "one report per event, no reconnect";
        free(s);
        st->release();
    }
}

TEST_F(ClientSessionTest, PeerClosingAfterSetClosingIsSessionClosed)
{
    IUserSession* s = loggedIn();
    ASSERT_TRUE(app.waitSessions(1));
    s->setClosing(1);
    app.session(0)->cut();
    ASSERT_TRUE(log->waitFor(kClosed));
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_EQ((std::vector<std::string>{kLoggedIn, kClosed}), log->events());
}

class ResumeRefusedTest : public ClientSessionTest {
protected:
    void SetUp() override
    {
        resumeWindow = std::chrono::milliseconds(1);
        ClientSessionTest::SetUp();
    }
};

TEST_F(ResumeRefusedTest, ResumeOfAForgottenSessionIsExpired)
{
    IUserSession* s = loggedIn();
    ASSERT_TRUE(app.waitSessions(1));
    app.session(0)->cut();
    ASSERT_TRUE(log->waitFor(kExpired));
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_EQ((std::vector<std::string>{kLoggedIn, kReconnecting, kExpired}), log->events());
    IMessage* m = textMessage("x");
    EXPECT_EQ(0, s->send(m));
    freeMessage(m);
}

class ProxiedTest : public ClientSessionTest {
protected:
    void SetUp() override
    {
        ClientSessionTest::SetUp();
        proxy = std::make_unique<testutil::FaultProxy>("127.0.0.1", port);
    }
    void TearDown() override
    {
        ClientSessionTest::TearDown();
        proxy.reset();
    }
    std::unique_ptr<testutil::FaultProxy> proxy;
};

TEST_F(ProxiedTest, CutConnectionResumesAndResentFramesComeBeforeLoggedIn)
{
    IUserSession* s = loggedIn(proxy->port());
    ASSERT_TRUE(app.waitSessions(1));
    ServerSessionPtr ss = app.session(0);
    proxy->refuseNew(true);
    proxy->cutAll();
    ASSERT_TRUE(log->waitFor(kReconnecting));
    // While cut: the server journals for the client, the client for the server.
    push(ss, "while-cut-1");
    push(ss, "while-cut-2");
    sendText(s, "from-client-while-cut");
    proxy->refuseNew(false);
    ASSERT_TRUE(log->waitFor(kLoggedIn, 2));
    ASSERT_TRUE(log->waitFor("msg:from-client-while-cut"));
    const auto events = log->events();
    auto at = [&](const std::string& e) { return std::find(events.begin(), events.end(), e) - events.begin(); };
    const auto secondLogin = std::find(events.begin() + 1, events.end(), kLoggedIn) - events.begin();
    EXPECT_LT(at(kReconnecting), at("msg:while-cut-1"));
    EXPECT_LT(at("msg:while-cut-1"), at("msg:while-cut-2"));
    EXPECT_LT(at("msg:while-cut-2"), secondLogin) << "resent frames first, then the resumed report";
    EXPECT_EQ(1u, log->count(kReconnecting));
    EXPECT_EQ(1u, log->count("msg:while-cut-2"));
    EXPECT_STREQ("initial-3-resumed", s->getInitialMessage("3"));
    EXPECT_TRUE(app.waitReceived(1));
    const auto received = app.receivedCopy();
    EXPECT_EQ(1, std::count(received.begin(), received.end(), "from-client-while-cut"));

    // reconnect() runs the same cycle.
    s->reconnect();
    ASSERT_TRUE(log->waitFor(kLoggedIn, 3));
    EXPECT_EQ(2u, log->count(kReconnecting));
}

// A fill pushed by another thread while the server builds the resume's snapshot is
// already in that snapshot: the client must see it after the resumed report, or the
// core's reload from the snapshot would undo it.
TEST_F(ProxiedTest, FramesSentWhileTheResumeSnapshotIsBuiltComeAfterLoggedIn)
{
    loggedIn(proxy->port());
    ASSERT_TRUE(app.waitSessions(1));
    {
        std::lock_guard<std::mutex> lock(app.m_mutex);
        app.onResuming = [](const ServerSessionPtr& session) {
            std::thread other([session] { push(session, "during-resume"); });
            other.join();
        };
    }
    proxy->cutAll();
    ASSERT_TRUE(log->waitFor("msg:during-resume"));
    const auto events = log->events();
    EXPECT_EQ((std::vector<std::string>{kLoggedIn, kReconnecting, kLoggedIn, "msg:during-resume"}), events);
}

// A logout or a filter change made while a resume is under way reaches the server
// on the new connection: the session ends there at once instead of staying open to
// a resume for minutes, and the filter applies.
TEST_F(ProxiedTest, LogoutAndFilterDuringAResumeGoOnTheNewConnection)
{
    for (const bool logout : {false, true}) {
        SCOPED_TRACE(logout ? "logout" : "filter");
        IUserSession* s = loggedIn(proxy->port());
        ASSERT_TRUE(app.waitSessions(logout ? 2 : 1));
        ServerSessionPtr ss = app.session(logout ? 1 : 0);
        {
            std::lock_guard<std::mutex> lock(app.m_mutex);
            app.onResuming = [s, logout](const ServerSessionPtr&) {
                if (logout)
                    s->logout();
                else
                    s->setMessageFilter(Fx::CHANNEL_MARKET_DATA);
            };
        }
        const size_t closedBefore = log->count(kClosed);
        proxy->cutAll();
        if (logout) {
            ASSERT_TRUE(log->waitFor(kClosed, closedBefore + 1));
            EXPECT_TRUE(eventually([&] { return ss->ended(); })) << "the server still keeps the session resumable";
        } else {
            EXPECT_TRUE(eventually([&] { return ss->filter() == Fx::CHANNEL_MARKET_DATA; }));
            EXPECT_FALSE(ss->ended());
        }
        {
            std::lock_guard<std::mutex> lock(app.m_mutex);
            app.onResuming = nullptr;
        }
        free(s);
        log = std::make_shared<Recorder>();
        messages->release();
        statuses->release();
        messages = new MessageRecorder(log);
        statuses = new StatusRecorder(log);
    }
}

TEST_F(ProxiedTest, ExhaustedAttemptsReportReloginFailedOnce)
{
    // The proxy accepts and then resets, so an attempt fails as a connect or as a
    // resume depending on timing: both bounds are small.
    ClientRuntime::instance().update([](detail::ClientSettings& s) {
        s.reconnectAttempts = 2;
        s.reloginAttempts = 2;
    });
    IUserSession* s = loggedIn(proxy->port());
    proxy->refuseNew(true);
    proxy->cutAll();
    ASSERT_TRUE(log->waitFor(kReloginFailed));
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_EQ((std::vector<std::string>{kLoggedIn, kReconnecting, kReloginFailed}), log->events());
    (void)s;
}

TEST_F(ProxiedTest, LogoutDuringReconnectStopsIt)
{
    IUserSession* s = loggedIn(proxy->port());
    proxy->refuseNew(true);
    proxy->cutAll();
    ASSERT_TRUE(log->waitFor(kReconnecting));
    s->logout();
    ASSERT_TRUE(log->waitFor(kClosed));
    const auto accepted = proxy->connectionsAccepted();
    proxy->refuseNew(false);
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    EXPECT_EQ(accepted, proxy->connectionsAccepted()) << "no attempt after logout";
    EXPECT_EQ((std::vector<std::string>{kLoggedIn, kReconnecting, kClosed}), log->events());
}

TEST_F(ProxiedTest, SendFailsWhenTheJournalWouldOverflowAndResumesAfterwards)
{
    ClientRuntime::instance().update([](detail::ClientSettings& s) { s.journalMaxFrames = 8; });
    IUserSession* s = loggedIn(proxy->port());
    ClientRuntime::instance().update([](detail::ClientSettings& s) { s.journalMaxFrames = 65536; });
    app.echo = false;
    // No acknowledgement comes back while the server's direction is held.
    proxy->stall(testutil::Direction::ServerToClient, true);
    int taken = 0;
    for (int i = 0; i < 9; ++i) {
        IMessage* m = textMessage("j" + std::to_string(i));
        taken += s->send(m);
        freeMessage(m);
    }
    EXPECT_EQ(8, taken);
    proxy->stall(testutil::Direction::ServerToClient, false);
    ASSERT_TRUE(app.waitReceived(8));
    EXPECT_TRUE(eventually([&] { return static_cast<detail::UserSession*>(s)->engine().journalSize() == 0; }));
    sendText(s, "after");
    EXPECT_TRUE(app.waitReceived(9));
}

TEST(ClientRuntimeTest, InitNestsAndTheTransportRunsTwoThreads)
{
    EXPECT_EQ(1, ConnectionManagerEx::init(1));
    EXPECT_EQ(2, ClientRuntime::instance().threadCount());
    ConnectionManagerEx::finalize(1);  // the environment's init still holds
    EXPECT_TRUE(ClientRuntime::instance().running());
    EXPECT_EQ(2, ClientRuntime::instance().threadCount());
}

// Freed on another thread while remove looks at it, a session's last owner is
// remove's own look-up; its destructor, which removes it in turn, runs after the
// registry's mutex is released.
TEST(ClientRuntimeTest, RemoveThatEndsAnotherSessionsLastOwnerDoesNotDeadlock)
{
    detail::ClientSessionConfig config;
    config.url = "tcp://127.0.0.1:1";
    auto a = detail::ClientSession::create(config);
    auto b = detail::ClientSession::create(config);
    detail::ClientSession* bRaw = b.get();
    ClientRuntime::instance().setTestHookAfterLock([&](detail::ClientSession* seen) {
        if (seen == bRaw)
            b.reset();
    });
    ClientRuntime::instance().remove(a.get());
    ClientRuntime::instance().setTestHookAfterLock(nullptr);
    EXPECT_EQ(nullptr, b);
    a.reset();
}

// A callback that creates and frees a session while finalize waits for the
// transport's threads to end: finalize holds its lock there, which the callback
// must not need.
TEST(ClientRuntimeTest, FinalizeWhileACallbackCreatesASessionDoesNotDeadlock)
{
    std::mutex m;
    std::condition_variable cv;
    bool stopping = false, created = false;
    asio::post(ClientRuntime::instance().io(), [&] {
        std::unique_lock<std::mutex> lock(m);
        cv.wait(lock, [&] { return stopping; });
        lock.unlock();
        IUserSession* s =
            ConnectionManagerEx::createUserSession("tcp://127.0.0.1:1", "demo", "trader", "pw", "Pellora");
        ConnectionManagerEx::freeObject(s);
        lock.lock();
        created = true;
    });
    ClientRuntime::instance().setTestHookStopping([&] {
        std::lock_guard<std::mutex> lock(m);
        stopping = true;
        cv.notify_all();
    });
    ConnectionManagerEx::finalize(1);  // the environment's: the threads stop
    ClientRuntime::instance().setTestHookStopping(nullptr);
    EXPECT_TRUE(created);
    EXPECT_FALSE(ClientRuntime::instance().running());
    EXPECT_EQ(1, ConnectionManagerEx::init(1));  // the environment's again
}

// A message callback that runs for many heart-beat intervals (here 6 × 150 ms: time
// passing is what is tested, the callback is held by a gate): its own session is not
// cut, since its link goes on with heart-beats, and sessions served by the same
// transport thread go on receiving meanwhile. Three sessions over two threads: the
// first and the third share one.
TEST_F(ClientSessionTest, ALongCallbackGetsNoSessionCutAndHoldsNoOtherSession)
{
    std::vector<IUserSession*> sessions;
    std::vector<std::shared_ptr<Recorder>> logs;
    std::vector<MessageRecorder*> listeners;
    std::vector<StatusRecorder*> statusListeners;
    std::mutex gateMutex;
    std::condition_variable gateCv;
    bool open = false, inside = false;
    for (int i = 0; i < 3; ++i) {
        logs.push_back(std::make_shared<Recorder>());
        listeners.push_back(new MessageRecorder(logs[i]));
        statusListeners.push_back(new StatusRecorder(logs[i]));
        IUserSession* s = create();
        s->subscribe(listeners[i]);
        s->subscribe(statusListeners[i]);
        ASSERT_NE(0, s->loadStationDescriptor());
        s->setTradingSession(s->getTradingSessionDescs()[0]);
        ASSERT_EQ(1, s->login(""));
        ASSERT_TRUE(logs[i]->waitFor(kLoggedIn));
        ASSERT_TRUE(app.waitSessions(static_cast<size_t>(i + 1)));
        sessions.push_back(s);
    }
    listeners[0]->onUpdate = [&](IUserSession*, IMessage* m) {
        const char* t = m->getValue(Fx::FLDTAG_TEXT);
        if (!t || std::string(t) != "block")
            return;
        std::unique_lock<std::mutex> lock(gateMutex);
        inside = true;
        gateCv.notify_all();
        gateCv.wait(lock, [&] { return open; });
    };
    app.echo = false;
    push(app.session(0), "block");
    {
        std::unique_lock<std::mutex> lock(gateMutex);
        ASSERT_TRUE(gateCv.wait_for(lock, kWait, [&] { return inside; }));
    }
    const auto heldUntil = std::chrono::steady_clock::now() + std::chrono::milliseconds(900);
    push(app.session(2), "meanwhile");
    push(app.session(1), "meanwhile");
    EXPECT_TRUE(logs[2]->waitFor("msg:meanwhile")) << "a session of the same thread was held";
    EXPECT_TRUE(logs[1]->waitFor("msg:meanwhile"));
    {
        std::unique_lock<std::mutex> lock(gateMutex);
        gateCv.wait_until(lock, heldUntil, [] { return false; });
        open = true;
        gateCv.notify_all();
    }
    push(app.session(0), "after");
    EXPECT_TRUE(logs[0]->waitFor("msg:after"));
    EXPECT_EQ((std::vector<std::string>{kLoggedIn, "msg:block", "msg:after"}), logs[0]->events());
    EXPECT_TRUE(app.session(0)->connected());
    for (auto* s : sessions)
        free(s);
    for (int i = 0; i < 3; ++i) {
        listeners[i]->release();
        statusListeners[i]->release();
    }
}

TEST_F(ClientSessionTest, MessageFilterReachesTheServerBeforeAndAfterLogon)
{
    IUserSession* s = create();
    s->subscribe(statuses);
    s->setMessageFilter(Fx::CHANNEL_MARKET_DATA);
    ASSERT_NE(0, s->loadStationDescriptor());
    s->setTradingSession(s->getTradingSessionDescs()[0]);
    ASSERT_EQ(1, s->login(""));
    ASSERT_TRUE(app.waitSessions(1));
    EXPECT_EQ(Fx::CHANNEL_MARKET_DATA, app.session(0)->filter());
    s->setMessageFilter(Fx::CHANNEL_TRADING_DATA);
    EXPECT_TRUE(eventually([&] { return app.session(0)->filter() == Fx::CHANNEL_TRADING_DATA; }));
}

// Records how many callbacks of two sessions run at once.
class OverlapProbe : public TThreadSafeAddRefImpl<IUserMessageListener> {
public:
    OverlapProbe(std::atomic<int>& inside, std::atomic<int>& worst, std::atomic<int>& total)
        : m_inside(inside), m_worst(worst), m_total(total)
    {
    }
    void update(IUserSession*, IMessage*) override
    {
        const int now = ++m_inside;
        int w = m_worst.load();
        while (now > w && !m_worst.compare_exchange_weak(w, now)) {
        }
        std::this_thread::sleep_for(std::chrono::microseconds(200));
        --m_inside;
        ++m_total;
    }

private:
    std::atomic<int>& m_inside;
    std::atomic<int>& m_worst;
    std::atomic<int>& m_total;
};

TEST_F(ClientSessionTest, PriceSessionLoggedInBySessionSharesTheTradeSessionsStrand)
{
    IUserSession* trade = loggedIn(0, false);
    IUserSession* price = ConnectionManagerEx::createUserSession(url().c_str(), "demo", "PriceServer", "", "",
                                                                 "Zel2", "");
    created.push_back(price);
    TradingSessionDesc qora("QORA", "demo", "demo", "demo", false);
    price->setTradingSession(&qora);
    ASSERT_NE(0, price->loadStationDescriptor());
    const std::string trader = std::to_string(trade->getTraderID());
    ASSERT_EQ(1, price->loginBySession(trade->getSessionID(), "MAIN", trader.c_str(), 0));

    std::atomic<int> inside{0}, worst{0}, total{0};
    auto* a = new OverlapProbe(inside, worst, total);
    auto* b = new OverlapProbe(inside, worst, total);
    trade->subscribe(a);
    price->subscribe(b);
    ASSERT_TRUE(app.waitSessions(2));
    for (int i = 0; i < 100; ++i) {
        push(app.session(0), "t");
        push(app.session(1), "p", Fx::CHANNEL_MARKET_DATA);
    }
    ASSERT_TRUE(eventually([&] { return total.load() == 200; }));
    EXPECT_EQ(1, worst.load()) << "callbacks of one login never overlap";
    trade->unsubscribe(a);
    price->unsubscribe(b);
    a->release();
    b->release();
}

// Records the texts it gets, in order; the first callback waits at a gate until the
// test opens it.
class GatedRecorder : public TThreadSafeAddRefImpl<IUserMessageListener> {
public:
    void update(IUserSession*, IMessage* m) override
    {
        const char* t = m->getValue(Fx::FLDTAG_TEXT);
        std::unique_lock<std::mutex> lock(m_mutex);
        m_texts.emplace_back(t ? t : "");
        m_cv.notify_all();
        if (m_texts.size() == 1)
            m_cv.wait(lock, [&] { return m_open; });
    }
    bool waitInside()
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        return m_cv.wait_for(lock, kWait, [&] { return !m_texts.empty(); });
    }
    void open()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_open = true;
        m_cv.notify_all();
    }
    bool waitCount(size_t n)
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        return m_cv.wait_for(lock, kWait * 3, [&] { return m_texts.size() >= n; });
    }
    std::vector<std::string> texts()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_texts;
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_cv;
    bool m_open = false;
    std::vector<std::string> m_texts;
};

// A price session delivers on its trade session's strand, here on the other transport
// thread, and its callback is held at a gate while the server streams prices: the
// messages waiting for it stay within the bound and one read (the link stops reading
// and the stream waits at the server), and once the callback returns every price
// arrives, in order, with the session never cut.
TEST_F(ClientSessionTest, APriceStreamForABlockedCallbackOnTheOtherThreadStaysBounded)
{
    constexpr size_t kBound = 128;
    // One read of 64 KiB holds at most this many of the frames below (40 bytes and more).
    constexpr size_t kOneRead = 65536 / 40;
    constexpr int kPrices = 20000;
    ClientRuntime::instance().update([&](detail::ClientSettings& s) { s.deliveryMaxMessages = kBound; });
    IUserSession* trade = loggedIn(0, false);
    // Created right after the trade session: the other of the two transport threads.
    IUserSession* price = ConnectionManagerEx::createUserSession(url().c_str(), "demo", "PriceServer", "", "",
                                                                 "Zel2", "");
    created.push_back(price);
    ClientRuntime::instance().update([](detail::ClientSettings& s) { s.deliveryMaxMessages = 1024; });
    auto priceLog = std::make_shared<Recorder>();
    auto* priceStatuses = new StatusRecorder(priceLog);
    price->subscribe(priceStatuses);
    TradingSessionDesc qora("QORA", "demo", "demo", "demo", false);
    price->setTradingSession(&qora);
    ASSERT_NE(0, price->loadStationDescriptor());
    const std::string trader = std::to_string(trade->getTraderID());
    ASSERT_EQ(1, price->loginBySession(trade->getSessionID(), "MAIN", trader.c_str(), 0));
    ASSERT_TRUE(app.waitSessions(2));
    detail::ClientDelivery& delivery = static_cast<detail::UserSession*>(price)->engine().delivery();

    auto* gated = new GatedRecorder;
    price->subscribe(gated);
    for (int i = 0; i < kPrices; ++i)
        push(app.session(1), "p" + std::to_string(i), Fx::CHANNEL_MARKET_DATA);
    ASSERT_TRUE(gated->waitInside());
    ASSERT_TRUE(eventually([&] { return delivery.holdsStarted() > 0; })) << "the link never stopped reading";
    EXPECT_LE(delivery.peakQueuedCount(), kBound + kOneRead);
    gated->open();

    ASSERT_TRUE(gated->waitCount(kPrices));
    const std::vector<std::string> texts = gated->texts();
    ASSERT_EQ(size_t(kPrices), texts.size());
    for (int i = 0; i < kPrices; ++i)
        ASSERT_EQ("p" + std::to_string(i), texts[i]) << "lost or out of order at " << i;
    EXPECT_LE(delivery.peakQueuedCount(), kBound + kOneRead);
    EXPECT_TRUE(app.session(1)->connected());
    EXPECT_EQ((std::vector<std::string>{kLoggedIn}), priceLog->events()) << "the price session was cut";
    price->unsubscribe(gated);
    price->unsubscribe(priceStatuses);
    gated->release();
    priceStatuses->release();
}

TEST_F(ClientSessionTest, DebugLogHidesPasswordsAndResumeTokens)
{
    const std::string file = ::testing::TempDir() + "merrow_debug_" + std::to_string(::getpid()) + ".log";
    std::remove(file.c_str());
    ConnectionManagerEx::setDebug(1);
    ConnectionManagerEx::setDebugLogFile(file.c_str());
    IUserSession* s = create("trader", "pw");
    s->subscribe(statuses);
    ASSERT_NE(0, s->loadStationDescriptor());
    s->setTradingSession(s->getTradingSessionDescs()[1]);
    ASSERT_EQ(1, s->login("EXTRA=3;PIN=1234"));
    sendText(s, "logged-text");
    ASSERT_TRUE(app.waitReceived(1));
    ConnectionManagerEx::setDebugLogFile(nullptr);
    ConnectionManagerEx::setDebug(0);

    std::ifstream in(file);
    std::stringstream all;
    all << in.rdbuf();
    const std::string text = all.str();
    std::remove(file.c_str());
    EXPECT_NE(std::string::npos, text.find("type=A")) << "the Logon is logged";
    EXPECT_NE(std::string::npos, text.find("logged-text"));
    EXPECT_NE(std::string::npos, text.find("9531=***"));
    EXPECT_NE(std::string::npos, text.find("9541=***")) << "the LogonAck's resume token";
    EXPECT_EQ(std::string::npos, text.find("=pw|")) << "the password itself never";
    EXPECT_EQ(std::string::npos, text.find("PIN=1234"));
    EXPECT_NE(std::string::npos, text.find("PIN=***"));
}

} // namespace
} // namespace merrow
