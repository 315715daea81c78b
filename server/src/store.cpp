#include "store.h"

#include <sqlite3.h>

#include <nlohmann/json.hpp>

namespace pellora::dealer {

NLOHMANN_DEFINE_TYPE_NON_INTRUSIVE_WITH_DEFAULT(AccountRecord, accountId, accountName, accountKind, balance, usedMargin,
                                                usedMargin3, marginCallFlag, lastMarginCallDate, m2mEquity,
                                                nonTradeEquity, managerAccountId, maintenanceType, amountLimit,
                                                baseUnitSize, maintenanceFlag, leverageProfileId)
NLOHMANN_DEFINE_TYPE_NON_INTRUSIVE_WITH_DEFAULT(OrderRecord, orderId, requestId, requestTxt, statusTime, lifetime, rate,
                                                tradeId, accountId, accountName, offerId, buySell, amount, stage,
                                                atMarket, accountKind, trailStep, trailRate, timeInForce, type, status,
                                                originAmount, filledAmount, executionRate, workingIndicator,
                                                contingentOrderId, pegOffset, rateMin, rateMax, pegType, netQuantity,
                                                contingencyType, primaryId, expireDate, valueDate, parties)
NLOHMANN_DEFINE_TYPE_NON_INTRUSIVE_WITH_DEFAULT(TradeRecord, tradeId, accountId, accountName, offerId, rolloverInterest,
                                                commission, openTime, openRate, openQuoteId, buySell, amount,
                                                usedMargin, accountKind, openOrderId, openOrderReqId,
                                                openOrderRequestTxt, tradeIdOrigin, valueDate, parties)
NLOHMANN_DEFINE_TYPE_NON_INTRUSIVE_WITH_DEFAULT(ClosedTradeRecord, tradeId, accountId, accountName, offerId,
                                                rolloverInterest, commission, grossPL, openTime, closeTime, openRate,
                                                openQuoteId, closeRate, closeQuoteId, buySell, amount, accountKind,
                                                openOrderId, openOrderReqId, openOrderRequestTxt, closeOrderId,
                                                closeOrderReqId, closeOrderRequestTxt, tradeIdOrigin, valueDate,
                                                tradeIdRemain, openOrderParties, closeOrderParties)
NLOHMANN_DEFINE_TYPE_NON_INTRUSIVE_WITH_DEFAULT(MessageRecord, msgId, user, time, from, type, feature, text, subject)
NLOHMANN_DEFINE_TYPE_NON_INTRUSIVE_WITH_DEFAULT(PriceState, offerId, bidUnits, askUnits, highUnits, lowUnits,
                                                tickIndex, dayVolume, time, dayStart)

namespace {

const char* kSchema = R"(
CREATE TABLE IF NOT EXISTS meta(key TEXT PRIMARY KEY, value TEXT NOT NULL);
CREATE TABLE IF NOT EXISTS accounts(account_id TEXT PRIMARY KEY, data TEXT NOT NULL);
CREATE TABLE IF NOT EXISTS orders(order_id TEXT PRIMARY KEY, account_id TEXT NOT NULL, data TEXT NOT NULL);
CREATE TABLE IF NOT EXISTS trades(trade_id TEXT PRIMARY KEY, account_id TEXT NOT NULL, data TEXT NOT NULL);
CREATE TABLE IF NOT EXISTS closed_trades(trade_id TEXT PRIMARY KEY, account_id TEXT NOT NULL, data TEXT NOT NULL);
CREATE TABLE IF NOT EXISTS messages(msg_id TEXT PRIMARY KEY, user_name TEXT NOT NULL, data TEXT NOT NULL);
CREATE TABLE IF NOT EXISTS requests(user_name TEXT NOT NULL, request_id TEXT NOT NULL, answered_at INTEGER NOT NULL,
                                    answer TEXT NOT NULL, PRIMARY KEY(user_name, request_id));
CREATE INDEX IF NOT EXISTS requests_by_time ON requests(answered_at);
CREATE TABLE IF NOT EXISTS prices(offer_id TEXT PRIMARY KEY, data TEXT NOT NULL);
)";

constexpr const char* kSeededKey = "seeded";
constexpr const char* kScheduleKey = "tick_schedule";

// A prepared statement that finalizes itself, or one borrowed from the store's
// cache, which is only reset (the writes of a change reuse their statements).
class Stmt {
public:
    Stmt(sqlite3* db, const char* sql) : db_(db) { rc_ = sqlite3_prepare_v2(db, sql, -1, &st_, nullptr); }
    Stmt(sqlite3* db, sqlite3_stmt* cached) : db_(db), st_(cached), owned_(false) {
        if (!st_) rc_ = SQLITE_ERROR;
    }
    ~Stmt() {
        if (owned_) {
            sqlite3_finalize(st_);
        } else if (st_) {
            sqlite3_reset(st_);
            sqlite3_clear_bindings(st_);
        }
    }
    Stmt(const Stmt&) = delete;
    Stmt& operator=(const Stmt&) = delete;

