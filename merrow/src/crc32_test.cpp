#include "crc32.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <random>
#include <vector>

namespace merrow::wire {
namespace {

uint32_t zlibCrc(const uint8_t* p, size_t n, uint32_t crc = 0)
{
    return static_cast<uint32_t>(crc32_z(crc, p, n));
}

// The trailer must stay zlib's value: every length across the folding thresholds,
// at every alignment, and continued from an earlier value.
TEST(Crc32, MatchesZlibForEveryLengthAlignmentAndContinuation)
{
    std::mt19937 rng(42);
    std::vector<uint8_t> bytes(2048 + 16);
    for (auto& b : bytes)
        b = static_cast<uint8_t>(rng());
    for (size_t offset = 0; offset < 16; offset += 3) {
        const uint8_t* p = bytes.data() + offset;
        for (size_t n = 0; n <= 1100; ++n) {
            ASSERT_EQ(crc32(p, n), zlibCrc(p, n)) << "length " << n << " offset " << offset;
            ASSERT_EQ(crc32Portable(p, n), zlibCrc(p, n)) << "length " << n << " offset " << offset;
        }
    }
    const uint32_t head = crc32(bytes.data(), 100);
    EXPECT_EQ(crc32(bytes.data() + 100, 1900, head), zlibCrc(bytes.data(), 2000));
    EXPECT_EQ(crc32(bytes.data(), 0, 0x12345678u), 0x12345678u);
}

TEST(Crc32, KnownValues)
{
    const uint8_t digits[] = {'1', '2', '3', '4', '5', '6', '7', '8', '9'};
    EXPECT_EQ(crc32(digits, sizeof digits), 0xCBF43926u);
    std::vector<uint8_t> zeros(4096, 0);
    EXPECT_EQ(crc32(zeros.data(), zeros.size()), zlibCrc(zeros.data(), zeros.size()));
    std::vector<uint8_t> ones(4096, 0xff);
    EXPECT_EQ(crc32(ones.data(), ones.size()), zlibCrc(ones.data(), ones.size()));
}

} // namespace
} // namespace merrow::wire
