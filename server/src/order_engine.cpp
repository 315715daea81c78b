#include "order_engine.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>

#include <openssl/evp.h>
#include <zlib.h>

namespace pellora::dealer {

namespace {

constexpr const char* kOrderIdKey = "next_order_id";
constexpr const char* kTradeIdKey = "next_trade_id";
constexpr const char* kMessageIdKey = "next_message_id";
constexpr size_t kMaxText = 255;        // custom texts (QTXT)
constexpr size_t kGoneKept = 256;       // removed orders kept per account for 117
constexpr double kMaxAmount = 1e9;

// A number field: present, finite and wholly numeric.
bool number(const std::string* s, double& out) {
    if (!s || s->empty() || s->size() > 40) return false;
    char* end = nullptr;
    errno = 0;
    out = std::strtod(s->c_str(), &end);
    return errno == 0 && end && *end == '\0' && std::isfinite(out);
}

bool flagSet(const std::string* s) { return s && *s == "Y"; }

int64_t readCounter(const std::map<std::string, std::string>& meta, const char* key, int64_t fallback) {
    auto it = meta.find(key);
    if (it == meta.end() || it->second.empty() || it->second.size() > 15 ||
        it->second.find_first_not_of("0123456789") != std::string::npos)
        return fallback;
    return std::max(fallback, static_cast<int64_t>(std::stoll(it->second)));
}

// The highest number an ID ends with, plus one.
int64_t after(const std::string& id, int64_t current) {
    const size_t digits = id.find_last_not_of("0123456789") + 1;
    const std::string tail = id.substr(digits);
    if (tail.empty() || tail.size() > 15) return current;
    return std::max(current, static_cast<int64_t>(std::stoll(tail)) + 1);
}

bool ownsAccount(const User& u, const std::string& accountId) {
    return std::find(u.accounts.begin(), u.accounts.end(), accountId) != u.accounts.end();
}

const char* opposite(const std::string& side) { return side == "B" ? "S" : "B"; }

// The price an order of that side trades at.
double priceFor(const std::string& side, const OfferQuote& q) { return side == "B" ? q.ask : q.bid; }

// Whether a stop (isStop) or limit order of that side at rate is crossed by the quote.
bool crossed(const std::string& side, bool isStop, double rate, const OfferQuote& q) {
    const double p = priceFor(side, q);
    if (p <= 0) return false;
    const double eps = 1e-9;
    if (side == "B") return isStop ? p >= rate - eps : p <= rate + eps;
    return isStop ? p <= rate + eps : p >= rate - eps;
}

bool isStopType(const std::string& type) { return type == "S" || type == "SE" || type == "ST"; }
bool isMarketType(const std::string& type) {
    return type == "OM" || type == "O" || type == "OR" || type == "CM" || type == "C" || type == "CR";
}

// An expiry date as order rows carry it: "MMDDYYYYhhmmss", milliseconds optional (UTC).
bool parseExpiry(const std::string* s, UnixMs& out) {
    if (!s || (s->size() != 14 && s->size() != 17) || s->find_first_not_of("0123456789") != std::string::npos)
        return false;
    auto num = [&](size_t at, size_t n) { return static_cast<unsigned>(std::stoul(s->substr(at, n))); };
    const unsigned mo = num(0, 2), d = num(2, 2), h = num(8, 2), mi = num(10, 2), sec = num(12, 2);
    const int y = static_cast<int>(num(4, 4));
    const unsigned ms = s->size() == 17 ? num(14, 3) : 0;
    if (y < 1970 || mo < 1 || mo > 12 || d < 1 || h > 23 || mi > 59 || sec > 59) return false;
    int cy = 0;
    unsigned cm = 0, cd = 0;
    civilFromDays(daysFromCivil(y, mo, d), cy, cm, cd);
    if (cy != y || cm != mo || cd != d) return false;  // 31 February and the like
    out = makeUtc(y, mo, d, h, mi, sec, ms);
    return true;
}

// The expiry of a waiting order whose time in force is GTD: read from "EXPIRE_DATE",
// and in the future. Other times in force carry none.
std::optional<std::string> readExpiry(const std::string& timeInForce, const std::string* field, UnixMs now,
                                      UnixMs kept, UnixMs& out) {
    out = 0;
    if (timeInForce != "GTD") return std::nullopt;
    if (!field) {
        if (kept > now) {
            out = kept;
            return std::nullopt;
        }
        return std::string("A GTD order needs an expiry date (EXPIRE_DATE).");
    }
    if (!parseExpiry(field, out)) return std::string("The expiry date must be MMDDYYYYhhmmss in UTC.");
    if (out <= now) return std::string("The expiry date has passed.");
    return std::nullopt;
}

std::string formatPips(double pips) {
    std::string s = formatNumber(pips);
    return s;
}

} // namespace

std::string encodeHtmlMessage(const std::string& html) {
    const std::string inner = "<HTML-DATA>" + html + "</HTML-DATA>";
    uLongf size = compressBound(static_cast<uLong>(inner.size()));
    std::string deflated(size, '\0');
    if (compress(reinterpret_cast<Bytef*>(&deflated[0]), &size, reinterpret_cast<const Bytef*>(inner.data()),
                 static_cast<uLong>(inner.size())) != Z_OK)
        return inner;
    deflated.resize(size);
    // A deflated stream holding the end tag would be cut short by the decoder.
    if (deflated.find("</DEFLATE-DATA>") != std::string::npos) return inner;
    const std::string tagged = "<DEFLATE-DATA>" + deflated + "</DEFLATE-DATA>";
    std::string b64(4 * ((tagged.size() + 2) / 3) + 1, '\0');
    const int n = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(&b64[0]),
                                  reinterpret_cast<const unsigned char*>(tagged.data()), static_cast<int>(tagged.size()));
    b64.resize(n > 0 ? static_cast<size_t>(n) : 0);
    return "<BASE64-DATA>" + b64 + "</BASE64-DATA>";
}

OrderEngine::OrderEngine(const World& world, const std::vector<Instrument>& instruments, const MarketCalendar& calendar)
    : world_(world), instruments_(instruments), calendar_(calendar), books_(world) {}

void OrderEngine::load(StoredState& s, UnixMs now) {
    accounts_ = std::move(s.accounts);
    orders_ = std::move(s.orders);
    trades_ = std::move(s.trades);
    closed_ = std::move(s.closedTrades);
    messages_ = std::move(s.messages);
    for (const RememberedRequest& r : s.requests)
        if (r.answeredAt > now - Store::kRequestMemory) remembered_[{r.user, r.requestId}] = r;
    for (const OrderRecord& o : orders_) nextOrder_ = after(o.orderId, nextOrder_);
    for (const TradeRecord& t : trades_) nextTrade_ = after(t.tradeId, nextTrade_);
    for (const ClosedTradeRecord& c : closed_) nextTrade_ = after(c.tradeId, nextTrade_);
    for (const MessageRecord& m : messages_) nextMessage_ = after(m.msgId, nextMessage_);
    nextOrder_ = readCounter(s.meta, kOrderIdKey, nextOrder_);
    nextTrade_ = readCounter(s.meta, kTradeIdKey, nextTrade_);
    nextMessage_ = readCounter(s.meta, kMessageIdKey, nextMessage_);
    // Margins follow the trades held (a world's starting trades carry none of their own).
    for (TradeRecord& t : trades_)
        if (const AccountRecord* a = account(t.accountId))
            t.usedMargin = books_.margin(a->leverageProfileId, t.offerId, t.amount);
    for (AccountRecord& a : accounts_) a.usedMargin = usedMargin(a.accountId);
    noteExpiries();
}

