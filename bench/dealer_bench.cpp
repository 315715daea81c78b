// Speed of the reference dealing server (pellora_dealer).
//
// BM_PriceFanout: offer updates leaving the server to one connected client on
// loopback, counted where the client's message listener receives them. The dealer
// runs in this process on the demo world (14 instruments) with the real clock and
// 1,000,000 ticks per second over all instruments (DEALER_BENCH_TICK_RATE sets
// another); its own price thread pumps every millisecond and the benchmark thread
// calls pumpPrices() between, so the server pushes every tick as it falls due. The
// client ("demo" on the DAS connection) filters out the trading channel, so every
// message it sees came on the market-data channel; each "OFFER" line of a received message counts as one update.
// The benchmark thread pauses while more than kWindow frames wait in the server's
// queue; updates the transport conflated for a client that fell behind are not
// counted (counter "conflated": pushed, then replaced in the queue; the ticks of a
// pump that the dealer knows its queue would replace are not pushed at all). The
// clock stops once the server's queue is empty and nothing more arrives.
// Target: at least 500,000 updates per second.
//
// BM_PushLatency/sessions:N: a pellora-dealer executable of its own (a child process,
// prices stopped) with N client sessions of this process on "Demo". Ten times a
// second the benchmark sets EUR/USD's price through the control socket (the control
// is only the trigger); each session notes when the pushed offer reaches its
// listener. A session's latency runs from the price change in the dealer to that
// callback: the change's instant is the update's own stamp (the dealer's wall clock,
// to the millisecond) or, when later, the moment the control line was written, so
// the figure errs high by under a millisecond. Counters: p50_ms, p99_ms, max_ms over
// every session and round; control_p99_ms from the control line instead (the hop
// included); queued_p99_ms from the change to the control's answer, which the dealer
// writes once every session's frame is queued; and the server's resident memory per
// session (kib_per_session: its growth from before the logins to after the rounds,
// over N). Iteration time: the slowest session of the round.
// Targets: p99 under 5 ms, under 200 KiB per session.
//
// BM_PushLatencyTicks/sessions:N: the same sessions for five seconds on the dealer's
// own price stream at 10 ticks a second (every session hears every tick); a tick's
// latency runs from its scheduled instant (the update's stamp) to the callback, so the
// wait for the price thread to produce it counts. No ticks fall at weekends: it then
// reports an error.
//
// BM_PriceGapUnderHeavyClient: the executable at 200 ticks a second, 20 watching
// sessions, and one client that sends ten price-history requests of 10,000 bars at
// once. Every gap between two price messages of a watching session while those
// answers are built (from the first request to the last answer) is collected:
// gap_p99_ms and gap_max_ms, and heavy_ms for the heavy phase itself (the iteration
// time). Target: gap_p99_ms under 50.
// BM_OrderRoundTrip: a market order from its send to its answer with its trade
// pushed, one client, orders alternating buy and sell on a netting account (so the
// position stays small), the dealer on a virtual clock with prices still. Its floor is
// a transport round trip plus one durable commit, measured in the same run as
// BM_RoundTrip/merrow (a request the dealer rejects on its I/O thread: the transport
// and the dealer's reading, no commit) and BM_DurableCommit (one SQLite commit of an
// order-sized change with the dealer's settings, in the data folder's file system).
// Each reports its median as counter median_us. Target: the order's median at most
// 1.5 x (round trip + commit).
// BM_OrderThroughput/clients:N: N clients (users of their own) each sending market
// orders in a closed loop for two seconds; every answered order is durable. Counter
// orders_per_s. Target: 50 clients at least 10 x one client (group commits).

#include <benchmark/benchmark.h>

#include "plain_names_reporter.h"

#include <algorithm>
#include <ctime>
#include <atomic>
#include <condition_variable>
#include <mutex>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <algorithm>
#include <fstream>
#include <mutex>
#include <regex>
#include <sstream>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include "dealer.h"
#include "demo_world.h"
#include "store.h"
#include "merrow/merrow.h"

namespace {

using Clock = std::chrono::steady_clock;
using merrow::ConnectionManagerEx;
using merrow::IFixDefs;
namespace dealer = pellora::dealer;

constexpr int kTickRate = 1000000;
constexpr size_t kWindow = 512;
constexpr auto kPumpPause = std::chrono::microseconds(200);

// Counts the offer lines of the DAS messages that reach the client.
class OfferCounter : public TThreadSafeAddRefImpl<merrow::IUserMessageListener> {
public:
    void update(merrow::IUserSession*, merrow::IMessage* m) override
    {
        const char* type = m->getMsgType();
        if (!type || std::strcmp(type, IFixDefs::MSGTYPE_DASMESSAGE) != 0)
            return;
        merrow::IField* f = m->getField(IFixDefs::FLDTAG_TEXT);
        if (!f || !f->getValue())
            return;
        const char* p = f->getValue();
        const char* end = p + f->getLength();
        uint64_t n = 0;
        // Lines after the first: "OFFER;U;fields".
        for (const char* line = p; line < end;) {
            const char* nl = static_cast<const char*>(std::memchr(line, '\n', static_cast<size_t>(end - line)));
            const char* next = nl ? nl + 1 : end;
            if (next - line >= 6 && std::memcmp(line, "OFFER;", 6) == 0)
                ++n;
            line = next;
        }
        offers_.fetch_add(n, std::memory_order_relaxed);
    }
    uint64_t offers() const { return offers_.load(std::memory_order_relaxed); }

private:
    std::atomic<uint64_t> offers_{0};
};

struct Rig {
    std::string dir;
    std::unique_ptr<dealer::Dealer> server;
    merrow::IUserSession* client = nullptr;
    OfferCounter* counter = nullptr;
    std::string error;

