#include "core/requests/requests.h"

#include <utility>

namespace zel {

namespace {
// Batches built by the factories nest at most three deep; deeper trees come only
// from a foreign implementation and are cut off rather than overflow the stack.
constexpr int kMaxDepth = 64;
} // namespace

void Requests::add(IZelRequest* request)
{
    LockGuard<RecursiveMutex> lock(m_mutex);
    addLocked(request, 0);
}

void Requests::addLocked(IZelRequest* request, int depth)
{
    if (request == nullptr || depth > kMaxDepth)
        return;
    RefPtr<IZelRequest> held(request);
    const int children = held->getChildrenCount();
    if (children > 0) {
        for (int i = 0; i < children; ++i) {
            RefPtr<IZelRequest> child = adoptRef(held->getChildRequest(i));
            addLocked(child.get(), depth + 1);
        }
        return;  // the batch's own reference goes with `held`
    }
    const char* id = held->getRequestID();
    if (id == nullptr || *id == '\0')
        return;
    m_requests[id] = std::move(held);
}

IZelRequest* Requests::findAndRemove(const char* requestID)
{
    if (requestID == nullptr)
        return nullptr;
    LockGuard<RecursiveMutex> lock(m_mutex);
    const auto it = m_requests.find(requestID);
    if (it == m_requests.end())
        return nullptr;
    IZelRequest* request = it->second.detach();
    m_requests.erase(it);
    return request;
}

int Requests::size() const
{
    LockGuard<RecursiveMutex> lock(m_mutex);
    return static_cast<int>(m_requests.size());
}

std::vector<std::string> Requests::takeAll()
{
    std::unordered_map<std::string, RefPtr<IZelRequest>> taken;
    {
        LockGuard<RecursiveMutex> lock(m_mutex);
        taken.swap(m_requests);
    }
    std::vector<std::string> ids;
    ids.reserve(taken.size());
    for (const auto& entry : taken)
        ids.push_back(entry.first);
    return ids;
}

} // namespace zel
