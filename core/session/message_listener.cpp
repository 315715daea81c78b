#include "core/session/message_listener.h"

#include <cstring>
#include <string>

#include "core/messages/time_utils.h"
#include "core/responses/response_factory.h"
#include "core/session/app_callback.h"
#include "core/tables/event.h"
#include "merrow/fix_defs.h"

namespace zel {

const char* const kUnreadableAnswer = "Cannot parse the response.";

namespace {

using Fx = merrow::IFixDefs;

enum class Route { Ignore, Response, Reject, TablesUpdate };

Route classify(const char* type)
{
    if (!std::strcmp(type, Fx::MSGTYPE_DASMESSAGE) || !std::strcmp(type, Fx::MSGTYPE_QORAXMLMESSAGE) ||
        !std::strcmp(type, Fx::MSGTYPE_QORARTMPMARKETDATASNAPSHOT))
        return Route::TablesUpdate;
    if (!std::strcmp(type, Fx::MSGTYPE_QORAREQUESTREJECT) || !std::strcmp(type, Fx::MSGTYPE_MARKETDATAREQUESTREJECT))
        return Route::Reject;
    if (!std::strcmp(type, Fx::MSGTYPE_QORARESPONSE) || !std::strcmp(type, Fx::MSGTYPE_QORARTMPRESPONSE))
        return Route::Response;
    return Route::Ignore;
}

} // namespace

void CMessageListener::update(merrow::IUserSession* /*session*/, merrow::IMessage* message)
{
    if (!message)
        return;
    if (!m_threadDataPrepared.load(std::memory_order_acquire)) {
        Cpp::Threading::constructThreadData();
        m_threadDataPrepared.store(true, std::memory_order_release);
    }
    switch (classify(message->getMsgType())) {
    case Route::Response:
        onResponse(message);
        break;
    case Route::Reject:
        onReject(message);
        break;
    case Route::TablesUpdate:
        onTablesUpdate(message);
        break;
    case Route::Ignore:
        break;
    }
}

RefPtr<IZelRequest> CMessageListener::takePending(merrow::IMessage* message, std::string& id)
{
    id = getRequestIDFromMessage(message);
    return id.empty() ? nullptr : adoptRef(m_requests.findAndRemove(id.c_str()));
}

void CMessageListener::onResponse(merrow::IMessage* message)
{
    std::string id;
    RefPtr<IZelRequest> request = takePending(message, id);
    if (!request)
        return;
    std::string error;
    RefPtr<IZelResponse> response = adoptRef(ResponseFactory::createResponseFromMessage(request.get(), message, error));
    if (!response && error.empty())
        error = kUnreadableAnswer;
    for (const RefPtr<IZelResponseListener>& listener : m_listeners.getCopy()) {
        if (response)
            callApplication([&] { listener->onRequestCompleted(id.c_str(), response.get()); });
        else
            callApplication([&] { listener->onRequestFailed(id.c_str(), error.c_str()); });
    }
}

void CMessageListener::onReject(merrow::IMessage* message)
{
    std::string id;
    RefPtr<IZelRequest> request = takePending(message, id);
    if (!request)
        return;
    std::string error;
    ResponseFactory::createErrorFromRejectRespone(message, error);
    for (const RefPtr<IZelResponseListener>& listener : m_listeners.getCopy())
        callApplication([&] { listener->onRequestFailed(id.c_str(), error.c_str()); });
}

void CMessageListener::onTablesUpdate(merrow::IMessage* message)
{
    RefPtr<IZelResponse> response = adoptRef(ResponseFactory::createResponseFromMessage(message));
    if (!response)
        return;
    for (const RefPtr<IZelResponseListener>& listener : m_listeners.getCopy())
        callApplication([&] { listener->onTablesUpdates(response.get()); });
}

} // namespace zel
