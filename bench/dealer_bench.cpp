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
// second the benchmark sets EUR/USD's price through the control socket; each session
// notes when the pushed offer reaches its listener. The latency of a session is that
// time less the moment the control line was written (so it holds the control hop,
// the server's save of the price, the push and the client's delivery). Counters:
// p50_ms, p99_ms, max_ms over every session and round, and the server's resident
// memory per session (kib_per_session: its growth from before the logins to after
// the first rounds, over N). Iteration time: the slowest session of the round.
// Targets: p99 under 5 ms, under 200 KiB per session.
//
// BM_PriceGapUnderHeavyClient: the executable at 200 ticks a second, 20 watching
// sessions, and one client that sends ten price-history requests of 10,000 bars at
// once. Every gap between two price messages of a watching session while those
// answers are built (from the first request to the last answer) is collected:
// gap_p99_ms and gap_max_ms, and heavy_ms for the heavy phase itself (the iteration
// time). Target: gap_p99_ms under 50.

#include <benchmark/benchmark.h>

#include "plain_names_reporter.h"

#include <atomic>
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
        ConnectionManagerEx::init(1);
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
        ConnectionManagerEx::finalize(1);
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

// The client transport for the benchmarks below; BM_PriceFanout's in-process dealer
// is gone by then, so it cannot load the machine while they measure.
bool g_clientTransport = false;
void clientTransport()
{
    g_rig.reset();
    if (!g_clientTransport) {
        ConnectionManagerEx::init(1);
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

// Notes when each offer update reaches a session.
class Arrivals : public TThreadSafeAddRefImpl<merrow::IUserMessageListener> {
public:
    void update(merrow::IUserSession*, merrow::IMessage* m) override
    {
        const char* type = m->getMsgType();
        if (!type)
            return;
        const int64_t t = nowUs();
        std::lock_guard<std::mutex> lock(mu_);
        if (std::strcmp(type, IFixDefs::MSGTYPE_DASMESSAGE) == 0)
            prices_.push_back(t);
        else if (std::strcmp(type, IFixDefs::MSGTYPE_QORARESPONSE) == 0)
            ++answers_;
    }
    size_t prices() const
    {
        std::lock_guard<std::mutex> lock(mu_);
        return prices_.size();
    }
    int64_t price(size_t i) const
    {
        std::lock_guard<std::mutex> lock(mu_);
        return i < prices_.size() ? prices_[i] : 0;
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
    mutable std::mutex mu_;
    std::vector<int64_t> prices_;
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
std::unique_ptr<Watcher> watch(const std::string& url, bool tradingToo = false)
{
    auto w = std::make_unique<Watcher>();
    w->arrivals = new Arrivals;
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
    std::vector<std::unique_ptr<Watcher>> sessions;
    for (size_t i = 0; i < n; ++i) {
        sessions.push_back(watch(d.url));
        if (!sessions.back()) {
            state.SkipWithError("a login failed");
            return;
        }
    }
    std::vector<double> latencies;
    size_t round = 0;
    auto next = Clock::now();
    for (auto _ : state) {
        std::this_thread::sleep_until(next);
        next += std::chrono::milliseconds(100);  // ten updates a second
        const int64_t t0 = nowUs();
        const std::string answer = d.command(round % 2 ? "price 1 1.10010" : "price 1 1.10000");
        if (answer != "ok") {
            state.SkipWithError(("set-price failed: " + answer).c_str());
            return;
        }
        int64_t slowest = 0;
        const auto deadline = Clock::now() + std::chrono::seconds(10);
        for (const auto& w : sessions) {
            while (w->arrivals->prices() <= round && Clock::now() < deadline)
                std::this_thread::sleep_for(std::chrono::microseconds(50));
            const int64_t t = w->arrivals->price(round);
            if (!t) {
                state.SkipWithError("an update did not arrive");
                return;
            }
            latencies.push_back(static_cast<double>(t - t0) / 1000.0);
            slowest = std::max(slowest, t - t0);
        }
        state.SetIterationTime(static_cast<double>(slowest) / 1e6);
        ++round;
    }
    state.counters["p50_ms"] = percentile(latencies, 0.50);
    state.counters["p99_ms"] = percentile(latencies, 0.99);
    state.counters["max_ms"] = percentile(latencies, 1.0);
    state.counters["kib_per_session"] = (d.rssKiB() - rss0) / static_cast<double>(n);
}
BENCHMARK(BM_PushLatency)->ArgName("sessions")->Arg(1000)->Iterations(50)->UseManualTime();

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

} // namespace

int main(int argc, char** argv)
{
    ::signal(SIGPIPE, SIG_IGN);
    const auto display = bench::displayReporter(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks(display.get());
    benchmark::Shutdown();
    g_rig.reset();
#ifdef PELLORA_DEALER_EXE
    if (g_clientTransport)
        ConnectionManagerEx::finalize(1);
#endif
    return 0;
}
