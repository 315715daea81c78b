#pragma once
// Whether an instrument's market is open for trading.

#include <cstdint>

enum class ZelMarketStatus : int32_t { Open = 0, Closed = 1 };
