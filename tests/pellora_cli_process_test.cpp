// The pellora tool as a separate process: usage errors, bad numbers, dates and
// timeframes, config files, a dealer that is not running and one that refuses
// the login. Each ends with its exit code and one line on stderr, never a hang
// and never a half-printed table on stdout.

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <nlohmann/json.hpp>

namespace {

struct Result {
    int exitCode = -1;
    std::string out, err;
    bool hung = false;
};

// Runs the tool with a clean environment (HOME in a temporary folder) plus env.
Result run(const std::vector<std::string>& args, const std::vector<std::string>& env = {},
           std::chrono::seconds limit = std::chrono::seconds(60)) {
    int outPipe[2], errPipe[2];
    if (::pipe(outPipe) != 0 || ::pipe(errPipe) != 0) return {};
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(outPipe[1], 1);
        ::dup2(errPipe[1], 2);
        ::close(outPipe[0]);
        ::close(errPipe[0]);
        std::vector<std::string> all = {PELLORA_EXE};
        all.insert(all.end(), args.begin(), args.end());
        std::vector<char*> argv;
        for (auto& a : all) argv.push_back(a.data());
        argv.push_back(nullptr);
        std::vector<std::string> envs = {"HOME=/tmp/pellora-cli-test-home-none", "PATH=/usr/bin:/bin"};
        if (const char* o = std::getenv("ASAN_OPTIONS")) envs.push_back(std::string("ASAN_OPTIONS=") + o);
        envs.insert(envs.end(), env.begin(), env.end());
        std::vector<char*> envp;
        for (auto& e : envs) envp.push_back(e.data());
        envp.push_back(nullptr);
        ::execve(PELLORA_EXE, argv.data(), envp.data());
        ::_exit(127);
    }
    ::close(outPipe[1]);
    ::close(errPipe[1]);
    Result r;
    const auto deadline = std::chrono::steady_clock::now() + limit;
    pollfd fds[2] = {{outPipe[0], POLLIN, 0}, {errPipe[0], POLLIN, 0}};
    int open = 2;
    while (open > 0) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            r.hung = true;
            ::kill(pid, SIGKILL);
            break;
        }
        if (::poll(fds, 2, static_cast<int>(left.count())) <= 0) continue;
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP))) continue;
            char buf[4096];
            const ssize_t n = ::read(fds[i].fd, buf, sizeof buf);
            if (n <= 0) {
                ::close(fds[i].fd);
                fds[i].fd = -1;
                --open;
            } else {
                (i == 0 ? r.out : r.err).append(buf, static_cast<size_t>(n));
            }
        }
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    r.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    for (auto& fd : fds)
        if (fd.fd >= 0) ::close(fd.fd);
    return r;
}

void expectOneLineError(const Result& r, int code, const std::string& words) {
    EXPECT_FALSE(r.hung);
    EXPECT_EQ(r.exitCode, code) << r.err;
    EXPECT_EQ(r.out, "");
    ASSERT_FALSE(r.err.empty());
    EXPECT_EQ(r.err.find('\n'), r.err.size() - 1) << r.err;  // exactly one line
    EXPECT_EQ(r.err.rfind("pellora: ", 0), 0u) << r.err;
    EXPECT_NE(r.err.find(words), std::string::npos) << r.err;
}

// A loopback port with nothing listening: bound, then closed.
int closedPort() {
    const int s = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a);
    socklen_t len = sizeof a;
    ::getsockname(s, reinterpret_cast<sockaddr*>(&a), &len);
    ::close(s);
    return ntohs(a.sin_port);
}

const std::vector<std::string> kCredentials = {"PELLORA_USER=demo", "PELLORA_PASSWORD=demo"};

TEST(PelloraCliProcess, HelpListsEveryCommandAndExitsZero) {
    Result r = run({"--help"});
    EXPECT_EQ(r.exitCode, 0);
    for (const char* c : {"status", "offers", "accounts", "trades", "orders", "closed", "messages", "buy", "sell",
                          "close", "edit", "cancel", "history", "rules", "report"})
        EXPECT_NE(r.out.find(std::string("  ") + c + " "), std::string::npos) << c;
}

