#pragma once
// One connection of the transport: frames in and out over a ByteStream, heart-beats,
// bare acknowledgements and TCP liveness options. Protocol-neutral: the client and
// server session objects above it own the journal and the inbound sequencer (they
// survive reconnects) and decide what a frame means; the link only moves frames,
// answers TestRequests, and closes on silence, EOF or a protocol error.
//
// Reading: one read at a time straight into the FrameDecoder's buffer; every whole
// frame, admin frames included, goes to the handler in order (a Heartbeat's header
// carries the peer's acknowledgement too). The link has already answered a
// TestRequest with a Heartbeat naming its TestReqID when the handler sees it.
// A frame that fails to decode closes the link before anything of it is handed on.
//
// Writing: frames wait in the link's queue and leave gathered, many per write; plain
// TCP writes at once what the socket takes and waits only for the rest. Frames queued
// while a read hands frames on leave when that read is done, before the next read.
// Two sources, written in this order at each write: the link's own queue (send*
// and the link's heart-beats), then whatever the handler's takeFrames gives (the
// server's per-session OutboundQueue, so conflation happens while frames still
// wait). A write is started whenever one is not in flight and a source has frames;
// call kick() after filling the handler's source.
//
// Heart-beats: one steady timer drives a HeartbeatMonitor: a Heartbeat after one
// idle interval, a TestRequest after 1.5 intervals of silence, and the link closes
// as dead after 2.5. The same timer sends a bare acknowledgement (a Heartbeat) when
// the handler's ackDeadline passes; the count rule is checked after each read.
// TCP_NODELAY, SO_KEEPALIVE (idle = one interval, at least 1 s) and TCP_USER_TIMEOUT
// (2.5 intervals, at least 5 s, so the kernel never cuts a slow reader before the
// heart-beat rule does) are set at start and whenever the interval changes.
//
// Closing: close() writes what is queued (bounded by one heart-beat interval, at
// least 1 s), then closes the stream; abort() closes at once. Either way, EOF, a
// read or write error, a protocol error or the heart-beat rule end in exactly one
// LinkHandler::onClosed(reason), after which no callback of this link runs.
//
// [Threading] A Link lives in a shared_ptr (create()). send*, kick, close, abort,
// setHeartbeatInterval and poke may be called from any thread, also from inside a
// handler callback; they never block on the network or wait for a callback. The
// stream is used only on the link's strand, and every handler callback runs there.
// [Ownership] The link holds its handler weakly: a handler that is gone is simply
// not called (the link then aborts). The link keeps itself alive while an operation
// is in flight; dropping the last outside reference to a started link does not stop
// it: close() or abort() does.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include <asio.hpp>

#include "byte_stream.h"
#include "clock.h"
#include "frame_codec.h"
#include "heartbeat_monitor.h"
#include "shared_frame.h"
#include "status.h"

namespace merrow {
namespace detail {

class Link;

using Strand = asio::strand<asio::io_context::executor_type>;

// What the link calls back into.
// [Threading] Every method runs on the link's strand, one at a time.
// [Locking] The link holds none of its locks during a callback.
// [Reentrancy] A callback may call every Link operation on this or another link,
// close() and abort() included; a close takes effect after the callback returns
// (no further frame of this link is handed on once it has been called).
// [Exceptions] A callback must not throw; the link catches anything that escapes,
// aborts with the exception's text as reason, and carries on with onClosed.
class LinkHandler {
public:
    virtual ~LinkHandler() = default;

    // One whole frame, in arrival order.
    virtual void onFrame(Link& link, wire::Frame frame) = 0;
    // The link ended; called once. `reason` is for the log ("peer closed the
    // connection", "frame CRC mismatch", "no frame received for 2.5 heart-beat
    // intervals", or the reason given to close/abort).
    virtual void onClosed(Link& link, const std::string& reason) = 0;

    // Acknowledgement hooks for the trading channel's inbound sequencer.
    // The number the link stamps into the frames it builds itself (heart-beats).
    virtual uint64_t currentLastReceived() { return 0; }
    // A frame carrying currentLastReceived() was handed to the stream.
    virtual void onAckSent() {}
    // True when a bare acknowledgement is due (InboundSequencer::bareAckDue);
    // asked after each read and when the timer fires.
    virtual bool bareAckDue() { return false; }
    // When the delay rule will make one due (InboundSequencer::ackDeadline).
    virtual std::optional<TimePoint> ackDeadline() { return std::nullopt; }

    // Push-back from the frames' consumer, asked after each read: true holds the next
    // read until Link::resumeReading(). What the peer sends meanwhile waits in the
    // kernel and at the peer; the link's silence rule is off while it does not read.
    virtual bool holdReading() { return false; }

