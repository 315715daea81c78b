#pragma once
// A small client for the dealer's tests, written with the transport's client API
// alone: it logs in, sends DAS requests, batches and market-data requests built
// field by field, and records what arrives. Waits are bounded. Header-only, tests only.

#include <chrono>
#include <condition_variable>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "merrow/merrow.h"

namespace pellora::dealer::testing {

using Fx = merrow::IFixDefs;
constexpr auto kWait = std::chrono::seconds(20);

// The transport's threads run from the first test to the last, and finalize frees
// what freed sessions left behind.
class TransportEnvironment : public ::testing::Environment {
public:
    void SetUp() override { merrow::ConnectionManagerEx::init(1); }
    void TearDown() override { merrow::ConnectionManagerEx::finalize(1); }
};
inline ::testing::Environment* const kTransportEnvironment =
    ::testing::AddGlobalTestEnvironment(new TransportEnvironment);

// One quote of a level-2 snapshot, flattened (first ladder only).
struct Level2Seen {
    std::string originator;
    int64_t sequence = 0;
    std::string symbol, offerId, quoteId;
    int64_t time = 0;    // the quote time field read as an integer
    int timeKind = 0;    // its wire type
    int64_t volume = 0;
    double bid = 0, ask = 0, high = 0, low = 0;
    std::string bidCondition, askCondition;
};

// One received message, copied.
struct Got {
    std::string type;
    std::map<int, std::string> fields;  // top-level text fields
    std::string das;                    // the "DAS" entry, when there is one
    bool hasDas = false;
    std::vector<Level2Seen> quotes;     // of a level-2 snapshot