TEST(PelloraCliProcess, UsageErrorsExitTwoWithOneLineBeforeAnyConnection) {
    struct Case {
        std::vector<std::string> args;
        const char* words;
    } cases[] = {
        {{}, "subcommand is required"},
        {{"bogus"}, "unknown command 'bogus'"},
        {{"offers", "--nope"}, "unexpected options: --nope"},
        {{"buy", "EUR/USD"}, "amount"},
        {{"buy", "EUR/USD", "ten"}, "amount 'ten' is not a whole number"},
        {{"sell", "EUR/USD", "0"}, "must be from 1"},
        {{"buy", "EUR/USD", "1000", "--rate", "1,2"}, "rate '1,2' is not a number"},
        {{"buy", "EUR/USD", "1000", "--stop", "-1"}, "rate '-1'"},
        {{"buy", "EUR/USD", "1000", "--trailing", "5"}, "--trailing needs --stop"},
        {{"edit", "42"}, "needs --rate or --amount"},
        {{"close", "7", "--amount", "1.5"}, "amount '1.5'"},
        {{"history", "EUR/USD", "--timeframe", "h1"}, "timeframe 'h1' is not one of"},
        {{"history", "EUR/USD", "--from", "2026-02-30"}, "date '2026-02-30'"},
        {{"history", "EUR/USD", "--from", "2026-03-02", "--to", "2026-03-01"}, "--to is before --from"},
        {{"--timeout", "0", "status"}, "--timeout"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.words);
        // The port is closed: a check that slipped through would fail differently.
        std::vector<std::string> args = {"--url", "tcp://127.0.0.1:" + std::to_string(closedPort())};
        args.insert(args.end(), c.args.begin(), c.args.end());
        expectOneLineError(run(args, kCredentials), 2, c.words);
    }
}

TEST(PelloraCliProcess, MissingCredentialsAndBadConfigFilesExitTwo) {
    expectOneLineError(run({"status"}), 2, "no user");
    expectOneLineError(run({"status"}, {"PELLORA_USER=demo"}), 2, "no password");
    expectOneLineError(run({"--config", "/nonexistent/pellora.conf", "status"}, kCredentials), 2,
                       "/nonexistent/pellora.conf");
    const std::string bad = ::testing::TempDir() + "pellora_bad_config";
    std::ofstream(bad) << "user = demo\nserver = x\n";
    expectOneLineError(run({"--config", bad, "status"}, kCredentials), 2, "line 2: unknown key 'server'");
    expectOneLineError(run({"--config", "/tmp", "status"}, kCredentials), 2, "is a folder");
}

TEST(PelloraCliProcess, UnreachableDealerIsOneLineAndExitTwoWithoutHanging) {
    const std::string url = "tcp://127.0.0.1:" + std::to_string(closedPort());
    for (const char* command : {"status", "offers", "accounts"}) {
        SCOPED_TRACE(command);
        Result r = run({"--url", url, "--timeout", "10", command}, kCredentials, std::chrono::seconds(30));
        expectOneLineError(r, 2, url);
    }
    // The environment's address is used when no flag is given.
    expectOneLineError(run({"status"}, {"PELLORA_USER=demo", "PELLORA_PASSWORD=demo", "PELLORA_URL=" + url}), 2, url);
}

TEST(PelloraCliProcess, ThePasswordIsNeverPrinted) {
    const std::string url = "tcp://127.0.0.1:" + std::to_string(closedPort());
    Result r = run({"--url", url, "--verbose", "status"}, {"PELLORA_USER=demo", "PELLORA_PASSWORD=Sekr1t-Pw"});
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_EQ(r.out.find("Sekr1t"), std::string::npos);
    EXPECT_EQ(r.err.find("Sekr1t"), std::string::npos);
    // A misspelt flag is named, and the password after it is not.
    for (std::vector<std::string> args : {std::vector<std::string>{"--pasword", "Sekr1t-Pw", "status"},
                                          std::vector<std::string>{"status", "--pasword=Sekr1t-Pw"}}) {
        r = run(args, kCredentials);
        expectOneLineError(r, 2, "--pasword");
        EXPECT_EQ(r.err.find("Sekr1t"), std::string::npos) << r.err;
    }
}

