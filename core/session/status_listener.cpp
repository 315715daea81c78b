#include "core/session/status_listener.h"

#include "core/session/server_communicator.h"
#include "merrow/fix_defs.h"

namespace zel {

namespace {
using Fx = merrow::IFixDefs;
using Status = IZelSessionStatus;
} // namespace

CStatusListener::CStatusListener(ServerCommunicator* communicator) : m_communicator(communicator) {}

void CStatusListener::detach()
{
    LockGuard<RecursiveMutex> lock(m_mutex);
    m_communicator = nullptr;
}

void CStatusListener::resetFlags()
{
    LockGuard<RecursiveMutex> lock(m_mutex);
    m_tradeReconnecting = false;
    m_priceReconnecting = false;
}

bool CStatusListener::isTradeReconnecting() const
{
    LockGuard<RecursiveMutex> lock(m_mutex);
    return m_tradeReconnecting;
}

bool CStatusListener::isPriceReconnecting() const
{
    LockGuard<RecursiveMutex> lock(m_mutex);
    return m_priceReconnecting;
}

void CStatusListener::update(merrow::IUserSession* session, merrow::ISessionStatus* status)
{
    if (!session || !status)
        return;
    LockGuard<RecursiveMutex> lock(m_mutex);
    if (!m_communicator)
        return;
    ServerCommunicator& c = *m_communicator;
    // The session object must outlive the mapping: a listener may drop the
    // application's last reference while it is told.
    ServerCommunicator::OwnerHold hold(c);
    if (!hold)
        return;
    if (c.isTradeSession(session))
        onTradeStatus(c, session, status->getStatusCode(), status->getMessageCode());
    else if (c.isPriceSession(session))
        onPriceStatus(c, session, status->getStatusCode(), status->getMessageCode());
}

void CStatusListener::onTradeStatus(ServerCommunicator& c, merrow::IUserSession* session, int code, int message)
{
    if (code == Fx::STATUSCODE_DISCONNECTED && message == Fx::MSGCODE_RECONNETING) {
        c.closePriceSession();
        m_tradeReconnecting = true;
        c.setStatusOfSession(session, Status::Reconnecting);
    } else if (code == Fx::STATUSCODE_LOGGEDIN && message == Fx::MSGCODE_CONNECTED && m_tradeReconnecting) {
        m_tradeReconnecting = false;
        m_priceReconnecting = false;
        c.onReconnected(session);
    } else if (code == Fx::STATUSCODE_EXPIRED || code == Fx::STATUSCODE_SHUTDOWN ||
               code == Fx::STATUSCODE_FORCED_RELOGIN || code == Fx::STATUSCODE_RELOGIN_FAILED) {
        m_tradeReconnecting = false;
        m_priceReconnecting = false;
        c.setStatusOfSession(session, Status::SessionLost);
    }
    // Anything else, a close while reconnecting included, changes nothing.
}

void CStatusListener::onPriceStatus(ServerCommunicator& c, merrow::IUserSession* session, int code, int message)
{
    if (code == Fx::STATUSCODE_DISCONNECTED && message == Fx::MSGCODE_RECONNETING) {
        m_priceReconnecting = true;
        c.setStatusOfSession(session, Status::PriceSessionReconnecting);
    } else if (code == Fx::STATUSCODE_LOGGEDIN && message == Fx::MSGCODE_CONNECTED && m_priceReconnecting) {
        m_priceReconnecting = false;
        c.setStatusOfSession(session, Status::Connected);
    } else if (code == Fx::STATUSCODE_EXPIRED || code == Fx::STATUSCODE_SHUTDOWN ||
               code == Fx::STATUSCODE_FORCED_RELOGIN) {
        m_priceReconnecting = false;
        c.setStatusOfSession(session, Status::SessionLost);
    } else if (code == Fx::STATUSCODE_RELOGIN_FAILED) {
        // The trade session's reconnect brings the price session back with it.
        m_priceReconnecting = false;
        c.closePriceSession();
        c.reconnectTradeSession();
    }
}

} // namespace zel
