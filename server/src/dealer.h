#pragma once
// The dealing server: merrow::IServerApplication over the world, the store, the
// prices and the history. It answers the station descriptor, logons (password, trading
// session, PIN, price-terminal sessions by session), DAS requests and batches from the
// stored state, price-history requests, and pushes offer prices on the market-data
// channel. Control operations (cut, log out, expire, shutdown notice, relogin, set a
// price, step the virtual clock, trading status, messages, stop/resume prices, stats)
// serve tests, demos and the control socket.
//
// Ownership: the Dealer owns its merrow::Server, store, engine and price thread.
// [Threading] Every public operation may be called from any thread but create(),
// start() and stop() (one thread, in that order). Server callbacks run on the
// server's I/O threads; no callback waits for another. Price-history answers are
// built on the heavy-work thread (heavy_), so they never hold up the I/O threads.
// [Locking] stateMu_ guards the order engine (the trading tables) and instrument
// settings; priceMu_ guards the price engine and serialises price pushes. The order is
// priceMu_ before stateMu_. Changes are handed to the commit queue under stateMu_ (so
// the queue's order is the order of execution) and committed without it.
// [Durability] A change is committed before its answer or its pushes leave: answers
// and pushes are sent from the commit queue's completions. Prices are the exception:
// they are pushed first and saved behind them through the same queue (at least once a
// second, and on every set price), so a killed dealer may resume from a price a
// moment older than the last one pushed.

#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "data_lock.h"
#include "heavy_work.h"
#include "commit_queue.h"
#include "history.h"
#include "merrow/server.h"
#include "order_engine.h"
#include "price_engine.h"
#include "server_clock.h"
#include "statement_server.h"
#include "status.h"
#include "store.h"
#include "wire_messages.h"
#include "world.h"
#include "zone_rules.h"

namespace pellora::dealer {

struct DealerConfig {
    World world;
    std::string dataDir;  // holds state.db; created when missing
    std::shared_ptr<DataFolderLock> folderLock;  // of dataDir; create() takes it when null
    uint64_t seed = 1;
    int tickRate = 20;
    bool virtualClock = false;
    UnixMs virtualStart = 0;  // 0: Monday 2026-01-05 12:00 UTC, or where a kept state stopped
    std::string zoneinfoDir = "/usr/share/zoneinfo";
    merrow::ServerOptions serverOptions;
    std::function<void(const std::string&)> log;  // null: quiet
};

struct DealerStats {
    size_t sessions = 0;
    size_t queuedFrames = 0;
    uint64_t ticksSent = 0;
    uint64_t ordersExecuted = 0;
    uint64_t commits = 0;  // transactions of the commit queue
};

class Dealer : public merrow::IServerApplication {
public:
    static Status create(DealerConfig config, std::unique_ptr<Dealer>& out);
    ~Dealer() override;
    Dealer(const Dealer&) = delete;
    Dealer& operator=(const Dealer&) = delete;

    Status listen(const std::string& url, const std::string& certFile = {}, const std::string& keyFile = {});
    uint16_t boundPort(size_t index = 0) const { return server_->boundPort(index); }
    // Serves account statements over HTTP on host:port (0: a free port) and names that
    // address in "TRADER_REPORTS_URL". Before start().
    Status listenStatements(const std::string& host, uint16_t port);
    // "http://host:port/statement", or "" when statements are not served.
    std::string statementUrl() const;
    // The statement page of a query, or none (403) unless its session is live and
    // the account is its user's.
    std::optional<std::string> statementPage(const StatementQuery& q);
    Status start();
    // Shutdown notice to every session, prices saved, threads joined. Idempotent.
    void stop();

    // ---- Control. Targets name a user or a session ID; "" means every session.
    size_t cut(const std::string& target);
    // Cuts only the price-terminal sessions among the targets (a user's price feed).
    size_t cutPrices(const std::string& target);
    size_t logout(const std::string& target);
    size_t expire(const std::string& target);
    size_t shutdownNotice(const std::string& target);
    size_t forceRelogin(const std::string& target);
    Status setPrice(const std::string& offerId, double bid);
    Status stepClock(UnixMs ms);
    Status setTradingStatus(const std::string& offerId, const std::string& status);
    Status setSubscriptionStatus(const std::string& offerId, const std::string& status);
    Status sendMessage(const std::string& user, const std::string& subject, const std::string& text,
                       bool html = false);
    // Steps a virtual clock to the next daily roll-over (17:00 New York), which books it.
    Status stepToRollover();
    // Closes the account's trades, largest loss first, until its margin is met (at least one).
    Status raiseMarginCall(const std::string& accountId);
    void stopPrices();
    void resumePrices();
    DealerStats stats() const;

    // Produces the ticks due by now and pushes them (the price thread calls it too).
    void pumpPrices();
    UnixMs now() const { return clock_.now(); }
    const World& world() const { return config_.world; }

    // ---- merrow::IServerApplication
    merrow::StationReply onHello(const merrow::HelloInfo& hello) override;
    merrow::LogonReply onLogon(const merrow::LogonInfo& logon) override;
    merrow::LogonReply onLogonBySession(const merrow::LogonInfo& logon,
                                        const merrow::ServerSessionPtr& tradeSession) override;
    void onSessionStarted(const merrow::ServerSessionPtr& session, bool resumed) override;
    void onMessage(const merrow::ServerSessionPtr& session, const merrow::IMessage& message, int channel) override;
    std::vector<merrow::InitialMessageText> onResume(const merrow::ServerSessionPtr& session) override;
    void onSessionEnded(const merrow::ServerSessionPtr& session, merrow::SessionEnd why,
                        const std::string& text) override;