    Rig()
    {
        std::string pattern = (std::filesystem::temp_directory_path() / "dealer-bench-XXXXXX").string();
        if (!mkdtemp(pattern.data())) {
            error = "no data folder";
            return;
        }
        dir = pattern;
        dealer::DealerConfig c;
        c.world = dealer::demoWorld();
        c.dataDir = dir;
        c.seed = 7;
        const char* rate = std::getenv("DEALER_BENCH_TICK_RATE");
        c.tickRate = rate && std::atoi(rate) > 0 ? std::atoi(rate) : kTickRate;
        c.serverOptions.threads = 1;
        dealer::Status s = dealer::Dealer::create(std::move(c), server);
        if (!s.isOk() || !server->listen("tcp://127.0.0.1:0").isOk() || !server->start().isOk()) {
            error = "dealer did not start: " + s.text();
            return;
        }
        const std::string url = "tcp://127.0.0.1:" + std::to_string(server->boundPort(0));
        counter = new OfferCounter;
        client = ConnectionManagerEx::createUserSession(url.c_str(), "Demo", "demo", "demo", "Pellora");
        client->subscribe(static_cast<merrow::IUserMessageListener*>(counter));
        client->setMessageFilter(IFixDefs::CHANNEL_TRADING_DATA);
        try {
            if (!client->loadStationDescriptor() || !client->getTradingSessionDescs()[0]) {
                error = "no station descriptor";
                return;
            }
            client->setTradingSession(client->getTradingSessionDescs()[0]);
            if (client->login("") != 1)
                error = "login failed";
        } catch (const merrow::GenericException& e) {
            error = std::string("login failed: ") + e.getText();
        }
    }
    ~Rig()
    {
        if (server)
            server->stop();
        if (client)
            ConnectionManagerEx::freeObject(client);
        if (counter)
            counter->release();
        std::error_code ignored;
        if (!dir.empty())
            std::filesystem::remove_all(dir, ignored);
    }
};

std::unique_ptr<Rig> g_rig;
Rig& rig()
{
    if (!g_rig)
        g_rig = std::make_unique<Rig>();
    return *g_rig;
}

void BM_PriceFanout(benchmark::State& state)
{
    Rig& r = rig();
    if (!r.error.empty()) {
        state.SkipWithError(r.error.c_str());
        return;
    }
    // Let what an earlier run left in flight arrive first.
    while (r.server->stats().queuedFrames > 0)
        std::this_thread::sleep_for(std::chrono::microseconds(100));
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    const uint64_t received0 = r.counter->offers();
    const uint64_t sent0 = r.server->stats().ticksSent;
    uint64_t pumps = 0;
    for (auto _ : state) {
        r.server->pumpPrices();
        ++pumps;
        std::this_thread::sleep_for(kPumpPause);
        while (r.server->stats().queuedFrames > kWindow)
            std::this_thread::sleep_for(std::chrono::microseconds(20));
    }
    // The clock stops once the server's queue is empty and nothing more arrives.
    const auto deadline = Clock::now() + std::chrono::seconds(10);
    while (r.server->stats().queuedFrames > 0 && Clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::microseconds(20));
    for (uint64_t last = ~uint64_t(0); last != r.counter->offers() && Clock::now() < deadline;) {
        last = r.counter->offers();
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    const uint64_t received = r.counter->offers() - received0;
    const uint64_t sent = r.server->stats().ticksSent - sent0;
    state.SetItemsProcessed(static_cast<int64_t>(received));
    state.counters["updates_per_pump"] = pumps ? static_cast<double>(received) / static_cast<double>(pumps) : 0;
    // Pushed but replaced in the queue while the client was behind.
    state.counters["conflated"] = static_cast<double>(sent > received ? sent - received : 0);
}
BENCHMARK(BM_PriceFanout)->UseRealTime()->MinTime(1.0);

#ifdef PELLORA_DEALER_EXE

// Ready for the benchmarks below; BM_PriceFanout's in-process dealer is gone by then,
// so it cannot load the machine while they measure.
bool g_clientTransport = false;
void clientTransport()
{
    g_rig.reset();
    if (!g_clientTransport) {
        g_clientTransport = true;
        // A thousand sessions need as many descriptors on both ends.
        rlimit nofile{};
        if (::getrlimit(RLIMIT_NOFILE, &nofile) == 0 && nofile.rlim_cur < nofile.rlim_max) {
            nofile.rlim_cur = nofile.rlim_max;
            (void)::setrlimit(RLIMIT_NOFILE, &nofile);
        }
    }
}

// pellora-dealer run as a child process on a fresh data folder.
class DealerChild {
public:
    explicit DealerChild(const std::vector<std::string>& extra)
    {
        std::string pattern = (std::filesystem::temp_directory_path() / "dealer-bench-XXXXXX").string();
        if (!mkdtemp(pattern.data()))
            return;
        dir_ = pattern;
        control_ = dir_ + "/control.sock";
        std::vector<std::string> args = {"pellora-dealer", "--data", dir_ + "/data", "--listen", "tcp://127.0.0.1:0",
                                         "--control", "unix:" + control_};
        args.insert(args.end(), extra.begin(), extra.end());
        int out[2];
        if (::pipe(out) != 0)
            return;
        pid_ = ::fork();
        if (pid_ == 0) {
            ::dup2(out[1], 1);
            const int err = ::open((dir_ + "/stderr.log").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
            if (err >= 0)
                ::dup2(err, 2);
            std::vector<char*> argv;
            for (std::string& a : args)
                argv.push_back(a.data());
            argv.push_back(nullptr);
            ::execv(PELLORA_DEALER_EXE, argv.data());
            ::_exit(127);
        }
        ::close(out[1]);
        std::string line;
        char c;
        pollfd pfd{out[0], POLLIN, 0};
        while (::poll(&pfd, 1, 60000) > 0 && ::read(out[0], &c, 1) == 1 && c != '\n')
            line += c;
        ::close(out[0]);
        std::smatch m;
        if (std::regex_search(line, m, std::regex("tcp://127\\.0\\.0\\.1:([0-9]+)")))
            url = "tcp://127.0.0.1:" + m[1].str();
    }
    ~DealerChild()
    {
        if (controlFd_ >= 0)
            ::close(controlFd_);
        if (pid_ > 0) {
            ::kill(pid_, SIGTERM);
            int status = 0;
            ::waitpid(pid_, &status, 0);
        }
        std::error_code ignored;
        if (!dir_.empty())
            std::filesystem::remove_all(dir_, ignored);
    }
    // Resident memory of the server, KiB.
    double rssKiB() const
    {
        std::ifstream in("/proc/" + std::to_string(pid_) + "/status");
        std::string key;
        double value = 0;
        while (in >> key)
            if (key == "VmRSS:" && in >> value)
                return value;
        return 0;
    }
    // CPU time of the server so far (user and system), milliseconds.
    double cpuMs() const
    {
        std::ifstream in("/proc/" + std::to_string(pid_) + "/stat");
        std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        const size_t close = text.rfind(')');
        if (close == std::string::npos)
            return 0;
        std::istringstream fields(text.substr(close + 2));
        std::string f;
        double ticks = 0;
        for (int i = 3; fields >> f && i <= 15; ++i)
            if (i == 14 || i == 15)
                ticks += std::atof(f.c_str());
        return ticks * 1000.0 / static_cast<double>(::sysconf(_SC_CLK_TCK));
    }
    // One control command over a connection kept open; the answer line.
    std::string command(const std::string& line)
    {
        if (controlFd_ < 0) {
            controlFd_ = ::socket(AF_UNIX, SOCK_STREAM, 0);
            sockaddr_un addr{};
            addr.sun_family = AF_UNIX;
            std::snprintf(addr.sun_path, sizeof addr.sun_path, "%s", control_.c_str());
            if (::connect(controlFd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0)
                return "<no control socket>";
        }
        const std::string req = line + "\n";
        if (::write(controlFd_, req.data(), req.size()) != static_cast<ssize_t>(req.size()))
            return "<not sent>";
        std::string answer;
        char c;
        while (::read(controlFd_, &c, 1) == 1 && c != '\n')
            answer += c;
        return answer;
    }

    std::string url;

private:
    std::string dir_, control_;
    pid_t pid_ = -1;
    int controlFd_ = -1;
};

int64_t nowUs()
{
    return std::chrono::duration_cast<std::chrono::microseconds>(Clock::now().time_since_epoch()).count();
}

// CPU time of this process so far, milliseconds.
double processCpuMs()
{
    rusage u{};
    ::getrusage(RUSAGE_SELF, &u);
    const auto ms = [](const timeval& t) { return static_cast<double>(t.tv_sec) * 1000.0 + t.tv_usec / 1000.0; };
    return ms(u.ru_utime) + ms(u.ru_stime);
}

// Wall-clock microseconds: the dealer's price stamps are wall-clock time, and this
// clock is the same in both processes.
int64_t wallUs()
{
    return std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::system_clock::now().time_since_epoch())
        .count();
}

// The instant (wall-clock microseconds) in the stamp "0;MMDDYYYYhhmmssmmm;" that opens
// a pushed update; 0 when there is none.
int64_t updateStampUs(const char* text)
{
    if (!text || std::strlen(text) < 20 || text[0] != '0' || text[1] != ';' || text[19] != ';')
        return 0;
    int v[7] = {};
    const int width[7] = {2, 2, 4, 2, 2, 2, 3};
    const char* p = text + 2;
    for (int k = 0; k < 7; ++k)
        for (int i = 0; i < width[k]; ++i, ++p) {
            if (*p < '0' || *p > '9')
                return 0;
            v[k] = v[k] * 10 + (*p - '0');
        }
    std::tm tm{};
    tm.tm_mon = v[0] - 1;
    tm.tm_mday = v[1];
    tm.tm_year = v[2] - 1900;
    tm.tm_hour = v[3];
    tm.tm_min = v[4];
    tm.tm_sec = v[5];
    return (static_cast<int64_t>(::timegm(&tm)) * 1000 + v[6]) * 1000;
}

// Price messages over many sessions: the benchmark thread sleeps until a round has
// reached them all instead of polling each session (which would take the cores the
// transport needs).
class Tally {
public:
    void arrived()
    {
        std::lock_guard<std::mutex> lock(mu_);
        if (++count_ >= target_)
            cv_.notify_one();
    }
    // Waits until count reaches target or the deadline passes; the count.
    size_t waitFor(size_t target, Clock::time_point deadline)
    {
        std::unique_lock<std::mutex> lock(mu_);
        target_ = target;
        cv_.wait_until(lock, deadline, [&] { return count_ >= target_; });
        target_ = ~size_t{0};
        return count_;
    }

private:
    std::mutex mu_;
    std::condition_variable cv_;
    size_t count_ = 0;
    size_t target_ = ~size_t{0};
};

// Notes when each offer update reaches a session: the steady clock for gaps, and the
// wall clock with the update's own stamp (the price change's instant in the dealer)
// for push latency.
class Arrivals : public TThreadSafeAddRefImpl<merrow::IUserMessageListener> {
public:
    explicit Arrivals(Tally* tally = nullptr) : tally_(tally) {}
    void update(merrow::IUserSession*, merrow::IMessage* m) override
    {
        const char* type = m->getMsgType();
        if (!type)
            return;
        const int64_t t = nowUs();
        const int64_t wall = wallUs();
        {
            std::lock_guard<std::mutex> lock(mu_);
            if (std::strcmp(type, IFixDefs::MSGTYPE_DASMESSAGE) == 0) {
                prices_.push_back(t);
                wall_.push_back(wall);
                stamps_.push_back(updateStampUs(m->getValue(IFixDefs::FLDTAG_TEXT)));
            } else if (std::strcmp(type, IFixDefs::MSGTYPE_QORARESPONSE) == 0) {
                ++answers_;
                return;
            } else {
                return;
            }
        }
        if (tally_)
            tally_->arrived();
    }
    size_t prices() const
    {
        std::lock_guard<std::mutex> lock(mu_);
        return prices_.size();
    }
    // The i-th price's arrival and its stamp, wall-clock microseconds (0, 0 when none).
    std::pair<int64_t, int64_t> priceWall(size_t i) const
    {
        std::lock_guard<std::mutex> lock(mu_);
        return i < wall_.size() ? std::make_pair(wall_[i], stamps_[i]) : std::make_pair(int64_t{0}, int64_t{0});
    }
    std::vector<int64_t> pricesBetween(int64_t from, int64_t to) const
    {
        std::lock_guard<std::mutex> lock(mu_);
        std::vector<int64_t> out;
        for (int64_t t : prices_)
            if (t >= from && t <= to)
                out.push_back(t);
        return out;
    }
    int answers() const
    {
        std::lock_guard<std::mutex> lock(mu_);
        return answers_;
    }

private:
    Tally* tally_;
    mutable std::mutex mu_;
    std::vector<int64_t> prices_, wall_, stamps_;
    int answers_ = 0;
};

struct Watcher {
    merrow::IUserSession* session = nullptr;
    Arrivals* arrivals = nullptr;
    ~Watcher()
    {
        if (session)
            ConnectionManagerEx::freeObject(session);
        if (arrivals)
            arrivals->release();
    }
};

// A "demo" session on "Demo" that hears the market-data channel only (or both).
std::unique_ptr<Watcher> watch(const std::string& url, bool tradingToo = false, Tally* tally = nullptr)
{
    auto w = std::make_unique<Watcher>();
    w->arrivals = new Arrivals(tally);
    w->session = ConnectionManagerEx::createUserSession(url.c_str(), "Demo", "demo", "demo", "Pellora");
    w->session->subscribe(static_cast<merrow::IUserMessageListener*>(w->arrivals));
    if (!tradingToo)
        w->session->setMessageFilter(IFixDefs::CHANNEL_TRADING_DATA);
    try {
        if (!w->session->loadStationDescriptor() || !w->session->getTradingSessionDescs()[0])
            return nullptr;
        w->session->setTradingSession(w->session->getTradingSessionDescs()[0]);
        if (w->session->login("") != 1)
            return nullptr;
    } catch (const merrow::GenericException&) {
        return nullptr;
    }
    return w;
}

double percentile(std::vector<double> v, double p)
{
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1, static_cast<size_t>(p * static_cast<double>(v.size())))];
}

void BM_PushLatency(benchmark::State& state)
{
    clientTransport();
    const size_t n = static_cast<size_t>(state.range(0));
    DealerChild d({"--tick-rate", "0"});
    if (d.url.empty()) {
        state.SkipWithError("the dealer did not start");
        return;
    }
    const double rss0 = d.rssKiB();
    Tally tally;
    std::vector<std::unique_ptr<Watcher>> sessions;
    for (size_t i = 0; i < n; ++i) {
        sessions.push_back(watch(d.url, false, &tally));
        if (!sessions.back()) {
            state.SkipWithError("a login failed");
            return;
        }
    }
    std::vector<double> latencies, viaControl, answered;
    size_t round = 0;
    const double serverCpu0 = d.cpuMs();
    const double clientCpu0 = processCpuMs();
    auto next = Clock::now();
    for (auto _ : state) {
        std::this_thread::sleep_until(next);
        next += std::chrono::milliseconds(100);  // ten updates a second
        const int64_t written = wallUs();
        const std::string answer = d.command(round % 2 ? "price 1 1.10010" : "price 1 1.10000");
        const int64_t answerAt = wallUs();
        if (answer != "ok") {
            state.SkipWithError(("set-price failed: " + answer).c_str());
            return;
        }
        if (tally.waitFor(n * (round + 1), Clock::now() + std::chrono::seconds(10)) < n * (round + 1)) {
            state.SkipWithError("an update did not arrive");
            return;
        }
        int64_t slowest = 0, change = 0;
        for (const auto& w : sessions) {
            const auto [at, stamp] = w->arrivals->priceWall(round);
            // The change happened after the control line was written and within the
            // millisecond of its stamp: the later of the two bounds it from below.
            change = std::max(written, stamp);
            latencies.push_back(static_cast<double>(at - change) / 1000.0);
            viaControl.push_back(static_cast<double>(at - written) / 1000.0);
            slowest = std::max(slowest, at - change);
        }
        answered.push_back(static_cast<double>(answerAt - change) / 1000.0);
        state.SetIterationTime(static_cast<double>(slowest) / 1e6);
        ++round;
    }
    state.counters["p50_ms"] = percentile(latencies, 0.50);
    state.counters["p99_ms"] = percentile(latencies, 0.99);
    state.counters["max_ms"] = percentile(latencies, 1.0);
    state.counters["control_p99_ms"] = percentile(viaControl, 0.99);
    state.counters["queued_p99_ms"] = percentile(answered, 0.99);
    state.counters["kib_per_session"] = (d.rssKiB() - rss0) / static_cast<double>(n);
    // CPU per pushed update: the server's, and this process's (the clients' transport).
    const double pushes = static_cast<double>(n * round);
    state.counters["server_cpu_us"] = pushes > 0 ? (d.cpuMs() - serverCpu0) * 1000.0 / pushes : 0;
    state.counters["client_cpu_us"] = pushes > 0 ? (processCpuMs() - clientCpu0) * 1000.0 / pushes : 0;
}
BENCHMARK(BM_PushLatency)->ArgName("sessions")->Arg(10)->Arg(1000)->Iterations(50)->UseManualTime();

void BM_PushLatencyTicks(benchmark::State& state)
{
    clientTransport();
    const size_t n = static_cast<size_t>(state.range(0));
    DealerChild d({"--tick-rate", "10"});
    if (d.url.empty()) {
        state.SkipWithError("the dealer did not start");
        return;
    }
    std::vector<std::unique_ptr<Watcher>> sessions;
    for (size_t i = 0; i < n; ++i) {
        sessions.push_back(watch(d.url));
        if (!sessions.back()) {
            state.SkipWithError("a login failed");
            return;
        }
    }
    std::vector<double> latencies;
    for (auto _ : state) {
        std::vector<size_t> from;
        for (const auto& w : sessions)
            from.push_back(w->arrivals->prices());
        std::this_thread::sleep_for(std::chrono::seconds(5));
        for (size_t k = 0; k < sessions.size(); ++k)
            for (size_t i = from[k], end = sessions[k]->arrivals->prices(); i < end; ++i) {
                const auto [at, stamp] = sessions[k]->arrivals->priceWall(i);
                if (stamp > 0)
                    latencies.push_back(static_cast<double>(at - stamp) / 1000.0);
            }
        state.SetIterationTime(5.0);
    }
    if (latencies.empty()) {
        state.SkipWithError("no ticks arrived (the market is closed at weekends)");
        return;
    }
    state.counters["p50_ms"] = percentile(latencies, 0.50);
    state.counters["p99_ms"] = percentile(latencies, 0.99);
    state.counters["max_ms"] = percentile(latencies, 1.0);
    state.counters["updates"] = static_cast<double>(latencies.size());
}
BENCHMARK(BM_PushLatencyTicks)->ArgName("sessions")->Arg(10)->Arg(1000)->Iterations(1)->UseManualTime();

void BM_PriceGapUnderHeavyClient(benchmark::State& state)
{
    clientTransport();
    DealerChild d({"--tick-rate", "200"});
    if (d.url.empty()) {
        state.SkipWithError("the dealer did not start");
        return;
    }
    std::vector<std::unique_ptr<Watcher>> watchers;
    for (int i = 0; i < 20; ++i) {
        watchers.push_back(watch(d.url));
        if (!watchers.back()) {
            state.SkipWithError("a login failed");
            return;
        }
    }
    auto heavy = watch(d.url, true);
    if (!heavy) {
        state.SkipWithError("a login failed");
        return;
    }
    std::vector<double> gaps;
    double heavyMs = 0;
    int answered = 0;
    for (auto _ : state) {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));  // prices flowing
        const int64_t t0 = nowUs();
        for (int i = 0; i < 10; ++i) {
            merrow::IMessage* m = heavy->session->getMessageFactory()->createMessage(IFixDefs::MSGTYPE_MARKETDATAREQUEST);
            char* id = heavy->session->newRequestID();
            m->setValue(IFixDefs::FLDTAG_MDREQID, id);
            heavy->session->freeRequestID(id);
            m->setIntValue(IFixDefs::FLDTAG_MARKETDEPTH, 10000);
            m->createGroupList(IFixDefs::FLDTAG_NORELATEDSYM)->appendGroup()->setValue(IFixDefs::FLDTAG_SYMBOL, "EUR/USD");
            m->setIntValue(IFixDefs::FLDTAG_QORATIMINGINTERVAL, 1);
            m->setValue(IFixDefs::FLDTAG_RESPONSE_FORMAT, IFixDefs::MSGTYPE_QORARESPONSE);
            heavy->session->send(m);
            ConnectionManagerEx::freeObject(m);
        }
        answered += 10;
        const auto deadline = Clock::now() + std::chrono::seconds(120);
        while (heavy->arrivals->answers() < answered && Clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        const int64_t t1 = nowUs();
        if (heavy->arrivals->answers() < answered) {
            state.SkipWithError("the heavy answers did not arrive");
            return;
        }
        for (const auto& w : watchers) {
            std::vector<int64_t> t = w->arrivals->pricesBetween(t0, t1);
            for (size_t i = 1; i < t.size(); ++i)
                gaps.push_back(static_cast<double>(t[i] - t[i - 1]) / 1000.0);
        }
        heavyMs += static_cast<double>(t1 - t0) / 1000.0;
        state.SetIterationTime(static_cast<double>(t1 - t0) / 1e6);
    }
    state.counters["gap_p99_ms"] = percentile(gaps, 0.99);
    state.counters["gap_max_ms"] = percentile(gaps, 1.0);
    state.counters["heavy_ms"] = heavyMs / static_cast<double>(state.iterations());
}
BENCHMARK(BM_PriceGapUnderHeavyClient)->Iterations(3)->UseManualTime();

