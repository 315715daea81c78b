#pragma once
// Growable arrays with bounds-checked access, and the owning variants used for
// lists of message parts. Header-only.
//
// Index access outside 0..size()-1 throws vorntool::BoundException. Growth doubles
// the capacity (amortised constant append). None of these is locked: a vector is
// owned by one object and used under that object's rules.

#include <cstddef>
#include <cstring>
#include <utility>
#include <vector>

#include "vorntool/bound_exception.h"

namespace vorntool {

template <class T>
class TXVectorBase {
public:
    TXVectorBase() = default;
    TXVectorBase(const TXVectorBase&) = default;
    TXVectorBase& operator=(const TXVectorBase&) = default;
    virtual ~TXVectorBase() = default;

    int size() const { return static_cast<int>(m_items.size()); }
    bool isEmpty() const { return m_items.empty(); }

    T& operator[](int i) { return m_items[check(i)]; }
    const T& operator[](int i) const { return m_items[check(i)]; }
    T& at(int i) { return m_items[check(i)]; }
    const T& at(int i) const { return m_items[check(i)]; }

    void add(const T& v) { m_items.push_back(v); }
    void add(T&& v) { m_items.push_back(std::move(v)); }
    // Inserts before index i; i == size() appends.
    void insert(int i, const T& v)
    {
        if (i != size())
            check(i);
        m_items.insert(m_items.begin() + i, v);
    }

protected:
    std::size_t check(int i) const
    {
        if (i < 0 || static_cast<std::size_t>(i) >= m_items.size())
            throw BoundException();
        return static_cast<std::size_t>(i);
    }

    std::vector<T> m_items;
};

template <class T>
class TXVector : public TXVectorBase<T> {
public:
    // Removes element i (no ownership: nothing is destroyed beyond the slot).
    virtual void remove(int i) { this->m_items.erase(this->m_items.begin() + this->check(i)); }
    virtual void clear() { this->m_items.clear(); }

    typename std::vector<T>::iterator begin() { return this->m_items.begin(); }
    typename std::vector<T>::iterator end() { return this->m_items.end(); }
    typename std::vector<T>::const_iterator begin() const { return this->m_items.begin(); }
    typename std::vector<T>::const_iterator end() const { return this->m_items.end(); }
};

// A plain array of values or pointers whose lifetime is held elsewhere.
template <class T>
class TVector : public TXVector<T> {};

namespace detail {
struct ScalarDelete {
    template <class T>
    void operator()(T* p) const { delete p; }
};
struct ArrayDelete {
    template <class T>
    void operator()(T* p) const { delete[] p; }
};

// Owns its pointers: clear, remove and the destructor destroy them with Deleter.
template <class T, class Deleter>
class TOwningVector : public TXVector<T*> {
public:
    TOwningVector() = default;
    TOwningVector(const TOwningVector&) = delete;
    TOwningVector& operator=(const TOwningVector&) = delete;
    ~TOwningVector() override { destroyAll(); }

    void remove(int i) override
    {
        T* p = this->m_items[this->check(i)];
        this->m_items.erase(this->m_items.begin() + i);
        Deleter()(p);
    }
    void clear() override { destroyAll(); }

    // Hands element i to the caller, who then owns it.
    T* detach(int i)
    {
        T* p = this->m_items[this->check(i)];
        this->m_items.erase(this->m_items.begin() + i);
        return p;
    }

private:
    void destroyAll()
    {
        std::vector<T*> items;
        items.swap(this->m_items);  // a destructor that looks at the vector sees it empty
        for (T* p : items)
            Deleter()(p);
    }
};
} // namespace detail

template <class P>
class TPtrVector;

// Owns its elements and deletes them with scalar delete.
template <class T>
class TPtrVector<T*> : public detail::TOwningVector<T, detail::ScalarDelete> {};

template <class P>
class TPtrArrVector;

// Owns its elements and deletes them with array delete (owned NUL-terminated strings).
template <class T>
class TPtrArrVector<T*> : public detail::TOwningVector<T, detail::ArrayDelete> {};

// Owning vector of NUL-terminated strings. With copy = true, add() stores a copy
// of the text it is given; with copy = false, add() adopts a pointer that the
// caller allocated with new[]. Either way the strings are freed with array delete
// (scalar delete of a new[] block would be undefined).
template <class C, bool copy>
class TStrVector : public TPtrArrVector<C*> {
public:
    // A null text is stored as an empty string, so get() never returns null.
    void add(const C* text)
    {
        if (copy || text == nullptr)
            TPtrArrVector<C*>::add(duplicate(text));
        else
            TPtrArrVector<C*>::add(const_cast<C*>(text));
    }
    const C* get(int i) const { return this->at(i); }

private:
    static C* duplicate(const C* text)
    {
        std::size_t n = 0;
        if (text)
            while (text[n] != C())
                ++n;
        C* out = new C[n + 1];
        for (std::size_t k = 0; k < n; ++k)
            out[k] = text[k];
        out[n] = C();
        return out;
    }
};

} // namespace vorntool
