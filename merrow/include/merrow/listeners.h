#pragma once
// What a user session tells its application: incoming messages and status reports.
//
// Listeners are reference counted (IAddRef): the transport holds one reference per
// subscription and one more for the length of each callback, so unsubscribing never
// waits and a listener lives until the last callback to it has returned.

#include "merrow/message.h"
#include "vorntool/add_ref.h"

namespace merrow {

class IUserSession;

// One status report. Owned by the transport and valid for the length of the
// callback that receives it; copy what you keep.
class MERROW_API ISessionStatus {
public:
    // An IFixDefs::STATUSCODE_* value.
    virtual int getStatusCode() const = 0;
    // An IFixDefs::MSGCODE_* value, or 0 when the report has none.
    virtual int getMessageCode() const = 0;
    // Why, written for a person ("Connection reset by peer."); never null, may be "".
    virtual const char* getReasonText() const = 0;

    ISessionStatus(const ISessionStatus&) = delete;
    ISessionStatus& operator=(const ISessionStatus&) = delete;

protected:
    ISessionStatus() = default;
    virtual ~ISessionStatus() = default;
};

// Receives the application messages of a session, in arrival order. Messages that
// arrive while a session has no message listener are held and handed, in order, to
// the next one that subscribes.
//
// [Threading] update runs on a transport thread, serialized per session (a price
// session logged in by session shares the strand of its trade session); never two
// callbacks of one session at once. A callback may take long (seconds): the
// session's connection goes on sending heart-beats meanwhile and is not cut, and
// other sessions go on receiving, because the transport lends the thread's work to
// another thread while a callback holds it for over 100 ms. Messages that arrive
// meanwhile wait, in order, for the callback to return; above 1,024 of them (or
// 4 MiB) the session stops reading its connection until they are down to half, so
// the stream waits at the server (which conflates market data) and not in memory.
// [Locking] No transport lock is held during the callback.
// [Reentrancy] The callback may call every operation of the session but the
// blocking ones (loadStationDescriptor, login, loginBySession), and
// ConnectionManagerEx::freeObject on it: none of them waits for a callback.
// [Exceptions] An exception leaving update is caught and dropped by the transport;
// the other listeners still receive the message.
class MERROW_API IUserMessageListener : public IAddRef {
public:
    // The message belongs to the transport and lives for the length of the call.
    virtual void update(IUserSession* session, IMessage* message) = 0;

protected:
    IUserMessageListener() = default;
    ~IUserMessageListener() override = default;
};

// Receives the status reports of a session, in order, once per event.
//
// [Threading] update runs on the session's delivery strand, in order with the
// messages of IUserMessageListener.
// [Locking] No transport lock is held during the callback.
// [Reentrancy] As for IUserMessageListener: every non-blocking operation, including
// reconnect, logout and freeObject of the session, may be called from inside.
// [Exceptions] Caught and dropped by the transport.
class MERROW_API IUserSessionStatusListener : public IAddRef {
public:
    // The status belongs to the transport and lives for the length of the call.
    virtual void update(IUserSession* session, ISessionStatus* status) = 0;

protected:
    IUserSessionStatusListener() = default;
    ~IUserSessionStatusListener() override = default;
};

} // namespace merrow
