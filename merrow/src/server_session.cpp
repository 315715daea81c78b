#include "server_session.h"

#include <random>

namespace merrow {
namespace detail {

namespace {

using Fx = IFixDefs;

admin::LogoutReason logoutReasonOf(CloseReason reason)
{
    switch (reason) {
    case CloseReason::kExpired:
        return admin::LogoutReason::kExpired;
    case CloseReason::kShutdown:
        return admin::LogoutReason::kShutdown;
    case CloseReason::kForcedRelogin:
        return admin::LogoutReason::kForcedRelogin;
    case CloseReason::kNormal:
    default:
        return admin::LogoutReason::kNormal;
    }
}

std::vector<admin::InitialMessage> toWire(const std::vector<InitialMessageText>& list)
{
    std::vector<admin::InitialMessage> out;
    out.reserve(list.size());
    for (const auto& m : list)
        out.push_back(admin::InitialMessage{m.commandNumber, m.text});
    return out;
}

// Market-data frames up to this size are copied into the queue's own storage.
constexpr size_t kCopiedFrameMax = 16 * 1024;

SharedFrame encodeShared(const wire::FrameHeader& header, const IMessage& message, const wire::Limits& limits,
                         Status& status)
{
    auto bytes = std::make_shared<std::vector<uint8_t>>();
    status = wire::encodeFrame(header, message, *bytes, limits);
    if (!status.ok())
        return nullptr;
    return bytes;
}

std::function<void(const ServerSessionPtr&)>& testHookSessionPublished()
{
    static std::function<void(const ServerSessionPtr&)> hook;
    return hook;
}

} // namespace

void setTestHookSessionPublished(std::function<void(const ServerSessionPtr&)> hook)
{
    testHookSessionPublished() = std::move(hook);
}

std::string logId(const std::string& sessionId)
{
    return sessionId.size() > 8 ? sessionId.substr(0, 8) + "..." : sessionId;
}

std::string randomHex(size_t bytes)
{
    static const char* digits = "0123456789abcdef";
    std::random_device rd;
    std::string out;
    out.reserve(bytes * 2);
    for (size_t i = 0; i < bytes; i += 4) {
        const uint32_t r = rd();
        for (size_t k = 0; k < 4 && i + k < bytes; ++k) {
            const unsigned b = (r >> (8 * k)) & 0xff;
            out.push_back(digits[b >> 4]);
            out.push_back(digits[b & 15]);
        }
    }
    return out;
}

ServerSessionImpl::ServerSessionImpl(const std::shared_ptr<Server::Impl>& core, std::string id, std::string token,
                                     LogonInfo logon, const LogonReply& reply, std::chrono::milliseconds heartbeat)
    : m_core(core), m_id(std::move(id)), m_token(std::move(token)), m_logon(std::move(logon)),
      m_traderId(reply.traderId), m_userKind(reply.userKind), m_properties(reply.properties),
      m_sendLimits([&] {
          wire::Limits l;
          l.maxPayload = core->options.maxSendPayload;
          return l;
      }()),
      m_heartbeat(heartbeat), m_journal(core->options.journalMaxFrames, core->options.journalMaxBytes),
      m_sequencer(core->clock), m_queue(core->options.conflateAbove)
{
}

ServerSessionImpl::~ServerSessionImpl() = default;

int ServerSessionImpl::filter() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_filter;
}

std::string ServerSessionImpl::peerAddress() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_peer;
}

bool ServerSessionImpl::connected() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_state == State::kLive && m_link != nullptr;
}

bool ServerSessionImpl::ended() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_state == State::kEnded;
}

size_t ServerSessionImpl::queuedFrames() const
{
    // Read without the lock: a price pump asks for it per session, a monitor often.
    return m_queuedFrames.load(std::memory_order_relaxed);
}

uint64_t ServerSessionImpl::conflatedFrames() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_queue.conflatedCount();
}

void ServerSessionImpl::setContext(std::shared_ptr<void> context)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_context = std::move(context);
}

std::shared_ptr<void> ServerSessionImpl::context() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_context;
}

