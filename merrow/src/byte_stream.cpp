#include "byte_stream.h"

#include "proxy_connect.h"
#include "tls_client.h"
#include "tls_stream.h"

#include <cstdio>
#include <memory>
#include <string>
#include <utility>

namespace merrow {
namespace detail {
namespace {

using asio::ip::tcp;

// Non-blocking at the user level, so writeNow never blocks (async operations do not
// care).
class TcpStream final : public ByteStream {
public:
    explicit TcpStream(tcp::socket socket) : m_socket(std::move(socket)) {
        asio::error_code ignored;
        m_socket.non_blocking(true, ignored);
    }

    void asyncReadSome(asio::mutable_buffer buffer, Handler handler) override {
        m_socket.async_read_some(buffer, std::move(handler));
    }
    void asyncWrite(const std::vector<asio::const_buffer>& buffers, Handler handler) override {
        asio::async_write(m_socket, buffers, std::move(handler));
    }
    bool canWriteNow() const override { return true; }
    std::size_t writeNow(const std::vector<asio::const_buffer>& buffers, asio::error_code& ec) override {
        return m_socket.write_some(buffers, ec);
    }
    void close() override {
        asio::error_code ignored;
        m_socket.close(ignored);
    }
    tcp::socket& socket() override { return m_socket; }
    bool isTls() const override { return false; }

private:
    tcp::socket m_socket;
};

std::string hostPort(const std::string& host, uint16_t port) {
    if (host.find(':') != std::string::npos)
        return "[" + host + "]:" + std::to_string(port);
    return host + ":" + std::to_string(port);
}

// One connect attempt: resolve, connect, then the optional proxy exchange and TLS
// handshake. Everything runs on the given strand, which the finished stream's socket
// keeps as its executor.
class ConnectOp : public std::enable_shared_from_this<ConnectOp> {
public:
    ConnectOp(const asio::any_io_executor& strand, const ConnectOptions& options, ConnectHandler handler)
        : m_options(options), m_handler(std::move(handler)), m_strand(strand),
          m_resolver(m_strand), m_socket(m_strand), m_timer(m_strand) {}

    void start() {
        asio::post(m_strand, [self = shared_from_this()] { self->resolve(); });
    }

    void cancel() {
        asio::post(m_strand, [self = shared_from_this()] {
            if (self->m_done)
                return;
            self->m_resolver.cancel();
            asio::error_code ignored;
            if (self->m_tls)
                self->m_tls->close();
            self->m_socket.close(ignored);
            self->fail("The connection attempt was cancelled.", false);
        });
    }

private:
    bool viaProxy() const { return !m_options.proxyHost.empty(); }
    const std::string& hopHost() const { return viaProxy() ? m_options.proxyHost : m_options.host; }
    uint16_t hopPort() const { return viaProxy() ? m_options.proxyPort : m_options.port; }
    std::string hopName() const {
        return (viaProxy() ? "the proxy " : "") + hostPort(hopHost(), hopPort());
    }

    void resolve() {
        if (m_options.host.empty() || m_options.port == 0)
            return fail("No server host and port were given to connect to.", true);
        if (!plainText(m_options.host))
            return fail("The host name '" + m_options.host + "' is not valid.", true);
        if (!plainText(m_options.proxyHost))
            return fail("The proxy host name '" + m_options.proxyHost + "' is not valid.", true);
        if (viaProxy() && m_options.proxyPort == 0)
            return fail("The proxy " + m_options.proxyHost + " was given without a port.", true);
        if (m_options.tls) {
            m_verify = !tlsVerificationDisabled();
            std::string error;
            m_tlsContext = makeTlsClientContext(m_options.caFile, m_verify, &error);
            if (!m_tlsContext)
                return fail(error, true);
        }
        armTimer("Connecting to " + hopName());
        m_resolver.async_resolve(
            hopHost(), std::to_string(hopPort()), tcp::resolver::numeric_service,
            [self = shared_from_this()](const asio::error_code& ec, tcp::resolver::results_type results) {
                self->onResolved(ec, std::move(results));
            });
    }

    void onResolved(const asio::error_code& ec, tcp::resolver::results_type results) {
        if (m_done)
            return;
        if (ec)
            return fail("Could not resolve the host name of " + hopName() + ": " + ec.message() + ".",
                        false);
        asio::async_connect(m_socket, results,
                            [self = shared_from_this()](const asio::error_code& ec, const tcp::endpoint&) {
                                self->onConnected(ec);
                            });
    }

    void onConnected(const asio::error_code& ec) {
        if (m_done)
            return;
        if (ec)
            return fail("Could not connect to " + hopName() + ": " + ec.message() + ".", false);
        asio::error_code ignored;
        m_socket.set_option(tcp::no_delay(true), ignored);
        if (!viaProxy())
            return startTls();
        armTimer("The tunnel request to " + hopName());
        asyncProxyConnect(m_socket,
                          buildConnectRequest(m_options.host, m_options.port, m_options.proxyUser,
                                              m_options.proxyPassword),
                          hopName(), [self = shared_from_this()](const std::string& error, bool refused) {
                              self->onTunnel(error, refused);
                          });
    }

