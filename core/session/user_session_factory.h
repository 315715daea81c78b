#pragma once
// Where the session's messaging sessions come from and go back to: the transport
// in the library, a fake in tests.
//
// [Threading] Any thread; the transport's own rules apply.

#include "merrow/user_session.h"

namespace zel {

class IUserSessionFactory {
public:
    virtual ~IUserSessionFactory() = default;
    // A new messaging session; throws merrow::GenericException for a URL the
    // transport cannot use.
    virtual merrow::IUserSession* createUserSession(const char* url, const char* connection, const char* user,
                                                    const char* password, const char* application) = 0;
    // A new price session (the station-kind form); the base makes an ordinary one.
    virtual merrow::IUserSession* createPriceSession(const char* url, const char* connection, const char* stationKind,
                                                     const char* user, const char* password, const char* application,
                                                     const char* extra)
    {
        (void)stationKind;
        (void)extra;
        return createUserSession(url, connection, user, password, application);
    }
    // Frees a session this factory made; null is ignored.
    virtual void freeUserSession(merrow::IUserSession* session) = 0;

    // The process's transport (ConnectionManagerEx).
    static IUserSessionFactory& transport();
};

} // namespace zel
