#pragma once
// Stands between the session object and the transport: owns the trade and price
// messaging sessions and the listeners subscribed to them, the login data and
// worker, the session status with its listeners, and the response listeners.
// Requests leave through sendRequest; answers come back through the message
// listener.
//
// Ownership: owned by the session object (destroyed with it); holds one reference
// to each status listener, the message and status listeners, the descriptors and
// the login data.
// [Threading] Any thread. Locks, in the order they may nest: the status listener's
// mapping lock, the status-listener lock (held while status listeners run, one
// status at a time, in order; re-entrant), then the status-number lock. The
// session lock (messaging sessions, init listener), the data lock and the job lock
// are leaves: nothing calls out while holding them.

#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "core/base/mutex.h"
#include "core/base/ref_ptr.h"
#include "core/session/init_message_listener.h"
#include "core/session/login_data.h"
#include "core/session/login_job.h"
#include "core/session/message_listener.h"
#include "core/session/pre_event_response_listener.h"
#include "core/session/price_feed_login_job.h"
#include "core/session/session_descriptor.h"
#include "core/session/status_listener.h"
#include "core/session/user_session_factory.h"
#include "zel/session.h"

namespace zel {

class ServerCommunicator {
public:
    // What the owner (the session object) does at the turning points. Empty
    // callbacks do nothing (and the session-opened one returns 0).
    struct Callbacks {
        std::function<int(merrow::IUserSession*)> sessionOpened;
        std::function<int(merrow::IUserSession*)> sessionClosed;
        std::function<int(merrow::IUserSession*)> priceFeedSessionOpened;
        std::function<int(merrow::IUserSession*)> reconnected;
        // Logs in to the remembered price server again after a reconnect.
        std::function<void(const std::string& priceServer)> connectToPriceFeedServer;
        // Keep the owner alive across a callback from a transport or worker thread:
        // retain fails once the owner is being destroyed; release(fromWorker) must
        // not destroy the owner on the login worker's own thread.
        std::function<bool()> retainOwner;
        std::function<void(bool fromWorker)> releaseOwner;
    };

    explicit ServerCommunicator(Callbacks callbacks,
                                IUserSessionFactory& factory = IUserSessionFactory::transport());
    virtual ~ServerCommunicator();
    ServerCommunicator(const ServerCommunicator&) = delete;
    ServerCommunicator& operator=(const ServerCommunicator&) = delete;

    virtual void setPriceUpdateMode(ZelPriceUpdateMode mode);
    virtual ZelPriceUpdateMode getPriceUpdateMode() const;

    // Holds the owner for the length of a scope; false when it is being destroyed.
    class OwnerHold {
    public:
        explicit OwnerHold(ServerCommunicator& c, bool fromWorker = false);
        ~OwnerHold();
        explicit operator bool() const { return m_held; }
        OwnerHold(const OwnerHold&) = delete;
        OwnerHold& operator=(const OwnerHold&) = delete;

    private:
        ServerCommunicator& m_c;
        bool m_held;
        bool m_retained;
        bool m_fromWorker;
    };

    // Login: starts a worker (see LoginJob). Returns non-zero when it started; a
    // login already running is left alone (Connecting is returned).
    int login(const char* user, const char* password, const char* url, const char* connection);
    // True from login until the worker has handed the session over or failed.
    bool isLoginActive() const;
    // Disconnecting, closeSession(true), Disconnected. Nothing to do once
    // Disconnecting, Disconnected or SessionLost has been set.
    void logout();
    // A login that failed after the trade session opened (its initialization or
    // the price login): onLoginFailed with the text, both sessions closed, then
    // Disconnected.
    void failLogin(const std::string& text);
    void closeSession(bool closeTrade);
    void closePriceSession();

    // Requests and responses.
    void sendRequest(IZelRequest* request);
    void subscribeResponse(IZelResponseListener* listener);
    void subscribeMessageResponseAsFirst(IZelResponseListener* listener);
    void unsubscribeResponse(IZelResponseListener* listener);
    void subscribeInitResponse(IZelResponseListener* listener);
    void unsubscribeInitResponse(IZelResponseListener* listener) {}
    // The table manager whose instruments pushed updates keep current.
    void setTablesManager(TablesManager* manager);
    void setNothingFieldValue(const char* value);

    // Status.
    void subscribeSessionStatus(IZelSessionStatus* listener);
    void unsubscribeSessionStatus(IZelSessionStatus* listener);
    int getStatus() const;
    void setStatus(int status);
    // A status the transport reported for a messaging session: set only while that
    // session is still the trade (or price) session, decided under the listener lock.
    void setStatusOfSession(merrow::IUserSession* session, int status);

    // Called by the login worker.
    void onLoginFailed(const char* text);
    void onTradeSessionDescReceived(const merrow::TradingSessionDesc* const* descriptions);
    // Takes the session over (the worker no longer owns it once this is called),
    // closing a trade session still held from before.
    void onSessionOpened(merrow::IUserSession* session);
    // The worker's last call; ownerRetained: release the owner held for it. Clears
    // the login-active flag only when job is still the current one.
    void loginEnded(const LoginJob* job, bool ownerRetained);

    // Called by the status listener.
    bool isTradeSession(merrow::IUserSession* session) const;
    bool isPriceSession(merrow::IUserSession* session) const;
    // The reconnected path: the owner's reconnected callback, then the price server
    // again or Connected.
    void onReconnected(merrow::IUserSession* session);
    void reconnectTradeSession();

