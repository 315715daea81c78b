#include "core/requests/request_factory_base.h"

namespace zel {

RequestFactoryBase::RequestFactoryBase(merrow::IUserSession* session)
    : m_session(session), m_timeframes(adoptRef(new TimeFrameCollection()))
{
}

std::string RequestFactoryBase::takeRequestID(merrow::IUserSession* session)
{
    if (!session)
        return std::string();
    char* id = session->newRequestID();
    if (!id)
        return std::string();
    std::string copy(id);
    session->freeRequestID(id);
    return copy;
}

} // namespace zel
