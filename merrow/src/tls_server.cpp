#include "tls_server.h"

#include "tls_stream.h"

#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>

#include <utility>

namespace merrow {
namespace detail {

struct TlsServerContext::Impl {
    std::shared_ptr<asio::ssl::context> context;
};

TlsServerContext::TlsServerContext(std::unique_ptr<Impl> impl) : m_impl(std::move(impl)) {}
TlsServerContext::~TlsServerContext() = default;

namespace {

int opensslVersion(TlsVersion version) {
    switch (version) {
    case TlsVersion::Tls1_0:
        return TLS1_VERSION;
    case TlsVersion::Tls1_1:
        return TLS1_1_VERSION;
    case TlsVersion::Tls1_2:
        return TLS1_2_VERSION;
    case TlsVersion::Tls1_3:
        break;
    }
    return TLS1_3_VERSION;
}

std::string peerName(const asio::ip::tcp::socket& socket) {
    asio::error_code ec;
    const auto peer = socket.remote_endpoint(ec);
    if (ec)
        return "a client";
    const auto address = peer.address();
    return (address.is_v6() ? "[" + address.to_string() + "]" : address.to_string()) + ":" +
           std::to_string(peer.port());
}

} // namespace

std::shared_ptr<TlsServerContext> TlsServerContext::create(const TlsServerConfig& config,
                                                           std::string* error) {
    auto context = std::make_shared<asio::ssl::context>(asio::ssl::context::tls_server);
    SSL_CTX* ctx = context->native_handle();
    const int maxVersion = opensslVersion(config.maxVersion);
    SSL_CTX_set_max_proto_version(ctx, maxVersion);
    if (maxVersion < TLS1_2_VERSION) {
        SSL_CTX_set_min_proto_version(ctx, maxVersion);
        // OpenSSL's default security level refuses these versions on either side.
        SSL_CTX_set_cipher_list(ctx, "DEFAULT:@SECLEVEL=0");
    } else {
        SSL_CTX_set_min_proto_version(ctx, TLS1_2_VERSION);
    }
    SSL_CTX_set_options(ctx, SSL_OP_NO_COMPRESSION | SSL_OP_NO_RENEGOTIATION |
                                 SSL_OP_CIPHER_SERVER_PREFERENCE);

    asio::error_code ec;
    context->use_certificate_chain_file(config.certFile, ec);
    if (ec) {
        *error = "The TLS certificate file '" + config.certFile + "' could not be loaded: " +
                 tlsReason(ec) + ".";
        return nullptr;
    }
    context->use_private_key_file(config.keyFile, asio::ssl::context::pem, ec);
    const unsigned long code = static_cast<unsigned long>(ec.value());
    const bool mismatch = ec ? ec.category() == asio::error::get_ssl_category() &&
                                   ERR_GET_LIB(code) == ERR_LIB_X509 &&
                                   ERR_GET_REASON(code) == X509_R_KEY_VALUES_MISMATCH
                             : SSL_CTX_check_private_key(ctx) != 1;
    if (mismatch) {
        *error = "The TLS key file '" + config.keyFile + "' does not belong to the certificate '" +
                 config.certFile + "'.";
        return nullptr;
    }
    if (ec) {
        *error = "The TLS key file '" + config.keyFile + "' could not be loaded: " + tlsReason(ec) +
                 ".";
        return nullptr;
    }
    auto impl = std::make_unique<Impl>();
    impl->context = std::move(context);
    return std::shared_ptr<TlsServerContext>(new TlsServerContext(std::move(impl)));
}

void asyncTlsAccept(std::shared_ptr<TlsServerContext> context, asio::ip::tcp::socket socket,
                    int timeoutMs, TlsAcceptHandler handler) {
    asio::error_code ignored;
    if (!context) {
        socket.close(ignored);
        asio::post(socket.get_executor(), [handler = std::move(handler)] {
            handler(nullptr, "No TLS server context was given for the handshake.");
        });
        return;
    }
    socket.set_option(asio::ip::tcp::no_delay(true), ignored);
    const std::string peer = peerName(socket);
    // Shared, so that the handshake's handler can hand the stream over.
    auto stream = std::make_shared<std::unique_ptr<TlsStream>>(
        std::make_unique<TlsStream>(context->impl().context, std::move(socket)));
    TlsStream& tls = **stream;
    asyncHandshakeBounded(
        tls, asio::ssl::stream_base::server, timeoutMs,
        [stream, peer, timeoutMs, handler = std::move(handler)](const asio::error_code& ec,
                                                                bool timedOut) {
            std::unique_ptr<TlsStream> done = std::move(*stream);
            if (timedOut)
                return handler(nullptr, "The TLS handshake with " + peer + " timed out after " +
                                            std::to_string(timeoutMs) + " ms.");
            if (ec) {
                done->close();
                return handler(nullptr, "The TLS handshake with " + peer + " failed: " +
                                            tlsReason(ec) + ".");
            }
            handler(std::move(done), std::string());
        });
}

} // namespace detail
} // namespace merrow
