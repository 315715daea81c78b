#pragma once
// The process-wide side of the client: two transport threads, each running its own
// asio context (a session lives on one of them, chosen round-robin, so its reads,
// writes and deliveries never hop between threads), the settings of ConnectionManagerEx, and the registry of live sessions (for
// loginBySession, which joins a price session to its trade session's strand, and
// for finalize, which closes what is still open).
//
// [Threading] Every member may be called from any thread; finalize must not be
// called from a transport thread (it returns false there). init and ensureStarted
// called from a callback never wait for the lifecycle lock, which finalize holds
// while it joins the transport threads.
// [Locking] No session is released under m_mutex: a session's destructor takes it.
// [Lifetime] The context is created once and never destroyed: strands and timers of
// sessions an application never freed still refer to it at exit.

#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

#include <asio.hpp>

#include "byte_stream.h"
#include "url.h"

namespace merrow::detail {

class ClientSession;

struct ClientSettings {
    int reconnectAttempts = 10;
    int reloginAttempts = 15;
    int tcpTimeoutMs = 180000;
    std::string proxyHost;
    uint16_t proxyPort = 0;
    std::string proxyUser;
    std::string proxyPassword;
    std::string caFile;
    // The heart-beat interval a client asks for in its Logon.
    int heartbeatMs = 10000;
    // Bound of each new session's journal of unacknowledged frames.
    size_t journalMaxFrames = 65536;
    size_t journalMaxBytes = size_t(64) << 20;
    // Bound of the messages each new session holds while no listener is subscribed.
    size_t holdMaxMessages = 65536;
    size_t holdMaxBytes = size_t(64) << 20;
    // Messages (and their bytes) waiting for a session's callbacks above which its
    // link stops reading until they are down to half: a slow callback, or a price
    // session whose deliveries run on the other transport thread, holds the stream
    // at the server instead of growing this process.
    size_t deliveryMaxMessages = 1024;
    size_t deliveryMaxBytes = size_t(4) << 20;
};

class ClientRuntime {
public:
    static ClientRuntime& instance();

    // Counted: each init wants one finalize. Starts the threads when they are not
    // running. True when running.
    bool init();
    // False (and nothing done) when called on a transport thread or without init.
    bool finalize();
    // Starts the threads for a session created without init; stopped at exit or by
    // a later init/finalize pair.
    void ensureStarted();
    bool running() const;
    // Threads started so far and now running (for tests of init/finalize).
    int threadCount() const;

    // The context for a new session: the two are handed out in turn.
    asio::io_context& io() { return *m_ios[m_nextIo.fetch_add(1, std::memory_order_relaxed) % kThreads]; }
    // True on one of the transport's threads.
    static bool onTransportThread();

    // Around each application callback on a transport thread (no-op elsewhere). A
    // callback may run long; the other sessions of its thread, and its own link's
    // heart-beats, must not wait for it: a watchdog that sees every thread of a
    // context inside a callback for longer than kStuckAfter lends the context another
    // thread, which runs its handlers until one of its threads is free again.
    static void callbackStarted();
    static void callbackEnded();
    static constexpr std::chrono::milliseconds kStuckAfter{100};
    // Threads lent to the contexts now (for tests).
    int helperCount() const;

    ClientSettings settings() const;
    void update(const std::function<void(ClientSettings&)>& change);
    // The connect options for an endpoint under the current settings.
    ConnectOptions connectOptions(const Endpoint& endpoint) const;

    // Live sessions. A session registers itself at creation and under its session ID
    // once logged in.
    void add(const std::shared_ptr<ClientSession>& session);
    void remove(const ClientSession* session);
    void setSessionId(const std::string& id, const std::shared_ptr<ClientSession>& session);
    void clearSessionId(const std::string& id, const ClientSession* session);
    std::shared_ptr<ClientSession> findBySessionId(const std::string& id) const;
    // For tests: called by remove, under the registry's mutex, with each live session
    // it looks at.
    void setTestHookAfterLock(std::function<void(ClientSession*)> hook)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_testAfterLock = std::move(hook);
    }
    // For tests: called by finalize once it stops waiting for work, before it waits
    // for the threads to end.
    void setTestHookStopping(std::function<void()> hook)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_testStopping = std::move(hook);
    }

    ClientRuntime(const ClientRuntime&) = delete;
    ClientRuntime& operator=(const ClientRuntime&) = delete;

private:
    ClientRuntime();
    ~ClientRuntime();
    void startLocked();
    void stopLocked(std::unique_lock<std::mutex>& lock);

    // A thread running one of the contexts, and since when (steady clock, ns) it runs
    // an application callback (0: none).
    struct Runner {
        explicit Runner(unsigned c) : context(c) {}
        const unsigned context;
        std::atomic<int64_t> callbackSince{0};
        bool alive = true;  // under m_mutex
    };
    void watchdog();
    void runHelper(unsigned context, std::shared_ptr<Runner> me);
    // Caller holds m_mutex: threads of the context not stuck in a callback, but `self`.
    int freeRunnersLocked(unsigned context, const Runner* self, int64_t now) const;

    static constexpr unsigned kThreads = 2;
    // Two single-threaded contexts rather than one shared by two threads: a context
    // with several threads wakes a second one for every readiness event, which
    // doubles the context switches of a round trip.
    asio::io_context* m_ios[kThreads];
    std::atomic<unsigned> m_nextIo{0};
    mutable std::mutex m_mutex;
    std::condition_variable m_threadEnded;
    int m_initCount = 0;
    bool m_running = false;
    int m_liveThreads = 0;
    std::vector<std::thread> m_threads;
    std::vector<asio::executor_work_guard<asio::io_context::executor_type>> m_work;
    ClientSettings m_settings;
    std::vector<std::weak_ptr<ClientSession>> m_sessions;
    std::unordered_map<std::string, std::weak_ptr<ClientSession>> m_byId;
    std::function<void(ClientSession*)> m_testAfterLock;
    std::vector<std::shared_ptr<Runner>> m_runners;
    struct Helper {
        std::thread thread;
        std::shared_ptr<bool> done;  // under m_mutex
    };
    std::vector<Helper> m_helpers;
    int m_helperCount = 0;
    std::thread m_watchdog;
    bool m_watchdogStop = false;
    std::condition_variable m_watchdogWake;
    std::function<void()> m_testStopping;
};

} // namespace merrow::detail
