// The byte-stream layer over loopback: plain TCP, TLS with verification, the HTTP
// CONNECT proxy, and the server's TLS accept.

#include "byte_stream.h"
#include "tls_server.h"
#include "tls_stream.h"

#include "core/base/mutex.h"
#include "testutil/connect_proxy.h"
#include "testutil/test_certs.h"

#include <gtest/gtest.h>
#include <openssl/ssl.h>

#include <array>
#include <chrono>
#include <cstdlib>
#include <future>
#include <optional>
#include <thread>
#include <vector>

namespace merrow {
namespace detail {
namespace {

using asio::ip::tcp;
using namespace std::chrono_literals;

constexpr auto kWait = 30s;  // a bound for the test, never a measured time

bool contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

// The client's io_context, run by two threads so that strand mistakes show.
class ClientIo {
public:
    ClientIo() {
        for (auto& t : m_threads)
            t = std::thread([this] { m_io.run(); });
    }
    ~ClientIo() {
        m_work.reset();
        m_io.stop();
        for (auto& t : m_threads)
            t.join();
    }
    asio::io_context& io() { return m_io; }

private:
    asio::io_context m_io;
    std::optional<asio::executor_work_guard<asio::io_context::executor_type>> m_work{
        asio::make_work_guard(m_io)};
    std::array<std::thread, 2> m_threads;
};

ConnectResult connectNow(asio::io_context& io, const ConnectOptions& options) {
    auto promise = std::make_shared<std::promise<ConnectResult>>();
    auto future = promise->get_future();
    asyncConnect(io, options, [promise](ConnectResult result) { promise->set_value(std::move(result)); });
    if (future.wait_for(kWait) != std::future_status::ready) {
        ConnectResult none;
        none.error = "<the connect handler never ran>";
        return none;
    }
    return future.get();
}

// Runs `f` on the stream's executor and waits for it.
template <typename F>
void onStrand(ByteStream& stream, F f) {
    std::promise<void> done;
    asio::post(stream.socket().get_executor(), [&] {
        f();
        done.set_value();
    });
    done.get_future().wait();
}

// Streams are destroyed on their own executor, as the connection engine does.
struct StreamGuard {
    std::unique_ptr<ByteStream>& stream;
    ~StreamGuard() {
        if (stream)
            onStrand(*stream, [this] { stream.reset(); });
    }
};

// Writes `out` (if any) and reads until `expect` bytes arrived or the stream failed.
std::string exchange(ByteStream& stream, const std::string& out, std::size_t expect) {
    struct State : std::enable_shared_from_this<State> {
        ByteStream* stream;
        std::string out, in;
        std::size_t expect;
        std::array<char, 4096> buffer;
        std::promise<std::string> done;
        void read() {
            stream->asyncReadSome(asio::buffer(buffer), [self = shared_from_this()](const asio::error_code& ec,
                                                                                    std::size_t n) {
                self->in.append(self->buffer.data(), n);
                if (ec)
                    return self->done.set_value(self->in + "<" + ec.message() + ">");
                if (self->in.size() >= self->expect)
                    return self->done.set_value(self->in);
                self->read();
            });
        }
    };
    auto state = std::make_shared<State>();
    state->stream = &stream;
    state->out = out;
    state->expect = expect;
    auto future = state->done.get_future();
    asio::post(stream.socket().get_executor(), [state] {
        if (!state->out.empty())
            state->stream->asyncWrite({asio::buffer(state->out)}, [state](const asio::error_code&, std::size_t) {});
        state->read();
    });
    if (future.wait_for(kWait) != std::future_status::ready)
        return "<no answer>";
    return future.get();
}

// A loopback echo server, plain or TLS, on a thread of its own; or a silent one that
// accepts and never answers.
class EchoServer {
public:
    enum class Mode { Plain, Tls, Silent };

