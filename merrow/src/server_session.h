#pragma once
// The inside of merrow::Server: the server core (Server::Impl), one ServerConnection
// per accepted socket, and one ServerSessionImpl per logged-on session.
//
// A connection handles the handshake (Hello, Logon) on its link's strand; once logged
// on it forwards every frame and link hook to its session. A session outlives its
// connections: cut, it keeps its journal and numbering for the resume window, and a
// resume attaches the new connection. The session's application callbacks run on the
// strand of the connection attached at the time; a resume waits for the old
// connection's onClosed (its last callback) before it goes on, so callbacks of one
// session never overlap.
//
// [Locking] Server::Impl::mutex guards the registries and the rate limiter; each
// session's own mutex guards its journal, sequencer, queue and state. The order is
// session mutex, then core mutex, then a link's own mutex; never the reverse. No lock
// is held while the application is called.

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include <asio.hpp>

#include "admin_protocol.h"
#include "inbound_sequencer.h"
#include "journal.h"
#include "link.h"
#include "logon_rate_limiter.h"
#include "merrow/server.h"
#include "outbound_queue.h"
#include "tls_server.h"

namespace merrow {
namespace detail {
class ServerConnection;
class ServerSessionImpl;
} // namespace detail

struct Server::Impl : std::enable_shared_from_this<Server::Impl> {
    Impl(IServerApplication& app, ServerOptions options);
    ~Impl();

    struct Listener {
        explicit Listener(detail::Strand s) : strand(s), acceptor(s), retry(s) {}
        detail::Strand strand;
        asio::ip::tcp::acceptor acceptor;
        // Accept errors (descriptors exhausted, say): the next accept waits, longer
        // each time up to a bound, and the log gets one line per interval.
        asio::steady_timer retry;
        std::chrono::milliseconds backoff{0};
        std::chrono::steady_clock::time_point lastErrorLog{};
        uint64_t errorsSinceLog = 0;
        std::shared_ptr<detail::TlsServerContext> tls;
        uint16_t port = 0;
        std::string url;
    };

    void accept(Listener& listener);
    void onAcceptError(Listener& listener, const asio::error_code& ec);
    // A connection that has not logged on stops counting against the bound.
    void leftBeforeLogon();
    void onAccepted(Listener& listener, detail::Strand strand, std::unique_ptr<detail::ByteStream> stream);
    void removeConnection(detail::ServerConnection* connection);
    void removeSession(const std::string& id, const detail::ServerSessionImpl* session);
    void sessionEndReported();
    void log(const std::string& line) const;
    detail::LinkOptions linkOptions() const;

    IServerApplication& app;
    const ServerOptions options;
    const detail::Clock& clock;
    // Declared first so that they are destroyed last: everything below may hold their
    // executors. One context per I/O thread, each run by its thread alone: a context
    // shared by several threads wakes a second thread for every readiness event.
    // Connections are spread over them in turn; io (the first) also runs the
    // listeners and the sessions' timers.
    // moreIos outlives io: an accept pending on io holds a socket of one of them.
    std::vector<std::unique_ptr<asio::io_context>> moreIos;
    asio::io_context io{1};
    std::atomic<unsigned> nextIo{0};
    std::vector<asio::executor_work_guard<asio::io_context::executor_type>> work;
    asio::io_context& pickIo();
    std::vector<std::thread> threads;
    std::vector<std::unique_ptr<Listener>> listeners;

    mutable std::mutex mutex;
    std::condition_variable drained;
    std::unordered_map<detail::ServerConnection*, std::shared_ptr<detail::ServerConnection>> connections;
    std::unordered_map<std::string, std::shared_ptr<detail::ServerSessionImpl>> sessions;
    detail::LogonRateLimiter limiter;
    size_t pendingEnds = 0;  // sessions ended whose onSessionEnded has not run yet
    size_t beforeLogon = 0;  // open connections that have not logged on
    bool started = false;
    bool stopping = false;
    bool stopped = false;
};

namespace detail {

// For tests: called with each new session right after it is published (from then on
// findSession finds it and the application may send through it), on an I/O thread
// with no lock held. Null: nothing. Set while no server runs.
void setTestHookSessionPublished(std::function<void(const ServerSessionPtr&)> hook);

// Wraps a call into the application: nothing it throws unwinds through the server.
template <class F>
bool guarded(const Server::Impl& core, const char* what, F&& f)
{
    try {
        f();
        return true;
    } catch (const std::exception& e) {
        core.log(std::string("application ") + what + " failed: " + e.what());
    } catch (...) {
        core.log(std::string("application ") + what + " failed");
    }
    return false;
}

class ServerConnection final : public LinkHandler, public std::enable_shared_from_this<ServerConnection> {
public:
    ServerConnection(Server::Impl& core, std::string address);

    void start(std::shared_ptr<Link> link);
    const std::shared_ptr<Link>& link() const { return m_link; }
    const std::string& address() const { return m_address; }
    // Strand only: the session frames are forwarded to from now on; the peer has
    // logged on, and the limits of the unauthenticated no longer apply.
    void bind(std::shared_ptr<ServerSessionImpl> session);
    // Counted against maxConnectionsBeforeLogon until bound or closed.
    void countBeforeLogon() { m_countedBeforeLogon = true; }
    // Strand only: tells the peer why and closes.
    void cutWithText(const std::string& text, const std::string& reason);
    // A log line about this connection; a few per interval, the rest counted.
    void log(const std::string& line);
    // Strand only: a refusal and then close.
    void refuseLogon(const std::string& text, bool expired);
    // After the threads are joined: drop the references that hold executors.
    void release();
    // Strand only: the logon timeout passed.
    void onLogonTimeout();

