#pragma once
// The session object behind IZelSession. It owns the communicator (and through it
// the messaging sessions, listeners and login worker), the time converter and the
// server-time listener, and — once the trade session has opened — what the login
// produces.
//
// Ownership: created by CZelTransport::createSession with one reference; the last
// release destroys it. The transport and the login worker hold it while they call
// into it (a retain that fails once destruction has begun), so the application may
// drop its last reference even inside one of the session's callbacks: the object
// then goes when that callback returns, and never on the login worker's own thread.
// [Threading] See zel/session.h. The table-manager mode and the server time are
// atomics; the rest is guarded inside the communicator.

#include <atomic>
#include <memory>
#include <mutex>

#include "core/base/mutex.h"
#include "core/base/ref_ptr.h"
#include "core/rules/time_converter.h"
#include "core/requests/protocol_provider.h"
#include "core/session/login_rules.h"
#include "core/session/server_communicator.h"
#include "core/session/trade_desk.h"
#include "core/session/trade_desk_initializer.h"
#include "core/tables/tables_manager.h"
#include "zel/session.h"

namespace zel {

class CZelSession : public IZelSession {
public:
    // factory: where messaging sessions come from (tests pass a fake).
    explicit CZelSession(IUserSessionFactory& factory = IUserSessionFactory::transport());

    long addRef() override;
    long release() override;
    // Adds a reference unless the count already reached 0 (destruction begun).
    bool tryAddRef();

    IZelLoginRules* getLoginRules() override;
    int login(const char* user, const char* password, const char* url, const char* connection) override;
    void logout() override;
    void subscribeSessionStatus(IZelSessionStatus* listener) override;
    void unsubscribeSessionStatus(IZelSessionStatus* listener) override;
    IZelSessionDescriptorCollection* getTradingSessionDescriptors() override;
    void setTradingSession(const char* sessionID, const char* pin) override;
    void subscribeResponse(IZelResponseListener* listener) override;
    void unsubscribeResponse(IZelResponseListener* listener) override;
    IZelRequestFactory* getRequestFactory() override;
    IZelResponseReaderFactory* getResponseReaderFactory() override;
    void sendRequest(IZelRequest* request) override;
    IZelTimeConverter* getTimeConverter() override;
    void setPriceUpdateMode(ZelPriceUpdateMode mode) override;
    ZelPriceUpdateMode getPriceUpdateMode() override;
    double getServerTime() override;
    int getReportURL(char* buffer, int size, IZelAccountRow* account, double from, double till, const char* format,
                     const char* reportName, const char* language, long codePage) override;
    IZelTableManager* getTableManager() override;
    void useTableManager(ZelTableManagerMode mode) override;

    // Internal operations.
    void setServerTime(double serial);
    // The provider's reader factory whatever the status, with a reference, or null:
    // updates resent while the session reconnects must still reach the live tables.
    IZelResponseReaderFactory* updatesReaderFactory();
    // Internal listeners that must see every message before the application's.
    void subscribeMessageListenerAsFirst(IZelResponseListener* listener);
    ServerCommunicator& communicator() { return *m_communicator; }
    ZelTableManagerMode getTableManagerMode() const { return m_mode.load(); }
    // The trade desk's table manager, set when the trade desk is made (null when it
    // goes): it gets this session and the stored mode.
    void setTablesManager(TablesManager* manager);
    RefPtr<TablesManager> tablesManager() const;

    // The server time is the timestamp every pushed update starts with.
    class ServerTimeListener : public TThreadSafeAddRefImpl<IZelResponseListener> {
    public:
        explicit ServerTimeListener(CZelSession* session) : m_session(session) {}
        void onRequestCompleted(const char*, IZelResponse*) override {}
        void onRequestFailed(const char*, const char*) override {}
        void onTablesUpdates(IZelResponse* response) override;
        // No more updates reach the session after this returns.
        void detach();

    protected:
        ~ServerTimeListener() override = default;

    private:
        Mutex m_mutex;
        CZelSession* m_session ZEL_GUARDED_BY(m_mutex);
    };

protected:
    ~CZelSession() override;

    // Turning points of a login; the trade desk, price feed and table manager build
    // on these. Until they exist the session opens no further than the trade
    // session: onSessionOpened answers 0, so the status stays Connecting.
    virtual int onSessionOpened(merrow::IUserSession* session);
    virtual int onSessionClosed(merrow::IUserSession* session);
    virtual int onPriceFeedSessionOpened(merrow::IUserSession* session);
    virtual int onReconnected(merrow::IUserSession* session);
    virtual void connectToPriceFeedServer(const std::string& priceServer);
    // The protocol provider (and with it the request factory) that the opened trade
    // session brings; logout acts only once it exists.
    virtual bool hasProtocolProvider() const;

    // The waiting path's outcome, on the thread of the last answer (or the expiry).
    void onTradeDeskInit(bool success, RefPtr<TradeDesk> desk, const std::string& text);

private:
    void releaseFromCallback(bool fromWorker);
    // What both paths do once the trade desk exists: the factories get its tables,
    // the communicator its marker, the login rules and the server zone are set.
    // True when a price terminal was started (Connected waits for it).
    bool completeTradeDesk(merrow::IUserSession* session, const RefPtr<TradeDesk>& desk, bool direct,
                           const std::string& propertiesAnswer);
    void initLoginRules(merrow::IUserSession* session, TradeDesk* desk, bool direct, const std::string& propertiesAnswer);
    void configureServerZone(TradeDesk* desk);
    bool createPriceTerminal(TradeDesk* desk);

    // Lets the callbacks of a waiting initialization reach this object only while it
    // is alive: cleared under its mutex before destruction.
    struct Guard {
        std::mutex mutex;
        CZelSession* session = nullptr;
    };
    std::shared_ptr<Guard> m_guard;
    // The session with a reference for the caller, or null once it is being destroyed.
    static RefPtr<CZelSession> alive(const std::weak_ptr<Guard>& guard);

    // What the login produces; guarded by m_deskMutex.
    mutable Mutex m_deskMutex;
    // Shared with a running initializer, which may still load answers through it.
    std::shared_ptr<IProtocolProvider> m_provider ZEL_GUARDED_BY(m_deskMutex);
    RefPtr<TradeDesk> m_tradeDesk ZEL_GUARDED_BY(m_deskMutex);
    RefPtr<LoginRules> m_loginRules ZEL_GUARDED_BY(m_deskMutex);
    std::shared_ptr<TradeDeskInitializer> m_initializer ZEL_GUARDED_BY(m_deskMutex);

    std::atomic<int32_t> m_refCount{1};
    std::unique_ptr<ServerCommunicator> m_communicator;
    RefPtr<TimeConverter> m_timeConverter;
    std::atomic<ZelTableManagerMode> m_mode{ZelTableManagerMode::NoTableManager};
    std::atomic<double> m_serverTime{0.0};
    RefPtr<ServerTimeListener> m_serverTimeListener;
    mutable Mutex m_tablesMutex;
    RefPtr<TablesManager> m_tablesManager ZEL_GUARDED_BY(m_tablesMutex);
};

} // namespace zel
