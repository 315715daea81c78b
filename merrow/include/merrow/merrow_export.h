#pragma once
// Symbols of libmerrow that the core, the dealer and applications may link.
// Everything else is hidden (-fvisibility=hidden).
#define MERROW_API __attribute__((visibility("default")))
