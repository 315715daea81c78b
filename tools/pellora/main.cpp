// pellora: the command-line tool of the Pellora SDK. Logs in to a dealing server,
// prints its tables, places and manages orders and fetches price history, all
// through the public SDK. Exit codes: 0 done, 1 refused by the server (its text on
// stderr), 2 a usage or connection error (one line on stderr).

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <memory>

#include <CLI/CLI.hpp>
#include <fmt/format.h>

#include "client.h"
#include "commands.h"
#include "settings.h"

using namespace pellora::cli;

namespace {

void onSignal(int) { g_interrupted = true; }

// A number of seconds from min to max, with a reason people can read.
CLI::Validator secondsFrom(double min, double max) {
    return CLI::Validator(
        [min, max](std::string& text) -> std::string {
            char* end = nullptr;
            const double v = std::strtod(text.c_str(), &end);
            if (text.empty() || *end != '\0' || !(v >= min && v <= max))
                return fmt::format("'{}' is not a number of seconds from {} to {}", text, min, max);
            return {};
        },
        "");
}

int report(const Failure& f) {
    std::string text = f.text;
    for (char& c : text)
        if (c == '\n' || c == '\r') c = ' ';
    std::cerr << "pellora: " << text << std::endl;
    return f.exitCode;
}

}  // namespace

