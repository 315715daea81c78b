#pragma once
// rl::concurrent_hash_map: text key (a private copy) to a reference-counted value,
// with lock-free reads and one spin lock per cell for writers. The layout, the
// reading protocol, growth and reclamation are written down in docs/row_map.md.
//
// [Ownership] The map holds one reference of every stored value. find, get and next
// return a reference of the caller's own. The map's reference to a replaced or
// erased value, the key copy of an erased key and the cell table left by a growth
// are released later, once no reader can still be reading them (rl::epoch).
// [Threading] Readers (find, visit, get, next, for_each, size) run on any thread
// and never take a lock; they retry when a cell changed under them. Writers (insert, update,
// erase) may run on several threads; each locks the key's cell.
// [Locking] The insert, update, erase and access events fire on the writer's thread
// with the key's cell still locked (the access event of find and visit on the
// reader's thread, without a lock); the each-row event fires without a lock. No
// handler runs pinned, so a slow one holds back no reclamation (only the
// collection of its own thread's retired things, while its cell stays locked). A
// handler may read the map and change rows of other maps, but must not insert into,
// update or erase from the same map: a growth or the same cell would wait for the
// lock the handler's own thread holds.
// [Exceptions] insert throws std::bad_alloc when memory for a key or a growth runs
// out; an exception of a handler leaves the operation with the change made and the
// cell unlocked.

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "core/base/ref_ptr.h"
#include "core/tables/epoch.h"
#include "core/tables/event.h"

namespace rl {

// The hash of the key's characters (each as a signed char), kept to 32 bits.
uint32_t string_hash(const char* s) noexcept;
// The same, and the key's length, in one pass.
uint32_t string_hash(const char* s, size_t& length) noexcept;

namespace detail {

// A private copy of a key: its hash and length beside the text.
struct key_block {
    uint32_t hash;
    uint32_t length;
    char text[1];
};

// Returns a new key copy; throws std::bad_alloc.
key_block* make_key(const char* s, size_t length, uint32_t hash);
void free_key(void* k) noexcept;
size_t key_bytes(size_t length) noexcept;

inline bool key_equals(const key_block* k, uint32_t hash, const char* s, size_t length) noexcept
{
    return k->hash == hash && k->length == length && std::memcmp(k->text, s, length) == 0;
}

// A zeroed block aligned to 128 bytes, or null when memory runs out.
void* alloc_block(size_t bytes) noexcept;
void free_block(void* p) noexcept;

// Spins a little, then yields the processor.
inline void relax(unsigned& spins) noexcept
{
    if (++spins < 64) {
#if defined(__x86_64__) || defined(__i386__)
        __builtin_ia32_pause();
#endif
    } else {
        std::this_thread::yield();
    }
}

} // namespace detail

template <class T>
class concurrent_hash_map {
public:
    // A walk position: cell index, inline slot (0 to 2, or 3 for the overflow
    // chain) and the index of the item in the chain. Zeroed means the start. It holds
    // no pointer, so a growth or an erase between two calls cannot leave it dangling.
    struct position {
        uint32_t cell = 0;
        uint32_t slot = 0;
        uint32_t item = 0;
    };

    static constexpr uint32_t initial_capacity = 256;
    static constexpr uint32_t cells_per_pool = 128;
    static constexpr uint32_t items_per_pool = 10;
    static constexpr uint32_t growth_factor = 4;

    // Throws std::bad_alloc when the first table cannot be allocated.
    concurrent_hash_map() : m_table(make_table(initial_capacity))
    {
        if (!m_table.load(std::memory_order_relaxed))
            throw std::bad_alloc();
    }