    // LinkHandler
    void onFrame(Link& link, wire::Frame frame) override;
    void onClosed(Link& link, const std::string& reason) override;
    uint64_t currentLastReceived() override;
    void onAckSent() override;
    bool bareAckDue() override;
    std::optional<TimePoint> ackDeadline() override;
    void takeFrames(FrameSink& sink, size_t maxBytes) override;

private:
    void handshake(wire::Frame frame);
    void onHello(const IMessage& message);
    void onLogon(const IMessage& message);

    Server::Impl& m_core;
    std::string m_address;  // the peer's IP, the rate limiter's key
    std::shared_ptr<Link> m_link;
    std::shared_ptr<ServerSessionImpl> m_session;  // strand only
    bool m_loggingOff = false;                     // strand only: refused, closing
    bool m_helloAnswered = false;                  // strand only
    bool m_countedBeforeLogon = false;             // strand only
    std::chrono::steady_clock::time_point m_logWindow{};
    int m_logLines = 0;
    uint64_t m_logDropped = 0;
};

class ServerSessionImpl final : public ServerSession, public std::enable_shared_from_this<ServerSessionImpl> {
public:
    ServerSessionImpl(const std::shared_ptr<Server::Impl>& core, std::string id, std::string token, LogonInfo logon,
                      const LogonReply& reply, std::chrono::milliseconds heartbeat);
    ~ServerSessionImpl() override;

    // ServerSession
    Status send(const IMessage& message, int channel, const std::string& conflationKey) override;
    void close(CloseReason reason, const std::string& text) override;
    void cut() override;
    int filter() const override;
    std::string peerAddress() const override;
    const std::string& user() const override { return m_logon.user; }
    const std::string& sessionId() const override { return m_id; }
    int64_t traderId() const override { return m_traderId; }
    int userKind() const override { return m_userKind; }
    const LogonInfo& logon() const override { return m_logon; }
    bool connected() const override;
    bool ended() const override;
    uint32_t maxPayload() const override { return m_sendLimits.maxPayload; }
    size_t queuedFrames() const override;
    uint64_t conflatedFrames() const override;
    void setContext(std::shared_ptr<void> context) override;
    std::shared_ptr<void> context() const override;

    const std::string& token() const { return m_token; }

    // From the connection, on its strand.
    void attachFresh(const std::shared_ptr<ServerConnection>& connection, const admin::Logon& logon,
                     const std::vector<InitialMessageText>& initialMessages);
    void requestResume(const std::shared_ptr<ServerConnection>& connection, const admin::Logon& logon);
    void onFrame(Link& link, wire::Frame frame);
    void onLinkClosed(Link& link, const std::string& reason);
    uint64_t lastReceived(Link& link);
    void ackSent(Link& link);
    bool bareAckDue(Link& link);
    std::optional<TimePoint> ackDeadline(Link& link);
    void takeFrames(Link& link, FrameSink& sink, size_t maxBytes);

    // Server::stop(): ends the session like close().
    void shutdown(CloseReason reason, const std::string& text) { close(reason, text); }
    // After the threads are joined.
    void release();

private:
    enum class State { kLive, kDetached, kEnded };

    void continueResume(const std::shared_ptr<ServerConnection>& connection, const admin::Logon& logon);
    // Caller holds m_mutex. Marks the session ended; the report follows once no
    // connection can deliver any more (reportEnd).
    void endLocked(SessionEnd why, const std::string& text);
    void reportEnd();
    void armExpiryLocked();
    void onExpiry(uint64_t generation);
    Status queueAdminLocked(const IMessage& message);
    void logoutLocked(admin::LogoutReason reason, const std::string& text);
    void abortLink(const std::shared_ptr<Link>& link, const std::string& reason);
    std::shared_ptr<Server::Impl> core() const { return m_core.lock(); }
    // Caller holds m_mutex: the queue's size for queuedFrames().
    void queueChangedLocked() { m_queuedFrames.store(m_queue.size(), std::memory_order_relaxed); }

    std::weak_ptr<Server::Impl> m_core;
    const std::string m_id;
    const std::string m_token;
    const LogonInfo m_logon;
    const int64_t m_traderId;
    const int m_userKind;
    const std::vector<NameValuePair> m_properties;
    const wire::Limits m_sendLimits;

    mutable std::mutex m_mutex;
    State m_state = State::kLive;
    std::shared_ptr<Link> m_link;  // the attached connection's, while kLive
    std::string m_peer;
    int m_filter = 0;
    std::chrono::milliseconds m_heartbeat;
    Journal m_journal;
    InboundSequencer m_sequencer;
    OutboundQueue m_queue;
    std::atomic<size_t> m_queuedFrames{0};
    uint64_t m_expiryGeneration = 0;
    // While the application builds a resume's snapshot (onResume), trading frames
    // sent meanwhile wait here and go out after ResendComplete: sent before it, the
    // client would deliver them before the snapshot that already contains them.
    bool m_resuming = false;
    std::vector<SharedFrame> m_heldDuringResume;
    // A resume that waits for the old connection to close.
    std::shared_ptr<ServerConnection> m_pendingConnection;
    admin::Logon m_pendingLogon;
    SessionEnd m_endWhy = SessionEnd::kClosedByServer;
    std::string m_endText;
    bool m_endReported = false;
    std::shared_ptr<void> m_context;
};

// Random hexadecimal text of `bytes` random bytes, for session IDs and resume tokens.
std::string randomHex(size_t bytes);
// A session ID as the log shows it: a prefix that tells sessions apart. The whole ID
// (with the trader ID) opens a price session, so it never goes to the log.
std::string logId(const std::string& sessionId);

} // namespace detail
} // namespace merrow
