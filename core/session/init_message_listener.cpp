#include "core/session/init_message_listener.h"

#include <cstring>
#include <string>

#include "core/messages/time_utils.h"
#include "core/requests/zel_const.h"
#include "core/responses/response.h"
#include "core/responses/response_factory.h"
#include "core/session/app_callback.h"

namespace zel {

InitMessageListener::InitMessageListener(IZelResponseListener* listener) : m_listener(listener) {}

void InitMessageListener::update(merrow::IUserSession* /*session*/, merrow::IMessage* message)
{
    if (!message || !m_listener)
        return;
    const std::string id = getRequestIDFromMessage(message);
    if (id.empty()) {
        RefPtr<IZelResponse> response = adoptRef(ResponseFactory::createResponseFromMessage(message));
        if (!response)
            return;
        callApplication([&] { m_listener->onTablesUpdates(response.get()); });
        auto* text = dynamic_cast<Response*>(response.get());
        if (text && !std::strstr(text->getResponse(), ZelConst::RTMP_SYS_CONFIG_MSG)) {
            LockGuard<Mutex> lock(m_keptMutex);
            m_kept.push_back(std::move(response));
        }
        return;
    }
    RefPtr<IZelRequest> request = adoptRef(m_requests.findAndRemove(id.c_str()));
    if (!request)
        return;
    std::string error;
    RefPtr<IZelResponse> response = adoptRef(ResponseFactory::createResponseFromMessage(request.get(), message, error));
    if (response)
        callApplication([&] { m_listener->onRequestCompleted(id.c_str(), response.get()); });
    else
        callApplication([&] { m_listener->onRequestFailed(id.c_str(), error.c_str()); });
}

std::vector<RefPtr<IZelResponse>> InitMessageListener::takeKept()
{
    LockGuard<Mutex> lock(m_keptMutex);
    std::vector<RefPtr<IZelResponse>> out;
    out.swap(m_kept);
    return out;
}

} // namespace zel