    std::string field(int tag) const {
        auto it = fields.find(tag);
        return it == fields.end() ? std::string() : it->second;
    }
    std::string id() const {
        return type == Fx::MSGTYPE_MARKETDATAREQUESTREJECT ? field(Fx::FLDTAG_MDREQID) : field(Fx::FLDTAG_TESTREQID);
    }
};

inline std::vector<std::string> splitText(const std::string& s, char sep) {
    std::vector<std::string> out(1);
    for (char c : s) {
        if (c == sep)
            out.emplace_back();
        else
            out.back() += c;
    }
    return out;
}

class Recorder : public TThreadSafeAddRefImpl<merrow::IUserMessageListener> {
public:
    void update(merrow::IUserSession*, merrow::IMessage* m) override {
        Got g;
        g.type = m->getMsgType();
        for (int i = 0; i < m->getFieldCount(); ++i) {
            merrow::IField* f = m->getFieldAt(i);
            if (f->getType() != merrow::WIRETYPE_GROUPLIST && f->getValue())
                g.fields[f->getTag()] = std::string(f->getValue(), f->getLength());
        }
        if (merrow::IFieldGroupList* l = m->getGroupList(Fx::FLDTAG_QORANOPARAM))
            for (int i = 0; i < l->size(); ++i) {
                const char* name = l->get(i)->getValue(Fx::FLDTAG_QORAPARAMNAME);
                if (name && std::string(name) == "DAS") {
                    merrow::IField* v = l->get(i)->getField(Fx::FLDTAG_QORAPARAMVALUE);
                    g.das = v ? std::string(v->getValue(), v->getLength()) : std::string();
                    g.hasDas = true;
                }
            }
        if (g.type == Fx::MSGTYPE_QORARTMPMARKETDATASNAPSHOT) readLevel2(*m, g.quotes);
        std::lock_guard<std::mutex> lock(mu_);
        got_.push_back(std::move(g));
        cv_.notify_all();
    }
    // The first message for which pred holds, waiting at most kWait.
    bool waitFor(const std::function<bool(const Got&)>& pred, Got* out = nullptr) {
        std::unique_lock<std::mutex> lock(mu_);
        const bool ok = cv_.wait_for(lock, kWait, [&] {
            for (const Got& g : got_)
                if (pred(g)) {
                    if (out) *out = g;
                    return true;
                }
            return false;
        });
        return ok;
    }
    std::vector<Got> all() const {
        std::lock_guard<std::mutex> lock(mu_);
        return got_;
    }
    void clear() {
        std::lock_guard<std::mutex> lock(mu_);
        got_.clear();
    }

private:
    static std::string text(const merrow::IFieldGroup* g, int tag) {
        const char* v = g->getValue(tag);
        return v ? v : "";
    }
    static void readLevel2(const merrow::IMessage& m, std::vector<Level2Seen>& out) {
        merrow::IFieldGroupList* origins = m.getGroupList(Fx::FLDTAG_NOMDENTRIES);
        for (int i = 0; origins && i < origins->size(); ++i) {
            merrow::IFieldGroup* o = origins->get(i);
            merrow::IFieldGroupList* quotes = o->getGroupList(Fx::FLDTAG_QORAMDQUOTES);
            for (int j = 0; quotes && j < quotes->size(); ++j) {
                merrow::IFieldGroup* q = quotes->get(j);
                Level2Seen s;
                s.originator = text(o, Fx::FLDTAG_QORAMDORIGINATOR);
                s.sequence = o->getIntValue(Fx::FLDTAG_MDREQID);
                s.symbol = text(q, Fx::FLDTAG_SYMBOL);
                s.offerId = text(q, Fx::FLDTAG_QORASYMID);
                s.quoteId = text(q, Fx::FLDTAG_QUOTEENTRYID);
                s.time = q->getIntValue(Fx::FLDTAG_QORAMDQUOTEDATETIME);
                if (merrow::IField* f = q->getField(Fx::FLDTAG_QORAMDQUOTEDATETIME)) s.timeKind = f->getType();
                s.volume = q->getIntValue(static_cast<int>(Fx::MDENTRYTYPE_VOLUME));
                merrow::IFieldGroupList* ladders = q->getGroupList(Fx::FLDTAG_QORAMDPRICELADDERS);
                merrow::IFieldGroupList* entries =
                    ladders && ladders->size() ? ladders->get(0)->getGroupList(Fx::FLDTAG_QORAMDENTRYLIST) : nullptr;
                for (int k = 0; entries && k < entries->size(); ++k) {
                    merrow::IFieldGroup* e = entries->get(k);
                    const std::string type = text(e, Fx::FLDTAG_MDENTRYTYPE);
                    const double px = e->getDoubleValue(Fx::FLDTAG_MDENTRYPX);
                    if (type == std::string(1, Fx::MDENTRYTYPE_BID)) {
                        s.bid = px;
                        s.bidCondition = text(e, Fx::FLDTAG_QUOTECONDITION);
                    } else if (type == std::string(1, Fx::MDENTRYTYPE_ASK)) {
                        s.ask = px;
                        s.askCondition = text(e, Fx::FLDTAG_QUOTECONDITION);
                    } else if (type == std::string(1, Fx::MDENTRYTYPE_HIGH)) {
                        s.high = px;
                    } else if (type == std::string(1, Fx::MDENTRYTYPE_LOW)) {
                        s.low = px;
                    }
                }
                out.push_back(std::move(s));
            }
        }
    }

    mutable std::mutex mu_;
    std::condition_variable cv_;
    std::vector<Got> got_;
};

class StatusRecorder : public TThreadSafeAddRefImpl<merrow::IUserSessionStatusListener> {
public:
    void update(merrow::IUserSession*, merrow::ISessionStatus* s) override {
        std::lock_guard<std::mutex> lock(mu_);
        codes_.push_back(s->getStatusCode());
        cv_.notify_all();
    }
    bool waitCode(int code) {
        std::unique_lock<std::mutex> lock(mu_);
        return cv_.wait_for(lock, kWait, [&] {
            for (int c : codes_)
                if (c == code) return true;
            return false;
        });
    }

private:
    std::mutex mu_;
    std::condition_variable cv_;
    std::vector<int> codes_;
};

struct LoginArgs {
    std::string connection = "Demo";
    std::string user = "demo";
    std::string password = "demo";
    std::string subId;  // the trading session to choose; empty: the first
    std::string pin;
    std::string extra = "EXTRA=3,139,9,5,138";
    int filter = 0;  // channels the session does not want
};

class Client {
public:
    explicit Client(std::string url) : url_(std::move(url)) {
        messages_ = new Recorder;
        statuses_ = new StatusRecorder;
    }
    ~Client() {
        if (session_) merrow::ConnectionManagerEx::freeObject(session_);
        messages_->release();
        statuses_->release();
    }
    Client(const Client&) = delete;
    Client& operator=(const Client&) = delete;

