#include "request_id.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>

namespace merrow::detail {

namespace {

std::string makePrefix()
{
    std::random_device rd;
    // Two draws: random_device yields 32 bits at a time.
    const uint64_t bits = (uint64_t(rd()) << 32) ^ uint64_t(rd());
    char text[17];
    std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(bits));
    return text;
}

std::atomic<uint64_t> g_counter{0};

} // namespace

const std::string& requestIdPrefix()
{
    static const std::string prefix = makePrefix();
    return prefix;
}

std::string nextRequestId()
{
    const uint64_t n = g_counter.fetch_add(1, std::memory_order_relaxed) + 1;
    return requestIdPrefix() + ":" + std::to_string(n);
}

char* newRequestIdText()
{
    const std::string id = nextRequestId();
    char* text = static_cast<char*>(std::malloc(id.size() + 1));
    if (text)
        std::memcpy(text, id.c_str(), id.size() + 1);
    return text;
}

void freeRequestIdText(char* text)
{
    std::free(text);
}

} // namespace merrow::detail
