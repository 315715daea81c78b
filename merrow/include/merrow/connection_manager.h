#pragma once
// The process-wide entry point of the client side: the transport's threads, its
// settings, and the creation and freeing of sessions and messages.
//
// Settings apply to connections opened after they are set. init starts the two
// threads that run every session's I/O and callbacks; finalize stops them.
//
// [Threading] Every operation may be called from any thread, also from inside a
// session callback, except finalize (which joins the transport's threads).
// [Exceptions] createUserSession throws GenericException for a URL it cannot use;
// nothing else throws.

#include "merrow/merrow_export.h"
#include "merrow/message.h"
#include "merrow/user_session.h"

namespace merrow {

class MERROW_API ConnectionManagerEx {
public:
    ConnectionManagerEx() = delete;

    // Starts the transport's threads; calls nest, each init wanting one finalize.
    // The argument is reserved (pass 1). A session created before init starts them
    // on its own. Non-zero when running.
    static int init(int mode);
    // Ends the last init: open sessions are closed and the threads joined. Must not
    // be called from a transport thread (it would wait for itself; refused).
    static void finalize(int mode);

    // Connection attempts tolerated in one outage (initially 10).
    static void setNoReconnectAttempts(int attempts);
    // Resume attempts tolerated over connections that did open (initially 15).
    static void setNoReloginAttempts(int attempts);
    // Delivery is always asynchronous (1); other values are accepted and ignored.
    static void setAsync(int async);
    // Bounds each connect, TLS handshake and blocking exchange (initially 180000 ms).
    static void setTcpTimeout(int milliseconds);
    // Sends every connection through an HTTP CONNECT proxy; null or empty host: direct.
    static void setProxyServer(const char* host, int port);
    // Basic authorization for the proxy; null user: none.
    static void setBasicProxyAuthorization(const char* user, const char* password);
    // A CA file for verifying servers; null or empty: the system's store.
    static void setCAInfo(const char* path);
    // 1 writes every frame to the debug log file (setDebugLogFile); 0 stops it.
    // The environment variable PELLORA_TRANSPORT_LOG=<file> overrides both.
    static void setDebug(int on);
    static void setDebugLogFile(const char* name);

    // A new session that has only recorded its arguments; nothing connects yet. Null
    // texts are taken as "". Throws GenericException naming the URL when it is not
    // tcp://, tls://, http:// or https:// with a host.
    static IUserSession* createUserSession(const char* url, const char* connection, const char* user,
                                           const char* password, const char* application);
    // The form for price sessions: with the station kind ("PriceServer") and the
    // extra-parameter text given at a loginBySession.
    static IUserSession* createUserSession(const char* url, const char* connection, const char* stationKind,
                                           const char* user, const char* password, const char* application,
                                           const char* extra);

    // Frees a session: it stops at once (sending Logout when logged in, also on the
    // connection of a resume under way) and is destroyed once the callback in
    // progress has returned. Its listeners' references are dropped. Null is ignored.
    // Exact rule for callbacks: called from a callback of the session, no further
    // callback of it starts. Called from any other thread it does not wait for a
    // callback, so one callback whose delivery had already begun (past the
    // transport's last check, a few instructions from calling the listener) may
    // still start after it returns; none after that one. An application that must
    // know when the last callback has returned keeps a reference on its listeners
    // and waits for their release.
    static void freeObject(IUserSession* session);
    // Frees a message, group or list the caller owns (see merrow/message.h).
    static void freeObject(IMessage* message);
    static void freeObject(IFieldGroup* group);
    static void freeObject(IFieldGroupList* list);
    // Frees a text the transport handed out (a request identifier); null is ignored.
    static void freePointer(void* pointer);
};

} // namespace merrow
