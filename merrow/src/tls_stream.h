#pragma once
// The TLS kind of ByteStream, shared by the client's connect and the server's accept,
// and the bounded handshake both of them run.

#include <functional>
#include <memory>
#include <string>

#include <asio/ssl.hpp>

#include "byte_stream.h"

namespace merrow {
namespace detail {

class TlsStream final : public ByteStream {
public:
    // The socket's executor should be a strand: the handshake's timer and the stream's
    // operations run there. The stream keeps the context alive.
    TlsStream(std::shared_ptr<asio::ssl::context> context, asio::ip::tcp::socket socket);

    void asyncReadSome(asio::mutable_buffer buffer, Handler handler) override;
    void asyncWrite(const std::vector<asio::const_buffer>& buffers, Handler handler) override;
    // Drops the TCP connection without a close_notify: "at once" means no exchange.
    void close() override;
    asio::ip::tcp::socket& socket() override { return m_stream.next_layer(); }
    bool isTls() const override { return true; }

    asio::ssl::stream<asio::ip::tcp::socket>& stream() { return m_stream; }
    SSL* ssl() { return m_stream.native_handle(); }

private:
    std::shared_ptr<asio::ssl::context> m_context;
    asio::ssl::stream<asio::ip::tcp::socket> m_stream;
};

// Runs the handshake, closing the socket once timeoutMs passed. The handler runs once,
// on the socket's executor; the stream must outlive it.
using HandshakeHandler = std::function<void(const asio::error_code& ec, bool timedOut)>;
void asyncHandshakeBounded(TlsStream& stream, asio::ssl::stream_base::handshake_type type,
                           int timeoutMs, HandshakeHandler handler);

// OpenSSL's own words for a failed TLS operation ("tlsv1 alert protocol version"), or
// the system's for a failed socket.
std::string tlsReason(const asio::error_code& ec);

// True when the TLS failure means the peer closed or reset the connection mid-way,
// as opposed to a TLS-level refusal.
bool isConnectionLoss(const asio::error_code& ec);

} // namespace detail
} // namespace merrow
