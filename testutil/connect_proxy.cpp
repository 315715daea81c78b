#include "testutil/connect_proxy.h"

#include "core/base/mutex.h"

#include <asio.hpp>

#include <array>
#include <cctype>
#include <thread>
#include <utility>

namespace testutil {

using asio::ip::tcp;

struct ConnectProxy::Impl {
    explicit Impl(Options opts) : options(std::move(opts)), acceptor(io) {
        const tcp::endpoint local(asio::ip::make_address("127.0.0.1"), 0);
        acceptor.open(local.protocol());
        acceptor.set_option(tcp::acceptor::reuse_address(true));
        acceptor.bind(local);
        acceptor.listen();
        listenPort = acceptor.local_endpoint().port();
        accept();
        thread = std::thread([this] { io.run(); });
    }

    ~Impl() {
        io.stop();
        thread.join();
    }

    void accept();
    void record(const std::string& head) {
        zel::LockGuard<zel::Mutex> lock(mutex);
        heads.push_back(head);
    }

    const Options options;
    asio::io_context io;
    tcp::acceptor acceptor;
    uint16_t listenPort = 0;
    std::thread thread;
    mutable zel::Mutex mutex;
    std::vector<std::string> heads ZEL_GUARDED_BY(mutex);
};

namespace {

std::string headerValue(const std::string& head, const std::string& name) {
    std::size_t pos = head.find("\r\n");
    while (pos != std::string::npos) {
        const std::size_t start = pos + 2;
        const std::size_t end = head.find("\r\n", start);
        const std::string line = head.substr(start, end == std::string::npos ? end : end - start);
        const std::size_t colon = line.find(':');
        if (colon != std::string::npos) {
            std::string key = line.substr(0, colon);
            for (char& c : key)
                c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
            if (key == name) {
                std::size_t v = colon + 1;
                while (v < line.size() && line[v] == ' ')
                    ++v;
                return line.substr(v);
            }
        }
        pos = end;
    }
    return std::string();
}

// One client connection: the request, then either an answer and close, or a tunnel.
class Tunnel : public std::enable_shared_from_this<Tunnel> {
public:
    Tunnel(ConnectProxy::Impl& proxy, tcp::socket client)
        : m_proxy(proxy), m_client(std::move(client)), m_target(proxy.io), m_resolver(proxy.io) {}

    void start() {
        asio::async_read_until(m_client, m_request, "\r\n\r\n",
                               [self = shared_from_this()](const asio::error_code& ec, std::size_t n) {
                                   if (!ec)
                                       self->onRequest(n);
                               });
    }

private:
    void onRequest(std::size_t headSize) {
        const std::string head(asio::buffers_begin(m_request.data()),
                               asio::buffers_begin(m_request.data()) + static_cast<std::ptrdiff_t>(headSize));
        m_request.consume(headSize);
        m_proxy.record(head);
        const ConnectProxy::Options& options = m_proxy.options;
        if (!options.rawAnswer.empty())
            return answer(options.rawAnswer, true);
        if (options.refuseWith != 0)
            return answer("HTTP/1.1 " + std::to_string(options.refuseWith) +
                              (options.refuseWith == 403 ? " Forbidden" : " Refused") +
                              "\r\nContent-Length: 0\r\n\r\n",
                          false);
        if (!options.requiredAuthorization.empty() &&
            headerValue(head, "proxy-authorization") != options.requiredAuthorization)
            return answer("HTTP/1.1 407 Proxy Authentication Required\r\n"
                          "Proxy-Authenticate: Basic realm=\"test\"\r\nContent-Length: 0\r\n\r\n",
                          false);

        // "CONNECT host:port HTTP/1.1"
        const std::size_t first = head.find(' ');
        const std::size_t second = head.find(' ', first + 1);
        std::string target = head.substr(first + 1, second - first - 1);
        const std::size_t colon = target.rfind(':');
        std::string host = target.substr(0, colon);
        std::string port = target.substr(colon + 1);
        if (host.size() > 1 && host.front() == '[')
            host = host.substr(1, host.size() - 2);
        if (!options.routeHost.empty()) {
            host = options.routeHost;
            port = std::to_string(options.routePort);
        }
        m_resolver.async_resolve(host, port,
                                 [self = shared_from_this()](const asio::error_code& ec,
                                                             tcp::resolver::results_type results) {
                                     if (ec)
                                         return self->answer("HTTP/1.1 502 Bad Gateway\r\n\r\n", false);
                                     asio::async_connect(self->m_target, results,
                                                         [self](const asio::error_code& ec, const tcp::endpoint&) {
                                                             self->onTargetConnected(ec);
                                                         });
                                 });
    }

