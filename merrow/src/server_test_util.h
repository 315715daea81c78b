#pragma once
// Test helpers for the link and server tests: I/O threads, a recording link handler,
// a blocking raw peer with receive timeouts, and frame helpers. Header-only, for tests.

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <future>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <asio.hpp>

#include "admin_protocol.h"
#include "byte_stream.h"
#include "frame_codec.h"
#include "link.h"

namespace merrow {
namespace testing_util {

using namespace std::chrono_literals;
using Fx = IFixDefs;

constexpr auto kWait = std::chrono::seconds(20);

class IoThreads {
public:
    explicit IoThreads(int n = 2) : m_work(asio::make_work_guard(io))
    {
        for (int i = 0; i < n; ++i)
            m_threads.emplace_back([this] { io.run(); });
    }
    ~IoThreads() { stop(); }
    void stop()
    {
        m_work.reset();
        io.stop();
        for (auto& t : m_threads)
            if (t.joinable())
                t.join();
        m_threads.clear();
    }
    asio::io_context io;

private:
    asio::executor_work_guard<asio::io_context::executor_type> m_work;
    std::vector<std::thread> m_threads;
};

// A connected pair of loopback sockets on io.
inline std::pair<asio::ip::tcp::socket, asio::ip::tcp::socket> socketPair(asio::io_context& io)
{
    asio::ip::tcp::acceptor acceptor(io, asio::ip::tcp::endpoint(asio::ip::address_v4::loopback(), 0));
    asio::ip::tcp::socket a(io), b(io);
    a.connect(acceptor.local_endpoint());
    acceptor.accept(b);
    return {std::move(a), std::move(b)};
}

// Runs nothing until everything posted to the strand before it has run.
inline void syncStrand(const detail::Strand& strand)
{
    std::promise<void> done;
    asio::post(strand, [&] { done.set_value(); });
    done.get_future().wait();
}

inline std::unique_ptr<FieldGroup> appMessage(const char* type, int64_t n, size_t textBytes = 0)
{
    auto m = std::make_unique<FieldGroup>();
    m->setMsgType(type);
    m->setIntValue(Fx::FLDTAG_QORACOMMANDID, n);
    if (textBytes)
        m->setValue(Fx::FLDTAG_TEXT, std::string(textBytes, 'x').c_str());
    return m;
}

inline wire::FrameHeader adminHeader(uint64_t lastReceived = 0)
{
    wire::FrameHeader h;
    h.kind = wire::FrameKind::Admin;
    h.lastReceived = lastReceived;
    return h;
}

inline wire::FrameHeader appHeader(int channel, uint64_t sequence, uint64_t lastReceived = 0)
{
    wire::FrameHeader h;
    h.kind = wire::FrameKind::Application;
    h.channel = static_cast<uint8_t>(channel);
    h.sequence = sequence;
    h.lastReceived = lastReceived;
    return h;
}

inline std::vector<uint8_t> encode(const wire::FrameHeader& h, const IMessage& m)
{
    std::vector<uint8_t> out;
    EXPECT_TRUE(wire::encodeFrame(h, m, out).ok());
    return out;
}

// A frame as the tests keep it.
struct Got {
    wire::FrameHeader header;
    std::string type;
    std::unique_ptr<FieldGroup> message;
};

// Records what a link hands it; waits are bounded.
class RecordingHandler : public detail::LinkHandler {
public:
    void onFrame(detail::Link&, wire::Frame frame) override
    {
        if (onFrameHook)
            onFrameHook(frame);
        std::lock_guard<std::mutex> lock(m_mutex);
        Got g;
        g.header = frame.header;
        g.type = frame.message->getMsgType();
        g.message = std::move(frame.message);
        m_frames.push_back(std::move(g));
        m_cv.notify_all();
    }
    void onClosed(detail::Link&, const std::string& reason) override
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_closed = true;
        m_reason = reason;
        ++m_closedCount;
        m_cv.notify_all();
    }

    bool waitFrames(size_t n)
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        return m_cv.wait_for(lock, kWait, [&] { return m_frames.size() >= n; });
    }
    bool waitClosed()
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        return m_cv.wait_for(lock, kWait, [&] { return m_closed; });
    }
    template <class Pred>
    bool waitUntil(Pred pred)
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        return m_cv.wait_for(lock, kWait, [&] { return pred(m_frames); });
    }
    size_t count(const char* type) const
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        size_t n = 0;
        for (const auto& g : m_frames)
            n += g.type == type;
        return n;
    }
    size_t size() const
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_frames.size();
    }
    bool closed() const
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_closed;
    }
    std::string reason() const
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_reason;
    }
    int closedCount() const
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_closedCount;
    }
    // The application frames' FLDTAG_QORACOMMANDID values, in arrival order.
    std::vector<int64_t> numbers() const
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        std::vector<int64_t> out;
        for (const auto& g : m_frames)
            if (g.header.kind == wire::FrameKind::Application)
                out.push_back(g.message->getIntValue(Fx::FLDTAG_QORACOMMANDID));
        return out;
    }

    std::function<void(wire::Frame&)> onFrameHook;

