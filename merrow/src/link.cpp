#include "link.h"

#include <algorithm>
#include <exception>
#include <utility>

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

#include "admin_protocol.h"

namespace merrow {
namespace detail {

namespace {

// ByteStream takes its handlers as std::function, which hides a binder's executor, so
// completions would run on the socket's executor; hop to the link's strand explicitly.
template <class F>
ByteStream::Handler onStrand(const Strand& strand, F f)
{
    return [strand, f = std::move(f)](const asio::error_code& ec, size_t n) {
        asio::dispatch(strand, [f, ec, n] { f(ec, n); });
    };
}

// A read that fills its buffer doubles the next one, up to the configured chunk, so an
// idle connection keeps a small buffer and a busy one reads in large pieces.
constexpr size_t kFirstReadChunk = 2048;
// close(): how long the queued frames and the peer's EOF are waited for at least.
constexpr auto kMinDrain = std::chrono::seconds(1);
// Pulled frames up to this size are copied into the write buffer; larger ones are
// written from their shared bytes.
constexpr size_t kCopyBelow = 16 * 1024;
// Batches written at once by one maybeWrite before it lets other handlers run.
constexpr int kMaxWritesInline = 8;
// Frames of one read between two looks at whether a bare acknowledgement is due.
constexpr size_t kAckCheckEvery = 256;

std::string describe(const asio::error_code& ec)
{
    return ec.message() + " (" + ec.category().name() + ":" + std::to_string(ec.value()) + ")";
}

} // namespace

std::shared_ptr<Link> Link::create(Strand strand, std::unique_ptr<ByteStream> stream, const Clock& clock,
                                   LinkOptions options)
{
    return std::shared_ptr<Link>(new Link(std::move(strand), std::move(stream), clock, std::move(options)));
}

std::shared_ptr<Link> Link::create(std::unique_ptr<ByteStream> stream, const Clock& clock, LinkOptions options)
{
    if (!stream)
        return nullptr;
    auto executor = stream->socket().get_executor();
    if (const Strand* own = executor.target<Strand>())
        return create(*own, std::move(stream), clock, std::move(options));
    auto& io = asio::query(executor, asio::execution::context);
    return create(asio::make_strand(static_cast<asio::io_context&>(io)), std::move(stream), clock, std::move(options));
}

Link::Link(Strand strand, std::unique_ptr<ByteStream> stream, const Clock& clock, LinkOptions options)
    : m_strand(std::move(strand)), m_stream(std::move(stream)), m_clock(clock), m_options(std::move(options)),
      m_decoder(m_options.receiveLimits), m_monitor(clock, m_options.heartbeatInterval), m_timer(m_strand),
      m_readChunk(std::min(kFirstReadChunk, std::max<size_t>(m_options.readChunk, 1)))
{
    m_maxReadChunk = std::max<size_t>(m_options.readChunk, 1);
    if (m_options.maxPayloadBeforeTrust != 0 && m_options.maxPayloadBeforeTrust < m_options.receiveLimits.maxPayload) {
        wire::Limits small = m_options.receiveLimits;
        small.maxPayload = m_options.maxPayloadBeforeTrust;
        m_decoder.setLimits(small);
        m_untrusted = true;
        // A read no larger than the largest frame taken: what waits unread stays in
        // the kernel, not here.
        m_maxReadChunk = std::min(m_maxReadChunk, size_t{m_options.maxPayloadBeforeTrust} + 64);
        m_readChunk = std::min(m_readChunk, m_maxReadChunk);
    }
    if (m_stream) {
        m_isTls = m_stream->isTls();
        asio::error_code ec;
        const auto ep = m_stream->socket().remote_endpoint(ec);
        if (!ec) {
            const std::string ip = ep.address().to_string();
            m_peerAddress = (ep.address().is_v6() ? "[" + ip + "]" : ip) + ":" + std::to_string(ep.port());
        }
    }
}

Link::~Link()
{
    if (m_stream)
        m_stream->close();
}

std::shared_ptr<LinkHandler> Link::handler() const { return m_handler.lock(); }

void Link::start(std::weak_ptr<LinkHandler> handler)
{
    asio::post(m_strand, [self = shared_from_this(), h = std::move(handler)]() mutable {
        self->m_handler = std::move(h);
        self->doStart();
    });
}

void Link::doStart()
{
    if (m_started || m_finished)
        return;
    m_started = true;
    if (!m_stream) {
        finish("no stream to run on");
        return;
    }
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_running = true;
        m_writeScheduled = true;  // the maybeWrite() below
    }
    m_monitor.restart();
    applyTcpOptions();
    readSome();
    maybeWrite();
    armTimer();
}

void Link::trust()
{
    m_untrusted = false;
    m_decoder.setLimits(m_options.receiveLimits);
    m_maxReadChunk = std::max<size_t>(m_options.readChunk, 1);
}

size_t Link::queuedBytes() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_queuedBytes;
}

