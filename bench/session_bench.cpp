// Speed of a login through the public API against the in-process dealer.
//
// BM_TransportLogon: the bare transport's part of a login on the "Demo" connection
// (create the messaging session, read the station descriptor, select the trading
// session, log in with the initial commands, log out, free): what every login
// costs before the SDK does anything of its own.
// BM_LoginToConnected/direct, /async, /rtmp: CZelTransport::createSession, login
// with table-manager mode 0 until Connected, logout, release, on "Demo" (the
// answers come with the login), "DemoAsync" (the initial commands are sent and
// awaited) and "DemoRTMP". Counter ratio_to_logon: the time over the bare logon's
// of the same run. Target: direct at most 3 x the bare logon.
//
// The dealer runs in this process on the demo world with a virtual clock (no price
// traffic), on an ephemeral loopback port.
//
// BM_PriceFanout and BM_PricesApplied: a second dealer with the real clock and
// 1,000,000 ticks a second over all instruments, pumped by the benchmark thread
// (paused while more than 512 frames wait in its queue). Two clients watch it at
// once: a bare transport client counting the "OFFER" lines it receives
// (BM_PriceFanout), and a session logged in with table-manager mode 1 whose
// listener on the Offers table counts the rows changed (BM_PricesApplied: parsed,
// stored, recalculated and heard). Counter ratio_to_fanout of the second: its rate
// over the first's. Target: at least 0.4.

#include <benchmark/benchmark.h>

#include "plain_names_reporter.h"

#include <signal.h>
#include <stdlib.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <thread>
#include <condition_variable>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>

#include "dealer.h"
#include "demo_world.h"
#include "merrow/connection_manager.h"
#include "merrow/merrow.h"
#include "vorntool/add_ref.h"
#include "zel/zel.h"

namespace {

using merrow::ConnectionManagerEx;

struct Rig {
    std::unique_ptr<pellora::dealer::Dealer> dealer;
    std::string url;
    std::string dir;
    std::string error;

