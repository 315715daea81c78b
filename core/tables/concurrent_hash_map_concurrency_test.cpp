// One writer inserts, replaces, updates and erases while four readers look rows up
// and walk the map; every answer is checked against a per-key shadow record. Under
// AddressSanitizer a reader touching a freed key, row or cell table fails the run;
// under ThreadSanitizer an unordered access does.
//
// Writer operations: PELLORA_ROWMAP_OPS in the environment, else 2,000,000 under
// ThreadSanitizer and 10,000,000 otherwise.

#include "core/tables/concurrent_hash_map.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "core/base/ref_ptr.h"
#include "core/tables/epoch.h"

#if defined(__SANITIZE_THREAD__)
#define ROWMAP_UNDER_TSAN 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define ROWMAP_UNDER_TSAN 1
#endif
#endif

namespace {

constexpr uint32_t kKeys = 3000;
constexpr int kReaders = 4;
constexpr uint64_t kOpsPerRound = 100000; // each round starts from an empty map, so it grows again

uint64_t operationCount()
{
    if (const char* env = std::getenv("PELLORA_ROWMAP_OPS"))
        return std::strtoull(env, nullptr, 10);
#ifdef ROWMAP_UNDER_TSAN
    return 2000000;
#else
    return 10000000;
#endif
}

std::atomic<int> g_liveRows{0};

uint64_t mix(uint64_t a, uint64_t b)
{
    uint64_t x = a * 0x9E3779B97F4A7C15ull ^ (b + 0x632BE59BD9B4E019ull);
    x ^= x >> 31;
    x *= 0xBF58476D1CE4E5B9ull;
    return x ^ (x >> 29);
}

// The key texts, made once: the loops below should spend their time in the map.
const std::string& keyText(uint32_t k)
{
    static const std::vector<std::string> texts = [] {
        std::vector<std::string> v;
        for (uint32_t i = 0; i < kKeys; ++i)
            v.push_back("R" + std::to_string(i));
        return v;
    }();
    return texts[k];
}

// Immutable once published: a reader that sees a row must see all of it.
class Row : public CThreadSafeAddRefImpl {
public:
    Row(uint32_t key, uint64_t seq) : m_key(key), m_seq(seq)
    {
        for (size_t i = 0; i < m_payload.size(); ++i)
            m_payload[i] = mix(mix(key, seq), i);
        std::snprintf(m_id, sizeof m_id, "R%u", key);
        g_liveRows.fetch_add(1, std::memory_order_relaxed);
    }
    uint32_t key() const { return m_key; }
    uint64_t seq() const { return m_seq; }
    bool intact(uint32_t key) const
    {
        if (m_key != key || std::strcmp(keyText(key).c_str(), m_id) != 0)
            return false;
        for (size_t i = 0; i < m_payload.size(); ++i)
            if (m_payload[i] != mix(mix(m_key, m_seq), i))
                return false;
        return true;
    }

private:
    ~Row() override { g_liveRows.fetch_sub(1, std::memory_order_relaxed); }
    uint32_t m_key;
    uint64_t m_seq;
    std::array<uint64_t, 6> m_payload{};
    char m_id[16];
};

using Map = rl::concurrent_hash_map<Row>;

// Per key: the version of the last operation begun and of the last one finished,
// each as (version << 1) | present. A row carries the version that stored it.
struct Shadow {
    std::atomic<uint64_t> started{0};
    std::atomic<uint64_t> committed{0};
};

uint64_t version(uint64_t e)
{
    return e >> 1;
}
bool present(uint64_t e)
{
    return e & 1;
}
uint64_t encode(uint64_t v, bool p)
{
    return (v << 1) | (p ? 1 : 0);
}

class Failures {
public:
    void add(const std::string& what)
    {
        if (m_count.fetch_add(1) == 0) {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_first = what;
        }
    }
    int count() const { return m_count.load(); }
    std::string first()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_first;
    }

private:
    std::atomic<int> m_count{0};
    std::mutex m_mutex;
    std::string m_first;
};

