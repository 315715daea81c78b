#pragma once
// The ordered list of response listeners of a session. Dispatch walks a copy, so a
// listener may subscribe or unsubscribe (itself too) from inside its callback.
//
// Ownership: the list holds one reference per entry; a copy holds its own.
// [Threading] Any thread; the mutex is held only to change or copy the list, never
// during a callback.

#include <vector>

#include "core/base/mutex.h"
#include "core/base/ref_ptr.h"
#include "zel/response_listener.h"

namespace zel {

class ResponseListeners {
public:
    using List = std::vector<RefPtr<IZelResponseListener>>;

    ResponseListeners() = default;
    ResponseListeners(const ResponseListeners&) = delete;
    ResponseListeners& operator=(const ResponseListeners&) = delete;

    // Appends (no duplicate check: a listener added twice hears everything twice).
    void add(IZelResponseListener* listener);
    // Inserts at the front: the most recent addFirst is called first.
    void addFirst(IZelResponseListener* listener);
    // Removes the first occurrence.
    void remove(IZelResponseListener* listener);
    // The current listeners, each with a reference of the copy's own.
    List getCopy() const;
    void clear();

private:
    mutable Mutex m_mutex;
    List m_listeners ZEL_GUARDED_BY(m_mutex);
};

} // namespace zel