    // No reader or writer may use the map any more.
    ~concurrent_hash_map()
    {
        table* t = m_table.load(std::memory_order_acquire);
        for (uint32_t i = 0; i < t->capacity; ++i) {
            cell& c = t->cells[i];
            const uint32_t s = c.state.load(std::memory_order_relaxed);
            for (uint32_t k = 0; k < 3; ++k) {
                if (s & (slot_bit0 << k)) {
                    detail::free_key(c.slots[k].key.load(std::memory_order_relaxed));
                    c.slots[k].value.load(std::memory_order_relaxed)->release();
                }
            }
            for (item* it = c.chain.load(std::memory_order_relaxed); it; it = it->next.load(std::memory_order_relaxed)) {
                detail::free_key(it->key.load(std::memory_order_relaxed));
                it->value.load(std::memory_order_relaxed)->release();
            }
        }
        free_table(t);
    }

    concurrent_hash_map(const concurrent_hash_map&) = delete;
    concurrent_hash_map& operator=(const concurrent_hash_map&) = delete;

    // Stores value under key (the map adds its own reference). Returns true for a new
    // key and fires the insert event; a stored key gets the new value and fires
    // nothing. Returns false for a null key or value.
    bool insert(const char* key, T* value)
    {
        if (!key || !value)
            return false;
        size_t length = 0;
        const uint32_t h = string_hash(key, length);
        key_holder k{detail::make_key(key, length, h)};
        for (;;) {
            cell_lock lock(*this, h);
            cell& c = *lock.c;
            const found f = find_locked(c, lock.s, h, key, length);
            if (f.value) {
                T* old = f.value->load(std::memory_order_relaxed);
                value->addRef();
                begin_write(lock);
                f.value->store(value, std::memory_order_release);
                end_write(lock, true);
                retire_value(old);
                return false;
            }
            const int slot = free_slot(lock.s);
            item* it = slot < 0 ? take_item(*lock.t, h) : nullptr;
            if (slot < 0 && !it) {
                lock.unlock();
                if (!grow())
                    throw std::bad_alloc();
                continue;
            }
            value->addRef();
            detail::key_block* kb = k.release();
            begin_write(lock);
            if (slot >= 0) {
                c.slots[slot].key.store(kb, std::memory_order_release);
                c.slots[slot].value.store(value, std::memory_order_release);
                lock.s = (lock.s | (slot_bit0 << slot)) + 1;
            } else {
                it->key.store(kb, std::memory_order_release);
                it->value.store(value, std::memory_order_release);
                it->next.store(nullptr, std::memory_order_release);
                append(c, it);
                lock.s |= chain_bit;
            }
            end_write(lock, m_insert.empty());
            m_size.fetch_add(1, std::memory_order_relaxed);
            m_insert.fire(kb->text, value);
            return true;
        }
    }

    // Replaces the value of a stored key: fires the access event with the old value,
    // then the update event with (key, new, old). False when the key is not stored.
    bool update(const char* key, T* value)
    {
        if (!key || !value)
            return false;
        size_t length = 0;
        const uint32_t h = string_hash(key, length);
        // Retires the old value after the events (and the unlock): the map's reference
        // keeps it valid for the handlers, which run unpinned.
        retire_later later;
        cell_lock lock(*this, h);
        const found f = find_locked(*lock.c, lock.s, h, key, length);
        if (!f.value)
            return false;
        T* old = f.value->load(std::memory_order_relaxed);
        const char* text = f.key->text;
        m_access.fire(text, old);
        value->addRef();
        begin_write(lock);
        f.value->store(value, std::memory_order_release);
        end_write(lock, m_update.empty());
        later.value = old;
        m_update.fire(text, value, old);
        return true;
    }

