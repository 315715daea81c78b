#pragma once
// Creates the trade session of a login and subscribes the status listener to it.
// The message listener is left out on purpose: it joins when the session is
// Connected, after the initialization listener.

#include "core/session/user_session_factory.h"
#include "merrow/listeners.h"
#include "merrow/user_session.h"

namespace zel {

class SessionCreationHelper {
public:
    SessionCreationHelper() = delete;
    // The application name the server sees.
    static constexpr const char* kApplication = "Pellora";

    // Throws merrow::GenericException when the transport refuses the URL.
    static merrow::IUserSession* createUserSession(IUserSessionFactory& factory, const char* user,
                                                   const char* password, const char* url, const char* connection,
                                                   merrow::IUserMessageListener* messageListener,
                                                   merrow::IUserSessionStatusListener* statusListener);
};

} // namespace zel
