#include "testutil/fault_proxy.h"

#include "core/base/mutex.h"
#include "testutil/stream_faults.h"

#include <asio.hpp>

#include <sys/ioctl.h>

#include <condition_variable>
#include <deque>
#include <future>
#include <map>
#include <optional>
#include <thread>
#include <utility>
#include <vector>

namespace testutil {
namespace {

using Clock = std::chrono::steady_clock;
using asio::ip::tcp;

constexpr std::size_t kReadChunk = 64 * 1024;
constexpr std::size_t kQueueLimit = 1024 * 1024;
// A positioned cut waits this long at most for the peer to take the bytes before it.
constexpr auto kDrainLimit = std::chrono::seconds(5);
constexpr auto kDrainPoll = std::chrono::milliseconds(1);
constexpr auto kAcceptRetry = std::chrono::milliseconds(10);

int index(Direction d)
{
    return d == Direction::ClientToServer ? 0 : 1;
}

// What a new connection starts with in one direction.
struct Rule {
    bool stall = false;
    std::chrono::milliseconds delay{0};
    std::optional<std::uint64_t> cutAfter;
    std::optional<std::pair<std::uint64_t, std::uint64_t>> cutAtFrame;
    std::uint64_t drop = 0;
    std::uint64_t corrupt = 0;
    std::uint8_t mask = 0xFF;
};

struct Chunk {
    std::vector<std::uint8_t> bytes;
    Clock::time_point readAt;
};

// One direction of a connection: read from the source into `queue`, filtered and
// written to the sink one chunk at a time.
struct Pipe {
    explicit Pipe(asio::io_context& io) : readBuffer(kReadChunk), timer(io) {}

    std::vector<std::uint8_t> readBuffer;
    std::deque<Chunk> queue;
    std::size_t queued = 0;
    std::vector<std::uint8_t> inFlight;
    bool reading = false;
    bool writing = false;
    bool timerArmed = false;
    bool sourceEnded = false;
    bool endForwarded = false;
    bool stalled = false;
    std::chrono::milliseconds delay{0};
    StreamFaults faults;
    asio::steady_timer timer;
};

enum class State { Connecting, Open, Cutting, Closed };

struct Connection {
    Connection(asio::io_context& io, tcp::socket accepted, std::uint64_t id)
        : id(id), client(std::move(accepted)), server(io), pipes{Pipe(io), Pipe(io)}, drainTimer(io)
    {
    }

    tcp::socket& source(int d) { return d == 0 ? client : server; }
    tcp::socket& sink(int d) { return d == 0 ? server : client; }

    const std::uint64_t id;
    tcp::socket client;
    tcp::socket server;
    Pipe pipes[2];
    State state = State::Connecting;
    asio::steady_timer drainTimer;
    Clock::time_point drainDeadline;
};

using ConnectionPtr = std::shared_ptr<Connection>;

void resetSocket(tcp::socket& s)
{
    std::error_code ec;
    if (s.is_open()) {
        s.set_option(asio::socket_base::linger(true, 0), ec);
        s.close(ec);
    }
}

tcp::resolver::results_type resolve(const std::string& host, std::uint16_t port)
{
    asio::io_context io;
    tcp::resolver resolver(io);
    return resolver.resolve(host, std::to_string(port)); // throws std::system_error
}

void applyRule(Pipe& p, const Rule& r)
{
    p.stalled = r.stall;
    p.delay = r.delay;
    if (r.cutAfter)
        p.faults.cutAfter(*r.cutAfter);
    if (r.cutAtFrame)
        p.faults.cutAtFrame(r.cutAtFrame->first, r.cutAtFrame->second);
    p.faults.drop(r.drop);
    p.faults.corrupt(r.corrupt, r.mask);
}

struct Stats {
    std::uint64_t forwarded[2] = {0, 0};
    std::uint64_t received[2] = {0, 0};
    std::uint64_t accepted = 0;
    std::uint64_t refused = 0;
    std::uint64_t open = 0;
};

} // namespace

// Everything but the statistics belongs to the proxy thread: steering calls run there
// through `onIo`, so connection state needs no lock.
class FaultProxy::Impl {
public:
    Impl(const std::string& host, std::uint16_t port)
        : m_work(asio::make_work_guard(m_io)), m_acceptor(m_io), m_acceptRetry(m_io),
          m_target(resolve(host, port))
    {
        const tcp::endpoint local(asio::ip::make_address_v4("127.0.0.1"), 0);
        m_acceptor.open(local.protocol());
        m_acceptor.bind(local);
        m_acceptor.listen();
        m_port = m_acceptor.local_endpoint().port();
        accept();
        m_thread = std::thread([this] { m_io.run(); });
    }