    // Takes the key out and fires the erase event with (key, value). False when the
    // key is not stored.
    bool erase(const char* key)
    {
        if (!key)
            return false;
        size_t length = 0;
        const uint32_t h = string_hash(key, length);
        // The key copy and the value stay the map's until the event has run.
        retire_later later;
        cell_lock lock(*this, h);
        cell& c = *lock.c;
        const found f = find_locked(c, lock.s, h, key, length);
        if (!f.value)
            return false;
        detail::key_block* kb = f.key;
        T* value = f.value->load(std::memory_order_relaxed);
        begin_write(lock);
        if (f.slot >= 0) {
            c.slots[f.slot].key.store(nullptr, std::memory_order_release);
            c.slots[f.slot].value.store(nullptr, std::memory_order_release);
            lock.s = (lock.s & ~(slot_bit0 << f.slot)) - 1;
        } else {
            item* next = f.it->next.load(std::memory_order_relaxed);
            if (f.prev)
                f.prev->next.store(next, std::memory_order_release);
            else
                c.chain.store(next, std::memory_order_release);
            if (!c.chain.load(std::memory_order_relaxed))
                lock.s &= ~chain_bit;
            // Given back while the cell is locked, so that no growth can free the table
            // under us; a reader still walking the item sees the version move and starts over.
            give_item(*lock.t, f.it);
        }
        end_write(lock, m_erase.empty());
        m_size.fetch_sub(1, std::memory_order_relaxed);
        later.key = kb;
        later.value = value;
        m_erase.fire(kb->text, value);
        return true;
    }

    // The value stored under key with a reference for the caller, or null. Fires the
    // access event on a hit.
    zel::RefPtr<T> find(const char* key) const
    {
        if (!key)
            return {};
        size_t length = 0;
        const uint32_t h = string_hash(key, length);
        zel::RefPtr<T> result;
        {
            epoch::guard pin;
            const detail::key_block* hitKey = nullptr;
            T* hit = lookup(h, key, length, hitKey);
            if (!hit)
                return {};
            // Still pinned: the map's own reference cannot have been dropped yet.
            result = zel::RefPtr<T>(hit);
        }
        // Handlers run unpinned (a slow one would hold back every reclamation), on the
        // caller's reference.
        m_access.fire(key, result.get());
        return result;
    }

    // Calls fn(value) with the value stored under key and returns true, or returns
    // false. No reference is taken: the value is valid during the call only (the
    // thread stays pinned), so fn must not keep it, and must be short: it holds back
    // reclamation. For hot paths that read a field or two; fires the access event on a
    // hit, like find (then with a reference, and fn runs unpinned too).
    template <class F>
    bool visit(const char* key, F&& fn) const
    {
        if (!key)
            return false;
        if (!m_access.empty()) {
            zel::RefPtr<T> found = find(key);
            if (!found)
                return false;
            fn(found.get());
            return true;
        }
        size_t length = 0;
        const uint32_t h = string_hash(key, length);
        epoch::guard pin;
        const detail::key_block* hitKey = nullptr;
        T* hit = lookup(h, key, length, hitKey);
        if (!hit)
            return false;
        fn(hit);
        return true;
    }

    bool contains(const char* key) const
    {
        return visit(key, [](T*) {});
    }

    size_t size() const noexcept { return m_size.load(std::memory_order_relaxed); }

    // The value at a position of the map's order (cells in index order, in each the
    // inline slots, then the chain), with a reference for the caller; null past the end.
    zel::RefPtr<T> get(size_t index) const
    {
        epoch::guard pin;
        std::vector<entry> buf;
        for (;;) {
            table* t = m_table.load(std::memory_order_acquire);
            size_t n = 0;
            for (uint32_t i = 0; i < t->capacity; ++i) {
                snapshot(*t, t->cells[i], buf);
                if (index < n + buf.size()) {
                    if (m_table.load(std::memory_order_acquire) != t)
                        break;
                    return zel::RefPtr<T>(buf[index - n].value);
                }
                n += buf.size();
            }
            if (m_table.load(std::memory_order_acquire) == t)
                return {};
        }
    }

