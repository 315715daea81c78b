#pragma once
// The rows of the dealer's state, one struct per table the SDK reads. Fields carry
// the names of the table columns; dates are UnixMs (0 = none). Plain values: copy
// freely, no thread rules of their own.

#include <cstdint>
#include <string>

#include "wire_time.h"

namespace pellora::dealer {

struct AccountRecord {
    std::string accountId;
    std::string accountName;
    std::string accountKind;       // "32", or "38" for accounts that order refreshes skip
    double balance = 0;
    double usedMargin = 0;
    double usedMargin3 = 0;
    std::string marginCallFlag = "N";
    UnixMs lastMarginCallDate = 0;
    double m2mEquity = 0;          // equity at the last daily roll-over
    double nonTradeEquity = 0;
    std::string managerAccountId;
    std::string maintenanceType;   // "Y" hedging, "N" netting, "D" day netting
    int amountLimit = 0;
    int baseUnitSize = 0;
    bool maintenanceFlag = false;
    std::string leverageProfileId;
};

struct OrderRecord {
    std::string orderId;
    std::string requestId;
    std::string requestTxt;
    UnixMs statusTime = 0;
    double lifetime = 0;
    double rate = 0;
    std::string tradeId;
    std::string accountId;
    std::string accountName;
    std::string offerId;
    std::string buySell;           // "B" or "S"
    int amount = 0;
    std::string stage;             // "O" opening, "C" closing
    double atMarket = 0;
    std::string accountKind;
    int trailStep = 0;
    double trailRate = 0;
    std::string timeInForce;       // "GTC", "IOC", "FOK", "DAY", "GTD"
    std::string type;              // "OM", "SE", "LE", "S", "L", ...
    std::string status;            // "W" waiting, "E" executing, ...
    int originAmount = 0;
    int filledAmount = 0;
    double executionRate = 0;
    bool workingIndicator = true;
    std::string contingentOrderId;
    double pegOffset = 0;
    double rateMin = 0;
    double rateMax = 0;
    std::string pegType;
    bool netQuantity = false;
    int contingencyType = 0;
    std::string primaryId;
    UnixMs expireDate = 0;
    std::string valueDate;
    std::string parties;
};

struct TradeRecord {
    std::string tradeId;
    std::string accountId;
    std::string accountName;
    std::string offerId;
    double rolloverInterest = 0;
    double commission = 0;
    UnixMs openTime = 0;
    double openRate = 0;
    std::string openQuoteId;
    std::string buySell;
    int amount = 0;
    double usedMargin = 0;         // written as a whole number
    std::string accountKind;
    std::string openOrderId;
    std::string openOrderReqId;
    std::string openOrderRequestTxt;
    std::string tradeIdOrigin;
    std::string valueDate;
    std::string parties;
};

struct ClosedTradeRecord {
    std::string tradeId;
    std::string accountId;
    std::string accountName;
    std::string offerId;
    double rolloverInterest = 0;
    double commission = 0;
    double grossPL = 0;
    UnixMs openTime = 0;
    UnixMs closeTime = 0;
    double openRate = 0;
    std::string openQuoteId;
    double closeRate = 0;
    std::string closeQuoteId;
    std::string buySell;
    int amount = 0;
    std::string accountKind;
    std::string openOrderId;
    std::string openOrderReqId;
    std::string openOrderRequestTxt;
    std::string closeOrderId;
    std::string closeOrderReqId;
    std::string closeOrderRequestTxt;
    std::string tradeIdOrigin;
    std::string valueDate;
    std::string tradeIdRemain;
    std::string openOrderParties;
    std::string closeOrderParties;
};

struct MessageRecord {
    std::string msgId;
    std::string user;              // the recipient's user name; not on the wire
    UnixMs time = 0;
    std::string from;
    std::string type;
    std::string feature;
    std::string text;              // as sent: plain, or tagged and encoded
    std::string subject;
};

// One instrument's current price, as the offers table shows it. Prices are exact
// multiples of 10^-digits.
struct OfferQuote {
    std::string offerId;
    std::string quoteId;
    UnixMs time = 0;
    double bid = 0;
    double ask = 0;
    double high = 0;               // the day's range of the bid
    double low = 0;
    int64_t volume = 0;            // ticks so far in the trading day
    std::string bidTradable = "T"; // "T" tradable, "I" indicative
    std::string askTradable = "T";
};

} // namespace pellora::dealer
