#pragma once
// Request identifiers: "<instance prefix>:<counter>", where the prefix is 64 random
// bits in hex drawn once per process and the counter counts from 1 across every
// session of the process. Unique across sessions and, with overwhelming
// probability, across processes and restarts.
//
// [Threading] Any thread; the counter is atomic.

#include <cstdint>
#include <string>

namespace merrow::detail {

// The process's prefix: 16 lower-case hex digits.
const std::string& requestIdPrefix();

// A fresh identifier as a string.
std::string nextRequestId();

// A fresh identifier as a NUL-terminated text from malloc, freed with
// freeRequestIdText (or ConnectionManagerEx::freePointer, which is free()).
// Null only when memory is exhausted.
char* newRequestIdText();
void freeRequestIdText(char* text);

} // namespace merrow::detail
