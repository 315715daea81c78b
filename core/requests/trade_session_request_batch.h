#pragma once
// A DAS batch: several single requests sent as one MSGTYPE_QORAREQUESTBATCH
// message, each member embedded with its continuation flag.

#include <vector>

#include "core/base/ref_ptr.h"
#include "core/requests/trade_session_request.h"

namespace zel {

class CTradeSessionRequestBatch : public CZDASTradeSessionRequest {
public:
    CTradeSessionRequestBatch() = default;

    int getKind() const override { return KIND_TRADESESSIONREQUESTBATCH; }
    bool isBatch() const override { return true; }
    // Null for a batch without DAS single members, without a session, or when a
    // member cannot be rendered. The batch's own parameters are not sent.
    merrow::IMessage* toMessage(merrow::IUserSession* session) override;

    // Adds a reference to the member; null is ignored.
    void addRequest(CTradeSessionRequest* request);
    void addRequests(CTradeSessionRequest* const* requests, int count);
    // The member without a new reference (it lives as long as the batch holds it);
    // null outside the list.
    CTradeSessionRequest* getRequest(int index) const;
    int getRequestCount() const { return static_cast<int>(m_requests.size()); }
    // Releases every member.
    void clearRequests() { m_requests.clear(); }

    void setContingencyType(int type) { m_contingencyType = type; }
    int getContingencyType() const { return m_contingencyType; }
    void setBatchResponseRequired(bool required) { m_batchResponseRequired = required; }
    bool isBatchResponseRequired() const { return m_batchResponseRequired; }

protected:
    ~CTradeSessionRequestBatch() override = default;

private:
    std::vector<RefPtr<CTradeSessionRequest>> m_requests;
    int m_contingencyType = 0;
    bool m_batchResponseRequired = false;
};

} // namespace zel
