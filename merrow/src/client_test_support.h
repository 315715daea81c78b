#pragma once
// Test helpers for the client side: a scripted server application, recording
// listeners and bounded waits. Included by the client tests only.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "client_runtime.h"
#include "merrow/connection_manager.h"
#include "merrow/fix_defs.h"
#include "merrow/server.h"
#include "vorntool/add_ref.h"

namespace merrow::testing {

constexpr auto kWait = std::chrono::seconds(10);

// A message of the service carrying a text, as the tests exchange them.
inline IMessage* textMessage(const std::string& text)
{
    IMessage* m = getMessageFactory()->createMessage(IFixDefs::MSGTYPE_QORARESPONSE);
    m->setValue(IFixDefs::FLDTAG_TEXT, text.c_str());
    return m;
}

inline std::string statusText(int code, int messageCode)
{
    return "status:" + std::to_string(code) + "/" + std::to_string(messageCode);
}

// One ordered log of what a session delivered: "msg:<text>" and "status:<code>/<msgcode>".
class Recorder {
public:
    void add(std::string event)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_events.push_back(std::move(event));
        m_cv.notify_all();
    }
    std::vector<std::string> events() const
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_events;
    }
    size_t count(const std::string& event) const
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        size_t n = 0;
        for (auto& e : m_events)
            n += e == event;
        return n;
    }
    // Waits until `event` has been recorded at least `times` times.
    bool waitFor(const std::string& event, size_t times = 1) const
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        return m_cv.wait_for(lock, kWait, [&] {
            size_t n = 0;
            for (auto& e : m_events)
                n += e == event;
            return n >= times;
        });
    }
    bool waitForSize(size_t n) const
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        return m_cv.wait_for(lock, kWait, [&] { return m_events.size() >= n; });
    }

private:
    mutable std::mutex m_mutex;
    mutable std::condition_variable m_cv;
    std::vector<std::string> m_events;
};

class MessageRecorder : public TThreadSafeAddRefImpl<IUserMessageListener> {
public:
    explicit MessageRecorder(std::shared_ptr<Recorder> log) : m_log(std::move(log)) {}
    std::function<void(IUserSession*, IMessage*)> onUpdate;
    void update(IUserSession* session, IMessage* message) override
    {
        const char* text = message->getValue(IFixDefs::FLDTAG_TEXT);
        m_log->add(std::string("msg:") + (text ? text : ""));
        if (onUpdate)
            onUpdate(session, message);
    }

private:
    std::shared_ptr<Recorder> m_log;
};

class StatusRecorder : public TThreadSafeAddRefImpl<IUserSessionStatusListener> {
public:
    explicit StatusRecorder(std::shared_ptr<Recorder> log) : m_log(std::move(log)) {}
    std::function<void(IUserSession*, ISessionStatus*)> onUpdate;
    void update(IUserSession* session, ISessionStatus* status) override
    {
        m_log->add(statusText(status->getStatusCode(), status->getMessageCode()));
        if (onUpdate)
            onUpdate(session, status);
    }

private:
    std::shared_ptr<Recorder> m_log;
};

// A dealing server in miniature: user "trader" with password "pw"; trading sessions
// "MAIN" (open), "CLOSED" (not available) and "PINNED" (PIN 1234); echoes every
// message back on the trading channel.
class ScriptedServer : public IServerApplication {
public:
    StationReply onHello(const HelloInfo& hello) override
    {
        if (hello.connectionName == "unknown")
            return StationReply::refuse("Unknown connection \"unknown\".");
        StationReply r;
        r.parameters = {{"version", "1.0.3"}};
        r.tradingSessions = {TradingSessionDesc("QORA", "MAIN", "Main", "The main desk", false),
                             TradingSessionDesc("QORA", "PINNED", "Pinned", "Needs a PIN", true)};
        std::lock_guard<std::mutex> lock(m_mutex);
        r.redirectUrl = redirect;
        return r;
    }

    LogonReply onLogon(const LogonInfo& logon) override
    {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            ++logons;
            lastLogon = logon;
        }
        if (logon.user != "trader" || logon.password != "pw")
            return LogonReply::reject("Invalid user name or password.");
        if (logon.tradingSessionSubId == "CLOSED")
            return LogonReply::reject("The trading session is not available.");
        if (logon.tradingSessionSubId == "PINNED") {
            if (logon.pin.empty())
                return LogonReply::reject("A PIN is required for this trading session.");
            if (logon.pin != "1234")
                return LogonReply::reject("Wrong PIN.");
        }
        LogonReply r;
        r.accepted = true;
        r.traderId = 77;
        r.userKind = 20;
        r.properties = {{"TransportProvider", "merrow-test"}};
        r.initialMessages = {{3, "initial-3"}, {139, "initial-139"}};
        return r;
    }

    void onSessionStarted(const ServerSessionPtr& session, bool resumed) override
    {
        std::function<void(const ServerSessionPtr&, bool)> hook;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            sessions.push_back(session);
            hook = onStarted;
        }
        m_cv.notify_all();
        if (hook)
            hook(session, resumed);
    }

    void onMessage(const ServerSessionPtr& session, const IMessage& message, int channel) override
    {
        const char* text = message.getValue(IFixDefs::FLDTAG_TEXT);
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            received.push_back(text ? text : "");
        }
        m_cv.notify_all();
        if (echo)
            (void)session->send(message);
    }

    std::vector<InitialMessageText> onResume(const ServerSessionPtr& session) override
    {
        std::function<void(const ServerSessionPtr&)> hook;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            hook = onResuming;
        }
        if (hook)
            hook(session);
        return {{3, "initial-3-resumed"}};
    }

    void onSessionEnded(const ServerSessionPtr& session, SessionEnd why, const std::string& text) override
    {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            ++ended;
        }
        m_cv.notify_all();
    }

    // Waits until the server has received `n` messages.
    bool waitReceived(size_t n)
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        return m_cv.wait_for(lock, kWait, [&] { return received.size() >= n; });
    }
    bool waitSessions(size_t n)
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        return m_cv.wait_for(lock, kWait, [&] { return sessions.size() >= n; });
    }
    ServerSessionPtr session(size_t i)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return i < sessions.size() ? sessions[i] : nullptr;
    }
    std::vector<std::string> receivedCopy()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return received;
    }
    LogonInfo lastLogonCopy()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return lastLogon;
    }
    void setOnStarted(std::function<void(const ServerSessionPtr&, bool)> hook)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        onStarted = std::move(hook);
    }
    int logonCount()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return logons;
    }

    std::mutex m_mutex;
    std::condition_variable m_cv;
    std::string redirect;
    std::atomic<bool> echo{true};
    int logons = 0;
    int ended = 0;
    LogonInfo lastLogon;
    std::vector<ServerSessionPtr> sessions;
    std::vector<std::string> received;
    std::function<void(const ServerSessionPtr&, bool)> onStarted;
    // Runs inside onResume, while the application builds the resume's snapshot.
    std::function<void(const ServerSessionPtr&)> onResuming;
};

// Sends a text message from the server on the trading channel.
inline void push(const ServerSessionPtr& session, const std::string& text,
                 int channel = IFixDefs::CHANNEL_TRADING_DATA)
{
    IMessage* m = textMessage(text);
    (void)session->send(*m, channel);
    freeMessage(m);
}

// Polls a condition with a bound (for state without a notification of its own).
inline bool eventually(const std::function<bool()>& condition)
{
    const auto end = std::chrono::steady_clock::now() + kWait;
    while (std::chrono::steady_clock::now() < end) {
        if (condition())
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return condition();
}

} // namespace merrow::testing