    ~Impl()
    {
        onIo([this] {
            m_stopping = true;
            std::error_code ec;
            m_acceptor.close(ec);
            m_acceptRetry.cancel();
            for (const ConnectionPtr& c : snapshot())
                reset(c);
        });
        // Closed sockets and cancelled timers complete their handlers, then run() ends.
        m_work.reset();
        m_thread.join();
    }

    std::uint16_t port() const { return m_port; }

    void setTarget(const std::string& host, std::uint16_t port)
    {
        tcp::resolver::results_type target = resolve(host, port);
        onIo([&] { m_target = target; });
    }

    void cutAll()
    {
        onIo([this] {
            for (const ConnectionPtr& c : snapshot())
                reset(c);
        });
    }

    void refuseNew(bool on)
    {
        onIo([&] { m_refuse = on; });
    }

    // Applies `onPipe` to the direction of each open connection and `onRule` to the
    // rule for new ones, as the scope says, then lets each pipe act on it.
    template <class OnPipe, class OnRule>
    void steer(Direction dir, Scope scope, OnPipe onPipe, OnRule onRule)
    {
        onIo([&] {
            const int d = index(dir);
            if (scope != Scope::Future) {
                for (const ConnectionPtr& c : snapshot()) {
                    onPipe(c->pipes[d]);
                    pump(c, d);
                }
            }
            if (scope != Scope::Current)
                onRule(m_rules[d]);
        });
    }

    void clearFaults(Scope scope)
    {
        for (Direction dir : {Direction::ClientToServer, Direction::ServerToClient}) {
            steer(
                dir, scope,
                [](Pipe& p) {
                    p.stalled = false;
                    p.delay = std::chrono::milliseconds(0);
                    p.timer.cancel();
                    p.faults.clear();
                },
                [](Rule& r) { r = Rule(); });
        }
    }

    Stats stats() const
    {
        zel::LockGuard<zel::Mutex> lock(m_statsMutex);
        return m_stats;
    }

    template <class Pred>
    bool waitFor(std::chrono::milliseconds timeout, Pred pred) const
    {
        const Clock::time_point deadline = Clock::now() + timeout;
        zel::LockGuard<zel::Mutex> lock(m_statsMutex);
        while (!pred(m_stats)) {
            if (m_statsChanged.wait_until(m_statsMutex, deadline) == std::cv_status::timeout)
                return pred(m_stats);
        }
        return true;
    }

private:
    // Runs `f` on the proxy thread and returns once it ran. Never called from that
    // thread: the proxy runs no code of its users there.
    template <class F>
    void onIo(F&& f)
    {
        std::promise<void> done;
        std::future<void> ran = done.get_future();
        asio::post(m_io, [&f, &done] {
            f();
            done.set_value();
        });
        ran.wait();
    }

    template <class F>
    void updateStats(F f)
    {
        {
            zel::LockGuard<zel::Mutex> lock(m_statsMutex);
            f(m_stats);
        }
        m_statsChanged.notify_all();
    }

