#pragma once
// Drives an order engine over the demo world with operations read from bytes (random
// orders, closes, edits, deletes, group changes and price moves, good and bad), for
// the engine's randomized test and its fuzz target. After each operation the caller
// checks consistencyFault(). Header-only; tests and fuzzing only.

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "demo_world.h"
#include "order_engine.h"

namespace pellora::dealer {

class EngineDriver {
public:
    EngineDriver()
        : world_(demoWorld()), calendar_(MarketCalendar::newYork("/usr/share/zoneinfo")) {
        instruments_ = world_.instruments;
        engine_ = std::make_unique<OrderEngine>(world_, instruments_, calendar_);
        StoredState s;
        for (const Account& a : world_.accounts) {
            s.accounts.push_back(initialAccountRecord(a));
            start_[a.id] = a.balance;
        }
        engine_->load(s, kNow);
        ChangeWriter w(world_, kNow);
        for (const Instrument& m : world_.instruments) {
            OfferQuote q;
            q.offerId = m.offerId;
            q.bid = m.startBid;
            q.ask = m.startAsk;
            engine_->onQuote(q, w);
        }
        user_ = world_.findUser("demo");
    }

    OrderEngine& engine() { return *engine_; }
    const std::map<std::string, double>& startBalances() const { return start_; }

    // Runs one operation read from [p, end); false once the bytes are used up.
    bool step(const uint8_t*& p, const uint8_t* end) {
        p_ = p;
        end_ = end;
        if (p_ >= end_) return false;
        const int op = byte() % 9;
        DasRequest r;
        r.command = 34;
        r.requestId = "F" + std::to_string(++requests_);
        const std::string offer = pick<std::string>({"1", "2", "13", "1", "2", "77"});
        const std::string acct = pick<std::string>({"01001", "01002", "01001", "01002", "02001"});
        const std::string side = pick<std::string>({"B", "S", "B", "S", "b"});
        auto add = [&](const std::string& k, const std::string& v) { r.params.emplace_back(k, v); };
        auto amount = [&] { return pick<std::string>({"1000", "2000", "5000", "1000", "3000", "1000", "0", "-1000", "1500", "900000000000", "x", "1"}); };
        auto rate = [&] {
            const OfferQuote* q = quote(offer);
            const double base = q ? q->bid : 1;
            const double pip = offer == "2" ? 0.01 : offer == "13" ? 0.1 : 0.0001;
            const int8_t pips = static_cast<int8_t>(byte());
            if (pips == -128) return std::string("nan");
            return std::to_string(base + pips * pip);
        };
        switch (op) {
            case 0:  // market
                add("Stage", "O"), add("OfferID", offer), add("AcctID", acct), add("BuySell", side), add("Quantity", amount());
                if (byte() % 3 == 0) add("Rate", rate());
                if (byte() % 4 == 0) add("Rate2", rate()), add("RATE3", rate());
                if (byte() % 3 == 0) add("RateS", rate());
                if (byte() % 3 == 0) add("RateL", rate());
                break;
            case 1:  // entry, maybe OCO or OTO
                add("Stage", "O"), add("OfferID", offer), add("AcctID", acct), add("BuySell", side), add("Quantity", amount());
                add("Rate", rate()), add("Side", pick<std::string>({"1", "-1", "0"}));
                if (byte() % 2) add("RateS", rate());
                if (byte() % 2) add("PEG_TYPEL", pick<std::string>({"0", "1", "2"})), add("PRICE_OFFSET_PIPS_L", std::to_string(static_cast<int8_t>(byte())));
                if (byte() % 3 == 0) add("CONTINGENCY_TYPE", "1");
                if (byte() % 3 == 0) add("CONTINGENCY_TYPE", "2"), add("PRIMARY_QID", "F" + std::to_string(requests_ - 1 - byte() % 3));
                if (byte() % 4 == 0) add("TrailUpdatePips", pick<std::string>({"1", "10", "-1"}));
                if (byte() % 4 == 0) add("NET_QTY_FLG", "Y");
                gtd(r);
                break;
            case 2:  // stop or limit on a trade
            case 3: {  // close a trade, or net quantity
                const TradeRecord* t = someTrade();
                add("Stage", op == 2 ? "C" : pick<std::string>({"C", "O"}));
                add("OfferID", t ? t->offerId : offer), add("AcctID", t ? t->accountId : acct);
                if (t && byte() % 5) add("TradeID", t->tradeId);
                add("BuySell", t ? (byte() % 5 ? (t->buySell == "B" ? "S" : "B") : t->buySell) : side);
                if (byte() % 4) add("Quantity", t && byte() % 2 ? std::to_string(t->amount) : amount());
                else add("NET_QTY_FLG", "Y");
                if (op == 2) {
                    add("Side", pick<std::string>({"1", "-1"}));
                    if (byte() % 2) add("Rate", rate());
                    else add("PEG_TYPE", pick<std::string>({"0", "1"})), add("PRICE_OFFSET_PIPS", std::to_string(static_cast<int8_t>(byte())));
                    if (byte() % 3 == 0) add("TrailUpdatePips", pick<std::string>({"1", "5"}));
                    gtd(r);
                } else if (byte() % 3 == 0) {
                    add("Rate2", rate()), add("RATE3", rate());
                }
                break;
            }
            case 4:  // delete
                r.command = 19;
                add("OrderID", someOrder());
                break;
            case 5:  // edit
                r.command = 20;
                add("OrderID", someOrder()), add("AcctID", acct);
                if (byte() % 2) add("Quantity", amount());
                if (byte() % 2) add("Rate", rate());
                if (byte() % 3 == 0) add("TrailUpdatePips", pick<std::string>({"0", "1", "3"}));
                break;
            case 6:  // group change
                r.command = 131;
                add("OrderID", someOrder()), add("AcctID", acct);
                if (byte() % 3) add("CONTINGENCY_TYPE", pick<std::string>({"1", "2", "3", "9"})), add("CONTINGENCY_ID", someOrder());
                break;
            case 7: {  // the market moves
                const OfferQuote* q = quote(offer);
                p = p_;
                if (!q) return true;
                OfferQuote n = *q;
                const double pip = offer == "2" ? 0.01 : offer == "13" ? 0.1 : 0.0001;
                const double by = static_cast<int8_t>(byte()) * pip * (1 + byte() % 20);
                n.bid = std::max(pip, n.bid + by);
                n.ask = n.bid + (q->ask - q->bid);
                ChangeWriter w(world_, now_);
                engine_->onQuote(n, w);
                p = p_;
                return true;
            }
            default: {  // a forced margin call, a roll-over, or time passing
                const int what = byte() % 3;
                if (what == 2) now_ += static_cast<UnixMs>(byte()) * kMsPerMinute;
                ChangeWriter w(world_, now_);
                if (what == 0) (void)engine_->marginCall(acct, true, w);
                else if (what == 1) engine_->rollover(w);
                else engine_->expireOrders(w);
                p = p_;
                return true;
            }
        }
        ChangeWriter w(world_, now_);
        OrderBatch batch;
        (void)engine_->request(*user_, r, byte() % 2 ? &batch_ : &batch, w);
        if (byte() % 4 == 0) batch_ = OrderBatch();
        p = p_;
        return true;
    }

private:
    static constexpr UnixMs kNow = 1767614400000;  // Monday 2026-01-05 12:00 UTC
    UnixMs now_ = kNow;  // moves forward only, by minutes

