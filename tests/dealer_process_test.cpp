// The pellora-dealer executable as a separate process: the ready line, a login, a
// change made through the control socket, kill -9, a restart that keeps the stored
// state and the certificates, SIGTERM with the shutdown notice and exit 0, and the
// exit code of a bad configuration.

#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <fstream>
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
using pellora::dealer::testing::LoginArgs;
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

} // namespace
