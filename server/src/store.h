#pragma once
// The dealer's persistent state in SQLite, write-ahead-log mode with synchronous=FULL:
// WAL alone survives a killed process, and FULL adds an fsync of the log at each
// commit so that an acknowledged change also survives a power loss or an OS crash.
// The cost is one fsync per change; prices are saved in batches (about once a
// second) rather than per tick.
//
// Rows are kept as JSON documents keyed by their IDs (plus the account or user they
// belong to), so a new column is a new JSON field rather than a migration.
//
// [Threading] Thread-safe: one internal mutex serialises every call.
// [Durability] apply() returns only after its transaction committed; a failed apply
// leaves nothing of the change behind.

#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "price_engine.h"
#include "records.h"
#include "status.h"
#include "world.h"

struct sqlite3;

namespace pellora::dealer {

class StmtCache;

// An answered request, remembered so that a resend gets the same answer.
struct RememberedRequest {
    std::string user;
    std::string requestId;
    UnixMs answeredAt = 0;
    std::string answer;
};

struct StoredState {
    std::vector<AccountRecord> accounts;
    std::vector<OrderRecord> orders;
    std::vector<TradeRecord> trades;
    std::vector<ClosedTradeRecord> closedTrades;
    std::vector<MessageRecord> messages;
    std::vector<RememberedRequest> requests;  // those younger than kRequestMemory
    std::vector<PriceState> prices;
    std::optional<TickSchedule> schedule;
    std::map<std::string, std::string> meta;  // counters and settings of the wiring
};

// One change of state, written in one transaction. Rows are inserted or replaced.
struct Change {
    std::vector<AccountRecord> accounts;
    std::vector<OrderRecord> orders;
    std::vector<std::string> removedOrders;
    std::vector<TradeRecord> trades;
    std::vector<std::string> removedTrades;
    std::vector<ClosedTradeRecord> closedTrades;
    std::vector<MessageRecord> messages;
    std::vector<std::string> removedMessages;
    std::vector<RememberedRequest> requests;
    std::vector<PriceState> prices;
    std::optional<TickSchedule> schedule;
    std::map<std::string, std::string> meta;
};

class Store {
public:
    static constexpr UnixMs kRequestMemory = 24 * kMsPerHour;

    // Opens or creates the database file and its schema.
    static Status open(const std::string& path, std::unique_ptr<Store>& out);
    ~Store();
    Store(const Store&) = delete;
    Store& operator=(const Store&) = delete;

    // True once seed() has run on this database.
    bool seeded();
    // Writes the world's accounts and starting state and the first prices; a store
    // that is already seeded refuses.
    Status seed(const World& world, const std::vector<PriceState>& prices, const TickSchedule& schedule);

    // Reads everything, dropping remembered requests older than kRequestMemory.
    Status load(UnixMs now, StoredState& out);
    Status apply(const Change& change);
    // Several changes in one transaction, in order (group commit): all or none.
    Status applyAll(const std::vector<const Change*>& changes);

    // The remembered answer of a request younger than kRequestMemory, if any.
    Status findRequest(const std::string& user, const std::string& requestId, UnixMs now,
                       std::optional<std::string>& answer);
    Status pruneRequests(UnixMs now);

private:
    explicit Store(sqlite3* db);
    Status exec(const char* sql);
    Status applyAllLocked(const std::vector<const Change*>& changes);  // inside BEGIN; ends with COMMIT
    Status writeMeta(const std::map<std::string, std::string>& meta);

    std::mutex mu_;
    sqlite3* db_;                      // guarded by mu_
    std::unique_ptr<StmtCache> cache_;  // guarded by mu_
};

} // namespace pellora::dealer