    bool ok() const { return rc_ == SQLITE_OK && st_; }
    Stmt& bind(int i, const std::string& v) {
        if (ok()) rc_ = sqlite3_bind_text(st_, i, v.data(), static_cast<int>(v.size()), SQLITE_TRANSIENT);
        return *this;
    }
    Stmt& bind(int i, int64_t v) {
        if (ok()) rc_ = sqlite3_bind_int64(st_, i, v);
        return *this;
    }
    // SQLITE_ROW, SQLITE_DONE or an error code.
    int step() { return ok() ? sqlite3_step(st_) : rc_; }
    // Runs a statement that returns no rows, ready for the next bindings.
    Status run() {
        const int rc = step();
        if (rc != SQLITE_DONE) return error();
        sqlite3_reset(st_);
        sqlite3_clear_bindings(st_);
        return Status::ok();
    }
    std::string text(int col) const {
        const unsigned char* p = sqlite3_column_text(st_, col);
        return p ? std::string(reinterpret_cast<const char*>(p), static_cast<size_t>(sqlite3_column_bytes(st_, col))) : "";
    }
    int64_t integer(int col) const { return sqlite3_column_int64(st_, col); }
    Status error() const { return Status::error(std::string("database: ") + sqlite3_errmsg(db_)); }

private:
    sqlite3* db_;
    sqlite3_stmt* st_ = nullptr;
    bool owned_ = true;
    int rc_ = SQLITE_OK;
};

template <class T>
Status decode(const std::string& table, const std::string& key, const std::string& text, T& out) {
    try {
        out = nlohmann::json::parse(text).get<T>();
        return Status::ok();
    } catch (const nlohmann::json::exception& e) {
        return Status::error("database: row '" + key + "' of " + table + " is unreadable (" + e.what() + ")");
    }
}

template <class T>
Status readAll(sqlite3* db, const char* table, const char* sql, std::vector<T>& out) {
    Stmt st(db, sql);
    int rc;
    while ((rc = st.step()) == SQLITE_ROW) {
        T row;
        if (Status s = decode(table, st.text(0), st.text(1), row); !s.isOk()) return s;
        out.push_back(std::move(row));
    }
    return rc == SQLITE_DONE ? Status::ok() : st.error();
}

} // namespace

// Statements of the writes, prepared once per database.
class StmtCache {
public:
    explicit StmtCache(sqlite3* db) : db_(db) {}
    ~StmtCache() {
        for (auto& [sql, st] : map_) sqlite3_finalize(st);
    }
    sqlite3* db() const { return db_; }
    sqlite3_stmt* get(const char* sql) {
        auto it = map_.find(sql);
        if (it != map_.end()) return it->second;
        sqlite3_stmt* st = nullptr;
        if (sqlite3_prepare_v3(db_, sql, -1, SQLITE_PREPARE_PERSISTENT, &st, nullptr) != SQLITE_OK) {
            sqlite3_finalize(st);
            return nullptr;
        }
        map_[sql] = st;
        return st;
    }

private:
    sqlite3* db_;
    std::map<std::string, sqlite3_stmt*> map_;
};

