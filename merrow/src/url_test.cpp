#include "url.h"

#include <gtest/gtest.h>

namespace merrow {
namespace detail {
namespace {

struct GoodUrl {
    const char* url;
    const char* host;
    uint16_t port;
    bool tls;
};

TEST(ParseUrl, AcceptsEachFormAndAlias) {
    const GoodUrl cases[] = {
        {"tcp://dealer.example.com:5100", "dealer.example.com", 5100, false},
        {"tls://dealer.example.com:5101", "dealer.example.com", 5101, true},
        {"TLS://Dealer:1", "Dealer", 1, true},
        {"tcp://127.0.0.1:65535", "127.0.0.1", 65535, false},
        {"tls://[::1]:5101", "::1", 5101, true},
        {"tcp://[2001:db8::17]:80", "2001:db8::17", 80, false},
        {"http://dealer", "dealer", 80, false},
        {"https://dealer", "dealer", 443, true},
        {"http://dealer:8080/fix/gateway?x=1#top", "dealer", 8080, false},
        {"https://dealer/trading", "dealer", 443, true},
        {"https://[::1]/path", "::1", 443, true},
        {"https://[::1]:8443", "::1", 8443, true},
        {"http://my_host-1.local:81/", "my_host-1.local", 81, false},
    };
    for (const GoodUrl& c : cases) {
        SCOPED_TRACE(c.url);
        Endpoint ep;
        const Status status = parseUrl(c.url, &ep);
        ASSERT_TRUE(status.ok()) << status.reason();
        EXPECT_EQ(ep.host, c.host);
        EXPECT_EQ(ep.port, c.port);
        EXPECT_EQ(ep.tls, c.tls);
    }
}

TEST(ParseUrl, RefusesOtherFormsNamingTheUrl) {
    const char* cases[] = {
        "",
        "dealer:5100",
        "ftp://dealer:21",
        "tcp://dealer",             // tcp and tls need a port
        "tls://dealer:",
        "tcp://:5100",
        "tcp://dealer:0",
        "tcp://dealer:65536",
        "tcp://dealer:99999999999",
        "tcp://dealer:51x0",
        "tcp://dealer:5100/path",   // only the web aliases take a path
        "tcp://user@dealer:5100",
        "tcp://deal er:5100",
        "tcp://dealer\r\nHost: x:5100",
        "tcp://[::1:5100",
        "tcp://[not-v6]:5100",
        "tcp://[]:5100",
        "tcp://[::1]5100",
        "http://",
        "https://:443",
        "tcp://::1:5100",           // IPv6 needs brackets
    };
    for (const char* url : cases) {
        SCOPED_TRACE(url);
        Endpoint ep;
        ep.host = "untouched";
        const Status status = parseUrl(url, &ep);
        EXPECT_FALSE(status.ok());
        EXPECT_NE(status.reason().find(std::string("'") + url + "'"), std::string::npos)
            << status.reason();
        EXPECT_EQ(ep.host, "untouched");
    }
}

} // namespace
} // namespace detail
} // namespace merrow
