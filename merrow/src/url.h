#pragma once
// The endpoint URLs a session is created with: tcp://host:port and tls://host:port,
// with http://host[:port][/path] and https://host[:port][/path] as their aliases (the
// path is ignored; the ports default to 80 and 443). IPv6 literals go in brackets.

#include <cstdint>
#include <string>

#include "status.h"

namespace merrow {
namespace detail {

struct Endpoint {
    std::string host;  // an IPv6 literal without its brackets
    uint16_t port = 0;
    bool tls = false;
};

// Fills `out` from `url`; on failure `out` is untouched and the reason names the URL,
// written for a person.
Status parseUrl(const std::string& url, Endpoint* out);

} // namespace detail
} // namespace merrow