protected:
    mutable std::mutex m_mutex;
    std::condition_variable m_cv;
    std::vector<Got> m_frames;
    bool m_closed = false;
    int m_closedCount = 0;
    std::string m_reason;
};

// Polls a condition for up to 10 s (state that has no notification of its own).
template <class Pred>
bool eventuallyTrue(Pred pred)
{
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (std::chrono::steady_clock::now() < end) {
        if (pred())
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return pred();
}

// A blocking peer on a raw file descriptor, with a receive timeout so that a failing
// test ends instead of hanging.
class RawPeer {
public:
    explicit RawPeer(asio::ip::tcp::socket socket) : m_fd(socket.release())
    {
        timeval tv{};
        tv.tv_sec = 20;
        ::setsockopt(m_fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    }
    // Connects to 127.0.0.1:port; a receive buffer size > 0 is set before connecting.
    static RawPeer connect(asio::io_context& io, uint16_t port, int receiveBuffer = 0)
    {
        asio::ip::tcp::socket s(io);
        s.open(asio::ip::tcp::v4());
        if (receiveBuffer > 0)
            s.set_option(asio::socket_base::receive_buffer_size(receiveBuffer));
        s.connect(asio::ip::tcp::endpoint(asio::ip::address_v4::loopback(), port));
        s.set_option(asio::ip::tcp::no_delay(true));
        return RawPeer(std::move(s));
    }
    RawPeer(RawPeer&& o) noexcept : m_fd(o.m_fd), m_decoder(), m_lastReceived(o.m_lastReceived)
    {
        o.m_fd = -1;
    }
    RawPeer(const RawPeer&) = delete;
    ~RawPeer() { closeNow(); }

    void closeNow()
    {
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = -1;
    }
    void shutdownWrite() { ::shutdown(m_fd, SHUT_WR); }

    bool writeBytes(const std::vector<uint8_t>& bytes)
    {
        size_t off = 0;
        while (off < bytes.size()) {
            const ssize_t n = ::send(m_fd, bytes.data() + off, bytes.size() - off, MSG_NOSIGNAL);
            if (n <= 0)
                return false;
            off += static_cast<size_t>(n);
        }
        return true;
    }
    bool write(const wire::FrameHeader& h, const IMessage& m) { return writeBytes(encode(h, m)); }

    // The next frame, or none on timeout, EOF or a protocol error (eof() tells).
    std::optional<wire::Frame> read()
    {
        for (;;) {
            std::optional<wire::Frame> f;
            if (!m_decoder.next(f).ok())
                return std::nullopt;
            if (f)
                return f;
            uint8_t* p = m_decoder.prepare(65536);
            const ssize_t n = ::recv(m_fd, p, 65536, 0);
            if (n <= 0) {
                m_decoder.commit(0);
                m_eof = n == 0;
                return std::nullopt;
            }
            m_decoder.commit(static_cast<size_t>(n));
        }
    }
    // Skips frames until one of the admin type (or any application frame when type is
    // null) arrives.
    std::optional<wire::Frame> readUntil(const char* type)
    {
        for (;;) {
            auto f = read();
            if (!f)
                return f;
            if (type == nullptr ? f->header.kind == wire::FrameKind::Application
                                : std::string(f->message->getMsgType()) == type)
                return f;
        }
    }
    bool eof() const { return m_eof; }
    int fd() const { return m_fd; }
    void setReceiveTimeout(std::chrono::milliseconds timeout)
    {
        timeval tv{};
        tv.tv_sec = static_cast<time_t>(timeout.count() / 1000);
        tv.tv_usec = static_cast<suseconds_t>((timeout.count() % 1000) * 1000);
        ::setsockopt(m_fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    }
    // Writes what the socket takes now, without waiting: the bytes taken.
    size_t writeSome(const uint8_t* data, size_t size)
    {
        const ssize_t n = ::send(m_fd, data, size, MSG_NOSIGNAL | MSG_DONTWAIT);
        return n > 0 ? static_cast<size_t>(n) : 0;
    }

private:
    int m_fd;
    wire::FrameDecoder m_decoder;
    uint64_t m_lastReceived = 0;
    bool m_eof = false;
};

} // namespace testing_util
} // namespace merrow