bool Link::roomLocked(size_t bytes) const
{
    return m_options.maxQueuedBytes == 0 || m_queuedBytes + bytes <= m_options.maxQueuedBytes;
}

void Link::overflow()
{
    abort("the peer does not read what is sent to it: more than " + std::to_string(m_options.maxQueuedBytes) +
          " bytes wait for it");
}

// Strand: the batch in flight has been written.
void Link::written()
{
    bool resume = false;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_queuedBytes -= std::min(m_queuedBytes, m_inflightOwnBytes);
        m_inflightOwnBytes = 0;
        resume = m_readPaused && m_queuedBytes <= m_options.pauseReadingAbove;
    }
    if (resume) {
        m_readPaused = false;
        if (!m_readHeld)
            readSome();
    }
}

void Link::resumeReading()
{
    asio::post(m_strand, [self = shared_from_this()] {
        if (!self->m_readHeld || self->m_finished)
            return;
        self->m_readHeld = false;
        // The silence rule counts from now: nothing was read while held.
        self->m_monitor.onFrameReceived();
        if (!self->m_readPaused)
            self->readSome();
    });
}

bool Link::closed() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_closing;
}

uint64_t Link::framesWritten() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_framesWritten;
}

uint64_t Link::writesMade() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_writes;
}

// Caller holds m_mutex. True when the caller must post maybeWrite().
bool Link::scheduleWriteLocked()
{
    m_kicked = true;
    if (!m_running || m_writeScheduled)
        return false;
    m_writeScheduled = true;
    return true;
}

void Link::postMaybeWrite()
{
    // Queued by a handler of this link's read (a reply, say): the read writes it before
    // it reads again, without a handler of its own.
    if (m_strand.running_in_this_thread() && m_inRead) {
        m_flushAfterRead = true;
        return;
    }
    // Deferred, not posted: called from an I/O thread (a handler answering a frame)
    // the write runs on this thread once the handler returns instead of waking the
    // other thread for it; from any other thread defer is a plain post.
    asio::defer(m_strand, [self = shared_from_this()] { self->maybeWrite(); });
}

// Caller holds m_mutex.
Status Link::encodeLocked(const wire::FrameHeader& header, const IMessage& message, bool& full, bool& post)
{
    full = false;
    post = false;
    if (m_closing)
        return Status::error("the connection is closed");
    const size_t before = m_pending.bytes.size();
    Status st = wire::encodeFrame(header, message, m_pending.bytes, m_options.sendLimits);
    if (!st.ok())
        return st;
    const size_t added = m_pending.bytes.size() - before;
    if (!roomLocked(added)) {
        m_pending.bytes.resize(before);
        full = true;
        return Status::error("the peer does not read what is sent to it");
    }
    m_queuedBytes += added;
    appendBytesPieceLocked(before, added);
    post = scheduleWriteLocked();
    return Status();
}

Status Link::sendMessage(const wire::FrameHeader& header, const IMessage& message)
{
    bool full = false;
    bool post = false;
    Status st;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        st = encodeLocked(header, message, full, post);
    }
    if (full)
        overflow();
    if (post)
        postMaybeWrite();
    return st;
}

Status Link::sendBytes(const uint8_t* data, size_t size)
{
    if (!data || size == 0)
        return Status::error("an empty frame");
    bool post = false;
    bool full = false;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_closing)
            return Status::error("the connection is closed");
        if (!roomLocked(size)) {
            full = true;
        } else {
            const size_t before = m_pending.bytes.size();
            m_queuedBytes += size;
            m_pending.bytes.insert(m_pending.bytes.end(), data, data + size);
            appendBytesPieceLocked(before, size);
            post = scheduleWriteLocked();
        }
    }
    if (full) {
        overflow();
        return Status::error("the peer does not read what is sent to it");
    }
    if (post)
        postMaybeWrite();
    return Status();
}

