#include "outbound_queue.h"

#include <algorithm>

namespace merrow::detail {

OutboundQueue::OutboundQueue(std::size_t conflateAbove, std::size_t maxMarketDataFrames, std::size_t maxBytes)
    : m_conflateAbove(conflateAbove), m_maxMarketData(maxMarketDataFrames), m_maxBytes(maxBytes)
{
}

QueueStatus OutboundQueue::push(SharedFrame frame, OutboundChannel channel, std::string_view conflationKey)
{
    if (!frame || frame->empty())
        return {QueueStatus::Code::kInvalid, "An empty frame cannot be queued."};
    const std::size_t size = frame->size();
    if (channel == OutboundChannel::kTrading) {
        m_bytes += size;
        m_slots.push_back({std::move(frame), channel, {}});
        return {};
    }

    if (!conflationKey.empty() && m_slots.size() > m_conflateAbove) {
        auto it = m_latestByKey.find(std::string(conflationKey));
        if (it != m_latestByKey.end()) {
            Slot& slot = m_slots[static_cast<std::size_t>(it->second - m_popped)];
            const std::size_t old = slot.frame->size();
            if (size > old && size - old > room())
                return {QueueStatus::Code::kOverflow, "The peer is too far behind: " + std::to_string(m_bytes) +
                                                          " bytes are waiting to be sent."};
            m_bytes = m_bytes - old + size;
            slot.frame = std::move(frame);
            ++m_conflated;
            return {QueueStatus::Code::kReplaced, {}};
        }
    }

    if (m_marketData >= m_maxMarketData || size > room())
        return {QueueStatus::Code::kOverflow, "The peer is too far behind: " + std::to_string(m_slots.size()) +
                                                  " frames (" + std::to_string(m_bytes) +
                                                  " bytes) are waiting to be sent."};
    if (!conflationKey.empty())
        m_latestByKey[std::string(conflationKey)] = m_popped + m_slots.size();
    m_bytes += size;
    ++m_marketData;
    m_slots.push_back({std::move(frame), channel, std::string(conflationKey)});
    return {};
}

std::optional<QueuedFrame> OutboundQueue::pop()
{
    if (m_slots.empty())
        return std::nullopt;
    Slot& slot = m_slots.front();
    if (!slot.key.empty()) {
        auto it = m_latestByKey.find(slot.key);
        if (it != m_latestByKey.end() && it->second == m_popped)
            m_latestByKey.erase(it);
    }
    if (slot.channel == OutboundChannel::kMarketData)
        --m_marketData;
    m_bytes -= slot.frame->size();
    QueuedFrame out{std::move(slot.frame), slot.channel};
    m_slots.pop_front();
    ++m_popped;
    return out;
}

void OutboundQueue::takeBatch(std::size_t maxBytes, std::vector<SharedFrame>& out)
{
    std::size_t taken = 0;
    bool first = true;
    while (!m_slots.empty()) {
        const std::size_t size = m_slots.front().frame->size();
        if (!first && size > maxBytes - taken)
            break;
        taken += size;
        first = false;
        out.push_back(pop()->frame);
        if (taken >= maxBytes)
            break;
    }
}

} // namespace merrow::detail
