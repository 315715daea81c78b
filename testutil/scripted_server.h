#pragma once
// A dealing server played from tables, for transport and SDK tests: it answers the
// station descriptor of each connection name and the logons of each user from what
// the test wrote down, records every application message it receives, and lets the
// test push, close or cut any session. It stands on merrow::Server, so everything
// the real server does (journals, resume, heart-beats, rate limits) is in force.
//
// [Threading] Every operation may be called from any thread, also from the hooks;
// the hooks run on the server's I/O threads (see merrow::IServerApplication), never
// under a lock of this class. Waits are bounded by the timeout given.
// [Lifetime] The server stops in the destructor (or in stop()): sessions still open
// get a shutdown Logout.

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "merrow/server.h"

namespace testutil {

// The descriptor of one connection name.
struct StationScript {
    std::vector<merrow::NameValuePair> parameters{{"version", "1.0"}};
    std::vector<merrow::TradingSessionDesc> tradingSessions;
    std::string redirectUrl;
    // Non-empty: the Hello is refused with this text.
    std::string refusalText;
};

// The answer to the logons of one user (and, optionally, one trading session).
struct LogonScript {
    std::string password;
    // Non-empty: the logon must carry this PIN.
    std::string pin;
    // Non-empty: the logon is refused with this text once the credentials matched.
    std::string rejectText;
    int64_t traderId = 1;
    int userKind = 0;
    std::vector<merrow::NameValuePair> properties{{"TransportProvider", "scripted"}};
    std::vector<merrow::InitialMessageText> initialMessages;
    // The initial messages a resume brings; empty: initialMessages again.
    std::vector<merrow::InitialMessageText> resumeInitialMessages;
};

// One application message the server received, copied.
struct ReceivedMessage {
    std::string sessionId;
    int channel = 0;
    std::shared_ptr<merrow::IMessage> message;
    // Shortcuts into the message: FLDTAG_TEXT ("" when absent), FLDTAG_QORACOMMANDID.
    std::string text;
    int64_t number = 0;
};

class ScriptedServer {
public:
    struct Options {
        merrow::ServerOptions server;
        // False: received messages are only counted (and handed to onMessage), for
        // streams too long to keep.
        bool recordMessages = true;
        Options();
    };

    explicit ScriptedServer(Options options = Options());
    ~ScriptedServer();
    ScriptedServer(const ScriptedServer&) = delete;
    ScriptedServer& operator=(const ScriptedServer&) = delete;

    // Tables; may change while running (later Hellos and logons see the change).
    // Connection "*" answers every name without an entry of its own; a name without
    // either is refused with "Unknown connection 'name'.".
    void setStation(const std::string& connectionName, StationScript script);
    // Trading-session sub-ID "" answers every trading session of the user without an
    // entry of its own. A user without an entry, or a wrong password, is refused with
    // "Invalid user name or password."; a selected trading session that the
    // connection's descriptor does not list with "The trading session is not
    // available."; a missing or wrong PIN with "A PIN is required for this trading
    // session." or "Wrong PIN.".
    void setLogon(const std::string& user, LogonScript script, const std::string& tradingSessionSubId = "");

    // Listens on 127.0.0.1 at a free port (TLS with the PEM files); returns the
    // port, 0 on failure. Before or after start().
    uint16_t listenPlain();
    uint16_t listenTls(const std::string& certFile, const std::string& keyFile);
    // "tcp://127.0.0.1:port" and "tls://localhost:port" of the listeners opened.
    std::string plainUrl() const;
    std::string tlsUrl() const;

    bool start();
    // Server::stop with the reason; idempotent.
    void stop(merrow::CloseReason reason = merrow::CloseReason::kShutdown,
              const std::string& text = "The server is shutting down.");
    merrow::Server& server() { return *m_server; }

    // Sessions in the order they were first started (resumes do not add one).
    std::vector<merrow::ServerSessionPtr> sessions() const;
    // The n-th session started, waiting for it; null when none came in time.
    merrow::ServerSessionPtr waitForSession(size_t index, std::chrono::milliseconds timeout) const;

    // Pushes a copy of the message; a text message of MSGTYPE_QORARESPONSE with
    // FLDTAG_TEXT and FLDTAG_QORACOMMANDID (number) for the second form.
    merrow::Status push(const merrow::ServerSessionPtr& session, const merrow::IMessage& message,
                        int channel = merrow::IFixDefs::CHANNEL_TRADING_DATA,
                        const std::string& conflationKey = std::string());
    merrow::Status pushText(const merrow::ServerSessionPtr& session, const std::string& text, int64_t number = 0,
                            int channel = merrow::IFixDefs::CHANNEL_TRADING_DATA,
                            const std::string& conflationKey = std::string());
    static void close(const merrow::ServerSessionPtr& session, merrow::CloseReason reason, const std::string& text);
    static void cut(const merrow::ServerSessionPtr& session);

    // What arrived.
    size_t receivedCount() const;
    std::vector<ReceivedMessage> received() const;
    bool waitForReceived(size_t count, std::chrono::milliseconds timeout) const;
    std::vector<merrow::HelloInfo> hellos() const;
    std::vector<merrow::LogonInfo> logons() const;
    // Session events so far: starts (resumed ones apart), cuts, ends.
    size_t startedCount() const;
    size_t resumedCount() const;
    size_t cutCount() const;
    size_t endedCount() const;
    std::vector<merrow::SessionEnd> endReasons() const;
    bool waitForResumed(size_t count, std::chrono::milliseconds timeout) const;
    bool waitForEnded(size_t count, std::chrono::milliseconds timeout) const;

    // Hooks, run after the event was recorded; may be set or cleared (empty) at any
    // time, a callback already started still runs the old one.
    using MessageHook = std::function<void(const merrow::ServerSessionPtr&, const merrow::IMessage&, int)>;
    using StartedHook = std::function<void(const merrow::ServerSessionPtr&, bool resumed)>;
    using CutHook = std::function<void(const merrow::ServerSessionPtr&, const std::string& reason)>;
    void setOnMessage(MessageHook hook);
    void setOnStarted(StartedHook hook);
    void setOnCut(CutHook hook);

private:
    class App;
    template <class Pred>
    bool waitUntil(std::chrono::milliseconds timeout, Pred pred) const;

    mutable std::mutex m_mutex;
    mutable std::condition_variable m_changed;
    std::map<std::string, StationScript> m_stations;
    std::map<std::pair<std::string, std::string>, LogonScript> m_logons;
    std::vector<ReceivedMessage> m_received;
    size_t m_receivedCount = 0;
    std::vector<merrow::HelloInfo> m_hellos;
    std::vector<merrow::LogonInfo> m_logonsSeen;
    std::vector<merrow::ServerSessionPtr> m_sessions;
    size_t m_resumed = 0;
    size_t m_cuts = 0;
    std::vector<merrow::SessionEnd> m_ends;
    std::vector<uint16_t> m_plainPorts;
    std::vector<uint16_t> m_tlsPorts;
    bool m_recordMessages;
    std::shared_ptr<const MessageHook> m_onMessage;
    std::shared_ptr<const StartedHook> m_onStarted;
    std::shared_ptr<const CutHook> m_onCut;

    std::unique_ptr<App> m_app;
    std::unique_ptr<merrow::Server> m_server;
};

// A copy of a message (every field, groups included); freed by the shared pointer.
std::shared_ptr<merrow::IMessage> copyMessage(const merrow::IMessage& message);

} // namespace testutil