bool OrderEngine::isOrderCommand(int c) { return c == 34 || c == 19 || c == 20 || c == 131 || c == 117; }
bool OrderEngine::isRemembered(int c) { return c == 34 || c == 19 || c == 20 || c == 131; }

std::optional<std::string> OrderEngine::remembered(const std::string& user, const std::string& requestId,
                                                   UnixMs now) const {
    auto it = remembered_.find({user, requestId});
    if (it == remembered_.end() || it->second.answeredAt <= now - Store::kRequestMemory) return std::nullopt;
    return it->second.answer;
}

void OrderEngine::purgeRequests(UnixMs now) {
    for (auto it = remembered_.begin(); it != remembered_.end();)
        it = it->second.answeredAt <= now - Store::kRequestMemory ? remembered_.erase(it) : std::next(it);
}

// ---- Lookups

AccountRecord* OrderEngine::account(const std::string& id) {
    for (AccountRecord& a : accounts_)
        if (a.accountId == id) return &a;
    return nullptr;
}
OrderRecord* OrderEngine::order(const std::string& id) {
    for (OrderRecord& o : orders_)
        if (o.orderId == id) return &o;
    return nullptr;
}
TradeRecord* OrderEngine::trade(const std::string& id) {
    for (TradeRecord& t : trades_)
        if (t.tradeId == id) return &t;
    return nullptr;
}
const Instrument* OrderEngine::instrument(const std::string& offerId) const {
    for (const Instrument& m : instruments_)
        if (m.offerId == offerId) return &m;
    return nullptr;
}
std::string OrderEngine::ownerOf(const std::string& accountId) const {
    const User* u = world_.ownerOf(accountId);
    return u ? u->name : std::string();
}
std::vector<const TradeRecord*> OrderEngine::tradesOf(const std::string& accountId) const {
    std::vector<const TradeRecord*> out;
    for (const TradeRecord& t : trades_)
        if (t.accountId == accountId) out.push_back(&t);
    return out;
}
double OrderEngine::equity(const AccountRecord& a) const { return books_.equity(a, tradesOf(a.accountId), quotes_); }
double OrderEngine::usedMargin(const std::string& accountId) const {
    double m = 0;
    for (const TradeRecord& t : trades_)
        if (t.accountId == accountId) m += t.usedMargin;
    return cents(m);
}

std::string OrderEngine::nextId(const char* key, int64_t& counter, ChangeWriter& w) {
    const std::string id = std::to_string(counter++);
    w.meta(key, std::to_string(counter));
    return id;
}

void OrderEngine::touchAccount(const std::string& accountId, ChangeWriter& w) {
    if (AccountRecord* a = account(accountId)) {
        a->usedMargin = usedMargin(accountId);
        a->balance = cents(a->balance);
        w.account(ownerOf(accountId), *a);
    }
}

void OrderEngine::forget(const OrderRecord& o) {
    auto& list = gone_[o.accountId];
    list.push_back(o);
    if (list.size() > kGoneKept) list.pop_front();
}

// ---- Requests

std::string OrderEngine::request(const User& u, const DasRequest& r, OrderBatch* batch, ChangeWriter& w) {
    std::string answer;
    switch (r.command) {
        case 34: answer = createOrder(u, r, batch, w); break;
        case 19: answer = deleteOrder(u, r, w); break;
        case 20: answer = editOrder(u, r, w); break;
        case 131: answer = changeGroup(u, r, batch, w); break;
        case 117: return lastOrderUpdate(u, r);
        default: return failureAnswer(FailureCode::BadRequest, "Command " + std::to_string(r.command) + " is not an order command.");
    }
    if (isRemembered(r.command) && !r.requestId.empty()) {
        RememberedRequest rr{u.name, r.requestId, w.now(), answer};
        remembered_[{u.name, r.requestId}] = rr;
        w.remember(rr);
    }
    return answer;
}

// Everything createOrder reads from the wire, checked.
struct OrderEngine::NewOrder {
    AccountRecord* account = nullptr;
    const Instrument* ins = nullptr;
    std::string side;
    std::string type;
    std::string stage;  // "O" opening, "C" closing
    bool net = false;
    int amount = 0;
    double rate = 0, rateMin = 0, rateMax = 0;
    TradeRecord* trade = nullptr;
    int trailStep = 0;
};

