#include "core/session/server_communicator.h"

#include <algorithm>

#include "core/requests/message_builder.h"
#include "core/requests/zel_const.h"
#include "core/session/app_callback.h"
#include "merrow/connection_manager.h"
#include "merrow/fix_defs.h"

namespace zel {

namespace {

using Status = IZelSessionStatus;

// The identifiers an answer may name: a batch is answered leaf by leaf.
void collectLeafIDs(IZelRequest* request, std::vector<std::string>& ids, int depth = 0)
{
    if (!request || depth > 64)
        return;
    const int children = request->getChildrenCount();
    if (children == 0) {
        if (*request->getRequestID())
            ids.emplace_back(request->getRequestID());
        return;
    }
    for (int i = 0; i < children; ++i) {
        RefPtr<IZelRequest> child = adoptRef(request->getChildRequest(i));
        collectLeafIDs(child.get(), ids, depth + 1);
    }
}

constexpr const char* kNotSent = "The request could not be sent: the connection to the server is not open.";

} // namespace

ServerCommunicator::OwnerHold::OwnerHold(ServerCommunicator& c, bool fromWorker)
    : m_c(c), m_held(true), m_retained(false), m_fromWorker(fromWorker)
{
    if (m_c.m_callbacks.retainOwner) {
        m_retained = m_c.m_callbacks.retainOwner();
        m_held = m_retained;
    }
}

ServerCommunicator::OwnerHold::~OwnerHold()
{
    if (m_retained && m_c.m_callbacks.releaseOwner)
        m_c.m_callbacks.releaseOwner(m_fromWorker);
}

ServerCommunicator::ServerCommunicator(Callbacks callbacks, IUserSessionFactory& factory)
    : m_callbacks(std::move(callbacks)),
      m_factory(factory),
      m_messageListener(adoptRef(new CMessageListener())),
      m_statusListener(adoptRef(new CStatusListener(this))),
      m_preEventListener(adoptRef(new PreEventResponseListener()))
{
    m_messageListener->listeners().add(m_preEventListener.get());
}

ServerCommunicator::~ServerCommunicator()
{
    {
        // An application that lets the session go wants no more notices from it.
        std::lock_guard<std::mutex> lock(m_notifierMutex);
        m_notifierStop = true;
        m_notifierQueue.clear();
    }
    // Workers first: they call into this object.
    std::unique_ptr<LoginJob> job;
    std::vector<std::unique_ptr<LoginJob>> retired;
    {
        LockGuard<Mutex> lock(m_jobMutex);
        job = std::move(m_loginJob);
        retired.swap(m_retiredJobs);
    }
    if (job)
        retired.push_back(std::move(job));
    std::vector<std::unique_ptr<PriceFeedLoginJob>> priceJobs;
    {
        LockGuard<Mutex> lock(m_jobMutex);
        priceJobs.swap(m_retiredPriceJobs);
        if (m_priceJob)
            priceJobs.push_back(std::move(m_priceJob));
    }
    for (std::unique_ptr<LoginJob>& j : retired) {
        // A job cannot join itself; its owner never lets that happen, and should it
        // ever, a leaked job is better than a terminated process.
        if (j->isOnThisThread())
            (void)j.release();
        else
            j.reset();
    }
    for (std::unique_ptr<PriceFeedLoginJob>& j : priceJobs) {
        if (j->isOnThisThread())
            (void)j.release();
        else
            j.reset();
    }
    closeSession(true);
    m_messageListener->listeners().remove(m_preEventListener.get());
    m_statusListener->detach();
    {
        std::lock_guard<std::mutex> lock(m_notifierMutex);
        m_notifierStop = true;
    }
    m_notifierWake.notify_all();
    if (m_notifier.joinable()) {
        if (m_notifier.get_id() == std::this_thread::get_id())
            m_notifier.detach();
        else
            m_notifier.join();
    }
    LockGuard<Mutex> lock(m_statusMutex);
    m_status = Status::Disconnected;
}

void ServerCommunicator::post(std::function<void()> call)
{
    std::lock_guard<std::mutex> lock(m_notifierMutex);
    if (m_notifierStop)
        return;
    m_notifierQueue.push_back(std::move(call));
    if (!m_notifier.joinable()) {
        try {
            m_notifier = std::thread([this] { notifierLoop(); });
        } catch (...) {
            m_notifierQueue.clear();  // nowhere to tell it: dropped rather than told in the sender's locks
            return;
        }
    }
    m_notifierWake.notify_one();
}

void ServerCommunicator::notifierLoop()
{
    std::unique_lock<std::mutex> lock(m_notifierMutex);
    for (;;) {
        m_notifierWake.wait(lock, [this] { return m_notifierStop || !m_notifierQueue.empty(); });
        if (m_notifierQueue.empty())
            return;  // stopping, nothing left to tell
        std::function<void()> call = std::move(m_notifierQueue.front());
        m_notifierQueue.pop_front();
        lock.unlock();
        callApplication(call);
        lock.lock();
    }
}

void ServerCommunicator::setPriceUpdateMode(ZelPriceUpdateMode mode)
{
    LockGuard<Mutex> lock(m_priceModeMutex);
    m_priceUpdateMode = mode;
}

ZelPriceUpdateMode ServerCommunicator::getPriceUpdateMode() const
{
    LockGuard<Mutex> lock(m_priceModeMutex);
    return m_priceUpdateMode;
}

// ---- login ----

int ServerCommunicator::login(const char* user, const char* password, const char* url, const char* connection)
{
    RefPtr<LoginData> data = adoptRef(new LoginData(user, url, password, connection,
                                                    ZelConst::TRADER_LOGIN_EXTRA_COMMAND));
    std::vector<std::unique_ptr<LoginJob>> finished;
    bool started = false;
    {
        // The running login's data stay until it ends: a second login in its
        // start-up window changes nothing.
        LockGuard<Mutex> lock(m_jobMutex);
        if (m_loginActive)
            return Status::Connecting;
        if (m_loginJob)
            m_retiredJobs.push_back(std::move(m_loginJob));
        reapJobs(finished);
        {
            LockGuard<Mutex> dataLock(m_dataMutex);
            m_loginData = data;
            m_connection = data->getConnection();
            m_loginUrl = data->getUrl();
        }
        const bool retained = m_callbacks.retainOwner ? m_callbacks.retainOwner() : false;
        m_loginJob = std::make_unique<LoginJob>(data.get(), this, retained);
        m_loginActive = true;
        started = m_loginJob->run();
        if (!started) {
            m_loginActive = false;
            m_loginJob.reset();
            LockGuard<Mutex> dataLock(m_dataMutex);
            if (m_loginData.get() == data.get())
                m_loginData = nullptr;
            if (retained && m_callbacks.releaseOwner)
                m_callbacks.releaseOwner(false);
        }
    }
    finished.clear();  // joined outside the lock
    return started ? 1 : 0;
}

void ServerCommunicator::reapJobs(std::vector<std::unique_ptr<LoginJob>>& finished)
{
    auto keep = std::stable_partition(m_retiredJobs.begin(), m_retiredJobs.end(),
                                      [](const std::unique_ptr<LoginJob>& j) { return j->isOnThisThread(); });
    for (auto it = keep; it != m_retiredJobs.end(); ++it)
        finished.push_back(std::move(*it));
    m_retiredJobs.erase(keep, m_retiredJobs.end());
}

bool ServerCommunicator::isLoginActive() const
{
    LockGuard<Mutex> lock(m_jobMutex);
    return m_loginActive;
}

void ServerCommunicator::loginEnded(const LoginJob* job, bool ownerRetained)
{
    {
        // An older worker ending late must not clear the flag of the current one.
        LockGuard<Mutex> lock(m_jobMutex);
        if (m_loginJob.get() == job)
            m_loginActive = false;
    }
    if (ownerRetained && m_callbacks.releaseOwner)
        m_callbacks.releaseOwner(true);
}

void ServerCommunicator::onLoginFailed(const char* text)
{
    {
        LockGuard<Mutex> lock(m_jobMutex);
        m_loginActive = false;
    }
    LockGuard<RecursiveMutex> lock(m_listenerMutex);
    std::vector<RefPtr<IZelSessionStatus>> listeners = m_statusListeners;
    for (const RefPtr<IZelSessionStatus>& l : listeners)
        callApplication([&] { l->onLoginFailed(text ? text : ""); });
    clearSessionData();
    setStatus(Status::Disconnected);
}

void ServerCommunicator::failLogin(const std::string& text)
{
    LockGuard<RecursiveMutex> lock(m_listenerMutex);
    const int status = getStatus();
    if (status == Status::Disconnected || status == Status::Disconnecting)
        return;  // already ended: a logout or a loss came first
    std::vector<RefPtr<IZelSessionStatus>> listeners = m_statusListeners;
    for (const RefPtr<IZelSessionStatus>& l : listeners)
        callApplication([&] { l->onLoginFailed(text.c_str()); });
    closeSession(true);
    setStatus(Status::Disconnected);
}

void ServerCommunicator::onTradeSessionDescReceived(const merrow::TradingSessionDesc* const* descriptions)
{
    RefPtr<CZelSessionDescriptorCollection> collection =
        adoptRef(CZelSessionDescriptorCollectionFactory::create(descriptions));
    RefPtr<LoginData> data;
    {
        LockGuard<Mutex> lock(m_dataMutex);
        m_descriptors = collection;
        data = m_loginData;
    }
    if (collection->size() == 1) {
        RefPtr<IZelSessionDescriptor> only = adoptRef(collection->get(0));
        if (!only->requiresPin()) {
            if (data)
                data->setExtendedData(only->getID(), "");
            return;
        }
    }
    setStatus(Status::TradingSessionRequested);
}

void ServerCommunicator::onSessionOpened(merrow::IUserSession* session)
{
    // Flags first: a reconnect reported once the session is published is kept.
    m_statusListener->resetFlags();
    merrow::IUserSession* previous = nullptr;
    RefPtr<InitMessageListener> previousInit;
    {
        LockGuard<Mutex> lock(m_sessionMutex);
        previous = std::exchange(m_tradeSession, session);
        previousInit = std::move(m_initListener);
        m_priceServerName.clear();
        m_mainSubscribed = false;
    }
    if (previous && previous != session) {
        // Never orphaned: a session still held from before is closed.
        if (previousInit)
            previous->unsubscribe(static_cast<merrow::IUserMessageListener*>(previousInit.get()));
        closeUserSession(previous, true);
    }
    {
        LockGuard<Mutex> lock(m_jobMutex);
        m_loginActive = false;
    }
    int opened = 0;
    try {
        opened = m_callbacks.sessionOpened ? m_callbacks.sessionOpened(session) : 0;
        if (getPriceUpdateMode() == ZelPriceUpdateMode::NoPrice)
            session->setMessageFilter(merrow::IFixDefs::CHANNEL_MARKET_DATA);
    } catch (const std::exception& e) {
        failLogin(*e.what() ? e.what() : "Login failed.");
        return;
    } catch (...) {
        failLogin("Login failed.");
        return;
    }
    if (opened == 1)
        setStatus(Status::Connected);
}

// ---- closing ----

void ServerCommunicator::closeUserSession(merrow::IUserSession* session, bool trade)
{
    if (trade)
        session->setClosing(1);
    session->unsubscribe(static_cast<merrow::IUserMessageListener*>(m_messageListener.get()));
    session->logout();
    session->unsubscribe(static_cast<merrow::IUserSessionStatusListener*>(m_statusListener.get()));
    m_factory.freeUserSession(session);
}

void ServerCommunicator::closePriceSession()
{
    merrow::IUserSession* price = nullptr;
    {
        LockGuard<Mutex> lock(m_sessionMutex);
        price = std::exchange(m_priceSession, nullptr);
    }
    if (price)
        closeUserSession(price, false);
}

void ServerCommunicator::closeSession(bool closeTrade)
{
    closePriceSession();
    merrow::IUserSession* trade = getTradeSession();
    if (m_callbacks.sessionClosed)
        m_callbacks.sessionClosed(trade);
    if (closeTrade) {
        RefPtr<InitMessageListener> init;
        {
            LockGuard<Mutex> lock(m_sessionMutex);
            trade = std::exchange(m_tradeSession, nullptr);
            m_priceServerName.clear();
            init = std::move(m_initListener);
        }
        {
            LockGuard<Mutex> lock(m_sessionMutex);
            m_mainSubscribed = false;
        }
        if (trade) {
            if (init)
                trade->unsubscribe(static_cast<merrow::IUserMessageListener*>(init.get()));
            closeUserSession(trade, true);
        }
        // No answer can come any more: each request still waiting hears it once.
        failPending(m_messageListener->requests(), kConnectionClosed, false);
        if (init)
            init->requests().takeAll();
    }
    clearSessionData();
}

void ServerCommunicator::failPending(Requests& registry, const char* text, bool)
{
    std::vector<std::string> ids = registry.takeAll();
    if (ids.empty())
        return;
    RefPtr<CMessageListener> main = m_messageListener;
    const std::string message = text;
    post([main, ids, message] {
        for (const std::string& id : ids) {
            for (const RefPtr<IZelResponseListener>& l : main->listeners().getCopy())
                callApplication([&] { l->onRequestFailed(id.c_str(), message.c_str()); });
        }
    });
}

void ServerCommunicator::clearSessionData()
{
    RefPtr<CZelSessionDescriptorCollection> descriptors;
    RefPtr<LoginData> data;
    LockGuard<Mutex> lock(m_dataMutex);
    descriptors = std::move(m_descriptors);
    data = std::move(m_loginData);
}

void ServerCommunicator::logout()
{
    LockGuard<RecursiveMutex> lock(m_listenerMutex);
    const int status = getStatus();
    // Disconnecting already means the sessions are being closed.
    if (status == Status::Disconnected || status == Status::Disconnecting || status == Status::SessionLost)
        return;
    setStatus(Status::Disconnecting);
    closeSession(true);
    setStatus(Status::Disconnected);
}

// ---- status ----

void ServerCommunicator::subscribeSessionStatus(IZelSessionStatus* listener)
{
    if (!listener)
        return;
    LockGuard<RecursiveMutex> lock(m_listenerMutex);
    for (const RefPtr<IZelSessionStatus>& l : m_statusListeners) {
        if (l.get() == listener)
            return;
    }
    m_statusListeners.emplace_back(listener);
}

void ServerCommunicator::unsubscribeSessionStatus(IZelSessionStatus* listener)
{
    RefPtr<IZelSessionStatus> removed;
    LockGuard<RecursiveMutex> lock(m_listenerMutex);
    for (auto it = m_statusListeners.begin(); it != m_statusListeners.end(); ++it) {
        if (it->get() == listener) {
            removed = std::move(*it);
            m_statusListeners.erase(it);
            return;
        }
    }
}

int ServerCommunicator::getStatus() const
{
    LockGuard<Mutex> lock(m_statusMutex);
    return m_status;
}

void ServerCommunicator::notifyStatus(int status)
{
    {
        LockGuard<Mutex> lock(m_statusMutex);
        m_status = status;
    }
    // A status set from inside a listener waits until every listener has heard
    // the current one: each hears every status once, in the order set.
    m_pendingStatuses.push_back(status);
    if (m_notifying)
        return;
    m_notifying = true;
    while (!m_pendingStatuses.empty()) {
        const int next = m_pendingStatuses.front();
        m_pendingStatuses.pop_front();
        // A copy: listeners may subscribe and unsubscribe from inside.
        std::vector<RefPtr<IZelSessionStatus>> listeners = m_statusListeners;
        const auto value = static_cast<IZelSessionStatus::ZelSessionStatus>(next);
        for (const RefPtr<IZelSessionStatus>& l : listeners)
            callApplication([&] { l->onSessionStatusChanged(value); });
    }
    m_notifying = false;
}

void ServerCommunicator::setStatus(int status)
{
    // Held across storing and telling, so listeners hear the statuses in the order
    // they were set, and SessionLost is followed by Disconnected with nothing between.
    LockGuard<RecursiveMutex> lock(m_listenerMutex);
    if (status == Status::SessionLost) {
        notifyStatus(Status::SessionLost);
        closeSession(true);
        notifyStatus(Status::Disconnected);
        return;
    }
    // Decided by the subscription itself, not by the old status: a reconnect
    // before the first Connected must still hand the session to the main listener.
    if (status == Status::Connected)
        switchToMainListener();
    notifyStatus(status);
}

void ServerCommunicator::setStatusOfSession(merrow::IUserSession* session, int status)
{
    LockGuard<RecursiveMutex> lock(m_listenerMutex);
    if (!isTradeSession(session) && !isPriceSession(session))
        return;  // closed meanwhile (a logout or a loss won the race)
    const int current = getStatus();
    if (current == Status::Disconnected || current == Status::Disconnecting)
        return;
    setStatus(status);
}

void ServerCommunicator::switchToMainListener()
{
    merrow::IUserSession* trade = nullptr;
    RefPtr<InitMessageListener> init;
    {
        LockGuard<Mutex> lock(m_sessionMutex);
        trade = m_tradeSession;
        if (!trade || m_mainSubscribed)
            return;
        init = std::move(m_initListener);
        if (init)
            trade->unsubscribe(static_cast<merrow::IUserMessageListener*>(init.get()));
    }
    // Updates pushed while the initialization listened reach the main dispatch
    // first, in order, before anything the main listener receives.
    if (init) {
        for (const RefPtr<IZelResponse>& kept : init->takeKept()) {
            for (const RefPtr<IZelResponseListener>& l : m_messageListener->listeners().getCopy())
                callApplication([&] { l->onTablesUpdates(kept.get()); });
        }
    }
    LockGuard<Mutex> lock(m_sessionMutex);
    if (m_tradeSession != trade || m_mainSubscribed)
        return;
    trade->subscribe(static_cast<merrow::IUserMessageListener*>(m_messageListener.get()));
    m_mainSubscribed = true;
}

bool ServerCommunicator::isTradeSession(merrow::IUserSession* session) const
{
    LockGuard<Mutex> lock(m_sessionMutex);
    return session && session == m_tradeSession;
}

bool ServerCommunicator::isPriceSession(merrow::IUserSession* session) const
{
    LockGuard<Mutex> lock(m_sessionMutex);
    return session && session == m_priceSession;
}

void ServerCommunicator::onReconnected(merrow::IUserSession* session)
{
    // 0: no trade desk yet (the initialization still runs and sets Connected).
    const int ready = m_callbacks.reconnected ? m_callbacks.reconnected(session) : 1;
    if (ready == 0)
        return;
    const std::string priceServer = getPriceServerName();
    if (!priceServer.empty()) {
        // Reconnecting stays until the price session opens again.
        if (m_callbacks.connectToPriceFeedServer)
            m_callbacks.connectToPriceFeedServer(priceServer);
    } else {
        setStatus(Status::Connected);
    }
}

void ServerCommunicator::connectToPriceFeedServer(const std::string& name)
{
    if (!name.empty())
        setPriceServerName(name);
    PriceFeedLoginData data;
    {
        LockGuard<Mutex> lock(m_sessionMutex);
        if (!m_tradeSession)
            return;
        m_tradeSession->setMessageFilter(merrow::IFixDefs::CHANNEL_MARKET_DATA);
        data.sessionID = m_tradeSession->getSessionID() ? m_tradeSession->getSessionID() : "";
        const merrow::TradingSessionDesc* desc = m_tradeSession->getTradingSession();
        data.subID = desc && desc->getSubID() ? desc->getSubID() : "";
        data.traderID = std::to_string(m_tradeSession->getTraderID());
        data.priceServer = m_priceServerName;
    }
    data.url = getLoginUrl();
    std::vector<std::unique_ptr<PriceFeedLoginJob>> finished;
    {
        LockGuard<Mutex> lock(m_jobMutex);
        if (m_priceJob)
            m_retiredPriceJobs.push_back(std::move(m_priceJob));
        auto keep = std::stable_partition(m_retiredPriceJobs.begin(), m_retiredPriceJobs.end(),
                                          [](const std::unique_ptr<PriceFeedLoginJob>& j) { return j->isOnThisThread(); });
        for (auto it = keep; it != m_retiredPriceJobs.end(); ++it)
            finished.push_back(std::move(*it));
        m_retiredPriceJobs.erase(keep, m_retiredPriceJobs.end());
        m_priceJob = std::make_unique<PriceFeedLoginJob>(std::move(data), this);
        if (!m_priceJob->run())
            m_priceJob.reset();
    }
    // Joined outside the lock; a retired job ends quickly (it only logs in).
    finished.clear();
}

void ServerCommunicator::onPriceFeedSessionOpened(merrow::IUserSession* session)
{
    {
        LockGuard<Mutex> lock(m_sessionMutex);
        if (!m_tradeSession) {
            // The trade session closed while the price session opened: nothing to join.
            session->unsubscribe(static_cast<merrow::IUserSessionStatusListener*>(m_statusListener.get()));
            session->logout();
            m_factory.freeUserSession(session);
            return;
        }
        m_priceSession = session;
    }
    if (m_callbacks.priceFeedSessionOpened)
        m_callbacks.priceFeedSessionOpened(session);
    {
        LockGuard<RecursiveMutex> lock(m_listenerMutex);
        const int status = getStatus();
        if (status != Status::Disconnected && status != Status::Disconnecting)
            setStatus(Status::Connected);
    }
    session->subscribe(static_cast<merrow::IUserMessageListener*>(m_messageListener.get()));
}

void ServerCommunicator::onPriceFeedLoginFailed(const std::string& text)
{
    // The trade session closes too, so Disconnected means disconnected.
    failLogin(text);
}

std::string ServerCommunicator::getLoginUrl() const
{
    LockGuard<Mutex> lock(m_dataMutex);
    return m_loginUrl;
}

void ServerCommunicator::reconnectTradeSession()
{
    LockGuard<Mutex> lock(m_sessionMutex);
    if (m_tradeSession)
        m_tradeSession->reconnect();
}

// ---- requests ----

void ServerCommunicator::sendRequest(IZelRequest* request)
{
    if (!request)
        return;
    RefPtr<IZelRequest> hold(request);
    bool sent = false;
    std::vector<std::string> ids;
    RefPtr<IZelResponseListener> initListener;
    {
        LockGuard<Mutex> lock(m_sessionMutex);
        if (!m_tradeSession)
            return;
        merrow::IMessage* message = IMessageBuilder::create(request, m_tradeSession);
        if (!message)
            return;
        if (*request->getRequestID() || request->getChildrenCount() > 0) {
            Requests& registry = m_initListener ? m_initListener->requests() : m_messageListener->requests();
            registry.add(request);
        }
        sent = m_tradeSession->send(message) != 0;
        merrow::ConnectionManagerEx::freeObject(message);
        if (!sent) {
            // Taken back out of the registry: no answer will ever come for it.
            collectLeafIDs(request, ids);
            Requests& registry = m_initListener ? m_initListener->requests() : m_messageListener->requests();
            if (m_initListener)
                initListener = RefPtr<IZelResponseListener>(m_initListener->listener());
            for (std::string& id : ids) {
                RefPtr<IZelRequest> pending = adoptRef(registry.findAndRemove(id.c_str()));
                if (!pending)
                    id.clear();
            }
        }
    }
    if (sent)
        return;
    // Told on the notifier thread, never inside the sender's own locks, and to the
    // listeners that wait for the answer (the initialization's, while it runs).
    RefPtr<CMessageListener> main = m_messageListener;
    post([main, initListener, ids] {
        for (const std::string& id : ids) {
            if (id.empty())
                continue;
            if (initListener) {
                callApplication([&] { initListener->onRequestFailed(id.c_str(), kNotSent); });
                continue;
            }
            for (const RefPtr<IZelResponseListener>& l : main->listeners().getCopy())
                callApplication([&] { l->onRequestFailed(id.c_str(), kNotSent); });
        }
    });
}

void ServerCommunicator::subscribeResponse(IZelResponseListener* listener)
{
    m_messageListener->listeners().add(listener);
}

void ServerCommunicator::subscribeMessageResponseAsFirst(IZelResponseListener* listener)
{
    m_messageListener->listeners().addFirst(listener);
}

void ServerCommunicator::unsubscribeResponse(IZelResponseListener* listener)
{
    m_messageListener->listeners().remove(listener);
}

void ServerCommunicator::subscribeInitResponse(IZelResponseListener* listener)
{
    LockGuard<Mutex> lock(m_sessionMutex);
    if (!m_tradeSession || m_initListener || !listener)
        return;
    m_initListener = adoptRef(new InitMessageListener(listener));
    m_tradeSession->subscribe(static_cast<merrow::IUserMessageListener*>(m_initListener.get()));
}

bool ServerCommunicator::hasInitListener() const
{
    LockGuard<Mutex> lock(m_sessionMutex);
    return static_cast<bool>(m_initListener);
}

void ServerCommunicator::setTablesManager(TablesManager* manager)
{
    m_preEventListener->setTablesManager(manager);
}

void ServerCommunicator::setNothingFieldValue(const char* value)
{
    m_preEventListener->setNothingFieldValue(value);
}

// ---- descriptors and identity ----

IZelSessionDescriptorCollection* ServerCommunicator::getTradingSessionDescriptors() const
{
    LockGuard<Mutex> lock(m_dataMutex);
    return m_descriptors.share();
}

void ServerCommunicator::setTradingSession(const char* sessionID, const char* pin)
{
    RefPtr<LoginData> data;
    {
        LockGuard<Mutex> lock(m_dataMutex);
        data = m_loginData;
    }
    if (data)
        data->setExtendedData(sessionID, pin);
}

merrow::IUserSession* ServerCommunicator::getTradeSession() const
{
    LockGuard<Mutex> lock(m_sessionMutex);
    return m_tradeSession;
}

merrow::IUserSession* ServerCommunicator::getPriceSession() const
{
    LockGuard<Mutex> lock(m_sessionMutex);
    return m_priceSession;
}

void ServerCommunicator::setPriceSession(merrow::IUserSession* session)
{
    LockGuard<Mutex> lock(m_sessionMutex);
    m_priceSession = session;
}

std::string ServerCommunicator::getConnection() const
{
    LockGuard<Mutex> lock(m_dataMutex);
    return m_connection;
}

std::string ServerCommunicator::getSessionSubID() const
{
    LockGuard<Mutex> lock(m_sessionMutex);
    if (!m_tradeSession)
        return std::string();
    const merrow::TradingSessionDesc* desc = m_tradeSession->getTradingSession();
    return desc ? desc->getSubID() : std::string();
}

void ServerCommunicator::setPriceServerName(const std::string& name)
{
    LockGuard<Mutex> lock(m_sessionMutex);
    m_priceServerName = name;
}

std::string ServerCommunicator::getPriceServerName() const
{
    LockGuard<Mutex> lock(m_sessionMutex);
    return m_priceServerName;
}

} // namespace zel
