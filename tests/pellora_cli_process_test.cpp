// The pellora tool as a separate process: usage errors, bad numbers, dates and
// timeframes, config files, a dealer that is not running and one that refuses
// the login. Each ends with its exit code and one line on stderr, never a hang
// and never a half-printed table on stdout.

#include <gtest/gtest.h>

#include <chrono>
#include <algorithm>
#include <cctype>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <nlohmann/json.hpp>

namespace {

struct Result {
    int exitCode = -1;
    std::string out, err;
    bool hung = false;
};

// A running pellora, started with a clean environment (HOME in a temporary folder)
// plus env. Its output is read as it comes, so a test can act on what it printed.
class Tool {
public:
    Tool(const std::vector<std::string>& args, const std::vector<std::string>& env = {}) {
        int outPipe[2], errPipe[2];
        if (::pipe(outPipe) != 0 || ::pipe(errPipe) != 0) return;
        pid_ = ::fork();
        if (pid_ == 0) {
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
        fds_[0] = {outPipe[0], POLLIN, 0};
        fds_[1] = {errPipe[0], POLLIN, 0};
    }
    ~Tool() {
        for (auto& fd : fds_)
            if (fd.fd >= 0) ::close(fd.fd);
        if (pid_ > 0 && !reaped_) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
    }
    Tool(const Tool&) = delete;
    Tool& operator=(const Tool&) = delete;

    // Reads until done(stdout so far) holds (true), or the output ends or the time
    // is up (false).
    bool readUntil(const std::function<bool(const std::string&)>& done, std::chrono::seconds limit) {
        const auto deadline = std::chrono::steady_clock::now() + limit;
        while (!done(r_.out)) {
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0 || (fds_[0].fd < 0 && fds_[1].fd < 0)) return false;
            if (::poll(fds_, 2, static_cast<int>(left.count())) <= 0) continue;
            for (int i = 0; i < 2; ++i) {
                if (fds_[i].fd < 0 || !(fds_[i].revents & (POLLIN | POLLHUP))) continue;
                char buf[4096];
                const ssize_t n = ::read(fds_[i].fd, buf, sizeof buf);
                if (n <= 0) {
                    ::close(fds_[i].fd);
                    fds_[i].fd = -1;
                } else {
                    (i == 0 ? r_.out : r_.err).append(buf, static_cast<size_t>(n));
                }
            }
        }
        return true;
    }
    void signal(int sig) { ::kill(pid_, sig); }
    // Waits until the process has stopped itself (SIGSTOP).
    bool waitStopped(std::chrono::seconds limit) {
        const auto deadline = std::chrono::steady_clock::now() + limit;
        while (std::chrono::steady_clock::now() < deadline) {
            int status = 0;
            const pid_t p = ::waitpid(pid_, &status, WNOHANG | WUNTRACED);
            if (p == pid_ && WIFSTOPPED(status)) return true;
            if (p == pid_) {
                reaped_ = true;
                return false;
            }
            ::poll(nullptr, 0, 10);
        }
        return false;
    }
    // Reads everything until the process ends; one that does not end in time is killed.
    Result finish(std::chrono::seconds limit = std::chrono::seconds(60)) {
        r_.hung = !readUntil([](const std::string&) { return false; }, limit) &&
                  (fds_[0].fd >= 0 || fds_[1].fd >= 0);
        if (r_.hung) ::kill(pid_, SIGKILL);
        int status = 0;
        if (!reaped_) ::waitpid(pid_, &status, 0);
        reaped_ = true;
        r_.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        return r_;
    }
    const std::string& out() const { return r_.out; }

private:
    pid_t pid_ = -1;
    bool reaped_ = false;
    pollfd fds_[2] = {{-1, 0, 0}, {-1, 0, 0}};
    Result r_;
};

Result run(const std::vector<std::string>& args, const std::vector<std::string>& env = {},
           std::chrono::seconds limit = std::chrono::seconds(60)) {
    return Tool(args, env).finish(limit);
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

// The output up to its last line end: what a reader of a pipe may act on.
std::string wholeLines(const std::string& out) { return out.substr(0, out.rfind('\n') + 1); }

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

// The options a --help text lists after "Options:", --help itself left out.
std::vector<std::string> helpOptions(const std::string& help) {
    std::vector<std::string> out;
    std::istringstream in(help.substr(std::min(help.find("Options:"), help.size())));
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind("Subcommands:", 0) == 0) break;
        for (size_t at = line.find("--"); at != std::string::npos; at = line.find("--", at + 2)) {
            size_t end = at + 2;
            while (end < line.size() && (std::isalnum(static_cast<unsigned char>(line[end])) || line[end] == '-')) ++end;
            const std::string name = line.substr(at, end - at);
            if (name != "--help" && name.size() > 2) out.push_back(name);
            break;  // the option named first on its line; later ones are in its text
        }
    }
    return out;
}

