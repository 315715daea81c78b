#include "testutil/scripted_server.h"

#include <algorithm>

namespace testutil {

using merrow::IFixDefs;

namespace {

void copyFields(const merrow::IFieldGroup& from, merrow::IFieldGroup& to)
{
    for (int i = 0; i < from.getFieldCount(); ++i) {
        const merrow::IField* f = from.getFieldAt(i);
        switch (f->getType()) {
        case merrow::WIRETYPE_GROUPLIST:
            to.setGroupList(f->getTag(), f->getGroupList());
            break;
        case merrow::WIRETYPE_DOUBLE:
            to.setDoubleValue(f->getTag(), f->getDoubleValue());
            break;
        default:
            to.setValue(f->getTag(), f->getValue(), f->getLength());
            break;
        }
    }
}

} // namespace

std::shared_ptr<merrow::IMessage> copyMessage(const merrow::IMessage& message)
{
    merrow::IMessage* copy = merrow::getMessageFactory()->createMessage(message.getMsgType());
    copyFields(message, *copy);
    return std::shared_ptr<merrow::IMessage>(copy, [](merrow::IMessage* m) { merrow::freeMessage(m); });
}

ScriptedServer::Options::Options()
{
    server.defaultHeartbeat = std::chrono::milliseconds(150);
    server.minHeartbeat = std::chrono::milliseconds(100);
}

// The server's application: answers from the tables and records into the owner.
class ScriptedServer::App : public merrow::IServerApplication {
public:
    explicit App(ScriptedServer& owner) : m_owner(owner) {}

    merrow::StationReply onHello(const merrow::HelloInfo& hello) override
    {
        std::lock_guard<std::mutex> lock(m_owner.m_mutex);
        m_owner.m_hellos.push_back(hello);
        m_owner.m_changed.notify_all();
        const StationScript* s = stationLocked(hello.connectionName);
        if (!s)
            return merrow::StationReply::refuse("Unknown connection '" + hello.connectionName + "'.");
        if (!s->refusalText.empty())
            return merrow::StationReply::refuse(s->refusalText);
        merrow::StationReply r;
        r.parameters = s->parameters;
        r.tradingSessions = s->tradingSessions;
        r.redirectUrl = s->redirectUrl;
        return r;
    }

    merrow::LogonReply onLogon(const merrow::LogonInfo& logon) override
    {
        std::lock_guard<std::mutex> lock(m_owner.m_mutex);
        m_owner.m_logonsSeen.push_back(logon);
        m_owner.m_changed.notify_all();
        auto it = m_owner.m_logons.find({logon.user, logon.tradingSessionSubId});
        if (it == m_owner.m_logons.end())
            it = m_owner.m_logons.find({logon.user, ""});
        if (it == m_owner.m_logons.end() || it->second.password != logon.password)
            return merrow::LogonReply::reject("Invalid user name or password.");
        const LogonScript& script = it->second;
        if (!logon.tradingSessionId.empty() || !logon.tradingSessionSubId.empty()) {
            const StationScript* s = stationLocked(logon.connectionName);
            const bool listed = s && std::any_of(s->tradingSessions.begin(), s->tradingSessions.end(),
                                                 [&](const merrow::TradingSessionDesc& d) {
                                                     return logon.tradingSessionId == d.getID() &&
                                                            logon.tradingSessionSubId == d.getSubID();
                                                 });
            if (!listed)
                return merrow::LogonReply::reject("The trading session is not available.");
        }
        if (!script.pin.empty()) {
            if (logon.pin.empty())
                return merrow::LogonReply::reject("A PIN is required for this trading session.");
            if (logon.pin != script.pin)
                return merrow::LogonReply::reject("Wrong PIN.");
        }
        if (!script.rejectText.empty())
            return merrow::LogonReply::reject(script.rejectText);
        merrow::LogonReply r;
        r.accepted = true;
        r.traderId = script.traderId;
        r.userKind = script.userKind;
        r.properties = script.properties;
        r.initialMessages = script.initialMessages;
        return r;
    }