namespace {

// A row as its JSON text. Texts from clients need not be UTF-8: invalid bytes are
// stored as U+FFFD rather than failing the whole group of changes.
template <class T>
std::string jsonText(const T& row) {
    return nlohmann::json(row).dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

// The last word of a group of changes on each row of a table: the row to write, or
// null when the row is removed. Applying only that leaves the table as applying every
// change in turn would, without writing rows that a later step replaces or removes
// (an order filled at once is both written and removed by its own change).
template <class Row>
using LastWord = std::map<std::string, const Row*>;

template <class Row, class Key>
void settle(LastWord<Row>& last, const std::vector<Row>& rows, const std::vector<std::string>* removed, Key key) {
    for (const Row& r : rows) last[key(r)] = &r;
    if (removed)
        for (const std::string& id : *removed) last[id] = nullptr;
}

template <class Row, class Owner>
Status writeSettled(StmtCache& cache, const char* upsertSql, const char* removeSql, const LastWord<Row>& last,
                    Owner owner) {
    for (const auto& [id, row] : last) {
        Status s = Status::ok();
        if (row) {
            Stmt st(cache.db(), cache.get(upsertSql));
            s = st.bind(1, id).bind(2, owner(*row)).bind(3, jsonText(*row)).run();
        } else {
            Stmt st(cache.db(), cache.get(removeSql));
            s = st.bind(1, id).run();
        }
        if (!s.isOk()) return s;
    }
    return Status::ok();
}

} // namespace

Status Store::open(const std::string& path, std::unique_ptr<Store>& out) {
    sqlite3* db = nullptr;
    const int rc = sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX,
                                   nullptr);
    if (rc != SQLITE_OK) {
        const std::string why = db ? sqlite3_errmsg(db) : "out of memory";
        sqlite3_close(db);
        return Status::error(path + ": cannot open the database (" + why + ")");
    }
    std::unique_ptr<Store> store(new Store(db));
    sqlite3_busy_timeout(db, 5000);
    {
        Stmt mode(db, "PRAGMA journal_mode=WAL");
        if (mode.step() != SQLITE_ROW || mode.text(0) != "wal")
            return Status::error(path + ": the database cannot use write-ahead logging (" + sqlite3_errmsg(db) + ")");
    }
    for (const char* sql : {"PRAGMA synchronous=FULL", kSchema})
        if (Status s = store->exec(sql); !s.isOk()) return s.context(path + ": ");
    out = std::move(store);
    return Status::ok();
}

Store::Store(sqlite3* db) : db_(db), cache_(std::make_unique<StmtCache>(db)) {}

Store::~Store() {
    cache_.reset();
    sqlite3_close(db_);
}

Status Store::exec(const char* sql) {
    char* err = nullptr;
    if (sqlite3_exec(db_, sql, nullptr, nullptr, &err) == SQLITE_OK) return Status::ok();
    const std::string why = err ? err : sqlite3_errmsg(db_);
    sqlite3_free(err);
    return Status::error("database: " + why);
}

bool Store::seeded() {
    std::lock_guard<std::mutex> lock(mu_);
    Stmt st(db_, "SELECT 1 FROM meta WHERE key = ?");
    return st.bind(1, std::string(kSeededKey)).step() == SQLITE_ROW;
}

Status Store::seed(const World& world, const std::vector<PriceState>& prices, const TickSchedule& schedule) {
    if (seeded()) return Status::error("database: already holds a state; it is not seeded again");
    Change c;
    for (const Account& a : world.accounts) c.accounts.push_back(initialAccountRecord(a));
    c.trades = world.startingState.trades;
    c.orders = world.startingState.orders;
    c.closedTrades = world.startingState.closedTrades;
    c.messages = world.startingState.messages;
    c.prices = prices;
    c.schedule = schedule;
    c.meta[kSeededKey] = "1";
    return apply(c);
}

