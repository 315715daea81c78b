#pragma once
// The frames a server session has yet to write, in order. Trading-channel frames are
// never dropped (the journal bounds them). When the peer falls behind and more than
// a threshold of frames wait, a market-data frame with a conflation key (a symbol)
// replaces the waiting frame of that key in place, keeping its position: a slow
// reader gets the latest snapshot of each symbol instead of every stale one. A
// market-data frame without a key (several symbols at once) is never replaced, and
// no keyed frame queued before it is replaced afterwards, so order is never undone.
// Frames come shared (trading frames, which the journal also keeps) or as bytes the
// queue copies into storage it reuses (market data, which nothing else keeps).

#include "shared_frame.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
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
    // The same for a frame the queue copies into storage of its own, which it reuses
    // once the frame has been taken: a stream of market data allocates nothing.
    QueueStatus pushCopy(const std::uint8_t* data, std::size_t size, OutboundChannel channel,
                         std::string_view conflationKey = {});

    // The oldest waiting frame, if any.
    std::optional<QueuedFrame> pop();
    // Moves waiting frames, oldest first, to `out` while they fit in maxBytes; the
    // first one always goes, so a frame larger than maxBytes still leaves.
    void takeBatch(std::size_t maxBytes, std::vector<SharedFrame>& out);
    // The same into a sink; copied frames go as bytes and their storage is reused.
    void takeBatch(std::size_t maxBytes, FrameSink& sink);

    bool empty() const { return m_slots.empty(); }
    std::size_t size() const { return m_slots.size(); }
    std::size_t bytes() const { return m_bytes; }
    std::size_t tradingCount() const { return m_slots.size() - m_marketData; }
    std::size_t marketDataCount() const { return m_marketData; }
    // Market-data frames replaced since the queue was made.
    std::uint64_t conflatedCount() const { return m_conflated; }

private:
    struct Slot {
        SharedFrame frame;               // null: the frame is `bytes`
        std::vector<std::uint8_t> bytes;
        OutboundChannel channel = OutboundChannel::kTrading;
        std::string key;
        std::size_t size() const { return frame ? frame->size() : bytes.size(); }
    };
    // What a push brings: a shared frame or bytes to copy.
    struct Incoming {
        SharedFrame frame;
        const std::uint8_t* data = nullptr;
        std::size_t size = 0;
    };

    // The waiting frames, oldest first, in a ring: a slot taken keeps the storage of
    // its copied frame for the one that takes its place, so a steady stream neither
    // allocates nor frees (a deque would, every few frames, and on two threads).
    class SlotRing {
    public:
        bool empty() const { return m_size == 0; }
        std::size_t size() const { return m_size; }
        Slot& operator[](std::size_t i) { return m_slots[(m_head + i) & (m_slots.size() - 1)]; }
        Slot& front() { return m_slots[m_head]; }
        Slot& emplaceBack();
        void popFront();

    private:
        std::vector<Slot> m_slots;  // a power of two long, or empty
        std::size_t m_head = 0;
        std::size_t m_size = 0;
    };

    QueueStatus pushIncoming(Incoming in, OutboundChannel channel, std::string_view conflationKey);
    static void fill(Slot& slot, Incoming& in);
    // Takes the front slot of `size` bytes: its key forgotten, its counts undone.
    void retireFront(std::size_t size);

    // Trading frames may take the queue past maxBytes; market data then finds no room.
    std::size_t room() const { return m_maxBytes - std::min(m_bytes, m_maxBytes); }
    void sweepKeys();

    // A key whose last frame has left.
    static constexpr std::uint64_t kNoneWaiting = ~std::uint64_t{0};
    // Keys without a waiting frame kept at least (a session's symbols, say).
    static constexpr std::size_t kKeysKept = 1024;

    std::size_t m_conflateAbove;
    std::size_t m_maxMarketData;
    std::size_t m_maxBytes;
    SlotRing m_slots;
    std::uint64_t m_popped = 0;  // m_slots[i] is frame number m_popped + i of the queue's life
    std::unordered_map<std::string, std::uint64_t> m_latestByKey;
    // Frame number of the newest market-data frame without a key (kNoneWaiting: none
    // yet); keyed frames before it are no longer replaced.
    std::uint64_t m_lastUnkeyed = kNoneWaiting;
    std::size_t m_bytes = 0;
    std::size_t m_marketData = 0;
    std::uint64_t m_conflated = 0;
};

} // namespace merrow::detail
