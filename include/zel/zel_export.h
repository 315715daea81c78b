#pragma once
// Symbols of libtamsel2 that applications may link: the creators and the public
// interfaces. Everything else is hidden (-fvisibility=hidden).
#define ZEL_API __attribute__((visibility("default")))
