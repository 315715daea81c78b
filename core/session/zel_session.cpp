#include "core/session/zel_session.h"

#include <sys/time.h>

#include <cstring>
#include <thread>
#include <utility>

#include "vorntool/date.h"
#include "core/responses/response_reader_factory.h"
#include "core/messages/time_utils.h"
#include "core/requests/zel_const.h"
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
    m_guard = std::make_shared<Guard>();
    m_guard->session = this;
    m_communicator = std::make_unique<ServerCommunicator>(std::move(callbacks), factory);
    m_timeConverter = adoptRef(new TimeConverter());
    transportLogOff();
    m_serverTimeListener = adoptRef(new ServerTimeListener(this));
    subscribeMessageListenerAsFirst(m_serverTimeListener.get());
}

CZelSession::~CZelSession()
{
    {
        std::lock_guard<std::mutex> lock(m_guard->mutex);
        m_guard->session = nullptr;
    }
    setTablesManager(nullptr);
    m_serverTimeListener->detach();
    m_communicator->unsubscribeResponse(m_serverTimeListener.get());
    // The communicator goes first: its workers and listeners call back into us, and
    // its closing calls onSessionClosed, which still reaches it through the pointer.
    delete m_communicator.get();
    (void)m_communicator.release();
    std::shared_ptr<TradeDeskInitializer> initializer;
    {
        LockGuard<Mutex> lock(m_deskMutex);
        initializer = std::move(m_initializer);
        m_loginRules = nullptr;
        m_tradeDesk = nullptr;
        m_provider.reset();
    }
    initializer.reset();
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
    LockGuard<Mutex> lock(m_deskMutex);
    return m_loginRules.share();
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
    const int status = m_communicator->getStatus();
    if (status != Status::Connected && status != Status::PriceSessionReconnecting)
        return nullptr;
    LockGuard<Mutex> lock(m_deskMutex);
    return m_provider ? m_provider->getRequestFactory() : nullptr;
}

IZelResponseReaderFactory* CZelSession::getResponseReaderFactory()
{
    if (m_communicator->getStatus() != Status::Connected)
        return nullptr;
    LockGuard<Mutex> lock(m_deskMutex);
    return m_provider ? m_provider->getResponseReaderFactory() : nullptr;
}

IZelResponseReaderFactory* CZelSession::updatesReaderFactory()
{
    LockGuard<Mutex> lock(m_deskMutex);
    return m_provider ? m_provider->getResponseReaderFactory() : nullptr;
}

void CZelSession::sendRequest(IZelRequest* request)
{
    if (!request || m_communicator->getStatus() != Status::Connected || !hasProtocolProvider())
        return;
    m_communicator->sendRequest(request);
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

namespace {

// Every value appended to the report address is percent-encoded (RFC 3986
// unreserved characters stay), so a value holding "&", "#" or a blank can neither
// add nor change a query key.
void appendEncoded(std::string& out, const char* value)
{
    static const char kHex[] = "0123456789ABCDEF";
    for (const unsigned char* p = reinterpret_cast<const unsigned char*>(value ? value : ""); *p; ++p) {
        const unsigned char c = *p;
        if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '.' ||
            c == '_' || c == '~') {
            out += static_cast<char>(c);
        } else {
            out += '%';
            out += kHex[c >> 4];
            out += kHex[c & 15];
        }
    }
}

void appendDate(std::string& out, double serial)
{
    int y = 0, mo = 0, d = 0, h = 0, mi = 0, sec = 0;
    vorntool::date::split(serial, y, mo, d, h, mi, sec);
    out += std::to_string(mo) + "/" + std::to_string(d) + "/" + std::to_string(y);
}

} // namespace

