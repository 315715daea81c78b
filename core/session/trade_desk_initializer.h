#pragma once
// Builds the trade desk after the trade session has logged in: from the answers
// that came with the login when the session holds them all, otherwise by sending
// the protocol's initial commands and waiting for every answer.
//
// Ownership: shared (std::shared_ptr): the session holds it while it runs, and
// each call in progress holds it too, so the session may drop it from inside the
// completion callback. Its InitResponseListener holds it weakly.
// [Threading] The direct path runs on the login worker. On the waiting path the
// answers arrive on a transport thread and the expiry on a watchdog thread; the
// answers are kept under the initializer's mutex and the completion callback runs
// once, on the thread that completed or failed the initialization, with no lock
// held.

#include <condition_variable>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "core/base/ref_ptr.h"
#include "core/requests/protocol_provider.h"
#include "core/session/trade_desk.h"
#include "merrow/user_session.h"
#include "vorntool/add_ref.h"
#include "zel/response_listener.h"
#include "zel/session.h"

namespace zel {

class ServerCommunicator;
class TradeDeskInitializer;

// Hands the answers of the initial requests to the initializer.
class InitResponseListener : public TThreadSafeAddRefImpl<IZelResponseListener> {
public:
    explicit InitResponseListener(std::weak_ptr<TradeDeskInitializer> owner) : m_owner(std::move(owner)) {}
    void onRequestCompleted(const char* requestID, IZelResponse* response) override;
    void onRequestFailed(const char* requestID, const char* error) override;
    void onTablesUpdates(IZelResponse* response) override;

protected:
    ~InitResponseListener() override = default;

private:
    std::weak_ptr<TradeDeskInitializer> m_owner;
};

class TradeDeskInitializer : public std::enable_shared_from_this<TradeDeskInitializer> {
public:
    // success, the trade desk (null on failure), the failure text.
    using Callback = std::function<void(bool, RefPtr<TradeDesk>, const std::string&)>;

    // Texts of the failures of the waiting path.
    static constexpr const char* kRefused = "The server refused the initial request.";
    static constexpr const char* kNoAnswer = "The server did not answer the initial requests.";

    explicit TradeDeskInitializer(std::shared_ptr<IProtocolProvider> provider);
    ~TradeDeskInitializer();
    TradeDeskInitializer(const TradeDeskInitializer&) = delete;
    TradeDeskInitializer& operator=(const TradeDeskInitializer&) = delete;

    // The provider's init commands (and 5 and 9 with a table manager) and the
    // session's answer to each; true when every command has one.
    bool getInitMessages(merrow::IUserSession* session, ZelTableManagerMode mode, std::vector<std::string>& answers,
                         std::vector<int>& commands);
    // A loaded trade desk, or null when the login did not bring every answer.
    RefPtr<TradeDesk> initFromSession(merrow::IUserSession* session, ZelTableManagerMode mode);
    // Loads the answers of a resumed login into the existing desk.
    void reinitFromSession(merrow::IUserSession* session, ZelTableManagerMode mode, TradeDesk* desk);
    // Sends the init requests; callback tells the outcome. timeoutMs: how long the
    // answers may take (0: no limit).
    void initWithSendRequest(ServerCommunicator& communicator, int userKind, Callback callback, int timeoutMs);

    // Runs on each new trade desk before answers load into it (the session gives
    // it its table manager, so that the live tables exist).
    void setPrepare(std::function<void(TradeDesk*)> prepare) { m_prepare = std::move(prepare); }
    // The answer received for a command, "" when none.
    std::string answerOf(int command);
    void onMessageReceived(int command, const char* text);
    void onFailed(const std::string& text);
    // The answers did not all come in time.
    void expire();

    // The time the waiting path gives the answers unless a test sets it; the
    // transport's default exchange timeout.
    static int defaultTimeoutMs();
    // Tests: every waiting initialization registers here instead of starting its
    // watchdog, so a test can expire it on its own clock. Null: watchdogs again.
    static void setExpiryHookForTesting(std::function<void(std::weak_ptr<TradeDeskInitializer>)> hook);

private:
    void finish(bool success, const std::string& text);
    void stopWatchdog();

    std::shared_ptr<IProtocolProvider> m_provider;
    ServerCommunicator* m_communicator = nullptr;
    int m_userKind = 20;
    Callback m_callback;
    std::function<void(TradeDesk*)> m_prepare;

    std::mutex m_mutex;
    std::condition_variable m_wake;
    RefPtr<InitResponseListener> m_listener;
    std::vector<int> m_commands;
    std::map<int, std::string> m_answers;
    bool m_done = false;
    bool m_stop = false;
    std::thread m_watchdog;
};

} // namespace zel