    // The price-feed login (see PriceFeedLoginJob): remembers the name, filters
    // market data out of the trade session and starts the worker.
    void connectToPriceFeedServer(const std::string& name);
    // Called by the price worker: keeps the price session, tells the owner, sets
    // Connected and subscribes the message listener to it.
    void onPriceFeedSessionOpened(merrow::IUserSession* session);
    void onPriceFeedLoginFailed(const std::string& text);

    // Descriptors and the trading-session choice.
    IZelSessionDescriptorCollection* getTradingSessionDescriptors() const;
    void setTradingSession(const char* sessionID, const char* pin);

    // The messaging sessions: borrowed pointers, valid while they are held (the
    // caller must not keep them past a close).
    merrow::IUserSession* getTradeSession() const;
    merrow::IUserSession* getPriceSession() const;
    // Hands over an open price session (the price-feed login).
    void setPriceSession(merrow::IUserSession* session);
    std::string getConnection() const;
    std::string getSessionSubID() const;
    void setPriceServerName(const std::string& name);
    std::string getPriceServerName() const;

    // Runs a call on the communicator's notifier thread, in the order posted: the
    // failures of requests are told there, never on the thread that sent them.
    void post(std::function<void()> call);

    // Text given to requests still waiting when the connection closes for good.
    static constexpr const char* kConnectionClosed =
        "The connection to the server closed before the answer came. Check your orders and positions before "
        "sending the request again.";

    std::string getLoginUrl() const;
    IUserSessionFactory& sessionFactory() { return m_factory; }
    CMessageListener* messageListener() const { return m_messageListener.get(); }
    CStatusListener* statusListener() const { return m_statusListener.get(); }
    bool hasInitListener() const;

private:
    friend class LoginJob;

    void switchToMainListener();
    void notifyStatus(int status) ZEL_REQUIRES(m_listenerMutex);
    void failPending(Requests& registry, const char* text, bool toInitListener);
    void notifierLoop();
    void clearSessionData();
    // Takes a messaging session out of its field and closes it.
    void closeUserSession(merrow::IUserSession* session, bool trade);
    void reapJobs(std::vector<std::unique_ptr<LoginJob>>& finished) ZEL_REQUIRES(m_jobMutex);

    Callbacks m_callbacks;
    IUserSessionFactory& m_factory;

    mutable Mutex m_sessionMutex;
    merrow::IUserSession* m_tradeSession ZEL_GUARDED_BY(m_sessionMutex) = nullptr;
    merrow::IUserSession* m_priceSession ZEL_GUARDED_BY(m_sessionMutex) = nullptr;
    RefPtr<InitMessageListener> m_initListener ZEL_GUARDED_BY(m_sessionMutex);
    std::string m_priceServerName ZEL_GUARDED_BY(m_sessionMutex);

    RefPtr<CMessageListener> m_messageListener;
    RefPtr<CStatusListener> m_statusListener;

    mutable RecursiveMutex m_listenerMutex;
    std::vector<RefPtr<IZelSessionStatus>> m_statusListeners ZEL_GUARDED_BY(m_listenerMutex);
    // A status set while listeners are being told (by one of them, on this thread)
    // waits here until every listener has heard the one before.
    bool m_notifying ZEL_GUARDED_BY(m_listenerMutex) = false;
    std::deque<int> m_pendingStatuses ZEL_GUARDED_BY(m_listenerMutex);
    // Whether the main message listener receives the trade session's messages.
    bool m_mainSubscribed ZEL_GUARDED_BY(m_sessionMutex) = false;
    mutable Mutex m_statusMutex;
    int m_status ZEL_GUARDED_BY(m_statusMutex) = IZelSessionStatus::Disconnected;
    mutable Mutex m_priceModeMutex;
    ZelPriceUpdateMode m_priceUpdateMode ZEL_GUARDED_BY(m_priceModeMutex) = ZelPriceUpdateMode::Default;

    RefPtr<PreEventResponseListener> m_preEventListener;

    mutable Mutex m_dataMutex;
    RefPtr<CZelSessionDescriptorCollection> m_descriptors ZEL_GUARDED_BY(m_dataMutex);
    RefPtr<LoginData> m_loginData ZEL_GUARDED_BY(m_dataMutex);
    std::string m_connection ZEL_GUARDED_BY(m_dataMutex);

    mutable Mutex m_jobMutex;
    std::unique_ptr<LoginJob> m_loginJob ZEL_GUARDED_BY(m_jobMutex);
    // Jobs replaced while their thread was still ending; joined later.
    std::vector<std::unique_ptr<LoginJob>> m_retiredJobs ZEL_GUARDED_BY(m_jobMutex);
    bool m_loginActive ZEL_GUARDED_BY(m_jobMutex) = false;
    std::unique_ptr<PriceFeedLoginJob> m_priceJob ZEL_GUARDED_BY(m_jobMutex);
    std::vector<std::unique_ptr<PriceFeedLoginJob>> m_retiredPriceJobs ZEL_GUARDED_BY(m_jobMutex);
    std::string m_loginUrl ZEL_GUARDED_BY(m_dataMutex);

    std::mutex m_notifierMutex;
    std::condition_variable m_notifierWake;
    std::deque<std::function<void()>> m_notifierQueue;
    bool m_notifierStop = false;
    std::thread m_notifier;
};

} // namespace zel