#endif  // PELLORA_DEALER_EXE

// ---- Orders

std::string tempDir()
{
    std::string pattern = (std::filesystem::temp_directory_path() / "dealer-bench-XXXXXX").string();
    return mkdtemp(pattern.data()) ? pattern : std::string();
}

double medianUs(std::vector<double>& us)
{
    if (us.empty())
        return 0;
    std::nth_element(us.begin(), us.begin() + static_cast<long>(us.size() / 2), us.end());
    return us[us.size() / 2];
}

// One trading client: sends DAS requests written field by field and waits for the
// answer under the request's ID and, for orders, the pushed trade row.
class OrderClient : public TThreadSafeAddRefImpl<merrow::IUserMessageListener> {
public:
    void update(merrow::IUserSession*, merrow::IMessage* m) override
    {
        const char* type = m->getMsgType();
        if (!type)
            return;
        // The waiter is woken only by what it waits for, and after the lock is let go:
        // the pushed account and order rows of each order would otherwise wake it (and
        // make it block on the lock still held) for nothing, and the harness's own
        // context switches would be counted against the dealer.
        bool wake = false;
        {
            std::lock_guard<std::mutex> lock(mu_);
            if (std::strcmp(type, IFixDefs::MSGTYPE_DASMESSAGE) == 0) {
                const char* t = m->getValue(IFixDefs::FLDTAG_TEXT);
                if (t && std::strstr(t, "\nTRADE;")) {
                    ++trades_;
                    wake = answered_;
                }
            } else {
                const char* id = m->getValue(IFixDefs::FLDTAG_TESTREQID);
                if (id && pending_ == id) {
                    answered_ = true;
                    ok_ = std::strcmp(type, IFixDefs::MSGTYPE_QORARESPONSE) == 0;
                    wake = true;
                }
            }
        }
        if (wake)
            cv_.notify_one();
    }
    std::string login(const std::string& url, const std::string& user, const std::string& password)
    {
        session_ = ConnectionManagerEx::createUserSession(url.c_str(), "Demo", user.c_str(), password.c_str(), "Pellora");
        session_->subscribe(static_cast<merrow::IUserMessageListener*>(this));
        try {
            if (!session_->loadStationDescriptor() || !session_->getTradingSessionDescs()[0])
                return "no station descriptor";
            session_->setTradingSession(session_->getTradingSessionDescs()[0]);
            return session_->login("") == 1 ? std::string() : std::string("login failed");
        } catch (const merrow::GenericException& e) {
            return e.getText();
        }
    }
    void close()
    {
        if (session_)
            ConnectionManagerEx::freeObject(session_);
        session_ = nullptr;
    }
    // Sends one request and waits for its answer (and a pushed trade when waitTrade).
    bool request(int command, const std::vector<std::pair<std::string, std::string>>& params, bool waitTrade)
    {
        char* raw = session_->newRequestID();
        const std::string id = raw;
        session_->freeRequestID(raw);
        merrow::IMessage* m = session_->getMessageFactory()->createMessage(IFixDefs::MSGTYPE_QORAREQUEST);
        m->setValue(IFixDefs::FLDTAG_TESTREQID, id.c_str());
        m->setValue(IFixDefs::FLDTAG_QORACOMMANDID, std::to_string(command).c_str());
        merrow::IFieldGroupList* l = m->createGroupList(IFixDefs::FLDTAG_QORANOPARAM);
        for (const auto& p : params) {
            merrow::IFieldGroup* g = l->appendGroup();
            g->setValue(IFixDefs::FLDTAG_QORAPARAMNAME, p.first.c_str());
            g->setValue(IFixDefs::FLDTAG_QORAPARAMVALUE, p.second.c_str());
        }
        uint64_t trades0;
        {
            std::lock_guard<std::mutex> lock(mu_);
            pending_ = id;
            answered_ = false;
            trades0 = trades_;
        }
        const bool sent = session_->send(m) != 0;
        ConnectionManagerEx::freeObject(m);
        std::unique_lock<std::mutex> lock(mu_);
        if (!sent || !cv_.wait_for(lock, std::chrono::seconds(10),
                                   [&] { return answered_ && (!waitTrade || !ok_ || trades_ > trades0); }))
            return false;
        return true;
    }
    bool ok() const
    {
        std::lock_guard<std::mutex> lock(mu_);
        return ok_;
    }

private:
    merrow::IUserSession* session_ = nullptr;
    mutable std::mutex mu_;
    std::condition_variable cv_;
    std::string pending_;
    bool answered_ = false;
    bool ok_ = false;
    uint64_t trades_ = 0;
};

