#include "core/tables/event.h"

#include <algorithm>
#include <thread>

namespace Cpp {

namespace Threading {

namespace {
thread_local zel::RefPtr<ThreadData> t_threadData;
} // namespace

zel::RefPtr<ThreadData> constructThreadData()
{
    if (!t_threadData)
        t_threadData = zel::adoptRef(new ThreadData());
    return t_threadData;
}

} // namespace Threading

namespace Private {
namespace Events {

namespace {
// The connections whose handlers this thread is running, innermost last; lets a
// handler disconnect its own connection without waiting for itself.
thread_local std::vector<const AbstractConnection::CallScope*> t_calls;
} // namespace

AbstractConnection::CallScope::CallScope(AbstractConnection& c) : m_c(c), m_counted(true)
{
    // Counted before the check: disconnect() clears the flag before it waits.
    m_c.m_inFlight.fetch_add(1, std::memory_order_seq_cst);
    m_live = m_c.m_connected.load(std::memory_order_seq_cst);
    t_calls.push_back(this);
}

void AbstractConnection::CallScope::entered()
{
    if (!m_counted)
        return;
    m_counted = false;
    m_c.m_inFlight.fetch_sub(1, std::memory_order_seq_cst);
}

AbstractConnection::CallScope::~CallScope()
{
    t_calls.pop_back();
    entered();
}

void AbstractConnection::attach(ConnectionList* event, ConnectionList* scope)
{
    zel::LockGuard<zel::Mutex> lock(m_mutex);
    m_event = zel::RefPtr<ConnectionList>(event);
    m_scope = zel::RefPtr<ConnectionList>(scope);
    m_connected.store(true, std::memory_order_seq_cst);
}

void AbstractConnection::disconnect()
{
    // Keeps this connection alive while it takes itself out of the lists.
    zel::RefPtr<AbstractConnection> self(this);
    if (m_connected.exchange(false, std::memory_order_seq_cst)) {
        zel::RefPtr<ConnectionList> event;
        zel::RefPtr<ConnectionList> scope;
        {
            zel::LockGuard<zel::Mutex> lock(m_mutex);
            event = std::move(m_event);
            scope = std::move(m_scope);
        }
        if (event)
            event->remove(this);
        if (scope)
            scope->remove(this);
    }
    // Waits only for calls that have not yet taken hold of their target (a few
    // instructions, never a handler) or whose target cannot be held; our own calls
    // on this thread are not waited for.
    int own = 0;
    for (const CallScope* scope : t_calls)
        if (scope->counts(this))
            ++own;
    while (m_inFlight.load(std::memory_order_seq_cst) > own)
        std::this_thread::yield();
}

ConnectionList::ConnectionList()
    : m_threadData(Threading::constructThreadData()),
      m_mutex(m_threadData->mutex()),
      m_connections(std::make_shared<const ConnectionVector>())
{
}

void ConnectionList::add(AbstractConnection* c)
{
    zel::LockGuard<zel::RecursiveMutex> lock(m_mutex);
    auto next = std::make_shared<ConnectionVector>(*m_connections);
    next->emplace_back(c);
    m_count.store(next->size(), std::memory_order_release);
    m_connections = std::move(next);
}

void ConnectionList::remove(AbstractConnection* c)
{
    zel::LockGuard<zel::RecursiveMutex> lock(m_mutex);
    const auto& cur = *m_connections;
    auto it = std::find_if(cur.begin(), cur.end(), [c](const zel::RefPtr<AbstractConnection>& p) { return p.get() == c; });
    if (it == cur.end())
        return;
    auto next = std::make_shared<ConnectionVector>();
    next->reserve(cur.size() - 1);
    for (const auto& p : cur)
        if (p.get() != c)
            next->push_back(p);
    m_count.store(next->size(), std::memory_order_release);
    m_connections = std::move(next);
}

std::shared_ptr<const ConnectionVector> ConnectionList::borrow() const
{
    zel::LockGuard<zel::RecursiveMutex> lock(m_mutex);
    return m_connections;
}

ConnectionVector ConnectionList::takeAll()
{
    std::shared_ptr<const ConnectionVector> old;
    {
        zel::LockGuard<zel::RecursiveMutex> lock(m_mutex);
        old = std::move(m_connections);
        m_connections = std::make_shared<const ConnectionVector>();
        m_count.store(0, std::memory_order_release);
    }
    return *old;
}

void ConnectionList::disconnectAll()
{
    for (auto& c : takeAll())
        c->disconnect();
}

void ConnectionList::connect(AbstractConnection* c, ConnectionList* event, ConnectionList* scope)
{
    c->attach(event, scope);
    scope->add(c);
    event->add(c);
}

} // namespace Events
} // namespace Private

} // namespace Cpp
