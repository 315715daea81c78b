#include "world.h"

#include <cmath>
#include <cstdlib>
#include <set>
#include <tuple>

#include "password.h"

namespace pellora::dealer {

const char* protocolName(Protocol p) { return p == Protocol::Rtmp ? "RTMP" : "DAS"; }

double Instrument::priceUnit() const { return std::pow(10.0, -digits); }

namespace {

template <class T, class Key>
const T* findBy(const std::vector<T>& v, Key key) {
    for (const T& x : v)
        if (key(x)) return &x;
    return nullptr;
}

std::string at(const char* list, size_t i) { return std::string(list) + "[" + std::to_string(i) + "]"; }

Status fail(const std::string& path, const std::string& reason) { return Status::error(path + ": " + reason); }

// Wire texts have no quoting: a field may hold neither ';' nor a line break.
bool wireSafe(const std::string& s) { return s.find_first_of(";\n\r") == std::string::npos; }

bool isDecimalId(const std::string& s) {
    if (s.empty() || s.size() > 9) return false;
    for (char c : s)
        if (c < '0' || c > '9') return false;
    return true;
}

// "code,Y|N,code,Y|N...": the per-instrument permission list the SDK reads.
bool permissionsWellFormed(const std::string& text) {
    if (text.empty()) return true;
    size_t pos = 0;
    int index = 0;
    while (true) {
        const size_t comma = text.find(',', pos);
        const std::string item = text.substr(pos, comma == std::string::npos ? std::string::npos : comma - pos);
        if (index % 2 == 0) {
            if (!isDecimalId(item) || std::atoi(item.c_str()) == 0) return false;
        } else if (item != "Y" && item != "N") {
            return false;
        }
        ++index;
        if (comma == std::string::npos) break;
        pos = comma + 1;
    }
    return index % 2 == 0;
}

Status checkText(const std::string& path, const std::string& value, bool required) {
    if (required && value.empty()) return fail(path, "must not be empty");
    if (!wireSafe(value)) return fail(path, "must not contain ';' or a line break");
    return Status::ok();
}

Status checkStation(const World& w) { return checkText("station.version", w.station.version, true); }

Status checkConnections(const World& w) {
    std::set<std::string> names;
    for (size_t i = 0; i < w.connections.size(); ++i) {
        const Connection& c = w.connections[i];
        const std::string p = at("connections", i);
        if (Status s = checkText(p + ".name", c.name, true); !s.isOk()) return s;
        if (!names.insert(c.name).second) return fail(p + ".name", "duplicate connection '" + c.name + "'");
        if (c.sessions.empty()) return fail(p + ".sessions", "needs at least one trading session");
        std::set<std::string> ids;
        for (size_t j = 0; j < c.sessions.size(); ++j) {
            const TradingSession& t = c.sessions[j];
            const std::string q = p + "." + at("sessions", j);
            for (auto [field, value, required] :
                 {std::make_tuple(".id", &t.id, true), std::make_tuple(".subId", &t.subId, true),
                  std::make_tuple(".name", &t.name, false), std::make_tuple(".description", &t.description, false),
                  std::make_tuple(".pin", &t.pin, false)})
                if (Status s = checkText(q + field, *value, required); !s.isOk()) return s;
            if (!ids.insert(t.id + "\n" + t.subId).second)
                return fail(q + ".subId", "duplicate trading session '" + t.id + "/" + t.subId + "'");
        }
        if (!c.priceTerminal.empty() && !w.findPriceTerminal(c.priceTerminal))
            return fail(p + ".priceTerminal", "unknown price terminal '" + c.priceTerminal + "'");
        if (!c.priceTerminal.empty() && c.protocol != Protocol::Das)
            return fail(p + ".priceTerminal", "only DAS connections have a price terminal");
    }
    if (w.connections.empty()) return fail("connections", "needs at least one connection");
    return Status::ok();
}

Status checkAccounts(const World& w) {
    std::set<std::string> ids;
    for (size_t i = 0; i < w.accounts.size(); ++i) {
        const Account& a = w.accounts[i];
        const std::string p = at("accounts", i);
        if (Status s = checkText(p + ".id", a.id, true); !s.isOk()) return s;
        if (!ids.insert(a.id).second) return fail(p + ".id", "duplicate account ID '" + a.id + "'");
        if (Status s = checkText(p + ".name", a.name, true); !s.isOk()) return s;
        if (a.kind != "32" && a.kind != "38") return fail(p + ".kind", "must be \"32\" or \"38\"");
        if (a.currency.size() != 3 || !wireSafe(a.currency)) return fail(p + ".currency", "must be a three-letter code");
        if (!std::isfinite(a.balance) || a.balance < 0) return fail(p + ".balance", "must be a number of at least 0");
        if (Status s = checkText(p + ".leverageProfile", a.leverageProfile, true); !s.isOk()) return s;
        if (a.maintenanceType != "Y" && a.maintenanceType != "N" && a.maintenanceType != "D")
            return fail(p + ".maintenanceType", "must be \"Y\", \"N\" or \"D\"");
        if (a.amountLimit < 0) return fail(p + ".amountLimit", "must be at least 0");
        if (a.baseUnitSize <= 0) return fail(p + ".baseUnitSize", "must be positive");
    }
    return Status::ok();
}

Status checkUsers(const World& w) {
    std::set<std::string> names, owned;
    std::set<int> traders;
    for (size_t i = 0; i < w.users.size(); ++i) {
        const User& u = w.users[i];
        const std::string p = at("users", i);
        if (Status s = checkText(p + ".name", u.name, true); !s.isOk()) return s;
        if (!names.insert(u.name).second) return fail(p + ".name", "duplicate user '" + u.name + "'");
        if (!passwordHashWellFormed(u.passwordHash))
            return fail(p + ".password", "must be \"plain:<password>\" or a pbkdf2-sha256 hash");
        if (u.kind != UserKindTrader && u.kind != UserKindCustomer && u.kind != UserKindDealer)
            return fail(p + ".kind", "must be 20, 22 or 24");
        if (u.traderId <= 0) return fail(p + ".traderId", "must be positive");
        if (!traders.insert(u.traderId).second)
            return fail(p + ".traderId", "duplicate trader ID " + std::to_string(u.traderId));
        for (size_t j = 0; j < u.accounts.size(); ++j) {
            const std::string q = p + "." + at("accounts", j);
            if (!w.findAccount(u.accounts[j])) return fail(q, "unknown account '" + u.accounts[j] + "'");
            if (!owned.insert(u.accounts[j]).second)
                return fail(q, "account '" + u.accounts[j] + "' already belongs to another user");
        }
    }
    if (w.users.empty()) return fail("users", "needs at least one user");
    return Status::ok();
}

Status checkInstruments(const World& w) {
    std::set<std::string> ids, symbols;
    for (size_t i = 0; i < w.instruments.size(); ++i) {
        const Instrument& m = w.instruments[i];
        const std::string p = at("instruments", i);
        if (!isDecimalId(m.offerId)) return fail(p + ".offerId", "must be a positive decimal number of up to 9 digits");
        if (!ids.insert(m.offerId).second) return fail(p + ".offerId", "duplicate offer ID '" + m.offerId + "'");
        if (Status s = checkText(p + ".symbol", m.symbol, true); !s.isOk()) return s;
        if (!symbols.insert(m.symbol).second) return fail(p + ".symbol", "duplicate symbol '" + m.symbol + "'");
        if (m.contractCurrency.size() != 3 || !wireSafe(m.contractCurrency))
            return fail(p + ".contractCurrency", "must be a three-letter code");
        if (m.digits < 0 || m.digits > 8) return fail(p + ".digits", "must be between 0 and 8");
        if (!(m.pointSize > 0) || m.pointSize < m.priceUnit() * 0.999)
            return fail(p + ".pointSize", "must be positive and at least 10^-digits");
        if (m.instrumentType <= 0) return fail(p + ".instrumentType", "must be positive");
        if (m.baseUnitSize <= 0) return fail(p + ".baseUnitSize", "must be positive");
        if (m.contractMultiplier <= 0) return fail(p + ".contractMultiplier", "must be positive");
        const ConditionDistances& d = m.conditionDistances;
        if (d.stopForTrade < 0 || d.limitForTrade < 0 || d.entryStop < 0 || d.entryLimit < 0)
            return fail(p + ".conditionDistances", "distances must be at least 0");
        if (m.minQuantity < 0) return fail(p + ".minQuantity", "must be at least 0");
        if (m.maxQuantity < 0 || (m.maxQuantity > 0 && m.maxQuantity < m.minQuantity))
            return fail(p + ".maxQuantity", "must be 0 (no limit) or at least minQuantity");
        if (Status s = checkText(p + ".tradingStatus", m.tradingStatus, false); !s.isOk()) return s;
        if (!permissionsWellFormed(m.permissions))
            return fail(p + ".permissions", "must alternate permission codes and Y or N, comma-separated");
        if (Status s = checkText(p + ".priceStream", m.priceStream, true); !s.isOk()) return s;
        if (Status s = checkText(p + ".valueDate", m.valueDate, false); !s.isOk()) return s;
        if (Status s = checkText(p + ".subscriptionStatus", m.subscriptionStatus, true); !s.isOk()) return s;
        if (!(m.startBid > 0) || !std::isfinite(m.startBid)) return fail(p + ".startBid", "must be positive");
        if (!(m.startAsk >= m.startBid) || !std::isfinite(m.startAsk))
            return fail(p + ".startAsk", "must be at least startBid");
        if (!(m.spread >= 0) || !std::isfinite(m.spread)) return fail(p + ".spread", "must be at least 0");
        if (!(m.volatility >= 0) || !std::isfinite(m.volatility)) return fail(p + ".volatility", "must be at least 0");
    }
    if (w.instruments.empty()) return fail("instruments", "needs at least one instrument");
    return Status::ok();
}

Status checkMargins(const World& w) {
    std::set<std::string> keys;
    for (size_t i = 0; i < w.margins.size(); ++i) {
        const Margin& m = w.margins[i];
        const std::string p = at("margins", i);
        if (Status s = checkText(p + ".leverageProfile", m.leverageProfile, true); !s.isOk()) return s;
        if (!w.findInstrument(m.offerId)) return fail(p + ".offerId", "unknown offer '" + m.offerId + "'");
        if (!keys.insert(m.leverageProfile + "\n" + m.offerId).second)
            return fail(p, "duplicate margin for profile '" + m.leverageProfile + "' and offer '" + m.offerId + "'");
        for (double v : m.values)
            if (!(v >= 0) || !std::isfinite(v)) return fail(p + ".values", "margins must be numbers of at least 0");
    }
    // Every account must be able to open every instrument: a missing margin would only
    // surface at the first order.
    for (size_t i = 0; i < w.accounts.size(); ++i)
        for (const Instrument& m : w.instruments)
            if (!w.findMargin(w.accounts[i].leverageProfile, m.offerId))
                return fail(at("accounts", i) + ".leverageProfile",
                            "no margin for profile '" + w.accounts[i].leverageProfile + "' and offer '" +
                                m.offerId + "'");
    return Status::ok();
}

Status checkProperties(const World& w) {
    std::set<std::string> names;
    for (size_t i = 0; i < w.systemProperties.size(); ++i) {
        const SystemProperty& sp = w.systemProperties[i];
        const std::string p = "systemProperties." + (sp.name.empty() ? at("", i) : sp.name);
        if (Status s = checkText(p, sp.name, true); !s.isOk()) return s;
        if (Status s = checkText(p, sp.value, false); !s.isOk()) return s;
        if (sp.name == "EXT_PRICE_TERMINAL")
            return fail(p, "is set per connection by its priceTerminal, not here");
        if (!names.insert(sp.name).second) return fail(p, "duplicate property");
    }
    return Status::ok();
}

Status checkTerminals(const World& w) {
    std::set<std::string> names;
    for (size_t i = 0; i < w.priceTerminals.size(); ++i) {
        const PriceTerminal& t = w.priceTerminals[i];
        const std::string p = at("priceTerminals", i);
        if (Status s = checkText(p + ".name", t.name, true); !s.isOk()) return s;
        if (!names.insert(t.name).second) return fail(p + ".name", "duplicate price terminal '" + t.name + "'");
        for (size_t j = 0; j < t.offerIds.size(); ++j)
            if (!w.findInstrument(t.offerIds[j]))
                return fail(p + "." + at("instruments", j), "unknown offer '" + t.offerIds[j] + "'");
    }
    return Status::ok();
}

Status checkSide(const std::string& path, const std::string& side) {
    return side == "B" || side == "S" ? Status::ok() : fail(path, "must be \"B\" or \"S\"");
}

Status checkStartingState(const World& w) {
    const StartingState& st = w.startingState;
    std::set<std::string> trades, orders, closed, messages;
    for (size_t i = 0; i < st.trades.size(); ++i) {
        const TradeRecord& t = st.trades[i];
        const std::string p = "startingState.trades[" + std::to_string(i) + "]";
        if (Status s = checkText(p + ".id", t.tradeId, true); !s.isOk()) return s;
        if (!trades.insert(t.tradeId).second) return fail(p + ".id", "duplicate trade ID '" + t.tradeId + "'");
        if (!w.findAccount(t.accountId)) return fail(p + ".account", "unknown account '" + t.accountId + "'");
        if (!w.findInstrument(t.offerId)) return fail(p + ".offerId", "unknown offer '" + t.offerId + "'");
        if (Status s = checkSide(p + ".buySell", t.buySell); !s.isOk()) return s;
        if (t.amount <= 0) return fail(p + ".amount", "must be positive");
        if (!(t.openRate > 0)) return fail(p + ".openRate", "must be positive");
    }
    for (size_t i = 0; i < st.orders.size(); ++i) {
        const OrderRecord& o = st.orders[i];
        const std::string p = "startingState.orders[" + std::to_string(i) + "]";
        if (Status s = checkText(p + ".id", o.orderId, true); !s.isOk()) return s;
        if (!orders.insert(o.orderId).second) return fail(p + ".id", "duplicate order ID '" + o.orderId + "'");
        if (!w.findAccount(o.accountId)) return fail(p + ".account", "unknown account '" + o.accountId + "'");
        if (!w.findInstrument(o.offerId)) return fail(p + ".offerId", "unknown offer '" + o.offerId + "'");
        if (Status s = checkSide(p + ".buySell", o.buySell); !s.isOk()) return s;
        if (o.amount <= 0) return fail(p + ".amount", "must be positive");
        if (!(o.rate > 0)) return fail(p + ".rate", "must be positive");
        const bool onTrade = o.type == "S" || o.type == "L";
        if (!onTrade && o.type != "SE" && o.type != "LE")
            return fail(p + ".type", "waiting orders are \"SE\", \"LE\", \"S\" or \"L\"");
        if (onTrade) {
            const TradeRecord* t = nullptr;
            for (const TradeRecord& x : st.trades)
                if (x.tradeId == o.tradeId) t = &x;
            if (!t) return fail(p + ".tradeId", "unknown trade '" + o.tradeId + "'");
            if (t->accountId != o.accountId || t->offerId != o.offerId)
                return fail(p + ".tradeId", "trade '" + o.tradeId + "' has another account or offer");
        } else if (!o.tradeId.empty()) {
            return fail(p + ".tradeId", "entry orders name no trade");
        }
    }
    for (size_t i = 0; i < st.closedTrades.size(); ++i) {
        const ClosedTradeRecord& c = st.closedTrades[i];
        const std::string p = "startingState.closedTrades[" + std::to_string(i) + "]";
        if (Status s = checkText(p + ".id", c.tradeId, true); !s.isOk()) return s;
        if (!closed.insert(c.tradeId).second || trades.count(c.tradeId))
            return fail(p + ".id", "duplicate trade ID '" + c.tradeId + "'");
        if (!w.findAccount(c.accountId)) return fail(p + ".account", "unknown account '" + c.accountId + "'");
        if (!w.findInstrument(c.offerId)) return fail(p + ".offerId", "unknown offer '" + c.offerId + "'");
        if (Status s = checkSide(p + ".buySell", c.buySell); !s.isOk()) return s;
        if (c.amount <= 0) return fail(p + ".amount", "must be positive");
    }
    for (size_t i = 0; i < st.messages.size(); ++i) {
        const MessageRecord& m = st.messages[i];
        const std::string p = "startingState.messages[" + std::to_string(i) + "]";
        if (Status s = checkText(p + ".id", m.msgId, true); !s.isOk()) return s;
        if (!messages.insert(m.msgId).second) return fail(p + ".id", "duplicate message ID '" + m.msgId + "'");
        if (!w.findUser(m.user)) return fail(p + ".user", "unknown user '" + m.user + "'");
        for (auto [field, value] : {std::make_pair(".from", &m.from), std::make_pair(".subject", &m.subject),
                                    std::make_pair(".text", &m.text), std::make_pair(".type", &m.type),
                                    std::make_pair(".feature", &m.feature)})
            if (Status s = checkText(p + field, *value, false); !s.isOk()) return s;
    }
    return Status::ok();
}

} // namespace

const Connection* World::findConnection(const std::string& name) const {
    return findBy(connections, [&](const Connection& c) { return c.name == name; });
}
const User* World::findUser(const std::string& name) const {
    return findBy(users, [&](const User& u) { return u.name == name; });
}
const Account* World::findAccount(const std::string& id) const {
    return findBy(accounts, [&](const Account& a) { return a.id == id; });
}
const Instrument* World::findInstrument(const std::string& offerId) const {
    return findBy(instruments, [&](const Instrument& m) { return m.offerId == offerId; });
}
const Instrument* World::findInstrumentBySymbol(const std::string& symbol) const {
    return findBy(instruments, [&](const Instrument& m) { return m.symbol == symbol; });
}
const Margin* World::findMargin(const std::string& profile, const std::string& offerId) const {
    return findBy(margins, [&](const Margin& m) { return m.leverageProfile == profile && m.offerId == offerId; });
}
const PriceTerminal* World::findPriceTerminal(const std::string& name) const {
    return findBy(priceTerminals, [&](const PriceTerminal& t) { return t.name == name; });
}
const User* World::ownerOf(const std::string& accountId) const {
    for (const User& u : users)
        for (const std::string& a : u.accounts)
            if (a == accountId) return &u;
    return nullptr;
}

Status World::validate() const {
    for (Status (*check)(const World&) : {checkStation, checkAccounts, checkInstruments, checkTerminals,
                                          checkConnections, checkUsers, checkMargins, checkProperties,
                                          checkStartingState})
        if (Status s = check(*this); !s.isOk()) return s;
    return Status::ok();
}

AccountRecord initialAccountRecord(const Account& a) {
    AccountRecord r;
    r.accountId = a.id;
    r.accountName = a.name;
    r.accountKind = a.kind;
    r.balance = a.balance;
    r.m2mEquity = a.balance;
    r.maintenanceType = a.maintenanceType;
    r.amountLimit = a.amountLimit;
    r.baseUnitSize = a.baseUnitSize;
    r.leverageProfileId = a.leverageProfile;
    return r;
}

} // namespace pellora::dealer