    // Sets out to the value after pos (a reference for the caller), advances pos and
    // returns true; at the end zeroes pos and returns false. A walk that overlaps
    // changes sees each row that stayed stored throughout, and may miss or repeat a
    // row that moved in a growth.
    bool next(position& pos, zel::RefPtr<T>& out) const
    {
        out.reset();
        epoch::guard pin;
        std::vector<entry> buf;
        for (;;) {
            table* t = m_table.load(std::memory_order_acquire);
            bool moved = false;
            for (uint32_t i = pos.cell; i < t->capacity && !moved; ++i) {
                snapshot(*t, t->cells[i], buf);
                const uint32_t from = i == pos.cell ? encode(pos) : 0;
                for (const entry& e : buf) {
                    if (e.at < from)
                        continue;
                    if (m_table.load(std::memory_order_acquire) != t) {
                        moved = true;
                        break;
                    }
                    out = zel::RefPtr<T>(e.value);
                    pos.cell = i;
                    pos.slot = e.at < 3 ? e.at + 1 : 3;
                    pos.item = e.at < 3 ? 0 : e.at - 3 + 1;
                    return true;
                }
            }
            if (!moved && m_table.load(std::memory_order_acquire) == t) {
                pos = position{};
                return false;
            }
        }
    }

    // Calls fn(key, value) for every stored value in the map's order; each value
    // holds an added reference during its call. fn runs without a lock and unpinned:
    // the entries of one cell are copied (keys) and referenced (values) while pinned,
    // then handed out. As weakly consistent as next().
    template <class F>
    void for_each(F&& fn) const
    {
        std::vector<entry> buf;
        std::vector<std::pair<std::string, zel::RefPtr<T>>> rows;
        for (uint32_t i = 0;; ++i) {
            rows.clear();
            {
                epoch::guard pin;
                table* t = m_table.load(std::memory_order_acquire);
                if (i >= t->capacity)
                    return;
                snapshot(*t, t->cells[i], buf);
                for (const entry& e : buf)
                    rows.emplace_back(std::string(e.key->text, e.key->length), zel::RefPtr<T>(e.value));
            }
            for (const auto& row : rows)
                fn(row.first.c_str(), row.second.get());
        }
    }

    // Fires the each-row event with every stored (key, value), as for_each.
    void fire_each_row() const
    {
        if (m_eachRow.empty())
            return;
        for_each([this](const char* k, T* v) { m_eachRow.fire(k, v); });
    }

    // Events (see [Locking] above).
    Cpp::Event<const char*, T*>& each_row_event() { return m_eachRow; }
    Cpp::Event<const char*, T*>& insert_event() { return m_insert; }
    Cpp::Event<const char*, T*, T*>& update_event() { return m_update; }
    Cpp::Event<const char*, T*>& erase_event() { return m_erase; }
    Cpp::Event<const char*, T*>& access_event() { return m_access; }
    // The scope that owners of the map give their subscriptions.
    Cpp::ConnectionScope& subscription_scope() { return m_scope; }

    // Figures of the current table, for tests and benchmarks.
    uint32_t capacity() const noexcept { return m_table.load(std::memory_order_acquire)->capacity; }
    uint32_t pool_count() const noexcept { return m_table.load(std::memory_order_acquire)->poolCount; }
    size_t table_bytes() const noexcept { return m_table.load(std::memory_order_acquire)->bytes; }

private:
    // State word: inline count, inline slot bits, a writer inside its stores, chain,
    // writer lock, and the version above.
    static constexpr uint32_t count_mask = 0x3;
    static constexpr uint32_t slot_bit0 = 1u << 2;
    static constexpr uint32_t writing_bit = 1u << 5;
    static constexpr uint32_t chain_bit = 1u << 6;
    static constexpr uint32_t locked_bit = 1u << 7;
    static constexpr uint32_t version_one = 1u << 8;
    static constexpr uint32_t pool_locked = 128;

    struct item {
        std::atomic<item*> next;
        std::atomic<detail::key_block*> key;
        std::atomic<T*> value;
    };
    struct slot {
        std::atomic<detail::key_block*> key;
        std::atomic<T*> value;
    };
    struct alignas(64) cell {
        std::atomic<uint32_t> state;
        std::atomic<item*> chain;
        slot slots[3];
    };
    struct alignas(128) pool {
        std::atomic<uint32_t> lock;
        item* free; // guarded by lock
        item items[items_per_pool];
    };
    static_assert(sizeof(cell) == 64, "one cell per cache line");

