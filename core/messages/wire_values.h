#pragma once
// Numbers and names in the servers' texts, read, written and compared the same way
// whatever the process's locale (a Java host sets the C library's locale from the
// user's environment, and a decimal comma must never reach the wire).

#include <cstddef>
#include <cstdint>
#include <string>

namespace zel {

// The base-10 integer at the start of the text (after blanks and an optional sign),
// saturated to the 32-bit range; 0 for null or a text that holds no number.
int32_t parseWireInt(const char* text);
// The decimal number at the start of the text; 0.0 for null, no number, or a value
// that is not finite.
double parseWireDouble(const char* text);
// The same over text[0, length) when the length is known (a tokenized field): the
// text is read no further and need not be NUL-terminated.
int32_t parseWireInt(const char* text, size_t length);
double parseWireDouble(const char* text, size_t length);
// The value with six decimals, as "%f" writes it in the C locale.
std::string formatWireDouble(double value);
// Equality of two texts with ASCII letters compared without regard to case; false
// when either is null.
bool equalsIgnoreCase(const char* a, const char* b);

} // namespace zel
