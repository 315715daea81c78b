#include "options.h"

#include <cerrno>
#include <cstdlib>
#include <set>

namespace pellora::dealer {

namespace {

bool parseUnsigned(const std::string& s, unsigned long long max, unsigned long long& out) {
    if (s.empty() || s.size() > 20) return false;
    for (char c : s)
        if (c < '0' || c > '9') return false;
    errno = 0;
    out = std::strtoull(s.c_str(), nullptr, 10);
    return errno == 0 && out <= max;
}

} // namespace

Status parseListenUrl(const std::string& text, ListenUrl& out) {
    const std::string bad = "--listen " + text + ": ";
    const size_t sep = text.find("://");
    if (sep == std::string::npos) return Status::error(bad + "expected tcp://HOST:PORT or tls://HOST:PORT");
    ListenUrl u;
    u.text = text;
    u.scheme = text.substr(0, sep);
    if (u.scheme != "tcp" && u.scheme != "tls") return Status::error(bad + "the scheme must be tcp or tls");
    std::string rest = text.substr(sep + 3);
    size_t colon;
    if (!rest.empty() && rest[0] == '[') {
        const size_t close = rest.find(']');
        if (close == std::string::npos || close + 1 >= rest.size() || rest[close + 1] != ':')
            return Status::error(bad + "an IPv6 address is written [ADDRESS]:PORT");
        u.host = rest.substr(1, close - 1);
        colon = close + 1;
    } else {
        colon = rest.rfind(':');
        if (colon == std::string::npos) return Status::error(bad + "the port is missing");
        u.host = rest.substr(0, colon);
        if (u.host.find(':') != std::string::npos)
            return Status::error(bad + "an IPv6 address is written [ADDRESS]:PORT");
    }
    if (u.host.empty()) return Status::error(bad + "the host is missing");
    if (u.host.find_first_of("/?#@ ") != std::string::npos) return Status::error(bad + "the host is not valid");
    unsigned long long port = 0;
    if (!parseUnsigned(rest.substr(colon + 1), 65535, port))
        return Status::error(bad + "the port must be a number from 0 to 65535");
    u.port = static_cast<int>(port);
    out = u;
    return Status::ok();
}

Status parseOptions(int argc, const char* const* argv, Options& out) {
    Options o;
    std::set<std::string> seen;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i] ? argv[i] : "";
        if (arg == "--help" || arg == "-h") {
            o.help = true;
            continue;
        }
        if (arg == "--virtual-clock") {
            if (!seen.insert(arg).second) return Status::error("--virtual-clock is given twice");
            o.virtualClock = true;
            continue;
        }
        if (arg.rfind("--", 0) != 0) return Status::error("unexpected argument '" + arg + "'");
        std::string name = arg, value;
        bool hasValue = false;
        if (const size_t eq = arg.find('='); eq != std::string::npos) {
            name = arg.substr(0, eq);
            value = arg.substr(eq + 1);
            hasValue = true;
        }
        static const std::set<std::string> known = {"--config", "--data", "--listen", "--seed", "--tick-rate",
                                                    "--control"};
        if (!known.count(name)) return Status::error("unknown option '" + name + "'");
        if (!hasValue) {
            if (i + 1 >= argc || !argv[i + 1]) return Status::error(name + " needs a value");
            value = argv[++i];
        }
        if (name != "--listen" && !seen.insert(name).second) return Status::error(name + " is given twice");
        if (name == "--config") {
            if (value.empty()) return Status::error("--config needs a file name");
            o.configFile = value;
        } else if (name == "--data") {
            if (value.empty()) return Status::error("--data needs a folder");
            o.dataDir = value;
        } else if (name == "--listen") {
            ListenUrl u;
            if (Status s = parseListenUrl(value, u); !s.isOk()) return s;
            o.listen.push_back(u);
        } else if (name == "--seed") {
            unsigned long long v = 0;
            if (!parseUnsigned(value, UINT64_MAX, v)) return Status::error("--seed must be a whole number of at least 0");
            o.seed = v;
        } else if (name == "--tick-rate") {
            unsigned long long v = 0;
            if (!parseUnsigned(value, 1000000, v)) return Status::error("--tick-rate must be a number from 0 to 1000000");
            o.tickRate = static_cast<int>(v);
        } else if (name == "--control") {
            if (value.rfind("unix:", 0) != 0 || value.size() == 5)
                return Status::error("--control must be unix:PATH");
            o.controlSocket = value.substr(5);
        }
    }
    if (o.listen.empty())
        for (const char* d : {"tls://127.0.0.1:7443", "tcp://127.0.0.1:7080"}) {
            ListenUrl u;
            (void)parseListenUrl(d, u);  // the defaults are well-formed
            o.listen.push_back(u);
        }
    out = o;
    return Status::ok();
}

std::string usageText() {
    return "usage: pellora-dealer [--config FILE] [--data DIR] [--listen URL]... [--seed N]\n"
           "                      [--tick-rate N] [--virtual-clock] [--control unix:PATH]\n"
           "  --config FILE      the world to serve (default: the built-in demo world)\n"
           "  --data DIR         state, database and certificates (default: ./pellora-data)\n"
           "  --listen URL       tcp://HOST:PORT or tls://HOST:PORT, repeatable; port 0 takes a free one\n"
           "                     (default: tls://127.0.0.1:7443 and tcp://127.0.0.1:7080)\n"
           "  --seed N           seed of prices and history (default: 1)\n"
           "  --tick-rate N      price updates per second over all instruments (default: 20)\n"
           "  --virtual-clock    time and prices move only by control commands\n"
           "  --control unix:PATH  a control socket, one command per line\n";
}

} // namespace pellora::dealer