    struct table {
        uint32_t capacity;
        uint32_t mask;
        uint32_t poolCount;
        size_t bytes;
        cell* cells;
        pool* pools;
        void* block;
    };

    struct entry {
        const detail::key_block* key;
        T* value;
        uint32_t at; // 0 to 2 inline, 3 + k the k-th chain item
    };

    struct found {
        detail::key_block* key = nullptr;
        std::atomic<T*>* value = nullptr;
        int slot = -1;
        item* it = nullptr;
        item* prev = nullptr;
    };

    struct key_holder {
        detail::key_block* k;
        ~key_holder() { detail::free_key(k); }
        detail::key_block* release() { return std::exchange(k, nullptr); }
    };

    // The writer lock of the key's cell in the current table, released on scope exit.
    // Pinned only until the lock is taken: a locked cell's table cannot be grown away,
    // and nothing in a locked cell can be unlinked by others, so the writer's work and
    // the events it fires need no pin. Collection is deferred while the lock is held.
    struct cell_lock {
        cell_lock(concurrent_hash_map& m, uint32_t h)
        {
            unsigned spins = 0;
            for (;;) {
                {
                    // Each attempt pins on its own: a writer waiting for a cell whose
                    // handler runs long must not hold back reclamation either.
                    epoch::guard pin;
                    t = m.m_table.load(std::memory_order_acquire);
                    c = &t->cells[h & t->mask];
                    s = c->state.load(std::memory_order_relaxed);
                    if (!(s & locked_bit) &&
                        c->state.compare_exchange_weak(s, s | locked_bit, std::memory_order_acquire, std::memory_order_relaxed)) {
                        s |= locked_bit;
                        held = true;
                        return;
                    }
                }
                // A growth keeps the old cells locked: look at the table again.
                detail::relax(spins);
            }
        }
        ~cell_lock() { unlock(); }
        void unlock()
        {
            if (held)
                c->state.store(s & ~locked_bit, std::memory_order_release);
            held = false;
        }
        cell_lock(const cell_lock&) = delete;
        cell_lock& operator=(const cell_lock&) = delete;

        epoch::deferral defer; // first: ends after the unlock
        table* t;
        cell* c;
        uint32_t s;
        bool held = false;
    };

    // What a writer unlinked, retired when it leaves the scope (after its events and
    // its unlock), also when a handler throws.
    struct retire_later {
        detail::key_block* key = nullptr;
        T* value = nullptr;
        retire_later() = default;
        retire_later(const retire_later&) = delete;
        retire_later& operator=(const retire_later&) = delete;
        ~retire_later()
        {
            if (key)
                epoch::retire(key, &detail::free_key);
            if (value)
                retire_value(value);
        }
    };

    // Readers that see the writing bit wait for the few stores that follow; the
    // release stores of the data keep this mark ahead of them.
    static void begin_write(cell_lock& l) { l.c->state.store(l.s | writing_bit, std::memory_order_relaxed); }
    // With nobody to tell, the new version and the unlock go out in one store.
    static void end_write(cell_lock& l, bool unlock = false)
    {
        l.s = (l.s + version_one) & ~(unlock ? writing_bit | locked_bit : writing_bit);
        l.c->state.store(l.s, std::memory_order_release);
        if (unlock)
            l.held = false;
    }

    static int free_slot(uint32_t s)
    {
        for (int k = 0; k < 3; ++k)
            if (!(s & (slot_bit0 << k)))
                return k;
        return -1;
    }

    static void append(cell& c, item* it)
    {
        item* last = c.chain.load(std::memory_order_relaxed);
        if (!last) {
            c.chain.store(it, std::memory_order_release);
            return;
        }
        while (item* n = last->next.load(std::memory_order_relaxed))
            last = n;
        last->next.store(it, std::memory_order_release);
    }