std::string OrderEngine::createOrder(const User& u, const DasRequest& r, OrderBatch* batch, ChangeWriter& w) {
    auto fail = [](FailureCode c, const std::string& t) { return failureAnswer(c, t); };
    const std::string* acct = r.param("AcctID");
    if (!acct || acct->empty()) return fail(FailureCode::BadRequest, "The order names no account.");
    if (!ownsAccount(u, *acct) || !account(*acct)) return fail(FailureCode::UnknownAccount, unknownAccountText(*acct));
    NewOrder n;
    n.account = account(*acct);
    const std::string* offer = r.param("OfferID");
    if (!offer || !(n.ins = instrument(*offer)))
        return fail(FailureCode::UnknownOffer, unknownOfferText(offer ? *offer : std::string()));
    const std::string* side = r.param("BuySell");
    if (!side || (*side != "B" && *side != "S")) return fail(FailureCode::BadRequest, "BuySell must be B or S.");
    n.side = *side;
    const std::string* qtxt = r.param("QTXT");
    if (qtxt && qtxt->size() > kMaxText)
        return fail(FailureCode::BadRequest, "The custom text is longer than " + std::to_string(kMaxText) + " characters.");

    // The type, from the fields the order builder writes for it.
    const std::string* stage = r.param("Stage");
    const std::string* sideField = r.param("Side");
    const std::string* tradeId = r.param("TradeID");
    n.net = flagSet(r.param("NET_QTY_FLG"));
    const bool hasRate = r.param("Rate") != nullptr;
    const bool hasRange = r.param("Rate2") || r.param("RATE3");
    const bool hasPeg = r.param("PEG_TYPE") || r.param("PRICE_OFFSET_PIPS");
    if (!stage || (*stage != "O" && *stage != "C")) return fail(FailureCode::BadRequest, "The order fits no order type.");
    if (sideField) {
        if (*sideField != "1" && *sideField != "-1") return fail(FailureCode::BadRequest, "Side must be 1 or -1.");
        const bool limit = (n.side == "B") == (*sideField == "-1");
        if (*stage == "C") {
            n.type = limit ? "L" : "S";
            if (!tradeId) return fail(FailureCode::BadRequest, "The order fits no order type.");
        } else {
            n.type = limit ? "LE" : "SE";
            if (tradeId || hasRange) return fail(FailureCode::BadRequest, "The order fits no order type.");
        }
    } else {
        const bool closing = tradeId != nullptr || n.net;
        if (*stage == "C" && !closing) return fail(FailureCode::BadRequest, "The order fits no order type.");
        if (hasRange && hasRate) return fail(FailureCode::BadRequest, "The order fits no order type.");
        n.type = std::string(closing ? "C" : "O") + (hasRange ? "R" : hasRate ? "" : "M");
        if (hasPeg) return fail(FailureCode::BadRequest, "The order fits no order type.");
    }
    n.stage = (n.type == "CM" || n.type == "C" || n.type == "CR" || n.type == "S" || n.type == "L") ? "C" : "O";

    // The market.
    if (n.ins->tradingStatus != "O" || calendar_.isWeekend(w.now()))
        return fail(FailureCode::MarketClosed, kMarketClosedText);
    auto qit = quotes_.find(n.ins->offerId);
    if (qit == quotes_.end() || qit->second.bid <= 0 || qit->second.ask <= 0 || qit->second.bidTradable != "T")
        return fail(FailureCode::MarketClosed, kMarketClosedText);
    const OfferQuote& q = qit->second;
    const double pip = n.ins->pointSize > 0 ? n.ins->pointSize : n.ins->priceUnit();

    // The trade a closing order, stop or limit names.
    if (tradeId) {
        n.trade = trade(*tradeId);
        if (!n.trade || n.trade->accountId != n.account->accountId)
            return fail(FailureCode::UnknownTrade, "Unknown trade " + fieldText(*tradeId) + ".");
        if (n.trade->offerId != n.ins->offerId)
            return fail(FailureCode::BadRequest, "Trade " + n.trade->tradeId + " is not of offer " + n.ins->offerId + ".");
        if (n.trade->buySell == n.side)
            return fail(FailureCode::BadRequest, "The order must be on the other side of trade " + n.trade->tradeId + ".");
    }

    // The amount.
    const std::string* qty = r.param("Quantity");
    const int unit = std::max({1, n.ins->baseUnitSize, n.ins->instrumentType == 1 ? n.account->baseUnitSize : 1});
    if (qty || !n.net) {
        double a = 0;
        if (!number(qty, a) || a != std::floor(a)) return fail(FailureCode::BadAmount, "The amount must be a whole number.");
        if (a <= 0) return fail(FailureCode::BadAmount, "The amount must be positive.");
        if (a > kMaxAmount || (n.ins->maxQuantity > 0 && a > n.ins->maxQuantity))
            return fail(FailureCode::BadAmount, "The amount is above the maximum of " +
                                                    std::to_string(n.ins->maxQuantity > 0 ? n.ins->maxQuantity : static_cast<int>(kMaxAmount)) + ".");
        if (static_cast<int64_t>(a) % unit != 0) return fail(FailureCode::BadAmount, amountMultipleText(unit));
        if (a < n.ins->minQuantity) return fail(FailureCode::BadAmount, "The amount is below the minimum of " + std::to_string(n.ins->minQuantity) + ".");
        if (n.account->amountLimit > 0 && a > n.account->amountLimit)
            return fail(FailureCode::BadAmount, "The amount is above the account's limit of " + std::to_string(n.account->amountLimit) + ".");
        n.amount = static_cast<int>(a);
        if (n.net && n.trade) n.net = false;  // a trade named closes that amount of it
    }
    if (n.trade && n.amount > n.trade->amount)
        return fail(FailureCode::BadAmount, "The amount is above the trade's " + std::to_string(n.trade->amount) + ".");

    // The rates.
    auto rateOf = [&](const char* name, double& out) {
        return number(r.param(name), out) && out > 0;
    };
    if (hasRate && !rateOf("Rate", n.rate)) return fail(FailureCode::BadRate, "The rate must be a positive number.");
    if (hasRange && (!rateOf("Rate2", n.rateMin) || !rateOf("RATE3", n.rateMax) || n.rateMin > n.rateMax))
        return fail(FailureCode::BadRate, "The range must be two positive rates, the lower first.");
    if ((n.type == "S" || n.type == "L") && !hasRate) {
        // A pegged stop or limit: from the trade's open price (type 0) or the market (1).
        const std::string* pegType = r.param("PEG_TYPE");
        double offset = 0;
        if (!pegType || (*pegType != "0" && *pegType != "1") || !number(r.param("PRICE_OFFSET_PIPS"), offset))
            return fail(FailureCode::BadRate, "The order needs a rate or a peg type and offset.");
        const double base = *pegType == "0" ? n.trade->openRate : priceFor(n.side, q);
        n.rate = base + offset * pip;
        if (n.rate <= 0) return fail(FailureCode::BadRate, "The pegged rate is not positive.");
    }
    if (const std::string* trail = r.param("TrailUpdatePips")) {
        double t = 0;
        if (!number(trail, t) || t < 0 || t != std::floor(t) || t > 10000)
            return fail(FailureCode::BadRate, "The trailing step must be a whole number of pips.");
        if (t > 0 && n.type != "S" && n.type != "SE") return fail(FailureCode::BadRate, "Only stops trail.");
        n.trailStep = static_cast<int>(t);
    }
    // Stops and limits keep their distance from the market.
    const bool entry = n.type == "SE" || n.type == "LE";
    if (entry || n.type == "S" || n.type == "L") {
        const ConditionDistances& d = n.ins->conditionDistances;
        const bool stop = isStopType(n.type);
        const double dist = (entry ? (stop ? d.entryStop : d.entryLimit) : (stop ? d.stopForTrade : d.limitForTrade)) * pip;
        const double market = priceFor(n.side, q);
        const bool above = (n.side == "B") == stop;  // buy stops and sell limits wait above the market
        if (above ? n.rate < market + dist - 1e-9 : n.rate > market - dist + 1e-9)
            return fail(FailureCode::BadRate, std::string("The rate must be at least ") + formatPips(dist / pip) +
                                                  " pips " + (above ? "above" : "below") + " the market.");
    }

    // Stops and limits attached to an opening order.
    struct Attached {
        std::string type;
        double rate = 0;
        std::string pegType;
        double pegOffset = 0;
        int trail = 0;
    };
    std::vector<Attached> attached;
    if (n.stage == "O" && !n.net) {
        for (const char* kind : {"S", "L"}) {
            const std::string k = kind;
            Attached at;
            at.type = k;
            const bool hasR = r.param("Rate" + k) != nullptr;
            const std::string* pt = r.param(std::string("PEG_TYPE") + k);
            const std::string* po = r.param("PRICE_OFFSET_PIPS_" + k);
            if (!hasR && !pt && !po) continue;
            if (hasR) {
                if (!rateOf(("Rate" + k).c_str(), at.rate))
                    return fail(FailureCode::BadRate, "The attached " + std::string(k == "S" ? "stop" : "limit") + " rate must be a positive number.");
            } else if (!pt || (*pt != "0" && *pt != "1") || !number(po, at.pegOffset)) {
                return fail(FailureCode::BadRate, "The attached order needs a rate or a peg type and offset.");
            } else {
                at.pegType = *pt;
            }
            if (k == "S")
                if (const std::string* ts = r.param("TrailUpdatePipsS")) {
                    double t = 0;
                    if (!number(ts, t) || t < 0 || t != std::floor(t) || t > 10000)
                        return fail(FailureCode::BadRate, "The trailing step must be a whole number of pips.");
                    at.trail = static_cast<int>(t);
                }
            // A fixed rate is on the loss side (stop) or the profit side (limit) of the entry.
            if (!hasR) {
                attached.push_back(at);
                continue;
            }
            const double ref = entry ? n.rate : priceFor(opposite(n.side), q);
            const bool below = (n.side == "B") == (k == "S");
            if (below ? at.rate >= ref : at.rate <= ref)
                return fail(FailureCode::BadRate, std::string("The attached ") + (k == "S" ? "stop" : "limit") +
                                                      " must be " + (below ? "below" : "above") + " the open rate.");
            attached.push_back(at);
        }
    }

    // Contingency: OCO members share a group, OTO children wait for their primary.
    int contingency = 0;
    if (const std::string* ct = r.param("CONTINGENCY_TYPE")) {
        double k = 0;
        if (!number(ct, k) || (k != 0 && k != 1 && k != 2 && k != 3))
            return fail(FailureCode::BadRequest, "CONTINGENCY_TYPE must be 0 to 3.");
        contingency = static_cast<int>(k);
    }
    std::string primaryOrder;
    bool primaryDone = false;
    const std::string* pq = r.param("PRIMARY_QID");
    if (batch && contingency == 1) {
        if (pq && batch->ocoPrimaryQid.empty()) batch->ocoPrimaryQid = *pq;
        if (!pq && !batch->ocoPrimaryQid.empty()) pq = &batch->ocoPrimaryQid;
    }
    if (pq) {
        std::string found;
        if (batch) {
            auto it = batch->orderIdByRequest.find(*pq);
            if (it != batch->orderIdByRequest.end()) found = it->second;
        }
        for (const OrderRecord& o : orders_)
            if (found.empty() && o.requestId == *pq && o.accountId == n.account->accountId) found = o.orderId;
        if (found.empty()) return fail(FailureCode::UnknownOrder, "The primary order " + fieldText(*pq) + " is unknown.");
        primaryOrder = found;
        primaryDone = order(found) == nullptr;  // already filled
    }
    const bool waits = !primaryOrder.empty() && !primaryDone;

    // Margin for what the order opens now (market orders; entries when they fill).
    const bool market = isMarketType(n.type);
    const std::string* tif = r.param("GTC");
    const std::string timeInForce = tif && !tif->empty() ? *tif : (market ? "IOC" : "GTC");
    UnixMs expiry = 0;
    if (!market)
        if (auto bad = readExpiry(timeInForce, r.param("EXPIRE_DATE"), w.now(), 0, expiry))
            return fail(FailureCode::BadRequest, *bad);
    double price = 0;
    if (market) {
        price = priceFor(n.side, q);
        if (waits) return fail(FailureCode::BadRequest, "A market order cannot wait for a primary order.");
        if ((n.type == "O" || n.type == "C") && (n.side == "B" ? price > n.rate + 1e-9 : price < n.rate - 1e-9))
            return fail(FailureCode::PriceMoved, kPriceMovedText);
        if ((n.type == "OR" || n.type == "CR") && (price < n.rateMin - 1e-9 || price > n.rateMax + 1e-9))
            return fail(FailureCode::PriceMoved, kPriceMovedText);
        if (n.stage == "O" && !n.net) {
            int opens = n.amount;
            if (n.account->maintenanceType != "Y")
                for (const TradeRecord& t : trades_)
                    if (t.accountId == n.account->accountId && t.offerId == n.ins->offerId && t.buySell != n.side)
                        opens -= std::min(opens, t.amount);
            const double need = books_.margin(n.account->leverageProfileId, n.ins->offerId, opens);
            if (opens > 0 && equity(*n.account) - n.account->usedMargin < need - 1e-9)
                return fail(FailureCode::NotEnoughMargin, kNotEnoughMarginText);
        }
        if (n.net && !n.trade) {
            bool any = false;
            for (const TradeRecord& t : trades_)
                any |= t.accountId == n.account->accountId && t.offerId == n.ins->offerId && t.buySell != n.side;
            if (!any) return fail(FailureCode::UnknownTrade, "There is no trade to close.");
        }
    }

    // ---- Checked: from here on the order executes.
    OrderRecord o;
    o.orderId = nextId(kOrderIdKey, nextOrder_, w);
    o.requestId = r.requestId;
    o.requestTxt = qtxt ? *qtxt : std::string();
    o.statusTime = w.now();
    o.rate = n.rate;
    o.tradeId = n.trade ? n.trade->tradeId : std::string();
    o.accountId = n.account->accountId;
    o.accountName = n.account->accountName;
    o.offerId = n.ins->offerId;
    o.buySell = n.side;
    o.amount = n.net && !n.trade ? 0 : n.amount;
    o.originAmount = o.amount;
    o.stage = n.stage;
    o.accountKind = n.account->accountKind;
    o.trailStep = n.trailStep;
    o.trailRate = n.trailStep ? priceFor(n.side, q) : 0;
    o.timeInForce = timeInForce;
    o.expireDate = expiry;
    if (expiry > 0 && (nextExpiry_ == 0 || expiry < nextExpiry_)) nextExpiry_ = expiry;
    o.type = n.type;
    o.status = market ? "E" : "W";
    o.workingIndicator = !waits;
    o.rateMin = n.rateMin;
    o.rateMax = n.rateMax;
    o.netQuantity = n.net;
    o.contingencyType = contingency;
    if (contingency == 1 && batch) {
        if (batch->ocoGroup.empty()) batch->ocoGroup = o.orderId;
        o.contingentOrderId = batch->ocoGroup;
    } else if (const std::string* cid = r.param("CONTINGENCY_ID"); cid && contingency == 1) {
        o.contingentOrderId = *cid;
    }
    o.primaryId = waits ? primaryOrder : std::string();
    o.valueDate = n.ins->valueDate;
    if (n.type == "S" || n.type == "L") {
        o.amount = o.originAmount = n.trade->amount;
        // A new stop or limit replaces the one the trade had.
        std::vector<std::string> old;
        for (const OrderRecord& x : orders_)
            if (x.tradeId == o.tradeId && x.type == n.type) old.push_back(x.orderId);
        for (const std::string& id : old) removeOrder(id, "C", w);
    }
    if (batch) batch->orderIdByRequest[r.requestId] = o.orderId;
    const std::string user = ownerOf(o.accountId);
    orders_.push_back(o);
    w.order(user, UpdateKind::Insert, o);
    // Attached stops and limits wait with the order's request ID, not working, for its trade.
    for (const Attached& at : attached) {
        OrderRecord c;
        c.orderId = nextId(kOrderIdKey, nextOrder_, w);
        c.requestId = o.requestId;
        c.requestTxt = o.requestTxt;
        c.statusTime = w.now();
        c.rate = at.rate;
        c.accountId = o.accountId;
        c.accountName = o.accountName;
        c.offerId = o.offerId;
        c.buySell = opposite(o.buySell);
        c.amount = c.originAmount = o.amount;
        c.stage = "C";
        c.accountKind = o.accountKind;
        c.trailStep = at.trail;
        c.timeInForce = "GTC";
        c.type = at.type;
        c.status = "W";
        c.workingIndicator = false;
        c.pegType = at.pegType;
        c.pegOffset = at.pegOffset;
        c.primaryId = o.orderId;
        c.valueDate = o.valueDate;
        orders_.push_back(c);
        w.order(user, UpdateKind::Insert, c);
    }
    if (market) fill(o.orderId, price, w);
    touchAccount(o.accountId, w);
    return orderCreatedAnswer(o.orderId);
}

