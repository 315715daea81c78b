#include "world_json.h"

#include <climits>
#include <fstream>
#include <set>
#include <sstream>

#include <nlohmann/json.hpp>

#include "password.h"

namespace pellora::dealer {

namespace {

using Json = nlohmann::ordered_json;

// Reads the fields of one JSON object, remembering the first failure and which
// fields were used; finish() then reports the fields nobody asked for.
class FieldReader {
public:
    FieldReader(const Json& obj, std::string path, Status& status) : obj_(obj), path_(std::move(path)), status_(status) {
        if (status_.isOk() && !obj_.is_object()) fail(path_.empty() ? "top level" : path_, "must be an object");
    }

    void text(const char* name, std::string& out, bool required = true) {
        if (const Json* v = get(name, required)) {
            if (v->is_string()) out = v->get<std::string>();
            else fail(at(name), "must be a string");
        }
    }
    void integer(const char* name, int& out, bool required = true) {
        if (const Json* v = get(name, required)) {
            if (v->is_number_integer() && v->get<long long>() >= INT_MIN && v->get<long long>() <= INT_MAX &&
                !(v->is_number_unsigned() && v->get<unsigned long long>() > INT_MAX))
                out = static_cast<int>(v->get<long long>());
            else fail(at(name), "must be a whole number");
        }
    }
    void number(const char* name, double& out, bool required = true) {
        if (const Json* v = get(name, required)) {
            if (v->is_number()) out = v->get<double>();
            else fail(at(name), "must be a number");
        }
    }
    void boolean(const char* name, bool& out, bool required = true) {
        if (const Json* v = get(name, required)) {
            if (v->is_boolean()) out = v->get<bool>();
            else fail(at(name), "must be true or false");
        }
    }
    void time(const char* name, UnixMs& out, bool required = true) {
        if (const Json* v = get(name, required)) {
            if (!v->is_string() || !parseIsoUtc(v->get<std::string>(), out))
                fail(at(name), "must be a UTC time as \"YYYY-MM-DD HH:MM:SS\"");
        }
    }
    void protocol(const char* name, Protocol& out, bool required = true) {
        if (!status_.isOk() || !obj_.is_object()) return;
        const bool present = obj_.contains(name);
        std::string s;
        text(name, s, required);
        if (!present || !status_.isOk()) return;
        if (s == "DAS") out = Protocol::Das;
        else if (s == "RTMP") out = Protocol::Rtmp;
        else fail(at(name), "must be \"DAS\" or \"RTMP\"");
    }
    // Calls each(element, path) for every element of an array field.
    template <class F>
    void array(const char* name, bool required, F each) {
        const Json* v = get(name, required);
        if (!v) return;
        if (!v->is_array()) return fail(at(name), "must be an array");
        for (size_t i = 0; i < v->size() && status_.isOk(); ++i)
            each((*v)[i], at(name) + "[" + std::to_string(i) + "]");
    }
    void texts(const char* name, std::vector<std::string>& out, bool required = true) {
        array(name, required, [&](const Json& e, const std::string& p) {
            if (e.is_string()) out.push_back(e.get<std::string>());
            else fail(p, "must be a string");
        });
    }
    const Json* object(const char* name, bool required) {
        const Json* v = get(name, required);
        if (v && !v->is_object()) {
            fail(at(name), "must be an object");
            return nullptr;
        }
        return v;
    }
    std::string at(const char* name) const { return path_.empty() ? name : path_ + "." + name; }

    void finish() {
        if (!status_.isOk() || !obj_.is_object()) return;
        for (auto it = obj_.begin(); it != obj_.end(); ++it)
            if (!used_.count(it.key())) return fail(at(it.key().c_str()), "unknown field");
    }
    void fail(const std::string& path, const std::string& reason) {
        if (status_.isOk()) status_ = Status::error(path + ": " + reason);
    }

private:
    const Json* get(const char* name, bool required) {
        if (!status_.isOk() || !obj_.is_object()) return nullptr;
        used_.insert(name);
        auto it = obj_.find(name);
        if (it == obj_.end()) {
            if (required) fail(at(name), "missing");
            return nullptr;
        }
        return &*it;
    }