// A pellora-dealer of its own for the suite: the demo world in a temporary
// folder, on a free loopback port.
class PelloraCliAgainstDealer : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        char tmpl[] = "/tmp/pellora-cli-dealer.XXXXXX";
        dataDir_ = ::mkdtemp(tmpl);
        int outPipe[2];
        ASSERT_EQ(::pipe(outPipe), 0);
        pid_ = ::fork();
        if (pid_ == 0) {
            ::dup2(outPipe[1], 1);
            const int devnull = ::open("/dev/null", O_WRONLY);
            ::dup2(devnull, 2);
            ::close(outPipe[0]);
            const std::string data = dataDir_ + "/data";
            ::execl(PELLORA_DEALER_EXE, PELLORA_DEALER_EXE, "--data", data.c_str(), "--listen", "tcp://127.0.0.1:0",
                    static_cast<char*>(nullptr));
            ::_exit(127);
        }
        ::close(outPipe[1]);
        std::string line;
        char c;
        pollfd pfd{outPipe[0], POLLIN, 0};
        while (::poll(&pfd, 1, 60000) > 0 && ::read(outPipe[0], &c, 1) == 1 && c != '\n') line += c;
        ::close(outPipe[0]);
        std::istringstream in(line);
        std::string a, b;
        in >> a >> b >> url_;
        ASSERT_EQ(b, "ready") << line;
    }
    static void TearDownTestSuite() {
        if (pid_ > 0) {
            ::kill(pid_, SIGTERM);
            ::waitpid(pid_, nullptr, 0);
        }
        std::system(("rm -rf '" + dataDir_ + "'").c_str());
    }
    Result pellora(std::vector<std::string> args, const std::string& password = "demo") {
        args.insert(args.begin(), {"--url", url_, "--timeout", "20"});
        return run(args, {"PELLORA_USER=demo", "PELLORA_PASSWORD=" + password});
    }
    static std::vector<nlohmann::json> rows(const Result& r) {
        std::vector<nlohmann::json> out;
        std::istringstream in(r.out);
        std::string line;
        while (std::getline(in, line)) out.push_back(nlohmann::json::parse(line));
        return out;
    }

    static pid_t pid_;
    static std::string dataDir_, url_;
};
pid_t PelloraCliAgainstDealer::pid_ = -1;
std::string PelloraCliAgainstDealer::dataDir_, PelloraCliAgainstDealer::url_;

TEST_F(PelloraCliAgainstDealer, ARefusedLoginExitsOneWithTheServersText) {
    expectOneLineError(pellora({"status"}, "wrong"), 1, "Invalid user name or password.");
    expectOneLineError(pellora({"--connection", "Nope", "accounts"}), 1, "Unknown connection 'Nope'.");
}

TEST_F(PelloraCliAgainstDealer, StatusAndTablesMatchTheDemoWorld) {
    Result status = pellora({"--json", "status"});
    ASSERT_EQ(status.exitCode, 0) << status.err;
    EXPECT_EQ(rows(status).at(0)["status"], "Connected");

    Result offers = pellora({"--json", "offers"});
    ASSERT_EQ(offers.exitCode, 0) << offers.err;
    auto o = rows(offers);
    EXPECT_EQ(o.size(), 14u);
    bool eurusd = false;
    for (const auto& row : o)
        if (row["symbol"] == "EUR/USD") {
            eurusd = true;
            EXPECT_LT(row["bid"].get<double>(), row["ask"].get<double>());
            EXPECT_EQ(row["offer"], "1");
        }
    EXPECT_TRUE(eurusd);
    Result table = pellora({"offers"});
    ASSERT_EQ(table.exitCode, 0);
    EXPECT_EQ(std::count(table.out.begin(), table.out.end(), '\n'), 15);  // header and 14 rows

    Result accounts = pellora({"--json", "accounts"});
    ASSERT_EQ(accounts.exitCode, 0) << accounts.err;
    auto a = rows(accounts);
    ASSERT_EQ(a.size(), 2u);
    EXPECT_EQ(a[0]["account"], "01001");
    EXPECT_DOUBLE_EQ(a[0]["balance"].get<double>(), 50000);

    // demo (kind 20) may create OCO orders; demo22 (kind 22) may not.
    Result rules = pellora({"--json", "rules"});
    ASSERT_EQ(rules.exitCode, 0) << rules.err;
    auto r = rows(rules);
    ASSERT_EQ(r.size(), 14u);
    EXPECT_EQ(r[0]["oco"], "yes");
    EXPECT_EQ(r[0]["min_qty"], 1000);
    Result customer = run({"--url", url_, "--json", "rules", "--symbol", "EUR/USD"},
                          {"PELLORA_USER=demo22", "PELLORA_PASSWORD=demo22"});
    ASSERT_EQ(customer.exitCode, 0) << customer.err;
    EXPECT_EQ(rows(customer).at(0)["oco"], "no");
}

TEST_F(PelloraCliAgainstDealer, UnknownSymbolsAreRefused) {
    expectOneLineError(pellora({"buy", "XXX/YYY", "1000"}), 1, "unknown symbol 'XXX/YYY'");
    expectOneLineError(pellora({"offers", "--symbol", "XXX/YYY"}), 1, "unknown symbol 'XXX/YYY'");
    expectOneLineError(pellora({"rules", "--symbol", "XXX/YYY"}), 1, "unknown symbol 'XXX/YYY'");
    Result h = pellora({"history", "XXX/YYY"});
    EXPECT_EQ(h.exitCode, 1) << h.err;
    EXPECT_EQ(h.out, "");
}

