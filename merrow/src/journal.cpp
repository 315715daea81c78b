#include "journal.h"

namespace merrow::detail {

namespace {

JournalStatus fail(JournalStatus::Code code, std::string text)
{
    return {code, std::move(text)};
}

} // namespace

Journal::Journal(std::size_t maxFrames, std::size_t maxBytes) : m_maxFrames(maxFrames), m_maxBytes(maxBytes) {}

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
        m_bytes -= m_frames.front()->size();
        m_frames.pop_front();
        ++m_firstKept;
    }
    return {};
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
    m_firstKept = 1;
    m_lastSequence = 0;
    m_bytes = 0;
}

} // namespace merrow::detail