// docs/cli.md has a section for each command --help lists, naming each of its
// options, and names every global option.
TEST(PelloraCliProcess, TheManualCoversEveryCommandAndOption) {
    std::ifstream in(PELLORA_CLI_DOC);
    std::stringstream text;
    text << in.rdbuf();
    const std::string doc = text.str();
    ASSERT_FALSE(doc.empty()) << PELLORA_CLI_DOC;
    const Result help = run({"--help"});
    ASSERT_EQ(help.exitCode, 0);
    for (const std::string& option : helpOptions(help.out))
        EXPECT_NE(doc.find("`" + option), std::string::npos) << option;
    std::istringstream commands(help.out.substr(help.out.find("Subcommands:")));
    std::string line;
    std::getline(commands, line);
    int seen = 0;
    while (std::getline(commands, line)) {
        std::istringstream words(line);
        std::string command;
        if (!(words >> command)) continue;
        ++seen;
        SCOPED_TRACE(command);
        // "### buy, sell SYMBOL ...": the section runs to the next heading.
        size_t at = std::string::npos;
        for (const std::string& heading : {"\n### " + command + " ", "\n### " + command + "\n",
                                           "\n### " + command + ",", ", " + command + " "})
            at = std::min(at, doc.find(heading));
        ASSERT_NE(at, std::string::npos) << "no section for " << command;
        const std::string section = doc.substr(at, doc.find("\n### ", at + 1) - at);
        EXPECT_NE(section.find("    pellora "), std::string::npos) << "no example";
        const Result commandHelp = run({command, "--help"});
        ASSERT_EQ(commandHelp.exitCode, 0);
        for (const std::string& option : helpOptions(commandHelp.out))
            EXPECT_NE(section.find(option), std::string::npos) << option;
    }
    EXPECT_EQ(seen, 15);
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
        {{"--timeout", "soon", "status"}, "'soon' is not a number of seconds"},
        {{"--nope", "status"}, "unexpected options: --nope"},
        {{"status", "extra"}, "unexpected arguments"},
        {{"offers", "--seconds", "5"}, "--seconds requires --watch"},
        {{"offers", "--watch", "--seconds", "-1"}, "'-1' is not a number of seconds"},
        {{"buy", "EUR/USD", "99999999999"}, "must be from 1 to 2147483647"},
        {{"buy", "EUR/USD", "1000", "--limit", "1e400"}, "rate '1e400' is not a number"},
        {{"buy", "EUR/USD", "1000", "--stop", "1.05", "--trailing", "2.5"}, "trailing step '2.5'"},
        {{"close"}, "trade is required"},
        {{"edit", "42", "--amount", "many"}, "amount 'many'"},
        {{"history", "EUR/USD", "--from", "yesterday"}, "date 'yesterday'"},
        {{"history", "EUR/USD", "--to", "2026-03-01T25:00"}, "date '2026-03-01T25:00'"},
        {{"history", "EUR/USD", "--max", "0"}, "--max must be from 1"},
        {{"history", "EUR/USD", "--max", "lots"}, "--max"},
        {{"report", "--from", "2026-13-01"}, "date '2026-13-01'"},
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

// A listener that never answers: the kernel completes the connection, nothing
// more comes. The login gives up after --timeout, the session is let go with its
// attempt still under way, and the process ends at once, over TCP and over TLS.
TEST(PelloraCliProcess, ASilentDealerEndsTheLoginAfterTheTimeout) {
    const int s = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(::bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    ASSERT_EQ(::listen(s, 16), 0);
    socklen_t len = sizeof a;
    ::getsockname(s, reinterpret_cast<sockaddr*>(&a), &len);
    const std::string address = "127.0.0.1:" + std::to_string(ntohs(a.sin_port));
    for (const char* scheme : {"tcp://", "tls://"}) {
        SCOPED_TRACE(scheme);
        const auto started = std::chrono::steady_clock::now();
        Result r = run({"--url", scheme + address, "--timeout", "1", "offers"}, kCredentials, std::chrono::seconds(30));
        EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(15));
        expectOneLineError(r, 2, "did not reach Connected within 1 s");
    }
    ::close(s);
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

// A pellora-dealer with the demo world in a temporary folder, on a free loopback
// port, with prices still (they move only by control commands) and a control socket.
struct Dealer {
    pid_t pid = -1;
    std::string dir, url, ca;
    std::string listen = "tcp://127.0.0.1:0";

    bool start() {
        char tmpl[] = "/tmp/pellora-cli-dealer.XXXXXX";
        if (!::mkdtemp(tmpl)) return false;
        dir = tmpl;
        int outPipe[2];
        if (::pipe(outPipe) != 0) return false;
        pid = ::fork();
        if (pid == 0) {
            ::dup2(outPipe[1], 1);
            const int devnull = ::open("/dev/null", O_WRONLY);
            ::dup2(devnull, 2);
            ::close(outPipe[0]);
            const std::string data = dir + "/data", control = "unix:" + controlSocket();
            ::execl(PELLORA_DEALER_EXE, PELLORA_DEALER_EXE, "--data", data.c_str(), "--listen", listen.c_str(),
                    "--tick-rate", "0", "--control", control.c_str(), static_cast<char*>(nullptr));
            ::_exit(127);
        }
        ::close(outPipe[1]);
        std::string line;
        char c;
        pollfd pfd{outPipe[0], POLLIN, 0};
        while (::poll(&pfd, 1, 60000) > 0 && ::read(outPipe[0], &c, 1) == 1 && c != '\n') line += c;
        ::close(outPipe[0]);
        std::istringstream in(line);
        std::string name, ready, word;
        in >> name >> ready >> url;
        while (in >> word)
            if (word.rfind("ca=", 0) == 0) ca = word.substr(3);
        return ready == "ready";
    }
    void stop(int sig = SIGTERM) {
        if (pid > 0) {
            ::kill(pid, sig);
            ::waitpid(pid, nullptr, 0);
            pid = -1;
        }
    }
    ~Dealer() {
        stop();
        if (!dir.empty()) std::system(("rm -rf '" + dir + "'").c_str());
    }
    std::string controlSocket() const { return dir + "/control.sock"; }
    // One control command; its one-line answer.
    std::string control(const std::string& line) const {
        const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un addr{};
        addr.sun_family = AF_UNIX;
        std::snprintf(addr.sun_path, sizeof addr.sun_path, "%s", controlSocket().c_str());
        if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
            ::close(fd);
            return "<no control socket>";
        }
        const std::string request = line + "\n";
        (void)!::send(fd, request.data(), request.size(), MSG_NOSIGNAL);
        std::string answer;
        char c;
        while (::read(fd, &c, 1) == 1 && c != '\n') answer += c;
        ::close(fd);
        return answer;
    }
};

std::string rateText(double v) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.5f", v);
    return buf;
}

