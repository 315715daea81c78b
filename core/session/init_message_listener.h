#pragma once
// The message listener of a trade-desk initialization: between the opening of the
// trade session and Connected it alone receives the trade session's messages and
// reports them to one listener (the initializer), answers by its own registry.
//
// Ownership: reference counted; holds one reference to its listener.
// Pushed updates it sees (other than the RTMP system configuration) are kept in
// order, so that the main dispatch can deliver them when it takes over.
// [Threading] update runs on a transport thread; the listener is called without
// any lock held. The kept updates have their own mutex.

#include <vector>

#include "core/base/mutex.h"
#include "core/base/ref_ptr.h"
#include "core/requests/requests.h"
#include "merrow/listeners.h"
#include "vorntool/add_ref.h"
#include "zel/response_listener.h"

namespace zel {

class InitMessageListener : public TThreadSafeAddRefImpl<merrow::IUserMessageListener> {
public:
    explicit InitMessageListener(IZelResponseListener* listener);

    void update(merrow::IUserSession* session, merrow::IMessage* message) override;
    Requests& requests() { return m_requests; }
    IZelResponseListener* listener() const { return m_listener.get(); }
    // The updates kept so far, in arrival order; the list is emptied.
    std::vector<RefPtr<IZelResponse>> takeKept();

protected:
    ~InitMessageListener() override = default;

private:
    RefPtr<IZelResponseListener> m_listener;
    Requests m_requests;
    Mutex m_keptMutex;
    std::vector<RefPtr<IZelResponse>> m_kept ZEL_GUARDED_BY(m_keptMutex);
};

} // namespace zel
