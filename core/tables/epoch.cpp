#include "core/tables/epoch.h"

#include <atomic>
#include <mutex>
#include <thread>
#include <vector>

namespace rl {
namespace epoch {
namespace {

// Epochs move in steps of two; bit 0 of a thread's word says it is pinned.
constexpr uint64_t kStep = 2;
constexpr uint64_t kPinned = 1;
// A thing retired in epoch e is destroyed once the global epoch reaches e + 3 steps.
constexpr uint64_t kGrace = 3 * kStep;
// Retired things a thread gathers before it tries to advance and collect.
constexpr size_t kCollectAt = 64;

struct alignas(64) Record {
    std::atomic<uint64_t> local{0};
    std::atomic<bool> inUse{false};
    Record* next = nullptr; // fixed once the record is published
};

struct Retired {
    void* p;
    deleter_fn fn;
    uint64_t epoch;
};

// Every pin reads the epoch: it gets a line of its own, away from the counters
// that each retire bumps.
alignas(64) std::atomic<uint64_t> g_epoch{kStep};
// Records are never freed: a thread that ends gives its record back for reuse.
alignas(64) std::atomic<Record*> g_records{nullptr};
alignas(64) std::atomic<size_t> g_pending{0};

std::mutex g_orphanMutex;
std::vector<Retired>* g_orphans = nullptr; // things of ended threads; guarded by g_orphanMutex
std::atomic<size_t> g_orphanCount{0};

// Test hook: runs inside pin between reading the epoch and publishing it.
std::atomic<void (*)()> g_pinHook{nullptr};

// Kept trivially destructible so that a late use from another thread-local
// destructor still finds valid fields; Reaper below cleans it up at thread exit.
struct LocalState {
    Record* rec;
    std::vector<Retired>* bag;
    unsigned depth;
    unsigned deferrals;
    unsigned quietUnpins;
    bool collecting;
    bool exited;
    bool reaperArmed;
};
thread_local LocalState t_state{};

void adoptOrphans(std::vector<Retired>&& items)
{
    if (items.empty())
        return;
    std::lock_guard<std::mutex> lock(g_orphanMutex);
    if (!g_orphans)
        g_orphans = new std::vector<Retired>();
    g_orphanCount.fetch_add(items.size(), std::memory_order_relaxed);
    for (auto& r : items)
        g_orphans->push_back(r);
    items.clear();
}

void releaseRecord(LocalState& s)
{
    if (!s.rec)
        return;
    s.rec->local.store(0, std::memory_order_release);
    s.rec->inUse.store(false, std::memory_order_release);
    s.rec = nullptr;
}

struct Reaper {
    bool armed = false;
    ~Reaper()
    {
        LocalState& s = t_state;
        if (s.bag) {
            adoptOrphans(std::move(*s.bag));
            delete s.bag;
            s.bag = nullptr;
        }
        releaseRecord(s);
        s.exited = true;
    }
};
thread_local Reaper t_reaper;

Record* acquireRecord()
{
    for (Record* r = g_records.load(std::memory_order_acquire); r; r = r->next) {
        bool expected = false;
        if (!r->inUse.load(std::memory_order_relaxed) &&
            r->inUse.compare_exchange_strong(expected, true, std::memory_order_acq_rel))
            return r;
    }
    auto* r = new Record();
    r->inUse.store(true, std::memory_order_relaxed);
    Record* head = g_records.load(std::memory_order_relaxed);
    do {
        r->next = head;
    } while (!g_records.compare_exchange_weak(head, r, std::memory_order_release, std::memory_order_relaxed));
    return r;
}

LocalState& state()
{
    LocalState& s = t_state;
    if (!s.reaperArmed && !s.exited) {
        s.reaperArmed = true;
        t_reaper.armed = true; // constructs the reaper, so its destructor runs at thread exit
        s.bag = new std::vector<Retired>();
    }
    return s;
}

// Moves the global epoch on when every pinned thread has seen the current one.
bool tryAdvance()
{
    uint64_t e = g_epoch.load(std::memory_order_acquire);
    std::atomic_thread_fence(std::memory_order_seq_cst);
    for (Record* r = g_records.load(std::memory_order_acquire); r; r = r->next) {
        const uint64_t l = r->local.load(std::memory_order_acquire);
        if ((l & kPinned) && (l & ~kPinned) != e)
            return false;
    }
    g_epoch.compare_exchange_strong(e, e + kStep, std::memory_order_acq_rel, std::memory_order_acquire);
    return true;
}

void runAll(LocalState& s, std::vector<Retired>& ready)
{
    s.collecting = true;
    for (auto& r : ready) {
        r.fn(r.p);
        g_pending.fetch_sub(1, std::memory_order_relaxed);
    }
    s.collecting = false;
}

// Takes out of items what is old enough; items are in retiring order, so their
// epochs never decrease.
void takeReady(std::vector<Retired>& items, uint64_t now, std::vector<Retired>& ready)
{
    size_t n = 0;
    while (n < items.size() && items[n].epoch + kGrace <= now)
        ++n;
    if (n == 0)
        return;
    ready.insert(ready.end(), items.begin(), items.begin() + static_cast<std::ptrdiff_t>(n));
    items.erase(items.begin(), items.begin() + static_cast<std::ptrdiff_t>(n));
}

// Destroys what is old enough among this thread's things and the orphans.
void collect(LocalState& s)
{
    if (s.collecting)
        return;
    const uint64_t now = g_epoch.load(std::memory_order_acquire);
    std::vector<Retired> ready;
    if (s.bag)
        takeReady(*s.bag, now, ready);
    if (g_orphanCount.load(std::memory_order_relaxed) != 0) {
        std::unique_lock<std::mutex> lock(g_orphanMutex, std::try_to_lock);
        if (lock.owns_lock() && g_orphans) {
            // Orphans of several threads are not in one order: take each one that is old enough.
            std::vector<Retired> keep;
            for (auto& r : *g_orphans)
                (r.epoch + kGrace <= now ? ready : keep).push_back(r);
            g_orphanCount.store(keep.size(), std::memory_order_relaxed);
            g_orphans->swap(keep);
        }
    }
    runAll(s, ready);
}

void pin(LocalState& s)
{
    if (!s.rec)
        s.rec = acquireRecord();
    uint64_t e = g_epoch.load(std::memory_order_acquire);
    if (void (*hook)() = g_pinHook.load(std::memory_order_relaxed))
        hook();
    for (;;) {
        s.rec->local.store(e | kPinned, std::memory_order_release);
        // Our pin must be visible before we read any pointer of the map.
        std::atomic_thread_fence(std::memory_order_seq_cst);
        // The epoch may have moved on between our load and the store: a pin on a stale
        // epoch would let things retired since then be freed under us. Pin again.
        const uint64_t now = g_epoch.load(std::memory_order_acquire);
        if (now == e)
            return;
        e = now;
    }
}

// Collects, when the thread holds no deferral and enough is waiting; the caller holds
// no pin. A full list is collected at once; a short one now and then, so that a
// writer that goes quiet after a few changes does not keep their rows for long.
// (The pin depth is not read here: unpin has just written it, and reading it together
// with the deferral count would stall on that store.)
void collectIfDue(LocalState& s)
{
    if (s.deferrals != 0 || s.collecting || !s.bag || s.bag->empty())
        return;
    if (s.bag->size() >= kCollectAt || ++s.quietUnpins % 16 == 0) {
        tryAdvance();
        collect(s);
    }
}

void unpin(LocalState& s)
{
    s.rec->local.store(0, std::memory_order_release);
    if (s.exited) {
        releaseRecord(s);
        return;
    }
    collectIfDue(s);
}

} // namespace

guard::guard() noexcept
{
    LocalState& s = state();
    if (s.depth++ == 0)
        pin(s);
}

guard::~guard()
{
    LocalState& s = t_state;
    if (--s.depth == 0)
        unpin(s);
}

bool pinned() noexcept
{
    return t_state.depth != 0;
}

void retire(void* p, deleter_fn fn)
{
    LocalState& s = state();
    // Tagged with the epoch read after the unlink (the fence orders the two): a reader
    // that can still reach p pinned no later than this epoch. Retiring needs no pin.
    std::atomic_thread_fence(std::memory_order_seq_cst);
    const uint64_t e = g_epoch.load(std::memory_order_acquire);
    g_pending.fetch_add(1, std::memory_order_relaxed);
    if (!s.bag) {
        // A thread past its own clean-up: hand the thing straight to the orphans.
        std::vector<Retired> one{Retired{p, fn, e}};
        adoptOrphans(std::move(one));
        return;
    }
    s.bag->push_back(Retired{p, fn, e});
}

deferral::deferral() noexcept
{
    ++state().deferrals;
}

deferral::~deferral()
{
    LocalState& s = t_state;
    if (--s.deferrals == 0 && s.depth == 0 && !s.exited)
        collectIfDue(s);
}

bool synchronize()
{
    LocalState& s = state();
    if (s.depth != 0 || s.deferrals != 0)
        return false;
    for (;;) {
        collect(s);
        const bool ownEmpty = !s.bag || s.bag->empty();
        if (ownEmpty && g_orphanCount.load(std::memory_order_relaxed) == 0)
            return true;
        if (!tryAdvance())
            std::this_thread::yield();
    }
}

size_t pending() noexcept
{
    return g_pending.load(std::memory_order_relaxed);
}

namespace testing {

void set_pin_hook(void (*hook)()) noexcept
{
    g_pinHook.store(hook, std::memory_order_relaxed);
}

bool try_advance()
{
    return tryAdvance();
}

void collect_now()
{
    LocalState& s = state();
    if (s.depth == 0 && s.deferrals == 0)
        collect(s);
}

uint64_t current() noexcept
{
    return g_epoch.load(std::memory_order_acquire);
}

} // namespace testing

} // namespace epoch
} // namespace rl
