#include "merrow/generic_exception.h"

namespace merrow {

GenericException::GenericException(const char* text) : std::runtime_error(text ? text : "") {}

GenericException::GenericException(const std::string& text) : std::runtime_error(text) {}

// Out of line, so the vtable and type information live in libmerrow alone and a
// throw from one library is caught in another.
GenericException::~GenericException() = default;

} // namespace merrow