// ---- Execution

std::string OrderEngine::open(OrderRecord& o, int amount, double price, ChangeWriter& w) {
    AccountRecord* a = account(o.accountId);
    if (!a) return {};
    if (a->maintenanceType != "Y") {
        // Netting: opposite trades close first, oldest first.
        std::vector<std::string> opposite;
        for (const TradeRecord& t : trades_)
            if (t.accountId == o.accountId && t.offerId == o.offerId && t.buySell != o.buySell) opposite.push_back(t.tradeId);
        for (const std::string& id : opposite) {
            if (amount <= 0) break;
            const TradeRecord* t = trade(id);
            const int part = std::min(amount, t->amount);
            closeTrade(id, part, price, o, w);
            amount -= part;
        }
    }
    if (amount <= 0) return {};
    const OfferQuote& q = quotes_[o.offerId];
    TradeRecord t;
    t.tradeId = nextId(kTradeIdKey, nextTrade_, w);
    t.accountId = o.accountId;
    t.accountName = o.accountName;
    t.offerId = o.offerId;
    t.openTime = w.now();
    t.openRate = price;
    t.openQuoteId = q.quoteId;
    t.buySell = o.buySell;
    t.amount = amount;
    t.usedMargin = books_.margin(a->leverageProfileId, o.offerId, amount);
    t.accountKind = o.accountKind;
    t.openOrderId = o.orderId;
    t.openOrderReqId = o.requestId;
    t.openOrderRequestTxt = o.requestTxt;
    t.valueDate = o.valueDate;
    trades_.push_back(t);
    w.trade(ownerOf(t.accountId), UpdateKind::Insert, t);
    return t.tradeId;
}

