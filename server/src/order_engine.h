#pragma once
// The order engine: the trading state of every account (accounts, orders, trades,
// closed trades, messages, remembered requests) and the rules that change it. The
// order path reads top-down: request() tells the order type from the wire fields,
// checks it, executes it against the latest quotes and writes every row it touched
// to a ChangeWriter; onQuote() fills the working orders a new price crosses, moves
// trailing stops and raises margin calls. The caller commits the writer's change
// before it sends the answer or the pushed rows.
//
// A failed check changes nothing: every check runs before the first row is touched.
// [Threading] Not thread-safe: the dealer calls it under its state mutex.

#include <cstdint>
#include <deque>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "bookkeeping.h"
#include "change_writer.h"
#include "store.h"
#include "wire_messages.h"
#include "world.h"
#include "zone_rules.h"

namespace pellora::dealer {

// What the members of one batch share: the OCO group its members form and the
// orders made so far, by request ID (the children of an OTO name their primary so).
struct OrderBatch {
    std::string ocoGroup;
    // The primary an OCO group of an OTO waits for: the client names it on the
    // group's first member only, and the others wait for it as well.
    std::string ocoPrimaryQid;
    std::string newGroup;  // a new contingency group of group changes (131)
    std::map<std::string, std::string> orderIdByRequest;
};

class OrderEngine {
public:
    // instruments: the dealer's live instrument settings (trading statuses change);
    // both must outlive the engine.
    OrderEngine(const World& world, const std::vector<Instrument>& instruments, const MarketCalendar& calendar);

    // Takes the trading rows and the remembered requests younger than 24 hours by now.
    void load(StoredState& state, UnixMs now);

    const std::vector<AccountRecord>& accounts() const { return accounts_; }
    const std::vector<OrderRecord>& orders() const { return orders_; }
    const std::vector<TradeRecord>& trades() const { return trades_; }
    const std::vector<ClosedTradeRecord>& closedTrades() const { return closed_; }
    const std::vector<MessageRecord>& messages() const { return messages_; }
    const QuoteBook& quotes() const { return quotes_; }
    uint64_t executed() const { return executed_; }
    const Bookkeeping& books() const { return books_; }

    // The commands request() takes: 34 create, 19 delete, 20 edit, 131 groups, 117 last update.
    static bool isOrderCommand(int command);
    // Commands whose answers are remembered: a resend gets the same answer and is not
    // executed twice.
    static bool isRemembered(int command);
    // The answer given to the user's request of that ID within the last 24 hours.
    std::optional<std::string> remembered(const std::string& user, const std::string& requestId, UnixMs now) const;

    // Executes one order command of the user and returns its answer text (success or
    // "<code>;<text>"); rows touched and the remembered answer go to w.
    std::string request(const User& user, const DasRequest& r, OrderBatch* batch, ChangeWriter& w);
    // A new price of an offer (the first ones seed the book without executing).
    void onQuote(const OfferQuote& q, ChangeWriter& w);
    // The daily roll-over: interest booked, "M2MEquity" set to the equity, day orders
    // deleted.
    void rollover(ChangeWriter& w);
    // Deletes the GTD orders whose expiry date is not after now (with the orders
    // waiting for them), pushing their delete rows; cheap when none is due.
    void expireOrders(ChangeWriter& w);
    // Closes the account's trades, largest loss first, until its equity covers its used
    // margin, and at least one when `forced`; writes the margin-call message.
    Status marginCall(const std::string& accountId, bool forced, ChangeWriter& w);
    // A message to a user; an HTML one travels tagged, deflated and base64-encoded.
    void message(const std::string& user, const std::string& subject, const std::string& text, bool html,
                 ChangeWriter& w);
    // Forgets remembered requests older than 24 hours by now.
    void purgeRequests(UnixMs now);

    // What is inconsistent, or "": each balance is its start plus the profit,
    // commission and interest booked on its closed trades (and the interest of open
    // ones), every open trade carries its margin and the account their sum, no order
    // refers to a missing trade and no waiting order to a missing primary.
    std::string consistencyFault(const std::map<std::string, double>& startBalances) const;

private:
    struct Failure {
        FailureCode code;
        std::string text;
    };
    struct NewOrder;

    std::string createOrder(const User& u, const DasRequest& r, OrderBatch* batch, ChangeWriter& w);
    std::string deleteOrder(const User& u, const DasRequest& r, ChangeWriter& w);
    std::string editOrder(const User& u, const DasRequest& r, ChangeWriter& w);
    std::string changeGroup(const User& u, const DasRequest& r, OrderBatch* batch, ChangeWriter& w);
    std::string lastOrderUpdate(const User& u, const DasRequest& r);

    // Opening `amount` units: a netting account closes opposite trades first. Returns
    // the ID of the trade opened ("" when the amount went to closing).
    std::string open(OrderRecord& o, int amount, double price, ChangeWriter& w);
    // Closes `amount` of the trade (all when amount >= its amount) at price.
    void closeTrade(const std::string& tradeId, int amount, double price, const OrderRecord& by, ChangeWriter& w);
    // Fills a waiting or market order at price and removes it; OCO siblings go, OTO
    // children and attached stops and limits start working.
    void fill(const std::string& orderId, double price, ChangeWriter& w);
    // Removes an order and the orders waiting for it.
    void removeOrder(const std::string& orderId, const std::string& status, ChangeWriter& w);
    void release(const OrderRecord& primary, const std::string& tradeId, ChangeWriter& w);
    void trail(OrderRecord& o, const OfferQuote& q, ChangeWriter& w);
    void touchAccount(const std::string& accountId, ChangeWriter& w);

    AccountRecord* account(const std::string& id);
    OrderRecord* order(const std::string& id);
    TradeRecord* trade(const std::string& id);
    const Instrument* instrument(const std::string& offerId) const;
    std::string ownerOf(const std::string& accountId) const;
    std::vector<const TradeRecord*> tradesOf(const std::string& accountId) const;
    double equity(const AccountRecord& a) const;
    double usedMargin(const std::string& accountId) const;
    std::string nextId(const char* key, int64_t& counter, ChangeWriter& w);
    void forget(const OrderRecord& o);
    void checkMarginCalls(const std::string& offerId, ChangeWriter& w);
    void noteExpiries();  // recomputes nextExpiry_

    const World& world_;
    const std::vector<Instrument>& instruments_;
    const MarketCalendar& calendar_;
    Bookkeeping books_;

    std::vector<AccountRecord> accounts_;
    std::vector<OrderRecord> orders_;
    std::vector<TradeRecord> trades_;
    std::vector<ClosedTradeRecord> closed_;
    std::vector<MessageRecord> messages_;
    std::map<std::pair<std::string, std::string>, RememberedRequest> remembered_;
    std::map<std::string, std::deque<OrderRecord>> gone_;  // recently removed orders by account, for 117
    QuoteBook quotes_;
    int64_t nextOrder_ = 1001, nextTrade_ = 1001, nextMessage_ = 1;
    uint64_t executed_ = 0;
    UnixMs nextExpiry_ = 0;  // the earliest GTD expiry held, 0 for none (may be early, never late)
};

// "<BASE64-DATA>" around the base64 of "<DEFLATE-DATA>" around the deflated
// "<HTML-DATA>html</HTML-DATA>", as clients decode message texts.
std::string encodeHtmlMessage(const std::string& html);

} // namespace pellora::dealer
