#include "core/marketdata/market_data_request_reject.h"

#include <cstring>

#include "core/messages/message_fields.h"
#include "core/requests/trade_session_request.h"
#include "merrow/fix_defs.h"

namespace zel {

using merrow::IFixDefs;

void CMarketDataRequestReject::reset()
{
    m_mdReqID.clear();
    m_reason = -1;
    m_text.clear();
}

bool CMarketDataRequestReject::fill(merrow::IMessage* message)
{
    reset();
    if (message == nullptr || std::strcmp(message->getMsgType(), IFixDefs::MSGTYPE_MARKETDATAREQUESTREJECT) != 0)
        return false;
    m_mdReqID = fieldTextOrEmpty(message, IFixDefs::FLDTAG_MDREQID);
    if (message->hasField(IFixDefs::FLDTAG_MDREQREJREASON))
        m_reason = static_cast<int>(message->getIntValue(IFixDefs::FLDTAG_MDREQREJREASON));
    m_text = fieldTextOrEmpty(message, IFixDefs::FLDTAG_TEXT);
    return true;
}

merrow::IMessage* CMarketDataRequestReject::toMessage(merrow::IUserSession* session)
{
    merrow::IMessage* m = outgoingMessageFactory(session)->createMessage(IFixDefs::MSGTYPE_MARKETDATAREQUESTREJECT);
    if (m == nullptr)
        return nullptr;
    m->setValue(IFixDefs::FLDTAG_MDREQID, m_mdReqID.c_str());
    if (m_reason >= 0)
        m->setIntValue(IFixDefs::FLDTAG_MDREQREJREASON, m_reason);
    m->setValue(IFixDefs::FLDTAG_TEXT, m_text.data(), m_text.size());
    return m;
}

} // namespace zel
