// Speed of the transport (libmerrow).
//
// BM_Codec/encode_decode: one message of 10 text and integer fields and a
// 3-entry parameter group, encoded into a frame and decoded back, one core.
// Target: at least 2,000,000 round trips per second.
//
// BM_RoundTrip/{raw_tcp,merrow,merrow_tls}: one small message client -> server
// echo -> client, over loopback. raw_tcp is the floor: blocking POSIX sockets
// ping-ponging a buffer the size of the merrow frame, the client sending the next
// one as soon as recv returns. merrow times a client `send` to the moment its
// message listener sees the echo, and the listener sends the next ping (100 round
// trips per iteration). Counters median_us and p99_us; target: both at most
// 1.15 x raw_tcp. merrow_app_thread, for comparison, sends each ping from the
// benchmark thread and waits there for the listener to wake it.
//
// BM_OneWay200/{merrow,merrow_tls}: 200-byte text messages client -> server,
// counted at the server application's onMessage. Targets: at least 1,000,000
// messages per second; TLS at least 60 % of plain.
//
// BM_IdleSessions/1000: 1,000 logged-in idle sessions on one server running in a
// child process (this binary with --idle-server), so that its resident set holds
// the server alone. bytes_per_session is the child's RSS growth from listening to
// holding every session, divided by 1,000; heap_bytes_per_session is the same for
// malloc's bytes in use. Target: at most 64 KiB per session.
//
// BM_SlowCallback/sessions:8: 8 sessions on one server each get a price every
// 10 ms on the market-data channel, with a 1 s heart-beat interval; one session's
// message callback sleeps 10 s (PELLORA_BENCH_SLOW_CALLBACK_MS sets a shorter
// sleep). longest_gap_ms is the longest time between two prices of any other
// session from the moment the callback fell asleep until it returned;
// sessions_cut counts the server's cuts and the clients' reconnect reports of all
// sessions, the sleeping one included (target 0); slow_session_prices_after counts
// the prices the sleeping session got in the 0.5 s after it woke.

#include <benchmark/benchmark.h>

#include "plain_names_reporter.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <malloc.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include "client_runtime.h"
#include "frame_codec.h"
#include "merrow/connection_manager.h"
#include "merrow/fix_defs.h"
#include "merrow/listeners.h"
#include "merrow/message.h"
#include "merrow/server.h"
#include "merrow/user_session.h"
#include "vorntool/add_ref.h"

