#include "proxy_connect.h"

#include <cctype>
#include <memory>
#include <utility>

namespace merrow {
namespace detail {

std::string base64Encode(const std::string& data) {
    static const char kAlphabet[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    out.reserve((data.size() + 2) / 3 * 4);
    std::size_t i = 0;
    for (; i + 2 < data.size(); i += 3) {
        const unsigned v = (static_cast<unsigned char>(data[i]) << 16) |
                           (static_cast<unsigned char>(data[i + 1]) << 8) |
                           static_cast<unsigned char>(data[i + 2]);
        out += kAlphabet[(v >> 18) & 63];
        out += kAlphabet[(v >> 12) & 63];
        out += kAlphabet[(v >> 6) & 63];
        out += kAlphabet[v & 63];
    }
    if (i < data.size()) {
        unsigned v = static_cast<unsigned char>(data[i]) << 16;
        if (i + 1 < data.size())
            v |= static_cast<unsigned char>(data[i + 1]) << 8;
        out += kAlphabet[(v >> 18) & 63];
        out += kAlphabet[(v >> 12) & 63];
        out += i + 1 < data.size() ? kAlphabet[(v >> 6) & 63] : '=';
        out += '=';
    }
    return out;
}

std::string buildConnectRequest(const std::string& host, uint16_t port, const std::string& user,
                                const std::string& password) {
    const std::string target = (host.find(':') != std::string::npos ? "[" + host + "]" : host) +
                               ":" + std::to_string(port);
    std::string request = "CONNECT " + target + " HTTP/1.1\r\nHost: " + target + "\r\n";
    if (!user.empty())
        request += "Proxy-Authorization: Basic " + base64Encode(user + ":" + password) + "\r\n";
    request += "\r\n";
    return request;
}

std::size_t findAnswerHeadEnd(const std::string& data) {
    for (std::size_t nl = data.find('\n'); nl != std::string::npos; nl = data.find('\n', nl + 1)) {
        std::size_t next = nl + 1;
        if (next < data.size() && data[next] == '\r')
            ++next;
        if (next < data.size() && data[next] == '\n')
            return next + 1;
    }
    return std::string::npos;
}

Status checkConnectAnswer(const std::string& head) {
    std::string line = head.substr(0, head.find('\n'));
    if (!line.empty() && line.back() == '\r')
        line.pop_back();
    // The line comes from outside and ends up in logs and exceptions: printable only.
    std::string shown;
    for (char c : line) {
        if (shown.size() >= 200)
            break;
        shown += std::isprint(static_cast<unsigned char>(c)) ? c : '?';
    }
    // "HTTP/1.x SSS[ reason]"
    const bool http = line.size() >= 12 && line.compare(0, 5, "HTTP/") == 0 &&
                      line.find(' ') != std::string::npos;
    const std::size_t space = line.find(' ');
    const std::string code = http ? line.substr(space + 1, 3) : std::string();
    const bool numeric = code.size() == 3 && std::isdigit(static_cast<unsigned char>(code[0])) &&
                         std::isdigit(static_cast<unsigned char>(code[1])) &&
                         std::isdigit(static_cast<unsigned char>(code[2])) &&
                         (line.size() == space + 4 || line[space + 4] == ' ');
    if (!numeric)
        return Status::error("The proxy did not answer as an HTTP proxy: '" + shown + "'.");
    if (code != "200")
        return Status::error("The proxy refused the connection: " + shown);
    return Status();
}

namespace {

class ProxyExchange : public std::enable_shared_from_this<ProxyExchange> {
public:
    ProxyExchange(asio::ip::tcp::socket& socket, std::string request, std::string proxyName,
                  ProxyHandler handler)
        : m_socket(socket), m_request(std::move(request)), m_proxyName(std::move(proxyName)),
          m_handler(std::move(handler)) {}

    void start() {
        asio::async_write(m_socket, asio::buffer(m_request),
                          [self = shared_from_this()](const asio::error_code& ec, std::size_t) {
                              if (ec)
                                  return self->finish("Could not send the tunnel request to " +
                                                          self->m_proxyName + ": " + ec.message() + ".",
                                                      false);
                              self->waitReadable();
                          });
    }

private:
    void waitReadable() {
        m_socket.async_wait(asio::ip::tcp::socket::wait_read,
                            [self = shared_from_this()](const asio::error_code& ec) {
                                self->onReadable(ec);
                            });
    }

    // Peeks at what arrived and consumes no more than the answer head.
    void onReadable(const asio::error_code& waitError) {
        if (waitError)
            return lost(waitError);
        asio::error_code ec;
        m_socket.non_blocking(true, ec);
        char chunk[4096];
        const std::size_t room = std::min(sizeof chunk, kMaxProxyAnswerHead - m_head.size());
        const std::size_t peeked =
            m_socket.receive(asio::buffer(chunk, room), asio::socket_base::message_peek, ec);
        if (ec == asio::error::would_block || ec == asio::error::try_again)
            return waitReadable();
        if (ec)
            return lost(ec);
        if (peeked == 0)
            return lost(asio::error::eof);

        const std::size_t before = m_head.size();
        m_head.append(chunk, peeked);
        const std::size_t end = findAnswerHeadEnd(m_head);
        const std::size_t take = end == std::string::npos ? peeked : end - before;
        m_head.resize(before + take);
        const std::size_t got = m_socket.receive(asio::buffer(chunk, take), 0, ec);
        if (ec || got != take)
            return lost(ec ? ec : asio::error::eof);

        if (end == std::string::npos) {
            if (m_head.size() >= kMaxProxyAnswerHead)
                return finish("The answer of " + m_proxyName + " is longer than " +
                                  std::to_string(kMaxProxyAnswerHead / 1024) + " KiB.",
                              true);
            return waitReadable();
        }
        m_socket.non_blocking(false, ec);
        const Status verdict = checkConnectAnswer(m_head);
        finish(verdict.reason(), !verdict.ok());
    }

    void lost(const asio::error_code& ec) {
        if (ec == asio::error::eof)
            return finish("The connection to " + m_proxyName +
                              " was closed before the proxy answered the tunnel request.",
                          false);
        finish("Reading the answer of " + m_proxyName + " failed: " + ec.message() + ".", false);
    }

    void finish(const std::string& error, bool refused) {
        ProxyHandler handler = std::move(m_handler);
        handler(error, refused);
    }

    asio::ip::tcp::socket& m_socket;
    std::string m_request;
    std::string m_proxyName;
    ProxyHandler m_handler;
    std::string m_head;
};

} // namespace

void asyncProxyConnect(asio::ip::tcp::socket& socket, std::string request, std::string proxyName,
                       ProxyHandler handler) {
    std::make_shared<ProxyExchange>(socket, std::move(request), std::move(proxyName),
                                    std::move(handler))
        ->start();
}

} // namespace detail
} // namespace merrow