    const Json& obj_;
    std::string path_;
    Status& status_;
    std::set<std::string> used_;
};

void readSession(const Json& j, const std::string& path, Status& st, TradingSession& t) {
    FieldReader r(j, path, st);
    r.text("id", t.id);
    r.text("subId", t.subId);
    r.text("name", t.name, false);
    r.text("description", t.description, false);
    r.text("pin", t.pin, false);
    r.finish();
}

void readConnection(const Json& j, const std::string& path, Status& st, Connection& c) {
    FieldReader r(j, path, st);
    r.text("name", c.name);
    r.protocol("protocol", c.protocol);
    r.array("sessions", true, [&](const Json& e, const std::string& p) {
        c.sessions.emplace_back();
        readSession(e, p, st, c.sessions.back());
    });
    r.boolean("initialMessages", c.initialMessages);
    r.text("priceTerminal", c.priceTerminal, false);
    r.finish();
}

void readUser(const Json& j, const std::string& path, Status& st, User& u) {
    FieldReader r(j, path, st);
    r.text("name", u.name);
    r.text("password", u.passwordHash);
    r.integer("kind", u.kind);
    r.integer("traderId", u.traderId);
    r.texts("accounts", u.accounts);
    r.finish();
}

void readAccount(const Json& j, const std::string& path, Status& st, Account& a) {
    FieldReader r(j, path, st);
    r.text("id", a.id);
    r.text("name", a.name);
    r.text("kind", a.kind);
    r.text("currency", a.currency);
    r.number("balance", a.balance);
    r.text("leverageProfile", a.leverageProfile);
    r.text("maintenanceType", a.maintenanceType);
    r.integer("amountLimit", a.amountLimit);
    r.integer("baseUnitSize", a.baseUnitSize);
    r.finish();
}

void readInstrument(const Json& j, const std::string& path, Status& st, Instrument& m) {
    FieldReader r(j, path, st);
    r.text("offerId", m.offerId);
    r.text("symbol", m.symbol);
    r.text("contractCurrency", m.contractCurrency);
    r.integer("digits", m.digits);
    r.number("pointSize", m.pointSize);
    r.integer("instrumentType", m.instrumentType);
    r.integer("baseUnitSize", m.baseUnitSize);
    r.integer("contractMultiplier", m.contractMultiplier);
    if (const Json* d = r.object("conditionDistances", true)) {
        FieldReader dr(*d, r.at("conditionDistances"), st);
        dr.number("stopForTrade", m.conditionDistances.stopForTrade);
        dr.number("limitForTrade", m.conditionDistances.limitForTrade);
        dr.number("entryStop", m.conditionDistances.entryStop);
        dr.number("entryLimit", m.conditionDistances.entryLimit);
        dr.finish();
    }
    r.integer("minQuantity", m.minQuantity);
    r.integer("maxQuantity", m.maxQuantity);
    r.text("tradingStatus", m.tradingStatus);
    r.text("permissions", m.permissions);
    r.text("priceStream", m.priceStream);
    r.text("valueDate", m.valueDate);
    r.text("subscriptionStatus", m.subscriptionStatus, false);
    r.number("buyInterest", m.buyInterest, false);
    r.number("sellInterest", m.sellInterest, false);
    r.number("startBid", m.startBid);
    r.number("startAsk", m.startAsk);
    r.number("spread", m.spread);
    r.number("volatility", m.volatility);
    r.finish();
}

void readMargin(const Json& j, const std::string& path, Status& st, Margin& m) {
    FieldReader r(j, path, st);
    r.text("leverageProfile", m.leverageProfile);
    r.text("offerId", m.offerId);
    size_t n = 0;
    r.array("values", true, [&](const Json& e, const std::string& p) {
        if (!e.is_number()) return r.fail(p, "must be a number");
        if (n < 3) m.values[n] = e.get<double>();
        ++n;
    });
    if (st.isOk() && n != 3) r.fail(r.at("values"), "must hold exactly three numbers");
    r.finish();
}

void readTerminal(const Json& j, const std::string& path, Status& st, PriceTerminal& t) {
    FieldReader r(j, path, st);
    r.text("name", t.name);
    r.protocol("protocol", t.protocol);
    r.texts("instruments", t.offerIds);
    r.finish();
}

void readTrade(const Json& j, const std::string& path, Status& st, TradeRecord& t) {
    FieldReader r(j, path, st);
    r.text("id", t.tradeId);
    r.text("account", t.accountId);
    r.text("offerId", t.offerId);
    r.text("buySell", t.buySell);
    r.integer("amount", t.amount);
    r.number("openRate", t.openRate);
    r.time("openTime", t.openTime, false);
    r.number("commission", t.commission, false);
    r.number("rolloverInterest", t.rolloverInterest, false);
    r.finish();
}

void readOrder(const Json& j, const std::string& path, Status& st, OrderRecord& o) {
    FieldReader r(j, path, st);
    r.text("id", o.orderId);
    r.text("account", o.accountId);
    r.text("offerId", o.offerId);
    r.text("type", o.type);
    r.text("buySell", o.buySell);
    r.integer("amount", o.amount);
    r.number("rate", o.rate);
    r.text("tradeId", o.tradeId, false);
    r.text("timeInForce", o.timeInForce, false);
    r.integer("trailStep", o.trailStep, false);
    r.time("expireDate", o.expireDate, false);
    r.finish();
    o.originAmount = o.amount;
    o.status = "W";
    o.stage = o.type == "S" || o.type == "L" ? "C" : "O";
    if (o.timeInForce.empty()) o.timeInForce = "GTC";
    if (o.requestId.empty()) o.requestId = o.orderId;
}

void readClosedTrade(const Json& j, const std::string& path, Status& st, ClosedTradeRecord& c) {
    FieldReader r(j, path, st);
    r.text("id", c.tradeId);
    r.text("account", c.accountId);
    r.text("offerId", c.offerId);
    r.text("buySell", c.buySell);
    r.integer("amount", c.amount);
    r.number("openRate", c.openRate);
    r.number("closeRate", c.closeRate);
    r.time("openTime", c.openTime);
    r.time("closeTime", c.closeTime);
    r.number("grossPL", c.grossPL);
    r.number("commission", c.commission, false);
    r.number("rolloverInterest", c.rolloverInterest, false);
    r.finish();
}

void readMessage(const Json& j, const std::string& path, Status& st, MessageRecord& m) {
    FieldReader r(j, path, st);
    r.text("id", m.msgId);
    r.text("user", m.user);
    r.time("time", m.time);
    r.text("from", m.from);
    r.text("subject", m.subject);
    r.text("text", m.text);
    r.text("type", m.type, false);
    r.text("feature", m.feature, false);
    r.finish();
}

void readWorld(const Json& root, Status& st, World& w) {
    FieldReader r(root, "", st);
    if (const Json* s = r.object("station", true)) {
        FieldReader sr(*s, "station", st);
        sr.text("version", w.station.version);
        sr.finish();
    }
    r.array("connections", true, [&](const Json& e, const std::string& p) {
        w.connections.emplace_back();
        readConnection(e, p, st, w.connections.back());
    });
    r.array("users", true, [&](const Json& e, const std::string& p) {
        w.users.emplace_back();
        readUser(e, p, st, w.users.back());
    });
    r.array("accounts", true, [&](const Json& e, const std::string& p) {
        w.accounts.emplace_back();
        readAccount(e, p, st, w.accounts.back());
    });
    r.array("instruments", true, [&](const Json& e, const std::string& p) {
        w.instruments.emplace_back();
        readInstrument(e, p, st, w.instruments.back());
    });
    r.array("margins", true, [&](const Json& e, const std::string& p) {
        w.margins.emplace_back();
        readMargin(e, p, st, w.margins.back());
    });
    if (const Json* props = r.object("systemProperties", true)) {
        for (auto it = props->begin(); it != props->end() && st.isOk(); ++it) {
            if (!it->is_string()) r.fail("systemProperties." + it.key(), "must be a string");
            else w.systemProperties.push_back({it.key(), it->get<std::string>()});
        }
    }
    r.array("priceTerminals", false, [&](const Json& e, const std::string& p) {
        w.priceTerminals.emplace_back();
        readTerminal(e, p, st, w.priceTerminals.back());
    });
    if (const Json* s = r.object("startingState", false)) {
        FieldReader sr(*s, "startingState", st);
        StartingState& ss = w.startingState;
        sr.array("trades", false, [&](const Json& e, const std::string& p) {
            ss.trades.emplace_back();
            readTrade(e, p, st, ss.trades.back());
        });
        sr.array("orders", false, [&](const Json& e, const std::string& p) {
            ss.orders.emplace_back();
            readOrder(e, p, st, ss.orders.back());
        });
        sr.array("closedTrades", false, [&](const Json& e, const std::string& p) {
            ss.closedTrades.emplace_back();
            readClosedTrade(e, p, st, ss.closedTrades.back());
        });
        sr.array("messages", false, [&](const Json& e, const std::string& p) {
            ss.messages.emplace_back();
            readMessage(e, p, st, ss.messages.back());
        });
        sr.finish();
    }
    r.finish();
}

// Rows of the starting state carry their account's name and kind, as the tables do.
void completeStartingState(World& w) {
    auto fill = [&](auto& rows) {
        for (auto& row : rows)
            if (const Account* a = w.findAccount(row.accountId)) {
                row.accountName = a->name;
                row.accountKind = a->kind;
            }
    };
    fill(w.startingState.trades);
    fill(w.startingState.orders);
    fill(w.startingState.closedTrades);
}

} // namespace

Status parseWorld(const std::string& text, const std::string& fileName, World& out) {
    const std::string where = fileName + ": ";
    Json root;
    try {
        root = Json::parse(text);
    } catch (const Json::exception& e) {
        return Status::error(where + "not valid JSON (" + e.what() + ")");
    }
    World w;
    Status st;
    readWorld(root, st, w);
    if (!st.isOk()) return st.context(where);
    if (Status v = w.validate(); !v.isOk()) return v.context(where);
    completeStartingState(w);
    out = std::move(w);
    return Status::ok();
}

Status loadWorldFile(const std::string& path, World& out) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return Status::error(path + ": cannot be opened");
    std::ostringstream text;
    text << in.rdbuf();
    if (in.bad()) return Status::error(path + ": cannot be read");
    return parseWorld(text.str(), path, out);
}

std::vector<std::string> plainPasswordUsers(const World& w) {
    std::vector<std::string> names;
    for (const User& u : w.users)
        if (isPlainPassword(u.passwordHash)) names.push_back(u.name);
    return names;
}

} // namespace pellora::dealer