    // Pull source of encoded frames, asked at each write after the link's own queue:
    // hand frames to `sink` while they fit in maxBytes (the first may exceed it). The
    // default takes them from the vector form below.
    virtual void takeFrames(FrameSink& sink, size_t maxBytes)
    {
        std::vector<SharedFrame> out;
        takeFrames(out, maxBytes);
        for (const SharedFrame& f : out)
            if (f && !f->empty())
                sink.addShared(f);
    }
    // The same as shared frames moved to `out`.
    virtual void takeFrames(std::vector<SharedFrame>& out, size_t maxBytes)
    {
        (void)out;
        (void)maxBytes;
    }
};

struct LinkOptions {
    // Heart-beat interval until setHeartbeatInterval (a server uses it for a
    // connection that has not logged on yet).
    Duration heartbeatInterval = std::chrono::seconds(10);
    // Limits of the frames this side accepts.
    wire::Limits receiveLimits;
    // Limits of the frames the peer accepts; sendMessage refuses a larger frame.
    wire::Limits sendLimits;
    // Bytes gathered into one asyncWrite at most (the first frame always goes).
    size_t maxWriteBytes = 256 * 1024;
    // Bytes read from the stream at a time.
    size_t readChunk = 64 * 1024;
    // Off only for tests that drive time with a ManualClock and poke().
    bool setTcpOptions = true;
    // The floor of TCP_USER_TIMEOUT. The kernel cuts a connection whose peer keeps a
    // zero window that long, even though the peer acknowledges every probe: it must
    // not cut a slow reader before the heart-beat rule, which sees the reader's own
    // frames, has a say. A server raises it: its clients stop reading while their
    // callbacks are behind (holdReading), and its queue for them is bounded.
    Duration minUserTimeout = std::chrono::seconds(5);
    // Bounds against a peer that sends without reading (0: none). Bytes in the link's
    // own queue (send*, heart-beats, TestRequest answers; not the handler's pull
    // source, which has bounds of its own): above maxQueuedBytes the link aborts;
    // above pauseReadingAbove it stops reading until the queue has been written.
    size_t maxQueuedBytes = 0;
    size_t pauseReadingAbove = 0;
    // A connection whose peer is not known yet (a server's before the logon): frames
    // above this payload are a protocol error, reads are no larger, and a TestRequest
    // is not answered while the answer to the previous one waits. trust() lifts it to
    // receiveLimits. 0: trusted from the start.
    uint32_t maxPayloadBeforeTrust = 0;
};

class Link : public std::enable_shared_from_this<Link> {
public:
    // The clock outlives the link (SteadyClock::instance() in production).
    static std::shared_ptr<Link> create(Strand strand, std::unique_ptr<ByteStream> stream, const Clock& clock,
                                        LinkOptions options = LinkOptions());
    // On the strand the stream's socket runs on (as asyncConnect and an accept into
    // asio::make_strand(io) leave it), or on a new strand of the socket's io_context.
    // A TLS stream must be used this way: its own steps run on the socket's executor.
    // Null for a null stream.
    static std::shared_ptr<Link> create(std::unique_ptr<ByteStream> stream, const Clock& clock,
                                        LinkOptions options = LinkOptions());
    ~Link();
    Link(const Link&) = delete;
    Link& operator=(const Link&) = delete;

    // Begins reading and the heart-beat timer. Frames queued before start() leave
    // once it has run. Call once.
    void start(std::weak_ptr<LinkHandler> handler);

    // Encodes the message into the link's queue (header.lastReceived as given).
    // Fails when the frame breaks sendLimits or the link is closed.
    Status sendMessage(const wire::FrameHeader& header, const IMessage& message);
    // Queues a frame already encoded (a journal frame, say); shared, never copied.
    Status sendFrame(SharedFrame frame);
    // Queues a frame's bytes (copied).
    Status sendBytes(const uint8_t* data, size_t size);
    // The handler's takeFrames source has frames: start a write if none is in flight.
    void kick();

    // Sends what is queued, then closes. A second close or abort changes nothing
    // but an abort during a close's flush closes at once.
    void close(std::string reason);
    void abort(std::string reason);

    // Takes effect at once (the negotiated interval after a logon); clamped by
    // HeartbeatMonitor.
    void setHeartbeatInterval(Duration interval);
    // Re-evaluates the timers now, for tests that move a ManualClock.
    void poke();
    // The handler's consumer has room again after holdReading() said true: the link
    // reads again (any thread; nothing happens when it was not held).
    void resumeReading();
    // Strand only (a handler's callback): the peer has logged on; frames up to
    // receiveLimits are taken from the next one on.
    void trust();
    // Bytes in the link's own queue, written or not (any thread).
    size_t queuedBytes() const;

