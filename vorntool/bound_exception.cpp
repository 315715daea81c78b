#include "vorntool/bound_exception.h"

namespace vorntool {

BoundException::~BoundException() = default;

const char* BoundException::getClass() const
{
    return "BoundException";
}

const wchar_t* BoundException::getClassW() const
{
    return L"BoundException";
}

const char* BoundException::what() const noexcept
{
    return "BoundException";
}

} // namespace vorntool
