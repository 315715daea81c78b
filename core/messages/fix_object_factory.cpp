#include "core/messages/fix_object_factory.h"

#include <cstring>

#include "core/base/ref_ptr.h"
#include "core/marketdata/level2_market_data_snapshot.h"
#include "core/marketdata/market_data_request.h"
#include "core/marketdata/market_data_request_reject.h"
#include "core/marketdata/market_data_snapshot.h"
#include "core/marketdata/trading_session_status.h"
#include "core/marketdata/trading_session_status_request.h"
#include "core/messages/qora_request_reject.h"
#include "core/messages/qora_response.h"
#include "core/messages/response_batch.h"
#include "core/messages/rtmp_qora_object_response.h"
#include "core/requests/das_message.h"
#include "core/requests/rtmp_xml_message.h"
#include "merrow/fix_defs.h"

namespace zel {

namespace {

using merrow::IFixDefs;

template <class T>
AFixObject* create()
{
    return new T();
}

struct Decoder {
    const char* msgType;
    AFixObject* (*create)();
};

// Each incoming type with its class. Types without an entry decode to
// nothing.
const Decoder kDecoders[] = {
    {IFixDefs::MSGTYPE_QORARESPONSE, &create<CZDASQORAResponse>},
    {IFixDefs::MSGTYPE_QORARTMPRESPONSE, &create<CRTMPQORAResponse>},
    {IFixDefs::MSGTYPE_QORAREQUESTREJECT, &create<CQORARequestReject>},
    {IFixDefs::MSGTYPE_QORARESPONSEBATCH, &create<CResponseBatch>},
    {IFixDefs::MSGTYPE_QORARTMPOBJECTRESPONSE, &create<CRTMPQORAObjectResponse>},
    {IFixDefs::MSGTYPE_DASMESSAGE, &create<CDasMessage>},
    {IFixDefs::MSGTYPE_QORAXMLMESSAGE, &create<CRTMPXmlMessage>},
    {IFixDefs::MSGTYPE_MARKETDATASNAPSHOTFULLREFRESH, &create<CMarketDataSnapshot>},
    {IFixDefs::MSGTYPE_QORARTMPMARKETDATASNAPSHOT, &create<CLevel2MarketDataSnapshot>},
    {IFixDefs::MSGTYPE_MARKETDATAREQUESTREJECT, &create<CMarketDataRequestReject>},
    {IFixDefs::MSGTYPE_TRADINGSESSIONSTATUS, &create<CTradingSessionStatus>},
    {IFixDefs::MSGTYPE_TRADINGSESSIONSTATUSREQUEST, &create<CTradingSessionStatusRequest>},
    {IFixDefs::MSGTYPE_MARKETDATAREQUEST, &create<CMarketDataRequest>},
};

} // namespace

AFixObject* CFixObjectFactory::toObject(merrow::IMessage* message)
{
    if (message == nullptr)
        return nullptr;
    const char* type = message->getMsgType();
    if (type == nullptr)
        return nullptr;
    for (const Decoder& d : kDecoders) {
        if (std::strcmp(type, d.msgType) != 0)
            continue;
        AFixObject* object = d.create();
        bool filled = false;
        try {
            filled = object->fill(message);
        } catch (...) {
            RefPtr<AFixObject> drop(object);
            throw;
        }
        if (!filled) {
            RefPtr<AFixObject> drop(object);  // the only reference: frees the object
            return nullptr;
        }
        // Handed on at a count of 0: the caller takes the first reference.
        return object;
    }
    return nullptr;
}

bool CFixObjectFactory::isRejectObject(merrow::IMessage* message)
{
    if (message == nullptr)
        return false;
    const char* type = message->getMsgType();
    return type != nullptr && (std::strcmp(type, IFixDefs::MSGTYPE_QORAREQUESTREJECT) == 0 ||
                               std::strcmp(type, IFixDefs::MSGTYPE_MARKETDATAREQUESTREJECT) == 0);
}

} // namespace zel
