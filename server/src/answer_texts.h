#pragma once
// The DAS answer texts the dealer writes: result sets (line 0 "0", then one line per
// row with fields at the positions the SDK's table parsers read, unnamed positions
// empty), failure answers "<code>;<text>", and pushed update texts. Lines are joined
// by "\n" with no empty line and no trailing line feed (the SDK would read an empty
// line as a row). Pure functions; call from any thread.

#include <string>
#include <vector>

#include "records.h"
#include "world.h"

namespace pellora::dealer {

// ---- Field formatting, as the SDK reads fields back.

// A price with exactly `digits` decimals.
std::string formatPrice(double v, int digits);
// Money with two decimals.
std::string formatMoney(double v);
// Any other number: fixed point, trailing zeros dropped ("1.5", "20", "0").
std::string formatNumber(double v);
// A table time stamp ("MMDDYYYYhhmmssmmm"), empty for 0.
std::string formatTime(UnixMs t);
// A field text with ';' and line breaks replaced by blanks, so it cannot split a row.
std::string fieldText(const std::string& s);

// ---- One row each, fields only (no table code).

std::string offerLine(const OfferQuote& q, int digits);
std::string accountLine(const AccountRecord& a);
std::string orderLine(const OrderRecord& o, int digits);
std::string tradeLine(const TradeRecord& t, int digits);
std::string closedTradeLine(const ClosedTradeRecord& c, int digits);
std::string messageLine(const MessageRecord& m);
std::string instrumentLine(const Instrument& m);
std::string accountPropertiesLine(const Margin& m);

// ---- Whole answers.

// "0" followed by the lines.
std::string resultSet(const std::vector<std::string>& lines);
// Command 3: "0" then one "NAME;VALUE;" line per property; a connection with a price
// terminal adds "EXT_PRICE_TERMINAL" naming it.
std::string systemPropertiesAnswer(const World& w, const Connection& c);
// Command 139: one instruments line per instrument.
std::string instrumentsAnswer(const World& w);
// Command 138: the margins of the given leverage profiles, in world order.
std::string accountPropertiesAnswer(const World& w, const std::vector<std::string>& leverageProfiles);
// Table answers (commands 9, 5, 46/44/10, 67/70, 7); prices use each offer's digits.
std::string offersAnswer(const World& w, const std::vector<OfferQuote>& rows);
std::string accountsAnswer(const std::vector<AccountRecord>& rows);
std::string ordersAnswer(const World& w, const std::vector<OrderRecord>& rows);
std::string tradesAnswer(const World& w, const std::vector<TradeRecord>& rows);
std::string closedTradesAnswer(const World& w, const std::vector<ClosedTradeRecord>& rows);
std::string messagesAnswer(const std::vector<MessageRecord>& rows);
// Command 34: "0" and "<order ID>;N" (no dealer intervention).
std::string orderCreatedAnswer(const std::string& orderId);
// Command 117: "0" and ";<I|U|D>;" followed by the order's fields.
enum class UpdateKind { Insert, Update, Delete };
std::string lastOrderUpdateAnswer(UpdateKind kind, const OrderRecord& o, int digits);

// Digits of an offer (5 when the world does not know it).
int digitsOf(const World& w, const std::string& offerId);
// The leverage profiles of a user's accounts, without repeats.
std::vector<std::string> leverageProfilesOf(const World& w, const User& u);

// ---- Failures.

// Codes never begin with "0", which the SDK would take for success.
enum class FailureCode {
    BadRequest = 1,
    NotPermitted = 2,
    UnknownAccount = 3,
    UnknownOffer = 4,
    UnknownOrder = 5,
    UnknownTrade = 6,
    MarketClosed = 7,
    BadAmount = 8,
    BadRate = 9,
    PriceMoved = 10,
    NotEnoughMargin = 11,
    Internal = 99,
};
std::string failureAnswer(FailureCode code, const std::string& text);
// Texts for a person, used with the codes above.
std::string unknownOfferText(const std::string& offerId);      // "Unknown offer 77."
std::string unknownAccountText(const std::string& accountId);  // "Unknown account 'X'."
std::string amountMultipleText(int baseUnitSize);              // "Amount must be a multiple of 1000."
inline const char* kMarketClosedText = "The market is closed.";
inline const char* kNotEnoughMarginText = "Not enough free margin.";
inline const char* kPriceMovedText = "The price has moved.";

// ---- Pushed updates: line 0 "0;<server time>;", then "<table code>;<I|U|D>;<fields>".

enum class TableCode { Offer, Account, Order, Trade, ClosedTrade, Message, Instrument };
const char* tableCodeText(TableCode t);  // "OFFER", "ACCT", "ORDER", "TRADE", "CLSDTRADE", "MAIL", "INSTRMT"

class UpdateText {
public:
    explicit UpdateText(UnixMs serverTime);
    UpdateText& add(TableCode table, UpdateKind kind, const std::string& fields);
    bool empty() const { return lines_ == 0; }
    const std::string& str() const { return text_; }

private:
    std::string text_;
    int lines_ = 0;
};

} // namespace pellora::dealer
