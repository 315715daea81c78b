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

#include <signal.h>
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
