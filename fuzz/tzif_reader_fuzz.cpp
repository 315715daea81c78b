// Arbitrary bytes as a zone file, read as a named and as the local zone: the reader
// must stay inside the buffer, and on a rejected buffer keep the fallback bias only.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "core/rules/tzif_reader.h"

namespace {

constexpr int32_t kFallback = 123;

bool onlyFallback(const _TIME_ZONE_INFORMATION& info)
{
    _TIME_ZONE_INFORMATION expected;
    std::memset(&expected, 0, sizeof expected);
    expected.Bias = kFallback;
    return std::memcmp(&info, &expected, sizeof info) == 0;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    // An exact-size copy, so that the sanitizer sees a read one byte past the end.
    std::vector<unsigned char> buf(data, data + size);
    const int64_t nows[] = {1796860800 /* 2026-12-10 */, 0, 2147483647};
    for (int64_t now : nows) {
        for (bool named : {true, false}) {
            _TIME_ZONE_INFORMATION info;
            const zel::TzifOutcome outcome = zel::parseTzif(buf.data(), buf.size(), now, named, kFallback, &info);
            const bool fallback = outcome == zel::TzifOutcome::Unreadable || outcome == zel::TzifOutcome::NoTypes ||
                                  outcome == zel::TzifOutcome::KeptLocal;
            if (fallback && !onlyFallback(info))
                std::abort();
            if (outcome == zel::TzifOutcome::FixedOffset && (info.DaylightBias != 0 || info.StandardDate.wMonth != 0))
                std::abort();
            if (outcome == zel::TzifOutcome::DaylightRule &&
                (info.StandardDate.wMonth < 1 || info.StandardDate.wMonth > 12 || info.DaylightDate.wMonth < 1 ||
                 info.DaylightDate.wMonth > 12 || info.StandardDate.wDay > 31 || info.DaylightDate.wDay > 31))
                std::abort();
        }
    }
    return 0;
}
