#pragma once
// The registry of requests sent and not yet answered, keyed by request identifier.
// Batches are registered by their leaves: every answer names a single request.
//
// Ownership: add takes a reference of the registry's own to each leaf;
// findAndRemove hands that reference to the caller. The registry releases what it
// still holds when destroyed.
// [Threading] Any thread may add and take; one re-entrant lock covers the whole of
// an add (the registration of a batch's leaves included) and each findAndRemove.
// [Locking] Nothing outside the registry runs under its lock.

#include <string>
#include <unordered_map>
#include <vector>

#include "core/base/mutex.h"
#include "core/base/ref_ptr.h"
#include "zel/request.h"

namespace zel {

class Requests {
public:
    Requests() = default;
    ~Requests() = default;
    Requests(const Requests&) = delete;
    Requests& operator=(const Requests&) = delete;

    // Registers a single request under its identifier, replacing (and releasing)
    // what was stored under the same identifier; for a batch, registers each leaf of
    // its tree the same way and not the batch. Null requests, leaves with an empty
    // identifier (no answer can name them) and levels nested deeper than 64 are
    // left out.
    void add(IZelRequest* request);
    // Removes the request stored under the identifier and hands its reference to
    // the caller; null when none is (null identifier included).
    IZelRequest* findAndRemove(const char* requestID);

    int size() const;
    // Empties the registry; the identifiers it held, in no particular order.
    std::vector<std::string> takeAll();

private:
    void addLocked(IZelRequest* request, int depth) ZEL_REQUIRES(m_mutex);

    mutable RecursiveMutex m_mutex;
    std::unordered_map<std::string, RefPtr<IZelRequest>> m_requests ZEL_GUARDED_BY(m_mutex);
};

} // namespace zel
