#include "client_user_session.h"

#include "request_id.h"

namespace merrow::detail {

UserSession::UserSession(std::shared_ptr<ClientSession> engine) : m_engine(std::move(engine))
{
    m_engine->delivery().setHandle(this);
}

UserSession::~UserSession() = default;

void UserSession::free()
{
    m_engine->free([this] { delete this; });
}

// The blocking calls hold the engine themselves: a handle freed by another thread
// meanwhile does not take the engine with it.
int UserSession::loadStationDescriptor()
{
    auto engine = m_engine;
    return engine->loadStationDescriptor();
}

int UserSession::login(const char* extra)
{
    auto engine = m_engine;
    return engine->login(extra);
}

int UserSession::loginBySession(const char* sessionID, const char* subID, const char* traderID, int flags)
{
    auto engine = m_engine;
    return engine->loginBySession(sessionID, subID, traderID, flags);
}

char* UserSession::newRequestID()
{
    return newRequestIdText();
}

void UserSession::freeRequestID(char* requestID)
{
    freeRequestIdText(requestID);
}

IMessageFactory* UserSession::getMessageFactory()
{
    return merrow::getMessageFactory();
}

} // namespace merrow::detail
