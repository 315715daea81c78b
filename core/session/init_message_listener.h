#pragma once
// The message listener of a trade-desk initialization: between the opening of the
// trade session and Connected it alone receives the trade session's messages and
// reports them to one listener (the initializer), answers by its own registry.
//
// Ownership: reference counted; holds one reference to its listener.
// [Threading] update runs on a transport thread; the listener is called without
// any lock held.

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

protected:
    ~InitMessageListener() override = default;

private:
    RefPtr<IZelResponseListener> m_listener;
    Requests m_requests;
};

} // namespace zel
