#pragma once
// The outbound journal of one logical session's trading channel: it numbers the
// frames from 1 (the numbering survives reconnects) and keeps each one until the
// peer acknowledges it, so that a resume can send again what the peer missed.
// Bounded: a frame that would take it past its frame count or byte size is refused
// (the server then expires the session; the client fails that send).

#include "shared_frame.h"

#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>
#include <vector>

namespace merrow::detail {

struct [[nodiscard]] JournalStatus {
    enum class Code {
        kOk,
        kOverflow,       // the frame would pass the bound; nothing was kept
        kInvalid,        // an empty frame
        kBadAck,         // the peer acknowledged a number never sent
        kCannotResend,   // the peer lacks frames already trimmed, or names one never sent
    };
    Code code = Code::kOk;
    std::string reason;  // for the log
    bool ok() const { return code == Code::kOk; }
};

struct JournalEntry {
    std::uint64_t sequence;
    SharedFrame frame;
};

// [Threading] Not thread-safe: used on the owning session's strand.
class Journal {
public:
    static constexpr std::size_t kDefaultMaxFrames = 65536;
    static constexpr std::size_t kDefaultMaxBytes = std::size_t(64) << 20;

    // keepSpares: acknowledged frames are kept for takeSpare() (the client, whose
    // sends reuse them); otherwise they are let go at once.
    explicit Journal(std::size_t maxFrames = kDefaultMaxFrames, std::size_t maxBytes = kDefaultMaxBytes,
                     bool keepSpares = false);

    // The number the next appended frame gets; encode it into the frame first.
    std::uint64_t nextSequence() const { return m_lastSequence + 1; }
    std::uint64_t lastSequence() const { return m_lastSequence; }
    // The highest number the peer acknowledged.
    std::uint64_t acknowledged() const { return m_firstKept - 1; }

    // Keeps the frame under nextSequence() and advances the numbering. On any failure
    // nothing is kept and the numbering stays, so the numbers never have a gap.
    JournalStatus append(SharedFrame frame);

    // The peer has every frame up to n; those are let go. An n below what was already
    // acknowledged changes nothing. An n above lastSequence() changes nothing and
    // reports kBadAck (a peer out of step: close the connection).
    JournalStatus ack(std::uint64_t n);

    // The frames after n, oldest first, for a resume whose peer last received n.
    // Fails with kCannotResend when frames after n were already trimmed or n is above
    // lastSequence(): that session cannot be resumed.
    JournalStatus framesAfter(std::uint64_t n, std::vector<JournalEntry>& out) const;

    // A frame let go by an acknowledgement that nobody else holds any more, emptied
    // for the next encode; null when there is none. A busy stream then allocates no
    // frame at all, and frames are no longer freed on the thread that reads acks
    // while another allocates them.
    std::shared_ptr<std::vector<std::uint8_t>> takeSpare();

    std::size_t size() const { return m_frames.size(); }
    std::size_t bytes() const { return m_bytes; }

    // Forgets everything and numbers again from 1, for a new logical session.
    void reset();

private:
    std::size_t m_maxFrames;
    std::size_t m_maxBytes;
    bool m_keepSpares;
    std::deque<SharedFrame> m_frames;  // m_frames[i] has number m_firstKept + i
    std::deque<SharedFrame> m_spares;  // acknowledged frames, oldest first
    std::size_t m_spareBytes = 0;      // their capacities
    std::uint64_t m_firstKept = 1;
    std::uint64_t m_lastSequence = 0;
    std::size_t m_bytes = 0;
};

} // namespace merrow::detail
