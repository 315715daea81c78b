#pragma once
// CRC-32 of the frame trailer: the IEEE polynomial, reflected, as zlib's crc32
// computes it (same value for the same bytes). Carry-less multiplication folds 64
// bytes per step where the processor has it; slicing-by-8 tables do the rest and
// serve processors without it.
//
// [Threading] Pure functions; the tables are built before main.

#include <cstddef>
#include <cstdint>

namespace merrow::wire {

// The CRC of `size` bytes continuing from `crc` (0 to start), as zlib's
// crc32(crc, data, size).
std::uint32_t crc32(const std::uint8_t* data, std::size_t size, std::uint32_t crc = 0);

// The table path alone, for tests that compare both paths.
std::uint32_t crc32Portable(const std::uint8_t* data, std::size_t size, std::uint32_t crc = 0);

} // namespace merrow::wire
