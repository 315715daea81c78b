#pragma once
// An encoded frame held by several owners at once (the journal, the outbound queue,
// a write in flight) without copying; nobody changes the bytes once shared.

#include <cstdint>
#include <memory>
#include <vector>

namespace merrow::detail {

using SharedFrame = std::shared_ptr<const std::vector<std::uint8_t>>;

} // namespace merrow::detail
