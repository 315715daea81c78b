#pragma once
// Mutex wrappers carrying clang's thread-safety annotations, so that a clang build
// with -Wthread-safety checks which state each lock guards.

#include <mutex>

#if defined(__clang__)
#define ZEL_TSA(x) __attribute__((x))
#else
#define ZEL_TSA(x)
#endif

#define ZEL_CAPABILITY(x) ZEL_TSA(capability(x))
#define ZEL_SCOPED_CAPABILITY ZEL_TSA(scoped_lockable)
#define ZEL_GUARDED_BY(x) ZEL_TSA(guarded_by(x))
#define ZEL_PT_GUARDED_BY(x) ZEL_TSA(pt_guarded_by(x))
#define ZEL_REQUIRES(...) ZEL_TSA(requires_capability(__VA_ARGS__))
#define ZEL_ACQUIRE(...) ZEL_TSA(acquire_capability(__VA_ARGS__))
#define ZEL_RELEASE(...) ZEL_TSA(release_capability(__VA_ARGS__))
#define ZEL_EXCLUDES(...) ZEL_TSA(locks_excluded(__VA_ARGS__))

namespace zel {

class ZEL_CAPABILITY("mutex") Mutex {
public:
    void lock() ZEL_ACQUIRE() { m_m.lock(); }
    void unlock() ZEL_RELEASE() { m_m.unlock(); }

private:
    std::mutex m_m;
};

// Recursive: the library's listener and registry locks may be re-entered by the
// thread that holds them.
class ZEL_CAPABILITY("mutex") RecursiveMutex {
public:
    void lock() ZEL_ACQUIRE() { m_m.lock(); }
    void unlock() ZEL_RELEASE() { m_m.unlock(); }

private:
    std::recursive_mutex m_m;
};

template <class M>
class ZEL_SCOPED_CAPABILITY LockGuard {
public:
    explicit LockGuard(M& m) ZEL_ACQUIRE(m) : m_m(m) { m_m.lock(); }
    ~LockGuard() ZEL_RELEASE() { m_m.unlock(); }
    LockGuard(const LockGuard&) = delete;
    LockGuard& operator=(const LockGuard&) = delete;

private:
    M& m_m;
};

} // namespace zel