Status Link::sendFrame(SharedFrame frame)
{
    if (!frame || frame->empty())
        return Status::error("an empty frame");
    bool post = false;
    bool full = false;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_closing)
            return Status::error("the connection is closed");
        if (!roomLocked(frame->size())) {
            full = true;
        } else {
            m_queuedBytes += frame->size();
            Piece piece;
            piece.size = frame->size();
            piece.shared = std::move(frame);
            m_pending.pieces.push_back(std::move(piece));
            ++m_pending.frames;
            post = scheduleWriteLocked();
        }
    }
    if (full) {
        overflow();
        return Status::error("the peer does not read what is sent to it");
    }
    if (post)
        postMaybeWrite();
    return Status();
}

// Consecutive copied frames share one buffer entry, so a stream of small frames
// leaves as a few large writes.
void Link::appendBytesPieceLocked(size_t offset, size_t size)
{
    ++m_pending.frames;
    if (!m_pending.pieces.empty()) {
        Piece& last = m_pending.pieces.back();
        if (!last.shared && last.offset + last.size == offset) {
            last.size += size;
            return;
        }
    }
    Piece piece;
    piece.offset = offset;
    piece.size = size;
    m_pending.pieces.push_back(std::move(piece));
}

void Link::kick()
{
    bool post = false;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_closing && !m_drainingFlag)
            return;
        post = scheduleWriteLocked();
    }
    if (post)
        postMaybeWrite();
}

void Link::maybeWrite()
{
    // Plain TCP takes most batches at once; a few in a row at most, so a busy sender
    // does not keep this thread from its reads and timers.
    for (int round = 0; !m_writing && !m_finished; ++round) {
        if (round == kMaxWritesInline) {
            asio::defer(m_strand, [self = shared_from_this()] { self->maybeWrite(); });
            return;
        }
        if (!gatherBatch())
            return;
        if (!writeBatch())
            return;
    }
}

// Pulled frames join the batch in flight. Small ones are copied next to the queued
// bytes: one large buffer makes one TLS record and one system call where hundreds of
// small ones would not.
class Link::BatchSink final : public FrameSink {
public:
    explicit BatchSink(WriteBatch& batch) : m_batch(batch) {}
    void addCopy(const uint8_t* data, size_t size) override
    {
        if (size == 0)
            return;
        ++m_batch.frames;
        const size_t offset = m_batch.bytes.size();
        m_batch.bytes.insert(m_batch.bytes.end(), data, data + size);
        if (!m_batch.pieces.empty() && !m_batch.pieces.back().shared &&
            m_batch.pieces.back().offset + m_batch.pieces.back().size == offset) {
            m_batch.pieces.back().size += size;
            return;
        }
        Piece piece;
        piece.offset = offset;
        piece.size = size;
        m_batch.pieces.push_back(std::move(piece));
    }
    void addShared(const SharedFrame& frame) override
    {
        if (!frame || frame->empty())
            return;
        if (frame->size() <= kCopyBelow) {
            addCopy(frame->data(), frame->size());
            return;
        }
        ++m_batch.frames;
        Piece piece;
        piece.size = frame->size();
        piece.shared = frame;
        m_batch.pieces.push_back(std::move(piece));
    }

private:
    WriteBatch& m_batch;
};

bool Link::gatherBatch()
{
    auto h = handler();
    for (;;) {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_kicked = false;
            std::swap(m_inflight, m_pending);
            m_inflightOwnBytes = m_queuedBytes;
            m_testAnswerQueued = false;
        }
        if (h) {
            const size_t used = m_inflight.bytes.size();
            const size_t budget = used < m_options.maxWriteBytes ? m_options.maxWriteBytes - used : 0;
            if (budget > 0 || m_inflight.pieces.empty()) {
                try {
                    BatchSink sink(m_inflight);
                    h->takeFrames(sink, std::max<size_t>(budget, 1));
                } catch (const std::exception& e) {
                    finish(std::string("the connection's owner failed: ") + e.what());
                    return false;
                } catch (...) {
                    finish("the connection's owner failed");
                    return false;
                }
                if (m_finished)
                    return false;
            }
        }
        if (!m_inflight.pieces.empty())
            break;
        bool idle = false;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            if (m_pending.pieces.empty() && !m_kicked) {
                m_writeScheduled = false;
                idle = true;
            }
        }
        if (idle) {
            if (m_draining)
                drained();
            return false;
        }
    }

    m_batchFrames = m_inflight.frames;
    m_buffers.clear();
    for (const Piece& p : m_inflight.pieces) {
        if (p.shared)
            m_buffers.emplace_back(p.shared->data(), p.size);
        else
            m_buffers.emplace_back(m_inflight.bytes.data() + p.offset, p.size);
    }
    return true;
}

