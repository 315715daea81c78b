#pragma once
// The HTTP CONNECT exchange that opens a tunnel through a proxy: the request, and the
// reading and judging of the proxy's answer.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

#include <asio.hpp>

#include "status.h"

namespace merrow {
namespace detail {

// The proxy's answer head (status line and headers) may not be longer than this.
constexpr std::size_t kMaxProxyAnswerHead = 16 * 1024;

std::string base64Encode(const std::string& data);

// "CONNECT host:port HTTP/1.1" with Host, and Proxy-Authorization: Basic when `user`
// is not empty. `host` must already be a checked host name or IP literal.
std::string buildConnectRequest(const std::string& host, uint16_t port, const std::string& user,
                                const std::string& password);

// Where the answer head in `data` ends, just past its empty line, or npos. Lines end
// in CRLF or, leniently, a bare LF.
std::size_t findAnswerHeadEnd(const std::string& data);

// Judges a complete answer head: ok for status 200, otherwise a person's text carrying
// the status line ("The proxy refused the connection: HTTP/1.1 407 Proxy
// Authentication Required").
Status checkConnectAnswer(const std::string& head);

// Outcome of the exchange: an empty error means the tunnel is open.
using ProxyHandler = std::function<void(const std::string& error, bool refused)>;

// Writes `request` on the connected socket and reads the answer head without reading
// past it, so bytes the proxy relays right after it stay in the socket for the stream.
// `proxyName` ("the proxy host:port") words the errors. The socket must outlive the
// exchange; the caller bounds it in time by closing the socket. The handler runs
// once, on the socket's executor.
void asyncProxyConnect(asio::ip::tcp::socket& socket, std::string request, std::string proxyName,
                       ProxyHandler handler);

} // namespace detail
} // namespace merrow
