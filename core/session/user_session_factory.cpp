#include "core/session/user_session_factory.h"

#include "merrow/connection_manager.h"

namespace zel {

namespace {

class TransportSessionFactory final : public IUserSessionFactory {
public:
    merrow::IUserSession* createUserSession(const char* url, const char* connection, const char* user,
                                            const char* password, const char* application) override
    {
        return merrow::ConnectionManagerEx::createUserSession(url, connection, user, password, application);
    }
    merrow::IUserSession* createPriceSession(const char* url, const char* connection, const char* stationKind,
                                             const char* user, const char* password, const char* application,
                                             const char* extra) override
    {
        return merrow::ConnectionManagerEx::createUserSession(url, connection, stationKind, user, password,
                                                              application, extra);
    }
    void freeUserSession(merrow::IUserSession* session) override
    {
        merrow::ConnectionManagerEx::freeObject(session);
    }
};

} // namespace

IUserSessionFactory& IUserSessionFactory::transport()
{
    // Never destroyed: a login worker may still use it while the process exits.
    static TransportSessionFactory* const factory = new TransportSessionFactory;
    return *factory;
}

} // namespace zel
