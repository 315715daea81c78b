#include "inbound_sequencer.h"

namespace merrow::detail {

InboundSequencer::InboundSequencer(const Clock& clock, std::size_t ackEvery, Duration ackDelay)
    : m_clock(clock), m_ackEvery(ackEvery == 0 ? 1 : ackEvery), m_ackDelay(ackDelay)
{
}

SequenceCheck InboundSequencer::accept(std::uint64_t sequence)
{
    if (sequence == 0)
        return {SequenceCheck::Code::kInvalid, "A trading-channel frame arrived without a sequence number."};
    if (sequence <= m_lastReceived)
        return {SequenceCheck::Code::kDuplicate, {}};
    if (sequence != m_lastReceived + 1)
        return {SequenceCheck::Code::kGap, "Frame " + std::to_string(sequence) + " arrived after frame " +
                                               std::to_string(m_lastReceived) + "; the frames between are missing."};
    m_lastReceived = sequence;
    if (m_unacked++ == 0)
        m_firstUnackedAt = m_clock.now();
    return {};
}

void InboundSequencer::onAckSent()
{
    m_unacked = 0;
}

bool InboundSequencer::bareAckDue() const
{
    if (m_unacked == 0)
        return false;
    return m_unacked >= m_ackEvery || m_clock.now() >= m_firstUnackedAt + m_ackDelay;
}

std::optional<TimePoint> InboundSequencer::ackDeadline() const
{
    if (m_unacked == 0)
        return std::nullopt;
    return m_firstUnackedAt + m_ackDelay;
}

void InboundSequencer::reset()
{
    m_lastReceived = 0;
    m_unacked = 0;
}

} // namespace merrow::detail