    // Half the waiting orders are GTD, most with an expiry (some already past).
    void gtd(DasRequest& r) {
        if (byte() % 2) return;
        r.params.emplace_back("GTC", "GTD");
        if (byte() % 5) r.params.emplace_back("EXPIRE_DATE", dasTimestamp(now_ + static_cast<UnixMs>(byte() - 16) * kMsPerMinute));
    }
    uint8_t byte() { return p_ < end_ ? *p_++ : 0; }
    template <class T>
    T pick(std::initializer_list<T> list) {
        return *(list.begin() + byte() % list.size());
    }
    const OfferQuote* quote(const std::string& offer) const {
        auto it = engine_->quotes().find(offer);
        return it == engine_->quotes().end() ? nullptr : &it->second;
    }
    const TradeRecord* someTrade() {
        const auto& t = engine_->trades();
        return t.empty() ? nullptr : &t[byte() % t.size()];
    }
    std::string someOrder() {
        const auto& o = engine_->orders();
        return o.empty() || byte() % 8 == 0 ? "O2" : o[byte() % o.size()].orderId;
    }

    World world_;
    std::vector<Instrument> instruments_;
    MarketCalendar calendar_;
    std::unique_ptr<OrderEngine> engine_;
    std::map<std::string, double> start_;
    const User* user_ = nullptr;
    OrderBatch batch_;
    int requests_ = 0;
    const uint8_t* p_ = nullptr;
    const uint8_t* end_ = nullptr;
};

} // namespace pellora::dealer
