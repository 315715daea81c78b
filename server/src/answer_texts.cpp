#include "answer_texts.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>

namespace pellora::dealer {

namespace {

// Fields placed by position; positions never set stay empty.
class Fields {
public:
    Fields& put(size_t pos, std::string value) {
        if (pos >= values_.size()) values_.resize(pos + 1);
        values_[pos] = std::move(value);
        return *this;
    }
    std::string join() const {
        std::string s;
        for (size_t i = 0; i < values_.size(); ++i) {
            if (i) s += ';';
            s += values_[i];
        }
        return s;
    }

private:
    std::vector<std::string> values_;
};

std::string integer(int64_t v) { return std::to_string(v); }
std::string flag(bool v) { return v ? "Y" : "N"; }
const char* kindText(UpdateKind k) { return k == UpdateKind::Insert ? "I" : k == UpdateKind::Update ? "U" : "D"; }

template <class Row, class Line>
std::string table(const std::vector<Row>& rows, Line line) {
    std::vector<std::string> lines;
    lines.reserve(rows.size());
    for (const Row& r : rows) lines.push_back(line(r));
    return resultSet(lines);
}

} // namespace

namespace {
// Writes the price ending at end and returns where it starts, or null when it is not
// a whole number of units (then printf writes it).
char* writeUnits(double v, int digits, char* end) {
    static constexpr double kScale[] = {1, 1e1, 1e2, 1e3, 1e4, 1e5, 1e6, 1e7, 1e8, 1e9, 1e10};
    const double scaled = v * kScale[digits];
    if (!(std::fabs(scaled) < 1e15)) return nullptr;
    const double units = std::nearbyint(scaled);
    if (!(std::fabs(scaled - units) < 1e-6) || (units == 0 && std::signbit(v))) return nullptr;
    int64_t n = static_cast<int64_t>(units);
    const bool negative = n < 0;
    uint64_t u = negative ? static_cast<uint64_t>(-n) : static_cast<uint64_t>(n);
    char* p = end;
    for (int i = 0; i < digits; ++i, u /= 10) *--p = static_cast<char>('0' + u % 10);
    if (digits) *--p = '.';
    do {
        *--p = static_cast<char>('0' + u % 10);
        u /= 10;
    } while (u);
    if (negative) *--p = '-';
    return p;
}

void appendPrice(std::string& out, double v, int digits) {
    if (!std::isfinite(v)) v = 0;
    digits = std::clamp(digits, 0, 10);
    // Prices are whole units of 10^-digits: written from the integer, which is what
    // printf's rounding gives for a value that close to a unit (far from any tie).
    char buf[64];
    if (const char* p = writeUnits(v, digits, buf + 32)) {
        out.append(p, static_cast<size_t>(buf + 32 - p));
        return;
    }
    const int n = std::snprintf(buf, sizeof buf, "%.*f", digits, v);
    if (n > 0) out.append(buf, std::min<size_t>(static_cast<size_t>(n), sizeof buf - 1));
}

void appendFieldText(std::string& out, const std::string& s) {
    const size_t at = out.size();
    out += s;
    for (size_t i = at; i < out.size(); ++i)
        if (out[i] == ';' || out[i] == '\n' || out[i] == '\r') out[i] = ' ';
}
} // namespace

std::string formatPrice(double v, int digits) {
    std::string out;
    appendPrice(out, v, digits);
    return out;
}

std::string formatMoney(double v) { return formatPrice(v, 2); }

std::string formatNumber(double v) {
    if (!std::isfinite(v) || std::fabs(v) > 1e15) v = 0;
    std::string s = formatPrice(v, 8);
    s.erase(s.find_last_not_of('0') + 1);
    if (s.back() == '.') s.pop_back();
    if (s == "-0") s = "0";
    return s;
}

std::string formatTime(UnixMs t) { return t == 0 ? std::string() : dasTimestamp(t); }

std::string fieldText(const std::string& s) {
    std::string out = s;
    for (char& c : out)
        if (c == ';' || c == '\n' || c == '\r') c = ' ';
    return out;
}

std::string offerLine(const OfferQuote& q, int digits) {
    // One per price tick: written straight into one text, fields in order
    // (2, 3 and 7 to 12 stay empty).
    std::string s;
    s.reserve(128);
    appendFieldText(s, q.offerId);
    s += ';';
    appendFieldText(s, q.quoteId);
    s += ";;;";
    if (q.time != 0) appendDasTimestamp(s, q.time);
    s += ';';
    appendPrice(s, q.bid, digits);
    s += ';';
    appendPrice(s, q.ask, digits);
    s += ";;;;;;;";
    appendFieldText(s, q.bidTradable);
    s += ';';
    appendFieldText(s, q.askTradable);
    s += ';';
    appendPrice(s, q.high, digits);
    s += ';';
    appendPrice(s, q.low, digits);
    s += ';';
    char buf[24];
    const auto r = std::to_chars(buf, buf + sizeof buf, q.volume);
    s.append(buf, r.ptr);
    return s;
}

std::string accountLine(const AccountRecord& a) {
    return Fields()
        .put(0, fieldText(a.accountId))
        .put(4, formatMoney(a.balance))
        .put(5, formatMoney(a.usedMargin))
        .put(6, fieldText(a.marginCallFlag))
        .put(7, fieldText(a.accountName))
        .put(12, fieldText(a.managerAccountId))
        .put(13, fieldText(a.accountKind))
        .put(14, formatTime(a.lastMarginCallDate))
        .put(15, formatMoney(a.usedMargin3))
        .put(16, formatMoney(a.m2mEquity))
        .put(17, formatMoney(a.nonTradeEquity))
        .put(34, fieldText(a.maintenanceType))
        .put(37, integer(a.amountLimit))
        .put(39, integer(a.baseUnitSize))
        .put(40, flag(a.maintenanceFlag))
        .put(45, fieldText(a.leverageProfileId))
        .join();
}

std::string orderLine(const OrderRecord& o, int d) {
    auto rate = [&](double v) { return v == 0 ? std::string("0") : formatPrice(v, d); };
    return Fields()
        .put(0, fieldText(o.orderId))
        .put(2, fieldText(o.requestId))
        .put(3, fieldText(o.requestTxt))
        .put(4, formatTime(o.statusTime))
        .put(6, formatNumber(o.lifetime))
        .put(7, rate(o.rate))
        .put(9, fieldText(o.tradeId))
        .put(10, fieldText(o.accountId))
        .put(11, fieldText(o.accountName))
        .put(12, fieldText(o.offerId))
        .put(13, fieldText(o.buySell))
        .put(14, integer(o.amount))
        .put(15, fieldText(o.stage))
        .put(25, formatNumber(o.atMarket))
        .put(26, fieldText(o.accountKind))
        .put(27, integer(o.trailStep))
        .put(28, rate(o.trailRate))
        .put(29, fieldText(o.timeInForce))
        .put(32, fieldText(o.type))
        .put(33, fieldText(o.status))
        .put(38, integer(o.originAmount))
        .put(39, integer(o.filledAmount))
        .put(41, rate(o.executionRate))
        .put(43, flag(o.workingIndicator))
        .put(45, fieldText(o.contingentOrderId))
        .put(46, formatNumber(o.pegOffset))
        .put(47, rate(o.rateMin))
        .put(49, rate(o.rateMax))
        .put(51, fieldText(o.pegType))
        .put(52, flag(o.netQuantity))
        .put(53, integer(o.contingencyType))
        .put(54, fieldText(o.primaryId))
        .put(55, formatTime(o.expireDate))
        .put(56, fieldText(o.valueDate))
        .put(58, fieldText(o.parties))
        .join();
}

std::string tradeLine(const TradeRecord& t, int d) {
    return Fields()
        .put(0, fieldText(t.tradeId))
        .put(4, fieldText(t.accountId))
        .put(5, fieldText(t.accountName))
        .put(6, fieldText(t.offerId))
        .put(7, formatMoney(t.rolloverInterest))
        .put(8, formatMoney(t.commission))
        .put(9, formatTime(t.openTime))
        .put(10, formatPrice(t.openRate, d))
        .put(11, fieldText(t.openQuoteId))
        .put(12, fieldText(t.buySell))
        .put(13, integer(t.amount))
        .put(20, integer(std::llround(std::isfinite(t.usedMargin) ? t.usedMargin : 0)))
        .put(21, fieldText(t.accountKind))
        .put(22, fieldText(t.openOrderId))
        .put(23, fieldText(t.openOrderReqId))
        .put(24, fieldText(t.openOrderRequestTxt))
        .put(27, fieldText(t.tradeIdOrigin))
        .put(28, fieldText(t.valueDate))
        .put(32, fieldText(t.parties))
        .join();
}

std::string closedTradeLine(const ClosedTradeRecord& c, int d) {
    return Fields()
        .put(0, fieldText(c.tradeId))
        .put(4, fieldText(c.accountId))
        .put(5, fieldText(c.accountName))
        .put(6, fieldText(c.offerId))
        .put(7, formatMoney(c.rolloverInterest))
        .put(8, formatMoney(c.commission))
        .put(9, formatMoney(c.grossPL))
        .put(10, formatTime(c.openTime))
        .put(11, formatTime(c.closeTime))
        .put(12, formatPrice(c.openRate, d))
        .put(13, fieldText(c.openQuoteId))
        .put(14, formatPrice(c.closeRate, d))
        .put(15, fieldText(c.closeQuoteId))
        .put(16, fieldText(c.buySell))
        .put(17, integer(c.amount))
        .put(24, fieldText(c.accountKind))
        .put(25, fieldText(c.openOrderId))
        .put(26, fieldText(c.openOrderReqId))
        .put(27, fieldText(c.openOrderRequestTxt))
        .put(28, fieldText(c.closeOrderId))
        .put(29, fieldText(c.closeOrderReqId))
        .put(30, fieldText(c.closeOrderRequestTxt))
        .put(32, fieldText(c.tradeIdOrigin))
        .put(33, fieldText(c.valueDate))
        .put(35, fieldText(c.tradeIdRemain))
        .put(36, fieldText(c.openOrderParties))
        .put(37, fieldText(c.closeOrderParties))
        .join();
}

std::string messageLine(const MessageRecord& m) {
    return Fields()
        .put(0, fieldText(m.msgId))
        .put(3, formatTime(m.time))
        .put(4, fieldText(m.from))
        .put(5, fieldText(m.type))
        .put(6, fieldText(m.feature))
        .put(7, fieldText(m.text))
        .put(8, fieldText(m.subject))
        .join();
}

std::string instrumentLine(const Instrument& m) {
    // Bid and ask adjustments stay 0: offer lines carry the final prices.
    return Fields()
        .put(0, m.offerId)
        .put(4, formatNumber(m.buyInterest))
        .put(5, formatNumber(m.sellInterest))
        .put(9, m.symbol)
        .put(10, m.contractCurrency)
        .put(12, integer(m.digits))
        .put(13, formatNumber(m.pointSize))
        .put(15, "0")
        .put(16, "0")
        .put(18, m.subscriptionStatus)
        .put(21, integer(m.instrumentType))
        .put(23, m.priceStream)
        .put(25, integer(m.contractMultiplier))
        .put(26, m.permissions)
        .put(27, formatNumber(m.conditionDistances.stopForTrade))
        .put(28, formatNumber(m.conditionDistances.limitForTrade))
        .put(29, formatNumber(m.conditionDistances.entryStop))
        .put(30, formatNumber(m.conditionDistances.entryLimit))
        .put(31, integer(m.maxQuantity))
        .put(32, integer(m.minQuantity))
        .put(33, m.tradingStatus)
        .put(36, integer(m.baseUnitSize))
        .put(40, m.valueDate)
        .join();
}

std::string accountPropertiesLine(const Margin& m) {
    return Fields()
        .put(0, m.leverageProfile)
        .put(1, m.offerId)
        .put(2, formatNumber(m.values[0]))
        .put(3, formatNumber(m.values[1]))
        .put(4, formatNumber(m.values[2]))
        .join();
}

std::string resultSet(const std::vector<std::string>& lines) {
    std::string s = "0";
    for (const std::string& l : lines) {
        s += '\n';
        s += l;
    }
    return s;
}

std::string systemPropertiesAnswer(const World& w, const Connection& c) {
    std::vector<std::string> lines;
    for (const SystemProperty& p : w.systemProperties) lines.push_back(fieldText(p.name) + ";" + fieldText(p.value) + ";");
    if (!c.priceTerminal.empty()) lines.push_back("EXT_PRICE_TERMINAL;" + fieldText(c.priceTerminal) + ";");
    return resultSet(lines);
}

std::string instrumentsAnswer(const World& w) { return table(w.instruments, instrumentLine); }

std::string accountPropertiesAnswer(const World& w, const std::vector<std::string>& profiles) {
    std::vector<std::string> lines;
    for (const Margin& m : w.margins)
        if (std::find(profiles.begin(), profiles.end(), m.leverageProfile) != profiles.end())
            lines.push_back(accountPropertiesLine(m));
    return resultSet(lines);
}

int digitsOf(const World& w, const std::string& offerId) {
    const Instrument* m = w.findInstrument(offerId);
    return m ? m->digits : 5;
}

std::vector<std::string> leverageProfilesOf(const World& w, const User& u) {
    std::vector<std::string> out;
    for (const std::string& id : u.accounts)
        if (const Account* a = w.findAccount(id))
            if (std::find(out.begin(), out.end(), a->leverageProfile) == out.end()) out.push_back(a->leverageProfile);
    return out;
}

std::string offersAnswer(const World& w, const std::vector<OfferQuote>& rows) {
    return table(rows, [&](const OfferQuote& q) { return offerLine(q, digitsOf(w, q.offerId)); });
}
std::string accountsAnswer(const std::vector<AccountRecord>& rows) { return table(rows, accountLine); }
std::string ordersAnswer(const World& w, const std::vector<OrderRecord>& rows) {
    return table(rows, [&](const OrderRecord& o) { return orderLine(o, digitsOf(w, o.offerId)); });
}
std::string tradesAnswer(const World& w, const std::vector<TradeRecord>& rows) {
    return table(rows, [&](const TradeRecord& t) { return tradeLine(t, digitsOf(w, t.offerId)); });
}
std::string closedTradesAnswer(const World& w, const std::vector<ClosedTradeRecord>& rows) {
    return table(rows, [&](const ClosedTradeRecord& c) { return closedTradeLine(c, digitsOf(w, c.offerId)); });
}
std::string messagesAnswer(const std::vector<MessageRecord>& rows) { return table(rows, messageLine); }

std::string orderCreatedAnswer(const std::string& orderId) { return resultSet({fieldText(orderId) + ";N"}); }

std::string lastOrderUpdateAnswer(UpdateKind kind, const OrderRecord& o, int digits) {
    return resultSet({std::string(";") + kindText(kind) + ";" + orderLine(o, digits)});
}

std::string failureAnswer(FailureCode code, const std::string& text) {
    std::string t = fieldText(text);
    if (t.empty()) t = "The request failed.";
    return std::to_string(static_cast<int>(code)) + ";" + t;
}

std::string unknownOfferText(const std::string& offerId) { return "Unknown offer " + fieldText(offerId) + "."; }
std::string unknownAccountText(const std::string& accountId) { return "Unknown account '" + fieldText(accountId) + "'."; }
std::string amountMultipleText(int baseUnitSize) {
    return "Amount must be a multiple of " + std::to_string(baseUnitSize) + ".";
}

const char* tableCodeText(TableCode t) {
    switch (t) {
        case TableCode::Offer: return "OFFER";
        case TableCode::Account: return "ACCT";
        case TableCode::Order: return "ORDER";
        case TableCode::Trade: return "TRADE";
        case TableCode::ClosedTrade: return "CLSDTRADE";
        case TableCode::Message: return "MAIL";
        case TableCode::Instrument: return "INSTRMT";
    }
    return "";
}

// The stamp is closed by ";": the client reads it up to the next ";", not the line end.
UpdateText::UpdateText(UnixMs serverTime) : text_("0;" + dasTimestamp(serverTime) + ";") {}

UpdateText& UpdateText::add(TableCode table, UpdateKind kind, const std::string& fields) {
    text_ += '\n';
    text_ += tableCodeText(table);
    text_ += ';';
    text_ += kindText(kind);
    text_ += ';';
    text_ += fields;
    ++lines_;
    return *this;
}

} // namespace pellora::dealer
