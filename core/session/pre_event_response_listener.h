#pragma once
// The listener that runs before the application's: a pushed update that carries
// instruments ("INSTRMT") updates the instruments table first, so that readers the
// application makes from the same update already see the new instruments.
//
// Ownership: reference counted; the communicator holds it in the listener list.
// [Threading] Callbacks run on the transport thread of the update; the updater is
// replaced under a mutex and called without it.

#include <functional>
#include <memory>

#include "core/base/mutex.h"
#include "vorntool/add_ref.h"
#include "zel/response_listener.h"

namespace zel {

class PreEventResponseListener : public TThreadSafeAddRefImpl<IZelResponseListener> {
public:
    // Applies the result-set text that starts at "INSTRMT" to the instruments, with
    // the protocol's nothing-field marker. Set when a table manager exists.
    using InstrumentsUpdater = std::function<void(const char* text, const char* nothingFieldValue)>;

    PreEventResponseListener() = default;

    void onRequestCompleted(const char*, IZelResponse*) override {}
    void onRequestFailed(const char*, const char*) override {}
    void onTablesUpdates(IZelResponse* response) override;

    // Empty: no table manager.
    void setInstrumentsUpdater(InstrumentsUpdater updater);
    // The marker text is held, not copied: it belongs to the protocol provider.
    void setNothingFieldValue(const char* value);

protected:
    ~PreEventResponseListener() override = default;

private:
    mutable Mutex m_mutex;
    std::shared_ptr<const InstrumentsUpdater> m_updater ZEL_GUARDED_BY(m_mutex);
    const char* m_nothingFieldValue ZEL_GUARDED_BY(m_mutex) = nullptr;
};

} // namespace zel
