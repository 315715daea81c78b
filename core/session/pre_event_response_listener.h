#pragma once
// The listener that runs before the application's: a pushed update that carries
// instruments ("INSTRMT") updates the instruments table first, so that readers the
// application makes from the same update already see the new instruments.
//
// Ownership: reference counted; the communicator holds it in the listener list.
// [Threading] Callbacks run on the transport thread of the update; the manager is
// replaced under a mutex and used without it (the instruments table locks its adds).

#include <string>

#include "core/base/mutex.h"
#include "core/base/ref_ptr.h"
#include "core/tables/tables_manager.h"
#include "vorntool/add_ref.h"
#include "zel/response_listener.h"

namespace zel {

class PreEventResponseListener : public TThreadSafeAddRefImpl<IZelResponseListener> {
public:
    PreEventResponseListener() = default;

    void onRequestCompleted(const char*, IZelResponse*) override {}
    void onRequestFailed(const char*, const char*) override {}
    void onTablesUpdates(IZelResponse* response) override;

    // Adds a reference (the previous manager is released); null: none.
    void setTablesManager(TablesManager* manager);
    // The marker text is copied: the provider that owns it goes at logout while an
    // update may still be parsed.
    void setNothingFieldValue(const char* value);

protected:
    ~PreEventResponseListener() override = default;

private:
    mutable Mutex m_mutex;
    RefPtr<TablesManager> m_manager ZEL_GUARDED_BY(m_mutex);
    std::string m_nothingFieldValue ZEL_GUARDED_BY(m_mutex) = "!=";
};

} // namespace zel