bool Link::writeBatch()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_framesWritten += m_batchFrames;
        ++m_writes;
    }
    m_monitor.onFrameSent();
    if (m_stream->canWriteNow()) {
        asio::error_code ec;
        size_t n = m_stream->writeNow(m_buffers, ec);
        if (ec && ec != asio::error::would_block && ec != asio::error::try_again) {
            finish("write failed: " + describe(ec));
            return false;
        }
        // What the socket did not take goes by an async write.
        auto it = m_buffers.begin();
        while (it != m_buffers.end() && n >= it->size()) {
            n -= it->size();
            ++it;
        }
        if (it == m_buffers.end()) {
            m_inflight.clear();
            m_buffers.clear();
            written();
            return !m_finished;
        }
        *it += n;
        m_buffers.erase(m_buffers.begin(), it);
    }
    m_writing = true;
    m_stream->asyncWrite(m_buffers, onStrand(m_strand, [self = shared_from_this()](
                                                             const asio::error_code& ec, size_t n) {
                             self->onWritten(ec, n);
                         }));
    return false;
}

void Link::onWritten(const asio::error_code& ec, size_t)
{
    m_writing = false;
    m_inflight.clear();
    m_buffers.clear();
    if (m_finished)
        return;
    if (ec) {
        finish("write failed: " + describe(ec));
        return;
    }
    written();
    maybeWrite();
}

void Link::readSome()
{
    if (m_finished || m_reading)
        return;
    uint8_t* p = m_decoder.prepare(m_readChunk);
    m_reading = true;
    m_stream->asyncReadSome(asio::buffer(p, m_readChunk),
                            onStrand(m_strand, [self = shared_from_this()](const asio::error_code& ec,
                                                                                        size_t n) {
                                self->onRead(ec, n);
                            }));
}

void Link::onRead(const asio::error_code& ec, size_t n)
{
    m_reading = false;
    if (m_finished)
        return;
    if (ec) {
        if (m_draining)
            finish(m_closeReason);
        else if (ec == asio::error::eof)
            finish("peer closed the connection");
        else
            finish("read failed: " + describe(ec));
        return;
    }
    m_decoder.commit(n);
    if (n == m_readChunk && m_readChunk < m_maxReadChunk)
        m_readChunk = std::min(m_readChunk * 2, m_maxReadChunk);
    m_monitor.onFrameReceived();

    auto h = handler();
    if (!h && !m_draining) {
        finish("the connection's owner is gone");
        return;
    }
    m_inRead = true;
    size_t sinceAckCheck = 0;
    for (;;) {
        std::optional<wire::Frame> frame;
        Status st = m_decoder.next(frame);
        if (!st.ok()) {
            finish("protocol error: " + st.reason());
            return;
        }
        if (!frame)
            break;
        if (m_draining || stopDelivering())
            continue;  // closing: frames are read only to reach the peer's EOF
        if (frame->header.kind == wire::FrameKind::Admin && frame->message &&
            admin::adminTypeOf(*frame->message) == admin::AdminType::kTestRequest) {
            // Before the logon, one answer at a time: a peer that sends TestRequests
            // and reads nothing gets no more than one answer queued.
            bool answer = true;
            if (m_untrusted) {
                std::lock_guard<std::mutex> lock(m_mutex);
                answer = !m_testAnswerQueued;
                m_testAnswerQueued = true;
            }
            const char* id = frame->message->getValue(IFixDefs::FLDTAG_TESTREQID);
            if (answer)
                sendAdmin(admin::MSGTYPE_HEARTBEAT, id ? id : "");
        }
        try {
            h->onFrame(*this, std::move(*frame));
        } catch (const std::exception& e) {
            finish(std::string("the connection's owner failed: ") + e.what());
            return;
        } catch (...) {
            finish("the connection's owner failed");
            return;
        }
        if (m_finished)
            return;
        // A chunk of small frames holds thousands: acknowledge within it too, so the
        // sender's journal never waits for the end of a long read.
        if (++sinceAckCheck == kAckCheckEvery) {
            sinceAckCheck = 0;
            bool due = false;
            try {
                due = h->bareAckDue();
            } catch (...) {
            }
            if (due)
                sendAdmin(admin::MSGTYPE_HEARTBEAT, "");
        }
    }
    if (!m_draining && !stopDelivering() && h) {
        bool due = false;
        try {
            due = h->bareAckDue();
        } catch (...) {
        }
        if (due)
            sendAdmin(admin::MSGTYPE_HEARTBEAT, "");
        armTimer();
    }
    m_inRead = false;
    if (m_flushAfterRead) {
        m_flushAfterRead = false;
        maybeWrite();
        if (m_finished)
            return;
    }
    if (m_options.pauseReadingAbove != 0 && queuedBytes() > m_options.pauseReadingAbove) {
        // The peer sends faster than it reads what that makes us send: read again once
        // the queue has been written (written()).
        m_readPaused = true;
    }
    if (!m_draining && h) {
        bool hold = false;
        try {
            hold = h->holdReading();
        } catch (...) {
        }
        // The consumer of the frames is behind: read again at resumeReading().
        if (hold)
            m_readHeld = true;
    }
    if (m_readPaused || m_readHeld)
        return;
    readSome();
}

