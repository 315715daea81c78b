#include "testutil/stream_faults.h"

#include <algorithm>

namespace testutil {

void StreamFaults::cutAfter(std::uint64_t n)
{
    m_byteCut = n > kNever - m_position ? kNever : m_position + n;
}

void StreamFaults::cutAtFrame(std::uint64_t k, std::uint64_t bytesIntoFrame)
{
    m_frameCut = kNever;
    m_framesToCut = k == 0 ? 1 : k;
    m_bytesIntoFrame = bytesIntoFrame;
}

void StreamFaults::clear()
{
    m_byteCut = kNever;
    m_frameCut = kNever;
    m_framesToCut = 0;
    m_dropLeft = 0;
    m_corruptLeft = 0;
}

void StreamFaults::frameStarts(std::uint64_t at)
{
    ++m_framesStarted;
    if (m_framesToCut != 0 && --m_framesToCut == 0) {
        const std::uint64_t point =
            m_bytesIntoFrame > kNever - at ? kNever : at + m_bytesIntoFrame;
        m_frameCut = std::min(m_frameCut, point);
    }
}

void StreamFaults::trackFrames(const std::uint8_t* data, std::size_t size)
{
    std::size_t i = 0;
    while (i < size) {
        if (m_frameLeft != 0) {
            const std::uint64_t take = std::min<std::uint64_t>(m_frameLeft, size - i);
            m_frameLeft -= take;
            i += static_cast<std::size_t>(take);
            continue;
        }
        if (m_lengthBytes == 0)
            frameStarts(m_position + i);
        m_length = (m_length << 8) | data[i];
        ++i;
        if (++m_lengthBytes == 4) {
            m_frameLeft = frameBytes(m_length) - 4;
            m_lengthBytes = 0;
            m_length = 0;
        }
    }
}

StreamFaults::Result StreamFaults::process(std::uint8_t* data, std::size_t size)
{
    trackFrames(data, size);

    Result r;
    std::size_t end = size;
    const std::uint64_t cut = cutPoint();
    if (cut <= m_position + size) {
        end = static_cast<std::size_t>(cut > m_position ? cut - m_position : 0);
        r.cut = true;
    }

    const std::size_t dropped = static_cast<std::size_t>(std::min<std::uint64_t>(m_dropLeft, end));
    m_dropLeft -= dropped;
    r.offset = dropped;
    r.length = end - dropped;

    const std::size_t flipped =
        static_cast<std::size_t>(std::min<std::uint64_t>(m_corruptLeft, r.length));
    m_corruptLeft -= flipped;
    for (std::size_t i = 0; i < flipped; ++i)
        data[r.offset + i] ^= m_mask;

    m_position += end;
    return r;
}

} // namespace testutil
