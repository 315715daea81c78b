#pragma once
// The command wrapper the message builder renders: a DAS single request or batch,
// remembering the identifier it went out under.

#include <string>

#include "core/messages/fix_object.h"
#include "core/requests/trade_session_request.h"
#include "core/requests/trade_session_request_batch.h"

namespace zel {

class CQORACommand : public AFixObject {
public:
    CQORACommand() = default;

    int getKind() const override { return KIND_QORACOMMAND; }
    // The batch when one is set, else the single request; null without a session or
    // without either.
    merrow::IMessage* toMessage(merrow::IUserSession* session) override;
    bool fill(merrow::IMessage* message) override { return false; }

    // Not owned: the object must outlive the rendering.
    void setRequest(CTradeSessionRequest* request) { m_request = request; }
    void setBatch(CTradeSessionRequestBatch* batch) { m_batch = batch; }
    // The identifier of the last rendering; "" before.
    const char* getTestReqID() const { return m_testReqID.c_str(); }

protected:
    ~CQORACommand() override = default;

private:
    CTradeSessionRequest* m_request = nullptr;
    CTradeSessionRequestBatch* m_batch = nullptr;
    std::string m_testReqID;
};

} // namespace zel
