// The dealer's RTMP sessions: "SessionInitMsg" answered by the pushed "SysConfigMsg"
// document, "SubscrList" by the instruments and offers document, prices as level-2
// snapshots on the market-data channel. RTMP sessions trade nothing and get no
// history: every other request is rejected with its reason.

#include <algorithm>

#include "answer_texts.h"
#include "dealer.h"
#include "rtmp_protocol.h"

namespace pellora::dealer {

using Fx = merrow::IFixDefs;

namespace {

bool offered(const PriceTerminal* terminal, const std::string& offerId) {
    return !terminal || std::find(terminal->offerIds.begin(), terminal->offerIds.end(), offerId) !=
                            terminal->offerIds.end();
}

} // namespace

std::vector<merrow::InitialMessageText> Dealer::rtmpInitialMessages(const Connection& c,
                                                                    const std::vector<int>& commands) {
    std::vector<merrow::InitialMessageText> out;
    for (int command : commands) {
        if (command == 3) {
            out.push_back({3, sysConfigDocument(config_.world, c)});
        } else if (command == 139) {
            std::vector<Instrument> view;
            {
                std::lock_guard<std::mutex> lock(stateMu_);
                view = instruments_;
            }
            out.push_back({139, pairsDocument(view, quotes())});
        }
    }
    return out;
}

void Dealer::handleXml(const merrow::ServerSessionPtr& s, const Connection* connection, const merrow::IMessage& m) {
    const char* raw = m.getValue(Fx::FLDTAG_TEXT);
    const std::string text = raw ? std::string(raw) : std::string();
    auto reject = [&](const std::string& id, const std::string& reason) {
        MessagePtr rej = requestReject(id, reason);
        (void)s->send(*rej);
    };
    if (!connection || connection->protocol != Protocol::Rtmp) {
        reject(xmlRequestIdOf(text), "This session takes no XML requests.");
        return;
    }
    XmlRequest r;
    if (Status st = readXmlRequest(text, r); !st.isOk()) {
        reject(xmlRequestIdOf(text), st.text());
        return;
    }
    const std::string* idAttr = r.attribute("RequestId");
    const std::string id = idAttr ? *idAttr : std::string();
    if (r.name == "SessionInitMsg") {
        // Pushed with no request ID: the client's initialization waits for it by name.
        MessagePtr msg = xmlMessage(sysConfigDocument(config_.world, *connection));
        if (merrow::Status sent = s->send(*msg); !sent.ok()) log("SysConfigMsg not sent: " + sent.reason());
        return;
    }
    if (r.name == "SubscrList") {
        if (id.empty()) {
            reject(id, "SubscrList needs a RequestId.");
            return;
        }
        std::vector<Instrument> view;
        {
            std::lock_guard<std::mutex> lock(stateMu_);
            view = instruments_;
        }
        const std::string doc = pairsDocument(view, quotes());
        if (doc.size() + 512 > s->maxPayload()) {
            reject(id, "The answer is too large.");
            return;
        }
        MessagePtr resp = rtmpResponse(id, doc);
        if (merrow::Status sent = s->send(*resp); !sent.ok()) log("SubscrList answer not sent: " + sent.reason());
        return;
    }
    if (r.name == "GetPriceHistory") {
        reject(id, "Price history is not offered over RTMP.");
        return;
    }
    reject(id, "The request " + r.name + " is not served over RTMP; this server answers only SessionInitMsg and "
                                          "SubscrList.");
}

void Dealer::pushLevel2Locked(const std::vector<std::pair<merrow::ServerSessionPtr, const PriceTerminal*>>& receivers,
                              const std::vector<size_t>& instruments) {
    // One snapshot per offer, keyed by it: a client that falls behind keeps only the
    // latest of each offer.
    for (size_t i : instruments) {
        const Instrument& ins = engine_->instrument(i);
        MessagePtr m;
        for (const auto& r : receivers) {
            if (!offered(r.second, ins.offerId)) continue;
            if (!m) m = level2Snapshot({{&ins, engine_->quote(i)}}, ++level2Sequence_);
            if (r.first->send(*m, Fx::CHANNEL_MARKET_DATA, ins.offerId).ok()) ++ticksSent_;
        }
    }
}

void Dealer::sendFreshPrices(const merrow::ServerSessionPtr& s, const PriceTerminal* terminal, bool level2) {
    std::lock_guard<std::mutex> lock(priceMu_);
    if (level2) {
        std::vector<Level2Quote> all;
        for (size_t i = 0; i < engine_->size(); ++i)
            if (offered(terminal, engine_->instrument(i).offerId)) all.push_back({&engine_->instrument(i), engine_->quote(i)});
        if (all.empty()) return;
        MessagePtr m = level2Snapshot(all, ++level2Sequence_);
        (void)s->send(*m, Fx::CHANNEL_MARKET_DATA);
        return;
    }
    UpdateText u(clock_.now());
    for (size_t i = 0; i < engine_->size(); ++i)
        if (offered(terminal, engine_->instrument(i).offerId))
            u.add(TableCode::Offer, UpdateKind::Update, offerLine(engine_->quote(i), engine_->instrument(i).digits));
    if (u.empty()) return;
    MessagePtr m = dasMessage(u.str());
    (void)s->send(*m, Fx::CHANNEL_MARKET_DATA);
}

} // namespace pellora::dealer