    // "" on success, else the text the login failed with.
    std::string login(const LoginArgs& args) {
        session_ = merrow::ConnectionManagerEx::createUserSession(url_.c_str(), args.connection.c_str(),
                                                                 args.user.c_str(), args.password.c_str(), "Pellora");
        session_->subscribe(static_cast<merrow::IUserMessageListener*>(messages_));
        session_->subscribe(static_cast<merrow::IUserSessionStatusListener*>(statuses_));
        if (args.filter) session_->setMessageFilter(args.filter);
        try {
            if (!session_->loadStationDescriptor()) return "no station descriptor";
            choose(args.subId);
            std::string extra = args.extra;
            if (!args.pin.empty()) extra += (extra.empty() ? "" : ";") + std::string("PIN=") + args.pin;
            return session_->login(extra.c_str()) == 1 ? std::string() : std::string("login returned 0");
        } catch (const merrow::GenericException& e) {
            return e.getText();
        }
    }
    // A price session logged in with the identity of a trade session.
    std::string loginBySession(const std::string& terminal, const std::string& sessionId, const std::string& subId,
                               int traderId) {
        session_ = merrow::ConnectionManagerEx::createUserSession(url_.c_str(), terminal.c_str(), "PriceServer", "",
                                                                 "", "Pellora", "");
        session_->subscribe(static_cast<merrow::IUserMessageListener*>(messages_));
        session_->subscribe(static_cast<merrow::IUserSessionStatusListener*>(statuses_));
        try {
            merrow::TradingSessionDesc d("QORA", terminal.c_str(), terminal.c_str(), terminal.c_str(), false);
            session_->setTradingSession(&d);
            if (!session_->loadStationDescriptor()) return "no station descriptor";
            const std::string trader = std::to_string(traderId);
            return session_->loginBySession(sessionId.c_str(), subId.c_str(), trader.c_str(), 0) == 1
                       ? std::string()
                       : std::string("login returned 0");
        } catch (const merrow::GenericException& e) {
            return e.getText();
        }
    }

    merrow::IUserSession* session() const { return session_; }
    Recorder& messages() { return *messages_; }
    StatusRecorder& statuses() { return *statuses_; }
    std::string newId() {
        char* id = session_->newRequestID();
        std::string s = id;
        session_->freeRequestID(id);
        return s;
    }

    // A DAS request message as the SDK renders one.
    merrow::IMessage* requestMessage(const std::string& id, int command,
                                     const std::vector<std::pair<std::string, std::string>>& params) {
        merrow::IMessage* m = session_->getMessageFactory()->createMessage(Fx::MSGTYPE_QORAREQUEST);
        m->setValue(Fx::FLDTAG_TESTREQID, id.c_str());
        m->setValue(Fx::FLDTAG_QORACOMMANDID, std::to_string(command).c_str());
        merrow::IFieldGroupList* l = m->createGroupList(Fx::FLDTAG_QORANOPARAM);
        for (const auto& p : params) {
            merrow::IFieldGroup* g = l->appendGroup();
            g->setValue(Fx::FLDTAG_QORAPARAMNAME, p.first.c_str());
            g->setValue(Fx::FLDTAG_QORAPARAMVALUE, p.second.c_str());
        }
        merrow::IFieldGroup* q = l->appendGroup();
        q->setValue(Fx::FLDTAG_QORAPARAMNAME, "QID");
        q->setValue(Fx::FLDTAG_QORAPARAMVALUE, id.c_str());
        return m;
    }
    // Sends a message (freed here) and waits for the answer under the ID.
    bool exchange(merrow::IMessage* m, const std::string& id, Got& out) {
        const bool sent = session_->send(m) != 0;
        merrow::ConnectionManagerEx::freeObject(m);
        return sent && messages_->waitFor([&](const Got& g) { return g.id() == id && !id.empty(); }, &out);
    }
    // The answer text of a command, or "<reject>: reason".
    std::string command(int command, const std::vector<std::pair<std::string, std::string>>& params = {}) {
        const std::string id = newId();
        Got g;
        if (!exchange(requestMessage(id, command, params), id, g)) return "<no answer>";
        if (g.type == Fx::MSGTYPE_QORARESPONSE && g.hasDas) return g.das;
        return "<" + g.type + ">: " + g.field(Fx::FLDTAG_QORAERRORDETAILS);
    }

