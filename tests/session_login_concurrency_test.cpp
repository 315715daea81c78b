// Logging in through the session object over the real transport, against the
// scripted server: statuses in order, every failure text, the version check, the
// trading-session choice and the PIN. The scripted server carries no trade desk, so
// here a login ends at the opening of the trade session (recorded by the session's
// seam); tests/login_e2e_test.cpp logs in to Connected against the dealer.

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "core/session/session_test_support.h"
#include "core/session/zel_session.h"
#include "merrow/connection_manager.h"
#include "testutil/scripted_server.h"

namespace {

using zel::RefPtr;
using zel::adoptRef;
using zel::testing::StatusRecorder;
using S = IZelSessionStatus;
using Statuses = std::vector<int>;
using namespace std::chrono_literals;

constexpr auto kWait = 20s;

// The session with its trade-session opening recorded instead of a trade desk.
class RecordingSession : public zel::CZelSession {
public:
    std::mutex mutex;
    std::condition_variable changed;
    int opened = 0;
    std::string openedSubID;

    bool waitOpened()
    {
        std::unique_lock<std::mutex> lock(mutex);
        return changed.wait_for(lock, kWait, [&] { return opened > 0; });
    }

protected:
    ~RecordingSession() override = default;
    int onSessionOpened(merrow::IUserSession* session) override
    {
        std::lock_guard<std::mutex> lock(mutex);
        ++opened;
        const merrow::TradingSessionDesc* d = session->getTradingSession();
        openedSubID = d ? d->getSubID() : "";
        changed.notify_all();
        return 0;
    }
};

// Waits until the recorder has seen a status; the login worker tells it.
bool waitFor(StatusRecorder& r, int status)
{
    const auto until = std::chrono::steady_clock::now() + kWait;
    while (std::chrono::steady_clock::now() < until) {
        for (int s : r.seen())
            if (s == status)
                return true;
        std::this_thread::sleep_for(2ms);
    }
    return false;
}

merrow::TradingSessionDesc desk(const char* sub, bool pin = false)
{
    return merrow::TradingSessionDesc("QORA", sub, sub, "desk", pin);
}

class SessionLogin : public ::testing::Test {
protected:
    void SetUp() override
    {
        merrow::ConnectionManagerEx::setTcpTimeout(3000);
        station(desk("MAIN"));
        testutil::LogonScript logon;
        logon.password = "pw";
        server.setLogon("trader", logon);
        ASSERT_NE(server.listenPlain(), 0);
        ASSERT_TRUE(server.start());
        session = adoptRef(new RecordingSession());
        status = adoptRef(new StatusRecorder());
        session->subscribeSessionStatus(status.get());
    }
    void TearDown() override
    {
        session.reset();
        merrow::ConnectionManagerEx::setTcpTimeout(180000);
    }
    void station(std::vector<merrow::TradingSessionDesc> descs, const char* version = "1.0")
    {
        testutil::StationScript script;
        script.parameters.clear();
        if (version)
            script.parameters.push_back({"version", version});
        script.tradingSessions = std::move(descs);
        server.setStation("*", script);
    }
    void station(merrow::TradingSessionDesc d, const char* version = "1.0") { station(std::vector{d}, version); }
    int login(const char* password = "pw", const std::string& url = "")
    {
        return session->login("trader", password, url.empty() ? server.plainUrl().c_str() : url.c_str(), "desk");
    }
    // The failure text, once Disconnected has followed it.
    std::string failure()
    {
        if (!waitFor(*status, S::Disconnected))
            return "(no Disconnected)";
        std::vector<std::string> f = status->failures();
        return f.empty() ? "(no onLoginFailed)" : f.back();
    }

