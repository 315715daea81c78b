#pragma once
// The server side of the transport: merrow::Server accepts connections on one or more
// endpoints, runs the session protocol (Hello, Logon, heart-beats, resume, Logout) and
// hands the application what it must decide or handle through IServerApplication.
//
// Sessions: a logged-on client is a ServerSession. Its trading-channel messages are
// numbered and journaled until the client acknowledges them; a session whose
// connection drops (or is cut()) stays resumable for ServerOptions::resumeWindow, and a
// client that comes back within it gets everything it missed on the trading channel,
// flagged as resent, before ResendComplete and the fresh initial messages. Market-data
// messages are never journaled; while more than conflateAbove frames wait for a slow
// client, a market-data message replaces the waiting one of its conflation key.
//
// Ownership: sessions are handed out as std::shared_ptr<ServerSession>; holding one
// keeps the object (not the connection) alive, and every operation on an ended session
// is harmless (send fails with a reason, close and cut do nothing).

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "merrow/fix_defs.h"
#include "merrow/merrow_export.h"
#include "merrow/message.h"
#include "merrow/status.h"
#include "merrow/trading_session_desc.h"

namespace merrow {

struct NameValuePair {
    std::string name;
    std::string value;
};

// The answer text of one command number listed after "EXTRA=" in the logon's extra
// parameters; the client caches it for getInitialMessage.
struct InitialMessageText {
    int64_t commandNumber = 0;
    std::string text;
};

// How the server ends a session; the client reports each as the status code named.
enum class CloseReason {
    kNormal,         // STATUSCODE_EXPIRED: the session is over (an administrator's logout)
    kExpired,        // STATUSCODE_EXPIRED
    kShutdown,       // STATUSCODE_SHUTDOWN
    kForcedRelogin,  // STATUSCODE_FORCED_RELOGIN
};

// Why a session ended, as told to IServerApplication::onSessionEnded.
enum class SessionEnd {
    kClosedByServer,    // ServerSession::close() or Server::stop()
    kClientLogout,      // the client sent Logout
    kResumeWindowPassed,// cut, and not resumed in time
    kJournalOverflow,   // the client acknowledged too little for too long
};

struct HelloInfo {
    int64_t protocolVersion = 0;
    std::string connectionName;
    std::string stationKind;  // "" or "PriceServer"
    std::string applicationName;
    std::string peerAddress;  // "ip:port"
};

// The station descriptor for a Hello, or a refusal whose text the client raises as
// its error ("Unknown connection 'X'.").
struct StationReply {
    std::vector<NameValuePair> parameters;  // at least "version"
    std::vector<TradingSessionDesc> tradingSessions;
    std::string redirectUrl;  // empty: the client logs in on this server
    bool refused = false;
    std::string refusalText;

    static StationReply refuse(std::string text)
    {
        StationReply r;
        r.refused = true;
        r.refusalText = std::move(text);
        return r;
    }
};

struct LogonInfo {
    std::string connectionName;
    std::string stationKind;
    std::string applicationName;
    std::string user;
    std::string password;
    std::string tradingSessionId;
    std::string tradingSessionSubId;
    std::string pin;
    std::string extraParams;  // "EXTRA=3,139,..." and anything else the client sent
    std::string peerAddress;
    // loginBySession: the trade session's identity instead of user and password.
    bool bySession = false;
    std::string bySessionId;
    std::string bySessionSubId;
    int64_t bySessionTraderId = 0;
};

// Accept with the session's data, or reject with a text for a person ("Invalid user
// name or password.").
struct LogonReply {
    bool accepted = false;
    std::string rejectText;
    int64_t traderId = 0;
    int userKind = 0;
    std::vector<NameValuePair> properties;  // at least "TransportProvider"
    std::vector<InitialMessageText> initialMessages;

