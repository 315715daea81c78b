#pragma once
// The price server's refusal of a market-data request (MSGTYPE_MARKETDATAREQUESTREJECT).

#include <string>

#include "core/messages/fix_object.h"

namespace zel {

class CMarketDataRequestReject : public AFixObject {
public:
    CMarketDataRequestReject() { reset(); }

    int getKind() const override { return KIND_MARKETDATAREQUESTREJECT; }
    // A new message the caller frees; the reason only when set.
    merrow::IMessage* toMessage(merrow::IUserSession* session) override;
    // False for a message of another type.
    bool fill(merrow::IMessage* message) override;
    void reset();

    const char* getMDReqID() const { return m_mdReqID.c_str(); }
    void setMDReqID(const char* id) { m_mdReqID = id != nullptr ? id : ""; }
    // An IFixDefs::MDREQREJREASON_* code, or -1 when the server named none.
    int getMDReqRejReason() const { return m_reason; }
    void setMDReqRejReason(int reason) { m_reason = reason; }
    const char* getText() const { return m_text.c_str(); }
    void setText(const char* text) { m_text = text != nullptr ? text : ""; }

protected:
    ~CMarketDataRequestReject() override = default;

private:
    std::string m_mdReqID;
    int m_reason;
    std::string m_text;
};

} // namespace zel