void OrderEngine::closeTrade(const std::string& tradeId, int amount, double price, const OrderRecord& by,
                             ChangeWriter& w) {
    TradeRecord* t = trade(tradeId);
    AccountRecord* a = t ? account(t->accountId) : nullptr;
    const Instrument* m = t ? world_.findInstrument(t->offerId) : nullptr;
    if (!t || !a || !m || amount <= 0) return;
    amount = std::min(amount, t->amount);
    const bool whole = amount == t->amount;
    const std::string user = ownerOf(t->accountId);
    ClosedTradeRecord c;
    c.tradeId = whole ? t->tradeId : nextId(kTradeIdKey, nextTrade_, w);
    c.accountId = t->accountId;
    c.accountName = t->accountName;
    c.offerId = t->offerId;
    // Interest and commission go with the part closed.
    const double share = static_cast<double>(amount) / t->amount;
    c.rolloverInterest = cents(t->rolloverInterest * share);
    c.commission = cents(t->commission * share);
    c.grossPL = books_.profit(*m, t->buySell, amount, t->openRate, price, books_.currencyOf(a->accountId), quotes_);
    c.openTime = t->openTime;
    c.closeTime = w.now();
    c.openRate = t->openRate;
    c.openQuoteId = t->openQuoteId;
    c.closeRate = price;
    c.closeQuoteId = quotes_[t->offerId].quoteId;
    c.buySell = t->buySell;
    c.amount = amount;
    c.accountKind = t->accountKind;
    c.openOrderId = t->openOrderId;
    c.openOrderReqId = t->openOrderReqId;
    c.openOrderRequestTxt = t->openOrderRequestTxt;
    c.closeOrderId = by.orderId;
    c.closeOrderReqId = by.requestId;
    c.closeOrderRequestTxt = by.requestTxt;
    c.tradeIdOrigin = t->tradeIdOrigin.empty() ? t->tradeId : t->tradeIdOrigin;
    c.valueDate = t->valueDate;
    c.tradeIdRemain = whole ? std::string() : t->tradeId;
    a->balance = cents(a->balance + c.grossPL - c.commission);
    if (whole) {
        const TradeRecord gone = *t;
        trades_.erase(trades_.begin() + (t - trades_.data()));
        w.trade(user, UpdateKind::Delete, gone);
        // Its stops and limits go with it (the closing order itself is the caller's).
        std::vector<std::string> orphans;
        for (const OrderRecord& o : orders_)
            if (o.tradeId == tradeId && o.orderId != by.orderId) orphans.push_back(o.orderId);
        for (const std::string& id : orphans) removeOrder(id, "C", w);
    } else {
        t->rolloverInterest = cents(t->rolloverInterest - c.rolloverInterest);
        t->commission = cents(t->commission - c.commission);
        t->amount -= amount;
        t->usedMargin = books_.margin(a->leverageProfileId, t->offerId, t->amount);
        w.trade(user, UpdateKind::Update, *t);
        for (OrderRecord& o : orders_)
            if (o.tradeId == tradeId && o.orderId != by.orderId && o.amount > t->amount) {
                o.amount = t->amount;
                w.order(user, UpdateKind::Update, o);
            }
    }
    w.closedTrade(user, c);
    closed_.push_back(c);
}

void OrderEngine::fill(const std::string& orderId, double price, ChangeWriter& w) {
    OrderRecord* p = order(orderId);
    if (!p) return;
    OrderRecord o = *p;
    const std::string user = ownerOf(o.accountId);
    std::string newTrade;
    int filled = o.amount;
    if (o.netQuantity && o.tradeId.empty()) {
        // Net quantity: every trade of the offer on the other side closes.
        std::vector<std::string> ids;
        filled = 0;
        for (const TradeRecord& t : trades_)
            if (t.accountId == o.accountId && t.offerId == o.offerId && t.buySell != o.buySell) {
                ids.push_back(t.tradeId);
                filled += t.amount;
            }
        for (const std::string& id : ids) closeTrade(id, trade(id)->amount, price, o, w);
    } else if (o.stage == "C") {
        const TradeRecord* t = trade(o.tradeId);
        filled = t ? std::min(o.amount, t->amount) : 0;
        if (t) closeTrade(o.tradeId, filled, price, o, w);
    } else {
        newTrade = open(o, o.amount, price, w);
    }
    ++executed_;
    p = order(orderId);  // closing may have moved the orders
    if (p) {
        p->status = "F";
        p->filledAmount = filled;
        p->executionRate = price;
        p->statusTime = w.now();
        o = *p;
        orders_.erase(orders_.begin() + (p - orders_.data()));
        forget(o);
        w.order(user, UpdateKind::Delete, o);
    }
    // The other members of its OCO group are deleted.
    if (o.contingencyType == 1 && !o.contingentOrderId.empty()) {
        std::vector<std::string> siblings;
        for (const OrderRecord& x : orders_)
            if (x.contingencyType == 1 && x.contingentOrderId == o.contingentOrderId) siblings.push_back(x.orderId);
        for (const std::string& id : siblings) removeOrder(id, "C", w);
    }
    release(o, newTrade, w);
}

