#pragma once
// The frames a server session has yet to write, in order. Trading-channel frames are
// never dropped (the journal bounds them). When the peer falls behind and more than
// a threshold of frames wait, a market-data frame with a conflation key (a symbol)
// replaces the waiting frame of that key in place, keeping its position: a slow
// reader gets the latest snapshot of each symbol instead of every stale one.

#include "shared_frame.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace merrow::detail {

enum class OutboundChannel { kTrading, kMarketData };

struct [[nodiscard]] QueueStatus {
    enum class Code {
        kQueued,    // appended at the back
        kReplaced,  // took the place of the waiting frame of the same key
        kOverflow,  // a market-data frame refused: the peer is too far behind (end the session)
        kInvalid,   // an empty frame
    };
    Code code = Code::kQueued;
    std::string reason;  // for the log
    bool ok() const { return code == Code::kQueued || code == Code::kReplaced; }
};

struct QueuedFrame {
    SharedFrame frame;
    OutboundChannel channel;
};

// [Threading] Not thread-safe: used on the owning session's strand.
class OutboundQueue {
public:
    static constexpr std::size_t kDefaultConflateAbove = 1000;
    // Market data without keys is never conflated, so it needs a bound of its own.
    static constexpr std::size_t kDefaultMaxMarketDataFrames = 65536;
    static constexpr std::size_t kDefaultMaxBytes = std::size_t(64) << 20;

    explicit OutboundQueue(std::size_t conflateAbove = kDefaultConflateAbove,
                           std::size_t maxMarketDataFrames = kDefaultMaxMarketDataFrames,
                           std::size_t maxBytes = kDefaultMaxBytes);

    // A key is used only on the market-data channel; an empty key never conflates.
    // Trading-channel frames are always queued, whatever the bounds.
    QueueStatus push(SharedFrame frame, OutboundChannel channel, std::string_view conflationKey = {});

    // The oldest waiting frame, if any.
    std::optional<QueuedFrame> pop();
    // Moves waiting frames, oldest first, to `out` while they fit in maxBytes; the
    // first one always goes, so a frame larger than maxBytes still leaves.
    void takeBatch(std::size_t maxBytes, std::vector<SharedFrame>& out);

    bool empty() const { return m_slots.empty(); }
    std::size_t size() const { return m_slots.size(); }
    std::size_t bytes() const { return m_bytes; }
    std::size_t tradingCount() const { return m_slots.size() - m_marketData; }
    std::size_t marketDataCount() const { return m_marketData; }
    // Market-data frames replaced since the queue was made.
    std::uint64_t conflatedCount() const { return m_conflated; }

private:
    struct Slot {
        SharedFrame frame;
        OutboundChannel channel;
        std::string key;
    };

    // Trading frames may take the queue past maxBytes; market data then finds no room.
    std::size_t room() const { return m_maxBytes - std::min(m_bytes, m_maxBytes); }

    std::size_t m_conflateAbove;
    std::size_t m_maxMarketData;
    std::size_t m_maxBytes;
    std::deque<Slot> m_slots;
    std::uint64_t m_popped = 0;  // m_slots[i] is frame number m_popped + i of the queue's life
    std::unordered_map<std::string, std::uint64_t> m_latestByKey;
    std::size_t m_bytes = 0;
    std::size_t m_marketData = 0;
    std::uint64_t m_conflated = 0;
};

} // namespace merrow::detail
