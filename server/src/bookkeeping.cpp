#include "bookkeeping.h"

#include <cmath>

namespace pellora::dealer {

double cents(double v) { return std::isfinite(v) ? std::round(v * 100) / 100 : 0; }

Bookkeeping::Bookkeeping(const World& world) : world_(world) {
    for (const Margin& m : world.margins) margins_[{m.leverageProfile, m.offerId}] = m.values[0];
}

double Bookkeeping::marginPerUnit(const std::string& profile, const std::string& offerId) const {
    auto it = margins_.find({profile, offerId});
    return it == margins_.end() ? 0 : it->second;
}

std::string Bookkeeping::profitCurrency(const Instrument& m) {
    const size_t slash = m.symbol.find('/');
    if (m.instrumentType == 1 && slash != std::string::npos) return m.symbol.substr(slash + 1);
    return m.contractCurrency;
}

double Bookkeeping::conversion(const std::string& from, const std::string& to, const QuoteBook& quotes) const {
    if (from == to || from.empty() || to.empty()) return 1;
    for (const Instrument& m : world_.instruments) {
        const bool direct = m.symbol == from + "/" + to, inverse = m.symbol == to + "/" + from;
        if (!direct && !inverse) continue;
        auto q = quotes.find(m.offerId);
        if (q == quotes.end() || q->second.bid <= 0 || q->second.ask <= 0) continue;
        const double mid = (q->second.bid + q->second.ask) / 2;
        return direct ? mid : 1 / mid;
    }
    return 1;
}

double Bookkeeping::profit(const Instrument& m, const std::string& buySell, int amount, double open, double close,
                           const std::string& currency, const QuoteBook& quotes) const {
    const double sign = buySell == "B" ? 1 : -1;
    const double inProfitCurrency = (close - open) * sign * amount * std::max(1, m.contractMultiplier);
    return cents(inProfitCurrency * conversion(profitCurrency(m), currency, quotes));
}

double Bookkeeping::floating(const TradeRecord& t, const std::string& currency, const QuoteBook& quotes) const {
    const Instrument* m = world_.findInstrument(t.offerId);
    auto q = quotes.find(t.offerId);
    if (!m || q == quotes.end()) return 0;
    const double close = t.buySell == "B" ? q->second.bid : q->second.ask;
    return profit(*m, t.buySell, t.amount, t.openRate, close, currency, quotes);
}

double Bookkeeping::equity(const AccountRecord& a, const std::vector<const TradeRecord*>& trades,
                           const QuoteBook& quotes) const {
    const std::string currency = currencyOf(a.accountId);
    double e = a.balance;
    for (const TradeRecord* t : trades) e += floating(*t, currency, quotes);
    return cents(e);
}

std::string Bookkeeping::currencyOf(const std::string& accountId) const {
    const Account* a = world_.findAccount(accountId);
    return a && !a->currency.empty() ? a->currency : "USD";
}

} // namespace pellora::dealer
