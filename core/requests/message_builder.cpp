#include "core/requests/message_builder.h"

#include "core/requests/party_liaison.h"
#include "core/requests/qora_command.h"
#include "core/requests/rtmp_trade_session_request.h"
#include "core/requests/zel_const.h"

namespace zel {

namespace {

// The application named in the parties text of every DAS command.
constexpr const char* kOrigination = "zel2";

RefPtr<CRTMPTradeSessionRequest> newRtmpRequest(const char* name, merrow::IUserSession* session)
{
    RefPtr<CRTMPTradeSessionRequest> rtmp(new CRTMPTradeSessionRequest());
    rtmp->setName(name);
    rtmp->setParameter(ZelConst::RTMP_SESSION_ID_PARAM, session->getSessionID());
    return rtmp;
}

} // namespace

merrow::IMessage* IMessageBuilder::create(IZelRequest* request, merrow::IUserSession* session)
{
    if (request == nullptr || session == nullptr)
        return nullptr;
    if (auto* rtmpCommand = dynamic_cast<RTMPCommandRequest*>(request)) {
        RefPtr<CRTMPTradeSessionRequest> rtmp = newRtmpRequest(rtmpCommand->getName(), session);
        for (int i = 0; i < rtmpCommand->getParamCount(); ++i)
            rtmp->setParameter(rtmpCommand->getParamName(i), rtmpCommand->getParamValue(i));
        rtmp->setRequestID(rtmpCommand->getRequestID());
        rtmp->setParameter("Type", "MSG");
        rtmp->setParameter(ZelConst::RTMP_SESSION_ID_PARAM, session->getSessionID());
        return rtmp->toMessage(session);
    }
    if (auto* command = dynamic_cast<CommandRequest*>(request)) {
        RefPtr<CZDASTradeSessionRequest> das = convert(command, command->getCommandID());
        RefPtr<CQORACommand> wrapper(new CQORACommand());
        if (das->isBatch())
            wrapper->setBatch(static_cast<CTradeSessionRequestBatch*>(das.get()));
        else
            wrapper->setRequest(das.get());
        return wrapper->toMessage(session);
    }
    if (auto* init = dynamic_cast<RTMPInitRequest*>(request))
        return newRtmpRequest(init->getName(), session)->toMessage(session);
    if (auto* fix = dynamic_cast<FixRequest*>(request)) {
        RefPtr<AFixObject> object = adoptRef(fix->getFixObject());
        return object ? object->toMessage(session) : nullptr;
    }
    return nullptr;
}

RefPtr<CZDASTradeSessionRequest> IMessageBuilder::convert(CommandRequest* request, int32_t rid)
{
    if (request == nullptr)
        return nullptr;
    RefPtr<CTradeSessionRequestBatch> batch;
    RefPtr<CZDASTradeSessionRequest> das;
    if (request->getChildrenCount() > 0) {
        batch = RefPtr<CTradeSessionRequestBatch>(new CTradeSessionRequestBatch());
        das = batch;
    } else {
        das = RefPtr<CZDASTradeSessionRequest>(new CZDASTradeSessionRequest());
    }
    das->setRID(rid);
    das->setRequestID(request->getRequestID());
    PartyLiaison liaison;
    liaison.setOrigination(kOrigination);
    das->setParties(liaison.makeParties(nullptr).c_str());
    for (int i = 0; i < request->getParamCount(); ++i)
        das->setParameter(request->getParamName(i), request->getParamValue(i));
    if (batch) {
        batch->setBatchResponseRequired(false);
        fillBatch(batch.get(), request, rid);
    }
    return das;
}

void IMessageBuilder::fillBatch(CTradeSessionRequestBatch* batch, CommandRequest* request, int32_t rid)
{
    if (batch == nullptr || request == nullptr)
        return;
    for (int i = 0; i < request->getChildrenCount(); ++i) {
        CommandRequest* child = request->getChild(i);
        if (child == nullptr)
            continue;
        if (child->getChildrenCount() > 0) {
            fillBatch(batch, child, rid);
            continue;
        }
        RefPtr<CZDASTradeSessionRequest> member = convert(child, rid);
        batch->addRequest(member.get());
    }
}

} // namespace zel
