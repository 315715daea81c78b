#pragma once
// The one exception of the transport's public edge: a failure with a text written
// for a person ("Invalid user name or password."), raised by the blocking session
// calls and caught by the caller's login code. Copying never throws.

#include <stdexcept>
#include <string>

#include "merrow/merrow_export.h"

namespace merrow {

class MERROW_API GenericException : public std::runtime_error {
public:
    // A null text is taken as "".
    explicit GenericException(const char* text);
    explicit GenericException(const std::string& text);
    GenericException(const GenericException&) noexcept = default;
    GenericException& operator=(const GenericException&) noexcept = default;
    ~GenericException() override;

    // The text given at construction; lives as long as the exception.
    const char* getText() const noexcept { return what(); }
};

} // namespace merrow
