// The frame decoder against arbitrary bytes in arbitrary chunks. Invariants: no
// crash, no leak, no exception, memory bounded by the bytes given (never by a
// declared length), an error is final, and every frame that comes out encodes
// again within the same limits and reads back identically.
//
// Input: one control byte (limits, chunking, CRC repair), then the byte stream.
// With repair on, every frame's CRC is made right before decoding, so mutations
// reach the payload parser instead of dying at the CRC check.

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <vector>

#include <zlib.h>

#include "frame_codec.h"

using merrow::wire::Frame;
using merrow::wire::FrameDecoder;
using merrow::wire::Limits;

namespace {

std::vector<uint8_t> reencode(const Frame& f, const Limits& limits)
{
    std::vector<uint8_t> out;
    const merrow::Status s = merrow::wire::encodeFrame(f.header, *f.message, out, limits);
    if (!s.ok())
        abort();  // what was accepted must fit the same limits when sent
    return out;
}

void checkRoundTrip(const Frame& f, const Limits& limits)
{
    const std::vector<uint8_t> once = reencode(f, limits);
    FrameDecoder again(limits);
    again.feed(once.data(), once.size());
    std::optional<Frame> back;
    if (!again.next(back).ok() || !back)
        abort();
    if (reencode(*back, limits) != once)
        abort();
}

void repairCrcs(std::vector<uint8_t>& s)
{
    using merrow::wire::kHeaderSize;
    using merrow::wire::kTrailerSize;
    size_t pos = 0;
    while (s.size() - pos >= kHeaderSize) {
        const uint8_t* h = s.data() + pos;
        const size_t length = (size_t{h[0]} << 24) | (size_t{h[1]} << 16) | (size_t{h[2]} << 8) | h[3];
        if (s.size() - pos < kHeaderSize + length + kTrailerSize)
            return;
        const uLong crc = crc32_z(crc32_z(0L, Z_NULL, 0), h, kHeaderSize + length);
        uint8_t* t = s.data() + pos + kHeaderSize + length;
        t[0] = static_cast<uint8_t>(crc >> 24);
        t[1] = static_cast<uint8_t>(crc >> 16);
        t[2] = static_cast<uint8_t>(crc >> 8);
        t[3] = static_cast<uint8_t>(crc);
        pos += kHeaderSize + length + kTrailerSize;
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1)
        return 0;
    const uint8_t control = data[0];
    std::vector<uint8_t> stream(data + 1, data + size);
    if (control & 0x20)
        repairCrcs(stream);
    data = stream.data();
    size = stream.size();

    Limits limits;
    if (control & 0x80) {
        // Small limits, so that every limit is within the fuzzer's reach.
        limits.maxPayload = 2048;
        limits.maxDepth = 3;
        limits.maxFields = 40;
    }
    const size_t maxChunk = (control & 0x40) ? 8 : 512;
    FrameDecoder d(limits);
    uint32_t rng = control * 2654435761u + 1;
    size_t at = 0;
    bool failed = false;
    while (at < size) {
        rng = rng * 1103515245u + 12345u;
        size_t n = 1 + (rng >> 16) % maxChunk;
        if (n > size - at)
            n = size - at;
        if (rng & 0x10000000u) {
            d.feed(data + at, n);
        } else {
            // A socket read into the decoder's own buffer, possibly short.
            uint8_t* room = d.prepare(n + 16);
            std::memcpy(room, data + at, n);
            d.commit(n);
        }
        at += n;
        // The buffer grows with the bytes given, not with any declared length.
        if (d.capacity() > 2 * (size + 16 + maxChunk))
            abort();
        for (;;) {
            std::optional<Frame> f;
            const merrow::Status s = d.next(f);
            if (!s.ok()) {
                if (f || s.reason().empty())
                    abort();
                failed = true;
                break;
            }
            if (!f)
                break;
            if (!f->message)
                abort();
            checkRoundTrip(*f, limits);
        }
        if (failed)
            break;
    }
    if (failed) {
        std::optional<Frame> f;
        if (d.next(f).ok() || f || !d.failed())
            abort();  // the first error is final
    }
    return 0;
}