constexpr int kBenchUsers = 50;

// The demo world plus kBenchUsers users with a netting account of their own each.
dealer::World benchWorld()
{
    dealer::World w = dealer::demoWorld();
    for (int i = 0; i < kBenchUsers; ++i) {
        dealer::Account a;
        a.id = "B" + std::to_string(100 + i);
        a.name = a.id;
        a.currency = "USD";
        a.balance = 1e7;
        a.leverageProfile = "1";
        a.maintenanceType = "N";
        w.accounts.push_back(a);
        w.users.push_back({"bench" + std::to_string(i), "plain:bench", dealer::UserKindTrader, 5000 + i, {a.id}});
    }
    return w;
}

struct OrderRig {
    std::string dir;
    std::unique_ptr<dealer::Dealer> server;
    std::string url;
    std::string error;

    OrderRig()
    {
        dir = tempDir();
        dealer::DealerConfig c;
        c.world = benchWorld();
        c.dataDir = dir;
        c.seed = 7;
        c.virtualClock = true;
        c.serverOptions.threads = 2;
        c.serverOptions.maxLogonFailures = 100000;
        dealer::Status s = dealer::Dealer::create(std::move(c), server);
        if (!s.isOk() || !server->listen("tcp://127.0.0.1:0").isOk() || !server->start().isOk()) {
            error = "dealer did not start: " + s.text();
            return;
        }
        server->stopPrices();
        url = "tcp://127.0.0.1:" + std::to_string(server->boundPort(0));
    }
    ~OrderRig()
    {
        if (server)
            server->stop();
        std::error_code ignored;
        if (!dir.empty())
            std::filesystem::remove_all(dir, ignored);
    }
};