Status ServerSessionImpl::send(const IMessage& message, int channel, const std::string& conflationKey)
{
    if (channel != Fx::CHANNEL_TRADING_DATA && channel != Fx::CHANNEL_MARKET_DATA)
        return Status::error("unknown channel " + std::to_string(channel));
    std::shared_ptr<Link> link;
    if (channel == Fx::CHANNEL_MARKET_DATA) {
        uint64_t ack = 0;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            if (m_state == State::kEnded)
                return Status::error("the session has ended");
            if ((m_filter & channel) || m_state != State::kLive || !m_link)
                return Status();  // not wanted, or no connection: market data is never kept
            ack = m_sequencer.lastReceived();
        }
        wire::FrameHeader header;
        header.kind = wire::FrameKind::Application;
        header.channel = static_cast<uint8_t>(channel);
        header.lastReceived = ack;
        // Encoded outside the lock into this thread's buffer; the queue copies a small
        // frame into storage it reuses, so a price stream allocates nothing per frame.
        // A large one moves out as a shared frame instead of being copied twice.
        thread_local std::vector<uint8_t> scratch;
        scratch.clear();
        Status st = wire::encodeFrame(header, message, scratch, m_sendLimits);
        if (!st.ok())
            return st;
        SharedFrame large;
        if (scratch.size() > kCopiedFrameMax) {
            large = std::make_shared<const std::vector<uint8_t>>(std::move(scratch));
            scratch = std::vector<uint8_t>();
        }
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_state != State::kLive || !m_link)
            return Status();
        QueueStatus q = large ? m_queue.push(std::move(large), OutboundChannel::kMarketData, conflationKey)
                              : m_queue.pushCopy(scratch.data(), scratch.size(), OutboundChannel::kMarketData,
                                                 conflationKey);
        queueChangedLocked();
        link = m_link;
        if (!q.ok()) {
            // The client is hopelessly behind: drop the connection; its resume brings
            // fresh snapshots instead of this backlog.
            m_link->abort("market data backlog: " + q.reason);
            return Status::error(q.reason);
        }
    } else {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_state == State::kEnded)
            return Status::error("the session has ended");
        if (m_filter & channel)
            return Status();
        wire::FrameHeader header;
        header.kind = wire::FrameKind::Application;
        header.channel = static_cast<uint8_t>(channel);
        header.sequence = m_journal.nextSequence();
        header.lastReceived = m_sequencer.lastReceived();
        Status st;
        SharedFrame frame = encodeShared(header, message, m_sendLimits, st);
        if (!frame)
            return st;
        JournalStatus j = m_journal.append(frame);
        if (!j.ok()) {
            const std::string text = "The session expired: the client did not acknowledge the server's messages.";
            auto c = core();
            const bool hadLink = m_link != nullptr;
            endLocked(SessionEnd::kJournalOverflow, text);
            logoutLocked(admin::LogoutReason::kExpired, text);
            if (c) {
                // The log line from the I/O threads, without this lock; detached, no
                // connection will report the end, so it is reported from there too.
                std::string line = "session " + logId(m_id) + " of " + m_logon.user + ": journal overflow (" + j.reason + ")";
                asio::post(c->io, [weak = std::weak_ptr<Server::Impl>(c), self = shared_from_this(),
                                   line = std::move(line), report = !hadLink] {
                    if (auto core = weak.lock())
                        core->log(line);
                    if (report)
                        self->reportEnd();
                });
            }
            return Status::error("journal overflow: " + j.reason);
        }
        if (m_state == State::kLive && m_link && m_resuming) {
            m_heldDuringResume.push_back(std::move(frame));
        } else if (m_state == State::kLive && m_link) {
            m_sequencer.onAckSent();
            (void)m_queue.push(std::move(frame), OutboundChannel::kTrading);
            queueChangedLocked();
            link = m_link;
        }
    }
    if (link)
        link->kick();
    return Status();
}

Status ServerSessionImpl::queueAdminLocked(const IMessage& message)
{
    wire::FrameHeader header;
    header.kind = wire::FrameKind::Admin;
    header.channel = Fx::CHANNEL_TRADING_DATA;
    header.lastReceived = m_sequencer.lastReceived();
    Status st;
    SharedFrame frame = encodeShared(header, message, m_sendLimits, st);
    if (!frame)
        return st;
    m_sequencer.onAckSent();
    QueueStatus q = m_queue.push(std::move(frame), OutboundChannel::kTrading);
    queueChangedLocked();
    if (!q.ok())
        return Status::error(q.reason);
    return Status();
}

// Caller holds m_mutex and has ended the session: Logout goes after what is queued,
// then the connection closes (its onClosed reports the end).
void ServerSessionImpl::logoutLocked(admin::LogoutReason reason, const std::string& text)
{
    if (!m_link)
        return;
    (void)queueAdminLocked(*admin::build(admin::Logout{reason, text}));
    m_link->kick();
    m_link->close("session ended by the server: " + text);
}