    static void retire_value(T* v)
    {
        epoch::retire(v, [](void* p) { static_cast<T*>(p)->release(); });
    }

    // The validated, unlocked read of one key; the caller is pinned.
    T* lookup(uint32_t h, const char* key, size_t length, const detail::key_block*& hitKey) const
    {
        unsigned spins = 0;
        for (;;) {
            table* t = m_table.load(std::memory_order_acquire);
            const cell& c = t->cells[h & t->mask];
            const uint32_t s1 = c.state.load(std::memory_order_acquire);
            if (s1 & writing_bit) {
                detail::relax(spins);
                continue;
            }
            T* hit = nullptr;
            const bool complete = search(*t, c, s1, h, key, length, hitKey, hit);
            const uint32_t s2 = c.state.load(std::memory_order_acquire);
            if (complete && !((s1 ^ s2) & ~locked_bit) && m_table.load(std::memory_order_acquire) == t)
                return hit;
            detail::relax(spins);
        }
    }

    // Under the cell lock.
    static found find_locked(cell& c, uint32_t s, uint32_t h, const char* key, size_t length)
    {
        found f;
        for (int k = 0; k < 3; ++k) {
            if (!(s & (slot_bit0 << k)))
                continue;
            detail::key_block* kb = c.slots[k].key.load(std::memory_order_relaxed);
            if (detail::key_equals(kb, h, key, length)) {
                f.key = kb;
                f.value = &c.slots[k].value;
                f.slot = k;
                return f;
            }
        }
        item* prev = nullptr;
        for (item* it = c.chain.load(std::memory_order_relaxed); it; prev = it, it = it->next.load(std::memory_order_relaxed)) {
            detail::key_block* kb = it->key.load(std::memory_order_relaxed);
            if (kb && detail::key_equals(kb, h, key, length)) {
                f.key = kb;
                f.value = &it->value;
                f.it = it;
                f.prev = prev;
                return f;
            }
        }
        return f;
    }

    // One unlocked pass over a cell read in state s; false when the chain walk ran
    // longer than the table has items (items moved under the reader).
    static bool search(const table& t, const cell& c, uint32_t s, uint32_t h, const char* key, size_t length,
                       const detail::key_block*& hitKey, T*& hit)
    {
        for (int k = 0; k < 3; ++k) {
            if (!(s & (slot_bit0 << k)))
                continue;
            const detail::key_block* kb = c.slots[k].key.load(std::memory_order_acquire);
            if (kb && detail::key_equals(kb, h, key, length)) {
                hitKey = kb;
                hit = c.slots[k].value.load(std::memory_order_acquire);
                return true;
            }
        }
        if (!(s & chain_bit))
            return true;
        const uint32_t limit = t.poolCount * items_per_pool;
        uint32_t steps = 0;
        for (const item* it = c.chain.load(std::memory_order_acquire); it; it = it->next.load(std::memory_order_acquire)) {
            if (++steps > limit)
                return false;
            const detail::key_block* kb = it->key.load(std::memory_order_acquire);
            if (kb && detail::key_equals(kb, h, key, length)) {
                hitKey = kb;
                hit = it->value.load(std::memory_order_acquire);
                return true;
            }
        }
        return true;
    }

