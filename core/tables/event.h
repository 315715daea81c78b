#pragma once
// Signal and slot: an Event is a list of connections, each binding a delegate (an
// object and one of its member functions, virtual ones included, or a callable).
// Every connection is also owned by a ConnectionScope, so that either side can end
// it: disconnecting from the event, destroying the event, or destroying the scope.
//
// [Threading] fire() runs the handlers on the calling thread, in connection order.
// Any thread may fire, connect and disconnect; firing works on a snapshot of the
// connections, so handlers connected during a firing are not called by it, and a
// handler disconnected during a firing is not called afterwards.
// [Locking] A list locks the recursive mutex of the thread that created it only to
// change its connections or to take a snapshot; no handler runs under that lock.
// [Reentrancy] A handler may fire the same event again (the nested firing calls the
// current connections), connect, and disconnect itself or others.
// disconnect() never waits for a call under way on another thread when the
// connection keeps its target alive: a reference-counted object (the call in flight
// holds a reference of its own, so the caller may release its reference right after
// disconnecting) or a callable (owned by the connection, which the firing holds; what
// it captures by bare pointer is the caller's to keep alive). Only a member function
// of an object that is not reference counted still waits for calls under way on
// other threads, as nothing else could keep that object valid; a handler
// disconnecting its own connection never waits for itself. After disconnect()
// returns, no new call of the connection starts.
// [Exceptions] An exception thrown by a handler leaves fire() and skips the later
// handlers of that firing; the event stays usable.

#include <atomic>
#include <cstddef>
#include <memory>
#include <type_traits>
#include <utility>
#include <vector>

#include "core/base/mutex.h"
#include "core/base/ref_ptr.h"
#include "vorntool/add_ref.h"

namespace Cpp {

namespace Threading {

// Per-thread record; its recursive mutex guards the connection lists made on that thread.
class ThreadData : public CThreadSafeAddRefImpl {
public:
    zel::RecursiveMutex& mutex() { return m_mutex; }

private:
    ~ThreadData() override = default;
    zel::RecursiveMutex m_mutex;
};

// The calling thread's record, created on first use; the result holds its own reference.
zel::RefPtr<ThreadData> constructThreadData();

} // namespace Threading

namespace Private {
namespace Events {

class ConnectionList;

class AbstractConnection : public CThreadSafeAddRefImpl {
public:
    // Ends the connection on both its lists; idempotent. See [Reentrancy] above.
    void disconnect();
    bool connected() const { return m_connected.load(std::memory_order_seq_cst); }

    // Counts a call under way, so that disconnect() on another thread can wait for
    // it. A connection that keeps its target alive calls entered() once it holds it:
    // from then on disconnect() does not wait for the call.
    class CallScope {
    public:
        explicit CallScope(AbstractConnection& c);
        ~CallScope();
        bool live() const { return m_live; }
        void entered();
        // Whether this call of c still counts as one disconnect() waits for.
        bool counts(const AbstractConnection* c) const { return &m_c == c && m_counted; }
        CallScope(const CallScope&) = delete;
        CallScope& operator=(const CallScope&) = delete;

    private:
        AbstractConnection& m_c;
        bool m_live;
        bool m_counted;
    };

protected:
    AbstractConnection() = default;
    ~AbstractConnection() override = default;

private:
    friend class ConnectionList;
    void attach(ConnectionList* event, ConnectionList* scope);

    std::atomic<bool> m_connected{false};
    // Calls that started and either have not yet taken hold of their target or run
    // on a target that cannot be held.
    std::atomic<int> m_inFlight{0};
    zel::Mutex m_mutex;
    zel::RefPtr<ConnectionList> m_event ZEL_GUARDED_BY(m_mutex);
    zel::RefPtr<ConnectionList> m_scope ZEL_GUARDED_BY(m_mutex);
};

using ConnectionVector = std::vector<zel::RefPtr<AbstractConnection>>;

// The connections of one event or one scope, copied on write so that a firing can
// keep its snapshot while handlers change the list.
class ConnectionList : public CThreadSafeAddRefImpl {
public:
    ConnectionList();

    void add(AbstractConnection* c);
    void remove(AbstractConnection* c);
    // The current connections; the snapshot stays valid while the list changes.
    std::shared_ptr<const ConnectionVector> borrow() const;
    // Empties the list and hands its connections to the caller.
    ConnectionVector takeAll();
    bool empty() const { return m_count.load(std::memory_order_acquire) == 0; }
    size_t size() const { return m_count.load(std::memory_order_acquire); }
    // Ends every connection of the list (on its other list too).
    void disconnectAll();

    // Links a new connection into its event and its scope.
    static void connect(AbstractConnection* c, ConnectionList* event, ConnectionList* scope);

private:
    ~ConnectionList() override = default;

