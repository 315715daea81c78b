#include "crc32.h"

#include <array>
#include <cstring>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define MERROW_CRC_CLMUL 1
#endif

namespace merrow::wire {

namespace {

using Tables = std::array<std::array<std::uint32_t, 256>, 8>;

constexpr Tables makeTables()
{
    Tables t{};
    for (std::uint32_t i = 0; i < 256; ++i) {
        std::uint32_t c = i;
        for (int k = 0; k < 8; ++k)
            c = (c & 1) ? (c >> 1) ^ 0xEDB88320u : c >> 1;
        t[0][i] = c;
    }
    for (std::size_t k = 1; k < 8; ++k)
        for (std::size_t i = 0; i < 256; ++i)
            t[k][i] = (t[k - 1][i] >> 8) ^ t[0][t[k - 1][i] & 0xff];
    return t;
}

constexpr Tables kTables = makeTables();

// On the inverted register, as the folding path.
std::uint32_t slicing8(const std::uint8_t* p, std::size_t n, std::uint32_t c)
{
    while (n >= 8) {
        std::uint32_t lo, hi;
        std::memcpy(&lo, p, 4);
        std::memcpy(&hi, p + 4, 4);
#if __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
        lo = __builtin_bswap32(lo);
        hi = __builtin_bswap32(hi);
#endif
        lo ^= c;
        c = kTables[7][lo & 0xff] ^ kTables[6][(lo >> 8) & 0xff] ^ kTables[5][(lo >> 16) & 0xff] ^
            kTables[4][lo >> 24] ^ kTables[3][hi & 0xff] ^ kTables[2][(hi >> 8) & 0xff] ^
            kTables[1][(hi >> 16) & 0xff] ^ kTables[0][hi >> 24];
        p += 8;
        n -= 8;
    }
    while (n--)
        c = (c >> 8) ^ kTables[0][(c ^ *p++) & 0xff];
    return c;
}

#ifdef MERROW_CRC_CLMUL
__attribute__((target("pclmul,sse4.1"))) inline __m128i load(const std::uint8_t* p)
{
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
}

// acc folded 128 bits forward by the constants in k, then next added.
__attribute__((target("pclmul,sse4.1"))) inline __m128i foldInto(__m128i acc, __m128i next, __m128i k)
{
    const __m128i lo = _mm_clmulepi64_si128(acc, k, 0x00);
    const __m128i hi = _mm_clmulepi64_si128(acc, k, 0x11);
    return _mm_xor_si128(_mm_xor_si128(hi, next), lo);
}

// Folds a multiple of 16 bytes, at least 64, with carry-less multiplication and a
// Barrett reduction (the constants of the reflected IEEE polynomial).
__attribute__((target("pclmul,sse4.1"))) std::uint32_t fold(const std::uint8_t* buf, std::size_t len,
                                                          std::uint32_t crc)
{
    alignas(16) static const std::uint64_t k1k2[] = {0x0154442bd4, 0x01c6e41596};
    alignas(16) static const std::uint64_t k3k4[] = {0x01751997d0, 0x00ccaa009e};
    alignas(16) static const std::uint64_t k5k0[] = {0x0163cd6124, 0x0000000000};
    alignas(16) static const std::uint64_t poly[] = {0x01db710641, 0x01f7011641};

    __m128i x1 = load(buf), x2 = load(buf + 16), x3 = load(buf + 32), x4 = load(buf + 48);
    x1 = _mm_xor_si128(x1, _mm_cvtsi32_si128(static_cast<int>(crc)));
    __m128i x0 = _mm_load_si128(reinterpret_cast<const __m128i*>(k1k2));
    buf += 64;
    len -= 64;
    while (len >= 64) {
        const __m128i x5 = _mm_clmulepi64_si128(x1, x0, 0x00);
        const __m128i x6 = _mm_clmulepi64_si128(x2, x0, 0x00);
        const __m128i x7 = _mm_clmulepi64_si128(x3, x0, 0x00);
        const __m128i x8 = _mm_clmulepi64_si128(x4, x0, 0x00);
        x1 = _mm_clmulepi64_si128(x1, x0, 0x11);
        x2 = _mm_clmulepi64_si128(x2, x0, 0x11);
        x3 = _mm_clmulepi64_si128(x3, x0, 0x11);
        x4 = _mm_clmulepi64_si128(x4, x0, 0x11);
        x1 = _mm_xor_si128(_mm_xor_si128(x1, x5), load(buf));
        x2 = _mm_xor_si128(_mm_xor_si128(x2, x6), load(buf + 16));
        x3 = _mm_xor_si128(_mm_xor_si128(x3, x7), load(buf + 32));
        x4 = _mm_xor_si128(_mm_xor_si128(x4, x8), load(buf + 48));
        buf += 64;
        len -= 64;
    }
    x0 = _mm_load_si128(reinterpret_cast<const __m128i*>(k3k4));
    x1 = foldInto(x1, x2, x0);
    x1 = foldInto(x1, x3, x0);
    x1 = foldInto(x1, x4, x0);
    while (len >= 16) {
        x1 = foldInto(x1, load(buf), x0);
        buf += 16;
        len -= 16;
    }
    // 128 bits to 64, then Barrett to 32.
    x2 = _mm_clmulepi64_si128(x1, x0, 0x10);
    x3 = _mm_setr_epi32(~0, 0, ~0, 0);
    x1 = _mm_xor_si128(_mm_srli_si128(x1, 8), x2);
    x0 = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(k5k0));
    x2 = _mm_srli_si128(x1, 4);
    x1 = _mm_and_si128(x1, x3);
    x1 = _mm_xor_si128(_mm_clmulepi64_si128(x1, x0, 0x00), x2);
    x0 = _mm_load_si128(reinterpret_cast<const __m128i*>(poly));
    x2 = _mm_and_si128(x1, x3);
    x2 = _mm_clmulepi64_si128(x2, x0, 0x10);
    x2 = _mm_and_si128(x2, x3);
    x2 = _mm_clmulepi64_si128(x2, x0, 0x00);
    x1 = _mm_xor_si128(x1, x2);
    return static_cast<std::uint32_t>(_mm_extract_epi32(x1, 1));
}

bool haveClmul()
{
    static const bool have = [] {
        __builtin_cpu_init();
        return __builtin_cpu_supports("pclmul") && __builtin_cpu_supports("sse4.1");
    }();
    return have;
}
#endif

} // namespace

std::uint32_t crc32Portable(const std::uint8_t* data, std::size_t size, std::uint32_t crc)
{
    return ~slicing8(data, size, ~crc);
}

std::uint32_t crc32(const std::uint8_t* data, std::size_t size, std::uint32_t crc)
{
    std::uint32_t c = ~crc;
#ifdef MERROW_CRC_CLMUL
    if (size >= 64 && haveClmul()) {
        const std::size_t chunk = size & ~std::size_t{15};
        c = fold(data, chunk, c);
        data += chunk;
        size -= chunk;
    }
#endif
    return ~slicing8(data, size, c);
}

} // namespace merrow::wire
