// The pellora-dealer executable as a separate process: the ready line, a login, a
// change made through the control socket, kill -9, a restart that keeps the stored
// state and the certificates, SIGTERM with the shutdown notice and exit 0, and the
// exit code of a bad configuration.

#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <fstream>
#include <map>
#include <random>
#include <regex>
#include <sstream>
#include <string>

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include "dealer_test_client.h"

namespace {

using pellora::dealer::testing::Client;
using pellora::dealer::testing::Got;
using pellora::dealer::testing::LoginArgs;

std::vector<std::string> lines(const std::string& t) { return pellora::dealer::testing::splitText(t, '\n'); }
std::vector<std::string> fields(const std::string& l) { return pellora::dealer::testing::splitText(l, ';'); }
using Fx = merrow::IFixDefs;

struct Process {
    pid_t pid = -1;
    int out = -1;  // the child's stdout
    int err = -1;  // the child's stderr
};

Process spawn(const std::vector<std::string>& args) {
    int outPipe[2], errPipe[2];
    EXPECT_EQ(::pipe(outPipe), 0);
    EXPECT_EQ(::pipe(errPipe), 0);
    Process p;
    p.pid = ::fork();
    if (p.pid == 0) {
        ::dup2(outPipe[1], 1);
        ::dup2(errPipe[1], 2);
        ::close(outPipe[0]);
        ::close(errPipe[0]);
        std::vector<char*> argv;
        for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        ::execv(PELLORA_DEALER_EXE, argv.data());
        ::_exit(127);
    }
    ::close(outPipe[1]);
    ::close(errPipe[1]);
    p.out = outPipe[0];
    p.err = errPipe[0];
    return p;
}

// One line of fd, waiting at most 60 s.
std::string readLine(int fd) {
    std::string line;
    char c;
    for (;;) {
        pollfd pfd{fd, POLLIN, 0};
        if (::poll(&pfd, 1, 60000) <= 0) return line;
        if (::read(fd, &c, 1) != 1 || c == '\n') return line;
        line += c;
    }
}

std::string readAll(int fd) {
    std::string s;
    char buf[4096];
    ssize_t n;
    while ((n = ::read(fd, buf, sizeof buf)) > 0) s.append(buf, static_cast<size_t>(n));
    return s;
}

int waitExit(pid_t pid) {
    int status = 0;
    for (int i = 0; i < 600; ++i) {
        if (::waitpid(pid, &status, WNOHANG) == pid) return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        ::usleep(100000);
    }
    ::kill(pid, SIGKILL);
    ::waitpid(pid, &status, 0);
    return -1;
}

std::string control(const std::string& path, const std::string& line) {
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::snprintf(addr.sun_path, sizeof addr.sun_path, "%s", path.c_str());
    if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        ::close(fd);
        return "<no control socket>";
    }
    const std::string req = line + "\n";
    (void)!::write(fd, req.data(), req.size());
    std::string answer = readLine(fd);
    ::close(fd);
    return answer;
}