std::vector<std::pair<std::string, std::string>> marketOrder(const std::string& account, bool buy)
{
    return {{"Stage", "O"}, {"OfferID", "1"}, {"AcctID", account}, {"BuySell", buy ? "B" : "S"}, {"Quantity", "1000"}};
}

void BM_OrderRoundTrip(benchmark::State& state)
{
    OrderRig r;
    OrderClient* c = new OrderClient;
    std::string err = r.error.empty() ? c->login(r.url, "bench0", "bench") : r.error;
    if (!err.empty()) {
        state.SkipWithError(err.c_str());
        c->close();
        c->release();
        return;
    }
    std::vector<double> us;
    bool buy = true;
    for (auto _ : state) {
        const auto t0 = Clock::now();
        if (!c->request(34, marketOrder("B100", buy), true) || !c->ok()) {
            state.SkipWithError("an order was not answered");
            break;
        }
        us.push_back(std::chrono::duration<double, std::micro>(Clock::now() - t0).count());
        buy = !buy;
    }
    state.counters["median_us"] = medianUs(us);
    c->close();
    c->release();
}
BENCHMARK(BM_OrderRoundTrip)->UseRealTime()->MinTime(2.0);

void BM_RoundTripDealer(benchmark::State& state)
{
    OrderRig r;
    OrderClient* c = new OrderClient;
    std::string err = r.error.empty() ? c->login(r.url, "bench0", "bench") : r.error;
    if (!err.empty()) {
        state.SkipWithError(err.c_str());
        c->close();
        c->release();
        return;
    }
    std::vector<double> us;
    for (auto _ : state) {
        const auto t0 = Clock::now();
        // Command 0 is rejected where it is read: transport and reading only.
        if (!c->request(0, {}, false)) {
            state.SkipWithError("no reject");
            break;
        }
        us.push_back(std::chrono::duration<double, std::micro>(Clock::now() - t0).count());
    }
    state.counters["median_us"] = medianUs(us);
    c->close();
    c->release();
}
BENCHMARK(BM_RoundTripDealer)->Name("BM_RoundTrip/merrow")->UseRealTime()->MinTime(2.0);