    void onSessionStarted(const merrow::ServerSessionPtr& session, bool resumed) override
    {
        std::shared_ptr<const StartedHook> hook;
        {
            std::lock_guard<std::mutex> lock(m_owner.m_mutex);
            hook = m_owner.m_onStarted;
            if (resumed)
                ++m_owner.m_resumed;
            else
                m_owner.m_sessions.push_back(session);
            m_owner.m_changed.notify_all();
        }
        if (hook && *hook)
            (*hook)(session, resumed);
    }

    void onMessage(const merrow::ServerSessionPtr& session, const merrow::IMessage& message, int channel) override
    {
        std::shared_ptr<const MessageHook> hook;
        {
            std::lock_guard<std::mutex> lock(m_owner.m_mutex);
            hook = m_owner.m_onMessage;
            ++m_owner.m_receivedCount;
            if (m_owner.m_recordMessages) {
                ReceivedMessage r;
                r.sessionId = session->sessionId();
                r.channel = channel;
                r.message = copyMessage(message);
                const char* text = message.getValue(IFixDefs::FLDTAG_TEXT);
                r.text = text ? text : "";
                r.number = message.getIntValue(IFixDefs::FLDTAG_QORACOMMANDID);
                m_owner.m_received.push_back(std::move(r));
            }
            m_owner.m_changed.notify_all();
        }
        if (hook && *hook)
            (*hook)(session, message, channel);
    }

    std::vector<merrow::InitialMessageText> onResume(const merrow::ServerSessionPtr& session) override
    {
        std::lock_guard<std::mutex> lock(m_owner.m_mutex);
        auto it = m_owner.m_logons.find({session->user(), session->logon().tradingSessionSubId});
        if (it == m_owner.m_logons.end())
            it = m_owner.m_logons.find({session->user(), ""});
        if (it == m_owner.m_logons.end())
            return {};
        return it->second.resumeInitialMessages.empty() ? it->second.initialMessages
                                                        : it->second.resumeInitialMessages;
    }

    void onSessionCut(const merrow::ServerSessionPtr& session, const std::string& reason) override
    {
        std::shared_ptr<const CutHook> hook;
        {
            std::lock_guard<std::mutex> lock(m_owner.m_mutex);
            hook = m_owner.m_onCut;
            ++m_owner.m_cuts;
            m_owner.m_changed.notify_all();
        }
        if (hook && *hook)
            (*hook)(session, reason);
    }

    void onSessionEnded(const merrow::ServerSessionPtr&, merrow::SessionEnd why, const std::string&) override
    {
        std::lock_guard<std::mutex> lock(m_owner.m_mutex);
        m_owner.m_ends.push_back(why);
        m_owner.m_changed.notify_all();
    }

private:
    const StationScript* stationLocked(const std::string& name) const
    {
        auto it = m_owner.m_stations.find(name);
        if (it == m_owner.m_stations.end())
            it = m_owner.m_stations.find("*");
        return it == m_owner.m_stations.end() ? nullptr : &it->second;
    }

    ScriptedServer& m_owner;
};

ScriptedServer::ScriptedServer(Options options)
    : m_recordMessages(options.recordMessages), m_app(std::make_unique<App>(*this)),
      m_server(std::make_unique<merrow::Server>(*m_app, std::move(options.server)))
{
}

ScriptedServer::~ScriptedServer()
{
    stop();
}

void ScriptedServer::setStation(const std::string& connectionName, StationScript script)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_stations[connectionName] = std::move(script);
}

void ScriptedServer::setLogon(const std::string& user, LogonScript script, const std::string& tradingSessionSubId)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_logons[{user, tradingSessionSubId}] = std::move(script);
}

void ScriptedServer::setOnMessage(MessageHook hook)
{
    auto p = std::make_shared<const MessageHook>(std::move(hook));
    std::lock_guard<std::mutex> lock(m_mutex);
    m_onMessage = std::move(p);
}

void ScriptedServer::setOnStarted(StartedHook hook)
{
    auto p = std::make_shared<const StartedHook>(std::move(hook));
    std::lock_guard<std::mutex> lock(m_mutex);
    m_onStarted = std::move(p);
}

void ScriptedServer::setOnCut(CutHook hook)
{
    auto p = std::make_shared<const CutHook>(std::move(hook));
    std::lock_guard<std::mutex> lock(m_mutex);
    m_onCut = std::move(p);
}