    struct SessionContext;

private:
    explicit Dealer(DealerConfig config, UnixMs start);
    Status init();
    // The context of a logon: the user, its connection or price terminal and the
    // initial commands; the user is empty when the logon names nothing known.
    SessionContext contextFor(const merrow::LogonInfo& logon) const;
    void priceLoop();
    // Hands the current prices to the commit queue (requires priceMu_).
    void savePricesLocked(UnixMs now);
    // Produces the ticks due by now and pushes them to the sessions given (requires
    // priceMu_); true when any tick was produced. The instruments that ticked are
    // added to `ticked`.
    bool pushTicksLocked(const std::vector<merrow::ServerSessionPtr>& sessions, UnixMs now,
                         std::vector<size_t>& ticked);
    void log(const std::string& line) const;

    // Answers one DAS request (the answer text), or fails with a reject reason.
    Status answer(const SessionContext& ctx, const DasRequest& r, std::string& text);
    std::vector<merrow::InitialMessageText> initialMessages(const SessionContext& ctx);
    void handleRequest(const merrow::ServerSessionPtr& s, const SessionContext& ctx, const merrow::IFieldGroup& m,
                       OrderBatch* batch);
    void orderRequest(const merrow::ServerSessionPtr& s, const SessionContext& ctx, const DasRequest& r,
                      OrderBatch* batch);
    // Hands a change to the commit queue (call under stateMu_); once stored, the
    // answer (when s is set) and then the pushed rows leave.
    void commitThenSend(ChangeWriter& w, merrow::ServerSessionPtr s, std::string requestId, std::string answer,
                        std::function<void(const Status&)> after = {});
    // Runs a change made under stateMu_ and returns once it is stored (control operations
    // answer only then).
    Status commitAndWait(const std::function<Status(ChangeWriter&)>& change);
    // Books the roll-overs the clock has passed (under stateMu_).
    void rolloverLocked(UnixMs now);
    // Feeds the engine's latest quotes of the offers given to the order engine.
    void quotesToOrders(const std::vector<size_t>& instruments);
    void handleMarketData(const merrow::ServerSessionPtr& s, const merrow::IFieldGroup& m);
    // Builds and sends a price-history answer; runs on heavy_'s workers.
    void answerHistory(const merrow::ServerSessionPtr& s, const MarketDataRequest& r, const HistoryRequest& h,
                       int digits, UnixMs now);
    void sendAnswer(const merrow::ServerSessionPtr& s, const std::string& requestId, const std::string& text);
    std::vector<OfferQuote> quotes();
    const Instrument* instrumentLocked(const std::string& offerId) const;

    // RTMP sessions (rtmp_session.cpp).
    void handleXml(const merrow::ServerSessionPtr& s, const Connection* connection, const merrow::IMessage& m);
    std::vector<merrow::InitialMessageText> rtmpInitialMessages(const Connection& c, const std::vector<int>& commands);
    // Level-2 snapshots of the instruments that ticked; requires priceMu_.
    void pushLevel2Locked(const std::vector<std::pair<merrow::ServerSessionPtr, const PriceTerminal*>>& receivers,
                          const std::vector<size_t>& instruments);
    // Every offer's current price (those of the terminal, when one is given) in one
    // market-data message: the snapshot a resumed session starts again from.
    void sendFreshPrices(const merrow::ServerSessionPtr& s, const PriceTerminal* terminal, bool level2);

    std::vector<merrow::ServerSessionPtr> targets(const std::string& target) const;
    size_t closeTargets(const std::string& target, merrow::CloseReason reason, const std::string& text);
    // Pushes an update text on the trading channel to the DAS trade sessions of a
    // user ("" every user).
    void pushTrading(const std::string& user, const std::string& text);

    DealerConfig config_;
    ServerClock clock_;
    MarketCalendar calendar_;
    std::unique_ptr<Store> store_;
    std::unique_ptr<merrow::Server> server_;

    mutable std::mutex stateMu_;
    std::vector<Instrument> instruments_;  // guarded by stateMu_ (statuses change)
    StoredState state_;                    // what was loaded; moved into orders_ by init()
    std::unique_ptr<OrderEngine> orders_;  // guarded by stateMu_
    UnixMs nextRollover_ = 0;              // guarded by stateMu_
    std::unique_ptr<CommitQueue> commits_;
    std::unique_ptr<StatementServer> statements_;

    mutable std::mutex priceMu_;
    std::unique_ptr<PriceEngine> engine_;        // guarded by priceMu_
    std::unique_ptr<HistoryGenerator> history_;  // immutable after init
    LiveTape tape_;
    bool pricesStopped_ = false;  // guarded by priceMu_
    UnixMs lastSave_ = 0;         // guarded by priceMu_

    HeavyWork heavy_;  // price-history answers, off the I/O threads
    std::atomic<uint64_t> ticksSent_{0};
    std::atomic<int64_t> level2Sequence_{0};

    std::mutex loopMu_;
    std::condition_variable loopCv_;
    bool stopping_ = false;  // guarded by loopMu_
    bool started_ = false;
    bool stopped_ = false;
    std::thread priceThread_;
};

} // namespace pellora::dealer
