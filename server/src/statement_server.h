#pragma once
// The account-statement service behind "TRADER_REPORTS_URL": an HTTP server (one I/O
// thread of its own) that answers GET requests of the address clients build for a
// report ("?S=<session ID>&cn=...&account=<ID>&from=<M/D/YYYY|so>&till=<M/D/YYYY|now>
// ...") with an HTML page, for a session ID that is live; anything else gets 403
// with no data. What a page holds is the dealer's business: the server only asks.
//
// [Threading] start()/stop() from one thread; the callback runs on the server's
// thread and must not throw (an exception answers 500).

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>

#include "status.h"

namespace pellora::dealer {

struct StatementQuery {
    std::string sessionId;
    std::string account;  // empty: every account of the session's user
    std::string from;     // as given: "so", "M/D/YYYY" or empty
    std::string till;     // "now", "M/D/YYYY" or empty
};

class StatementServer {
public:
    // The page of a query, or none when the query may not see anything (403).
    using Render = std::function<std::optional<std::string>(const StatementQuery&)>;

    explicit StatementServer(Render render);
    ~StatementServer();
    StatementServer(const StatementServer&) = delete;
    StatementServer& operator=(const StatementServer&) = delete;

    // Listens on host:port (port 0 takes a free one) and starts serving.
    Status start(const std::string& host, uint16_t port);
    void stop();
    uint16_t port() const { return port_; }
    // "http://<host>:<port>/statement", the address the reports property names.
    std::string url() const;

    // The query of a request target; false when it is not the statement path.
    static bool parseTarget(const std::string& target, StatementQuery& out);

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
    std::string host_;
    uint16_t port_ = 0;
};

} // namespace pellora::dealer
