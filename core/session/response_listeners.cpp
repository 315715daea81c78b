#include "core/session/response_listeners.h"

#include <algorithm>

namespace zel {

void ResponseListeners::add(IZelResponseListener* listener)
{
    if (!listener)
        return;
    LockGuard<Mutex> lock(m_mutex);
    m_listeners.emplace_back(listener);
}

void ResponseListeners::addFirst(IZelResponseListener* listener)
{
    if (!listener)
        return;
    LockGuard<Mutex> lock(m_mutex);
    m_listeners.insert(m_listeners.begin(), RefPtr<IZelResponseListener>(listener));
}

void ResponseListeners::remove(IZelResponseListener* listener)
{
    RefPtr<IZelResponseListener> removed;  // released after the mutex
    LockGuard<Mutex> lock(m_mutex);
    auto it = std::find_if(m_listeners.begin(), m_listeners.end(),
                           [listener](const RefPtr<IZelResponseListener>& l) { return l.get() == listener; });
    if (it == m_listeners.end())
        return;
    removed = std::move(*it);
    m_listeners.erase(it);
}

ResponseListeners::List ResponseListeners::getCopy() const
{
    LockGuard<Mutex> lock(m_mutex);
    return m_listeners;
}

void ResponseListeners::clear()
{
    List removed;
    LockGuard<Mutex> lock(m_mutex);
    removed.swap(m_listeners);
}

} // namespace zel