    void onTunnel(const std::string& error, bool refused) {
        if (m_done)
            return;
        if (!error.empty())
            return fail(error, refused);
        startTls();
    }

    void startTls() {
        stopTimer();
        if (!m_options.tls)
            return finish(std::make_unique<TcpStream>(std::move(m_socket)));
        const std::string server = hostPort(m_options.host, m_options.port);
        if (!m_verify)
            std::fprintf(stderr,
                         "merrow: warning: PELLORA_TLS_INSECURE=1 is set: the certificate of %s is "
                         "not verified.\n",
                         server.c_str());
        m_tls = std::make_unique<TlsStream>(m_tlsContext, std::move(m_socket));
        prepareTlsClient(*m_tls, m_options.host, m_verify);
        asyncHandshakeBounded(*m_tls, asio::ssl::stream_base::client, m_options.timeoutMs,
                              [self = shared_from_this()](const asio::error_code& ec, bool timedOut) {
                                  self->onHandshake(ec, timedOut);
                              });
    }

    void onHandshake(const asio::error_code& ec, bool timedOut) {
        if (m_done)
            return;
        if (ec || timedOut) {
            bool refused = false;
            std::string error = describeClientHandshakeFailure(
                *m_tls, ec, timedOut, m_options.timeoutMs, hostPort(m_options.host, m_options.port),
                &refused);
            m_tls->close();
            return fail(std::move(error), refused);
        }
        finish(std::move(m_tls));
    }

    // Host names travel into the tunnel request line: no spaces or control characters.
    static bool plainText(const std::string& text) {
        for (char c : text) {
            if (static_cast<unsigned char>(c) <= ' ' || c == 0x7f)
                return false;
        }
        return true;
    }

    // Each phase gets the full timeout. On expiry the attempt fails at once (a pending
    // name lookup may take longer to notice its cancellation) and the late completion
    // finds the attempt done.
    void armTimer(std::string phase) {
        m_phase = std::move(phase);
        const unsigned generation = ++m_timerGeneration;
        m_timer.expires_after(std::chrono::milliseconds(m_options.timeoutMs > 0 ? m_options.timeoutMs : 1));
        m_timer.async_wait([self = shared_from_this(), generation](const asio::error_code& ec) {
            if (ec || self->m_done || generation != self->m_timerGeneration)
                return;
            self->m_resolver.cancel();
            self->fail(self->m_phase + " timed out after " + std::to_string(self->m_options.timeoutMs) +
                           " ms.",
                       false);
        });
    }

    void stopTimer() {
        ++m_timerGeneration;
        m_timer.cancel();
    }

    void fail(std::string error, bool refused) {
        ConnectResult result;
        result.error = std::move(error);
        result.refused = refused;
        deliver(std::move(result));
    }

    void finish(std::unique_ptr<ByteStream> stream) {
        ConnectResult result;
        result.stream = std::move(stream);
        deliver(std::move(result));
    }

    void deliver(ConnectResult result) {
        if (m_done)
            return;
        m_done = true;
        stopTimer();
        if (!result.stream) {
            asio::error_code ignored;
            m_socket.close(ignored);
        }
        ConnectHandler handler = std::move(m_handler);
        handler(std::move(result));
    }

    ConnectOptions m_options;
    ConnectHandler m_handler;
    asio::any_io_executor m_strand;
    tcp::resolver m_resolver;
    tcp::socket m_socket;
    asio::steady_timer m_timer;
    std::shared_ptr<asio::ssl::context> m_tlsContext;
    std::unique_ptr<TlsStream> m_tls;
    bool m_verify = true;
    std::string m_phase;            // what the armed timer bounds, for its error text
    unsigned m_timerGeneration = 0; // an expiry of an earlier phase is stale
    bool m_done = false;
};

} // namespace

void asyncConnect(asio::io_context& io, const ConnectOptions& options, ConnectHandler handler) {
    asyncConnect(asio::make_strand(io), options, std::move(handler));
}

void asyncConnect(const asio::any_io_executor& strand, const ConnectOptions& options,
                  ConnectHandler handler) {
    std::make_shared<ConnectOp>(strand, options, std::move(handler))->start();
}

std::function<void()> asyncConnectCancellable(asio::io_context& io, const ConnectOptions& options,
                                              ConnectHandler handler) {
    auto op = std::make_shared<ConnectOp>(asio::make_strand(io), options, std::move(handler));
    op->start();
    // Weak: a cancel kept after the attempt ended holds nothing.
    return [weak = std::weak_ptr<ConnectOp>(op)] {
        if (auto live = weak.lock())
            live->cancel();
    };
}

std::unique_ptr<ByteStream> makeTcpStream(asio::ip::tcp::socket socket) {
    asio::error_code ignored;
    socket.set_option(asio::ip::tcp::no_delay(true), ignored);
    return std::make_unique<TcpStream>(std::move(socket));
}

} // namespace detail
} // namespace merrow
