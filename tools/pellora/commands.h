#pragma once
// The commands of the pellora tool, each on the public SDK through a logged-in
// Client. Arguments are checked (check...) before any connection is made, so a
// usage error never waits for the network.

#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "client.h"
#include "output.h"

namespace pellora::cli {

struct Context {
    Client& client;
    OutputFormat format;
    std::ostream& out;
    Failure failure;  // filled when a command returns false
};

struct OffersOptions {
    bool watch = false;
    std::optional<double> seconds;  // --watch ends after this long; unset: until interrupted
    std::string symbol;             // empty: every offer
};

struct OrderOptions {
    bool buy = true;
    std::string symbol, amount;
    std::optional<std::string> rate, stop, limit, trailing, account;
    // Filled by checkOrder.
    int amountValue = 0, trailValue = 0;
    double rateValue = 0, stopValue = 0, limitValue = 0;
};

struct CloseOptions {
    std::string tradeID;
    std::optional<std::string> amount;
    int amountValue = 0;
};

struct EditOptions {
    std::string orderID;
    std::optional<std::string> rate, amount;
    double rateValue = 0;
    int amountValue = 0;
};

struct HistoryOptions {
    std::string symbol, timeframe = "m1";
    std::optional<std::string> from, to;
    int maxBars = 300;
    bool csv = false;
    double fromValue = 0, toValue = 0;
};

struct ReportOptions {
    std::optional<std::string> account, from, to;
    std::string format = "html";
    double fromValue = 0, toValue = 0;
};

// Argument checks: false with a one-line reason.
bool checkOrder(OrderOptions& o, std::string& error);
bool checkClose(CloseOptions& o, std::string& error);
bool checkEdit(EditOptions& o, std::string& error);
bool checkHistory(HistoryOptions& o, std::string& error);
bool checkReport(ReportOptions& o, std::string& error);

bool runStatus(Context& cx);
bool runOffers(Context& cx, const OffersOptions& o);
bool runAccounts(Context& cx);
bool runTrades(Context& cx);
bool runOrders(Context& cx);
bool runClosed(Context& cx);
bool runMessages(Context& cx);
bool runOrder(Context& cx, const OrderOptions& o);
bool runClose(Context& cx, const CloseOptions& o);
bool runEdit(Context& cx, const EditOptions& o);
bool runCancel(Context& cx, const std::string& orderID);
bool runHistory(Context& cx, const HistoryOptions& o);
// symbol and account empty: every instrument, the first account.
bool runRules(Context& cx, const std::string& symbol, const std::string& account);
bool runReport(Context& cx, const ReportOptions& o);

// Shared by the command files: each returns false with cx.failure filled.
bool fail(Context& cx, int code, std::string text);
bool fetchAccounts(Context& cx, Ref<IZelAccountsTableResponseReader>& out);
// The symbols of the offers table, in its order.
bool instrumentSymbols(Context& cx, std::vector<std::string>& out);

}  // namespace pellora::cli
