#pragma once
// Epoch-based reclamation for the lock-free readers of the row map.
//
// A reader pins the current epoch for the length of one lookup; a writer that
// unlinks something a reader may still be reading (a key copy, the map's reference
// to a row, a whole cell table after a growth) retires it instead of freeing it.
// Retired things are destroyed once the global epoch has moved three steps past
// the epoch read when they were retired (after their unlink): by then every reader
// that could have seen them has unpinned.
//
// [Threading] Any thread may pin and retire. Destruction of retired things runs on
// the thread that retired them (when it leaves its outermost pin or deferral) or,
// after that thread ended, on whichever thread collects next; never while a pin or
// a deferral is held, so never inside a map's cell lock.
// [Reentrancy] A deleter may pin, look up and retire again; it never runs nested in
// another collection on the same thread.

#include <cstddef>
#include <cstdint>

namespace rl {
namespace epoch {

using deleter_fn = void (*)(void*);

// Pins the calling thread for its lifetime. Nested guards are cheap: only the
// outermost one publishes the epoch, and leaving it may collect retired things.
class guard {
public:
    guard() noexcept;
    ~guard();
    guard(const guard&) = delete;
    guard& operator=(const guard&) = delete;
};

// Holds back the calling thread's collection for its lifetime without pinning: a
// writer holds one while it holds a lock that a deleter might want. Other threads'
// reclamation goes on. Leaving the outermost one outside every pin collects when due.
class deferral {
public:
    deferral() noexcept;
    ~deferral();
    deferral(const deferral&) = delete;
    deferral& operator=(const deferral&) = delete;
};

// Hands p to the reclamation: fn(p) runs once no reader can still hold p. Call it
// after p was unlinked, pinned or not.
void retire(void* p, deleter_fn fn);

// True when the calling thread holds a guard.
bool pinned() noexcept;

// Destroys everything retired so far by this thread and by ended threads, waiting
// (yielding) for other threads' pins to move on. Returns false when the calling
// thread is itself pinned (its own pin keeps the epoch from advancing) or holds a
// deferral. For tests and shutdown; the normal path collects on its own.
bool synchronize();

// Things retired and not yet destroyed, over all threads (for tests and figures).
size_t pending() noexcept;

// Test hooks.
namespace testing {
// hook runs inside every pin between reading the global epoch and publishing it
// (null removes it): lets a test stop a thread there while others move the epoch.
void set_pin_hook(void (*hook)()) noexcept;
// One attempt to advance the global epoch; false when a pinned thread holds it back.
bool try_advance();
// Destroys what of this thread's and ended threads' retired things is old enough,
// without waiting; does nothing while the caller is pinned or deferring.
void collect_now();
uint64_t current() noexcept;
} // namespace testing

} // namespace epoch
} // namespace rl