namespace {

using merrow::IFixDefs;
namespace wire = merrow::wire;

// A typical DAS request as the core renders it.
std::unique_ptr<merrow::FieldGroup> typicalRequest()
{
    auto m = std::make_unique<merrow::FieldGroup>();
    m->setMsgType(IFixDefs::MSGTYPE_QORAREQUEST);
    m->setValue(IFixDefs::FLDTAG_TRADINGSESSIONID, "QORA");
    m->setValue(IFixDefs::FLDTAG_TRADINGSESSIONSUBID, "Real");
    m->setValue(IFixDefs::FLDTAG_TESTREQID, "5f3a9c01d2e4b7a8:1042");
    m->setValue(IFixDefs::FLDTAG_SYMBOL, "EUR/USD");
    m->setValue(IFixDefs::FLDTAG_TEXT, "create order");
    m->setIntValue(IFixDefs::FLDTAG_QORACOMMANDID, 139);
    m->setIntValue(IFixDefs::FLDTAG_MARKETDEPTH, 300);
    m->setIntValue(IFixDefs::FLDTAG_QORATIMINGINTERVAL, 1);
    m->setIntValue(IFixDefs::FLDTAG_QORACONTINUOUSFLAG, IFixDefs::QORACONTINUOUS_END);
    m->setIntValue(IFixDefs::FLDTAG_CONTINGENCYTYPE, 2);
    merrow::IFieldGroupList* params = m->createGroupList(IFixDefs::FLDTAG_QORANOPARAM);
    const char* pairs[][2] = {{"QID", "5f3a9c01d2e4b7a8:1042"}, {"QTXT", "ZLQW"}, {"Parties", "[OP,C,13,zel2,4]"}};
    for (const auto& p : pairs) {
        merrow::IFieldGroup* e = params->appendGroup();
        e->setValue(IFixDefs::FLDTAG_QORAPARAMNAME, p[0]);
        e->setValue(IFixDefs::FLDTAG_QORAPARAMVALUE, p[1]);
    }
    return m;
}

void BM_Codec_encode_decode(benchmark::State& state)
{
    const auto message = typicalRequest();
    wire::FrameHeader header;
    header.lastReceived = 1;
    wire::FrameDecoder decoder;
    std::vector<uint8_t> out;
    out.reserve(512);
    for (auto _ : state) {
        out.clear();
        ++header.sequence;
        if (!wire::encodeFrame(header, *message, out).ok()) {
            state.SkipWithError("encode failed");
            break;
        }
        decoder.feed(out.data(), out.size());
        std::optional<wire::Frame> frame;
        if (!decoder.next(frame).ok() || !frame) {
            state.SkipWithError("decode failed");
            break;
        }
        benchmark::DoNotOptimize(frame->message.get());
    }
    state.SetItemsProcessed(state.iterations());
    state.counters["frame_bytes"] = static_cast<double>(out.size());
}
BENCHMARK(BM_Codec_encode_decode)->Name("BM_Codec/encode_decode");

using Clock = std::chrono::steady_clock;
using merrow::ConnectionManagerEx;

// ---------------------------------------------------------------------------------
// Shared pieces

// Median and 99th percentile of per-iteration latencies, in microseconds.
void reportLatencies(benchmark::State& state, std::vector<double>& us)
{
    state.SetItemsProcessed(state.iterations());
    if (us.empty())
        return;
    std::sort(us.begin(), us.end());
    state.counters["median_us"] = us[us.size() / 2];
    state.counters["p99_us"] = us[std::min(us.size() - 1, us.size() * 99 / 100)];
    double sum = 0;
    for (double v : us)
        sum += v;
    state.counters["mean_us"] = sum / us.size();
}

double microseconds(Clock::duration d) { return std::chrono::duration<double, std::micro>(d).count(); }

// The small message of the round trips.
merrow::IMessage* pingMessage()
{
    merrow::IMessage* m = merrow::getMessageFactory()->createMessage(IFixDefs::MSGTYPE_QORARESPONSE);
    m->setValue(IFixDefs::FLDTAG_TEXT, "ping");
    m->setIntValue(IFixDefs::FLDTAG_QORACOMMANDID, 139);
    return m;
}

// Bytes of the ping as one frame on the wire: what raw_tcp ping-pongs.
size_t pingFrameBytes()
{
    merrow::IMessage* m = pingMessage();
    wire::FrameHeader header;
    header.kind = wire::FrameKind::Application;
    header.sequence = 1000;
    header.lastReceived = 1000;
    std::vector<uint8_t> out;
    (void)wire::encodeFrame(header, *m, out);
    merrow::freeMessage(m);
    return out.size();
}

// A CA and a certificate for 127.0.0.1 signed by it, made once with the openssl command.
struct BenchCerts {
    std::string dir, ca, cert, key;
    bool ok = false;
};

bool g_certsMade = false;

const BenchCerts& benchCerts()
{
    static const BenchCerts certs = [] {
        BenchCerts c;
        std::string pattern = (std::filesystem::temp_directory_path() / "merrow-bench-XXXXXX").string();
        if (!mkdtemp(pattern.data()))
            return c;
        c.dir = pattern;
        c.ca = c.dir + "/ca.pem";
        c.cert = c.dir + "/server.pem";
        c.key = c.dir + "/server.key";
        std::ofstream(c.dir + "/ext") << "basicConstraints=CA:FALSE\nsubjectAltName=IP:127.0.0.1,DNS:localhost\n";
        const std::string d = "'" + c.dir + "'";
        const std::string script = "cd " + d +
            " && openssl genpkey -algorithm EC -pkeyopt ec_paramgen_curve:prime256v1 -out ca.key"
            " && openssl req -x509 -new -key ca.key -out ca.pem -days 30 -subj /CN=bench-ca"
            " -addext basicConstraints=critical,CA:TRUE -addext keyUsage=critical,keyCertSign"
            " && openssl genpkey -algorithm EC -pkeyopt ec_paramgen_curve:prime256v1 -out server.key"
            " && openssl req -new -key server.key -out server.csr -subj /CN=127.0.0.1"
            " && openssl x509 -req -in server.csr -CA ca.pem -CAkey ca.key -set_serial 1 -days 30"
            " -sha256 -extfile ext -out server.pem";
        c.ok = std::system((script + " >openssl.log 2>&1").c_str()) == 0;
        g_certsMade = true;
        return c;
    }();
    return certs;
}

void removeBenchCerts()
{
    if (!g_certsMade)
        return;
    const BenchCerts& c = benchCerts();
    std::error_code ignored;
    if (!c.dir.empty())
        std::filesystem::remove_all(c.dir, ignored);
}

// The server application: accepts any logon; echoes the messages of sessions whose
// user is "echo", counts those of the others.
class BenchServerApp : public merrow::IServerApplication {
public:
    merrow::StationReply onHello(const merrow::HelloInfo&) override
    {
        merrow::StationReply r;
        r.parameters = {{"version", "1.0"}};
        r.tradingSessions = {merrow::TradingSessionDesc("QORA", "MAIN", "Main", "Bench", false)};
        return r;
    }
    merrow::LogonReply onLogon(const merrow::LogonInfo&) override
    {
        merrow::LogonReply r;
        r.accepted = true;
        r.traderId = 1;
        r.properties = {{"TransportProvider", "merrow-bench"}};
        return r;
    }
    void onSessionStarted(const merrow::ServerSessionPtr& session, bool) override
    {
        sessions.fetch_add(1, std::memory_order_relaxed);
        if (session->user() == "echo")
            session->setContext(std::make_shared<int>(1));
    }
    void onMessage(const merrow::ServerSessionPtr& session, const merrow::IMessage& message, int) override
    {
        if (session->context())
            (void)session->send(message);
        else
            received.fetch_add(1, std::memory_order_release);
    }
    void onSessionEnded(const merrow::ServerSessionPtr&, merrow::SessionEnd, const std::string&) override {}

