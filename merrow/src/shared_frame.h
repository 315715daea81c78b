#pragma once
// An encoded frame held by several owners at once (the journal, the outbound queue,
// a write in flight) without copying; nobody changes the bytes once shared.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace merrow::detail {

using SharedFrame = std::shared_ptr<const std::vector<std::uint8_t>>;

// Where a handler's pull source puts the frames it hands over, in order.
class FrameSink {
public:
    // The bytes of one frame, copied at once: the caller keeps its storage.
    virtual void addCopy(const std::uint8_t* data, std::size_t size) = 0;
    // One frame, shared when large and copied when small.
    virtual void addShared(const SharedFrame& frame) = 0;

protected:
    ~FrameSink() = default;
};

} // namespace merrow::detail
