#pragma once
// Deterministic pseudo-random values addressed by keys, not by a sequence: the same
// (seed, keys) always give the same value, so prices and history can be computed for
// any instant or index without replaying what came before.

#include <cmath>
#include <cstdint>
#include <string>

namespace pellora::dealer {

inline uint64_t mix64(uint64_t x) {
    x += 0x9e3779b97f4a7c15ull;
    x = (x ^ (x >> 30)) * 0xbf58476d1ce4e5b9ull;
    x = (x ^ (x >> 27)) * 0x94d049bb133111ebull;
    return x ^ (x >> 31);
}

inline uint64_t hashKeys(uint64_t seed, uint64_t a, uint64_t b = 0, uint64_t c = 0) {
    return mix64(mix64(mix64(seed ^ mix64(a)) ^ b) ^ mix64(c + 0x632be59bd9b4e019ull));
}

// FNV-1a of a text, for keying by offer ID.
inline uint64_t hashText(const std::string& s) {
    uint64_t h = 0xcbf29ce484222325ull;
    for (unsigned char ch : s) h = (h ^ ch) * 0x100000001b3ull;
    return h;
}

// A value of mean 0 and variance 1 (sum of four uniforms, rescaled): cheap, bounded
// by about ±3.46, close enough to normal for a price walk.
inline double gaussianFromHash(uint64_t h) {
    double sum = 0;
    for (int k = 0; k < 4; ++k) sum += static_cast<double>((h >> (16 * k)) & 0xffff) / 65535.0;
    return (sum - 2.0) * std::sqrt(3.0);
}

} // namespace pellora::dealer
