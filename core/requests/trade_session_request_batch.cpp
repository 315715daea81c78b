#include "core/requests/trade_session_request_batch.h"

#include <cstdio>
#include <memory>

#include "merrow/fix_defs.h"

namespace zel {

using merrow::IFixDefs;

namespace {

struct MessageDeleter {
    void operator()(merrow::IMessage* m) const { merrow::freeMessage(m); }
};
using MessagePtr = std::unique_ptr<merrow::IMessage, MessageDeleter>;

} // namespace

void CTradeSessionRequestBatch::addRequest(CTradeSessionRequest* request)
{
    if (request != nullptr)
        m_requests.emplace_back(request);
}

void CTradeSessionRequestBatch::addRequests(CTradeSessionRequest* const* requests, int count)
{
    if (requests == nullptr)
        return;
    for (int i = 0; i < count; ++i)
        addRequest(requests[i]);
}

CTradeSessionRequest* CTradeSessionRequestBatch::getRequest(int index) const
{
    return index >= 0 && index < getRequestCount() ? m_requests[index].get() : nullptr;
}

merrow::IMessage* CTradeSessionRequestBatch::toMessage(merrow::IUserSession* session)
{
    std::vector<CZDASTradeSessionRequest*> members;
    for (const auto& r : m_requests)
        if (r->getMessageProtocol() == 0 && !r->isBatch())
            if (auto* single = dynamic_cast<CZDASTradeSessionRequest*>(r.get()))
                members.push_back(single);
    if (members.empty() || session == nullptr || !ensureRequestID(session))
        return nullptr;

    MessagePtr message(outgoingMessageFactory(session)->createMessage(IFixDefs::MSGTYPE_QORAREQUESTBATCH));
    if (!message)
        return nullptr;
    message->setValue(IFixDefs::FLDTAG_TESTREQID, m_requestID.c_str());
    message->setValue(IFixDefs::FLDTAG_MDREQID, m_requestID.c_str());
    setTradingSession(session, message.get());
    message->setIntValue(IFixDefs::FLDTAG_BATCHREQUEST_BATCHRESPONSE, m_batchResponseRequired ? 1 : 0);
    if (m_contingencyType > 0)
        message->setIntValue(IFixDefs::FLDTAG_CONTINGENCYTYPE, m_contingencyType);

    // Members are rendered into a list of our own, attached once all of them rendered.
    merrow::IFieldGroupList* list = outgoingMessageFactory(session)->createFieldGroupList();
    if (list == nullptr)
        return nullptr;
    std::unique_ptr<merrow::IFieldGroupList, void (*)(merrow::IFieldGroupList*)> listOwner(
        list, &merrow::freeFieldGroupList);
    m_rid = members.front()->getRID();
    for (size_t i = 0; i < members.size(); ++i) {
        MessagePtr member(members[i]->toMessage(session));
        if (!member)
            return nullptr;
        member->setIntValue(IFixDefs::FLDTAG_QORACONTINUOUSFLAG, i + 1 == members.size()
                                                                     ? IFixDefs::QORACONTINUOUS_END
                                                                     : IFixDefs::QORACONTINUOUS_PACKET);
        list->addGroup(member.get());
    }
    char rid[16];
    std::snprintf(rid, sizeof rid, "%d", static_cast<int>(m_rid));
    message->setValue(IFixDefs::FLDTAG_QORACOMMANDID, rid);
    message->setGroupList(IFixDefs::FLDTAG_EMBMSG, list);
    message->setValue(IFixDefs::FLDTAG_REFMSGTYPE, IFixDefs::MSGTYPE_QORAREQUEST);
    return message.release();
}

} // namespace zel