bool Link::stopDelivering() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_closing;
}

void Link::sendAdmin(const char* msgType, const std::string& testReqId)
{
    auto h = handler();
    wire::FrameHeader header;
    header.kind = wire::FrameKind::Admin;
    header.channel = IFixDefs::CHANNEL_TRADING_DATA;
    header.sequence = 0;
    header.lastReceived = 0;
    if (h) {
        try {
            header.lastReceived = h->currentLastReceived();
        } catch (...) {
        }
    }
    std::unique_ptr<FieldGroup> message;
    if (admin::adminTypeOf(msgType) == admin::AdminType::kTestRequest)
        message = admin::build(admin::TestRequest{testReqId});
    else
        message = admin::build(admin::Heartbeat{testReqId});
    bool full = false;
    bool post = false;
    Status st;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        st = encodeLocked(header, *message, full, post);
    }
    if (full) {
        overflow();
        return;
    }
    if (!st.ok())
        return;
    if (h) {
        try {
            h->onAckSent();
        } catch (...) {
        }
    }
    if (post)
        postMaybeWrite();
}

void Link::armTimer()
{
    if (m_finished)
        return;
    const TimePoint now = m_clock.now();
    Duration wait;
    if (m_draining) {
        const auto left = m_drainDeadline - std::chrono::steady_clock::now();
        wait = std::max(Duration::zero(), std::chrono::duration_cast<Duration>(left));
    } else {
        TimePoint deadline = m_monitor.nextDeadline();
        if (auto h = handler()) {
            try {
                if (auto ack = h->ackDeadline())
                    deadline = std::min(deadline, *ack);
            } catch (...) {
            }
        }
        wait = std::max(Duration::zero(), deadline - now);
    }
    const auto realDeadline = std::chrono::steady_clock::now() + wait;
    // A timer already due sooner fires first and re-arms; one due later is moved up.
    if (m_timerArmed && m_timerDeadline <= realDeadline)
        return;
    m_timerArmed = true;
    m_timerDeadline = realDeadline;
    const uint64_t generation = ++m_timerGeneration;
    m_timer.expires_at(realDeadline);
    m_timer.async_wait(asio::bind_executor(m_strand, [self = shared_from_this(), generation](const asio::error_code&) {
        if (generation != self->m_timerGeneration || self->m_finished)
            return;
        self->m_timerArmed = false;
        self->evaluateTimers();
        self->armTimer();
    }));
}

void Link::evaluateTimers()
{
    if (m_finished)
        return;
    if (m_draining) {
        if (std::chrono::steady_clock::now() >= m_drainDeadline)
            finish(m_closeReason);
        return;
    }
    // Not reading is this side's own choice while held: silence then says nothing
    // about the peer, whose frames wait unread.
    if (m_readHeld)
        m_monitor.onFrameReceived();
    bool heartbeatSent = false;
    switch (m_monitor.poll()) {
    case HeartbeatAction::kNone:
        break;
    case HeartbeatAction::kSendHeartbeat:
        sendAdmin(admin::MSGTYPE_HEARTBEAT, "");
        heartbeatSent = true;
        break;
    case HeartbeatAction::kSendTestRequest:
        sendAdmin(admin::MSGTYPE_TESTREQUEST, "T" + std::to_string(++m_testReqCounter));
        heartbeatSent = true;
        break;
    case HeartbeatAction::kDead:
        finish("no frame received for 2.5 heart-beat intervals");
        return;
    }
    if (!heartbeatSent) {
        if (auto h = handler()) {
            bool due = false;
            try {
                due = h->bareAckDue();
            } catch (...) {
            }
            if (due)
                sendAdmin(admin::MSGTYPE_HEARTBEAT, "");
        }
    }
}

