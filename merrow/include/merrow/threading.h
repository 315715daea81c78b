#pragma once
// Threads and locks of the transport's public edge: a recursive mutex with its
// scoped lock (annotated for clang's thread-safety analysis), and a thread base
// class whose virtual run() is the body.

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "merrow/merrow_export.h"

#if defined(__clang__)
#define MERROW_TSA(x) __attribute__((x))
#else
#define MERROW_TSA(x)
#endif
#define MERROW_CAPABILITY(x) MERROW_TSA(capability(x))
#define MERROW_SCOPED_CAPABILITY MERROW_TSA(scoped_lockable)
#define MERROW_GUARDED_BY(x) MERROW_TSA(guarded_by(x))
#define MERROW_REQUIRES(...) MERROW_TSA(requires_capability(__VA_ARGS__))
#define MERROW_ACQUIRE(...) MERROW_TSA(acquire_capability(__VA_ARGS__))
#define MERROW_RELEASE(...) MERROW_TSA(release_capability(__VA_ARGS__))
#define MERROW_TRY_ACQUIRE(...) MERROW_TSA(try_acquire_capability(__VA_ARGS__))
#define MERROW_EXCLUDES(...) MERROW_TSA(locks_excluded(__VA_ARGS__))

namespace merrow {
namespace threading {

// Recursive: the thread that holds it may lock it again (and unlocks it as many
// times). Meets BasicLockable, so std::lock_guard works as well as MutexLock.
class MERROW_CAPABILITY("mutex") Mutex {
public:
    Mutex() = default;
    Mutex(const Mutex&) = delete;
    Mutex& operator=(const Mutex&) = delete;

    void lock() MERROW_ACQUIRE() { m_m.lock(); }
    void unlock() MERROW_RELEASE() { m_m.unlock(); }
    bool try_lock() MERROW_TRY_ACQUIRE(true) { return m_m.try_lock(); }

private:
    std::recursive_mutex m_m;
};

class MERROW_SCOPED_CAPABILITY MutexLock {
public:
    explicit MutexLock(Mutex& m) MERROW_ACQUIRE(m) : m_m(m) { m_m.lock(); }
    ~MutexLock() MERROW_RELEASE() { m_m.unlock(); }
    MutexLock(const MutexLock&) = delete;
    MutexLock& operator=(const MutexLock&) = delete;

private:
    Mutex& m_m;
};

// A thread object: start(argument) runs run(argument) on a new thread, join()
// waits for it. One thread at a time per object; after it ended (and was
// joined, or not) start may run the object again.
//
// [Threading] run executes on the new thread; start, join and isRunning may be
// called from any thread. [Exceptions] an exception leaving run ends that thread
// quietly; it never reaches the caller of start or terminates the process.
// [Lifetime] a derived class joins in its own destructor: by the time ~AThread
// runs, the derived part, which run uses, is gone. ~AThread still joins a thread
// left running, as a last guard.
class MERROW_API AThread {
public:
    AThread(const AThread&) = delete;
    AThread& operator=(const AThread&) = delete;
    virtual ~AThread();

    // False when a thread of this object is still running or no thread could be
    // created.
    bool start(void* argument = nullptr);
    // Waits for the thread to end; true when no thread is left running. False,
    // without waiting, when called from the object's own thread.
    bool join();
    // True from a successful start until run has returned.
    bool isRunning() const { return m_running.load(std::memory_order_acquire); }

protected:
    AThread() = default;
    // The body of the thread.
    virtual void run(void* argument) = 0;

private:
    void body(void* argument);

    std::mutex m_lock;  // serializes start and join
    std::condition_variable m_ended;
    std::thread m_thread;
    std::thread::id m_runner;  // the thread of the latest start
    std::atomic<bool> m_running{false};
};

} // namespace threading
} // namespace merrow