void OrderEngine::release(const OrderRecord& primary, const std::string& tradeId, ChangeWriter& w) {
    const std::string user = ownerOf(primary.accountId);
    std::vector<std::string> orphans;
    for (OrderRecord& c : orders_) {
        if (c.primaryId != primary.orderId || c.workingIndicator) continue;
        const bool attached = (c.type == "S" || c.type == "L") && c.tradeId.empty();
        if (attached) {
            const TradeRecord* t = tradeId.empty() ? nullptr : trade(tradeId);
            if (!t) {
                orphans.push_back(c.orderId);
                continue;
            }
            c.tradeId = t->tradeId;
            c.amount = c.originAmount = t->amount;
            if (!c.pegType.empty()) {
                const double pip = world_.findInstrument(c.offerId) ? world_.findInstrument(c.offerId)->pointSize : 0.0001;
                const double base = c.pegType == "0" ? t->openRate : priceFor(c.buySell, quotes_[c.offerId]);
                c.rate = base + c.pegOffset * pip;
            }
            c.primaryId.clear();
            if (c.trailStep) c.trailRate = priceFor(c.buySell, quotes_[c.offerId]);
        }
        c.workingIndicator = true;
        c.statusTime = w.now();
        w.order(user, UpdateKind::Update, c);
    }
    for (const std::string& id : orphans) removeOrder(id, "C", w);
}

void OrderEngine::removeOrder(const std::string& orderId, const std::string& status, ChangeWriter& w) {
    OrderRecord* p = order(orderId);
    if (!p) return;
    p->status = status;
    p->statusTime = w.now();
    const OrderRecord o = *p;
    orders_.erase(orders_.begin() + (p - orders_.data()));
    forget(o);
    w.order(ownerOf(o.accountId), UpdateKind::Delete, o);
    // What waits for it goes too.
    std::vector<std::string> children;
    for (const OrderRecord& c : orders_)
        if (c.primaryId == orderId && !c.workingIndicator) children.push_back(c.orderId);
    for (const std::string& id : children) removeOrder(id, status, w);
}

void OrderEngine::trail(OrderRecord& o, const OfferQuote& q, ChangeWriter& w) {
    const Instrument* m = world_.findInstrument(o.offerId);
    if (!m || o.trailStep <= 0) return;
    const double step = o.trailStep * m->pointSize;
    const double market = priceFor(o.buySell, q);
    if (o.trailRate <= 0) o.trailRate = market;
    // A sell stop follows the market up, a buy stop follows it down, n pips at a time.
    const double moved = o.buySell == "S" ? market - o.trailRate : o.trailRate - market;
    const double steps = std::floor(moved / step + 1e-9);
    if (steps < 1) return;
    const double by = steps * step * (o.buySell == "S" ? 1 : -1);
    const double unit = m->priceUnit();
    o.rate = std::round((o.rate + by) / unit) * unit;
    o.trailRate = std::round((o.trailRate + by) / unit) * unit;
    o.statusTime = w.now();
    w.order(ownerOf(o.accountId), UpdateKind::Update, o);
}

void OrderEngine::onQuote(const OfferQuote& q, ChangeWriter& w) {
    const bool first = quotes_.find(q.offerId) == quotes_.end();
    quotes_[q.offerId] = q;
    if (first || q.bid <= 0 || q.ask <= 0) return;
    const Instrument* m = instrument(q.offerId);
    if (!m || m->tradingStatus != "O" || q.bidTradable != "T") return;
    std::vector<std::pair<std::string, double>> due;
    for (OrderRecord& o : orders_) {
        if (o.offerId != q.offerId || !o.workingIndicator || o.status != "W" || isMarketType(o.type)) continue;
        if (o.timeInForce == "GTD" && o.expireDate > 0 && o.expireDate <= w.now()) continue;  // expired, not filled
        if (o.trailStep > 0 && isStopType(o.type)) trail(o, q, w);
        if (crossed(o.buySell, isStopType(o.type), o.rate, q)) due.emplace_back(o.orderId, priceFor(o.buySell, q));
    }
    std::vector<std::string> accounts;
    for (const auto& [id, price] : due) {
        if (const OrderRecord* o = order(id)) {
            if (std::find(accounts.begin(), accounts.end(), o->accountId) == accounts.end()) accounts.push_back(o->accountId);
            // An entry fills only with the margin for it; otherwise it waits on.
            if ((o->type == "SE" || o->type == "LE") && !o->netQuantity) {
                const AccountRecord* a = account(o->accountId);
                const double need = books_.margin(a->leverageProfileId, o->offerId, o->amount);
                if (a->maintenanceType == "Y" && equity(*a) - a->usedMargin < need - 1e-9) continue;
            }
            fill(id, price, w);
        }
    }
    for (const std::string& a : accounts) touchAccount(a, w);
    checkMarginCalls(q.offerId, w);
}

void OrderEngine::checkMarginCalls(const std::string& offerId, ChangeWriter& w) {
    std::vector<std::string> ids;
    for (const TradeRecord& t : trades_)
        if (t.offerId == offerId && std::find(ids.begin(), ids.end(), t.accountId) == ids.end()) ids.push_back(t.accountId);
    for (const std::string& id : ids) {
        const AccountRecord* a = account(id);
        if (a && a->usedMargin > 0 && equity(*a) < a->usedMargin) (void)marginCall(id, false, w);
    }
}

Status OrderEngine::marginCall(const std::string& accountId, bool forced, ChangeWriter& w) {
    AccountRecord* a = account(accountId);
    if (!a) return Status::error(unknownAccountText(accountId));
    const std::string currency = books_.currencyOf(accountId);
    std::vector<std::string> closedIds;
    double lossBooked = 0;
    for (;;) {
        a->usedMargin = usedMargin(accountId);
        if (!(forced && closedIds.empty()) && equity(*a) >= a->usedMargin) break;
        // The trade with the largest loss (or smallest profit) closes first.
        const TradeRecord* worst = nullptr;
        double worstPl = 0;
        for (const TradeRecord& t : trades_) {
            if (t.accountId != accountId || quotes_.find(t.offerId) == quotes_.end()) continue;
            const double pl = books_.floating(t, currency, quotes_);
            if (!worst || pl < worstPl) {
                worst = &t;
                worstPl = pl;
            }
        }
        if (!worst) break;
        OrderRecord by;
        by.orderId = nextId(kOrderIdKey, nextOrder_, w);
        by.requestTxt = "Margin call";
        const std::string id = worst->tradeId;
        const double price = priceFor(opposite(worst->buySell), quotes_[worst->offerId]);
        closeTrade(id, worst->amount, price, by, w);
        closedIds.push_back(id);
        lossBooked += worstPl;
    }
    if (closedIds.empty()) return Status::ok();
    a = account(accountId);
    a->marginCallFlag = "N";
    a->lastMarginCallDate = w.now();
    touchAccount(accountId, w);
    std::string list;
    for (const std::string& id : closedIds) list += "<li>Trade " + id + "</li>";
    message(ownerOf(accountId), "Margin call on account " + accountId,
            "<p>The equity of account <b>" + accountId + "</b> fell below its used margin.</p><p>Closed:</p><ul>" +
                list + "</ul><p>Realised: " + formatMoney(lossBooked) + " " + currency + "</p>",
            true, w);
    return Status::ok();
}