    std::atomic<uint64_t> received{0};
    std::atomic<size_t> sessions{0};
};

// Plays ping-pong from the echo session's message listener: each echo is timed
// from the send of its ping, and the next ping is sent from inside the listener,
// as the raw TCP client sends its next message as soon as recv returns. The first
// ping of a chain comes from the benchmark thread; with sampleFirst it is timed too.
class PingPong : public TThreadSafeAddRefImpl<merrow::IUserMessageListener> {
public:
    PingPong() : m_ping(pingMessage()) {}
    ~PingPong() override { merrow::freeMessage(m_ping); }

    void update(merrow::IUserSession* session, merrow::IMessage*) override
    {
        const auto now = Clock::now();
        std::unique_lock<std::mutex> lock(m_mutex);
        if (m_left == 0)
            return;
        if (m_timed)
            m_us.push_back(microseconds(now - m_sentAt));
        if (--m_left > 0) {
            m_timed = true;
            m_sentAt = Clock::now();
            if (session->send(m_ping) == 1)
                return;
            m_failed = true;
            m_left = 0;
        }
        m_done = true;
        lock.unlock();
        m_cv.notify_one();
    }

    // n round trips; false when a send failed or an echo did not come in time.
    bool run(merrow::IUserSession* session, int n, bool sampleFirst)
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_left = n;
        m_done = false;
        m_timed = sampleFirst;
        m_sentAt = Clock::now();
        if (session->send(m_ping) != 1)
            return false;
        return m_cv.wait_for(lock, std::chrono::seconds(10), [&] { return m_done; }) && !m_failed;
    }

    std::vector<double> takeLatencies()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return std::move(m_us);
    }

private:
    merrow::IMessage* m_ping;
    std::mutex m_mutex;
    std::condition_variable m_cv;
    int m_left = 0;
    bool m_done = false;
    bool m_failed = false;
    bool m_timed = false;
    Clock::time_point m_sentAt;
    std::vector<double> m_us;
};

std::once_flag g_runtimeOnce;
bool g_runtimeStarted = false;
void startRuntime()
{
    std::call_once(g_runtimeOnce, [] {
        ConnectionManagerEx::init(1);
        g_runtimeStarted = true;
    });
}

