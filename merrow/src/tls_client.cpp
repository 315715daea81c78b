#include "tls_client.h"

#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>

#include <cstdlib>
#include <cstring>

namespace merrow {
namespace detail {
namespace {

bool isProtocolVersionRefusal(const asio::error_code& ec) {
    if (ec.category() != asio::error::get_ssl_category())
        return false;
    switch (ERR_GET_REASON(static_cast<unsigned long>(ec.value()))) {
    case SSL_R_TLSV1_ALERT_PROTOCOL_VERSION:
    case SSL_R_UNSUPPORTED_PROTOCOL:
    case SSL_R_NO_PROTOCOLS_AVAILABLE:
    case SSL_R_VERSION_TOO_LOW:
    case SSL_R_WRONG_SSL_VERSION:
        return true;
    default:
        return false;
    }
}

} // namespace

bool tlsVerificationDisabled() {
    const char* value = std::getenv("PELLORA_TLS_INSECURE");
    return value && std::strcmp(value, "1") == 0;
}

std::shared_ptr<asio::ssl::context> makeTlsClientContext(const std::string& caFile, bool verify,
                                                         std::string* error) {
    auto context = std::make_shared<asio::ssl::context>(asio::ssl::context::tls_client);
    SSL_CTX* ctx = context->native_handle();
    SSL_CTX_set_min_proto_version(ctx, TLS1_2_VERSION);
    SSL_CTX_set_options(ctx, SSL_OP_NO_COMPRESSION | SSL_OP_NO_RENEGOTIATION);
    if (!verify) {
        context->set_verify_mode(asio::ssl::verify_none);
        return context;
    }
    asio::error_code ec;
    if (caFile.empty()) {
        context->set_default_verify_paths(ec);
        if (ec) {
            *error = "The system's CA certificates could not be loaded: " + tlsReason(ec) + ".";
            return nullptr;
        }
    } else {
        context->load_verify_file(caFile, ec);
        if (ec) {
            *error = "The CA file '" + caFile + "' could not be loaded: " + tlsReason(ec) + ".";
            return nullptr;
        }
    }
    context->set_verify_mode(asio::ssl::verify_peer);
    return context;
}

void prepareTlsClient(TlsStream& stream, const std::string& host, bool verify) {
    SSL* ssl = stream.ssl();
    asio::error_code notAddress;
    asio::ip::make_address(host, notAddress);
    if (notAddress) {
        SSL_set_tlsext_host_name(ssl, host.c_str());
        if (verify) {
            SSL_set_hostflags(ssl, X509_CHECK_FLAG_NO_PARTIAL_WILDCARDS);
            SSL_set1_host(ssl, host.c_str());
        }
    } else if (verify) {
        X509_VERIFY_PARAM_set1_ip_asc(SSL_get0_param(ssl), host.c_str());
    }
}

std::string describeClientHandshakeFailure(TlsStream& stream, const asio::error_code& ec,
                                           bool timedOut, int timeoutMs, const std::string& server,
                                           bool* refused) {
    *refused = false;
    if (timedOut)
        return "The TLS handshake with " + server + " timed out after " + std::to_string(timeoutMs) +
               " ms.";
    const long verifyResult = SSL_get_verify_result(stream.ssl());
    if (verifyResult != X509_V_OK && SSL_get_verify_mode(stream.ssl()) != SSL_VERIFY_NONE) {
        *refused = true;
        return std::string("The server certificate could not be verified: ") +
               X509_verify_cert_error_string(verifyResult) + ".";
    }
    if (isProtocolVersionRefusal(ec)) {
        *refused = true;
        return "The server " + server + " does not offer TLS 1.2 or newer: " + tlsReason(ec) + ".";
    }
    if (isConnectionLoss(ec) || ec.category() != asio::error::get_ssl_category())
        return "The TLS handshake with " + server + " failed: " + tlsReason(ec) + ".";
    *refused = true;
    return "The TLS handshake with " + server + " was refused: " + tlsReason(ec) + ".";
}

} // namespace detail
} // namespace merrow
