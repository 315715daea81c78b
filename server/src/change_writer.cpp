#include "change_writer.h"

#include <algorithm>

namespace pellora::dealer {

namespace {
const char* kindLetter(UpdateKind k) { return k == UpdateKind::Insert ? "I" : k == UpdateKind::Update ? "U" : "D"; }
} // namespace

ChangeWriter::UserRows& ChangeWriter::rowsOf(const std::string& user) {
    for (UserRows& u : users_)
        if (u.user == user) return u;
    users_.push_back({user, {}, {}});
    return users_.back();
}

void ChangeWriter::line(const std::string& user, TableCode table, UpdateKind kind, const std::string& fields) {
    std::string l = tableCodeText(table);
    l += ';';
    l += kindLetter(kind);
    l += ';';
    l += fields;
    rowsOf(user).lines.push_back(std::move(l));
}

void ChangeWriter::order(const std::string& user, UpdateKind kind, const OrderRecord& o) {
    // A row stored earlier in the same change is superseded, not stored twice; one
    // deleted is not stored at all (a market order comes and goes in one change).
    auto& rows = change_.orders;
    rows.erase(std::remove_if(rows.begin(), rows.end(), [&](const OrderRecord& r) { return r.orderId == o.orderId; }),
               rows.end());
    if (kind == UpdateKind::Delete)
        change_.removedOrders.push_back(o.orderId);
    else
        rows.push_back(o);
    line(user, TableCode::Order, kind, orderLine(o, digitsOf(*world_, o.offerId)));
}

void ChangeWriter::trade(const std::string& user, UpdateKind kind, const TradeRecord& t) {
    auto& rows = change_.trades;
    rows.erase(std::remove_if(rows.begin(), rows.end(), [&](const TradeRecord& r) { return r.tradeId == t.tradeId; }),
               rows.end());
    if (kind == UpdateKind::Delete)
        change_.removedTrades.push_back(t.tradeId);
    else
        rows.push_back(t);
    line(user, TableCode::Trade, kind, tradeLine(t, digitsOf(*world_, t.offerId)));
}

void ChangeWriter::closedTrade(const std::string& user, const ClosedTradeRecord& c) {
    change_.closedTrades.push_back(c);
    line(user, TableCode::ClosedTrade, UpdateKind::Insert, closedTradeLine(c, digitsOf(*world_, c.offerId)));
}

void ChangeWriter::account(const std::string& user, const AccountRecord& a) {
    auto& rows = change_.accounts;
    rows.erase(std::remove_if(rows.begin(), rows.end(), [&](const AccountRecord& r) { return r.accountId == a.accountId; }),
               rows.end());
    rows.push_back(a);
    accounts_[a.accountId] = a;
    UserRows& u = rowsOf(user);
    if (std::find(u.accountIds.begin(), u.accountIds.end(), a.accountId) == u.accountIds.end())
        u.accountIds.push_back(a.accountId);
}

void ChangeWriter::message(const MessageRecord& m) {
    change_.messages.push_back(m);
    line(m.user, TableCode::Message, UpdateKind::Insert, messageLine(m));
}

bool ChangeWriter::empty() const {
    const Change& c = change_;
    return c.accounts.empty() && c.orders.empty() && c.removedOrders.empty() && c.trades.empty() &&
           c.removedTrades.empty() && c.closedTrades.empty() && c.messages.empty() && c.removedMessages.empty() &&
           c.requests.empty() && c.prices.empty() && !c.schedule && c.meta.empty();
}

std::vector<PushedUpdate> ChangeWriter::pushes() const {
    std::vector<PushedUpdate> out;
    for (const UserRows& u : users_) {
        if (u.lines.empty() && u.accountIds.empty()) continue;
        UpdateText text(now_);
        std::string all;
        for (const std::string& l : u.lines) {
            all += '\n';
            all += l;
        }
        for (const std::string& id : u.accountIds) {
            all += "\nACCT;U;";
            all += accountLine(accounts_.at(id));
        }
        out.push_back({u.user, text.str() + all});
    }
    return out;
}

} // namespace pellora::dealer