    void onTargetConnected(const asio::error_code& ec) {
        if (ec)
            return answer("HTTP/1.1 502 Bad Gateway\r\n\r\n", false);
        m_answer = "HTTP/1.1 200 Connection established\r\n\r\n" + m_proxy.options.afterHeaders;
        asio::async_write(m_client, asio::buffer(m_answer),
                          [self = shared_from_this()](const asio::error_code& ec, std::size_t) {
                              if (ec)
                                  return self->closeBoth();
                              self->forwardEarlyBytes();
                          });
    }

    // Bytes the client sent behind its request head go to the target first.
    void forwardEarlyBytes() {
        if (m_request.size() == 0)
            return splice();
        asio::async_write(m_target, m_request.data(),
                          [self = shared_from_this()](const asio::error_code& ec, std::size_t n) {
                              if (ec)
                                  return self->closeBoth();
                              self->m_request.consume(n);
                              self->splice();
                          });
    }

    void splice() {
        pump(m_client, m_target, m_up);
        pump(m_target, m_client, m_down);
    }

    void pump(tcp::socket& from, tcp::socket& to, std::array<char, 16384>& buffer) {
        from.async_read_some(asio::buffer(buffer), [self = shared_from_this(), &from, &to,
                                                    &buffer](const asio::error_code& ec, std::size_t n) {
            if (ec)
                return self->closeBoth();
            asio::async_write(to, asio::buffer(buffer.data(), n),
                              [self, &from, &to, &buffer](const asio::error_code& ec, std::size_t) {
                                  if (ec)
                                      return self->closeBoth();
                                  self->pump(from, to, buffer);
                              });
        });
    }

    void answer(const std::string& text, bool holdOpen) {
        m_answer = text;
        asio::async_write(m_client, asio::buffer(m_answer),
                          [self = shared_from_this(), holdOpen](const asio::error_code& ec, std::size_t) {
                              if (ec || !holdOpen)
                                  return self->closeBoth();
                              self->hold();
                          });
    }

    // Reads and discards until the client goes away.
    void hold() {
        m_client.async_read_some(asio::buffer(m_up), [self = shared_from_this()](const asio::error_code& ec,
                                                                                 std::size_t) {
            if (ec)
                return self->closeBoth();
            self->hold();
        });
    }

    void closeBoth() {
        asio::error_code ignored;
        m_client.close(ignored);
        m_target.close(ignored);
    }

    ConnectProxy::Impl& m_proxy;
    tcp::socket m_client;
    tcp::socket m_target;
    tcp::resolver m_resolver;
    asio::streambuf m_request{16384};
    std::string m_answer;
    std::array<char, 16384> m_up{};
    std::array<char, 16384> m_down{};
};

} // namespace

void ConnectProxy::Impl::accept() {
    acceptor.async_accept([this](const asio::error_code& ec, tcp::socket socket) {
        if (ec)
            return;
        std::make_shared<Tunnel>(*this, std::move(socket))->start();
        accept();
    });
}

ConnectProxy::ConnectProxy(Options options) : m_impl(std::make_unique<Impl>(std::move(options))) {}
ConnectProxy::ConnectProxy() : ConnectProxy(Options()) {}
ConnectProxy::~ConnectProxy() = default;

uint16_t ConnectProxy::port() const { return m_impl->listenPort; }

std::vector<std::string> ConnectProxy::requests() const {
    zel::LockGuard<zel::Mutex> lock(m_impl->mutex);
    return m_impl->heads;
}

} // namespace testutil
