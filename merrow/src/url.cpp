#include "url.h"

#include <asio/ip/address_v6.hpp>

#include <algorithm>
#include <cctype>
#include <utility>

namespace merrow {
namespace detail {
namespace {

std::string lower(std::string text) {
    for (char& c : text)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

// Host names keep to letters, digits, '-', '_' and '.', which also keeps them safe to
// write into a proxy request line.
bool validHostName(const std::string& host) {
    if (host.empty() || host.size() > 253)
        return false;
    for (char c : host) {
        if (!std::isalnum(static_cast<unsigned char>(c)) && c != '-' && c != '.' && c != '_')
            return false;
    }
    return true;
}

Status invalid(const std::string& url, const std::string& why) {
    return Status::error("The URL '" + url + "' is not valid: " + why +
                         ". Use tcp://host:port, tls://host:port, http://host[:port] or "
                         "https://host[:port].");
}

} // namespace

Status parseUrl(const std::string& url, Endpoint* out) {
    const std::size_t schemeEnd = url.find("://");
    if (schemeEnd == std::string::npos)
        return invalid(url, "it has no scheme");
    const std::string scheme = lower(url.substr(0, schemeEnd));
    Endpoint ep;
    bool web = false;
    uint16_t defaultPort = 0;
    if (scheme == "tcp") {
    } else if (scheme == "tls") {
        ep.tls = true;
    } else if (scheme == "http") {
        web = true;
        defaultPort = 80;
    } else if (scheme == "https") {
        web = true;
        ep.tls = true;
        defaultPort = 443;
    } else {
        return invalid(url, "the scheme '" + url.substr(0, schemeEnd) + "' is not supported");
    }

    const std::string rest = url.substr(schemeEnd + 3);
    std::size_t authorityEnd = std::min(rest.find_first_of("/?#"), rest.size());
    if (!web && authorityEnd != rest.size())
        return invalid(url, "a " + scheme + " URL takes no path");
    const std::string authority = rest.substr(0, authorityEnd);
    if (authority.find('@') != std::string::npos)
        return invalid(url, "user names in the URL are not supported");

    std::string portText;
    bool hasPort = false;
    if (!authority.empty() && authority[0] == '[') {
        const std::size_t close = authority.find(']');
        if (close == std::string::npos)
            return invalid(url, "the IPv6 address has no closing ']'");
        ep.host = authority.substr(1, close - 1);
        asio::error_code ec;
        asio::ip::make_address_v6(ep.host, ec);
        if (ec || ep.host.empty())
            return invalid(url, "'" + ep.host + "' is not an IPv6 address");
        const std::string after = authority.substr(close + 1);
        if (!after.empty()) {
            if (after[0] != ':')
                return invalid(url, "unexpected text after the IPv6 address");
            hasPort = true;
            portText = after.substr(1);
        }
    } else {
        const std::size_t colon = authority.find(':');
        ep.host = authority.substr(0, colon);
        if (colon != std::string::npos) {
            hasPort = true;
            portText = authority.substr(colon + 1);
        }
        if (ep.host.empty())
            return invalid(url, "it has no host");
        if (!validHostName(ep.host))
            return invalid(url, "'" + ep.host + "' is not a valid host name");
    }

    if (hasPort) {
        if (portText.empty() || portText.size() > 5)
            return invalid(url, "the port must be a number from 1 to 65535");
        unsigned long port = 0;
        for (char c : portText) {
            if (!std::isdigit(static_cast<unsigned char>(c)))
                return invalid(url, "the port must be a number from 1 to 65535");
            port = port * 10 + static_cast<unsigned long>(c - '0');
        }
        if (port == 0 || port > 65535)
            return invalid(url, "the port must be a number from 1 to 65535");
        ep.port = static_cast<uint16_t>(port);
    } else if (web) {
        ep.port = defaultPort;
    } else {
        return invalid(url, "it has no port");
    }
    *out = std::move(ep);
    return Status();
}

} // namespace detail
} // namespace merrow