    // Fixed at creation; readable from any thread.
    const std::string& peerAddress() const { return m_peerAddress; }
    bool isTls() const { return m_isTls; }
    const Strand& strand() const { return m_strand; }
    // True once closing or closed (any thread).
    bool closed() const;
    // Frames handed to the stream so far and writes made (any thread).
    uint64_t framesWritten() const;
    uint64_t writesMade() const;

private:
    Link(Strand strand, std::unique_ptr<ByteStream> stream, const Clock& clock, LinkOptions options);

    struct Piece {
        SharedFrame shared;  // null: `size` bytes at `offset` of the byte buffer
        size_t offset = 0;
        size_t size = 0;
    };
    struct WriteBatch {
        std::vector<uint8_t> bytes;
        std::vector<Piece> pieces;
        size_t frames = 0;
        void clear()
        {
            bytes.clear();
            pieces.clear();
            frames = 0;
        }
    };

    class BatchSink;

    void doStart();
    void readSome();
    void onRead(const asio::error_code& ec, size_t n);
    void maybeWrite();
    // Fills m_inflight and m_buffers; false when there is nothing to write.
    bool gatherBatch();
    // True when the stream took the whole batch at once; false when an async write
    // was started or the link finished.
    bool writeBatch();
    void onWritten(const asio::error_code& ec, size_t n);
    void drained();
    void armTimer();
    void evaluateTimers();
    void sendAdmin(const char* msgType, const std::string& testReqId);
    // Encodes into the own queue. Caller holds m_mutex; false with `full` set when the
    // frame would pass maxQueuedBytes (the caller aborts after unlocking).
    Status encodeLocked(const wire::FrameHeader& header, const IMessage& message, bool& full, bool& post);
    void applyTcpOptions();
    void finish(std::string reason);
    void postMaybeWrite();
    bool scheduleWriteLocked();
    void appendBytesPieceLocked(size_t offset, size_t size);
    bool stopDelivering() const;
    std::shared_ptr<LinkHandler> handler() const;
    // Caller holds m_mutex: `bytes` more may join the own queue; false (and the link
    // aborted once the lock is released, by the caller) when they pass the bound.
    bool roomLocked(size_t bytes) const;
    void overflow();
    void written();

    Strand m_strand;
    std::unique_ptr<ByteStream> m_stream;
    const Clock& m_clock;
    LinkOptions m_options;
    std::string m_peerAddress;
    bool m_isTls = false;

    // Strand state.
    std::weak_ptr<LinkHandler> m_handler;
    wire::FrameDecoder m_decoder;
    HeartbeatMonitor m_monitor;
    asio::steady_timer m_timer;
    size_t m_readChunk;
    std::chrono::steady_clock::time_point m_timerDeadline{};
    uint64_t m_timerGeneration = 0;
    bool m_timerArmed = false;
    bool m_started = false;
    bool m_reading = false;
    bool m_writing = false;
    bool m_finished = false;
    bool m_draining = false;  // close(): flush, half-close, wait for the peer's EOF
    bool m_halfClosed = false;
    std::chrono::steady_clock::time_point m_drainDeadline{};
    std::string m_closeReason;
    WriteBatch m_inflight;
    std::vector<asio::const_buffer> m_buffers;
    uint64_t m_testReqCounter = 0;
    size_t m_batchFrames = 0;
    bool m_inRead = false;          // onRead is handing frames on
    bool m_flushAfterRead = false;  // a write was asked for meanwhile
    bool m_readPaused = false;      // queued output above pauseReadingAbove
    bool m_readHeld = false;        // the handler's holdReading() said so
    bool m_untrusted = false;       // maxPayloadBeforeTrust applies
    size_t m_maxReadChunk = 0;

    // Shared between threads, under m_mutex.
    mutable std::mutex m_mutex;
    WriteBatch m_pending;
    bool m_running = false;         // started and not finished: writes may be posted
    bool m_closing = false;         // close() or abort() called, or finished
    bool m_drainingFlag = false;    // closing by close(): the pull source still drains
    bool m_writeScheduled = false;  // a maybeWrite() is posted or a write chain runs
    bool m_kicked = false;          // something was queued since maybeWrite() last looked
    uint64_t m_framesWritten = 0;
    uint64_t m_writes = 0;
    size_t m_queuedBytes = 0;       // own queue: pending plus its part of the batch in flight
    size_t m_inflightOwnBytes = 0;  // the own queue's part of the batch in flight
    bool m_testAnswerQueued = false;
};

} // namespace detail
} // namespace merrow