    // A copy, since acting on a connection may close it and drop it from the map.
    std::vector<ConnectionPtr> snapshot() const
    {
        std::vector<ConnectionPtr> all;
        all.reserve(m_connections.size());
        for (const auto& entry : m_connections)
            all.push_back(entry.second);
        return all;
    }

    void accept()
    {
        m_acceptor.async_accept([this](std::error_code ec, tcp::socket s) {
            if (m_stopping || ec == asio::error::operation_aborted)
                return;
            if (ec) {
                // Out of descriptors, say: try again shortly rather than spin.
                m_acceptRetry.expires_after(kAcceptRetry);
                m_acceptRetry.async_wait([this](std::error_code waitEc) {
                    if (!waitEc && !m_stopping)
                        accept();
                });
                return;
            }
            accepted(std::move(s));
            accept();
        });
    }

    void accepted(tcp::socket s)
    {
        if (m_refuse) {
            // Counted first, so a test that saw the reset also sees the count.
            updateStats([](Stats& st) {
                ++st.accepted;
                ++st.refused;
            });
            resetSocket(s);
            return;
        }
        auto c = std::make_shared<Connection>(m_io, std::move(s), m_nextId++);
        for (int d = 0; d < 2; ++d)
            applyRule(c->pipes[d], m_rules[d]);
        m_connections.emplace(c->id, c);
        updateStats([](Stats& st) {
            ++st.accepted;
            ++st.open;
        });
        asio::async_connect(c->server, m_target, [this, c](std::error_code ec, const tcp::endpoint&) {
            if (c->state != State::Connecting)
                return;
            if (ec) {
                reset(c);
                return;
            }
            std::error_code ignored;
            c->client.set_option(tcp::no_delay(true), ignored);
            c->server.set_option(tcp::no_delay(true), ignored);
            c->state = State::Open;
            for (int d = 0; d < 2; ++d) {
                read(c, d);
                pump(c, d);
            }
        });
    }

    void read(const ConnectionPtr& c, int d)
    {
        Pipe& p = c->pipes[d];
        if (c->state != State::Open || p.reading || p.sourceEnded || p.queued >= kQueueLimit)
            return;
        p.reading = true;
        c->source(d).async_read_some(asio::buffer(p.readBuffer), [this, c, d](std::error_code ec,
                                                                             std::size_t n) {
            Pipe& p = c->pipes[d];
            p.reading = false;
            if (c->state != State::Open)
                return;
            if (ec == asio::error::eof) {
                p.sourceEnded = true;
                pump(c, d);
                return;
            }
            if (ec) {
                reset(c); // the sender reset: so does the proxy to the other side
                return;
            }
            p.queue.push_back(Chunk{std::vector<std::uint8_t>(p.readBuffer.begin(),
                                                              p.readBuffer.begin() + n),
                                    Clock::now()});
            p.queued += n;
            updateStats([d, n](Stats& st) { st.received[d] += n; });
            pump(c, d);
            read(c, d);
        });
    }

