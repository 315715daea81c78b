#pragma once
// The result of an operation of the transport (inside the library and at the
// server's API): success, or a failure with a reason written for the log ("frame
// CRC mismatch"). Nothing in merrow throws for bad input; callers look at ok() and
// pass reason() on. Header-only: nothing of it is exported.

#include <string>
#include <utility>

namespace merrow {

class [[nodiscard]] Status {
public:
    Status() = default;
    static Status error(std::string reason) { return Status(std::move(reason)); }

    bool ok() const { return !m_failed; }
    // Empty when ok().
    const std::string& reason() const { return m_reason; }

private:
    explicit Status(std::string reason) : m_failed(true), m_reason(std::move(reason)) {}

    bool m_failed = false;
    std::string m_reason;
};

} // namespace merrow