void ServerSessionImpl::close(CloseReason reason, const std::string& text)
{
    bool reportNow = false;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_state == State::kEnded)
            return;
        const bool hadLink = m_link != nullptr;
        endLocked(SessionEnd::kClosedByServer, text);
        logoutLocked(logoutReasonOf(reason), text);
        reportNow = !hadLink;
    }
    if (reportNow) {
        // No connection will call back: report from the I/O threads, as always.
        if (auto c = core())
            asio::post(c->io, [self = shared_from_this()] { self->reportEnd(); });
    }
}

void ServerSessionImpl::cut()
{
    std::shared_ptr<Link> link;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_state != State::kLive)
            return;
        link = m_link;
    }
    if (link)
        link->abort("cut by the server");
}

void ServerSessionImpl::endLocked(SessionEnd why, const std::string& text)
{
    if (m_state == State::kEnded)
        return;
    m_state = State::kEnded;
    m_endWhy = why;
    m_endText = text;
    ++m_expiryGeneration;
    if (m_pendingConnection) {
        // A resume was waiting for the old connection: it will be refused.
        m_pendingConnection.reset();
    }
    if (auto c = core()) {
        {
            std::lock_guard<std::mutex> lock(c->mutex);
            ++c->pendingEnds;
        }
        c->removeSession(m_id, this);
    }
}

void ServerSessionImpl::reportEnd()
{
    SessionEnd why;
    std::string text;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_state != State::kEnded || m_endReported)
            return;
        m_endReported = true;
        why = m_endWhy;
        text = m_endText;
    }
    auto c = core();
    if (!c)
        return;
    c->log("session " + logId(m_id) + " of " + m_logon.user + " ended: " + text);
    ServerSessionPtr self = shared_from_this();
    guarded(*c, "onSessionEnded", [&] { c->app.onSessionEnded(self, why, text); });
    c->sessionEndReported();
}

void ServerSessionImpl::armExpiryLocked()
{
    auto c = core();
    if (!c)
        return;
    const uint64_t generation = ++m_expiryGeneration;
    // The timer owns itself through its handler: no asio object lives in the session,
    // which the application may hold after the server is gone.
    auto timer = std::make_shared<asio::steady_timer>(c->io, c->options.resumeWindow);
    std::weak_ptr<ServerSessionImpl> weak = shared_from_this();
    timer->async_wait([weak, generation, timer](const asio::error_code& ec) {
        if (ec)
            return;
        if (auto self = weak.lock())
            self->onExpiry(generation);
    });
}

void ServerSessionImpl::onExpiry(uint64_t generation)
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (generation != m_expiryGeneration || m_state != State::kDetached)
            return;
        endLocked(SessionEnd::kResumeWindowPassed, "The session was not resumed in time.");
    }
    reportEnd();
}

void ServerSessionImpl::attachFresh(const std::shared_ptr<ServerConnection>& connection, const admin::Logon& logon,
                                    const std::vector<InitialMessageText>& initialMessages)
{
    auto c = core();
    if (!c)
        return;
    const auto& link = connection->link();
    std::string failure;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_link = link;
        m_peer = link->peerAddress();
        m_filter = logon.filterMask;
        admin::LogonAck ack;
        ack.sessionId = m_id;
        ack.resumeToken = m_token;
        ack.traderId = m_traderId;
        ack.userKind = m_userKind;
        for (const auto& p : m_properties)
            ack.properties.push_back(admin::NameValue{p.name, p.value});
        ack.initialMessages = toWire(initialMessages);
        ack.heartbeatMs = m_heartbeat.count();
        ack.lastReceived = m_sequencer.lastReceived();
        ack.maxPayload = c->options.maxReceivePayload;
        Status st = queueAdminLocked(*admin::build(ack));
        if (!st.ok()) {
            // Initial messages beyond the client's limit: the logon cannot complete.
            failure = st.reason();
            m_link.reset();
        }
    }
    if (!failure.empty())
        c->log("session " + logId(m_id) + ": LogonAck could not be built: " + failure);
    connection->bind(shared_from_this());
    if (!connected()) {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            endLocked(SessionEnd::kClosedByServer, "The logon answer is too large for the client.");
        }
        connection->refuseLogon("The logon answer is too large for this client.", false);
        // The connection no longer belongs to the session and will not report its end.
        reportEnd();
        return;
    }
    {
        // Published only now that its link is set: a frame sent through findSession
        // before this would be journaled but never queued.
        std::lock_guard<std::mutex> lock(c->mutex);
        c->sessions.emplace(m_id, shared_from_this());
    }
    if (const auto& hook = testHookSessionPublished())
        hook(shared_from_this());
    link->setHeartbeatInterval(m_heartbeat);
    link->kick();
    c->log("session " + logId(m_id) + " of " + m_logon.user + " logged on from " + m_peer);
    ServerSessionPtr self = shared_from_this();
    guarded(*c, "onSessionStarted", [&] { c->app.onSessionStarted(self, false); });
}