    // Moves the next due chunk of direction `d` through the faults to the sink.
    void pump(const ConnectionPtr& c, int d)
    {
        Pipe& p = c->pipes[d];
        for (;;) {
            if (c->state != State::Open || p.writing)
                return;
            if (p.faults.cutDue()) {
                cut(c, d);
                return;
            }
            if (p.stalled)
                return;
            if (p.queue.empty()) {
                if (p.sourceEnded && !p.endForwarded) {
                    p.endForwarded = true;
                    std::error_code ignored;
                    c->sink(d).shutdown(tcp::socket::shutdown_send, ignored);
                    closeIfDone(c);
                }
                return;
            }
            // The delay in force now counts, also for chunks read before it changed.
            Chunk& front = p.queue.front();
            const Clock::time_point due = front.readAt + p.delay;
            if (due > Clock::now()) {
                if (!p.timerArmed) {
                    p.timerArmed = true;
                    p.timer.expires_at(due);
                    // Also when cancelled: a changed delay re-arms here (pump returns
                    // at once on a closed connection).
                    p.timer.async_wait([this, c, d](std::error_code) {
                        c->pipes[d].timerArmed = false;
                        pump(c, d);
                    });
                }
                return;
            }
            p.inFlight = std::move(front.bytes);
            p.queue.pop_front();
            p.queued -= p.inFlight.size();
            read(c, d);

            const StreamFaults::Result r = p.faults.process(p.inFlight.data(), p.inFlight.size());
            if (r.length == 0) {
                if (r.cut) {
                    cut(c, d);
                    return;
                }
                continue;
            }
            p.writing = true;
            asio::async_write(c->sink(d), asio::buffer(p.inFlight.data() + r.offset, r.length),
                              [this, c, d, cutAfter = r.cut](std::error_code ec, std::size_t n) {
                                  c->pipes[d].writing = false;
                                  if (c->state != State::Open)
                                      return;
                                  if (ec) {
                                      reset(c);
                                      return;
                                  }
                                  updateStats([d, n](Stats& st) { st.forwarded[d] += n; });
                                  if (cutAfter)
                                      cut(c, d);
                                  else
                                      pump(c, d);
                              });
            return;
        }
    }

    // A positioned cut: nothing more moves either way; once the sink's peer holds
    // every byte written before the cut point, both sides are reset.
    void cut(const ConnectionPtr& c, int d)
    {
        if (c->state != State::Open)
            return;
        c->state = State::Cutting;
        c->drainDeadline = Clock::now() + kDrainLimit;
        drain(c, d);
    }

    void drain(const ConnectionPtr& c, int d)
    {
        if (c->state != State::Cutting)
            return;
        int unacknowledged = 0;
        if (::ioctl(c->sink(d).native_handle(), TIOCOUTQ, &unacknowledged) != 0 ||
            unacknowledged <= 0 || Clock::now() >= c->drainDeadline) {
            reset(c);
            return;
        }
        c->drainTimer.expires_after(kDrainPoll);
        c->drainTimer.async_wait([this, c, d](std::error_code ec) {
            if (!ec)
                drain(c, d);
        });
    }

    void closeIfDone(const ConnectionPtr& c)
    {
        if (!c->pipes[0].endForwarded || !c->pipes[1].endForwarded)
            return;
        std::error_code ignored;
        c->client.close(ignored);
        c->server.close(ignored);
        forget(c);
    }

    void reset(const ConnectionPtr& c)
    {
        if (c->state == State::Closed)
            return;
        resetSocket(c->client);
        resetSocket(c->server);
        forget(c);
    }

    void forget(const ConnectionPtr& c)
    {
        c->state = State::Closed;
        for (Pipe& p : c->pipes)
            p.timer.cancel();
        c->drainTimer.cancel();
        m_connections.erase(c->id);
        updateStats([](Stats& st) { --st.open; });
    }

    asio::io_context m_io;
    asio::executor_work_guard<asio::io_context::executor_type> m_work;
    tcp::acceptor m_acceptor;
    asio::steady_timer m_acceptRetry;
    std::uint16_t m_port = 0;
    std::thread m_thread;

    // Proxy thread only.
    tcp::resolver::results_type m_target;
    std::map<std::uint64_t, ConnectionPtr> m_connections;
    Rule m_rules[2];
    bool m_refuse = false;
    bool m_stopping = false;
    std::uint64_t m_nextId = 1;