Status Store::apply(const Change& change) { return applyAll({&change}); }

Status Store::applyAll(const std::vector<const Change*>& changes) {
    std::lock_guard<std::mutex> lock(mu_);
    if (Status s = exec("BEGIN IMMEDIATE"); !s.isOk()) return s;
    // Nothing may leave the transaction open: a failure of any kind rolls it back.
    Status s = Status::ok();
    try {
        s = applyAllLocked(changes);
    } catch (const std::exception& e) {
        s = Status::error(std::string("database: a change could not be written (") + e.what() + ")");
    }
    if (!s.isOk()) (void)exec("ROLLBACK");
    return s;
}

Status Store::applyAllLocked(const std::vector<const Change*>& changes) {
    // Counters and settings repeat in every change of a group: each key is written
    // once, with the value of the last change that set it. Rows likewise: each is
    // written or removed once, as the last change of the group left it.
    std::map<std::string, std::string> meta;
    LastWord<AccountRecord> accounts;
    LastWord<OrderRecord> orders;
    LastWord<TradeRecord> trades;
    LastWord<ClosedTradeRecord> closedTrades;
    LastWord<MessageRecord> messages;
    LastWord<PriceState> prices;
    for (const Change* c : changes) {
        settle(accounts, c->accounts, nullptr, [](const AccountRecord& r) { return r.accountId; });
        settle(orders, c->orders, &c->removedOrders, [](const OrderRecord& r) { return r.orderId; });
        settle(trades, c->trades, &c->removedTrades, [](const TradeRecord& r) { return r.tradeId; });
        settle(closedTrades, c->closedTrades, nullptr, [](const ClosedTradeRecord& r) { return r.tradeId; });
        settle(messages, c->messages, &c->removedMessages, [](const MessageRecord& r) { return r.msgId; });
        settle(prices, c->prices, nullptr, [](const PriceState& r) { return r.offerId; });
        for (const auto& [k, v] : c->meta) meta[k] = v;
        if (c->schedule)
            meta[kScheduleKey] = std::to_string(c->schedule->origin) + " " + std::to_string(c->schedule->nextTick);
    }
    const auto none = [](const auto&) { return std::string(); };
    Status s = writeSettled(*cache_, "INSERT OR REPLACE INTO accounts(account_id, data) VALUES(?1, ?3)",
                            "DELETE FROM accounts WHERE account_id = ?", accounts, none);
    if (s.isOk())
        s = writeSettled(*cache_, "INSERT OR REPLACE INTO orders VALUES(?1, ?2, ?3)",
                         "DELETE FROM orders WHERE order_id = ?", orders,
                         [](const OrderRecord& r) { return r.accountId; });
    if (s.isOk())
        s = writeSettled(*cache_, "INSERT OR REPLACE INTO trades VALUES(?1, ?2, ?3)",
                         "DELETE FROM trades WHERE trade_id = ?", trades,
                         [](const TradeRecord& r) { return r.accountId; });
    if (s.isOk())
        s = writeSettled(*cache_, "INSERT OR REPLACE INTO closed_trades VALUES(?1, ?2, ?3)",
                         "DELETE FROM closed_trades WHERE trade_id = ?", closedTrades,
                         [](const ClosedTradeRecord& r) { return r.accountId; });
    if (s.isOk())
        s = writeSettled(*cache_, "INSERT OR REPLACE INTO messages VALUES(?1, ?2, ?3)",
                         "DELETE FROM messages WHERE msg_id = ?", messages,
                         [](const MessageRecord& r) { return r.user; });
    if (s.isOk())
        s = writeSettled(*cache_, "INSERT OR REPLACE INTO prices(offer_id, data) VALUES(?1, ?3)",
                         "DELETE FROM prices WHERE offer_id = ?", prices, none);
    if (s.isOk()) {
        Stmt st(db_, cache_->get("INSERT OR REPLACE INTO requests VALUES(?, ?, ?, ?)"));
        for (const Change* c : changes) {
            for (const RememberedRequest& r : c->requests)
                if (s = st.bind(1, r.user).bind(2, r.requestId).bind(3, r.answeredAt).bind(4, r.answer).run();
                    !s.isOk())
                    break;
            if (!s.isOk()) break;
        }
    }
    if (s.isOk()) s = writeMeta(meta);
    if (s.isOk()) s = exec("COMMIT");
    return s;
}