std::string slurp(const std::string& path) {
    std::ifstream in(path);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

class DealerProcess {
public:
    explicit DealerProcess(const std::string& dir) : dir_(dir) {
        p_ = spawn({"pellora-dealer", "--data", dir, "--listen", "tcp://127.0.0.1:0", "--listen", "tls://127.0.0.1:0",
                    "--virtual-clock", "--seed", "5", "--control", "unix:" + dir + "/control.sock"});
        ready = readLine(p_.out);
        std::smatch m;
        if (std::regex_match(ready, m,
                             std::regex("pellora-dealer ready tcp://127\\.0\\.0\\.1:([0-9]+) "
                                        "tls://127\\.0\\.0\\.1:([0-9]+) ca=(.+) statements=http://127\\.0\\.0\\.1:[0-9]+/statement"))) {
            url = "tcp://127.0.0.1:" + m[1].str();
            tlsUrl = "tls://127.0.0.1:" + m[2].str();
            ca = m[3].str();
        }
    }
    ~DealerProcess() {
        if (p_.pid > 0 && ::kill(p_.pid, 0) == 0) {
            ::kill(p_.pid, SIGKILL);
            waitExit(p_.pid);
        }
        ::close(p_.out);
        ::close(p_.err);
    }
    int signal(int sig) {
        ::kill(p_.pid, sig);
        const int code = waitExit(p_.pid);
        p_.pid = -1;
        return code;
    }
    std::string controlSocket() const { return dir_ + "/control.sock"; }
    // Everything the dealer wrote on standard error, once it has exited.
    std::string errors() const { return readAll(p_.err); }

    std::string ready, url, tlsUrl, ca;

private:
    std::string dir_;
    Process p_;
};

TEST(DealerProcessTest, ReadyLoginKillRestartAndShutdown) {
    char tmpl[] = "/tmp/dealer-process-XXXXXX";
    const std::string dir = ::mkdtemp(tmpl);
    std::string caText;
    {
        DealerProcess d(dir);
        ASSERT_FALSE(d.url.empty()) << "ready line: " << d.ready;
        EXPECT_EQ(d.ca, dir + "/ca.pem");
        caText = slurp(d.ca);
        EXPECT_NE(caText.find("BEGIN CERTIFICATE"), std::string::npos);
        merrow::ConnectionManagerEx::setCAInfo(d.ca.c_str());
        Client overTls(d.tlsUrl);
        ASSERT_EQ(overTls.login(LoginArgs()), "");
        Client c(d.url);
        ASSERT_EQ(c.login(LoginArgs()), "");
        EXPECT_EQ(c.session()->getTraderID(), 1001);
        EXPECT_EQ(control(d.controlSocket(), "message demo Kept|Before the kill"), "ok");
        EXPECT_NE(c.command(7).find("Before the kill"), std::string::npos);
        EXPECT_EQ(d.signal(SIGKILL), 128 + SIGKILL);
    }
    DealerProcess d(dir);
    ASSERT_FALSE(d.url.empty()) << "ready line: " << d.ready;
    EXPECT_EQ(slurp(d.ca), caText);  // the certificates are reused
    Client c(d.url);
    ASSERT_EQ(c.login(LoginArgs()), "");
    EXPECT_NE(c.command(7).find("Before the kill"), std::string::npos);
    EXPECT_EQ(d.signal(SIGTERM), 0);
    EXPECT_TRUE(c.statuses().waitCode(Fx::STATUSCODE_SHUTDOWN));
}

TEST(DealerProcessTest, TheDealersOwnLogGoesToStandardError) {
    char tmpl[] = "/tmp/dealer-process-XXXXXX";
    const std::string dir = ::mkdtemp(tmpl);
    DealerProcess d(dir);
    ASSERT_FALSE(d.url.empty()) << "ready line: " << d.ready;
    {
        Client c(d.url);
        ASSERT_EQ(c.login(LoginArgs()), "");
        const std::string id = c.session()->getSessionID();
        EXPECT_EQ(d.signal(SIGTERM), 0);
        const std::string err = d.errors();
        // The dealer's line (not only the transport's), with a prefix of the session ID only.
        EXPECT_NE(err.find("pellora-dealer: logged on demo session " + id.substr(0, 8) + "..."), std::string::npos)
            << err;
        EXPECT_EQ(err.find(id), std::string::npos) << err;
    }
}

TEST(DealerProcessTest, BadConfigurationExitsTwoNamingTheField) {
    char tmpl[] = "/tmp/dealer-process-XXXXXX";
    const std::string dir = ::mkdtemp(tmpl);
    const std::string file = dir + "/world.json";
    std::ofstream(file) << "{\"station\": {\"version\": 5}}";
    Process p = spawn({"pellora-dealer", "--config", file, "--data", dir + "/data"});
    const std::string err = readAll(p.err);
    EXPECT_EQ(waitExit(p.pid), 2);
    EXPECT_NE(err.find(file), std::string::npos) << err;
    EXPECT_NE(err.find("station"), std::string::npos) << err;
    ::close(p.out);
    ::close(p.err);

    Process q = spawn({"pellora-dealer", "--tick-rate", "fast"});
    const std::string usage = readAll(q.err);
    EXPECT_EQ(waitExit(q.pid), 2);
    EXPECT_NE(usage.find("--tick-rate"), std::string::npos) << usage;
    ::close(q.out);
    ::close(q.err);
}

TEST(DealerProcessTest, ASecondDealerOnTheSameDataFolderExitsTwo) {
    char tmpl[] = "/tmp/dealer-process-XXXXXX";
    const std::string dir = ::mkdtemp(tmpl);
    DealerProcess first(dir);
    ASSERT_FALSE(first.url.empty()) << "ready line: " << first.ready;
    Process p = spawn({"pellora-dealer", "--data", dir, "--listen", "tcp://127.0.0.1:0"});
    const std::string err = readAll(p.err);
    EXPECT_EQ(waitExit(p.pid), 2);
    EXPECT_NE(err.find("'" + dir + "' is in use by another pellora-dealer"), std::string::npos) << err;
    ::close(p.out);
    ::close(p.err);
    Client c(first.url);  // the first one is untouched
    EXPECT_EQ(c.login(LoginArgs()), "");
}

// Every order the dealer acknowledged is in its state after a SIGKILL at a random
// point of a stream of orders, none twice; orders sent just before the kill are there
// at most once, also when sent again under their request IDs after the restart.
TEST(DealerProcessTest, AcknowledgedOrdersSurviveSigkill) {
    char tmpl[] = "/tmp/dealer-durable-XXXXXX";
    const std::string dir = ::mkdtemp(tmpl);
    constexpr int kOrders = 2000, kKills = 4;
    std::mt19937 rng(20260105);
    std::map<std::string, std::string> acked;  // request ID -> its answer
    std::vector<std::string> unsure;          // sent, then the dealer was killed
    const std::vector<std::pair<std::string, std::string>> order = {
        {"Stage", "O"}, {"OfferID", "1"}, {"AcctID", "01001"}, {"BuySell", "B"}, {"Quantity", "1000"}};
    int sent = 0;
    for (int round = 0;; ++round) {
        DealerProcess d(dir);
        ASSERT_FALSE(d.url.empty()) << "ready line: " << d.ready;
        Client c(d.url);
        ASSERT_EQ(c.login(LoginArgs()), "");
        // Resent, an unsure order is answered as before or executed now: once either way.
        for (const std::string& id : unsure) {
            Got g;
            ASSERT_TRUE(c.exchange(c.requestMessage(id, 34, order), id, g)) << id;
            ASSERT_EQ(lines(g.das)[0], "0") << g.das;
        }
        unsure.clear();
        std::map<std::string, int> byRequest;
        for (const std::string& line : lines(c.command(44, {{"AcctID", "01001"}})))
            if (line != "0") ++byRequest[fields(line).size() > 23 ? fields(line)[23] : std::string()];
        for (const auto& [id, answer] : acked)
            ASSERT_EQ(byRequest[id], 1) << "acknowledged order " << id << " (" << answer << ") after round " << round;
        for (const auto& [id, n] : byRequest) ASSERT_LE(n, 1) << id;
        for (const auto& [id, n] : byRequest)
            if (!acked.count(id)) acked[id] = "(executed before the kill)";
        if (sent >= kOrders) break;
        const int until = round < kKills ? std::min(kOrders, sent + 100 + static_cast<int>(rng() % 500)) : kOrders;
        for (; sent < until; ++sent) {
            const std::string id = "durable-" + std::to_string(sent);
            Got g;
            ASSERT_TRUE(c.exchange(c.requestMessage(id, 34, order), id, g)) << id;
            ASSERT_EQ(lines(g.das)[0], "0") << g.das;
            acked[id] = g.das;
        }
        if (round >= kKills) continue;
        // A few more leave without waiting, and the dealer dies under them.
        for (int k = 1 + static_cast<int>(rng() % 4); k > 0 && sent < kOrders; --k, ++sent) {
            const std::string id = "durable-" + std::to_string(sent);
            merrow::IMessage* m = c.requestMessage(id, 34, order);
            c.session()->send(m);
            merrow::ConnectionManagerEx::freeObject(m);
            unsure.push_back(id);
        }
        EXPECT_EQ(d.signal(SIGKILL), 128 + SIGKILL);
    }
    EXPECT_GE(acked.size(), static_cast<size_t>(kOrders - 4 * kKills));
}

} // namespace
