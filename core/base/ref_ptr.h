#pragma once
// The one way the core holds references: adopt an existing reference, or add one.
// No bare addRef/release pairs in the core.

#include <cstddef>
#include <utility>

namespace zel {

template <class T>
class RefPtr {
public:
    struct adopt_t {};
    static constexpr adopt_t adopt{};

    RefPtr() noexcept = default;
    RefPtr(std::nullptr_t) noexcept {}
    // Takes over a reference the caller already holds (a creator's result).
    RefPtr(T* p, adopt_t) noexcept : m_p(p) {}
    // Adds a reference of its own (a borrowed pointer).
    explicit RefPtr(T* p) noexcept : m_p(p)
    {
        if (m_p)
            m_p->addRef();
    }
    RefPtr(const RefPtr& o) noexcept : RefPtr(o.m_p) {}
    RefPtr(RefPtr&& o) noexcept : m_p(std::exchange(o.m_p, nullptr)) {}
    template <class U>
    RefPtr(const RefPtr<U>& o) noexcept : RefPtr(static_cast<T*>(o.get()))
    {
    }
    ~RefPtr() { reset(); }

    RefPtr& operator=(RefPtr o) noexcept
    {
        std::swap(m_p, o.m_p);
        return *this;
    }

    static RefPtr adoptRef(T* p) noexcept { return RefPtr(p, adopt); }

    void reset() noexcept
    {
        if (T* p = std::exchange(m_p, nullptr))
            p->release();
    }
    // Gives the reference to the caller (a getter returning an added reference).
    T* detach() noexcept { return std::exchange(m_p, nullptr); }
    // Returns the pointer with a new reference for the caller.
    T* share() const noexcept
    {
        if (m_p)
            m_p->addRef();
        return m_p;
    }

    T* get() const noexcept { return m_p; }
    T* operator->() const noexcept { return m_p; }
    T& operator*() const noexcept { return *m_p; }
    explicit operator bool() const noexcept { return m_p != nullptr; }

private:
    T* m_p = nullptr;
};

template <class T>
RefPtr<T> adoptRef(T* p) noexcept
{
    return RefPtr<T>(p, RefPtr<T>::adopt);
}

} // namespace zel