struct Round {
    Map map;
    std::vector<Shadow> shadow = std::vector<Shadow>(kKeys);
    std::atomic<bool> writerDone{false};
    Failures* failures;
    std::atomic<uint64_t> lookups{0};
    std::atomic<uint64_t> rowsWalked{0};
};

// A lookup is right when it shows a state the key was in at some moment during it.
void checkLookup(Round& r, uint32_t k)
{
    const std::string& text = keyText(k);
    const uint64_t before = r.shadow[k].committed.load(std::memory_order_acquire);
    zel::RefPtr<Row> row = r.map.find(text.c_str());
    const uint64_t after = r.shadow[k].started.load(std::memory_order_acquire);
    const uint64_t lo = version(before);
    const uint64_t hi = version(after);
    if (row) {
        if (!row->intact(k))
            r.failures->add("torn or foreign row for " + text);
        else if (row->seq() < lo || row->seq() > hi || (row->seq() == lo && !present(before)))
            r.failures->add("stale row for " + text + ": seq " + std::to_string(row->seq()) + " outside [" +
                            std::to_string(lo) + ", " + std::to_string(hi) + "]");
    } else {
        const bool mayBeAbsent = !present(before) || (hi > lo && (!present(after) || hi > lo + 1));
        if (!mayBeAbsent)
            r.failures->add("row missing for " + text + " at version " + std::to_string(lo));
    }
}

void checkWalk(Round& r)
{
    Map::position pos;
    zel::RefPtr<Row> row;
    uint64_t n = 0;
    while (r.map.next(pos, row)) {
        const uint32_t k = row->key();
        if (k >= kKeys || !row->intact(k)) {
            r.failures->add("torn row in a walk");
            return;
        }
        if (row->seq() > version(r.shadow[k].started.load(std::memory_order_acquire)))
            r.failures->add("walk saw a row from the future");
        ++n;
    }
    if (n > kKeys + kKeys / 2)
        r.failures->add("walk returned " + std::to_string(n) + " rows");
    r.rowsWalked.fetch_add(n, std::memory_order_relaxed);
}

void reader(Round& r, unsigned seed)
{
    uint64_t x = seed * 0x2545F4914F6CDD1Dull + 1;
    uint64_t n = 0;
    while (!r.writerDone.load(std::memory_order_acquire)) {
        x ^= x << 13;
        x ^= x >> 7;
        x ^= x << 17;
        checkLookup(r, static_cast<uint32_t>(x % kKeys));
        // Four readers on a small machine would starve the one writer they check.
        if (n % 16 == 0)
            std::this_thread::yield();
        if (++n % 4096 == 0)
            checkWalk(r);
        else if (n % 1024 == 0) {
            zel::RefPtr<Row> at = r.map.get(static_cast<size_t>(x % 64));
            if (at && (at->key() >= kKeys || !at->intact(at->key())))
                r.failures->add("torn row from get");
        }
    }
    r.lookups.fetch_add(n, std::memory_order_relaxed);
}

struct Truth {
    bool present = false;
    uint64_t version = 0;
};

void writer(Round& r, uint64_t ops, uint64_t seed, std::vector<Truth>& truth)
{
    uint64_t x = seed;
    for (uint64_t i = 0; i < ops; ++i) {
        x ^= x << 13;
        x ^= x >> 7;
        x ^= x << 17;
        const uint32_t k = static_cast<uint32_t>(x % kKeys);
        const unsigned op = static_cast<unsigned>((x >> 32) % 100);
        const std::string& text = keyText(k);
        Truth& t = truth[k];
        Shadow& s = r.shadow[k];
        if (op < 40 || (op < 75 && t.present)) {
            // insert (a new key or a replacement) or update of a stored key
            const bool isInsert = op < 40;
            const uint64_t v = t.version + 1;
            s.started.store(encode(v, true), std::memory_order_release);
            zel::RefPtr<Row> row = zel::adoptRef(new Row(k, v));
            const bool result = isInsert ? r.map.insert(text.c_str(), row.get()) : r.map.update(text.c_str(), row.get());
            if (result != (isInsert ? !t.present : true))
                r.failures->add("writer: unexpected result for " + text);
            t = Truth{true, v};
            s.committed.store(encode(v, true), std::memory_order_release);
        } else if (op < 75) {
            if (r.map.update(text.c_str(), zel::adoptRef(new Row(k, t.version + 1)).get()))
                r.failures->add("writer: update of an absent key succeeded");
        } else if (t.present) {
            const uint64_t v = t.version + 1;
            s.started.store(encode(v, false), std::memory_order_release);
            if (!r.map.erase(text.c_str()))
                r.failures->add("writer: erase of a stored key failed");
            t = Truth{false, v};
            s.committed.store(encode(v, false), std::memory_order_release);
        } else if (r.map.erase(text.c_str())) {
            r.failures->add("writer: erase of an absent key succeeded");
        }
    }
}