uint16_t ScriptedServer::listenPlain()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_server->listen("tcp://127.0.0.1:0").ok())
        return 0;
    const uint16_t port = m_server->boundPort(m_plainPorts.size() + m_tlsPorts.size());
    m_plainPorts.push_back(port);
    return port;
}

uint16_t ScriptedServer::listenTls(const std::string& certFile, const std::string& keyFile)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_server->listen("tls://127.0.0.1:0", certFile, keyFile).ok())
        return 0;
    const uint16_t port = m_server->boundPort(m_plainPorts.size() + m_tlsPorts.size());
    m_tlsPorts.push_back(port);
    return port;
}

std::string ScriptedServer::plainUrl() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_plainPorts.empty() ? std::string() : "tcp://127.0.0.1:" + std::to_string(m_plainPorts.front());
}

std::string ScriptedServer::tlsUrl() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_tlsPorts.empty() ? std::string() : "tls://localhost:" + std::to_string(m_tlsPorts.front());
}

bool ScriptedServer::start()
{
    return m_server->start().ok();
}

void ScriptedServer::stop(merrow::CloseReason reason, const std::string& text)
{
    m_server->stop(reason, text);
}

std::vector<merrow::ServerSessionPtr> ScriptedServer::sessions() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_sessions;
}

template <class Pred>
bool ScriptedServer::waitUntil(std::chrono::milliseconds timeout, Pred pred) const
{
    std::unique_lock<std::mutex> lock(m_mutex);
    return m_changed.wait_for(lock, timeout, pred);
}

merrow::ServerSessionPtr ScriptedServer::waitForSession(size_t index, std::chrono::milliseconds timeout) const
{
    if (!waitUntil(timeout, [&] { return m_sessions.size() > index; }))
        return nullptr;
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_sessions[index];
}

merrow::Status ScriptedServer::push(const merrow::ServerSessionPtr& session, const merrow::IMessage& message,
                                    int channel, const std::string& conflationKey)
{
    if (!session)
        return merrow::Status::error("no session");
    return session->send(message, channel, conflationKey);
}

merrow::Status ScriptedServer::pushText(const merrow::ServerSessionPtr& session, const std::string& text,
                                        int64_t number, int channel, const std::string& conflationKey)
{
    merrow::IMessage* m = merrow::getMessageFactory()->createMessage(IFixDefs::MSGTYPE_QORARESPONSE);
    m->setValue(IFixDefs::FLDTAG_TEXT, text.c_str());
    m->setIntValue(IFixDefs::FLDTAG_QORACOMMANDID, number);
    merrow::Status st = push(session, *m, channel, conflationKey);
    merrow::freeMessage(m);
    return st;
}

void ScriptedServer::close(const merrow::ServerSessionPtr& session, merrow::CloseReason reason,
                           const std::string& text)
{
    if (session)
        session->close(reason, text);
}

void ScriptedServer::cut(const merrow::ServerSessionPtr& session)
{
    if (session)
        session->cut();
}

size_t ScriptedServer::receivedCount() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_receivedCount;
}

std::vector<ReceivedMessage> ScriptedServer::received() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_received;
}

bool ScriptedServer::waitForReceived(size_t count, std::chrono::milliseconds timeout) const
{
    return waitUntil(timeout, [&] { return m_receivedCount >= count; });
}

std::vector<merrow::HelloInfo> ScriptedServer::hellos() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_hellos;
}

std::vector<merrow::LogonInfo> ScriptedServer::logons() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_logonsSeen;
}

size_t ScriptedServer::startedCount() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_sessions.size();
}

size_t ScriptedServer::resumedCount() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_resumed;
}

size_t ScriptedServer::cutCount() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_cuts;
}

size_t ScriptedServer::endedCount() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_ends.size();
}

std::vector<merrow::SessionEnd> ScriptedServer::endReasons() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_ends;
}

bool ScriptedServer::waitForResumed(size_t count, std::chrono::milliseconds timeout) const
{
    return waitUntil(timeout, [&] { return m_resumed >= count; });
}

bool ScriptedServer::waitForEnded(size_t count, std::chrono::milliseconds timeout) const
{
    return waitUntil(timeout, [&] { return m_ends.size() >= count; });
}

} // namespace testutil
