#include "tls_stream.h"

#include <openssl/err.h>

#include <utility>

namespace merrow {
namespace detail {

TlsStream::TlsStream(std::shared_ptr<asio::ssl::context> context, asio::ip::tcp::socket socket)
    : m_context(std::move(context)), m_stream(std::move(socket), *m_context) {}

void TlsStream::asyncReadSome(asio::mutable_buffer buffer, Handler handler) {
    m_stream.async_read_some(buffer, std::move(handler));
}

void TlsStream::asyncWrite(const std::vector<asio::const_buffer>& buffers, Handler handler) {
    asio::async_write(m_stream, buffers, std::move(handler));
}

void TlsStream::close() {
    asio::error_code ignored;
    m_stream.next_layer().close(ignored);
}

void asyncHandshakeBounded(TlsStream& stream, asio::ssl::stream_base::handshake_type type,
                           int timeoutMs, HandshakeHandler handler) {
    struct State {
        explicit State(const asio::any_io_executor& ex) : timer(ex) {}
        asio::steady_timer timer;
        bool timedOut = false;
        bool done = false;
    };
    auto state = std::make_shared<State>(stream.socket().get_executor());
    state->timer.expires_after(std::chrono::milliseconds(timeoutMs > 0 ? timeoutMs : 1));
    TlsStream* target = &stream;
    state->timer.async_wait([state, target](const asio::error_code& ec) {
        if (ec || state->done)
            return;
        state->timedOut = true;
        target->close();
    });
    stream.stream().async_handshake(
        type, [state, handler = std::move(handler)](const asio::error_code& ec) {
            state->done = true;
            state->timer.cancel();
            // A handshake that finished after the timer closed the socket is of no use.
            handler(state->timedOut ? asio::error_code(asio::error::timed_out) : ec, state->timedOut);
        });
}

std::string tlsReason(const asio::error_code& ec) {
    if (ec.category() == asio::error::get_ssl_category()) {
        const char* reason = ERR_reason_error_string(static_cast<unsigned long>(ec.value()));
        if (reason)
            return reason;
    }
    if (ec == asio::ssl::error::stream_truncated)
        return "the connection was closed during the handshake";
    return ec.message();
}

bool isConnectionLoss(const asio::error_code& ec) {
    return ec == asio::ssl::error::stream_truncated || ec == asio::error::eof ||
           ec == asio::error::connection_reset || ec == asio::error::broken_pipe ||
           ec == asio::error::connection_aborted || ec == asio::error::operation_aborted;
}

} // namespace detail
} // namespace merrow
