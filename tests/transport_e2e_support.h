#pragma once
// Shared pieces of the transport scenarios: a client-side event log fed by the
// public listener interfaces, and a fixture with a scripted server that knows user
// "trader" (password "pw") on trading session QORA/MAIN.

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "client_runtime.h"
#include "merrow/merrow.h"
#include "testutil/scripted_server.h"
#include "vorntool/add_ref.h"

namespace transport_e2e {

using Fx = merrow::IFixDefs;
using Clock = std::chrono::steady_clock;
constexpr std::chrono::milliseconds kWait{20000};
constexpr int kHeartbeatMs = 150;

struct StatusEvent {
    int code = 0;
    int messageCode = 0;
    std::string reason;
    Clock::time_point at;
};

// What one client session delivered, in delivery order: status reports, and the
// FLDTAG_QORACOMMANDID numbers of the messages split by message type.
class EventLog {
public:
    void addStatus(const merrow::ISessionStatus& s)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_statuses.push_back({s.getStatusCode(), s.getMessageCode(), s.getReasonText(), Clock::now()});
        m_changed.notify_all();
    }
    void addMessage(merrow::IMessage& m)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        const std::string type = m.getMsgType();
        const int64_t n = m.getIntValue(Fx::FLDTAG_QORACOMMANDID);
        if (type == Fx::MSGTYPE_MARKETDATASNAPSHOTFULLREFRESH)
            m_marketData.push_back(n);
        else
            m_trading.push_back(n);
        m_changed.notify_all();
    }
    size_t count(int code, int messageCode) const
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return countLocked(code, messageCode);
    }
    bool waitFor(int code, int messageCode, size_t times = 1, std::chrono::milliseconds timeout = kWait) const
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        return m_changed.wait_for(lock, timeout, [&] { return countLocked(code, messageCode) >= times; });
    }
    bool waitForTrading(size_t n, std::chrono::milliseconds timeout = kWait) const
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        return m_changed.wait_for(lock, timeout, [&] { return m_trading.size() >= n; });
    }
    bool waitForMarketData(size_t n, std::chrono::milliseconds timeout = kWait) const
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        return m_changed.wait_for(lock, timeout, [&] { return m_marketData.size() >= n; });
    }
    std::vector<StatusEvent> statuses() const
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_statuses;
    }
    std::vector<int64_t> trading() const
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_trading;
    }
    std::vector<int64_t> marketData() const
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_marketData;
    }

private:
    size_t countLocked(int code, int messageCode) const
    {
        return static_cast<size_t>(std::count_if(m_statuses.begin(), m_statuses.end(), [&](const StatusEvent& e) {
            return e.code == code && e.messageCode == messageCode;
        }));
    }

    mutable std::mutex m_mutex;
    mutable std::condition_variable m_changed;
    std::vector<StatusEvent> m_statuses;
    std::vector<int64_t> m_trading;
    std::vector<int64_t> m_marketData;
};

class MessageSink : public TThreadSafeAddRefImpl<merrow::IUserMessageListener> {
public:
    explicit MessageSink(std::shared_ptr<EventLog> log) : m_log(std::move(log)) {}
    void update(merrow::IUserSession*, merrow::IMessage* message) override { m_log->addMessage(*message); }

private:
    std::shared_ptr<EventLog> m_log;
};

class StatusSink : public TThreadSafeAddRefImpl<merrow::IUserSessionStatusListener> {
public:
    explicit StatusSink(std::shared_ptr<EventLog> log) : m_log(std::move(log)) {}
    void update(merrow::IUserSession*, merrow::ISessionStatus* status) override { m_log->addStatus(*status); }

private:
    std::shared_ptr<EventLog> m_log;
};

// One client session with its listeners; freed (and its listeners released) at the end.
struct Client {
    merrow::IUserSession* session = nullptr;
    std::shared_ptr<EventLog> log = std::make_shared<EventLog>();
    MessageSink* messages = new MessageSink(log);
    StatusSink* statuses = new StatusSink(log);

    Client(const std::string& url, const std::string& user = "trader", const std::string& password = "pw",
           const std::string& connection = "demo")
    {
        session = merrow::ConnectionManagerEx::createUserSession(url.c_str(), connection.c_str(), user.c_str(),
                                                                 password.c_str(), "Pellora");
        session->subscribe(statuses);
        session->subscribe(messages);
    }
    ~Client()
    {
        merrow::ConnectionManagerEx::freeObject(session);
        messages->release();
        statuses->release();
    }
    Client(const Client&) = delete;
    Client& operator=(const Client&) = delete;

    // Loads the descriptor, selects its first trading session and logs in.
    bool login(const char* extra = "")
    {
        if (session->loadStationDescriptor() == 0 || !session->getTradingSessionDescs()[0])
            return false;
        session->setTradingSession(session->getTradingSessionDescs()[0]);
        return session->login(extra) == 1 && log->waitFor(Fx::STATUSCODE_LOGGEDIN, Fx::MSGCODE_CONNECTED);
    }
    // A request with its number; 1 when taken.
    int send(int64_t number)
    {
        merrow::IMessage* m = merrow::getMessageFactory()->createMessage(Fx::MSGTYPE_QORAREQUEST);
        m->setIntValue(Fx::FLDTAG_QORACOMMANDID, number);
        const int taken = session->send(m);
        merrow::freeMessage(m);
        return taken;
    }
};

inline testutil::StationScript mainStation()
{
    testutil::StationScript s;
    s.parameters = {{"version", "1.0.3"}};
    s.tradingSessions = {merrow::TradingSessionDesc("QORA", "MAIN", "Main", "The main desk", false)};
    return s;
}

inline testutil::LogonScript traderLogon()
{
    testutil::LogonScript l;
    l.password = "pw";
    l.traderId = 77;
    l.userKind = 20;
    l.properties = {{"TransportProvider", "merrow-e2e"}};
    l.initialMessages = {{3, "initial-3"}};
    l.resumeInitialMessages = {{3, "initial-3-resumed"}};
    return l;
}

class TransportEnvironment : public ::testing::Environment {
public:
    void SetUp() override { merrow::ConnectionManagerEx::init(1); }
    void TearDown() override { merrow::ConnectionManagerEx::finalize(1); }
};

// A running scripted server on a plain port, and client settings for tests: short
// heart-beats and timeouts. Settings changed by a test are put back afterwards.
class TransportScenario : public ::testing::Test {
protected:
    void SetUp() override
    {
        merrow::detail::ClientRuntime::instance().update([](merrow::detail::ClientSettings& s) {
            s.heartbeatMs = kHeartbeatMs;
            s.tcpTimeoutMs = 5000;
            s.reconnectAttempts = 10;
            s.reloginAttempts = 15;
        });
        server = makeServer();
        port = server->listenPlain();
        ASSERT_NE(0, port);
        ASSERT_TRUE(server->start());
    }
    void TearDown() override
    {
        server.reset();
        merrow::detail::ClientRuntime::instance().update(
            [](merrow::detail::ClientSettings& s) { s = merrow::detail::ClientSettings(); });
    }

    static std::unique_ptr<testutil::ScriptedServer> makeServer(
        testutil::ScriptedServer::Options options = testutil::ScriptedServer::Options())
    {
        auto s = std::make_unique<testutil::ScriptedServer>(std::move(options));
        s->setStation("*", mainStation());
        s->setLogon("trader", traderLogon());
        return s;
    }
    static std::string tcpUrl(uint16_t p) { return "tcp://127.0.0.1:" + std::to_string(p); }

    std::unique_ptr<testutil::ScriptedServer> server;
    uint16_t port = 0;
};

} // namespace transport_e2e