// Creates, loads and logs in one client session; null on failure.
merrow::IUserSession* loggedInSession(const std::string& url, const std::string& user)
{
    merrow::IUserSession* s =
        ConnectionManagerEx::createUserSession(url.c_str(), "bench", user.c_str(), "pw", "merrow-bench");
    if (!s)
        return nullptr;
    try {
        if (s->loadStationDescriptor() != 0 && s->getTradingSessionDescs()[0]) {
            s->setTradingSession(s->getTradingSessionDescs()[0]);
            if (s->login("") == 1)
                return s;
        }
    } catch (...) {
    }
    ConnectionManagerEx::freeObject(s);
    return nullptr;
}

// One server with an echo session and a sink session, plain or TLS; made at first
// use and kept for the run.
struct Rig {
    BenchServerApp app;
    std::unique_ptr<merrow::Server> server;
    merrow::IUserSession* echo = nullptr;
    merrow::IUserSession* sink = nullptr;
    PingPong* listener = nullptr;
    std::string error;

    explicit Rig(bool tls)
    {
        startRuntime();
        server = std::make_unique<merrow::Server>(app);
        merrow::Status listening = merrow::Status();
        if (tls) {
            const BenchCerts& certs = benchCerts();
            if (!certs.ok) {
                error = "openssl could not make the certificates";
                return;
            }
            ConnectionManagerEx::setCAInfo(certs.ca.c_str());
            listening = server->listen("tls://127.0.0.1:0", certs.cert, certs.key);
        } else {
            listening = server->listen("tcp://127.0.0.1:0");
        }
        if (!listening.ok() || !server->start().ok()) {
            error = "server did not start";
            return;
        }
        const std::string url =
            std::string(tls ? "tls" : "tcp") + "://127.0.0.1:" + std::to_string(server->boundPort());
        echo = loggedInSession(url, "echo");
        sink = loggedInSession(url, "sink");
        if (!echo || !sink) {
            error = "login failed";
            return;
        }
        listener = new PingPong;
        echo->subscribe(listener);
    }
    ~Rig()
    {
        for (merrow::IUserSession* s : {echo, sink})
            if (s)
                ConnectionManagerEx::freeObject(s);
        if (server)
            server->stop();
        if (listener)
            listener->release();
    }
};

std::unique_ptr<Rig> g_rigs[2];
Rig& rig(bool tls)
{
    if (!g_rigs[tls])
        g_rigs[tls] = std::make_unique<Rig>(tls);
    return *g_rigs[tls];
}

// ---------------------------------------------------------------------------------
// Round trips

bool writeAll(int fd, const uint8_t* p, size_t n)
{
    while (n > 0) {
        const ssize_t k = ::send(fd, p, n, MSG_NOSIGNAL);
        if (k <= 0)
            return false;
        p += k;
        n -= static_cast<size_t>(k);
    }
    return true;
}

bool readAll(int fd, uint8_t* p, size_t n)
{
    while (n > 0) {
        const ssize_t k = ::recv(fd, p, n, 0);
        if (k <= 0)
            return false;
        p += k;
        n -= static_cast<size_t>(k);
    }
    return true;
}

