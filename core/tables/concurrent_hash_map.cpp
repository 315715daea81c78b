#include "core/tables/concurrent_hash_map.h"

#include <cstdlib>

namespace rl {

uint32_t string_hash(const char* s, size_t& length) noexcept
{
    uint32_t seed = 0;
    const char* p = s;
    for (; *p; ++p) {
        const auto c = static_cast<uint32_t>(static_cast<int32_t>(static_cast<signed char>(*p)));
        seed ^= c + 0x9E3779B9u + (seed << 6) + (seed >> 2);
    }
    length = static_cast<size_t>(p - s);
    return seed;
}

uint32_t string_hash(const char* s) noexcept
{
    size_t length = 0;
    return string_hash(s, length);
}

namespace detail {

size_t key_bytes(size_t length) noexcept
{
    return offsetof(key_block, text) + length + 1;
}

key_block* make_key(const char* s, size_t length, uint32_t hash)
{
    auto* k = static_cast<key_block*>(std::malloc(key_bytes(length)));
    if (!k)
        throw std::bad_alloc();
    k->hash = hash;
    k->length = static_cast<uint32_t>(length);
    std::memcpy(k->text, s, length);
    k->text[length] = '\0';
    return k;
}

void free_key(void* k) noexcept
{
    std::free(k);
}

void* alloc_block(size_t bytes) noexcept
{
    void* p = nullptr;
    if (::posix_memalign(&p, 128, bytes) != 0)
        return nullptr;
    std::memset(p, 0, bytes);
    return p;
}

void free_block(void* p) noexcept
{
    std::free(p);
}

} // namespace detail
} // namespace rl
