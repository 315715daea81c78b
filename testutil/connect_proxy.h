#pragma once
// A small HTTP CONNECT proxy on an ephemeral port of 127.0.0.1 for tests: it reads the
// request head, checks the optional authorization, then answers 200 and splices the
// tunnel, or refuses with 407 or a chosen status.
//
// [Threading] The proxy runs one asio thread of its own; port() and requests() may be
// called from any thread.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace testutil {

class ConnectProxy {
public:
    struct Options {
        // When set, a request must carry exactly this Proxy-Authorization value
        // ("Basic dXNlcjpwYXNz"), otherwise the answer is 407.
        std::string requiredAuthorization;
        // When non-zero, every request is answered with this status and closed.
        int refuseWith = 0;
        // When set, written instead of any answer; the connection then stays open.
        std::string rawAnswer;
        // Written in the same write as the 200 answer head, ahead of the target's bytes.
        std::string afterHeaders;
        // When set, every tunnel goes to this target whatever the request named.
        std::string routeHost;
        uint16_t routePort = 0;
    };

    // Listens at once; throws std::system_error when it cannot.
    explicit ConnectProxy(Options options);
    ConnectProxy();
    // Stops, closing every connection, and joins the thread.
    ~ConnectProxy();
    ConnectProxy(const ConnectProxy&) = delete;
    ConnectProxy& operator=(const ConnectProxy&) = delete;

    uint16_t port() const;
    // Every request head received so far, in arrival order.
    std::vector<std::string> requests() const;

    struct Impl;

private:
    std::unique_ptr<Impl> m_impl;
};

} // namespace testutil
