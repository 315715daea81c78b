#pragma once
// Symbols of libvorntool2 that applications and the other libraries may link.
// Everything else is hidden (-fvisibility=hidden).
#define VORNTOOL_API __attribute__((visibility("default")))
