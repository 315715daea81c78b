#include "outbound_queue.h"

#include <algorithm>
#include <iterator>

namespace merrow::detail {

namespace {

// A taken slot keeps the storage of a frame up to this size, not a large one's.
constexpr std::size_t kKeptFrameMax = 4096;
constexpr std::size_t kFirstRing = 16;

} // namespace

OutboundQueue::OutboundQueue(std::size_t conflateAbove, std::size_t maxMarketDataFrames, std::size_t maxBytes)
    : m_conflateAbove(conflateAbove), m_maxMarketData(maxMarketDataFrames), m_maxBytes(maxBytes)
{
}

QueueStatus OutboundQueue::push(SharedFrame frame, OutboundChannel channel, std::string_view conflationKey)
{
    if (!frame || frame->empty())
        return {QueueStatus::Code::kInvalid, "An empty frame cannot be queued."};
    Incoming in;
    in.size = frame->size();
    in.frame = std::move(frame);
    return pushIncoming(std::move(in), channel, conflationKey);
}

QueueStatus OutboundQueue::pushCopy(const std::uint8_t* data, std::size_t size, OutboundChannel channel,
                                    std::string_view conflationKey)
{
    if (!data || size == 0)
        return {QueueStatus::Code::kInvalid, "An empty frame cannot be queued."};
    Incoming in;
    in.data = data;
    in.size = size;
    return pushIncoming(std::move(in), channel, conflationKey);
}

void OutboundQueue::fill(Slot& slot, Incoming& in)
{
    if (in.frame) {
        slot.frame = std::move(in.frame);
        slot.bytes.clear();
        return;
    }
    slot.frame.reset();
    slot.bytes.assign(in.data, in.data + in.size);
}

OutboundQueue::Slot& OutboundQueue::SlotRing::emplaceBack()
{
    if (m_size == m_slots.size()) {
        // Doubles, oldest first at the start again.
        std::vector<Slot> grown(std::max(kFirstRing, m_slots.size() * 2));
        for (std::size_t i = 0; i < m_size; ++i)
            grown[i] = std::move((*this)[i]);
        m_slots.swap(grown);
        m_head = 0;
    }
    return (*this)[m_size++];
}

void OutboundQueue::SlotRing::popFront()
{
    Slot& slot = front();
    slot.frame.reset();
    slot.key.clear();
    if (slot.bytes.capacity() > kKeptFrameMax)
        std::vector<std::uint8_t>().swap(slot.bytes);
    else
        slot.bytes.clear();
    m_head = (m_head + 1) & (m_slots.size() - 1);
    --m_size;
}

QueueStatus OutboundQueue::pushIncoming(Incoming in, OutboundChannel channel, std::string_view conflationKey)
{
    const std::size_t size = in.size;
    if (channel == OutboundChannel::kTrading) {
        m_bytes += size;
        Slot& slot = m_slots.emplaceBack();
        slot.channel = channel;
        fill(slot, in);
        return {};
    }

    if (!conflationKey.empty() && m_slots.size() > m_conflateAbove) {
        auto it = m_latestByKey.find(std::string(conflationKey));
        // A frame of this key from before the last unkeyed market-data frame stays:
        // replacing it would put the newer snapshot ahead of the unkeyed one, which
        // may carry an older state of the same symbol (a batch of several).
        if (it != m_latestByKey.end() && it->second != kNoneWaiting &&
            (m_lastUnkeyed == kNoneWaiting || it->second > m_lastUnkeyed)) {
            Slot& slot = m_slots[static_cast<std::size_t>(it->second - m_popped)];
            const std::size_t old = slot.size();
            if (size > old && size - old > room())
                return {QueueStatus::Code::kOverflow, "The peer is too far behind: " + std::to_string(m_bytes) +
                                                          " bytes are waiting to be sent."};
            m_bytes = m_bytes - old + size;
            fill(slot, in);
            ++m_conflated;
            return {QueueStatus::Code::kReplaced, {}};
        }
    }

    if (m_marketData >= m_maxMarketData || size > room())
        return {QueueStatus::Code::kOverflow, "The peer is too far behind: " + std::to_string(m_slots.size()) +
                                                  " frames (" + std::to_string(m_bytes) +
                                                  " bytes) are waiting to be sent."};
    if (!conflationKey.empty()) {
        // Keys stay in the map when their frame leaves (no node made and freed per
        // frame); keys used once are swept now and then, so the map stays bounded.
        if (m_latestByKey.size() > 2 * m_slots.size() + kKeysKept)
            sweepKeys();
        m_latestByKey[std::string(conflationKey)] = m_popped + m_slots.size();
    } else {
        m_lastUnkeyed = m_popped + m_slots.size();
    }
    m_bytes += size;
    ++m_marketData;
    Slot& slot = m_slots.emplaceBack();
    slot.channel = channel;
    slot.key.assign(conflationKey.data(), conflationKey.size());
    fill(slot, in);
    return {};
}

void OutboundQueue::sweepKeys()
{
    for (auto it = m_latestByKey.begin(); it != m_latestByKey.end();)
        it = it->second == kNoneWaiting ? m_latestByKey.erase(it) : std::next(it);
}

void OutboundQueue::retireFront(std::size_t size)
{
    Slot& slot = m_slots.front();
    if (!slot.key.empty()) {
        auto it = m_latestByKey.find(slot.key);
        if (it != m_latestByKey.end() && it->second == m_popped)
            it->second = kNoneWaiting;
    }
    if (slot.channel == OutboundChannel::kMarketData)
        --m_marketData;
    m_bytes -= size;
    m_slots.popFront();
    ++m_popped;
}

std::optional<QueuedFrame> OutboundQueue::pop()
{
    if (m_slots.empty())
        return std::nullopt;
    Slot& slot = m_slots.front();
    const std::size_t size = slot.size();
    QueuedFrame out{slot.frame ? std::move(slot.frame) : std::make_shared<const std::vector<std::uint8_t>>(slot.bytes),
                    slot.channel};
    retireFront(size);
    return out;
}

void OutboundQueue::takeBatch(std::size_t maxBytes, std::vector<SharedFrame>& out)
{
    std::size_t taken = 0;
    bool first = true;
    while (!m_slots.empty()) {
        const std::size_t size = m_slots.front().size();
        if (!first && size > maxBytes - taken)
            break;
        taken += size;
        first = false;
        out.push_back(pop()->frame);
        if (taken >= maxBytes)
            break;
    }
}

void OutboundQueue::takeBatch(std::size_t maxBytes, FrameSink& sink)
{
    std::size_t taken = 0;
    bool first = true;
    while (!m_slots.empty()) {
        Slot& slot = m_slots.front();
        const std::size_t size = slot.size();
        if (!first && size > maxBytes - taken)
            break;
        taken += size;
        first = false;
        if (slot.frame)
            sink.addShared(slot.frame);
        else
            sink.addCopy(slot.bytes.data(), slot.bytes.size());
        retireFront(size);
        if (taken >= maxBytes)
            break;
    }
}

} // namespace merrow::detail