void OrderEngine::rollover(ChangeWriter& w) {
    std::vector<std::string> touched;
    for (TradeRecord& t : trades_) {
        const Instrument* m = world_.findInstrument(t.offerId);
        AccountRecord* a = account(t.accountId);
        if (!m || !a) continue;
        const double perLot = t.buySell == "B" ? m->buyInterest : m->sellInterest;
        const double interest = cents(perLot * t.amount / std::max(1, m->baseUnitSize));
        if (interest != 0) {
            t.rolloverInterest = cents(t.rolloverInterest + interest);
            a->balance = cents(a->balance + interest);
            w.trade(ownerOf(t.accountId), UpdateKind::Update, t);
        }
    }
    std::vector<std::string> dayOrders;
    for (const OrderRecord& o : orders_)
        if (o.timeInForce == "DAY") dayOrders.push_back(o.orderId);
    for (const std::string& id : dayOrders) removeOrder(id, "C", w);
    for (AccountRecord& a : accounts_) {
        a.m2mEquity = equity(a);
        touchAccount(a.accountId, w);
    }
}

void OrderEngine::expireOrders(ChangeWriter& w) {
    if (nextExpiry_ == 0 || nextExpiry_ > w.now()) return;
    std::vector<std::string> due;
    for (const OrderRecord& o : orders_)
        if (o.timeInForce == "GTD" && o.expireDate > 0 && o.expireDate <= w.now()) due.push_back(o.orderId);
    std::vector<std::string> accounts;
    for (const std::string& id : due) {
        const OrderRecord* o = order(id);
        if (!o) continue;  // went with an order it waited for
        if (std::find(accounts.begin(), accounts.end(), o->accountId) == accounts.end()) accounts.push_back(o->accountId);
        removeOrder(id, "C", w);
    }
    for (const std::string& a : accounts) touchAccount(a, w);
    noteExpiries();
}

void OrderEngine::noteExpiries() {
    nextExpiry_ = 0;
    for (const OrderRecord& o : orders_)
        if (o.timeInForce == "GTD" && o.expireDate > 0 && (nextExpiry_ == 0 || o.expireDate < nextExpiry_))
            nextExpiry_ = o.expireDate;
}

void OrderEngine::message(const std::string& user, const std::string& subject, const std::string& text, bool html,
                          ChangeWriter& w) {
    MessageRecord m;
    m.msgId = std::to_string(nextMessage_++);
    w.meta(kMessageIdKey, std::to_string(nextMessage_));
    m.user = user;
    m.time = w.now();
    m.from = "Dealer";
    m.type = "1";
    m.text = html ? encodeHtmlMessage(text) : text;
    m.subject = subject;
    messages_.push_back(m);
    w.message(m);
}

std::string OrderEngine::consistencyFault(const std::map<std::string, double>& start) const {
    for (const AccountRecord& a : accounts_) {
        auto it = start.find(a.accountId);
        double booked = it == start.end() ? 0 : it->second;
        for (const ClosedTradeRecord& c : closed_)
            if (c.accountId == a.accountId) booked += c.grossPL - c.commission + c.rolloverInterest;
        double margin = 0;
        for (const TradeRecord& t : trades_) {
            if (t.accountId != a.accountId) continue;
            booked += t.rolloverInterest;
            const double want = books_.margin(a.leverageProfileId, t.offerId, t.amount);
            if (std::fabs(t.usedMargin - want) > 1e-6)
                return "trade " + t.tradeId + " carries margin " + formatMoney(t.usedMargin) + ", not " + formatMoney(want);
            if (t.amount <= 0) return "trade " + t.tradeId + " has no amount";
            margin += t.usedMargin;
        }
        if (std::fabs(a.balance - booked) > 0.005 * (1 + closed_.size()))
            return "account " + a.accountId + " holds " + formatMoney(a.balance) + ", its history " + formatMoney(booked);
        if (std::fabs(a.usedMargin - cents(margin)) > 0.011)
            return "account " + a.accountId + " shows margin " + formatMoney(a.usedMargin) + ", its trades " + formatMoney(margin);
    }
    for (const OrderRecord& o : orders_) {
        if (!o.tradeId.empty() && std::none_of(trades_.begin(), trades_.end(), [&](const TradeRecord& t) { return t.tradeId == o.tradeId; }))
            return "order " + o.orderId + " refers to the missing trade " + o.tradeId;
        if (!o.workingIndicator && !o.primaryId.empty() &&
            std::none_of(orders_.begin(), orders_.end(), [&](const OrderRecord& p) { return p.orderId == o.primaryId; }))
            return "order " + o.orderId + " waits for the missing order " + o.primaryId;
    }
    return {};
}

// ---- Order management

std::string OrderEngine::deleteOrder(const User& u, const DasRequest& r, ChangeWriter& w) {
    const std::string* id = r.param("OrderID");
    OrderRecord* o = id ? order(*id) : nullptr;
    if (!o || !ownsAccount(u, o->accountId))
        return failureAnswer(FailureCode::UnknownOrder, "Unknown order " + fieldText(id ? *id : std::string()) + ".");
    const std::string accountId = o->accountId;
    removeOrder(*id, "C", w);
    touchAccount(accountId, w);
    return resultSet({});
}

std::string OrderEngine::editOrder(const User& u, const DasRequest& r, ChangeWriter& w) {
    const std::string* id = r.param("OrderID");
    OrderRecord* o = id ? order(*id) : nullptr;
    if (!o || !ownsAccount(u, o->accountId))
        return failureAnswer(FailureCode::UnknownOrder, "Unknown order " + fieldText(id ? *id : std::string()) + ".");
    if (const std::string* acct = r.param("AcctID"); acct && *acct != o->accountId)
        return failureAnswer(FailureCode::UnknownOrder, "Order " + o->orderId + " is not of account " + fieldText(*acct) + ".");
    const Instrument* m = instrument(o->offerId);
    OrderRecord e = *o;
    if (const std::string* qty = r.param("Quantity")) {
        double a = 0;
        const int unit = std::max(1, m ? m->baseUnitSize : 1);
        if (!number(qty, a) || a <= 0 || a != std::floor(a) || a > kMaxAmount)
            return failureAnswer(FailureCode::BadAmount, "The amount must be a positive whole number.");
        if (static_cast<int64_t>(a) % unit != 0) return failureAnswer(FailureCode::BadAmount, amountMultipleText(unit));
        if (!e.tradeId.empty()) {
            const TradeRecord* t = trade(e.tradeId);
            if (t && a > t->amount) return failureAnswer(FailureCode::BadAmount, "The amount is above the trade's.");
        }
        e.amount = e.originAmount = static_cast<int>(a);
    }
    double rate = 0;
    if (r.param("Rate")) {
        if (!number(r.param("Rate"), rate) || rate <= 0)
            return failureAnswer(FailureCode::BadRate, "The rate must be a positive number.");
        e.rate = rate;
        e.pegType.clear();
        e.pegOffset = 0;
    } else if (r.param("PEG_TYPE") || r.param("PRICE_OFFSET_PIPS")) {
        const std::string* pt = r.param("PEG_TYPE");
        double off = 0;
        if (!pt || (*pt != "0" && *pt != "1") || !number(r.param("PRICE_OFFSET_PIPS"), off))
            return failureAnswer(FailureCode::BadRate, "The order needs a peg type and offset.");
        e.pegType = *pt;
        e.pegOffset = off;
        const TradeRecord* t = e.tradeId.empty() ? nullptr : trade(e.tradeId);
        if (t && m) e.rate = (*pt == "0" ? t->openRate : priceFor(e.buySell, quotes_[e.offerId])) + off * m->pointSize;
    }
    if (const std::string* trail = r.param("TrailUpdatePips")) {
        double t = 0;
        if (!number(trail, t) || t < 0 || t != std::floor(t) || t > 10000)
            return failureAnswer(FailureCode::BadRate, "The trailing step must be a whole number of pips.");
        e.trailStep = static_cast<int>(t);
        auto q = quotes_.find(e.offerId);
        e.trailRate = e.trailStep && q != quotes_.end() ? priceFor(e.buySell, q->second) : 0;
    }
    if (const std::string* tif = r.param("GTC")) e.timeInForce = *tif;
    if (auto bad = readExpiry(e.timeInForce, r.param("EXPIRE_DATE"), w.now(), e.expireDate, e.expireDate))
        return failureAnswer(FailureCode::BadRequest, *bad);
    // The custom text stays the order's own: clients send a default one with every request.
    // A working stop or limit keeps its distance from the market.
    auto q = quotes_.find(e.offerId);
    if (m && e.workingIndicator && q != quotes_.end() && e.rate != o->rate) {
        const bool entry = e.type == "SE" || e.type == "LE";
        const bool stop = isStopType(e.type);
        const ConditionDistances& d = m->conditionDistances;
        const double dist = (entry ? (stop ? d.entryStop : d.entryLimit) : (stop ? d.stopForTrade : d.limitForTrade)) * m->pointSize;
        const double market = priceFor(e.buySell, q->second);
        const bool above = (e.buySell == "B") == stop;
        if (above ? e.rate < market + dist - 1e-9 : e.rate > market - dist + 1e-9)
            return failureAnswer(FailureCode::BadRate, std::string("The rate must be at least ") +
                                                           formatPips(dist / m->pointSize) + " pips " +
                                                           (above ? "above" : "below") + " the market.");
    }
    e.statusTime = w.now();
    *o = e;
    if (e.expireDate > 0 && (nextExpiry_ == 0 || e.expireDate < nextExpiry_)) nextExpiry_ = e.expireDate;
    w.order(ownerOf(e.accountId), UpdateKind::Update, e);
    return resultSet({});
}

