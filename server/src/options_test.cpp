#include "options.h"

#include <gtest/gtest.h>

namespace pellora::dealer {
namespace {

Status parse(std::vector<const char*> args, Options& o) {
    args.insert(args.begin(), "pellora-dealer");
    return parseOptions(static_cast<int>(args.size()), args.data(), o);
}

TEST(Options, DefaultsWithoutArguments) {
    Options o;
    ASSERT_TRUE(parse({}, o).isOk());
    EXPECT_TRUE(o.configFile.empty());
    EXPECT_EQ(o.dataDir, "./pellora-data");
    ASSERT_EQ(o.listen.size(), 2u);
    EXPECT_EQ(o.listen[0].text, "tls://127.0.0.1:7443");
    EXPECT_EQ(o.listen[1].scheme, "tcp");
    EXPECT_EQ(o.listen[1].port, 7080);
    EXPECT_EQ(o.tickRate, 20);
    EXPECT_FALSE(o.virtualClock);
    EXPECT_TRUE(o.controlSocket.empty());
}

TEST(Options, EveryOptionInBothForms) {
    Options o;
    ASSERT_TRUE(parse({"--config", "w.json", "--data=/tmp/d", "--listen", "tcp://localhost:0", "--listen=tls://[::1]:9",
                       "--seed", "18446744073709551615", "--tick-rate=0", "--virtual-clock", "--control",
                       "unix:/tmp/ctl.sock"},
                      o)
                    .isOk());
    EXPECT_EQ(o.configFile, "w.json");
    EXPECT_EQ(o.dataDir, "/tmp/d");
    ASSERT_EQ(o.listen.size(), 2u);  // given ones replace the defaults
    EXPECT_EQ(o.listen[0].host, "localhost");
    EXPECT_EQ(o.listen[0].port, 0);
    EXPECT_EQ(o.listen[1].host, "::1");
    EXPECT_EQ(o.listen[1].port, 9);
    EXPECT_EQ(o.seed, 18446744073709551615ull);
    EXPECT_EQ(o.tickRate, 0);
    EXPECT_TRUE(o.virtualClock);
    EXPECT_EQ(o.controlSocket, "/tmp/ctl.sock");
}

TEST(Options, BadCommandLinesSayWhy) {
    struct Case {
        std::vector<const char*> args;
        const char* text;
    } cases[] = {
        {{"--bogus"}, "unknown option '--bogus'"},
        {{"world.json"}, "unexpected argument 'world.json'"},
        {{"--config"}, "--config needs a value"},
        {{"--config", "a", "--config", "b"}, "--config is given twice"},
        {{"--virtual-clock", "--virtual-clock"}, "--virtual-clock is given twice"},
        {{"--seed", "-1"}, "--seed must be a whole number of at least 0"},
        {{"--seed", "18446744073709551616"}, "--seed must be a whole number of at least 0"},
        {{"--tick-rate", "fast"}, "--tick-rate must be a number from 0 to 1000000"},
        {{"--tick-rate", "1000001"}, "--tick-rate must be a number from 0 to 1000000"},
        {{"--control", "/tmp/x"}, "--control must be unix:PATH"},
        {{"--control=unix:"}, "--control must be unix:PATH"},
        {{"--listen", "127.0.0.1:80"}, "--listen 127.0.0.1:80: expected tcp://HOST:PORT or tls://HOST:PORT"},
        {{"--listen", "http://h:1"}, "--listen http://h:1: the scheme must be tcp or tls"},
        {{"--listen", "tcp://h"}, "--listen tcp://h: the port is missing"},
        {{"--listen", "tcp://:1"}, "--listen tcp://:1: the host is missing"},
        {{"--listen", "tcp://h:65536"}, "--listen tcp://h:65536: the port must be a number from 0 to 65535"},
        {{"--listen", "tcp://::1:5"}, "--listen tcp://::1:5: an IPv6 address is written [ADDRESS]:PORT"},
    };
    for (const Case& c : cases) {
        Options o;
        const Status s = parse(c.args, o);
        ASSERT_FALSE(s.isOk()) << c.text;
        EXPECT_EQ(s.text(), c.text);
    }
    EXPECT_EQ(kExitBadUsage, 2);
}

TEST(Options, HelpIsAFlag) {
    Options o;
    ASSERT_TRUE(parse({"--help"}, o).isOk());
    EXPECT_TRUE(o.help);
    EXPECT_NE(usageText().find("--control unix:PATH"), std::string::npos);
}

} // namespace
} // namespace pellora::dealer