void ServerSessionImpl::requestResume(const std::shared_ptr<ServerConnection>& connection, const admin::Logon& logon)
{
    std::shared_ptr<Link> old;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_state == State::kEnded) {
            connection->refuseLogon("The session has expired.", true);
            return;
        }
        if (m_pendingConnection) {
            connection->refuseLogon("The session is being resumed on another connection.", false);
            return;
        }
        if (m_state == State::kLive && m_link) {
            // The client noticed the loss before the server did: the old connection
            // goes first, and its onClosed hands the resume on.
            m_pendingConnection = connection;
            m_pendingLogon = logon;
            old = m_link;
        }
    }
    if (old) {
        old->abort("the client resumed on a new connection");
        return;
    }
    continueResume(connection, logon);
}

void ServerSessionImpl::continueResume(const std::shared_ptr<ServerConnection>& connection, const admin::Logon& logon)
{
    auto c = core();
    if (!c)
        return;
    const auto& link = connection->link();
    std::string refusal;
    bool expired = false;
    bool reportNow = false;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        std::vector<JournalEntry> resend;
        if (m_state == State::kEnded) {
            refusal = "The session has expired.";
            expired = true;
        } else if (m_link) {
            refusal = "The session is being resumed on another connection.";
        } else if (link->closed()) {
            // The new connection went while the old one was closing: wait for another.
            if (m_state == State::kDetached)
                armExpiryLocked();
            return;
        } else if (!m_journal.framesAfter(logon.lastReceived, resend).ok()) {
            // The client lacks frames already let go, or names one never sent: nothing
            // can make this session whole again.
            refusal = "The session has expired.";
            expired = true;
            endLocked(SessionEnd::kResumeWindowPassed, "The session could not be resumed: its messages are gone.");
            reportNow = true;
        } else {
            (void)m_journal.ack(logon.lastReceived);
            ++m_expiryGeneration;
            m_state = State::kLive;
            m_link = link;
            m_peer = link->peerAddress();
            m_filter = logon.filterMask;
            m_queue = OutboundQueue(c->options.conflateAbove);
            queueChangedLocked();
            admin::LogonAck ack;
            ack.sessionId = m_id;
            ack.resumeToken = m_token;
            ack.traderId = m_traderId;
            ack.userKind = m_userKind;
            for (const auto& p : m_properties)
                ack.properties.push_back(admin::NameValue{p.name, p.value});
            ack.heartbeatMs = m_heartbeat.count();
            ack.lastReceived = m_sequencer.lastReceived();
            ack.resumed = true;
            ack.maxPayload = c->options.maxReceivePayload;
            (void)queueAdminLocked(*admin::build(ack));
            m_resuming = true;
            m_heldDuringResume.clear();
            const uint64_t lastReceived = m_sequencer.lastReceived();
            for (const auto& e : resend) {
                auto copy = std::make_shared<std::vector<uint8_t>>(*e.frame);
                if (!wire::restampFrame(copy->data(), copy->size(), lastReceived, true).ok())
                    continue;
                (void)m_queue.push(std::move(copy), OutboundChannel::kTrading);
            }
            queueChangedLocked();
        }
    }
    if (!refusal.empty()) {
        connection->refuseLogon(refusal, expired);
        if (reportNow)
            reportEnd();
        return;
    }
    connection->bind(shared_from_this());
    link->setHeartbeatInterval(m_heartbeat);
    link->kick();
    c->log("session " + logId(m_id) + " of " + m_logon.user + " resumed from " + link->peerAddress() + " after " +
           std::to_string(logon.lastReceived));
    ServerSessionPtr self = shared_from_this();
    std::vector<InitialMessageText> initial;
    guarded(*c, "onResume", [&] { initial = c->app.onResume(self); });
    std::string failure;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        std::vector<SharedFrame> held;
        held.swap(m_heldDuringResume);
        m_resuming = false;
        // Ended or cut meanwhile: what was held stays in the journal for the next resume.
        if (m_state != State::kLive || m_link != link)
            return;
        Status st = queueAdminLocked(*admin::build(admin::ResendComplete{toWire(initial)}));
        if (!st.ok()) {
            failure = st.reason();
            (void)queueAdminLocked(*admin::build(admin::ResendComplete{}));
        }
        for (auto& frame : held)
            (void)m_queue.push(std::move(frame), OutboundChannel::kTrading);
        queueChangedLocked();
    }
    if (!failure.empty())
        c->log("session " + logId(m_id) + ": ResendComplete could not be built: " + failure);
    link->kick();
    guarded(*c, "onSessionStarted", [&] { c->app.onSessionStarted(self, true); });
}

