#pragma once
// The byte-level half of the fault proxy: what happens to one direction of one
// connection as its bytes are forwarded. Pure logic, no sockets, so the positions of
// cuts, drops and corruption can be tested chunk by chunk.

#include <cstddef>
#include <cstdint>
#include <limits>

namespace testutil {

// Frames of the transport on plain TCP: a 22-byte header (4-byte big-endian payload
// length, kind, channel, 8-byte sequence, 8-byte last-received sequence), the payload
// and a 4-byte CRC trailer, so a frame of payload length L takes 26 + L bytes.
constexpr std::uint64_t kFrameHeaderBytes = 4 + 1 + 1 + 8 + 8;
constexpr std::uint64_t kFrameTrailerBytes = 4;
constexpr std::uint64_t frameBytes(std::uint32_t payloadLength)
{
    return kFrameHeaderBytes + payloadLength + kFrameTrailerBytes;
}

// Positions count the bytes the sender wrote (the source stream), including bytes
// that are then dropped; frames are found in the source stream too, before any
// corruption. Not thread-safe: the proxy uses it on its own thread only.
class StreamFaults {
public:
    // What to deliver of a chunk given to `process`: `length` bytes starting at
    // `offset` (a dropped prefix is skipped), then reset the connection if `cut`.
    struct Result {
        std::size_t offset = 0;
        std::size_t length = 0;
        bool cut = false;
    };

    // Edits `data` in place (corruption) and says what to deliver. After a result
    // with `cut`, the rest of the chunk and every later byte are never delivered.
    Result process(std::uint8_t* data, std::size_t size);

    // Reset once `n` more bytes have gone past (0: reset now, see `cutDue`).
    void cutAfter(std::uint64_t n);
    // Reset when the k-th frame (k >= 1) that begins from now on has had
    // `bytesIntoFrame` bytes delivered: 0 cuts between frames k-1 and k.
    void cutAtFrame(std::uint64_t k, std::uint64_t bytesIntoFrame);
    // Drop the next `n` bytes; flip `mask` into each of the next `n` delivered ones.
    void drop(std::uint64_t n) { m_dropLeft = n; }
    void corrupt(std::uint64_t n, std::uint8_t mask)
    {
        m_corruptLeft = n;
        m_mask = mask;
    }
    // Forgets every pending cut, drop and corruption (frame tracking goes on).
    void clear();

    // The cut point has been reached without a chunk that would carry it.
    bool cutDue() const { return cutPoint() <= m_position; }
    std::uint64_t position() const { return m_position; }
    std::uint64_t framesStarted() const { return m_framesStarted; }
    std::uint64_t dropPending() const { return m_dropLeft; }
    std::uint64_t corruptPending() const { return m_corruptLeft; }

private:
    static constexpr std::uint64_t kNever = std::numeric_limits<std::uint64_t>::max();

    std::uint64_t cutPoint() const { return m_byteCut < m_frameCut ? m_byteCut : m_frameCut; }
    void trackFrames(const std::uint8_t* data, std::size_t size);
    void frameStarts(std::uint64_t at);

    std::uint64_t m_position = 0;
    std::uint64_t m_byteCut = kNever;
    std::uint64_t m_frameCut = kNever;
    std::uint64_t m_framesToCut = 0; // 0: no frame cut pending
    std::uint64_t m_bytesIntoFrame = 0;
    std::uint64_t m_dropLeft = 0;
    std::uint64_t m_corruptLeft = 0;
    std::uint8_t m_mask = 0xFF;

    // Frame tracking: inside the length field (m_lengthBytes of 4 seen) or inside the
    // rest of a frame (m_frameLeft bytes to go).
    std::uint64_t m_framesStarted = 0;
    std::uint32_t m_lengthBytes = 0;
    std::uint32_t m_length = 0;
    std::uint64_t m_frameLeft = 0;
};

} // namespace testutil
