#pragma once
// The session's status model and the listener that hears about it.
//
// [Threading] Callbacks run on the thread that changed the status: the login
// worker, a transport thread (reconnects, losses), or the application's own thread
// inside IZelSession::logout.
// [Locking] They run under the session's status-listener lock, which is re-entrant
// for its owner, so each listener is told one status at a time and in the order the
// statuses were set.
// [Reentrancy] A callback may subscribe and unsubscribe status listeners, call
// setTradingSession (the login worker waits for that answer inside
// TradingSessionRequested) and call logout. It must not wait for another thread
// that itself changes the session's status.
// [Exceptions] An exception leaving a callback is caught by the session; the other
// listeners are still told.

#include "vorntool/add_ref.h"
#include "zel/zel_export.h"

class ZEL_API IZelSessionStatus : public IAddRef {
public:
    enum ZelSessionStatus {
        Disconnected = 0,
        Connecting = 1,
        TradingSessionRequested = 2,
        Connected = 3,
        Reconnecting = 4,
        Disconnecting = 5,
        // The connection was lost; Disconnected always follows at once.
        SessionLost = 6,
        PriceSessionReconnecting = 7,
    };

    virtual void onSessionStatusChanged(ZelSessionStatus status) = 0;
    // The login failed; the text is written for a person and lives for the call.
    // Disconnected follows.
    virtual void onLoginFailed(const char* error) = 0;

protected:
    IZelSessionStatus() = default;
    ~IZelSessionStatus() override = default;
};
