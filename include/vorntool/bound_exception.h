#pragma once
// Thrown by the containers for an index outside 0..size-1.

#include <exception>

#include "vorntool/vorntool_export.h"

namespace vorntool {

class VORNTOOL_API BoundException : public std::exception {
public:
    BoundException() = default;
    ~BoundException() override;

    // "BoundException"; the text is static.
    const char* getClass() const;
    const wchar_t* getClassW() const;
    const char* what() const noexcept override;
};

} // namespace vorntool
