#include "statement_server.h"

#include <boost/asio.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>

#include <exception>

namespace pellora::dealer {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
using tcp = asio::ip::tcp;

namespace {

constexpr auto kTimeout = std::chrono::seconds(10);

int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

std::string unescape(const std::string& s) {
    std::string out;
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '%' && i + 2 < s.size() && hexValue(s[i + 1]) >= 0 && hexValue(s[i + 2]) >= 0) {
            out += static_cast<char>(hexValue(s[i + 1]) * 16 + hexValue(s[i + 2]));
            i += 2;
        } else {
            out += s[i] == '+' ? ' ' : s[i];
        }
    }
    return out;
}

// One connection: reads requests and answers each, until the peer closes or idles.
class Connection : public std::enable_shared_from_this<Connection> {
public:
    Connection(tcp::socket socket, const StatementServer::Render& render)
        : stream_(std::move(socket)), render_(render) {}
    void start() { read(); }

private:
    void read() {
        request_ = {};
        stream_.expires_after(kTimeout);
        http::async_read(stream_, buffer_, request_,
                         [self = shared_from_this()](beast::error_code ec, size_t) {
                             if (!ec) self->answer();
                         });
    }
    void answer() {
        auto res = std::make_shared<http::response<http::string_body>>();
        res->version(request_.version());
        res->keep_alive(request_.keep_alive());
        res->set(http::field::server, "pellora-dealer");
        StatementQuery q;
        std::optional<std::string> page;
        if (request_.method() != http::verb::get) {
            res->result(http::status::method_not_allowed);
        } else if (!StatementServer::parseTarget(std::string(request_.target()), q)) {
            res->result(http::status::not_found);
        } else {
            try {
                page = render_(q);
                res->result(page ? http::status::ok : http::status::forbidden);
            } catch (const std::exception&) {
                res->result(http::status::internal_server_error);
            }
        }
        if (page) {
            res->set(http::field::content_type, "text/html; charset=utf-8");
            res->body() = std::move(*page);
        }
        res->prepare_payload();
        http::async_write(stream_, *res, [self = shared_from_this(), res](beast::error_code ec, size_t) {
            if (ec || !res->keep_alive()) {
                beast::error_code ignored;
                self->stream_.socket().shutdown(tcp::socket::shutdown_send, ignored);
                return;
            }
            self->read();
        });
    }

    beast::tcp_stream stream_;
    beast::flat_buffer buffer_;
    http::request<http::string_body> request_;
    const StatementServer::Render& render_;
};

} // namespace

struct StatementServer::Impl {
    explicit Impl(Render r) : render(std::move(r)), acceptor(io) {}
    void accept() {
        acceptor.async_accept([this](beast::error_code ec, tcp::socket socket) {
            if (ec) return;  // closed by stop()
            std::make_shared<Connection>(std::move(socket), render)->start();
            accept();
        });
    }
    Render render;
    asio::io_context io;
    tcp::acceptor acceptor;
    std::thread thread;
};

StatementServer::StatementServer(Render render) : impl_(std::make_unique<Impl>(std::move(render))) {}

StatementServer::~StatementServer() { stop(); }

Status StatementServer::start(const std::string& host, uint16_t port) {
    beast::error_code ec;
    const auto address = asio::ip::make_address(host, ec);
    if (ec) return Status::error("statements: bad address '" + host + "'");
    const tcp::endpoint ep(address, port);
    impl_->acceptor.open(ep.protocol(), ec);
    if (!ec) impl_->acceptor.set_option(asio::socket_base::reuse_address(true), ec);
    if (!ec) impl_->acceptor.bind(ep, ec);
    if (!ec) impl_->acceptor.listen(asio::socket_base::max_listen_connections, ec);
    if (ec) return Status::error("statements: cannot listen on " + host + ":" + std::to_string(port) + " (" + ec.message() + ")");
    host_ = host;
    port_ = impl_->acceptor.local_endpoint().port();
    impl_->accept();
    impl_->thread = std::thread([this] { impl_->io.run(); });
    return Status::ok();
}

void StatementServer::stop() {
    if (!impl_ || !impl_->thread.joinable()) return;
    asio::post(impl_->io, [this] {
        beast::error_code ignored;
        impl_->acceptor.close(ignored);
        impl_->io.stop();
    });
    impl_->thread.join();
}

std::string StatementServer::url() const { return "http://" + host_ + ":" + std::to_string(port_) + "/statement"; }

bool StatementServer::parseTarget(const std::string& target, StatementQuery& out) {
    const size_t q = target.find('?');
    if (target.substr(0, q) != "/statement") return false;
    if (q == std::string::npos) return true;
    const std::string query = target.substr(q + 1);
    size_t at = 0;
    while (at <= query.size()) {
        const size_t amp = std::min(query.find('&', at), query.size());
        const std::string item = query.substr(at, amp - at);
        const size_t eq = item.find('=');
        const std::string key = item.substr(0, eq);
        const std::string value = eq == std::string::npos ? std::string() : unescape(item.substr(eq + 1));
        if (key == "S") out.sessionId = value;
        else if (key == "account") out.account = value;
        else if (key == "from") out.from = value;
        else if (key == "till") out.till = value;
        at = amp + 1;
    }
    return true;
}

} // namespace pellora::dealer