// The suite's dealer, shared by its tests.
class PelloraCliAgainstDealer : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        dealer_ = new Dealer;
        ASSERT_TRUE(dealer_->start());
        url_ = dealer_->url;
    }
    static void TearDownTestSuite() {
        delete dealer_;
        dealer_ = nullptr;
    }
    static std::vector<std::string> withDealer(std::vector<std::string> args, const std::string& url = url_,
                                               const char* timeout = "20") {
        args.insert(args.begin(), {"--url", url, "--timeout", timeout});
        return args;
    }
    Result pellora(std::vector<std::string> args, const std::string& password = "demo") {
        return run(withDealer(std::move(args)), {"PELLORA_USER=demo", "PELLORA_PASSWORD=" + password});
    }
    static std::vector<nlohmann::json> rows(const Result& r) { return rows(r.out); }
    static std::vector<nlohmann::json> rows(const std::string& out) {
        std::vector<nlohmann::json> result;
        std::istringstream in(out);
        std::string line;
        while (std::getline(in, line)) result.push_back(nlohmann::json::parse(line));
        return result;
    }
    // The offer of a symbol in the dealer's offers table.
    nlohmann::json offer(const std::string& symbol) {
        for (const auto& o : rows(pellora({"--json", "offers"})))
            if (o["symbol"] == symbol) return o;
        return {};
    }

    static Dealer* dealer_;
    static std::string url_;
};
Dealer* PelloraCliAgainstDealer::dealer_ = nullptr;
std::string PelloraCliAgainstDealer::url_;

