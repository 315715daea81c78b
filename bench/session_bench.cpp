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

#include <benchmark/benchmark.h>

#include "plain_names_reporter.h"

#include <signal.h>
#include <stdlib.h>

#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>

#include "dealer.h"
#include "demo_world.h"
#include "merrow/connection_manager.h"
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
    return 0;
}
