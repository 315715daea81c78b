#include "dealer.h"

#include <algorithm>
#include <cerrno>
#include <future>
#include <sys/stat.h>

#include "answer_texts.h"
#include "merrow/utc_timestamp.h"
#include "password.h"
#include "statement_page.h"

namespace pellora::dealer {

using Fx = merrow::IFixDefs;

// What the dealer keeps with each session.
struct Dealer::SessionContext {
    std::string user;
    const User* account = nullptr;          // the logged-on user
    const Connection* connection = nullptr; // trade sessions
    const PriceTerminal* terminal = nullptr; // price sessions (logged in by session)
    std::vector<int> initialCommands;
};

namespace {

constexpr UnixMs kDefaultVirtualStart = 1767614400000;  // Monday 2026-01-05 12:00 UTC
constexpr const char* kClockKey = "virtual_clock";
// Store::load purges remembered requests older than 24 hours before this instant.
constexpr UnixMs kKeepEveryRequest = 0;

std::shared_ptr<Dealer::SessionContext> contextOf(const merrow::ServerSessionPtr& s) {
    return std::static_pointer_cast<Dealer::SessionContext>(s->context());
}

// The command numbers after "EXTRA=" ("EXTRA=3,139,9;PIN=1234").
std::vector<int> extraCommands(const std::string& extra) {
    std::vector<int> out;
    size_t at = 0;
    while ((at = extra.find("EXTRA=", at)) != std::string::npos) {
        if (at == 0 || extra[at - 1] == ';') break;
        at += 6;
    }
    if (at == std::string::npos) return out;
    const size_t start = at + 6;
    const size_t end = std::min(extra.find(';', start), extra.size());
    std::string item;
    for (size_t i = start; i <= end; ++i) {
        if (i == end || extra[i] == ',') {
            if (!item.empty() && item.size() < 6 && item.find_first_not_of("0123456789") == std::string::npos)
                out.push_back(std::stoi(item));
            item.clear();
        } else {
            item += extra[i];
        }
    }
    return out;
}

// A stored counter: 1 to 15 decimal digits.
bool readCount(const std::string& s, int64_t& out) {
    if (s.empty() || s.size() > 15 || s.find_first_not_of("0123456789") != std::string::npos) return false;
    out = std::stoll(s);
    return true;
}

// The members of one DAS batch. The SDK's batches are an order with its OCO or OTO
// partners; hundreds of orders in one message would hold an I/O thread for all of
// them, so a larger batch is refused (and one far larger ends the session).
constexpr int kMaxBatchMembers = 100;
constexpr int kMaxRejectedBatchMembers = 1000;

bool isTableCommand(int c) {
    switch (c) {
        case 3: case 5: case 7: case 9: case 10: case 44: case 46: case 67: case 70: case 138: case 139: return true;
        default: return false;
    }
}


// RTMP sessions take their prices as level-2 snapshots.
bool takesLevel2(const Dealer::SessionContext& c) {
    if (c.terminal) return c.terminal->protocol == Protocol::Rtmp;
    return c.connection && c.connection->protocol == Protocol::Rtmp && c.connection->priceTerminal.empty();
}

// A session ID with the trader ID opens a price session: the log gets a prefix only,
// enough to tell sessions apart.
std::string logId(const std::string& sessionId) { return sessionId.substr(0, 8) + "..."; }

bool ownsAccount(const User& u, const std::string& accountId) {
    return std::find(u.accounts.begin(), u.accounts.end(), accountId) != u.accounts.end();
}

} // namespace

Dealer::Dealer(DealerConfig config, UnixMs start)
    : config_(std::move(config)),
      clock_(config_.virtualClock, start),
      calendar_(MarketCalendar::newYork(config_.zoneinfoDir)),
      instruments_(config_.world.instruments),
      tape_(config_.world.instruments.size()) {
    server_ = std::make_unique<merrow::Server>(*this, config_.serverOptions);
}

Dealer::~Dealer() { stop(); }

void Dealer::log(const std::string& line) const {
    if (config_.log) config_.log(line);
}

Status Dealer::create(DealerConfig config, std::unique_ptr<Dealer>& out) {
    if (Status s = config.world.validate(); !s.isOk()) return s;
    if (config.tickRate < 1) return Status::error("the tick rate must be at least 1");
    if (!config.folderLock)
        if (Status s = DataFolderLock::acquire(config.dataDir, config.folderLock); !s.isOk()) return s;
    std::unique_ptr<Store> store;
    if (Status s = Store::open(config.dataDir + "/state.db", store); !s.isOk()) return s;
    UnixMs start = config.virtualStart ? config.virtualStart : kDefaultVirtualStart;
    StoredState loaded;
    const bool seeded = store->seeded();
    if (seeded) {
        // Remembered requests are kept through the load and purged below by the clock
        // that stamped them: a virtual-clock dealer stamps virtual time.
        if (Status s = store->load(kKeepEveryRequest, loaded); !s.isOk()) return s;
        if (config.virtualClock && !config.virtualStart) {
            int64_t kept = 0;
            if (auto it = loaded.meta.find(kClockKey); it != loaded.meta.end() && readCount(it->second, kept))
                start = kept;
            for (const PriceState& p : loaded.prices) start = std::max(start, p.time);
        }
    }
    const UnixMs requestsNow = config.virtualClock ? start : ServerClock::systemNow();
    if (seeded)
        if (Status s = store->pruneRequests(requestsNow); !s.isOk()) return s;
    std::unique_ptr<Dealer> d(new Dealer(std::move(config), start));
    d->store_ = std::move(store);
    d->state_ = std::move(loaded);
    if (Status s = d->init(); !s.isOk()) return s;
    out = std::move(d);
    return Status::ok();
}

Status Dealer::init() {
    const UnixMs start = clock_.now();
    engine_ = std::make_unique<PriceEngine>(config_.seed, config_.world.instruments, config_.tickRate, calendar_, start);
    history_ = std::make_unique<HistoryGenerator>(config_.seed, config_.world.instruments, calendar_, start);
    if (!store_->seeded()) {
        TickSchedule schedule = engine_->schedule();
        if (Status s = store_->seed(config_.world, engine_->states(), schedule); !s.isOk()) return s;
        if (Status s = store_->load(start, state_); !s.isOk()) return s;
    } else if (state_.schedule) {
        engine_->restore(state_.prices, *state_.schedule);
        for (size_t i = 0; i < engine_->size(); ++i)
            if (engine_->states()[i].time) history_->setAnchor(i, engine_->states()[i].time, engine_->midUnits(i));
        if (!config_.virtualClock) engine_->skipTo(start);  // no replay of the time the server was down
    }
    orders_ = std::make_unique<OrderEngine>(config_.world, instruments_, calendar_);
    orders_->load(state_, config_.virtualClock ? start : ServerClock::systemNow());
    ChangeWriter seedQuotes(config_.world, start);  // the first quotes execute nothing
    for (size_t i = 0; i < engine_->size(); ++i) orders_->onQuote(engine_->quote(i), seedQuotes);
    state_ = StoredState();
    nextRollover_ = calendar_.nextTradingDayStart(start);
    commits_ = std::make_unique<CommitQueue>(*store_);
    lastSave_ = start;
    return Status::ok();
}

Status Dealer::listen(const std::string& url, const std::string& certFile, const std::string& keyFile) {
    merrow::Status s = server_->listen(url, certFile, keyFile);
    return s.ok() ? Status::ok() : Status::error(url + ": " + s.reason());
}

Status Dealer::start() {
    if (started_) return Status::error("the dealer is already started");
    merrow::Status s = server_->start();
    if (!s.ok()) return Status::error(s.reason());
    started_ = true;
    heavy_.start();
    commits_->start();
    priceThread_ = std::thread([this] { priceLoop(); });
    return Status::ok();
}

Status Dealer::listenStatements(const std::string& host, uint16_t port) {
    if (started_ || statements_) return Status::error("statements are set up before the dealer starts, once");
    auto server = std::make_unique<StatementServer>([this](const StatementQuery& q) { return statementPage(q); });
    if (Status s = server->start(host, port); !s.isOk()) return s;
    statements_ = std::move(server);
    bool named = false;
    for (SystemProperty& p : config_.world.systemProperties)
        if (p.name == "TRADER_REPORTS_URL") {
            p.value = statements_->url();
            named = true;
        }
    if (!named) config_.world.systemProperties.push_back({"TRADER_REPORTS_URL", statements_->url()});
    return Status::ok();
}

std::optional<std::string> Dealer::statementPage(const StatementQuery& q) {
    if (q.sessionId.empty()) return std::nullopt;
    const merrow::ServerSessionPtr s = server_->findSession(q.sessionId);
    if (!s || s->ended() || s->logon().bySession) return std::nullopt;
    const std::shared_ptr<SessionContext> ctx = contextOf(s);
    if (!ctx || !ctx->account || ctx->user.empty()) return std::nullopt;
    const User& u = *ctx->account;
    UnixMs from = 0, till = 0;
    if (!parseStatementDate(q.from, false, from) || !parseStatementDate(q.till, true, till)) return std::nullopt;
    std::vector<std::string> ids = u.accounts;
    if (!q.account.empty()) {
        if (std::find(ids.begin(), ids.end(), q.account) == ids.end()) return std::nullopt;
        ids = {q.account};
    }
    std::vector<StatementAccount> accounts;
    std::vector<MessageRecord> messages;
    {
        std::lock_guard<std::mutex> lock(stateMu_);
        for (const std::string& id : ids) {
            StatementAccount a;
            std::vector<const TradeRecord*> mine;
            for (const AccountRecord& r : orders_->accounts())
                if (r.accountId == id) a.account = r;
            for (const TradeRecord& t : orders_->trades())
                if (t.accountId == id) {
                    a.open.push_back(t);
                    mine.push_back(&t);
                }
            for (const ClosedTradeRecord& c : orders_->closedTrades())
                if (c.accountId == id && c.closeTime >= from && c.closeTime <= till) a.closed.push_back(c);
            a.equity = orders_->books().equity(a.account, mine, orders_->quotes());
            accounts.push_back(std::move(a));
        }
        for (const MessageRecord& m : orders_->messages())
            if (m.user == u.name && m.time >= from && m.time <= till) messages.push_back(m);
    }
    return renderStatement(u.name, accounts, messages, from, till, config_.world);
}

std::string Dealer::statementUrl() const { return statements_ ? statements_->url() : std::string(); }

void Dealer::stop() {
    if (stopped_) return;
    stopped_ = true;
    if (statements_) statements_->stop();
    {
        std::lock_guard<std::mutex> lock(loopMu_);
        stopping_ = true;
    }
    loopCv_.notify_all();
    if (priceThread_.joinable()) priceThread_.join();
    heavy_.stop();
    // What was executed is stored and answered before the sessions get the notice.
    if (commits_) commits_->stop();
    if (server_) server_->stop(merrow::CloseReason::kShutdown, "The server is shutting down.");
    std::lock_guard<std::mutex> lock(priceMu_);
    if (engine_ && store_) savePricesLocked(clock_.now());
}

// ---- Prices

void Dealer::priceLoop() {
    const auto period = std::chrono::milliseconds(std::clamp(1000 / config_.tickRate, 1, 50));
    std::unique_lock<std::mutex> lock(loopMu_);
    while (!stopping_) {
        lock.unlock();
        pumpPrices();
        // A tick leaves when it falls due, not at the next turn of a fixed period: on
        // the real clock the loop sleeps until the next scheduled tick (at most a
        // period, which also paces roll-overs and the price saves).
        auto wait = period;
        if (!clock_.isVirtual()) {
            std::lock_guard<std::mutex> prices(priceMu_);
            if (const UnixMs next = engine_->nextTickTime(); next > 0 && !pricesStopped_)
                wait = std::clamp(std::chrono::milliseconds(next - clock_.now()), std::chrono::milliseconds(0), period);
        }
        lock.lock();
        loopCv_.wait_for(lock, wait, [&] { return stopping_; });
    }
}

void Dealer::savePricesLocked(UnixMs now) {
    // Prices are not orders: their save waits in the commit queue (joining the next
    // group commit) instead of holding up the pushes for a disk sync. Once the queue
    // has stopped, submit() commits at once, so stop() still saves the last prices.
    Change c;
    c.prices = engine_->states();
    c.schedule = engine_->schedule();
    if (config_.virtualClock) c.meta[kClockKey] = std::to_string(now);
    commits_->submit(std::move(c), [this](const Status& s) {
        if (!s.isOk()) log("saving prices failed: " + s.text());
    });
    lastSave_ = now;
}

void Dealer::pumpPrices() {
    std::lock_guard<std::mutex> lock(priceMu_);
    const UnixMs now = clock_.now();
    bool ticked = false;
    std::vector<size_t> instruments;  // those that ticked
    const UnixMs next = engine_->nextTickTime();
    if (pricesStopped_ || next == 0 || next > now) {
        // Nothing falls due: the sessions are not even listed (with a thousand of
        // them that scan cost more than the pushes of a quiet market).
        if (pricesStopped_) engine_->skipTo(now);
    } else {
        ticked = pushTicksLocked(server_->sessions(), now, instruments);
    }
    // The orders see the ticks once these are out: executing them takes stateMu_,
    // which a request may be holding.
    quotesToOrders(instruments);
    // After the pushes: a price reaches the sessions before it goes to the disk.
    if (now - lastSave_ >= kMsPerSecond || (config_.virtualClock && ticked)) savePricesLocked(now);
}

bool Dealer::pushTicksLocked(const std::vector<merrow::ServerSessionPtr>& sessions, UnixMs now,
                             std::vector<size_t>& ticked) {
    // Every tick goes out, in order: a client that falls behind has the older ones of
    // an offer replaced by the transport's conflation, one that keeps up sees the
    // whole tape at the tick rate. Ticks travel in updates of up to kTicksPerUpdate
    // lines, one frame for many. A session's queue takes `room` frames before it
    // conflates; past that a tick only replaces the waiting one of its offer, so of
    // the rest of the pump only each offer's last tick would survive, and it goes
    // alone, keyed by its offer. The others are neither kept, built nor sent: a late
    // pump costs no more than what its receivers will see.
    constexpr int kTicksPerUpdate = 50;
    struct Receiver {
        merrow::ServerSessionPtr session;
        std::shared_ptr<SessionContext> ctx;
        size_t room;
        std::vector<int8_t> wants;  // by instrument: -1 not known yet
        int fill = 0;               // ticks in the open update; 0 when none is open
        bool wantsOffer(size_t i, const std::string& offerId) {
            if (wants[i] < 0)
                wants[i] = !ctx->terminal || std::find(ctx->terminal->offerIds.begin(), ctx->terminal->offerIds.end(),
                                                       offerId) != ctx->terminal->offerIds.end();
            return wants[i] != 0;
        }
        // A tick joins the open update, or opens one while the queue has room.
        bool takes() {
            if (fill == 0) {
                if (room == 0) return false;
                --room;
            }
            if (++fill == kTicksPerUpdate) fill = 0;
            return true;
        }
    };
    std::vector<Receiver> receivers;
    receivers.reserve(sessions.size());
    std::vector<std::pair<merrow::ServerSessionPtr, const PriceTerminal*>> level2;
    const size_t conflateAbove = config_.serverOptions.conflateAbove;
    for (const merrow::ServerSessionPtr& s : sessions) {
        auto ctx = contextOf(s);
        if (!ctx || !s->connected()) continue;
        if (takesLevel2(*ctx)) {
            level2.emplace_back(s, ctx->terminal);
            continue;
        }
        if (!ctx->terminal && (!ctx->connection || ctx->connection->protocol != Protocol::Das ||
                               !ctx->connection->priceTerminal.empty()))
            continue;
        const size_t queued = s->queuedFrames();
        receivers.push_back({s, std::move(ctx), queued <= conflateAbove ? conflateAbove + 1 - queued : 0,
                             std::vector<int8_t>(engine_->size(), -1)});
    }
    std::vector<size_t> rooms;
    for (const Receiver& r : receivers) rooms.push_back(r.room);

    struct Tick {
        uint64_t seq;
        size_t instrument;
        OfferQuote quote;
    };
    constexpr uint64_t kNone = ~uint64_t{0};
    std::vector<Tick> head;  // some receiver has room for them
    // Per offer, its latest tick beyond them (the engine's quote once the pump is done).
    std::vector<uint64_t> tailSeq(engine_->size(), kNone);
    std::vector<uint64_t> lastSeq(engine_->size(), kNone);
    uint64_t seq = 0;
    if (pricesStopped_) {
        engine_->skipTo(now);
    } else {
        engine_->advanceTicks(now, [&](size_t i) {
            const PriceState& state = engine_->states()[i];
            tape_.record(i, state.time, state.bidUnits, state.askUnits);
            bool needed = false;
            for (Receiver& r : receivers)
                if (r.wantsOffer(i, state.offerId) && r.takes()) needed = true;
            if (needed) {
                head.push_back({seq, i, engine_->quote(i)});
                tailSeq[i] = kNone;
            } else {
                tailSeq[i] = seq;
            }
            lastSeq[i] = seq++;
        });
    }
    for (size_t i = 0; i < lastSeq.size(); ++i)
        if (lastSeq[i] != kNone) ticked.push_back(i);
    if (!ticked.empty() && !level2.empty()) pushLevel2Locked(level2, ticked);
    if (seq == 0 || receivers.empty()) return seq > 0;

    std::vector<Tick> lastOnes;
    for (size_t i = 0; i < tailSeq.size(); ++i)
        if (tailSeq[i] != kNone) lastOnes.push_back({tailSeq[i], i, engine_->quote(i)});
    std::sort(lastOnes.begin(), lastOnes.end(), [](const Tick& a, const Tick& b) { return a.seq < b.seq; });
    // The same accounting again, in the same order, decides who gets each tick.
    for (size_t k = 0; k < receivers.size(); ++k) {
        receivers[k].room = rooms[k];
        receivers[k].fill = 0;
    }
    std::vector<std::unique_ptr<UpdateText>> open(receivers.size());
    std::vector<int> openLines(receivers.size(), 0);
    auto flush = [&](size_t k) {
        if (!open[k]) return;
        const MessagePtr m = dasMessage(open[k]->str());
        if (receivers[k].session->send(*m, Fx::CHANNEL_MARKET_DATA).ok()) ticksSent_ += openLines[k];
        open[k].reset();
        openLines[k] = 0;
    };
    auto send = [&](const Tick& t) {
        const bool last = lastSeq[t.instrument] == t.seq;
        std::string line;
        MessagePtr alone;
        for (size_t k = 0; k < receivers.size(); ++k) {
            Receiver& r = receivers[k];
            if (!r.wantsOffer(t.instrument, t.quote.offerId)) continue;
            if (line.empty()) line = offerLine(t.quote, engine_->instrument(t.instrument).digits);
            if (r.takes()) {
                if (!open[k]) open[k] = std::make_unique<UpdateText>(t.quote.time);
                open[k]->add(TableCode::Offer, UpdateKind::Update, line);
                if (++openLines[k] == kTicksPerUpdate) flush(k);
                continue;
            }
            if (!last) continue;
            // Past the room: what is open goes first, then this tick on its own key.
            flush(k);
            if (!alone) {
                UpdateText u(t.quote.time);
                u.add(TableCode::Offer, UpdateKind::Update, line);
                alone = dasMessage(u.str());
            }
            if (r.session->send(*alone, Fx::CHANNEL_MARKET_DATA, t.quote.offerId).ok()) ++ticksSent_;
        }
    };
    size_t h = 0, l = 0;
    while (h < head.size() || l < lastOnes.size()) {
        if (l == lastOnes.size() || (h < head.size() && head[h].seq < lastOnes[l].seq))
            send(head[h++]);
        else
            send(lastOnes[l++]);
    }
    for (size_t k = 0; k < receivers.size(); ++k) flush(k);
    return true;
}

std::vector<OfferQuote> Dealer::quotes() {
    std::lock_guard<std::mutex> lock(priceMu_);
    std::vector<OfferQuote> out;
    for (size_t i = 0; i < engine_->size(); ++i) out.push_back(engine_->quote(i));
    return out;
}

void Dealer::stopPrices() {
    std::lock_guard<std::mutex> lock(priceMu_);
    pricesStopped_ = true;
}

void Dealer::resumePrices() {
    std::lock_guard<std::mutex> lock(priceMu_);
    if (pricesStopped_) engine_->skipTo(clock_.now());
    pricesStopped_ = false;
}

Status Dealer::setPrice(const std::string& offerId, double bid) {
    std::vector<merrow::ServerSessionPtr> sessions = server_->sessions();
    std::lock_guard<std::mutex> lock(priceMu_);
    OfferQuote q;
    const int i = engine_->indexOf(offerId);
    if (i < 0) return Status::error(unknownOfferText(offerId));
    if (!engine_->setPrice(offerId, bid, clock_.now(), q)) return Status::error("The price must be positive.");
    const int d = engine_->instrument(i).digits;
    tape_.record(i, q.time, toUnits(q.bid, d), toUnits(q.ask, d));
    UpdateText u(q.time);
    u.add(TableCode::Offer, UpdateKind::Update, offerLine(q, d));
    MessagePtr m = dasMessage(u.str());
    std::vector<std::pair<merrow::ServerSessionPtr, const PriceTerminal*>> level2;
    for (const merrow::ServerSessionPtr& s : sessions) {
        auto ctx = contextOf(s);
        if (ctx && takesLevel2(*ctx)) {
            level2.emplace_back(s, ctx->terminal);
            continue;
        }
        if (!ctx || (!ctx->terminal && (!ctx->connection || !ctx->connection->priceTerminal.empty()))) continue;
        if (s->send(*m, Fx::CHANNEL_MARKET_DATA, offerId).ok()) ++ticksSent_;
    }
    // One snapshot for every level-2 receiver.
    if (!level2.empty()) pushLevel2Locked(level2, {static_cast<size_t>(i)});
    // The price is out; what it executes and its save follow.
    quotesToOrders({static_cast<size_t>(i)});
    savePricesLocked(clock_.now());
    return Status::ok();
}

Status Dealer::stepClock(UnixMs ms) {
    if (Status s = clock_.step(ms); !s.isOk()) return s;
    pumpPrices();
    return Status::ok();
}

// ---- Login

merrow::StationReply Dealer::onHello(const merrow::HelloInfo& hello) {
    merrow::StationReply r;
    r.parameters.push_back({"version", config_.world.station.version});
    if (hello.stationKind == "PriceServer") {
        const PriceTerminal* t = config_.world.findPriceTerminal(hello.connectionName);
        if (!t) return merrow::StationReply::refuse("Unknown connection '" + hello.connectionName + "'.");
        r.tradingSessions.emplace_back("QORA", t->name.c_str(), t->name.c_str(), t->name.c_str(), false);
        return r;
    }
    const Connection* c = config_.world.findConnection(hello.connectionName);
    if (!c) return merrow::StationReply::refuse("Unknown connection '" + hello.connectionName + "'.");
    for (const TradingSession& ts : c->sessions)
        r.tradingSessions.emplace_back(ts.id.c_str(), ts.subId.c_str(), ts.name.c_str(), ts.description.c_str(),
                                       !ts.pin.empty());
    return r;
}

merrow::LogonReply Dealer::onLogon(const merrow::LogonInfo& logon) {
    const Connection* c = config_.world.findConnection(logon.connectionName);
    if (!c) return merrow::LogonReply::reject("Unknown connection '" + logon.connectionName + "'.");
    const User* u = config_.world.findUser(logon.user);
    if (config_.world.users.empty()) return merrow::LogonReply::reject("Invalid user name or password.");
    // Unknown users cost a verification too, so timing does not tell names apart.
    const std::string& stored = u ? u->passwordHash : config_.world.users.front().passwordHash;
    if (!verifyPassword(logon.password, stored) || !u)
        return merrow::LogonReply::reject("Invalid user name or password.");
    const TradingSession* chosen = nullptr;
    for (const TradingSession& ts : c->sessions)
        if ((logon.tradingSessionSubId.empty() || ts.subId == logon.tradingSessionSubId) &&
            (logon.tradingSessionId.empty() || ts.id == logon.tradingSessionId)) {
            if (logon.tradingSessionId.empty() && logon.tradingSessionSubId.empty() && c->sessions.size() > 1) break;
            chosen = &ts;
            break;
        }
    if (!chosen) {
        const std::string named = logon.tradingSessionSubId.empty() ? logon.tradingSessionId : logon.tradingSessionSubId;
        return merrow::LogonReply::reject(named.empty() ? "Choose a trading session."
                                                        : "Unknown trading session '" + named + "'.");
    }
    if (!chosen->pin.empty() && logon.pin.empty())
        return merrow::LogonReply::reject("A PIN is required for this trading session.");
    if (!chosen->pin.empty() && logon.pin != chosen->pin) return merrow::LogonReply::reject("Wrong PIN.");

    SessionContext ctx = contextFor(logon);
    merrow::LogonReply r;
    r.accepted = true;
    r.traderId = u->traderId;
    r.userKind = u->kind;
    r.properties.push_back({"TransportProvider", protocolName(c->protocol)});
    r.initialMessages = c->protocol == Protocol::Das ? initialMessages(ctx) : rtmpInitialMessages(*c, ctx.initialCommands);
    return r;
}

Dealer::SessionContext Dealer::contextFor(const merrow::LogonInfo& logon) const {
    SessionContext ctx;
    if (logon.bySession) {
        ctx.terminal = config_.world.findPriceTerminal(logon.connectionName);
        for (const User& u : config_.world.users)
            if (u.traderId == logon.bySessionTraderId) ctx.account = &u;
    } else {
        ctx.connection = config_.world.findConnection(logon.connectionName);
        ctx.account = config_.world.findUser(logon.user);
        if (ctx.connection && ctx.connection->initialMessages) ctx.initialCommands = extraCommands(logon.extraParams);
    }
    if (ctx.account && (ctx.connection || ctx.terminal)) ctx.user = ctx.account->name;
    return ctx;
}

merrow::LogonReply Dealer::onLogonBySession(const merrow::LogonInfo& logon,
                                            const merrow::ServerSessionPtr& tradeSession) {
    const PriceTerminal* t = config_.world.findPriceTerminal(logon.connectionName);
    if (!t) return merrow::LogonReply::reject("Unknown connection '" + logon.connectionName + "'.");
    const Connection* c = config_.world.findConnection(tradeSession->logon().connectionName);
    if (!c || c->priceTerminal != t->name || tradeSession->logon().bySession)
        return merrow::LogonReply::reject("The trade session does not take prices from '" + t->name + "'.");
    if (!logon.bySessionSubId.empty() && logon.bySessionSubId != tradeSession->logon().tradingSessionSubId)
        return merrow::LogonReply::reject("The trade session is not logged in.");
    merrow::LogonReply r;
    r.accepted = true;
    r.traderId = tradeSession->traderId();
    r.userKind = tradeSession->userKind();
    r.properties.push_back({"TransportProvider", protocolName(t->protocol)});
    return r;
}

void Dealer::onSessionStarted(const merrow::ServerSessionPtr& session, bool resumed) {
    if (!resumed || !session->context())
        session->setContext(std::make_shared<SessionContext>(contextFor(session->logon())));
    log(std::string(resumed ? "resumed " : "logged on ") + session->user() + " session " + logId(session->sessionId()));
    // Prices that moved during the outage were not kept for the session: it starts
    // again from a snapshot of every offer.
    auto ctx = contextOf(session);
    if (resumed && ctx && (ctx->terminal || (ctx->connection && ctx->connection->priceTerminal.empty())))
        sendFreshPrices(session, ctx->terminal, takesLevel2(*ctx));
}

std::vector<merrow::InitialMessageText> Dealer::onResume(const merrow::ServerSessionPtr& session) {
    auto ctx = contextOf(session);
    if (!ctx || !ctx->connection) return {};
    if (ctx->connection->protocol == Protocol::Rtmp) return rtmpInitialMessages(*ctx->connection, ctx->initialCommands);
    return initialMessages(*ctx);
}

void Dealer::onSessionEnded(const merrow::ServerSessionPtr& session, merrow::SessionEnd, const std::string& text) {
    heavy_.cancel(session->sessionId());
    log("session " + logId(session->sessionId()) + " of " + session->user() + " ended: " + text);
}

std::vector<merrow::InitialMessageText> Dealer::initialMessages(const SessionContext& ctx) {
    std::vector<merrow::InitialMessageText> out;
    for (int c : ctx.initialCommands) {
        if (!isTableCommand(c)) continue;
        DasRequest r;
        r.command = c;
        std::string text;
        if (answer(ctx, r, text).isOk()) out.push_back({c, text});
    }
    return out;
}

// ---- Requests

const Instrument* Dealer::instrumentLocked(const std::string& offerId) const {
    for (const Instrument& m : instruments_)
        if (m.offerId == offerId) return &m;
    return nullptr;
}

Status Dealer::answer(const SessionContext& ctx, const DasRequest& r, std::string& text) {
    if (ctx.user.empty() || !ctx.account) return Status::error("The session has no user.");
    const User& u = *ctx.account;
    const std::string* trader = r.param("TraderID");
    const std::string* account = r.param("AcctID");
    if (trader && *trader != std::to_string(u.traderId) && (r.command == 5 || r.command == 9 || r.command == 10 || r.command == 67)) {
        text = failureAnswer(FailureCode::NotPermitted, "Unknown trader " + *trader + ".");
        return Status::ok();
    }
    const bool byAccount = r.command == 44 || r.command == 70 || (r.command == 46 && account);
    if (byAccount) {
        if (!account) return Status::error("Command " + std::to_string(r.command) + " needs the parameter AcctID.");
        if (!ownsAccount(u, *account)) {
            text = failureAnswer(FailureCode::UnknownAccount, unknownAccountText(*account));
            return Status::ok();
        }
    }
    auto mine = [&](const std::string& accountId) {
        return byAccount ? accountId == *account : ownsAccount(u, accountId);
    };
    const World& w = config_.world;
    switch (r.command) {
        case 3: {
            std::lock_guard<std::mutex> lock(stateMu_);
            text = systemPropertiesAnswer(w, *ctx.connection);
            return Status::ok();
        }
        case 139: {
            World view;
            {
                std::lock_guard<std::mutex> lock(stateMu_);
                view.instruments = instruments_;
            }
            text = instrumentsAnswer(view);
            return Status::ok();
        }
        case 138: text = accountPropertiesAnswer(w, leverageProfilesOf(w, u)); return Status::ok();
        case 9: text = offersAnswer(w, quotes()); return Status::ok();
        default: break;
    }
    std::lock_guard<std::mutex> lock(stateMu_);
    switch (r.command) {
        case 5: {
            std::vector<AccountRecord> rows;
            for (const AccountRecord& a : orders_->accounts())
                if (mine(a.accountId)) rows.push_back(a);
            text = accountsAnswer(rows);
            return Status::ok();
        }
        case 10: case 44: {
            std::vector<TradeRecord> rows;
            for (const TradeRecord& t : orders_->trades())
                if (mine(t.accountId)) rows.push_back(t);
            text = tradesAnswer(w, rows);
            return Status::ok();
        }
        case 46: {
            std::vector<OrderRecord> rows;
            for (const OrderRecord& o : orders_->orders())
                if (mine(o.accountId)) rows.push_back(o);
            text = ordersAnswer(w, rows);
            return Status::ok();
        }
        case 67: case 70: {
            std::vector<ClosedTradeRecord> rows;
            for (const ClosedTradeRecord& c : orders_->closedTrades())
                if (mine(c.accountId)) rows.push_back(c);
            text = closedTradesAnswer(w, rows);
            return Status::ok();
        }
        case 7: {
            std::vector<MessageRecord> rows;
            for (const MessageRecord& m : orders_->messages())
                if (m.user == u.name) rows.push_back(m);
            text = messagesAnswer(rows);
            return Status::ok();
        }
        default: break;
    }
    return Status::error("Unknown command " + std::to_string(r.command) + ".");
}

void Dealer::sendAnswer(const merrow::ServerSessionPtr& s, const std::string& requestId, const std::string& text) {
    // Room for the envelope; an answer that cannot fit is a failure the client can read.
    if (text.size() + 512 > s->maxPayload()) {
        MessagePtr m = dasResponse(requestId, failureAnswer(FailureCode::Internal, "The answer is too large."));
        (void)s->send(*m);
        return;
    }
    MessagePtr m = dasResponse(requestId, text);
    merrow::Status st = s->send(*m);
    if (!st.ok()) log("answer to " + requestId + " not sent: " + st.reason());
}

void Dealer::handleRequest(const merrow::ServerSessionPtr& s, const SessionContext& ctx, const merrow::IFieldGroup& m,
                           OrderBatch* batch) {
    DasRequest r;
    Status st = readDasRequest(m, r);
    std::string text;
    if (st.isOk() && (!ctx.connection || ctx.connection->protocol != Protocol::Das))
        st = Status::error("This session takes no DAS requests.");
    if (st.isOk() && (ctx.user.empty() || !ctx.account)) st = Status::error("The session has no user.");
    if (st.isOk() && OrderEngine::isOrderCommand(r.command)) {
        orderRequest(s, ctx, r, batch);
        return;
    }
    if (st.isOk() && r.command == 24) {
        // Subscription status of an offer.
        const std::string* offer = r.param("OfferID");
        const std::string* status = r.param("Status");
        if (!offer || !status) {
            st = Status::error("Command 24 needs the parameters OfferID and Status.");
        } else if (Status set = setSubscriptionStatus(*offer, *status); !set.isOk()) {
            text = failureAnswer(config_.world.findInstrument(*offer) ? FailureCode::BadRequest : FailureCode::UnknownOffer,
                                 set.text());
        } else {
            text = resultSet({});
        }
    } else if (st.isOk()) {
        st = answer(ctx, r, text);
    }
    if (!st.isOk()) {
        MessagePtr rej = requestReject(requestIdOf(m), st.text());
        (void)s->send(*rej);
        return;
    }
    // The answer waits behind the changes executed before it, so it never shows a
    // row that is not stored yet.
    std::lock_guard<std::mutex> lock(stateMu_);
    ChangeWriter none(config_.world, clock_.now());
    commitThenSend(none, s, r.requestId, std::move(text));
}

void Dealer::orderRequest(const merrow::ServerSessionPtr& s, const SessionContext& ctx, const DasRequest& r,
                          OrderBatch* batch) {
    std::lock_guard<std::mutex> lock(stateMu_);
    ChangeWriter w(config_.world, clock_.now());
    std::string answer;
    // A resend (after a reconnect) gets the first answer and executes nothing.
    if (auto prior = OrderEngine::isRemembered(r.command) ? orders_->remembered(ctx.user, r.requestId, w.now()) : std::nullopt)
        answer = *prior;
    else
        answer = orders_->request(*ctx.account, r, batch, w);
    commitThenSend(w, s, r.requestId, std::move(answer));
}

void Dealer::commitThenSend(ChangeWriter& w, merrow::ServerSessionPtr s, std::string requestId, std::string answer,
                            std::function<void(const Status&)> after) {
    std::vector<PushedUpdate> pushes = w.pushes();
    commits_->submit(std::move(w.change()), [this, s = std::move(s), id = std::move(requestId),
                                             answer = std::move(answer), pushes = std::move(pushes),
                                             after = std::move(after)](const Status& st) {
        if (after) after(st);
        if (!st.isOk()) {
            log("a change could not be stored: " + st.text());
            if (s) sendAnswer(s, id, failureAnswer(FailureCode::Internal, "The change could not be stored."));
            return;
        }
        if (s) sendAnswer(s, id, answer);
        for (const PushedUpdate& p : pushes) pushTrading(p.user, p.text);
    });
}

void Dealer::quotesToOrders(const std::vector<size_t>& instruments) {
    // Called with priceMu_ held: the engine's quotes are current.
    std::vector<OfferQuote> qs;
    for (size_t i : instruments) qs.push_back(engine_->quote(i));
    std::lock_guard<std::mutex> lock(stateMu_);
    ChangeWriter w(config_.world, clock_.now());
    // Orders past their expiry go before a new price could fill them.
    orders_->expireOrders(w);
    for (const OfferQuote& q : qs) orders_->onQuote(q, w);
    if (!w.empty()) commitThenSend(w, nullptr, {}, {});
    rolloverLocked(clock_.now());
}

void Dealer::rolloverLocked(UnixMs now) {
    if (now < nextRollover_) return;
    ChangeWriter w(config_.world, now);
    orders_->rollover(w);
    orders_->purgeRequests(now);
    if (Status s = store_->pruneRequests(now); !s.isOk()) log("pruning remembered requests failed: " + s.text());
    nextRollover_ = calendar_.nextTradingDayStart(now);
    commitThenSend(w, nullptr, {}, {});
}

Status Dealer::stepToRollover() {
    if (!clock_.isVirtual()) return Status::error("Only a virtual clock can be stepped.");
    UnixMs target;
    {
        std::lock_guard<std::mutex> lock(stateMu_);
        target = nextRollover_;
    }
    return stepClock(std::max<UnixMs>(0, target - clock_.now()));
}

Status Dealer::commitAndWait(const std::function<Status(ChangeWriter&)>& change) {
    auto stored = std::make_shared<std::promise<Status>>();
    std::future<Status> done = stored->get_future();
    {
        std::lock_guard<std::mutex> lock(stateMu_);
        ChangeWriter w(config_.world, clock_.now());
        if (Status s = change(w); !s.isOk()) return s;
        commitThenSend(w, nullptr, {}, {}, [stored](const Status& st) { stored->set_value(st); });
    }
    return done.get();
}

Status Dealer::raiseMarginCall(const std::string& accountId) {
    return commitAndWait([&](ChangeWriter& w) { return orders_->marginCall(accountId, true, w); });
}

void Dealer::handleMarketData(const merrow::ServerSessionPtr& s, const merrow::IFieldGroup& m) {
    MarketDataRequest r;
    int reason = 0;
    Status st = readMarketDataRequest(m, r, reason);
    HistoryRequest h;
    int digits = 5;
    if (st.isOk() && r.responseFormat != Fx::MSGTYPE_QORARESPONSE) {
        reason = Fx::MDREQREJREASON_UNSUPPORTED_MDUPDATETYPE;
        st = Status::error(std::string("Price history is answered only as ") + Fx::MSGTYPE_QORARESPONSE + ".");
    }
    if (st.isOk()) {
        const Instrument* ins = config_.world.findInstrumentBySymbol(r.symbol);
        if (!ins) ins = config_.world.findInstrument(r.symbol);
        if (!ins) {
            reason = Fx::MDREQREJREASON_UNKNOWN_SYMBOL;
            st = Status::error("Unknown instrument '" + r.symbol + "'.");
        } else {
            h.offerId = ins->offerId;
            digits = ins->digits;
        }
    }
    if (!st.isOk()) {
        MessagePtr rej = marketDataReject(requestIdOf(m), reason, st.text());
        (void)s->send(*rej);
        return;
    }
    h.timeframe = r.timeframe;
    h.from = r.from;
    h.to = r.to;
    h.count = std::min(r.count, HistoryGenerator::kMaxBars);
    h.includeWeekends = r.includeWeekends;
    // Thousands of bars are built off the I/O threads, which serve every session.
    const UnixMs now = clock_.now();
    if (!heavy_.submit(s->sessionId(), [this, s, r, h, digits, now] { answerHistory(s, r, h, digits, now); })) {
        MessagePtr rej = marketDataReject(r.requestId, Fx::MDREQREJREASON_INSUFFICIENT_BANDWIDTH,
                                          "Too many price-history requests of this session are waiting (at most " +
                                              std::to_string(heavy_.perOwner()) + "); ask again when they are answered.");
        (void)s->send(*rej);
    }
}

void Dealer::answerHistory(const merrow::ServerSessionPtr& s, const MarketDataRequest& r, const HistoryRequest& h,
                           int digits, UnixMs now) {
    if (s->ended()) return;
    std::vector<Bar> bars;
    if (Status st = history_->bars(h, now, &tape_, bars); !st.isOk()) {
        MessagePtr rej = marketDataReject(r.requestId, Fx::MDREQREJREASON_UNKNOWN_SYMBOL, st.text());
        (void)s->send(*rej);
        return;
    }
    std::string text = barLines(bars, digits);
    while (!bars.empty() && text.size() + 512 > s->maxPayload()) {
        bars.erase(bars.begin(), bars.begin() + static_cast<long>((bars.size() + 1) / 2));
        text = barLines(bars, digits);
    }
    MessagePtr resp = dasResponse(r.requestId, text);
    resp->setValue(Fx::FLDTAG_SYMBOL, r.symbol.c_str());
    if (!bars.empty()) {
        merrow::CUTCTimestamp ts(toSerial(bars.back().time));
        resp->setValue(Fx::FLDTAG_LAST_MINUTE, ts.getText());
        resp->setIntValue(Fx::FLDTAG_LAST_MINUTE_VOLUME, bars.back().volume);
    } else {
        resp->setValue(Fx::FLDTAG_LAST_MINUTE, "");
        resp->setIntValue(Fx::FLDTAG_LAST_MINUTE_VOLUME, 0);
    }
    merrow::Status sent = s->send(*resp);
    if (!sent.ok()) log("history answer to " + r.requestId + " not sent: " + sent.reason());
}

void Dealer::onMessage(const merrow::ServerSessionPtr& session, const merrow::IMessage& message, int) {
    auto ctx = contextOf(session);
    if (!ctx) ctx = std::make_shared<SessionContext>(contextFor(session->logon()));
    const std::string type = message.getMsgType();
    if (type == Fx::MSGTYPE_QORAREQUEST) {
        handleRequest(session, *ctx, message, nullptr);
    } else if (type == Fx::MSGTYPE_QORAREQUESTBATCH) {
        merrow::IFieldGroupList* members = message.getGroupList(Fx::FLDTAG_EMBMSG);
        if (!members || members->size() == 0) {
            MessagePtr rej = requestReject(requestIdOf(message), "The batch holds no requests.");
            (void)session->send(*rej);
            return;
        }
        if (members->size() > kMaxBatchMembers) {
            // Nothing of it runs: one reject per member, as the client waits on each.
            // Far beyond the bound even that would flood the client, so the session ends.
            const std::string why = "A batch holds at most " + std::to_string(kMaxBatchMembers) +
                                    " requests; this one holds " + std::to_string(members->size()) + ".";
            if (members->size() > kMaxRejectedBatchMembers) {
                log("session " + logId(session->sessionId()) + " of " + session->user() + " closed: " + why);
                session->close(merrow::CloseReason::kNormal, why + " The session was closed.");
                return;
            }
            for (int i = 0; i < members->size(); ++i) {
                merrow::IFieldGroup* g = members->get(i);
                MessagePtr rej = requestReject(g ? requestIdOf(*g) : std::string(), why);
                (void)session->send(*rej);
            }
            return;
        }
        OrderBatch batch;  // OCO members share a group; OTO children find their primary
        for (int i = 0; i < members->size(); ++i) {
            merrow::IFieldGroup* g = members->get(i);
            merrow::IMessage* member = g ? g->asMessage() : nullptr;
            if (member && std::string(member->getMsgType()) == Fx::MSGTYPE_QORAREQUEST) {
                handleRequest(session, *ctx, *member, &batch);
            } else {
                MessagePtr rej = requestReject(g ? requestIdOf(*g) : std::string(), "A batch member is not a request.");
                (void)session->send(*rej);
            }
        }
    } else if (type == Fx::MSGTYPE_MARKETDATAREQUEST) {
        if (ctx->connection && ctx->connection->protocol == Protocol::Rtmp) {
            MessagePtr rej = marketDataReject(requestIdOf(message), Fx::MDREQREJREASON_UNSUPPORTED_MDUPDATETYPE,
                                              "Price history is not offered over RTMP.");
            (void)session->send(*rej);
            return;
        }
        handleMarketData(session, message);
    } else if (type == Fx::MSGTYPE_QORAXMLMESSAGE) {
        handleXml(session, ctx->connection, message);
    } else {
        MessagePtr rej = requestReject(requestIdOf(message), "Unknown message type '" + type + "'.");
        (void)session->send(*rej);
    }
}

// ---- Control

std::vector<merrow::ServerSessionPtr> Dealer::targets(const std::string& target) const {
    std::vector<merrow::ServerSessionPtr> out;
    for (const merrow::ServerSessionPtr& s : server_->sessions())
        if (target.empty() || s->sessionId() == target || s->user() == target) out.push_back(s);
        else if (auto ctx = contextOf(s); ctx && ctx->user == target) out.push_back(s);
    return out;
}

size_t Dealer::cut(const std::string& target) {
    auto list = targets(target);
    for (auto& s : list) s->cut();
    return list.size();
}

size_t Dealer::cutPrices(const std::string& target) {
    size_t n = 0;
    for (auto& s : targets(target))
        if (auto ctx = contextOf(s); ctx && ctx->terminal) {
            s->cut();
            ++n;
        }
    return n;
}

size_t Dealer::closeTargets(const std::string& target, merrow::CloseReason reason, const std::string& text) {
    auto list = targets(target);
    for (auto& s : list) s->close(reason, text);
    return list.size();
}

size_t Dealer::logout(const std::string& target) {
    return closeTargets(target, merrow::CloseReason::kNormal, "The session was closed by the dealer.");
}
size_t Dealer::expire(const std::string& target) {
    return closeTargets(target, merrow::CloseReason::kExpired, "The session has expired.");
}
size_t Dealer::shutdownNotice(const std::string& target) {
    return closeTargets(target, merrow::CloseReason::kShutdown, "The server is shutting down.");
}
size_t Dealer::forceRelogin(const std::string& target) {
    return closeTargets(target, merrow::CloseReason::kForcedRelogin, "Please log in again.");
}

void Dealer::pushTrading(const std::string& user, const std::string& text) {
    MessagePtr m = dasMessage(text);
    for (const merrow::ServerSessionPtr& s : server_->sessions()) {
        auto ctx = contextOf(s);
        if (!ctx || !ctx->connection || ctx->connection->protocol != Protocol::Das) continue;
        if (!user.empty() && ctx->user != user) continue;
        (void)s->send(*m);
    }
}

Status Dealer::setTradingStatus(const std::string& offerId, const std::string& status) {
    std::string line;
    {
        std::lock_guard<std::mutex> lock(stateMu_);
        for (Instrument& m : instruments_)
            if (m.offerId == offerId) {
                m.tradingStatus = status;
                line = instrumentLine(m);
            }
    }
    if (line.empty()) return Status::error(unknownOfferText(offerId));
    pushTrading("", UpdateText(clock_.now()).add(TableCode::Instrument, UpdateKind::Update, line).str());
    return Status::ok();
}

Status Dealer::setSubscriptionStatus(const std::string& offerId, const std::string& status) {
    if (status != "T" && status != "D" && status != "V")
        return Status::error("The subscription status must be T, D or V.");
    std::string line;
    {
        std::lock_guard<std::mutex> lock(stateMu_);
        for (Instrument& m : instruments_)
            if (m.offerId == offerId) {
                m.subscriptionStatus = status;
                line = instrumentLine(m);
            }
    }
    if (line.empty()) return Status::error(unknownOfferText(offerId));
    pushTrading("", UpdateText(clock_.now()).add(TableCode::Instrument, UpdateKind::Update, line).str());
    return Status::ok();
}

Status Dealer::sendMessage(const std::string& user, const std::string& subject, const std::string& text, bool html) {
    if (!config_.world.findUser(user)) return Status::error("Unknown user '" + user + "'.");
    return commitAndWait([&](ChangeWriter& w) {
        orders_->message(user, subject, text, html, w);
        return Status::ok();
    });
}

DealerStats Dealer::stats() const {
    DealerStats st;
    for (const merrow::ServerSessionPtr& s : server_->sessions()) {
        ++st.sessions;
        st.queuedFrames += s->queuedFrames();
    }
    st.ticksSent = ticksSent_.load();
    if (commits_) st.commits = commits_->transactions();
    std::lock_guard<std::mutex> lock(stateMu_);
    st.ordersExecuted = orders_->executed();
    return st;
}

} // namespace pellora::dealer