// Over TLS the process ends as cleanly as over TCP: OpenSSL's state outlives the
// transport's threads, so a sanitizer build finds nothing freed early or leaked
// and the exit code is the command's own, after a success and after a refusal.
TEST(PelloraCliProcess, CommandsOverTlsEndCleanly) {
    Dealer dealer;
    dealer.listen = "tls://127.0.0.1:0";
    ASSERT_TRUE(dealer.start());
    ASSERT_FALSE(dealer.ca.empty());
    const std::vector<std::string> base = {"--url", dealer.url, "--ca", dealer.ca, "--timeout", "20"};
    std::vector<std::string> offers = base;
    offers.insert(offers.end(), {"--json", "offers"});
    Result ok = run(offers, kCredentials);
    EXPECT_EQ(ok.exitCode, 0) << ok.err;
    EXPECT_EQ(ok.err, "");
    EXPECT_EQ(std::count(ok.out.begin(), ok.out.end(), '\n'), 14);

    std::vector<std::string> status = base;
    status.push_back("status");
    expectOneLineError(run(status, {"PELLORA_USER=demo", "PELLORA_PASSWORD=wrong"}), 1,
                       "Invalid user name or password.");
}

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
    expectOneLineError(pellora({"sell", "XXX/YYY", "1000", "--rate", "1.2"}), 1, "unknown symbol 'XXX/YYY'");
    // Unknown trades, orders and accounts are refused the same way.
    expectOneLineError(pellora({"close", "999999"}), 1, "no open trade '999999'");
    expectOneLineError(pellora({"edit", "999999", "--rate", "1.2"}), 1, "no waiting order '999999'");
    expectOneLineError(pellora({"cancel", "999999"}), 1, "no waiting order '999999'");
    expectOneLineError(pellora({"report", "--account", "99999"}), 1, "no account '99999'");
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

// A stop attached with --trailing is listed with its step and follows the market
// as the dealer moves the price: up behind a buy, down behind a sell.
TEST_F(PelloraCliAgainstDealer, TrailingStopsFollowTheMarket) {
    struct Case {
        const char* side;
        const char* symbol;
        double stopFromOpen, move;
    } cases[] = {
        {"buy", "GBP/USD", -0.0050, +0.0030},
        {"sell", "USD/CHF", +0.0050, -0.0030},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.side);
        const nlohmann::json o = offer(c.symbol);
        ASSERT_TRUE(o.is_object());
        const bool buy = std::string(c.side) == "buy";
        const double bid = o["bid"].get<double>();
        const double stop = (buy ? o["ask"].get<double>() : bid) + c.stopFromOpen;
        Result placed = pellora({"--json", c.side, c.symbol, "1000", "--account", "01001", "--stop", rateText(stop),
                                 "--trailing", "10"});
        ASSERT_EQ(placed.exitCode, 0) << placed.err;
        // The stop of the trade the order opened.
        auto stopOrder = [&]() -> nlohmann::json {
            Result orders = pellora({"--json", "orders"});
            EXPECT_EQ(orders.exitCode, 0) << orders.err;
            for (const auto& r : rows(orders))
                if (r["symbol"] == c.symbol && r["type"] == "S" && r["trade"] != "") return r;
            return {};
        };
        nlohmann::json s;
        for (int attempt = 0; attempt < 50 && !s.is_object(); ++attempt) s = stopOrder();
        ASSERT_TRUE(s.is_object()) << "order " << placed.out << " left no stop";
        EXPECT_EQ(s["trail"], 10);
        EXPECT_EQ(s["side"], buy ? "S" : "B");
        EXPECT_NEAR(s["rate"].get<double>(), stop, 1e-9);
        // 30 pips the trade's way: the stop follows by three steps of 10.
        ASSERT_EQ(dealer_->control("price " + o["offer"].get<std::string>() + " " + rateText(bid + c.move)), "ok");
        double rate = 0;
        for (int attempt = 0; attempt < 50 && std::abs(rate - (stop + c.move)) > 1e-9; ++attempt)
            rate = stopOrder().value("rate", 0.0);
        EXPECT_NEAR(rate, stop + c.move, 1e-9);
    }
}

