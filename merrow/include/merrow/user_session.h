#pragma once
// One messaging session of a client: its connection to a dealing server, the login,
// the traffic in both directions, reconnecting and resuming.
//
// Life: created by ConnectionManagerEx::createUserSession (which only records its
// arguments) and ended by ConnectionManagerEx::freeObject. loadStationDescriptor
// connects and reads the station descriptor; login (or loginBySession) opens the
// logical session; logout ends it. A lost connection is reconnected and the session
// resumed without loss in either direction, as long as the server still knows it.
//
// [Threading] Every operation may be called from any thread. Callbacks run on
// transport threads (see merrow/listeners.h).
// [Blocking] loadStationDescriptor, login and loginBySession wait for the server, at
// most the process's TCP timeout per exchange. Called from a transport thread (a
// callback of this or another session) they fail at once with a GenericException.
// Every other operation returns without waiting.
// [Exceptions] Only the three blocking calls throw, GenericException with a text
// written for a person; nothing else throws.
// [Texts] Returned texts belong to the session and stay valid until it is freed,
// unless said otherwise.

#include <cstdint>

#include "merrow/listeners.h"
#include "merrow/merrow_export.h"
#include "merrow/message.h"
#include "merrow/trading_session_desc.h"

namespace merrow {

class MERROW_API IUserSession {
public:
    // Selects the trading session for the next login (a copy is kept); null clears.
    virtual void setTradingSession(const TradingSessionDesc* desc) = 0;
    // The selected trading session, or null. Valid until the session is freed.
    virtual const TradingSessionDesc* getTradingSession() = 0;

    // Connects and asks for the station descriptor. Non-zero when it was read; 0
    // when the server could not be reached or did not answer in time. Throws
    // GenericException when the server was reached but refused (certificate, proxy,
    // unknown connection name), with the reason.
    virtual int loadStationDescriptor() = 0;
    // A station parameter ("version"), or null when absent or not loaded.
    virtual const char* getStationParameter(const char* name) = 0;
    // The trading sessions the descriptor offers: a null-terminated array, never
    // null (just the terminator before the descriptor is loaded).
    virtual const TradingSessionDesc* const* getTradingSessionDescs() = 0;
    // The session ID given by the server at login; "" before.
    virtual const char* getSessionID() = 0;

    // Message listeners: each subscribed listener receives every message, in
    // subscription order. Subscribing one already subscribed does nothing.
    // Subscribing adds a reference; unsubscribing drops it without waiting.
    virtual void subscribe(IUserMessageListener* listener) = 0;
    virtual void unsubscribe(IUserMessageListener* listener) = 0;
    // Status listeners, under the same rules.
    virtual void subscribe(IUserSessionStatusListener* listener) = 0;
    virtual void unsubscribe(IUserSessionStatusListener* listener) = 0;

    // Sends the message on the trading channel; the caller keeps and frees it.
    // Non-zero when it was taken: it reaches the server, after a reconnect if need
    // be. 0 before login, after logout, or when too much is still unacknowledged.
    virtual int send(IMessage* message) = 0;

    // A new request identifier, unique across sessions and processes. Free it with
    // freeRequestID or ConnectionManagerEx::freePointer.
    virtual char* newRequestID() = 0;
    virtual void freeRequestID(char* requestID) = 0;

    // Ends the session: sends Logout, closes, stops reconnecting, and reports
    // STATUSCODE_DISCONNECTED / MSGCODE_SESSNCLOSED.
    virtual void logout() = 0;
    // From the login; 0 before.
    virtual int getUserKind() = 0;
    virtual int getTraderID() = 0;
    // The channels (IFixDefs::CHANNEL_* ORed) the session no longer wants: the server
    // stops sending them and the client drops them. Kept for later logons.
    virtual void setMessageFilter(int mask) = 0;
    // Non-zero: the application is closing this session; a lost connection is then
    // final, never reconnected.
    virtual void setClosing(int closing) = 0;
    // Logs in with the recorded user and password and this extra-parameter text.
    // Returns 1 when logged in (STATUSCODE_LOGGEDIN / MSGCODE_CONNECTED follows).
    // Throws GenericException with the server's text when refused.
    virtual int login(const char* extra) = 0;
    // A session property from the login ("TransportProvider"), or null.
    virtual const char* getSessionProperty(const char* name) = 0;
    // The initial message of a command number (decimal text) listed after "EXTRA=",
    // or null. Refreshed by each resume; a text stays valid until two later logons
    // have replaced it or the session is freed.
    virtual const char* getInitialMessage(const char* command) = 0;
    // Logs in a price session with the identity of a live trade session (its session
    // ID, trading-session sub-ID and trader ID). Returns 1 when logged in; throws
    // GenericException with the server's text when refused. flags: pass 0.
    virtual int loginBySession(const char* sessionID, const char* subID, const char* traderID, int flags) = 0;
    // Drops the connection and reconnects as after a loss; status reports follow.
    virtual void reconnect() = 0;

    // The factory for outgoing messages; lives as long as the library.
    virtual IMessageFactory* getMessageFactory() = 0;

    IUserSession(const IUserSession&) = delete;
    IUserSession& operator=(const IUserSession&) = delete;

protected:
    IUserSession() = default;
    // Ended only through ConnectionManagerEx::freeObject.
    virtual ~IUserSession() = default;
};

} // namespace merrow