void BM_RoundTrip_raw_tcp(benchmark::State& state)
{
    const size_t size = pingFrameBytes();
    const int one = 1;
    const int lfd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    if (lfd < 0 || ::bind(lfd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || ::listen(lfd, 1) != 0 ||
        ::getsockname(lfd, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
        state.SkipWithError("listen failed");
        return;
    }
    const int cfd = ::socket(AF_INET, SOCK_STREAM, 0);
    if (::connect(cfd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        state.SkipWithError("connect failed");
        return;
    }
    const int sfd = ::accept(lfd, nullptr, nullptr);
    ::close(lfd);
    ::setsockopt(cfd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    ::setsockopt(sfd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    std::thread echo([sfd, size] {
        std::vector<uint8_t> buf(size);
        while (readAll(sfd, buf.data(), size) && writeAll(sfd, buf.data(), size)) {
        }
    });
    std::vector<uint8_t> buf(size, 'x');
    std::vector<double> us;
    us.reserve(1 << 20);
    for (auto _ : state) {
        const auto t0 = Clock::now();
        if (!writeAll(cfd, buf.data(), size) || !readAll(cfd, buf.data(), size)) {
            state.SkipWithError("echo failed");
            break;
        }
        us.push_back(microseconds(Clock::now() - t0));
    }
    ::shutdown(cfd, SHUT_RDWR);
    echo.join();
    ::close(cfd);
    ::close(sfd);
    reportLatencies(state, us);
    state.counters["message_bytes"] = static_cast<double>(size);
}
BENCHMARK(BM_RoundTrip_raw_tcp)->Name("BM_RoundTrip/raw_tcp")->UseRealTime();

// chain: round trips per benchmark iteration, all but the first sent from the
// listener; 1 with sampleFirst: each ping sent and awaited by the benchmark thread.
void roundTrip(benchmark::State& state, bool tls, int chain, bool sampleFirst)
{
    Rig& r = rig(tls);
    if (!r.error.empty()) {
        state.SkipWithError(r.error.c_str());
        return;
    }
    (void)r.listener->takeLatencies();
    for (auto _ : state) {
        if (!r.listener->run(r.echo, chain, sampleFirst)) {
            state.SkipWithError("no echo");
            break;
        }
    }
    std::vector<double> us = r.listener->takeLatencies();
    reportLatencies(state, us);
    state.SetItemsProcessed(state.iterations() * chain);
}

constexpr int kChain = 100;
void BM_RoundTrip_merrow(benchmark::State& state) { roundTrip(state, false, kChain, false); }
void BM_RoundTrip_merrow_tls(benchmark::State& state) { roundTrip(state, true, kChain, false); }
// The same from an application thread: its wake-up and the hop of each send to an
// I/O thread are part of every round trip.
void BM_RoundTrip_merrow_app_thread(benchmark::State& state) { roundTrip(state, false, 1, true); }
BENCHMARK(BM_RoundTrip_merrow)->Name("BM_RoundTrip/merrow")->UseRealTime();
BENCHMARK(BM_RoundTrip_merrow_tls)->Name("BM_RoundTrip/merrow_tls")->UseRealTime();
BENCHMARK(BM_RoundTrip_merrow_app_thread)->Name("BM_RoundTrip/merrow_app_thread")->UseRealTime();

// ---------------------------------------------------------------------------------
// One-way stream

void oneWay(benchmark::State& state, bool tls)
{
    Rig& r = rig(tls);
    if (!r.error.empty()) {
        state.SkipWithError(r.error.c_str());
        return;
    }
    // At most this many messages sent and not yet seen by the server: far inside the
    // client's journal bound, which only acknowledgements drain.
    constexpr uint64_t kWindow = 16384;
    merrow::IMessage* m = merrow::getMessageFactory()->createMessage(IFixDefs::MSGTYPE_QORARESPONSE);
    m->setValue(IFixDefs::FLDTAG_TEXT, std::string(200, 't').c_str());
    const uint64_t start = r.app.received.load(std::memory_order_acquire);
    uint64_t sent = 0;
    for (auto _ : state) {
        if ((sent & 255) == 0) {
            while (sent - (r.app.received.load(std::memory_order_acquire) - start) > kWindow)
                std::this_thread::sleep_for(std::chrono::microseconds(50));
        }
        if (r.sink->send(m) != 1) {
            state.SkipWithError("send failed");
            break;
        }
        ++sent;
    }
    // The clock stops once the server has had every message.
    const auto deadline = Clock::now() + std::chrono::seconds(30);
    while (r.app.received.load(std::memory_order_acquire) - start < sent && Clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::microseconds(50));
    if (r.app.received.load(std::memory_order_acquire) - start < sent)
        state.SkipWithError("messages missing at the server");
    merrow::freeMessage(m);
    state.SetItemsProcessed(static_cast<int64_t>(sent));
}

void BM_OneWay200_merrow(benchmark::State& state) { oneWay(state, false); }
void BM_OneWay200_merrow_tls(benchmark::State& state) { oneWay(state, true); }
BENCHMARK(BM_OneWay200_merrow)->Name("BM_OneWay200/merrow")->UseRealTime();
BENCHMARK(BM_OneWay200_merrow_tls)->Name("BM_OneWay200/merrow_tls")->UseRealTime();

// ---------------------------------------------------------------------------------
// Idle sessions: the server runs in a child process, driven over its stdin/stdout
// ("port" at start, then "stats" answered with sessions, RSS and heap bytes).

struct ServerStats {
    size_t sessions = 0;
    long long rss = 0;
    long long heap = 0;
};

long long residentBytes()
{
    std::ifstream statm("/proc/self/statm");
    long long pages = 0, resident = 0;
    statm >> pages >> resident;
    return resident * sysconf(_SC_PAGESIZE);
}

long long heapBytes()
{
    const struct mallinfo2 mi = mallinfo2();
    return static_cast<long long>(mi.uordblks + mi.hblkhd);
}

int idleServerMain()
{
    BenchServerApp app;
    merrow::Server server(app);
    if (!server.listen("tcp://127.0.0.1:0").ok() || !server.start().ok())
        return 1;
    std::cout << server.boundPort() << std::endl;
    std::string command;
    while (std::cin >> command) {
        if (command == "stats")
            std::cout << server.sessions().size() << ' ' << residentBytes() << ' ' << heapBytes() << std::endl;
    }
    server.stop();
    return 0;
}

class ServerProcess {
public:
    ServerProcess()
    {
        int toChild[2], fromChild[2];
        if (::pipe(toChild) != 0 || ::pipe(fromChild) != 0)
            return;
        m_pid = ::fork();
        if (m_pid == 0) {
            ::dup2(toChild[0], 0);
            ::dup2(fromChild[1], 1);
            ::close(toChild[1]);
            ::close(fromChild[0]);
            const char* argv[] = {"transport_bench", "--idle-server", nullptr};
            ::execv("/proc/self/exe", const_cast<char* const*>(argv));
            ::_exit(127);
        }
        ::close(toChild[0]);
        ::close(fromChild[1]);
        m_in = ::fdopen(toChild[1], "w");
        m_out = ::fdopen(fromChild[0], "r");
        if (m_out && std::fscanf(m_out, "%hu", &m_port) != 1)
            m_port = 0;
    }
    ~ServerProcess()
    {
        if (m_in)
            std::fclose(m_in);
        if (m_out)
            std::fclose(m_out);
        if (m_pid > 0) {
            int status = 0;
            ::waitpid(m_pid, &status, 0);
        }
    }
    uint16_t port() const { return m_port; }
    std::optional<ServerStats> stats()
    {
        ServerStats s;
        if (!m_in || std::fputs("stats\n", m_in) < 0 || std::fflush(m_in) != 0 ||
            std::fscanf(m_out, "%zu %lld %lld", &s.sessions, &s.rss, &s.heap) != 3)
            return std::nullopt;
        return s;
    }

private:
    pid_t m_pid = -1;
    FILE* m_in = nullptr;
    FILE* m_out = nullptr;
    uint16_t m_port = 0;
};

void BM_IdleSessions(benchmark::State& state)
{
    startRuntime();
    const size_t n = static_cast<size_t>(state.range(0));
    for (auto _ : state) {
        ServerProcess child;
        if (child.port() == 0) {
            state.SkipWithError("server process did not start");
            break;
        }
        const std::string url = "tcp://127.0.0.1:" + std::to_string(child.port());
        // One session in and out first, so that one-time allocations are not counted.
        if (merrow::IUserSession* warm = loggedInSession(url, "warm")) {
            warm->logout();
            ConnectionManagerEx::freeObject(warm);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        const auto before = child.stats();
        std::vector<merrow::IUserSession*> sessions;
        sessions.reserve(n);
        for (size_t i = 0; i < n; ++i) {
            merrow::IUserSession* s = loggedInSession(url, "idle" + std::to_string(i));
            if (!s)
                break;
            sessions.push_back(s);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
        const auto after = child.stats();
        for (merrow::IUserSession* s : sessions)
            ConnectionManagerEx::freeObject(s);
        if (sessions.size() != n || !before || !after || after->sessions < n) {
            state.SkipWithError("not every session logged in");
            break;
        }
        state.counters["bytes_per_session"] = static_cast<double>(after->rss - before->rss) / n;
        state.counters["heap_bytes_per_session"] = static_cast<double>(after->heap - before->heap) / n;
    }
}
// One iteration: a thousand logons take far longer than the minimum time.
BENCHMARK(BM_IdleSessions)->Name("BM_IdleSessions")->Arg(1000)->UseRealTime()->Unit(benchmark::kMillisecond);

// ---------------------------------------------------------------------------------
// A slow callback among sessions that receive prices.

class PriceServerApp : public BenchServerApp {
public:
    void onSessionStarted(const merrow::ServerSessionPtr& session, bool resumed) override
    {
        BenchServerApp::onSessionStarted(session, resumed);
        std::lock_guard<std::mutex> lock(mutex);
        live.push_back(session);
    }
    void onSessionCut(const merrow::ServerSessionPtr&, const std::string&) override
    {
        cuts.fetch_add(1, std::memory_order_relaxed);
    }
    std::vector<merrow::ServerSessionPtr> liveSessions()
    {
        std::lock_guard<std::mutex> lock(mutex);
        return live;
    }

    std::atomic<int> cuts{0};
    std::mutex mutex;
    std::vector<merrow::ServerSessionPtr> live;
};

// Times the prices of one session. The sleeper, once armed, sleeps in the first
// price callback after that; the others keep the longest gap between two prices
// while the window is open.
class GapProbe : public TThreadSafeAddRefImpl<merrow::IUserMessageListener> {
public:
    GapProbe(bool sleeper, std::chrono::milliseconds sleep) : m_sleeper(sleeper), m_sleep(sleep) {}

    void update(merrow::IUserSession*, merrow::IMessage*) override
    {
        auto now = Clock::now();
        if (m_sleeper && m_armed.load() && !m_slept.exchange(true)) {
            {
                std::lock_guard<std::mutex> lock(m_mutex);
                m_asleep = true;
                m_cv.notify_all();
            }
            std::this_thread::sleep_for(m_sleep);
            now = Clock::now();
            std::lock_guard<std::mutex> lock(m_mutex);
            m_asleep = false;
            m_wokeAt = now;
            m_cv.notify_all();
        }
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_window && m_last != Clock::time_point{})
            m_longest = std::max(m_longest, now - m_last);
        m_last = now;
        ++m_received;
        m_cv.notify_all();
        if (m_wokeAt != Clock::time_point{} && now > m_wokeAt)
            ++m_afterWake;
    }

    void arm() { m_armed = true; }
    // A few prices in: the stream runs, and gaps have a price to count from.
    bool waitStreaming()
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        return m_cv.wait_for(lock, std::chrono::seconds(10), [&] { return m_received >= 5; });
    }
    bool waitAsleep()
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        return m_cv.wait_for(lock, std::chrono::seconds(10), [&] { return m_asleep; });
    }
    bool waitAwake(std::chrono::milliseconds bound)
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        return m_cv.wait_for(lock, bound, [&] { return !m_asleep; });
    }
    // Gaps count from the last price before the window opened.
    void openWindow()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_window = true;
        m_longest = {};
    }
    // The longest gap, the one still open at this moment included.
    double closeWindowMs()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_window = false;
        const auto open = m_last == Clock::time_point{} ? Clock::duration{} : Clock::now() - m_last;
        return std::chrono::duration<double, std::milli>(std::max(m_longest, open)).count();
    }
    int pricesAfterWake()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_afterWake;
    }

private:
    const bool m_sleeper;
    const std::chrono::milliseconds m_sleep;
    std::atomic<bool> m_armed{false};
    std::atomic<bool> m_slept{false};
    std::mutex m_mutex;
    std::condition_variable m_cv;
    bool m_asleep = false;
    bool m_window = false;
    Clock::time_point m_last{};
    Clock::time_point m_wokeAt{};
    Clock::duration m_longest{};
    int m_afterWake = 0;
    int m_received = 0;
};