    // A validated copy of a cell's entries, in the map's order.
    static void snapshot(const table& t, const cell& c, std::vector<entry>& out)
    {
        const uint32_t limit = t.poolCount * items_per_pool;
        unsigned spins = 0;
        for (;;) {
            out.clear();
            const uint32_t s1 = c.state.load(std::memory_order_acquire);
            if (s1 & writing_bit) {
                detail::relax(spins);
                continue;
            }
            bool complete = true;
            for (uint32_t k = 0; k < 3; ++k) {
                if (!(s1 & (slot_bit0 << k)))
                    continue;
                const detail::key_block* kb = c.slots[k].key.load(std::memory_order_acquire);
                T* v = c.slots[k].value.load(std::memory_order_acquire);
                if (kb && v)
                    out.push_back(entry{kb, v, k});
            }
            if (s1 & chain_bit) {
                uint32_t index = 0;
                for (const item* it = c.chain.load(std::memory_order_acquire); it; it = it->next.load(std::memory_order_acquire)) {
                    if (index >= limit) {
                        complete = false;
                        break;
                    }
                    const detail::key_block* kb = it->key.load(std::memory_order_acquire);
                    T* v = it->value.load(std::memory_order_acquire);
                    if (kb && v)
                        out.push_back(entry{kb, v, 3 + index});
                    ++index;
                }
            }
            const uint32_t s2 = c.state.load(std::memory_order_acquire);
            if (complete && !((s1 ^ s2) & ~locked_bit))
                return;
            detail::relax(spins);
        }
    }

    static uint32_t encode(const position& p) { return p.slot < 3 ? p.slot : 3 + p.item; }

    // An overflow item from the pools, starting at the key's pool: a first pass skips
    // busy pools, a second waits for them. Null when every pool is empty.
    static item* take_item(table& t, uint32_t h)
    {
        for (int pass = 0; pass < 2; ++pass) {
            for (uint32_t k = 0; k < t.poolCount; ++k) {
                pool& p = t.pools[(h + k) % t.poolCount];
                if (pass == 0) {
                    if (p.lock.exchange(pool_locked, std::memory_order_acquire) != 0)
                        continue;
                } else {
                    unsigned spins = 0;
                    while (p.lock.exchange(pool_locked, std::memory_order_acquire) != 0)
                        detail::relax(spins);
                }
                item* it = p.free;
                if (it)
                    p.free = it->next.load(std::memory_order_relaxed);
                p.lock.store(0, std::memory_order_release);
                if (it)
                    return it;
            }
        }
        return nullptr;
    }

    static void give_item(table& t, item* it)
    {
        const size_t index = static_cast<size_t>(reinterpret_cast<char*>(it) - reinterpret_cast<char*>(t.pools)) / sizeof(pool);
        pool& p = t.pools[index];
        unsigned spins = 0;
        while (p.lock.exchange(pool_locked, std::memory_order_acquire) != 0)
            detail::relax(spins);
        it->key.store(nullptr, std::memory_order_release);
        it->value.store(nullptr, std::memory_order_release);
        it->next.store(p.free, std::memory_order_release);
        p.free = it;
        p.lock.store(0, std::memory_order_release);
    }

    static table* make_table(uint32_t capacity)
    {
        const uint32_t poolCount = capacity / cells_per_pool;
        const size_t cellBytes = sizeof(cell) * capacity; // a multiple of 128: pools start aligned
        const size_t bytes = cellBytes + sizeof(pool) * poolCount;
        void* block = detail::alloc_block(bytes);
        if (!block)
            return nullptr;
        auto* t = new (std::nothrow) table;
        if (!t) {
            detail::free_block(block);
            return nullptr;
        }
        t->capacity = capacity;
        t->mask = capacity - 1;
        t->poolCount = poolCount;
        t->bytes = bytes;
        t->block = block;
        t->cells = static_cast<cell*>(block);
        t->pools = reinterpret_cast<pool*>(static_cast<char*>(block) + cellBytes);
        for (uint32_t i = 0; i < capacity; ++i)
            new (&t->cells[i]) cell();
        for (uint32_t i = 0; i < poolCount; ++i) {
            pool* p = new (&t->pools[i]) pool();
            for (uint32_t k = 0; k < items_per_pool; ++k)
                p->items[k].next.store(k + 1 < items_per_pool ? &p->items[k + 1] : nullptr, std::memory_order_relaxed);
            p->free = &p->items[0];
        }
        return t;
    }

