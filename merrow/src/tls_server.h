#pragma once
// The server side of TLS: a context loaded once from a certificate and key file, and
// the handshake that turns an accepted socket into a ByteStream.

#include <functional>
#include <memory>
#include <string>

#include "byte_stream.h"

namespace merrow {
namespace detail {

enum class TlsVersion { Tls1_0, Tls1_1, Tls1_2, Tls1_3 };

struct TlsServerConfig {
    std::string certFile;  // PEM: the server's certificate, then any intermediates
    std::string keyFile;   // PEM, unencrypted
    // Newest version offered; Tls1_3 in service. An older one plays an outdated server
    // in tests: below 1.2 the server offers only that version and allows its weak
    // algorithms, so clients must refuse it.
    TlsVersion maxVersion = TlsVersion::Tls1_3;
};

class TlsServerContext {
public:
    // Null with a person's text in *error when a file cannot be loaded or the key does
    // not belong to the certificate.
    static std::shared_ptr<TlsServerContext> create(const TlsServerConfig& config,
                                                    std::string* error);
    ~TlsServerContext();
    TlsServerContext(const TlsServerContext&) = delete;
    TlsServerContext& operator=(const TlsServerContext&) = delete;

    struct Impl;
    Impl& impl() { return *m_impl; }

private:
    explicit TlsServerContext(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> m_impl;
};

// On success stream is set and error empty; on failure error says why, for the log
// ("The TLS handshake with 127.0.0.1:51234 failed: unsupported protocol.").
using TlsAcceptHandler = std::function<void(std::unique_ptr<ByteStream> stream, std::string error)>;

// Runs the server handshake on an accepted socket, bounded by timeoutMs. The socket's
// executor should be a strand (accept into asio::make_strand(io)); the handler runs
// once, there.
void asyncTlsAccept(std::shared_ptr<TlsServerContext> context, asio::ip::tcp::socket socket,
                    int timeoutMs, TlsAcceptHandler handler);

} // namespace detail
} // namespace merrow
