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

    explicit Journal(std::size_t maxFrames = kDefaultMaxFrames, std::size_t maxBytes = kDefaultMaxBytes);

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

    std::size_t size() const { return m_frames.size(); }
    std::size_t bytes() const { return m_bytes; }

    // Forgets everything and numbers again from 1, for a new logical session.
    void reset();

private:
    std::size_t m_maxFrames;
    std::size_t m_maxBytes;
    std::deque<SharedFrame> m_frames;  // m_frames[i] has number m_firstKept + i
    std::uint64_t m_firstKept = 1;
    std::uint64_t m_lastSequence = 0;
    std::size_t m_bytes = 0;
};

} // namespace merrow::detail