    zel::RefPtr<Threading::ThreadData> m_threadData;
    zel::RecursiveMutex& m_mutex;
    std::shared_ptr<const ConnectionVector> m_connections ZEL_GUARDED_BY(m_mutex);
    std::atomic<size_t> m_count{0};
};

template <class... Args>
class Connection : public AbstractConnection {
public:
    void call(Args... args)
    {
        CallScope scope(*this);
        if (scope.live())
            invoke(scope, args...);
    }

protected:
    virtual void invoke(CallScope& scope, Args... args) = 0;
};

// True for objects with addRef() and release().
template <class O, class = void>
struct is_ref_counted : std::false_type {};
template <class O>
struct is_ref_counted<O, std::void_t<decltype(std::declval<O&>().addRef()), decltype(std::declval<O&>().release())>>
    : std::true_type {};

template <class O, class... Args>
class MemberConnection final : public Connection<Args...> {
public:
    using Method = void (O::*)(Args...);
    MemberConnection(O* obj, Method fn) : m_obj(obj), m_fn(fn) {}
    bool matches(const O* obj, Method fn) const { return m_obj == obj && m_fn == fn; }

private:
    void invoke(AbstractConnection::CallScope& scope, Args... args) override
    {
        if constexpr (is_ref_counted<O>::value) {
            // Taken before entered(): until then disconnect() waits, so the object
            // is still referenced by whoever subscribed it.
            zel::RefPtr<O> keep(m_obj);
            scope.entered();
            (m_obj->*m_fn)(args...);
        } else {
            (m_obj->*m_fn)(args...);
        }
    }
    O* const m_obj;
    const Method m_fn;
};

template <class F, class... Args>
class FunctionConnection final : public Connection<Args...> {
public:
    explicit FunctionConnection(F fn) : m_fn(std::move(fn)) {}

private:
    void invoke(AbstractConnection::CallScope& scope, Args... args) override
    {
        scope.entered(); // the firing's reference to this connection keeps m_fn
        m_fn(args...);
    }
    F m_fn;
};

} // namespace Events
} // namespace Private

using ConnectionRef = zel::RefPtr<Private::Events::AbstractConnection>;

// Owns connections; destroying the scope disconnects every one of them.
// [Threading] Destroy a scope only when its handlers' objects may no longer be called.
class ConnectionScope {
public:
    ConnectionScope() : m_list(new Private::Events::ConnectionList(), zel::RefPtr<Private::Events::ConnectionList>::adopt) {}
    ~ConnectionScope() { m_list->disconnectAll(); }
    ConnectionScope(const ConnectionScope&) = delete;
    ConnectionScope& operator=(const ConnectionScope&) = delete;

    void disconnectAll() { m_list->disconnectAll(); }
    size_t size() const { return m_list->size(); }
    Private::Events::ConnectionList* list() const { return m_list.get(); }

private:
    zel::RefPtr<Private::Events::ConnectionList> m_list;
};

template <class... Args>
class Event {
public:
    Event() : m_list(new Private::Events::ConnectionList(), zel::RefPtr<Private::Events::ConnectionList>::adopt) {}
    ~Event() { m_list->disconnectAll(); }
    Event(const Event&) = delete;
    Event& operator=(const Event&) = delete;

    // Connects obj->fn, owned by scope. The object must outlive the connection; a
    // reference-counted one is held during each call (see [Reentrancy]).
    template <class O>
    ConnectionRef connect(ConnectionScope& scope, O* obj, void (O::*fn)(Args...))
    {
        return link(new Private::Events::MemberConnection<O, Args...>(obj, fn), scope);
    }

    // Connects a callable, owned by scope.
    template <class F>
    ConnectionRef connect(ConnectionScope& scope, F fn)
    {
        return link(new Private::Events::FunctionConnection<F, Args...>(std::move(fn)), scope);
    }

    // Disconnects the first connection of obj->fn; false when there is none.
    template <class O>
    bool disconnect(const O* obj, void (O::*fn)(Args...))
    {
        const auto snapshot = m_list->borrow();
        for (const auto& c : *snapshot) {
            auto* m = dynamic_cast<Private::Events::MemberConnection<O, Args...>*>(c.get());
            if (m && m->connected() && m->matches(obj, fn)) {
                m->disconnect();
                return true;
            }
        }
        return false;
    }

    void disconnectAll() { m_list->disconnectAll(); }

    // Calls every connected handler with the arguments; see [Threading] above.
    void fire(Args... args) const
    {
        if (m_list->empty())
            return;
        const auto snapshot = m_list->borrow();
        for (const auto& c : *snapshot)
            static_cast<Private::Events::Connection<Args...>*>(c.get())->call(args...);
    }
    void operator()(Args... args) const { fire(args...); }

    bool empty() const { return m_list->empty(); }
    size_t size() const { return m_list->size(); }

private:
    ConnectionRef link(Private::Events::Connection<Args...>* c, ConnectionScope& scope)
    {
        ConnectionRef ref(c, ConnectionRef::adopt);
        Private::Events::ConnectionList::connect(c, m_list.get(), scope.list());
        return ref;
    }

    zel::RefPtr<Private::Events::ConnectionList> m_list;
};

} // namespace Cpp
