#pragma once
// An established byte stream: plain TCP, or TLS over TCP, possibly through an HTTP
// CONNECT proxy. The session layer reads and writes frames through this interface
// and never sees which kind it has.
//
// [Threading] Every operation is called on the stream's executor (the connection's
// strand); completion handlers run there too. One read and one write may be
// outstanding at a time.

#include <cstddef>
#include <functional>
#include <memory>
#include <string>

#include <asio.hpp>

namespace merrow {
namespace detail {

class ByteStream {
public:
    using Handler = std::function<void(const asio::error_code&, std::size_t)>;

    virtual ~ByteStream() = default;

    // Reads at least one byte into the buffer.
    virtual void asyncReadSome(asio::mutable_buffer buffer, Handler handler) = 0;
    // Writes every byte of the buffers before completing.
    virtual void asyncWrite(const std::vector<asio::const_buffer>& buffers, Handler handler) = 0;
    // Writes what the stream takes at once, without waiting: the bytes written, with
    // would_block when it took none. A stream that cannot (TLS: a record is written
    // whole or not at all) answers false from canWriteNow and gets only asyncWrite.
    virtual bool canWriteNow() const { return false; }
    virtual std::size_t writeNow(const std::vector<asio::const_buffer>& buffers, asio::error_code& ec)
    {
        (void)buffers;
        ec = asio::error::operation_not_supported;
        return 0;
    }
    // Closes at once; outstanding operations complete with an error.
    virtual void close() = 0;
    // The TCP socket beneath (options, peer address, abrupt reset).
    virtual asio::ip::tcp::socket& socket() = 0;
    virtual bool isTls() const = 0;
};

// Where and how a client connects. Empty proxyHost: direct.
struct ConnectOptions {
    std::string host;
    uint16_t port = 0;
    bool tls = false;
    std::string caFile;          // empty: the system's CA store
    std::string proxyHost;
    uint16_t proxyPort = 0;
    std::string proxyUser;       // empty: no Proxy-Authorization
    std::string proxyPassword;
    int timeoutMs = 180000;      // connect, proxy exchange and TLS handshake, each
};

// The outcome of a connect. On failure stream is null and error says why, written
// for a person ("The server certificate could not be verified: hostname mismatch.").
// refused distinguishes "reached but refused" (TLS verification, proxy said no)
// from "could not reach" (no route, connection refused, timeout).
struct ConnectResult {
    std::unique_ptr<ByteStream> stream;
    std::string error;
    bool refused = false;
};

using ConnectHandler = std::function<void(ConnectResult)>;

// Connects asynchronously; the handler runs once, on an executor of io. The stream's
// socket has a fresh strand of io as its executor (socket().get_executor()): its
// operations belong there. TCP_NODELAY is set.
void asyncConnect(asio::io_context& io, const ConnectOptions& options, ConnectHandler handler);

// The same on the connection's own strand: the socket is made on `strand` and the
// handler and every completion of the stream run there. Handlers reach the stream as
// std::function, so an executor bound to them (bind_executor) is not seen: a link
// whose strand is not the socket's would race with its own completions.
void asyncConnect(const asio::any_io_executor& strand, const ConnectOptions& options,
                  ConnectHandler handler);

// The same, returning a function that cancels the attempt (from any thread, any
// number of times): one still under way ends at once, its socket closed, and its
// handler runs with an error; after the handler has run it does nothing.
std::function<void()> asyncConnectCancellable(asio::io_context& io, const ConnectOptions& options,
                                              ConnectHandler handler);

// Wraps an accepted plain socket and sets TCP_NODELAY; the socket's executor (accept
// into asio::make_strand(io)) is the stream's. TLS accepting is in tls_server.h.
std::unique_ptr<ByteStream> makeTcpStream(asio::ip::tcp::socket socket);

} // namespace detail
} // namespace merrow
