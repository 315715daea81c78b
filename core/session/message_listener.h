#pragma once
// The main message listener of a session: matches each incoming answer to its
// pending request, turns it into a response and hands it to every response
// listener; pushed updates go to every listener.
//
// Ownership: reference counted; the communicator and each transport subscription
// hold a reference, and the transport one more during each callback, so the
// listener outlives every delivery in progress.
// [Threading] update runs on a transport thread, one message of a session at a
// time. The registry and the listener list have their own locks; no lock is held
// while a response listener runs.

#include <atomic>
#include <string>

#include "core/requests/requests.h"
#include "core/session/response_listeners.h"
#include "merrow/listeners.h"
#include "vorntool/add_ref.h"

namespace zel {

class CMessageListener : public TThreadSafeAddRefImpl<merrow::IUserMessageListener> {
public:
    CMessageListener() = default;

    void update(merrow::IUserSession* session, merrow::IMessage* message) override;

    Requests& requests() { return m_requests; }
    ResponseListeners& listeners() { return m_listeners; }

protected:
    ~CMessageListener() override = default;

private:
    // The pending request the message answers, taken out of the registry; null when
    // it names none (id receives the identifier).
    RefPtr<IZelRequest> takePending(merrow::IMessage* message, std::string& id);
    void onResponse(merrow::IMessage* message);
    void onReject(merrow::IMessage* message);
    void onTablesUpdate(merrow::IMessage* message);

    Requests m_requests;
    ResponseListeners m_listeners;
    // The event mechanism's per-thread data is made before the first delivery.
    std::atomic<bool> m_threadDataPrepared{false};
};

// The text a failed answer gets when nothing better is known.
extern const char* const kUnreadableAnswer;

} // namespace zel
