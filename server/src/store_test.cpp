#include "store.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "demo_world.h"

namespace pellora::dealer {
namespace {

namespace fs = std::filesystem;

const UnixMs kNow = makeUtc(2024, 7, 2, 10);

class StoreTest : public ::testing::Test {
protected:
    void SetUp() override {
        char tmpl[] = "/tmp/dealer-store-XXXXXX";
        ASSERT_TRUE(mkdtemp(tmpl));
        dir = tmpl;
    }
    void TearDown() override { fs::remove_all(dir); }

    std::unique_ptr<Store> open(const std::string& name = "state.db") {
        std::unique_ptr<Store> s;
        const Status st = Store::open(dir + "/" + name, s);
        EXPECT_TRUE(st.isOk()) << st.text();
        return s;
    }

    std::string dir;
    World world = demoWorld();
};

OrderRecord order(const char* id, const char* account) {
    OrderRecord o;
    o.orderId = id;
    o.accountId = account;
    o.offerId = "1";
    o.type = "SE";
    o.buySell = "B";
    o.amount = 3000;
    o.rate = 1.2345;
    o.statusTime = kNow;
    return o;
}

TEST_F(StoreTest, SeedsOnceFromTheWorld) {
    auto store = open();
    EXPECT_FALSE(store->seeded());
    PriceState p;
    p.offerId = "1";
    p.bidUnits = 108450;
    p.askUnits = 108458;
    ASSERT_TRUE(store->seed(world, {p}, TickSchedule{kNow, 17}).isOk());
    EXPECT_TRUE(store->seeded());
    EXPECT_FALSE(store->seed(world, {}, TickSchedule{}).isOk());

    StoredState st;
    ASSERT_TRUE(store->load(kNow, st).isOk());
    ASSERT_EQ(st.accounts.size(), world.accounts.size());
    EXPECT_EQ(st.accounts[0].accountId, "01001");
    EXPECT_EQ(st.accounts[0].balance, 50000);
    EXPECT_EQ(st.accounts[0].leverageProfileId, "1");
    ASSERT_EQ(st.prices.size(), 1u);
    EXPECT_EQ(st.prices[0].askUnits, 108458);
    ASSERT_TRUE(st.schedule.has_value());
    EXPECT_EQ(st.schedule->nextTick, 17);
}

// The server may be killed at any moment after apply() returned: a copy of the files
// taken while the first connection is still open (no checkpoint, no clean close)
// must hold every committed change.
TEST_F(StoreTest, CommittedChangesSurviveWithoutACleanClose) {
    auto store = open();
    ASSERT_TRUE(store->seed(world, {}, TickSchedule{kNow, 0}).isOk());

    Change c1;
    c1.orders = {order("100", "01001"), order("101", "01002")};
    TradeRecord t;
    t.tradeId = "T1";
    t.accountId = "01001";
    t.offerId = "1";
    t.amount = 1000;
    t.openRate = 1.1;
    c1.trades = {t};
    ASSERT_TRUE(store->apply(c1).isOk());

    Change c2;
    c2.removedOrders = {"100"};
    AccountRecord a = initialAccountRecord(*world.findAccount("01001"));
    a.balance = 49990.25;
    a.usedMargin = 25;
    c2.accounts = {a};
    ClosedTradeRecord ct;
    ct.tradeId = "T0";
    ct.accountId = "01001";
    ct.grossPL = -9.75;
    c2.closedTrades = {ct};
    MessageRecord m;
    m.msgId = "M1";
    m.user = "demo";
    m.text = "<HTML-DATA>x</HTML-DATA>";
    c2.messages = {m};
    c2.requests = {{"demo", "req-1", kNow, "0\n100;N"}};
    c2.meta["next_order_id"] = "102";
    ASSERT_TRUE(store->apply(c2).isOk());

    const std::string copy = dir + "/copy";
    fs::create_directory(copy);
    for (const char* f : {"state.db", "state.db-wal"}) fs::copy_file(dir + "/" + f, copy + "/" + f);
    ASSERT_GT(fs::file_size(copy + "/state.db-wal"), 0u);  // the changes live in the log

    std::unique_ptr<Store> reopened;
    ASSERT_TRUE(Store::open(copy + "/state.db", reopened).isOk());
    StoredState st;
    ASSERT_TRUE(reopened->load(kNow + 1000, st).isOk());
    ASSERT_EQ(st.orders.size(), 1u);
    EXPECT_EQ(st.orders[0].orderId, "101");
    EXPECT_EQ(st.orders[0].rate, 1.2345);
    EXPECT_EQ(st.orders[0].statusTime, kNow);
    ASSERT_EQ(st.trades.size(), 1u);
    EXPECT_EQ(st.trades[0].openRate, 1.1);
    EXPECT_EQ(st.accounts[0].balance, 49990.25);
    EXPECT_EQ(st.closedTrades.at(0).grossPL, -9.75);
    EXPECT_EQ(st.messages.at(0).text, "<HTML-DATA>x</HTML-DATA>");
    ASSERT_EQ(st.requests.size(), 1u);
    EXPECT_EQ(st.requests[0].answer, "0\n100;N");
    EXPECT_EQ(st.meta["next_order_id"], "102");
}

// A group of changes commits as one: each counter ends with the value of the last
// change that set it, and a failing member leaves nothing of the group behind.
TEST_F(StoreTest, AGroupOfChangesCommitsAllOrNothing) {
    auto store = open();
    ASSERT_TRUE(store->seed(world, {}, TickSchedule{kNow, 0}).isOk());
    Change a, b, c;
    a.orders = {order("200", "01001")};
    a.meta = {{"next_order_id", "201"}, {"next_trade_id", "7"}};
    b.removedOrders = {"200"};
    b.orders = {order("201", "01001")};
    b.meta = {{"next_order_id", "202"}};
    c.schedule = TickSchedule{kNow, 5};
    ASSERT_TRUE(store->applyAll({&a, &b, &c}).isOk());
    StoredState st;
    ASSERT_TRUE(store->load(kNow, st).isOk());
    ASSERT_EQ(st.orders.size(), 1u);
    EXPECT_EQ(st.orders[0].orderId, "201");
    EXPECT_EQ(st.meta["next_order_id"], "202");
    EXPECT_EQ(st.meta["next_trade_id"], "7");
    ASSERT_TRUE(st.schedule);
    EXPECT_EQ(st.schedule->nextTick, 5);

    // A member that cannot be written (a message without its user) fails the group.
    Change good, bad;
    good.orders = {order("300", "01001")};
    good.meta = {{"next_order_id", "301"}};
    MessageRecord m;
    m.msgId = "M9";
    bad.messages = {m};
    sqlite3* raw = nullptr;
    ASSERT_EQ(sqlite3_open((dir + "/state.db").c_str(), &raw), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(raw, "CREATE TRIGGER no_m9 BEFORE INSERT ON messages WHEN NEW.msg_id = 'M9' "
                                "BEGIN SELECT RAISE(ABORT, 'refused'); END",
                           nullptr, nullptr, nullptr),
              SQLITE_OK);
    sqlite3_close(raw);
    EXPECT_FALSE(store->applyAll({&good, &bad}).isOk());
    StoredState after;
    ASSERT_TRUE(store->load(kNow, after).isOk());
    EXPECT_EQ(after.orders.size(), 1u);
    EXPECT_EQ(after.meta["next_order_id"], "202");
}

// Within a group, each row ends as the last change that touched it left it, whatever
// the earlier changes wrote or removed.
TEST_F(StoreTest, EachRowEndsAsTheGroupsLastChangeLeftIt) {
    auto store = open();
    ASSERT_TRUE(store->seed(world, {}, TickSchedule{kNow, 0}).isOk());
    TradeRecord old;
    old.tradeId = "T-old";
    old.accountId = "01001";
    old.offerId = "1";
    old.amount = 1000;
    Change before;
    before.trades = {old};
    before.orders = {order("400", "01001")};
    ASSERT_TRUE(store->apply(before).isOk());

    Change a, b;
    // Filled at once: written and removed by one change.
    a.orders = {order("401", "01001")};
    a.removedOrders = {"401"};
    // Removed, then written again by a later change.
    a.removedOrders.push_back("400");
    OrderRecord again = order("400", "01001");
    again.rate = 1.5;
    b.orders = {again};
    // Opened by one change and changed by the next; an older one closed.
    TradeRecord t = old;
    t.tradeId = "T-new";
    t.amount = 2000;
    a.trades = {t};
    t.amount = 3000;
    b.trades = {t};
    b.removedTrades = {"T-old"};
    AccountRecord acct = initialAccountRecord(*world.findAccount("01001"));
    acct.balance = 1;
    a.accounts = {acct};
    acct.balance = 2;
    b.accounts = {acct};
    ASSERT_TRUE(store->applyAll({&a, &b}).isOk());

    StoredState st;
    ASSERT_TRUE(store->load(kNow, st).isOk());
    ASSERT_EQ(st.orders.size(), 1u);
    EXPECT_EQ(st.orders[0].orderId, "400");
    EXPECT_EQ(st.orders[0].rate, 1.5);
    ASSERT_EQ(st.trades.size(), 1u);
    EXPECT_EQ(st.trades[0].tradeId, "T-new");
    EXPECT_EQ(st.trades[0].amount, 3000);
    for (const AccountRecord& r : st.accounts)
        if (r.accountId == "01001") EXPECT_EQ(r.balance, 2);
}

// Texts from clients need not be UTF-8: a custom text or request ID of any bytes is
// stored (invalid sequences as U+FFFD) instead of failing or throwing.
TEST_F(StoreTest, StoresTextsThatAreNotUtf8) {
    auto store = open();
    ASSERT_TRUE(store->seed(world, {}, TickSchedule{kNow, 0}).isOk());
    Change c;
    OrderRecord o = order("400", "01001");
    o.requestTxt = "caf\xe9";  // Latin-1
    o.requestId = "\xff\xfeQ";
    c.orders = {o};
    Status st = Status::error("not run");
    ASSERT_NO_THROW(st = store->applyAll({&c}));
    ASSERT_TRUE(st.isOk()) << st.text();
    StoredState loaded;
    ASSERT_TRUE(store->load(kNow, loaded).isOk());
    ASSERT_EQ(loaded.orders.size(), 1u);
    EXPECT_EQ(loaded.orders[0].requestTxt, "caf\xef\xbf\xbd");
    EXPECT_EQ(loaded.orders[0].requestId, "\xef\xbf\xbd\xef\xbf\xbdQ");
}

TEST_F(StoreTest, RemembersRequestsFor24Hours) {
    auto store = open();
    Change c;
    c.requests = {{"demo", "r1", kNow, "0"}, {"demo22", "r1", kNow - Store::kRequestMemory + 1000, "1;Old."}};
    ASSERT_TRUE(store->apply(c).isOk());
    std::optional<std::string> answer;
    ASSERT_TRUE(store->findRequest("demo", "r1", kNow + 1000, answer).isOk());
    EXPECT_EQ(answer.value_or("<none>"), "0");
    ASSERT_TRUE(store->findRequest("demo", "r2", kNow, answer).isOk());
    EXPECT_FALSE(answer.has_value());
    ASSERT_TRUE(store->findRequest("demo", "r1", kNow + Store::kRequestMemory, answer).isOk());
    EXPECT_FALSE(answer.has_value());  // 24 hours on, forgotten
    StoredState st;
    ASSERT_TRUE(store->load(kNow + 2000, st).isOk());
    ASSERT_EQ(st.requests.size(), 1u);  // the old one was pruned
    EXPECT_EQ(st.requests[0].user, "demo");
}

TEST_F(StoreTest, ReportsUnreadableRowsAndFiles) {
    {
        auto store = open();
        Change c;
        c.orders = {order("7", "01001")};
        ASSERT_TRUE(store->apply(c).isOk());
    }
    sqlite3* raw = nullptr;
    ASSERT_EQ(sqlite3_open((dir + "/state.db").c_str(), &raw), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(raw, "UPDATE orders SET data = '{broken' WHERE order_id = '7'", nullptr, nullptr, nullptr),
              SQLITE_OK);
    sqlite3_close(raw);
    auto store = open();
    StoredState st;
    const Status s = store->load(kNow, st);
    ASSERT_FALSE(s.isOk());
    EXPECT_NE(s.text().find("row '7' of orders"), std::string::npos) << s.text();

    std::ofstream(dir + "/junk.db") << "this is not a database, just some text that is long enough to matter";
    std::unique_ptr<Store> junk;
    const Status j = Store::open(dir + "/junk.db", junk);
    ASSERT_FALSE(j.isOk());
    EXPECT_EQ(j.text().rfind(dir + "/junk.db: ", 0), 0u) << j.text();
    EXPECT_FALSE(Store::open("/nonexistent/dir/state.db", junk).isOk());
}

} // namespace
} // namespace pellora::dealer
