#include "client_session.h"

#include <chrono>
#include <cstring>

#include "debug_log.h"
#include "log_text.h"
#include "merrow/fix_defs.h"
#include "merrow/generic_exception.h"

namespace merrow::detail {

namespace {

using Fx = IFixDefs;
using std::chrono::milliseconds;

std::atomic<uint64_t> g_sessionNumber{0};

std::string makeLogName(const ClientSessionConfig& c)
{
    return (c.connection.empty() ? std::string("session") : c.connection) + "#" +
           std::to_string(g_sessionNumber.fetch_add(1) + 1);
}

// The PIN the core appends to the extra text as "PIN=<pin>".
std::string pinOf(const std::string& extra)
{
    size_t at = 0;
    while ((at = extra.find("PIN=", at)) != std::string::npos) {
        if (at == 0 || extra[at - 1] == ';') {
            const size_t start = at + 4;
            const size_t end = extra.find(';', start);
            return extra.substr(start, end == std::string::npos ? std::string::npos : end - start);
        }
        at += 4;
    }
    return {};
}

std::string loggableUrl(const std::string& url)
{
    return loggable(url, 128);
}

// How long a caller waits beyond the strand's own timers before giving up: those
// timers end every exchange, so this bound only guards against a lost completion.
milliseconds callerBound(int tcpTimeoutMs)
{
    return milliseconds(int64_t(tcpTimeoutMs) * 3 + 10000);
}

} // namespace

void ClientSession::Waiter::finish(int r, bool raiseIt, std::string t)
{
    std::lock_guard<std::mutex> lock(mutex);
    if (done)
        return;
    done = true;
    result = r;
    raise = raiseIt;
    text = std::move(t);
    cv.notify_all();
}

std::shared_ptr<ClientSession> ClientSession::create(ClientSessionConfig config)
{
    std::shared_ptr<ClientSession> s(new ClientSession(std::move(config)));
    s->m_delivery->setOverflowHandler([weak = std::weak_ptr<ClientSession>(s)](const std::string& reason) {
        if (auto self = weak.lock())
            asio::post(self->m_io, [self, reason] { self->expire(reason); });
    });
    const ClientSettings settings = s->m_runtime.settings();
    s->m_delivery->setReadBound(settings.deliveryMaxMessages, settings.deliveryMaxBytes,
                                [weak = std::weak_ptr<ClientSession>(s)] {
                                    if (auto self = weak.lock())
                                        asio::post(self->m_io, [self] {
                                            if (self->m_link)
                                                self->m_link->resumeReading();
                                        });
                                });
    s->m_runtime.add(s);
    return s;
}

ClientSession::ClientSession(ClientSessionConfig config)
    : m_config(std::move(config)),
      m_logName(makeLogName(m_config)),
      m_runtime(ClientRuntime::instance()),
      m_io(asio::make_strand(m_runtime.io())),
      // Delivery runs on the session's own context: handing a message over never
      // wakes the other transport thread.
      m_delivery(std::make_shared<ClientDelivery>(asio::make_strand(m_io.get_inner_executor()),
                                                  m_runtime.settings().holdMaxMessages,
                                                  m_runtime.settings().holdMaxBytes)),
      m_loginEndpoint(m_config.endpoint),
      m_sequencer(SteadyClock::instance()),
      m_policy(m_runtime.settings().reconnectAttempts, m_runtime.settings().reloginAttempts),
      m_opTimer(m_io),
      m_retryTimer(m_io),
      m_journal(m_runtime.settings().journalMaxFrames, m_runtime.settings().journalMaxBytes, true)
{
    auto station = std::make_shared<StationSnapshot>();
    station->array.push_back(nullptr);
    m_stations.push_back(std::move(station));
    m_logons.push_back(std::make_shared<LogonSnapshot>());
}

ClientSession::~ClientSession()
{
    m_runtime.remove(this);
}

// ---- getters and setters (any thread) ----

void ClientSession::setTradingSession(const TradingSessionDesc* desc)
{
    std::lock_guard<std::mutex> lock(m_dataMutex);
    if (!desc) {
        m_current = nullptr;
        return;
    }
    // Earlier selections stay alive: a reader may still hold their texts.
    m_selected.push_back(std::make_unique<TradingSessionDesc>(*desc));
    m_current = m_selected.back().get();
}

const TradingSessionDesc* ClientSession::tradingSession() const
{
    std::lock_guard<std::mutex> lock(m_dataMutex);
    return m_current;
}

const char* ClientSession::stationParameter(const char* name) const
{
    if (!name)
        return nullptr;
    std::lock_guard<std::mutex> lock(m_dataMutex);
    const auto& p = m_stations.back()->parameters;
    auto it = p.find(name);
    return it == p.end() ? nullptr : it->second.c_str();
}

const TradingSessionDesc* const* ClientSession::tradingSessionDescs() const
{
    std::lock_guard<std::mutex> lock(m_dataMutex);
    return m_stations.back()->array.data();
}

const char* ClientSession::sessionId() const
{
    std::lock_guard<std::mutex> lock(m_dataMutex);
    // Assigned once, at the first LogonAck, and never changed afterwards.
    return m_sessionId.empty() ? "" : m_sessionId.c_str();
}

int ClientSession::userKind() const
{
    return m_userKind.load(std::memory_order_acquire);
}

int ClientSession::traderId() const
{
    return m_traderId.load(std::memory_order_acquire);
}

const char* ClientSession::sessionProperty(const char* name) const
{
    if (!name)
        return nullptr;
    std::lock_guard<std::mutex> lock(m_dataMutex);
    const auto& p = m_logons.back()->properties;
    auto it = p.find(name);
    return it == p.end() ? nullptr : it->second.c_str();
}

const char* ClientSession::initialMessage(const char* command) const
{
    if (!command)
        return nullptr;
    std::lock_guard<std::mutex> lock(m_dataMutex);
    const auto& m = m_logons.back()->initialMessages;
    auto it = m.find(command);
    return it == m.end() ? nullptr : it->second.c_str();
}

size_t ClientSession::journalSize() const
{
    std::lock_guard<std::mutex> lock(m_sendMutex);
    return m_journal.size();
}

void ClientSession::storeLogon(const std::vector<admin::NameValue>& properties,
                               const std::vector<admin::InitialMessage>* initial)
{
    auto snap = std::make_shared<LogonSnapshot>();
    for (const auto& nv : properties)
        snap->properties.emplace(nv.name, nv.value);
    if (initial) {
        for (const auto& im : *initial)
            snap->initialMessages[std::to_string(im.commandNumber)] = im.text;
    } else {
        std::lock_guard<std::mutex> lock(m_dataMutex);
        snap->initialMessages = m_logons.back()->initialMessages;
    }
    std::lock_guard<std::mutex> lock(m_dataMutex);
    m_logons.push_back(std::move(snap));
    // The current snapshot and the one before it: a reader on another thread that
    // took a text just before a resume still reads it safely.
    while (m_logons.size() > 2)
        m_logons.pop_front();
}

// ---- blocking calls ----

void ClientSession::checkBlockingAllowed(const char* operation) const
{
    if (m_delivery->runningHere())
        throw GenericException(std::string(operation) +
                               " cannot be called from a callback of the same session: it waits for that session.");
    if (ClientRuntime::onTransportThread())
        throw GenericException(std::string(operation) +
                               " cannot be called from a transport thread (a session callback): it would hold a "
                               "thread that the answer needs.");
}

int ClientSession::runBlocking(const char* operation, std::function<void(std::shared_ptr<Waiter>)> start)
{
    checkBlockingAllowed(operation);
    {
        std::lock_guard<std::mutex> lock(m_dataMutex);
        if (m_blockingBusy)
            throw GenericException(std::string(operation) +
                                   " was called while another blocking call of this session was running.");
        m_blockingBusy = true;
    }
    struct Unbusy {
        ClientSession* s;
        ~Unbusy()
        {
            std::lock_guard<std::mutex> lock(s->m_dataMutex);
            s->m_blockingBusy = false;
        }
    } unbusy{this};

    m_runtime.ensureStarted();
    auto waiter = std::make_shared<Waiter>();
    asio::post(m_io, [self = shared_from_this(), waiter, start = std::move(start)] { start(waiter); });

    std::unique_lock<std::mutex> lock(waiter->mutex);
    if (!waiter->cv.wait_for(lock, callerBound(m_runtime.settings().tcpTimeoutMs), [&] { return waiter->done; })) {
        lock.unlock();
        asio::post(m_io, [self = shared_from_this(), waiter] {
            if (self->m_op == waiter) {
                self->m_op.reset();
                self->m_opKind = OpKind::kNone;
                self->dropLink("the caller stopped waiting");
            }
        });
        throw GenericException("The server did not answer in time.");
    }
    if (waiter->raise)
        throw GenericException(waiter->text);
    return waiter->result;
}

void ClientSession::finishOp(int result, bool raise, std::string text)
{
    cancelOpTimer();
    auto op = std::move(m_op);
    m_op.reset();
    m_opKind = OpKind::kNone;
    if (op)
        op->finish(result, raise, std::move(text));
}

void ClientSession::armOpTimer(const char* what)
{
    const uint64_t gen = ++m_opTimerGen;
    m_opTimer.expires_after(milliseconds(m_runtime.settings().tcpTimeoutMs));
    m_opTimer.async_wait([self = shared_from_this(), gen, what](const asio::error_code& ec) {
        if (ec || gen != self->m_opTimerGen)
            return;
        const std::string reason = std::string("The server did not answer ") + what + " in time.";
        DebugLog::instance().logEvent(self->m_logName, reason);
        if (self->m_opKind == OpKind::kHello) {
            self->finishOp(0, false, {});
            self->dropLink(reason);
        } else if (self->m_opKind == OpKind::kLogon) {
            self->finishOp(0, true, reason);
            self->dropLink(reason);
        } else if (self->m_link) {
            // A resume that stalls: the attempt fails like a lost connection.
            self->m_link->abort(reason);
        }
    });
}

void ClientSession::cancelOpTimer()
{
    ++m_opTimerGen;
    m_opTimer.cancel();
}

// ---- connections ----

void ClientSession::connect(const Endpoint& endpoint, std::function<void(ConnectResult)> then)
{
    const uint64_t gen = ++m_connectGen;
    auto self = shared_from_this();
    m_cancelConnect = asyncConnectCancellable(m_io.get_inner_executor().context(), m_runtime.connectOptions(endpoint),
                 [self, gen, then = std::move(then)](ConnectResult result) mutable {
                     auto shared = std::make_shared<ConnectResult>(std::move(result));
                     asio::post(self->m_io, [self, gen, shared, then = std::move(then)] {
                         if (gen != self->m_connectGen || self->m_ended) {
                             if (shared->stream)
                                 shared->stream->close();
                             return;
                         }
                         then(std::move(*shared));
                     });
                 });
}

void ClientSession::attachLink(std::unique_ptr<ByteStream> stream)
{
    LinkOptions options;
    options.heartbeatInterval = milliseconds(m_runtime.settings().heartbeatMs);
    m_link = Link::create(m_io, std::move(stream), SteadyClock::instance(), options);
    m_link->start(std::weak_ptr<LinkHandler>(shared_from_this()));
}

// Forgets the current link; its onClosed, when it comes, is ignored.
void ClientSession::cancelConnect()
{
    ++m_connectGen;  // its completion, when it comes, is ignored
    if (auto cancel = std::move(m_cancelConnect)) {
        m_cancelConnect = nullptr;
        cancel();  // it holds the engine and a socket until it ends
    }
}

void ClientSession::dropLink(const std::string& reason)
{
    cancelConnect();  // a connect in flight is dropped too
    m_helloLinkReady = false;
    {
        std::lock_guard<std::mutex> lock(m_sendMutex);
        m_liveLink.reset();
    }
    if (m_link) {
        auto link = std::move(m_link);
        m_link.reset();
        link->abort(reason);
    }
}

bool ClientSession::sendAdmin(const IMessage& message)
{
    if (!m_link)
        return false;
    wire::FrameHeader header;
    header.kind = wire::FrameKind::Admin;
    header.channel = Fx::CHANNEL_TRADING_DATA;
    header.lastReceived = m_sequencer.lastReceived();
    Status s = m_link->sendMessage(header, message);
    if (!s.ok()) {
        DebugLog::instance().logEvent(m_logName, "admin frame not sent: " + s.reason());
        return false;
    }
    m_sequencer.onAckSent();
    DebugLog::instance().logFrame("out", m_logName, header, message);
    return true;
}

admin::Logon ClientSession::buildLogon(bool resume) const
{
    admin::Logon logon;
    logon.connectionName = m_config.connection;
    logon.stationKind = m_config.stationKind;
    logon.applicationName = m_config.application;
    logon.user = m_config.user;
    logon.password = m_config.password;
    if (const TradingSessionDesc* ts = tradingSession()) {
        logon.tradingSessionId = ts->getID();
        logon.tradingSessionSubId = ts->getSubID();
    }
    logon.heartbeatMs = m_runtime.settings().heartbeatMs;
    logon.filterMask = m_filter.load(std::memory_order_acquire);
    if (resume) {
        std::lock_guard<std::mutex> lock(m_dataMutex);
        logon.sessionId = m_sessionId;
        logon.resumeToken = m_resumeToken;
        logon.lastReceived = m_sequencer.lastReceived();
    }
    return logon;
}

// ---- station descriptor ----

int ClientSession::loadStationDescriptor()
{
    return runBlocking("loadStationDescriptor", [this](std::shared_ptr<Waiter> w) { startHello(std::move(w)); });
}

void ClientSession::startHello(std::shared_ptr<Waiter> waiter)
{
    if (m_ended || m_loggedIn) {
        // A logged-in session keeps its descriptor; a closed one cannot connect.
        waiter->finish(m_loggedIn && !m_ended ? 1 : 0, false, {});
        return;
    }
    dropLink("a new connection replaces it");
    m_op = std::move(waiter);
    m_opKind = OpKind::kHello;
    connect(m_config.endpoint, [this](ConnectResult r) {
        if (m_opKind != OpKind::kHello)
            return;
        if (!r.stream) {
            DebugLog::instance().logEvent(m_logName, "connect failed: " + r.error);
            if (r.refused)
                finishOp(0, true, r.error);
            else
                finishOp(0, false, {});
            return;
        }
        attachLink(std::move(r.stream));
        admin::Hello hello;
        hello.connectionName = m_config.connection;
        hello.stationKind = m_config.stationKind;
        hello.applicationName = m_config.application;
        sendAdmin(*admin::build(hello));
        armOpTimer("the station descriptor request");
    });
}

void ClientSession::onDescriptor(const IMessage& message)
{
    if (m_opKind != OpKind::kHello)
        return;
    admin::StationDescriptor d;
    Status s = admin::parse(message, d);
    if (!s.ok()) {
        dropLink("bad station descriptor: " + s.reason());
        finishOp(0, true, "The server sent a station descriptor that could not be read.");
        return;
    }
    if (d.refused) {
        dropLink("station descriptor refused");
        finishOp(0, true, d.refusalText.empty() ? "The server refused the connection." : d.refusalText);
        return;
    }
    auto snap = std::make_shared<StationSnapshot>();
    for (const auto& nv : d.parameters)
        snap->parameters.emplace(nv.name, nv.value);
    snap->descs = d.tradingSessions;
    for (const auto& desc : snap->descs)
        snap->array.push_back(&desc);
    snap->array.push_back(nullptr);
    {
        std::lock_guard<std::mutex> lock(m_dataMutex);
        m_stations.push_back(std::move(snap));
    }
    if (!d.redirectUrl.empty()) {
        Endpoint there;
        Status u = parseUrl(d.redirectUrl, &there);
        if (!u.ok()) {
            dropLink("bad redirect");
            finishOp(0, true, "The server redirected to an address that cannot be used: " + u.reason());
            return;
        }
        if (m_config.endpoint.tls && !there.tls) {
            // The logon would carry the password in clear.
            dropLink("redirect from TLS to plain TCP refused");
            finishOp(0, true,
                     "The server redirected this secure connection to an insecure address (" +
                         loggableUrl(d.redirectUrl) + "); the redirect was refused.");
            return;
        }
        m_loginEndpoint = there;
        // The login connects there; this connection has done its work.
        cancelOpTimer();
        auto link = std::move(m_link);
        m_link.reset();
        link->close("redirected to " + d.redirectUrl);
    } else {
        m_loginEndpoint = m_config.endpoint;
        m_helloLinkReady = true;
    }
    finishOp(1, false, {});
}

// ---- logon ----

int ClientSession::login(const char* extra)
{
    admin::Logon logon = buildLogon(false);
    logon.extraParams = extra ? extra : "";
    logon.pin = pinOf(logon.extraParams);
    return runBlocking("login", [this, logon](std::shared_ptr<Waiter> w) { startLogon(std::move(w), logon); });
}

int ClientSession::loginBySession(const char* sessionID, const char* subID, const char* traderID, int flags)
{
    (void)flags;
    admin::Logon logon = buildLogon(false);
    logon.extraParams = m_config.extra;
    logon.bySession = true;
    logon.bySessionId = sessionID ? sessionID : "";
    logon.bySessionSubId = subID ? subID : "";
    logon.bySessionTraderId = traderID ? std::strtoll(traderID, nullptr, 10) : 0;
    const std::string tradeId = logon.bySessionId;
    return runBlocking("loginBySession", [this, logon, tradeId](std::shared_ptr<Waiter> w) {
        // One login's messages never run on two threads at once: the price session
        // delivers on the strand of the trade session it logs in with.
        if (auto trade = m_runtime.findBySessionId(tradeId))
            if (trade.get() != this)
                m_delivery->setStrand(trade->delivery().strand());
        startLogon(std::move(w), logon);
    });
}

void ClientSession::startLogon(std::shared_ptr<Waiter> waiter, admin::Logon logon)
{
    if (m_ended) {
        waiter->finish(0, true, "The session is closed; create a new one to log in again.");
        return;
    }
    if (m_loggedIn) {
        waiter->finish(0, false, {});
        return;
    }
    m_op = std::move(waiter);
    m_opKind = OpKind::kLogon;
    // The filter may have changed since the call was made.
    logon.filterMask = m_filter.load(std::memory_order_acquire);
    auto sendLogon = [this, logon] {
        m_helloLinkReady = false;
        sendAdmin(*admin::build(logon));
        armOpTimer("the logon");
    };
    if (m_link && m_helloLinkReady && !m_link->closed()) {
        sendLogon();
        return;
    }
    dropLink("a new connection replaces it");
    connect(m_loginEndpoint, [this, sendLogon](ConnectResult r) {
        if (m_opKind != OpKind::kLogon)
            return;
        if (!r.stream) {
            DebugLog::instance().logEvent(m_logName, "connect failed: " + r.error);
            finishOp(0, true, r.refused ? r.error : "The server could not be reached: " + r.error);
            return;
        }
        attachLink(std::move(r.stream));
        sendLogon();
    });
}

void ClientSession::onLogonAck(const IMessage& message)
{
    admin::LogonAck ack;
    Status s = admin::parse(message, ack);
    if (!s.ok()) {
        const std::string reason = "bad LogonAck: " + s.reason();
        if (m_opKind == OpKind::kLogon) {
            finishOp(0, true, "The server's logon answer could not be read.");
            dropLink(reason);
        } else if (m_link) {
            m_link->abort(reason);
        }
        return;
    }
    if (m_link)
        m_link->setHeartbeatInterval(milliseconds(ack.heartbeatMs));

    if (m_opKind == OpKind::kLogon) {
        cancelOpTimer();
        {
            std::lock_guard<std::mutex> lock(m_dataMutex);
            m_sessionId = ack.sessionId;
            m_resumeToken = ack.resumeToken;
        }
        m_traderId.store(static_cast<int>(ack.traderId), std::memory_order_release);
        m_userKind.store(static_cast<int>(ack.userKind), std::memory_order_release);
        m_resumeProperties = ack.properties;
        storeLogon(ack.properties, &ack.initialMessages);
        m_loggedIn = true;
        {
            std::lock_guard<std::mutex> lock(m_sendMutex);
            if (ack.maxPayload != 0)
                m_peerLimits.maxPayload = ack.maxPayload;
            (void)m_journal.ack(ack.lastReceived);
            m_sendable = true;
            m_liveLink = m_link;
        }
        m_runtime.setSessionId(ack.sessionId, shared_from_this());
        m_delivery->postStatus(Fx::STATUSCODE_LOGGEDIN, Fx::MSGCODE_CONNECTED, "Logged in.");
        finishOp(1, false, {});
        return;
    }
    if (m_resume != Resume::kAwaitAck)
        return;
    cancelOpTimer();
    if (!ack.resumed) {
        expire("The server started a new session instead of resuming this one.");
        return;
    }
    {
        std::lock_guard<std::mutex> lock(m_dataMutex);
        if (!ack.resumeToken.empty())
            m_resumeToken = ack.resumeToken;
    }
    if (!ack.properties.empty())
        m_resumeProperties = ack.properties;
    // Send again what the server lacks, then let new frames follow on the same link:
    // both under the send lock, so the numbers leave in order.
    std::string failure;
    {
        std::lock_guard<std::mutex> lock(m_sendMutex);
        if (ack.maxPayload != 0)
            m_peerLimits.maxPayload = ack.maxPayload;
        JournalStatus acked = m_journal.ack(ack.lastReceived);
        std::vector<JournalEntry> again;
        JournalStatus js = acked.ok() ? m_journal.framesAfter(ack.lastReceived, again) : acked;
        if (!js.ok()) {
            failure = js.reason;
        } else {
            for (const auto& e : again) {
                auto copy = std::make_shared<std::vector<uint8_t>>(*e.frame);
                (void)wire::restampFrame(copy->data(), copy->size(), m_sequencer.lastReceived(), true);
                (void)m_link->sendFrame(std::move(copy));
            }
            m_liveLink = m_link;
        }
    }
    if (!failure.empty()) {
        logWarning(m_logName, "resume impossible: " + failure);
        expire("The session could not be resumed: " + failure);
        return;
    }
    m_resume = Resume::kAwaitResendComplete;
    if (endAfterResumeIfAsked())
        return;
    // A filter changed while the Logon was on its way.
    const int filter = m_filter.load(std::memory_order_acquire);
    if (filter != m_filterInLogon)
        sendAdmin(*admin::build(admin::SetFilter{filter}));
    armOpTimer("the resend");
}

bool ClientSession::endAfterResumeIfAsked()
{
    if (!m_endAfterResume)
        return false;
    EndAfterResume end = std::move(*m_endAfterResume);
    m_endAfterResume.reset();
    if (m_link && m_resume == Resume::kAwaitResendComplete)
        sendAdmin(*admin::build(admin::Logout{admin::LogoutReason::kClient, end.logoutText}));
    endSession(Fx::STATUSCODE_DISCONNECTED, Fx::MSGCODE_SESSNCLOSED, end.reason, end.report);
    if (!m_closingLink)
        m_keepAlive.reset();  // nothing to flush: the engine may go (callers hold it)
    return true;
}

void ClientSession::endByClient(const std::string& logoutText, const std::string& reason, bool report)
{
    if (m_ended)
        return;
    if (m_link && m_loggedIn && m_resume == Resume::kAwaitAck) {
        // Kept alive until the answer: a freed handle no longer holds the engine.
        m_endAfterResume = EndAfterResume{logoutText, reason, report};
        m_keepAlive = shared_from_this();
        return;
    }
    if (m_link && m_loggedIn && (m_resume == Resume::kNone || m_resume == Resume::kAwaitResendComplete))
        sendAdmin(*admin::build(admin::Logout{admin::LogoutReason::kClient, logoutText}));
    if (m_opKind != OpKind::kNone)
        finishOp(0, true, "The session was logged out.");
    endSession(Fx::STATUSCODE_DISCONNECTED, Fx::MSGCODE_SESSNCLOSED, reason, report);
}

void ClientSession::onLogonReject(const IMessage& message)
{
    admin::LogonReject reject;
    (void)admin::parse(message, reject);
    const std::string text = reject.text.empty() ? "The server refused the logon." : reject.text;
    if (m_opKind == OpKind::kLogon) {
        dropLink("logon rejected");
        finishOp(0, true, text);
        return;
    }
    if (m_resume != Resume::kAwaitAck)
        return;
    cancelOpTimer();
    if (endAfterResumeIfAsked())
        return;
    if (reject.expired) {
        endSession(Fx::STATUSCODE_EXPIRED, 0, text);
        return;
    }
    // Refused for now (too many attempts, say): this attempt failed, the next may not.
    if (m_link)
        m_link->abort("resume refused: " + text);
}

void ClientSession::onResendComplete(const IMessage& message)
{
    if (m_resume != Resume::kAwaitResendComplete)
        return;
    admin::ResendComplete rc;
    Status s = admin::parse(message, rc);
    if (!s.ok()) {
        if (m_link)
            m_link->abort("bad ResendComplete: " + s.reason());
        return;
    }
    cancelOpTimer();
    storeLogon(m_resumeProperties, &rc.initialMessages);
    m_resume = Resume::kNone;
    m_policy.onResumed();
    // After every resent frame, which the delivery already holds in order.
    m_delivery->postStatus(Fx::STATUSCODE_LOGGEDIN, Fx::MSGCODE_CONNECTED, "Resumed.");
}

void ClientSession::onLogout(const IMessage& message)
{
    admin::Logout logout;
    (void)admin::parse(message, logout);
    std::string text = logout.text;
    DebugLog::instance().logEvent(m_logName, "server logout: " + text);
    if (m_opKind != OpKind::kNone) {
        const bool hello = m_opKind == OpKind::kHello;
        dropLink("server logout");
        if (text.empty())
            text = hello ? "The server refused the connection." : "The server ended the logon.";
        finishOp(0, true, text);
        return;
    }
    if (!m_loggedIn || m_ended)
        return;
    if (m_closing.load(std::memory_order_acquire)) {
        endSession(Fx::STATUSCODE_DISCONNECTED, Fx::MSGCODE_SESSNCLOSED, text);
        return;
    }
    const int code = admin::statusCodeOf(logout.reason);
    endSession(code, code == Fx::STATUSCODE_DISCONNECTED ? Fx::MSGCODE_SESSNCLOSED : 0, text);
}

// ---- traffic ----

int ClientSession::send(IMessage* message)
{
    if (!message)
        return 0;
    std::lock_guard<std::mutex> lock(m_sendMutex);
    if (!m_sendable)
        return 0;
    wire::FrameHeader header;
    header.kind = wire::FrameKind::Application;
    header.channel = Fx::CHANNEL_TRADING_DATA;
    header.sequence = m_journal.nextSequence();
    header.lastReceived = m_lastReceivedMirror.load(std::memory_order_acquire);
    std::shared_ptr<std::vector<uint8_t>> bytes = m_journal.takeSpare();
    if (!bytes)
        bytes = std::make_shared<std::vector<uint8_t>>();
    // Never above the server's limit: a frame it cannot take would be journaled, cut
    // the connection and poison every resume.
    Status encoded = wire::encodeFrame(header, *message, *bytes, m_peerLimits);
    if (!encoded.ok()) {
        logWarning(m_logName, "message not sent: " + encoded.reason());
        return 0;
    }
    JournalStatus kept = m_journal.append(bytes);
    if (!kept.ok()) {
        logWarning(m_logName, "message not sent: " + kept.reason);
        return 0;
    }
    // Frames sent while disconnected wait in the journal for the resume.
    if (m_liveLink)
        (void)m_liveLink->sendFrame(std::move(bytes));
    DebugLog::instance().logFrame("out", m_logName, header, *message);
    return 1;
}

void ClientSession::onFrame(Link& link, wire::Frame frame)
{
    if (&link != m_link.get() || !frame.message)
        return;
    DebugLog::instance().logFrame("in", m_logName, frame.header, *frame.message);
    if (m_loggedIn) {
        JournalStatus acked;
        {
            std::lock_guard<std::mutex> lock(m_sendMutex);
            acked = m_journal.ack(frame.header.lastReceived);
        }
        if (!acked.ok()) {
            link.abort("protocol error: " + acked.reason);
            return;
        }
    }
    if (frame.header.kind == wire::FrameKind::Admin) {
        switch (admin::adminTypeOf(*frame.message)) {
        case admin::AdminType::kStationDescriptor:
            onDescriptor(*frame.message);
            break;
        case admin::AdminType::kLogonAck:
            onLogonAck(*frame.message);
            break;
        case admin::AdminType::kLogonReject:
            onLogonReject(*frame.message);
            break;
        case admin::AdminType::kResendComplete:
            onResendComplete(*frame.message);
            break;
        case admin::AdminType::kLogout:
            onLogout(*frame.message);
            break;
        default:
            break;  // heart-beats: the link has done what they need
        }
        return;
    }
    onApplicationFrame(std::move(frame));
}

void ClientSession::onApplicationFrame(wire::Frame frame)
{
    if (!m_loggedIn || m_ended || m_resume == Resume::kAwaitAck)
        return;
    const int filter = m_filter.load(std::memory_order_acquire);
    if (frame.header.channel == Fx::CHANNEL_TRADING_DATA) {
        SequenceCheck check = m_sequencer.accept(frame.header.sequence);
        if (check.code == SequenceCheck::Code::kDuplicate)
            return;
        if (!check.deliver()) {
            m_link->abort("protocol error: " + check.reason);
            return;
        }
        m_lastReceivedMirror.store(m_sequencer.lastReceived(), std::memory_order_release);
        if (filter & Fx::CHANNEL_TRADING_DATA)
            return;
    } else if (frame.header.channel == Fx::CHANNEL_MARKET_DATA) {
        if (filter & Fx::CHANNEL_MARKET_DATA)
            return;
    } else {
        return;
    }
    m_delivery->postMessage(std::move(frame.message), frame.payloadSize);
}

void ClientSession::setMessageFilter(int mask)
{
    m_filter.store(mask, std::memory_order_release);
    asio::post(m_io, [self = shared_from_this(), mask] {
        // Before the logon the filter travels with the Logon itself.
        // During a resume: once the server has taken the session back (an unanswered
        // resume Logon sends it when the answer comes, see onLogonAck).
        if (self->m_loggedIn && !self->m_ended && self->m_link &&
            (self->m_resume == Resume::kNone || self->m_resume == Resume::kAwaitResendComplete))
            self->sendAdmin(*admin::build(admin::SetFilter{mask}));
    });
}

// ---- ending and reconnecting ----

void ClientSession::logout()
{
    asio::post(m_io, [self = shared_from_this()] { self->endByClient("The client logged out.", "Logged out.", true); });
}

void ClientSession::setClosing(int closing)
{
    m_closing.store(closing != 0, std::memory_order_release);
    if (!closing)
        return;
    asio::post(m_io, [self = shared_from_this()] {
        // An outage in progress ends here: nothing is retried once closing.
        if (self->m_loggedIn && !self->m_ended && self->m_resume != Resume::kNone)
            self->endSession(Fx::STATUSCODE_DISCONNECTED, Fx::MSGCODE_SESSNCLOSED,
                             "The connection was lost while closing.");
    });
}

void ClientSession::reconnect()
{
    asio::post(m_io, [self = shared_from_this()] {
        if (!self->m_loggedIn || self->m_ended || self->m_closing.load(std::memory_order_acquire))
            return;
        self->refreshPolicyCounts();
        ReconnectStep step = self->m_policy.reconnect();
        if (step.action == ReconnectAction::kNone)
            return;
        self->cancelOpTimer();
        self->dropLink("reconnect requested");
        self->m_resume = Resume::kNone;
        self->apply(step, "Reconnect requested.");
    });
}

void ClientSession::refreshPolicyCounts()
{
    const ClientSettings s = m_runtime.settings();
    m_policy.setNoReconnectAttempts(s.reconnectAttempts);
    m_policy.setNoReloginAttempts(s.reloginAttempts);
}

void ClientSession::onClosed(Link& link, const std::string& reason)
{
    if (&link == m_closingLink.get()) {
        // The last Logout has been flushed; nothing keeps the engine any more.
        m_closingLink.reset();
        m_keepAlive.reset();
        return;
    }
    if (&link != m_link.get())
        return;
    m_link.reset();
    m_helloLinkReady = false;
    {
        std::lock_guard<std::mutex> lock(m_sendMutex);
        m_liveLink.reset();
    }
    DebugLog::instance().logEvent(m_logName, "connection closed: " + reason);
    if (m_opKind == OpKind::kHello) {
        finishOp(0, false, {});
        return;
    }
    if (m_opKind == OpKind::kLogon) {
        finishOp(0, true, "The connection to the server was lost during the logon.");
        return;
    }
    if (!m_loggedIn || m_ended)
        return;
    if (m_closing.load(std::memory_order_acquire)) {
        endSession(Fx::STATUSCODE_DISCONNECTED, Fx::MSGCODE_SESSNCLOSED, "The connection was closed.");
        return;
    }
    onLoss(reason);
}

void ClientSession::onLoss(const std::string& reason)
{
    if (endAfterResumeIfAsked())
        return;
    cancelOpTimer();
    refreshPolicyCounts();
    const bool attempt = m_resume == Resume::kConnecting || m_resume == Resume::kAwaitAck ||
                         m_resume == Resume::kAwaitResendComplete;
    ReconnectStep step = attempt ? m_policy.onAttemptFailed() : m_policy.onConnectionLost();
    apply(step, reason);
}

void ClientSession::apply(const ReconnectStep& step, const std::string& reason)
{
    if (step.reportDisconnected)
        m_delivery->postStatus(Fx::STATUSCODE_DISCONNECTED, Fx::MSGCODE_RECONNETING, reason);
    switch (step.action) {
    case ReconnectAction::kNone:
        return;
    case ReconnectAction::kGiveUp:
        m_resume = Resume::kNone;
        endSession(Fx::STATUSCODE_RELOGIN_FAILED, 0, "The connection could not be restored: " + reason);
        return;
    case ReconnectAction::kWait:
        break;
    }
    m_resume = Resume::kWaiting;
    const uint64_t gen = ++m_retryGen;
    m_retryTimer.expires_after(step.delay);
    m_retryTimer.async_wait([self = shared_from_this(), gen](const asio::error_code& ec) {
        if (ec || gen != self->m_retryGen || self->m_ended || self->m_resume != Resume::kWaiting)
            return;
        self->startResumeAttempt();
    });
}

void ClientSession::startResumeAttempt()
{
    m_policy.attemptStarted();
    m_resume = Resume::kConnecting;
    connect(m_loginEndpoint, [this](ConnectResult r) {
        if (m_resume != Resume::kConnecting)
            return;
        if (!r.stream) {
            DebugLog::instance().logEvent(m_logName, "reconnect failed: " + r.error);
            apply(m_policy.onAttemptFailed(), r.error);
            return;
        }
        m_policy.onConnectionOpened();
        attachLink(std::move(r.stream));
        m_resume = Resume::kAwaitAck;
        admin::Logon logon = buildLogon(true);
        m_filterInLogon = logon.filterMask;
        sendAdmin(*admin::build(logon));
        armOpTimer("the resume");
    });
}

void ClientSession::expire(const std::string& reason)
{
    if (m_ended)
        return;
    logWarning(m_logName, "session expired: " + reason);
    if (m_link && m_loggedIn)
        sendAdmin(*admin::build(admin::Logout{admin::LogoutReason::kExpired, reason}));
    endSession(Fx::STATUSCODE_EXPIRED, 0, reason);
}

void ClientSession::endSession(int code, int messageCode, const std::string& reason, bool report)
{
    if (m_ended)
        return;
    m_ended = true;
    m_resume = Resume::kNone;
    m_policy.stop();
    cancelOpTimer();
    ++m_retryGen;
    m_retryTimer.cancel();
    cancelConnect();
    {
        std::lock_guard<std::mutex> lock(m_sendMutex);
        m_sendable = false;
        m_liveLink.reset();
    }
    if (m_link) {
        // Flush what is queued (a Logout) before closing; the engine stays alive
        // until the link has reported, even when the handle is freed meanwhile.
        m_closingLink = std::move(m_link);
        m_link.reset();
        m_keepAlive = shared_from_this();
        m_closingLink->close(reason);
    }
    std::string id;
    {
        std::lock_guard<std::mutex> lock(m_dataMutex);
        id = m_sessionId;
    }
    m_runtime.clearSessionId(id, this);
    if (m_op)
        finishOp(0, true, reason.empty() ? "The session ended." : reason);
    if (report)
        m_delivery->postStatus(code, messageCode, reason);
}

void ClientSession::free(std::function<void()> destroyHandle)
{
    // The handle, which owns this engine, may be destroyed on the strand at once.
    auto self = shared_from_this();
    m_delivery->free(std::move(destroyHandle));
    m_runtime.remove(this);
    asio::post(m_io, [self] {
        self->m_freed = true;
        if (self->m_ended) {
            self->dropLink("session freed");
            return;
        }
        self->endByClient("The session was freed.", "The session was freed.", false);
    });
}

void ClientSession::shutdown()
{
    asio::post(m_io, [self = shared_from_this()] {
        self->endSession(Fx::STATUSCODE_DISCONNECTED, Fx::MSGCODE_SESSNCLOSED, "The transport was shut down.", false);
        self->dropLink("transport shut down");
        if (self->m_closingLink) {
            auto link = std::move(self->m_closingLink);
            self->m_closingLink.reset();
            self->m_keepAlive.reset();
            link->abort("transport shut down");
        }
        self->m_endAfterResume.reset();
        self->m_keepAlive.reset();
    });
}

} // namespace merrow::detail