    testutil::ScriptedServer server;
    RefPtr<RecordingSession> session;
    RefPtr<StatusRecorder> status;
};

TEST_F(SessionLogin, ReachesTheTradeSessionWithOneDescriptorChosenAlone)
{
    EXPECT_NE(login(), 0);
    ASSERT_TRUE(session->waitOpened());
    EXPECT_EQ(status->seen(), (Statuses{S::Connecting})) << "one descriptor without PIN: nobody is asked";
    EXPECT_EQ(session->openedSubID, "MAIN");
    ASSERT_EQ(server.logons().size(), 1u);
    EXPECT_EQ(server.logons()[0].extraParams, "EXTRA=3,139,9,5,138") << "no PIN without a descriptor asking";

    EXPECT_EQ(login(), S::Connecting) << "a second login while busy returns the status";
    session->logout();  // before the trade desk: nothing to do
    EXPECT_EQ(status->seen(), (Statuses{S::Connecting}));
    RefPtr<IZelSessionDescriptorCollection> descs = adoptRef(session->getTradingSessionDescriptors());
    ASSERT_TRUE(descs);
    EXPECT_EQ(descs->size(), 1);

    // The session can still be closed from the inside, as a loss would.
    session->communicator().closeSession(true);
    EXPECT_EQ(session->communicator().getTradeSession(), nullptr);
    EXPECT_EQ(session->getTradingSessionDescriptors(), nullptr);
    EXPECT_TRUE(server.waitForEnded(1, kWait));
}

TEST_F(SessionLogin, TwoDescriptorsAskTheApplicationWhichAnswersFromItsCallback)
{
    station({desk("MAIN"), desk("DEMO")});
    status->onStatus = [this](int s) {
        if (s != S::TradingSessionRequested)
            return;
        RefPtr<IZelSessionDescriptorCollection> descs = adoptRef(session->getTradingSessionDescriptors());
        RefPtr<IZelSessionDescriptor> second = adoptRef(descs->get(1));
        session->setTradingSession(second->getID(), nullptr);
    };
    login();
    ASSERT_TRUE(session->waitOpened());
    EXPECT_EQ(status->seen(), (Statuses{S::Connecting, S::TradingSessionRequested}));
    EXPECT_EQ(session->openedSubID, "DEMO");
}

TEST_F(SessionLogin, PinIsAddedOnlyWhenTheChosenDescriptorRequiresOne)
{
    station(desk("MAIN", true));
    testutil::LogonScript logon;
    logon.password = "pw";
    logon.pin = "4711";
    server.setLogon("trader", logon);
    status->onStatus = [this](int s) {
        if (s == S::TradingSessionRequested)
            session->setTradingSession("MAIN", "4711");
    };
    login();
    ASSERT_TRUE(session->waitOpened());
    EXPECT_EQ(status->seen(), (Statuses{S::Connecting, S::TradingSessionRequested}));
    EXPECT_EQ(server.logons().back().extraParams, "EXTRA=3,139,9,5,138;PIN=4711");
}

TEST_F(SessionLogin, NoAnswerToTheQuestionIsTheWrongSystemId)
{
    station({desk("MAIN"), desk("DEMO")});
    login();
    EXPECT_EQ(failure(), "The wrong system id is specified.");
    EXPECT_EQ(status->seen(), (Statuses{S::Connecting, S::TradingSessionRequested, S::Disconnected}));
    EXPECT_EQ(session->getTradingSessionDescriptors(), nullptr) << "released with the failed login";
}

TEST_F(SessionLogin, VersionCheck)
{
    struct Case {
        const char* version;
        bool passes;
    } cases[] = {{"1.0.3", true}, {"1.0.4", false}, {"1.1.0", false}, {"0.9.9", true}, {"1.0", true},
                 {nullptr, true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.version ? c.version : "(none)");
        station(desk("MAIN"), c.version);
        session = adoptRef(new RecordingSession());
        status = adoptRef(new StatusRecorder());
        session->subscribeSessionStatus(status.get());
        login();
        if (c.passes) {
            EXPECT_TRUE(session->waitOpened());
        } else {
            EXPECT_EQ(failure(), "The minimum required version of Pellora API is '" + std::string(c.version) +
                                     "'. Please update your Pellora API.");
            EXPECT_EQ(status->seen(), (Statuses{S::Connecting, S::Disconnected}));
        }
    }
}

TEST_F(SessionLogin, FailuresGiveTheirTextThenDisconnectedAndAllowANewLogin)
{
    login("wrong");
    EXPECT_EQ(failure(), "Invalid user name or password.");
    EXPECT_EQ(status->seen(), (Statuses{S::Connecting, S::Disconnected}));

    // The server is gone: nobody listens on its port any more.
    const std::string url = server.plainUrl();
    server.stop();
    status = adoptRef(new StatusRecorder());
    session->subscribeSessionStatus(status.get());
    EXPECT_NE(login("pw", url), 0) << "a new login is accepted after a failure";
    EXPECT_EQ(failure(), "Can't connected to server " + url + ".");
}

// A listener that accepts and then does what the test says: say nothing, close at
// once, or send bytes that are no frame.
class RogueServer {
public:
    enum class Mode { Silent, Close, Garbage };
    explicit RogueServer(Mode mode) : m_mode(mode)
    {
        m_fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(m_fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
        ::listen(m_fd, 4);
        socklen_t len = sizeof a;
        ::getsockname(m_fd, reinterpret_cast<sockaddr*>(&a), &len);
        m_port = ntohs(a.sin_port);
        m_thread = std::thread([this] { serve(); });
    }
    ~RogueServer()
    {
        m_stop = true;
        ::shutdown(m_fd, SHUT_RDWR);
        ::close(m_fd);
        m_thread.join();
        for (int c : m_clients)
            ::close(c);
    }
    std::string url() const { return "tcp://127.0.0.1:" + std::to_string(m_port); }

private:
    void serve()
    {
        while (!m_stop) {
            const int c = ::accept(m_fd, nullptr, nullptr);
            if (c < 0)
                return;
            if (m_mode == Mode::Close) {
                ::close(c);
                continue;
            }
            if (m_mode == Mode::Garbage) {
                const char junk[] = "HTTP/1.1 200 OK\r\n\r\n\xff\xfe garbage that is no frame";
                (void)!::write(c, junk, sizeof junk);
            }
            m_clients.push_back(c);
        }
    }
    Mode m_mode;
    int m_fd = -1;
    uint16_t m_port = 0;
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
    std::vector<int> m_clients;
};

TEST_F(SessionLogin, ServersThatMisbehaveEndTheLoginWithATextWithinTheTimeout)
{
    for (auto mode : {RogueServer::Mode::Silent, RogueServer::Mode::Close, RogueServer::Mode::Garbage}) {
        SCOPED_TRACE(static_cast<int>(mode));
        RogueServer rogue(mode);
        status = adoptRef(new StatusRecorder());
        session = adoptRef(new RecordingSession());
        session->subscribeSessionStatus(status.get());
        const auto start = std::chrono::steady_clock::now();
        login("pw", rogue.url());
        const std::string text = failure();
        EXPECT_FALSE(text.empty());
        EXPECT_NE(text, "(no Disconnected)");
        EXPECT_NE(text, "(no onLoginFailed)");
        EXPECT_LT(std::chrono::steady_clock::now() - start, 15s) << "bounded by the transport timeout";
        EXPECT_EQ(status->seen().back(), S::Disconnected);
    }
}

TEST_F(SessionLogin, ReleasingTheSessionInsideItsOwnCallbackOnTheWorkerIsSafe)
{
    // The application's only reference goes inside onLoginFailed, on the login
    // worker's thread; the session must outlive that callback and then go.
    std::atomic<bool> released{false};
    RecordingSession* raw = session.get();
    session->addRef();
    session.reset();
    status->onFailure = [&](const char*) {
        raw->release();
        released = true;
    };
    raw->login("trader", "wrong", server.plainUrl().c_str(), "desk");
    ASSERT_TRUE(waitFor(*status, S::Disconnected));
    EXPECT_TRUE(released);
    // Nothing to observe but the absence of a crash or a leak (LeakSanitizer).
    std::this_thread::sleep_for(200ms);
}

} // namespace
