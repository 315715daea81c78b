#pragma once
// Reference counting shared by every public object.
//
// Ownership: creators return an object holding one reference that belongs to the
// caller; getters returning an interface add a reference that the caller releases.
// Objects are never deleted from outside: the last release destroys them.
// Counting is atomic, so references may be taken and dropped on any thread; the
// object itself is not otherwise locked by this mechanism.

#include <atomic>
#include <cstdint>

class IAddRef {
public:
    // Adds a reference; returns the new count.
    virtual long addRef() = 0;
    // Drops a reference; returns the new count. At 0 the object is destroyed.
    virtual long release() = 0;

    IAddRef(const IAddRef&) = delete;
    IAddRef& operator=(const IAddRef&) = delete;

protected:
    IAddRef() = default;
    virtual ~IAddRef() = default;
};

// Implementation base of the public objects: derives from the interface I and
// holds one 32-bit counter that starts at 1 (the creator's reference).
template <class I>
class TThreadSafeAddRefImpl : public I {
public:
    long addRef() override { return m_refCount.fetch_add(1, std::memory_order_relaxed) + 1; }

    long release() override
    {
        const int32_t now = m_refCount.fetch_sub(1, std::memory_order_acq_rel) - 1;
        if (now == 0)
            delete this;
        return now;
    }

protected:
    TThreadSafeAddRefImpl() = default;
    ~TThreadSafeAddRefImpl() override = default;

private:
    std::atomic<int32_t> m_refCount{1};
};

// The same mechanism as a plain class.
class CThreadSafeAddRefImpl : public TThreadSafeAddRefImpl<IAddRef> {
protected:
    CThreadSafeAddRefImpl() = default;
    ~CThreadSafeAddRefImpl() override = default;
};

// A second counting interface with the same two operations, for objects that are
// not part of the IAddRef family.
class IAddReference {
public:
    virtual long addRef() = 0;
    virtual long release() = 0;

    IAddReference(const IAddReference&) = delete;
    IAddReference& operator=(const IAddReference&) = delete;

protected:
    IAddReference() = default;
    virtual ~IAddReference() = default;
};

template <class I = IAddReference>
class TThreadSafeAddReferenceImpl : public I {
public:
    long addRef() override { return m_refCount.fetch_add(1, std::memory_order_relaxed) + 1; }

    long release() override
    {
        const int32_t now = m_refCount.fetch_sub(1, std::memory_order_acq_rel) - 1;
        if (now == 0)
            delete this;
        return now;
    }

protected:
    TThreadSafeAddReferenceImpl() = default;
    ~TThreadSafeAddReferenceImpl() override = default;

private:
    std::atomic<int32_t> m_refCount{1};
};
