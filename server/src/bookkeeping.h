#pragma once
// Money of the order engine: margins, profit and loss in the account's currency,
// equity. Margin values are per unit of the amount: the used margin of a position is
// margin value 1 × amount, which is what a client shows as value × base unit size for
// one lot. Prices not quoted yet convert at 1 (named in the closing note of the
// engine's tests). Pure functions over the world and the latest quotes; any thread.

#include <map>
#include <string>
#include <vector>

#include "records.h"
#include "world.h"

namespace pellora::dealer {

// The latest quote of each offer, by offer ID.
using QuoteBook = std::map<std::string, OfferQuote>;

class Bookkeeping {
public:
    explicit Bookkeeping(const World& world);

    // Margin value 1 of the account's leverage profile for the offer (0 when none).
    double marginPerUnit(const std::string& leverageProfile, const std::string& offerId) const;
    double margin(const std::string& leverageProfile, const std::string& offerId, int amount) const {
        return marginPerUnit(leverageProfile, offerId) * amount;
    }
    // The currency profits of the instrument are counted in: the quote currency of a
    // pair ("JPY" of "USD/JPY"), the contract currency of anything else.
    static std::string profitCurrency(const Instrument& m);
    // How many units of `to` one unit of `from` is worth at the quotes' mid prices
    // (1 when no pair links them).
    double conversion(const std::string& from, const std::string& to, const QuoteBook& quotes) const;
    // Profit of `amount` units bought (buySell "B") or sold at open and closed at close,
    // in `currency`, rounded to cents.
    double profit(const Instrument& m, const std::string& buySell, int amount, double open, double close,
                  const std::string& currency, const QuoteBook& quotes) const;
    // What closing the trade now would realise (buys close at the bid, sells at the ask);
    // 0 without a quote.
    double floating(const TradeRecord& t, const std::string& currency, const QuoteBook& quotes) const;
    // Balance plus the floating profit of the trades given (those of the account).
    double equity(const AccountRecord& a, const std::vector<const TradeRecord*>& trades, const QuoteBook& quotes) const;
    // The account's currency ("USD" when the world does not say).
    std::string currencyOf(const std::string& accountId) const;

private:
    const World& world_;
    std::map<std::pair<std::string, std::string>, double> margins_;
};

// Rounds money to cents.
double cents(double v);

} // namespace pellora::dealer
