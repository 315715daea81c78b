#include "merrow/server.h"

#include <algorithm>

#include "log_text.h"
#include "server_session.h"
#include "url.h"

namespace merrow {

// ---- IServerApplication defaults

LogonReply IServerApplication::onLogonBySession(const LogonInfo&, const ServerSessionPtr& tradeSession)
{
    LogonReply r;
    r.accepted = true;
    r.traderId = tradeSession->traderId();
    r.userKind = tradeSession->userKind();
    return r;
}

void IServerApplication::onSessionStarted(const ServerSessionPtr&, bool) {}

std::vector<InitialMessageText> IServerApplication::onResume(const ServerSessionPtr&) { return {}; }

void IServerApplication::onSessionCut(const ServerSessionPtr&, const std::string&) {}

// ---- Server::Impl

Server::Impl::Impl(IServerApplication& a, ServerOptions o)
    : app(a), options(std::move(o)), clock(detail::SteadyClock::instance()),
      limiter(clock, options.maxLogonFailures, options.logonFailureWindow)
{
    for (int i = 1; i < std::max(1, options.threads); ++i)
        moreIos.push_back(std::make_unique<asio::io_context>(1));
}

asio::io_context& Server::Impl::pickIo()
{
    const unsigned n = nextIo.fetch_add(1, std::memory_order_relaxed) % (moreIos.size() + 1);
    return n == 0 ? io : *moreIos[n - 1];
}

Server::Impl::~Impl() = default;

void Server::Impl::log(const std::string& line) const
{
    if (options.log) {
        try {
            options.log(line);
        } catch (...) {
        }
    }
}

detail::LinkOptions Server::Impl::linkOptions() const
{
    detail::LinkOptions lo;
    lo.heartbeatInterval = options.defaultHeartbeat;
    lo.receiveLimits.maxPayload = options.maxReceivePayload;
    lo.sendLimits.maxPayload = options.maxSendPayload;
    lo.maxPayloadBeforeTrust = options.maxPayloadBeforeLogon;
    lo.pauseReadingAbove = options.readPauseBytes;
    // A client whose callback is behind stops reading and shows it is alive with its
    // heart-beats; what waits for it is bounded here (conflation, journal). The
    // heart-beat rule still ends a client that has gone in 2.5 intervals.
    lo.minUserTimeout = std::chrono::seconds(60);
    lo.maxQueuedBytes =
        options.maxQueuedBytes != 0 ? options.maxQueuedBytes : size_t{options.maxSendPayload} + options.readPauseBytes;
    return lo;
}

void Server::Impl::accept(Listener& listener)
{
    // A raw pointer: handlers still queued when the io_context goes must not keep the
    // core (which owns it) alive.
    Impl* self = this;
    auto strand = asio::make_strand(pickIo());
    listener.acceptor.async_accept(
        strand, asio::bind_executor(listener.strand, [self, &listener, strand](const asio::error_code& ec,
                                                                                asio::ip::tcp::socket socket) {
            if (!listener.acceptor.is_open())
                return;
            {
                std::lock_guard<std::mutex> lock(self->mutex);
                if (self->stopping)
                    return;
            }
            if (!ec) {
                if (listener.tls) {
                    detail::asyncTlsAccept(
                        listener.tls, std::move(socket),
                        static_cast<int>(self->options.tlsHandshakeTimeout.count()),
                        [self, &listener, strand](std::unique_ptr<detail::ByteStream> stream, std::string error) {
                            if (!stream) {
                                self->log(error);
                                return;
                            }
                            self->onAccepted(listener, strand, std::move(stream));
                        });
                } else {
                    self->onAccepted(listener, strand, detail::makeTcpStream(std::move(socket)));
                }
            } else if (ec == asio::error::operation_aborted) {
                return;
            } else {
                self->onAcceptError(listener, ec);
                return;
            }
            listener.backoff = std::chrono::milliseconds(0);
            self->accept(listener);
        }));
}

// Without descriptors (or memory) every accept fails at once: accepting again at
// once spins a core and writes a line per failure. Wait instead, 10 ms doubling up to
// 200 ms, so a good logon is served soon after a descriptor is free; one log line per
// 5 s says how often it happened.
void Server::Impl::onAcceptError(Listener& listener, const asio::error_code& ec)
{
    constexpr auto kFirst = std::chrono::milliseconds(10);
    constexpr auto kMost = std::chrono::milliseconds(200);
    constexpr auto kLogEvery = std::chrono::seconds(5);
    ++listener.errorsSinceLog;
    const auto now = std::chrono::steady_clock::now();
    if (listener.lastErrorLog == std::chrono::steady_clock::time_point{} || now - listener.lastErrorLog >= kLogEvery) {
        log("accept on " + listener.url + " failed: " + ec.message() + " (" + std::to_string(listener.errorsSinceLog) +
            (listener.errorsSinceLog == 1 ? " time" : " times") + " since the last report); retrying");
        listener.lastErrorLog = now;
        listener.errorsSinceLog = 0;
    }
    listener.backoff = listener.backoff.count() == 0 ? kFirst : std::min(kMost, listener.backoff * 2);
    Impl* self = this;
    listener.retry.expires_after(listener.backoff);
    listener.retry.async_wait([self, &listener](const asio::error_code& e) {
        if (e || !listener.acceptor.is_open())
            return;
        self->accept(listener);
    });
}

void Server::Impl::leftBeforeLogon()
{
    std::lock_guard<std::mutex> lock(mutex);
    if (beforeLogon > 0)
        --beforeLogon;
}

void Server::Impl::onAccepted(Listener&, detail::Strand strand, std::unique_ptr<detail::ByteStream> stream)
{
    asio::error_code ec;
    const auto ep = stream->socket().remote_endpoint(ec);
    if (ec)
        return;  // already gone
    auto connection = std::make_shared<detail::ServerConnection>(*this, ep.address().to_string());
    auto link = detail::Link::create(strand, std::move(stream), clock, linkOptions());
    bool busy = false;
    {
        std::lock_guard<std::mutex> lock(mutex);
        if (stopping) {
            link->abort("the server is stopping");
            return;
        }
        connections.emplace(connection.get(), connection);
        busy = beforeLogon >= options.maxConnectionsBeforeLogon;
        if (!busy) {
            ++beforeLogon;
            connection->countBeforeLogon();
        }
    }
    connection->start(std::move(link));
    if (busy) {
        asio::post(strand, [connection] {
            connection->cutWithText("The server is busy: too many connections are logging on. Try again shortly.",
                                    "too many connections before logon");
        });
        return;
    }
    // A connection that has not logged on in time is dropped; the timer owns itself.
    auto timer = std::make_shared<asio::steady_timer>(strand, options.logonTimeout);
    std::weak_ptr<detail::ServerConnection> weak = connection;
    timer->async_wait([weak, timer](const asio::error_code& e) {
        if (e)
            return;
        if (auto c = weak.lock())
            c->onLogonTimeout();
    });
}

void Server::Impl::removeConnection(detail::ServerConnection* connection)
{
    std::shared_ptr<detail::ServerConnection> keep;  // destroyed after the lock
    std::lock_guard<std::mutex> lock(mutex);
    auto it = connections.find(connection);
    if (it != connections.end()) {
        keep = std::move(it->second);
        connections.erase(it);
    }
    drained.notify_all();
}

void Server::Impl::removeSession(const std::string& id, const detail::ServerSessionImpl* session)
{
    std::shared_ptr<detail::ServerSessionImpl> keep;
    std::lock_guard<std::mutex> lock(mutex);
    auto it = sessions.find(id);
    if (it != sessions.end() && it->second.get() == session) {
        keep = std::move(it->second);
        sessions.erase(it);
    }
}

void Server::Impl::sessionEndReported()
{
    std::lock_guard<std::mutex> lock(mutex);
    if (pendingEnds > 0)
        --pendingEnds;
    drained.notify_all();
}

namespace detail {

// ---- ServerConnection

ServerConnection::ServerConnection(Server::Impl& core, std::string address)
    : m_core(core), m_address(std::move(address))
{
}

void ServerConnection::start(std::shared_ptr<Link> link)
{
    m_link = std::move(link);
    m_link->start(shared_from_this());
}

void ServerConnection::bind(std::shared_ptr<ServerSessionImpl> session)
{
    m_session = std::move(session);
    if (m_link)
        m_link->trust();
    if (m_countedBeforeLogon) {
        m_countedBeforeLogon = false;
        m_core.leftBeforeLogon();
    }
}

void ServerConnection::cutWithText(const std::string& text, const std::string& reason)
{
    if (m_loggingOff || !m_link)
        return;
    m_loggingOff = true;
    (void)m_link->sendMessage(wire::FrameHeader{wire::FrameKind::Admin, false, IFixDefs::CHANNEL_TRADING_DATA, 0, 0},
                              *admin::build(admin::Logout{admin::LogoutReason::kNormal, text}));
    m_link->close(reason);
}

void ServerConnection::log(const std::string& line)
{
    // A few lines per connection and interval: a peer must not be able to fill the
    // log by repeating what gets logged.
    constexpr int kLines = 5;
    constexpr auto kWindow = std::chrono::seconds(10);
    const auto now = std::chrono::steady_clock::now();
    if (now - m_logWindow >= kWindow) {
        if (m_logDropped > 0)
            m_core.log("connection from " + m_address + ": " + std::to_string(m_logDropped) + " more lines not logged");
        m_logWindow = now;
        m_logLines = 0;
        m_logDropped = 0;
    }
    if (m_logLines >= kLines) {
        ++m_logDropped;
        return;
    }
    ++m_logLines;
    m_core.log(line);
}

void ServerConnection::release()
{
    m_session.reset();
    m_link.reset();
}

void ServerConnection::onLogonTimeout()
{
    if (!m_session && m_link)
        m_link->abort("no logon within " + std::to_string(m_core.options.logonTimeout.count()) + " ms");
}

void ServerConnection::refuseLogon(const std::string& text, bool expired)
{
    m_loggingOff = true;
    (void)m_link->sendMessage(wire::FrameHeader{wire::FrameKind::Admin, false, IFixDefs::CHANNEL_TRADING_DATA, 0, 0},
                              *admin::build(admin::LogonReject{text, expired}));
    m_link->close("logon refused: " + text);
}

void ServerConnection::onFrame(Link& link, wire::Frame frame)
{
    if (m_session) {
        m_session->onFrame(link, std::move(frame));
        return;
    }
    if (m_loggingOff || !frame.message)
        return;
    handshake(std::move(frame));
}

void ServerConnection::handshake(wire::Frame frame)
{
    if (frame.header.kind != wire::FrameKind::Admin) {
        m_link->abort("protocol error: an application message arrived before the logon");
        return;
    }
    switch (admin::adminTypeOf(*frame.message)) {
    case admin::AdminType::kHello:
        onHello(*frame.message);
        break;
    case admin::AdminType::kLogon:
        onLogon(*frame.message);
        break;
    case admin::AdminType::kLogout:
        m_link->close("the client logged out before logging on");
        break;
    case admin::AdminType::kHeartbeat:
    case admin::AdminType::kTestRequest:
        break;
    default:
        m_link->abort("protocol error: unexpected \"" + loggable(frame.message->getMsgType()) +
                      "\" before the logon");
        break;
    }
}

void ServerConnection::onHello(const IMessage& message)
{
    if (m_helloAnswered) {
        // One descriptor per connection: a client asks once, then logs on.
        log("connection from " + m_address + " cut: a second Hello");
        cutWithText("Only one station descriptor request is answered per connection.", "a second Hello");
        return;
    }
    m_helloAnswered = true;
    admin::Hello hello;
    admin::StationDescriptor descriptor;
    Status st = admin::parse(message, hello);
    if (!st.ok()) {
        descriptor.refused = true;
        descriptor.refusalText = "The server could not read the request: " + st.reason() + ".";
    } else {
        HelloInfo info;
        info.protocolVersion = hello.protocolVersion;
        info.connectionName = hello.connectionName;
        info.stationKind = hello.stationKind;
        info.applicationName = hello.applicationName;
        info.peerAddress = m_link->peerAddress();
        StationReply reply = StationReply::refuse("The server could not handle the request.");
        guarded(m_core, "onHello", [&] { reply = m_core.app.onHello(info); });
        descriptor.refused = reply.refused;
        descriptor.refusalText = reply.refusalText;
        if (descriptor.refused && descriptor.refusalText.empty())
            descriptor.refusalText = "The server refused the connection.";
        for (auto& p : reply.parameters)
            descriptor.parameters.push_back(admin::NameValue{p.name, p.value});
        descriptor.tradingSessions = reply.tradingSessions;
        descriptor.redirectUrl = reply.redirectUrl;
    }
    Status sent = m_link->sendMessage(
        wire::FrameHeader{wire::FrameKind::Admin, false, IFixDefs::CHANNEL_TRADING_DATA, 0, 0}, *admin::build(descriptor));
    if (!sent.ok()) {
        descriptor = admin::StationDescriptor();
        descriptor.refused = true;
        descriptor.refusalText = "The station descriptor is too large for this client.";
        (void)m_link->sendMessage(
            wire::FrameHeader{wire::FrameKind::Admin, false, IFixDefs::CHANNEL_TRADING_DATA, 0, 0},
            *admin::build(descriptor));
    }
    if (descriptor.refused) {
        m_loggingOff = true;
        m_link->close("station descriptor refused: " + descriptor.refusalText);
    }
}

void ServerConnection::onLogon(const IMessage& message)
{
    admin::Logon logon;
    Status st = admin::parse(message, logon);
    if (!st.ok()) {
        log("logon from " + m_link->peerAddress() + " unreadable: " + loggable(st.reason(), 200));
        refuseLogon("The server could not read the logon: " + st.reason() + ".", false);
        return;
    }
    auto self = shared_from_this();

    if (logon.isResume()) {
        std::shared_ptr<ServerSessionImpl> session;
        {
            std::lock_guard<std::mutex> lock(m_core.mutex);
            auto it = m_core.sessions.find(logon.sessionId);
            if (it != m_core.sessions.end())
                session = it->second;
        }
        if (!session || session->token() != logon.resumeToken) {
            log("resume of unknown session " + detail::logId(logon.sessionId) + " from " + m_link->peerAddress());
            refuseLogon("The session has expired.", true);
            return;
        }
        session->requestResume(self, logon);
        return;
    }

    const std::string userKey = logon.bySession ? "session:" + logon.bySessionId : logon.user;
    LogonVerdict verdict;
    {
        std::lock_guard<std::mutex> lock(m_core.mutex);
        verdict = m_core.limiter.begin(userKey, m_address);
    }
    if (!verdict.allowed) {
        log("logon of " + loggable(userKey) + " from " + m_link->peerAddress() + " rate-limited");
        refuseLogon(verdict.text, false);
        return;
    }
    // The attempt counts from here until its verdict: a failure is recorded, a
    // success only ends the count.
    struct Attempt {
        Server::Impl& core;
        const std::string& user;
        const std::string& address;
        bool failed = true;
        ~Attempt()
        {
            std::lock_guard<std::mutex> lock(core.mutex);
            core.limiter.end(user, address, failed);
        }
    } attempt{m_core, userKey, m_address};

    LogonInfo info;
    info.connectionName = logon.connectionName;
    info.stationKind = logon.stationKind;
    info.applicationName = logon.applicationName;
    info.user = logon.user;
    info.password = logon.password;
    info.tradingSessionId = logon.tradingSessionId;
    info.tradingSessionSubId = logon.tradingSessionSubId;
    info.pin = logon.pin;
    info.extraParams = logon.extraParams;
    info.peerAddress = m_link->peerAddress();
    info.bySession = logon.bySession;
    info.bySessionId = logon.bySessionId;
    info.bySessionSubId = logon.bySessionSubId;
    info.bySessionTraderId = logon.bySessionTraderId;

    LogonReply reply = LogonReply::reject("The server could not handle the request.");
    if (logon.bySession) {
        std::shared_ptr<ServerSessionImpl> trade;
        {
            std::lock_guard<std::mutex> lock(m_core.mutex);
            auto it = m_core.sessions.find(logon.bySessionId);
            if (it != m_core.sessions.end())
                trade = it->second;
        }
        if (!trade || trade->ended() || trade->traderId() != logon.bySessionTraderId)
            reply = LogonReply::reject("The trade session is not logged in.");
        else
            guarded(m_core, "onLogonBySession", [&] { reply = m_core.app.onLogonBySession(info, trade); });
    } else {
        guarded(m_core, "onLogon", [&] { reply = m_core.app.onLogon(info); });
    }

    if (!reply.accepted) {
        if (reply.rejectText.empty())
            reply.rejectText = "The logon was refused.";
        log("logon of " + loggable(userKey) + " from " + m_link->peerAddress() + " refused: " + reply.rejectText);
        refuseLogon(reply.rejectText, false);
        return;
    }
    attempt.failed = false;

    info.password.clear();
    const auto heartbeat = std::clamp(std::chrono::milliseconds(logon.heartbeatMs), m_core.options.minHeartbeat,
                                      std::max(m_core.options.minHeartbeat, m_core.options.maxHeartbeat));
    auto core = m_core.shared_from_this();
    std::shared_ptr<ServerSessionImpl> session;
    {
        std::lock_guard<std::mutex> lock(m_core.mutex);
        if (m_core.stopping) {
            refuseLogon("The server is shutting down.", false);
            return;
        }
        std::string id;
        do {
            id = randomHex(16);
        } while (m_core.sessions.count(id));
        // Published by attachFresh once its link is set.
        session = std::make_shared<ServerSessionImpl>(core, id, randomHex(32), std::move(info), reply, heartbeat);
    }
    session->attachFresh(self, logon, reply.initialMessages);
}

void ServerConnection::onClosed(Link& link, const std::string& reason)
{
    if (m_session)
        m_session->onLinkClosed(link, reason);
    else if (!m_loggingOff && reason != "peer closed the connection")
        log("connection from " + link.peerAddress() + " closed: " + loggable(reason, 200));
    if (m_countedBeforeLogon) {
        m_countedBeforeLogon = false;
        m_core.leftBeforeLogon();
    }
    m_core.removeConnection(this);
}

uint64_t ServerConnection::currentLastReceived() { return m_session ? m_session->lastReceived(*m_link) : 0; }

void ServerConnection::onAckSent()
{
    if (m_session)
        m_session->ackSent(*m_link);
}

bool ServerConnection::bareAckDue() { return m_session && m_session->bareAckDue(*m_link); }

std::optional<TimePoint> ServerConnection::ackDeadline()
{
    return m_session ? m_session->ackDeadline(*m_link) : std::nullopt;
}

void ServerConnection::takeFrames(FrameSink& sink, size_t maxBytes)
{
    if (m_session)
        m_session->takeFrames(*m_link, sink, maxBytes);
}

} // namespace detail

// ---- Server

Server::Server(IServerApplication& app, ServerOptions options) : m_impl(std::make_shared<Impl>(app, std::move(options)))
{
}

Server::~Server() { stop(); }

const ServerOptions& Server::options() const { return m_impl->options; }

Status Server::listen(const std::string& url, const std::string& certFile, const std::string& keyFile)
{
    // Port 0 (any free port) makes sense only for listening, so the client's URL rules
    // refuse it: parse with a stand-in port and put the 0 back.
    detail::Endpoint ep;
    std::string parsed = url;
    const bool anyPort = parsed.size() > 2 && parsed.compare(parsed.size() - 2, 2, ":0") == 0;
    if (anyPort)
        parsed.back() = '1';
    Status st = detail::parseUrl(parsed, &ep);
    if (!st.ok())
        return Status::error(anyPort ? "Cannot listen on " + url + ": the URL is not valid." : st.reason());
    if (anyPort)
        ep.port = 0;
    {
        std::lock_guard<std::mutex> lock(m_impl->mutex);
        if (m_impl->stopping)
            return Status::error("the server has stopped");
    }
    auto listener = std::make_unique<Impl::Listener>(asio::make_strand(m_impl->io));
    if (ep.tls) {
        if (certFile.empty() || keyFile.empty())
            return Status::error("Listening on " + url + " needs a certificate and a key file.");
        std::string error;
        detail::TlsServerConfig config;
        config.certFile = certFile;
        config.keyFile = keyFile;
        listener->tls = detail::TlsServerContext::create(config, &error);
        if (!listener->tls)
            return Status::error(error);
    }
    asio::error_code ec;
    asio::ip::tcp::resolver resolver(m_impl->io);
    auto results = resolver.resolve(ep.host, std::to_string(ep.port),
                                    asio::ip::tcp::resolver::numeric_service | asio::ip::tcp::resolver::passive, ec);
    if (ec || results.empty())
        return Status::error("Cannot resolve " + ep.host + " to listen on " + url + ": " + ec.message() + ".");
    const asio::ip::tcp::endpoint endpoint = results.begin()->endpoint();
    auto& acc = listener->acceptor;
    acc.open(endpoint.protocol(), ec);
    if (!ec)
        acc.set_option(asio::socket_base::reuse_address(true), ec);
    if (!ec)
        acc.bind(endpoint, ec);
    if (!ec)
        acc.listen(asio::socket_base::max_listen_connections, ec);
    if (ec)
        return Status::error("Cannot listen on " + url + ": " + ec.message() + ".");
    listener->port = acc.local_endpoint(ec).port();
    listener->url = url;
    Impl::Listener& ref = *listener;
    {
        std::lock_guard<std::mutex> lock(m_impl->mutex);
        m_impl->listeners.push_back(std::move(listener));
    }
    asio::post(ref.strand, [impl = m_impl.get(), &ref] { impl->accept(ref); });
    m_impl->log("listening on " + url + " (port " + std::to_string(ref.port) + ")");
    return Status();
}

uint16_t Server::boundPort(size_t index) const
{
    std::lock_guard<std::mutex> lock(m_impl->mutex);
    return index < m_impl->listeners.size() ? m_impl->listeners[index]->port : 0;
}

Status Server::start()
{
    std::lock_guard<std::mutex> lock(m_impl->mutex);
    if (m_impl->stopping)
        return Status::error("the server has stopped");
    if (m_impl->started)
        return Status::error("the server has already started");
    m_impl->started = true;
    m_impl->work.push_back(asio::make_work_guard(m_impl->io));
    m_impl->threads.emplace_back([impl = m_impl.get()] { impl->io.run(); });
    for (auto& more : m_impl->moreIos) {
        m_impl->work.push_back(asio::make_work_guard(*more));
        m_impl->threads.emplace_back([io = more.get()] { io->run(); });
    }
    return Status();
}

void Server::stop(CloseReason reason, const std::string& text)
{
    Impl& impl = *m_impl;
    std::vector<std::shared_ptr<detail::ServerSessionImpl>> sessions;
    std::vector<std::shared_ptr<detail::ServerConnection>> connections;
    {
        std::lock_guard<std::mutex> lock(impl.mutex);
        if (impl.stopped)
            return;
        impl.stopping = true;
        impl.stopped = true;
        for (auto& s : impl.sessions)
            sessions.push_back(s.second);
        for (auto& c : impl.connections)
            connections.push_back(c.second);
    }
    for (auto& l : impl.listeners)
        asio::post(l->strand, [&acc = l->acceptor] {
            asio::error_code ignored;
            acc.close(ignored);
        });
    for (auto& s : sessions)
        s->shutdown(reason, text);
    for (auto& c : connections)
        if (c->link())
            c->link()->close("the server is stopping");
    connections.clear();
    if (impl.started) {
        // The Logouts leave and the clients close; bounded, so a dead client cannot
        // hold the server up.
        std::unique_lock<std::mutex> lock(impl.mutex);
        impl.drained.wait_for(lock, std::chrono::seconds(3),
                              [&] { return impl.connections.empty() && impl.pendingEnds == 0; });
    }
    impl.work.clear();
    impl.io.stop();
    for (auto& more : impl.moreIos)
        more->stop();
    for (auto& t : impl.threads)
        if (t.joinable())
            t.join();
    impl.threads.clear();
    decltype(impl.sessions) leftSessions;
    decltype(impl.connections) leftConnections;
    {
        std::lock_guard<std::mutex> lock(impl.mutex);
        leftSessions.swap(impl.sessions);
        leftConnections.swap(impl.connections);
    }
    for (auto& s : sessions)
        s->release();
    for (auto& s : leftSessions)
        s.second->release();
    for (auto& c : leftConnections)
        c.second->release();
    for (auto& l : impl.listeners) {
        asio::error_code ignored;
        l->acceptor.close(ignored);
    }
}

std::vector<ServerSessionPtr> Server::sessions() const
{
    std::lock_guard<std::mutex> lock(m_impl->mutex);
    std::vector<ServerSessionPtr> out;
    for (auto& s : m_impl->sessions)
        out.push_back(s.second);
    return out;
}

ServerSessionPtr Server::findSession(const std::string& sessionId) const
{
    std::lock_guard<std::mutex> lock(m_impl->mutex);
    auto it = m_impl->sessions.find(sessionId);
    return it == m_impl->sessions.end() ? nullptr : it->second;
}

size_t Server::connectionCount() const
{
    std::lock_guard<std::mutex> lock(m_impl->mutex);
    return m_impl->connections.size();
}

} // namespace merrow
