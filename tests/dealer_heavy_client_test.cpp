// A heavy client against pellora-dealer run as a separate process, tried from outside
// as a hostile client would: while one logged-in client asks for ten price histories
// of 10,000 bars each, the other sessions' prices keep coming and new logins go
// through. The figures (longest price gap of any other session, slowest login) are
// printed; the bounds are far above what a healthy dealer shows and far below the
// seconds-long stall of a dealer that builds those answers on its I/O threads.

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <memory>
#include <thread>
#include <chrono>
#include <cstdio>
#include <regex>
#include <string>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include "dealer_test_client.h"

namespace {

using pellora::dealer::testing::Client;
using pellora::dealer::testing::LoginArgs;
using Fx = merrow::IFixDefs;
using Clock = std::chrono::steady_clock;

// Times the gaps between the price messages a session receives.
class GapMeter : public TThreadSafeAddRefImpl<merrow::IUserMessageListener> {
public:
    void update(merrow::IUserSession*, merrow::IMessage* m) override {
        if (std::string(m->getMsgType()) != Fx::MSGTYPE_DASMESSAGE) return;
        const int64_t now = std::chrono::duration_cast<std::chrono::microseconds>(Clock::now().time_since_epoch()).count();
        const int64_t last = last_.exchange(now);
        if (measuring_.load() && last) maxGapUs_.store(std::max(maxGapUs_.load(), now - last));
        ++count_;
    }
    void startMeasuring() { measuring_ = true; }
    void stopMeasuring() { measuring_ = false; }
    double maxGapMs() const { return static_cast<double>(maxGapUs_.load()) / 1000.0; }
    int64_t count() const { return count_.load(); }

private:
    std::atomic<int64_t> last_{0};
    std::atomic<int64_t> maxGapUs_{0};
    std::atomic<int64_t> count_{0};
    std::atomic<bool> measuring_{false};
};

struct Dealer {
    pid_t pid = -1;
    std::string url;

    explicit Dealer(const std::string& dir) {
        int out[2];
        if (::pipe(out) != 0) return;
        pid = ::fork();
        if (pid == 0) {
            ::dup2(out[1], 1);
            const int err = ::open((dir + "/stderr.log").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
            if (err >= 0) ::dup2(err, 2);
            ::close(out[0]);
            const std::string data = dir + "/data";
            const char* argv[] = {"pellora-dealer", "--data", data.c_str(), "--listen", "tcp://127.0.0.1:0",
                                  "--tick-rate", "200", nullptr};
            ::execv(PELLORA_DEALER_EXE, const_cast<char* const*>(argv));
            ::_exit(127);
        }
        ::close(out[1]);
        std::string line;
        char c;
        pollfd pfd{out[0], POLLIN, 0};
        while (::poll(&pfd, 1, 60000) > 0 && ::read(out[0], &c, 1) == 1 && c != '\n') line += c;
        ::close(out[0]);
        std::smatch m;
        if (std::regex_search(line, m, std::regex("tcp://127\\.0\\.0\\.1:([0-9]+)"))) url = "tcp://127.0.0.1:" + m[1].str();
    }
    ~Dealer() {
        if (pid > 0) {
            ::kill(pid, SIGKILL);
            int status = 0;
            ::waitpid(pid, &status, 0);
        }
    }
};

// Milliseconds a fresh login takes.
double timedLogin(const std::string& url) {
    const auto t0 = Clock::now();
    Client c(url);
    const std::string err = c.login(LoginArgs());
    EXPECT_EQ(err, "");
    return std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
}

TEST(DealerHeavyClientTest, HistoryRequestsOfOneClientStallNoOtherSession) {
    char tmpl[] = "/tmp/dealer-heavy-XXXXXX";
    const std::string dir = ::mkdtemp(tmpl);
    Dealer dealer(dir);
    ASSERT_FALSE(dealer.url.empty());

    // Enough watchers that both of the dealer's I/O threads serve some.
    constexpr int kWatchers = 6;
    std::vector<std::unique_ptr<Client>> watchers;
    std::vector<GapMeter*> meters;
    for (int i = 0; i < kWatchers; ++i) {
        watchers.push_back(std::make_unique<Client>(dealer.url));
        ASSERT_EQ(watchers.back()->login(LoginArgs()), "");
        meters.push_back(new GapMeter);
        watchers.back()->session()->subscribe(static_cast<merrow::IUserMessageListener*>(meters.back()));
    }
    for (GapMeter* m : meters) {
        const auto until = Clock::now() + std::chrono::seconds(20);
        while (m->count() < 3 && Clock::now() < until) std::this_thread::yield();
        ASSERT_GE(m->count(), 3) << "prices do not flow";
        m->startMeasuring();
    }

    Client heavy(dealer.url);
    ASSERT_EQ(heavy.login(LoginArgs()), "");
    constexpr int kRequests = 10;
    std::vector<std::string> ids;
    const auto t0 = Clock::now();
    for (int i = 0; i < kRequests; ++i) {
        ids.push_back(heavy.newId());
        merrow::IMessage* m = heavy.session()->getMessageFactory()->createMessage(Fx::MSGTYPE_MARKETDATAREQUEST);
        m->setValue(Fx::FLDTAG_MDREQID, ids.back().c_str());
        m->setIntValue(Fx::FLDTAG_MARKETDEPTH, 10000);
        m->createGroupList(Fx::FLDTAG_NORELATEDSYM)->appendGroup()->setValue(Fx::FLDTAG_SYMBOL, "EUR/USD");
        m->setIntValue(Fx::FLDTAG_QORATIMINGINTERVAL, 1);
        m->setValue(Fx::FLDTAG_RESPONSE_FORMAT, Fx::MSGTYPE_QORARESPONSE);
        ASSERT_NE(heavy.session()->send(m), 0);
        merrow::ConnectionManagerEx::freeObject(m);
    }
    // Logins while the heavy answers are being built.
    double slowestLogin = 0;
    for (int i = 0; i < 3; ++i) slowestLogin = std::max(slowestLogin, timedLogin(dealer.url));

    size_t bars = 0;
    for (const std::string& id : ids) {
        pellora::dealer::testing::Got g;
        ASSERT_TRUE(heavy.messages().waitFor([&](const pellora::dealer::testing::Got& m) { return m.id() == id; }, &g));
        ASSERT_EQ(g.type, Fx::MSGTYPE_QORARESPONSE);
        bars += static_cast<size_t>(std::count(g.das.begin(), g.das.end(), '\n') + 1);
    }
    const double heavyMs = std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
    double worstGap = 0;
    for (GapMeter* m : meters) {
        m->stopMeasuring();
        worstGap = std::max(worstGap, m->maxGapMs());
    }
    std::printf("heavy client: %zu bars in %.0f ms; other sessions: longest price gap %.1f ms, slowest login %.1f ms\n",
                bars, heavyMs, worstGap, slowestLogin);
    EXPECT_GE(bars, 10u * 5000u);
    EXPECT_LT(worstGap, 1500.0);
    EXPECT_LT(slowestLogin, 3000.0);
    for (auto& w : watchers) w.reset();
    for (GapMeter* m : meters) m->release();
}

} // namespace
