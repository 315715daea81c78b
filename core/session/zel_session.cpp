#include "core/session/zel_session.h"

#include <cstring>
#include <thread>

#include "core/messages/time_utils.h"
#include "core/responses/response.h"
#include "merrow/connection_manager.h"

namespace zel {

namespace {
using Status = IZelSessionStatus;

void transportLogOff()
{
    merrow::ConnectionManagerEx::setDebugLogFile(nullptr);
    merrow::ConnectionManagerEx::setDebug(0);
}
} // namespace

CZelSession::CZelSession(IUserSessionFactory& factory)
{
    ServerCommunicator::Callbacks callbacks;
    callbacks.sessionOpened = [this](merrow::IUserSession* s) { return onSessionOpened(s); };
    callbacks.sessionClosed = [this](merrow::IUserSession* s) { return onSessionClosed(s); };
    callbacks.priceFeedSessionOpened = [this](merrow::IUserSession* s) { return onPriceFeedSessionOpened(s); };
    callbacks.reconnected = [this](merrow::IUserSession* s) { return onReconnected(s); };
    callbacks.connectToPriceFeedServer = [this](const std::string& name) { connectToPriceFeedServer(name); };
    callbacks.retainOwner = [this] { return tryAddRef(); };
    callbacks.releaseOwner = [this](bool fromWorker) { releaseFromCallback(fromWorker); };
    m_communicator = std::make_unique<ServerCommunicator>(std::move(callbacks), factory);
    m_timeConverter = adoptRef(new TimeConverter());
    transportLogOff();
    m_serverTimeListener = adoptRef(new ServerTimeListener(this));
    subscribeMessageListenerAsFirst(m_serverTimeListener.get());
}

CZelSession::~CZelSession()
{
    setTablesManager(nullptr);
    m_serverTimeListener->detach();
    m_communicator->unsubscribeResponse(m_serverTimeListener.get());
    // The communicator goes first: its workers and listeners call back into us.
    m_communicator.reset();
    transportLogOff();
}

long CZelSession::addRef()
{
    return m_refCount.fetch_add(1, std::memory_order_relaxed) + 1;
}

long CZelSession::release()
{
    const int32_t now = m_refCount.fetch_sub(1, std::memory_order_acq_rel) - 1;
    if (now == 0)
        delete this;
    return now;
}

bool CZelSession::tryAddRef()
{
    int32_t count = m_refCount.load(std::memory_order_relaxed);
    while (count > 0) {
        if (m_refCount.compare_exchange_weak(count, count + 1, std::memory_order_acquire, std::memory_order_relaxed))
            return true;
    }
    return false;
}

void CZelSession::releaseFromCallback(bool fromWorker)
{
    if (!fromWorker) {
        release();
        return;
    }
    // The login worker must not destroy the object that owns it: when its reference
    // is the last one, another thread lets go, after the worker has ended.
    int32_t count = m_refCount.load(std::memory_order_relaxed);
    while (count > 1) {
        if (m_refCount.compare_exchange_weak(count, count - 1, std::memory_order_acq_rel, std::memory_order_relaxed))
            return;
    }
    try {
        std::thread([this] { release(); }).detach();
    } catch (...) {
        // No thread to let go on: keeping the object is safer than destroying it
        // under the running worker.
    }
}

// ---- the public operations ----

IZelLoginRules* CZelSession::getLoginRules()
{
    return nullptr;
}

int CZelSession::login(const char* user, const char* password, const char* url, const char* connection)
{
    const int status = m_communicator->getStatus();
    if (status != Status::Disconnected)
        return status;
    return m_communicator->login(user, password, url, connection);
}

void CZelSession::logout()
{
    const int status = m_communicator->getStatus();
    if (status == Status::Disconnected || status == Status::SessionLost)
        return;
    // Nothing to close before the trade session has opened: there is no protocol
    // provider (and so no request factory) until then.
    if (!hasProtocolProvider())
        return;
    RefPtr<CZelSession> self(this);
    m_communicator->logout();
}

void CZelSession::subscribeSessionStatus(IZelSessionStatus* listener)
{
    m_communicator->subscribeSessionStatus(listener);
}

void CZelSession::unsubscribeSessionStatus(IZelSessionStatus* listener)
{
    m_communicator->unsubscribeSessionStatus(listener);
}

IZelSessionDescriptorCollection* CZelSession::getTradingSessionDescriptors()
{
    return m_communicator->getTradingSessionDescriptors();
}

void CZelSession::setTradingSession(const char* sessionID, const char* pin)
{
    m_communicator->setTradingSession(sessionID, pin);
}

void CZelSession::subscribeResponse(IZelResponseListener* listener)
{
    m_communicator->subscribeResponse(listener);
}

void CZelSession::unsubscribeResponse(IZelResponseListener* listener)
{
    m_communicator->unsubscribeResponse(listener);
}

IZelRequestFactory* CZelSession::getRequestFactory()
{
    return nullptr;
}

IZelResponseReaderFactory* CZelSession::getResponseReaderFactory()
{
    return nullptr;
}

void CZelSession::sendRequest(IZelRequest* /*request*/)
{
    // Requests go out only through a protocol provider, which the trade desk
    // brings; without one they are ignored.
}

IZelTimeConverter* CZelSession::getTimeConverter()
{
    return m_timeConverter.share();
}

void CZelSession::setPriceUpdateMode(ZelPriceUpdateMode mode)
{
    m_communicator->setPriceUpdateMode(mode);
}

ZelPriceUpdateMode CZelSession::getPriceUpdateMode()
{
    return m_communicator->getPriceUpdateMode();
}

double CZelSession::getServerTime()
{
    return m_serverTime.load(std::memory_order_acquire);
}

int CZelSession::getReportURL(char*, int, IZelAccountRow*, double, double, const char*, const char*, const char*,
                              long)
{
    return -3;  // no trade desk
}

IZelTableManager* CZelSession::getTableManager()
{
    if (m_mode.load() == ZelTableManagerMode::NoTableManager)
        return nullptr;
    return tablesManager().detach();
}

void CZelSession::useTableManager(ZelTableManagerMode mode)
{
    if (m_communicator->getStatus() != Status::Disconnected)
        return;
    m_mode.store(mode);
    if (RefPtr<TablesManager> manager = tablesManager()) {
        manager->setSession(this);
        manager->setTableManagerMode(mode);
    }
}

void CZelSession::setTablesManager(TablesManager* manager)
{
    RefPtr<TablesManager> held(manager);
    {
        LockGuard<Mutex> lock(m_tablesMutex);
        std::swap(m_tablesManager, held);
    }
    if (held)
        held->setSession(nullptr);
    if (manager != nullptr) {
        manager->setSession(this);
        manager->setTableManagerMode(m_mode.load());
    }
}

RefPtr<TablesManager> CZelSession::tablesManager() const
{
    LockGuard<Mutex> lock(m_tablesMutex);
    return m_tablesManager;
}

void CZelSession::setServerTime(double serial)
{
    m_serverTime.store(serial, std::memory_order_release);
}

void CZelSession::subscribeMessageListenerAsFirst(IZelResponseListener* listener)
{
    m_communicator->subscribeMessageResponseAsFirst(listener);
}

// ---- turning points ----

int CZelSession::onSessionOpened(merrow::IUserSession*)
{
    return 0;
}

int CZelSession::onSessionClosed(merrow::IUserSession*)
{
    return 0;
}

int CZelSession::onPriceFeedSessionOpened(merrow::IUserSession*)
{
    return 0;
}

int CZelSession::onReconnected(merrow::IUserSession*)
{
    return 0;
}

void CZelSession::connectToPriceFeedServer(const std::string&) {}

bool CZelSession::hasProtocolProvider() const
{
    return false;
}

// ---- server time ----

void CZelSession::ServerTimeListener::onTablesUpdates(IZelResponse* response)
{
    auto* text = dynamic_cast<Response*>(response);
    if (!text)
        return;
    const char* payload = text->getResponse();
    const char* sep = std::strchr(payload, ';');
    if (!sep)
        return;
    char stamp[33] = {0};
    size_t n = 0;
    for (const char* p = sep + 1; *p && *p != ';' && n < 32; ++p)
        stamp[n++] = *p;
    const double serial = TimeUtils::parseQORADasMessageTimeStamp(stamp).getSerial();
    // An unreadable stamp would turn the clock back to "no time yet"; keep the last.
    if (serial == 0.0)
        return;
    LockGuard<Mutex> lock(m_mutex);
    if (m_session)
        m_session->setServerTime(serial);
}

void CZelSession::ServerTimeListener::detach()
{
    LockGuard<Mutex> lock(m_mutex);
    m_session = nullptr;
}

} // namespace zel