    Rig()
    {
        char tmpl[] = "/tmp/session-bench-XXXXXX";
        dir = ::mkdtemp(tmpl) ? tmpl : "";
        pellora::dealer::DealerConfig c;
        c.world = pellora::dealer::demoWorld();
        c.dataDir = dir;
        c.virtualClock = true;
        c.serverOptions.maxLogonFailures = 1000000;
        auto s = pellora::dealer::Dealer::create(std::move(c), dealer);
        if (!s.isOk() || !dealer->listen("tcp://127.0.0.1:0").isOk() || !dealer->start().isOk()) {
            error = "the dealer did not start";
            return;
        }
        url = "tcp://127.0.0.1:" + std::to_string(dealer->boundPort(0));
    }
    ~Rig()
    {
        if (dealer)
            dealer->stop();
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

// Seconds per bare logon, measured by BM_TransportLogon in this run.
double g_logonSeconds = 0;

void BM_TransportLogon(benchmark::State& state)
{
    Rig& r = rig();
    if (!r.error.empty()) {
        state.SkipWithError(r.error.c_str());
        return;
    }
    const auto start = std::chrono::steady_clock::now();
    int64_t n = 0;
    for (auto _ : state) {
        merrow::IUserSession* s = ConnectionManagerEx::createUserSession(r.url.c_str(), "Demo", "demo", "demo", "Pellora");
        try {
            if (!s->loadStationDescriptor()) {
                state.SkipWithError("no station descriptor");
                ConnectionManagerEx::freeObject(s);
                break;
            }
            s->setTradingSession(s->getTradingSessionDescs()[0]);
            if (s->login("EXTRA=3,139,9,5,138") != 1)
                state.SkipWithError("login refused");
        } catch (...) {
            state.SkipWithError("login failed");
        }
        s->logout();
        ConnectionManagerEx::freeObject(s);
        ++n;
    }
    if (n)
        g_logonSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count() / n;
}
BENCHMARK(BM_TransportLogon)->UseRealTime()->MinTime(2.0);

class Waiter : public TThreadSafeAddRefImpl<IZelSessionStatus> {
public:
    void onSessionStatusChanged(ZelSessionStatus status) override
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_last = status;
        m_changed.notify_all();
    }
    void onLoginFailed(const char*) override
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_failed = true;
        m_changed.notify_all();
    }
    bool waitConnected()
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_changed.wait_for(lock, std::chrono::seconds(30), [&] { return m_failed || m_last == Connected; });
        return m_last == Connected;
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    int m_last = Disconnected;
    bool m_failed = false;
};

void loginToConnected(benchmark::State& state, const char* connection)
{
    Rig& r = rig();
    if (!r.error.empty()) {
        state.SkipWithError(r.error.c_str());
        return;
    }
    const auto start = std::chrono::steady_clock::now();
    int64_t n = 0;
    for (auto _ : state) {
        IZelSession* session = CZelTransport::createSession();
        auto* waiter = new Waiter();
        session->subscribeSessionStatus(waiter);
        if (session->login("demo", "demo", r.url.c_str(), connection) == 0 || !waiter->waitConnected())
            state.SkipWithError("no Connected");
        session->logout();
        session->release();
        waiter->release();
        ++n;
    }
    const double seconds = n ? std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count() / n : 0;
    if (g_logonSeconds > 0)
        state.counters["ratio_to_logon"] = seconds / g_logonSeconds;
}

void BM_LoginToConnected_direct(benchmark::State& state) { loginToConnected(state, "Demo"); }
void BM_LoginToConnected_async(benchmark::State& state) { loginToConnected(state, "DemoAsync"); }
void BM_LoginToConnected_rtmp(benchmark::State& state) { loginToConnected(state, "DemoRTMP"); }
BENCHMARK(BM_LoginToConnected_direct)->Name("BM_LoginToConnected/direct")->UseRealTime()->MinTime(2.0);
BENCHMARK(BM_LoginToConnected_async)->Name("BM_LoginToConnected/async")->UseRealTime()->MinTime(2.0);
BENCHMARK(BM_LoginToConnected_rtmp)->Name("BM_LoginToConnected/rtmp")->UseRealTime()->MinTime(2.0);

// ---- prices ----

using merrow::IFixDefs;

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
        for (const char* line = p; line < end;) {
            const char* nl = static_cast<const char*>(std::memchr(line, '\n', static_cast<size_t>(end - line)));
            const char* next = nl ? nl + 1 : end;
            if (next - line >= 6 && std::memcmp(line, "OFFER;", 6) == 0)
                ++n;
            line = next;
        }
        m_offers.fetch_add(n, std::memory_order_relaxed);
    }
    uint64_t offers() const { return m_offers.load(std::memory_order_relaxed); }

private:
    std::atomic<uint64_t> m_offers{0};
};

class RowCounter : public TThreadSafeAddRefImpl<IZelTableListener> {
public:
    void onAdded(const char*, IZelRow*) override {}
    void onChanged(const char*, IZelRow*) override { m_changed.fetch_add(1, std::memory_order_relaxed); }
    void onDeleted(const char*, IZelRow*) override {}
    void onStatusChanged(ZelTableStatus) override {}
    void onEachRow(const char*, IZelRow*) override {}
    uint64_t changed() const { return m_changed.load(std::memory_order_relaxed); }

private:
    std::atomic<uint64_t> m_changed{0};
};

struct PriceRig {
    std::unique_ptr<pellora::dealer::Dealer> dealer;
    std::string dir;
    std::string error;
    merrow::IUserSession* bare = nullptr;
    OfferCounter* counter = nullptr;
    IZelSession* session = nullptr;
    Waiter* waiter = nullptr;
    IZelTable* offers = nullptr;
    RowCounter* rows = nullptr;

