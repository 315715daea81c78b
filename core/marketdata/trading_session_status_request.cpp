#include "core/marketdata/trading_session_status_request.h"

#include "core/marketdata/market_data_fields.h"

#include <cstring>

#include "core/messages/message_fields.h"
#include "core/requests/trade_session_request.h"
#include "merrow/fix_defs.h"

namespace zel {

using merrow::IFixDefs;

void CTradingSessionStatusRequest::reset()
{
    m_reqID.clear();
    m_sessionID = "QORA";
    m_sessionSubID.clear();
    m_type = SubscriptionRequestSnapshot;
}

merrow::IMessage* CTradingSessionStatusRequest::toMessage(merrow::IUserSession* session)
{
    // A type outside the enumeration renders nothing rather than throwing into the sender.
    const int index = static_cast<int>(m_type);
    if (index < SubscriptionRequestSnapshot || index > SubscriptionRequestUnsubscribe)
        return nullptr;
    merrow::IMessage* m =
        outgoingMessageFactory(session)->createMessage(IFixDefs::MSGTYPE_TRADINGSESSIONSTATUSREQUEST);
    if (m == nullptr)
        return nullptr;
    m->setValue(IFixDefs::FLDTAG_TRADSESREQID, m_reqID.c_str());
    m->setValue(IFixDefs::FLDTAG_TRADINGSESSIONID, m_sessionID.c_str());
    m->setValue(IFixDefs::FLDTAG_TRADINGSESSIONSUBID, m_sessionSubID.c_str());
    m->setIntValue(IFixDefs::FLDTAG_SUBSCRIPTIONREQUESTTYPE, subscriptionTypeToWire(index));
    return m;
}

bool CTradingSessionStatusRequest::fill(merrow::IMessage* message)
{
    reset();
    if (message == nullptr ||
        std::strcmp(message->getMsgType(), IFixDefs::MSGTYPE_TRADINGSESSIONSTATUSREQUEST) != 0)
        return false;
    const int index = subscriptionTypeIndex(message);
    if (index < 0)
        return false;
    m_type = static_cast<ESubscriptionRequestType>(index);
    m_reqID = fieldTextOrEmpty(message, IFixDefs::FLDTAG_TRADSESREQID);
    readFieldText(message, IFixDefs::FLDTAG_TRADINGSESSIONID, &m_sessionID);
    m_sessionSubID = fieldTextOrEmpty(message, IFixDefs::FLDTAG_TRADINGSESSIONSUBID);
    return true;
}

} // namespace zel
