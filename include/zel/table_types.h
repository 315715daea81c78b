#pragma once
// Small enumerations shared by the table readers and the table manager.

#include <cstdint>

// What a table update did to a row; Unknown for an entry without a type.
enum class ZelTableUpdateType : int32_t { Unknown = -1, Insert = 0, Update = 1, Delete = 2 };

// Where a live table stands with its refreshes.
enum class ZelTableStatus : int32_t { Initial = 0, Refreshing = 1, Refreshed = 2, Failed = 3 };