    static LogonReply reject(std::string text)
    {
        LogonReply r;
        r.rejectText = std::move(text);
        return r;
    }
};

class MERROW_API ServerSession {
public:
    // Sends on CHANNEL_TRADING_DATA (numbered, journaled, resent after a resume) or
    // CHANNEL_MARKET_DATA (dropped while the session has no connection; conflated by
    // key, a symbol say, while the client is behind; an empty key never conflates).
    // The message is copied: the caller keeps and frees its own. A channel the client
    // filtered out is dropped with success. Fails when the session has ended, the
    // frame would exceed maxPayload(), or the journal overflows (the session then
    // expires). Any thread.
    virtual Status send(const IMessage& message, int channel = IFixDefs::CHANNEL_TRADING_DATA,
                        const std::string& conflationKey = std::string()) = 0;
    // Ends the session: what is queued is sent, then Logout(reason, text), then the
    // connection closes. Does nothing once ended. Any thread.
    virtual void close(CloseReason reason, const std::string& text) = 0;
    // Drops the connection without a Logout; the session stays resumable. Any thread.
    virtual void cut() = 0;

    // Channels (CHANNEL_* bits) the client asked not to receive.
    virtual int filter() const = 0;
    // The current connection's peer ("ip:port"), or the last one while cut.
    virtual std::string peerAddress() const = 0;
    virtual const std::string& user() const = 0;
    virtual const std::string& sessionId() const = 0;
    virtual int64_t traderId() const = 0;
    virtual int userKind() const = 0;
    // The logon as the client sent it (password removed).
    virtual const LogonInfo& logon() const = 0;
    // True while a connection is attached (false when cut, resuming or ended).
    virtual bool connected() const = 0;
    virtual bool ended() const = 0;
    // The largest payload the client accepts; a reply that would not fit must be
    // answered with a failure text instead.
    virtual uint32_t maxPayload() const = 0;
    // Frames waiting to be written, and market-data frames conflated so far.
    virtual size_t queuedFrames() const = 0;
    virtual uint64_t conflatedFrames() const = 0;

    // An object of the application's own, kept with the session (null at first).
    virtual void setContext(std::shared_ptr<void> context) = 0;
    virtual std::shared_ptr<void> context() const = 0;

