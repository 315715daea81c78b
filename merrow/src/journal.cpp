#include "journal.h"

#include <atomic>

namespace merrow::detail {

namespace {

// Bytes of spares kept at most, and the largest frame kept as one: a peer
// acknowledges every 1,024 frames, so a stream of small requests reuses all of its
// frames, and a session that went quiet keeps at most this much.
constexpr std::size_t kMaxSpareBytes = std::size_t(1) << 20;
constexpr std::size_t kMaxSpareFrame = 4096;

JournalStatus fail(JournalStatus::Code code, std::string text)
{
    return {code, std::move(text)};
}

} // namespace

Journal::Journal(std::size_t maxFrames, std::size_t maxBytes, bool keepSpares)
    : m_maxFrames(maxFrames), m_maxBytes(maxBytes), m_keepSpares(keepSpares)
{
}

JournalStatus Journal::append(SharedFrame frame)
{
    if (!frame || frame->empty())
        return fail(JournalStatus::Code::kInvalid, "An empty frame cannot be journaled.");
    if (m_frames.size() >= m_maxFrames)
        return fail(JournalStatus::Code::kOverflow,
                    std::to_string(m_frames.size()) + " sent frames are still waiting for acknowledgement.");
    if (frame->size() > m_maxBytes - m_bytes)
        return fail(JournalStatus::Code::kOverflow,
                    "Sent frames waiting for acknowledgement would exceed " + std::to_string(m_maxBytes) + " bytes.");
    m_bytes += frame->size();
    m_frames.push_back(std::move(frame));
    ++m_lastSequence;
    return {};
}

JournalStatus Journal::ack(std::uint64_t n)
{
    if (n > m_lastSequence)
        return fail(JournalStatus::Code::kBadAck, "The peer acknowledged frame " + std::to_string(n) +
                                                      " but only " + std::to_string(m_lastSequence) +
                                                      " were sent.");
    while (m_firstKept <= n) {
        SharedFrame& front = m_frames.front();
        m_bytes -= front->size();
        // A frame may still be part of a write in progress (acknowledged up to a
        // point of a large batch): it is kept all the same and reused once free.
        if (m_keepSpares && front->capacity() <= kMaxSpareFrame &&
            m_spareBytes + front->capacity() <= kMaxSpareBytes) {
            m_spareBytes += front->capacity();
            m_spares.push_back(std::move(front));
        }
        m_frames.pop_front();
        ++m_firstKept;
    }
    return {};
}

std::shared_ptr<std::vector<std::uint8_t>> Journal::takeSpare()
{
    // Oldest first: frames leave the writes in the order they were acknowledged.
    if (m_spares.empty() || m_spares.front().use_count() != 1)
        return nullptr;
    SharedFrame spare = std::move(m_spares.front());
    m_spares.pop_front();
    m_spareBytes -= spare->capacity();
    // The last other owner's release (a write that finished) comes before our reuse.
    std::atomic_thread_fence(std::memory_order_acquire);
    // Every frame is made as a mutable vector and shared as const; only its sole
    // owner gets it back mutable.
    auto bytes = std::const_pointer_cast<std::vector<std::uint8_t>>(std::move(spare));
    bytes->clear();
    return bytes;
}

JournalStatus Journal::framesAfter(std::uint64_t n, std::vector<JournalEntry>& out) const
{
    out.clear();
    if (n > m_lastSequence)
        return fail(JournalStatus::Code::kCannotResend, "The peer claims frame " + std::to_string(n) +
                                                            " but only " + std::to_string(m_lastSequence) +
                                                            " were sent.");
    if (n + 1 < m_firstKept)
        return fail(JournalStatus::Code::kCannotResend, "The peer lacks frames after " + std::to_string(n) +
                                                            " that it had already acknowledged.");
    out.reserve(static_cast<std::size_t>(m_lastSequence - n));
    for (std::uint64_t seq = n + 1; seq <= m_lastSequence; ++seq)
        out.push_back({seq, m_frames[static_cast<std::size_t>(seq - m_firstKept)]});
    return {};
}

void Journal::reset()
{
    m_frames.clear();
    m_spares.clear();
    m_spareBytes = 0;
    m_firstKept = 1;
    m_lastSequence = 0;
    m_bytes = 0;
}

} // namespace merrow::detail
