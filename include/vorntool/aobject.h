#pragma once
// Base of the message objects.
//
// Unlike the public objects, the counter starts at 0: the creator calls addRef
// once before handing the object on, and the release that reaches 0 deletes it.

#include <atomic>
#include <cstdint>

#include "vorntool/vorntool_export.h"

namespace vorntool {

class VORNTOOL_API AObject {
public:
    AObject();
    AObject(const AObject&) = delete;
    AObject& operator=(const AObject&) = delete;

    // Atomic; returns the new count.
    virtual long addRef();
    // Atomic; deletes the object when the count reaches 0 and returns the new count.
    virtual long release();

    long AddRef() { return addRef(); }
    long Release() { return release(); }

protected:
    virtual ~AObject();

private:
    std::atomic<int32_t> m_refCount;
};

} // namespace vorntool
