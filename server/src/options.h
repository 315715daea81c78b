#pragma once
// The dealer's command line. Parsing never exits or prints: a bad command line gives
// a status whose text the caller prints before exiting with kExitBadUsage.

#include <cstdint>
#include <string>
#include <vector>

#include "status.h"

namespace pellora::dealer {

constexpr int kExitBadUsage = 2;

struct ListenUrl {
    std::string scheme;  // "tcp" or "tls"
    std::string host;    // a name or address; IPv6 without its brackets
    int port = 0;        // 0: any free port
    std::string text;    // as given
};

struct Options {
    std::string configFile;                 // empty: the built-in demo world
    std::string dataDir = "./pellora-data";
    std::vector<ListenUrl> listen;          // defaults filled in when none is given
    uint64_t seed = 1;
    int tickRate = 20;                      // price updates per second over all instruments
    bool virtualClock = false;
    std::string controlSocket;              // the PATH of --control unix:PATH; empty: none
    bool help = false;
};

// Accepts "--name value" and "--name=value"; --listen may repeat, other options not.
Status parseOptions(int argc, const char* const* argv, Options& out);
Status parseListenUrl(const std::string& text, ListenUrl& out);
std::string usageText();

} // namespace pellora::dealer
