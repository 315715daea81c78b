#pragma once
// The client side of TLS: TLS 1.2 or newer, the server's certificate verified against
// the system's CA store or a given CA file, and the host name checked and sent as SNI.
// PELLORA_TLS_INSECURE=1 in the environment turns verification off.

#include <memory>
#include <string>

#include "tls_stream.h"

namespace merrow {
namespace detail {

// Whether PELLORA_TLS_INSECURE=1 is set; read at every connect.
bool tlsVerificationDisabled();

// A new client context; null with a person's text in *error when the CA file or the
// system store cannot be loaded.
std::shared_ptr<asio::ssl::context> makeTlsClientContext(const std::string& caFile, bool verify,
                                                         std::string* error);

// Names the host the certificate must match (a DNS name, or an IP literal matched
// against the certificate's IP addresses) and the SNI to send, which IP literals have none.
void prepareTlsClient(TlsStream& stream, const std::string& host, bool verify);

// A person's text for a failed client handshake with `server` ("host:port"), and
// whether the server was reached but refused (verification, TLS version, protocol)
// rather than lost or too slow.
std::string describeClientHandshakeFailure(TlsStream& stream, const asio::error_code& ec,
                                           bool timedOut, int timeoutMs, const std::string& server,
                                           bool* refused);

} // namespace detail
} // namespace merrow
