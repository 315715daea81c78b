// pellora-dealer: the reference dealing server. Runs the demo world or a JSON world,
// prints one ready line, and on SIGINT/SIGTERM sends every session the shutdown
// notice, saves the state and exits 0. A bad command line or configuration exits 2.

#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <memory>
#include <string>

#include <pthread.h>

#include "certificates.h"
#include "control.h"
#include "dealer.h"
#include "demo_world.h"
#include "options.h"
#include "world_json.h"

using namespace pellora::dealer;

namespace {

// One line on standard error in one write, so lines of different threads never mix.
void logLine(const std::string& line) {
    const std::string text = "pellora-dealer: " + line + "\n";
    std::fwrite(text.data(), 1, text.size(), stderr);
}

int fail(int code, const std::string& text) {
    std::cerr << "pellora-dealer: " << text << std::endl;
    return code;
}

std::string absolute(const std::string& path) {
    char buf[PATH_MAX];
    return ::realpath(path.c_str(), buf) ? std::string(buf) : path;
}

std::string urlText(const ListenUrl& u, uint16_t port) {
    const bool v6 = u.host.find(':') != std::string::npos;
    return u.scheme + "://" + (v6 ? "[" + u.host + "]" : u.host) + ":" + std::to_string(port);
}

} // namespace

int main(int argc, char** argv) {
    Options opt;
    if (Status s = parseOptions(argc, argv, opt); !s.isOk())
        return fail(kExitBadUsage, s.text() + "\n" + usageText());
    if (opt.help) {
        std::cout << usageText() << std::endl;
        return 0;
    }

    DealerConfig config;
    if (opt.configFile.empty()) {
        config.world = demoWorld();
    } else if (Status s = loadWorldFile(opt.configFile, config.world); !s.isOk()) {
        return fail(kExitBadUsage, s.text());
    }
    if (Status s = config.world.validate(); !s.isOk())
        return fail(kExitBadUsage, (opt.configFile.empty() ? std::string("demo world") : opt.configFile) + ": " + s.text());
    for (const std::string& u : plainPasswordUsers(config.world))
        std::cerr << "pellora-dealer: warning: user '" << u << "' has a plain-text password" << std::endl;
    config.dataDir = opt.dataDir;
    bool inUse = false;
    if (Status s = DataFolderLock::acquire(opt.dataDir, config.folderLock, &inUse); !s.isOk())
        return fail(inUse ? kExitBadUsage : 1, s.text());
    config.seed = opt.seed;
    // A tick rate of 0 runs without price moves (set-price still works).
    config.tickRate = opt.tickRate > 0 ? opt.tickRate : 1;
    config.virtualClock = opt.virtualClock;
    config.serverOptions.log = logLine;
    config.log = logLine;

    // Signals are taken by sigwait below; every thread started from here on blocks them.
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    std::signal(SIGPIPE, SIG_IGN);

    std::unique_ptr<Dealer> dealer;
    if (Status s = Dealer::create(std::move(config), dealer); !s.isOk()) return fail(1, s.text());
    CertificateFiles certs;
    bool created = false;
    if (Status s = ensureCertificates(opt.dataDir, certs, &created); !s.isOk()) return fail(1, s.text());
    for (const ListenUrl& u : opt.listen) {
        Status s = u.scheme == "tls" ? dealer->listen(u.text, certs.certFile, certs.keyFile) : dealer->listen(u.text);
        if (!s.isOk()) return fail(1, s.text());
    }
    if (Status s = dealer->listenStatements("127.0.0.1", 0); !s.isOk()) return fail(1, s.text());
    if (opt.tickRate == 0) dealer->stopPrices();
    if (Status s = dealer->start(); !s.isOk()) return fail(1, s.text());
    ControlSocket control(*dealer);
    if (!opt.controlSocket.empty())
        if (Status s = control.start(opt.controlSocket); !s.isOk()) return fail(1, s.text());

    std::string ready = "pellora-dealer ready";
    for (size_t i = 0; i < opt.listen.size(); ++i) ready += " " + urlText(opt.listen[i], dealer->boundPort(i));
    ready += " ca=" + absolute(certs.caFile);
    ready += " statements=" + dealer->statementUrl();
    std::cout << ready << std::endl;

    int sig = 0;
    sigwait(&signals, &sig);
    std::cerr << "pellora-dealer: signal " << sig << ", shutting down" << std::endl;
    control.stop();
    dealer->stop();
    return 0;
}