Status Store::writeMeta(const std::map<std::string, std::string>& meta) {
    if (meta.empty()) return Status::ok();
    Stmt st(db_, cache_->get("INSERT OR REPLACE INTO meta VALUES(?, ?)"));
    for (const auto& [k, v] : meta)
        if (Status s = st.bind(1, k).bind(2, v).run(); !s.isOk()) return s;
    return Status::ok();
}

Status Store::load(UnixMs now, StoredState& out) {
    if (Status s = pruneRequests(now); !s.isOk()) return s;
    std::lock_guard<std::mutex> lock(mu_);
    StoredState st;
    Status s = readAll(db_, "accounts", "SELECT account_id, data FROM accounts ORDER BY account_id", st.accounts);
    if (s.isOk()) s = readAll(db_, "orders", "SELECT order_id, data FROM orders ORDER BY rowid", st.orders);
    if (s.isOk()) s = readAll(db_, "trades", "SELECT trade_id, data FROM trades ORDER BY rowid", st.trades);
    if (s.isOk())
        s = readAll(db_, "closed_trades", "SELECT trade_id, data FROM closed_trades ORDER BY rowid", st.closedTrades);
    if (s.isOk()) s = readAll(db_, "messages", "SELECT msg_id, data FROM messages ORDER BY rowid", st.messages);
    if (s.isOk()) s = readAll(db_, "prices", "SELECT offer_id, data FROM prices ORDER BY offer_id", st.prices);
    if (!s.isOk()) return s;
    {
        Stmt q(db_, "SELECT user_name, request_id, answered_at, answer FROM requests ORDER BY answered_at");
        int rc;
        while ((rc = q.step()) == SQLITE_ROW) st.requests.push_back({q.text(0), q.text(1), q.integer(2), q.text(3)});
        if (rc != SQLITE_DONE) return q.error();
    }
    {
        Stmt q(db_, "SELECT key, value FROM meta");
        int rc;
        while ((rc = q.step()) == SQLITE_ROW) st.meta[q.text(0)] = q.text(1);
        if (rc != SQLITE_DONE) return q.error();
    }
    if (auto it = st.meta.find(kScheduleKey); it != st.meta.end()) {
        long long origin = 0, next = 0;
        if (std::sscanf(it->second.c_str(), "%lld %lld", &origin, &next) != 2)
            return Status::error("database: the stored tick schedule is unreadable");
        st.schedule = TickSchedule{origin, next};
        st.meta.erase(it);
    }
    out = std::move(st);
    return Status::ok();
}

Status Store::findRequest(const std::string& user, const std::string& requestId, UnixMs now,
                          std::optional<std::string>& answer) {
    std::lock_guard<std::mutex> lock(mu_);
    Stmt q(db_, "SELECT answer FROM requests WHERE user_name = ? AND request_id = ? AND answered_at > ?");
    const int rc = q.bind(1, user).bind(2, requestId).bind(3, now - kRequestMemory).step();
    if (rc == SQLITE_ROW) answer = q.text(0);
    else if (rc == SQLITE_DONE) answer.reset();
    else return q.error();
    return Status::ok();
}

Status Store::pruneRequests(UnixMs now) {
    std::lock_guard<std::mutex> lock(mu_);
    Stmt st(db_, "DELETE FROM requests WHERE answered_at <= ?");
    return st.bind(1, now - kRequestMemory).run();
}

} // namespace pellora::dealer
