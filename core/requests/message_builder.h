#pragma once
// Turns a request into the wire message that the communicator sends: DAS commands
// and batches into MSGTYPE_QORAREQUEST / MSGTYPE_QORAREQUESTBATCH, RTMP commands
// and the session init into XML messages, ready message objects as they render.
//
// [Threading] Stateless; called on the sending thread.

#include <cstdint>

#include "core/base/ref_ptr.h"
#include "core/requests/request.h"
#include "core/requests/trade_session_request.h"
#include "core/requests/trade_session_request_batch.h"
#include "merrow/message.h"
#include "merrow/user_session.h"

namespace zel {

class IMessageBuilder {
public:
    IMessageBuilder() = delete;

    // A new message the caller frees (merrow::freeMessage), or null for a null or
    // unknown request, a null session, or a request that renders to nothing.
    static merrow::IMessage* create(IZelRequest* request, merrow::IUserSession* session);
    // The DAS message object of a command: a single request, or a flat batch for a
    // request with children. Holds the one reference; null for a null request.
    static RefPtr<CZDASTradeSessionRequest> convert(CommandRequest* request, int32_t rid);
    // Adds the children of the request to the batch, each converted with the given
    // RID; children that have children of their own are flattened into the batch.
    static void fillBatch(CTradeSessionRequestBatch* batch, CommandRequest* request, int32_t rid);
};

} // namespace zel