    ServerSession(const ServerSession&) = delete;
    ServerSession& operator=(const ServerSession&) = delete;

protected:
    ServerSession() = default;
    virtual ~ServerSession() = default;
};

using ServerSessionPtr = std::shared_ptr<ServerSession>;

// What the server asks of, and tells, the application.
// [Threading] Callbacks run on the server's I/O threads. Those of one connection
// (onHello, onLogon*) run one at a time, and those of one session (onSessionStarted,
// onMessage, onResume, onSessionCut, onSessionEnded) run one at a time and in order;
// different connections and sessions run in parallel. onSessionEnded is the last
// callback of a session.
// [Locking] The server holds none of its locks during a callback.
// [Reentrancy] A callback may call every ServerSession operation (on any session) and
// every Server operation but stop(); none of them waits for a callback.
// [Exceptions] An exception escaping onHello or onLogon* refuses that client with
// "The server could not handle the request."; one escaping another callback is
// logged and otherwise ignored. Nothing unwinds through the server.
class MERROW_API IServerApplication {
public:
    // The station descriptor for a Hello.
    virtual StationReply onHello(const HelloInfo& hello) = 0;
    // A fresh logon with credentials; called after the rate limit has let it through.
    virtual LogonReply onLogon(const LogonInfo& logon) = 0;
    // A loginBySession logon. The server has already checked that tradeSession is a
    // live session of the trader named; the default accepts with that session's trader
    // ID and user kind.
    virtual LogonReply onLogonBySession(const LogonInfo& logon, const ServerSessionPtr& tradeSession);
    // The session is logged on (resumed = false) or resumed; the application may
    // push from here on (fresh market-data snapshots after a resume, say).
    virtual void onSessionStarted(const ServerSessionPtr& session, bool resumed);
    // One application message from the client, in order, duplicates already dropped.
    virtual void onMessage(const ServerSessionPtr& session, const IMessage& message, int channel) = 0;
    // A resume: the journal has been resent; the returned texts (the initial messages
    // of the logon's command numbers, as they stand now) follow in ResendComplete.
    virtual std::vector<InitialMessageText> onResume(const ServerSessionPtr& session);
    // The connection was lost or cut; the session waits for a resume.
    virtual void onSessionCut(const ServerSessionPtr& session, const std::string& reason);
    virtual void onSessionEnded(const ServerSessionPtr& session, SessionEnd why, const std::string& text) = 0;

protected:
    IServerApplication() = default;
    virtual ~IServerApplication() = default;
};

struct ServerOptions {
    // I/O threads.
    int threads = 2;
    // Heart-beat interval before a logon, and the bounds of the one a client asks for.
    std::chrono::milliseconds defaultHeartbeat{10000};
    std::chrono::milliseconds minHeartbeat{100};
    std::chrono::milliseconds maxHeartbeat{60000};
    // A connection that has not logged on by then is dropped.
    std::chrono::milliseconds logonTimeout{60000};
    // How long a cut session can be resumed.
    std::chrono::milliseconds resumeWindow{300000};
    // TLS handshake bound.
    std::chrono::milliseconds tlsHandshakeTimeout{30000};
    // Payload limits: of the frames this server accepts, and of those its clients
    // accept (no frame above it is built).
    uint32_t maxReceivePayload = 64u << 20;
    uint32_t maxSendPayload = 64u << 20;
    // Journal bound per session; passing it expires the session.
    size_t journalMaxFrames = 65536;
    size_t journalMaxBytes = size_t(64) << 20;
    // Market-data conflation starts above this many waiting frames.
    size_t conflateAbove = 1000;
    // Failed logons allowed per user and per address within the window; an attempt
    // counts as it starts, so logons arriving together get no more checks than this.
    size_t maxLogonFailures = 5;
    std::chrono::milliseconds logonFailureWindow{10000};
    // Bounds against peers that have not logged on: the largest frame taken before
    // the logon (a Hello and a Logon take a few hundred bytes), and how many such
    // connections may be open at once (a new one beyond it is told so and closed).
    // Each holds at most about 6 times maxPayloadBeforeLogon in buffers.
    uint32_t maxPayloadBeforeLogon = 16u << 10;
    size_t maxConnectionsBeforeLogon = 256;
    // Per connection, bytes waiting in its own send queue (station descriptor,
    // heart-beats, TestRequest answers): above readPauseBytes it stops reading the
    // peer until they are written; above maxQueuedBytes (0: maxSendPayload plus
    // readPauseBytes) the connection is closed.
    size_t readPauseBytes = size_t(1) << 20;
    size_t maxQueuedBytes = 0;
    // One line per notable event (logon, reject, cut, resume, end, protocol error);
    // called from I/O threads, never under a server lock. Null: quiet.
    std::function<void(const std::string&)> log;
};

class MERROW_API Server {
public:
    // The application outlives the server.
    explicit Server(IServerApplication& app, ServerOptions options = ServerOptions());
    // stop(), if still running.
    ~Server();
    Server(const Server&) = delete;
    Server& operator=(const Server&) = delete;

    // Listens on "tcp://host:port" or "tls://host:port" (certFile and keyFile: PEM
    // files, required for tls). Port 0 takes a free port (see boundPort). Before or
    // after start(); not after stop().
    Status listen(const std::string& url, const std::string& certFile = std::string(),
                  const std::string& keyFile = std::string());
    // The port of the index-th successful listen(), 0 when there is none.
    uint16_t boundPort(size_t index = 0) const;

    // Starts the I/O threads; once.
    Status start();
    // Closes the listeners, ends every session with Logout(reason, text) (bounded
    // wait for the Logouts to leave), and joins the threads. Must not be called from
    // a callback. Idempotent.
    void stop(CloseReason reason = CloseReason::kShutdown, const std::string& text = "The server is shutting down.");

    // Live (not ended) sessions, resumable ones included.
    std::vector<ServerSessionPtr> sessions() const;
    ServerSessionPtr findSession(const std::string& sessionId) const;
    // Open connections, logged on or not.
    size_t connectionCount() const;
    const ServerOptions& options() const;

    struct Impl;

private:
    std::shared_ptr<Impl> m_impl;
};

} // namespace merrow
