#pragma once
// Calls into the application go through here: whatever the application throws is
// caught at the library's edge, so it never unwinds through our locks and the
// remaining listeners still run.

#include <utility>

namespace zel {

template <class F>
void callApplication(F&& call) noexcept
{
    try {
        std::forward<F>(call)();
    } catch (...) {
        // Nothing to tell: the application's own failure is its own.
    }
}

} // namespace zel