// offers --watch prints the prices, then each change the dealer pushes, and ends
// cleanly on SIGINT or SIGTERM (exit 0, whole lines only) or after --seconds.
TEST_F(PelloraCliAgainstDealer, WatchPrintsPriceChangesUntilStopped) {
    const nlohmann::json o = offer("AUD/USD");
    ASSERT_TRUE(o.is_object());
    double bid = o["bid"].get<double>();
    for (int sig : {SIGINT, SIGTERM}) {
        SCOPED_TRACE(sig);
        Tool watch(withDealer({"--json", "offers", "--watch", "--symbol", "AUD/USD"}), kCredentials);
        ASSERT_TRUE(watch.readUntil([](const std::string& out) { return !wholeLines(out).empty(); },
                                    std::chrono::seconds(30)));
        bid += 0.0007;
        ASSERT_EQ(dealer_->control("price " + o["offer"].get<std::string>() + " " + rateText(bid)), "ok");
        const bool moved = watch.readUntil(
            [&](const std::string& out) {
                for (const auto& r : rows(wholeLines(out)))
                    if (std::abs(r["bid"].get<double>() - bid) < 1e-9) return true;
                return false;
            },
            std::chrono::seconds(30));
        EXPECT_TRUE(moved) << watch.out();
        watch.signal(sig);
        Result r = watch.finish(std::chrono::seconds(30));
        EXPECT_FALSE(r.hung);
        EXPECT_EQ(r.exitCode, 0) << r.err;
        EXPECT_EQ(r.err, "");
        ASSERT_FALSE(r.out.empty());
        EXPECT_EQ(r.out.back(), '\n');
        for (const auto& row : rows(r)) EXPECT_EQ(row["symbol"], "AUD/USD");
    }
    // The table for people, piped, ends by itself after --seconds.
    Result table = pellora({"offers", "--watch", "--symbol", "AUD/USD", "--seconds", "0.5"});
    EXPECT_EQ(table.exitCode, 0) << table.err;
    EXPECT_EQ(table.out.rfind("symbol ", 0), 0u) << table.out;
    EXPECT_NE(table.out.find("\nAUD/USD "), std::string::npos) << table.out;
    EXPECT_EQ(table.out.back(), '\n');
}

// A dealer that goes away in the middle of a command: the command ends in bounded
// time with exit code 2 and one line, and stdout holds whole lines only.
TEST(PelloraCliProcess, ADealerThatStopsMidCommandEndsItWithExitTwo) {
    struct Case {
        const char* what;
        std::vector<std::string> command;
        int dealerSignal;
        const char* words;
    } cases[] = {
        // Shut down: the dealer tells the session, which ends at once.
        {"watch, dealer shut down", {"--json", "offers", "--watch"}, SIGTERM, "was lost"},
        // Killed: the connection drops and reconnecting fails for the whole timeout.
        {"watch, dealer killed", {"offers", "--watch"}, SIGKILL, "was lost"},
        // Killed between the login and the request (the tool stops itself there).
        {"history, dealer killed", {"history", "EUR/USD", "--max", "100"}, SIGKILL, "tcp://127.0.0.1:"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Dealer dealer;
        ASSERT_TRUE(dealer.start());
        std::vector<std::string> args = {"--url", dealer.url, "--timeout", "3"};
        args.insert(args.end(), c.command.begin(), c.command.end());
        std::vector<std::string> env = kCredentials;
        const bool watch = c.command.back() == "--watch";
        if (!watch) env.push_back("PELLORA_TEST_STOP_AFTER_LOGIN=1");
        Tool tool(args, env);
        if (watch)
            ASSERT_TRUE(tool.readUntil([](const std::string& out) { return !wholeLines(out).empty(); },
                                       std::chrono::seconds(30)));
        else
            ASSERT_TRUE(tool.waitStopped(std::chrono::seconds(30)));
        dealer.stop(c.dealerSignal);
        tool.signal(SIGCONT);
        const auto started = std::chrono::steady_clock::now();
        Result r = tool.finish(std::chrono::seconds(60));
        EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(30));
        EXPECT_FALSE(r.hung);
        EXPECT_EQ(r.exitCode, 2) << r.err;
        EXPECT_EQ(r.out, wholeLines(r.out));
        if (!watch) {
            EXPECT_EQ(r.out, "");
        }
        ASSERT_FALSE(r.err.empty());
        EXPECT_EQ(r.err.find('\n'), r.err.size() - 1) << r.err;
        EXPECT_EQ(r.err.rfind("pellora: ", 0), 0u) << r.err;
        EXPECT_NE(r.err.find(c.words), std::string::npos) << r.err;
    }
}

}  // namespace