void BM_DurableCommit(benchmark::State& state)
{
    const std::string dir = tempDir();
    std::unique_ptr<dealer::Store> store;
    if (dir.empty() || !dealer::Store::open(dir + "/state.db", store).isOk()) {
        state.SkipWithError("no store");
        return;
    }
    std::vector<double> us;
    int64_t n = 0;
    for (auto _ : state) {
        dealer::Change c;
        dealer::OrderRecord o;
        o.orderId = std::to_string(++n);
        o.accountId = "B100";
        o.offerId = "1";
        o.buySell = "B";
        o.amount = 1000;
        o.type = "OM";
        o.status = "F";
        c.orders.push_back(o);
        c.removedOrders.push_back(o.orderId);
        dealer::TradeRecord t;
        t.tradeId = o.orderId;
        t.accountId = "B100";
        t.offerId = "1";
        t.amount = 1000;
        c.trades.push_back(t);
        c.requests.push_back({"bench0", "r" + o.orderId, n, "0\n" + o.orderId + ";N"});
        const auto t0 = Clock::now();
        if (!store->apply(c).isOk()) {
            state.SkipWithError("commit failed");
            break;
        }
        us.push_back(std::chrono::duration<double, std::micro>(Clock::now() - t0).count());
    }
    state.counters["median_us"] = medianUs(us);
    store.reset();
    std::error_code ignored;
    std::filesystem::remove_all(dir, ignored);
}
BENCHMARK(BM_DurableCommit)->UseRealTime()->MinTime(2.0);