    explicit EchoServer(Mode mode, std::shared_ptr<TlsServerContext> tls = nullptr)
        : m_mode(mode), m_tls(std::move(tls)), m_acceptor(m_io, tcp::endpoint(asio::ip::make_address("127.0.0.1"), 0)) {
        accept();
        m_thread = std::thread([this] { m_io.run(); });
    }
    ~EchoServer() {
        m_io.stop();
        m_thread.join();
    }
    uint16_t port() const { return m_acceptor.local_endpoint().port(); }
    // The SNI name of each TLS connection accepted ("" when none was sent).
    std::vector<std::string> serverNames() const {
        zel::LockGuard<zel::Mutex> lock(m_mutex);
        return m_serverNames;
    }

private:
    struct Echo : std::enable_shared_from_this<Echo> {
        std::unique_ptr<ByteStream> stream;
        std::array<char, 4096> buffer;
        void run() {
            stream->asyncReadSome(asio::buffer(buffer), [self = shared_from_this()](const asio::error_code& ec,
                                                                                    std::size_t n) {
                if (ec)
                    return;
                self->stream->asyncWrite({asio::buffer(self->buffer.data(), n)},
                                         [self](const asio::error_code& ec, std::size_t) {
                                             if (!ec)
                                                 self->run();
                                         });
            });
        }
    };

    void accept() {
        m_acceptor.async_accept(asio::make_strand(m_io), [this](const asio::error_code& ec, tcp::socket socket) {
            if (ec)
                return;
            if (m_mode == Mode::Silent) {
                m_silent.push_back(std::move(socket));
            } else if (m_mode == Mode::Plain) {
                auto echo = std::make_shared<Echo>();
                echo->stream = makeTcpStream(std::move(socket));
                echo->run();
            } else {
                asyncTlsAccept(m_tls, std::move(socket), 10000,
                               [this](std::unique_ptr<ByteStream> stream, std::string) {
                                   if (!stream)
                                       return;
                                   const char* name = SSL_get_servername(
                                       static_cast<TlsStream&>(*stream).ssl(), TLSEXT_NAMETYPE_host_name);
                                   {
                                       zel::LockGuard<zel::Mutex> lock(m_mutex);
                                       m_serverNames.push_back(name ? name : "");
                                   }
                                   auto echo = std::make_shared<Echo>();
                                   echo->stream = std::move(stream);
                                   echo->run();
                               });
            }
            accept();
        });
    }