// Counts reports of a lost connection.
class CutProbe : public TThreadSafeAddRefImpl<merrow::IUserSessionStatusListener> {
public:
    void update(merrow::IUserSession*, merrow::ISessionStatus* status) override
    {
        if (status->getStatusCode() != IFixDefs::STATUSCODE_LOGGEDIN)
            cuts.fetch_add(1, std::memory_order_relaxed);
    }
    std::atomic<int> cuts{0};
};

std::chrono::milliseconds slowCallbackSleep()
{
    const char* env = std::getenv("PELLORA_BENCH_SLOW_CALLBACK_MS");
    const long ms = env ? std::strtol(env, nullptr, 10) : 0;
    return std::chrono::milliseconds(ms > 0 ? ms : 10000);
}

void BM_SlowCallback(benchmark::State& state)
{
    startRuntime();
    const int n = static_cast<int>(state.range(0));
    const auto sleep = slowCallbackSleep();
    int previousHeartbeat = 0;
    merrow::detail::ClientRuntime::instance().update([&](merrow::detail::ClientSettings& s) {
        previousHeartbeat = s.heartbeatMs;
        s.heartbeatMs = 1000;
    });
    for (auto _ : state) {
        PriceServerApp app;
        merrow::ServerOptions options;
        options.minHeartbeat = std::chrono::milliseconds(100);
        merrow::Server server(app, options);
        if (!server.listen("tcp://127.0.0.1:0").ok() || !server.start().ok()) {
            state.SkipWithError("server did not start");
            break;
        }
        const std::string url = "tcp://127.0.0.1:" + std::to_string(server.boundPort());
        std::vector<merrow::IUserSession*> sessions;
        std::vector<GapProbe*> probes;
        auto* cutProbe = new CutProbe;
        for (int i = 0; i < n; ++i) {
            merrow::IUserSession* s = loggedInSession(url, "price" + std::to_string(i));
            if (!s)
                break;
            probes.push_back(new GapProbe(i == 0, sleep));
            s->subscribe(probes.back());
            s->subscribe(cutProbe);
            sessions.push_back(s);
        }
        std::atomic<bool> pushing{true};
        std::thread pusher([&] {
            merrow::IMessage* price = merrow::getMessageFactory()->createMessage(IFixDefs::MSGTYPE_MARKETDATASNAPSHOTFULLREFRESH);
            price->setValue(IFixDefs::FLDTAG_SYMBOL, "EUR/USD");
            price->setDoubleValue(IFixDefs::FLDTAG_MDENTRYPX, 1.0842);
            while (pushing.load()) {
                for (const auto& s : app.liveSessions())
                    (void)s->send(*price, IFixDefs::CHANNEL_MARKET_DATA, "EUR/USD");
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            }
            merrow::freeMessage(price);
        });
        bool ok = static_cast<int>(sessions.size()) == n;
        double longest = 0;
        for (GapProbe* p : probes)
            ok = ok && p->waitStreaming();
        if (ok) {
            probes[0]->arm();
            ok = probes[0]->waitAsleep();
        }
        if (ok) {
            for (size_t i = 1; i < probes.size(); ++i)
                probes[i]->openWindow();
            ok = probes[0]->waitAwake(sleep + std::chrono::seconds(10));
            for (size_t i = 1; i < probes.size(); ++i) {
                longest = std::max(longest, probes[i]->closeWindowMs());
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(500));
        }
        pushing = false;
        pusher.join();
        if (ok) {
            state.counters["longest_gap_ms"] = longest;
            state.counters["sessions_cut"] = app.cuts.load() + cutProbe->cuts.load();
            state.counters["slow_session_prices_after"] = probes[0]->pricesAfterWake();
            state.counters["sleep_ms"] = static_cast<double>(sleep.count());
        }
        for (merrow::IUserSession* s : sessions)
            ConnectionManagerEx::freeObject(s);
        server.stop();
        for (GapProbe* p : probes)
            p->release();
        cutProbe->release();
        if (!ok) {
            state.SkipWithError("sessions did not log in or the callback did not run");
            break;
        }
    }
    merrow::detail::ClientRuntime::instance().update(
        [&](merrow::detail::ClientSettings& s) { s.heartbeatMs = previousHeartbeat; });
}
// One iteration: the sleep is the measurement.
BENCHMARK(BM_SlowCallback)->Name("BM_SlowCallback")->ArgName("sessions")->Arg(8)->Iterations(1)->UseRealTime()
    ->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv)
{
    if (argc > 1 && std::strcmp(argv[1], "--idle-server") == 0)
        return idleServerMain();
    ::signal(SIGPIPE, SIG_IGN);
    const auto display = bench::displayReporter(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks(display.get());
    benchmark::Shutdown();
    for (auto& r : g_rigs)
        r.reset();
    if (g_runtimeStarted)
        ConnectionManagerEx::finalize(1);
    removeBenchCerts();
    return 0;
}
