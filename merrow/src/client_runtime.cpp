#include "client_runtime.h"

#include <chrono>

#include "client_session.h"

namespace merrow::detail {

namespace {

thread_local bool t_onTransportThread = false;

// How long finalize lets sessions flush their Logout before it stops the context.
constexpr auto kDrainBound = std::chrono::seconds(2);

std::mutex g_lifecycle;  // serializes init, finalize and the implicit start

} // namespace

ClientRuntime& ClientRuntime::instance()
{
    static ClientRuntime runtime;
    return runtime;
}

ClientRuntime::ClientRuntime()
{
    for (auto& io : m_ios)
        io = new asio::io_context(1);
}

ClientRuntime::~ClientRuntime()
{
    // An application that never called finalize: the threads must not outlive the
    // statics they use.
    std::lock_guard<std::mutex> life(g_lifecycle);
    std::unique_lock<std::mutex> lock(m_mutex);
    if (m_running && !t_onTransportThread)
        stopLocked(lock);
}

bool ClientRuntime::onTransportThread()
{
    return t_onTransportThread;
}

bool ClientRuntime::init()
{
    if (t_onTransportThread) {
        // From a callback, while finalize may be joining this very thread: the
        // threads run (this is one), so counting is all there is to do.
        std::lock_guard<std::mutex> lock(m_mutex);
        ++m_initCount;
        return m_running;
    }
    std::lock_guard<std::mutex> life(g_lifecycle);
    std::unique_lock<std::mutex> lock(m_mutex);
    ++m_initCount;
    if (!m_running)
        startLocked();
    return m_running;
}

bool ClientRuntime::finalize()
{
    if (t_onTransportThread)
        return false;
    std::lock_guard<std::mutex> life(g_lifecycle);
    std::unique_lock<std::mutex> lock(m_mutex);
    if (m_initCount == 0)
        return false;
    if (--m_initCount > 0)
        return true;
    if (m_running)
        stopLocked(lock);
    return true;
}

void ClientRuntime::ensureStarted()
{
    // A callback that creates a session: this thread runs, and finalize may hold the
    // lifecycle lock while it waits for this thread to end.
    if (t_onTransportThread)
        return;
    std::lock_guard<std::mutex> life(g_lifecycle);
    std::unique_lock<std::mutex> lock(m_mutex);
    if (!m_running)
        startLocked();
}

bool ClientRuntime::running() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_running;
}

int ClientRuntime::threadCount() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_liveThreads;
}

void ClientRuntime::startLocked()
{
    m_work.clear();
    for (auto* io : m_ios)
        m_work.push_back(asio::make_work_guard(*io));
    m_running = true;
    for (unsigned i = 0; i < kThreads; ++i) {
        ++m_liveThreads;
        m_threads.emplace_back([this, io = m_ios[i]] {
            t_onTransportThread = true;
            for (;;) {
                try {
                    io->run();
                    break;
                } catch (...) {
                    // A handler that threw must not take the transport's thread with it.
                }
            }
            std::lock_guard<std::mutex> lock(m_mutex);
            --m_liveThreads;
            m_threadEnded.notify_all();
        });
    }
}

void ClientRuntime::stopLocked(std::unique_lock<std::mutex>& lock)
{
    std::vector<std::shared_ptr<ClientSession>> open;
    for (auto& weak : m_sessions)
        if (auto s = weak.lock())
            open.push_back(std::move(s));
    lock.unlock();
    for (auto& s : open)
        s->shutdown();
    open.clear();
    lock.lock();
    // Without the guard, run() returns once the sessions' last handlers are done.
    m_work.clear();
    if (m_testStopping) {
        lock.unlock();
        m_testStopping();
        lock.lock();
    }
    if (!m_threadEnded.wait_for(lock, kDrainBound, [this] { return m_liveThreads == 0; }))
        for (auto* io : m_ios)
            io->stop();
    std::vector<std::thread> threads;
    threads.swap(m_threads);
    lock.unlock();
    for (auto& t : threads)
        t.join();
    lock.lock();
    for (auto* io : m_ios)
        io->restart();
    m_running = false;
}

ClientSettings ClientRuntime::settings() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_settings;
}

void ClientRuntime::update(const std::function<void(ClientSettings&)>& change)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    change(m_settings);
}

ConnectOptions ClientRuntime::connectOptions(const Endpoint& endpoint) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    ConnectOptions o;
    o.host = endpoint.host;
    o.port = endpoint.port;
    o.tls = endpoint.tls;
    o.caFile = m_settings.caFile;
    o.proxyHost = m_settings.proxyHost;
    o.proxyPort = m_settings.proxyPort;
    o.proxyUser = m_settings.proxyUser;
    o.proxyPassword = m_settings.proxyPassword;
    o.timeoutMs = m_settings.tcpTimeoutMs;
    return o;
}

void ClientRuntime::add(const std::shared_ptr<ClientSession>& session)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    // Drop entries of sessions that are gone while we are here.
    std::vector<std::weak_ptr<ClientSession>> kept;
    kept.reserve(m_sessions.size() + 1);
    for (auto& weak : m_sessions)
        if (!weak.expired())
            kept.push_back(std::move(weak));
    kept.push_back(session);
    m_sessions.swap(kept);
}

void ClientRuntime::remove(const ClientSession* session)
{
    // The sessions locked to compare them are released after the mutex: a lock may
    // have become the last owner meanwhile, whose destructor calls remove again.
    std::vector<std::shared_ptr<ClientSession>> looked;
    std::lock_guard<std::mutex> lock(m_mutex);
    for (auto it = m_sessions.begin(); it != m_sessions.end();) {
        auto s = it->lock();
        if (s && m_testAfterLock)
            m_testAfterLock(s.get());
        const bool drop = !s || s.get() == session;
        if (s)
            looked.push_back(std::move(s));
        if (drop)
            it = m_sessions.erase(it);
        else
            ++it;
    }
}

void ClientRuntime::setSessionId(const std::string& id, const std::shared_ptr<ClientSession>& session)
{
    if (id.empty())
        return;
    std::lock_guard<std::mutex> lock(m_mutex);
    m_byId[id] = session;
}

void ClientRuntime::clearSessionId(const std::string& id, const ClientSession* session)
{
    std::shared_ptr<ClientSession> s;  // released after the mutex, as in remove
    std::lock_guard<std::mutex> lock(m_mutex);
    auto it = m_byId.find(id);
    if (it == m_byId.end())
        return;
    s = it->second.lock();
    if (!s || s.get() == session)
        m_byId.erase(it);
}

std::shared_ptr<ClientSession> ClientRuntime::findBySessionId(const std::string& id) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    auto it = m_byId.find(id);
    return it == m_byId.end() ? nullptr : it->second.lock();
}

} // namespace merrow::detail