    const Mode m_mode;
    std::shared_ptr<TlsServerContext> m_tls;
    asio::io_context m_io;
    tcp::acceptor m_acceptor;
    std::vector<tcp::socket> m_silent;  // server thread only
    std::thread m_thread;
    mutable zel::Mutex m_mutex;
    std::vector<std::string> m_serverNames ZEL_GUARDED_BY(m_mutex);
};

std::shared_ptr<TlsServerContext> serverContext(const std::string& cert, const std::string& key,
                                                TlsVersion maxVersion = TlsVersion::Tls1_3) {
    std::string error;
    auto context = TlsServerContext::create({cert, key, maxVersion}, &error);
    EXPECT_TRUE(context) << error;
    return context;
}

uint16_t unusedPort() {
    asio::io_context io;
    tcp::acceptor acceptor(io, tcp::endpoint(asio::ip::make_address("127.0.0.1"), 0));
    return acceptor.local_endpoint().port();
}

class ScopedEnv {
public:
    ScopedEnv(const char* name, const char* value) : m_name(name) { setenv(name, value, 1); }
    ~ScopedEnv() { unsetenv(m_name); }

private:
    const char* m_name;
};

// --- Plain TCP ---------------------------------------------------------------------

TEST(PlainConnect, EchoesOverLoopback) {
    ClientIo client;
    EchoServer server(EchoServer::Mode::Plain);
    ConnectOptions options;
    options.host = "127.0.0.1";
    options.port = server.port();
    ConnectResult result = connectNow(client.io(), options);
    StreamGuard guard{result.stream};
    ASSERT_TRUE(result.stream) << result.error;
    EXPECT_FALSE(result.stream->isTls());
    int noDelay = 0;
    onStrand(*result.stream, [&] {
        tcp::no_delay option;
        result.stream->socket().get_option(option);
        noDelay = option.value();
    });
    EXPECT_TRUE(noDelay);
    EXPECT_EQ(exchange(*result.stream, "ping", 4), "ping");
    EXPECT_EQ(exchange(*result.stream, std::string(100000, 'x'), 100000), std::string(100000, 'x'));
}

TEST(PlainConnect, EverythingRunsOnTheGivenStrand) {
    ClientIo client;
    EchoServer server(EchoServer::Mode::Plain);
    auto strand = asio::make_strand(client.io());
    ConnectOptions options;
    options.host = "127.0.0.1";
    options.port = server.port();
    auto ranOnStrand = std::make_shared<std::promise<bool>>();
    std::unique_ptr<ByteStream> stream;
    asyncConnect(strand, options, [&, ranOnStrand](ConnectResult result) {
        stream = std::move(result.stream);
        ranOnStrand->set_value(strand.running_in_this_thread());
    });
    auto connected = ranOnStrand->get_future();
    ASSERT_EQ(connected.wait_for(kWait), std::future_status::ready);
    EXPECT_TRUE(connected.get());
    ASSERT_TRUE(stream);
    StreamGuard guard{stream};
    EXPECT_TRUE(stream->socket().get_executor() == asio::any_io_executor(strand));

    // A completion runs on the strand even though the handler carries no executor.
    std::promise<bool> readOnStrand;
    char byte = 0;
    asio::post(strand, [&] {
        stream->asyncWrite({asio::buffer("x", 1)}, [](const asio::error_code&, std::size_t) {});
        stream->asyncReadSome(asio::buffer(&byte, 1), [&](const asio::error_code&, std::size_t) {
            readOnStrand.set_value(strand.running_in_this_thread());
        });
    });
    auto read = readOnStrand.get_future();
    ASSERT_EQ(read.wait_for(kWait), std::future_status::ready);
    EXPECT_TRUE(read.get());
    EXPECT_EQ(byte, 'x');
}

TEST(PlainConnect, UnreachableIsNotARefusal) {
    ClientIo client;
    const uint16_t closed = unusedPort();
    struct Case {
        bool viaProxy;
        std::string expected;
    };
    const Case cases[] = {
        {false, "Could not connect to 127.0.0.1:" + std::to_string(closed) + ": Connection refused."},
        {true, "Could not connect to the proxy 127.0.0.1:" + std::to_string(closed) + ": Connection refused."},
    };
    for (const Case& c : cases) {
        ConnectOptions options;
        options.host = "127.0.0.1";
        options.port = closed;
        if (c.viaProxy) {
            options.port = 5100;
            options.proxyHost = "127.0.0.1";
            options.proxyPort = closed;
        }
        const ConnectResult result = connectNow(client.io(), options);
        EXPECT_FALSE(result.stream);
        EXPECT_FALSE(result.refused);
        EXPECT_EQ(result.error, c.expected);
    }
}

TEST(PlainConnect, UnusableOptionsFailWithoutConnecting) {
    ClientIo client;
    ConnectOptions noPort;
    noPort.host = "127.0.0.1";
    ConnectOptions badHost;
    badHost.host = "dealer\r\nX-Injected: 1";
    badHost.port = 5100;
    ConnectOptions badCa;
    badCa.host = "127.0.0.1";
    badCa.port = 5100;
    badCa.tls = true;
    badCa.caFile = "/nonexistent/ca.pem";
    const std::pair<ConnectOptions, std::string> cases[] = {
        {noPort, "No server host and port were given"},
        {badHost, "is not valid"},
        {badCa, "The CA file '/nonexistent/ca.pem' could not be loaded"},
    };
    for (const auto& c : cases) {
        const ConnectResult result = connectNow(client.io(), c.first);
        EXPECT_FALSE(result.stream);
        EXPECT_TRUE(result.refused);
        EXPECT_TRUE(contains(result.error, c.second)) << result.error;
    }
}

// --- TLS ---------------------------------------------------------------------------

TEST(TlsConnect, VerifiesWithTheCaFileAndCarriesBytesBothWays) {
    const auto& certs = testutil::testCerts();
    ClientIo client;
    EchoServer server(EchoServer::Mode::Tls, serverContext(certs.serverCert, certs.serverKey));
    // A DNS name is checked and sent as SNI; an IP literal is checked against the
    // certificate's addresses and sends no SNI.
    const std::pair<const char*, const char*> cases[] = {{"localhost", "localhost"}, {"127.0.0.1", ""}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.first);
        ConnectOptions options;
        options.host = c.first;
        options.port = server.port();
        options.tls = true;
        options.caFile = certs.caFile;
        ConnectResult result = connectNow(client.io(), options);
        StreamGuard guard{result.stream};
        ASSERT_TRUE(result.stream) << result.error;
        EXPECT_TRUE(result.stream->isTls());
        EXPECT_EQ(exchange(*result.stream, "ping", 4), "ping");
        const std::string big(300000, 'y');
        EXPECT_EQ(exchange(*result.stream, big, big.size()), big);
        EXPECT_EQ(server.serverNames().back(), c.second);
    }
}

TEST(TlsConnect, RefusesWhatCannotBeVerifiedWithOpenSslsReason) {
    const auto& certs = testutil::testCerts();
    ClientIo client;
    EchoServer untrusted(EchoServer::Mode::Tls, serverContext(certs.untrustedCert, certs.untrustedKey));
    EchoServer otherHost(EchoServer::Mode::Tls, serverContext(certs.otherHostCert, certs.otherHostKey));
    EchoServer good(EchoServer::Mode::Tls, serverContext(certs.serverCert, certs.serverKey));
    struct Case {
        const char* name;
        uint16_t port;
        const char* host;
        std::string caFile;
        const char* error;
    };
    const Case cases[] = {
        {"untrusted CA", untrusted.port(), "localhost", certs.caFile,
         "The server certificate could not be verified: unable to get local issuer certificate."},
        {"wrong host name", otherHost.port(), "localhost", certs.caFile,
         "The server certificate could not be verified: hostname mismatch."},
        {"wrong IP address", otherHost.port(), "127.0.0.1", certs.caFile,
         "The server certificate could not be verified: IP address mismatch."},
        {"not in the system store", good.port(), "localhost", "",
         "The server certificate could not be verified: unable to get local issuer certificate."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ConnectOptions options;
        options.host = c.host;
        options.port = c.port;
        options.tls = true;
        options.caFile = c.caFile;
        const ConnectResult result = connectNow(client.io(), options);
        EXPECT_FALSE(result.stream);
        EXPECT_TRUE(result.refused);
        EXPECT_EQ(result.error, c.error);
    }
}

TEST(TlsConnect, RefusesAServerOfferingOnlyTls11) {
    const auto& certs = testutil::testCerts();
    ClientIo client;
    EchoServer server(EchoServer::Mode::Tls,
                      serverContext(certs.serverCert, certs.serverKey, TlsVersion::Tls1_1));
    ConnectOptions options;
    options.host = "localhost";
    options.port = server.port();
    options.tls = true;
    options.caFile = certs.caFile;
    const ConnectResult result = connectNow(client.io(), options);
    EXPECT_FALSE(result.stream);
    EXPECT_TRUE(result.refused);
    EXPECT_TRUE(contains(result.error, "does not offer TLS 1.2 or newer: ")) << result.error;
    EXPECT_TRUE(contains(result.error, "protocol version")) << result.error;

    // The same server does serve a client that still speaks TLS 1.1.
    asio::io_context io;
    auto old = std::make_shared<asio::ssl::context>(asio::ssl::context::tls_client);
    SSL_CTX_set_min_proto_version(old->native_handle(), TLS1_1_VERSION);
    SSL_CTX_set_max_proto_version(old->native_handle(), TLS1_1_VERSION);
    SSL_CTX_set_cipher_list(old->native_handle(), "DEFAULT:@SECLEVEL=0");
    asio::ssl::stream<tcp::socket> oldClient(io, *old);
    oldClient.next_layer().connect(tcp::endpoint(asio::ip::make_address("127.0.0.1"), server.port()));
    asio::error_code ec;
    oldClient.handshake(asio::ssl::stream_base::client, ec);
    EXPECT_FALSE(ec) << tlsReason(ec);
    EXPECT_EQ(SSL_version(oldClient.native_handle()), TLS1_1_VERSION);
}

TEST(TlsConnect, InsecureModeAcceptsAnUntrustedServerAndWarns) {
    const auto& certs = testutil::testCerts();
    ClientIo client;
    EchoServer server(EchoServer::Mode::Tls, serverContext(certs.untrustedCert, certs.untrustedKey));
    ConnectOptions options;
    options.host = "localhost";
    options.port = server.port();
    options.tls = true;
    options.caFile = certs.caFile;
    for (const char* value : {"0", "1"}) {
        SCOPED_TRACE(value);
        ScopedEnv insecure("PELLORA_TLS_INSECURE", value);
        testing::internal::CaptureStderr();
        ConnectResult result = connectNow(client.io(), options);
        const std::string warnings = testing::internal::GetCapturedStderr();
        StreamGuard guard{result.stream};
        if (std::string(value) == "0") {
            EXPECT_FALSE(result.stream);
            EXPECT_TRUE(warnings.empty()) << warnings;
            continue;
        }
        ASSERT_TRUE(result.stream) << result.error;
        EXPECT_EQ(exchange(*result.stream, "ping", 4), "ping");
        EXPECT_TRUE(contains(warnings, "PELLORA_TLS_INSECURE=1")) << warnings;
        EXPECT_TRUE(contains(warnings, "localhost:" + std::to_string(server.port()))) << warnings;
    }
}

TEST(TlsConnect, HandshakeIsBoundedByTheTimeout) {
    ClientIo client;
    EchoServer server(EchoServer::Mode::Silent);
    ConnectOptions options;
    options.host = "127.0.0.1";
    options.port = server.port();
    options.tls = true;
    options.timeoutMs = 200;
    const ConnectResult result = connectNow(client.io(), options);
    EXPECT_FALSE(result.stream);
    EXPECT_FALSE(result.refused);
    EXPECT_EQ(result.error, "The TLS handshake with 127.0.0.1:" + std::to_string(server.port()) +
                                " timed out after 200 ms.");
}

// --- HTTP CONNECT proxy -------------------------------------------------------------

TEST(ProxyConnect, TunnelsPlainTcp) {
    ClientIo client;
    EchoServer server(EchoServer::Mode::Plain);
    testutil::ConnectProxy proxy;
    ConnectOptions options;
    options.host = "127.0.0.1";
    options.port = server.port();
    options.proxyHost = "127.0.0.1";
    options.proxyPort = proxy.port();
    ConnectResult result = connectNow(client.io(), options);
    StreamGuard guard{result.stream};
    ASSERT_TRUE(result.stream) << result.error;
    EXPECT_EQ(exchange(*result.stream, "ping", 4), "ping");
    const std::string target = "127.0.0.1:" + std::to_string(server.port());
    ASSERT_EQ(proxy.requests().size(), 1u);
    EXPECT_EQ(proxy.requests()[0], "CONNECT " + target + " HTTP/1.1\r\nHost: " + target + "\r\n\r\n");
}

TEST(ProxyConnect, RunsTlsEndToEndCheckingTheServersName) {
    // The certificate names only "dealer.invalid", which resolves nowhere: the proxy
    // routes the tunnel, and the client must check that name, not the proxy's.
    const auto& certs = testutil::testCerts();
    ClientIo client;
    EchoServer server(EchoServer::Mode::Tls, serverContext(certs.otherHostCert, certs.otherHostKey));
    testutil::ConnectProxy::Options proxyOptions;
    proxyOptions.routeHost = "127.0.0.1";
    proxyOptions.routePort = server.port();
    testutil::ConnectProxy proxy(proxyOptions);
    ConnectOptions options;
    options.host = "dealer.invalid";
    options.port = 5101;
    options.tls = true;
    options.caFile = certs.caFile;
    options.proxyHost = "127.0.0.1";
    options.proxyPort = proxy.port();
    ConnectResult result = connectNow(client.io(), options);
    StreamGuard guard{result.stream};
    ASSERT_TRUE(result.stream) << result.error;
    EXPECT_TRUE(result.stream->isTls());
    EXPECT_EQ(exchange(*result.stream, "ping", 4), "ping");
    EXPECT_EQ(server.serverNames().back(), "dealer.invalid");
    ASSERT_EQ(proxy.requests().size(), 1u);
    EXPECT_TRUE(contains(proxy.requests()[0], "CONNECT dealer.invalid:5101 HTTP/1.1\r\n"));

    // The same tunnel to a server whose certificate names someone else is refused.
    EchoServer impostor(EchoServer::Mode::Tls, serverContext(certs.serverCert, certs.serverKey));
    proxyOptions.routePort = impostor.port();
    testutil::ConnectProxy impostorProxy(proxyOptions);
    options.proxyPort = impostorProxy.port();
    const ConnectResult refused = connectNow(client.io(), options);
    EXPECT_FALSE(refused.stream);
    EXPECT_TRUE(refused.refused);
    EXPECT_EQ(refused.error, "The server certificate could not be verified: hostname mismatch.");
}

TEST(ProxyConnect, SendsBasicAuthorizationAndReportsARefusalsStatusLine) {
    ClientIo client;
    EchoServer server(EchoServer::Mode::Plain);
    testutil::ConnectProxy::Options proxyOptions;
    proxyOptions.requiredAuthorization = "Basic dXNlcjpwYXNz";  // user:pass
    testutil::ConnectProxy proxy(proxyOptions);
    struct Case {
        const char* user;
        const char* password;
        const char* error;
    };
    const Case cases[] = {
        {"user", "pass", ""},
        {"", "", "The proxy refused the connection: HTTP/1.1 407 Proxy Authentication Required"},
        {"user", "wrong", "The proxy refused the connection: HTTP/1.1 407 Proxy Authentication Required"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.user) + ":" + c.password);
        ConnectOptions options;
        options.host = "127.0.0.1";
        options.port = server.port();
        options.proxyHost = "127.0.0.1";
        options.proxyPort = proxy.port();
        options.proxyUser = c.user;
        options.proxyPassword = c.password;
        ConnectResult result = connectNow(client.io(), options);
        StreamGuard guard{result.stream};
        EXPECT_EQ(result.error, c.error);
        if (*c.error) {
            EXPECT_TRUE(result.refused);
            continue;
        }
        ASSERT_TRUE(result.stream);
        EXPECT_EQ(exchange(*result.stream, "ping", 4), "ping");
    }
    const auto requests = proxy.requests();
    ASSERT_EQ(requests.size(), 3u);
    EXPECT_TRUE(contains(requests[0], "\r\nProxy-Authorization: Basic dXNlcjpwYXNz\r\n")) << requests[0];
    EXPECT_FALSE(contains(requests[1], "Proxy-Authorization")) << requests[1];
}

TEST(ProxyConnect, RefusalsAndBrokenAnswersAreBounded) {
    ClientIo client;
    struct Case {
        const char* name;
        testutil::ConnectProxy::Options proxy;
        int timeoutMs;
        bool refused;
        std::string error;
    };
    testutil::ConnectProxy::Options forbidden;
    forbidden.refuseWith = 403;
    testutil::ConnectProxy::Options notHttp;
    notHttp.rawAnswer = "SSH-2.0-OpenSSH_9.2\r\n\r\n";
    testutil::ConnectProxy::Options endless;
    endless.rawAnswer = "HTTP/1.1 200 OK\r\n";
    while (endless.rawAnswer.size() <= 17 * 1024)
        endless.rawAnswer += "X-Filler: aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa\r\n";
    testutil::ConnectProxy::Options unfinished;
    unfinished.rawAnswer = "HTTP/1.1 200 OK\r\n";
    const Case cases[] = {
        {"403", forbidden, 10000, true, "The proxy refused the connection: HTTP/1.1 403 Forbidden"},
        {"not HTTP", notHttp, 10000, true,
         "The proxy did not answer as an HTTP proxy: 'SSH-2.0-OpenSSH_9.2'."},
        {"head too long", endless, 10000, true, "is longer than 16 KiB."},
        {"head never ends", unfinished, 200, false, "timed out after 200 ms."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        testutil::ConnectProxy proxy(c.proxy);
        ConnectOptions options;
        options.host = "127.0.0.1";
        options.port = 5100;
        options.proxyHost = "127.0.0.1";
        options.proxyPort = proxy.port();
        options.timeoutMs = c.timeoutMs;
        const ConnectResult result = connectNow(client.io(), options);
        EXPECT_FALSE(result.stream);
        EXPECT_EQ(result.refused, c.refused);
        EXPECT_TRUE(contains(result.error, c.error)) << result.error;
    }
}

TEST(ProxyConnect, KeepsBytesThatFollowTheAnswerHead) {
    ClientIo client;
    EchoServer server(EchoServer::Mode::Plain);
    testutil::ConnectProxy::Options proxyOptions;
    proxyOptions.afterHeaders = "early bytes";
    testutil::ConnectProxy proxy(proxyOptions);
    ConnectOptions options;
    options.host = "127.0.0.1";
    options.port = server.port();
    options.proxyHost = "127.0.0.1";
    options.proxyPort = proxy.port();
    ConnectResult result = connectNow(client.io(), options);
    StreamGuard guard{result.stream};
    ASSERT_TRUE(result.stream) << result.error;
    EXPECT_EQ(exchange(*result.stream, "", 11), "early bytes");
    EXPECT_EQ(exchange(*result.stream, "ping", 4), "ping");
}

// --- Server side ---------------------------------------------------------------------

TEST(TlsServer, ContextNamesTheFileThatCannotBeUsed) {
    const auto& certs = testutil::testCerts();
    struct Case {
        std::string cert, key, error;
    };
    const Case cases[] = {
        {"/nonexistent/cert.pem", certs.serverKey, "The TLS certificate file '/nonexistent/cert.pem' could not be loaded"},
        {certs.serverCert, "/nonexistent/key.pem", "The TLS key file '/nonexistent/key.pem' could not be loaded"},
        {certs.serverCert, certs.otherHostKey, "does not belong to the certificate"},
    };
    for (const Case& c : cases) {
        std::string error;
        EXPECT_FALSE(TlsServerContext::create({c.cert, c.key, TlsVersion::Tls1_3}, &error));
        EXPECT_TRUE(contains(error, c.error)) << error;
    }
}

TEST(TlsServer, AcceptFailsOnAPlainOrSilentClient) {
    const auto& certs = testutil::testCerts();
    auto context = serverContext(certs.serverCert, certs.serverKey);
    ClientIo serverIo;
    tcp::acceptor acceptor(serverIo.io(), tcp::endpoint(asio::ip::make_address("127.0.0.1"), 0));
    const std::pair<std::string, std::string> cases[] = {
        {"GET / HTTP/1.1\r\n\r\n", "failed: "},
        {"", "timed out after 200 ms."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.second);
        asio::io_context clientIo;
        tcp::socket peer(clientIo);
        peer.connect(acceptor.local_endpoint());
        if (!c.first.empty())
            asio::write(peer, asio::buffer(c.first));
        tcp::socket accepted(asio::make_strand(serverIo.io()));
        acceptor.accept(accepted);
        auto promise = std::make_shared<std::promise<std::string>>();
        auto future = promise->get_future();
        asyncTlsAccept(context, std::move(accepted), 200,
                       [promise](std::unique_ptr<ByteStream> stream, std::string error) {
                           promise->set_value(stream ? "<accepted>" : error);
                       });
        ASSERT_EQ(future.wait_for(kWait), std::future_status::ready);
        const std::string error = future.get();
        EXPECT_TRUE(contains(error, "The TLS handshake with 127.0.0.1:")) << error;
        EXPECT_TRUE(contains(error, c.second)) << error;
    }
}

} // namespace
} // namespace detail
} // namespace merrow
