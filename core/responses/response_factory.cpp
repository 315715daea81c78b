#include "core/responses/response_factory.h"

#include <cstdlib>
#include <cstring>

#include "core/base/ref_ptr.h"
#include "core/marketdata/level2_market_data_snapshot.h"
#include "core/marketdata/market_data_request.h"
#include "core/marketdata/market_data_request_reject.h"
#include "core/messages/fix_object_factory.h"
#include "core/messages/qora_request_reject.h"
#include "core/messages/qora_response.h"
#include "core/requests/das_message.h"
#include "core/requests/request.h"
#include "core/requests/rtmp_xml_message.h"
#include "core/requests/strings.h"
#include "core/responses/response.h"
#include "merrow/fix_defs.h"
#include "merrow/utc_timestamp.h"

namespace zel {

namespace {

using Fx = merrow::IFixDefs;

constexpr const char* kCannotParse = "Cannot parse the response.";

struct CommandType {
    int32_t command;
    ZelResponseType type;
};

// Commands and the response type of their answers; the messages-table refresh (7)
// has none.
constexpr CommandType kCommandTypes[] = {
    {5, ZelResponseType::AccountsTable},       {9, ZelResponseType::OffersTable},
    {45, ZelResponseType::OrdersTable},        {46, ZelResponseType::OrdersTable},
    {10, ZelResponseType::TradesTable},        {43, ZelResponseType::TradesTable},
    {44, ZelResponseType::TradesTable},        {67, ZelResponseType::ClosedTradesTable},
    {69, ZelResponseType::ClosedTradesTable},  {70, ZelResponseType::ClosedTradesTable},
    {34, ZelResponseType::OrderResponse},      {3, ZelResponseType::SystemProperties},
    {19, ZelResponseType::CommandResponse},    {20, ZelResponseType::CommandResponse},
    {24, ZelResponseType::CommandResponse},    {131, ZelResponseType::CommandResponse},
    {138, ZelResponseType::MarginRequirements}, {143, ZelResponseType::MarginRequirements},
    {144, ZelResponseType::MarginRequirements}, {117, ZelResponseType::LastOrderUpdate},
};

RefPtr<AFixObject> toObject(merrow::IMessage* message)
{
    // toObject hands out an object whose count is still 0: take the first reference.
    return RefPtr<AFixObject>(CFixObjectFactory::toObject(message));
}

int64_t parseDecimal(const char* text)
{
    if (!text)
        return 0;
    char* end = nullptr;
    const long long value = std::strtoll(text, &end, 10);
    return end == text ? 0 : static_cast<int64_t>(value);
}

} // namespace

int32_t ResponseFactory::getCommand(IZelRequest* request)
{
    auto* command = dynamic_cast<CommandRequest*>(request);
    return command ? command->getCommandID() : -1;
}

ZelResponseType ResponseFactory::getResponseType(IZelRequest* request)
{
    if (dynamic_cast<FixRequest*>(request))
        return ZelResponseType::MarketDataSnapshot;
    const int32_t command = getCommand(request);
    for (const CommandType& entry : kCommandTypes) {
        if (entry.command == command)
            return entry.type;
    }
    return ZelResponseType::Unknown;
}

IZelResponse* ResponseFactory::createResponseFromMessage(merrow::IMessage* message)
{
    RefPtr<AFixObject> object = toObject(message);
    if (!object)
        return nullptr;
    switch (object->getKind()) {
    case AFixObject::KIND_DASMESSAGE:
        return new Response(ZelResponseType::TablesUpdates, "",
                            static_cast<CDasMessage*>(object.get())->getMessage());
    case AFixObject::KIND_RTMPXMLMESSAGE:
        return new Response(ZelResponseType::TablesUpdates, "",
                            static_cast<CRTMPXmlMessage*>(object.get())->getXML());
    case AFixObject::KIND_LEVEL2MARKETDATASNAPSHOT:
        return new Level2MarketDataSnapshotResponse(static_cast<CLevel2MarketDataSnapshot*>(object.get()));
    default:
        return nullptr;
    }
}

IZelResponse* ResponseFactory::createResponseFromMessage(IZelRequest* request, merrow::IMessage* message,
                                                         std::string& error)
{
    RefPtr<AFixObject> object = toObject(message);
    if (!object || object->getKind() != AFixObject::KIND_QORARESPONSE)
        return nullptr;
    auto* answer = static_cast<CQORAResponse*>(object.get());
    const ZelResponseType type = getResponseType(request);

    if (type == ZelResponseType::MarketDataSnapshot) {
        int period = 0;
        if (auto* fix = dynamic_cast<FixRequest*>(request)) {
            RefPtr<AFixObject> sent = adoptRef(fix->getFixObject());
            if (auto* md = dynamic_cast<CMarketDataRequest*>(sent.get()))
                period = md->getTimingInterval();
        }
        return new MarketDataSnapshotResponse(request->getRequestID(), message->getValue(Fx::FLDTAG_SYMBOL), period,
                                              merrow::CUTCTimestamp::toDate(message->getValue(Fx::FLDTAG_LAST_MINUTE)),
                                              parseDecimal(message->getValue(Fx::FLDTAG_LAST_MINUTE_VOLUME)),
                                              answer->getMessage());
    }

    if (answer->getMessageProtocol() == 0 &&
        !checkDasResponse(answer->getMessage(), answer->getMessageLength(), error))
        return nullptr;

    const char* requestID = request ? request->getRequestID() : "";
    const int32_t command = getCommand(request);
    Response* response = command != -1 ? createResponseFromCommand(type, requestID, command)
                                       : new Response(type, requestID);
    response->setResponse(answer->getMessage());
    return response;
}

Response* ResponseFactory::createResponseFromCommand(ZelResponseType type, const char* requestID, int32_t command)
{
    return new CommandResponseImpl(type, requestID, command);
}

void ResponseFactory::createErrorFromRejectRespone(merrow::IMessage* message, std::string& error)
{
    error.clear();
    RefPtr<AFixObject> object = toObject(message);
    if (!object)
        return;
    if (object->getKind() == AFixObject::KIND_QORAREQUESTREJECT) {
        error = Strings::getErrorDesc(static_cast<CQORARequestReject*>(object.get())->getText());
    } else if (object->getKind() == AFixObject::KIND_MARKETDATAREQUESTREJECT) {
        // A refused price-history request is a reject too; without its text the
        // application would be told of a failure with nothing to show.
        const char* text = static_cast<CMarketDataRequestReject*>(object.get())->getText();
        error = Strings::getErrorDesc(*text ? text : Strings::getMarketDataRequestRejected());
    }
}

bool ResponseFactory::checkDasResponse(const char* text, size_t length, std::string& error)
{
    if (text && length > 0 && text[0] == '0')
        return true;
    const char* begin = text ? text : "";
    const char* lineEnd = static_cast<const char*>(std::memchr(begin, '\n', text ? length : 0));
    if (!lineEnd)
        lineEnd = begin + (text ? length : 0);
    const char* firstSep = static_cast<const char*>(std::memchr(begin, ';', static_cast<size_t>(lineEnd - begin)));
    if (!firstSep) {
        error = kCannotParse;
        return false;
    }
    const char* second = firstSep + 1;
    const char* secondEnd = static_cast<const char*>(std::memchr(second, ';', static_cast<size_t>(lineEnd - second)));
    if (!secondEnd)
        secondEnd = lineEnd;
    if (secondEnd > second && secondEnd[-1] == '\r')
        --secondEnd;
    if (secondEnd > second)
        error.assign(second, secondEnd);
    else if (firstSep > begin)
        error.assign(begin, firstSep);
    else
        error = kCannotParse;
    return false;
}

} // namespace zel
