#include "core/requests/qora_command.h"

namespace zel {

merrow::IMessage* CQORACommand::toMessage(merrow::IUserSession* session)
{
    if (session == nullptr)
        return nullptr;
    CTradeSessionRequest* target = m_batch != nullptr ? m_batch : m_request;
    if (target == nullptr)
        return nullptr;
    merrow::IMessage* message = target->toMessage(session);
    m_testReqID = target->getRequestID();
    return message;
}

} // namespace zel
