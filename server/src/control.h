#pragma once
// The control commands of a running dealer, one per line, one answer per line:
//   cut [TARGET]            drop connections without a Logout (clients resume)
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
// ControlSocket serves them on a unix-domain stream socket.
// [Threading] runControlCommand: any thread. ControlSocket runs one thread of its own;
// stop() (or the destructor) joins it and removes the socket file.

#include <atomic>
#include <string>
#include <thread>

#include "dealer.h"

namespace pellora::dealer {

std::string runControlCommand(Dealer& dealer, const std::string& line);

class ControlSocket {
public:
    explicit ControlSocket(Dealer& dealer) : dealer_(dealer) {}
    ~ControlSocket() { stop(); }
    ControlSocket(const ControlSocket&) = delete;
    ControlSocket& operator=(const ControlSocket&) = delete;

    // Listens on the path (an existing socket file there is replaced).
    Status start(const std::string& path);
    void stop();

private:
    void run();

    Dealer& dealer_;
    std::string path_;
    int listenFd_ = -1;
    int wakePipe_[2] = {-1, -1};
    std::thread thread_;
};

} // namespace pellora::dealer