void ServerSessionImpl::onFrame(Link& link, wire::Frame frame)
{
    auto c = core();
    if (!c || !frame.message)
        return;
    const bool application = frame.header.kind == wire::FrameKind::Application;
    admin::AdminType type = admin::AdminType::kUnknown;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_link.get() != &link || m_state != State::kLive)
            return;  // an old connection's last frames: the resume asks for them again
        JournalStatus a = m_journal.ack(frame.header.lastReceived);
        if (!a.ok()) {
            m_link->abort("protocol error: " + a.reason);
            return;
        }
        if (application && frame.header.channel == Fx::CHANNEL_TRADING_DATA) {
            SequenceCheck s = m_sequencer.accept(frame.header.sequence);
            if (s.code == SequenceCheck::Code::kDuplicate)
                return;
            if (!s.deliver()) {
                m_link->abort("protocol error: " + s.reason);
                return;
            }
        } else if (application && frame.header.channel != Fx::CHANNEL_MARKET_DATA) {
            m_link->abort("protocol error: unknown channel " + std::to_string(frame.header.channel));
            return;
        }
        if (!application) {
            type = admin::adminTypeOf(*frame.message);
            if (type == admin::AdminType::kSetFilter) {
                admin::SetFilter f;
                if (admin::parse(*frame.message, f).ok())
                    m_filter = f.mask;
                return;
            }
            if (type == admin::AdminType::kLogon || type == admin::AdminType::kHello) {
                m_link->abort("protocol error: a second logon on a logged-on connection");
                return;
            }
            if (type != admin::AdminType::kLogout)
                return;  // heart-beats and test requests: the link did their part
            admin::Logout logout;
            (void)admin::parse(*frame.message, logout);
            endLocked(SessionEnd::kClientLogout, logout.text.empty() ? "The client logged out." : logout.text);
            m_link->close("the client logged out");
            return;
        }
    }
    ServerSessionPtr self = shared_from_this();
    const int channel = frame.header.channel;
    guarded(*c, "onMessage", [&] { c->app.onMessage(self, *frame.message, channel); });
}

void ServerSessionImpl::onLinkClosed(Link& link, const std::string& reason)
{
    auto c = core();
    std::shared_ptr<ServerConnection> pending;
    admin::Logon pendingLogon;
    bool ended = false;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_link.get() != &link)
            return;
        m_link.reset();
        m_queue = OutboundQueue(c ? c->options.conflateAbove : OutboundQueue::kDefaultConflateAbove);
        m_heldDuringResume.clear();
        queueChangedLocked();
        if (m_state == State::kEnded) {
            ended = true;
        } else {
            m_state = State::kDetached;
            if (m_pendingConnection) {
                pending = std::move(m_pendingConnection);
                pendingLogon = std::move(m_pendingLogon);
            } else {
                armExpiryLocked();
            }
        }
    }
    if (ended) {
        reportEnd();
        return;
    }
    if (!c)
        return;
    if (pending) {
        auto self = shared_from_this();
        asio::post(pending->link()->strand(),
                   [self, pending, pendingLogon] { self->continueResume(pending, pendingLogon); });
        return;
    }
    c->log("session " + logId(m_id) + " of " + m_logon.user + " cut: " + reason);
    ServerSessionPtr self = shared_from_this();
    guarded(*c, "onSessionCut", [&] { c->app.onSessionCut(self, reason); });
}

uint64_t ServerSessionImpl::lastReceived(Link&)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_sequencer.lastReceived();
}

void ServerSessionImpl::ackSent(Link&)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_sequencer.onAckSent();
}

bool ServerSessionImpl::bareAckDue(Link& link)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_link.get() == &link && m_sequencer.bareAckDue();
}

std::optional<TimePoint> ServerSessionImpl::ackDeadline(Link& link)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_link.get() != &link)
        return std::nullopt;
    return m_sequencer.ackDeadline();
}

void ServerSessionImpl::takeFrames(Link& link, FrameSink& sink, size_t maxBytes)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_link.get() != &link)
        return;
    m_queue.takeBatch(maxBytes, sink);
    queueChangedLocked();
}

void ServerSessionImpl::release()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_link.reset();
    m_pendingConnection.reset();
    if (m_state != State::kEnded) {
        m_state = State::kEnded;
        m_endReported = true;
    }
}

} // namespace detail
} // namespace merrow
