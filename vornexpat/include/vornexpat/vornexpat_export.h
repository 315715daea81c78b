#pragma once
// Symbols of vornexpat that the core library may link: the parser entry point and
// the handler interface. Everything else is hidden (-fvisibility=hidden).
#define VORNEXPAT_API __attribute__((visibility("default")))
