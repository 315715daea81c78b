#pragma once
// The request for a trading session's status (MSGTYPE_TRADINGSESSIONSTATUSREQUEST);
// also decoded, when a peer reads one.

#include <string>

#include "core/messages/fix_object.h"

namespace zel {

enum ESubscriptionRequestType : int {
    SubscriptionRequestSnapshot = 0,
    SubscriptionRequestSubscribe = 1,
    SubscriptionRequestUnsubscribe = 2,
};

class CTradingSessionStatusRequest : public AFixObject {
public:
    CTradingSessionStatusRequest() { reset(); }

    int getKind() const override { return KIND_TRADINGSESSIONSTATUSREQUEST; }
    // A new message the caller frees; null for a subscription type outside the
    // enumeration.
    merrow::IMessage* toMessage(merrow::IUserSession* session) override;
    // False for another message type or an unknown subscription type.
    bool fill(merrow::IMessage* message) override;
    void reset();

    const char* getTradSesReqID() const { return m_reqID.c_str(); }
    void setTradSesReqID(const char* v) { m_reqID = v != nullptr ? v : ""; }
    const char* getTradingSessionID() const { return m_sessionID.c_str(); }
    void setTradingSessionID(const char* v) { m_sessionID = v != nullptr ? v : ""; }
    const char* getTradingSessionSubID() const { return m_sessionSubID.c_str(); }
    void setTradingSessionSubID(const char* v) { m_sessionSubID = v != nullptr ? v : ""; }
    ESubscriptionRequestType getSubscriptionRequestType() const { return m_type; }
    void setSubscriptionRequestType(ESubscriptionRequestType v) { m_type = v; }

protected:
    ~CTradingSessionStatusRequest() override = default;

private:
    std::string m_reqID;
    std::string m_sessionID;
    std::string m_sessionSubID;
    ESubscriptionRequestType m_type;
};

} // namespace zel