    mutable zel::Mutex m_statsMutex;
    mutable std::condition_variable_any m_statsChanged;
    Stats m_stats ZEL_GUARDED_BY(m_statsMutex);
};

FaultProxy::FaultProxy(const std::string& targetHost, std::uint16_t targetPort)
    : m_impl(std::make_unique<Impl>(targetHost, targetPort))
{
}

FaultProxy::~FaultProxy() = default;

std::uint16_t FaultProxy::port() const
{
    return m_impl->port();
}

void FaultProxy::setTarget(const std::string& targetHost, std::uint16_t targetPort)
{
    m_impl->setTarget(targetHost, targetPort);
}

void FaultProxy::cutAll()
{
    m_impl->cutAll();
}

void FaultProxy::cutAfterBytes(Direction dir, std::uint64_t n, Scope scope)
{
    m_impl->steer(
        dir, scope, [n](Pipe& p) { p.faults.cutAfter(n); }, [n](Rule& r) { r.cutAfter = n; });
}

void FaultProxy::cutAtFrame(Direction dir, std::uint64_t k, std::uint64_t bytesIntoFrame,
                            Scope scope)
{
    m_impl->steer(
        dir, scope, [=](Pipe& p) { p.faults.cutAtFrame(k, bytesIntoFrame); },
        [=](Rule& r) { r.cutAtFrame = std::make_pair(k, bytesIntoFrame); });
}

void FaultProxy::stall(Direction dir, bool on, Scope scope)
{
    m_impl->steer(
        dir, scope, [on](Pipe& p) { p.stalled = on; }, [on](Rule& r) { r.stall = on; });
}

void FaultProxy::delay(Direction dir, std::chrono::milliseconds delay, Scope scope)
{
    m_impl->steer(
        dir, scope,
        [delay](Pipe& p) {
            p.delay = delay;
            p.timer.cancel();
        },
        [delay](Rule& r) { r.delay = delay; });
}

void FaultProxy::dropBytes(Direction dir, std::uint64_t n, Scope scope)
{
    m_impl->steer(
        dir, scope, [n](Pipe& p) { p.faults.drop(n); }, [n](Rule& r) { r.drop = n; });
}

void FaultProxy::corruptNext(Direction dir, std::uint64_t n, std::uint8_t mask, Scope scope)
{
    if (mask == 0)
        mask = 0xFF;
    m_impl->steer(
        dir, scope, [=](Pipe& p) { p.faults.corrupt(n, mask); },
        [=](Rule& r) {
            r.corrupt = n;
            r.mask = mask;
        });
}

void FaultProxy::refuseNew(bool on)
{
    m_impl->refuseNew(on);
}

void FaultProxy::clearFaults(Scope scope)
{
    m_impl->clearFaults(scope);
}

std::uint64_t FaultProxy::bytesForwarded(Direction dir) const
{
    return m_impl->stats().forwarded[index(dir)];
}

std::uint64_t FaultProxy::bytesReceived(Direction dir) const
{
    return m_impl->stats().received[index(dir)];
}

std::uint64_t FaultProxy::connectionsAccepted() const
{
    return m_impl->stats().accepted;
}

std::uint64_t FaultProxy::connectionsRefused() const
{
    return m_impl->stats().refused;
}

std::uint64_t FaultProxy::connectionsOpen() const
{
    return m_impl->stats().open;
}

bool FaultProxy::waitForConnections(std::uint64_t accepted, std::chrono::milliseconds timeout) const
{
    return m_impl->waitFor(timeout, [=](const Stats& s) { return s.accepted >= accepted; });
}

bool FaultProxy::waitForOpenConnections(std::uint64_t open, std::chrono::milliseconds timeout) const
{
    return m_impl->waitFor(timeout, [=](const Stats& s) { return s.open == open; });
}

bool FaultProxy::waitForBytesForwarded(Direction dir, std::uint64_t n,
                                       std::chrono::milliseconds timeout) const
{
    const int d = index(dir);
    return m_impl->waitFor(timeout, [=](const Stats& s) { return s.forwarded[d] >= n; });
}

bool FaultProxy::waitForBytesReceived(Direction dir, std::uint64_t n,
                                      std::chrono::milliseconds timeout) const
{
    const int d = index(dir);
    return m_impl->waitFor(timeout, [=](const Stats& s) { return s.received[d] >= n; });
}

} // namespace testutil