int main(int argc, char** argv) {
    CLI::App app{"pellora: trade and inspect a Pellora dealing server from the command line.\n"
                 "Connection settings come from the flags, then PELLORA_URL, PELLORA_USER, PELLORA_CONNECTION,\n"
                 "PELLORA_PASSWORD (and PELLORA_CA, PELLORA_SESSION, PELLORA_PIN), then ~/.config/pellora/config;\n"
                 "without any, the local dealer at " + std::string(kDefaultUrl) + ", connection " + kDefaultConnection +
                 ".\nExit codes: 0 done, 1 refused by the server, 2 usage or connection error.",
                 "pellora"};
    app.require_subcommand(1);
    app.fallthrough();

    SettingFlags flags;
    std::string format;
    bool json = false, verbose = false;
    double timeout = 20;
    app.add_option("--url", flags.url, "server address, tcp://HOST:PORT or tls://HOST:PORT");
    app.add_option("-u,--user", flags.user, "user name");
    app.add_option("-c,--connection", flags.connection, "connection name");
    app.add_option("--password", flags.password,
                   "password (prefer PELLORA_PASSWORD or the config file: flags are visible to other users)");
    app.add_option("--ca", flags.caFile, "certificate-authority file for tls:// addresses");
    app.add_option("--session", flags.tradingSession, "trading session ID or name, when the server offers several");
    app.add_option("--pin", flags.pin, "PIN of the trading session");
    app.add_option("--config", flags.configFile, "config file (default ~/.config/pellora/config)");
    app.add_flag("--json", json, "one JSON object per row, for scripts");
    app.add_flag("-v,--verbose", verbose, "status changes and the wire log (passwords hidden) on stderr");
    app.add_option("--timeout", timeout, "seconds to wait for the server at each step")->type_name("SECONDS")->check(secondsFrom(0.1, 3600));

    OffersOptions offers;
    OrderOptions order;
    CloseOptions close;
    EditOptions edit;
    std::string cancelID;
    HistoryOptions history;
    ReportOptions reportOpt;

    app.add_subcommand("status", "log in and say so, with the server's time");
    CLI::App* offersCmd = app.add_subcommand("offers", "the prices of every instrument");
    CLI::Option* watchFlag =
        offersCmd->add_flag("-w,--watch", offers.watch, "keep printing prices as they move (Ctrl-C ends)");
    offersCmd->add_option("--seconds", offers.seconds, "with --watch: stop after this long")
        ->type_name("SECONDS")
        ->check(secondsFrom(0.1, 31536000))
        ->needs(watchFlag);
    offersCmd->add_option("--symbol", offers.symbol, "only this instrument (EUR/USD)");
    app.add_subcommand("accounts", "the accounts of the login");
    app.add_subcommand("trades", "open trades");
    app.add_subcommand("orders", "waiting orders");
    app.add_subcommand("closed", "closed trades");
    app.add_subcommand("messages", "messages from the server");
    for (const char* side : {"buy", "sell"}) {
        CLI::App* c = app.add_subcommand(side, std::string(side) + " at market, or an entry order with --rate");
        c->add_option("symbol", order.symbol, "instrument, EUR/USD")->required();
        c->add_option("amount", order.amount, "units, a multiple of the base unit size")->required();
        c->add_option("--rate", order.rate, "entry rate: the order waits for the market to reach it");
        c->add_option("--stop", order.stop, "stop rate");
        c->add_option("--limit", order.limit, "limit rate");
        c->add_option("--trailing", order.trailing, "trailing stop step in pips (1: pip by pip)");
        c->add_option("--account", order.account, "account ID (default: the first)");
        c->callback([&order, side] { order.buy = std::string(side) == "buy"; });
    }
    CLI::App* closeCmd = app.add_subcommand("close", "close an open trade at market");
    closeCmd->add_option("trade", close.tradeID, "trade ID")->required();
    closeCmd->add_option("--amount", close.amount, "close only this many units");
    CLI::App* editCmd = app.add_subcommand("edit", "change the rate or amount of a waiting order");
    editCmd->add_option("order", edit.orderID, "order ID")->required();
    editCmd->add_option("--rate", edit.rate, "new rate");
    editCmd->add_option("--amount", edit.amount, "new amount");
    CLI::App* cancelCmd = app.add_subcommand("cancel", "delete a waiting order");
    cancelCmd->add_option("order", cancelID, "order ID")->required();
    CLI::App* historyCmd = app.add_subcommand("history", "price history in bars");
    historyCmd->add_option("symbol", history.symbol, "instrument, EUR/USD")->required();
    historyCmd->add_option("-t,--timeframe", history.timeframe, "t1 m1 m5 m15 m30 H1 H2 H3 H4 H6 H8 D1 W1 M1")
        ->capture_default_str();
    historyCmd->add_option("--from", history.from, "UTC start, YYYY-MM-DD[THH:MM[:SS]]");
    historyCmd->add_option("--to", history.to, "UTC end, YYYY-MM-DD[THH:MM[:SS]]");
    historyCmd->add_option("--max", history.maxBars, "at most this many bars")->capture_default_str();
    historyCmd->add_flag("--csv", history.csv, "comma-separated values");
    std::string rulesSymbol, rulesAccount;
    CLI::App* rulesCmd = app.add_subcommand("rules", "the permissions and trading settings of the login");
    rulesCmd->add_option("--symbol", rulesSymbol, "only this instrument");
    rulesCmd->add_option("--account", rulesAccount, "account ID for quantities and margins (default: the first)");
    CLI::App* reportCmd = app.add_subcommand("report", "print the address of the account statement");
    reportCmd->add_option("--account", reportOpt.account, "account ID (default: the first)");
    reportCmd->add_option("--from", reportOpt.from, "UTC start, YYYY-MM-DD");
    reportCmd->add_option("--to", reportOpt.to, "UTC end, YYYY-MM-DD");
    reportCmd->add_option("--format", reportOpt.format, "html, pdf, xls ...")->capture_default_str();

    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp& e) {
        return app.exit(e);
    } catch (const CLI::CallForAllHelp& e) {
        return app.exit(e);
    } catch (const CLI::ExtrasError&) {
        // Names only: the value after a misspelt --password is a password.
        std::string names;
        for (const std::string& a : app.remaining(true))
            if (a.rfind('-', 0) == 0) names += (names.empty() ? "" : ", ") + a.substr(0, a.find('='));
        const std::vector<std::string> rest = app.remaining();
        if (app.get_subcommands().empty() && !rest.empty() && rest.front().rfind('-', 0) != 0 && names.empty()) {
            std::cerr << "pellora: unknown command '" << rest.front() << "' (pellora --help lists the commands)"
                      << std::endl;
            return kExitUsage;
        }
        std::cerr << "pellora: unexpected " << (names.empty() ? "arguments" : "options: " + names)
                  << " (pellora --help lists the commands)" << std::endl;
        return kExitUsage;
    } catch (const CLI::ParseError& e) {
        const std::vector<std::string> rest = app.remaining();
        if (app.get_subcommands().empty() && !rest.empty() && rest.front().rfind('-', 0) != 0) {
            std::cerr << "pellora: unknown command '" << rest.front() << "' (pellora --help lists the commands)"
                      << std::endl;
            return kExitUsage;
        }
        std::cerr << "pellora: " << e.what() << " (pellora --help lists the commands)" << std::endl;
        return kExitUsage;
    }
    const std::string command = app.get_subcommands().front()->get_name();

    // Everything the command line says is checked before the network is touched.
    std::string error;
    bool ok = true;
    if (command == "buy" || command == "sell") ok = checkOrder(order, error);
    else if (command == "close") ok = checkClose(close, error);
    else if (command == "edit") ok = checkEdit(edit, error);
    else if (command == "history") ok = checkHistory(history, error);
    else if (command == "report") ok = checkReport(reportOpt, error);
    ConnectionSettings settings;
    if (ok) ok = resolveSettings(flags, [](const char* n) { return std::getenv(n); }, settings, error);
    if (!ok) return report(Failure{kExitUsage, error});

    if (verbose && !std::getenv("PELLORA_TRANSPORT_LOG")) ::setenv("PELLORA_TRANSPORT_LOG", "/dev/stderr", 1);
    std::signal(SIGINT, onSignal);
    std::signal(SIGTERM, onSignal);
    std::signal(SIGPIPE, SIG_IGN);

    auto client = std::make_unique<Client>(settings, std::chrono::milliseconds(static_cast<long long>(timeout * 1000)),
                                           verbose);
    Failure failure;
    if (!client->login(failure)) {
        // Letting the session go cancels a connect still under way and returns
        // promptly; the reason is printed once it has.
        client.reset();
        return report(failure);
    }
    // A test hook: the process stops itself once Connected, so that a test can
    // change the dealer between the login and the command without racing either.
    if (std::getenv("PELLORA_TEST_STOP_AFTER_LOGIN")) std::raise(SIGSTOP);
    Context cx{*client, json ? OutputFormat::Json : OutputFormat::Table, std::cout, {}};
    if (command == "status") ok = runStatus(cx);
    else if (command == "offers") ok = runOffers(cx, offers);
    else if (command == "accounts") ok = runAccounts(cx);
    else if (command == "trades") ok = runTrades(cx);
    else if (command == "orders") ok = runOrders(cx);
    else if (command == "closed") ok = runClosed(cx);
    else if (command == "messages") ok = runMessages(cx);
    else if (command == "buy" || command == "sell") ok = runOrder(cx, order);
    else if (command == "close") ok = runClose(cx, close);
    else if (command == "edit") ok = runEdit(cx, edit);
    else if (command == "cancel") ok = runCancel(cx, cancelID);
    else if (command == "history") ok = runHistory(cx, history);
    else if (command == "rules") ok = runRules(cx, rulesSymbol, rulesAccount);
    else if (command == "report") ok = runReport(cx, reportOpt);
    client.reset();
    if (!ok) return report(cx.failure);
    return kExitOk;
}