    // An XML message carrying the text; with an ID, waits for the answer under it.
    Got xml(const std::string& text, const std::string& id = std::string()) {
        merrow::IMessage* m = session_->getMessageFactory()->createMessage(Fx::MSGTYPE_QORAXMLMESSAGE);
        m->setValue(Fx::FLDTAG_TEXT, text.c_str());
        Got g;
        if (id.empty()) {
            session_->send(m);
            merrow::ConnectionManagerEx::freeObject(m);
        } else if (!exchange(m, id, g)) {
            g.type = "<no answer>";
        }
        return g;
    }

    // A price-history request as the SDK writes one.
    struct History {
        std::string symbol = "EUR/USD";
        int interval = 1;
        std::string settlement;
        int count = 0;
        std::string fromDate, fromTime, toDate, toTime;
        bool weekends = false;
        std::string format = Fx::MSGTYPE_QORARESPONSE;
    };
    Got history(const History& h) {
        const std::string id = newId();
        merrow::IMessage* m = session_->getMessageFactory()->createMessage(Fx::MSGTYPE_MARKETDATAREQUEST);
        m->setValue(Fx::FLDTAG_MDREQID, id.c_str());
        m->setIntValue(Fx::FLDTAG_SUBSCRIPTIONREQUESTTYPE, 0);
        m->setIntValue(Fx::FLDTAG_MARKETDEPTH, h.count);
        m->setValue(Fx::FLDTAG_QORAINCLUDEWEEKENDS, h.weekends ? "true" : "false");
        merrow::IFieldGroup* ts = m->createGroupList(Fx::FLDTAG_NOTRADINGSESSIONS)->appendGroup();
        ts->setValue(Fx::FLDTAG_TRADINGSESSIONID, "QORA");
        ts->setValue(Fx::FLDTAG_TRADINGSESSIONSUBID, "PriceServer");
        merrow::IFieldGroupList* types = m->createGroupList(Fx::FLDTAG_NOMDENTRYTYPES);
        for (const char* t : {"i", "j", "k", "l", "m", "n", "o", "p", "H"})
            types->appendGroup()->setValue(Fx::FLDTAG_MDENTRYTYPE, t);
        if (!h.settlement.empty()) m->setValue(Fx::FLDTAG_SETTLTYPE, h.settlement.c_str());
        m->createGroupList(Fx::FLDTAG_NORELATEDSYM)->appendGroup()->setValue(Fx::FLDTAG_SYMBOL, h.symbol.c_str());
        m->setIntValue(Fx::FLDTAG_QORATIMINGINTERVAL, h.interval);
        if (!h.fromDate.empty()) {
            m->setValue(Fx::FLDTAG_QORASTARTDATE, h.fromDate.c_str());
            m->setValue(Fx::FLDTAG_QORASTARTTIME, h.fromTime.c_str());
        }
        if (!h.toDate.empty()) {
            m->setValue(Fx::FLDTAG_QORAENDDATE, h.toDate.c_str());
            m->setValue(Fx::FLDTAG_QORAENDTIME, h.toTime.c_str());
        }
        m->setIntValue(Fx::FLDTAG_QORANOSNAPSHOT, 300);
        if (!h.format.empty()) m->setValue(Fx::FLDTAG_RESPONSE_FORMAT, h.format.c_str());
        Got g;
        if (!exchange(m, id, g)) g.type = "<no answer>";
        return g;
    }

private:
    // The descriptor of that sub-ID, or a made-up one the server never offered.
    void choose(const std::string& subId) {
        const merrow::TradingSessionDesc* const* d = session_->getTradingSessionDescs();
        for (; *d; ++d)
            if (subId.empty() || subId == (*d)->getSubID()) {
                session_->setTradingSession(*d);
                return;
            }
        merrow::TradingSessionDesc made("X", subId.c_str(), subId.c_str(), "", false);
        session_->setTradingSession(&made);
    }

    std::string url_;
    merrow::IUserSession* session_ = nullptr;
    Recorder* messages_;
    StatusRecorder* statuses_;
};

} // namespace pellora::dealer::testing