    static void free_table(void* p) noexcept
    {
        auto* t = static_cast<table*>(p);
        detail::free_block(t->block);
        delete t;
    }

    // Moves an item into a table that nobody else sees yet.
    static void place(table& t, detail::key_block* kb, T* v)
    {
        cell& c = t.cells[kb->hash & t.mask];
        uint32_t s = c.state.load(std::memory_order_relaxed);
        const int k = free_slot(s);
        if (k >= 0) {
            c.slots[k].key.store(kb, std::memory_order_relaxed);
            c.slots[k].value.store(v, std::memory_order_relaxed);
            c.state.store((s | (slot_bit0 << k)) + 1, std::memory_order_relaxed);
            return;
        }
        item* it = take_item(t, kb->hash);
        if (!it) {
            // Cannot happen: a cell of the new table only takes items of one old cell,
            // and the new pools hold four times the old ones.
            std::fputs("concurrent_hash_map: new_aitem\n", stderr);
            std::abort();
        }
        it->key.store(kb, std::memory_order_relaxed);
        it->value.store(v, std::memory_order_relaxed);
        it->next.store(nullptr, std::memory_order_relaxed);
        append(c, it);
        c.state.store(s | chain_bit, std::memory_order_relaxed);
    }

    // Grows by four with every cell locked; true when the caller should retry
    // (this thread grew, or another one did). False when memory ran out.
    bool grow()
    {
        if (m_growing.exchange(pool_locked, std::memory_order_acq_rel) != 0) {
            unsigned spins = 0;
            while (m_growing.load(std::memory_order_acquire) != 0)
                detail::relax(spins);
            return true;
        }
        table* old = m_table.load(std::memory_order_acquire);
        for (uint32_t i = 0; i < old->capacity; ++i) {
            std::atomic<uint32_t>& st = old->cells[i].state;
            unsigned spins = 0;
            for (;;) {
                uint32_t s = st.load(std::memory_order_relaxed);
                if (!(s & locked_bit) && st.compare_exchange_weak(s, s | locked_bit, std::memory_order_acquire, std::memory_order_relaxed))
                    break;
                detail::relax(spins);
            }
        }
        table* t = make_table(old->capacity * growth_factor);
        if (!t) {
            for (uint32_t i = 0; i < old->capacity; ++i)
                old->cells[i].state.fetch_and(~locked_bit, std::memory_order_release);
            m_growing.store(0, std::memory_order_release);
            return false;
        }
        for (uint32_t i = 0; i < old->capacity; ++i) {
            cell& c = old->cells[i];
            const uint32_t s = c.state.load(std::memory_order_relaxed);
            for (uint32_t k = 0; k < 3; ++k)
                if (s & (slot_bit0 << k))
                    place(*t, c.slots[k].key.load(std::memory_order_relaxed), c.slots[k].value.load(std::memory_order_relaxed));
            for (item* it = c.chain.load(std::memory_order_relaxed); it; it = it->next.load(std::memory_order_relaxed))
                place(*t, it->key.load(std::memory_order_relaxed), it->value.load(std::memory_order_relaxed));
        }
        // The old cells stay locked: writers that still look at them move on to the new
        // table; readers of the old one are done before it is freed.
        m_table.store(t, std::memory_order_release);
        epoch::retire(old, &concurrent_hash_map::free_table);
        m_growing.store(0, std::memory_order_release);
        return true;
    }

    // Every lookup reads the table pointer: keep the counter writers bump off its line.
    alignas(64) std::atomic<table*> m_table;
    std::atomic<uint32_t> m_growing{0};
    alignas(64) std::atomic<size_t> m_size{0};

    mutable Cpp::Event<const char*, T*> m_eachRow;
    Cpp::Event<const char*, T*> m_insert;
    Cpp::Event<const char*, T*, T*> m_update;
    Cpp::Event<const char*, T*> m_erase;
    mutable Cpp::Event<const char*, T*> m_access;
    Cpp::ConnectionScope m_scope;
};

} // namespace rl