TEST_F(PelloraCliAgainstDealer, BuyThenCloseLeavesAClosedTrade) {
    Result buy = pellora({"--json", "buy", "EUR/USD", "1000", "--account", "01002"});
    ASSERT_EQ(buy.exitCode, 0) << buy.err;
    const std::string order = rows(buy).at(0)["order"];
    std::string trade;
    for (int attempt = 0; attempt < 50 && trade.empty(); ++attempt) {
        Result trades = pellora({"--json", "trades"});
        ASSERT_EQ(trades.exitCode, 0) << trades.err;
        for (const auto& t : rows(trades))
            if (t["account"] == "01002" && t["symbol"] == "EUR/USD") trade = t["trade"];
    }
    ASSERT_FALSE(trade.empty()) << "order " << order << " opened no trade";
    Result close = pellora({"close", trade});
    ASSERT_EQ(close.exitCode, 0) << close.err;
    bool closed = false;
    for (int attempt = 0; attempt < 50 && !closed; ++attempt)
        for (const auto& t : rows(pellora({"--json", "closed"}))) closed = closed || t["trade"] == trade;
    EXPECT_TRUE(closed);
    Result bars = pellora({"--json", "history", "EUR/USD", "--timeframe", "m1", "--max", "60"});
    ASSERT_EQ(bars.exitCode, 0) << bars.err;
    EXPECT_GT(rows(bars).size(), 0u);
    EXPECT_LE(rows(bars).size(), 60u);
}

// An entry order with a stop and a limit waits in the orders table, takes a new
// rate and is cancelled; a market sell, the messages, the statement address and
// the history in CSV come from the same dealer.
TEST_F(PelloraCliAgainstDealer, EntryOrdersAreListedEditedAndCancelled) {
    double bid = 0;
    for (const auto& o : rows(pellora({"--json", "offers"})))
        if (o["symbol"] == "EUR/USD") bid = o["bid"].get<double>();
    ASSERT_GT(bid, 0);
    auto text = [](double v) {
        char buf[32];
        std::snprintf(buf, sizeof buf, "%.5f", v);
        return std::string(buf);
    };
    const double rate = bid + 0.0100;  // a sell entry well above the market waits
    Result sell = pellora({"--json", "sell", "EUR/USD", "1000", "--account", "01002", "--rate", text(rate), "--stop",
                           text(rate + 0.0050), "--limit", text(rate - 0.0050)});
    ASSERT_EQ(sell.exitCode, 0) << sell.err;
    const std::string order = rows(sell).at(0)["order"];
    auto orderRate = [&]() -> double {
        Result orders = pellora({"--json", "orders"});
        EXPECT_EQ(orders.exitCode, 0) << orders.err;
        for (const auto& o : rows(orders))
            if (o["order"] == order) return o["rate"].get<double>();
        return 0;
    };
    EXPECT_NEAR(orderRate(), rate, 1e-9);

    Result edit = pellora({"edit", order, "--rate", text(rate + 0.0020)});
    ASSERT_EQ(edit.exitCode, 0) << edit.err;
    double edited = 0;
    for (int attempt = 0; attempt < 50 && std::abs(edited - (rate + 0.0020)) > 1e-9; ++attempt) edited = orderRate();
    EXPECT_NEAR(edited, rate + 0.0020, 1e-9);

    Result cancel = pellora({"cancel", order});
    ASSERT_EQ(cancel.exitCode, 0) << cancel.err;
    double left = -1;
    for (int attempt = 0; attempt < 50 && left != 0; ++attempt) left = orderRate();
    EXPECT_EQ(left, 0) << "order " << order << " is still waiting";

    Result market = pellora({"--json", "sell", "EUR/USD", "1000", "--account", "01002"});
    EXPECT_EQ(market.exitCode, 0) << market.err;
    Result messages = pellora({"--json", "messages"});
    EXPECT_EQ(messages.exitCode, 0) << messages.err;
    Result report = pellora({"report"});
    ASSERT_EQ(report.exitCode, 0) << report.err;
    EXPECT_EQ(report.out.rfind("http://", 0), 0u) << report.out;
    Result csv = pellora({"history", "EUR/USD", "--timeframe", "m1", "--max", "10", "--csv"});
    ASSERT_EQ(csv.exitCode, 0) << csv.err;
    EXPECT_NE(csv.out.find(','), std::string::npos) << csv.out;
}

}  // namespace
