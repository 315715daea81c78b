#include "control.h"

#include <cerrno>
#include <cstring>
#include <map>
#include <sstream>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace pellora::dealer {

namespace {

bool readNumber(const std::string& s, double& out) {
    if (s.empty()) return false;
    char* end = nullptr;
    errno = 0;
    out = std::strtod(s.c_str(), &end);
    return errno == 0 && end && *end == '\0';
}

std::string counted(size_t n) { return "ok " + std::to_string(n); }

} // namespace

std::string runControlCommand(Dealer& d, const std::string& rawLine) {
    std::string line = rawLine;
    while (!line.empty() && (line.back() == '\r' || line.back() == '\n' || line.back() == ' ')) line.pop_back();
    std::istringstream in(line);
    std::string cmd, a, b;
    in >> cmd;
    in >> a;
    const std::string target = a == "all" ? std::string() : a;
    auto needTarget = [&]() { return a.empty(); };
    if (cmd == "cut") return counted(d.cut(target));
    if (cmd == "cut-prices") return counted(d.cutPrices(target));
    if (cmd == "shutdown-notice") return counted(d.shutdownNotice(target));
    if (cmd == "logout" || cmd == "expire" || cmd == "relogin") {
        if (needTarget()) return "error " + cmd + " needs a user, a session ID or 'all'";
        if (cmd == "logout") return counted(d.logout(target));
        if (cmd == "expire") return counted(d.expire(target));
        return counted(d.forceRelogin(target));
    }
    if (cmd == "price") {
        in >> b;
        double bid = 0;
        if (a.empty() || !readNumber(b, bid)) return "error usage: price OFFER BID";
        Status s = d.setPrice(a, bid);
        return s.isOk() ? "ok" : "error " + s.text();
    }
    if (cmd == "step") {
        double ms = 0;
        if (!readNumber(a, ms) || ms < 0 || ms > 1e13) return "error usage: step MS";
        Status s = d.stepClock(static_cast<UnixMs>(ms));
        return s.isOk() ? "ok " + std::to_string(d.now()) : "error " + s.text();
    }
    if (cmd == "trading-status" || cmd == "subscription") {
        in >> b;
        if (a.empty() || b.empty()) return "error usage: " + cmd + " OFFER STATUS";
        Status s = cmd == "trading-status" ? d.setTradingStatus(a, b) : d.setSubscriptionStatus(a, b);
        return s.isOk() ? "ok" : "error " + s.text();
    }
    if (cmd == "message") {
        std::string rest;
        std::getline(in, rest);
        if (!rest.empty() && rest[0] == ' ') rest.erase(0, 1);
        if (a.empty() || rest.empty()) return "error usage: message USER SUBJECT|TEXT";
        const size_t bar = rest.find('|');
        const std::string subject = bar == std::string::npos ? rest : rest.substr(0, bar);
        const std::string text = bar == std::string::npos ? rest : rest.substr(bar + 1);
        Status s = d.sendMessage(a, subject, text);
        return s.isOk() ? "ok" : "error " + s.text();
    }
    if (cmd == "rollover") {
        Status s = d.stepToRollover();
        return s.isOk() ? "ok " + std::to_string(d.now()) : "error " + s.text();
    }
    if (cmd == "margin-call") {
        if (a.empty()) return "error usage: margin-call ACCOUNT";
        Status s = d.raiseMarginCall(a);
        return s.isOk() ? "ok" : "error " + s.text();
    }
    if (cmd == "stop-prices") {
        d.stopPrices();
        return "ok";
    }
    if (cmd == "resume-prices") {
        d.resumePrices();
        return "ok";
    }
    if (cmd == "stats") {
        DealerStats st = d.stats();
        return "ok sessions=" + std::to_string(st.sessions) + " queued=" + std::to_string(st.queuedFrames) +
               " ticks=" + std::to_string(st.ticksSent) + " orders=" + std::to_string(st.ordersExecuted);
    }
    if (cmd.empty()) return "error empty command";
    return "error unknown command '" + cmd + "'";
}