void BM_OrderThroughput(benchmark::State& state)
{
    const int clients = static_cast<int>(state.range(0));
    OrderRig r;
    std::vector<OrderClient*> cs;
    std::string err = r.error;
    for (int i = 0; i < clients && err.empty(); ++i) {
        cs.push_back(new OrderClient);
        err = cs.back()->login(r.url, "bench" + std::to_string(i), "bench");
    }
    auto cleanup = [&] {
        for (OrderClient* c : cs) {
            c->close();
            c->release();
        }
    };
    if (!err.empty()) {
        state.SkipWithError(err.c_str());
        cleanup();
        return;
    }
    uint64_t total = 0;
    const uint64_t commits0 = r.server->stats().commits;
    for (auto _ : state) {
        std::atomic<uint64_t> orders{0};
        std::atomic<bool> failed{false};
        const std::clock_t cpu0 = std::clock();  // the whole process: dealer and clients
        const auto t0 = Clock::now();
        const auto until = t0 + std::chrono::seconds(2);
        std::vector<std::thread> threads;
        for (int i = 0; i < clients; ++i)
            threads.emplace_back([&, i] {
                const std::string account = "B" + std::to_string(100 + i);
                for (bool buy = true; Clock::now() < until; buy = !buy) {
                    if (!cs[static_cast<size_t>(i)]->request(34, marketOrder(account, buy), false) ||
                        !cs[static_cast<size_t>(i)]->ok()) {
                        failed = true;
                        return;
                    }
                    ++orders;
                }
            });
        for (std::thread& t : threads)
            t.join();
        const double s = std::chrono::duration<double>(Clock::now() - t0).count();
        state.SetIterationTime(s);
        total += orders;
        state.counters["orders_per_s"] = static_cast<double>(orders) / s;
        state.counters["cpu_us_per_order"] =
            orders ? 1e6 * static_cast<double>(std::clock() - cpu0) / CLOCKS_PER_SEC / static_cast<double>(orders) : 0;
        state.counters["cpu_load"] = static_cast<double>(std::clock() - cpu0) / CLOCKS_PER_SEC / s;
        if (failed) {
            state.SkipWithError("an order failed");
            break;
        }
    }
    state.SetItemsProcessed(static_cast<int64_t>(total));
    const uint64_t commits = r.server->stats().commits - commits0;
    state.counters["orders_per_commit"] = commits ? static_cast<double>(total) / static_cast<double>(commits) : 0;
    cleanup();
}
BENCHMARK(BM_OrderThroughput)->ArgName("clients")->Arg(1)->Arg(50)->UseManualTime()->Iterations(1);

} // namespace

int main(int argc, char** argv)
{
    ::signal(SIGPIPE, SIG_IGN);
    ConnectionManagerEx::init(1);
    const auto display = bench::displayReporter(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks(display.get());
    benchmark::Shutdown();
    g_rig.reset();
    ConnectionManagerEx::finalize(1);
    return 0;
}
