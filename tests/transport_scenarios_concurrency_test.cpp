// The transport end to end, through its client API against the scripted server, with
// the fault-injecting and CONNECT proxies in between: resume in the middle of two
// streams, a long one-way stream, dead connections, TLS and proxies, repeated
// sessions, and the server ending sessions.

#include <dirent.h>

#include <atomic>
#include <random>
#include <set>
#include <thread>

#include "client_session.h"
#include "client_user_session.h"
#include "testutil/connect_proxy.h"
#include "testutil/fault_proxy.h"
#include "testutil/test_certs.h"
#include "tls_server.h"
#include "transport_e2e_support.h"

namespace transport_e2e {
namespace {

using testutil::Direction;
using testutil::FaultProxy;
using testutil::Scope;

const auto* const g_env = ::testing::AddGlobalTestEnvironment(new TransportEnvironment);

template <class Pred>
bool eventually(Pred pred, std::chrono::milliseconds timeout = kWait)
{
    const auto end = Clock::now() + timeout;
    while (!pred()) {
        if (Clock::now() > end)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

merrow::Status pushMarketData(const merrow::ServerSessionPtr& ss, int64_t number)
{
    merrow::IMessage* m = merrow::getMessageFactory()->createMessage(Fx::MSGTYPE_MARKETDATASNAPSHOTFULLREFRESH);
    m->setIntValue(Fx::FLDTAG_QORACOMMANDID, number);
    m->setValue(Fx::FLDTAG_SYMBOL, "EUR/USD");
    merrow::Status st = ss->send(*m, Fx::CHANNEL_MARKET_DATA);
    merrow::freeMessage(m);
    return st;
}

std::vector<int64_t> iota(int64_t n)
{
    std::vector<int64_t> v(static_cast<size_t>(n));
    for (int64_t i = 0; i < n; ++i)
        v[static_cast<size_t>(i)] = i;
    return v;
}

// --- Resume in the middle of two streams ------------------------------------------

TEST_F(TransportScenario, FiftyRandomCutsLoseNothingRepeatNothingAndNeverReplayMarketData)
{
    constexpr int kRounds = 50;
    constexpr int kPerRound = 200;  // 10,000 each way
    constexpr int kTotal = kRounds * kPerRound;
    const unsigned seed = 20261210;
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937 rng(seed);

    FaultProxy proxy("127.0.0.1", port);
    Client c(tcpUrl(proxy.port()));
    ASSERT_TRUE(c.login());
    merrow::ServerSessionPtr ss = server->waitForSession(0, kWait);
    ASSERT_TRUE(ss);

    // Market data flows all along; what is pushed while the session has no connection
    // must never arrive, whatever comes after.
    std::atomic<bool> stop{false};
    std::mutex mdMutex;
    std::set<int64_t> pushedDetached;
    int64_t mdPushed = 0;
    std::thread md([&] {
        for (int64_t n = 0; !stop.load(); ++n) {
            const bool before = ss->connected();
            EXPECT_TRUE(pushMarketData(ss, n).ok());
            const bool after = ss->connected();
            {
                std::lock_guard<std::mutex> lock(mdMutex);
                if (!before && !after)
                    pushedDetached.insert(n);
                mdPushed = n + 1;
            }
            std::this_thread::sleep_for(std::chrono::microseconds(500));
        }
    });
    // A failed assertion below must still stop the pusher before the test returns.
    struct Stopper {
        std::atomic<bool>& stop;
        std::thread& thread;
        ~Stopper()
        {
            stop = true;
            if (thread.joinable())
                thread.join();
        }
    } stopper{stop, md};

    for (int round = 0; round < kRounds; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        const size_t loggedIn = c.log->count(Fx::STATUSCODE_LOGGEDIN, Fx::MSGCODE_CONNECTED);
        const Direction dir = rng() % 2 ? Direction::ClientToServer : Direction::ServerToClient;
        if (rng() % 2)
            proxy.cutAfterBytes(dir, rng() % 4000);
        else
            proxy.cutAtFrame(dir, 1 + rng() % 60, rng() % 27);  // between frames, or inside a header
        std::thread pusher([&] {
            for (int i = round * kPerRound; i < (round + 1) * kPerRound; ++i)
                ASSERT_TRUE(server->pushText(ss, "", i).ok());
        });
        int refused = 0;
        for (int i = round * kPerRound; i < (round + 1) * kPerRound; ++i)
            refused += c.send(i) != 1;
        pusher.join();
        ASSERT_EQ(0, refused) << "send refused during a reconnect";
        ASSERT_TRUE(c.log->waitFor(Fx::STATUSCODE_LOGGEDIN, Fx::MSGCODE_CONNECTED, loggedIn + 1))
            << "the cut did not come, or the session did not resume";
    }
    ASSERT_TRUE(server->waitForReceived(kTotal, kWait));
    ASSERT_TRUE(c.log->waitForTrading(kTotal));
    stop = true;
    md.join();
    std::this_thread::sleep_for(std::chrono::milliseconds(300));  // market data in flight

    std::vector<int64_t> atServer;
    for (const auto& r : server->received())
        atServer.push_back(r.number);
    EXPECT_EQ(iota(kTotal), atServer) << "client to server: each request once, in order";
    EXPECT_EQ(iota(kTotal), c.log->trading()) << "server to client: each push once, in order";

    const auto marketData = c.log->marketData();
    EXPECT_TRUE(std::is_sorted(marketData.begin(), marketData.end()));
    EXPECT_EQ(marketData.end(), std::adjacent_find(marketData.begin(), marketData.end())) << "duplicated";
    std::lock_guard<std::mutex> lock(mdMutex);
    for (int64_t n : marketData)
        EXPECT_EQ(0u, pushedDetached.count(n)) << "market data " << n << " was kept for a resume";
    EXPECT_LT(marketData.size(), static_cast<size_t>(mdPushed)) << "no market data was lost: the cuts missed it";
    EXPECT_FALSE(marketData.empty());

    EXPECT_EQ(size_t(kRounds), c.log->count(Fx::STATUSCODE_DISCONNECTED, Fx::MSGCODE_RECONNETING));
    EXPECT_EQ(size_t(kRounds + 1), c.log->count(Fx::STATUSCODE_LOGGEDIN, Fx::MSGCODE_CONNECTED));
    EXPECT_EQ(size_t(2 * kRounds + 1), c.log->statuses().size()) << "no other report";
    EXPECT_EQ(size_t(kRounds), server->resumedCount());
    std::printf("[ figures ] %lld market-data frames pushed, %zu delivered, %zu pushed while detached\n",
                static_cast<long long>(mdPushed), marketData.size(), pushedDetached.size());
}

// --- A long one-way stream ----------------------------------------------------------

TEST_F(TransportScenario, OneWayStreamNeverFillsTheSendersJournal)
{
    // Heart-beats far apart, so only the bare acknowledgements can keep the journal
    // short; the sender stays at most a quarter of the journal ahead of the receiver,
    // so a failed send means missing acknowledgements, not a slow receiver. Once with
    // the receiver at full speed, once with its thread stalled now and then, which
    // leaves long reads of queued frames behind it.
    merrow::detail::ClientRuntime::instance().update([](merrow::detail::ClientSettings& s) { s.heartbeatMs = 10000; });
    for (const bool slowReceiver : {false, true}) {
        SCOPED_TRACE(slowReceiver ? "receiver slowed" : "receiver at full speed");
        testutil::ScriptedServer::Options options;
        options.recordMessages = false;
        std::atomic<int64_t> expected{0};
        std::atomic<bool> inOrder{true};
        auto quiet = makeServer(options);
        quiet->setOnMessage([&](const merrow::ServerSessionPtr&, const merrow::IMessage& m, int) {
            const int64_t n = expected.fetch_add(1);
            if (m.getIntValue(Fx::FLDTAG_QORACOMMANDID) != n)
                inOrder = false;
            if (slowReceiver && n % 8192 == 0) {
                // Busy for a while, as an application handling a large request.
                const auto until = Clock::now() + std::chrono::milliseconds(2);
                while (Clock::now() < until) {
                }
            }
        });
        const uint16_t quietPort = quiet->listenPlain();
        ASSERT_TRUE(quiet->start());

        const int64_t total = 1000000;
        const size_t journalFrames = merrow::detail::ClientRuntime::instance().settings().journalMaxFrames;
        Client c(tcpUrl(quietPort));
        ASSERT_TRUE(c.login());
        auto& engine = static_cast<merrow::detail::UserSession*>(c.session)->engine();
        merrow::IMessage* m = merrow::getMessageFactory()->createMessage(Fx::MSGTYPE_QORAREQUEST);
        m->setValue(Fx::FLDTAG_TEXT, "tick");
        size_t largestJournal = 0;
        int64_t failed = 0;
        const auto deadline = Clock::now() + std::chrono::seconds(120);
        for (int64_t i = 0; i < total; ++i) {
            if (i % 1024 == 0) {
                while (i - static_cast<int64_t>(quiet->receivedCount()) > static_cast<int64_t>(journalFrames / 4) &&
                       Clock::now() < deadline)
                    std::this_thread::sleep_for(std::chrono::microseconds(200));
                largestJournal = std::max(largestJournal, engine.journalSize());
            }
            m->setIntValue(Fx::FLDTAG_QORACOMMANDID, i);
            if (c.session->send(m) != 1 && failed++ == 0)
                ADD_FAILURE() << "send " << i << " failed: the journal filled";
        }
        merrow::freeMessage(m);
        EXPECT_EQ(0, failed);
        ASSERT_TRUE(quiet->waitForReceived(static_cast<size_t>(total), std::chrono::seconds(60)));
        EXPECT_TRUE(inOrder.load());
        EXPECT_TRUE(eventually([&] { return engine.journalSize() == 0; })) << "the tail was never acknowledged";
        EXPECT_EQ(0u, c.log->count(Fx::STATUSCODE_DISCONNECTED, Fx::MSGCODE_RECONNETING));
        EXPECT_EQ(0u, c.log->count(Fx::STATUSCODE_EXPIRED, 0));
        std::printf("[ figures ] %lld messages one way (%s), largest journal seen %zu frames\n",
                    static_cast<long long>(total), slowReceiver ? "receiver slowed" : "full speed", largestJournal);
    }
}

// --- Dead connections -----------------------------------------------------------------

// When the proxy last forwarded a byte in one direction, sampled every millisecond.
// A change is dated at the sample before it, when the count was still the old one:
// that is never later than the byte's arrival, so a silence measured from it is never
// shorter than the one the receiver saw.
class LastByteWatch {
public:
    LastByteWatch(const FaultProxy& proxy, Direction dir)
        : m_thread([this, &proxy, dir] {
              uint64_t seen = proxy.bytesForwarded(dir);
              auto at = Clock::now();
              auto previousSample = at;
              while (!m_stop.load()) {
                  const auto sampledAt = Clock::now();
                  const uint64_t now = proxy.bytesForwarded(dir);
                  if (now != seen) {
                      seen = now;
                      at = previousSample;
                  }
                  previousSample = sampledAt;
                  {
                      std::lock_guard<std::mutex> lock(m_mutex);
                      m_last = at;
                  }
                  std::this_thread::sleep_for(std::chrono::milliseconds(1));
              }
          })
    {
    }
    ~LastByteWatch() { stop(); }
    void stop()
    {
        m_stop = true;
        if (m_thread.joinable())
            m_thread.join();
    }
    Clock::time_point last()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_last;
    }

private:
    std::atomic<bool> m_stop{false};
    std::mutex m_mutex;
    Clock::time_point m_last = Clock::now();
    std::thread m_thread;
};

TEST_F(TransportScenario, SilentConnectionsAreDeclaredDeadNoSoonerThanTwoAndAHalfIntervalsThenResume)
{
    struct Case {
        const char* name;
        bool stallClientToServer;
    };
    const Case cases[] = {{"lost heart-beats", false}, {"half-open", true}};
    const auto bound = std::chrono::milliseconds(kHeartbeatMs * 5 / 2);
    size_t index = 0;
    for (const Case& k : cases) {
        SCOPED_TRACE(k.name);
        FaultProxy proxy("127.0.0.1", port);
        Client c(tcpUrl(proxy.port()));
        ASSERT_TRUE(c.login());
        merrow::ServerSessionPtr ss = server->waitForSession(index++, kWait);
        ASSERT_TRUE(ss);
        std::mutex cutMutex;
        Clock::time_point serverCutAt{};
        server->setOnCut([&](const merrow::ServerSessionPtr& s, const std::string&) {
            std::lock_guard<std::mutex> lock(cutMutex);
            if (s == ss && serverCutAt == Clock::time_point{})
                serverCutAt = Clock::now();
        });
        struct ClearHook {
            testutil::ScriptedServer& s;
            ~ClearHook() { s.setOnCut(nullptr); }
        } clearHook{*server};
        LastByteWatch toClient(proxy, Direction::ServerToClient);
        LastByteWatch toServer(proxy, Direction::ClientToServer);
        std::this_thread::sleep_for(std::chrono::milliseconds(3 * kHeartbeatMs));  // heart-beats only

        // Half-open: the resume waits until the server has found out by itself.
        if (k.stallClientToServer)
            proxy.refuseNew(true);
        proxy.stall(Direction::ServerToClient, true);
        if (k.stallClientToServer)
            proxy.stall(Direction::ClientToServer, true);
        ASSERT_TRUE(c.log->waitFor(Fx::STATUSCODE_DISCONNECTED, Fx::MSGCODE_RECONNETING));
        // Snapshots before any new connection adds bytes of its own.
        const auto lastToClient = toClient.last();
        const auto lastToServer = toServer.last();
        const auto statuses = c.log->statuses();
        const auto declared = std::find_if(statuses.begin(), statuses.end(), [](const StatusEvent& e) {
                                  return e.messageCode == Fx::MSGCODE_RECONNETING;
                              })->at;
        EXPECT_GE(declared - lastToClient, bound) << "the client gave up early: " << statuses.back().reason;
        if (k.stallClientToServer) {
            ASSERT_TRUE(eventually([&] {
                std::lock_guard<std::mutex> lock(cutMutex);
                return serverCutAt != Clock::time_point{};
            }));
            {
                std::lock_guard<std::mutex> lock(cutMutex);
                EXPECT_GE(serverCutAt - lastToServer, bound) << "the server gave up early";
            }
            proxy.refuseNew(false);
        }
        ASSERT_TRUE(c.log->waitFor(Fx::STATUSCODE_LOGGEDIN, Fx::MSGCODE_CONNECTED, 2));
        // The resumed session carries traffic both ways.
        const size_t before = server->receivedCount();
        ASSERT_EQ(1, c.send(1));
        ASSERT_TRUE(server->waitForReceived(before + 1, kWait));
        ASSERT_TRUE(server->pushText(ss, "", 2).ok());
        ASSERT_TRUE(c.log->waitForTrading(1));
        EXPECT_EQ(std::vector<int64_t>{2}, c.log->trading());
        EXPECT_EQ(1u, c.log->count(Fx::STATUSCODE_DISCONNECTED, Fx::MSGCODE_RECONNETING));
    }
}

// --- TLS and proxies ------------------------------------------------------------------

class TlsScenario : public TransportScenario {
protected:
    void SetUp() override
    {
        TransportScenario::SetUp();
        merrow::ConnectionManagerEx::setCAInfo(testutil::testCerts().caFile.c_str());
    }
    void TearDown() override
    {
        merrow::ConnectionManagerEx::setCAInfo(nullptr);
        merrow::ConnectionManagerEx::setProxyServer(nullptr, 0);
        merrow::ConnectionManagerEx::setBasicProxyAuthorization(nullptr, nullptr);
        TransportScenario::TearDown();
    }
    // A scripted server on TLS with the certificate and key; its URL names localhost.
    std::unique_ptr<testutil::ScriptedServer> tlsServer(const std::string& cert, const std::string& key)
    {
        auto s = makeServer();
        EXPECT_NE(0, s->listenTls(cert, key));
        EXPECT_TRUE(s->start());
        return s;
    }
    static std::string loadError(const std::string& url)
    {
        Client c(url);
        try {
            c.session->loadStationDescriptor();
        } catch (const merrow::GenericException& e) {
            return e.getText();
        }
        return "(no exception)";
    }
};

// A server that speaks TLS 1.1 and nothing newer.
class OldTlsServer {
public:
    OldTlsServer() : m_acceptor(m_io, asio::ip::tcp::endpoint(asio::ip::make_address("127.0.0.1"), 0))
    {
        const auto& certs = testutil::testCerts();
        merrow::detail::TlsServerConfig config;
        config.certFile = certs.serverCert;
        config.keyFile = certs.serverKey;
        config.maxVersion = merrow::detail::TlsVersion::Tls1_1;
        std::string error;
        m_context = merrow::detail::TlsServerContext::create(config, &error);
        EXPECT_TRUE(m_context) << error;
        accept();
        m_thread = std::thread([this] { m_io.run(); });
    }
    ~OldTlsServer()
    {
        m_io.stop();
        m_thread.join();
    }
    uint16_t port() const { return m_acceptor.local_endpoint().port(); }

private:
    void accept()
    {
        m_acceptor.async_accept(asio::make_strand(m_io), [this](asio::error_code ec, asio::ip::tcp::socket socket) {
            if (ec)
                return;
            merrow::detail::asyncTlsAccept(m_context, std::move(socket), 5000,
                                           [this](std::unique_ptr<merrow::detail::ByteStream> s, std::string) {
                                               if (s)
                                                   m_kept.push_back(std::move(s));
                                           });
            accept();
        });
    }

    asio::io_context m_io;
    asio::ip::tcp::acceptor m_acceptor;
    std::shared_ptr<merrow::detail::TlsServerContext> m_context;
    std::vector<std::unique_ptr<merrow::detail::ByteStream>> m_kept;
    std::thread m_thread;
};

TEST_F(TlsScenario, LoginWithTheTestCaAndEachRefusalCarriesItsReason)
{
    const auto& certs = testutil::testCerts();
    {
        auto good = tlsServer(certs.serverCert, certs.serverKey);
        Client c(good->tlsUrl());
        ASSERT_TRUE(c.login());
        EXPECT_STREQ("merrow-e2e", c.session->getSessionProperty("TransportProvider"));
    }

    auto untrusted = tlsServer(certs.untrustedCert, certs.untrustedKey);
    auto otherHost = tlsServer(certs.otherHostCert, certs.otherHostKey);
    OldTlsServer old;
    const std::pair<std::string, std::string> cases[] = {
        {untrusted->tlsUrl(), "The server certificate could not be verified:"},
        {otherHost->tlsUrl(), "hostname mismatch"},
        {"tls://localhost:" + std::to_string(old.port()), "does not offer TLS 1.2 or newer"},
    };
    for (const auto& k : cases) {
        SCOPED_TRACE(k.first);
        const std::string error = loadError(k.first);
        EXPECT_NE(std::string::npos, error.find(k.second)) << error;
    }
    EXPECT_EQ(0u, untrusted->hellos().size() + otherHost->hellos().size()) << "nothing passes a refused handshake";
}

TEST_F(TlsScenario, ThroughTheConnectProxyPlainAndTlsLogInAndA407IsRaised)
{
    const auto& certs = testutil::testCerts();
    auto secure = tlsServer(certs.serverCert, certs.serverKey);
    testutil::ConnectProxy::Options options;
    options.requiredAuthorization = "Basic dXNlcjpwYXNz";  // user:pass
    testutil::ConnectProxy proxy(options);
    merrow::ConnectionManagerEx::setProxyServer("127.0.0.1", proxy.port());
    merrow::ConnectionManagerEx::setBasicProxyAuthorization("user", "pass");

    for (const std::string& url : {server->plainUrl(), secure->tlsUrl()}) {
        SCOPED_TRACE(url);
        Client c(url);
        ASSERT_TRUE(c.login());
        ASSERT_EQ(1, c.send(5));
    }
    ASSERT_TRUE(server->waitForReceived(1, kWait));
    ASSERT_TRUE(secure->waitForReceived(1, kWait));
    const auto requests = proxy.requests();
    ASSERT_EQ(2u, requests.size());
    EXPECT_NE(std::string::npos, requests[1].find("CONNECT localhost:")) << "the tunnel names the dealing server";

    merrow::ConnectionManagerEx::setBasicProxyAuthorization("user", "wrong");
    for (const std::string& url : {server->plainUrl(), secure->tlsUrl()}) {
        SCOPED_TRACE(url);
        const std::string error = loadError(url);
        EXPECT_NE(std::string::npos, error.find("407 Proxy Authentication Required")) << error;
    }
}

// --- Repeated sessions ----------------------------------------------------------------

// Entries of a /proc directory; for /proc/self/fd that includes the walk's own one.
size_t entries(const char* dir)
{
    size_t n = 0;
    if (DIR* d = ::opendir(dir)) {
        while (const dirent* e = ::readdir(d))
            n += e->d_name[0] != '.';
        ::closedir(d);
    }
    return n;
}

TEST_F(TransportScenario, ThousandSessionCyclesGiveBackThreadsAndDescriptors)
{
    auto cycle = [&] {
        Client c(server->plainUrl());
        if (!c.login())
            return false;
        c.session->logout();
        return c.log->waitFor(Fx::STATUSCODE_DISCONNECTED, Fx::MSGCODE_SESSNCLOSED);
    };
    ASSERT_TRUE(cycle());  // lazily made process-wide pieces come first
    ASSERT_TRUE(server->waitForEnded(1, kWait));
    ASSERT_TRUE(eventually([&] { return server->server().connectionCount() == 0; }));
    // The first cycle's client socket may still be closing here: a count that ends
    // below this baseline is no leak, so the end compares with "at most".
    const size_t threads = entries("/proc/self/task");
    const size_t fds = entries("/proc/self/fd");
    const int cycles = 1000;
    for (int i = 0; i < cycles; ++i)
        ASSERT_TRUE(cycle()) << "cycle " << i;
    ASSERT_TRUE(server->waitForEnded(cycles + 1, kWait));
    EXPECT_TRUE(eventually([&] { return entries("/proc/self/task") <= threads; }))
        << entries("/proc/self/task") << " threads, " << threads << " at the start";
    EXPECT_TRUE(eventually([&] { return entries("/proc/self/fd") <= fds; }))
        << entries("/proc/self/fd") << " descriptors, " << fds << " at the start";
    EXPECT_TRUE(eventually([&] { return server->server().connectionCount() == 0; }));
}

// --- The server ends sessions; logout ends a reconnect -------------------------------

TEST_F(TransportScenario, ShutdownNoticeAndForcedReloginArriveOnceAndNothingReconnects)
{
    struct Case {
        const char* name;
        int code;
        const char* reason;
    };
    const Case cases[] = {{"shutdown", Fx::STATUSCODE_SHUTDOWN, "The server is shutting down."},
                          {"forced relogin", Fx::STATUSCODE_FORCED_RELOGIN, "Log in again."}};
    for (const Case& k : cases) {
        SCOPED_TRACE(k.name);
        auto own = makeServer();
        const uint16_t ownPort = own->listenPlain();
        ASSERT_TRUE(own->start());
        FaultProxy proxy("127.0.0.1", ownPort);
        Client a(tcpUrl(proxy.port()));
        Client b(tcpUrl(proxy.port()));
        ASSERT_TRUE(a.login());
        ASSERT_TRUE(b.login());
        if (k.code == Fx::STATUSCODE_SHUTDOWN) {
            own->stop(merrow::CloseReason::kShutdown, k.reason);
        } else {
            for (const auto& s : own->sessions())
                testutil::ScriptedServer::close(s, merrow::CloseReason::kForcedRelogin, k.reason);
        }
        for (Client* c : {&a, &b}) {
            ASSERT_TRUE(c->log->waitFor(k.code, 0));
            EXPECT_EQ(k.reason, c->log->statuses().back().reason);
        }
        const auto accepted = proxy.connectionsAccepted();
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
        for (Client* c : {&a, &b}) {
            const auto statuses = c->log->statuses();
            ASSERT_EQ(2u, statuses.size()) << "one report per event, nothing after it";
            EXPECT_EQ(k.code, statuses[1].code);
        }
        EXPECT_EQ(accepted, proxy.connectionsAccepted()) << "no reconnect after the server ended the session";
    }
}

TEST_F(TransportScenario, LogoutDuringAReconnectStopsIt)
{
    FaultProxy proxy("127.0.0.1", port);
    Client c(tcpUrl(proxy.port()));
    ASSERT_TRUE(c.login());
    proxy.refuseNew(true);
    proxy.cutAll();
    ASSERT_TRUE(c.log->waitFor(Fx::STATUSCODE_DISCONNECTED, Fx::MSGCODE_RECONNETING));
    ASSERT_TRUE(proxy.waitForConnections(3, kWait)) << "attempts go on while the server is unreachable";
    c.session->logout();
    ASSERT_TRUE(c.log->waitFor(Fx::STATUSCODE_DISCONNECTED, Fx::MSGCODE_SESSNCLOSED));
    const auto accepted = proxy.connectionsAccepted();
    proxy.refuseNew(false);
    std::this_thread::sleep_for(std::chrono::milliseconds(1000));
    EXPECT_EQ(accepted, proxy.connectionsAccepted()) << "an attempt after logout";
    const auto statuses = c.log->statuses();
    ASSERT_EQ(3u, statuses.size());
    EXPECT_EQ(Fx::MSGCODE_SESSNCLOSED, statuses[2].messageCode);
    EXPECT_EQ(0, c.send(1)) << "send after logout";
}

} // namespace
} // namespace transport_e2e