// With everyone stopped, the map must be exactly the shadow.
void checkQuiet(Round& r, const std::vector<Truth>& truth)
{
    size_t stored = 0;
    for (uint32_t k = 0; k < kKeys; ++k) {
        zel::RefPtr<Row> row = r.map.find(keyText(k).c_str());
        if (truth[k].present) {
            ++stored;
            ASSERT_TRUE(row) << keyText(k);
            EXPECT_EQ(row->seq(), truth[k].version);
        } else {
            EXPECT_FALSE(row) << keyText(k);
        }
    }
    EXPECT_EQ(r.map.size(), stored);
    std::vector<int> seen(kKeys, 0);
    Map::position pos;
    zel::RefPtr<Row> row;
    size_t walked = 0;
    while (r.map.next(pos, row)) {
        ++seen[row->key()];
        ++walked;
        EXPECT_TRUE(truth[row->key()].present);
    }
    EXPECT_EQ(walked, stored);
    for (uint32_t k = 0; k < kKeys; ++k)
        EXPECT_LE(seen[k], 1);
}

TEST(ConcurrentHashMapConcurrency, OneWriterFourReadersAgainstAShadow)
{
    const uint64_t total = operationCount();
    Failures failures;
    uint64_t done = 0;
    uint64_t lookups = 0;
    uint64_t walked = 0;
    unsigned grownRounds = 0;
    for (unsigned round = 0; done < total; ++round) {
        const uint64_t ops = std::min<uint64_t>(kOpsPerRound, total - done);
        auto r = std::make_unique<Round>();
        r->failures = &failures;
        std::vector<Truth> truth(kKeys);
        std::vector<std::thread> readers;
        for (int i = 0; i < kReaders; ++i)
            readers.emplace_back(reader, std::ref(*r), round * kReaders + i + 1);
        std::thread w([&] {
            writer(*r, ops, 0x9E3779B97F4A7C15ull + round, truth);
            r->writerDone.store(true, std::memory_order_release);
        });
        w.join();
        for (auto& t : readers)
            t.join();
        ASSERT_EQ(failures.count(), 0) << failures.first();
        checkQuiet(*r, truth);
        if (r->map.capacity() > Map::initial_capacity)
            ++grownRounds;
        lookups += r->lookups.load();
        walked += r->rowsWalked.load();
        done += ops;
    }
    ASSERT_TRUE(rl::epoch::synchronize());
    EXPECT_EQ(g_liveRows.load(), 0) << "every reference the map held is given back exactly once";
    EXPECT_GT(grownRounds, 0u);
    std::printf("writer ops %llu, lookups %llu, rows walked %llu, rounds with a growth %u\n",
                static_cast<unsigned long long>(done), static_cast<unsigned long long>(lookups),
                static_cast<unsigned long long>(walked), grownRounds);
}

// A one-way signal between two threads.
class Latch {
public:
    void open()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_open = true;
        m_cv.notify_all();
    }
    void wait()
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_cv.wait(lock, [this] { return m_open; });
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_cv;
    bool m_open = false;
};

