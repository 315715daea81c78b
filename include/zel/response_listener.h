#pragma once
// Receives every answer and pushed update of a session.
//
// [Threading] Callbacks run on the transport's callback threads; the messages of
// one session arrive in order, one callback at a time.
// [Locking] No lock of the session is held: the listener list is copied first and
// each listener is held by a reference for the length of its callback.
// [Reentrancy] A callback may send requests, subscribe and unsubscribe response
// listeners (itself included: the current delivery still completes, and the
// listeners after it in the copy still receive it) and read the response through
// the reader factory.
// [Exceptions] An exception leaving a callback is caught by the session; the other
// listeners still receive the response.
// Ownership: the response and texts live for the call; add a reference to keep the
// response.

#include "vorntool/add_ref.h"
#include "zel/response.h"
#include "zel/zel_export.h"

class ZEL_API IZelResponseListener : public IAddRef {
public:
    virtual void onRequestCompleted(const char* requestID, IZelResponse* response) = 0;
    // The request failed; the text says why, written for a person.
    virtual void onRequestFailed(const char* requestID, const char* error) = 0;
    // A pushed update (type TablesUpdates), delivered to every listener.
    virtual void onTablesUpdates(IZelResponse* response) = 0;

protected:
    IZelResponseListener() = default;
    ~IZelResponseListener() override = default;
};
