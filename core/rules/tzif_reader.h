#pragma once
// Reading of compiled zone files (TZif) into a Windows-style zone record with one
// recurring rule, as the time converter needs it. The parser works on a byte
// buffer with an injected "now", so it is deterministic; the file reading wraps it.
//
// [Threading] Every function is reentrant and keeps no state.
// [Exceptions] Nothing throws except allocation failure; bad input gives a result.

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <string>
#include <vector>

#include "vorntool/date.h"

namespace zel {

// What the buffer told about the zone.
enum class TzifOutcome {
    Unreadable,   // empty, truncated, lying counts or out-of-range values: fallback bias only
    NoTypes,      // a type count of 0: fallback bias only
    KeptLocal,    // the local zone's last transition has passed: fallback bias only
    FixedOffset,  // bias of the zone's current offset, no daylight rule
    DaylightRule  // bias, daylight bias and the two transition rules
};

// Fills *info from the first (32-bit) data block of a TZif buffer as of the UTC
// time `now` (seconds since 1970). `named` tells a zone read by name from the local
// zone. Whatever happens, *info is first zeroed with Bias = fallbackBias (the
// machine's current offset, minutes west of UTC); only what the buffer proves
// replaces it. Reads nothing outside data[0, size).
TzifOutcome parseTzif(const unsigned char* data, size_t size, int64_t now, bool named,
                      int32_t fallbackBias, _TIME_ZONE_INFORMATION* info);

// Transition rule from the wall-clock time t of a transition and that of the same
// change a year later (next, may be null): a recurring rule (year 0, weekday,
// occurrence 1-4 or 5 for the last) when both fit one, else the absolute date of t.
void fillTransitionDate(_SYSTEMTIME* rule, const tm* t, const tm* next);

// Gregorian: divisible by 4 and not by 100, or by 400.
bool isLeapYear(int year);

// Path of a zone file: "/etc/localtime" for a null name, otherwise the name under
// "/usr/share/zoneinfo/". False for an empty name, a name with a ".." component
// (names come from the server) and a path longer than 149 characters.
bool zoneFilePath(const char* name, std::string* path);

// Reads at most the first megabyte of a regular file (zone files are a few KB).
// False when it does not exist, is not a regular file, is empty or cannot be read.
bool readZoneFile(const std::string& path, std::vector<unsigned char>* data);

} // namespace zel