Status ControlSocket::start(const std::string& path) {
    sockaddr_un addr{};
    if (path.empty() || path.size() >= sizeof addr.sun_path) return Status::error("--control: the socket path is too long");
    if (::pipe2(wakePipe_, O_CLOEXEC) != 0) return Status::error("--control: cannot create a pipe");
    listenFd_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (listenFd_ < 0) return Status::error("--control: cannot create a socket");
    addr.sun_family = AF_UNIX;
    std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
    // Only a stale socket is replaced: any other file at the path is someone's data,
    // and a socket that answers belongs to a running dealer.
    struct stat st {};
    if (::lstat(path.c_str(), &st) == 0) {
        if (!S_ISSOCK(st.st_mode)) return Status::error("--control: '" + path + "' exists and is not a socket");
        const int probe = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        const bool live = probe >= 0 && ::connect(probe, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
        if (probe >= 0) ::close(probe);
        if (live) return Status::error("--control: '" + path + "' is the socket of a running process");
        ::unlink(path.c_str());
    }
    if (::bind(listenFd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0)
        return Status::error("--control: cannot listen on '" + path + "': " + std::strerror(errno));
    path_ = path;
    // Owner-only, whatever the umask; a connection that still slips in before the
    // chmod meets the peer check at accept.
    if (::chmod(path.c_str(), 0600) != 0 || ::listen(listenFd_, 8) != 0)
        return Status::error("--control: cannot listen on '" + path + "': " + std::strerror(errno));
    thread_ = std::thread([this] { run(); });
    return Status::ok();
}

void ControlSocket::stop() {
    if (thread_.joinable()) {
        const char c = 'x';
        (void)!::write(wakePipe_[1], &c, 1);
        thread_.join();
    }
    for (int* fd : {&listenFd_, &wakePipe_[0], &wakePipe_[1]})
        if (*fd >= 0) {
            ::close(*fd);
            *fd = -1;
        }
    if (!path_.empty()) ::unlink(path_.c_str());
    path_.clear();
}

void ControlSocket::run() {
    std::map<int, std::string> clients;  // fd → unfinished line
    constexpr size_t kMaxLine = 64 * 1024;
    for (;;) {
        std::vector<pollfd> fds{{wakePipe_[0], POLLIN, 0}, {listenFd_, POLLIN, 0}};
        for (const auto& c : clients) fds.push_back({c.first, POLLIN, 0});
        if (::poll(fds.data(), fds.size(), -1) < 0) {
            if (errno == EINTR) continue;
            break;
        }
        if (fds[0].revents) break;
        if (fds[1].revents & POLLIN) {
            const int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
            if (fd >= 0) {
                ucred peer{};
                socklen_t len = sizeof peer;
                if (::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &len) == 0 && peer.uid == allowedUid_.load()) {
                    clients[fd];
                } else {
                    const char refused[] = "error permission denied\n";
                    (void)::send(fd, refused, sizeof refused - 1, MSG_NOSIGNAL | MSG_DONTWAIT);
                    ::close(fd);
                }
            }
        }
        for (size_t i = 2; i < fds.size(); ++i) {
            if (!fds[i].revents) continue;
            const int fd = fds[i].fd;
            char buf[4096];
            const ssize_t n = ::read(fd, buf, sizeof buf);
            std::string& pending = clients[fd];
            if (n <= 0) {
                ::close(fd);
                clients.erase(fd);
                continue;
            }
            pending.append(buf, static_cast<size_t>(n));
            size_t nl;
            bool drop = false;
            while ((nl = pending.find('\n')) != std::string::npos) {
                std::string answer = runControlCommand(dealer_, pending.substr(0, nl)) + "\n";
                pending.erase(0, nl + 1);
                if (::send(fd, answer.data(), answer.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(answer.size()))
                    drop = true;
            }
            if (pending.size() > kMaxLine) drop = true;
            if (drop) {
                ::close(fd);
                clients.erase(fd);
            }
        }
    }
    for (const auto& c : clients) ::close(c.first);
}

} // namespace pellora::dealer
