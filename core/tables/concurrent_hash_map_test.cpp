#include "core/tables/concurrent_hash_map.h"

#include <gtest/gtest.h>

#include <atomic>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "core/base/ref_ptr.h"
#include "core/tables/epoch.h"

namespace {

class Row : public CThreadSafeAddRefImpl {
public:
    Row(std::string id, int value, std::atomic<int>* live) : m_id(std::move(id)), m_value(value), m_live(live)
    {
        if (m_live)
            m_live->fetch_add(1);
    }
    const std::string& id() const { return m_id; }
    int value() const { return m_value; }

private:
    ~Row() override
    {
        if (m_live)
            m_live->fetch_sub(1);
    }
    std::string m_id;
    int m_value;
    std::atomic<int>* m_live;
};

using Map = rl::concurrent_hash_map<Row>;
using RowRef = zel::RefPtr<Row>;

RowRef makeRow(const std::string& id, int value = 0, std::atomic<int>* live = nullptr)
{
    return zel::adoptRef(new Row(id, value, live));
}

std::string key(int i)
{
    return "T" + std::to_string(i);
}

// Every stored id, by walking with next() and by get(index); both must agree.
std::vector<std::string> walk(const Map& map)
{
    std::vector<std::string> ids;
    Map::position pos;
    RowRef row;
    while (map.next(pos, row))
        ids.push_back(row->id());
    EXPECT_EQ(pos.cell, 0u);
    EXPECT_EQ(pos.slot, 0u);
    EXPECT_EQ(pos.item, 0u);
    for (size_t i = 0; i < ids.size(); ++i) {
        RowRef at = map.get(i);
        EXPECT_TRUE(at && at->id() == ids[i]) << "position " << i;
    }
    EXPECT_FALSE(map.get(ids.size()));
    return ids;
}

void expectAllReachable(const Map& map, const std::vector<std::string>& keys)
{
    for (const auto& k : keys) {
        RowRef r = map.find(k.c_str());
        ASSERT_TRUE(r) << k;
        EXPECT_EQ(r->id(), k);
    }
    const auto ids = walk(map);
    EXPECT_EQ(std::set<std::string>(ids.begin(), ids.end()), std::set<std::string>(keys.begin(), keys.end()));
    EXPECT_EQ(ids.size(), keys.size());
    EXPECT_EQ(map.size(), keys.size());
}

TEST(StringHash, MatchesTheStringHashOfSignedCharacters)
{
    EXPECT_EQ(rl::string_hash(""), 0u);
    EXPECT_EQ(rl::string_hash("a"), 0x9E377A1Au);
    // 0xE9 counts as -23: 0xFFFFFFE9 + 0x9E3779B9 wraps to 0x9E3779A2.
    EXPECT_EQ(rl::string_hash("\xe9"), 0x9E3779A2u);
    const uint32_t a = 0x9E377A1Au;
    EXPECT_EQ(rl::string_hash("ab"), a ^ (98u + 0x9E3779B9u + (a << 6) + (a >> 2)));
}

TEST(ConcurrentHashMap, GrowsFrom256CellsTo1024NoLaterThanThe789thInsert)
{
    Map map;
    ASSERT_EQ(map.capacity(), 256u);
    ASSERT_EQ(map.pool_count(), 2u);
    std::vector<std::string> keys;
    int grewAt = 0;
    for (int i = 1; i <= 789 && grewAt == 0; ++i) {
        keys.push_back(key(i));
        ASSERT_TRUE(map.insert(keys.back().c_str(), makeRow(keys.back(), i).get()));
        if (map.capacity() != 256u)
            grewAt = i;
    }
    ASSERT_NE(grewAt, 0) << "768 inline slots and 20 overflow items hold at most 788 rows";
    EXPECT_EQ(map.capacity(), 1024u);
    EXPECT_EQ(map.pool_count(), 8u);
    expectAllReachable(map, keys);
    EXPECT_EQ(map.table_bytes() % 128, 0u);
}

// Keys of one cell: three fill the inline slots, twenty the overflow items of both
// pools; the twenty-fourth finds nothing free and makes the map grow.
TEST(ConcurrentHashMap, CollidingKeysForceTheGrowthAtTheTwentyFourthInsert)
{
    std::vector<std::string> keys;
    for (int i = 0; keys.size() < 24; ++i)
        if ((rl::string_hash(key(i).c_str()) & 255u) == 7u)
            keys.push_back(key(i));
    Map map;
    for (size_t i = 0; i < 23; ++i)
        ASSERT_TRUE(map.insert(keys[i].c_str(), makeRow(keys[i]).get()));
    EXPECT_EQ(map.capacity(), 256u);
    expectAllReachable(map, std::vector<std::string>(keys.begin(), keys.begin() + 23));

    ASSERT_TRUE(map.insert(keys[23].c_str(), makeRow(keys[23]).get()));
    EXPECT_EQ(map.capacity(), 1024u);
    EXPECT_EQ(map.pool_count(), 8u);
    expectAllReachable(map, keys);
}

TEST(ConcurrentHashMap, OverflowItemsAreReusedAfterErase)
{
    std::vector<std::string> keys;
    for (int i = 0; keys.size() < 23; ++i)
        if ((rl::string_hash(key(i).c_str()) & 255u) == 3u)
            keys.push_back(key(i));
    Map map;
    for (const auto& k : keys)
        ASSERT_TRUE(map.insert(k.c_str(), makeRow(k).get()));
    // Out of the middle of the chain and out of an inline slot; the freed places take
    // new keys without a growth.
    for (size_t i : {1u, 10u, 22u}) {
        ASSERT_TRUE(map.erase(keys[i].c_str()));
        ASSERT_TRUE(map.insert(keys[i].c_str(), makeRow(keys[i], 1).get()));
    }
    EXPECT_EQ(map.capacity(), 256u);
    expectAllReachable(map, keys);
    EXPECT_EQ(map.find(keys[10].c_str())->value(), 1);
}

struct Recorder {
    std::vector<std::string> log;
    void onInsert(const char* k, Row* r) { log.push_back(std::string("insert ") + k + " " + std::to_string(r->value())); }
    void onUpdate(const char* k, Row* n, Row* o)
    {
        log.push_back(std::string("update ") + k + " " + std::to_string(n->value()) + "<" + std::to_string(o->value()));
    }
    void onErase(const char* k, Row* r) { log.push_back(std::string("erase ") + k + " " + std::to_string(r->value())); }
    void onAccess(const char* k, Row* r) { log.push_back(std::string("access ") + k + " " + std::to_string(r->value())); }
};

TEST(ConcurrentHashMap, OperationsReportTheirResultAndFireTheirEvents)
{
    Map map;
    Recorder rec;
    Cpp::ConnectionScope scope;
    map.insert_event().connect(scope, &rec, &Recorder::onInsert);
    map.update_event().connect(scope, &rec, &Recorder::onUpdate);
    map.erase_event().connect(scope, &rec, &Recorder::onErase);
    map.access_event().connect(scope, &rec, &Recorder::onAccess);

    struct Step {
        const char* op;
        const char* key;
        int value;
        bool result;
        std::vector<std::string> events;
    };
    const Step steps[] = {
        {"insert", "A", 1, true, {"insert A 1"}},
        {"insert", "A", 2, false, {}}, // replaced quietly
        {"update", "A", 3, true, {"access A 2", "update A 3<2"}},
        {"update", "B", 4, false, {}},
        {"find", "A", 0, true, {"access A 3"}},
        {"find", "B", 0, false, {}},
        {"erase", "B", 0, false, {}},
        {"erase", "A", 0, true, {"erase A 3"}},
        {"find", "A", 0, false, {}},
        {"insert", nullptr, 0, false, {}},
        {"update", nullptr, 0, false, {}},
        {"erase", nullptr, 0, false, {}},
        {"find", nullptr, 0, false, {}},
    };
    for (const auto& s : steps) {
        rec.log.clear();
        const std::string op = s.op;
        bool result = false;
        if (op == "insert")
            result = map.insert(s.key, makeRow(s.key ? s.key : "", s.value).get());
        else if (op == "update")
            result = map.update(s.key, makeRow(s.key ? s.key : "", s.value).get());
        else if (op == "erase")
            result = map.erase(s.key);
        else
            result = static_cast<bool>(map.find(s.key));
        EXPECT_EQ(result, s.result) << op << " " << (s.key ? s.key : "null");
        EXPECT_EQ(rec.log, s.events) << op << " " << (s.key ? s.key : "null");
    }
    EXPECT_FALSE(map.insert("A", nullptr));
    EXPECT_EQ(map.size(), 0u);
}

TEST(ConcurrentHashMap, VisitLendsTheStoredRowWithoutAReference)
{
    std::atomic<int> live{0};
    Map map;
    map.insert("A", makeRow("A", 5, &live).get());
    Recorder rec;
    Cpp::ConnectionScope scope;
    map.access_event().connect(scope, &rec, &Recorder::onAccess);
    int seen = 0;
    EXPECT_TRUE(map.visit("A", [&](Row* r) { seen = r->value(); }));
    EXPECT_EQ(seen, 5);
    EXPECT_FALSE(map.visit("B", [&](Row*) { seen = -1; }));
    EXPECT_FALSE(map.visit(nullptr, [&](Row*) { seen = -1; }));
    EXPECT_EQ(seen, 5);
    EXPECT_EQ(rec.log, (std::vector<std::string>{"access A 5"}));
    EXPECT_TRUE(map.contains("A"));
    EXPECT_FALSE(map.contains("B"));
}

TEST(ConcurrentHashMap, EachRowEventVisitsEveryRowInMapOrder)
{
    Map map;
    for (int i = 0; i < 50; ++i)
        map.insert(key(i).c_str(), makeRow(key(i)).get());
    std::vector<std::string> seen;
    Cpp::ConnectionScope scope;
    map.each_row_event().connect(scope, [&](const char* k, Row* r) {
        EXPECT_EQ(r->id(), k);
        seen.push_back(k);
    });
    map.fire_each_row();
    EXPECT_EQ(seen, walk(map));
}

TEST(ConcurrentHashMap, NextOnAnEmptyMapEndsAtOnceWithThePositionZeroed)
{
    Map map;
    Map::position pos;
    RowRef row = makeRow("x");
    EXPECT_FALSE(map.next(pos, row));
    EXPECT_FALSE(row);
    EXPECT_EQ(pos.cell + pos.slot + pos.item, 0u);
    EXPECT_FALSE(map.get(0));
}

// The map's references: one per stored row, dropped for erased and replaced rows
// (once no reader can hold them) and for all rows when the map goes.
TEST(ConcurrentHashMap, ReleasesItsReferencesOfReplacedErasedAndRemainingRows)
{
    std::atomic<int> live{0};
    {
        Map map;
        for (int i = 0; i < 100; ++i)
            map.insert(key(i).c_str(), makeRow(key(i), 0, &live).get());
        for (int i = 0; i < 100; i += 3)
            map.update(key(i).c_str(), makeRow(key(i), 1, &live).get());
        for (int i = 0; i < 100; i += 3)
            map.insert(key(i).c_str(), makeRow(key(i), 2, &live).get());
        for (int i = 1; i < 100; i += 3)
            map.erase(key(i).c_str());
        ASSERT_TRUE(rl::epoch::synchronize());
        EXPECT_EQ(live.load(), 67);
    }
    ASSERT_TRUE(rl::epoch::synchronize());
    EXPECT_EQ(live.load(), 0);
}

// A reader that is inside a lookup (pinned) keeps an erased row, its key and an old
// cell table alive until it is done.
TEST(ConcurrentHashMap, NothingAReaderMayHoldIsFreedWhileItIsPinned)
{
    std::atomic<int> live{0};
    Map map;
    map.insert("A", makeRow("A", 0, &live).get());
    std::atomic<bool> pinned{false};
    std::atomic<bool> unpin{false};
    std::thread reader([&] {
        rl::epoch::guard g;
        pinned = true;
        while (!unpin)
            std::this_thread::yield();
    });
    while (!pinned)
        std::this_thread::yield();
    const size_t before = rl::epoch::pending();
    ASSERT_TRUE(map.erase("A"));
    for (int i = 0; i < 800; ++i) // grows once: the old table is retired as well
        map.insert(key(i).c_str(), makeRow(key(i)).get());
    ASSERT_EQ(map.capacity(), 1024u);
    EXPECT_GE(rl::epoch::pending(), before + 3); // row, key, old table

    // The epoch moves as far as the pinned reader lets it, and whatever is old enough
    // is destroyed: not the row.
    for (int i = 0; i < 8; ++i) {
        rl::epoch::testing::try_advance();
        rl::epoch::testing::collect_now();
    }
    EXPECT_EQ(live.load(), 1);
    unpin = true;
    reader.join();
    ASSERT_TRUE(rl::epoch::synchronize());
    EXPECT_EQ(live.load(), 0);
}

TEST(ConcurrentHashMap, SubscriptionScopeOfTheMapEndsItsConnections)
{
    Recorder rec;
    {
        Map map;
        map.insert_event().connect(map.subscription_scope(), &rec, &Recorder::onInsert);
        EXPECT_EQ(map.subscription_scope().size(), 1u);
        map.insert("A", makeRow("A").get());
    }
    EXPECT_EQ(rec.log.size(), 1u);
}

} // namespace
