#pragma once
// Frames on the wire. A frame is
//   header  (22 bytes): payload length (4, big-endian), frame kind (1: admin or
//           application, high bit = resent), channel (1: CHANNEL_TRADING_DATA or
//           CHANNEL_MARKET_DATA), sequence number (8, big-endian, 0 = unsequenced),
//           last received sequence number of the peer (8, big-endian);
//   payload: the message type (text) and the message's field list;
//   trailer (4 bytes): CRC-32 (zlib) of header and payload, big-endian.
// A text is an unsigned varint length and that many bytes (any bytes). A field
// list is a varint count and that many fields; a field is its tag (unsigned
// varint, 1 to 2^31-1), a kind byte and a value: 1 integer (zig-zag varint),
// 2 text, 3 group list (varint count, then that many field lists), 4 double
// (8 bytes IEEE-754, little-endian). A field list holds each tag once.
//
// Limits are checked before anything is allocated for them, on both sides: a
// sender never builds a frame its peer would refuse, and a receiver refuses a
// frame that breaks one as a protocol error with a reason and no message.
//
// Threads: an encoder call touches only its arguments; a decoder belongs to one
// connection and is used by one thread at a time.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "field_group.h"
#include "merrow/fix_defs.h"
#include "status.h"

namespace merrow {
namespace wire {

constexpr size_t kHeaderSize = 22;
constexpr size_t kTrailerSize = 4;

enum class FrameKind : uint8_t { Admin = 1, Application = 2 };
// Set in the kind byte of a frame sent again from the journal after a resume.
constexpr uint8_t kResentFlag = 0x80;

struct FrameHeader {
    FrameKind kind = FrameKind::Application;
    bool resent = false;
    uint8_t channel = IFixDefs::CHANNEL_TRADING_DATA;
    uint64_t sequence = 0;
    uint64_t lastReceived = 0;
};

struct Limits {
    // Payload bytes of one frame (at most 4 GiB - 1 by the header's width).
    uint32_t maxPayload = 64u << 20;
    // Group lists inside group lists: a message's own fields are at depth 0, the
    // entries of its group lists at depth 1, and so on.
    int maxDepth = 16;
    // Fields of one frame at every depth, and separately its group entries (an
    // empty entry costs one byte on the wire but an allocation here).
    uint32_t maxFields = 1000000;
};

struct Frame {
    FrameHeader header;
    uint32_t payloadSize = 0;
    // The decoded message; its type is its FLDTAG_MSGTYPE field, always present.
    std::unique_ptr<FieldGroup> message;
};

// Appends one frame holding the message to out. On failure (a limit broken) out
// is left as it was. Messages of another implementation are copied first.
Status encodeFrame(const FrameHeader& header, const IMessage& message, std::vector<uint8_t>& out,
                   const Limits& limits = Limits());

// Rewrites the acknowledgement and the resent flag of an encoded frame in place
// and renews its CRC, so journal frames are sent again without re-encoding.
Status restampFrame(uint8_t* frame, size_t size, uint64_t lastReceived, bool resent);

// Incremental decoder: bytes go in as they arrive from the socket (any split:
// partial headers, partial payloads, several frames at once) and whole frames
// come out in order. The first protocol error is final: the connection must be
// closed, and every later next() repeats that error.
//
// Memory: the buffer holds only bytes that were given and not yet taken as
// frames; a declared length is checked against the limit when the header is
// complete and never reserved ahead of the bytes themselves.
class FrameDecoder {
public:
    explicit FrameDecoder(const Limits& limits = Limits());
    FrameDecoder(const FrameDecoder&) = delete;
    FrameDecoder& operator=(const FrameDecoder&) = delete;

    // Copies the bytes in; ignored after an error.
    void feed(const void* data, size_t size);
    // Room for up to size more bytes to read into directly; commit(n) then
    // accepts the first n of them (n <= the size prepared).
    uint8_t* prepare(size_t size);
    void commit(size_t size);

    // Takes the next frame: ok with a frame, ok without one when more bytes are
    // needed, or the protocol error (frame stays empty).
    Status next(std::optional<Frame>& frame);

    bool failed() const { return m_failed; }
    const std::string& failure() const { return m_failure; }
    // Bytes given and not yet taken.
    size_t buffered() const { return m_end - m_begin; }
    // Bytes the buffer holds room for (for tests of the memory bound).
    size_t capacity() const { return m_capacity; }
    const Limits& limits() const { return m_limits; }
    // Applies from the next frame on (a connection that has logged on takes larger ones).
    void setLimits(const Limits& limits) { m_limits = limits; }

private:
    Status fail(std::string reason);
    void consume(size_t size);

    Limits m_limits;
    std::unique_ptr<uint8_t[]> m_data;
    size_t m_capacity = 0;
    size_t m_begin = 0;
    size_t m_end = 0;
    size_t m_prepared = 0;
    bool m_failed = false;
    std::string m_failure;
};

// Decodes one payload (message type and field list) into a message; for tests
// and for tools that hold a payload without its frame.
Status decodePayload(const uint8_t* data, size_t size, const Limits& limits, std::unique_ptr<FieldGroup>& message);

} // namespace wire
} // namespace merrow