    PriceRig()
    {
        char tmpl[] = "/tmp/session-bench-prices-XXXXXX";
        dir = ::mkdtemp(tmpl) ? tmpl : "";
        pellora::dealer::DealerConfig c;
        c.world = pellora::dealer::demoWorld();
        c.dataDir = dir;
        c.seed = 7;
        c.tickRate = 1000000;
        c.serverOptions.threads = 1;
        auto s = pellora::dealer::Dealer::create(std::move(c), dealer);
        if (!s.isOk() || !dealer->listen("tcp://127.0.0.1:0").isOk() || !dealer->start().isOk()) {
            error = "the dealer did not start";
            return;
        }
        const std::string url = "tcp://127.0.0.1:" + std::to_string(dealer->boundPort(0));
        counter = new OfferCounter();
        bare = ConnectionManagerEx::createUserSession(url.c_str(), "Demo", "demo", "demo", "Pellora");
        bare->subscribe(static_cast<merrow::IUserMessageListener*>(counter));
        bare->setMessageFilter(IFixDefs::CHANNEL_TRADING_DATA);
        try {
            if (!bare->loadStationDescriptor()) {
                error = "no station descriptor";
                return;
            }
            bare->setTradingSession(bare->getTradingSessionDescs()[0]);
            if (bare->login("") != 1) {
                error = "bare login refused";
                return;
            }
        } catch (...) {
            error = "bare login failed";
            return;
        }
        session = CZelTransport::createSession();
        waiter = new Waiter();
        session->subscribeSessionStatus(waiter);
        session->useTableManager(ZelTableManagerMode::TableManagerOnly);
        if (!session->login("demo", "demo", url.c_str(), "Demo") || !waiter->waitConnected()) {
            error = "session login failed";
            return;
        }
        IZelTableManager* manager = session->getTableManager();
        offers = manager ? manager->getTable(ZelTable::Offers) : nullptr;
        if (manager)
            manager->release();
        if (!offers) {
            error = "no offers table";
            return;
        }
        rows = new RowCounter();
        offers->subscribeUpdate(ZelTableUpdateType::Update, rows);
    }
    ~PriceRig()
    {
        if (offers) {
            offers->unsubscribeUpdate(ZelTableUpdateType::Update, rows);
            offers->release();
        }
        if (session) {
            session->logout();
            session->release();
        }
        if (waiter)
            waiter->release();
        if (rows)
            rows->release();
        if (bare) {
            bare->logout();
            ConnectionManagerEx::freeObject(bare);
        }
        if (counter)
            counter->release();
        if (dealer)
            dealer->stop();
        std::error_code ignored;
        if (!dir.empty())
            std::filesystem::remove_all(dir, ignored);
    }
};

std::unique_ptr<PriceRig> g_prices;
PriceRig& prices()
{
    if (!g_prices)
        g_prices = std::make_unique<PriceRig>();
    return *g_prices;
}

double g_fanoutRate = 0;

// Pumps prices for the benchmark's iterations and returns the seconds it took until
// the counter settled.
template <class Count>
double pump(benchmark::State& state, PriceRig& r, Count count, uint64_t& received)
{
    using Clock = std::chrono::steady_clock;
    while (r.dealer->stats().queuedFrames > 0)
        std::this_thread::sleep_for(std::chrono::microseconds(100));
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    const uint64_t before = count();
    const auto start = Clock::now();
    for (auto _ : state) {
        r.dealer->pumpPrices();
        std::this_thread::sleep_for(std::chrono::microseconds(200));
        while (r.dealer->stats().queuedFrames > 512)
            std::this_thread::sleep_for(std::chrono::microseconds(20));
    }
    const auto deadline = Clock::now() + std::chrono::seconds(10);
    while (r.dealer->stats().queuedFrames > 0 && Clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::microseconds(20));
    for (uint64_t last = ~uint64_t(0); last != count() && Clock::now() < deadline;) {
        last = count();
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    received = count() - before;
    return std::chrono::duration<double>(Clock::now() - start).count();
}

void BM_PriceFanout(benchmark::State& state)
{
    PriceRig& r = prices();
    if (!r.error.empty()) {
        state.SkipWithError(r.error.c_str());
        return;
    }
    uint64_t received = 0;
    const double seconds = pump(state, r, [&] { return r.counter->offers(); }, received);
    state.SetItemsProcessed(static_cast<int64_t>(received));
    g_fanoutRate = seconds > 0 ? received / seconds : 0;
}
BENCHMARK(BM_PriceFanout)->UseRealTime()->MinTime(1.0);

void BM_PricesApplied(benchmark::State& state)
{
    PriceRig& r = prices();
    if (!r.error.empty()) {
        state.SkipWithError(r.error.c_str());
        return;
    }
    uint64_t received = 0;
    const double seconds = pump(state, r, [&] { return r.rows->changed(); }, received);
    state.SetItemsProcessed(static_cast<int64_t>(received));
    if (g_fanoutRate > 0 && seconds > 0)
        state.counters["ratio_to_fanout"] = (received / seconds) / g_fanoutRate;
}
BENCHMARK(BM_PricesApplied)->UseRealTime()->MinTime(1.0);

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
    g_prices.reset();
    g_rig.reset();
    return 0;
}
