#include "core/session/pre_event_response_listener.h"

#include <cstring>

#include "core/responses/instruments_parsers.h"
#include "core/responses/response.h"
#include "core/responses/result_set_tokenizer.h"

namespace zel {

void PreEventResponseListener::onTablesUpdates(IZelResponse* response)
{
    auto* text = dynamic_cast<Response*>(response);
    if (!text)
        return;
    RefPtr<TablesManager> manager;
    std::string nothing;
    {
        LockGuard<Mutex> lock(m_mutex);
        manager = m_manager;
        nothing = m_nothingFieldValue;
    }
    if (!manager)
        return;
    const char* from = std::strstr(text->getResponse(), "INSTRMT");
    if (!from)
        return;
    // From the first instrument line on; the parser skips the lines of other tables.
    UpdateInstrumentsParserSpecial parser(manager->instruments(), nothing.c_str());
    CResultSetTokenizer(from).tokenize(&parser);
}

void PreEventResponseListener::setTablesManager(TablesManager* manager)
{
    RefPtr<TablesManager> previous;  // released after the mutex
    LockGuard<Mutex> lock(m_mutex);
    previous = std::move(m_manager);
    m_manager = RefPtr<TablesManager>(manager);
}

void PreEventResponseListener::setNothingFieldValue(const char* value)
{
    LockGuard<Mutex> lock(m_mutex);
    if (value)
        m_nothingFieldValue = value;
}

} // namespace zel
