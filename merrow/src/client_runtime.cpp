#include "client_runtime.h"

#include <algorithm>
#include <chrono>

#include "client_session.h"

namespace merrow::detail {

namespace {

thread_local bool t_onTransportThread = false;

// Most threads lent to one context at once: past it, long callbacks queue.
constexpr int kMaxHelpers = 16;

int64_t steadyNanos()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

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
    // Not the single-thread hint: a watchdog may lend a context a second thread while
    // a callback holds the first, and under that hint the threads never wake each other.
    for (auto& io : m_ios)
        io = new asio::io_context();
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

namespace {
thread_local std::atomic<int64_t>* t_callbackSince = nullptr;
} // namespace

void ClientRuntime::callbackStarted()
{
    if (t_callbackSince)
        t_callbackSince->store(steadyNanos(), std::memory_order_relaxed);
}

void ClientRuntime::callbackEnded()
{
    if (t_callbackSince)
        t_callbackSince->store(0, std::memory_order_relaxed);
}

int ClientRuntime::helperCount() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_helperCount;
}

int ClientRuntime::freeRunnersLocked(unsigned context, const Runner* self, int64_t now) const
{
    const int64_t stuckAfter = std::chrono::duration_cast<std::chrono::nanoseconds>(kStuckAfter).count();
    int free = 0;
    for (const auto& r : m_runners) {
        if (!r->alive || r->context != context || r.get() == self)
            continue;
        const int64_t since = r->callbackSince.load(std::memory_order_relaxed);
        free += since == 0 || now - since < stuckAfter;
    }
    return free;
}

void ClientRuntime::watchdog()
{
    std::unique_lock<std::mutex> lock(m_mutex);
    while (!m_watchdogStop) {
        m_watchdogWake.wait_for(lock, std::chrono::milliseconds(25));
        if (m_watchdogStop)
            break;
        // Helpers that have ended.
        for (auto it = m_helpers.begin(); it != m_helpers.end();) {
            if (*it->done) {
                it->thread.join();  // it has left the lock and only returns
                it = m_helpers.erase(it);
            } else {
                ++it;
            }
        }
        const int64_t now = steadyNanos();
        for (unsigned i = 0; i < kThreads; ++i) {
            if (m_helperCount >= kMaxHelpers * int(kThreads) || freeRunnersLocked(i, nullptr, now) > 0)
                continue;
            auto runner = std::make_shared<Runner>(i);
            m_runners.push_back(runner);
            ++m_helperCount;
            auto done = std::make_shared<bool>(false);
            m_helpers.push_back(Helper{std::thread([this, i, runner] { runHelper(i, runner); }), done});
        }
    }
}

void ClientRuntime::runHelper(unsigned context, std::shared_ptr<Runner> me)
{
    t_onTransportThread = true;
    t_callbackSince = &me->callbackSince;
    asio::io_context* io = m_ios[context];
    for (;;) {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            if (m_watchdogStop || io->stopped() || freeRunnersLocked(context, me.get(), steadyNanos()) > 0) {
                me->alive = false;
                m_runners.erase(std::remove(m_runners.begin(), m_runners.end(), me), m_runners.end());
                --m_helperCount;
                for (auto& h : m_helpers)
                    if (h.thread.get_id() == std::this_thread::get_id())
                        *h.done = true;
                // A thread of the context may be waiting while this one ran the
                // reactor: wake it, or it would sleep on with work queued.
                asio::post(*io, [] {});
                return;
            }
        }
        try {
            io->run_one_for(std::chrono::milliseconds(20));
        } catch (...) {
        }
    }
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
    m_watchdogStop = false;
    for (unsigned i = 0; i < kThreads; ++i) {
        ++m_liveThreads;
        auto runner = std::make_shared<Runner>(i);
        m_runners.push_back(runner);
        m_threads.emplace_back([this, io = m_ios[i], runner] {
            t_onTransportThread = true;
            t_callbackSince = &runner->callbackSince;
            for (;;) {
                try {
                    io->run();
                    break;
                } catch (...) {
                    // A handler that threw must not take the transport's thread with it.
                }
            }
            std::lock_guard<std::mutex> lock(m_mutex);
            runner->alive = false;
            --m_liveThreads;
            m_threadEnded.notify_all();
        });
    }
    m_watchdog = std::thread([this] { watchdog(); });
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
    m_watchdogStop = true;
    m_watchdogWake.notify_all();
    std::thread watchdog = std::move(m_watchdog);
    lock.unlock();
    for (auto& t : threads)
        t.join();
    if (watchdog.joinable())
        watchdog.join();
    lock.lock();
    // Helpers see the stop and end; the contexts are stopped or out of work.
    std::vector<Helper> helpers;
    helpers.swap(m_helpers);
    lock.unlock();
    for (auto& h : helpers)
        h.thread.join();
    lock.lock();
    m_runners.clear();
    m_helperCount = 0;
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
