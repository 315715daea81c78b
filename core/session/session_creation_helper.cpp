#include "core/session/session_creation_helper.h"

namespace zel {

merrow::IUserSession* SessionCreationHelper::createUserSession(IUserSessionFactory& factory, const char* user,
                                                               const char* password, const char* url,
                                                               const char* connection,
                                                               merrow::IUserMessageListener* /*messageListener*/,
                                                               merrow::IUserSessionStatusListener* statusListener)
{
    merrow::IUserSession* session = factory.createUserSession(url, connection, user, password, kApplication);
    if (session && statusListener)
        session->subscribe(statusListener);
    return session;
}

} // namespace zel
