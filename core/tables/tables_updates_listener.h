#pragma once
// The tables-updates listener: subscribed to the session before every listener of
// the application, it applies each pushed update to the live tables, so that an
// application's listener of the same message already sees the tables changed.
//
// Ownership: reference counted; the table manager and the session's listener list
// hold it. It holds the manager by a plain pointer that detach() clears.
// [Threading] Callbacks run on the transport's callback thread; detach() may run on
// any thread and waits for an update under way.

#include "core/base/mutex.h"
#include "vorntool/add_ref.h"
#include "zel/response_listener.h"

namespace zel {

class TablesManager;

class TablesUpdatesListener : public TThreadSafeAddRefImpl<IZelResponseListener> {
public:
    explicit TablesUpdatesListener(TablesManager* manager) : m_manager(manager) {}

    void onRequestCompleted(const char*, IZelResponse*) override {}
    void onRequestFailed(const char*, const char*) override {}
    void onTablesUpdates(IZelResponse* response) override;
    // No update reaches the manager after this returns.
    void detach();

protected:
    ~TablesUpdatesListener() override = default;

private:
    Mutex m_mutex;
    TablesManager* m_manager ZEL_GUARDED_BY(m_mutex);
};

} // namespace zel