void Link::poke()
{
    asio::post(m_strand, [self = shared_from_this()] {
        if (!self->m_started || self->m_finished)
            return;
        self->evaluateTimers();
        self->armTimer();
    });
}

void Link::setHeartbeatInterval(Duration interval)
{
    asio::post(m_strand, [self = shared_from_this(), interval] {
        if (self->m_finished)
            return;
        self->m_monitor.setInterval(interval);
        if (self->m_started) {
            self->applyTcpOptions();
            self->armTimer();
        }
    });
}

void Link::applyTcpOptions()
{
    if (!m_options.setTcpOptions || !m_stream)
        return;
    auto& socket = m_stream->socket();
    if (!socket.is_open())
        return;
    asio::error_code ignored;
    socket.set_option(asio::ip::tcp::no_delay(true), ignored);
    socket.set_option(asio::socket_base::keep_alive(true), ignored);
    const int fd = socket.native_handle();
    const auto interval = m_monitor.interval();
    const int idleS = static_cast<int>(std::max<int64_t>(1, std::chrono::duration_cast<std::chrono::seconds>(interval).count()));
    const int countProbes = 3;
    ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPIDLE, &idleS, sizeof idleS);
    ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPINTVL, &idleS, sizeof idleS);
    ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPCNT, &countProbes, sizeof countProbes);
    const auto userTimeout = std::max<Duration>((interval * 5) / 2, m_options.minUserTimeout);
    const unsigned int ms =
        static_cast<unsigned int>(std::chrono::duration_cast<std::chrono::milliseconds>(userTimeout).count());
    ::setsockopt(fd, IPPROTO_TCP, TCP_USER_TIMEOUT, &ms, sizeof ms);
}

void Link::close(std::string reason)
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_closing)
            return;
        m_closing = true;
        m_drainingFlag = true;
    }
    asio::post(m_strand, [self = shared_from_this(), reason = std::move(reason)]() mutable {
        if (self->m_finished || self->m_draining)
            return;
        if (!self->m_started) {
            self->finish(std::move(reason));
            return;
        }
        self->m_draining = true;
        self->m_closeReason = std::move(reason);
        self->m_drainDeadline =
            std::chrono::steady_clock::now() +
            std::max<std::chrono::steady_clock::duration>(
                std::chrono::duration_cast<std::chrono::steady_clock::duration>(self->m_monitor.interval()),
                kMinDrain);
        self->m_timerArmed = false;  // re-arm for the drain deadline
        ++self->m_timerGeneration;
        self->armTimer();
        {
            std::lock_guard<std::mutex> lock(self->m_mutex);
            self->m_writeScheduled = true;
        }
        self->maybeWrite();
    });
}

// Everything queued has been written: half-close, and wait (bounded) for the peer's
// EOF so that it reads the last frames before the connection goes.
void Link::drained()
{
    if (m_halfClosed)
        return;
    m_halfClosed = true;
    asio::error_code ignored;
    m_stream->socket().shutdown(asio::ip::tcp::socket::shutdown_send, ignored);
    m_readHeld = false;  // what is read now is dropped: nothing waits for a consumer
    if (!m_reading)
        readSome();
}

void Link::abort(std::string reason)
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_closing = true;
        m_drainingFlag = false;
    }
    asio::post(m_strand, [self = shared_from_this(), reason = std::move(reason)]() mutable {
        self->finish(std::move(reason));
    });
}

void Link::finish(std::string reason)
{
    if (m_finished)
        return;
    m_finished = true;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_closing = true;
        m_running = false;
        m_pending.clear();
        m_queuedBytes = 0;
        m_inflightOwnBytes = 0;
    }
    ++m_timerGeneration;
    m_timer.cancel();
    if (m_stream)
        m_stream->close();
    auto h = handler();
    m_handler.reset();
    if (h) {
        try {
            h->onClosed(*this, reason);
        } catch (...) {
        }
    }
}

} // namespace detail
} // namespace merrow
