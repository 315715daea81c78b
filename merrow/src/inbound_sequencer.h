#pragma once
// The receiving half of a trading channel: it drops frames already received (a resume
// sends again what the peer could not know arrived), remembers the last number to
// acknowledge, and says when a bare acknowledgement is due because nothing else is
// going out to carry it.
// Also HoldQueue: application messages that arrive while no listener is subscribed.

#include "clock.h"

#include <cstddef>
#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <utility>

namespace merrow::detail {

struct [[nodiscard]] SequenceCheck {
    enum class Code {
        kDeliver,    // the next frame: hand it on
        kDuplicate,  // already received: drop it quietly
        kGap,        // frames are missing before it: a protocol error, close the connection
        kInvalid,    // number 0 on a sequenced channel: a protocol error
    };
    Code code = Code::kDeliver;
    std::string reason;  // for the log
    bool deliver() const { return code == Code::kDeliver; }
};

// [Threading] Not thread-safe: used on the owning session's strand.
// [Contract] The clock outlives the sequencer.
class InboundSequencer {
public:
    static constexpr std::size_t kDefaultAckEvery = 1024;
    static constexpr Duration kDefaultAckDelay = std::chrono::milliseconds(50);

    explicit InboundSequencer(const Clock& clock, std::size_t ackEvery = kDefaultAckEvery,
                              Duration ackDelay = kDefaultAckDelay);

    // Checks the number of an arriving trading-channel frame; only kDeliver advances.
    SequenceCheck accept(std::uint64_t sequence);

    // The number to piggy-back on every outgoing frame (and to name in a resume).
    std::uint64_t lastReceived() const { return m_lastReceived; }

    // A frame carrying lastReceived() went out (any frame, a heart-beat, a bare
    // acknowledgement, a Logon): nothing is waiting for acknowledgement any more.
    void onAckSent();

    // Frames received but not yet acknowledged.
    std::size_t unacknowledged() const { return m_unacked; }
    // True once ackEvery frames wait, or the oldest has waited ackDelay.
    bool bareAckDue() const;
    // When the delay rule makes a bare acknowledgement due; none while nothing waits.
    std::optional<TimePoint> ackDeadline() const;

    // A new logical session: numbers start again from 1.
    void reset();

private:
    const Clock& m_clock;
    std::size_t m_ackEvery;
    Duration m_ackDelay;
    std::uint64_t m_lastReceived = 0;
    std::size_t m_unacked = 0;
    TimePoint m_firstUnackedAt{};
};

struct [[nodiscard]] HoldStatus {
    enum class Code { kOk, kOverflow };
    Code code = Code::kOk;
    std::string reason;  // for the log
    bool ok() const { return code == Code::kOk; }
};

// Messages held in arrival order for the next listener that subscribes, bounded like
// the journal. Going past the bound means the session is expired: the queue then
// refuses everything until clear(), so nothing is delivered with a hole in it.
// [Threading] Not thread-safe: used on the owning session's strand.
template <class T>
class HoldQueue {
public:
    static constexpr std::size_t kDefaultMaxItems = 65536;
    static constexpr std::size_t kDefaultMaxBytes = std::size_t(64) << 20;

    explicit HoldQueue(std::size_t maxItems = kDefaultMaxItems, std::size_t maxBytes = kDefaultMaxBytes)
        : m_maxItems(maxItems), m_maxBytes(maxBytes)
    {
    }

    // `bytes` is the message's encoded size, counted against the byte bound.
    HoldStatus push(T item, std::size_t bytes)
    {
        if (!m_overflowed && (m_items.size() >= m_maxItems || bytes > m_maxBytes - m_bytes))
            m_overflowed = true;
        if (m_overflowed)
            return {HoldStatus::Code::kOverflow,
                    "More than " + std::to_string(m_maxItems) + " messages or " + std::to_string(m_maxBytes) +
                        " bytes arrived while no listener was subscribed."};
        m_items.emplace_back(std::move(item), bytes);
        m_bytes += bytes;
        return {};
    }

    // Everything held, oldest first, for the listener that has just subscribed.
    std::deque<T> takeAll()
    {
        std::deque<T> out;
        for (auto& held : m_items)
            out.push_back(std::move(held.first));
        m_items.clear();
        m_bytes = 0;
        return out;
    }

    void clear()
    {
        m_items.clear();
        m_bytes = 0;
        m_overflowed = false;
    }

    bool empty() const { return m_items.empty(); }
    std::size_t size() const { return m_items.size(); }
    std::size_t bytes() const { return m_bytes; }
    bool overflowed() const { return m_overflowed; }

private:
    std::size_t m_maxItems;
    std::size_t m_maxBytes;
    std::deque<std::pair<T, std::size_t>> m_items;
    std::size_t m_bytes = 0;
    bool m_overflowed = false;
};

} // namespace merrow::detail
