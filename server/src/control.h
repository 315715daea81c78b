#pragma once
// The control commands of a running dealer, one per line, one answer per line:
//   cut [TARGET]            drop connections without a Logout (clients resume)
//   cut-prices [TARGET]     the same for price-terminal sessions only
//   logout TARGET           end sessions with the normal reason
//   expire TARGET           end sessions as expired
//   shutdown-notice [TARGET]
//   relogin TARGET          force a relogin
//   price OFFER BID         set an instrument's bid
//   step MS                 move the virtual clock forward
//   trading-status OFFER STATUS
//   subscription OFFER T|D|V
//   message USER SUBJECT|TEXT...   (the subject ends at the first '|')
//   rollover                step the virtual clock to the next daily roll-over
//   margin-call ACCOUNT     close the account's trades, largest loss first, until its margin is met
//   stop-prices, resume-prices, stats (stats counts executed orders)
// TARGET is a user name, a session ID or "all". Answers begin with "ok" or "error ".
//
// ControlSocket serves them on a unix-domain stream socket that only its owner can
// open, to connections of its own user only.
// [Threading] runControlCommand: any thread. ControlSocket runs one thread of its own;
// stop() (or the destructor) joins it and removes the socket file.

#include <atomic>
#include <string>
#include <thread>

#include <sys/types.h>
#include <unistd.h>

#include "dealer.h"

namespace pellora::dealer {

std::string runControlCommand(Dealer& dealer, const std::string& line);

class ControlSocket {
public:
    explicit ControlSocket(Dealer& dealer) : dealer_(dealer) {}
    ~ControlSocket() { stop(); }
    ControlSocket(const ControlSocket&) = delete;
    ControlSocket& operator=(const ControlSocket&) = delete;

    // Listens on the path, owner-only. A stale socket there is replaced; any other
    // file, or a socket that answers, is refused.
    Status start(const std::string& path);
    void stop();
    // Connections of other users are refused; tests name another user to see it.
    void setAllowedUid(uid_t uid) { allowedUid_.store(uid); }

private:
    void run();

    Dealer& dealer_;
    std::string path_;
    std::atomic<uid_t> allowedUid_{::geteuid()};
    int listenFd_ = -1;
    int wakePipe_[2] = {-1, -1};
    std::thread thread_;
};

} // namespace pellora::dealer
