#include "vorntool/aobject.h"

namespace vorntool {

AObject::AObject() : m_refCount(0) {}

AObject::~AObject() = default;

long AObject::addRef()
{
    return m_refCount.fetch_add(1, std::memory_order_relaxed) + 1;
}

long AObject::release()
{
    const int32_t now = m_refCount.fetch_sub(1, std::memory_order_acq_rel) - 1;
    if (now == 0)
        delete this;
    return now;
}

} // namespace vorntool
