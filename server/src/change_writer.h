#pragma once
// One change of the dealer's state as it leaves the order engine: the rows to store
// (a Store Change, committed in one transaction) and the rows to push, as one update
// text per user holding every row the change touched, in the order it touched them,
// each account once at the end (its balance and margin after the whole change).
// Plain value; one owner, no thread rules of its own.

#include <map>
#include <string>
#include <vector>

#include "answer_texts.h"
#include "store.h"

namespace pellora::dealer {

struct PushedUpdate {
    std::string user;
    std::string text;  // the update text (line 0 with the server time, one row per line)
};

class ChangeWriter {
public:
    // Digits come from the world's instruments; now stamps the pushed updates.
    ChangeWriter(const World& world, UnixMs now) : world_(&world), now_(now) {}

    void order(const std::string& user, UpdateKind kind, const OrderRecord& o);
    void trade(const std::string& user, UpdateKind kind, const TradeRecord& t);
    void closedTrade(const std::string& user, const ClosedTradeRecord& c);
    // Stored at once; pushed once, at the end of the user's rows.
    void account(const std::string& user, const AccountRecord& a);
    void message(const MessageRecord& m);
    void remember(const RememberedRequest& r) { change_.requests.push_back(r); }
    void meta(const std::string& key, const std::string& value) { change_.meta[key] = value; }

    UnixMs now() const { return now_; }
    bool empty() const;
    Change& change() { return change_; }
    // The update texts, one per user, in the order users were first touched.
    std::vector<PushedUpdate> pushes() const;

private:
    struct UserRows {
        std::string user;
        std::vector<std::string> lines;                  // "<code>;<kind>;<fields>"
        std::vector<std::string> accountIds;             // pushed last, in first-touch order
    };
    UserRows& rowsOf(const std::string& user);
    void line(const std::string& user, TableCode table, UpdateKind kind, const std::string& fields);

    const World* world_;
    UnixMs now_;
    Change change_;
    std::vector<UserRows> users_;
    std::map<std::string, AccountRecord> accounts_;  // the latest row of each account touched
};

} // namespace pellora::dealer