class CountedRow : public CThreadSafeAddRefImpl {
public:
    explicit CountedRow(std::atomic<long>* live) : m_live(live) { m_live->fetch_add(1, std::memory_order_relaxed); }

private:
    ~CountedRow() override { m_live->fetch_sub(1, std::memory_order_relaxed); }
    std::atomic<long>* m_live;
};

// A listener of each kind of the map's events blocks inside its callback while
// another thread replaces rows 100,000 times: the replaced rows are destroyed as
// they go, so what waits for reclamation stays small instead of growing with every
// update.
TEST(ConcurrentHashMapConcurrency, AListenerThatBlocksHoldsBackNoReclamation)
{
    using CountedMap = rl::concurrent_hash_map<CountedRow>;
    struct Case {
        const char* name;
        std::function<void(CountedMap&, Latch& inside, Latch& leave, std::atomic<long>& live)> block;
    };
    auto blockOnBlocked = [](Latch& inside, Latch& leave) {
        return [&inside, &leave](const char* k, CountedRow*) {
            if (std::strcmp(k, "BLOCKED") == 0) {
                inside.open();
                leave.wait();
            }
        };
    };
    const Case cases[] = {
        {"update event on the writer's thread",
         [](CountedMap& map, Latch& inside, Latch& leave, std::atomic<long>& live) {
             Cpp::ConnectionScope scope;
             map.update_event().connect(scope, [&](const char* k, CountedRow*, CountedRow*) {
                 if (std::strcmp(k, "BLOCKED") == 0) {
                     inside.open();
                     leave.wait();
                 }
             });
             map.update("BLOCKED", zel::adoptRef(new CountedRow(&live)).get());
         }},
        {"access event of find",
         [&](CountedMap& map, Latch& inside, Latch& leave, std::atomic<long>&) {
             Cpp::ConnectionScope scope;
             map.access_event().connect(scope, blockOnBlocked(inside, leave));
             EXPECT_TRUE(map.find("BLOCKED"));
         }},
        {"each-row event",
         [&](CountedMap& map, Latch& inside, Latch& leave, std::atomic<long>&) {
             Cpp::ConnectionScope scope;
             map.each_row_event().connect(scope, blockOnBlocked(inside, leave));
             map.fire_each_row();
         }},
    };
    constexpr int kUpdates = 100000;
    constexpr long kBound = 2000; // things waiting for reclamation, rows alive beyond the stored ones
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(rl::epoch::synchronize());
        std::atomic<long> live{0};
        {
            CountedMap map;
            map.insert("BLOCKED", zel::adoptRef(new CountedRow(&live)).get());
            // Every key the writer replaces is stored before the listener blocks (no
            // growth then), none in the blocked key's cell.
            const uint32_t blockedCell = rl::string_hash("BLOCKED") & (map.capacity() - 1);
            std::vector<std::string> keys;
            for (int i = 0; keys.size() < 100; ++i) {
                std::string k = "K" + std::to_string(i);
                if ((rl::string_hash(k.c_str()) & (map.capacity() - 1)) != blockedCell)
                    keys.push_back(k);
            }
            for (const auto& k : keys)
                map.insert(k.c_str(), zel::adoptRef(new CountedRow(&live)).get());
            ASSERT_EQ(map.capacity(), CountedMap::initial_capacity);
            const long stored = static_cast<long>(map.size());

            Latch inside, leave;
            std::thread blocker([&] { c.block(map, inside, leave, live); });
            inside.wait();
            size_t maxPending = 0;
            long maxLive = 0;
            for (int i = 0; i < kUpdates; ++i) {
                map.update(keys[static_cast<size_t>(i) % keys.size()].c_str(), zel::adoptRef(new CountedRow(&live)).get());
                maxPending = std::max(maxPending, rl::epoch::pending());
                maxLive = std::max(maxLive, live.load(std::memory_order_relaxed));
            }
            leave.open();
            blocker.join();
            EXPECT_LT(maxPending, static_cast<size_t>(kBound));
            EXPECT_LT(maxLive - stored, kBound);
        }
        ASSERT_TRUE(rl::epoch::synchronize());
        EXPECT_EQ(live.load(), 0);
    }
}

} // namespace
