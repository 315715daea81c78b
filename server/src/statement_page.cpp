#include "statement_page.h"

#include <cstdio>
#include <limits>

#include "answer_texts.h"

namespace pellora::dealer {

bool parseStatementDate(const std::string& text, bool till, UnixMs& out) {
    if (text.empty() || text == (till ? "now" : "so")) {
        out = till ? std::numeric_limits<UnixMs>::max() : 0;
        return true;
    }
    int m = 0, d = 0, y = 0;
    char tail = 0;
    if (std::sscanf(text.c_str(), "%d/%d/%d%c", &m, &d, &y, &tail) != 3 || m < 1 || m > 12 || d < 1 || d > 31 ||
        y < 1970 || y > 9999)
        return false;
    out = makeUtc(y, m, d) + (till ? kMsPerDay - 1 : 0);
    return true;
}

std::string htmlEscape(const std::string& s) {
    std::string out;
    for (char c : s) {
        switch (c) {
            case '&': out += "&amp;"; break;
            case '<': out += "&lt;"; break;
            case '>': out += "&gt;"; break;
            case '"': out += "&quot;"; break;
            case '\'': out += "&#39;"; break;
            default: out += c;
        }
    }
    return out;
}

namespace {
std::string cell(const std::string& s) { return "<td>" + htmlEscape(s) + "</td>"; }
std::string when(UnixMs t) { return t ? formatTime(t) : std::string(); }
} // namespace

std::string renderStatement(const std::string& user, const std::vector<StatementAccount>& accounts,
                            const std::vector<MessageRecord>& messages, UnixMs, UnixMs, const World& world) {
    std::string h = "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>Account statement</title></head><body>\n";
    h += "<h1>Account statement of " + htmlEscape(user) + "</h1>\n";
    for (const StatementAccount& a : accounts) {
        h += "<h2>Account <span class=\"account\">" + htmlEscape(a.account.accountId) + "</span></h2>\n<table class=\"summary\">";
        h += "<tr><th>Balance</th><td class=\"balance\">" + formatMoney(a.account.balance) + "</td></tr>";
        h += "<tr><th>Equity</th><td class=\"equity\">" + formatMoney(a.equity) + "</td></tr>";
        h += "<tr><th>Used margin</th><td class=\"margin\">" + formatMoney(a.account.usedMargin) + "</td></tr></table>\n";
        h += "<h3>Open trades</h3>\n<table class=\"open\"><tr><th>Trade</th><th>Offer</th><th>Side</th><th>Amount</th>"
             "<th>Open rate</th><th>Opened</th></tr>";
        for (const TradeRecord& t : a.open)
            h += "<tr>" + cell(t.tradeId) + cell(t.offerId) + cell(t.buySell) + cell(std::to_string(t.amount)) +
                 cell(formatPrice(t.openRate, digitsOf(world, t.offerId))) + cell(when(t.openTime)) + "</tr>";
        h += "</table>\n<h3>Closed trades</h3>\n<table class=\"closed\"><tr><th>Trade</th><th>Offer</th><th>Side</th>"
             "<th>Amount</th><th>Open rate</th><th>Close rate</th><th>Profit</th><th>Closed</th></tr>";
        for (const ClosedTradeRecord& c : a.closed)
            h += "<tr>" + cell(c.tradeId) + cell(c.offerId) + cell(c.buySell) + cell(std::to_string(c.amount)) +
                 cell(formatPrice(c.openRate, digitsOf(world, c.offerId))) + cell(formatPrice(c.closeRate, digitsOf(world, c.offerId))) +
                 cell(formatMoney(c.grossPL)) + cell(when(c.closeTime)) + "</tr>";
        h += "</table>\n";
    }
    h += "<h2>Messages</h2>\n<table class=\"messages\"><tr><th>Time</th><th>From</th><th>Subject</th></tr>";
    for (const MessageRecord& m : messages) h += "<tr>" + cell(when(m.time)) + cell(m.from) + cell(m.subject) + "</tr>";
    h += "</table>\n</body></html>\n";
    return h;
}

} // namespace pellora::dealer
