// Control operations over the real transport: messages, prices, trading status,
// session endings and cuts, stopping prices, stats, the text commands and the
// control socket; and state kept across a restart on the same data folder.

#include "dealer_fixture.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include "control.h"

namespace pellora::dealer::testing {
namespace {

using ControlTest = DealerTest;

TEST_F(ControlTest, MessageReachesOnlyItsUserAndIsKept) {
    auto demo = loggedIn();
    LoginArgs other;
    other.user = other.password = "demo22";
    auto demo22 = loggedIn(other);
    ASSERT_TRUE(dealer->sendMessage("demo", "Margin", "Your margin is fine.").isOk());
    Got g;
    ASSERT_TRUE(demo->messages().waitFor(
        [](const Got& m) { return m.field(Fx::FLDTAG_TEXT).find("\nMAIL;I;") != std::string::npos; }, &g));
    const std::string line = lines(g.field(Fx::FLDTAG_TEXT))[1];
    EXPECT_EQ(at(line, 2 + 7), "Your margin is fine.");
    EXPECT_EQ(at(line, 2 + 8), "Margin");
    auto table = lines(demo->command(7));
    ASSERT_EQ(table.size(), 3u);
    EXPECT_EQ(table[2], line.substr(7));
    EXPECT_EQ(lines(demo22->command(7)).size(), 2u);  // still only its own M2
    for (const Got& m : demo22->messages().all()) EXPECT_EQ(m.field(Fx::FLDTAG_TEXT).find("MAIL"), std::string::npos);
    EXPECT_EQ(dealer->sendMessage("ghost", "x", "y").text(), "Unknown user 'ghost'.");
}

TEST_F(ControlTest, SetPriceAndTradingStatusArePushed) {
    auto c = loggedIn();
    dealer->stopPrices();
    ASSERT_TRUE(dealer->setPrice("1", 1.2).isOk());
    Got g;
    ASSERT_TRUE(c->messages().waitFor(
        [](const Got& m) { return m.field(Fx::FLDTAG_TEXT).find("\nOFFER;U;1;") != std::string::npos; }, &g));
    const std::string pushed = lines(g.field(Fx::FLDTAG_TEXT))[1];
    EXPECT_EQ(at(pushed, 2 + 5), "1.20000");
    EXPECT_EQ(at(pushed, 2 + 6), "1.20008");
    EXPECT_EQ(lines(c->command(9))[1], pushed.substr(8));
    EXPECT_EQ(dealer->setPrice("77", 1).text(), "Unknown offer 77.");
    EXPECT_FALSE(dealer->setPrice("1", 0).isOk());

    ASSERT_TRUE(dealer->setTradingStatus("2", "C").isOk());
    ASSERT_TRUE(c->messages().waitFor(
        [](const Got& m) { return m.field(Fx::FLDTAG_TEXT).find("\nINSTRMT;U;2;") != std::string::npos; }, &g));
    EXPECT_EQ(at(lines(g.field(Fx::FLDTAG_TEXT))[1], 2 + 33), "C");
    EXPECT_EQ(at(lines(c->command(139))[2], 33), "C");
    EXPECT_EQ(dealer->setTradingStatus("99", "C").text(), "Unknown offer 99.");
    ASSERT_TRUE(dealer->setSubscriptionStatus("2", "D").isOk());
    EXPECT_EQ(at(lines(c->command(139))[2], 18), "D");
    EXPECT_FALSE(dealer->setSubscriptionStatus("2", "Q").isOk());
}

TEST_F(ControlTest, SessionEndingsReachTheClientWithTheirStatus) {
    struct Case {
        const char* what;
        std::function<size_t(Dealer&, const std::string&)> end;
        int status;
    };
    const Case cases[] = {
        {"logout", [](Dealer& d, const std::string& t) { return d.logout(t); }, Fx::STATUSCODE_EXPIRED},
        {"expire", [](Dealer& d, const std::string& t) { return d.expire(t); }, Fx::STATUSCODE_EXPIRED},
        {"shutdown", [](Dealer& d, const std::string& t) { return d.shutdownNotice(t); }, Fx::STATUSCODE_SHUTDOWN},
        {"relogin", [](Dealer& d, const std::string& t) { return d.forceRelogin(t); }, Fx::STATUSCODE_FORCED_RELOGIN},
    };
    LoginArgs other;
    other.user = other.password = "demo22";
    auto bystander = loggedIn(other);
    for (const Case& k : cases) {
        auto c = loggedIn();
        EXPECT_EQ(k.end(*dealer, c->session()->getSessionID()), 1u) << k.what;
        EXPECT_TRUE(c->statuses().waitCode(k.status)) << k.what;
    }
    // A user target ends that user's sessions only.
    auto a = loggedIn(), b = loggedIn();
    EXPECT_EQ(dealer->logout("demo"), 2u);
    EXPECT_TRUE(a->statuses().waitCode(Fx::STATUSCODE_EXPIRED));
    EXPECT_TRUE(b->statuses().waitCode(Fx::STATUSCODE_EXPIRED));
    EXPECT_EQ(bystander->command(5).substr(0, 2), "0\n");
}

TEST_F(ControlTest, CutConnectionsResume) {
    auto c = loggedIn();
    const std::string id = c->session()->getSessionID();
    EXPECT_EQ(dealer->cut("demo"), 1u);
    // The client comes back into the same session, and requests are answered again.
    EXPECT_EQ(at(lines(c->command(5))[1], 0), "01001");
    EXPECT_EQ(std::string(c->session()->getSessionID()), id);
    EXPECT_EQ(dealer->cut("nobody"), 0u);
}

TEST_F(ControlTest, CutPricesCutsOnlyPriceTerminalSessions) {
    LoginArgs args;
    args.connection = "DemoPrice";
    auto trade = loggedIn(args);
    Client price(url);
    ASSERT_EQ(price.loginBySession("PriceDemo", trade->session()->getSessionID(), "PriceSession", 1001), "");
    auto plain = loggedIn();
    // Both of demo's trade sessions and its price session are targets; one is cut.
    EXPECT_EQ(dealer->cutPrices("demo"), 1u);
    EXPECT_EQ(runControlCommand(*dealer, "cut-prices nobody"), "ok 0");
    // The price session comes back and takes prices again; the trade sessions answer.
    ASSERT_TRUE(dealer->stepClock(2000).isOk());
    EXPECT_TRUE(price.messages().waitFor([](const Got& g) { return g.type == Fx::MSGTYPE_DASMESSAGE; }));
    EXPECT_EQ(at(lines(trade->command(5))[1], 0), "01001");
    EXPECT_EQ(at(lines(plain->command(5))[1], 0), "01001");
}

TEST_F(ControlTest, StoppedPricesDoNotMoveAndStatsCount) {
    auto c = loggedIn();
    dealer->stopPrices();
    const std::string before = c->command(9);
    const uint64_t ticks = dealer->stats().ticksSent;
    for (int i = 0; i < 5; ++i) ASSERT_TRUE(dealer->stepClock(1000).isOk());
    EXPECT_EQ(c->command(9), before);
    EXPECT_EQ(dealer->stats().ticksSent, ticks);
    dealer->resumePrices();
    for (int i = 0; i < 5; ++i) ASSERT_TRUE(dealer->stepClock(1000).isOk());
    EXPECT_TRUE(c->messages().waitFor([](const Got& g) { return g.type == Fx::MSGTYPE_DASMESSAGE; }));
    EXPECT_GT(dealer->stats().ticksSent, ticks);
    EXPECT_EQ(dealer->stats().sessions, 1u);
}

TEST_F(ControlTest, TextCommands) {
    auto c = loggedIn();
    struct Case {
        const char* line;
        const char* answer;  // exact, or the prefix when it ends with '*'
    };
    const Case cases[] = {
        {"stats", "ok sessions=1 *"},
        {"price 1 1.1", "ok"},
        {"price 1", "error usage: price OFFER BID"},
        {"price 1 abc", "error usage: price OFFER BID"},
        {"price 77 1.1", "error Unknown offer 77."},
        {"step 1000", "ok *"},
        {"step -5", "error usage: step MS"},
        {"trading-status 1 C", "ok"},
        {"subscription 1 X", "error The subscription status must be T, D or V."},
        {"message demo Hello|Body text", "ok"},
        {"message ghost a|b", "error Unknown user 'ghost'."},
        {"logout", "error logout needs a user, a session ID or 'all'"},
        {"stop-prices", "ok"},
        {"resume-prices", "ok"},
        {"cut nobody", "ok 0"},
        {"", "error empty command"},
        {"fly away", "error unknown command 'fly'"},
        {"relogin demo", "ok 1"},
    };
    for (const Case& k : cases) {
        const std::string want = k.answer;
        const std::string got = runControlCommand(*dealer, k.line);
        if (want.back() == '*')
            EXPECT_EQ(got.substr(0, want.size() - 1), want.substr(0, want.size() - 1)) << k.line;
        else
            EXPECT_EQ(got, want) << k.line;
    }
    EXPECT_TRUE(c->statuses().waitCode(Fx::STATUSCODE_FORCED_RELOGIN));
}

TEST_F(ControlTest, ControlSocketAnswersLineByLine) {
    const std::string path = freshDir() + "/control.sock";
    ControlSocket control(*dealer);
    ASSERT_TRUE(control.start(path).isOk());
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::snprintf(addr.sun_path, sizeof addr.sun_path, "%s", path.c_str());
    ASSERT_EQ(::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    timeval tv{20, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    const std::string req = "price 1 1.3\nbogus\nstats\n";
    ASSERT_EQ(::send(fd, req.data(), req.size(), MSG_NOSIGNAL), static_cast<ssize_t>(req.size()));
    std::string got;
    char buf[512];
    while (std::count(got.begin(), got.end(), '\n') < 3) {
        const ssize_t n = ::read(fd, buf, sizeof buf);
        ASSERT_GT(n, 0);
        got.append(buf, static_cast<size_t>(n));
    }
    ::close(fd);
    auto l = lines(got);
    EXPECT_EQ(l[0], "ok");
    EXPECT_EQ(l[1], "error unknown command 'bogus'");
    EXPECT_EQ(l[2].substr(0, 12), "ok sessions=");
    control.stop();
    EXPECT_NE(::access(path.c_str(), F_OK), 0);
}

TEST(DealerRestartTest, StateAndPricesGoOnFromTheDataFolder) {
    const std::string dir = freshDir();
    std::string offers, messages;
    {
        std::unique_ptr<Dealer> d;
        ASSERT_TRUE(Dealer::create(testConfig(dir), d).isOk());
        for (int i = 0; i < 5; ++i) ASSERT_TRUE(d->stepClock(1000).isOk());
        ASSERT_TRUE(d->sendMessage("demo", "Kept", "Across restarts").isOk());
        ASSERT_TRUE(d->listen("tcp://127.0.0.1:0").isOk());
        ASSERT_TRUE(d->start().isOk());
        Client c("tcp://127.0.0.1:" + std::to_string(d->boundPort(0)));
        ASSERT_EQ(c.login(LoginArgs()), "");
        d->stopPrices();
        offers = c.command(9);
        messages = c.command(7);
        d->stop();
    }
    std::unique_ptr<Dealer> d;
    ASSERT_TRUE(Dealer::create(testConfig(dir), d).isOk());
    ASSERT_TRUE(d->listen("tcp://127.0.0.1:0").isOk());
    ASSERT_TRUE(d->start().isOk());
    d->stopPrices();
    Client c("tcp://127.0.0.1:" + std::to_string(d->boundPort(0)));
    ASSERT_EQ(c.login(LoginArgs()), "");
    EXPECT_EQ(c.command(7), messages);
    EXPECT_NE(messages.find("Across restarts"), std::string::npos);
    EXPECT_EQ(c.command(9), offers);  // prices resume from the last ones stored
    // A new message gets a fresh ID.
    ASSERT_TRUE(d->sendMessage("demo", "Second", "After the restart").isOk());
    auto l = lines(c.command(7));
    ASSERT_EQ(l.size(), 4u);
    EXPECT_NE(at(l[2], 0), at(l[3], 0));
    d->stop();
}

} // namespace
} // namespace pellora::dealer::testing