std::string OrderEngine::changeGroup(const User& u, const DasRequest& r, OrderBatch* batch, ChangeWriter& w) {
    const std::string* id = r.param("OrderID");
    OrderRecord* o = id ? order(*id) : nullptr;
    if (!o || !ownsAccount(u, o->accountId))
        return failureAnswer(FailureCode::UnknownOrder, "Unknown order " + fieldText(id ? *id : std::string()) + ".");
    if (o->status != "W") return failureAnswer(FailureCode::BadRequest, "Order " + o->orderId + " is not waiting.");
    const std::string* ct = r.param("CONTINGENCY_TYPE");
    const std::string* cid = r.param("CONTINGENCY_ID");
    double k = 0;
    if (ct && (!number(ct, k) || (k != 0 && k != 1 && k != 2 && k != 3)))
        return failureAnswer(FailureCode::BadRequest, "CONTINGENCY_TYPE must be 0 to 3.");
    OrderRecord e = *o;
    if (!ct || k == 0) {
        // Leaves its group: an OTO child starts working on its own.
        e.contingencyType = 0;
        e.contingentOrderId.clear();
        if (!e.primaryId.empty() && !(e.type == "S" || e.type == "L")) {
            e.primaryId.clear();
            e.workingIndicator = true;
        }
    } else if (k == 1) {
        std::string group = cid ? *cid : std::string();
        if (group.empty()) {
            if (!batch) return failureAnswer(FailureCode::BadRequest, "A new OCO group needs its members in one batch.");
            if (batch->newGroup.empty()) batch->newGroup = e.orderId;
            group = batch->newGroup;
        } else {
            bool known = false;
            for (const OrderRecord& x : orders_)
                known |= x.orderId == group || (x.contingencyType == 1 && x.contingentOrderId == group);
            if (!known) return failureAnswer(FailureCode::UnknownOrder, "Unknown contingency group " + fieldText(group) + ".");
        }
        e.contingencyType = 1;
        e.contingentOrderId = group;
        // The order that names a new group is its first member.
        if (OrderRecord* head = order(group); head && head != o && head->contingentOrderId.empty()) {
            head->contingencyType = 1;
            head->contingentOrderId = group;
            w.order(ownerOf(head->accountId), UpdateKind::Update, *head);
            e = *o;
            e.contingencyType = 1;
            e.contingentOrderId = group;
        }
    } else {
        const OrderRecord* primary = cid ? order(*cid) : nullptr;
        if (!primary || primary->accountId != e.accountId || primary->orderId == e.orderId)
            return failureAnswer(FailureCode::UnknownOrder, "Unknown primary order " + fieldText(cid ? *cid : std::string()) + ".");
        e.contingencyType = static_cast<int>(k);
        e.primaryId = primary->orderId;
        e.workingIndicator = false;
    }
    e.statusTime = w.now();
    o = order(*id);
    *o = e;
    w.order(ownerOf(e.accountId), UpdateKind::Update, e);
    return resultSet({});
}

std::string OrderEngine::lastOrderUpdate(const User& u, const DasRequest& r) {
    const std::string* name = r.param("AcctReportID");
    if (!name) return failureAnswer(FailureCode::BadRequest, "The request names no account.");
    const AccountRecord* a = nullptr;
    for (const AccountRecord& x : accounts_)
        if ((x.accountName == *name || x.accountId == *name) && ownsAccount(u, x.accountId)) a = &x;
    if (!a) return failureAnswer(FailureCode::UnknownAccount, unknownAccountText(*name));
    const std::pair<std::string, std::string>* key = nullptr;
    for (const auto& p : r.params)
        if (p.first != "AcctReportID" && p.first != "ReportID" && p.first != "QID" && p.first != "TraderID") {
            key = &p;
            break;
        }
    if (!key) return failureAnswer(FailureCode::BadRequest, "The request names no lookup field.");
    auto matches = [&](const OrderRecord& o) {
        if (o.accountId != a->accountId) return false;
        const std::string& k = key->first;
        if (k == "OrderID") return o.orderId == key->second;
        if (k == "RequestID" || k == "QID") return o.requestId == key->second;
        if (k == "QTXT" || k == "RequestTxt") return o.requestTxt == key->second;
        if (k == "TradeID") return o.tradeId == key->second;
        return false;
    };
    if (key->first != "OrderID" && key->first != "RequestID" && key->first != "QID" && key->first != "QTXT" &&
        key->first != "RequestTxt" && key->first != "TradeID")
        return failureAnswer(FailureCode::BadRequest, "Orders cannot be looked up by " + fieldText(key->first) + ".");
    for (const OrderRecord& o : orders_)
        if (matches(o)) return lastOrderUpdateAnswer(UpdateKind::Update, o, digitsOf(world_, o.offerId));
    auto g = gone_.find(a->accountId);
    if (g != gone_.end())
        for (auto it = g->second.rbegin(); it != g->second.rend(); ++it)
            if (matches(*it)) return lastOrderUpdateAnswer(UpdateKind::Delete, *it, digitsOf(world_, it->offerId));
    return failureAnswer(FailureCode::UnknownOrder, "No order of account " + fieldText(*name) + " has " +
                                                        fieldText(key->first) + " " + fieldText(key->second) + ".");
}

} // namespace pellora::dealer