int CZelSession::getReportURL(char* buffer, int size, IZelAccountRow* account, double from, double till,
                              const char* format, const char* reportName, const char* language, long codePage)
{
    RefPtr<TradeDesk> desk;
    {
        LockGuard<Mutex> lock(m_deskMutex);
        desk = m_tradeDesk;
    }
    if (!desk)
        return -3;
    if (till != 0 && till < from)
        std::swap(from, till);
    if (!desk->permissions()->isReportUrlAllowed())
        return -1;
    SystemProperties* properties = desk->properties();
    const char* base = properties->findProperty("TRADER_REPORTS_URL");
    if (!base)
        base = properties->findProperty("REPORTS_URL");
    if (!base)
        return -1;

    std::string url = base;
    url += std::strchr(base, '?') ? "&S=" : "?S=";
    {
        merrow::IUserSession* trade = m_communicator->getTradeSession();
        appendEncoded(url, trade ? trade->getSessionID() : nullptr);
    }
    url += "&cn=";
    const std::string subID = m_communicator->getSessionSubID();
    appendEncoded(url, subID.empty() ? m_communicator->getConnection().c_str() : subID.c_str());
    if (codePage >= 1 && codePage <= 2147483646L)
        url += "&cp=" + std::to_string(codePage);
    if (language && *language) {
        url += "&lc=";
        appendEncoded(url, language);
    }
    timeval now{};
    ::gettimeofday(&now, nullptr);
    // A cache breaker in 32-bit arithmetic: it wraps and may be negative.
    const uint32_t stamp = static_cast<uint32_t>(now.tv_sec) * 1000u + static_cast<uint32_t>(now.tv_usec / 1000);
    url += "&un=" + std::to_string(static_cast<int32_t>(stamp));
    url += "&outFormat=";
    appendEncoded(url, format && *format ? format : "html");
    if (account) {
        url += "&account=";
        appendEncoded(url, account->getAccountID());
    }
    url += "&from=";
    if (from == 0)
        url += "so";
    else
        appendDate(url, from);
    url += "&till=";
    if (till == 0)
        url += "now";
    else
        appendDate(url, till);
    url += "&report_name=";
    appendEncoded(url, reportName && *reportName ? reportName : "REPORT_NAME_CUSTOMER_ACCOUNT_STATEMENT");

    const int length = static_cast<int>(url.size());
    if (!buffer)
        return length + 1;
    if (length < size) {
        std::memcpy(buffer, url.c_str(), url.size() + 1);
        return length;
    }
    return -2;
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

RefPtr<CZelSession> CZelSession::alive(const std::weak_ptr<Guard>& guard)
{
    std::shared_ptr<Guard> g = guard.lock();
    if (!g)
        return {};
    std::lock_guard<std::mutex> lock(g->mutex);
    if (!g->session || !g->session->tryAddRef())
        return {};
    return adoptRef(g->session);
}

int CZelSession::onSessionOpened(merrow::IUserSession* session)
{
    std::shared_ptr<IProtocolProvider> provider = ProtocolProviderFactory::create(session);
    auto initializer = std::make_shared<TradeDeskInitializer>(provider);
    // The live tables exist before the answers load into them.
    std::weak_ptr<Guard> prepareGuard = m_guard;
    initializer->setPrepare([prepareGuard](TradeDesk* desk) {
        if (RefPtr<CZelSession> self = alive(prepareGuard))
            self->setTablesManager(desk->tables());
    });
    {
        LockGuard<Mutex> lock(m_deskMutex);
        m_provider = provider;
        m_initializer = initializer;
        m_tradeDesk = nullptr;
        m_loginRules = nullptr;
    }
    RefPtr<TradeDesk> desk = initializer->initFromSession(session, m_mode.load());
    if (desk) {
        const bool price = completeTradeDesk(session, desk, true, std::string());
        LockGuard<Mutex> lock(m_deskMutex);
        if (m_initializer == initializer)
            m_initializer.reset();
        return price ? 0 : 1;
    }
    std::weak_ptr<Guard> guard = m_guard;
    initializer->initWithSendRequest(
        *m_communicator, session->getUserKind(),
        [guard](bool success, RefPtr<TradeDesk> d, const std::string& text) {
            if (RefPtr<CZelSession> self = alive(guard))
                self->onTradeDeskInit(success, std::move(d), text);
        },
        TradeDeskInitializer::defaultTimeoutMs());
    return 0;
}

void CZelSession::onTradeDeskInit(bool success, RefPtr<TradeDesk> desk, const std::string& text)
{
    std::shared_ptr<TradeDeskInitializer> initializer;
    {
        LockGuard<Mutex> lock(m_deskMutex);
        initializer = m_initializer;
    }
    merrow::IUserSession* session = m_communicator->getTradeSession();
    if (!initializer || !session)
        return;  // the login ended meanwhile
    if (!success) {
        {
            LockGuard<Mutex> lock(m_deskMutex);
            if (m_initializer == initializer)
                m_initializer.reset();
        }
        m_communicator->failLogin(text);
        return;
    }
    const bool price = completeTradeDesk(session, desk, false, initializer->answerOf(3));
    {
        LockGuard<Mutex> lock(m_deskMutex);
        if (m_initializer == initializer)
            m_initializer.reset();
    }
    if (!price)
        m_communicator->setStatusOfSession(session, Status::Connected);
}

bool CZelSession::completeTradeDesk(merrow::IUserSession* session, const RefPtr<TradeDesk>& desk, bool direct,
                                    const std::string& propertiesAnswer)
{
    std::shared_ptr<IProtocolProvider> provider;
    {
        LockGuard<Mutex> lock(m_deskMutex);
        provider = m_provider;
        m_tradeDesk = desk;
    }
    if (!provider)
        return false;
    if (tablesManager().get() != desk->tables())
        setTablesManager(desk->tables());
    // The factories read through the trade desk's tables.
    RefPtr<ResponseReaderFactory> readers = adoptRef(provider->getResponseReaderFactory());
    if (readers)
        readers->setTableManager(desk->tables());
    m_communicator->setTablesManager(desk->tables());
    m_communicator->setNothingFieldValue(provider->getNothingFieldValue().c_str());
    // Everything an application reads at Connected exists before it is told.
    initLoginRules(session, desk.get(), direct, propertiesAnswer);
    configureServerZone(desk.get());
    return createPriceTerminal(desk.get());
}

void CZelSession::initLoginRules(merrow::IUserSession* session, TradeDesk* desk, bool direct,
                                 const std::string& propertiesAnswer)
{
    RefPtr<LoginRules> rules;
    if (direct) {
        rules = adoptRef(LoginRulesFactory::createLoginRules(session, {ZelTable::Offers, ZelTable::Accounts}));
    } else {
        // The waiting path asked for no tables; its rules hold the properties answer.
        rules = adoptRef(new LoginRules());
        if (!propertiesAnswer.empty())
            rules->add(new Response(ZelResponseType::SystemProperties, "", propertiesAnswer.c_str()));
    }
    PermissionChecker* checker = desk->permissions();
    RefPtr<IZelResponse> accounts = adoptRef(rules->getTableRefeshResponse(ZelTable::Accounts));
    RefPtr<IZelAccountsTableResponseReader> reader;
    if (accounts) {
        std::shared_ptr<IProtocolProvider> provider;
        {
            LockGuard<Mutex> lock(m_deskMutex);
            provider = m_provider;
        }
        RefPtr<ResponseReaderFactory> readers = provider ? adoptRef(provider->getResponseReaderFactory()) : nullptr;
        if (readers)
            reader = adoptRef(readers->createAccountsTableReader(accounts.get()));
    }
    checker->init(reader.get());
    rules->setPermissionChecker(desk->getPermissionChecker());
    desk->settings()->init();
    rules->setTradingSettingsProvider(desk->getTradingSettingsProvider());
    LockGuard<Mutex> lock(m_deskMutex);
    m_loginRules = rules;
}

void CZelSession::configureServerZone(TradeDesk* desk)
{
    SystemProperties* properties = desk->properties();
    const char* utc = properties->findProperty("SERVER_TIME_UTC");
    if (utc && std::strcmp(utc, "UTC") == 0)
        m_timeConverter->setServerTimeZone(nullptr);
    else
        m_timeConverter->setServerTimeZone(properties->findProperty("BASE_TIME_ZONE"));
}

bool CZelSession::createPriceTerminal(TradeDesk* desk)
{
    const char* terminal = desk->properties()->findProperty(ZelConst::PRICE_TERMINAL);
    if (!terminal || getPriceUpdateMode() != ZelPriceUpdateMode::Default)
        return false;
    m_communicator->connectToPriceFeedServer(terminal);
    return true;
}

int CZelSession::onSessionClosed(merrow::IUserSession*)
{
    std::shared_ptr<IProtocolProvider> provider;
    std::shared_ptr<TradeDeskInitializer> initializer;
    RefPtr<TradeDesk> desk;
    RefPtr<LoginRules> rules;
    {
        LockGuard<Mutex> lock(m_deskMutex);
        provider = std::move(m_provider);
        initializer = std::move(m_initializer);
        desk = std::move(m_tradeDesk);
        rules = std::move(m_loginRules);
    }
    if (provider) {
        RefPtr<RequestFactoryBase> requests = adoptRef(provider->getRequestFactory());
        if (requests)
            requests->resetSession();
    }
    m_communicator->setTablesManager(nullptr);
    setTablesManager(nullptr);
    return 0;
}

int CZelSession::onPriceFeedSessionOpened(merrow::IUserSession* price)
{
    const char* priceTransport = price ? price->getSessionProperty(ZelConst::TRANSPORT_PROVIDER_PROPERTY) : nullptr;
    merrow::IUserSession* trade = m_communicator->getTradeSession();
    std::shared_ptr<IProtocolProvider> provider;
    {
        LockGuard<Mutex> lock(m_deskMutex);
        provider = m_provider;
    }
    if (!trade || !provider)
        return 0;
    const char* tradeTransport = trade->getSessionProperty(ZelConst::TRANSPORT_PROVIDER_PROPERTY);
    if (std::string(priceTransport ? priceTransport : "") == std::string(tradeTransport ? tradeTransport : ""))
        return 0;  // the trade session's readers read the price session's messages too
    RefPtr<ResponseReaderFactory> priceReaders = adoptRef(ProtocolProviderFactory::createPriceResponseReader(priceTransport));
    RefPtr<ResponseReaderFactory> readers = adoptRef(provider->getResponseReaderFactory());
    if (readers)
        readers->setPriceReaderFactory(priceReaders.get());
    return 0;
}

int CZelSession::onReconnected(merrow::IUserSession* session)
{
    std::shared_ptr<IProtocolProvider> provider;
    RefPtr<TradeDesk> desk;
    {
        LockGuard<Mutex> lock(m_deskMutex);
        if (m_initializer)
            return 0;  // the initialization still runs; it sets Connected itself
        provider = m_provider;
        desk = m_tradeDesk;
    }
    if (!provider || !desk)
        return 0;
    TradeDeskInitializer reinit(provider);
    reinit.reinitFromSession(session, m_mode.load(), desk.get());
    return 1;
}

void CZelSession::connectToPriceFeedServer(const std::string& priceServer)
{
    m_communicator->connectToPriceFeedServer(priceServer);
}

bool CZelSession::hasProtocolProvider() const
{
    LockGuard<Mutex> lock(m_deskMutex);
    return static_cast<bool>(m_provider);
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
