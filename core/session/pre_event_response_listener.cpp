#include "core/session/pre_event_response_listener.h"

#include <cstring>

#include "core/responses/response.h"

namespace zel {

void PreEventResponseListener::onTablesUpdates(IZelResponse* response)
{
    auto* text = dynamic_cast<Response*>(response);
    if (!text)
        return;
    std::shared_ptr<const InstrumentsUpdater> updater;
    const char* nothing = nullptr;
    {
        LockGuard<Mutex> lock(m_mutex);
        updater = m_updater;
        nothing = m_nothingFieldValue;
    }
    if (!updater || !*updater)
        return;
    const char* from = std::strstr(text->getResponse(), "INSTRMT");
    if (from)
        (*updater)(from, nothing);
}

void PreEventResponseListener::setInstrumentsUpdater(InstrumentsUpdater updater)
{
    auto shared = std::make_shared<const InstrumentsUpdater>(std::move(updater));
    LockGuard<Mutex> lock(m_mutex);
    m_updater = std::move(shared);
}

void PreEventResponseListener::setNothingFieldValue(const char* value)
{
    LockGuard<Mutex> lock(m_mutex);
    m_nothingFieldValue = value;
}

} // namespace zel
